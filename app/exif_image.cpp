#include "app/exif_image.h"

#include <algorithm>

#include "app/header_reads.h"
#include "app/texts.h"

namespace mpo {

namespace {

constexpr int64_t kScanEnd = 512;  // last position of the Software scan
constexpr int64_t kEntrySize = 12;
constexpr int64_t kTiffStart = 8;  // segment position of the TIFF header

uint32_t le32(const MemoryBlock& b, int64_t at) {
  return uint32_t(b.read_byte(at)) | (uint32_t(b.read_byte(at + 1)) << 8) |
         (uint32_t(b.read_byte(at + 2)) << 16) | (uint32_t(b.read_byte(at + 3)) << 24);
}

// Where the encoder's first DQT stands: behind SOI and a plain JFIF APP0
// (marker and 16 bytes).
constexpr int64_t kFirstDqt = 2 + 2 + jpeg::kPlainJfifLength;

// The whole side-by-side file when it has the encoder's layout: SOI, a JFIF
// APP0 segment of 16 bytes and the first DQT at offset 20.
MemoryBlock read_side_by_side(FileService& files, const Text& name) {
  constexpr int slot = kSbsReadSlot;
  if (!files.open_file(slot, name)) return {};
  MemoryBlock copy;
  if (read_be16(files, slot) == jpeg::marker_word(jpeg::kSOI) &&
      read_be16(files, slot) == jpeg::marker_word(jpeg::kAPP0)) {
    files.set_file_position(slot, kFirstDqt);
    if (read_be16(files, slot) == jpeg::marker_word(jpeg::kDQT)) {
      files.set_file_position(slot, 0);
      const int64_t length = files.file_length(slot);
      copy = memory_allocate(length);
      if (copy && files.read_block(slot, copy.data(), length) != length) copy.release();
    }
  }
  files.close_file(slot);
  return copy;
}

}  // namespace

void apply_name_token_rule(const Text& upper_base_name, NameToken& name) {
  name.flag = false;
  const Text year = text_left(upper_base_name, 2);
  if (!text_equals(year, u"19") && !text_equals(year, u"20")) return;
  name.flag = true;
  const int64_t p1 = text_find(upper_base_name, u"_", 1);
  const int64_t p2 = text_find(upper_base_name, u"_", p1 + 1);
  Text token = text_mid(upper_base_name, p1 + 1, p2 - p1 - 1);
  if (token.empty()) token = u"XXX";
  name.token = text_upper(token);
}

Text software_text(const Text& token) {
  const Text fitted =
      text_length(token) > 9 ? text_left(token, 10) : text_pad_right(token, 10, u" ");
  return fitted + u"-V1.22";
}

bool rewrite_software(MemoryBlock& segment, const Text& software) {
  const int64_t last = std::min(kScanEnd, segment.size() - kEntrySize);
  bool found = false;
  int64_t count = 0;
  int64_t value_at = 0;  // segment position of the value's first byte
  for (int64_t i = 0; i <= last; ++i) {
    if (segment.read_byte(i) == 0x31 && segment.read_byte(i + 1) == 0x01 &&
        segment.read_byte(i + 2) == 0x02 && segment.read_byte(i + 3) == 0x00) {
      found = true;
      const int64_t count_field = le32(segment, i + 4);
      count = count_field - 1;  // the terminating zero stays
      // Values of up to four bytes stand in the entry itself.
      value_at = count_field <= 4 ? i + 8 : int64_t(le32(segment, i + 8)) + kTiffStart;
    }
  }
  if (!found) return false;
  if (count <= 0) return true;
  if (!segment.contains(value_at, count)) return false;
  const Text fitted = text_pad_right(software, count, u" ");
  for (int64_t k = 1; k <= count; ++k) {
    segment.write_byte(value_at + k - 1, text_first_code(text_mid(fitted, k, 1)) & 0xFF);
  }
  return true;
}

bool write_exif_image(FileService& files, Reporter& ui, const Text& base_path, MemoryBlock& segment,
                      const NameToken& name, bool sbs_written) {
  const Text failure = texts::kExifFailed;
  MemoryBlock copy;
  if (sbs_written) copy = read_side_by_side(files, base_path + texts::kSbsSuffix);
  if (!copy || !segment) {
    ui.show_message(texts::kErrorInfoTitle, failure);
    return false;
  }
  if (name.flag) rewrite_software(segment, software_text(name.token));

  const Text out_name = base_path + texts::kExifSuffix;
  constexpr int slot = kExifWriteSlot;
  if (!files.create_output_file(slot, out_name)) {
    ui.show_message(texts::kErrorInfoTitle, failure);
    return false;
  }
  const int64_t n = copy.size();
  bool ok = files.write_block(slot, copy.data(), 2) == 2;
  files.write_byte(slot, jpeg::kMarkerPrefix);
  files.write_byte(slot, jpeg::kAPP1);
  ok = files.write_block(slot, segment.data(), segment.size()) == segment.size() && ok;
  ok = files.write_block(slot, copy.data() + kFirstDqt, n - kFirstDqt) == n - kFirstDqt && ok;
  // A short write keeps the file from its name; nothing partial remains.
  if (ok) {
    ok = files.close_file(slot) != 0;
  } else {
    files.abandon_file(slot);
  }
  if (!ok) ui.show_message(texts::kErrorInfoTitle, failure);
  return ok;
}

}  // namespace mpo
