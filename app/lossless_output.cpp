#include "app/lossless_output.h"

#include <span>
#include <string>

#include "app/output_failure.h"
#include "app/split.h"
#include "app/texts.h"
#include "image/jpeg_lossless.h"

namespace mpo {

Text lossless_refusal_text(LosslessRefusal refusal, int mcu_width) {
  switch (refusal) {
    case LosslessRefusal::none: return u"";
    case LosslessRefusal::unreadable_left: return texts::kLosslessUnreadableLeft;
    case LosslessRefusal::unreadable_right: return texts::kLosslessUnreadableRight;
    case LosslessRefusal::different_height: return texts::kLosslessDifferentHeight;
    case LosslessRefusal::different_components: return texts::kLosslessDifferentComponents;
    case LosslessRefusal::different_sampling: return texts::kLosslessDifferentSampling;
    case LosslessRefusal::different_quantisation: return texts::kLosslessDifferentQuantisation;
    case LosslessRefusal::width_not_whole_mcu:
      return texts::kLosslessNarrowBefore + from_utf8(std::to_string(mcu_width)) +
             texts::kLosslessNarrowAfter;
    case LosslessRefusal::too_large: return texts::kLosslessTooLarge;
    case LosslessRefusal::no_memory: return texts::kLosslessNoMemory;
  }
  return u"";
}

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
                         lossless_refusal_text(joined.refusal, joined.mcu_width));
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
