#include "ui/wx_ui.h"

#include <wx/dcscreen.h>
#include <wx/filedlg.h>

#include "ui/app_icon.h"
#include "ui/file_requester.h"
#include "ui/message_box.h"
#include "ui/modal_scope.h"
#include "ui/options_window.h"
#include "ui/ui_text.h"
#include "ui/wx_text.h"

namespace mpo {

namespace {

// A font of `em_pixels` character height. wx's pixel-size fonts fix the line
// height, not the character height, so the height is turned into the point
// size that gives exactly `em_pixels` at the resolution the toolkit renders
// text with.
wxFont arial_font(int em_pixels) {
  int render_dpi = display_dpi();
  if (render_dpi <= 0) render_dpi = kDefaultDpi;
  const double points = em_pixels * 72.0 / render_dpi;
  return wxFont(wxFontInfo(points).Family(wxFONTFAMILY_SWISS).FaceName("Arial"));
}

}  // namespace

int display_dpi() {
  const wxScreenDC screen;
  if (!screen.IsOk()) return 0;
  return screen.GetPPI().y;
}

WxUi::WxUi() : icons_(program_icons()) {}

WxUi::~WxUi() = default;

void WxUi::load_ui_fonts() { load_ui_fonts_for_dpi(display_dpi()); }

void WxUi::load_ui_fonts_for_dpi(int dpi) {
  fonts_[0] = arial_font(font_pixel_height(12, dpi));
  fonts_[1] = arial_font(font_pixel_height(14, dpi));
}

const wxFont& WxUi::font(int number) const {
  if (number < 0 || number > 1) return wxNullFont;
  return fonts_[number];
}

std::optional<OptionFlags> WxUi::run_options_window() {
  return mpo::run_options_window(fonts_[0], fonts_[1], icons_);
}

void WxUi::show_message(const Text& title, const Text& text) {
  const ModalScope scope;
  show_message_box(scope.owner(), to_wx(title), to_wx(message_display_text(text)), icons_);
}

Text WxUi::choose_file_to_open(const Text& title, const Text& default_file, const Text& patterns,
                               int pattern_index) {
  const ModalScope scope;
  const auto requester =
      make_open_requester(scope.owner(), title, default_file, patterns, pattern_index, icons_);
  return run_open_requester(*requester);
}

void WxUi::show_progress_window(const Text& path) {
  progress_.reset();  // the previous entry's window goes first
  auto window = make_top_level<ProgressWindow>(path, icons_);
  if (!window->GetHandle()) return;
  window->Show();
  window->Raise();
  progress_ = std::move(window);
  keep_painted();
}

void WxUi::keep_painted() {
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  if (loop == nullptr) {
    if (!yield_loop_) yield_loop_ = std::make_unique<wxGUIEventLoop>();
    loop = yield_loop_.get();
  }
  loop->YieldFor(wxEVT_CATEGORY_UI);
}

}  // namespace mpo
