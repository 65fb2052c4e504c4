#include "render/corrected_halves.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "render/cubic_warp.h"

namespace mpo {

namespace {

// Pictures are stored bottom row first: a matrix over their bytes sees row
// n - 1 - y where the picture has row y.
cv::Mat stored(const PixelView& view) {
  return cv::Mat(static_cast<int>(view.height), static_cast<int>(view.width), CV_8UC3,
                 view.pixels, static_cast<size_t>(view.pitch));
}

cv::Matx33d flip_rows(int64_t n) { return {1, 0, 0, 0, -1, double(n - 1), 0, 0, 1}; }

bool affine(const cv::Matx33d& m) {
  return std::abs(m(2, 0)) < 1e-12 && std::abs(m(2, 1)) < 1e-12 && std::abs(m(2, 2) - 1) < 1e-12;
}

}  // namespace

void draw_corrected(const PixelView& source, const cv::Matx33d& map, bool resample,
                    const cv::Rect& cut, const PixelView& destination) {
  if (!source.pixels || !destination.pixels) return;
  if (!resample) {
    const size_t bytes = static_cast<size_t>(3 * destination.width);
    for (int64_t y = 0; y < destination.height; ++y)
      std::memcpy(destination.row(y), source.row(cut.y + y) + 3 * cut.x, bytes);
    return;
  }
  const cv::Matx33d shift(1, 0, cut.x, 0, 1, cut.y, 0, 0, 1);
  cv::Matx33d to_source =
      flip_rows(source.height) * map.inv() * shift * flip_rows(destination.height);
  to_source *= 1.0 / to_source(2, 2);
  const cv::Mat from = stored(source);
  cv::Mat to = stored(destination);
  const int flags = cv::INTER_CUBIC | cv::WARP_INVERSE_MAP;
  if (affine(to_source)) {
    const cv::Matx23d m(to_source(0, 0), to_source(0, 1), to_source(0, 2), to_source(1, 0),
                        to_source(1, 1), to_source(1, 2));
    cubic_warp(from, to, m);
  } else {
    cv::warpPerspective(from, to, to_source, to.size(), flags, cv::BORDER_REPLICATE);
  }
}

void set_analysis_threads(int threads) { cv::setNumThreads(std::max(1, threads)); }

}  // namespace mpo
