#include "render/anaglyph_rows.h"

#include <algorithm>

#include "render/cpu_features.h"

#if MPO_X86_VECTORS
#include <immintrin.h>
#endif

namespace mpo {

namespace {

// floor((v + 500) / 1000) clamped to 0..255: the clamp comes first, after
// which the sum is not negative and truncation is the floor.
inline uint8_t thousandths_to_sample(int32_t v) {
  return static_cast<uint8_t>(static_cast<uint32_t>(std::clamp(v + 500, 0, 255999)) / 1000);
}

// Eric Dubois, "A projection method to generate anaglyph stereo images",
// ICASSP 2001, and the least-squares matrices for red-cyan, green-magenta
// and amber-blue glasses published on his university page; applied, as
// here throughout, to the sRGB samples as they are. Luma: ITU-R BT.601
// weights 0.299, 0.587, 0.114. Rows output R, G, B; columns input R, G, B.
constexpr AnaglyphMatrices kMatrices[kAnaglyphTypes] = {
    // dubois (red-cyan)
    {{{437, 449, 164}, {-62, -62, -24}, {-48, -50, -17}},
     {{-11, -32, -7}, {377, 761, 9}, {-26, -93, 1234}}},
    // gray: red the left luma, green and blue the right luma
    {{{299, 587, 114}, {0, 0, 0}, {0, 0, 0}}, {{0, 0, 0}, {299, 587, 114}, {299, 587, 114}}},
    // half-color: red the left luma, green and blue the right's own
    {{{299, 587, 114}, {0, 0, 0}, {0, 0, 0}}, {{0, 0, 0}, {0, 1000, 0}, {0, 0, 1000}}},
    // color: red the left's own, green and blue the right's own
    {{{1000, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {{0, 0, 0}, {0, 1000, 0}, {0, 0, 1000}}},
    // optimized: red 0.7 green + 0.3 blue of the left
    {{{0, 700, 300}, {0, 0, 0}, {0, 0, 0}}, {{0, 0, 0}, {0, 1000, 0}, {0, 0, 1000}}},
    // green-magenta (Dubois)
    {{{-62, -158, -39}, {284, 668, 143}, {-15, -27, 21}},
     {{529, 705, 24}, {-16, -15, -65}, {9, 75, 937}}},
    // amber-blue (Dubois)
    {{{1062, -205, 299}, {-26, 908, 68}, {-38, -173, 22}},
     {{-16, -123, -17}, {6, 62, -17}, {94, 185, 911}}},
};

// One pixel at a time: the ends of the rows, and processors without AVX2.
void mix_pixels(const AnaglyphMatrices& m, const uint8_t* left, const uint8_t* right,
                uint8_t* out, int64_t n) {
  for (int64_t k = 0; k < n; ++k, left += 3, right += 3, out += 3) {
    const int32_t l[3] = {left[2], left[1], left[0]}, r[3] = {right[2], right[1], right[0]};
    for (int c = 0; c < 3; ++c) {
      int32_t v = 0;
      for (int i = 0; i < 3; ++i) v += m.left[c][i] * l[i] + m.right[c][i] * r[i];
      out[2 - c] = thousandths_to_sample(v);
    }
  }
}

#if MPO_X86_VECTORS

#define MPO_AVX2 MPO_TARGET_AVX2

// Eight pixels (24 bytes) from p: pixels 0 to 3 in the low 128-bit lane,
// 4 to 7 in the high one, each lane's first 12 bytes.
MPO_AVX2 inline __m256i load8(const uint8_t* p) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(a), _mm_alignr_epi8(b, a, 12), 1);
}

// Pairs of 16-bit words for _mm256_madd_epi16, picked per lane from four
// B, G, R pixels; z leaves a zero.
constexpr char z = -128;
#define MPO_PICK(a0, a1, b0, b1)                                                            \
  _mm256_setr_epi8(a0, a1, b0, b1, a0 + 3, a1, b0 + 3, b1, a0 + 6, a1, b0 + 6, b1, a0 + 9, \
                   a1, b0 + 9, b1, a0, a1, b0, b1, a0 + 3, a1, b0 + 3, b1, a0 + 6, a1,     \
                   b0 + 6, b1, a0 + 9, a1, b0 + 9, b1)

// The three factors of one output channel, paired as the inputs are:
// (left B, left G), (left R, right B), (right G, right R).
struct Channel {
  __m256i blue_green, red_blue, green_red;
};

MPO_AVX2 inline __m256i pair(int16_t a, int16_t b) {
  return _mm256_set1_epi32(
      static_cast<int32_t>(static_cast<uint16_t>(a) | uint32_t(static_cast<uint16_t>(b)) << 16));
}

// Output channel c (0 red, 1 green, 2 blue) of the matrices.
MPO_AVX2 inline Channel factors(const AnaglyphMatrices& m, int c) {
  const int16_t* l = m.left[c];
  const int16_t* r = m.right[c];
  return {pair(l[2], l[1]), pair(l[0], r[2]), pair(r[1], r[0])};
}

// v / 1000 for 0 <= v < 256000, as (v / 8) / 125 by a 16-bit multiplication:
// floor(u * 33555 / 2^22) = floor(u / 125) for every u < 32000.
MPO_AVX2 inline __m256i clamped_thousandths(__m256i v) {
  v = _mm256_add_epi32(v, _mm256_set1_epi32(500));
  v = _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255999));
  return _mm256_srli_epi32(v, 3);
}

MPO_AVX2 inline __m256i mix(const Channel& c, __m256i p1, __m256i p2, __m256i p3) {
  const __m256i v = _mm256_add_epi32(
      _mm256_add_epi32(_mm256_madd_epi16(p1, c.blue_green), _mm256_madd_epi16(p2, c.red_blue)),
      _mm256_madd_epi16(p3, c.green_red));
  return clamped_thousandths(v);
}

MPO_AVX2 void mix_avx2(const AnaglyphMatrices& m, const uint8_t* left, const uint8_t* right,
                       uint8_t* out, int64_t n) {
  const Channel red = factors(m, 0), green = factors(m, 1), blue = factors(m, 2);
  const __m256i left_bg = MPO_PICK(0, z, 1, z), left_r = MPO_PICK(2, z, z, z);
  const __m256i right_b = MPO_PICK(z, z, 0, z), right_gr = MPO_PICK(1, z, 2, z);
  const __m256i by125 = _mm256_set1_epi16(static_cast<short>(uint16_t{33555}));
  // Per lane: red 0..3 in bytes 0..3, green in 4..7, blue in 8..11.
  const __m128i to_bgr = _mm_setr_epi8(8, 4, 0, 9, 5, 1, 10, 6, 2, 11, 7, 3, z, z, z, z);
  int64_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256i l = load8(left + 3 * k), r = load8(right + 3 * k);
    const __m256i p1 = _mm256_shuffle_epi8(l, left_bg);
    const __m256i p2 = _mm256_or_si256(_mm256_shuffle_epi8(l, left_r), _mm256_shuffle_epi8(r, right_b));
    const __m256i p3 = _mm256_shuffle_epi8(r, right_gr);
    const __m256i b8 = mix(blue, p1, p2, p3);
    __m256i rg = _mm256_packus_epi32(mix(red, p1, p2, p3), mix(green, p1, p2, p3));
    __m256i bb = _mm256_packus_epi32(b8, b8);
    rg = _mm256_srli_epi16(_mm256_mulhi_epu16(rg, by125), 6);
    bb = _mm256_srli_epi16(_mm256_mulhi_epu16(bb, by125), 6);
    const __m256i bytes = _mm256_packus_epi16(rg, bb);
    const __m128i low = _mm_shuffle_epi8(_mm256_castsi256_si128(bytes), to_bgr);
    const __m128i high = _mm_shuffle_epi8(_mm256_extracti128_si256(bytes, 1), to_bgr);
    uint8_t* o = out + 3 * k;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), low);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 12), high);
    const int32_t last = _mm_extract_epi32(high, 2);
    __builtin_memcpy(o + 20, &last, 4);
  }
  // Clean upper halves for the plain code from here on (see tv_frame.cpp).
  _mm256_zeroupper();
  mix_pixels(m, left + 3 * k, right + 3 * k, out + 3 * k, n - k);
}

#undef MPO_PICK
#undef MPO_AVX2

#endif

using MixRow = void (*)(const AnaglyphMatrices&, const uint8_t*, const uint8_t*, uint8_t*,
                        int64_t);

MixRow choose_mixing() {
#if MPO_X86_VECTORS
  if (cpu_features().avx2) return mix_avx2;
#endif
  return mix_pixels;
}

}  // namespace

const AnaglyphMatrices& anaglyph_matrices(AnaglyphType type) {
  return kMatrices[static_cast<int>(type)];
}

void mix_anaglyph_row(const AnaglyphMatrices& m, const uint8_t* left, const uint8_t* right,
                      uint8_t* out, int64_t n) {
  static const MixRow mix_row = choose_mixing();
  mix_row(m, left, right, out, n);
}

void mix_anaglyph_row(const uint8_t* left, const uint8_t* right, uint8_t* out, int64_t n) {
  mix_anaglyph_row(kMatrices[0], left, right, out, n);
}

}  // namespace mpo
