// Signals in the middle of a run: every temporary goes, the outputs stay
// as they were, and the exit status is 128 + the signal.
#include <gtest/gtest.h>

#include <thread>

#include "hostile_support.h"
#include "io/interrupts.h"
#include "io/output_file.h"

namespace hostile {
namespace {

// A signal while named temporaries and the private list file exist: they
// go, the output stays as it was, and the exit status is 128 + the signal.
TEST(Signals, SignalsRemoveEveryTemporaryAndEndWithTheirStatus) {
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
TEST(Signals, CommandLineEndsOnSigintWithNothingLeft) {
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
