// The open-file requester: one file, its folder must exist, the file need not.
#pragma once

#include <memory>

#include <wx/filedlg.h>
#include <wx/iconbndl.h>

#include "io/text.h"

namespace mpo {

// The requester as it will be shown: title, wildcard from the pattern list
// (filters made case-insensitive), the filter at `pattern_index` selected,
// opening in the working directory with `default_file` as the name.
std::unique_ptr<wxFileDialog> make_open_requester(wxWindow* owner, const Text& title,
                                                  const Text& default_file, const Text& patterns,
                                                  int pattern_index, const wxIconBundle& icons);

// Shows the requester modally. The full path of the chosen file, or empty
// text on cancel or for a path too long for the program. The working
// directory is the same afterwards.
Text run_open_requester(wxFileDialog& requester);

}  // namespace mpo
