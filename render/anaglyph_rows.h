// Dubois's red-cyan mixing of two rows of B, G, R pixels.
#pragma once

#include <cstdint>

namespace mpo {

// out[k] = the anaglyph pixel of left[k] and right[k] for k < n: with the
// matrices in thousandths (rows: output red, green, blue; columns: input
// red, green, blue)
//   left  [[437, 449, 164], [-62, -62, -24], [-48, -50, -17]]
//   right [[-11, -32, -7], [377, 761, 9], [-26, -93, 1234]]
// each channel is floor((v + 500) / 1000) of the sum v of the six products,
// clamped to 0..255. `out` may not overlap the inputs.
void mix_anaglyph_row(const uint8_t* left, const uint8_t* right, uint8_t* out, int64_t n);

}  // namespace mpo
