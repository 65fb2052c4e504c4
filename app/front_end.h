// What the batch asks of a front end, as two interfaces: the reports every
// front end gives (messages and progress), and the desktop program's own
// prompts (options window, file requester), which only its run uses.
#pragma once

#include <optional>

#include "io/text.h"

namespace mpo {

struct OptionFlags {
  int sbs = 0;   // option 1: side-by-side "_sbs.jpg"
  int sbsh = 0;  // option 2: half-width side-by-side "_sbsh.jpg"
  int ouh = 0;   // option 3: over/under "_ouh.jpg"
  int exif = 0;  // option 4: side-by-side with Exif "_EXIF.jpg"
  bool operator==(const OptionFlags&) const = default;
};

// Messages and progress of a run.
class Reporter {
 public:
  virtual ~Reporter() = default;
  // Modal message box with one OK button; '\r' in text is a line break.
  virtual void show_message(const Text& title, const Text& text) = 0;
  // Replaces the previous entry's progress window.
  virtual void show_progress_window(const Text& path) { (void)path; }
  // Called between the steps of an entry: lets the progress window repaint.
  virtual void keep_painted() {}
  // An entry has been finished (done of total, in the order entries end).
  virtual void entry_done(int done, int total, const Text& base_path) {
    (void)done, (void)total, (void)base_path;
  }
};

// The desktop program's questions before a run.
class DesktopPrompts {
 public:
  virtual ~DesktopPrompts() = default;
  // Creates font 0 ("Arial" 12) and font 1 ("Arial" 14); once at start-up.
  virtual void load_ui_fonts() = 0;
  // The flags when the button was pressed (all 0 when the window cannot be
  // opened); nullopt when the user closed the window: the program then ends.
  virtual std::optional<OptionFlags> run_options_window() = 0;
  // Full path of the chosen file, or empty text.
  virtual Text choose_file_to_open(const Text& title, const Text& default_file,
                                   const Text& patterns, int pattern_index) = 0;
};

}  // namespace mpo
