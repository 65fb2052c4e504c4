#include "render/cubic_warp.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

#include "render/cpu_features.h"

#if MPO_X86_VECTORS
#include <immintrin.h>
#endif

namespace mpo {

namespace {

constexpr int kFixed = 16;  // fixed-point positions: 1 << kFixed is a pixel
constexpr int64_t kFraction = (int64_t{1} << kFixed) - 1;
constexpr float kUnit = 1.0f / float(1 << kFixed);
constexpr int kWeightBits = 14;  // the vector code's weights: 1 << 14 is one

// One resampled line: output pixel x lies at the fixed-point position
// first + step * x of its source line, whose pixels are `stride` bytes
// apart and `count` long. In the row pass the source line is a picture row
// (stride 3); in the column pass the pixels of a column (stride one row),
// each output pixel reading its own column.
struct Line {
  const uint8_t* source;
  ptrdiff_t stride;
  int64_t count;
  int64_t first;
  int64_t step;
  ptrdiff_t column_step;  // source bytes from one output pixel to the next, besides the taps
};

template <bool kFused>
inline float madd(float a, float b, float c) {
  if constexpr (kFused) return std::fma(a, b, c);
  else return a * b + c;
}

// The Catmull-Rom cubic's weights of the taps at -1, 0, 1, 2 for the
// fraction t, in the order of operations of the vector code.
template <bool kFused>
inline void weights(float t, float w[4]) {
  w[0] = madd<kFused>(madd<kFused>(-0.5f, t, 1.0f), t, -0.5f) * t;
  w[1] = madd<kFused>(madd<kFused>(1.5f, t, -2.5f) * t, t, 1.0f);
  w[2] = madd<kFused>(madd<kFused>(-1.5f, t, 2.0f), t, 0.5f) * t;
  w[3] = madd<kFused>(0.5f, t, -0.5f) * t * t;
}

// Output pixel x of the line, its taps clamped to the line's ends.
template <bool kFused>
inline void blend_pixel(const Line& line, int64_t x, uint8_t* out) {
  const int64_t pos = line.first + line.step * x;
  float w[4];
  weights<kFused>(float(pos & kFraction) * kUnit, w);
  const int64_t i = pos >> kFixed;
  const uint8_t* column = line.source + line.column_step * x;
  const uint8_t* tap[4];
  for (int t = 0; t < 4; ++t)
    tap[t] = column + line.stride * std::clamp<int64_t>(i - 1 + t, 0, line.count - 1);
  for (int c = 0; c < 3; ++c) {
    float sum = float(tap[0][c]) * w[0];
    for (int t = 1; t < 4; ++t) sum = madd<kFused>(float(tap[t][c]), w[t], sum);
    out[3 * x + c] = uint8_t(std::clamp(std::nearbyint(sum), 0.0f, 255.0f));
  }
}

void blend_line_plain(const Line& line, int64_t n, uint8_t* out) {
  for (int64_t x = 0; x < n; ++x) blend_pixel<false>(line, x, out);
}

#if MPO_X86_VECTORS
#define MPO_AVX2_FMA MPO_TARGET_AVX2_FMA

// The vector code's weights: computed as weights() does, then rounded to
// kWeightBits fraction bits.
MPO_AVX2_FMA inline __m256i fixed_weight(__m256 weight) {
  return _mm256_cvtps_epi32(_mm256_mul_ps(weight, _mm256_set1_ps(float(1 << kWeightBits))));
}

// Eight output pixels (24 samples) from taps whose samples lie `stride`
// bytes apart, tap 0's at `base`; `t` holds the pixels' fractions. Tap 1's
// weight is what makes the four add up to one exactly, so that a flat area
// stays flat; the taps are summed in pairs in integers, at an error far
// below the output's own rounding.
MPO_AVX2_FMA inline void blend8(const uint8_t* base, ptrdiff_t stride, __m256 t, uint8_t* out) {
  const __m256i w0 = fixed_weight(_mm256_mul_ps(
      _mm256_fmadd_ps(_mm256_fmadd_ps(_mm256_set1_ps(-0.5f), t, _mm256_set1_ps(1.0f)), t,
                      _mm256_set1_ps(-0.5f)),
      t));
  const __m256i w2 = fixed_weight(_mm256_mul_ps(
      _mm256_fmadd_ps(_mm256_fmadd_ps(_mm256_set1_ps(-1.5f), t, _mm256_set1_ps(2.0f)), t,
                      _mm256_set1_ps(0.5f)),
      t));
  const __m256i w3 = fixed_weight(_mm256_mul_ps(
      _mm256_mul_ps(_mm256_fmadd_ps(_mm256_set1_ps(0.5f), t, _mm256_set1_ps(-0.5f)), t), t));
  const __m256i w1 = _mm256_sub_epi32(_mm256_set1_epi32(1 << kWeightBits),
                                      _mm256_add_epi32(_mm256_add_epi32(w0, w2), w3));
  // Per pixel the weights of taps 0 and 1 (and of taps 2 and 3) as one pair
  // of 16-bit numbers, in the order of the paired samples.
  const __m256i low = _mm256_set1_epi32(0xFFFF);
  const __m256i pairs[2] = {_mm256_or_si256(_mm256_and_si256(w0, low), _mm256_slli_epi32(w1, 16)),
                            _mm256_or_si256(_mm256_and_si256(w2, low), _mm256_slli_epi32(w3, 16))};
  // Each pixel's weights spread over its three samples.
  const __m256i spread[3] = {_mm256_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2),
                             _mm256_setr_epi32(2, 3, 3, 3, 4, 4, 4, 5),
                             _mm256_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7)};
  __m256i rounded[3];
  for (int part = 0; part < 3; ++part) {
    const uint8_t* p = base + 8 * part;
    __m256i sum = _mm256_set1_epi32(1 << (kWeightBits - 1));
    for (int k = 0; k < 4; k += 2) {
      const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + k * stride));
      const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + (k + 1) * stride));
      const __m256i samples = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(a, b));
      const __m256i weights = _mm256_permutevar8x32_epi32(pairs[k / 2], spread[part]);
      sum = _mm256_add_epi32(sum, _mm256_madd_epi16(samples, weights));
    }
    rounded[part] = _mm256_srai_epi32(sum, kWeightBits);
  }
  const __m256i first = _mm256_permute4x64_epi64(_mm256_packs_epi32(rounded[0], rounded[1]), 0xD8);
  const __m256i last = _mm256_permute4x64_epi64(_mm256_packs_epi32(rounded[2], rounded[2]), 0xD8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_packus_epi16(_mm256_castsi256_si128(first), _mm256_extracti128_si256(first, 1)));
  const __m128i tail = _mm256_castsi256_si128(last);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm_packus_epi16(tail, tail));
}

// The taps of eight pixels gathered into `taps`, tap k's 24 samples at
// 24 k, each pixel's clamped to the line's ends.
inline void gather8(const Line& line, int64_t x, uint8_t* taps) {
  for (int64_t j = 0; j < 8; ++j) {
    const int64_t i = (line.first + line.step * (x + j)) >> kFixed;
    const uint8_t* column = line.source + line.column_step * (x + j);
    for (int64_t k = 0; k < 4; ++k) {
      const uint8_t* px = column + line.stride * std::clamp<int64_t>(i - 1 + k, 0, line.count - 1);
      std::memcpy(taps + 24 * k + 3 * j, px, 3);
    }
  }
}

// Eight pixels at a time. Where all their taps lie inside the line and step
// along with them (in the row pass the first taps of the eight are eight
// neighbouring pixels, in the column pass one row) they are read where
// they are, elsewhere gathered first; the last pixels one at a time.
MPO_AVX2_FMA void blend_line_avx2(const Line& line, int64_t n, uint8_t* out) {
  const bool rows = line.column_step == 0;
  const int64_t advance = rows ? 7 : 0;
  const __m256i steps = _mm256_mullo_epi32(_mm256_set1_epi32(int32_t(line.step & kFraction)),
                                           _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  int64_t x = 0;
  for (; x + 8 <= n; x += 8) {
    const int64_t pos = line.first + line.step * x;
    const int64_t i = pos >> kFixed;
    const __m256i fraction = _mm256_and_si256(
        _mm256_add_epi32(_mm256_set1_epi32(int32_t(pos & kFraction)), steps),
        _mm256_set1_epi32(int32_t(kFraction)));
    const __m256 t = _mm256_mul_ps(_mm256_cvtepi32_ps(fraction), _mm256_set1_ps(kUnit));
    if (i >= 1 && ((pos + 7 * line.step) >> kFixed) == i + advance && i + advance + 2 < line.count) {
      blend8(line.source + line.column_step * x + line.stride * (i - 1), line.stride, t,
             out + 3 * x);
      continue;
    }
    uint8_t taps[4 * 24];
    gather8(line, x, taps);
    blend8(taps, 24, t, out + 3 * x);
  }
  // Handed back with the upper halves clean, whatever the helpers above were
  // compiled into (out of line, they may return with them dirty).
  _mm256_zeroupper();
  for (; x < n; ++x) blend_pixel<true>(line, x, out);
}

#undef MPO_AVX2_FMA
#endif

using BlendLine = void (*)(const Line&, int64_t, uint8_t*);

BlendLine choose_blend_line(bool vectors) {
#if MPO_X86_VECTORS
  if (vectors && cpu_features().avx2_fma) return blend_line_avx2;
#endif
  (void)vectors;
  return blend_line_plain;
}

// The rows of the row pass that the column pass still holds, each kept twice
// (at its row number modulo `size` and `size` further on), so that any
// `size` consecutive rows lie in one piece: the taps of a column are then
// `pitch` apart, as in a whole intermediate picture, which never leaves
// the caches.
class RowRing {
 public:
  RowRing(int64_t size, int64_t pitch, std::function<void(int64_t, uint8_t*)> make)
      : size_(size), pitch_(pitch), make_(std::move(make)),
        rows_(std::make_unique_for_overwrite<uint8_t[]>(size_t(2 * size * pitch))) {}

  // Rows low to high (at most `size` of them), made where missing; their
  // first byte.
  const uint8_t* hold(int64_t low, int64_t high) {
    if (high_ < low_ || high < low_ || low > high_) {  // nothing of them held
      for (int64_t v = low; v <= high; ++v) add(v);
      low_ = low, high_ = high;
      return at(low);
    }
    for (int64_t v = high_ + 1; v <= high; ++v) add(v);
    high_ = std::max(high_, high), low_ = std::max(low_, high_ - size_ + 1);
    for (int64_t v = low_ - 1; v >= low; --v) add(v);
    low_ = std::min(low_, low), high_ = std::min(high_, low_ + size_ - 1);
    return at(low);
  }

 private:
  uint8_t* at(int64_t v) { return rows_.get() + (v % size_) * pitch_; }
  void add(int64_t v) {
    make_(v, at(v));
    std::memcpy(at(v) + size_ * pitch_, at(v), size_t(pitch_));
  }

  int64_t size_, pitch_;
  std::function<void(int64_t, uint8_t*)> make_;
  std::unique_ptr<uint8_t[]> rows_;
  int64_t low_ = 0, high_ = -1;
};

}  // namespace

void cubic_warp(const cv::Mat& src, cv::Mat& dst, const cv::Matx23d& m, bool vectors) {
  const BlendLine blend_line = choose_blend_line(vectors);
  const auto fixed = [](double v) { return std::llround(v * (1 << kFixed)); };
  // With ys = m10 x + m11 y + m12, xs = m00 x + m01 y + m02 is, along
  // source row ys, p * x + q * ys + r: the row pass resamples source rows
  // to the destination's columns, the column pass takes each destination
  // pixel from its column of those rows. Destination row y reads the rows
  // of ys over the row's x, three taps around them included.
  const double p = m(0, 0) - m(0, 1) * m(1, 0) / m(1, 1), q = m(0, 1) / m(1, 1);
  const double r = m(0, 2) - m(0, 1) * m(1, 2) / m(1, 1);
  const int64_t step = fixed(m(1, 0)), last_x = dst.cols - 1, last_row = src.rows - 1;
  // A row's taps span the rows its ends fall on and three more; never more
  // than the source has.
  const int64_t ring = std::min<int64_t>(((std::abs(step) * last_x) >> kFixed) + 6, src.rows);
  const int64_t pitch = 3 * int64_t(dst.cols);
  cv::parallel_for_(cv::Range(0, dst.rows), [&](const cv::Range& rows) {
    RowRing held(ring, pitch, [&](int64_t v, uint8_t* out) {
      const Line line{src.ptr<uint8_t>(int(v)), 3, src.cols, fixed(q * double(v) + r), fixed(p), 0};
      blend_line(line, dst.cols, out);
    });
    for (int y = rows.start; y < rows.end; ++y) {
      const int64_t first = fixed(m(1, 1) * y + m(1, 2)), end = first + step * last_x;
      const int64_t low = std::clamp<int64_t>((std::min(first, end) >> kFixed) - 1, 0, last_row);
      const int64_t high = std::clamp<int64_t>((std::max(first, end) >> kFixed) + 2, 0, last_row);
      const Line line{held.hold(low, high), ptrdiff_t(pitch), high - low + 1,
                      first - (low << kFixed), step, 3};
      blend_line(line, dst.cols, dst.ptr<uint8_t>(y));
    }
  }, cv::getNumThreads());
}

}  // namespace mpo
