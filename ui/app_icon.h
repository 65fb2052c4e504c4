// The program's icon in all its sizes, for every window.
#pragma once

#include <wx/iconbndl.h>

namespace mpo {

// Decoded from the PNGs embedded in the binary; empty sizes are left out.
wxIconBundle program_icons();

}  // namespace mpo
