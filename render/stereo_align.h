// Measuring how far the right half of a stereo pair is turned, scaled and
// shifted vertically against the left one, from features matched between
// reduced grey copies, and the correction that removes the vertical part
// of that misalignment, split between the two eyes. Horizontal disparity
// is depth and stays.
#pragma once

#include <opencv2/core.hpp>

#include "render/stereo_plan.h"

namespace mpo {

enum class AlignStatus {
  aligned,          // the correction lowers the vertical error
  already_aligned,  // no correction measurably lowers it: left as it is
  too_few_matches,  // sky, fog, a wall: too little to measure
  implausible,      // more than a camera pair can be off
  unequal_halves,   // halves of different sizes
};

// The vertical misalignment model, in full-resolution pixels about the
// picture's centre (u, v): for matched points the right half's row minus
// the left half's row is
//   rotation * u + roll * disparity + log(scale) * v + keystone * u * v + shift
// where u, v are the pair's mean position and disparity x(right) - x(left).
// rotation turns the right half against the left; roll turns the pair's
// baseline against the rows; keystone is the trace of converging cameras.
struct PairModel {
  double rotation = 0;  // radians
  double roll = 0;      // radians
  double log_scale = 0;
  double keystone = 0;  // per pixel
  double shift = 0;     // pixels
  cv::Point2d centre;
};

// Maps of the left and right half into the common output frame that take
// out the model's misalignment, half of it on each side.
cv::Matx33d left_map(const PairModel& model);
cv::Matx33d right_map(const PairModel& model);

struct AlignResult {
  AlignStatus status = AlignStatus::too_few_matches;
  PairModel model;  // what was measured (zero unless aligned)
  int matches = 0;  // matches the fit used
  // Vertical residual of those matches after the correction, full pixels:
  // mean and 95th percentile of its size.
  double residual_mean = 0;
  double residual_p95 = 0;
};

// Features matched between the reduced halves, outliers removed robustly,
// the model fitted by least squares on the vertical residuals. Terms beyond
// rotation, scale and shift (and the correction at all) are only kept where
// they lower the error on matches held out of the fit. A result beyond 5
// degrees, 10 % of the height or 10 % in scale is implausible.
AlignResult measure_alignment(const ReducedHalf& left, const ReducedHalf& right);

// The plan that applies `result` (an identity plan unless aligned).
StereoPlan alignment_plan(const AlignResult& result, int64_t w, int64_t h);

}  // namespace mpo
