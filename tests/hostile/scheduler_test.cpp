// How many workers a run starts: never more than entries, cores or memory
// allow, and a run goes on with those that could be started.
#include <grp.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "app/scheduler.h"
#include "hostile_support.h"

namespace hostile {
namespace {

constexpr int64_t kGiB = int64_t{1} << 30;

TEST(Scheduler, WorkersNeverOutnumberEntriesCoresOrMemory) {
  mpo::Schedule s;
  s.jobs = 8;
  EXPECT_EQ(mpo::planned_workers(s, 3, 16), 3);  // entries
  EXPECT_EQ(mpo::planned_workers(s, 24, 2), 2);  // cores
  s.memory_available = kGiB;
  EXPECT_EQ(mpo::planned_workers(s, 24, 16), 3);  // camera entries in 1 GiB
  s.memory_available = 100 << 20;
  EXPECT_EQ(mpo::planned_workers(s, 24, 16), 1);  // never fewer than one
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

TEST(Scheduler, WorkersThatCannotBeStartedLeaveTheRunToThoseThatCould) {
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

}  // namespace
}  // namespace hostile
