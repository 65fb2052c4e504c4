// The command-line front end as a user runs it: exit status, German texts
// on the error stream, private list files, parallel runs.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "test_support.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using test::Bytes;
using test::TempDir;
namespace fs = test::fs;

struct Outcome {
  int status = -1;
  std::string err;
};

// Runs the CLI with TMPDIR pointing at `tmpdir`; captures stderr.
Outcome cli(const std::string& args, const fs::path& tmpdir) {
  static std::atomic<int> runs{0};
  const fs::path err_file =
      tmpdir.parent_path() / ("err-" + std::to_string(runs.fetch_add(1)) + ".txt");
  const std::string cmd = "TMPDIR='" + tmpdir.string() + "' " MPO_BINARY_DIR
                          "/cli/mpo-convert-cli " + args + " 2>'" + err_file.string() + "' >/dev/null";
  Outcome o;
  const int raw = std::system(cmd.c_str());
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const Bytes e = test::read_bytes(err_file);
  o.err.assign(e.begin(), e.end());
  fs::remove(err_file);
  return o;
}

class Cli : public ::testing::Test {
 protected:
  TempDir dir;
  fs::path tree() const { return dir.path() / "tree"; }
  fs::path tmp() const { return dir.path() / "tmp"; }
  void SetUp() override {
    fs::create_directories(tree());
    fs::create_directories(tmp());
  }
  void add_mpo(const std::string& rel, uint32_t seed, int w = 96, int h = 64) {
    mpogen::Options o;
    o.width = w, o.height = h, o.seed = seed;
    fs::create_directories((tree() / rel).parent_path());
    ASSERT_TRUE(mpogen::write_file((tree() / rel).string(), mpogen::make_mpo(o).bytes));
  }
  std::map<std::string, Bytes> outputs() const {
    std::map<std::string, Bytes> m;
    for (const auto& e : fs::recursive_directory_iterator(tree()))
      if (e.path().extension() == ".jpg")
        m[fs::relative(e.path(), tree()).string()] = test::read_bytes(e.path());
    return m;
  }
  bool tmp_empty() const { return fs::is_empty(tmp()); }
};

TEST_F(Cli, UsageErrorsAndHelp) {
  Outcome o = cli("", tmp());
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("Fehler: PFAD fehlt"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("Aufruf: mpo-convert-cli"), std::string::npos);
  EXPECT_EQ(cli("--bogus " + tree().string(), tmp()).status, 2);
  EXPECT_EQ(cli("--jobs 0 " + tree().string(), tmp()).status, 2);
  EXPECT_EQ(cli("--jobs " + tree().string(), tmp()).status, 2);
  EXPECT_EQ(cli("a b", tmp()).status, 2);
  EXPECT_EQ(cli("--help", tmp()).status, 0);
  o = cli("'" + (tree() / "nowhere").string() + "'", tmp());
  EXPECT_EQ(o.status, 2);
  EXPECT_TRUE(tmp_empty());
}

TEST_F(Cli, ConvertsTreeAndLeavesNoListFile) {
  add_mpo("a.mpo", 1);
  add_mpo("sub/deeper/20130412_Garda_1.MPO", 2);
  const Outcome o = cli("--all '" + (tree() / "a.mpo").string() + "'", tmp());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("Programmende: Die Bearbeitung der MPO-Dateien ist beendet\n"),
            std::string::npos);
  EXPECT_NE(o.err.find("[2/2] "), std::string::npos) << o.err;
  EXPECT_EQ(outputs().size(), 12u);
  EXPECT_TRUE(fs::exists(tree() / "sub/deeper/20130412_Garda_1_EXIF.jpg"));
  EXPECT_TRUE(tmp_empty());
  EXPECT_FALSE(fs::exists(tree() / "mpofile.txt"));
}

TEST_F(Cli, StopAndKeepGoing) {
  add_mpo("good.mpo", 3);
  test::write_bytes(tree() / "bad.mpo", Bytes(99, 7));
  Outcome o = cli("--sbs '" + tree().string() + "'", tmp());
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("Fehler: keine Bilddatei\n" + (tree() / "bad.mpo").string()),
            std::string::npos) << o.err;
  EXPECT_NE(o.err.find("Programmende:"), std::string::npos);

  o = cli("--keep-going --sbs '" + tree().string() + "'", tmp());
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(fs::exists(tree() / "good_sbs.jpg"));
  EXPECT_TRUE(tmp_empty());
}

TEST_F(Cli, OutputThatCannotBeWrittenGivesStatusOne) {
  add_mpo("a.mpo", 4);
  fs::create_directory(tree() / "a_ouh.jpg");
  const Outcome o = cli("--ouh '" + tree().string() + "'", tmp());
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find(test::cli_line(texts::kErrorInfoTitle, texts::kOuhFailed)),
            std::string::npos) << o.err;
}

TEST_F(Cli, ParallelRunsGiveTheSameBytes) {
  for (int i = 0; i < 6; ++i) add_mpo("d" + std::to_string(i % 2) + "/m" + std::to_string(i) + ".mpo", 10 + i);
  ASSERT_EQ(cli("--all --jobs 1 '" + tree().string() + "'", tmp()).status, 0);
  const auto serial = outputs();
  for (const auto& e : fs::recursive_directory_iterator(tree()))
    if (e.path().extension() == ".jpg") fs::remove(e.path());
  ASSERT_EQ(cli("--all --jobs 3 '" + tree().string() + "'", tmp()).status, 0);
  EXPECT_EQ(outputs(), serial);
  EXPECT_EQ(serial.size(), 36u);

  // Two runs at once, started in one folder with one temporary folder, do
  // not share a list file: each converts exactly its own subtree.
  Outcome a, b;
  std::thread ta([&] { a = cli("--all '" + (tree() / "d0").string() + "'", tmp()); });
  std::thread tb([&] { b = cli("--all '" + (tree() / "d1").string() + "'", tmp()); });
  ta.join();
  tb.join();
  EXPECT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_NE(a.err.find("[3/3]"), std::string::npos) << a.err;
  EXPECT_NE(b.err.find("[3/3]"), std::string::npos) << b.err;
  EXPECT_TRUE(tmp_empty());
}

// Two runs converting the same folder at once read the halves and the
// side-by-side back while the other run rewrites them: each must only ever
// see complete files, so both succeed with the bytes of a single run and
// leave no temporary behind.
TEST_F(Cli, TwoRunsOverOneFolderAtOnce) {
  for (int i = 0; i < 4; ++i) add_mpo("m" + std::to_string(i) + ".mpo", 40 + i, 640, 480);
  ASSERT_EQ(cli("--all --jobs 1 '" + tree().string() + "'", tmp()).status, 0);
  const auto single = outputs();
  ASSERT_EQ(single.size(), 24u);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    Outcome a, b;
    std::thread ta([&] { a = cli("--all --jobs 2 '" + tree().string() + "'", tmp()); });
    std::thread tb([&] { b = cli("--all --jobs 2 '" + tree().string() + "'", tmp()); });
    ta.join();
    tb.join();
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(outputs(), single);
  }
  size_t entries = 0;
  for (const auto& e : fs::recursive_directory_iterator(tree())) entries += e.is_regular_file();
  EXPECT_EQ(entries, 4u + 24u);
  EXPECT_TRUE(tmp_empty());
}

// Line breaks in names would split the list file's lines and hand the
// batch fragments of names: every such file converts like any other.
TEST_F(Cli, NamesWithLineBreaksConvert) {
  const std::vector<std::string> names = {"a\nb", "c\r\nd", "e\x01n\rf", "plain"};
  for (size_t i = 0; i < names.size(); ++i) add_mpo(names[i] + ".mpo", 60 + static_cast<uint32_t>(i));
  const Outcome o = cli("'" + tree().string() + "'", tmp());
  EXPECT_EQ(o.status, 0) << o.err;
  for (const std::string& name : names) {
    EXPECT_EQ(test::read_bytes(tree() / (name + "_L.jpg")).size() +
                  test::read_bytes(tree() / (name + "_R.jpg")).size(),
              fs::file_size(tree() / (name + ".mpo")))
        << name;
  }
  EXPECT_EQ(outputs().size(), 2 * names.size());
  // The progress stays one line per entry.
  EXPECT_NE(o.err.find("/a?b\n"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("/c??d\n"), std::string::npos) << o.err;
}

TEST_F(Cli, StopWithJobsInFlight) {
  for (int i = 0; i < 4; ++i) add_mpo("m" + std::to_string(i) + ".mpo", 20 + i);
  test::write_bytes(tree() / "broken.mpo", Bytes(5000, 0));
  const Outcome o = cli("--jobs 2 '" + tree().string() + "'", tmp());
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("Fehler: Trennstelle nicht gefunden\n"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("Programmende:"), std::string::npos);
  EXPECT_TRUE(tmp_empty());
}

}  // namespace
}  // namespace mpo
