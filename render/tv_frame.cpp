#include "render/tv_frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "render/cpu_features.h"
#include "render/resample.h"

// The sums of light also come as AVX2 code with FMA, taken where the
// processor has both.
#if MPO_X86_VECTORS
#include <immintrin.h>
#endif

namespace mpo {

namespace {

// Linear light back to sRGB: srgb[l] is the sample whose light is nearest
// to l / 65535.
struct LightTables {
  uint8_t srgb[65536];
  LightTables() {
    double level[256];
    for (int v = 0; v < 256; ++v) {
      const double c = v / 255.0;
      level[v] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
    int v = 0;
    for (int l = 0; l < 65536; ++l) {
      while (v < 255 && l / 65535.0 >= (level[v] + level[v + 1]) / 2) ++v;
      srgb[l] = static_cast<uint8_t>(v);
    }
  }
};

const LightTables& light_tables() {
  static const LightTables tables;
  return tables;
}

// The light of an sRGB sample v (0..255) as a float in 0..1: on the curve's
// straight foot (v <= 10) exactly v / (255 * 12.92); above it a polynomial of
// degree 5 in v, fitted by least squares weighted by the sRGB step sizes,
// within 0.04 of a sample step everywhere. Arithmetic only, no table, so
// that vector code runs eight samples at a time.
constexpr float kFoot = float(1 / (255 * 12.92));
constexpr double kStep = 1 / 255.0;
constexpr float kCurve[6] = {float(0.0009582750590960569),
                             float(0.03170859516610751 * kStep),
                             float(0.5268547008463127 * kStep * kStep),
                             float(0.6465060672807604 * kStep * kStep * kStep),
                             float(-0.2838179757166077 * kStep * kStep * kStep * kStep),
                             float(0.07793383151651449 * kStep * kStep * kStep * kStep * kStep)};

inline float light_of(float v) {
  float curve = kCurve[5];
  for (int p = 4; p >= 0; --p) curve = kCurve[p] + v * curve;
  return v <= 10.0f ? v * kFoot : curve;
}

// What one pass over the source rows does to the sums: acc[k] becomes, from
// `first` on, the light of sample k of `top` (and of `bottom`, when there is
// one) plus acc[k] unless `first`.
struct LightPass {
  const uint8_t* top;
  const uint8_t* bottom;  // or null
  bool first;
};

void add_light_plain(const LightPass& pass, int64_t from, int64_t n, float* acc) {
  for (int64_t k = from; k < n; ++k) {
    float light = light_of(float(pass.top[k]));
    if (pass.bottom != nullptr) light += light_of(float(pass.bottom[k]));
    acc[k] = pass.first ? light : acc[k] + light;
  }
}

#if MPO_X86_VECTORS
#define MPO_AVX2_FMA MPO_TARGET_AVX2_FMA

MPO_AVX2_FMA inline __m256 light8(const uint8_t* samples) {
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples));
  const __m256 v = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
  __m256 curve = _mm256_set1_ps(kCurve[5]);
  for (int p = 4; p >= 0; --p) curve = _mm256_fmadd_ps(curve, v, _mm256_set1_ps(kCurve[p]));
  return _mm256_blendv_ps(curve, _mm256_mul_ps(v, _mm256_set1_ps(kFoot)),
                          _mm256_cmp_ps(v, _mm256_set1_ps(10.0f), _CMP_LE_OQ));
}

template <bool kTwoRows, bool kFirst>
MPO_AVX2_FMA int64_t light_pass_avx2(const LightPass& pass, int64_t n, float* acc) {
  int64_t k = 0;
  for (; k + 8 <= n; k += 8) {
    __m256 light = light8(pass.top + k);
    if constexpr (kTwoRows) light = _mm256_add_ps(light, light8(pass.bottom + k));
    if constexpr (!kFirst) light = _mm256_add_ps(light, _mm256_loadu_ps(acc + k));
    _mm256_storeu_ps(acc + k, light);
  }
  return k;
}

MPO_AVX2_FMA void add_light_avx2(const LightPass& pass, int64_t n, float* acc) {
  const bool two = pass.bottom != nullptr;
  const int64_t done = two ? (pass.first ? light_pass_avx2<true, true>(pass, n, acc)
                                         : light_pass_avx2<true, false>(pass, n, acc))
                           : (pass.first ? light_pass_avx2<false, true>(pass, n, acc)
                                         : light_pass_avx2<false, false>(pass, n, acc));
  // The compiler leaves the upper halves of the vector registers dirty on a
  // tail call into plain code; every SSE instruction after that, ours and the
  // libraries', then waits on them. Cleared by hand.
  _mm256_zeroupper();
  add_light_plain(pass, done, n, acc);
}

#undef MPO_AVX2_FMA
#endif

void add_light_all_plain(const LightPass& pass, int64_t n, float* acc) {
  add_light_plain(pass, 0, n, acc);
}

using AddLight = void (*)(const LightPass&, int64_t, float*);

AddLight choose_add_light() {
#if MPO_X86_VECTORS
  if (cpu_features().avx2_fma) return add_light_avx2;
#endif
  return add_light_all_plain;
}

// acc[k] for k < n as `pass` says.
void add_light(const LightPass& pass, int64_t n, float* acc) {
  static const AddLight add = choose_add_light();
  add(pass, n, acc);
}

// Four samples of light: one pixel's three and the next one's first, which
// rides along unused.
typedef float Light4 __attribute__((vector_size(16)));

inline Light4 load4(const float* p) {
  Light4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The mean of the `cols` pixels of `sums` from its start, sample by sample,
// as 16-bit samples (nearest, clamped) into out[0..2]. `sums` has one sample
// more after its last pixel.
inline void block_mean(const float* sums, int64_t cols, float scale, uint16_t out[3]) {
  Light4 sum = {0, 0, 0, 0};
  for (const float* end = sums + 3 * cols; sums < end; sums += 3) sum += load4(sums);
  // Four lanes at once.
  sum = sum * (scale * 65535.0f) + 0.5f;
  sum = sum < 0.0f ? Light4{0, 0, 0, 0} : sum;
  sum = sum > 65535.0f ? Light4{65535, 65535, 65535, 65535} : sum;
  typedef int32_t Int4 __attribute__((vector_size(16)));
  const Int4 whole = __builtin_convertvector(sum, Int4);
  for (int p = 0; p < 3; ++p) out[p] = static_cast<uint16_t>(whole[p]);
}

// small (X, Y) = the average light of the kx x ky block of `source` at
// (dx + kx X, ky Y) (blocks at the right and bottom edge cut to the picture),
// planes B, G, R. The block's rows are summed sample by sample first, then
// the sums kx pixels at a time into a row of means, which goes to the
// planes last.
void box_reduce(const PixelView& source, int64_t dx, int64_t W, int64_t H, int64_t kx,
                int64_t ky, const LightPlanes& small) {
  std::vector<float> acc(static_cast<size_t>(3 * W + 1));
  std::vector<uint16_t> means(static_cast<size_t>(3 * small.width));
  // Every block but the last in the row is kx pixels wide.
  const int64_t last = small.width - 1, last_cols = W - kx * last;
  uint16_t* const b = small.plane[0];
  uint16_t* const g = small.plane[1];
  uint16_t* const r = small.plane[2];
  for (int64_t Y = 0; Y < small.height; ++Y) {
    const int64_t rows = std::min(ky, H - ky * Y);
    // Two rows a pass, the first pass setting the sums.
    for (int64_t y = ky * Y; y < ky * Y + rows; y += 2) {
      const uint8_t* bottom = y + 1 < ky * Y + rows ? source.row(y + 1) + 3 * dx : nullptr;
      add_light({source.row(y) + 3 * dx, bottom, y == ky * Y}, 3 * W, acc.data());
    }
    const float whole = 1.0f / float(rows * kx), cut = 1.0f / float(rows * last_cols);
    uint16_t* mean = means.data();
    for (int64_t X = 0; X < last; ++X) block_mean(acc.data() + 3 * kx * X, kx, whole, mean + 3 * X);
    block_mean(acc.data() + 3 * kx * last, last_cols, cut, mean + 3 * last);
    const int64_t at = Y * small.stride;
    for (int64_t X = 0; X < small.width; ++X) {
      b[at + X] = mean[3 * X], g[at + X] = mean[3 * X + 1], r[at + X] = mean[3 * X + 2];
    }
  }
}

// w x h pixels from `to` on (rows downwards in the picture, `pitch` bytes
// apart) = the nearest sRGB samples of `light`.
void to_srgb(const LightPlanes& light, uint8_t* to, int64_t pitch) {
  const uint8_t* const srgb = light_tables().srgb;
  const uint16_t* const b = light.plane[0];
  const uint16_t* const g = light.plane[1];
  const uint16_t* const r = light.plane[2];
  for (int64_t y = 0; y < light.height; ++y, to -= pitch) {
    const int64_t at = y * light.stride;
    uint8_t* const row = to;
    for (int64_t x = 0; x < light.width; ++x) {
      row[3 * x] = srgb[b[at + x]], row[3 * x + 1] = srgb[g[at + x]], row[3 * x + 2] = srgb[r[at + x]];
    }
  }
}

// Black outside the two w x h regions at (x0, y0) and (960 + x0, y0).
void clear_tv_borders(const PixelView& canvas, const TvLayout& t) {
  const int64_t half = kTvFrameWidth / 2;
  for (int64_t y = 0; y < kTvFrameHeight; ++y) {
    uint8_t* row = canvas.row(y);
    if (y < t.y0 || y >= t.y0 + t.h) {
      std::memset(row, 0, 3 * kTvFrameWidth);
      continue;
    }
    for (int64_t s = 0; s < 2; ++s) {
      uint8_t* start = row + 3 * s * half;
      std::memset(start, 0, 3 * t.x0);
      std::memset(start + 3 * (t.x0 + t.w), 0, 3 * (half - t.x0 - t.w));
    }
  }
}

// The side of the blocks that bring n samples down to the fewest not below
// m (between m and 2m); 1 when n < 2m.
int64_t block_side(int64_t n, int64_t m) { return n < 2 * m ? 1 : n / m; }

// Three planes of w x h samples each, with the slack that the scaling
// library needs after every row (a column of one pixel, too).
class Planes {
 public:
  bool allocate(int64_t w, int64_t h) {
    const int64_t stride = resample_stride(w), plane = stride * h;
    try {
      samples_ = std::make_unique_for_overwrite<uint16_t[]>(static_cast<size_t>(3 * plane));
    } catch (const std::bad_alloc&) {
      return false;
    }
    view_.width = w, view_.height = h, view_.stride = stride;
    for (int p = 0; p < 3; ++p) view_.plane[p] = samples_.get() + p * plane;
    // The library's filter reads the slack with weight 0: it must hold
    // numbers.
    for (int64_t y = 0; y < 3 * h; ++y) std::fill_n(samples_.get() + y * stride + w, stride - w, 0);
    return true;
  }
  const LightPlanes& view() const { return view_; }

 private:
  std::unique_ptr<uint16_t[]> samples_;
  LightPlanes view_;
};

}  // namespace

bool scale_picture(const PixelView& source, int64_t dx, int64_t W, int64_t H,
                   const PixelView& target) {
  const int64_t w = target.width, h = target.height;
  const int64_t kx = block_side(W, w), ky = block_side(H, h);
  Planes small, scaled;
  if (!small.allocate((W + kx - 1) / kx, (H + ky - 1) / ky) || !scaled.allocate(w, h))
    return false;
  box_reduce(source, dx, W, H, kx, ky, small.view());
  if (!resample(small.view(), scaled.view())) return false;
  to_srgb(scaled.view(), target.row(0), target.pitch);
  return true;
}

namespace {

// Scales the half at columns dx..dx + W - 1 of `source` (W x H) into its
// region of the TV frame at column x.
bool scale_half(const PixelView& source, int64_t dx, int64_t W, int64_t H, const TvLayout& t,
                const PixelView& canvas, int64_t x) {
  // The region as a picture of its own: its rows are the canvas's.
  const PixelView region{canvas.row(t.y0 + t.h - 1) + 3 * x, t.w, t.h, canvas.pitch};
  return scale_picture(source, dx, W, H, region);
}

}  // namespace

TvLayout tv_layout(int64_t W, int64_t H) {
  TvLayout t;
  if (W < 1 || H < 1) return t;
  // s = 1920 / W when 1920 / W <= 1080 / H, else 1080 / H; the quotients
  // rounded half up in integers.
  if (kTvFrameWidth * H <= kTvFrameHeight * W) {
    t.w = kTvFrameWidth / 2;
    t.h = (2 * kTvFrameWidth * H + W) / (2 * W);
  } else {
    t.w = (kTvFrameHeight * W + H) / (2 * H);
    t.h = kTvFrameHeight;
  }
  t.w = std::max<int64_t>(t.w, 1);
  t.h = std::max<int64_t>(t.h, 1);
  t.x0 = (kTvFrameWidth / 2 - t.w) / 2;
  t.y0 = (kTvFrameHeight - t.h) / 2;
  return t;
}

bool scale_to_tv_frame(const PixelView& source, int64_t W, int64_t H, const PixelView& canvas) {
  const TvLayout t = tv_layout(W, H);
  clear_tv_borders(canvas, t);
  for (int s = 0; s < 2; ++s) {
    if (!scale_half(source, s * W, W, H, t, canvas, s * (kTvFrameWidth / 2) + t.x0)) return false;
  }
  return true;
}

}  // namespace mpo
