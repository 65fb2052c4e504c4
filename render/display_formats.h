// The command line's display formats, drawn from the side-by-side image of
// an entry's halves (2W x H, the left half in columns 0..W-1): the
// over-under picture, the anaglyphs of every type, and the frames
// interleaved by rows, columns or checkerboard cells for screens that show
// each eye every other line, column or pixel.
#pragma once

#include <cstdint>

#include "image/image_service.h"
#include "render/anaglyph_rows.h"
#include "render/tv_frame.h"

namespace mpo {

// Row y (0 <= y < 2H) of the over-under picture, W x 2H: the left half's row
// y above, the right half's row y - H below.
void over_under_row(const PixelView& side_by_side, int64_t y, uint8_t* out);

// Row y of the anaglyph of `type` (W pixels).
void anaglyph_row(const PixelView& side_by_side, int64_t y, AnaglyphType type, uint8_t* out);

// Where a W x H picture lies when scaled to the largest size that fits a
// screen of SW x SH keeping its proportions: with s = min(SW / W, SH / H),
// w = round(s W) and h = round(s H) (quotients rounded half up in
// integers), each at least 1, centred (offsets rounded down).
TvLayout fit_layout(int64_t W, int64_t H, int64_t SW, int64_t SH);

// Draws half s (0 left, 1 right) of the side-by-side image onto `screen`
// fitted as fit_layout says, scaled as the TV frame scales its halves,
// black around it. False, with the screen in an unspecified state, when
// working memory runs out.
bool draw_fitted_half(const PixelView& side_by_side, int s, const PixelView& screen);

enum class Interleave { rows, columns, checker };

// Row y of the interleaved frame of two fitted halves of the same size: the
// pixel (x, y) comes from `left` where y (columns: x; checker: x + y) is
// even, from `right` where it is odd; `odd_left` swaps the two.
void interleave_row(const PixelView& left, const PixelView& right, Interleave kind,
                    bool odd_left, int64_t y, uint8_t* out);

}  // namespace mpo
