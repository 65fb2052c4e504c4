// The corrected pair as an MPO of its own: base path + "_aligned.mpo".
#pragma once

#include "app/extra_outputs.h"
#include "app/front_end.h"
#include "app/split.h"
#include "image/image_service.h"
#include "io/files.h"
#include "render/halves.h"

namespace mpo {

constexpr int kAlignedFileSlot = 11;

// Encodes the halves' pictures at extra.quality, the left with the MPO's
// Exif segment and the right with its own (when it has one), joins them
// into an MPO and writes it as base path + "_aligned.mpo", whole or not at
// all. A failure shows "Fehlerinfo" with the file and the reason; false
// then.
bool write_aligned_mpo(FileService& files, ImageService& images, Reporter& ui,
                       const Text& base_path, const Halves& halves, const SplitResult& split,
                       const ExtraOutputs& extra);

}  // namespace mpo
