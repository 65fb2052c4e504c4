// The viewing formats drawn from an entry's decoded halves: a red-cyan
// anaglyph, the cross-eyed pair and the half-width side-by-side frame that 3D
// television sets take. Each draws onto a canvas the caller created with the
// format's size; every pixel of the picture is written.
#pragma once

#include <cstdint>

#include "render/halves.h"
#include "render/tv_frame.h"
#include "image/image_service.h"

namespace mpo {

// W x H. Each pixel mixes the left and the right half's pixel at the same
// place by Dubois's least-squares matrices for red-cyan glasses, in exact
// integer thousandths, rounded half up and clamped to 0..255.
bool draw_anaglyph(const Halves& halves, const PixelView& canvas);

// 2W x H: the right half in columns 0..W-1, the left half in W..2W-1.
bool draw_cross(const Halves& halves, const PixelView& canvas);

// 1920 x 1080: the TV frame of both halves (scale_to_tv_frame). False,
// with the canvas in an unspecified state, when working memory runs out.
bool draw_tv_frame(const Halves& halves, const PixelView& canvas);

// 2W x H: the side-by-side image of the halves (the left half in columns
// 0..W-1), for the formats read from it when no composite drew it.
bool draw_side_by_side(const Halves& halves, const PixelView& canvas);

// The three formats from the halves' side-by-side image (2W x H, the left
// half in columns 0..W-1), read row by row: the very same pixels as from
// the grids, in a fraction of the time.
bool draw_anaglyph(const PixelView& side_by_side, const PixelView& canvas);
bool draw_cross(const PixelView& side_by_side, const PixelView& canvas);
bool draw_tv_frame(const PixelView& side_by_side, const PixelView& canvas);

// Row y of the anaglyph (W pixels) and of the cross-eyed pair (2W pixels)
// from row y of the side-by-side image (2W x H, W at least 1), into `out`:
// what an encoder needs of them, with no picture of their own in memory.
void anaglyph_row(const PixelView& side_by_side, int64_t y, uint8_t* out);
void cross_row(const PixelView& side_by_side, int64_t y, uint8_t* out);

}  // namespace mpo
