// Splitting one MPO into its left and right JPEG files at the byte where
// the second image begins, and reading the first image's Exif segment.
#pragma once

#include <cstdint>
#include <optional>

#include "io/files.h"
#include "io/memory.h"
#include "io/text.h"

namespace mpo {

enum class StopReason { none, no_image_file, no_memory, unreadable, no_separator };

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
// early). Empty when the file has none, or L < 2.
MemoryBlock read_exif_segment(FileService& files, const Text& mpo_path);

// Offset S of the second image: the position nearest the middle (after the
// middle first on a tie, at most size / 4 away) where "Exif" stands with
// FF D8 FF E1 six bytes before it. Reads only inside [bytes, bytes + size).
std::optional<int64_t> find_separator(const uint8_t* bytes, int64_t size);

struct SplitResult {
  StopReason stop = StopReason::none;
  MemoryBlock file_bytes;
  int64_t separator = 0;
  Text left_name;
  Text right_name;
  MemoryBlock exif_segment;  // empty when the MPO has none
  bool left_written = false;
  bool right_written = false;
};

// Reads the Exif segment and the whole MPO, finds the separator and writes
// base path + "_L.jpg" (bytes [0, S)) and "_R.jpg" (bytes [S, size)).
// Nothing is written for an entry that stops. An output that cannot be
// created or fully written is not left behind (left_/right_written false).
SplitResult split_mpo(FileService& files, const Text& mpo_path, const Text& base_path);

}  // namespace mpo
