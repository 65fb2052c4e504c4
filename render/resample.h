// Scaling of pictures held as three planes of linear light.
#pragma once

#include <cstdint>

namespace mpo {

// Three planes of 16-bit samples of linear light (0..65535), `stride`
// samples from one row to the next in each; row 0 is the top row.
struct LightPlanes {
  uint16_t* plane[3] = {nullptr, nullptr, nullptr};
  int64_t width = 0;
  int64_t height = 0;
  int64_t stride = 0;
};

// Fills `to` with `from` scaled to to.width x to.height by the
// Mitchell-Netravali cubic (B = C = 1/3) of the system's scaling library,
// widened by the reduction factor when shrinking so that every source pixel
// counts by its area; beyond its edges the source repeats its outermost
// pixels. The planes are scaled alike, and only to.width x to.height
// samples of each are written; a uniform plane stays exactly as it is.
// False for an empty or oversized picture, or
// when working memory runs out.
bool resample(const LightPlanes& from, const LightPlanes& to);

}  // namespace mpo
