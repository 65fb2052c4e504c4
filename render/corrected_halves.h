// The corrected halves of a stereo pair: each half resampled once through
// its map into the output frame (or only cut, when nothing turns), cut to
// the part both halves cover and moved by the window shift.
#pragma once

#include <opencv2/core.hpp>

#include "image/image_service.h"
#include "render/stereo_plan.h"

namespace mpo {

// Fills `destination` (cut.width x cut.height) with the part `cut` of the
// output frame that `map` takes `source` to: bicubic resampling when
// `resample`, a plain copy of that part otherwise.
void draw_corrected(const PixelView& source, const cv::Matx33d& map, bool resample,
                    const cv::Rect& cut, const PixelView& destination);

// The threads the pixel analysis may use in this process (at least 1).
void set_analysis_threads(int threads);

}  // namespace mpo
