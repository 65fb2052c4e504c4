// Plain JPEG streams encoded with libjpeg into memory, with the settings
// that tests, fuzz seeds and benchmarks vary: colour spaces, sampling,
// progressive and arithmetic coding, restart intervals, leading markers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace mpogen {

using Bytes = std::vector<uint8_t>;

struct JpegMarker {
  int code;              // JPEG_APP0 + n, JPEG_COM
  const Bytes* payload;  // without the length field, which libjpeg writes
};

struct JpegSettings {
  int width = 48;
  int height = 32;
  int components = 3;
  J_COLOR_SPACE in_space = JCS_RGB;
  J_COLOR_SPACE jpeg_space = JCS_UNKNOWN;  // libjpeg's default for in_space
  int quality = 75;
  bool force_baseline = true;
  bool progressive = false;
  bool arithmetic = false;
  int restart_rows = 0;
  bool full_chroma = false;  // every component sampled 1 x 1
  int jfif = -1;             // JFIF APP0: -1 as libjpeg decides, 0 none, 1 written
  std::vector<JpegMarker> markers;  // written right after SOI (and APP0)
};

// Encodes `samples` (top row first, width * components bytes per row, no
// padding). Empty when libjpeg refuses the settings.
Bytes encode_jpeg(const JpegSettings& settings, const uint8_t* samples);

// width * height * components bytes of the pattern (i * a + row * b) & 0xFF,
// i counting the bytes of each row.
Bytes ramp_samples(int width, int height, int components, int a, int b);

}  // namespace mpogen
