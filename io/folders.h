// Folders for outputs that go elsewhere than next to their MPO.
#pragma once

#include "io/text.h"

namespace mpo {

// Creates `path` and every missing folder above it (mode 0777 less the
// umask). 0 when the folder exists afterwards, else the errno value of the
// step that failed.
int make_folders(const Text& path);

}  // namespace mpo
