#include "app/exif_image.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "app/header_reads.h"
#include "app/output_failure.h"
#include "app/texts.h"
#include "mpo/exif_software.h"

namespace mpo {

namespace {

// Where the encoder's first DQT stands: behind SOI and a plain JFIF APP0
// (marker and 16 bytes).
constexpr int64_t kFirstDqt = 2 + 2 + jpeg::kPlainJfifLength;


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
  // The value is one byte per character: what does not fit becomes '?'.
  Text bytes;
  for (size_t i = 0; i < token.size(); ++i) {
    const char16_t unit = token[i];
    if (unit <= 0xFF) {
      bytes.push_back(unit);
      continue;
    }
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < token.size() &&
                      token[i + 1] >= 0xDC00 && token[i + 1] <= 0xDFFF;
    if (pair) ++i;
    bytes.push_back(u'?');
  }
  const Text fitted =
      text_length(bytes) > 9 ? text_left(bytes, 10) : text_pad_right(bytes, 10, u" ");
  return fitted + u"-V1.22";
}

bool rewrite_software(MemoryBlock& segment, const Text& software) {
  if (!segment) return false;
  // One byte per character: what does not fit becomes '?'.
  std::vector<uint8_t> bytes(software.size());
  for (size_t k = 0; k < software.size(); ++k)
    bytes[k] = software[k] <= 0xFF ? static_cast<uint8_t>(software[k]) : uint8_t{'?'};
  return rewrite_exif_software({segment.data(), static_cast<size_t>(segment.size())}, bytes);
}

MemoryBlock read_encoded_file(FileService& files, const Text& name) {
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

bool write_spliced(FileService& files, const Text& out_name, const MemoryBlock& encoded,
                   const MemoryBlock& segment, int& reason) {
  constexpr int slot = kExifWriteSlot;
  if (!files.create_output_file(slot, out_name)) {
    reason = files.file_error(slot);
    return false;
  }
  auto put = [&](const uint8_t* bytes, int64_t n) {
    return files.write_block(slot, bytes, n) == n;
  };
  bool ok;
  if (segment) {
    static const uint8_t kHead[4] = {jpeg::kMarkerPrefix, jpeg::kSOI, jpeg::kMarkerPrefix,
                                     jpeg::kAPP1};
    ok = put(kHead, 4) && put(segment.data(), segment.size()) &&
         put(encoded.data() + kFirstDqt, encoded.size() - kFirstDqt);
  } else {
    ok = put(encoded.data(), encoded.size());
  }
  // A short write keeps the file from its name; nothing partial remains.
  if (ok) {
    ok = files.close_file(slot) != 0;
  } else {
    files.abandon_file(slot);
  }
  if (!ok) reason = files.file_error(slot);
  return ok;
}

bool write_exif_image(FileService& files, Reporter& ui, const Text& base_path,
                      const MemoryBlock& segment, const NameToken& name, bool sbs_written,
                      const ExtraOutputs& extra) {
  const FailureReport report(ui, extra.detailed_failures);
  const Text out_name = base_path + texts::kExifSuffix;
  MemoryBlock encoded;
  if (sbs_written) encoded = read_encoded_file(files, base_path + texts::kSbsSuffix);
  MemoryBlock own;
  if (segment) own = memory_allocate(segment.size());
  int reason = !encoded ? kReasonNoSideBySide : !segment ? kReasonNoExif : ENOMEM;
  if (!encoded || !own) {
    report.output_failed(texts::kExifFailed, out_name, reason);
    return false;
  }
  std::memcpy(own.data(), segment.data(), size_t(segment.size()));
  if (name.flag) rewrite_software(own, software_text(name.token));
  if (write_spliced(files, out_name, encoded, own, reason)) return true;
  report.output_failed(texts::kExifFailed, out_name, reason);
  return false;
}

}  // namespace mpo
