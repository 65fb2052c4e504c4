// The options window: four check boxes, the button and a note; its own
// event loop runs until the button is pressed or the window is closed.
#pragma once

#include <optional>

#include <wx/defs.h>
#include <wx/font.h>
#include <wx/iconbndl.h>

#include "app/front_end.h"

namespace mpo {

// Ids of the controls, in creation (and tab) order.
enum OptionsControlId : int {
  kOptionsBox1 = wxID_HIGHEST + 101,
  kOptionsBox2,
  kOptionsBox3,
  kOptionsBox4,
  kOptionsButton,
  kOptionsNote,
};

// The flags when the button was pressed, with the window closed again; all
// 0 when the window cannot be created; nullopt on a close request. Fonts
// that are not OK leave the toolkit's default font in place.
std::optional<OptionFlags> run_options_window(const wxFont& box_font, const wxFont& note_font,
                                              const wxIconBundle& icons);

}  // namespace mpo
