#include "app/lossless_output.h"

#include <span>

#include "app/output_failure.h"
#include "app/split.h"
#include "app/texts.h"
#include "image/jpeg_lossless.h"

namespace mpo {

bool write_lossless_side_by_side(FileService& files, Reporter& ui, const Text& base_path,
                                 const MemoryBlock& file_bytes, int64_t separator,
                                 const MemoryBlock& exif_segment, bool detailed) {
  const FailureReport report(ui, detailed);
  const Text name = base_path + texts::kLosslessSuffix;
  const uint8_t* bytes = file_bytes.data();
  const auto size = static_cast<size_t>(file_bytes.size());
  const auto split = static_cast<size_t>(separator);
  std::span<const uint8_t> segment;
  if (exif_segment) segment = {exif_segment.data(), static_cast<size_t>(exif_segment.size())};
  const LosslessResult joined =
      join_side_by_side({bytes, split}, {bytes + split, size - split}, segment);
  if (joined.refusal != LosslessRefusal::none) {
    report.output_failed(texts::kLosslessFailed, name,
                         from_utf8(lossless_refusal_text(joined.refusal, joined.mcu_width)));
    return false;
  }
  int reason = kReasonUnknown;
  if (write_output(files, kLosslessSlot, name, joined.jpeg.data(),
                   static_cast<int64_t>(joined.jpeg.size()), reason)) {
    return true;
  }
  report.output_failed(texts::kLosslessFailed, name, reason);
  return false;
}

}  // namespace mpo
