#include "app/aligned_mpo.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "app/composites.h"
#include "app/output_failure.h"
#include "app/texts.h"
#include "io/interrupts.h"
#include "mpo/join.h"

namespace mpo {

namespace {

const uint8_t* picture_row(void* context, int32_t y) {
  return static_cast<const PixelView*>(context)->row(y);
}

// The Exif APP1 segment (length field and payload) among the application
// segments at the start of a JPEG; empty when there is none.
std::span<const uint8_t> exif_segment_of(const uint8_t* jpeg, int64_t size) {
  if (size < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return {};
  int64_t at = 2;
  while (at + 4 <= size && jpeg[at] == 0xFF && (jpeg[at + 1] & 0xF0) == 0xE0) {
    const int64_t length = int64_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    if (length < 2 || at + 2 + length > size) return {};
    if (jpeg[at + 1] == 0xE1 && length >= 8 && std::memcmp(jpeg + at + 4, "Exif\0\0", 6) == 0)
      return {jpeg + at + 2, static_cast<size_t>(length)};
    at += 2 + length;
  }
  return {};
}

// A temporary file recorded for removal on a signal, removed at the end.
class Temporary {
 public:
  Temporary() {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/mpo-convert-XXXXXX";
    const TemporaryScope scope;
    const int fd = mkstemp(path_.data());
    if (fd < 0) {
      path_.clear();
      return;
    }
    close(fd);
    record_ = record_temporary(path_);
  }
  ~Temporary() {
    if (path_.empty()) return;
    unlink(path_.c_str());
    forget_temporary(record_);
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int record_ = -1;
};

// The picture encoded by the image service's encoder, as bytes.
bool encoded(ImageService& images, const PixelView& picture, std::span<const uint8_t> exif,
             const ExtraOutputs& extra, std::vector<uint8_t>& bytes, int& reason) {
  const Temporary file;
  if (file.path().empty()) {
    reason = errno;
    return false;
  }
  PixelView view = picture;
  errno = 0;
  if (images.save_rows(RowSource{picture_row, &view}, picture.width, picture.height,
                       from_utf8(file.path()), kJpegEncoderId, quality_level(extra), exif) == 0) {
    reason = errno != 0 ? errno : kReasonUnknown;
    return false;
  }
  std::ifstream in(file.path(), std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.eof() && !in.good()) {
    reason = errno != 0 ? errno : kReasonUnknown;
    return false;
  }
  return true;
}

}  // namespace

bool write_aligned_mpo(FileService& files, ImageService& images, Reporter& ui,
                       const Text& base_path, const Halves& halves, const SplitResult& split,
                       const ExtraOutputs& extra) {
  const FailureReport report(ui, extra.detailed_failures);
  const Text name = base_path + texts::kAlignedSuffix;
  int reason = kReasonUnreadableImage;
  std::vector<uint8_t> left, right;
  const uint8_t* file = split.file_bytes.data();
  const int64_t size = split.file_bytes.size();
  const std::span<const uint8_t> left_exif = split.exif_segment.bytes();
  const auto right_exif = file && split.separator < size
                              ? exif_segment_of(file + split.separator, size - split.separator)
                              : std::span<const uint8_t>();
  bool ok = halves.usable && encoded(images, halves.left_picture, left_exif, extra, left, reason) &&
            encoded(images, halves.right_picture, right_exif, extra, right, reason);
  if (ok) {
    const JoinResult joined = join_mpo(left, right);
    reason = kReasonUnknown;
    ok = joined.refusal == JoinRefusal::none &&
         write_output(files, kAlignedFileSlot, name, joined.bytes.data(),
                      int64_t(joined.bytes.size()), reason);
  }
  if (!ok) report.output_failed(texts::kAlignedFailed, name, reason);
  return ok;
}

}  // namespace mpo
