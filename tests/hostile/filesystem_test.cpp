// The file system working against the batch: folders that cannot be
// written or read, link loops, files that vanish, names outside ASCII and
// UTF-8, a full disk, output names that are taken by links or special
// files. In every case no MPO changes, no partial output stays, nothing
// appears outside the tree, and whatever fails reaches the user.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/driver.h"
#include "hostile_support.h"

namespace hostile {
namespace {

CliResult convert(const Scene& scene, std::vector<std::string> options, CliRun run = {}) {
  run.scene = &scene;
  options.push_back(scene.tree().string());
  run.args = options;
  CliResult r = run_cli(run);
  EXPECT_FALSE(r.timed_out) << "the run hung";
  return r;
}

// For every MPO: a composite is missing exactly when its message was shown.
void expect_each_missing_composite_reported(const CliResult& r,
                                            const std::map<fs::path, Bytes>& mpos,
                                            const std::map<fs::path, std::set<std::string>>& found) {
  const auto entries = r.by_entry();
  const std::pair<const char*, const std::string*> composites[] = {
      {"_sbs.jpg", &kSbsFailed}, {"_sbsh.jpg", &kSbshFailed},
      {"_ouh.jpg", &kOuhFailed}, {"_EXIF.jpg", &kExifFailed}};
  for (const auto& [mpo, bytes] : mpos) {
    const auto e = entries.find(base_of(mpo));
    ASSERT_NE(e, entries.end()) << mpo << "\n" << r.err;
    const std::set<std::string> lines(e->second.begin(), e->second.end());
    const auto f = found.find(mpo);
    for (const auto& [suffix, message] : composites) {
      const bool present = f != found.end() && f->second.count(suffix) != 0;
      EXPECT_NE(present, lines.count(*message) != 0) << mpo << suffix << "\n" << r.err;
    }
  }
}

size_t count_outputs(const std::map<fs::path, std::set<std::string>>& found) {
  size_t n = 0;
  for (const auto& [mpo, suffixes] : found) n += suffixes.size();
  return n;
}

TEST(FileSystem, ReadOnlyFolderWritesNothingAndReportsEveryComposite) {
  Scene scene;
  if (!permissions_hold(scene)) GTEST_SKIP() << "permission bits do not hold here";
  write_bytes(scene.tree() / "a.mpo", generated(1));
  write_bytes(scene.tree() / "sub" / "b.mpo", generated(2));
  const auto before = mpos_below(scene.tree());
  fs::permissions(scene.tree() / "sub", fs::perms::owner_read | fs::perms::owner_exec |
                                            fs::perms::group_read | fs::perms::others_read |
                                            fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(scene.tree(), fs::status(scene.tree() / "sub").permissions());

  CliRun run;
  run.without_permission_override = true;
  const CliResult r = convert(scene, {"--all", "--jobs", "1"}, run);
  EXPECT_EQ(r.status, 1) << r.err;
  const auto found = check_tree(scene.tree(), before);
  EXPECT_EQ(count_outputs(found), 0u);
  expect_each_missing_composite_reported(r, before, found);
  expect_empty(scene.tmp());
  expect_empty(scene.cwd());
}

// An old left half of another picture that cannot be overwritten: the
// composites must not be built from it.
TEST(FileSystem, OldHalfThatCannotBeOverwrittenLendsNoPicture) {
  Scene scene;
  if (!permissions_hold(scene)) GTEST_SKIP() << "permission bits do not hold here";
  write_bytes(scene.tree() / "a.mpo", generated(8));
  const Bytes other = generated(9);
  const Bytes old_left(other.begin(), other.begin() + static_cast<long>(second_image(other)));
  write_bytes(scene.tree() / "a_L.jpg", old_left);
  fs::permissions(scene.tree() / "a_L.jpg", fs::perms::owner_read | fs::perms::group_read);
  const auto before = mpos_below(scene.tree());

  CliRun run;
  run.without_permission_override = true;
  const CliResult r = convert(scene, {"--all"}, run);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(read_bytes(scene.tree() / "a_L.jpg"), old_left);
  const auto found = check_tree(scene.tree(), before, {scene.tree() / "a_L.jpg"});
  EXPECT_EQ(found.at(scene.tree() / "a.mpo"), (std::set<std::string>{"_R.jpg"}));
  expect_each_missing_composite_reported(r, before, found);
}

TEST(FileSystem, UnreadableSubfolderIsPassedOverAndTheRestConverts) {
  Scene scene;
  if (!permissions_hold(scene)) GTEST_SKIP() << "permission bits do not hold here";
  write_bytes(scene.tree() / "a.mpo", generated(3));
  write_bytes(scene.tree() / "locked" / "b.mpo", generated(4));
  write_bytes(scene.tree() / "z" / "c.mpo", generated(5));
  const auto before = mpos_below(scene.tree());
  fs::permissions(scene.tree() / "locked", fs::perms::none);

  CliRun run;
  run.without_permission_override = true;
  const CliResult r = convert(scene, {"--all"}, run);
  fs::permissions(scene.tree() / "locked", fs::perms::owner_all);
  const auto found = check_tree(scene.tree(), before);
  EXPECT_EQ(found.count(scene.tree() / "locked" / "b.mpo"), 0u);
  EXPECT_EQ(found.at(scene.tree() / "a.mpo").size(), 6u);
  EXPECT_EQ(found.at(scene.tree() / "z" / "c.mpo").size(), 6u);
  EXPECT_NE(r.err.find("[2/2]"), std::string::npos) << r.err;
  expect_empty(scene.tmp());
}

// The MPOs in a folder that cannot be listed are not converted; the user
// should learn that from more than their missing outputs.
TEST(FileSystem, UnreadableSubfolderIsReported) {
  Scene scene;
  if (!permissions_hold(scene)) GTEST_SKIP() << "permission bits do not hold here";
  write_bytes(scene.tree() / "a.mpo", generated(3));
  write_bytes(scene.tree() / "locked" / "b.mpo", generated(4));
  fs::permissions(scene.tree() / "locked", fs::perms::none);
  CliRun run;
  run.without_permission_override = true;
  const CliResult r = convert(scene, {}, run);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("Fehlerinfo: Der Ordner konnte nicht gelesen werden\n" +
                       (scene.tree() / "locked").string()),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(fs::exists(scene.tree() / "a_R.jpg"));  // the rest is converted all the same
}

TEST(FileSystem, FolderLinkLoopsEndAndEachMpoConvertsOnce) {
  Scene scene;
  write_bytes(scene.tree() / "a.mpo", generated(6));
  write_bytes(scene.tree() / "d" / "b.mpo", generated(7));
  fs::create_directory_symlink("..", scene.tree() / "d" / "up");
  fs::create_directory_symlink(".", scene.tree() / "self");
  fs::create_directory_symlink(scene.tree() / "d", scene.tree() / "d" / "again");
  const auto before = mpos_below(scene.tree());

  const CliResult r = convert(scene, {"--all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("[2/2]"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("[3/"), std::string::npos) << r.err;
  const auto found = check_tree(scene.tree(), before);
  EXPECT_EQ(count_outputs(found), 12u);
  expect_empty(scene.tmp());
}

// A scripted Ui that changes the tree while the batch runs: when the
// progress window of an entry opens, that entry's MPO is touched.
class MeddlingUi : public mpo::test::ScriptedUi {
 public:
  std::map<std::string, std::function<void(const fs::path&)>> on_progress;  // by base path
  void show_progress_window(const mpo::Text& path) override {
    ScriptedUi::show_progress_window(path);
    const std::string base = mpo::to_utf8(path);
    if (auto it = on_progress.find(base); it != on_progress.end()) it->second(base + ".mpo");
  }
};

TEST(FileSystem, FilesThatVanishOrChangeBeforeTheirSplitStopWithTheirReason) {
  Scene scene;
  for (const char* name : {"gone", "dir", "small", "garbage", "good1", "good2"})
    write_bytes(scene.tree() / (std::string(name) + ".mpo"), generated(static_cast<uint32_t>(name[0])));
  std::map<fs::path, Bytes> untouched = mpos_below(scene.tree());
  MeddlingUi ui;
  const std::string t = scene.tree().string() + "/";
  ui.on_progress[t + "gone"] = [](const fs::path& p) { fs::remove(p); };
  ui.on_progress[t + "dir"] = [](const fs::path& p) {
    fs::remove(p);
    fs::create_directory(p);
  };
  ui.on_progress[t + "small"] = [](const fs::path& p) { write_bytes(p, Bytes(99, 0xFF)); };
  ui.on_progress[t + "garbage"] = [](const fs::path& p) { write_bytes(p, Bytes(5000, 0x45)); };
  for (const char* name : {"gone", "dir", "small", "garbage"}) untouched.erase(t + name + ".mpo");

  mpo::FileService files;
  mpo::ImageService images;
  mpo::RunConfig config;
  config.options = mpo::OptionFlags{1, 1, 1, 1};
  config.start_path = mpo::from_utf8(scene.tree().string());
  config.list_file = mpo::from_utf8((scene.tmp() / "list.txt").string());
  config.pause_ms = 0;
  config.keep_going = true;
  const mpo::RunResult result = mpo::run_batch(files, images, ui, config);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.entries, 6);

  std::set<std::string> stops;
  for (const auto& c : ui.of_kind("message"))
    if (c.a == "Fehler") stops.insert(c.b);
  const std::set<std::string> expected = {
      "keine Bilddatei\r" + t + "gone.mpo", "keine Bilddatei\r" + t + "dir.mpo",
      "keine Bilddatei\r" + t + "small.mpo", "Trennstelle nicht gefunden\r" + t + "garbage.mpo"};
  EXPECT_EQ(stops, expected);
  EXPECT_EQ(ui.message_titles().back(), "Programmende");

  std::set<fs::path> replaced = {t + "small.mpo", t + "garbage.mpo"};
  const auto found = check_tree(scene.tree(), untouched, replaced);
  EXPECT_EQ(count_outputs(found), 12u);
  EXPECT_EQ(found.size(), 2u);
  expect_empty(scene.tmp());
}

TEST(FileSystem, NamesOutsideAsciiAndOutsideUtf8Convert) {
  Scene scene;
  const std::vector<fs::path> names = {
      scene.tree() / "M\xc3\xbcller Stra\xc3\x9f" "e \xe6\x97\xa5\xe6\x9c\xac.mpo",
      scene.tree() / "\xff\xfe\x80 raw.MPO",
      scene.tree() / "d\xe9j\xe0" / "2013_\xc3\xa4rger_1.mpo",
      scene.tree() / "\xf0\x9f\x98\x80" / "\xed\xa0\x80.mpo",  // an encoded surrogate: not UTF-8
  };
  uint32_t seed = 20;
  for (const fs::path& p : names) write_bytes(p, generated(seed++));
  const auto before = mpos_below(scene.tree());
  ASSERT_EQ(before.size(), names.size());

  const CliResult r = convert(scene, {"--all"});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto found = check_tree(scene.tree(), before);
  for (const fs::path& p : names) {
    ASSERT_EQ(found.count(p), 1u) << p;
    EXPECT_EQ(found.at(p).size(), 6u) << p;
  }
  // The token of the year-prefixed name, upper case, low bytes of each unit.
  const Bytes exif = read_bytes(base_of(names[2]) + "_EXIF.jpg");
  const std::string text = "\xc4RGER     -V1";
  const Bytes software(text.begin(), text.end());
  EXPECT_NE(std::search(exif.begin(), exif.end(), software.begin(), software.end()), exif.end());
  expect_empty(scene.tmp());
}

// A name of 247 + 4 bytes: "_sbs.jpg" and "_ouh.jpg" still fit into the
// 255 bytes of a file name, "_sbsh.jpg" and "_EXIF.jpg" do not.
TEST(FileSystem, OutputNamesTooLongForTheFileSystemAreReported) {
  Scene scene;
  const fs::path mpo = scene.tree() / (std::string(247, 'n') + ".mpo");
  write_bytes(mpo, generated(33));
  const auto before = mpos_below(scene.tree());
  const CliResult r = convert(scene, {"--all"});
  EXPECT_EQ(r.status, 1) << r.err;
  const auto found = check_tree(scene.tree(), before);
  EXPECT_EQ(found.at(mpo), (std::set<std::string>{"_L.jpg", "_R.jpg", "_sbs.jpg", "_ouh.jpg"}));
  expect_each_missing_composite_reported(r, before, found);
}

// Names with line breaks cannot break the list file into fragments of
// names: every file converts completely.
TEST(FileSystem, NamesWithLineBreaksConvertLikeTheOthers) {
  Scene scene;
  write_bytes(scene.tree() / "x\ny.mpo", generated(30));
  write_bytes(scene.tree() / "c\rr.mpo", generated(31));
  write_bytes(scene.tree() / "fine.mpo", generated(32));
  const auto before = mpos_below(scene.tree());
  const CliResult r = convert(scene, {"--all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Fehler"), std::string::npos) << r.err;
  const auto found = check_tree(scene.tree(), before);
  for (const auto& entry : before) EXPECT_EQ(found.at(entry.first).size(), 6u) << entry.first;
  expect_empty(scene.tmp());
  expect_empty(scene.cwd());
}

// An MPO name that is a FIFO with a writer that never writes, or the
// terminal's device node (as a crafted archive can hold): reading either
// would wait for ever. They are not opened, and stop as "no image file".
TEST(FileSystem, MposThatAreFifosOrDevicesAreRefusedWithoutBlocking) {
  Scene scene;
  const fs::path t = scene.tree();
  write_bytes(t / "good.mpo", generated(34));
  ASSERT_EQ(mkfifo((t / "fifo.mpo").c_str(), 0644), 0);
  const int writer = open((t / "fifo.mpo").c_str(), O_RDWR | O_CLOEXEC);  // stays silent
  ASSERT_GE(writer, 0);
  const bool device = mknod((t / "tty.mpo").c_str(), S_IFCHR | 0644, makedev(5, 0)) == 0;
  const auto before = mpos_below(t);

  CliRun run;
  run.with_terminal = true;
  run.timeout_seconds = 20;
  const CliResult r = convert(scene, {"--all", "--keep-going"}, run);
  close(writer);
  EXPECT_EQ(r.status, 1) << r.err;
  const auto entries = r.by_entry();
  std::vector<std::string> special = {"fifo"};
  if (device) special.push_back("tty");
  for (const std::string& name : special) {
    const std::string mpo = (t / (name + ".mpo")).string();
    ASSERT_EQ(entries.count(base_of(mpo)), 1u) << r.err;
    EXPECT_EQ(entries.at(base_of(mpo)),
              (std::vector<std::string>{"Fehler: keine Bilddatei", mpo}));
  }
  const auto found = check_tree(t, before);
  EXPECT_EQ(found.at(t / "good.mpo").size(), 6u);
  EXPECT_EQ(found.size(), 1u);
}

// Halves small enough to be written, composites (of higher quality and
// double width) too large: some outputs fail at the limit.
std::map<fs::path, Bytes> low_quality_tree(const Scene& scene, int count) {
  for (int i = 0; i < count; ++i) {
    mpogen::Options o;
    o.width = 96 + 16 * i, o.height = 64, o.seed = 40u + static_cast<uint32_t>(i), o.quality = 20;
    write_bytes(scene.tree() / ("m" + std::to_string(i) + ".mpo"), mpogen::make_mpo(o).bytes);
  }
  return mpos_below(scene.tree());
}

TEST(FileSystem, FileSizeLimitLeavesNoPartialOutputAndReportsEachFailure) {
  Scene scene;
  const auto before = low_quality_tree(scene, 3);
  size_t half = 0;
  for (const auto& [p, b] : before) half = std::max(half, b.size() / 2 + 512);

  CliRun run;
  run.file_size_limit = static_cast<long long>(half);
  const CliResult r = convert(scene, {"--all", "--jobs", "1"}, run);
  EXPECT_EQ(r.status, 1) << r.err;
  const auto found = check_tree(scene.tree(), before);
  expect_each_missing_composite_reported(r, before, found);
  // Both sides of the limit were reached.
  EXPECT_GT(count_outputs(found), 0u);
  EXPECT_LT(count_outputs(found), 6 * before.size());
  expect_empty(scene.tmp());
  expect_empty(scene.cwd());
}

TEST(FileSystem, FullDiskLeavesNoPartialOutputAndReportsEachFailure) {
  Scene scene;
  Tmpfs disk(scene.tree(), "96k");
  if (!disk) GTEST_SKIP() << "cannot mount a small tmpfs here";
  const auto before = low_quality_tree(scene, 4);
  const CliResult r = convert(scene, {"--all", "--jobs", "1"});
  EXPECT_EQ(r.status, 1) << r.err;
  const auto found = check_tree(scene.tree(), before);
  expect_each_missing_composite_reported(r, before, found);
  EXPECT_GT(count_outputs(found), 0u);
  EXPECT_LT(count_outputs(found), 6 * before.size());
  expect_empty(scene.tmp());
}

// A list file that cannot be written completely must not pass for a
// complete one: the MPOs it lost would go unconverted without a word.
TEST(FileSystem, ListFileOnFullDiskIsReported) {
  Scene scene;
  Tmpfs disk(scene.tmp(), "4k");
  if (!disk) GTEST_SKIP() << "cannot mount a small tmpfs here";
  const Bytes mpo = generated(50, 16, 16);
  for (int i = 0; i < 60; ++i)
    write_bytes(scene.tree() / ("a_rather_long_name_that_fills_the_list_quickly_" +
                                std::to_string(i) + ".mpo"),
                mpo);
  const auto before = mpos_below(scene.tree());
  const CliResult r = convert(scene, {});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("Fehler: Die Liste der MPO-Dateien konnte nicht angelegt werden"),
            std::string::npos)
      << r.err;
  // Nothing converted from a list that cannot be trusted, and nothing left.
  EXPECT_TRUE(check_tree(scene.tree(), before).empty());
  expect_empty(scene.tmp());
}

TEST(FileSystem, OutputNamesTakenByLinksOrSpecialFilesNeverReachOtherFiles) {
  Scene scene;
  write_bytes(scene.tree() / "a.mpo", generated(60));
  write_bytes(scene.tree() / "b.mpo", generated(61));
  write_bytes(scene.outside() / "victim", Bytes(300, 0x11));
  write_bytes(scene.outside() / "victim2", Bytes(300, 0x22));
  const fs::path t = scene.tree();
  fs::create_symlink("a.mpo", t / "a_L.jpg");                            // its own MPO
  fs::create_hard_link(t / "b.mpo", t / "a_R.jpg");                      // another MPO
  fs::create_symlink(scene.outside() / "victim", t / "a_sbs.jpg");       // outside the tree
  fs::create_hard_link(scene.outside() / "victim2", t / "a_sbsh.jpg");
  fs::create_symlink(scene.outside() / "missing", t / "a_ouh.jpg");      // dangling
  ASSERT_EQ(mkfifo((t / "b_L.jpg").c_str(), 0644), 0);                   // would block a writer
  ASSERT_EQ(mkfifo((t / "b_sbs.jpg").c_str(), 0644), 0);
  const auto before = mpos_below(t);
  const Bytes b_mpo = read_bytes(t / "b.mpo");

  const CliResult r = convert(scene, {"--all", "--jobs", "1"}, CliRun{.args = {}, .timeout_seconds = 20});
  EXPECT_EQ(r.status, 1) << r.err;  // b's outputs blocked by the FIFOs
  EXPECT_EQ(read_bytes(t / "b.mpo"), b_mpo);
  EXPECT_EQ(read_bytes(scene.outside() / "victim"), Bytes(300, 0x11));
  EXPECT_EQ(read_bytes(scene.outside() / "victim2"), Bytes(300, 0x22));
  EXPECT_FALSE(fs::exists(scene.outside() / "missing"));
  const auto found = check_tree(t, before);
  // Every output of a is a file of its own now, with the right content.
  for (const std::string& suffix : kOutputSuffixes) {
    const fs::path out = base_of(t / "a.mpo") + suffix;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out))) << out;
    EXPECT_EQ(fs::hard_link_count(out), 1u) << out;
  }
  EXPECT_EQ(found.at(t / "a.mpo").size(), 6u);
  EXPECT_TRUE(fs::is_fifo(t / "b_L.jpg") && fs::is_fifo(t / "b_sbs.jpg"));
  EXPECT_NE(r.err.find(kSbsFailed), std::string::npos) << r.err;
  expect_empty(scene.tmp());
}

// Old outputs the user may write, in a folder that takes no new files: a
// file written in place could be cut by a limit or a kill, so nothing is.
TEST(FileSystem, OldOutputsInAFolderWithoutRoomForNewFilesStayWhole) {
  Scene scene;
  if (!permissions_hold(scene)) GTEST_SKIP() << "permission bits do not hold here";
  write_bytes(scene.tree() / "a.mpo", generated(4));
  const auto before = mpos_below(scene.tree());
  std::set<fs::path> old;
  for (const std::string& suffix : kOutputSuffixes) {
    const fs::path p = scene.tree() / ("a" + suffix);
    write_bytes(p, Bytes(suffix.begin(), suffix.end()));
    old.insert(p);
  }
  fs::permissions(scene.tree(), fs::perms::owner_read | fs::perms::owner_exec);

  CliRun run;
  run.without_permission_override = true;
  const CliResult r = convert(scene, {"--all"}, run);
  EXPECT_EQ(r.status, 1) << r.err;
  for (const fs::path& p : old) {
    const std::string suffix = p.string().substr(base_of(scene.tree() / "a.mpo").size());
    EXPECT_EQ(read_bytes(p), Bytes(suffix.begin(), suffix.end())) << p;
  }
  check_tree(scene.tree(), before, old);
}

}  // namespace
}  // namespace hostile
