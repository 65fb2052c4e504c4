// Joining two JPEGs, the left and the right view, into one MPO: the halves
// stand one behind the other, the first with an MP index that lists both as
// disparity images, each with its MP attributes. Nothing is re-encoded.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mpo {

// Why no MPO was made.
enum class JoinRefusal { none, left_not_jpeg, right_not_jpeg, too_large, no_memory };

// What of an input stood behind the end of its first image and was left
// out: bytes, and of them the images its own MP index lists there.
struct DroppedTail {
  int64_t bytes = 0;
  int64_t images = 0;
};

struct JoinResult {
  JoinRefusal refusal = JoinRefusal::none;
  std::vector<uint8_t> bytes;  // the MPO; empty when refused
  int64_t second_start = 0;    // where the second image begins in it
  DroppedTail left_dropped, right_dropped;
  // Whether the split's byte search finds the second image where it begins;
  // otherwise only the MP index tells where the halves part.
  bool found_by_byte_search = false;
};

// Whether `head`, the first bytes of a file, may begin a JPEG the join
// takes (SOI, length-checked segments, a frame header before the first
// scan, as far as the bytes go): the rest need not be read when not.
bool may_be_join_input(std::span<const uint8_t> head);

// The MPO of the two JPEGs. Each must begin FF D8 FF and have a header of
// length-checked segments up to its SOS, with a frame header among them;
// each is taken up to the end of its first image (its EOI). MPF segments the
// inputs carry are left out; the left image's header gets the MP index
// behind its Exif APP1 (behind SOI when it has none); the right image's Exif
// APP1 moves to the front (a minimal one is made when it has none) so that
// its start reads FF D8 FF E1 .. .. "Exif", and its MP attributes follow.
// All other bytes are copied unchanged.
JoinResult join_mpo(std::span<const uint8_t> left, std::span<const uint8_t> right);

}  // namespace mpo
