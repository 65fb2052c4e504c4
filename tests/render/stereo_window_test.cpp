// The stereo window on a synthetic pair: a textured background on the
// screen (d = 0) and a textured box in front of it at a known disparity.
#include <gtest/gtest.h>

#include <vector>

#include "render/stereo_window.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

constexpr int kW = 1200, kH = 900, kNear = -30;

// B, G, R rows bottom first, as the image slots hold them.
struct Picture {
  std::vector<uint8_t> bytes;
  PixelView view;
};

// The background with the box pasted in, moved by `box_shift` pixels.
Picture view_with_box(const mpogen::Bytes& background, const mpogen::Bytes& box, int box_shift) {
  Picture p;
  const int64_t pitch = pitch_for_width(kW);
  p.bytes.assign(size_t(pitch * kH), 0);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const int bx = x - box_shift;
      const bool in_box = y >= kH / 4 && y < 3 * kH / 4 && bx >= kW / 3 && bx < 2 * kW / 3;
      const uint8_t* rgb = in_box ? &box[(size_t(y) * kW + bx) * 3] : &background[(size_t(y) * kW + x) * 3];
      for (int k = 0; k < 3; ++k) p.bytes[size_t((kH - 1 - y) * pitch + 3 * x + k)] = rgb[2 - k];
    }
  }
  p.view = PixelView{p.bytes.data(), kW, kH, pitch};
  return p;
}

TEST(StereoWindow, NearObjectIsPutOnTheWindow) {
  mpogen::Options o;
  o.width = kW;
  o.height = kH;
  o.disparity = 0;
  const mpogen::Bytes background = mpogen::render_view(o, 0);
  o.seed = 9;
  const mpogen::Bytes box = mpogen::render_view(o, 0);
  const Picture left = view_with_box(background, box, 0);
  const Picture right = view_with_box(background, box, kNear);
  const DepthRange depth = measure_depth(reduce_half(left.view, 1280),
                                         reduce_half(right.view, 1280), identity_plan(kW, kH));
  ASSERT_TRUE(depth.measured);
  EXPECT_NEAR(depth.near, kNear, 2.0);
  EXPECT_NEAR(depth.far, 0, 2.0);
  EXPECT_NEAR(depth.permille, -kNear * 1000.0 / kW, 2.0);
  // The shift puts the near point at or just behind the window.
  const int shift = window_shift(depth.near, kW);
  EXPECT_GE(depth.near + shift, 0);
  EXPECT_LE(depth.near + shift, 0.003 * (kW - shift));
  StereoPlan plan = identity_plan(kW, kH);
  ASSERT_TRUE(apply_window_shift(plan, shift));
  EXPECT_EQ(plan.left_cut().size(), plan.right_cut().size());
  EXPECT_EQ(plan.left_cut().x - plan.right_cut().x, shift);
}

}  // namespace
}  // namespace mpo
