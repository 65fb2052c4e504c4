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

// The scaling library reads and writes rows in pieces of up to 16 samples
// and lets its filter run on past the end of a row that is shorter than the
// filter (a row of 1, 2 or 3 samples always is): the buffers it expects
// carry padding after every row. So every plane handed to resample has at
// least kResampleSlack samples after each row's width within its stride,
// the last row's included; what stands there is never used, and may be
// overwritten.
constexpr int64_t kResampleSlack = 32;

// The stride for rows of `width` samples: the width and the slack, rounded
// up to whole 64-byte lines. A plane of h rows then takes h * stride samples.
constexpr int64_t resample_stride(int64_t width) {
  return (width + kResampleSlack + 31) / 32 * 32;
}

// Fills `to` with `from` scaled to to.width x to.height by the
// Mitchell-Netravali cubic (B = C = 1/3) of the system's scaling library,
// widened by the reduction factor when shrinking so that every source pixel
// counts by its area; beyond its edges the source repeats its outermost
// pixels. The planes are scaled alike, and only to.width x to.height
// samples of each are written (and the slack after them); a uniform plane
// stays exactly as it is. Neither axis may shrink by a factor of 2 or more
// (the caller averages blocks of pixels first): the filter would then be
// wider than the slack. False for an empty or oversized picture, a stride
// without slack, a shrink of 2 or more, or when working memory runs out.
bool resample(const LightPlanes& from, const LightPlanes& to);

}  // namespace mpo
