#include "render/cubic_warp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace mpo {

namespace {

constexpr int kPhases = 64;   // fractional positions the weights are kept for
constexpr int kBits = 14;     // fixed-point weights: 1 << kBits is one
constexpr int kFixed = 16;    // fixed-point positions: 1 << kFixed is a pixel

using Weights = std::array<std::array<int32_t, 4>, kPhases + 1>;

// Catmull-Rom weights of the taps at -1, 0, 1, 2 for each phase.
const Weights& weights() {
  static const Weights table = [] {
    Weights w{};
    for (int p = 0; p <= kPhases; ++p) {
      const double t = double(p) / kPhases;
      const double c[4] = {((-0.5 * t + 1.0) * t - 0.5) * t, (1.5 * t - 2.5) * t * t + 1,
                           ((-1.5 * t + 2.0) * t + 0.5) * t, (0.5 * t - 0.5) * t * t};
      int sum = 0;
      for (int k = 0; k < 4; ++k) sum += w[p][k] = int32_t(std::lround(c[k] * (1 << kBits)));
      w[p][1] += (1 << kBits) - sum;
    }
    return w;
  }();
  return table;
}

inline uint8_t clamp_pixel(int32_t v) {
  v = (v + (1 << (kBits - 1))) >> kBits;
  return uint8_t(std::clamp(v, 0, 255));
}

// The weighted sum of four pixels `stride` bytes apart, per channel.
inline void put_sum(uint8_t* out, const uint8_t* px, ptrdiff_t stride,
                    const std::array<int32_t, 4>& k) {
  for (int c = 0; c < 3; ++c) {
    out[c] = clamp_pixel(k[0] * px[c] + k[1] * px[c + stride] + k[2] * px[c + 2 * stride] +
                         k[3] * px[c + 3 * stride]);
  }
}

// out[x] = row at p * x + c, for x < n (3 channels); row has `w` pixels.
void resample_row(const uint8_t* row, int w, uint8_t* out, int n, double p, double c) {
  const Weights& table = weights();
  const int64_t step = std::llround(p * (1 << kFixed));
  int64_t pos = std::llround(c * (1 << kFixed));
  for (int x = 0; x < n; ++x, pos += step) {
    const int64_t i = pos >> kFixed;
    const auto& k = table[size_t((pos >> (kFixed - 6)) & (kPhases - 1))];
    if (i >= 1 && i + 2 < w) {
      put_sum(out + 3 * x, row + 3 * (i - 1), 3, k);
      continue;
    }
    uint8_t taps[12];
    for (int t = 0; t < 4; ++t) {
      const uint8_t* px = row + 3 * std::clamp<int64_t>(i - 1 + t, 0, w - 1);
      taps[3 * t] = px[0], taps[3 * t + 1] = px[1], taps[3 * t + 2] = px[2];
    }
    put_sum(out + 3 * x, taps, 3, k);
  }
}

// out row y: column x taken at row a * x + c of `mid` (h rows), n pixels.
void resample_columns(const cv::Mat& mid, uint8_t* out, int n, double a, double c) {
  const Weights& table = weights();
  const int h = mid.rows;
  const ptrdiff_t stride = ptrdiff_t(mid.step[0]);
  const int64_t step = std::llround(a * (1 << kFixed));
  int64_t pos = std::llround(c * (1 << kFixed));
  for (int x = 0; x < n; ++x, pos += step) {
    const int64_t i = pos >> kFixed;
    const auto& k = table[size_t((pos >> (kFixed - 6)) & (kPhases - 1))];
    if (i >= 1 && i + 2 < h) {
      put_sum(out + 3 * x, mid.data + (i - 1) * stride + 3 * x, stride, k);
      continue;
    }
    uint8_t taps[12];
    for (int t = 0; t < 4; ++t) {
      const uint8_t* px = mid.ptr<uint8_t>(int(std::clamp<int64_t>(i - 1 + t, 0, h - 1))) + 3 * x;
      taps[3 * t] = px[0], taps[3 * t + 1] = px[1], taps[3 * t + 2] = px[2];
    }
    put_sum(out + 3 * x, taps, 3, k);
  }
}

}  // namespace

void cubic_warp(const cv::Mat& src, cv::Mat& dst, const cv::Matx23d& m) {
  // With ys = m10 x + m11 y + m12, xs = m00 x + m01 y + m02 is, along
  // source row ys, p * x + q * ys + r: the first pass fills the
  // intermediate (destination columns, source rows) along rows, the second
  // takes each destination pixel from its column.
  const double p = m(0, 0) - m(0, 1) * m(1, 0) / m(1, 1), q = m(0, 1) / m(1, 1);
  const double r = m(0, 2) - m(0, 1) * m(1, 2) / m(1, 1);
  // The intermediate's memory stays with the thread and only grows: fresh
  // pages for every picture would cost as much as a pass.
  thread_local cv::Mat room;
  const size_t bytes = size_t(src.rows) * size_t(dst.cols) * 3;
  if (room.total() < bytes) room.create(1, int(bytes), CV_8UC1);
  cv::Mat mid(src.rows, dst.cols, CV_8UC3, room.data);
  cv::parallel_for_(cv::Range(0, src.rows), [&](const cv::Range& rows) {
    for (int v = rows.start; v < rows.end; ++v)
      resample_row(src.ptr<uint8_t>(v), src.cols, mid.ptr<uint8_t>(v), dst.cols, p, q * v + r);
  });
  cv::parallel_for_(cv::Range(0, dst.rows), [&](const cv::Range& rows) {
    for (int y = rows.start; y < rows.end; ++y)
      resample_columns(mid, dst.ptr<uint8_t>(y), dst.cols, m(1, 0), m(1, 1) * y + m(1, 2));
  });
}

}  // namespace mpo
