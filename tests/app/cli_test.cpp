// The command-line front end as a user runs it: exit status, German texts
// on the error stream, private list files, parallel runs.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "test_support.h"
#include "cli/arguments.h"
#include "tests/support/cli_runs.h"
#include "tests/support/process.h"
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

// Runs the CLI with TMPDIR pointing at `tmpdir`; captures stderr unless
// `streams` gives the redirections of its own.
Outcome cli(const std::string& args, const fs::path& tmpdir, const std::string& streams = "") {
  static std::atomic<int> runs{0};
  const fs::path err_file =
      tmpdir.parent_path() / ("err-" + std::to_string(runs.fetch_add(1)) + ".txt");
  const std::string cmd = "TMPDIR='" + tmpdir.string() + "' " MPO_BINARY_DIR
                          "/cli/mpo-convert-cli " + args +
                          (streams.empty() ? " 2>'" + err_file.string() + "' >/dev/null" : " " + streams);
  Outcome o;
  o.status = test::run_process({"/bin/sh", "-c", cmd}, std::chrono::seconds(120)).status;
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
  o = cli("--jobs 257 " + tree().string(), tmp());
  EXPECT_NE(o.err.find("Fehler: --jobs braucht eine Zahl von 1 bis 256, nicht \"257\"\n"),
            std::string::npos) << o.err;
  EXPECT_EQ(cli("--quality 0 " + tree().string(), tmp()).status, 2);
  EXPECT_EQ(cli("--join a b", tmp()).status, 2);
  // --join takes its three files and nothing else.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--join", "l", "r", "o", "--join", "a", "b", "c"},
                                              {"--join", "l", "r", "--sbs"},
                                              {"--sbs", "--join", "l", "r", "o"},
                                              {"--join", "l", "r", "o", "--quality", "90"}})
    EXPECT_EQ(parse_arguments(args).kind, ParsedArguments::Kind::usage_error) << args.back();
  EXPECT_EQ(cli("--help", tmp()).status, 0);
  EXPECT_EQ(cli("--version", tmp(), "2>&1 | grep -qx 'mpo-convert-cli [0-9.]*'").status, 0);
  o = cli("'" + (tree() / "nowhere").string() + "'", tmp());
  EXPECT_EQ(o.status, 2);
  EXPECT_TRUE(tmp_empty());
}

TEST_F(Cli, ConvertsTreeAndLeavesNoListFile) {
  add_mpo("a.mpo", 1);
  add_mpo("sub/deeper/20130412_Garda_1.MPO", 2);
  const Outcome o = cli("--all '" + tree().string() + "'", tmp());
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

// The command line's own formats reach the batch: --every is the four
// formats and the three viewing formats, not the lossless one; --quality
// changes the re-encoded outputs only.
TEST_F(Cli, EveryAndQualityReachTheBatch) {
  add_mpo("a.mpo", 120);
  ASSERT_EQ(cli("--every '" + tree().string() + "'", tmp()).status, 0);
  auto every = outputs();
  std::vector<std::string> names;
  for (const auto& [name, bytes] : every) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"a_EXIF.jpg", "a_L.jpg", "a_R.jpg", "a_ana.jpg",
                                             "a_ouh.jpg", "a_sbs.jpg", "a_sbsh.jpg", "a_tv.jpg",
                                             "a_x.jpg"}));
  ASSERT_EQ(cli("--sbs --quality 95 '" + tree().string() + "'", tmp()).status, 0);
  const auto sharper = outputs();
  EXPECT_EQ(sharper.at("a_L.jpg"), every.at("a_L.jpg"));
  EXPECT_NE(sharper.at("a_sbs.jpg"), every.at("a_sbs.jpg"));
}

// Named paths: files and folders mixed, each MPO converted once however
// it is reached (named twice, inside a named folder, through a link); a
// named file that is no MPO is reported. Only '/' separates: '|', '\\' and
// '"' are characters of a name.
TEST_F(Cli, NamedPathsFilesAndFolders) {
  add_mpo("sub/a|b/x.mpo", 70);
  add_mpo("d/p\\q.mpo", 71);
  add_mpo("d/r\\.mpo", 72);
  add_mpo("dir\\/z.MPO", 73);
  test::write_bytes(tree() / "pic.mpo\"bak", test::read_bytes(tree() / "d/r\\.mpo"));
  test::write_bytes(tree() / "notes.txt", {1, 2, 3});
  fs::create_symlink(tree() / "d/p\\q.mpo", tree() / "link.mpo");
  const auto q = [&](const std::string& rel) { return " '" + (tree() / rel).string() + "'"; };
  const Outcome o = cli("--sbs" + q("sub/a|b/x.mpo") + q("d") + q("d/p\\q.mpo") + q("link.mpo") +
                            q("notes.txt") + q("dir\\") + q("sub/a|b/x.mpo"),
                        tmp());
  EXPECT_EQ(o.status, 1) << o.err;
  EXPECT_NE(o.err.find("Fehler: Keine MPO-Datei (Endung .mpo)\n" + (tree() / "notes.txt").string()),
            std::string::npos) << o.err;
  EXPECT_NE(o.err.find("[4/4] "), std::string::npos) << o.err;
  EXPECT_EQ(o.err.find("[5/"), std::string::npos) << o.err;
  for (const char* base : {"sub/a|b/x", "d/p\\q", "d/r\\", "dir\\/z"})
    EXPECT_TRUE(fs::exists(tree() / (std::string(base) + "_sbs.jpg"))) << base;
  EXPECT_EQ(outputs().size(), 12u);  // nothing for pic.mpo"bak, link.mpo, sub/ as a whole
}

// --output-dir on a tree that must not change: every output lands below
// the folder at the MPO's path relative to its named path, with the bytes
// of a run next to the MPOs; a folder that cannot be made is reported with
// the system's reason.
TEST_F(Cli, OutputDirLeavesReadOnlyTreeUntouched) {
  add_mpo("a.mpo", 80);
  add_mpo("s/t/b.mpo", 81);
  ASSERT_EQ(cli("--all '" + tree().string() + "'", tmp()).status, 0);
  const auto in_place = outputs();
  ASSERT_EQ(in_place.size(), 12u);
  for (const auto& [rel, bytes] : in_place) fs::remove(tree() / rel);

  fs::permissions(tree(), fs::perms::owner_write | fs::perms::group_write |
                              fs::perms::others_write, fs::perm_options::remove);
  fs::permissions(tree() / "s/t", fs::perms::owner_write, fs::perm_options::remove);
  const fs::path out = dir.path() / "out";
  const Outcome o = cli("--all --jobs 2 --output-dir '" + out.string() + "' '" + tree().string() +
                            "' '" + (tree() / "s/t/b.mpo").string() + "'",
                        tmp());
  fs::permissions(tree(), fs::perms::owner_write, fs::perm_options::add);
  fs::permissions(tree() / "s/t", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(outputs().empty());
  std::map<std::string, Bytes> placed;
  for (const auto& e : fs::recursive_directory_iterator(out))
    if (e.is_regular_file()) placed[fs::relative(e.path(), out).string()] = test::read_bytes(e.path());
  EXPECT_EQ(placed, in_place);
  EXPECT_TRUE(tmp_empty());

  test::write_bytes(dir.path() / "blocked", {1});
  const Outcome blocked =
      cli("--output-dir '" + (dir.path() / "blocked").string() + "' '" + tree().string() + "'",
          tmp());
  EXPECT_EQ(blocked.status, 1);
  // One cause, said once: no output of the entries below it is tried.
  EXPECT_EQ(blocked.err.find("Fehlerinfo: Der Ordner für die Ausgaben konnte nicht angelegt "
                             "werden\n" + (dir.path() / "blocked").string() + "/: "),
            0u) << blocked.err;
  EXPECT_EQ(blocked.err.find("Fehlerinfo", 1), std::string::npos) << blocked.err;
}

// Two named folders holding x.mpo would write the same names below one
// output folder: the first named converts (on two workers as alone), the
// second is not converted and is named with the first.
TEST_F(Cli, OutputDirCollisionsConvertOnlyTheFirst) {
  add_mpo("A/x.mpo", 90);
  add_mpo("B/x.mpo", 91);
  const fs::path out = dir.path() / "out", alone = dir.path() / "alone";
  ASSERT_EQ(cli("--all --output-dir '" + alone.string() + "' '" + (tree() / "A").string() + "'",
                tmp()).status, 0);
  const Outcome o = cli("--all --jobs 2 --output-dir '" + out.string() + "' '" +
                            (tree() / "A").string() + "' '" + (tree() / "B").string() + "'",
                        tmp());
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("Fehler: " + (tree() / "B/x.mpo").string() +
                       "\nnicht umgewandelt: dieselben Ausgabedateien wie\n" +
                       (tree() / "A/x.mpo").string() + "\n"),
            std::string::npos) << o.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()),
            std::distance(fs::directory_iterator(alone), fs::directory_iterator()));
  for (const auto& e : fs::directory_iterator(alone))
    EXPECT_EQ(test::read_bytes(out / e.path().filename()), test::read_bytes(e.path()))
        << e.path().filename();
}

// A folder the run may not read is named with the system's reason; the
// rest converts. Run without root's permission override.
TEST(CliPermissions, UnreadableFolderNamedWithReason) {
  const test::Scene scene;
  if (!test::permissions_hold(scene)) GTEST_SKIP() << "permission bits do not hold here";
  test::write_bytes(scene.tree() / "a.mpo", test::generated(130));
  test::write_bytes(scene.tree() / "locked" / "b.mpo", test::generated(131));
  fs::permissions(scene.tree() / "locked", fs::perms::none);
  test::CliRun run;
  run.args = {scene.tree().string()};
  run.scene = &scene;
  run.without_permission_override = true;
  const test::CliResult r = test::run_cli(run);
  fs::permissions(scene.tree() / "locked", fs::perms::owner_all);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Fehlerinfo: Der Ordner konnte nicht gelesen werden\n" +
                       (scene.tree() / "locked").string() + "/: Zugriff verweigert\n"),
            std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(scene.tree() / "a_R.jpg"));
}

// Names are shown with their control characters as '?': a name could
// otherwise retitle or clear the terminal. In messages and progress alike.
TEST_F(Cli, ControlCharactersInNamesReachNoTerminal) {
  const std::string hostile = "x\x1b]0;PWNED\x07\x1b[2J\xc2\x9b";
  add_mpo(hostile + ".mpo", 90);
  test::write_bytes(tree() / (hostile + "bad.mpo"), Bytes(99, 7));
  test::write_bytes(tree() / (hostile + ".txt"), {1});
  const Outcome o = cli("--keep-going '" + tree().string() + "' '" +
                            (tree() / (hostile + ".txt")).string() + "' '" +
                            (tree() / "\x1b[31m").string() + "'",
                        tmp());
  EXPECT_EQ(o.status, 2);  // the last one does not exist
  EXPECT_NE(o.err.find("?[31m gibt es nicht"), std::string::npos) << o.err;
  const Outcome run = cli("--keep-going '" + tree().string() + "' '" +
                              (tree() / (hostile + ".txt")).string() + "'",
                          tmp());
  EXPECT_EQ(run.status, 1);
  for (const Outcome* r : {&o, &run}) {
    EXPECT_EQ(r->err.find_first_of("\x1b\x07"), std::string::npos) << r->err;
    EXPECT_EQ(r->err.find("\xc2\x9b"), std::string::npos) << r->err;
  }
  EXPECT_NE(run.err.find("x?]0;PWNED?\?[2J?bad.mpo"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("x?]0;PWNED?\?[2J?.txt"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("] " + (tree() / "x?]0;PWNED?\?[2J?").string() + "\n"),
            std::string::npos) << run.err;
}

// Started with standard streams closed, the program must not take
// descriptors 0 to 2 for its files: a message would land in the list file
// or an output. Every output is the JPEG of a normal run.
TEST_F(Cli, ClosedStandardStreams) {
  for (int i = 0; i < 4; ++i) add_mpo("m" + std::to_string(i) + ".mpo", 100 + i);
  test::write_bytes(dir.path() / "note.txt", {1});
  const std::string args = "--all --jobs 2 '" + (dir.path() / "note.txt").string() + "' '" +
                           tree().string() + "'";
  ASSERT_EQ(cli(args, tmp()).status, 1);
  const auto normal = outputs();
  ASSERT_EQ(normal.size(), 24u);
  for (const char* streams : {"<&- >&- 2>&-", "2>&-"}) {
    SCOPED_TRACE(streams);
    for (const auto& [rel, bytes] : normal) fs::remove(tree() / rel);
    EXPECT_EQ(cli(args, tmp(), streams).status, 1);
    EXPECT_TRUE(outputs() == normal);
  }
}

// --join writes a new MPO, which converts, and refuses to overwrite one of
// its inputs, also through a link.
TEST_F(Cli, JoinRefusesToOverwriteAnInput) {
  add_mpo("a.mpo", 110);
  ASSERT_EQ(cli("'" + tree().string() + "'", tmp()).status, 0);
  const fs::path left = tree() / "a_L.jpg", right = tree() / "a_R.jpg";
  const Bytes left_bytes = test::read_bytes(left);
  fs::create_symlink(left, tree() / "alias.mpo");
  const std::string inputs = "--join '" + left.string() + "' '" + right.string() + "' ";
  const Outcome refused = cli(inputs + "'" + (tree() / "alias.mpo").string() + "'", tmp());
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("ist eine der Eingabedateien"), std::string::npos) << refused.err;
  EXPECT_EQ(test::read_bytes(left), left_bytes);
  test::write_bytes(dir.path() / "text.jpg", {'n', 'o'});
  const Outcome not_jpeg = cli("--join '" + left.string() + "' '" +
                                   (dir.path() / "text.jpg").string() + "' '" +
                                   (dir.path() / "y.mpo").string() + "'",
                               tmp());
  EXPECT_EQ(not_jpeg.status, 1);
  EXPECT_NE(not_jpeg.err.find("text.jpg ist keine JPEG-Datei"), std::string::npos) << not_jpeg.err;
  EXPECT_FALSE(fs::exists(dir.path() / "y.mpo"));
  const fs::path joined = dir.path() / "j" / "b.mpo";
  fs::create_directories(joined.parent_path());
  ASSERT_EQ(cli(inputs + "'" + joined.string() + "'", tmp()).status, 0);
  EXPECT_EQ(cli("--sbs '" + joined.string() + "'", tmp()).status, 0);
  EXPECT_TRUE(fs::exists(joined.parent_path() / "b_sbs.jpg"));
}

// A join's inputs and output are named for what they are: no regular file,
// a folder; the first bytes tell a JPEG before anything else is read, and
// the inputs are read only within the memory there is.
TEST_F(Cli, JoinNamesWhatIsWrong) {
  add_mpo("a.mpo", 111);
  ASSERT_EQ(cli("'" + tree().string() + "'", tmp()).status, 0);
  const std::string left = (tree() / "a_L.jpg").string(), right = (tree() / "a_R.jpg").string();
  const std::string out = (dir.path() / "o.mpo").string();
  auto join = [&](const std::string& l, const std::string& o, const char* memory = nullptr) {
    if (memory != nullptr) setenv("MPO_CONVERT_TEST_MEMORY", memory, 1);
    const Outcome outcome = cli("--join '" + l + "' '" + right + "' '" + o + "'", tmp());
    unsetenv("MPO_CONVERT_TEST_MEMORY");
    return outcome;
  };
  const Outcome device = join("/dev/zero", out);
  EXPECT_NE(device.err.find("/dev/zero ist keine regul\u00e4re Datei"), std::string::npos) << device.err;
  const Outcome folder = join(left, tree().string());
  EXPECT_NE(folder.err.find(tree().string() + " ist ein Verzeichnis"), std::string::npos) << folder.err;
  test::write_bytes(dir.path() / "zeros.jpg", Bytes(1 << 20, 0));
  const char* tight = "50000";
  const Outcome zeros = join((dir.path() / "zeros.jpg").string(), out, tight);
  EXPECT_NE(zeros.err.find("zeros.jpg ist keine JPEG-Datei"), std::string::npos) << zeros.err;
  const Outcome no_memory = join(left, out, tight);
  EXPECT_NE(no_memory.err.find("Speicher nicht verf\u00fcgbar"), std::string::npos) << no_memory.err;
  for (const Outcome& o : {device, folder, zeros, no_memory}) EXPECT_EQ(o.status, 1) << o.err;
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace mpo
