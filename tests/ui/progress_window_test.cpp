// The progress window on a real display: frame, texts, replacement per
// entry, the ignored close button, and what keep_painted lets through.
#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/stattext.h>

#include <optional>

#include "tests/ui/gui_support.h"
#include "tests/ui/wx_driver.h"
#include "ui/progress_window.h"
#include "ui/top_level.h"
#include "ui/wx_ui.h"

namespace mpo {
namespace {

using namespace mpo::test;

wxStaticText* text_of(wxWindow* window, int id) {
  return dynamic_cast<wxStaticText*>(wxWindow::FindWindowById(id, window));
}

// keep_painted for about `time`, without any other event handling.
void keep_painted_for(WxUi& ui, std::chrono::milliseconds time) {
  const auto until = Clock::now() + time;
  while (Clock::now() < until) {
    ui.keep_painted();
    wxMilliSleep(10);
  }
}

class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MPO_REQUIRE_TOOLKIT();
    ui_.emplace();
  }
  void TearDown() override { ui_.reset(); }

  Watchdog watchdog_{60s};
  std::optional<WxUi> ui_;
};

TEST_F(ProgressWindowTest, FrameTextsAndFont) {
  const Text path = from_utf8("/home/anna/Fotos/Urlaub & Meer/DSCF0001");
  ui_->show_progress_window(path);
  ProgressWindow* window = ui_->progress_window();
  ASSERT_NE(window, nullptr);
  keep_painted_for(*ui_, 300ms);
  EXPECT_TRUE(window->IsShownOnScreen());
  EXPECT_EQ(window->GetTitle(), "Ablauf");
  EXPECT_EQ(window->GetClientSize(), wxSize(439, 97));
  EXPECT_EQ(window->GetScreenPosition(), wxPoint(319, 190));
  EXPECT_TRUE(window->HasFlag(wxRESIZE_BORDER));
  EXPECT_TRUE(window->HasFlag(wxCLOSE_BOX));
  EXPECT_FALSE(window->HasFlag(wxMINIMIZE_BOX));
  EXPECT_FALSE(window->HasFlag(wxMAXIMIZE_BOX));
  EXPECT_EQ(window->GetIcons().GetIconCount(), 4u);

  const wxPoint client = window->ClientToScreen(wxPoint(0, 0));
  const wxFont gui_font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  struct Expected {
    int id;
    wxRect rect;
    wxString text;
  };
  const Expected texts[] = {
      {kProgressLabel, {120, 10, 190, 30}, "Es wird derzeit bearbeitet:"},
      {kProgressPath, {20, 40, 400, 40}, wxString::FromUTF8("/home/anna/Fotos/Urlaub & Meer/DSCF0001")},
  };
  for (const Expected& e : texts) {
    wxStaticText* text = text_of(window, e.id);
    ASSERT_NE(text, nullptr) << e.text;
    EXPECT_EQ(wxRect(text->GetScreenPosition() - client, text->GetSize()), e.rect) << e.text;
    EXPECT_EQ(text->GetLabelText(), e.text);  // '&' shown as it is
    EXPECT_TRUE(text->HasFlag(wxALIGN_CENTRE_HORIZONTAL)) << e.text;
    EXPECT_EQ(text->GetFont(), gui_font) << e.text;
  }
  screenshot("ui-progress-window");
}

TEST_F(ProgressWindowTest, EachEntryReplacesThePreviousWindow) {
  ui_->show_progress_window(u"/fotos/erste");
  keep_painted_for(*ui_, 200ms);
  ui_->show_progress_window(u"/fotos/zweite");
  keep_painted_for(*ui_, 300ms);
  const auto windows = top_levels_titled("Ablauf");
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(text_of(windows.front(), kProgressPath)->GetLabelText(), "/fotos/zweite");
  // Also on the display itself: the first window is gone, not just hidden
  // from the toolkit.
  EXPECT_EQ(find_windows("^Ablauf$").size(), 1u);
}

TEST_F(ProgressWindowTest, CloseButtonDoesNothing) {
  ui_->show_progress_window(u"/fotos/DSCF0001");
  ProgressWindow* window = ui_->progress_window();
  keep_painted_for(*ui_, 200ms);
  const unsigned long xid = x_window_titled("Ablauf");
  ASSERT_NE(xid, 0u);
  ASSERT_TRUE(send_close_request(xid));
  keep_painted_for(*ui_, 300ms);
  pump_events(300ms);
  EXPECT_EQ(ui_->progress_window(), window);
  EXPECT_TRUE(window->IsShownOnScreen());
  EXPECT_EQ(find_windows("^Ablauf$").size(), 1u);
}

TEST_F(ProgressWindowTest, KeepPaintedHandlesDrawingButHoldsInputAndQueuedWork) {
  // Another window of the program with a button that the user clicks.
  auto other = make_top_level<wxFrame>(nullptr, wxID_ANY, "andere", wxPoint(700, 500), wxDefaultSize);
  other->SetClientSize(200, 100);
  auto* button = new wxButton(other.get(), wxID_ANY, "Knopf", wxPoint(0, 0), wxSize(200, 100));
  int clicks = 0;
  button->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { ++clicks; });
  other->Show();
  pump_events(300ms);
  const unsigned long other_xid = x_window_titled("andere");
  ASSERT_NE(other_xid, 0u);

  ui_->show_progress_window(u"/fotos/DSCF0001");
  ProgressWindow* window = ui_->progress_window();
  auto* panel = window->GetChildren().GetFirst()->GetData();
  int paints = 0;
  panel->Bind(wxEVT_PAINT, [&](wxPaintEvent& event) {
    ++paints;
    event.Skip();
  });
  bool queued_ran = false;
  wxTheApp->CallAfter([&] { queued_ran = true; });
  keep_painted_for(*ui_, 200ms);

  // Resizing the window: the new size and a repaint come through.
  const unsigned long xid = x_window_titled("Ablauf");
  ASSERT_NE(xid, 0u);
  paints = 0;
  run_process({"xdotool", "windowsize", std::to_string(xid), "500", "150"});
  click_at(other_xid, 100, 50);
  keep_painted_for(*ui_, 500ms);
  EXPECT_EQ(window->GetClientSize(), wxSize(500, 150));
  EXPECT_GT(paints, 0);
  // The click and the queued call wait.
  EXPECT_EQ(clicks, 0);
  EXPECT_FALSE(queued_ran);

  // The normal event loop delivers both afterwards.
  pump_events(500ms);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(queued_ran);
}

}  // namespace
}  // namespace mpo
