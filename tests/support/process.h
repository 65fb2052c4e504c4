// Child processes of the tests: one way to start a program, with its
// output captured, a time limit, limits and privileges of its own, and the
// exit status or the signal that ended it.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <csignal>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mpo::test {

struct ProcessSpec {
  // argv[0] is looked up in PATH unless it holds a slash.
  std::vector<std::string> argv;
  std::string working_dir;  // empty: the test's own
  // Variables set for the child (an empty value removes the variable).
  std::vector<std::pair<std::string, std::string>> env;
  bool clean_environment = false;  // `env` only, nothing of the test's own
  // Standard input: nothing (/dev/null) or these bytes.
  std::optional<std::string> input;
  bool capture_out = true;  // false: /dev/null
  bool capture_err = true;  // false: the test's own error stream
  // Where the streams not captured go instead (appended); empty: stdout to
  // /dev/null, stderr to the test's own.
  std::string log_file;
  std::chrono::milliseconds timeout = std::chrono::seconds(60);
  long long file_size_limit = -1;            // RLIMIT_FSIZE, SIGXFSZ ignored
  bool without_permission_override = false;  // root loses CAP_DAC_*
  bool with_terminal = false;  // a pseudo-terminal as controlling terminal
  std::optional<std::pair<uid_t, gid_t>> user;  // run as this user
  // Further limits, soft and hard alike, set after the user change (so
  // that RLIMIT_NPROC counts the new user's processes).
  std::vector<std::pair<int, rlim_t>> limits;
  // The test's descriptors as the child's: {child's number, test's fd};
  // applied after the streams above, so they may replace them.
  std::vector<std::pair<int, int>> descriptors;
  int parent_death_signal = SIGKILL;  // sent to the child when the test ends
};

struct ProcessResult {
  bool started = false;
  int status = -1;  // exit status; -1 when killed, timed out or never started
  int signal = 0;   // the signal that ended it
  bool timed_out = false;
  std::string out, err;
};

// A running child in a process group of its own, killed with the group and
// reaped when the object goes.
class Process {
 public:
  explicit Process(const ProcessSpec& request);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Reads the captured streams until one of them holds `text`; false if the
  // streams end or `limit` passes first.
  bool wait_for_output(const std::string& text, std::chrono::milliseconds limit);
  // The exit status once the child has ended within `limit` (-1 for a
  // signal); nullopt while it runs. Captured output keeps being read.
  std::optional<int> wait(std::chrono::milliseconds limit);
  bool running() { return started() && !wait(std::chrono::milliseconds(0)); }
  // Sends `signal` to the child and everything it started.
  void kill(int signal);
  // What the child wrote so far to the captured streams.
  const std::string& out() const { return result_.out; }
  const std::string& err() const { return result_.err; }
  // Waits up to the request's time limit (from the start), kills the child
  // after it, and hands over everything it wrote.
  ProcessResult finish();

 private:
  bool pump(std::chrono::steady_clock::time_point until);
  bool reap(bool block);
  void close_pipes();

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1, in_ = -1, terminal_ = -1;
  std::string input_;
  size_t input_sent_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  ProcessResult result_;
  bool reaped_ = false;
};

// Runs the program to its end (or its time limit).
ProcessResult run_process(const ProcessSpec& request);
// Shorthand: argv only, output captured, ten seconds.
ProcessResult run_process(const std::vector<std::string>& argv,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Whether a program of that name is in PATH.
bool have_program(const std::string& name);
// The unprivileged account ("nobody") to drop to; nullopt when there is none.
std::optional<std::pair<uid_t, gid_t>> unprivileged_user();

}  // namespace mpo::test
