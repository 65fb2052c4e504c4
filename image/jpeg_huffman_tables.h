// Huffman tables optimised for one picture, without libjpeg's own
// statistics pass: the symbols of a baseline sequential scan are counted
// straight from the coefficient blocks, and the tables are built from the
// counts exactly as libjpeg builds them (the same code lengths, the same
// order of symbols), so the stream comes out byte for byte as libjpeg's
// own optimised one.
#pragma once

#include <array>
#include <cstdio>

#include <jpeglib.h>

namespace mpo::jpeg {

// How often each symbol of one table occurs; entry 256 is the reserved
// code point that keeps every real code from being all ones.
using SymbolCounts = std::array<long, 257>;

// One component's blocks as a sequential scan visits them.
struct ScanComponent {
  JBLOCKROW first;          // block row 0, column 0
  JDIMENSION stride;        // blocks from one block row to the next
  JDIMENSION columns;       // real blocks per row
  JDIMENSION rows;          // real block rows
  int mcu_width;            // blocks per MCU across: h in an interleaved
  int mcu_height;           // scan, 1 when the component is alone
  JDIMENSION mcus_across;   // MCUs per MCU row
  JDIMENSION mcu_rows;
};

// Adds the DC and AC symbols of every block of the component, in the order
// of the scan, to `dc` and `ac`. The blocks that complete the MCUs at the
// right and bottom edge count as the encoder writes them: the DC value of
// the block before and no AC coefficient. False when a coefficient is out
// of the range of 8-bit JPEG (a DC difference of more than 11 bits, an AC
// value of more than 10), which libjpeg refuses to encode.
bool count_symbols(const ScanComponent& component, SymbolCounts& dc, SymbolCounts& ac);

// Fills `table` (bits and huffval) with the optimal code for the counts.
// False when the code would need lengths beyond 32 bits before limiting.
bool make_optimal_table(SymbolCounts counts, JHUFF_TBL& table);

}  // namespace mpo::jpeg
