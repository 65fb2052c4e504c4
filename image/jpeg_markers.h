// JPEG marker codes and offsets that the split, the Exif image, the
// container readers and the codecs look for, and the big-endian reads of a
// JPEG header.
#pragma once

#include <cstdint>

namespace mpo::jpeg {

// Every marker is 0xFF followed by its code.
constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStuffedZero = 0x00;  // FF 00 in entropy data: no marker
constexpr uint8_t kTEM = 0x01;          // temporary, no length
constexpr uint8_t kSOF0 = 0xC0;         // frame header, baseline
constexpr uint8_t kSOF1 = 0xC1;         // frame header, extended sequential
constexpr uint8_t kSOF2 = 0xC2;         // frame header, progressive
constexpr uint8_t kSOF3 = 0xC3;         // frame header, lossless
constexpr uint8_t kDHT = 0xC4;          // Huffman tables
constexpr uint8_t kJPG = 0xC8;          // reserved for extensions
constexpr uint8_t kDAC = 0xCC;          // arithmetic coding conditions
constexpr uint8_t kSOF15 = 0xCF;        // the last frame header code
constexpr uint8_t kRST0 = 0xD0;         // restart markers RST0..RST7, no length
constexpr uint8_t kRST7 = 0xD7;
constexpr uint8_t kSOI = 0xD8;   // start of image
constexpr uint8_t kEOI = 0xD9;   // end of image
constexpr uint8_t kSOS = 0xDA;   // start of scan
constexpr uint8_t kDQT = 0xDB;   // quantisation tables
constexpr uint8_t kDRI = 0xDD;   // restart interval
constexpr uint8_t kAPP0 = 0xE0;  // JFIF
constexpr uint8_t kAPP1 = 0xE1;  // Exif
constexpr uint8_t kAPP2 = 0xE2;  // multi-picture index
constexpr uint8_t kAPP15 = 0xEF;
constexpr uint8_t kCOM = 0xFE;   // comment

// A frame header: SOF0..SOF15 without DHT, JPG and DAC, which share the range.
constexpr bool is_frame_header(int code) {
  return code >= kSOF0 && code <= kSOF15 && code != kDHT && code != kJPG && code != kDAC;
}
// The frame header's process: the codes step by 4 through sequential,
// progressive, lossless and differential lossless, twice (Huffman, arithmetic).
constexpr bool is_progressive(int code) { return is_frame_header(code) && (code & 3) == 2; }
constexpr bool is_lossless(int code) { return is_frame_header(code) && (code & 3) == 3; }
constexpr bool is_restart(int code) { return code >= kRST0 && code <= kRST7; }
constexpr bool is_app(int code) { return code >= kAPP0 && code <= kAPP15; }
// Markers that stand alone, without a length field behind them.
constexpr bool has_no_length(int code) {
  return code == kStuffedZero || code == kTEM || is_restart(code) || code == kSOI || code == kEOI;
}

// The two marker bytes as one big-endian 16-bit value (0xFFD8 for SOI).
constexpr int marker_word(uint8_t code) { return (kMarkerPrefix << 8) | code; }

// Where the Exif segment's length field stands: right after SOI and the
// APP1 marker, or behind a JFIF APP0 of the usual 16 bytes.
constexpr int64_t kApp1LengthAtStart = 4;
constexpr int64_t kApp1MarkerAfterJfif = 20;
constexpr int64_t kApp1LengthAfterJfif = 22;
// The JFIF APP0 length field of a plain header without thumbnail.
constexpr int kPlainJfifLength = 16;

// A progressive stream may repeat its scans without end; real files have a
// dozen scans at most, and every scan costs a pass over all coefficients:
// a few kilobytes could keep the batch busy for hours. The decoders give up
// beyond this many.
constexpr int kMaxScans = 500;

// Big-endian 16-bit value of two bytes.
constexpr int read_be16(const uint8_t* p) { return (int(p[0]) << 8) | int(p[1]); }

}  // namespace mpo::jpeg
