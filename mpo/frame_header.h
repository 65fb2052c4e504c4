// The frame header of a JPEG stream, found the way the decoder finds it.
#pragma once

#include <cstdint>
#include <optional>

namespace mpo {

struct FrameHeader {
  int64_t width = 0;
  int64_t height = 0;
  int components = 0;
  int precision = 0;  // bits per sample
  // A progressive frame, or one whose first scan holds fewer components
  // than the frame: the decoder keeps every coefficient of it while it
  // decodes, `coefficient_bytes` in all.
  bool progressive = false;
  bool multi_scan = false;
  int64_t coefficient_bytes = 0;
};

// The frame header of the JPEG stream [bytes, bytes + size), found the way
// the decoder finds it: SOI first, then the marker segments by their
// lengths, stray bytes and fill bytes between segments skipped, up to the
// first scan. None when the stream does not start with SOI, a segment runs
// past the end, or a scan or the end of image comes before a frame header,
// or no scan follows it: the decoder gives up on such a stream before it
// allocates the picture.
std::optional<FrameHeader> read_frame_header(const uint8_t* bytes, int64_t size);

}  // namespace mpo
