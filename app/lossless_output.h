// The command line's lossless side-by-side: both halves' coefficients
// joined into base path + "_sbs-lossless.jpg", with the MPO's Exif segment
// after SOI and no MP index.
#pragma once

#include <cstdint>

#include "app/front_end.h"
#include "image/jpeg_lossless.h"
#include "io/files.h"
#include "io/memory.h"
#include "io/text.h"

namespace mpo {

// File slot of the lossless output.
constexpr int kLosslessSlot = 10;

// The German reason for a refusal ("" for none). `mcu_width` is the width
// of one MCU in pixels, named by the reason for width_not_whole_mcu.
Text lossless_refusal_text(LosslessRefusal refusal, int mcu_width);

// Joins [0, separator) and [separator, size) of `file_bytes`. A refused
// join or a failed write leaves nothing behind and shows "Fehlerinfo"
// (with file and reason for `detailed`). True when the file was written.
bool write_lossless_side_by_side(FileService& files, Reporter& ui, const Text& base_path,
                                 const MemoryBlock& file_bytes, int64_t separator,
                                 const MemoryBlock& exif_segment, bool detailed);

}  // namespace mpo
