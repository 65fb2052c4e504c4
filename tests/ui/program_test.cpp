// The real desktop program, driven from outside like a user would: options
// window, instructions, requester, batch and closing message, on a sample
// tree of generated MPO files in a temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/gui_support.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using namespace mpo::test;
namespace fs = std::filesystem;

const char kOptionsTitle[] = "^Bilder zusätzlich zur Bildtrennung rechtes Bild R und linkes Bild L$";
const char kRequesterTitle[] = "^Bitte eine MPO-Datei zum Laden auswählen$";

// Width and height from the first baseline frame header; 0, 0 if none.
std::pair<int, int> jpeg_size(const mpogen::Bytes& jpeg) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      return {jpeg[i + 7] << 8 | jpeg[i + 8], jpeg[i + 5] << 8 | jpeg[i + 6]};
    }
  }
  return {0, 0};
}

bool is_jpeg(const mpogen::Bytes& b) {
  return b.size() > 4 && b[0] == 0xFF && b[1] == 0xD8 && b[b.size() - 2] == 0xFF &&
         b[b.size() - 1] == 0xD9;
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
    names.push_back(fs::relative(entry.path(), dir).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ProgramTest : public ::testing::Test {
 protected:
  struct Sample {
    fs::path mpo;
    fs::path base;  // the path without its extension
    mpogen::Mpo content;
  };

  void SetUp() override {
    MPO_REQUIRE_DISPLAY();
    ASSERT_TRUE(fs::exists(program_)) << program_;
    ASSERT_TRUE(dir_.ok());
    root_ = dir_.path();
    work_ = root_ / "work";
    photos_ = root_ / "Fotos";
    fs::create_directories(work_);
    const char* names[] = {"DSCF0001.MPO", "Urlaub/20130412_GARDA_001.mpo", "Urlaub/Tag 2/Bild.Mpo"};
    uint32_t seed = 1;
    for (const char* name : names) {
      mpogen::Options options;
      options.width = 320;
      options.height = 240;
      options.seed = seed++;
      Sample s{photos_ / name, photos_ / name, mpogen::make_mpo(options)};
      s.base.replace_extension();
      fs::create_directories(s.mpo.parent_path());
      ASSERT_TRUE(mpogen::write_file(s.mpo.string(), s.content.bytes));
      samples_.push_back(std::move(s));
    }
    std::ofstream(photos_ / "notiz.txt") << "keine MPO-Datei\n";
  }

  // Waits for the options window, clicks the boxes (1 to 4) and then the
  // button or sends a close request.
  unsigned long options_window(const std::vector<int>& boxes, bool press_button,
                               const std::string& shot = "") {
    const unsigned long window = wait_for_window(kOptionsTitle, 30s);
    if (window == 0) return 0;
    std::this_thread::sleep_for(300ms);
    for (const int box : boxes) {
      click_at(window, 40, 45 + 40 * (box - 1));
      std::this_thread::sleep_for(150ms);
    }
    if (!shot.empty()) screenshot(shot);
    if (press_button) {
      click_at(window, 185, 210);
    } else {
      send_close_request(window);
    }
    return window;
  }

  // Confirms the instructions box.
  void instructions(const std::string& shot = "") {
    ASSERT_NE(wait_for_window("^Anleitung$", 20s), 0u);
    EXPECT_TRUE(find_windows(kOptionsTitle).empty()) << "the options window must be closed";
    std::this_thread::sleep_for(300ms);
    if (!shot.empty()) screenshot(shot);
    ASSERT_TRUE(press_until_gone("^Anleitung$", "Return"));
  }

  fs::path program_ = fs::path(MPO_BINARY_DIR) / "ui" / "mpo-convert";
  TempDir dir_{"mpo-ui-run"};
  fs::path root_, work_, photos_;
  std::vector<Sample> samples_;
  Watchdog watchdog_{240s};
};

TEST_F(ProgramTest, CloseRequestOnTheOptionsWindowEndsAtOnceWithNothingWritten) {
  const auto before = names_in(photos_);
  Child program({program_.string()}, work_.string());
  ASSERT_TRUE(program.started());
  ASSERT_NE(options_window({1, 4}, false, "program-options-window-closing"), 0u);
  EXPECT_EQ(program.wait(15s), 0) << "no message may wait for the user";
  EXPECT_TRUE(names_in(work_).empty());
  EXPECT_EQ(names_in(photos_), before);
}

TEST_F(ProgramTest, ConvertsEveryMpoBelowTheChosenFilesFolder) {
  Child program({program_.string()}, work_.string());
  ASSERT_TRUE(program.started());
  ASSERT_NE(options_window({1, 2, 3, 4}, true, "program-options-window"), 0u);
  instructions("program-instructions");

  // A file that is no MPO: only its folder counts.
  const unsigned long requester = wait_for_window(kRequesterTitle, 20s);
  ASSERT_NE(requester, 0u);
  std::this_thread::sleep_for(500ms);
  press_keys(requester, "ctrl+l");
  std::this_thread::sleep_for(200ms);
  type_text(requester, (photos_ / "notiz.txt").string());
  std::this_thread::sleep_for(400ms);
  screenshot("program-requester");
  ASSERT_TRUE(press_until_gone(kRequesterTitle, "Return"));

  // The batch, with the progress window of each entry, until the closing
  // message.
  bool progress_seen = false;
  const bool closing = wait_until(
      [&] {
        if (!progress_seen && !find_windows("^Ablauf$").empty()) {
          progress_seen = true;
          screenshot("program-progress-window");
        }
        return !find_windows("^Programmende$").empty();
      },
      120s, 30ms);
  ASSERT_TRUE(closing);
  EXPECT_TRUE(progress_seen);
  std::this_thread::sleep_for(300ms);
  screenshot("program-closing-message");
  EXPECT_TRUE(fs::exists(work_ / "mpofile.txt")) << "the list file lives in the working directory";

  for (const Sample& s : samples_) {
    const std::string base = s.base.string();
    SCOPED_TRACE(base);
    const auto& bytes = s.content.bytes;
    const auto separator = static_cast<std::ptrdiff_t>(s.content.separator);
    EXPECT_EQ(read_bytes(base + "_L.jpg"), mpogen::Bytes(bytes.begin(), bytes.begin() + separator));
    EXPECT_EQ(read_bytes(base + "_R.jpg"), mpogen::Bytes(bytes.begin() + separator, bytes.end()));
    const struct {
      const char* suffix;
      std::pair<int, int> size;
    } composites[] = {
        {"_sbs.jpg", {640, 240}},
        {"_sbsh.jpg", {320, 240}},
        {"_ouh.jpg", {320, 240}},
        {"_EXIF.jpg", {640, 240}},
    };
    for (const auto& c : composites) {
      const auto jpeg = read_bytes(base + c.suffix);
      EXPECT_TRUE(is_jpeg(jpeg)) << c.suffix;
      EXPECT_EQ(jpeg_size(jpeg), c.size) << c.suffix;
    }
    const auto exif = read_bytes(base + "_EXIF.jpg");
    EXPECT_NE(std::search(exif.begin(), exif.end(), std::begin("Exif"), std::end("Exif") - 1),
              exif.end());
  }
  EXPECT_FALSE(fs::exists(photos_ / "notiz_L.jpg"));

  ASSERT_TRUE(press_until_gone("^Programmende$", "Return"));
  EXPECT_EQ(program.wait(15s), 0);
  EXPECT_TRUE(names_in(work_).empty()) << "the list file is removed";

  // The command line with several jobs writes the desktop program's bytes.
  auto outputs = [&] {
    std::map<fs::path, mpogen::Bytes> m;
    for (const auto& e : fs::recursive_directory_iterator(photos_))
      if (e.path().extension() == ".jpg") m[e.path()] = read_bytes(e.path().string());
    return m;
  };
  const auto desktop = outputs();
  EXPECT_EQ(desktop.size(), 6 * samples_.size());
  for (const auto& [path, bytes] : desktop) fs::remove(path);
  EXPECT_EQ(run_process({MPO_BINARY_DIR "/cli/mpo-convert-cli", "--all", "--jobs", "2",
                         photos_.string()},
                        60s)
                .status,
            0);
  EXPECT_EQ(outputs(), desktop);
}

TEST_F(ProgramTest, CancelInTheRequesterEndsWithAMessageAndNoListFile) {
  const auto before = names_in(photos_);
  Child program({program_.string()}, work_.string());
  ASSERT_TRUE(program.started());
  ASSERT_NE(options_window({1}, true), 0u);
  instructions();
  ASSERT_NE(wait_for_window(kRequesterTitle, 20s), 0u);
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(press_until_gone(kRequesterTitle, "Escape"));

  ASSERT_NE(wait_for_window("^Fehler$", 20s), 0u);
  std::this_thread::sleep_for(300ms);
  screenshot("program-no-file-message");
  EXPECT_TRUE(names_in(work_).empty()) << "no list file";
  ASSERT_TRUE(press_until_gone("^Fehler$", "Return"));
  EXPECT_EQ(program.wait(15s), 0);
  EXPECT_TRUE(names_in(work_).empty());
  EXPECT_EQ(names_in(photos_), before);
}

}  // namespace
}  // namespace mpo
