// Bicubic resampling of a picture through an affine map in two passes:
// first along the rows, then along the columns (each 1-D, the Catmull-Rom
// cubic, 4 taps), which is exact for affine maps and several times cheaper
// than 16 taps per pixel. The column pass reads the row pass's rows from a
// ring of the few it needs, not from a whole intermediate picture. With AVX2 and FMA eight pixels go at a time;
// the plain code computes the same sums (with fused multiply-adds where the
// vector code has them).
#pragma once

#include <opencv2/core.hpp>

namespace mpo {

// dst(x, y) = src(m * (x, y, 1)) for every pixel of `dst` (CV_8UC3, as
// `src`); positions outside `src` take its nearest edge pixel. The map's
// (1, 1) element must not be 0. `vectors` false keeps to the plain code.
void cubic_warp(const cv::Mat& src, cv::Mat& dst, const cv::Matx23d& m, bool vectors = true);

}  // namespace mpo
