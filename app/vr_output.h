// The command line's VR photo for phone headsets: base path + "_vr.jpg",
// the MPO's left half as it is with the right half carried in its XMP.
#pragma once

#include <cstdint>

#include "app/front_end.h"
#include "io/files.h"
#include "io/memory.h"
#include "io/text.h"

namespace mpo {

// From the MPO's bytes split at `separator`; `fov` the horizontal field
// of view in degrees. A half that cannot be read or a failed write shows
// "Fehlerinfo" (with file and reason for `detailed`) and leaves nothing
// behind. True when the file was written.
bool write_vr_photo(FileService& files, Reporter& ui, const Text& base_path,
                    const MemoryBlock& file_bytes, int64_t separator, int fov, bool detailed);

}  // namespace mpo
