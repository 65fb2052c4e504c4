// Joining two JPEGs, the left and the right view, into one MPO: the halves
// stand one behind the other, the first with an MP index that lists both as
// disparity images, each with its MP attributes. Nothing is re-encoded.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "io/text.h"

namespace mpo {

enum class JoinRefusal { none, left_not_jpeg, right_not_jpeg, too_large };

// The German text of a refusal ("" for none). For an input that is not a
// JPEG it follows the file's name: "<name> ist keine JPEG-Datei".
Text join_refusal_text(JoinRefusal refusal);

struct JoinResult {
  JoinRefusal refusal = JoinRefusal::none;
  std::vector<uint8_t> bytes;  // the MPO; empty when refused
};

// The MPO of the two JPEGs. Each must begin FF D8 FF and have a header of
// length-checked segments up to its SOS. MPF segments the inputs carry are
// left out; the left image's header gets the MP index behind its Exif APP1
// (behind SOI when it has none); the right image's Exif APP1 moves to the
// front (a minimal one is made when it has none) so that its start reads
// FF D8 FF E1 .. .. "Exif", and its MP attributes follow. All other bytes are
// copied unchanged.
JoinResult join_mpo(std::span<const uint8_t> left, std::span<const uint8_t> right);

}  // namespace mpo
