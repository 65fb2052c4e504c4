// A known misalignment of a rendered view: turned, scaled and moved down
// about the picture's centre, resampled with the Catmull-Rom cubic.
#include <algorithm>
#include <cmath>

#include "tools/mpogen/mpogen.h"

namespace mpogen {
namespace {

double cubic(double t) {
  t = std::abs(t);
  if (t < 1) return 1.5 * t * t * t - 2.5 * t * t + 1;
  if (t < 2) return -0.5 * t * t * t + 2.5 * t * t - 4 * t + 2;
  return 0;
}

}  // namespace

Bytes misaligned(const Bytes& rgb, int w, int h, double turn_degrees, double scale,
                 double shift_rows) {
  Bytes out(rgb.size());
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  const double a = turn_degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      // The view's point that lands here: shift, scale and turn undone.
      const double u = (x - cx) / scale, v = (y - shift_rows - cy) / scale;
      const double sx = c * u + s * v + cx, sy = -s * u + c * v + cy;
      const int ix = int(std::floor(sx)), iy = int(std::floor(sy));
      double sum[3] = {0, 0, 0};
      for (int j = -1; j <= 2; ++j) {
        const double wy = cubic(sy - (iy + j));
        const int yy = std::clamp(iy + j, 0, h - 1);
        for (int i = -1; i <= 2; ++i) {
          const double wgt = wy * cubic(sx - (ix + i));
          const uint8_t* p = rgb.data() + (size_t(yy) * w + std::clamp(ix + i, 0, w - 1)) * 3;
          for (int k = 0; k < 3; ++k) sum[k] += wgt * p[k];
        }
      }
      uint8_t* q = out.data() + (size_t(y) * w + x) * 3;
      for (int k = 0; k < 3; ++k) q[k] = uint8_t(std::clamp(std::lround(sum[k]), 0L, 255L));
    }
  }
  return out;
}

}  // namespace mpogen
