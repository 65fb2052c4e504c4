// The program's message box: title, text, one OK button, no icon.
#pragma once

#include <wx/defs.h>
#include <wx/iconbndl.h>
#include <wx/string.h>
#include <wx/window.h>

namespace mpo {

// Id of the message text in the box.
constexpr int kMessageTextId = wxID_HIGHEST + 201;

// Modal; returns when the box is closed by OK, Enter, Escape or its close
// button. Line feeds in `text` start new lines; long lines wrap.
void show_message_box(wxWindow* owner, const wxString& title, const wxString& text,
                      const wxIconBundle& icons);

}  // namespace mpo
