// What one entry of a batch takes in memory, known before anything large
// is allocated: the file bytes, both decoded halves, both pixel grids and
// the composites, from the file size and the halves' frame headers. And
// the memory a batch may use at all.
#pragma once

#include <cstdint>
#include <optional>

#include "app/extra_outputs.h"
#include "app/front_end.h"
#include "mpo/frame_header.h"

namespace mpo {

// The bytes an entry holds at its peak: the file bytes, both decoded halves
// (each at its own size; a progressive half's coefficients while it is
// decoded), two W x H grids of 8-byte elements ((W + 1)(H + 1) each, W x H
// from the left half), the composites the flags ask for and the command
// line's further outputs (their canvases and the TV frame's working planes;
// both halves' coefficients and the joined file for the lossless
// side-by-side) and the codecs' working memory. A half without
// a readable frame header, or with one the decoder refuses (a side above
// kMaxImageSide, samples of other than 8 bits), is never decoded and
// counts nothing.
int64_t entry_memory(int64_t file_size, const std::optional<FrameHeader>& left,
                     const std::optional<FrameHeader>& right, const OptionFlags& flags,
                     const ExtraOutputs& extras = {});

// What the codecs and the scaling filter hold beside the pictures while an
// entry is converted (their tables, row buffers and bands).
constexpr int64_t kCodecWorkingBytes = int64_t{8} << 20;

// About what an entry of a camera's pictures (two 3648 x 2736 halves, all
// composites) takes: the memory a worker needs at least.
constexpr int64_t kTypicalEntryBytes = int64_t{340} << 20;

// The memory one entry may take, and the outputs it will build.
struct EntryBudget {
  int64_t bytes = -1;  // negative: no limit
  OptionFlags flags;
  ExtraOutputs extras;

  // False when a file of this size could not even be held.
  bool admits_file(int64_t file_size) const;
  // False when the entry whose second image starts at `separator` would
  // not fit: read from the halves' frame headers.
  bool admits_entry(const uint8_t* file, int64_t size, int64_t separator) const;
};

}  // namespace mpo
