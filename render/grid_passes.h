// The pixel passes between the decoded halves and the composites: both
// halves copied into their grids, and the side-by-side, half-width
// side-by-side and over/under images drawn from the grids.
#pragma once

#include <array>
#include <cstdint>

#include "image/image_service.h"

namespace mpo {

struct Halves;

// Bytes of working rows the pixel passes need for halves W pixels wide.
int64_t band_bytes(int64_t W);

// Fills both grids from the decoded pictures (grid (x, y) = pixel (x, y) for
// x < W, y < H; zero where the picture has no pixel) and draws the
// side-by-side, half-width side-by-side and over/under images (canvas 0, 1,
// 2; a canvas without pixels is left out) from what it has just put into the
// grids, in the same step, half by half. Needs halves.band_rows.
void fill_and_draw(const std::array<PixelView, 3>& canvas, Halves& halves);

// The same images drawn from the grids as they are.
void draw_composites(const std::array<PixelView, 3>& canvas, const Halves& halves);

}  // namespace mpo
