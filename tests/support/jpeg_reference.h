// JPEG streams made and decoded with libjpeg directly, as an independent
// reference for the program's codec adapters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include "tests/support/files.h"

namespace mpo::test {

// Samples (top row first): gradients in x and y plus noise, every channel
// different.
Bytes pattern(int width, int height, int components, uint32_t seed = 7);

// A JPEG of `samples` with libjpeg's defaults for `in_space`, stored as
// `jpeg_space` unless that is JCS_UNKNOWN.
Bytes encode(const Bytes& samples, int width, int height, int components,
             J_COLOR_SPACE in_space = JCS_RGB, J_COLOR_SPACE jpeg_space = JCS_UNKNOWN,
             int quality = 90);

struct Decoded {
  J_COLOR_SPACE stream_space = JCS_UNKNOWN;
  Bytes samples;  // top row first
};

// libjpeg's own decode into `out_space`.
Decoded decode(const Bytes& jpeg, J_COLOR_SPACE out_space = JCS_RGB);

// Offset of the first marker FF `code`; 0 when absent.
size_t find_marker(const Bytes& jpeg, uint8_t code);

}  // namespace mpo::test
