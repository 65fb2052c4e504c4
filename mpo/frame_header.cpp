#include "mpo/frame_header.h"

#include <algorithm>

#include "image/jpeg_markers.h"
#include "mpo/jpeg_segments.h"

namespace mpo {

namespace {

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

// The frame header segment at `s` (its length field on; `length` bytes
// present): size, components and, for a progressive frame, the bytes of
// its whole coefficient array (64 two-byte values per 8 x 8 block, each
// component's blocks rounded up to whole MCUs).
FrameHeader parse_frame(const uint8_t* s, int64_t length, uint8_t code) {
  FrameHeader h;
  if (length < 8) return h;
  h.precision = s[2];
  h.height = jpeg::read_be16(s + 3);
  h.width = jpeg::read_be16(s + 5);
  h.components = s[7];
  h.progressive = jpeg::is_progressive(code);
  if (length < 8 + 3 * int64_t{h.components}) return h;
  int max_h = 1, max_v = 1;
  for (int c = 0; c < h.components; ++c) {
    max_h = std::max(max_h, s[9 + 3 * c] >> 4);
    max_v = std::max(max_v, s[9 + 3 * c] & 15);
  }
  for (int c = 0; c < h.components; ++c) {
    const int hs = std::max(1, s[9 + 3 * c] >> 4), vs = std::max(1, s[9 + 3 * c] & 15);
    const int64_t across = ceil_div(ceil_div(h.width * hs, max_h), 8 * hs) * hs;
    const int64_t down = ceil_div(ceil_div(h.height * vs, max_v), 8 * vs) * vs;
    h.coefficient_bytes += across * down * 128;
  }
  return h;
}

}  // namespace

std::optional<FrameHeader> read_frame_header(const uint8_t* bytes, int64_t size) {
  if (bytes == nullptr || size < 4 || bytes[0] != jpeg::kMarkerPrefix || bytes[1] != jpeg::kSOI) {
    return std::nullopt;
  }
  const std::span<const uint8_t> stream(bytes, static_cast<size_t>(size));
  std::optional<FrameHeader> frame;
  int64_t at = 2;
  for (;;) {
    const auto marker = next_marker(stream, at, Walk::decoder);
    if (!marker || marker->code == jpeg::kEOI || marker->code == jpeg::kSOI) return std::nullopt;
    at = marker->next;
    if (jpeg::has_no_length(marker->code)) continue;  // restarts, TEM
    if (at + 2 > size) return std::nullopt;
    if (marker->code == jpeg::kSOS) {
      // The first scan tells whether the decoder keeps every coefficient:
      // it does when the scan holds fewer components than the frame.
      if (!frame) return std::nullopt;
      frame->multi_scan = at + 2 < size && bytes[at + 2] < frame->components;
      return frame;
    }
    const int64_t length = jpeg::read_be16(bytes + at);
    if (length < 2) {
      // The decoder skips no more than the length field of such a segment.
      at += 2;
      continue;
    }
    if (length > size - at) return std::nullopt;
    if (jpeg::is_frame_header(marker->code) && !frame) frame = parse_frame(bytes + at, length, marker->code);
    at += length;
  }
}

}  // namespace mpo
