// How the two halves of a stereo pair are corrected: the map of each half
// into the common output frame, the rectangle both cover, and the window
// shift. Coordinates are full-resolution picture coordinates, x to the
// right and y down, with pixel centres at whole numbers.
#pragma once

#include <cstdint>

#include <opencv2/core.hpp>

#include "image/image_service.h"

namespace mpo {

// A grey copy of a half reduced by `factor` (top row first): reduced pixel
// r stands for the full-resolution position factor * (r + 0.5) - 0.5.
struct ReducedHalf {
  cv::Mat grey;  // CV_8UC1
  cv::Mat full;  // CV_8UC1, the grey half at full resolution, top row first
  double factor = 1;
  int64_t full_width = 0;
  int64_t full_height = 0;
};

// The half in `picture` reduced to a long side of at most `long_side`
// pixels (an integer factor). Empty grey for an empty picture.
ReducedHalf reduce_half(const PixelView& picture, int long_side);

struct StereoPlan {
  // Both halves are resampled through `left` and `right` (half to output
  // frame); otherwise only cut.
  bool resample = false;
  cv::Matx33d left = cv::Matx33d::eye();
  cv::Matx33d right = cv::Matx33d::eye();
  // The part of the output frame both maps fill, the same for both halves.
  cv::Rect rect;
  // Window shift in pixels: every disparity x(right) - x(left) grows by it.
  int shift = 0;

  bool changes_nothing() const;
  // The rectangles of the output frame each half is cut to (equal sizes).
  cv::Rect left_cut() const;
  cv::Rect right_cut() const;
};

// The plan that keeps a w x h pair as it is.
StereoPlan identity_plan(int64_t w, int64_t h);

// The largest axis-parallel rectangle of the output frame whose pixels map
// back inside both w x h halves through `left` and `right`. Empty when
// there is none.
cv::Rect common_rectangle(const cv::Matx33d& left, const cv::Matx33d& right, int64_t w,
                          int64_t h);

}  // namespace mpo
