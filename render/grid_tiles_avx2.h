// Whole tiles between a decoded picture, a pixel grid and rows of B, G, R
// bytes, in AVX2 vector code for the processors that have it.
#pragma once

#include <cstdint>

#include "image/image_service.h"

namespace mpo {

// Side of a tile, in pixels.
constexpr int64_t kGridTile = 32;

// The functions below run where cpu_features().avx2 (render/cpu_features.h)
// says so; elsewhere they do nothing.

// The decoded picture a grid is filled from; its pixels become the grid
// elements red + 256 green + 65536 blue.
struct TileSource {
  const PixelView* picture = nullptr;
  int64_t width = 0;  // pixels of each picture row that may be read
};

// Grid (x0 + i, y0 + k) = picture pixel (x0 + i, y0 + k) for i, k <
// kGridTile, in a grid of columns `stride` elements apart. The picture must
// have two more pixels right of the tile (its loads reach into them) and
// kGridTile rows from y0 on; the same rows and grid runs two tiles further
// right are asked into the caches meanwhile.
void fill_tile_avx2(int64_t* grid, int64_t stride, const TileSource& source, int64_t x0,
                    int64_t y0);

// Row k of `rows` (`pitch` bytes apart), bytes 3 x0 on = grid (x0 + i,
// y0 + k) as B, G, R for i, k < kGridTile. Each row is written four bytes
// past the tile: the caller overwrites them or leaves room for them.
void read_tile_avx2(const int64_t* grid, int64_t stride, uint8_t* rows, int64_t pitch, int64_t x0,
                    int64_t y0);

}  // namespace mpo
