// The stereo window: the disparities d = x(right) - x(left) of a pair
// (d < 0 in front of the screen, 0 on it, d > 0 behind it), its near and
// far points, and the horizontal shift that puts the near point on the
// window.
#pragma once

#include <opencv2/core.hpp>

#include "render/stereo_plan.h"

namespace mpo {

struct DepthRange {
  bool measured = false;  // enough textured, consistent pixels
  double near = 0;        // 1st percentile of d, full-resolution pixels
  double far = 0;         // 99th percentile of d
  // (far - near) per mille of the width the disparities were measured on.
  double permille = 0;
};

// Disparities of the pair as `plan` leaves it (before its window shift),
// from semi-global block matching on reduced grey copies with a
// left-right check; pixels without texture are left out.
DepthRange measure_depth(const ReducedHalf& left, const ReducedHalf& right,
                         const StereoPlan& plan);

// The shift that moves a near point at `near` to the window or just behind
// it, 0 <= near + shift <= 0.003 * the width left after the shift.
int window_shift(double near, int width);

// The plan with the window shift; false (and the plan unchanged) when the
// shift would leave no picture.
bool apply_window_shift(StereoPlan& plan, int shift);

}  // namespace mpo
