// Splitting one MPO into its left and right JPEG files at the byte where
// the second image begins, and reading the first image's Exif segment.
#pragma once

#include <cstdint>
#include <optional>

#include "app/entry_budget.h"
#include "io/files.h"
#include "io/memory.h"
#include "io/text.h"

namespace mpo {

// not_stereo: with the MP index asked for, neither the byte search nor the
// index finds a second view.
enum class StopReason { none, no_image_file, no_memory, unreadable, no_separator, not_stereo };

// The German text of a stop reason ("" for none).
Text stop_reason_text(StopReason reason);

// File slots of the split.
constexpr int kMpoSlot = 1;
constexpr int kExifReadSlot = 7;
// Files under this size are no image files.
constexpr int64_t kMinMpoSize = 100;
// Larger files are not read into memory: no half beyond this could be
// decoded, and a huge or sparse file would tie up the machine's memory.
constexpr int64_t kMaxMpoSize = int64_t{1} << 31;

// The MPO path without its extension and the dot before it.
Text base_path_of(const Text& mpo_path);

// The first image's APP1 segment without its marker: the 2-byte length
// field L and the payload, L bytes in all (zero-filled where the file ends
// early), where exif_segment_place finds it in the file's first bytes.
// Empty when the file has none, or L < 2.
MemoryBlock read_exif_segment(FileService& files, const Text& mpo_path);

struct SplitResult {
  StopReason stop = StopReason::none;
  MemoryBlock file_bytes;
  int64_t separator = 0;
  Text left_name;
  Text right_name;
  MemoryBlock exif_segment;  // empty when the MPO has none
  bool left_written = false;
  bool right_written = false;
  int left_reason = 0;  // errno value of an output not written (0: none set)
  int right_reason = 0;
};

// Writes `count` bytes to the output file `name` through file slot `slot`.
// It takes its name only when complete: after a failed write no partial
// file remains and what stood there before is kept. On failure `reason` is
// the errno value (0 when none was set).
bool write_output(FileService& files, int slot, const Text& name, const uint8_t* bytes,
                  int64_t count, int& reason);

// Reads the Exif segment and the whole MPO, finds the separator and writes
// base path + "_L.jpg" (bytes [0, S)) and "_R.jpg" (bytes [S, size)). With
// `use_mp_index`, a file whose MP index lists a stereo pair is split at the
// second image of that index; the byte search is the fallback.
// Nothing is written for an entry that stops. An output that cannot be
// created or fully written is not left behind (left_/right_written false).
// An entry beyond `budget` (its file, or what its frame headers declare)
// stops with no_memory before the file is read or anything is written.
SplitResult split_mpo(FileService& files, const Text& mpo_path, const Text& base_path,
                      bool use_mp_index = false, const EntryBudget& budget = {});

}  // namespace mpo
