#include "app/viewing_formats.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "app/anaglyph_rows.h"

// With GCC on x86-64 the anaglyph's mixing is compiled for AVX2 (eight
// 32-bit products per instruction) beside the baseline; the program picks at
// its start what the processor runs.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define MPO_MIXING_PASS __attribute__((target_clones("avx2", "default")))
#else
#define MPO_MIXING_PASS
#endif

namespace mpo {

namespace {

// The grids are column-major with respect to the picture: every pass over
// them runs in bands of picture rows, so that the band's rows of the target
// stay in the first-level cache while one grid column after the other is
// read in one contiguous run.
constexpr int64_t kBand = 64;
// Column runs lie far apart, where the hardware does not look ahead: the run
// kAhead columns on is fetched in advance.
constexpr int64_t kAhead = 4;

inline void prefetch_run(const int64_t* run, int64_t n) {
  constexpr int64_t kPerLine = 64 / sizeof(int64_t);
  for (int64_t k = 0; k < n; k += kPerLine) __builtin_prefetch(run + k, 0);
}

inline void put_bgr(uint8_t* bgr, int64_t colour) {
  bgr[0] = static_cast<uint8_t>(colour >> 16);
  bgr[1] = static_cast<uint8_t>(colour >> 8);
  bgr[2] = static_cast<uint8_t>(colour);
}

bool halves_fit(const Halves& h) {
  const int64_t W = h.width, H = h.height;
  auto covers = [&](const PixelGrid& g) { return g && g.p() >= W - 1 && g.q() >= H - 1; };
  return h.usable && W > 0 && H > 0 && covers(h.left) && covers(h.right);
}

bool canvas_is(const PixelView& c, int64_t w, int64_t h) {
  return c.pixels != nullptr && c.width == w && c.height == h && c.pitch >= 3 * w;
}

// The halves' width when `sbs` is a side-by-side image of two halves.
int64_t half_width_of(const PixelView& sbs) {
  return sbs.pixels != nullptr && sbs.width >= 2 && sbs.width % 2 == 0 && sbs.height >= 1 &&
                 sbs.pitch >= 3 * sbs.width
             ? sbs.width / 2
             : 0;
}

// floor((v + 500) / 1000) clamped to 0..255: the clamp comes first, after
// which the sum is not negative and truncation is the floor.
inline uint32_t thousandths_to_sample(int32_t v) {
  return static_cast<uint32_t>(std::clamp(v + 500, 0, 255999)) / 1000;
}

// out[k] = the anaglyph pixel of left[k] and right[k] as a colour value, by
// Dubois's matrices in thousandths (rows: output red, green, blue; columns:
// input red, green, blue):
//   left  [[437, 449, 164], [-62, -62, -24], [-48, -50, -17]]
//   right [[-11, -32, -7], [377, 761, 9], [-26, -93, 1234]]
// A whole band at a time, with a fixed count, so that the compiler runs
// several pixels per instruction.
[[gnu::always_inline]] inline void mix_band(const int64_t* left, const int64_t* right,
                                            uint32_t* out) {
  for (int64_t k = 0; k < kBand; ++k) {
    const auto l = static_cast<int32_t>(left[k]), r = static_cast<int32_t>(right[k]);
    const int32_t lr = l & 255, lg = (l >> 8) & 255, lb = (l >> 16) & 255;
    const int32_t rr = r & 255, rg = (r >> 8) & 255, rb = (r >> 16) & 255;
    const uint32_t red =
        thousandths_to_sample(437 * lr + 449 * lg + 164 * lb - 11 * rr - 32 * rg - 7 * rb);
    const uint32_t green =
        thousandths_to_sample(-62 * lr - 62 * lg - 24 * lb + 377 * rr + 761 * rg + 9 * rb);
    const uint32_t blue =
        thousandths_to_sample(-48 * lr - 50 * lg - 17 * lb - 26 * rr - 93 * rg + 1234 * rb);
    out[k] = red | green << 8 | blue << 16;
  }
}

// view (dx + x, y) = grid (x, y) for x < w, y < h.
void copy_grid(const PixelView& view, int64_t dx, const PixelGrid& grid, int64_t w, int64_t h) {
  const int64_t stride = grid.q() + 1;
  for (int64_t y0 = 0; y0 < h; y0 += kBand) {
    const int64_t n = std::min(kBand, h - y0);
    uint8_t* top = view.row(y0) + 3 * dx;
    for (int64_t x = 0; x < w; ++x) {
      const int64_t* column = grid.data() + x * stride + y0;
      if (x + kAhead < w) prefetch_run(column + kAhead * stride, n);
      uint8_t* pixel = top + 3 * x;
      for (int64_t k = 0; k < n; ++k) put_bgr(pixel - k * view.pitch, column[k]);
    }
  }
}

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

MPO_MIXING_PASS void mix_picture(const Halves& h, const PixelView& canvas) {
  const int64_t W = h.width, H = h.height;
  const int64_t ls = h.left.q() + 1, rs = h.right.q() + 1;
  // The last band's runs, padded to a whole band.
  int64_t left_tail[kBand] = {}, right_tail[kBand] = {};
  uint32_t mixed[kBand];
  for (int64_t y0 = 0; y0 < H; y0 += kBand) {
    const int64_t n = std::min(kBand, H - y0);
    uint8_t* top = canvas.row(y0);
    for (int64_t x = 0; x < W; ++x) {
      const int64_t* left = h.left.data() + x * ls + y0;
      const int64_t* right = h.right.data() + x * rs + y0;
      if (x + kAhead < W) {
        prefetch_run(left + kAhead * ls, n);
        prefetch_run(right + kAhead * rs, n);
      }
      if (n < kBand) {
        left = std::copy_n(left, n, left_tail) - n;
        right = std::copy_n(right, n, right_tail) - n;
      }
      mix_band(left, right, mixed);
      uint8_t* pixel = top + 3 * x;
      for (int64_t k = 0; k < n; ++k) put_bgr(pixel - k * canvas.pitch, mixed[k]);
    }
  }
}

}  // namespace

void anaglyph_row(const PixelView& sbs, int64_t y, uint8_t* out) {
  const int64_t W = sbs.width / 2;
  mix_anaglyph_row(sbs.row(y), sbs.row(y) + 3 * W, out, W);
}

void cross_row(const PixelView& sbs, int64_t y, uint8_t* out) {
  const int64_t W = sbs.width / 2;
  const uint8_t* from = sbs.row(y);
  std::memcpy(out, from + 3 * W, static_cast<size_t>(3 * W));
  std::memcpy(out + 3 * W, from, static_cast<size_t>(3 * W));
}

bool draw_anaglyph(const PixelView& sbs, const PixelView& canvas) {
  const int64_t W = half_width_of(sbs);
  if (W == 0 || !canvas_is(canvas, W, sbs.height)) return false;
  for (int64_t y = 0; y < sbs.height; ++y) anaglyph_row(sbs, y, canvas.row(y));
  return true;
}

bool draw_anaglyph(const Halves& h, const PixelView& canvas) {
  if (!halves_fit(h) || !canvas_is(canvas, h.width, h.height)) return false;
  mix_picture(h, canvas);
  return true;
}

bool draw_cross(const PixelView& sbs, const PixelView& canvas) {
  const int64_t W = half_width_of(sbs), H = sbs.height;
  if (W == 0 || !canvas_is(canvas, 2 * W, H)) return false;
  for (int64_t y = 0; y < H; ++y) cross_row(sbs, y, canvas.row(y));
  return true;
}

bool draw_cross(const Halves& h, const PixelView& canvas) {
  if (!halves_fit(h) || !canvas_is(canvas, 2 * h.width, h.height)) return false;
  copy_grid(canvas, 0, h.right, h.width, h.height);
  copy_grid(canvas, h.width, h.left, h.width, h.height);
  return true;
}

// From the grids, each half is first copied into one packed picture laid
// out like the side-by-side image.
bool draw_tv_frame(const Halves& h, const PixelView& canvas) {
  if (!halves_fit(h) || !canvas_is(canvas, kTvFrameWidth, kTvFrameHeight)) return false;
  const int64_t W = h.width, H = h.height;
  Buffer packed(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(6 * W * H))));
  if (!packed) return false;
  const PixelView source{packed.get(), 2 * W, H, 6 * W};
  copy_grid(source, 0, h.left, W, H);
  copy_grid(source, W, h.right, W, H);
  return scale_to_tv_frame(source, W, H, canvas);
}

bool draw_tv_frame(const PixelView& sbs, const PixelView& canvas) {
  const int64_t W = half_width_of(sbs);
  if (W == 0 || !canvas_is(canvas, kTvFrameWidth, kTvFrameHeight)) return false;
  return scale_to_tv_frame(sbs, W, sbs.height, canvas);
}

}  // namespace mpo
