#include "app/vr_output.h"

#include <cerrno>
#include <span>

#include "app/output_failure.h"
#include "app/split.h"
#include "app/texts.h"
#include "app/wiggle_output.h"
#include "mpo/vr_photo.h"

namespace mpo {

bool write_vr_photo(FileService& files, Reporter& ui, const Text& base_path,
                    const MemoryBlock& file_bytes, int64_t separator, int fov, bool detailed) {
  const FailureReport report(ui, detailed);
  const Text name = base_path + texts::kVrSuffix;
  const uint8_t* bytes = file_bytes.data();
  const auto size = static_cast<size_t>(file_bytes.size());
  const auto split = static_cast<size_t>(separator);
  const VrPhoto photo = make_vr_photo({bytes, split}, {bytes + split, size - split}, fov);
  int reason = photo.refusal == VrRefusal::no_memory ? ENOMEM : kReasonUnreadableImage;
  if (photo.refusal == VrRefusal::none &&
      write_output(files, kDisplayTargetSlot, name, photo.jpeg.data(),
                   static_cast<int64_t>(photo.jpeg.size()), reason))
    return true;
  report.output_failed(texts::kVrFailed, name, reason);
  return false;
}

}  // namespace mpo
