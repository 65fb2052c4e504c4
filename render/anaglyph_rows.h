// Anaglyph mixing of two rows of B, G, R pixels: Dubois's red-cyan and the
// other kinds of glasses and colour treatments.
#pragma once

#include <cstdint>

namespace mpo {

enum class AnaglyphType { dubois, gray, half_color, color, optimized, green_magenta, amber_blue };
constexpr int kAnaglyphTypes = 7;

// The two 3 x 3 matrices of a type in integer thousandths: rows the output
// red, green, blue; columns the input red, green, blue of the left and of
// the right pixel.
struct AnaglyphMatrices {
  int16_t left[3][3];
  int16_t right[3][3];
};

const AnaglyphMatrices& anaglyph_matrices(AnaglyphType type);

// out[k] = the anaglyph pixel of left[k] and right[k] for k < n: each
// channel is floor((v + 500) / 1000) of the sum v of the six products of
// its matrix rows, clamped to 0..255. `out` may not overlap the inputs.
void mix_anaglyph_row(const AnaglyphMatrices& m, const uint8_t* left, const uint8_t* right,
                      uint8_t* out, int64_t n);

// The same with Dubois's red-cyan matrices:
//   left  [[437, 449, 164], [-62, -62, -24], [-48, -50, -17]]
//   right [[-11, -32, -7], [377, 761, 9], [-26, -93, 1234]]
void mix_anaglyph_row(const uint8_t* left, const uint8_t* right, uint8_t* out, int64_t n);

}  // namespace mpo
