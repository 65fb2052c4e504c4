#include "app/resample.h"

#include <climits>

#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

namespace mpo {

namespace {

bool fits(const Raster24& r) {
  return r.pixels != nullptr && r.width > 0 && r.height > 0 && r.width <= INT_MAX / 3 &&
         r.height <= INT_MAX && r.stride >= 3 * r.width && r.stride <= INT_MAX;
}

bool fits(const RasterF& r) {
  return r.samples != nullptr && r.width > 0 && r.height > 0 && r.width <= INT_MAX / 12 &&
         r.height <= INT_MAX && r.stride >= 3 * r.width && r.stride <= INT_MAX / 4;
}

}  // namespace

bool resample(const Raster24& from, const Raster24& to) {
  if (!fits(from) || !fits(to)) return false;
  return stbir_resize_uint8_generic(
             from.pixels, static_cast<int>(from.width), static_cast<int>(from.height),
             static_cast<int>(from.stride), to.pixels, static_cast<int>(to.width),
             static_cast<int>(to.height), static_cast<int>(to.stride), 3,
             STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_MITCHELL,
             STBIR_COLORSPACE_SRGB, nullptr) != 0;
}

bool resample(const RasterF& from, const RasterF& to) {
  if (!fits(from) || !fits(to)) return false;
  constexpr int kBytes = sizeof(float);
  return stbir_resize_float_generic(
             from.samples, static_cast<int>(from.width), static_cast<int>(from.height),
             static_cast<int>(kBytes * from.stride), to.samples, static_cast<int>(to.width),
             static_cast<int>(to.height), static_cast<int>(kBytes * to.stride), 3,
             STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_MITCHELL,
             STBIR_COLORSPACE_LINEAR, nullptr) != 0;
}

}  // namespace mpo
