#include "app/wiggle_output.h"

#include <cerrno>
#include <cstring>
#include <span>
#include <vector>

#include "app/output_failure.h"
#include "app/split.h"
#include "app/texts.h"
#include "render/wiggle_encode.h"
#include "render/wiggle_frames.h"

namespace mpo {

namespace {

// The TIFF structure of the Exif segment (length field, "Exif", two zero
// bytes, then the structure), which is what a WebP file's EXIF chunk holds;
// empty when the segment is none.
std::span<const uint8_t> tiff_of(const MemoryBlock& segment) {
  constexpr size_t kHead = 2 + 6;
  if (!segment || segment.size() <= static_cast<int64_t>(kHead) ||
      std::memcmp(segment.data() + 2, "Exif\0\0", 6) != 0)
    return {};
  return {segment.data() + kHead, static_cast<size_t>(segment.size()) - kHead};
}

// Writes `bytes` as `name`; an empty result of the encoder fails with
// `empty_reason`.
bool write_encoded(FileService& files, const FailureReport& report, const Text& name,
                   const char16_t* failure_text, const std::vector<uint8_t>& bytes,
                   int empty_reason) {
  int reason = empty_reason;
  if (!bytes.empty() && write_output(files, kDisplayTargetSlot, name, bytes.data(),
                                     static_cast<int64_t>(bytes.size()), reason))
    return true;
  report.output_failed(failure_text, name, reason);
  return false;
}

}  // namespace

bool write_wiggle_pictures(FileService& files, Reporter& ui, const Text& base_path,
                           const Halves& halves, const MemoryBlock& exif_segment,
                           const ExtraOutputs& extra) {
  const FailureReport report(ui, extra.detailed_failures);
  WiggleFrames frames;
  const bool drawn = draw_wiggle_frames(halves, frames);
  // Frames not drawn: halves that are not usable, or no memory for them.
  const int not_drawn = halves.usable ? ENOMEM : kReasonUnreadableImage;
  std::vector<uint8_t> webp, gif;
  if (drawn) webp = encode_wiggle_webp(frames, extra.quality, tiff_of(exif_segment));
  bool all = write_encoded(files, report, base_path + texts::kWiggleWebpSuffix,
                           texts::kWiggleWebpFailed, webp, drawn ? ENOMEM : not_drawn);
  webp = {};
  if (drawn) gif = encode_wiggle_gif(frames);
  all = write_encoded(files, report, base_path + texts::kWiggleGifSuffix, texts::kWiggleGifFailed,
                      gif, drawn ? ENOMEM : not_drawn) &&
        all;
  return all;
}

}  // namespace mpo
