// The command line's wiggle pictures: base path + "_wiggle.webp" (lossy at
// the chosen quality, with the MPO's Exif segment) and "_wiggle.gif", both
// from the entry's decoded halves.
#pragma once

#include "app/extra_outputs.h"
#include "app/front_end.h"
#include "render/halves.h"
#include "io/files.h"
#include "io/memory.h"
#include "io/text.h"

namespace mpo {

// File slot of the wiggle pictures and the VR photo, written one after
// another.
constexpr int kDisplayTargetSlot = 13;

// Writes both files. Each one that cannot be made (unusable halves: none
// is) or written shows its "Fehlerinfo" message and leaves nothing behind.
// True when both were written.
bool write_wiggle_pictures(FileService& files, Reporter& ui, const Text& base_path,
                           const Halves& halves, const MemoryBlock& exif_segment,
                           const ExtraOutputs& extra);

}  // namespace mpo
