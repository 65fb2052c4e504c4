// Walking the marker segments of a JPEG stream held in memory. Every reader
// of JPEG headers in the container code goes through these steps, so the
// bounds are checked in one place.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace mpo {

// How a walk treats bytes between markers.
enum class Walk {
  // A header as writers lay it out: the next marker stands right here,
  // fill bytes (0xFF) before it allowed; FF 00 is no marker.
  header,
  // As the decoder reads: any bytes before a marker are skipped (entropy
  // data, stray bytes), fill bytes too, and FF 00 is passed over.
  decoder,
};

// One marker: its code and where it stands.
struct Marker {
  uint8_t code = 0;
  int64_t offset = 0;  // the 0xFF right before the code
  int64_t next = 0;    // behind the code: the length field, if any
};

// The next marker from `at` on, or nullopt when the bytes end first (or,
// for Walk::header, when no marker stands at `at`).
std::optional<Marker> next_marker(std::span<const uint8_t> jpeg, int64_t at, Walk walk);

// One marker segment of a JPEG header: FF `code` at `offset`, ending before
// `end` (for SOS: the end of its header, where the scan data begins).
struct HeaderSegment {
  uint8_t code = 0;
  int64_t offset = 0;
  int64_t end = 0;
  // Where the payload begins (behind the marker and the length field).
  int64_t payload() const { return offset + 4; }
};

// The header segment at `pos` (fill bytes 0xFF before a marker skipped),
// or nullopt when no length-checked segment stands there. The first one
// stands at 2, behind SOI; walk with next_segment(jpeg, previous.end) until
// the code is SOS.
std::optional<HeaderSegment> next_segment(std::span<const uint8_t> jpeg, int64_t pos);

// Whether the segment is an APP1 "Exif" 00 00 or an APP2 "MPF" 00 segment.
bool is_exif_segment(std::span<const uint8_t> jpeg, const HeaderSegment& segment);
bool is_mpf_segment(std::span<const uint8_t> jpeg, const HeaderSegment& segment);

// The header of a JPEG from SOI to its first scan, as the join needs it.
struct JpegHeader {
  int64_t sos = 0;                     // offset of the first SOS segment
  std::optional<HeaderSegment> exif;   // the first Exif APP1 segment
};

// The header when the bytes start FF D8 FF and length-checked segments lead
// from SOI to a scan, with a frame header before it; nullopt otherwise.
std::optional<JpegHeader> read_jpeg_header(std::span<const uint8_t> jpeg);

// Whether `head`, the first bytes of a longer stream, can still begin a
// JPEG: false once they show it cannot (no SOI, a broken segment, a scan
// before any frame header).
bool may_begin_jpeg(std::span<const uint8_t> head);

// Where the first image of the stream ends: behind the EOI the decoder
// stops at (segments between scans skipped by their lengths), or the end of
// the bytes when there is none. Expects a stream that read_jpeg_header takes.
int64_t first_image_end(std::span<const uint8_t> jpeg);

// Where the first image's Exif APP1 segment stands in a file starting with
// `head`: `start` is the file offset of its length field, `length` that
// field (at least 2). It stands right after SOI or behind a JFIF APP0 of 16
// bytes. `head` holds the file's first kExifHeadBytes bytes, zero-filled
// where the file is shorter.
struct SegmentPlace {
  int64_t start = 0;
  int length = 0;
};
constexpr int64_t kExifHeadBytes = 24;
std::optional<SegmentPlace> exif_segment_place(std::span<const uint8_t> head);

}  // namespace mpo
