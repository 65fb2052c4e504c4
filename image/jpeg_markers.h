// JPEG marker codes and offsets that the split, the Exif image and the
// codecs look for, and the big-endian reads of a JPEG header.
#pragma once

#include <cstdint>

namespace mpo::jpeg {

// Every marker is 0xFF followed by its code.
constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kSOF0 = 0xC0;  // frame header, baseline
constexpr uint8_t kSOF1 = 0xC1;  // frame header, extended sequential
constexpr uint8_t kSOI = 0xD8;   // start of image
constexpr uint8_t kEOI = 0xD9;   // end of image
constexpr uint8_t kSOS = 0xDA;   // start of scan
constexpr uint8_t kDQT = 0xDB;   // quantisation tables
constexpr uint8_t kAPP0 = 0xE0;  // JFIF
constexpr uint8_t kAPP1 = 0xE1;  // Exif
constexpr uint8_t kAPP2 = 0xE2;  // multi-picture index

// The two marker bytes as one big-endian 16-bit value (0xFFD8 for SOI).
constexpr int marker_word(uint8_t code) { return (kMarkerPrefix << 8) | code; }

// Where the Exif segment's length field stands: right after SOI and the
// APP1 marker, or behind a JFIF APP0 of the usual 16 bytes.
constexpr int64_t kApp1LengthAtStart = 4;
constexpr int64_t kApp1MarkerAfterJfif = 20;
constexpr int64_t kApp1LengthAfterJfif = 22;
// The JFIF APP0 length field of a plain header without thumbnail.
constexpr int kPlainJfifLength = 16;

// Big-endian 16-bit value of two bytes.
constexpr int read_be16(const uint8_t* p) { return (int(p[0]) << 8) | int(p[1]); }

}  // namespace mpo::jpeg
