// The child-process runner every test relies on: statuses, signals, time
// limits and streams in both directions at once.
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <csignal>

#include "tests/support/temp_dir.h"

namespace mpo::test {
namespace {

using namespace std::chrono_literals;

ProcessResult shell(const std::string& script, std::chrono::milliseconds limit = 10s) {
  return run_process({"/bin/sh", "-c", script}, limit);
}

TEST(Process, ReportsStatusSignalAndTimeLimit) {
  const ProcessResult r = shell("echo out; echo err >&2; exit 3");
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(r.err, "err\n");
  const ProcessResult killed = shell("kill -TERM $$");
  EXPECT_EQ(killed.status, -1);
  EXPECT_EQ(killed.signal, SIGTERM);
  // A grandchild holding the streams open must not hold up the result.
  const ProcessResult hung = shell("sleep 30 & sleep 30", 300ms);
  EXPECT_TRUE(hung.timed_out);
  EXPECT_EQ(hung.signal, SIGKILL);
  EXPECT_FALSE(run_process({"no-such-program-here"}).started);
}

TEST(Process, FeedsAndDrainsLargeStreamsTogether) {
  ProcessSpec request;
  request.argv = {"/bin/sh", "-c", "cat; pwd >&2; echo \"$MPO_PROBE $HOME\" >&2; ulimit -n >&2"};
  request.input = std::string(3 << 20, 'x');  // far beyond a pipe's buffer
  TempDir dir;
  request.working_dir = dir.root();
  request.env = {{"MPO_PROBE", "gesetzt"}};
  request.clean_environment = true;
  request.limits = {{RLIMIT_NOFILE, 77}};
  const ProcessResult r = run_process(request);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.size(), request.input->size());
  EXPECT_EQ(r.err, dir.root() + "\ngesetzt \n77\n");
}

}  // namespace
}  // namespace mpo::test
