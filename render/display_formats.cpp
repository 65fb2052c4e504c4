#include "render/display_formats.h"

#include <algorithm>
#include <cstring>

namespace mpo {

namespace {

// Black outside the region t of `screen`.
void clear_around(const PixelView& screen, const TvLayout& t) {
  for (int64_t y = 0; y < screen.height; ++y) {
    uint8_t* row = screen.row(y);
    if (y < t.y0 || y >= t.y0 + t.h) {
      std::memset(row, 0, static_cast<size_t>(3 * screen.width));
      continue;
    }
    std::memset(row, 0, static_cast<size_t>(3 * t.x0));
    std::memset(row + 3 * (t.x0 + t.w), 0, static_cast<size_t>(3 * (screen.width - t.x0 - t.w)));
  }
}

}  // namespace

void over_under_row(const PixelView& sbs, int64_t y, uint8_t* out) {
  const int64_t W = sbs.width / 2;
  const uint8_t* from = y < sbs.height ? sbs.row(y) : sbs.row(y - sbs.height) + 3 * W;
  std::memcpy(out, from, static_cast<size_t>(3 * W));
}

void anaglyph_row(const PixelView& sbs, int64_t y, AnaglyphType type, uint8_t* out) {
  const int64_t W = sbs.width / 2;
  mix_anaglyph_row(anaglyph_matrices(type), sbs.row(y), sbs.row(y) + 3 * W, out, W);
}

TvLayout fit_layout(int64_t W, int64_t H, int64_t SW, int64_t SH) {
  TvLayout t;
  if (W < 1 || H < 1 || SW < 1 || SH < 1) return t;
  if (SW * H <= SH * W) {
    t.w = SW;
    t.h = (2 * SW * H + W) / (2 * W);
  } else {
    t.w = (2 * SH * W + H) / (2 * H);
    t.h = SH;
  }
  t.w = std::clamp<int64_t>(t.w, 1, SW);
  t.h = std::clamp<int64_t>(t.h, 1, SH);
  t.x0 = (SW - t.w) / 2;
  t.y0 = (SH - t.h) / 2;
  return t;
}

bool draw_fitted_half(const PixelView& sbs, int s, const PixelView& screen) {
  const int64_t W = sbs.width / 2, H = sbs.height;
  if (W < 1 || H < 1 || screen.pixels == nullptr) return false;
  const TvLayout t = fit_layout(W, H, screen.width, screen.height);
  clear_around(screen, t);
  // The region as a picture of its own: its rows are the screen's.
  const PixelView region{screen.row(t.y0 + t.h - 1) + 3 * t.x0, t.w, t.h, screen.pitch};
  return scale_picture(sbs, s * W, W, H, region);
}

void interleave_row(const PixelView& left, const PixelView& right, Interleave kind,
                    bool odd_left, int64_t y, uint8_t* out) {
  const uint8_t* even = (odd_left ? right : left).row(y);
  const uint8_t* odd = (odd_left ? left : right).row(y);
  const int64_t n = left.width;
  if (kind == Interleave::rows) {
    std::memcpy(out, y % 2 == 0 ? even : odd, static_cast<size_t>(3 * n));
    return;
  }
  // Columns: x even from `even`; checker: x + y even.
  const int64_t shift = kind == Interleave::checker ? y % 2 : 0;
  for (int64_t x = 0; x < n; ++x) {
    const uint8_t* from = (x + shift) % 2 == 0 ? even : odd;
    std::memcpy(out + 3 * x, from + 3 * x, 3);
  }
}

}  // namespace mpo
