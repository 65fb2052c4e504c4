#include "app/split.h"

#include <cstring>

#include "mpo/jpeg_segments.h"
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

namespace {

// Where the second image begins. With the MP index asked for, a stereo
// pair it lists decides (a first image may carry more bytes behind its end,
// such as a preview, that the byte search would take for the second image);
// the byte search is the fallback.
std::optional<int64_t> find_second_image(const MemoryBlock& file, bool use_mp_index) {
  const std::span<const uint8_t> bytes(file.data(), static_cast<size_t>(file.size()));
  if (use_mp_index) {
    if (const auto indexed = stereo_second_image_offset(bytes)) return indexed;
  }
  return find_separator(bytes.data(), file.size());
}

}  // namespace

MemoryBlock read_exif_segment(FileService& files, const Text& mpo_path) {
  constexpr int slot = kExifReadSlot;
  if (!files.open_file(slot, mpo_path)) return {};
  // The file's first bytes decide; where it ends early they stay zero.
  uint8_t head[kExifHeadBytes] = {};
  files.read_block(slot, head, kExifHeadBytes);
  MemoryBlock segment;
  if (const auto place = exif_segment_place(head)) {
    files.set_file_position(slot, place->start);
    segment = memory_allocate(place->length);
    if (segment) files.read_block(slot, segment.data(), place->length);
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

  const auto separator = find_second_image(result.file_bytes, use_mp_index);
  if (!separator) {
    result.stop = use_mp_index ? StopReason::not_stereo : StopReason::no_separator;
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
