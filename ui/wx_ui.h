// The desktop program's user interface on wxWidgets. Needs an initialised
// toolkit, and must be destroyed before the toolkit shuts down.
#pragma once

#include <memory>
#include <optional>

#include <wx/evtloop.h>
#include <wx/font.h>
#include <wx/iconbndl.h>

#include "app/front_end.h"
#include "ui/progress_window.h"
#include "ui/top_level.h"

namespace mpo {

class WxUi : public Reporter, public DesktopPrompts {
 public:
  WxUi();
  ~WxUi() override;
  WxUi(const WxUi&) = delete;
  WxUi& operator=(const WxUi&) = delete;

  // Fonts for the resolution the display reports (96 when it reports none).
  void load_ui_fonts() override;
  // Fonts 0 and 1 for a display of `dpi` pixels per inch.
  void load_ui_fonts_for_dpi(int dpi);

  std::optional<OptionFlags> run_options_window() override;
  void show_message(const Text& title, const Text& text) override;
  Text choose_file_to_open(const Text& title, const Text& default_file, const Text& patterns,
                           int pattern_index) override;
  void show_progress_window(const Text& path) override;
  // Handles paint, resize and other window-system events of the progress
  // window, but no user input and nothing queued for the program itself.
  void keep_painted() override;

  // Font 0 or 1; not OK before load_ui_fonts or when it could not be made.
  const wxFont& font(int number) const;
  const wxIconBundle& icons() const { return icons_; }
  // The progress window now open, if any.
  ProgressWindow* progress_window() const { return progress_.get(); }

 private:
  wxFont fonts_[2];
  wxIconBundle icons_;
  TopLevelPtr<ProgressWindow> progress_;
  // Used by keep_painted when no event loop is running.
  std::unique_ptr<wxGUIEventLoop> yield_loop_;
};

// Pixels per inch of the display, vertically; 0 when it cannot be read.
int display_dpi();

}  // namespace mpo
