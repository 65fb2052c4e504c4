// Message boxes and the open-file requester on a real display.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <unistd.h>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/filefn.h>
#include <wx/frame.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/ui/gui_support.h"
#include "tests/ui/wx_driver.h"
#include "ui/file_requester.h"
#include "ui/message_box.h"
#include "ui/top_level.h"
#include "ui/wx_ui.h"

namespace mpo {
namespace {

using namespace mpo::test;
namespace fs = std::filesystem;

const char kPatterns[] = "MPO Dateien (*.mpo)|*.MPO|Alle Dateien (*.*)|*.*";
const char kRequesterTitle[] = "Bitte eine MPO-Datei zum Laden auswählen";

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MPO_REQUIRE_TOOLKIT();
    ui_.emplace();
  }
  void TearDown() override { ui_.reset(); }

  Watchdog watchdog_{120s};
  std::optional<WxUi> ui_;
};

// What one message box showed while it was up.
struct Seen {
  bool found = false;
  wxString text;
  int buttons = 0;
  wxString button_label;
  int bitmaps = 0;
  int icons = 0;
  bool others_enabled = true;
  bool on_top_kept = true;
};

TEST_F(DialogTest, MessageBoxShowsItsTextAndOtherWindowsWaitForIt) {
  // Two other windows of the program: a plain one and one that stays on top.
  auto plain = make_top_level<wxFrame>(nullptr, wxID_ANY, "plain", wxPoint(700, 10), wxSize(200, 100));
  auto on_top = make_top_level<wxFrame>(nullptr, wxID_ANY, "on top", wxPoint(700, 200),
                                        wxSize(200, 100), wxDEFAULT_FRAME_STYLE | wxSTAY_ON_TOP);
  plain->Show();
  on_top->Show();
  pump_events(200ms);

  // Each way of closing the box: Enter, Escape and the close request.
  const char* const closings[] = {"Return", "Escape", "close"};
  for (const char* closing : closings) {
    Seen seen;
    wxDialog* box = nullptr;
    unsigned long xid = 0;
    const wxString title = wxString::FromUTF8("Prüfung & Titel");
    std::vector<Script::Step> steps;
    steps.push_back([&] {
      box = dynamic_cast<wxDialog*>(top_level_titled(title));
      if (box == nullptr || !box->IsShownOnScreen()) return false;
      xid = x_window_titled(title);
      if (xid == 0) return false;
      seen.found = true;
      for (wxWindow* child : box->GetChildren()) {
        if (auto* button = dynamic_cast<wxButton*>(child)) {
          ++seen.buttons;
          seen.button_label = button->GetLabel();
        }
        if (dynamic_cast<wxStaticBitmap*>(child)) ++seen.bitmaps;
      }
      if (auto* text = dynamic_cast<wxStaticText*>(wxWindow::FindWindowById(kMessageTextId, box))) {
        seen.text = text->GetLabelText();
      }
      seen.icons = static_cast<int>(box->GetIcons().GetIconCount());
      seen.others_enabled = plain->IsEnabled() || on_top->IsEnabled();
      seen.on_top_kept = on_top->HasFlag(wxSTAY_ON_TOP);
      return true;
    });
    steps.push_back([&] {
      if (std::string(closing) == "close") {
        send_close_request(xid);
      } else {
        press_keys(xid, closing);
      }
      return true;
    });
    Script script(std::move(steps), [&] {
      ADD_FAILURE() << "message box did not close by " << closing;
      if (box != nullptr) box->EndModal(wxID_OK);
    });
    ui_->show_message(from_utf8("Prüfung & Titel"), u"Erste Zeile\rzweite & dritte\r\nEnde");
    EXPECT_TRUE(script.finished()) << closing;
    ASSERT_TRUE(seen.found) << closing;
    EXPECT_EQ(seen.text, wxString::FromUTF8("Erste Zeile\nzweite & dritte\nEnde"));
    EXPECT_EQ(seen.buttons, 1);
    EXPECT_EQ(seen.button_label, "OK");
    EXPECT_EQ(seen.bitmaps, 0) << "no icon in the box";
    EXPECT_EQ(seen.icons, 4) << "the program icon on the box's frame";
    EXPECT_FALSE(seen.others_enabled);
    EXPECT_FALSE(seen.on_top_kept);
    // Everything as it was before.
    EXPECT_TRUE(plain->IsEnabled());
    EXPECT_TRUE(on_top->IsEnabled());
    EXPECT_TRUE(on_top->HasFlag(wxSTAY_ON_TOP));
    EXPECT_EQ(top_level_titled(title), nullptr);
  }
}

// The GTK file filters behind a requester, read through GTK itself.
struct GtkFilters {
  using GetFilter = void* (*)(void*);
  using FilterName = const char* (*)(void*);
  struct Info {
    int contains;
    const char* filename;
    const char* uri;
    const char* display_name;
    const char* mime_type;
  };
  using Filter = int (*)(void*, const Info*);
  struct List {
    void* data;
    List* next;
  };
  using ListFilters = List* (*)(void*);
  using FreeList = void (*)(List*);

  GetFilter get_filter = reinterpret_cast<GetFilter>(dlsym(RTLD_DEFAULT, "gtk_file_chooser_get_filter"));
  FilterName name = reinterpret_cast<FilterName>(dlsym(RTLD_DEFAULT, "gtk_file_filter_get_name"));
  Filter filter = reinterpret_cast<Filter>(dlsym(RTLD_DEFAULT, "gtk_file_filter_filter"));
  ListFilters list = reinterpret_cast<ListFilters>(dlsym(RTLD_DEFAULT, "gtk_file_chooser_list_filters"));
  FreeList free_list = reinterpret_cast<FreeList>(dlsym(RTLD_DEFAULT, "g_slist_free"));

  bool ok() const { return get_filter && name && filter && list && free_list; }
  bool accepts(void* gtk_filter, const char* file) const {
    const Info info{4 /* display name */, nullptr, nullptr, file, nullptr};
    return filter(gtk_filter, &info) != 0;
  }
  std::vector<void*> all(void* chooser) const {
    std::vector<void*> out;
    List* head = list(chooser);
    for (List* l = head; l != nullptr; l = l->next) out.push_back(l->data);
    free_list(head);
    return out;
  }
};

TEST_F(DialogTest, RequesterFiltersIgnoreCaseAndStartAtTheGivenEntry) {
  const GtkFilters gtk;
  ASSERT_TRUE(gtk.ok());
  for (const int index : {0, 1, 7}) {
    const auto requester = make_open_requester(nullptr, from_utf8(kRequesterTitle), u"",
                                               from_utf8(kPatterns), index, ui_->icons());
    EXPECT_EQ(requester->GetMessage(), wxString::FromUTF8(kRequesterTitle));
    EXPECT_FALSE(requester->HasFlag(wxFD_FILE_MUST_EXIST));
    EXPECT_FALSE(requester->HasFlag(wxFD_CHANGE_DIR));
    EXPECT_EQ(requester->GetIcons().GetIconCount(), 4u);
    void* chooser = requester->GetHandle();
    const auto filters = gtk.all(chooser);
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_STREQ(gtk.name(filters[0]), "MPO Dateien (*.mpo)");
    EXPECT_STREQ(gtk.name(filters[1]), "Alle Dateien (*.*)");
    EXPECT_EQ(gtk.get_filter(chooser), filters[index == 1 ? 1 : 0]) << index;
    for (const char* name : {"DSCF0001.MPO", "dscf0001.mpo", "Urlaub.Mpo", "x.mPO"}) {
      EXPECT_TRUE(gtk.accepts(filters[0], name)) << name;
    }
    for (const char* name : {"x.jpg", "x.mpo.jpg", "mpo", "x.mp"}) {
      EXPECT_FALSE(gtk.accepts(filters[0], name)) << name;
    }
    for (const char* name : {"x.jpg", "README", "DSCF0001.MPO", ".hidden"}) {
      EXPECT_TRUE(gtk.accepts(filters[1], name)) << name;
    }
  }
}

// Runs choose_file_to_open and types `typed` (or presses Escape when empty)
// into the requester's location field; `shot` names a screenshot taken
// when the requester has opened.
Text choose_by_typing(WxUi& ui, const std::string& typed, const std::string& shot = "") {
  unsigned long xid = 0;
  const wxString title = wxString::FromUTF8(kRequesterTitle);
  Script script(
      {[&] {
         // The toolkit keeps its requester out of its list of windows: it
         // is found on the display by its title.
         xid = x_window_titled(title);
         return xid != 0;
       },
       [&] {
         pump_events(300ms);
         if (!shot.empty()) screenshot(shot);
         if (typed.empty()) {
           press_keys(xid, "Escape");
           return true;
         }
         press_keys(xid, "ctrl+l");
         pump_events(200ms);
         type_text(xid, typed);
         pump_events(300ms);
         return true;
       },
       // GTK may drop an Enter that comes while it still completes the typed
       // path: press it again until the requester is gone.
       [&, last = Clock::time_point()]() mutable {
         if (x_window_titled(title) == 0) return true;
         if (Clock::now() - last > 800ms) {
           press_keys(xid, "Return");
           last = Clock::now();
         }
         return false;
       }},
      [&] {
        ADD_FAILURE() << "requester script did not finish";
        if (const unsigned long open = x_window_titled(title)) send_close_request(open);
      },
      30s);
  const Text chosen = ui.choose_file_to_open(from_utf8(kRequesterTitle), u"", from_utf8(kPatterns), 0);
  EXPECT_FALSE(script.timed_out());
  EXPECT_EQ(x_window_titled(title), 0u);
  return chosen;
}

class RequesterTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(dir_.ok());
    root_ = dir_.path();
    fs::create_directories(root_ / "work" / "Urlaub");
    fs::create_directories(root_ / "photos");
    // The requester opens in the working directory: what its filters show.
    for (const char* name : {"DSCF0001.MPO", "dscf0002.mpo", "Bild.Mpo", "notiz.txt", "README"}) {
      std::ofstream(root_ / "work" / name) << "x";
    }
    saved_ = fs::current_path();
    fs::current_path(root_ / "work");
  }
  void TearDown() override {
    if (!saved_.empty()) fs::current_path(saved_);
    DialogTest::TearDown();
  }

  TempDir dir_{"mpo-ui-req"};
  fs::path root_;
  fs::path saved_;
};

TEST_F(RequesterTest, TypedNameInAnExistingFolderIsReturnedAndTheDirectoryStays) {
  const std::string wanted = (root_ / "photos" / "noch nicht da.mpo").string();
  const Text chosen = choose_by_typing(*ui_, wanted, "ui-requester");
  EXPECT_EQ(chosen, from_utf8(wanted));
  EXPECT_EQ(fs::current_path(), root_ / "work");
  EXPECT_FALSE(fs::exists(wanted)) << "the requester creates nothing";
}

TEST_F(RequesterTest, CancelAndOverlongPathsGiveNoFile) {
  EXPECT_EQ(choose_by_typing(*ui_, ""), u"");
  EXPECT_EQ(fs::current_path(), root_ / "work");

  // A real folder deep enough that a file name brings the path to exactly
  // 259 units (accepted) and to 260 (too long for the program).
  fs::path deep = root_ / "photos";
  while (deep.string().size() < 200) deep /= std::string(40, 'd');
  fs::create_directories(deep);
  const std::string at_limit = deep.string() + "/" + std::string(258 - deep.string().size(), 'f');
  ASSERT_EQ(at_limit.size(), 259u);
  EXPECT_EQ(choose_by_typing(*ui_, at_limit), from_utf8(at_limit));
  EXPECT_EQ(choose_by_typing(*ui_, at_limit + "g"), u"");
}

}  // namespace
}  // namespace mpo
