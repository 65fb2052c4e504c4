#include "ui/progress_window.h"

#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/stattext.h>

#include "ui/wx_text.h"

namespace mpo {

namespace {

constexpr int kClientWidth = 439;
constexpr int kClientHeight = 97;

wxStaticText* add_text(wxWindow* parent, int id, const wxRect& rect, const wxFont& font,
                       long extra_style) {
  auto* text = new wxStaticText(parent, id, wxString(), rect.GetPosition(), rect.GetSize(),
                                wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE | extra_style);
  text->SetFont(font);
  return text;
}

}  // namespace

ProgressWindow::ProgressWindow(const Text& path, const wxIconBundle& icons)
    : wxFrame(nullptr, wxID_ANY, "Ablauf", wxPoint(319, 190), wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER) {
  if (!GetHandle()) return;
  SetIcons(icons);
  SetClientSize(kClientWidth, kClientHeight);
  auto* panel = new wxPanel(this, wxID_ANY, wxPoint(0, 0), wxSize(kClientWidth, kClientHeight));
  const wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  // SetLabelText: an '&' in a path is an ordinary character. A path too
  // long for the line keeps its start and its end.
  add_text(panel, kProgressLabel, wxRect(120, 10, 190, 30), font, 0)
      ->SetLabelText("Es wird derzeit bearbeitet:");
  add_text(panel, kProgressPath, wxRect(20, 40, 400, 40), font, wxST_ELLIPSIZE_MIDDLE)
      ->SetLabelText(to_wx(path));
  Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& event) {
    if (event.CanVeto()) event.Veto();
  });
}

}  // namespace mpo
