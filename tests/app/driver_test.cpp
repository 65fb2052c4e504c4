#include "app/driver.h"

#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

namespace mpo {
namespace {

using test::Bytes;
using test::Call;
using test::ScriptedUi;
using test::TempDir;

// A byte-level MPO that splits (the halves are no decodable JPEGs).
Bytes splittable(size_t size) {
  Bytes b(size, 0x5A);
  const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08};
  std::memcpy(b.data(), head, sizeof head);
  const uint8_t sig[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f'};
  std::memcpy(b.data() + size / 2 - 6, sig, sizeof sig);
  return b;
}

class Driver : public ::testing::Test {
 protected:
  TempDir tmp;
  FileService files;
  ImageService images;
  ScriptedUi ui;
  RunConfig config;
  test::fs::path tree() const { return tmp.path() / "tree"; }
  test::fs::path list() const { return tmp.path() / "mpofile.txt"; }

  void SetUp() override {
    config.list_file = test::P(list());
    config.pause_ms = 0;
    test::fs::create_directories(tree());
  }
  RunResult run() { return run_desktop(files, images, ui, ui, config); }
};

TEST_F(Driver, PhasesInOrderAndListFileRemoved) {
  test::write_bytes(tree() / "a.mpo", splittable(400));
  ui.chosen_file = (tree() / "a.mpo").string();
  const RunResult r = run();
  EXPECT_FALSE(r.stopped);
  EXPECT_EQ(r.entries, 1);

  ASSERT_EQ(ui.calls.size(), 5u);
  EXPECT_EQ(ui.calls[0].kind, "options");
  EXPECT_EQ(ui.calls[1].kind, "message");
  EXPECT_EQ(ui.calls[1].a, "Anleitung");
  EXPECT_EQ(from_utf8(ui.calls[1].b).size(), 499u);
  EXPECT_NE(ui.calls[1].b.find("aus.Damit"), std::string::npos);
  EXPECT_EQ(std::count(ui.calls[1].b.begin(), ui.calls[1].b.end(), '\r'), 5);
  EXPECT_EQ(ui.calls[2].kind, "choose");
  EXPECT_EQ(ui.calls[2].a, "Bitte eine MPO-Datei zum Laden auswählen");
  EXPECT_EQ(ui.calls[2].b, "|MPO Dateien (*.mpo)|*.MPO|Alle Dateien (*.*)|*.*|0");
  EXPECT_EQ(ui.calls[3].kind, "progress");
  EXPECT_EQ(ui.calls[3].a, (tree() / "a").string());
  EXPECT_EQ(ui.calls[4].a, "Programmende");
  EXPECT_EQ(ui.calls[4].b, "Die Bearbeitung der MPO-Dateien ist beendet");

  EXPECT_FALSE(test::fs::exists(list()));
  EXPECT_TRUE(test::fs::exists(tree() / "a_L.jpg"));
  EXPECT_TRUE(test::fs::exists(tree() / "a_R.jpg"));
}

TEST_F(Driver, OptionsClosedOrNoFileChosenEndsWithoutListFile) {
  ui.options = std::nullopt;
  RunResult r = run();
  EXPECT_TRUE(r.ended_early);
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_FALSE(test::fs::exists(list()));

  ScriptedUi cancel;  // empty answer from the requester
  r = run_desktop(files, images, cancel, cancel, config);
  EXPECT_TRUE(r.ended_early);
  EXPECT_EQ(cancel.message_titles(), (std::vector<std::string>{"Anleitung", "Fehler"}));
  EXPECT_EQ(cancel.of_kind("message")[1].b, "Keine Datei gewählt, beende");
  EXPECT_FALSE(test::fs::exists(list()));
}

TEST_F(Driver, EmptyTreeAndOtherFileType) {
  test::write_bytes(tree() / "readme.txt", {1});
  test::write_bytes(tree() / "sub" / "b.MPO", splittable(300));
  ui.chosen_file = (tree() / "readme.txt").string();  // chosen through "*.*"
  run();
  ASSERT_EQ(ui.of_kind("progress").size(), 1u);
  EXPECT_EQ(ui.of_kind("progress")[0].a, (tree() / "sub" / "b").string());

  TempDir other;
  ScriptedUi none;
  none.chosen_file = (other.path() / "nothing-here.mpo").string();  // need not exist
  run_desktop(files, images, none, none, config);
  EXPECT_TRUE(none.of_kind("progress").empty());
  EXPECT_EQ(none.message_titles().back(), "Programmende");
  EXPECT_FALSE(test::fs::exists(list()));
}

// Only '/' separates: a chosen file in a folder named "a|b" or "p\\q" stands
// for that folder, not for its parent, and its MPO is found.
TEST_F(Driver, ChosenFolderWithBarOrBackslashInItsName) {
  for (const char* folder : {"a|b", "p\\q"}) {
    SCOPED_TRACE(folder);
    test::write_bytes(tree() / folder / "x\\.mpo", splittable(300));
    test::write_bytes(tree() / "sibling.mpo", splittable(300));
    ScriptedUi chose;
    chose.chosen_file = (tree() / folder / "x\\.mpo").string();
    run_desktop(files, images, chose, chose, config);
    ASSERT_EQ(chose.of_kind("progress").size(), 1u);
    EXPECT_EQ(chose.of_kind("progress")[0].a, (tree() / folder / "x\\").string());
  }
}

TEST_F(Driver, StopInMiddleKeepsEarlierOutputsAndReportsReason) {
  // Two entries in one directory; whichever comes second in the listing
  // order, the one that stops is reported and the list file is removed.
  test::write_bytes(tree() / "good.mpo", splittable(400));
  test::write_bytes(tree() / "bad.mpo", Bytes(99, 0));
  ui.chosen_file = (tree() / "good.mpo").string();
  const RunResult r = run();
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.exit_status(), 1);
  const auto messages = ui.of_kind("message");
  ASSERT_GE(messages.size(), 3u);
  const Call& stop = messages[messages.size() - 2];
  EXPECT_EQ(stop.a, "Fehler");
  EXPECT_EQ(stop.b, "keine Bilddatei\r" + (tree() / "bad.mpo").string());
  EXPECT_EQ(messages.back().a, "Programmende");
  EXPECT_FALSE(test::fs::exists(list()));
  const bool good_first = ui.of_kind("progress")[0].a == (tree() / "good").string();
  EXPECT_EQ(test::fs::exists(tree() / "good_L.jpg"), good_first);
  EXPECT_EQ(r.entries, good_first ? 2 : 1);
}

TEST_F(Driver, KeepGoingConvertsTheRest) {
  test::write_bytes(tree() / "bad.mpo", Bytes(500, 0));  // no separator
  test::write_bytes(tree() / "good.mpo", splittable(400));
  ui.chosen_file = (tree() / "good.mpo").string();
  config.keep_going = true;
  const RunResult r = run();
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.entries, 2);
  EXPECT_TRUE(test::fs::exists(tree() / "good_L.jpg"));
  EXPECT_FALSE(test::fs::exists(tree() / "bad_L.jpg"));
}

TEST_F(Driver, ListFileThatCannotBeCreatedEndsTheRun) {
  test::write_bytes(tree() / "a.mpo", splittable(400));
  ui.chosen_file = (tree() / "a.mpo").string();
  config.list_file = test::P(tmp.path() / "no-such-dir" / "mpofile.txt");
  const RunResult r = run();
  EXPECT_TRUE(r.stopped);
  const auto messages = ui.of_kind("message");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].a, "Fehler");
  EXPECT_EQ(messages[1].b, "Die Liste der MPO-Dateien konnte nicht angelegt werden\r" +
                               (tmp.path() / "no-such-dir" / "mpofile.txt").string());
  EXPECT_TRUE(ui.of_kind("progress").empty());
  EXPECT_FALSE(test::fs::exists(tree() / "a_L.jpg"));
}

TEST_F(Driver, NonInteractiveRunStartsAtDirectory) {
  test::write_bytes(tree() / "a.mpo", splittable(400));
  config.start_path = test::P(tree());
  const RunResult r = run_batch(files, images, ui, config);
  EXPECT_EQ(r.entries, 1);
  EXPECT_EQ(ui.message_titles(), (std::vector<std::string>{"Programmende"}));
  EXPECT_TRUE(ui.of_kind("options").empty());
  EXPECT_TRUE(test::fs::exists(tree() / "a_R.jpg"));
}

}  // namespace
}  // namespace mpo
