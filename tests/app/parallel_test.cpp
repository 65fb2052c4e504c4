// Batches as they run for real: state carried from entry to entry, several
// jobs at once, a stop or --keep-going among them, a killed run, and the
// progress line on a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "app/batch.h"
#include "cli/progress.h"
#include "app/composites.h"
#include "app/driver.h"
#include "image/jpeg_codec.h"
#include "test_support.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using test::Bytes;
using test::P;
using test::ScriptedUi;
using test::TempDir;
namespace fs = test::fs;


void write_mpo(const fs::path& path, uint32_t seed, int w, int h) {
  mpogen::Options o;
  o.width = w, o.height = h, o.seed = seed;
  fs::create_directories(path.parent_path());
  ASSERT_TRUE(mpogen::write_file(path.string(), mpogen::make_mpo(o).bytes));
}

// How many of an entry's six outputs exist next to it.
int outputs_of(const fs::path& mpo) {
  const std::string base = (mpo.parent_path() / mpo.stem()).string();
  int n = 0;
  for (const std::string& s : test::output_suffixes()) n += fs::exists(base + s);
  return n;
}

RunConfig batch_config(const fs::path& tree, const fs::path& list, int jobs, bool keep_going) {
  RunConfig c;
  c.options = OptionFlags{1, 1, 1, 1};
  c.start_path = P(tree);
  c.list_file = P(list);
  c.pause_ms = 0;
  c.jobs = jobs;
  c.keep_going = keep_going;
  return c;
}

// Composites drawn by a service and grids that already hold an earlier
// entry's pictures (and slots 5 to 7 filled with white) must come out as
// they do from a fresh start: same sizes, smaller or larger right halves,
// odd sizes with their black column and row, an undecodable half between.
TEST(Carryover, ReusedSlotsAndGridsGiveWhatAFreshStartGives) {
  TempDir tmp;
  struct Pair {
    int lw, lh, rw, rh;
    bool junk_right;
  };
  const Pair pairs[] = {{71, 67, 71, 67, false}, {71, 67, 30, 20, false}, {71, 67, 71, 67, true},
                        {71, 67, 90, 70, false}, {64, 48, 64, 48, false}, {71, 67, 71, 67, false}};
  std::vector<std::pair<Text, Text>> files;
  uint32_t seed = 1;
  for (size_t i = 0; i < std::size(pairs); ++i) {
    const Pair& p = pairs[i];
    const fs::path l = tmp.path() / ("l" + std::to_string(i) + ".jpg");
    const fs::path r = tmp.path() / ("r" + std::to_string(i) + ".jpg");
    mpogen::Options o;
    o.width = p.lw, o.height = p.lh, o.seed = seed++;
    test::write_bytes(l, mpogen::make_half(o, 0));
    o.width = p.rw, o.height = p.rh, o.seed = seed++;
    test::write_bytes(r, p.junk_right ? Bytes(300, 0x41) : mpogen::make_half(o, 1));
    files.emplace_back(P(l), P(r));
  }
  const OptionFlags flags{1, 1, 1, 0};
  auto saved = [&](const std::string& base) {
    std::map<std::string, Bytes> m;
    for (const char* s : {"_sbs.jpg", "_sbsh.jpg", "_ouh.jpg"}) m[s] = test::read_bytes(base + s);
    return m;
  };

  ImageService carried;
  register_jpeg_decoder(carried);
  register_jpeg_encoder(carried);
  for (auto [slot, w] : {std::pair{kSbsSlot, 142}, {kSbshSlot, 71}, {kOuhSlot, 71}}) {
    ASSERT_TRUE(carried.create_image(slot, w, 67));
    const PixelView v = carried.view(slot);
    std::memset(v.pixels, 0xFF, static_cast<size_t>(v.pitch * v.height));
  }
  Halves halves;
  ScriptedUi ui;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE("pair " + std::to_string(i));
    const std::string a = (tmp.path() / ("carried" + std::to_string(i))).string();
    const std::string b = (tmp.path() / ("fresh" + std::to_string(i))).string();
    decode_halves(carried, files[i].first, files[i].second, halves);
    const CompositeOutcome got = build_composites(carried, ui, from_utf8(a), flags, halves);

    ImageService fresh;
    register_jpeg_decoder(fresh);
    register_jpeg_encoder(fresh);
    Halves fresh_halves;
    ScriptedUi fresh_ui;
    decode_halves(fresh, files[i].first, files[i].second, fresh_halves);
    const CompositeOutcome want = build_composites(fresh, fresh_ui, from_utf8(b), flags, fresh_halves);

    EXPECT_EQ(got.any_failed, want.any_failed);
    EXPECT_EQ(got.any_failed, pairs[i].junk_right);
    EXPECT_EQ(saved(a), saved(b));
  }
}

// Learns the list order from a serial run, then turns the second entry into
// a 99-byte file in place (the directory order stays as it is).
class StopInFlight : public ::testing::Test {
 protected:
  TempDir tmp;
  fs::path tree() const { return tmp.path() / "tree"; }
  std::vector<fs::path> order;

  void SetUp() override {
    for (int i = 0; i < 14; ++i) write_mpo(tree() / ("m" + std::to_string(i) + ".mpo"), 40 + i, 400, 300);
    FileService files;
    ImageService images;
    ScriptedUi ui;
    RunConfig c = batch_config(tree(), tmp.path() / "list", 1, false);
    c.options = OptionFlags{};
    run_batch(files, images, ui, c);
    for (const auto& call : ui.of_kind("progress")) order.emplace_back(call.a + ".mpo");
    ASSERT_EQ(order.size(), 14u);
    for (const auto& e : fs::directory_iterator(tree()))
      if (e.path().extension() == ".jpg") fs::remove(e.path());
  }
};

TEST_F(StopInFlight, EntriesInFlightFinishAndNoFurtherEntryStarts) {
  test::write_bytes(order[1], Bytes(99, 7));
  FileService files;
  ImageService images;
  ScriptedUi ui;
  const RunResult r =
      run_batch(files, images, ui, batch_config(tree(), tmp.path() / "list", 2, false));
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.exit_status(), 1);
  // Twelve entries follow the broken one: a stop that let the workers go on
  // would start them all.
  EXPECT_GE(r.entries, 2);
  EXPECT_LT(r.entries, 14);
  const auto messages = ui.of_kind("message");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].a, "Fehler");
  EXPECT_EQ(messages[0].b, "keine Bilddatei\r" + order[1].string());
  EXPECT_EQ(messages[1].a, "Programmende");

  // Whatever was started was finished completely; the broken entry wrote nothing.
  EXPECT_EQ(outputs_of(order[0]), 6);
  EXPECT_EQ(outputs_of(order[1]), 0);
  int finished = 0;
  for (const auto& mpo : order) {
    const int n = outputs_of(mpo);
    EXPECT_TRUE(n == 0 || n == 6) << mpo << ": " << n;
    finished += n == 6;
  }
  EXPECT_EQ(finished, r.entries - 1);
  EXPECT_FALSE(fs::exists(tmp.path() / "list"));
}

TEST_F(StopInFlight, KeepGoingConvertsEveryOtherEntryAndReportsEachBrokenOne) {
  test::write_bytes(order[1], Bytes(99, 7));
  test::write_bytes(order[6], Bytes(5000, 0));
  test::write_bytes(order[13], Bytes(5000, 0));
  FileService files;
  ImageService images;
  ScriptedUi ui;
  const RunResult r =
      run_batch(files, images, ui, batch_config(tree(), tmp.path() / "list", 3, true));
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.exit_status(), 1);
  EXPECT_EQ(r.entries, 14);
  std::multiset<std::string> stops;
  for (const auto& m : ui.of_kind("message"))
    if (m.a == "Fehler") stops.insert(m.b);
  EXPECT_EQ(stops, (std::multiset<std::string>{"keine Bilddatei\r" + order[1].string(),
                                               "Trennstelle nicht gefunden\r" + order[6].string(),
                                               "Trennstelle nicht gefunden\r" + order[13].string()}));
  EXPECT_EQ(ui.message_titles().back(), "Programmende");
  for (size_t i = 0; i < order.size(); ++i)
    EXPECT_EQ(outputs_of(order[i]), (i == 1 || i == 6 || i == 13) ? 0 : 6) << order[i];
}

// SIGKILL in the middle of a batch: the private list file is already gone,
// since the CLI removes it as soon as it is open for reading.
TEST(KilledRun, LeavesNothingInTheTemporaryFolder) {
  TempDir tmp;
  const fs::path tree = tmp.path() / "tree";
  const fs::path tmpdir = tmp.path() / "tmp";
  fs::create_directories(tmpdir);
  for (int i = 0; i < 40; ++i) write_mpo(tree / ("k" + std::to_string(i) + ".mpo"), 70 + i, 400, 300);

  test::ProcessSpec request;
  request.argv = {MPO_BINARY_DIR "/cli/mpo-convert-cli", "--all", "--jobs", "2", tree.string()};
  request.env = {{"TMPDIR", tmpdir.string()}};
  test::Process run(request);
  // Wait for the first finished entry: the batch is running.
  const bool running = run.wait_for_output("[1/40]", std::chrono::seconds(60));
  run.kill(SIGKILL);
  const test::ProcessResult r = run.finish();
  ASSERT_TRUE(running) << r.err;
  ASSERT_EQ(r.signal, SIGKILL) << "the run ended before it was killed";
  EXPECT_TRUE(fs::is_empty(tmpdir));
}

// The updating line never grows past the terminal: a wrapped line would
// leave a stale line behind at every update.
TEST(ProgressLine, FitsTheTerminalAndEndsWithTheBatch) {
  setenv("COLUMNS", "40", 1);
  std::ostringstream err;
  CliReporter ui(err, true);
  const Text long_path = u"/home/fotograf/Bilder/Urlaub am Gardasee/Tag 3/20130412_GARDA_0017";
  ui.entry_done(1, 3, long_path);
  ui.entry_done(2, 3, u"/kurz/b");
  ui.entry_done(3, 3, long_path);
  unsetenv("COLUMNS");

  const std::string out = err.str();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), '\n');  // the last update ends the line
  std::vector<std::string> updates;
  for (size_t at = out.find("\r\x1b[K"); at != std::string::npos;) {
    const size_t next = out.find("\r\x1b[K", at + 1);
    updates.push_back(out.substr(at + 4, next == std::string::npos ? next : next - at - 4));
    at = next;
  }
  ASSERT_EQ(updates.size(), 3u);
  for (std::string u : updates) {
    if (!u.empty() && u.back() == '\n') u.pop_back();
    EXPECT_LE(from_utf8(u).size(), 39u) << u;
    EXPECT_EQ(u.find('\n'), std::string::npos) << u;
  }
  EXPECT_EQ(updates[0].rfind("[1/3] ", 0), 0u) << updates[0];
  EXPECT_NE(updates[0].find("\u2026"), std::string::npos) << updates[0];
  EXPECT_NE(updates[0].find("GARDA_0017"), std::string::npos) << updates[0];
  EXPECT_NE(updates[1].find("/kurz/b"), std::string::npos) << updates[1];
  EXPECT_EQ(updates[1].find("\u2026"), std::string::npos) << updates[1];
}

}  // namespace
}  // namespace mpo
