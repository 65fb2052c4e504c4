// Scaling of pictures with three samples per pixel: sRGB bytes, or linear
// light in single-precision floats.
#pragma once

#include <cstdint>

namespace mpo {

// Rows of packed 3-byte pixels, `stride` bytes from the first byte of one row
// to the next. The three samples are scaled alike, so their order is free.
struct Raster24 {
  uint8_t* pixels = nullptr;
  int64_t width = 0;
  int64_t height = 0;
  int64_t stride = 0;
};

// Fills `to` with `from` scaled to to.width x to.height by the
// Mitchell-Netravali cubic (B = C = 1/3), widened by the reduction factor
// when shrinking so that every source pixel counts by its area. Samples are
// sRGB and are averaged as linear light; beyond its edges the source repeats
// its outermost pixels. Only the to.width x to.height pixels are written.
// False for an empty or oversized raster, or when working memory runs out.
bool resample(const Raster24& from, const Raster24& to);

// Three samples of linear light (0..1) per pixel; `stride` in samples.
struct RasterF {
  float* samples = nullptr;
  int64_t width = 0;
  int64_t height = 0;
  int64_t stride = 0;
};

// The same filter on linear samples, which are averaged as they are.
bool resample(const RasterF& from, const RasterF& to);

}  // namespace mpo
