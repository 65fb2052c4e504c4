// The progress window: which entry of the batch is being converted. Display
// only: its close button does nothing.
#pragma once

#include <wx/defs.h>
#include <wx/frame.h>
#include <wx/iconbndl.h>

#include "io/text.h"

namespace mpo {

enum ProgressControlId : int {
  kProgressLabel = wxID_HIGHEST + 301,
  kProgressPath,
};

class ProgressWindow : public wxFrame {
 public:
  ProgressWindow(const Text& path, const wxIconBundle& icons);
};

}  // namespace mpo
