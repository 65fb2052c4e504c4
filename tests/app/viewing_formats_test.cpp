#include "render/viewing_formats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "render/grid_passes.h"

namespace mpo {
namespace {

using Colour = int64_t;  // red + 256 green + 65536 blue
using Fill = std::function<Colour(int64_t x, int64_t y)>;

Colour rgb(int r, int g, int b) { return r | (g << 8) | (b << 16); }

Halves make_halves(int64_t W, int64_t H, const Fill& left, const Fill& right) {
  Halves h;
  allocate_grid(h.left, W, H);
  allocate_grid(h.right, W, H);
  for (int64_t x = 0; x < W; ++x) {
    for (int64_t y = 0; y < H; ++y) {
      h.left.at(x, y) = left(x, y);
      h.right.at(x, y) = right(x, y);
    }
  }
  h.width = W;
  h.height = H;
  h.usable = true;
  return h;
}

Fill constant(Colour c) {
  return [c](int64_t, int64_t) { return c; };
}

// A plain buffer whose every byte, row padding included, starts as kJunk.
constexpr uint8_t kJunk = 0x5A;
struct Canvas {
  std::vector<uint8_t> bytes;
  PixelView view;
  Canvas(int64_t w, int64_t h)
      : bytes(pitch_for_width(w) * h, kJunk), view{bytes.data(), w, h, pitch_for_width(w)} {}
  Colour at(int64_t x, int64_t y) const {
    const uint8_t* p = view.row(y) + 3 * x;
    return rgb(p[2], p[1], p[0]);
  }
  bool padding_untouched() const {
    for (int64_t y = 0; y < view.height; ++y)
      for (int64_t i = 3 * view.width; i < view.pitch; ++i)
        if (view.row(y)[i] != kJunk) return false;
    return true;
  }
};

// The anaglyph of one pixel pair, in floating point.
Colour dubois(Colour l, Colour r) {
  static const double kL[3][3] = {{437, 449, 164}, {-62, -62, -24}, {-48, -50, -17}};
  static const double kR[3][3] = {{-11, -32, -7}, {377, 761, 9}, {-26, -93, 1234}};
  Colour out = 0;
  for (int c = 0; c < 3; ++c) {
    double v = 0;
    for (int i = 0; i < 3; ++i)
      v += kL[c][i] * ((l >> (8 * i)) & 255) + kR[c][i] * ((r >> (8 * i)) & 255);
    out |= Colour(std::clamp(std::floor(v / 1000 + 0.5), 0.0, 255.0)) << (8 * c);
  }
  return out;
}

TEST(ViewingFormats, AnaglyphAndCrossDrawEveryPixel) {
  // Odd sizes, one and three bands of rows, single columns and rows; a right
  // half smaller than the left leaves its grid black outside it.
  struct Shape { int64_t W, H, right_w, right_h; };
  for (const Shape s : {Shape{37, 29, 37, 29}, Shape{1, 5, 1, 5}, Shape{5, 1, 5, 1},
                        Shape{19, 131, 11, 70}}) {
    SCOPED_TRACE(testing::Message() << s.W << "x" << s.H);
    std::mt19937 rng(s.W);
    const Halves h = make_halves(
        s.W, s.H, [&](int64_t, int64_t) { return Colour(rng() & 0xFFFFFF); },
        [&](int64_t x, int64_t y) {
          return x < s.right_w && y < s.right_h ? Colour(rng() & 0xFFFFFF) : 0;
        });
    Canvas ana(s.W, s.H), cross(2 * s.W, s.H);
    ASSERT_TRUE(draw_anaglyph(h, ana.view));
    ASSERT_TRUE(draw_cross(h, cross.view));
    for (int64_t y = 0; y < s.H; ++y) {
      for (int64_t x = 0; x < s.W; ++x) {
        ASSERT_EQ(ana.at(x, y), dubois(h.left.at(x, y), h.right.at(x, y))) << x << "," << y;
        ASSERT_EQ(cross.at(x, y), h.right.at(x, y)) << x << "," << y;
        ASSERT_EQ(cross.at(s.W + x, y), h.left.at(x, y)) << x << "," << y;
      }
    }
    EXPECT_TRUE(ana.padding_untouched());
    EXPECT_TRUE(cross.padding_untouched());
  }
  // A canvas of another size is left alone.
  const Halves h = make_halves(8, 6, constant(1), constant(2));
  Canvas other(7, 6), tv(kTvFrameWidth, kTvFrameHeight - 1);
  EXPECT_FALSE(draw_anaglyph(h, other.view) || draw_cross(h, other.view) ||
               draw_tv_frame(h, tv.view));
  EXPECT_EQ(std::count(other.bytes.begin(), other.bytes.end(), kJunk), other.bytes.size());
}

TEST(ViewingFormats, AnaglyphRoundsHalfUpAndClampsBothEnds) {
  struct Case { Colour left, right, want; };
  const Case cases[] = {
      {rgb(255, 255, 255), rgb(255, 255, 255), rgb(255, 255, 255)},
      {0, 0, 0},
      {rgb(255, 0, 0), 0, rgb(111, 0, 0)},  // green and blue sums below zero
      {0, rgb(0, 255, 0), rgb(0, 194, 0)},  // red -8.16, blue -23.7
      {0, rgb(0, 0, 255), rgb(0, 2, 255)},  // blue 314.67
      {rgb(1, 87, 0), 0, rgb(40, 0, 0)},    // red exactly 39.5
      {rgb(1, 38, 0), 0, rgb(17, 0, 0)},    // red 17.499
      {0, rgb(0, 16, 0), rgb(0, 12, 0)},    // red -0.512
  };
  const int64_t n = std::size(cases);
  const Halves h = make_halves(
      n, 1, [&](int64_t x, int64_t) { return cases[x].left; },
      [&](int64_t x, int64_t) { return cases[x].right; });
  Canvas ana(n, 1);
  ASSERT_TRUE(draw_anaglyph(h, ana.view));
  for (int64_t x = 0; x < n; ++x) EXPECT_EQ(ana.at(x, 0), cases[x].want) << "case " << x;
  // From the side-by-side rows, where the eight pixels are one vector.
  Canvas sbs(2 * n, 1), from_rows(n, 1);
  draw_composites({sbs.view, PixelView{}, PixelView{}}, h);
  ASSERT_TRUE(draw_anaglyph(sbs.view, from_rows.view));
  EXPECT_EQ(from_rows.bytes, ana.bytes);
}

TEST(ViewingFormats, TvLayoutScalesToFitAndCentres) {
  struct Case { int64_t W, H; TvLayout want; };
  const Case cases[] = {
      {3648, 2736, {720, 1080, 120, 0}},  // 4:3
      {1920, 1080, {960, 1080, 0, 0}},    // 16:9
      {2736, 3648, {405, 1080, 277, 0}},  // portrait
      {4000, 1000, {960, 480, 0, 300}},   // panorama
      {1, 1, {540, 1080, 210, 0}},
      {7, 3, {960, 823, 0, 128}},         // 822.86
      {1, 3000, {1, 1080, 479, 0}},       // 0.18 pixels wide
  };
  for (const Case& c : cases) {
    const TvLayout t = tv_layout(c.W, c.H);
    EXPECT_EQ(std::vector<int64_t>({t.w, t.h, t.x0, t.y0}),
              std::vector<int64_t>({c.want.w, c.want.h, c.want.x0, c.want.y0}))
        << c.W << "x" << c.H;
  }
  // Any size fills the half frame one way and, on a display that stretches
  // each half to double width, keeps the picture's proportions.
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    const int64_t W = 100 + rng() % 8000, H = 100 + rng() % 8000;
    const TvLayout t = tv_layout(W, H);
    ASSERT_TRUE((t.w == 960 && t.h <= 1080) || (t.h == 1080 && t.w <= 960)) << W << "x" << H;
    ASSERT_EQ(t.x0 * 2 + t.w % 2, 960 - t.w);
    ASSERT_EQ(t.y0 * 2 + t.h % 2, 1080 - t.h);
    const double shown = 2.0 * t.w / t.h, real = double(W) / H;
    ASSERT_LE(std::abs(shown / real - 1), 1.0 / t.w + 1.0 / t.h) << W << "x" << H;
  }
}

// The TV frame of two uniform W x H halves: each half's colour exactly
// over its region, black everywhere else.
void expect_uniform_tv_frame(int64_t W, int64_t H, Colour left, Colour right) {
  const Halves h = make_halves(W, H, constant(left), constant(right));
  Canvas tv(kTvFrameWidth, kTvFrameHeight);
  ASSERT_TRUE(draw_tv_frame(h, tv.view));
  const TvLayout t = tv_layout(W, H);
  for (int64_t y = 0; y < kTvFrameHeight; ++y) {
    for (int64_t x = 0; x < kTvFrameWidth; ++x) {
      const int64_t u = x % 960;
      const bool inside = u >= t.x0 && u < t.x0 + t.w && y >= t.y0 && y < t.y0 + t.h;
      ASSERT_EQ(tv.at(x, y), inside ? (x < 960 ? left : right) : 0) << x << "," << y;
    }
  }
}

TEST(ViewingFormats, TvFrameKeepsUniformHalvesWithinBlackBorders) {
  struct Case { int64_t W, H; Colour left, right; };
  for (const Case c : {Case{2000, 1500, rgb(200, 17, 90), rgb(3, 250, 128)},  // shrunk
                       // blocks of 6 x 3, the last ones cut to 4 columns, 1 row
                       Case{2200, 3301, rgb(254, 1, 77), rgb(0, 129, 255)},
                       Case{32, 18, rgb(1, 2, 254), rgb(255, 255, 255)},      // enlarged
                       Case{30, 41, rgb(128, 128, 128), rgb(77, 0, 200)},     // portrait
                       Case{1, 1, rgb(9, 99, 199), rgb(254, 1, 60)},
                       Case{3, 1, rgb(255, 0, 0), rgb(0, 0, 1)}}) {
    SCOPED_TRACE(testing::Message() << c.W << "x" << c.H);
    expect_uniform_tv_frame(c.W, c.H, c.left, c.right);
  }
}

// Halves hundreds of times taller than wide (or wider than tall) shrink to
// regions of one or two pixels across, where the scaling library would read
// and write past short rows: every aspect ratio up to the decoder's limit
// of 32767 pixels gives the plain frame. Run under valgrind as well: the
// library is not instrumented for the sanitizers.
TEST(ViewingFormats, TvFrameOfExtremeAspectRatios) {
  for (const int64_t n : {2, 3, 4, 5, 7, 400, 720, 1080, 1439, 2160, 3000, 8191, 30000, 32767}) {
    SCOPED_TRACE(testing::Message() << "1 x " << n << " and " << n << " x 1");
    expect_uniform_tv_frame(1, n, rgb(250, 3, 128), rgb(0, 255, 17));
    expect_uniform_tv_frame(n, 1, rgb(1, 2, 3), rgb(254, 253, 252));
    expect_uniform_tv_frame(2, n, rgb(1, 2, 3), rgb(254, 253, 252));
    expect_uniform_tv_frame(n, 2, rgb(250, 3, 128), rgb(0, 255, 17));
  }
}

TEST(ViewingFormats, TvFrameKeepsHalvesUprightAndAveragesLight) {
  // Quadrants of different colours, sampled in the middle of each quadrant
  // of each region, far from where the filter blends them.
  const int64_t W = 400, H = 300;
  auto quadrants = [=](int base) {
    return [=](int64_t x, int64_t y) {
      return rgb(base + 10 * (x >= W / 2), base + 10 * (y >= H / 2), 7);
    };
  };
  const Halves h = make_halves(W, H, quadrants(50), quadrants(150));
  Canvas tv(kTvFrameWidth, kTvFrameHeight);
  ASSERT_TRUE(draw_tv_frame(h, tv.view));
  const TvLayout t = tv_layout(W, H);
  for (int s = 0; s < 2; ++s)
    for (int qx = 0; qx < 2; ++qx)
      for (int qy = 0; qy < 2; ++qy)
        EXPECT_EQ(tv.at(960 * s + t.x0 + t.w * (1 + 2 * qx) / 4, t.y0 + t.h * (1 + 2 * qy) / 4),
                  rgb(50 + 100 * s + 10 * qx, 50 + 100 * s + 10 * qy, 7))
            << s << qx << qy;

  // Black and white columns shrunk to half width blend to the grey of half
  // the light (sRGB 188), not to the middle code value 128.
  const Fill stripes = [](int64_t x, int64_t) { return x % 2 ? rgb(255, 255, 255) : 0; };
  ASSERT_TRUE(draw_tv_frame(make_halves(3840, 4, stripes, stripes), tv.view));
  const Colour grey = tv.at(480, kTvFrameHeight / 2);
  EXPECT_NEAR(grey & 255, 188, 4);
  EXPECT_EQ(grey, (grey & 255) * 0x010101);
}

// From the side-by-side image every format gets the very pixels that the
// grids give: odd sizes (a last band or run cut short), a half shrunk by
// blocks and by the filter alone.
TEST(ViewingFormats, SideBySideSourceGivesTheGridsPixels) {
  std::mt19937 random(7);
  auto noise = [&random](int64_t, int64_t) { return Colour(random() & 0xFFFFFF); };
  for (const auto& [W, H] : {std::pair<int64_t, int64_t>{67, 45}, {3001, 130}, {1000, 2200}}) {
    SCOPED_TRACE(testing::Message() << W << "x" << H);
    const Halves h = make_halves(W, H, noise, noise);
    Canvas sbs(2 * W, H);
    draw_composites({sbs.view, PixelView{}, PixelView{}}, h);
    Canvas a(W, H), b(W, H), x(2 * W, H), y(2 * W, H);
    ASSERT_TRUE(draw_anaglyph(h, a.view) && draw_anaglyph(sbs.view, b.view));
    EXPECT_EQ(a.bytes, b.bytes);
    Canvas tv(kTvFrameWidth, kTvFrameHeight), tv2(kTvFrameWidth, kTvFrameHeight);
    ASSERT_TRUE(draw_cross(h, x.view) && draw_cross(sbs.view, y.view));
    EXPECT_EQ(x.bytes, y.bytes);
    ASSERT_TRUE(draw_tv_frame(h, tv.view) && draw_tv_frame(sbs.view, tv2.view));
    EXPECT_EQ(tv.bytes, tv2.bytes);
  }
}

}  // namespace
}  // namespace mpo
