#include "app/grid_passes.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "app/composites.h"

namespace mpo {

namespace {

// The grid is column-major with respect to the picture, so every copy is a
// transpose. It runs in bands of picture rows: the band's rows stay in the
// first-level cache while one grid column after the other is read or written
// in one contiguous run.
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
}  // namespace

void draw_composites(const std::array<PixelView, 3>& canvas, const Halves& h) {
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


void fill_grid(PixelGrid& grid, const PixelView& view, int64_t w, int64_t h) {
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

}  // namespace mpo
