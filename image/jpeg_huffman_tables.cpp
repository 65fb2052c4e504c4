// Symbol counting and optimal Huffman codes for baseline sequential scans.
//
// The counting finds a block's nonzero coefficients as one 64-bit mask in
// zigzag order and walks its set bits, so a block costs a few dozen
// instructions plus a few per nonzero coefficient. The code construction
// follows the procedure of the JPEG standard, annex K.2, with libjpeg's
// choices where the standard leaves one open (ties go to the larger
// symbol), so that the tables equal the ones libjpeg would make.
#include "image/jpeg_huffman_tables.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mpo::jpeg {

namespace {

// The position in the block (row by row) of each coefficient in zigzag order.
constexpr int kNaturalOrder[DCTSIZE2] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// For each row of the block and each pattern of nonzero coefficients in
// it, those coefficients' bits in zigzag order.
struct RowMasks {
  uint64_t of[DCTSIZE][256];
};

constexpr RowMasks make_row_masks() {
  int zigzag[DCTSIZE2] = {};
  for (int k = 0; k < DCTSIZE2; ++k) zigzag[kNaturalOrder[k]] = k;
  RowMasks masks{};
  for (int row = 0; row < DCTSIZE; ++row)
    for (int pattern = 0; pattern < 256; ++pattern)
      for (int column = 0; column < DCTSIZE; ++column)
        if ((pattern >> column) & 1) masks.of[row][pattern] |= uint64_t{1} << zigzag[row * DCTSIZE + column];
  return masks;
}

constexpr RowMasks kRowMasks = make_row_masks();

// Bit k is set when coefficient k in zigzag order is not zero.
uint64_t nonzero_in_zigzag_order(const JCOEF* block) {
  uint64_t natural = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < DCTSIZE2; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i + 8));
    const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
    natural |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(zeros))} << i;
  }
  natural = ~natural;
#else
  for (int i = 0; i < DCTSIZE2; ++i) natural |= uint64_t{block[i] != 0} << i;
#endif
  uint64_t zigzag = 0;
  for (int row = 0; row < DCTSIZE; ++row) zigzag |= kRowMasks.of[row][(natural >> (DCTSIZE * row)) & 0xFF];
  return zigzag;
}

// Bits of the magnitude of a nonzero value.
int magnitude_bits(int value) {
  const auto magnitude = static_cast<unsigned>(value < 0 ? -value : value);
  return 32 - __builtin_clz(magnitude);
}

constexpr int kMaxAcBits = 10;  // 8-bit samples
constexpr int kMaxDcBits = kMaxAcBits + 1;

// The symbols of one block whose DC value follows `last_dc`.
bool count_block(const JCOEF* block, int last_dc, SymbolCounts& dc, SymbolCounts& ac) {
  const int difference = block[0] - last_dc;
  const int dc_bits = difference == 0 ? 0 : magnitude_bits(difference);
  if (dc_bits > kMaxDcBits) return false;
  ++dc[dc_bits];

  uint64_t nonzero = nonzero_in_zigzag_order(block) & ~uint64_t{1};
  int previous = 0;  // zigzag position of the last nonzero coefficient
  long sixteen_zeros = 0;  // kept apart: one count per coefficient in memory would chain the loop
  while (nonzero != 0) {
    const int k = __builtin_ctzll(nonzero);
    nonzero &= nonzero - 1;
    const int run = k - previous - 1;
    sixteen_zeros += run >> 4;
    const int bits = magnitude_bits(block[kNaturalOrder[k]]);
    if (bits > kMaxAcBits) return false;
    ++ac[((run & 15) << 4) + bits];
    previous = k;
  }
  ac[0xF0] += sixteen_zeros;
  if (previous < DCTSIZE2 - 1) ++ac[0];  // end of block
  return true;
}

}  // namespace

bool count_symbols(const ScanComponent& component, SymbolCounts& dc, SymbolCounts& ac) {
  const auto mcu_width = static_cast<JDIMENSION>(component.mcu_width);
  int last_dc = 0;
  long padding = 0;  // blocks that only complete an MCU
  for (JDIMENSION mcu_row = 0; mcu_row < component.mcu_rows; ++mcu_row)
    for (JDIMENSION mcu = 0; mcu < component.mcus_across; ++mcu)
      for (int y = 0; y < component.mcu_height; ++y) {
        const JDIMENSION row = mcu_row * static_cast<JDIMENSION>(component.mcu_height) + y;
        const JDIMENSION column = mcu * mcu_width;
        const JDIMENSION real =
            row < component.rows && column < component.columns
                ? std::min(mcu_width, component.columns - column)
                : 0;
        const JBLOCKROW blocks = component.first + size_t{row} * component.stride + column;
        for (JDIMENSION x = 0; x < real; ++x) {
          if (!count_block(blocks[x], last_dc, dc, ac)) return false;
          last_dc = blocks[x][0];
        }
        padding += mcu_width - real;
      }
  // A padding block repeats the DC value before it and has no AC value.
  dc[0] += padding;
  ac[0] += padding;
  return true;
}

namespace {

constexpr int kMaxCodeLength = 32;  // before lengths are limited to 16

// The symbol with the smallest nonzero count other than `skip`; among
// equal counts the larger symbol. -1 when there is none.
int least_frequent(const SymbolCounts& counts, int skip) {
  int found = -1;
  long least = 0;
  for (int s = 0; s < static_cast<int>(counts.size()); ++s)
    if (counts[s] != 0 && s != skip && (found < 0 || counts[s] <= least)) {
      least = counts[s];
      found = s;
    }
  return found;
}

// Huffman's procedure: the code length of every symbol.
void assign_code_lengths(SymbolCounts& counts, std::array<int, 257>& length) {
  std::array<int, 257> next;  // the next symbol in the same subtree
  next.fill(-1);
  length.fill(0);
  for (;;) {
    int a = least_frequent(counts, -1);
    int b = least_frequent(counts, a);
    if (b < 0) return;
    counts[a] += counts[b];
    counts[b] = 0;
    ++length[a];
    while (next[a] >= 0) ++length[a = next[a]];
    next[a] = b;
    ++length[b];
    while (next[b] >= 0) ++length[b = next[b]];
  }
}

}  // namespace

bool make_optimal_table(SymbolCounts counts, JHUFF_TBL& table) {
  counts[256] = 1;
  std::array<int, 257> length;
  assign_code_lengths(counts, length);

  int per_length[kMaxCodeLength + 1] = {};
  for (const int l : length) {
    if (l > kMaxCodeLength) return false;
    if (l > 0) ++per_length[l];
  }
  // Lengths over 16: a pair of the longest codes gives way to one code a
  // bit shorter and a code moved below the next shorter length in use.
  int l = kMaxCodeLength;
  for (; l > 16; --l)
    while (per_length[l] > 0) {
      int shorter = l - 2;
      while (per_length[shorter] == 0) --shorter;
      per_length[l] -= 2;
      ++per_length[l - 1];
      per_length[shorter + 1] += 2;
      --per_length[shorter];
    }
  while (per_length[l] == 0) --l;
  --per_length[l];  // the reserved code point goes

  for (int i = 0; i <= 16; ++i) table.bits[i] = static_cast<UINT8>(per_length[i]);
  int p = 0;
  for (int len = 1; len <= kMaxCodeLength; ++len)
    for (int s = 0; s < 256; ++s)
      if (length[s] == len) table.huffval[p++] = static_cast<UINT8>(s);
  table.sent_table = FALSE;
  return true;
}

}  // namespace mpo::jpeg
