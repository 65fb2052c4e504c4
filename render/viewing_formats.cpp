#include "render/viewing_formats.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "render/anaglyph_rows.h"

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

// view (dx + x, top + k) = grid (x, y0 + k) for x < w, k < n.
void copy_band(const PixelView& view, int64_t top, int64_t dx, const PixelGrid& grid, int64_t w,
               int64_t y0, int64_t n) {
  const int64_t stride = grid.q() + 1;
  uint8_t* first = view.row(top) + 3 * dx;
  for (int64_t x = 0; x < w; ++x) {
    const int64_t* column = grid.data() + x * stride + y0;
    if (x + kAhead < w) prefetch_run(column + kAhead * stride, n);
    uint8_t* pixel = first + 3 * x;
    for (int64_t k = 0; k < n; ++k) put_bgr(pixel - k * view.pitch, column[k]);
  }
}

// view (dx + x, y) = grid (x, y) for x < w, y < h.
void copy_grid(const PixelView& view, int64_t dx, const PixelGrid& grid, int64_t w, int64_t h) {
  for (int64_t y0 = 0; y0 < h; y0 += kBand)
    copy_band(view, y0, dx, grid, w, y0, std::min(kBand, h - y0));
}

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

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

// A band of rows at a time: both grids' rows side by side, then mixed as
// the side-by-side image's rows are.
bool draw_anaglyph(const Halves& h, const PixelView& canvas) {
  if (!halves_fit(h) || !canvas_is(canvas, h.width, h.height)) return false;
  const int64_t W = h.width, H = h.height;
  Buffer band(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(6 * W * kBand))));
  if (!band) return false;
  const PixelView rows{band.get(), 2 * W, kBand, 6 * W};
  for (int64_t y0 = 0; y0 < H; y0 += kBand) {
    const int64_t n = std::min(kBand, H - y0);
    copy_band(rows, 0, 0, h.left, W, y0, n);
    copy_band(rows, 0, W, h.right, W, y0, n);
    for (int64_t k = 0; k < n; ++k) anaglyph_row(rows, k, canvas.row(y0 + k));
  }
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

bool draw_side_by_side(const Halves& h, const PixelView& canvas) {
  if (!halves_fit(h) || !canvas_is(canvas, 2 * h.width, h.height)) return false;
  copy_grid(canvas, 0, h.left, h.width, h.height);
  copy_grid(canvas, h.width, h.right, h.width, h.height);
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
