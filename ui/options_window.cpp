#include "ui/options_window.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/stattext.h>

#include "ui/options_rules.h"
#include "ui/top_level.h"
#include "ui/wx_text.h"

namespace mpo {

namespace {

const char16_t kTitle[] = u"Bilder zusätzlich zur Bildtrennung rechtes Bild R und linkes Bild L";
constexpr int kClientWidth = 430;
constexpr int kClientHeight = 280;

struct ControlLayout {
  int id;
  int x, y, width, height;
  const char16_t* text;
};

const ControlLayout kBoxes[] = {
    {kOptionsBox1, 30, 30, 300, 30, u" 1. SbS Stereobild"},
    {kOptionsBox2, 30, 70, 300, 30, u" 2. SbS Stereobild halbbreit"},
    {kOptionsBox3, 30, 110, 300, 30, u" 3. Stereobild oben/unten halbbreit"},
    {kOptionsBox4, 30, 150, 300, 30, u" 4. SbS mit Exif von MPO"},
};
const ControlLayout kButton = {kOptionsButton, 80, 190, 210, 40, u" Erzeuge Zusatzformate"};
const ControlLayout kNote = {kOptionsNote, 75, 240, 320, 40, u"4. nur, wenn auch 1. gewählt wurde"};

wxPoint position(const ControlLayout& c) { return wxPoint(c.x, c.y); }
wxSize size(const ControlLayout& c) { return wxSize(c.width, c.height); }

void set_font(wxWindow* control, const wxFont& font) {
  if (font.IsOk()) control->SetFont(font);
}

class OptionsFrame : public wxFrame {
 public:
  enum class Outcome { open, button, closed };

  // Without wxMINIMIZE_BOX, wxMAXIMIZE_BOX and wxRESIZE_BORDER the toolkit
  // asks the window manager (Motif hints) for move and close only, and the
  // size is fixed. Some window managers draw their buttons all the same:
  // openbox keeps minimise for every ordinary or dialog window and shows an
  // inert maximise button. Only menu, toolbar or splash windows lose them
  // there, which would cost the window its taskbar entry and focus.
  OptionsFrame(const wxFont& box_font, const wxFont& note_font, const wxIconBundle& icons)
      : wxFrame(nullptr, wxID_ANY, to_wx(kTitle), wxPoint(0, 0), wxDefaultSize,
                wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    if (!GetHandle()) return;
    SetIcons(icons);
    SetClientSize(kClientWidth, kClientHeight);
    const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    SetBackgroundColour(face);

    // The panel gives the controls keyboard navigation (Tab, Shift+Tab).
    auto* panel = new wxPanel(this, wxID_ANY, wxPoint(0, 0), wxSize(kClientWidth, kClientHeight),
                              wxTAB_TRAVERSAL);
    panel->SetBackgroundColour(face);
    for (const ControlLayout& c : kBoxes) {
      auto* box = new wxCheckBox(panel, c.id, to_wx(c.text), position(c), size(c));
      set_font(box, box_font);
    }
    auto* button = new wxButton(panel, kButton.id, to_wx(kButton.text), position(kButton),
                                size(kButton));
    set_font(button, box_font);
    // Created empty and labelled with SetLabelText so that '&' is shown as
    // it is instead of marking a mnemonic.
    auto* note = new wxStaticText(panel, kNote.id, wxString(), position(kNote), size(kNote),
                                  wxALIGN_LEFT | wxST_NO_AUTORESIZE);
    set_font(note, note_font);
    note->SetLabelText(to_wx(kNote.text));

    Bind(wxEVT_CHECKBOX, &OptionsFrame::on_box, this);
    Bind(wxEVT_BUTTON, &OptionsFrame::on_button, this, kOptionsButton);
    Bind(wxEVT_CLOSE_WINDOW, &OptionsFrame::on_close, this);
  }

  // Shows the window and serves it until the button or a close request.
  Outcome run() {
    Show();
    Raise();
    wxGUIEventLoop loop;
    loop_ = &loop;
    loop.Run();
    loop_ = nullptr;
    return outcome_;
  }

  OptionFlags flags() const { return rules_.flags(); }

 private:
  void on_box(wxCommandEvent& event) {
    // The event comes after the box has toggled itself: its state is the
    // tick the user now sees.
    rules_.on_box_clicked(event.GetId() - kOptionsBox1 + 1, event.IsChecked());
  }

  void on_button(wxCommandEvent&) { finish(Outcome::button); }

  // Never destroys the window from inside its own handler; run() returns
  // and the caller releases it.
  void on_close(wxCloseEvent&) { finish(Outcome::closed); }

  void finish(Outcome outcome) {
    if (outcome_ != Outcome::open) return;
    outcome_ = outcome;
    if (loop_ != nullptr) loop_->Exit();
  }

  OptionsRules rules_;
  Outcome outcome_ = Outcome::open;
  wxGUIEventLoop* loop_ = nullptr;
};

}  // namespace

std::optional<OptionFlags> run_options_window(const wxFont& box_font, const wxFont& note_font,
                                              const wxIconBundle& icons) {
  auto frame = make_top_level<OptionsFrame>(box_font, note_font, icons);
  if (!frame->GetHandle()) return OptionFlags{};
  const OptionsFrame::Outcome outcome = frame->run();
  const OptionFlags flags = frame->flags();
  frame.reset();
  if (outcome == OptionsFrame::Outcome::closed) return std::nullopt;
  return flags;
}

}  // namespace mpo
