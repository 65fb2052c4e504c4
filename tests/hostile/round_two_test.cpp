// The surroundings working against a run: tiny files declaring huge
// pictures, a process limit that starts no thread, a folder that takes no
// new files over the user's old outputs, and signals in the middle.
#include <grp.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "app/scheduler.h"
#include "hostile_support.h"
#include "io/interrupts.h"
#include "io/output_file.h"

namespace hostile {
namespace {

const std::string kNoMemoryLine = mpo::test::cli_line(mpo::texts::kErrorTitle, mpo::texts::kNoMemory);

// Sets an environment variable for the runs of one test.
class Environment {
 public:
  Environment(const char* name, const std::string& value) : name_(name) {
    ::setenv(name, value.c_str(), 1);
  }
  ~Environment() { ::unsetenv(name_); }

 private:
  const char* name_;
};

CliResult convert(const Scene& scene, std::vector<std::string> options, CliRun run = {}) {
  run.scene = &scene;
  options.push_back(scene.tree().string());
  run.args = options;
  CliResult r = run_cli(run);
  EXPECT_FALSE(r.timed_out) << "the run hung";
  return r;
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A machine with 1 GiB to spare and two workers: the camera entry converts,
// the entries whose few bytes declare gigabytes stop before anything is
// allocated or written.
TEST(RoundTwo, EntriesBeyondTheirMemoryShareStopBeforeAnyAllocation) {
  Scene scene;
  write_bytes(scene.tree() / "camera.mpo", generated(1, 3648, 2736));
  Bytes huge_left = generated(2);
  patch_frame(huge_left, 0, 8, 16383, 16383);
  write_bytes(scene.tree() / "huge_left.mpo", huge_left);
  JpegRecipe small, wide;
  small.width = small.height = 100;
  Bytes huge_right = mpo_of(small, wide);
  patch_frame(huge_right, second_image(huge_right), 8, 32767, 32767);
  write_bytes(scene.tree() / "huge_right.mpo", huge_right);
  const auto before = mpos_below(scene.tree());
  // Just under 2 GiB, almost all of it a hole: refused before it is read.
  // (In a tree of its own: the checks would read it whole.)
  Scene hole;
  const fs::path sparse = hole.tree() / "sparse.mpo";
  write_bytes(sparse, generated(3));
  fs::resize_file(sparse, (uintmax_t{1} << 31) - 1);

  const Environment budget("MPO_CONVERT_TEST_MEMORY", std::to_string(int64_t{1} << 30));
  CliRun run;
  run.timeout_seconds = 300;
  const CliResult r = convert(scene, {"--all", "--keep-going", "--jobs", "2"}, run);
  EXPECT_EQ(r.status, 1) << r.err;
  const auto found = check_tree(scene.tree(), before);
  EXPECT_EQ(found.at(scene.tree() / "camera.mpo").size(), 6u) << r.err;
  const auto entries = r.by_entry();
  for (const char* name : {"huge_left", "huge_right"}) {
    EXPECT_EQ(found.count(scene.tree() / (std::string(name) + ".mpo")), 0u) << name;
    const auto e = entries.find((scene.tree() / name).string());
    ASSERT_NE(e, entries.end()) << name << "\n" << r.err;
    EXPECT_TRUE(has_line(e->second, kNoMemoryLine)) << name << "\n" << r.err;
  }
  expect_empty(scene.tmp());

  const CliResult h = convert(hole, {"--all", "--jobs", "2"});
  EXPECT_EQ(h.status, 1) << h.err;
  EXPECT_TRUE(has_line(h.by_entry()[(hole.tree() / "sparse").string()], kNoMemoryLine)) << h.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(hole.tree()), fs::directory_iterator()), 1);
}

// The command-line program with a process limit of one, so that not a
// single further thread can be started (as nobody where the tests run as
// root, whose limit the system does not enforce).
CliResult run_with_one_process(const Scene& scene, const std::vector<std::string>& args) {
  ProcessSpec request;
  request.argv = {kCli};
  request.argv.insert(request.argv.end(), args.begin(), args.end());
  request.working_dir = scene.cwd().string();
  request.clean_environment = true;
  request.env = {{"TMPDIR", scene.tmp().string()},
                 {"ASAN_OPTIONS", "detect_leaks=0"},
                 {"MPO_CONVERT_TEST_MEMORY", "8589934592"}};
  request.capture_out = false;
  if (::geteuid() == 0) request.user = unprivileged_user();
  request.limits = {{RLIMIT_NPROC, 1}};
  const ProcessResult p = run_process(request);
  CliResult result;
  result.status = p.status;
  result.timed_out = p.timed_out;
  result.err = p.err;
  return result;
}

TEST(RoundTwo, WorkersThatCannotBeStartedLeaveTheRunToThoseThatCould) {
  const int planned = std::min(mpo::usable_cores(), 4);
  if (planned < 2) GTEST_SKIP() << "one processor: no further worker is planned";
  Scene scene;
  for (const fs::path& p : {scene.root(), scene.tree(), scene.tmp(), scene.cwd()}) {
    fs::permissions(p, fs::perms::all);
  }
  for (uint32_t i = 0; i < 4; ++i) {
    write_bytes(scene.tree() / ("m" + std::to_string(i) + ".mpo"), generated(10 + i));
  }
  const auto before = mpos_below(scene.tree());
  const CliResult r = run_with_one_process(scene, {"--jobs", "8", scene.tree().string()});
  ASSERT_NE(r.status, 125) << "the limit could not be set";
  EXPECT_EQ(r.status, 0) << r.err;
  const std::u16string text = mpo::texts::kOnlySome + std::u16string(u"1") +
                              mpo::texts::kOfPlanned + mpo::from_utf8(std::to_string(planned)) +
                              mpo::texts::kWorkersStarted;
  const std::string note = mpo::test::cli_line(mpo::texts::kNoteTitle, text.c_str());
  size_t notes = 0;
  for (size_t at = r.err.find(note); at != std::string::npos; at = r.err.find(note, at + 1)) ++notes;
  EXPECT_EQ(notes, 1u) << r.err;
  EXPECT_EQ(check_tree(scene.tree(), before).size(), 4u);
}

// Old outputs the user may write, in a folder that takes no new files: a
// file written in place could be cut by a limit or a kill, so nothing is.
TEST(RoundTwo, OldOutputsInAFolderWithoutRoomForNewFilesStayWhole) {
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

// A signal while named temporaries and the private list file exist: they
// go, the output stays as it was, and the exit status is 128 + the signal.
TEST(RoundTwo, SignalsRemoveEveryTemporaryAndEndWithTheirStatus) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    Scene scene;
    const fs::path output = scene.tree() / "a_sbs.jpg";
    write_bytes(output, Bytes{1, 2, 3});
    const pid_t pid = ::fork();
    if (pid == 0) {
      mpo::install_interrupt_cleanup();
      mpo::PendingFile pending = mpo::PendingFile::start(output.string(), O_WRONLY, false);
      std::string list = (scene.tmp() / "mpo-convert-XXXXXX").string();
      if (pending.fd() < 0 || mpo::make_recorded_temporary(list) < 0) ::_exit(125);
      if (::write(pending.fd(), "new", 3) != 3) ::_exit(125);
      ::raise(signal);
      ::_exit(126);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << signal;
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    EXPECT_EQ(files_below(scene.tree()), (std::map<fs::path, Bytes>{{output, Bytes{1, 2, 3}}}));
    expect_empty(scene.tmp());
  }
}

// The program itself, stopped in mid-batch: its error stream is a full pipe
// that nobody reads, so the run waits at its first progress line for ever.
TEST(RoundTwo, CommandLineEndsOnSigintWithNothingLeft) {
  Scene scene;
  for (uint32_t i = 0; i < 3; ++i) {
    write_bytes(scene.tree() / ("m" + std::to_string(i) + ".mpo"), generated(20 + i));
  }
  const auto before = mpos_below(scene.tree());
  int pipe_fds[2];
  ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK), 0);
  const std::vector<char> fill(65536, 'x');
  while (::write(pipe_fds[1], fill.data(), fill.size()) > 0) {
  }
  ASSERT_EQ(::fcntl(pipe_fds[1], F_SETFL, 0), 0);
  ProcessSpec request;
  request.argv = {kCli, "--all", "--jobs", "1", scene.tree().string()};
  request.working_dir = scene.cwd().string();
  request.env = {{"TMPDIR", scene.tmp().string()}};
  request.capture_out = false;
  request.descriptors = {{2, pipe_fds[1]}};
  Process run(request);
  ASSERT_TRUE(run.started());
  ::close(pipe_fds[1]);
  // The first entry's left half is written before the first progress line,
  // and the handler is in place long before that.
  auto first_half_written = [&scene] {
    for (const auto& e : fs::directory_iterator(scene.tree())) {
      if (e.path().string().ends_with("_L.jpg")) return true;
    }
    return false;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!first_half_written() && run.running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(run.running()) << "the run ended on its own";
  ASSERT_TRUE(first_half_written()) << "the run never reached its first entry";
  run.kill(SIGINT);
  const std::optional<int> status = run.wait(std::chrono::seconds(60));
  ::close(pipe_fds[0]);
  ASSERT_TRUE(status.has_value()) << "did not end";
  EXPECT_EQ(*status, 128 + SIGINT);
  check_tree(scene.tree(), before);
  expect_empty(scene.tmp());
  expect_empty(scene.cwd());
}

}  // namespace
}  // namespace hostile
