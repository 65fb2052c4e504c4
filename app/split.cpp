#include "app/split.h"

#include <cstring>

#include "app/header_reads.h"
#include "mpo/mp_index.h"
#include "mpo/separator.h"
#include "app/texts.h"
#include "io/paths.h"

namespace mpo {

Text stop_reason_text(StopReason reason) {
  switch (reason) {
    case StopReason::none: return u"";
    case StopReason::no_image_file: return texts::kNoImageFile;
    case StopReason::no_memory: return texts::kNoMemory;
    case StopReason::unreadable: return texts::kUnreadable;
    case StopReason::no_separator: return texts::kNoSeparator;
    case StopReason::not_stereo: return texts::kNotStereo;
  }
  return u"";
}

Text base_path_of(const Text& mpo_path) {
  return text_left(mpo_path, text_length(mpo_path) - text_length(extension_part(mpo_path)) - 1);
}

// Writes bytes to an output file. It takes its name only when complete:
// after a failed write no partial file remains and what stood there before
// is kept. On failure `reason` is the file's error (0 when none was set).
bool write_output(FileService& files, int slot, const Text& name, const uint8_t* bytes,
                  int64_t count, int& reason) {
  bool ok = files.create_output_file(slot, name) != 0;
  if (ok && files.write_block(slot, bytes, count) != count) {
    files.abandon_file(slot);
    ok = false;
  } else if (ok) {
    ok = files.close_file(slot) != 0;
  }
  if (!ok) reason = files.file_error(slot);
  return ok;
}

MemoryBlock read_exif_segment(FileService& files, const Text& mpo_path) {
  constexpr int slot = kExifReadSlot;
  if (!files.open_file(slot, mpo_path)) return {};
  MemoryBlock segment;
  int64_t start = 0;
  if (read_be16(files, slot) == jpeg::marker_word(jpeg::kSOI)) {
    const int marker = read_be16(files, slot);
    if (marker == jpeg::marker_word(jpeg::kAPP1)) {
      start = jpeg::kApp1LengthAtStart;
    } else if (marker == jpeg::marker_word(jpeg::kAPP0) &&
               read_be16(files, slot) == jpeg::kPlainJfifLength) {
      // Only a plain JFIF header ends at the APP1's marker; a longer one
      // (with a thumbnail) may hold any bytes there.
      files.set_file_position(slot, jpeg::kApp1MarkerAfterJfif);
      if (read_be16(files, slot) == jpeg::marker_word(jpeg::kAPP1)) {
        start = jpeg::kApp1LengthAfterJfif;
      }
    }
  }
  if (start != 0) {
    const int length = read_be16(files, slot);
    // A length below 2 cannot even hold its own length field.
    if (length >= 2) {
      files.set_file_position(slot, start);
      segment = memory_allocate(length);
      if (segment) files.read_block(slot, segment.data(), length);
    }
  }
  files.close_file(slot);
  return segment;
}

SplitResult split_mpo(FileService& files, const Text& mpo_path, const Text& base_path,
                      bool use_mp_index, const EntryBudget& budget) {
  SplitResult result;
  result.exif_segment = read_exif_segment(files, mpo_path);

  const int64_t size = FileService::file_size(mpo_path);
  if (size < kMinMpoSize) {
    result.stop = StopReason::no_image_file;
    return result;
  }
  if (size > kMaxMpoSize || !budget.admits_file(size)) {
    result.stop = StopReason::no_memory;
    return result;
  }
  result.file_bytes = memory_allocate(size);
  if (!result.file_bytes) {
    result.stop = StopReason::no_memory;
    return result;
  }
  if (!files.open_file(kMpoSlot, mpo_path)) {
    result.stop = StopReason::unreadable;
    return result;
  }
  // A file that shrank since its size was taken leaves zeros behind.
  files.read_block(kMpoSlot, result.file_bytes.data(), size);
  files.close_file(kMpoSlot);

  auto separator = find_separator(result.file_bytes.data(), size);
  if (!separator && use_mp_index) {
    separator = stereo_second_image_offset({result.file_bytes.data(), size_t(size)});
    if (!separator) {
      result.stop = StopReason::not_stereo;
      return result;
    }
  }
  if (!separator) {
    result.stop = StopReason::no_separator;
    return result;
  }
  if (!budget.admits_entry(result.file_bytes.data(), size, *separator)) {
    result.stop = StopReason::no_memory;
    return result;
  }
  result.separator = *separator;
  result.left_name = base_path + texts::kLeftSuffix;
  result.right_name = base_path + texts::kRightSuffix;
  const uint8_t* bytes = result.file_bytes.data();
  result.left_written =
      write_output(files, kMpoSlot, result.left_name, bytes, result.separator, result.left_reason);
  result.right_written = write_output(files, kMpoSlot, result.right_name, bytes + result.separator,
                                      size - result.separator, result.right_reason);
  return result;
}

}  // namespace mpo
