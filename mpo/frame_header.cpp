#include "mpo/frame_header.h"

#include <algorithm>

#include "image/jpeg_markers.h"

namespace mpo {

namespace {

constexpr uint8_t kDHT = 0xC4;
constexpr uint8_t kJPG = 0xC8;
constexpr uint8_t kDAC = 0xCC;
constexpr uint8_t kTEM = 0x01;

// The next marker code from `at` on, as the decoder reads one: bytes before
// an 0xFF are skipped, fill bytes 0xFF too, and FF 00 is no marker. -1 at
// the end of the stream.
int next_marker(const uint8_t* b, int64_t size, int64_t& at) {
  for (;;) {
    while (at < size && b[at] != jpeg::kMarkerPrefix) ++at;
    while (at < size && b[at] == jpeg::kMarkerPrefix) ++at;
    if (at >= size) return -1;
    const int code = b[at++];
    if (code != 0) return code;
  }
}

bool is_frame_marker(int code) {
  return code >= 0xC0 && code <= 0xCF && code != kDHT && code != kJPG && code != kDAC;
}

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

// The frame header segment at `s` (its length field on; `length` bytes
// present): size, components and, for a progressive frame, the bytes of
// its whole coefficient array (64 two-byte values per 8 x 8 block, each
// component's blocks rounded up to whole MCUs).
FrameHeader parse_frame(const uint8_t* s, int64_t length, int code) {
  FrameHeader h;
  if (length < 8) return h;
  h.precision = s[2];
  h.height = jpeg::read_be16(s + 3);
  h.width = jpeg::read_be16(s + 5);
  h.components = s[7];
  h.progressive = code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
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
  std::optional<FrameHeader> frame;
  int64_t at = 2;
  for (;;) {
    const int code = next_marker(bytes, size, at);
    if (code < 0 || code == jpeg::kEOI || code == jpeg::kSOI) return std::nullopt;
    if ((code >= 0xD0 && code <= 0xD7) || code == kTEM) continue;  // no segment
    if (at + 2 > size) return std::nullopt;
    if (code == jpeg::kSOS) {
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
    if (is_frame_marker(code) && !frame) frame = parse_frame(bytes + at, length, code);
    at += length;
  }
}

}  // namespace mpo
