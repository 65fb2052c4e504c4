#include "render/resample.h"

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>

extern "C" {
#include <libswscale/swscale.h>
}

namespace mpo {

namespace {

bool fits(const LightPlanes& p) {
  return p.plane[0] != nullptr && p.plane[1] != nullptr && p.plane[2] != nullptr &&
         p.width > 0 && p.height > 0 && p.width <= INT_MAX / 8 && p.height <= INT_MAX / 8 &&
         p.stride >= p.width + kResampleSlack && p.stride <= INT_MAX / 2;
}

// The filter of a shrink by 2 or more reaches further than the slack.
bool shrinks_less_than_twice(const LightPlanes& from, const LightPlanes& to) {
  return from.width < 2 * to.width && from.height < 2 * to.height;
}

struct FreeContext {
  void operator()(SwsContext* c) const { sws_freeContext(c); }
};
using Context = std::unique_ptr<SwsContext, FreeContext>;

// The library's bicubic with B = 1/3, C = 1/3, for one plane at a time (as
// grey: its colour formats would pass through a luma and chroma of their
// own).
Context mitchell(const LightPlanes& from, const LightPlanes& to) {
  double b_and_c[2] = {1.0 / 3, 1.0 / 3};
  // Setting up a context fills tables of the library's own; one at a time.
  static std::mutex setting_up;
  const std::lock_guard<std::mutex> lock(setting_up);
  return Context(sws_getContext(static_cast<int>(from.width), static_cast<int>(from.height),
                                AV_PIX_FMT_GRAY16, static_cast<int>(to.width),
                                static_cast<int>(to.height), AV_PIX_FMT_GRAY16,
                                SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, b_and_c));
}

void copy_planes(const LightPlanes& from, const LightPlanes& to) {
  for (int p = 0; p < 3; ++p) {
    for (int64_t y = 0; y < from.height; ++y) {
      std::memcpy(to.plane[p] + y * to.stride, from.plane[p] + y * from.stride,
                  sizeof(uint16_t) * static_cast<size_t>(from.width));
    }
  }
}

}  // namespace

bool resample(const LightPlanes& from, const LightPlanes& to) {
  if (!fits(from) || !fits(to) || !shrinks_less_than_twice(from, to)) return false;
  if (from.width == to.width && from.height == to.height) {
    copy_planes(from, to);
    return true;
  }
  const Context context = mitchell(from, to);
  if (!context) return false;
  const int source_stride = static_cast<int>(sizeof(uint16_t) * from.stride);
  const int target_stride = static_cast<int>(sizeof(uint16_t) * to.stride);
  for (int p = 0; p < 3; ++p) {
    const uint8_t* source = reinterpret_cast<const uint8_t*>(from.plane[p]);
    uint8_t* target = reinterpret_cast<uint8_t*>(to.plane[p]);
    if (sws_scale(context.get(), &source, &source_stride, 0, static_cast<int>(from.height),
                  &target, &target_stride) != static_cast<int>(to.height)) {
      return false;
    }
  }
  return true;
}

}  // namespace mpo
