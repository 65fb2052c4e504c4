#include "render/stereo_window.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

namespace mpo {

namespace {

constexpr int kMatchWidth = 640;      // width the disparities are matched at
constexpr double kTexture = 4.0;      // mean horizontal gradient a pixel needs
constexpr double kMinValid = 0.01;    // share of pixels that must be measured
constexpr double kBand = 0.003;       // the near point's room behind the window

// Full-resolution position of reduced pixel r of the output frame part
// starting at `origin`, `factor` full pixels per reduced pixel.
cv::Matx33d reduced_to_full(double factor, cv::Point origin) {
  return {factor, 0, origin.x + factor / 2 - 0.5, 0, factor, origin.y + factor / 2 - 0.5,
          0,      0, 1};
}

// The reduced half as the plan's map puts it into the plan's rectangle, at
// the reduced half's scale.
cv::Mat placed(const ReducedHalf& half, const cv::Matx33d& map, const cv::Rect& rect) {
  const double f = half.factor;
  const cv::Size size(std::max(1, int(rect.width / f)), std::max(1, int(rect.height / f)));
  const cv::Matx33d to_source =
      reduced_to_full(f, {0, 0}).inv() * map.inv() * reduced_to_full(f, rect.tl());
  cv::Mat out;
  cv::warpPerspective(half.grey, out, cv::Mat(to_source), size,
                      cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
  return out;
}

cv::Mat shrunk(const cv::Mat& grey, int k) {
  if (k <= 1) return grey;
  cv::Mat out;
  cv::resize(grey, out, cv::Size(std::max(1, grey.cols / k), std::max(1, grey.rows / k)), 0, 0,
             cv::INTER_AREA);
  return out;
}

// Pixels with enough horizontal structure to be matched.
cv::Mat textured(const cv::Mat& grey) {
  cv::Mat dx, mean;
  cv::Sobel(grey, dx, CV_32F, 1, 0, 3, 0.25);
  cv::boxFilter(cv::abs(dx), mean, CV_32F, cv::Size(7, 7));
  return mean >= kTexture;
}

double percentile(std::vector<float>& values, double p) {
  const size_t k = std::min(values.size() - 1, static_cast<size_t>(p * double(values.size())));
  std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
  return values[k];
}

}  // namespace

DepthRange measure_depth(const ReducedHalf& left, const ReducedHalf& right,
                         const StereoPlan& plan) {
  DepthRange range;
  if (left.grey.empty() || right.grey.empty() || plan.rect.width < 32 || plan.rect.height < 32)
    return range;
  const cv::Mat l0 = placed(left, plan.left, plan.rect);
  const cv::Mat r0 = placed(right, plan.right, plan.rect);
  const int k = std::max(1, (l0.cols + kMatchWidth - 1) / kMatchWidth);
  const cv::Mat l = shrunk(l0, k), r = shrunk(r0, k);
  const int w = l.cols;
  const int low = -static_cast<int>(0.04 * w);
  const int count = 16 * std::max(1, static_cast<int>(std::ceil(0.14 * w / 16)));
  const int block = 5;
  const cv::Ptr<cv::StereoSGBM> sgbm = cv::StereoSGBM::create(
      low, count, block, 8 * block * block, 32 * block * block, 1, 31, 10, 100, 2,
      cv::StereoSGBM::MODE_SGBM);
  cv::Mat disparity;
  sgbm->compute(l, r, disparity);
  const cv::Mat texture = textured(l);
  // Full-resolution pixels per matched pixel.
  const double scale = double(plan.rect.width) / w;
  std::vector<float> d;
  for (int y = 0; y < disparity.rows; ++y) {
    const int16_t* row = disparity.ptr<int16_t>(y);
    const uint8_t* ok = texture.ptr<uint8_t>(y);
    for (int x = 0; x < disparity.cols; ++x) {
      if (row[x] < low * 16 || !ok[x]) continue;
      d.push_back(static_cast<float>(-row[x] / 16.0 * scale));
    }
  }
  if (d.size() < std::max<size_t>(200, size_t(kMinValid * double(disparity.total())))) return range;
  range.measured = true;
  range.near = percentile(d, 0.01);
  range.far = percentile(d, 0.99);
  range.permille = (range.far - range.near) / plan.rect.width * 1000;
  return range;
}

int window_shift(double near, int width) {
  int shift = static_cast<int>(std::lround(-near + kBand / 2 * width));
  for (int round = 0; round < 4; ++round) {
    const double room = kBand * (width - std::abs(shift));
    if (near + shift < 0) ++shift;
    else if (near + shift > room) --shift;
    else break;
  }
  return shift;
}

bool apply_window_shift(StereoPlan& plan, int shift) {
  if (std::abs(shift) >= plan.rect.width) return false;
  plan.shift = shift;
  return true;
}

}  // namespace mpo
