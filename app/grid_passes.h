// The pixel passes between the decoded halves and the composites: the grid
// fill and the one drawing sweep of the side-by-side, half-width
// side-by-side and over/under images.
#pragma once

#include <array>
#include <cstdint>

#include "image/image_service.h"

namespace mpo {

struct Halves;

// grid (x, y) = pixel (x, y) of the view for x < w, y < h.
void fill_grid(PixelGrid& grid, const PixelView& view, int64_t w, int64_t h);

// Draws the side-by-side, half-width side-by-side and over/under images
// (canvas 0, 1, 2; a canvas without pixels is left out) from both grids.
void draw_composites(const std::array<PixelView, 3>& canvas, const Halves& halves);

}  // namespace mpo
