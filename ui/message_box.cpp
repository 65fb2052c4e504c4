#include "ui/message_box.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

namespace mpo {

namespace {

// Width beyond which a line of the text wraps.
constexpr int kWrapWidth = 520;

}  // namespace

void show_message_box(wxWindow* owner, const wxString& title, const wxString& text,
                      const wxIconBundle& icons) {
  long style = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX;
  if (owner == nullptr) style |= wxDIALOG_NO_PARENT;
  wxDialog box(owner, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, style);
  if (!box.GetHandle()) return;
  box.SetIcons(icons);

  auto* message = new wxStaticText(&box, kMessageTextId, wxString());
  message->SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
  message->SetLabelText(text);  // '&' is an ordinary character here
  message->Wrap(kWrapWidth);
  auto* ok = new wxButton(&box, wxID_OK, "OK");
  ok->SetDefault();

  auto* column = new wxBoxSizer(wxVERTICAL);
  column->Add(message, wxSizerFlags().Border(wxALL, 20));
  column->Add(ok, wxSizerFlags().Right().Border(wxLEFT | wxRIGHT | wxBOTTOM, 12));
  box.SetSizerAndFit(column);
  box.SetEscapeId(wxID_OK);
  // Centred on the screen, not on the owner: the owner is usually the
  // progress window, whose last path stays readable.
  box.CentreOnScreen();
  ok->SetFocus();
  box.ShowModal();
}

}  // namespace mpo
