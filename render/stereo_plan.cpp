#include "render/stereo_plan.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace mpo {

namespace {

// Where a row's pixels may lie: [low, high] (low > high: nowhere).
struct Span {
  double low = -std::numeric_limits<double>::infinity();
  double high = std::numeric_limits<double>::infinity();
  // Keeps the x with a * x + b >= 0.
  void keep(double a, double b) {
    if (a > 0) low = std::max(low, -b / a);
    else if (a < 0) high = std::min(high, -b / a);
    else if (b < 0) high = -std::numeric_limits<double>::infinity();
  }
};

// Narrows `span` to the x of output row y that `to_half` (output frame to
// half) takes inside a w x h half.
void keep_inside(Span& span, const cv::Matx33d& to_half, double y, double w, double h) {
  const cv::Matx33d& m = to_half;
  // Source (sx, sy, sw) = (m00 x + m01 y + m02, ...), each linear in x.
  const double a0 = m(0, 0), b0 = m(0, 1) * y + m(0, 2);
  const double a1 = m(1, 0), b1 = m(1, 1) * y + m(1, 2);
  const double a2 = m(2, 0), b2 = m(2, 1) * y + m(2, 2);
  span.keep(a2, b2);                                  // in front of the camera
  span.keep(a0, b0);                                  // sx >= 0
  span.keep((w - 1) * a2 - a0, (w - 1) * b2 - b0);    // sx <= w - 1
  span.keep(a1, b1);                                  // sy >= 0
  span.keep((h - 1) * a2 - a1, (h - 1) * b2 - b1);    // sy <= h - 1
}

}  // namespace

ReducedHalf reduce_half(const PixelView& picture, int long_side) {
  ReducedHalf half;
  if (!picture.pixels || picture.width < 1 || picture.height < 1) return half;
  const int64_t side = std::max(picture.width, picture.height);
  const int factor = static_cast<int>(std::max<int64_t>(1, (side + long_side - 1) / long_side));
  // The picture is stored bottom row first: the matrix sees it upside down.
  const cv::Mat stored(static_cast<int>(picture.height), static_cast<int>(picture.width), CV_8UC3,
                       picture.pixels, static_cast<size_t>(picture.pitch));
  cv::Mat grey, small;
  cv::cvtColor(stored, grey, cv::COLOR_BGR2GRAY);
  const cv::Size size(std::max(1, grey.cols / factor), std::max(1, grey.rows / factor));
  if (factor > 1) cv::resize(grey, small, size, 0, 0, cv::INTER_AREA);
  else small = grey;
  cv::flip(small, half.grey, 0);
  cv::flip(grey, half.full, 0);
  half.factor = static_cast<double>(picture.width) / half.grey.cols;
  half.full_width = picture.width;
  half.full_height = picture.height;
  return half;
}

bool StereoPlan::changes_nothing() const {
  return !resample && shift == 0 && rect.x == 0 && rect.y == 0;
}

cv::Rect StereoPlan::left_cut() const {
  const int s = std::abs(shift);
  return {rect.x + std::max(shift, 0), rect.y, std::max(rect.width - s, 0), rect.height};
}

cv::Rect StereoPlan::right_cut() const {
  const int s = std::abs(shift);
  return {rect.x + std::max(-shift, 0), rect.y, std::max(rect.width - s, 0), rect.height};
}

StereoPlan identity_plan(int64_t w, int64_t h) {
  StereoPlan plan;
  plan.rect = cv::Rect(0, 0, static_cast<int>(w), static_cast<int>(h));
  return plan;
}

cv::Rect common_rectangle(const cv::Matx33d& left, const cv::Matx33d& right, int64_t w,
                          int64_t h) {
  if (w < 1 || h < 1) return {};
  const cv::Matx33d to_left = left.inv(), to_right = right.inv();
  std::vector<double> low(static_cast<size_t>(h)), high(static_cast<size_t>(h));
  for (int64_t y = 0; y < h; ++y) {
    Span span;
    span.keep(1, 0);                                 // x >= 0
    span.keep(-1, static_cast<double>(w - 1));       // x <= w - 1
    keep_inside(span, to_left, static_cast<double>(y), w, h);
    keep_inside(span, to_right, static_cast<double>(y), w, h);
    low[static_cast<size_t>(y)] = std::ceil(span.low - 1e-9);
    high[static_cast<size_t>(y)] = std::floor(span.high + 1e-9);
  }
  // The valid part is convex: a rectangle is valid when its corners are.
  // Its top lies in the upper third, its bottom in the lower third.
  cv::Rect best;
  double best_area = 0;
  const int64_t top_end = std::max<int64_t>(1, h / 3 + 1);
  for (int64_t y0 = 0; y0 < top_end && y0 < h; ++y0) {
    for (int64_t y1 = h - 1; y1 >= y0 && y1 >= 2 * h / 3 - 1; --y1) {
      const double x0 = std::max(low[size_t(y0)], low[size_t(y1)]);
      const double x1 = std::min(high[size_t(y0)], high[size_t(y1)]);
      if (x1 < x0) continue;
      const double area = (x1 - x0 + 1) * double(y1 - y0 + 1);
      if (area > best_area) {
        best_area = area;
        best = cv::Rect(int(x0), int(y0), int(x1 - x0 + 1), int(y1 - y0 + 1));
      }
    }
  }
  return best;
}

}  // namespace mpo
