#include "app/viewing_formats.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "app/anaglyph_rows.h"
#include "app/resample.h"

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

// sRGB samples as linear light in 0..65535, and back (nearest sample).
struct LightTables {
  uint16_t linear[256];
  uint8_t srgb[65536];
  // pair[a | b << 8] = linear[a] + linear[b].
  uint32_t pair[65536];
  LightTables() {
    double level[256];
    for (int v = 0; v < 256; ++v) {
      const double c = v / 255.0;
      level[v] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
      linear[v] = static_cast<uint16_t>(std::lround(level[v] * 65535.0));
    }
    int v = 0;
    for (int l = 0; l < 65536; ++l) {
      while (v < 255 && l >= (int(linear[v]) + int(linear[v + 1]) + 1) / 2) ++v;
      srgb[l] = static_cast<uint8_t>(v);
    }
    for (int k = 0; k < 65536; ++k) pair[k] = uint32_t(linear[k & 255]) + linear[k >> 8];
  }
};

const LightTables& light_tables() {
  static const LightTables tables;
  return tables;
}

// (sum + n / 2) / n by a multiplication: with m = ceil(2^40 / n) the
// product's top 24 bits are the quotient whenever (sum + n / 2)(m n - 2^40)
// < 2^40. A block holds fewer than 2^11 pixels (sides of at most 32767 give
// at most about 61 x 30), so that the sums stay below 2^27 and the product
// below 2^38.
class Quotient {
 public:
  explicit Quotient(uint32_t n) : half_(n / 2), m_(((uint64_t{1} << 40) + n - 1) / n) {}
  uint32_t operator()(uint32_t sum) const {
    return static_cast<uint32_t>((uint64_t{sum + half_} * m_) >> 40);
  }

 private:
  uint32_t half_;
  uint64_t m_;
};

// acc[k] += the light of sample k of rows `top` and `bottom`: one look-up
// for both.
// Runs of a fixed length, so that the compiler gathers several look-ups
// per instruction where the processor has them.
MPO_MIXING_PASS void add_row_pair(const uint8_t* __restrict top,
                                  const uint8_t* __restrict bottom, int64_t n,
                                  uint32_t* __restrict acc) {
  const uint32_t* __restrict pair = light_tables().pair;
  int64_t k = 0;
  for (; k + kBand <= n; k += kBand) {
    for (int64_t j = 0; j < kBand; ++j)
      acc[k + j] += pair[uint32_t(top[k + j]) | uint32_t(bottom[k + j]) << 8];
  }
  for (; k < n; ++k) acc[k] += pair[top[k] | bottom[k] << 8];
}

void add_row(const uint8_t* row, int64_t n, uint32_t* acc) {
  const uint16_t* linear = light_tables().linear;
  for (int64_t k = 0; k < n; ++k) acc[k] += linear[row[k]];
}

// small (X, Y) = the average light of the kx x ky block of `source` at
// (dx + kx X, ky Y) (blocks at the right and bottom edge cut to the picture),
// in 16-bit linear samples. The block's rows are summed sample by sample
// first, then the sums kx pixels at a time.
void box_reduce(const PixelView& source, int64_t dx, int64_t W, int64_t H, int64_t kx,
                int64_t ky, const Raster48& small) {
  std::vector<uint32_t> acc(static_cast<size_t>(3 * W));
  for (int64_t Y = 0; Y < small.height; ++Y) {
    std::fill(acc.begin(), acc.end(), 0);
    const int64_t rows = std::min(ky, H - ky * Y);
    int64_t y = ky * Y;
    for (; y + 1 < ky * Y + rows; y += 2)
      add_row_pair(source.row(y) + 3 * dx, source.row(y + 1) + 3 * dx, 3 * W, acc.data());
    if (y < ky * Y + rows) add_row(source.row(y) + 3 * dx, 3 * W, acc.data());
    uint16_t* out = small.samples + Y * small.stride;
    const uint32_t* a = acc.data();
    // Every block but the last in the row is kx pixels wide.
    const int64_t last = small.width - 1, last_cols = W - kx * last;
    const Quotient whole(static_cast<uint32_t>(rows * kx));
    const Quotient cut(static_cast<uint32_t>(rows * last_cols));
    for (int64_t X = 0; X <= last; ++X, out += 3) {
      const int64_t cols = X < last ? kx : last_cols;
      uint32_t b = 0, g = 0, r = 0;
      for (const uint32_t* end = a + 3 * cols; a < end; a += 3) b += a[0], g += a[1], r += a[2];
      const Quotient& average = X < last ? whole : cut;
      out[0] = static_cast<uint16_t>(average(b));
      out[1] = static_cast<uint16_t>(average(g));
      out[2] = static_cast<uint16_t>(average(r));
    }
  }
}

// `to` (bottom row first) = the nearest sRGB samples of `linear`.
void to_srgb(const Raster48& linear, const Raster24& to) {
  const LightTables& lt = light_tables();
  for (int64_t y = 0; y < linear.height; ++y) {
    const uint16_t* from = linear.samples + y * linear.stride;
    uint8_t* row = to.pixels - y * to.stride;
    for (int64_t k = 0; k < 3 * linear.width; ++k) row[k] = lt.srgb[from[k]];
  }
}

// Black outside the two w x h regions at (x0, y0) and (960 + x0, y0).
void clear_tv_borders(const PixelView& canvas, const TvLayout& t) {
  const int64_t half = kTvFrameWidth / 2;
  for (int64_t y = 0; y < kTvFrameHeight; ++y) {
    uint8_t* row = canvas.row(y);
    if (y < t.y0 || y >= t.y0 + t.h) {
      std::memset(row, 0, 3 * kTvFrameWidth);
      continue;
    }
    for (int64_t s = 0; s < 2; ++s) {
      uint8_t* start = row + 3 * s * half;
      std::memset(start, 0, 3 * t.x0);
      std::memset(start + 3 * (t.x0 + t.w), 0, 3 * (half - t.x0 - t.w));
    }
  }
}

}  // namespace

namespace {

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

void mix_rows(const PixelView& sbs, int64_t W, const PixelView& canvas) {
  for (int64_t y = 0; y < sbs.height; ++y)
    mix_anaglyph_row(sbs.row(y), sbs.row(y) + 3 * W, canvas.row(y), W);
}

}  // namespace

bool draw_anaglyph(const PixelView& sbs, const PixelView& canvas) {
  const int64_t W = half_width_of(sbs);
  if (W == 0 || !canvas_is(canvas, W, sbs.height)) return false;
  mix_rows(sbs, W, canvas);
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
  for (int64_t y = 0; y < H; ++y) {
    const uint8_t* from = sbs.row(y);
    uint8_t* to = canvas.row(y);
    std::memcpy(to, from + 3 * W, static_cast<size_t>(3 * W));
    std::memcpy(to + 3 * W, from, static_cast<size_t>(3 * W));
  }
  return true;
}

bool draw_cross(const Halves& h, const PixelView& canvas) {
  if (!halves_fit(h) || !canvas_is(canvas, 2 * h.width, h.height)) return false;
  copy_grid(canvas, 0, h.right, h.width, h.height);
  copy_grid(canvas, h.width, h.left, h.width, h.height);
  return true;
}

TvLayout tv_layout(int64_t W, int64_t H) {
  TvLayout t;
  if (W < 1 || H < 1) return t;
  // s = 1920 / W when 1920 / W <= 1080 / H, else 1080 / H; the quotients
  // rounded half up in integers.
  if (kTvFrameWidth * H <= kTvFrameHeight * W) {
    t.w = kTvFrameWidth / 2;
    t.h = (2 * kTvFrameWidth * H + W) / (2 * W);
  } else {
    t.w = (kTvFrameHeight * W + H) / (2 * H);
    t.h = kTvFrameHeight;
  }
  t.w = std::max<int64_t>(t.w, 1);
  t.h = std::max<int64_t>(t.h, 1);
  t.x0 = (kTvFrameWidth / 2 - t.w) / 2;
  t.y0 = (kTvFrameHeight - t.h) / 2;
  return t;
}

namespace {

// The side of the blocks that bring n samples down to the fewest not below
// m (between m and 2m); 1 when n < 2m.
int64_t block_side(int64_t n, int64_t m) { return n < 2 * m ? 1 : n / m; }

// Scales the half at columns dx..dx + W - 1 of `source` (W x H) into its
// region of the TV frame: first an exact area average over blocks in
// 16-bit linear light down to at most twice the region's size, then the
// Mitchell filter (resample) on those samples the rest of the way, and the
// result to sRGB.
bool scale_half(const PixelView& source, int64_t dx, int64_t W, int64_t H, const TvLayout& t,
                const PixelView& canvas, int64_t x) {
  const Raster24 to{canvas.row(t.y0) + 3 * x, t.w, t.h, canvas.pitch};
  const int64_t kx = block_side(W, t.w), ky = block_side(H, t.h);
  if (kx == 1 && ky == 1) {
    return resample({source.row(H - 1) + 3 * dx, W, H, source.pitch},
                    {canvas.row(t.y0 + t.h - 1) + 3 * x, t.w, t.h, canvas.pitch});
  }
  const int64_t w = (W + kx - 1) / kx, h = (H + ky - 1) / ky;
  std::unique_ptr<uint16_t[]> samples;
  try {
    samples = std::make_unique_for_overwrite<uint16_t[]>(static_cast<size_t>(3 * (w * h + t.w * t.h)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const Raster48 small{samples.get(), w, h, 3 * w};
  const Raster48 scaled{samples.get() + 3 * w * h, t.w, t.h, 3 * t.w};
  box_reduce(source, dx, W, H, kx, ky, small);
  if (!resample(small, scaled)) return false;
  to_srgb(scaled, to);
  return true;
}

bool tv_frame(const PixelView& source, int64_t W, int64_t H, const PixelView& canvas) {
  const TvLayout t = tv_layout(W, H);
  clear_tv_borders(canvas, t);
  for (int s = 0; s < 2; ++s) {
    if (!scale_half(source, s * W, W, H, t, canvas, s * (kTvFrameWidth / 2) + t.x0)) return false;
  }
  return true;
}

}  // namespace

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
  return tv_frame(source, W, H, canvas);
}

bool draw_tv_frame(const PixelView& sbs, const PixelView& canvas) {
  const int64_t W = half_width_of(sbs);
  if (W == 0 || !canvas_is(canvas, kTvFrameWidth, kTvFrameHeight)) return false;
  return tv_frame(sbs, W, sbs.height, canvas);
}

}  // namespace mpo
