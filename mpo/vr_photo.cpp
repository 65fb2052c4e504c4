#include "mpo/vr_photo.h"

#include <cstring>
#include <new>

#include "image/jpeg_markers.h"
#include "mpo/frame_header.h"
#include "mpo/xmp_vr.h"

namespace mpo {

namespace {

// One marker segment of the header: its code and where its bytes lie
// (from its marker, fill bytes before the code included, to its end).
struct Segment {
  int code = 0;
  size_t start = 0;
  size_t payload = 0;  // after the length field
  size_t end = 0;
};

// The segment at `at` (an 0xFF); false when there is none or it runs past
// the end. A scan runs to the end of the bytes.
bool segment_at(std::span<const uint8_t> b, size_t at, Segment& s) {
  size_t p = at;
  while (p < b.size() && b[p] == jpeg::kMarkerPrefix) ++p;
  if (p == at || p >= b.size() || b[p] == 0) return false;
  s.code = b[p];
  s.start = at;
  // Markers without a segment: TEM and the restart markers.
  if (s.code == 0x01 || (s.code >= 0xD0 && s.code <= 0xD7)) {
    s.payload = s.end = p + 1;
    return true;
  }
  if (p + 2 >= b.size()) return false;
  const size_t length = static_cast<size_t>(jpeg::read_be16(&b[p + 1]));
  s.payload = p + 3;
  s.end = s.code == jpeg::kSOS ? b.size() : p + 1 + length;
  return length >= 2 && p + 1 + length <= b.size();
}

// Its payload begins with `header` (with its terminating zero byte).
template <size_t N>
bool opens_with(std::span<const uint8_t> b, const Segment& s, const char (&header)[N]) {
  return s.end - s.payload >= N && std::memcmp(&b[s.payload], header, N) == 0;
}

bool is_exif(std::span<const uint8_t> b, const Segment& s) {
  return s.code == jpeg::kAPP1 && opens_with(b, s, "Exif\0");
}

// Segments left out of the VR photo: the MP index and XMP of the view.
bool left_out(std::span<const uint8_t> b, const Segment& s) {
  if (s.code == jpeg::kAPP2) return opens_with(b, s, "MPF");
  return s.code == jpeg::kAPP1 &&
         (opens_with(b, s, kXmpHeader) || opens_with(b, s, kExtendedXmpHeader));
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
  for (size_t at = 2;;) {
    Segment s;
    if (!segment_at(left, at, s)) return false;
    if (!inserted && s.code != jpeg::kAPP0 && !is_exif(left, s)) {
      if (!put_vr_xmp_segments(crop, right, out)) {
        no_memory = true;
        return false;
      }
      inserted = true;
    }
    if (!left_out(left, s)) out.insert(out.end(), left.begin() + s.start, left.begin() + s.end);
    if (s.code == jpeg::kSOS) return true;
    at = s.end;
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
