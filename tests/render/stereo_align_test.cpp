// Stereo alignment on generated camera pairs: a right view misaligned by a
// known rotation, scale and vertical shift must come out with the vertical
// disparity gone, judged by composing the known misalignment with the
// corrected maps (not by the fit's own matches).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/stereo_align.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

// A view as the image slots hold it: B, G, R, bottom row first.
struct Picture {
  std::vector<uint8_t> bytes;
  PixelView view;
};

Picture picture_of(const mpogen::Bytes& rgb, int w, int h) {
  Picture p;
  const int64_t pitch = pitch_for_width(w);
  p.bytes.assign(size_t(pitch * h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < 3; ++k)
        p.bytes[size_t((h - 1 - y) * pitch + 3 * x + k)] = rgb[(size_t(y) * w + x) * 3 + 2 - k];
  p.view = PixelView{p.bytes.data(), w, h, pitch};
  return p;
}

struct Pair {
  Picture left, right;
  mpogen::Options options;
};

Pair generated_pair(double turn, double scale, double shift_rows, int disparity = 40,
                    uint32_t seed = 3) {
  Pair pair;
  mpogen::Options& o = pair.options;
  o.width = 1600;
  o.height = 1200;
  o.seed = seed;
  o.disparity = disparity;
  const mpogen::Bytes l = mpogen::render_view(o, 0);
  const mpogen::Bytes r = mpogen::misaligned(mpogen::render_view(o, 1), o.width, o.height, turn,
                                             scale, shift_rows);
  pair.left = picture_of(l, o.width, o.height);
  pair.right = picture_of(r, o.width, o.height);
  return pair;
}

AlignResult measured(const Pair& pair) {
  return measure_alignment(reduce_half(pair.left.view, 1280), reduce_half(pair.right.view, 1280));
}

cv::Point2d through(const cv::Matx33d& m, cv::Point2d p) {
  const cv::Vec3d q = m * cv::Vec3d(p.x, p.y, 1);
  return {q[0] / q[2], q[1] / q[2]};
}

struct Error {
  double mean = 0, p95 = 0;
};

// The vertical disparity the corrected pair leaves: a scene point at p in
// the left view with disparity d lies at the known misalignment of p + (d, 0)
// in the right view; both go through the plan's maps.
Error vertical_error(const StereoPlan& plan, const mpogen::Options& o, double turn, double scale,
                     double shift_rows) {
  const double cx = (o.width - 1) / 2.0, cy = (o.height - 1) / 2.0;
  const double a = turn * M_PI / 180;
  std::vector<double> e;
  for (double y = 0.05 * o.height; y < 0.95 * o.height; y += o.height / 20.0) {
    for (double x = 0.05 * o.width; x < 0.95 * o.width; x += o.width / 20.0) {
      for (double d : {0.0, -0.5 * o.disparity, -1.0 * o.disparity}) {
        const double u = x + d - cx, v = y - cy;
        const cv::Point2d right(scale * (std::cos(a) * u - std::sin(a) * v) + cx,
                                scale * (std::sin(a) * u + std::cos(a) * v) + cy + shift_rows);
        e.push_back(std::abs(through(plan.right, right).y - through(plan.left, {x, y}).y));
      }
    }
  }
  Error err;
  for (double v : e) err.mean += v / double(e.size());
  std::sort(e.begin(), e.end());
  err.p95 = e[size_t(0.95 * double(e.size()))];
  return err;
}

struct Case {
  double turn, scale, shift_rows;
};

// Known misalignments recovered within tolerance; the maps taken the wrong
// way round would double the error instead of removing it.
TEST(StereoAlign, KnownMisalignmentsAreRemoved) {
  for (const Case c : {Case{2.0, 1.0, 0.0}, Case{-1.2, 1.03, 20.0}, Case{0.5, 0.97, -36.0},
                       Case{0.0, 1.0, 36.0}}) {
    const Pair pair = generated_pair(c.turn, c.scale, c.shift_rows);
    const AlignResult result = measured(pair);
    ASSERT_EQ(result.status, AlignStatus::aligned) << c.turn << " " << c.scale;
    EXPECT_NEAR(result.model.rotation * 180 / M_PI, c.turn, 0.05);
    EXPECT_NEAR(std::exp(result.model.log_scale), c.scale, 0.002);
    EXPECT_NEAR(result.model.shift, c.shift_rows, 1.0);
    const StereoPlan plan = alignment_plan(result, pair.options.width, pair.options.height);
    const Error err = vertical_error(plan, pair.options, c.turn, c.scale, c.shift_rows);
    std::printf("turn %.2f scale %.3f shift %.1f: mean %.3f p95 %.3f px (fit %.3f / %.3f, %d)\n",
                c.turn, c.scale, c.shift_rows, err.mean, err.p95, result.residual_mean,
                result.residual_p95, result.matches);
    EXPECT_LE(err.mean, 0.4);
    EXPECT_LE(err.p95, 1.2);
  }
}

// Disparity is depth: a pair with only horizontal disparity (already
// aligned) is left as it is, however deep the scene.
TEST(StereoAlign, HorizontalDisparityIsKept) {
  const Pair pair = generated_pair(0, 1, 0, 80, 5);
  const AlignResult result = measured(pair);
  EXPECT_EQ(result.status, AlignStatus::already_aligned);
  EXPECT_TRUE(alignment_plan(result, 1600, 1200).changes_nothing());
}

// The same pair measures the same whatever ran before it on the thread: a
// batch's order or its workers must not change an entry's correction.
TEST(StereoAlign, SameMeasureWhateverRanBefore) {
  const Pair pair = generated_pair(1.0, 1.01, 12);
  const AlignResult first = measured(pair);
  for (int k = 0; k < 7; ++k) cv::theRNG().next();
  const AlignResult second = measured(pair);
  EXPECT_EQ(first.matches, second.matches);
  EXPECT_EQ(first.residual_mean, second.residual_mean);
  EXPECT_TRUE(left_map(first.model) == left_map(second.model));
}

// Too little to measure, or more than a camera pair can be off: refused.
TEST(StereoAlign, FeaturelessAndAbsurdPairsAreRefused) {
  Pair fog = generated_pair(0, 1, 0);
  for (size_t i = 0; i < fog.left.bytes.size(); ++i)
    fog.left.bytes[i] = fog.right.bytes[i] = uint8_t(120 + (i / 9000) % 8);
  EXPECT_EQ(measured(fog).status, AlignStatus::too_few_matches);
  EXPECT_EQ(measured(generated_pair(0, 1, 180)).status, AlignStatus::implausible);
  EXPECT_EQ(measured(generated_pair(0, 1.15, 0)).status, AlignStatus::implausible);
}

}  // namespace
}  // namespace mpo
