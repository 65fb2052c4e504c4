// The viewing formats drawn from an entry's decoded halves: a red-cyan
// anaglyph, the cross-eyed pair and the half-width side-by-side frame that 3D
// television sets take. Each draws onto a canvas the caller created with the
// format's size; every pixel of the picture is written.
#pragma once

#include <cstdint>

#include "app/composites.h"
#include "image/image_service.h"

namespace mpo {

constexpr int64_t kTvFrameWidth = 1920;
constexpr int64_t kTvFrameHeight = 1080;

// W x H. Each pixel mixes the left and the right half's pixel at the same
// place by Dubois's least-squares matrices for red-cyan glasses, in exact
// integer thousandths, rounded half up and clamped to 0..255.
bool draw_anaglyph(const Halves& halves, const PixelView& canvas);

// 2W x H: the right half in columns 0..W-1, the left half in W..2W-1.
bool draw_cross(const Halves& halves, const PixelView& canvas);

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

// 1920 x 1080: each half scaled to tv_layout's size and centred in its half
// of the frame, left view on the left; black elsewhere. Where a half is at
// least twice as wide (or high) as its region, it is first averaged over
// blocks of whole pixels (exactly, in 16-bit linear light) down to between
// once and twice the region's size; the filter does the rest in linear
// light, and only its result goes back to sRGB. False, with the
// canvas in an unspecified state, when working memory runs out.
bool draw_tv_frame(const Halves& halves, const PixelView& canvas);

// The three formats from the halves' side-by-side image (2W x H, the left
// half in columns 0..W-1), read row by row: the very same pixels as from
// the grids, in a fraction of the time.
bool draw_anaglyph(const PixelView& side_by_side, const PixelView& canvas);
bool draw_cross(const PixelView& side_by_side, const PixelView& canvas);
bool draw_tv_frame(const PixelView& side_by_side, const PixelView& canvas);

}  // namespace mpo
