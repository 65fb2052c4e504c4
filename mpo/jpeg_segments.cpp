#include "mpo/jpeg_segments.h"

#include <algorithm>
#include <cstring>

#include "image/jpeg_markers.h"

namespace mpo {

namespace {

int64_t size_of(std::span<const uint8_t> bytes) { return static_cast<int64_t>(bytes.size()); }

bool has_signature(std::span<const uint8_t> jpeg, const HeaderSegment& s, uint8_t code,
                   const char* signature, int64_t n) {
  return s.code == code && s.end - s.payload() >= n &&
         std::memcmp(jpeg.data() + s.payload(), signature, static_cast<size_t>(n)) == 0;
}

// How far a walk of a header got.
enum class HeaderWalk { jpeg, not_jpeg, cut_short };

// Whether the bytes end before the segment at `pos` does, so that longer
// bytes might still hold it.
bool runs_past_end(std::span<const uint8_t> jpeg, int64_t pos) {
  const int64_t n = size_of(jpeg);
  int64_t at = pos;
  while (at < n && jpeg[at] == jpeg::kMarkerPrefix) ++at;
  if (at >= n) return true;  // nothing but fill bytes left
  const auto marker = next_marker(jpeg, pos, Walk::header);
  if (!marker || jpeg::has_no_length(marker->code)) return false;
  return marker->next + 2 > n || jpeg::read_be16(jpeg.data() + marker->next) >= 2;
}

// Walks from SOI to the first scan. cut_short when the bytes end (or a
// segment runs past them) before the walk could tell.
HeaderWalk walk_header(std::span<const uint8_t> jpeg, JpegHeader& header) {
  static const uint8_t kStart[3] = {jpeg::kMarkerPrefix, jpeg::kSOI, jpeg::kMarkerPrefix};
  const size_t start = std::min<size_t>(jpeg.size(), 3);
  if (start > 0 && std::memcmp(jpeg.data(), kStart, start) != 0) return HeaderWalk::not_jpeg;
  bool frame = false;
  int64_t pos = 2;
  for (;;) {
    const auto segment = next_segment(jpeg, pos);
    if (!segment) return runs_past_end(jpeg, pos) ? HeaderWalk::cut_short : HeaderWalk::not_jpeg;
    if (segment->code == jpeg::kSOS) {
      header.sos = segment->offset;
      return frame ? HeaderWalk::jpeg : HeaderWalk::not_jpeg;
    }
    frame = frame || jpeg::is_frame_header(segment->code);
    if (!header.exif && is_exif_segment(jpeg, *segment)) header.exif = segment;
    pos = segment->end;
  }
}

}  // namespace

std::optional<Marker> next_marker(std::span<const uint8_t> jpeg, int64_t at, Walk walk) {
  const int64_t n = size_of(jpeg);
  if (at < 0) return std::nullopt;
  for (;;) {
    if (walk == Walk::decoder)
      while (at < n && jpeg[at] != jpeg::kMarkerPrefix) ++at;
    if (at >= n || jpeg[at] != jpeg::kMarkerPrefix) return std::nullopt;
    while (at < n && jpeg[at] == jpeg::kMarkerPrefix) ++at;
    if (at >= n) return std::nullopt;
    const uint8_t code = jpeg[at++];
    if (code != jpeg::kStuffedZero) return Marker{code, at - 2, at};
    if (walk == Walk::header) return std::nullopt;
  }
}

std::optional<HeaderSegment> next_segment(std::span<const uint8_t> jpeg, int64_t pos) {
  const auto marker = next_marker(jpeg, pos, Walk::header);
  // Markers without a length (SOI, EOI, restarts, TEM) have no place among
  // header segments.
  if (!marker || jpeg::has_no_length(marker->code) || marker->next + 2 > size_of(jpeg))
    return std::nullopt;
  const int length = jpeg::read_be16(jpeg.data() + marker->next);
  if (length < 2 || length > size_of(jpeg) - marker->next) return std::nullopt;
  return HeaderSegment{marker->code, marker->offset, marker->next + length};
}

bool is_exif_segment(std::span<const uint8_t> jpeg, const HeaderSegment& segment) {
  return has_signature(jpeg, segment, jpeg::kAPP1, "Exif\0\0", 6);
}

bool is_mpf_segment(std::span<const uint8_t> jpeg, const HeaderSegment& segment) {
  return has_signature(jpeg, segment, jpeg::kAPP2, "MPF\0", 4);
}

std::optional<JpegHeader> read_jpeg_header(std::span<const uint8_t> jpeg) {
  JpegHeader header;
  if (walk_header(jpeg, header) != HeaderWalk::jpeg) return std::nullopt;
  return header;
}

bool may_begin_jpeg(std::span<const uint8_t> head) {
  JpegHeader header;
  return walk_header(head, header) != HeaderWalk::not_jpeg;
}

int64_t first_image_end(std::span<const uint8_t> jpeg) {
  int64_t at = 2;
  while (const auto marker = next_marker(jpeg, at, Walk::decoder)) {
    at = marker->next;
    if (marker->code == jpeg::kEOI) return at;
    if (jpeg::has_no_length(marker->code)) continue;
    if (at + 2 > size_of(jpeg)) break;
    // Tables and scan headers between scans: their bytes are no markers.
    at += jpeg::read_be16(jpeg.data() + at);
  }
  return size_of(jpeg);
}

std::optional<SegmentPlace> exif_segment_place(std::span<const uint8_t> head) {
  if (size_of(head) < kExifHeadBytes || jpeg::read_be16(head.data()) != jpeg::marker_word(jpeg::kSOI))
    return std::nullopt;
  // Only these two layouts count: the APP1 marker right behind SOI, or
  // behind a plain JFIF header (a longer one, with a thumbnail, may hold any
  // bytes where the APP1 would stand).
  const auto first = next_marker(head, 2, Walk::header);
  if (!first || first->offset != 2) return std::nullopt;
  int64_t start = 0;
  if (first->code == jpeg::kAPP1) {
    start = jpeg::kApp1LengthAtStart;
  } else if (first->code == jpeg::kAPP0 && jpeg::read_be16(head.data() + first->next) == jpeg::kPlainJfifLength) {
    const auto second = next_marker(head, jpeg::kApp1MarkerAfterJfif, Walk::header);
    if (!second || second->offset != jpeg::kApp1MarkerAfterJfif || second->code != jpeg::kAPP1) return std::nullopt;
    start = jpeg::kApp1LengthAfterJfif;
  } else {
    return std::nullopt;
  }
  const int length = jpeg::read_be16(head.data() + start);
  // A length below 2 cannot even hold its own length field.
  if (length < 2) return std::nullopt;
  return SegmentPlace{start, length};
}

}  // namespace mpo
