// The frame that 3D television sets take: both halves at half width side by
// side in 1920 x 1080, each keeping its proportions once the set stretches
// it back to full width.
#pragma once

#include <cstdint>

#include "image/image_service.h"

namespace mpo {

constexpr int64_t kTvFrameWidth = 1920;
constexpr int64_t kTvFrameHeight = 1080;

// Where a half's picture lies in its 960 x 1080 half of the TV frame: w x h
// pixels at (x0, y0) from the half's top left corner.
struct TvLayout {
  int64_t w = 0;
  int64_t h = 0;
  int64_t x0 = 0;
  int64_t y0 = 0;
};

// With s = min(1920 / W, 1080 / H): w = round(s W / 2), h = round(s H), each
// at least 1, centred (offsets rounded down). W and H at least 1.
TvLayout tv_layout(int64_t W, int64_t H);

// Draws the frame (canvas 1920 x 1080) from `source`, which holds the left
// half (W x H) in columns 0..W-1 and the right half in W..2W-1: each half
// scaled to tv_layout's size and centred in its half of the frame, black
// elsewhere. Where a half is at least twice as wide (or high) as its
// region, it is first averaged over blocks of whole pixels in linear light
// down to between once and twice the region's size; the Mitchell filter does
// the rest in linear light, and only its result goes back to sRGB. False,
// with the canvas in an unspecified state, when working memory runs out.
bool scale_to_tv_frame(const PixelView& source, int64_t W, int64_t H, const PixelView& canvas);

// The W x H picture at columns dx..dx + W - 1 of `source` scaled onto the
// whole of `target` (at least 1 x 1) as the TV frame's halves are: block
// averages of whole pixels in linear light down to between once and twice
// the target's size, the Mitchell filter for the rest. False, with the
// target partly drawn, when working memory runs out.
bool scale_picture(const PixelView& source, int64_t dx, int64_t W, int64_t H,
                   const PixelView& target);

}  // namespace mpo
