// Conversion between the program's UTF-16 Text and wxString.
#pragma once

#include <wx/string.h>

#include "io/text.h"

namespace mpo {

// For display: surrogate pairs are combined, unpaired surrogates (raw bytes
// of names that are not UTF-8) become U+FFFD.
wxString to_wx(const Text& text);

// A file name from the toolkit, through its file-name encoding, so that
// names that are not valid UTF-8 survive as raw bytes.
Text from_wx_file_name(const wxString& name);

}  // namespace mpo
