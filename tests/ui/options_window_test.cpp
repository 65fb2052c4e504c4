// The options window on a real display: its frame, controls, fonts and
// keyboard order, and the option flags produced by real clicks.
#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcclient.h>
#include <wx/settings.h>
#include <wx/stattext.h>

#include <array>
#include <optional>

#include "tests/ui/gui_support.h"
#include "tests/ui/wx_driver.h"
#include "ui/options_window.h"
#include "ui/wx_ui.h"

namespace mpo {
namespace {

using namespace mpo::test;

const wxString kTitle = wxString::FromUTF8(
    "Bilder zusätzlich zur Bildtrennung rechtes Bild R und linkes Bild L");

struct Expected {
  int id;
  wxRect rect;
  const char* text;
};
const std::array<Expected, 6> kControls = {{
    {kOptionsBox1, {30, 30, 300, 30}, " 1. SbS Stereobild"},
    {kOptionsBox2, {30, 70, 300, 30}, " 2. SbS Stereobild halbbreit"},
    {kOptionsBox3, {30, 110, 300, 30}, " 3. Stereobild oben/unten halbbreit"},
    {kOptionsBox4, {30, 150, 300, 30}, " 4. SbS mit Exif von MPO"},
    {kOptionsButton, {80, 190, 210, 40}, " Erzeuge Zusatzformate"},
    {kOptionsNote, {75, 240, 320, 40}, "4. nur, wenn auch 1. gewählt wurde"},
}};

wxWindow* control(wxWindow* frame, int id) { return wxWindow::FindWindowById(id, frame); }

bool is_checked(wxWindow* frame, int box) {
  auto* check = dynamic_cast<wxCheckBox*>(control(frame, kOptionsBox1 + box - 1));
  return check != nullptr && check->IsChecked();
}

// Em height in pixels of a font as the toolkit renders it.
double em_pixels(const wxFont& font) {
  return font.GetFractionalPointSize() * wxGetDisplayPPI().y / 72.0;
}

class OptionsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MPO_REQUIRE_TOOLKIT();
    ui_.emplace();
    ui_->load_ui_fonts();
  }
  void TearDown() override { ui_.reset(); }

  // Opens the window, waits for it, runs `inspect` on it, clicks the given
  // boxes one by one (each click must show on its box), then presses the
  // button or sends a close request. `ticks` receives what the boxes show.
  std::optional<OptionFlags> run(const std::vector<int>& boxes, bool press_button = true,
                                 const std::function<void(wxTopLevelWindow&)>& inspect = {},
                                 std::array<bool, 4>* ticks = nullptr) {
    wxTopLevelWindow* frame = nullptr;
    unsigned long xid = 0;
    std::array<bool, 4> expected{};
    std::vector<Script::Step> steps;
    steps.push_back([&] {
      frame = top_level_titled(kTitle);
      if (frame == nullptr || !frame->IsShownOnScreen()) return false;
      xid = x_window_titled(kTitle);
      return xid != 0;
    });
    if (inspect) steps.push_back([&] {
      inspect(*frame);
      return true;
    });
    for (const int box : boxes) {
      steps.push_back([&, box] {
        expected[box - 1] = !expected[box - 1];
        const wxRect r = kControls[box - 1].rect;
        click_at(xid, r.x + 10, r.y + r.height / 2);
        return true;
      });
      steps.push_back([&, box] { return is_checked(frame, box) == expected[box - 1]; });
    }
    steps.push_back([&] {
      if (ticks != nullptr) {
        for (int b = 1; b <= 4; ++b) (*ticks)[b - 1] = is_checked(frame, b);
      }
      if (press_button) {
        click_at(xid, 80 + 105, 190 + 20);
      } else {
        send_close_request(xid);
      }
      return true;
    });
    Script script(std::move(steps), [&] {
      ADD_FAILURE() << "options window script did not finish";
      if (frame != nullptr) frame->Close();
    });
    const auto result = ui_->run_options_window();
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(top_level_titled(kTitle), nullptr) << "the window must be closed on return";
    return result;
  }

  Watchdog watchdog_{120s};
  std::optional<WxUi> ui_;
};

TEST_F(OptionsWindowTest, FrameControlsTextsAndFonts) {
  const auto result = run({}, true, [](wxTopLevelWindow& frame) {
    EXPECT_EQ(frame.GetClientSize(), wxSize(430, 280));
    EXPECT_EQ(frame.GetScreenPosition(), wxPoint(0, 0));
    EXPECT_FALSE(frame.HasFlag(wxRESIZE_BORDER));
    EXPECT_FALSE(frame.HasFlag(wxMINIMIZE_BOX));
    EXPECT_FALSE(frame.HasFlag(wxMAXIMIZE_BOX));
    EXPECT_TRUE(frame.HasFlag(wxCLOSE_BOX));
    EXPECT_TRUE(frame.HasFlag(wxCAPTION));
    EXPECT_EQ(frame.GetBackgroundColour(), wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
    EXPECT_EQ(frame.GetIcons().GetIconCount(), 4u);

    const wxPoint client = frame.ClientToScreen(wxPoint(0, 0));
    for (const Expected& e : kControls) {
      wxWindow* c = control(&frame, e.id);
      ASSERT_NE(c, nullptr) << e.text;
      EXPECT_EQ(wxRect(c->GetScreenPosition() - client, c->GetSize()), e.rect) << e.text;
      const wxString text = wxString::FromUTF8(e.text);
      if (e.id == kOptionsNote) {
        EXPECT_EQ(static_cast<wxStaticText*>(c)->GetLabelText(), text);
      } else {
        EXPECT_EQ(c->GetLabel(), text);  // the leading blank included
      }
      const wxFont font = c->GetFont();
      EXPECT_EQ(font.GetFaceName(), "Arial") << e.text;
      EXPECT_EQ(font.GetWeight(), wxFONTWEIGHT_NORMAL);
      EXPECT_EQ(font.GetStyle(), wxFONTSTYLE_NORMAL);
      EXPECT_FALSE(font.GetUnderlined());
      EXPECT_FALSE(font.GetStrikethrough());
      EXPECT_NEAR(em_pixels(font), e.id == kOptionsNote ? 19 : 16, 0.01) << e.text;
    }
    for (int b = 1; b <= 4; ++b) {
      EXPECT_FALSE(is_checked(&frame, b));
      EXPECT_FALSE(static_cast<wxCheckBox*>(control(&frame, kOptionsBox1 + b - 1))->Is3State());
    }
    EXPECT_TRUE(control(&frame, kOptionsNote)->HasFlag(wxST_NO_AUTORESIZE));
    // The font as rendered: a line of it is a little more than its em.
    wxClientDC dc(control(&frame, kOptionsNote));
    dc.SetFont(control(&frame, kOptionsNote)->GetFont());
    EXPECT_GE(dc.GetCharHeight(), 19);
    EXPECT_LE(dc.GetCharHeight(), 25);
  });
  // The button without touching anything: all flags 0.
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, (OptionFlags{0, 0, 0, 0}));
}

TEST_F(OptionsWindowTest, HigherResolutionGrowsTheFontsButNotTheRectangles) {
  ui_->load_ui_fonts_for_dpi(120);
  EXPECT_NEAR(em_pixels(ui_->font(0)), 20, 0.01);
  EXPECT_NEAR(em_pixels(ui_->font(1)), 23, 0.01);
  run({}, true, [](wxTopLevelWindow& frame) {
    EXPECT_EQ(frame.GetClientSize(), wxSize(430, 280));
    const wxPoint client = frame.ClientToScreen(wxPoint(0, 0));
    for (const Expected& e : kControls) {
      wxWindow* c = control(&frame, e.id);
      EXPECT_EQ(wxRect(c->GetScreenPosition() - client, c->GetSize()), e.rect) << e.text;
      EXPECT_NEAR(em_pixels(c->GetFont()), e.id == kOptionsNote ? 23 : 20, 0.01) << e.text;
    }
  });
}

TEST_F(OptionsWindowTest, ClickedBoxesGiveTheFlags) {
  struct Case {
    std::vector<int> boxes;
    OptionFlags flags;
    std::array<bool, 4> shown;
  };
  const Case cases[] = {
      {{4}, {0, 0, 0, 0}, {false, false, false, true}},
      {{1, 4}, {1, 0, 0, 1}, {true, false, false, true}},
      {{4, 1}, {1, 0, 0, 0}, {true, false, false, true}},
      {{4, 1, 4, 4}, {1, 0, 0, 1}, {true, false, false, true}},
      {{1, 4, 1}, {0, 0, 0, 1}, {false, false, false, true}},
      {{1, 4, 4}, {1, 0, 0, 0}, {true, false, false, false}},
      {{2, 3, 4}, {0, 1, 1, 0}, {false, true, true, true}},
  };
  for (const Case& c : cases) {
    std::array<bool, 4> shown{};
    const auto result = run(c.boxes, true, {}, &shown);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, c.flags) << "case " << &c - cases;
    EXPECT_EQ(shown, c.shown) << "case " << &c - cases;
  }
}

TEST_F(OptionsWindowTest, CloseRequestReturnsNoFlags) {
  EXPECT_EQ(run({1, 2}, false), std::nullopt);
}

TEST_F(OptionsWindowTest, TabCyclesThroughBoxesAndButton) {
  std::vector<int> forward;
  std::vector<int> backward;
  unsigned long xid = 0;
  wxTopLevelWindow* frame = nullptr;
  auto focused_id = [] {
    wxWindow* w = wxWindow::FindFocus();
    return w == nullptr ? 0 : w->GetId();
  };
  std::vector<Script::Step> steps;
  steps.push_back([&] {
    frame = top_level_titled(kTitle);
    if (frame == nullptr || !frame->IsShownOnScreen()) return false;
    xid = x_window_titled(kTitle);
    if (xid == 0) return false;
    control(frame, kOptionsBox1)->SetFocus();
    return true;
  });
  steps.push_back([&] { return focused_id() == kOptionsBox1; });
  for (int i = 0; i < 5; ++i) {
    steps.push_back([&] {
      press_keys(xid, "Tab");
      return true;
    });
    steps.push_back([&, i] {
      if (static_cast<int>(forward.size()) > i) return true;
      pump_events(100ms);
      forward.push_back(focused_id());
      return true;
    });
  }
  for (int i = 0; i < 2; ++i) {
    steps.push_back([&] {
      press_keys(xid, "shift+Tab");
      return true;
    });
    steps.push_back([&] {
      pump_events(100ms);
      backward.push_back(focused_id());
      return true;
    });
  }
  steps.push_back([&] {
    frame->Close();
    return true;
  });
  Script script(std::move(steps), [&] {
    if (frame != nullptr) frame->Close();
  });
  EXPECT_EQ(ui_->run_options_window(), std::nullopt);
  EXPECT_EQ(forward, (std::vector<int>{kOptionsBox2, kOptionsBox3, kOptionsBox4, kOptionsButton,
                                       kOptionsBox1}));
  EXPECT_EQ(backward, (std::vector<int>{kOptionsButton, kOptionsBox4}));
}

}  // namespace
}  // namespace mpo
