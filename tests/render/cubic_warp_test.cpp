// The two-pass bicubic warp against the picture it samples: a smooth
// pattern turned, scaled and moved must come out as the pattern at the
// mapped positions.
#include <gtest/gtest.h>

#include <cmath>

#include "render/cubic_warp.h"

namespace mpo {
namespace {

double pattern(double x, double y, int channel) {
  return 128 + 60 * std::sin(x / (7.0 + channel)) * std::cos(y / 9.0);
}

// Turns either way, up to the steepest the fit accepts: the column pass
// reads the rows it needs from a ring of them, which turns over many times.
TEST(CubicWarp, SamplesTheMappedPositions) {
  cv::Mat src(300, 400, CV_8UC3), dst(280, 380, CV_8UC3);
  for (int y = 0; y < src.rows; ++y)
    for (int x = 0; x < src.cols; ++x)
      for (int c = 0; c < 3; ++c) src.at<cv::Vec3b>(y, x)[c] = uint8_t(std::lround(pattern(x, y, c)));
  for (const double degrees : {2.0, -5.0}) {
    SCOPED_TRACE(degrees);
    const double a = degrees * M_PI / 180, s = 1.02;
    const cv::Matx23d m(s * std::cos(a), -s * std::sin(a), 7.3, s * std::sin(a), s * std::cos(a),
                        -4.6);
    cubic_warp(src, dst, m);
    double sum = 0, worst = 0;
    int count = 0;
    for (int y = 10; y < dst.rows - 10; ++y) {
      for (int x = 10; x < dst.cols - 10; ++x) {
        const double xs = m(0, 0) * x + m(0, 1) * y + m(0, 2);
        const double ys = m(1, 0) * x + m(1, 1) * y + m(1, 2);
        if (xs < 2 || ys < 2 || xs > src.cols - 3 || ys > src.rows - 3) continue;
        for (int c = 0; c < 3; ++c) {
          const double e = std::abs(dst.at<cv::Vec3b>(y, x)[c] - pattern(xs, ys, c));
          sum += e, worst = std::max(worst, e), ++count;
        }
      }
    }
    EXPECT_LT(sum / count, 0.8);
    EXPECT_LT(worst, 3.0);
  }
}

// Eight pixels at a time where the taps allow, one at a time elsewhere (the
// edges, where a tap moves on): both must give the plain code's pixels, up
// to the rounding of fused multiply-adds, for turns either way, scales
// either side of 1 and widths that are no multiple of eight.
TEST(CubicWarp, VectorCodeGivesThePlainPixels) {
  cv::Mat src(120, 203, CV_8UC3);
  cv::randu(src, 0, 256);
  const struct { double degrees, scale; int width; } maps[] = {
      {2.0, 1.03, 190}, {-1.5, 0.97, 203}, {0.0, 1.0, 61}, {4.0, 1.1, 211}};
  for (const auto& [degrees, scale, width] : maps) {
    SCOPED_TRACE(degrees);
    const double a = degrees * M_PI / 180;
    const cv::Matx23d m(scale * std::cos(a), -scale * std::sin(a), -3.25,
                        scale * std::sin(a), scale * std::cos(a), 2.5);
    cv::Mat vector(115, width, CV_8UC3), plain(115, width, CV_8UC3);
    cubic_warp(src, vector, m, true);
    cubic_warp(src, plain, m, false);
    cv::Mat difference;
    cv::absdiff(vector, plain, difference);
    double most = 0;
    cv::minMaxLoc(difference.reshape(1), nullptr, &most);
    EXPECT_LE(most, 1.0);
  }
}

}  // namespace
}  // namespace mpo
