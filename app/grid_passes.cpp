#include "app/grid_passes.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "app/composites.h"

// The grid is column-major with respect to the picture, so every pass is a
// transpose. Both passes walk the picture in square tiles: a tile's grid
// column runs and its picture rows stay in the first-level cache, every
// tile row is read or written whole,
// and the loops over a whole tile have constant bounds, so that the compiler
// turns them into vector code. On x86-64 the tiles are compiled for AVX2 and
// taken where the processor has it; elsewhere there the column walk below.

#define MPO_INLINE [[gnu::always_inline]] inline
#if defined(__x86_64__) && defined(__GNUC__)
#define MPO_TILE_TARGET __attribute__((target("avx2")))
#define MPO_COLUMN_WALK 1
#else
#define MPO_TILE_TARGET
#define MPO_COLUMN_WALK 0
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


// The fill visits the tiles one band of kTile grid columns after the other
// (the band's part of the grid is one contiguous block), the drawing one
// band of kTile canvas rows after the other (the rows are written whole);
// whole tiles get constant extents.
// The canvases' geometry is copied, so that the compiler knows the pixel
// stores do not change it.
MPO_TILE_TARGET void draw_tiles(const std::array<PixelView, 3>& canvas, const Halves& h) {
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

MPO_TILE_TARGET void fill_tiles(PixelGrid& grid, const PixelView& view, int64_t w, int64_t h) {
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

#if MPO_COLUMN_WALK

// The column walk, for processors without AVX2, where the tiles' byte
// shuffles are slow: bands of picture rows, whose rows stay in the
// first-level cache while one grid column after the other is read or
// written in one contiguous run.
constexpr int64_t kBand = 64;
// Each column run starts far from the previous one, where the hardware does
// not look ahead: the run kAhead columns on is fetched in advance.
constexpr int64_t kAhead = 4;

inline void prefetch_band(const int64_t* run, int64_t n, bool for_writing) {
  constexpr int64_t kPerLine = 64 / sizeof(int64_t);
  for (int64_t k = 0; k < n; k += kPerLine) {
    if (for_writing) {
      __builtin_prefetch(run + k, 1);
    } else {
      __builtin_prefetch(run + k, 0);
    }
  }
}

// Colour value red + 256 * green + 65536 * blue of the B, G, R bytes.
inline int64_t pack(const uint8_t* bgr) {
  return int64_t(bgr[2]) | (int64_t(bgr[1]) << 8) | (int64_t(bgr[0]) << 16);
}

inline void unpack(uint8_t* bgr, int64_t colour) {
  bgr[2] = static_cast<uint8_t>(colour);
  bgr[1] = static_cast<uint8_t>(colour >> 8);
  bgr[0] = static_cast<uint8_t>(colour >> 16);
}

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// As pack, with one 4-byte load; the byte after the pixel must be readable.
inline int64_t pack_wide(const uint8_t* bgr) {
  if constexpr (!kLittleEndian) return pack(bgr);
  uint32_t word;
  std::memcpy(&word, bgr, 4);
  return int64_t(__builtin_bswap32(word) >> 8);
}

// As unpack, with one 4-byte store: the byte after the pixel is clobbered
// and must be written again afterwards.
inline void unpack_wide(uint8_t* bgr, int64_t colour) {
  if constexpr (!kLittleEndian) return unpack(bgr, colour);
  const uint32_t word = __builtin_bswap32(static_cast<uint32_t>(colour) << 8);
  std::memcpy(bgr, &word, 4);
}

// Writes pixel x of n rows, from picture row `top` downwards, from every
// `step`-th element of the column. Narrow when the pixel after it in each
// row is not written again later.
inline void put_column(uint8_t* top, int64_t pitch, const int64_t* column, int64_t n,
                       int64_t step, bool narrow) {
  if (narrow) {
    for (int64_t k = 0; k < n; ++k) unpack(top - k * pitch, column[step * k]);
  } else {
    for (int64_t k = 0; k < n; ++k) unpack_wide(top - k * pitch, column[step * k]);
  }
}

// The three composites' passes in one sweep over each grid, so that every
// grid element is fetched from memory once. A canvas without pixels is left
// out. Per half s (0 left, 1 right) and grid element (x, y):
//   side-by-side:            pixel (s W + x, y)
//   half-width side-by-side: pixel (s (W div 2) + (x - 1) / 2, y)   for odd x < 2 (W div 2)
//   over/under:              pixel (x, s (H div 2) + y div 2)        for y of parity s, y < 2 (H div 2)

void draw_columns(const std::array<PixelView, 3>& canvas, const Halves& h) {
  const PixelView& sbs = canvas[0];
  const PixelView& sbsh = canvas[1];
  const PixelView& ouh = canvas[2];
  const int64_t W = h.width, H = h.height;
  const int64_t half_w = W / 2, half_h = H / 2;
  for (int s = 0; s < 2; ++s) {
    const PixelGrid& grid = s == 0 ? h.left : h.right;
    const int64_t stride = grid.q() + 1;
    for (int64_t y0 = 0; y0 < H; y0 += kBand) {
      const int64_t n = std::min(kBand, H - y0);
      // The band's over/under rows: y = first, first + 2, ... below the end.
      const int64_t first = y0 + ((y0 % 2) != s ? 1 : 0);
      const int64_t end = std::min(y0 + n, 2 * half_h);
      const int64_t m = end > first ? (end - first + 1) / 2 : 0;
      uint8_t* sbs_top = sbs.pixels ? sbs.row(y0) + 3 * s * W : nullptr;
      uint8_t* sbsh_top = sbsh.pixels ? sbsh.row(y0) + 3 * s * half_w : nullptr;
      uint8_t* ouh_top = ouh.pixels && m > 0 ? ouh.row(s * half_h + first / 2) : nullptr;
      for (int64_t x = 0; x < W; ++x) {
        const int64_t* column = grid.data() + x * stride + y0;
        if (x + kAhead < W) prefetch_band(column + kAhead * stride, n, false);
        const bool last = x + 1 == W;
        if (sbs_top) put_column(sbs_top + 3 * x, sbs.pitch, column, n, 1, last);
        if (sbsh_top && x % 2 == 1 && x < 2 * half_w)
          put_column(sbsh_top + 3 * (x / 2), sbsh.pitch, column, n, 1, x + 2 >= 2 * half_w);
        if (ouh_top) put_column(ouh_top + 3 * x, ouh.pitch, column + (first - y0), m, 2, last);
      }
    }
  }
}

void fill_columns(PixelGrid& grid, const PixelView& view, int64_t w, int64_t h) {
  const int64_t stride = grid.q() + 1;
  const int64_t pitch = view.pitch;
  int64_t* base = grid.data();
  for (int64_t y0 = 0; y0 < h; y0 += kBand) {
    const int64_t n = std::min(kBand, h - y0);
    // Rows lie bottom row first: picture row y0 + k is k pitches below row y0.
    const uint8_t* top = view.row(y0);
    for (int64_t x = 0; x < w; ++x) {
      int64_t* column = base + x * stride + y0;
      if (x + kAhead < w) prefetch_band(column + kAhead * stride, n, true);
      const uint8_t* pixel = top + 3 * x;
      if (x + 1 < view.width) {
        for (int64_t k = 0; k < n; ++k) column[k] = pack_wide(pixel - k * pitch);
      } else {
        for (int64_t k = 0; k < n; ++k) column[k] = pack(pixel - k * pitch);
      }
    }
  }
}
#endif

bool tiles_pay() {
#if MPO_COLUMN_WALK
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return true;
#endif
}

}  // namespace

void draw_composites(const std::array<PixelView, 3>& canvas, const Halves& h) {
#if MPO_COLUMN_WALK
  if (!tiles_pay()) return draw_columns(canvas, h);
#endif
  draw_tiles(canvas, h);
}

void fill_grid(PixelGrid& grid, const PixelView& view, int64_t w, int64_t h) {
#if MPO_COLUMN_WALK
  if (!tiles_pay()) return fill_columns(grid, view, w, h);
#endif
  fill_tiles(grid, view, w, h);
}

}  // namespace mpo
