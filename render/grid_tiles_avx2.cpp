#include "render/grid_tiles_avx2.h"

#include "render/cpu_features.h"

#if MPO_X86_VECTORS
#include <immintrin.h>

// A tile is done in 4 x 4 blocks: four rows of four pixels loaded, turned
// into four columns with 32-bit shuffles, and each column widened to four
// 64-bit elements in one store; the way back is the same in reverse.

#define MPO_AVX2 MPO_TARGET_AVX2
#define MPO_AVX2_INLINE [[gnu::always_inline]] inline MPO_AVX2

namespace mpo {

namespace {

// Four pixels' B, G, R bytes (16 bytes read) as colour values.
MPO_AVX2_INLINE __m128i colours_of(const uint8_t* bgr) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr));
  return _mm_shuffle_epi8(v, _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1));
}

// Rows a, b, c, d of a 4 x 4 block of 32-bit values become its columns.
MPO_AVX2_INLINE void transpose(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
  const __m128i ab0 = _mm_unpacklo_epi32(a, b), ab1 = _mm_unpackhi_epi32(a, b);
  const __m128i cd0 = _mm_unpacklo_epi32(c, d), cd1 = _mm_unpackhi_epi32(c, d);
  a = _mm_unpacklo_epi64(ab0, cd0), b = _mm_unpackhi_epi64(ab0, cd0);
  c = _mm_unpacklo_epi64(ab1, cd1), d = _mm_unpackhi_epi64(ab1, cd1);
}

MPO_AVX2_INLINE void put_elements(int64_t* run, __m128i colours) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(run), _mm256_cvtepu32_epi64(colours));
}

// The low 32 bits of four grid elements.
MPO_AVX2_INLINE __m128i elements_at(const int64_t* run) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(run));
  return _mm256_castsi256_si128(
      _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
}

// Four colour values as B, G, R bytes; 16 bytes written.
MPO_AVX2_INLINE void put_bgr(uint8_t* bgr, __m128i colours) {
  const __m128i v = _mm_shuffle_epi8(
      colours, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr), v);
}

// The picture rows and the grid column runs of the tile two tiles further
// right are asked for now, so that they arrive while this tile is done: a
// band's 32 picture rows and 32 grid columns are 64 separate runs through
// memory, more than the processor follows by itself on some machines. The
// grid's lines, which are overwritten whole but must be read first, go into
// the second-level cache.
constexpr int64_t kAhead = 2 * kGridTile;

MPO_AVX2_INLINE void ask_ahead(const int64_t* grid, int64_t stride, const TileSource& source,
                               int64_t x0, int64_t y0) {
  if (x0 + kAhead + kGridTile > source.width) return;
  for (int64_t k = 0; k < kGridTile; ++k) {
    const auto* next = reinterpret_cast<const char*>(source.picture->row(y0 + k) + 3 * (x0 + kAhead));
    _mm_prefetch(next, _MM_HINT_T0);
    _mm_prefetch(next + 3 * kGridTile - 1, _MM_HINT_T0);
  }
  for (int64_t i = 0; i < kGridTile; ++i) {
    const auto* run = reinterpret_cast<const char*>(grid + (x0 + kAhead + i) * stride + y0);
    for (int64_t b = 0; b < 8 * kGridTile; b += 64) _mm_prefetch(run + b, _MM_HINT_T1);
    _mm_prefetch(run + 8 * kGridTile - 1, _MM_HINT_T1);
  }
}

}  // namespace

MPO_AVX2 void fill_tile_avx2(int64_t* grid, int64_t stride, const TileSource& source, int64_t x0,
                             int64_t y0) {
  ask_ahead(grid, stride, source, x0, y0);
  const PixelView& p = *source.picture;
  for (int64_t i = 0; i < kGridTile; i += 4) {
    int64_t* column = grid + (x0 + i) * stride + y0;
    for (int64_t k = 0; k < kGridTile; k += 4) {
      __m128i a = colours_of(p.row(y0 + k) + 3 * (x0 + i));
      __m128i b = colours_of(p.row(y0 + k + 1) + 3 * (x0 + i));
      __m128i c = colours_of(p.row(y0 + k + 2) + 3 * (x0 + i));
      __m128i d = colours_of(p.row(y0 + k + 3) + 3 * (x0 + i));
      transpose(a, b, c, d);
      put_elements(column + k, a), put_elements(column + stride + k, b);
      put_elements(column + 2 * stride + k, c), put_elements(column + 3 * stride + k, d);
    }
  }
}

// Within a row the blocks go left to right, so each block's four bytes past
// its pixels are overwritten by the next.
MPO_AVX2 void read_tile_avx2(const int64_t* grid, int64_t stride, uint8_t* rows, int64_t pitch,
                             int64_t x0, int64_t y0) {
  for (int64_t i = 0; i < kGridTile; i += 4) {
    const int64_t* column = grid + (x0 + i) * stride + y0;
    uint8_t* out = rows + 3 * (x0 + i);
    for (int64_t k = 0; k < kGridTile; k += 4) {
      __m128i a = elements_at(column + k), b = elements_at(column + stride + k);
      __m128i c = elements_at(column + 2 * stride + k), d = elements_at(column + 3 * stride + k);
      transpose(a, b, c, d);
      put_bgr(out + k * pitch, a), put_bgr(out + (k + 1) * pitch, b);
      put_bgr(out + (k + 2) * pitch, c), put_bgr(out + (k + 3) * pitch, d);
    }
  }
}

}  // namespace mpo

#else

namespace mpo {

void fill_tile_avx2(int64_t*, int64_t, const TileSource&, int64_t, int64_t) {}
void read_tile_avx2(const int64_t*, int64_t, uint8_t*, int64_t, int64_t, int64_t) {}

}  // namespace mpo

#endif
