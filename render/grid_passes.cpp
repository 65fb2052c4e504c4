#include "render/grid_passes.h"

#include <algorithm>
#include <cstring>
#include <vector>
#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "render/cpu_features.h"
#include "render/halves.h"
#include "render/grid_tiles_avx2.h"

// The grid is column-major with respect to the picture, so every pass over
// it is a transpose. The passes walk the picture in square tiles, one band
// of tile rows after the other: each tile is filled into the grid and at
// once read back from it, while its grid column runs are still in the
// first-level cache, into the band's picture rows; the composites are then
// drawn from those rows, which stay in the second-level cache, and their
// rows are streamed past the caches.
//
// Where the processor has AVX2, whole tiles go straight from the picture
// into the grid and from the grid into the band's rows in vector code
// (render/grid_tiles_avx2), and the rest of each half's work is compiled for
// AVX2 as well. Elsewhere, and at the edges, a tile passes through a small
// buffer of colour values in loops with constant bounds, which the compiler
// vectorises as far as the processor allows.

#define MPO_INLINE [[gnu::always_inline]] inline

namespace mpo {

namespace {

constexpr int64_t kTile = kGridTile;

// Colour values red + 256 * green + 65536 * blue of a tile, row k column i.
using Tile = uint32_t[kTile][kTile];

// A grid's fill: the picture's w x h part at the top left, zeros elsewhere
// in the W x H grid.
struct Fill {
  int64_t* grid = nullptr;
  const PixelView* picture = nullptr;
  int64_t w = 0;
  int64_t h = 0;
  int64_t W = 0;
  int64_t H = 0;
};

MPO_INLINE uint32_t colour_of(const uint8_t* bgr) {
  return uint32_t{bgr[2]} | uint32_t{bgr[1]} << 8 | uint32_t{bgr[0]} << 16;
}

// tile = the picture's B, G, R pixels from (x0, y0) on.
MPO_INLINE void pack_rows(Tile& tile, const PixelView& picture, int64_t x0, int64_t y0, int64_t nx,
                          int64_t ny) {
  for (int64_t k = 0; k < ny; ++k) {
    const uint8_t* bgr = picture.row(y0 + k) + 3 * x0;
    for (int64_t i = 0; i < nx; ++i) tile[k][i] = colour_of(bgr + 3 * i);
  }
}

// As pack_rows, with zeros outside the w x h part of the picture.
void pack_edge(Tile& tile, const Fill& src, int64_t x0, int64_t y0, int64_t nx,
               int64_t ny) {
  for (int64_t k = 0; k < ny; ++k) {
    const int64_t n = y0 + k < src.h ? std::clamp<int64_t>(src.w - x0, 0, nx) : 0;
    const uint8_t* bgr = n > 0 ? src.picture->row(y0 + k) + 3 * x0 : nullptr;
    for (int64_t i = 0; i < n; ++i) tile[k][i] = colour_of(bgr + 3 * i);
    std::fill(tile[k] + n, tile[k] + nx, 0u);
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

MPO_INLINE void fill_tile(const Fill& f, Tile& tile, int64_t x0, int64_t y0, int64_t nx,
                          int64_t ny) {
  if (x0 + nx <= f.w && y0 + ny <= f.h) {
    pack_rows(tile, *f.picture, x0, y0, nx, ny);
  } else {
    pack_edge(tile, f, x0, y0, nx, ny);
  }
  const int64_t stride = f.H + 1;
  put_columns(f.grid + x0 * stride + y0, stride, tile, nx, ny);
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

// A band of kTile picture rows as the composites take them: B, G, R rows of
// `pitch` bytes; no rows when nothing is drawn.
struct Band {
  uint8_t* rows;
  int64_t pitch;
};

// The tile at (x0, y0) filled into the grid, then read back from it (still
// in the first-level cache) into the band's rows. The vector code takes
// whole tiles with two more picture pixels right of them, into which its
// loads and its row stores reach (the next tile overwrites those bytes).
template <bool Avx2>
MPO_INLINE void pass_tile(const Fill& f, Tile& tile, const Band& band, int64_t x0, int64_t y0,
                          int64_t nx, int64_t ny) {
  const bool whole = nx == kTile && ny == kTile;
  if (Avx2 && whole && x0 + kTile + 2 <= f.w && y0 + kTile <= f.h) {
    fill_tile_avx2(f.grid, f.H + 1, TileSource{f.picture, f.w}, x0, y0);
    if (band.rows) read_tile_avx2(f.grid, f.H + 1, band.rows, band.pitch, x0, y0);
    return;
  }
  fill_tile(f, tile, x0, y0, nx, ny);
  if (band.rows == nullptr) return;
  const int64_t stride = f.H + 1;
  get_columns(tile, f.grid + x0 * stride + y0, stride, nx, ny);
  for (int64_t k = 0; k < ny; ++k) unpack_row(band.rows + k * band.pitch + 3 * x0, tile[k], nx);
}

// The band of rows from y0 on through the grid, tile by tile; whole tiles
// get constant extents.
template <bool Avx2>
MPO_INLINE void pass_band(const Fill& f, Tile& tile, const Band& band, int64_t y0, int64_t ny) {
  for (int64_t x0 = 0; x0 < f.W; x0 += kTile) {
    const int64_t nx = std::min(kTile, f.W - x0);
    if (nx == kTile && ny == kTile) {
      pass_tile<Avx2>(f, tile, band, x0, y0, kTile, kTile);
    } else {
      pass_tile<Avx2>(f, tile, band, x0, y0, nx, ny);
    }
  }
}

// dst[i] = src[i] (or 0 without src) for i < n. The canvases are not read
// again before the encoder, so their aligned 16-byte blocks are stored past
// the caches: no read of each line before it is overwritten. A StreamFence
// orders these stores before all later ones.
MPO_INLINE void stream_bytes(uint8_t* dst, const uint8_t* src, int64_t n) {
#if defined(__x86_64__)
  const int64_t head = std::min<int64_t>(n, (16 - reinterpret_cast<uintptr_t>(dst) % 16) % 16);
  const int64_t end = head + (n - head) / 16 * 16;
  if (src) {
    std::memcpy(dst, src, static_cast<size_t>(head));
    for (int64_t i = head; i < end; i += 16)
      _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    std::memcpy(dst + end, src + end, static_cast<size_t>(n - end));
  } else {
    std::memset(dst, 0, static_cast<size_t>(head));
    for (int64_t i = head; i < end; i += 16)
      _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), _mm_setzero_si128());
    std::memset(dst + end, 0, static_cast<size_t>(n - end));
  }
#else
  if (src) std::memcpy(dst, src, static_cast<size_t>(n));
  if (!src) std::memset(dst, 0, static_cast<size_t>(n));
#endif
}

// n pixels of B, G, R bytes from src, then black up to `total` pixels.
MPO_INLINE void put_pixels(uint8_t* dst, const uint8_t* src, int64_t n, int64_t total) {
  if (n > 0) stream_bytes(dst, src, 3 * n);
  stream_bytes(dst + 3 * n, nullptr, 3 * (total - n));
}

typedef uint8_t Bytes16 __attribute__((vector_size(16)));

// piece = pixels 1, 3, 5, ... of src, m of them; src holds 2 m pixels at
// least. Three at a time from 16 source bytes (pixels 1, 3, 5 at 0, 6, 12),
// each store reaching past the three into bytes the next one writes.
MPO_INLINE void gather_odd(uint8_t* piece, const uint8_t* src, int64_t m) {
  int64_t j = 0;
  for (; j + 3 < m; j += 3) {
    Bytes16 v;
    std::memcpy(&v, src + 6 * j + 3, sizeof v);
    v = __builtin_shufflevector(v, v, 0, 1, 2, 6, 7, 8, 12, 13, 14, 15, 15, 15, 15, 15, 15, 15);
    std::memcpy(piece + 3 * j, &v, sizeof v);
  }
  for (; j < m; ++j) std::memcpy(piece + 3 * j, src + 6 * j + 3, 3);
}

// Pixels 1, 3, 5, ... of src, n of them, then black up to `total` pixels,
// gathered in pieces in the first-level cache and streamed from there.
MPO_INLINE void put_odd_pixels(uint8_t* dst, const uint8_t* src, int64_t n, int64_t total) {
  constexpr int64_t kPiece = 256;
  uint8_t piece[3 * kPiece + 16];
  for (int64_t j0 = 0; j0 < n; j0 += kPiece) {
    const int64_t m = std::min(kPiece, n - j0);
    gather_odd(piece, src + 6 * j0, m);
    stream_bytes(dst + 3 * j0, piece, 3 * m);
  }
  stream_bytes(dst + 3 * n, nullptr, 3 * (total - n));
}

// Row y of half s (0 left, 1 right) of W x H halves in the three canvases:
// the row's first n pixels from src, black after them. Per pixel (x, y):
//   side-by-side:            pixel (s W + x, y)
//   half-width side-by-side: pixel (s (W div 2) + (x - 1) / 2, y)   for odd x < 2 (W div 2)
//   over/under:              pixel (x, s (H div 2) + y div 2)        for y of parity s, y < 2 (H div 2)
// Where W or H is odd, the half-width image's last column and the
// over/under image's last row are not drawn.
MPO_INLINE void draw_row(const std::array<PixelView, 3>& canvas, int s, int64_t W, int64_t H,
                         int64_t y, const uint8_t* src, int64_t n) {
  const PixelView& sbs = canvas[0];
  const PixelView& sbsh = canvas[1];
  const PixelView& ouh = canvas[2];
  const int64_t half_w = W / 2, half_h = H / 2;
  if (sbs.pixels) put_pixels(sbs.row(y) + 3 * s * W, src, n, W);
  if (sbsh.pixels) put_odd_pixels(sbsh.row(y) + 3 * s * half_w, src, n / 2, half_w);
  if (ouh.pixels && y % 2 == s && y < 2 * half_h)
    put_pixels(ouh.row(s * half_h + y / 2), src, n, W);
}

// One half, one band of kTile rows after the other: the band's tiles
// through the grid, then its rows drawn into the composites.
template <bool Avx2>
MPO_INLINE void half_body(const std::array<PixelView, 3>& canvas, int s, const Fill& f,
                          const Band& band) {
  alignas(64) Tile tile{};  // partial tiles leave stale parts unused
  for (int64_t y0 = 0; y0 < f.H; y0 += kTile) {
    const int64_t ny = std::min(kTile, f.H - y0);
    pass_band<Avx2>(f, tile, band, y0, ny);
    if (band.rows == nullptr) continue;
    for (int64_t k = 0; k < ny; ++k)
      draw_row(canvas, s, f.W, f.H, y0 + k, band.rows + k * band.pitch, f.W);
  }
}

void half_plain(const std::array<PixelView, 3>& canvas, int s, const Fill& f,
                const Band& band) {
  half_body<false>(canvas, s, f, band);
}

#if MPO_X86_VECTORS
MPO_TARGET_AVX2 void half_avx2(const std::array<PixelView, 3>& canvas, int s,
                           const Fill& f, const Band& band) {
  half_body<true>(canvas, s, f, band);
}
#endif

void sweep_half(const std::array<PixelView, 3>& canvas, int s, const Fill& f,
                const Band& band) {
#if MPO_X86_VECTORS
  if (cpu_features().avx2) return half_avx2(canvas, s, f, band);
#endif
  half_plain(canvas, s, f, band);
}

struct StreamFence {
#if defined(__x86_64__)
  ~StreamFence() { _mm_sfence(); }
#endif
};

}  // namespace

int64_t band_bytes(int64_t W) { return 3 * kTile * std::max<int64_t>(W, 1); }

void fill_and_draw(const std::array<PixelView, 3>& canvas, Halves& h) {
  if (!h.band_rows || h.band_size < band_bytes(h.width)) return;
  // Without a composite to draw the tiles only go into the grids.
  const bool draw = canvas[0].pixels || canvas[1].pixels || canvas[2].pixels;
  const Band band{draw ? h.band_rows.get() : nullptr, 3 * h.width};
  const StreamFence fence;
  const PixelView* pictures[2] = {&h.left_picture, &h.right_picture};
  PixelGrid* grids[2] = {&h.left, &h.right};
  for (int s = 0; s < 2; ++s) {
    const PixelView& picture = *pictures[s];
    const int64_t w = picture.pixels ? std::min(h.width, picture.width) : 0;
    const int64_t height = picture.pixels ? std::min(h.height, picture.height) : 0;
    sweep_half(canvas, s, Fill{grids[s]->data(), &picture, w, height, h.width, h.height}, band);
  }
}

void draw_composites(const std::array<PixelView, 3>& canvas, const Halves& h) {
  const StreamFence fence;
  const int64_t W = h.width, H = h.height;
  std::vector<uint8_t> row(static_cast<size_t>(3 * W));
  for (int s = 0; s < 2; ++s) {
    const PixelGrid& grid = s == 0 ? h.left : h.right;
    for (int64_t y = 0; y < H; ++y) {
      for (int64_t x = 0; x < W; ++x) {
        const int64_t colour = grid.at(x, y);
        row[3 * x] = static_cast<uint8_t>(colour >> 16);
        row[3 * x + 1] = static_cast<uint8_t>(colour >> 8);
        row[3 * x + 2] = static_cast<uint8_t>(colour);
      }
      draw_row(canvas, s, W, H, y, row.data(), W);
    }
  }
}

}  // namespace mpo
