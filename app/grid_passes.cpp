#include "app/grid_passes.h"

#include <algorithm>
#include <cstring>

#include "app/composites.h"

// The grid is column-major with respect to the picture, so every pass is a
// transpose. Both passes walk the picture in square tiles: a tile's grid
// column runs and its picture rows stay in the first-level cache, every
// tile row is read or written whole,
// and the loops over a whole tile have constant bounds, so that the compiler
// turns them into vector code. With GCC on x86-64 the passes are compiled
// twice, for AVX2 and for the baseline instruction set, and the program
// picks at its start what the processor runs.

#define MPO_INLINE [[gnu::always_inline]] inline
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define MPO_PIXEL_PASS __attribute__((target_clones("avx2", "default")))
#else
#define MPO_PIXEL_PASS
#endif

namespace mpo {

namespace {

constexpr int64_t kTile = 32;

// Colour values red + 256 * green + 65536 * blue of a tile, row k column i.
using Tile = uint32_t[kTile][kTile];

// tile = the view's B, G, R pixels from (x0, y0) on.
MPO_INLINE void pack_rows(Tile& tile, const PixelView& view, int64_t x0, int64_t y0, int64_t nx,
                          int64_t ny) {
  for (int64_t k = 0; k < ny; ++k) {
    const uint8_t* bgr = view.row(y0 + k) + 3 * x0;
    for (int64_t i = 0; i < nx; ++i)
      tile[k][i] = uint32_t{bgr[3 * i + 2]} | uint32_t{bgr[3 * i + 1]} << 8 |
                   uint32_t{bgr[3 * i]} << 16;
  }
}

// Four grid elements, and four colour values; as vectors in the AVX2 code.
typedef int64_t Elements4 __attribute__((vector_size(32)));
typedef uint32_t Colours4 __attribute__((vector_size(16)));

// Rows a, b, c, d of a 4 x 4 block become its columns.
MPO_INLINE void transpose(Elements4& a, Elements4& b, Elements4& c, Elements4& d) {
  const Elements4 ab0 = __builtin_shufflevector(a, b, 0, 4, 2, 6);
  const Elements4 ab1 = __builtin_shufflevector(a, b, 1, 5, 3, 7);
  const Elements4 cd0 = __builtin_shufflevector(c, d, 0, 4, 2, 6);
  const Elements4 cd1 = __builtin_shufflevector(c, d, 1, 5, 3, 7);
  a = __builtin_shufflevector(ab0, cd0, 0, 1, 4, 5);
  b = __builtin_shufflevector(ab1, cd1, 0, 1, 4, 5);
  c = __builtin_shufflevector(ab0, cd0, 2, 3, 6, 7);
  d = __builtin_shufflevector(ab1, cd1, 2, 3, 6, 7);
}

MPO_INLINE void load(Elements4& e, const uint32_t* colour) {
  Colours4 c;
  std::memcpy(&c, colour, sizeof c);
  e = __builtin_convertvector(c, Elements4);
}

// Only the low 24 bits of an element are ever drawn.
MPO_INLINE void store(uint32_t* colour, const Elements4& e) {
  const Colours4 c = __builtin_convertvector(e, Colours4);
  std::memcpy(colour, &c, sizeof c);
}

// Grid columns x0 + i, rows y0 + k, from the tile: whole tiles in 4 x 4
// blocks, so that every store writes four elements.
MPO_INLINE void put_columns(int64_t* column, int64_t stride, const Tile& tile, int64_t nx,
                            int64_t ny) {
  if (nx < kTile || ny < kTile) {
    for (int64_t i = 0; i < nx; ++i, column += stride)
      for (int64_t k = 0; k < ny; ++k) column[k] = tile[k][i];
    return;
  }
  for (int64_t i = 0; i < kTile; i += 4) {
    for (int64_t k = 0; k < kTile; k += 4) {
      Elements4 a, b, c, d;
      load(a, &tile[k][i]), load(b, &tile[k + 1][i]), load(c, &tile[k + 2][i]);
      load(d, &tile[k + 3][i]);
      transpose(a, b, c, d);
      int64_t* run = column + i * stride + k;
      std::memcpy(run, &a, sizeof a), std::memcpy(run + stride, &b, sizeof b);
      std::memcpy(run + 2 * stride, &c, sizeof c), std::memcpy(run + 3 * stride, &d, sizeof d);
    }
  }
}

// The tile from grid columns x0 + i, rows y0 + k.
MPO_INLINE void get_columns(Tile& tile, const int64_t* column, int64_t stride, int64_t nx,
                            int64_t ny) {
  if (nx < kTile || ny < kTile) {
    for (int64_t i = 0; i < nx; ++i, column += stride)
      for (int64_t k = 0; k < ny; ++k) tile[k][i] = static_cast<uint32_t>(column[k]);
    return;
  }
  for (int64_t i = 0; i < kTile; i += 4) {
    for (int64_t k = 0; k < kTile; k += 4) {
      Elements4 a, b, c, d;
      const int64_t* run = column + i * stride + k;
      std::memcpy(&a, run, sizeof a), std::memcpy(&b, run + stride, sizeof b);
      std::memcpy(&c, run + 2 * stride, sizeof c), std::memcpy(&d, run + 3 * stride, sizeof d);
      transpose(a, b, c, d);
      store(&tile[k][i], a), store(&tile[k + 1][i], b), store(&tile[k + 2][i], c);
      store(&tile[k + 3][i], d);
    }
  }
}

MPO_INLINE void unpack_row(uint8_t* bgr, const uint32_t* colour, int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    bgr[3 * i] = static_cast<uint8_t>(colour[i] >> 16);
    bgr[3 * i + 1] = static_cast<uint8_t>(colour[i] >> 8);
    bgr[3 * i + 2] = static_cast<uint8_t>(colour[i]);
  }
}

// Pixels 1, 3, 5, ... of a tile row, n of them.
MPO_INLINE void unpack_odd(uint8_t* bgr, const uint32_t* colour, int64_t n) {
  uint32_t odd[kTile / 2];
  for (int64_t j = 0; j < kTile / 2; ++j) odd[j] = colour[2 * j + 1];
  unpack_row(bgr, odd, n);
}

// The tile's rows in the three canvases, for half s (0 left, 1 right) of
// W x H halves. Per grid element (x, y):
//   side-by-side:            pixel (s W + x, y)
//   half-width side-by-side: pixel (s (W div 2) + (x - 1) / 2, y)   for odd x < 2 (W div 2)
//   over/under:              pixel (x, s (H div 2) + y div 2)        for y of parity s, y < 2 (H div 2)
// x0 is even, so the tile's odd columns are its odd i; only the last tile
// of an odd W has one column that the half-width image leaves out.
MPO_INLINE void draw_rows(const std::array<PixelView, 3>& canvas, int s, int64_t W, int64_t H,
                          const Tile& tile, int64_t x0, int64_t y0, int64_t nx, int64_t ny) {
  const PixelView& sbs = canvas[0];
  const PixelView& sbsh = canvas[1];
  const PixelView& ouh = canvas[2];
  const int64_t half_w = W / 2, half_h = H / 2;
  const bool all_odd = x0 + nx <= 2 * half_w;
  const int64_t odd = all_odd ? nx / 2 : std::max<int64_t>(0, (2 * half_w - x0) / 2);
  for (int64_t k = 0; k < ny; ++k) {
    const int64_t y = y0 + k;
    if (sbs.pixels) unpack_row(sbs.row(y) + 3 * (s * W + x0), tile[k], nx);
    uint8_t* half_row = sbsh.pixels ? sbsh.row(y) + 3 * (s * half_w + x0 / 2) : nullptr;
    if (half_row && all_odd) unpack_odd(half_row, tile[k], nx / 2);
    if (half_row && !all_odd) unpack_odd(half_row, tile[k], odd);
    if (ouh.pixels && y % 2 == s && y < 2 * half_h)
      unpack_row(ouh.row(s * half_h + y / 2) + 3 * x0, tile[k], nx);
  }
}

MPO_INLINE void draw_tile(const std::array<PixelView, 3>& canvas, int s, int64_t W, int64_t H,
                          const PixelGrid& grid, Tile& tile, int64_t x0, int64_t y0, int64_t nx,
                          int64_t ny) {
  const int64_t stride = grid.q() + 1;
  get_columns(tile, grid.data() + x0 * stride + y0, stride, nx, ny);
  draw_rows(canvas, s, W, H, tile, x0, y0, nx, ny);
}

MPO_INLINE void fill_tile(PixelGrid& grid, const PixelView& view, Tile& tile, int64_t x0,
                          int64_t y0, int64_t nx, int64_t ny) {
  const int64_t stride = grid.q() + 1;
  pack_rows(tile, view, x0, y0, nx, ny);
  put_columns(grid.data() + x0 * stride + y0, stride, tile, nx, ny);
}

}  // namespace

// The fill visits the tiles one band of kTile grid columns after the other
// (the band's part of the grid is one contiguous block), the drawing one
// band of kTile canvas rows after the other (the rows are written whole);
// whole tiles get constant extents.
// The canvases' geometry is copied, so that the compiler knows the pixel
// stores do not change it.
MPO_PIXEL_PASS void draw_composites(const std::array<PixelView, 3>& canvas, const Halves& h) {
  alignas(64) Tile tile{};  // partial tiles leave stale parts unused
  const std::array<PixelView, 3> out = canvas;
  const int64_t W = h.width, H = h.height;
  for (int s = 0; s < 2; ++s) {
    const PixelGrid& grid = s == 0 ? h.left : h.right;
    for (int64_t y0 = 0; y0 < H; y0 += kTile) {
      const int64_t ny = std::min(kTile, H - y0);
      for (int64_t x0 = 0; x0 < W; x0 += kTile) {
        const int64_t nx = std::min(kTile, W - x0);
        if (nx == kTile && ny == kTile) {
          draw_tile(out, s, W, H, grid, tile, x0, y0, kTile, kTile);
        } else {
          draw_tile(out, s, W, H, grid, tile, x0, y0, nx, ny);
        }
      }
    }
  }
}

MPO_PIXEL_PASS void fill_grid(PixelGrid& grid, const PixelView& view, int64_t w, int64_t h) {
  alignas(64) Tile tile{};  // partial tiles leave stale parts unused
  for (int64_t x0 = 0; x0 < w; x0 += kTile) {
    const int64_t nx = std::min(kTile, w - x0);
    for (int64_t y0 = 0; y0 < h; y0 += kTile) {
      const int64_t ny = std::min(kTile, h - y0);
      if (nx == kTile && ny == kTile) {
        fill_tile(grid, view, tile, x0, y0, kTile, kTile);
      } else {
        fill_tile(grid, view, tile, x0, y0, nx, ny);
      }
    }
  }
}

}  // namespace mpo
