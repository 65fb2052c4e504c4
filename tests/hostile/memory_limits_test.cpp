// Memory that runs out: entries whose few bytes declare huge pictures, a
// budget below what an entry needs, and a real memory limit of the control
// group the program runs in. An entry that would not fit is refused with
// "Speicher nicht verfügbar" before anything large is allocated or written;
// the program is never killed for want of memory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "hostile_support.h"

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
TEST(MemoryLimits, EntriesBeyondTheirMemoryShareStopBeforeAnyAllocation) {
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

// A memory control group with a limit, for the programs the test starts in
// it; removed with the object. Version 2 (a child of the root group, which
// hands the memory controller down, with memory.max), or else a child of
// this process's group of the version 1 memory controller
// (memory.limit_in_bytes). Empty path() where neither can be made here.
class MemoryGroup {
 public:
  explicit MemoryGroup(int64_t limit) {
    if (fs::exists("/sys/fs/cgroup/cgroup.controllers")) {
      try_make("/sys/fs/cgroup/", "memory.max", limit);
      return;
    }
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    while (std::getline(groups, line)) {
      const size_t memory = line.find(":memory:");
      if (memory == std::string::npos) continue;
      try_make("/sys/fs/cgroup/memory" + line.substr(memory + 8) + "/", "memory.limit_in_bytes",
               limit);
      return;
    }
  }
  ~MemoryGroup() {
    if (!dir_.empty()) ::rmdir(dir_.c_str());
  }
  const std::string& path() const { return dir_; }

 private:
  // Only files the control group file system offers are written: nothing
  // is created where it is not mounted.
  void try_make(const std::string& parent, const char* limit_file, int64_t limit) {
    const std::string dir = parent + "mpo-test-" + std::to_string(::getpid());
    if (::mkdir(dir.c_str(), 0755) != 0) return;
    const std::string limit_path = dir + "/" + limit_file;
    if (fs::exists(limit_path) && fs::exists(dir + "/cgroup.procs")) {
      std::ofstream out(limit_path);
      if (out << limit << std::flush) {
        dir_ = dir;
        return;
      }
    }
    ::rmdir(dir.c_str());
  }
  std::string dir_;
};

// Inside a memory limit of 175 MiB the large picture with every output
// would need more than the limit: it is refused with its reason (nothing
// of it is written) instead of the kernel killing the program halfway; a
// small one converts beside it.
TEST(MemoryLimits, ControlGroupLimitRefusesWhatWouldNotFit) {
  const MemoryGroup group(int64_t{175} << 20);
  if (group.path().empty()) GTEST_SKIP() << "no writable memory control group here";
  Scene scene;
  write_bytes(scene.tree() / "large.mpo", generated(30, 2400, 1800));
  write_bytes(scene.tree() / "small.mpo", generated(31, 640, 480));
  const auto before = mpos_below(scene.tree());
  ProcessSpec request;
  // Into the group before the program starts, so that all it takes counts.
  request.argv = {"/bin/sh", "-c", "echo $$ > \"$0/cgroup.procs\" && exec \"$@\"", group.path(),
                  kCli, "--every", "--lossless", "--keep-going", "--jobs", "1",
                  scene.tree().string()};
  request.working_dir = scene.cwd().string();
  request.env = {{"TMPDIR", scene.tmp().string()}, {"MPO_CONVERT_TEST_MEMORY", ""}};
  request.capture_out = false;
  request.timeout = std::chrono::seconds(300);
  const ProcessResult r = run_process(request);
  ASSERT_EQ(r.signal, 0) << "killed\n" << r.err;
  EXPECT_EQ(r.status, 1) << r.err;
  CliResult cli;
  cli.err = r.err;
  EXPECT_TRUE(has_line(cli.by_entry()[(scene.tree() / "large").string()], kNoMemoryLine)) << r.err;
  std::map<std::string, int> outputs;
  for (const auto& e : fs::directory_iterator(scene.tree())) {
    const std::string name = e.path().filename().string();
    if (!name.ends_with(".mpo")) ++outputs[name.substr(0, name.find('_'))];
  }
  EXPECT_EQ(outputs, (std::map<std::string, int>{{"small", 10}})) << r.err;
  EXPECT_EQ(mpos_below(scene.tree()), before);
  expect_empty(scene.tmp());
}

}  // namespace
}  // namespace hostile
