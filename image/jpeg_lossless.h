// A side-by-side JPEG joined from two JPEG halves without decoding a single
// sample: the left half's DCT coefficients fill the left part and the right
// half's the right part of one stream. Only the entropy coding is redone,
// with Huffman tables optimised for this picture (a statistics pass over
// all coefficients: it costs about as much as the write itself and makes
// the file a few per cent smaller); every coefficient is copied unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mpo {

// Why no joined stream was made.
enum class LosslessRefusal {
  none,
  unreadable_left,         // libjpeg could not read the left half
  unreadable_right,        // ... or the right half
  different_height,
  different_components,    // number of components or colour space
  different_sampling,      // sampling factors of some component
  different_quantisation,  // quantisation table of some component
  width_not_whole_mcu,     // the right half would not start on a block boundary
  too_large,               // wider than a JPEG may be, or too many coefficients
  no_memory,
};

struct LosslessResult {
  LosslessRefusal refusal = LosslessRefusal::none;
  // Width of one MCU of the left half in pixels, once its header was read.
  int mcu_width = 0;
  std::vector<uint8_t> jpeg;  // the joined stream; empty when refused
};

// Joins two whole JPEG streams held in memory. Possible when both halves
// have the same height, colour space, components, sampling factors and
// quantisation tables, and the left width is a multiple of the MCU width.
// `exif_segment` is an APP1 segment without its marker: the two-byte length
// field and the payload, as many bytes as the length field says. When given
// it is written right after SOI (after an Adobe APP14 where the colour space
// needs one: RGB or CMYK streams) and the stream has no JFIF APP0; when empty
// (or when its length field disagrees with its size) the stream carries the
// usual JFIF APP0 instead. Entropy data that ends early is read as libjpeg
// reads it (the missing blocks come out flat), as the ordinary decoder does.
LosslessResult join_side_by_side(std::span<const uint8_t> left, std::span<const uint8_t> right,
                                 std::span<const uint8_t> exif_segment);

}  // namespace mpo
