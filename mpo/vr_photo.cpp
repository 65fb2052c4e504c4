#include "mpo/vr_photo.h"

#include <cstring>
#include <new>

#include "image/jpeg_markers.h"
#include "mpo/frame_header.h"
#include "mpo/jpeg_segments.h"
#include "mpo/xmp_vr.h"

namespace mpo {

namespace {

// Its payload begins with `header` (with its terminating zero byte).
template <size_t N>
bool opens_with(std::span<const uint8_t> b, const HeaderSegment& s, const char (&header)[N]) {
  return s.end - s.payload() >= static_cast<int64_t>(N) &&
         std::memcmp(b.data() + s.payload(), header, N) == 0;
}

// Segments left out of the VR photo: the MP index and XMP of the view.
bool left_out(std::span<const uint8_t> b, const HeaderSegment& s) {
  return is_mpf_segment(b, s) ||
         (s.code == jpeg::kAPP1 &&
          (opens_with(b, s, kXmpHeader) || opens_with(b, s, kExtendedXmpHeader)));
}

// Copies the left view's segments with the XMP for `crop` and `right`
// inserted; false when the header cannot be walked up to a scan or the
// XMP cannot be made (`no_memory` set then).
bool splice(std::span<const uint8_t> left, std::span<const uint8_t> right,
            const PanoramaCrop& crop, std::vector<uint8_t>& out, bool& no_memory) {
  if (left.size() < 4 || jpeg::read_be16(left.data()) != jpeg::marker_word(jpeg::kSOI))
    return false;
  out.insert(out.end(), left.begin(), left.begin() + 2);
  bool inserted = false;
  for (int64_t at = 2;;) {
    const auto segment = next_segment(left, at);
    if (!segment) return false;
    if (!inserted && segment->code != jpeg::kAPP0 && !is_exif_segment(left, *segment)) {
      if (!put_vr_xmp_segments(crop, right, out)) {
        no_memory = true;
        return false;
      }
      inserted = true;
    }
    // From the first scan on, everything as it is.
    const bool scan = segment->code == jpeg::kSOS;
    const auto stop = scan ? left.end() : left.begin() + segment->end;
    if (!left_out(left, *segment)) out.insert(out.end(), left.begin() + segment->offset, stop);
    if (scan) return true;
    at = segment->end;
  }
}

}  // namespace

VrPhoto make_vr_photo(std::span<const uint8_t> left, std::span<const uint8_t> right, int fov) {
  VrPhoto photo;
  const auto frame = read_frame_header(left.data(), static_cast<int64_t>(left.size()));
  if (!frame) {
    photo.refusal = VrRefusal::left_unreadable;
    return photo;
  }
  if (!read_frame_header(right.data(), static_cast<int64_t>(right.size()))) {
    photo.refusal = VrRefusal::right_unreadable;
    return photo;
  }
  bool no_memory = false;
  try {
    // The left view and the right one in base64 with the segments' headers.
    photo.jpeg.reserve(left.size() + right.size() / 3 * 4 + right.size() / 600 + (1 << 16));
    if (splice(left, right, panorama_crop(frame->width, frame->height, fov), photo.jpeg,
               no_memory))
      return photo;
    photo.refusal = no_memory ? VrRefusal::no_memory : VrRefusal::left_unreadable;
  } catch (const std::bad_alloc&) {
    photo.refusal = VrRefusal::no_memory;
  }
  photo.jpeg = {};
  return photo;
}

}  // namespace mpo
