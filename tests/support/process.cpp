#include "tests/support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace mpo::test {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string find_in_path(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate =
        (end == start ? std::string(".") : dirs.substr(start, end - start)) + "/" + name;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return {};
}

// Everything the child needs, made before the fork: after it only
// async-signal-safe calls are allowed (other threads may hold locks).
struct Launch {
  std::string program;
  std::vector<std::string> args, env;
  std::vector<char*> argv, envp;
  std::string terminal;  // the pseudo-terminal's slave side

  explicit Launch(const ProcessSpec& request) : program(find_in_path(request.argv.at(0))), args(request.argv) {
    for (char** e = environ; *e != nullptr && !request.clean_environment; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('='));
      bool replaced = false;
      for (const auto& [n, v] : request.env) replaced = replaced || n == name;
      if (!replaced) env.push_back(entry);
    }
    for (const auto& [n, v] : request.env)
      if (!v.empty()) env.push_back(n + "=" + v);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
  }
};

struct ChildFds {
  int in = -1, out = -1, err = -1, report = -1, log = -1;
  pid_t parent = 0;
};

// Root ignores permission bits; a child that drops CAP_DAC_OVERRIDE and
// CAP_DAC_READ_SEARCH from its bounding set before exec does not.
bool drop_override() {
  if (::geteuid() != 0) return true;
  return ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) == 0 &&
         ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) == 0;
}

[[noreturn]] void fail_in_child(int report) {
  const int error = errno;
  [[maybe_unused]] const ssize_t n = ::write(report, &error, sizeof error);
  ::_exit(127);
}

[[noreturn]] void exec_child(const ProcessSpec& request, const Launch& launch, const ChildFds& fds) {
  ::prctl(PR_SET_PDEATHSIG, request.parent_death_signal);
  if (::getppid() != fds.parent) ::_exit(127);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // A group of its own (a session, with a terminal), so that a time limit
  // ends whatever the child started as well.
  if (launch.terminal.empty() ? ::setpgid(0, 0) != 0
                              : ::setsid() < 0 || ::open(launch.terminal.c_str(), O_RDWR) < 0)
    fail_in_child(fds.report);
  const int null = ::open("/dev/null", O_RDWR);
  const int out = fds.out >= 0 ? fds.out : fds.log >= 0 ? fds.log : null;
  const int err = fds.err >= 0 ? fds.err : fds.log;
  if (::dup2(fds.in >= 0 ? fds.in : null, 0) < 0 || ::dup2(out, 1) < 0 ||
      (err >= 0 && ::dup2(err, 2) < 0))
    fail_in_child(fds.report);
  if (request.file_size_limit >= 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(request.file_size_limit),
                       static_cast<rlim_t>(request.file_size_limit)};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) fail_in_child(fds.report);
  }
  if (request.without_permission_override && !drop_override()) fail_in_child(fds.report);
  if (request.user && (::setgroups(0, nullptr) != 0 || ::setgid(request.user->second) != 0 ||
                    ::setuid(request.user->first) != 0))
    fail_in_child(fds.report);
  for (const auto& [resource, value] : request.limits) {
    const rlimit limit{value, value};
    if (::setrlimit(resource, &limit) != 0) fail_in_child(fds.report);
  }
  for (const auto& [target, source] : request.descriptors)
    if (::dup2(source, target) < 0) fail_in_child(fds.report);
  if (!request.working_dir.empty() && ::chdir(request.working_dir.c_str()) != 0) fail_in_child(fds.report);
  ::execve(launch.program.c_str(), launch.argv.data(), launch.envp.data());
  fail_in_child(fds.report);
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

Process::Process(const ProcessSpec& request) : deadline_(Clock::now() + request.timeout) {
  Launch launch(request);
  if (launch.program.empty()) return;
  if (request.with_terminal) {
    terminal_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal_ < 0 || ::grantpt(terminal_) != 0 || ::unlockpt(terminal_) != 0) return;
    launch.terminal = ::ptsname(terminal_);
  }
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, report[2] = {-1, -1};
  if (request.input) {
    // A socket rather than a pipe: a child that stops reading cannot raise
    // SIGPIPE here (send with MSG_NOSIGNAL).
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) return;
    input_ = *request.input;
  }
  int log = request.log_file.empty()
                ? -1
                : ::open(request.log_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const bool ok = (!request.capture_out || ::pipe2(out, O_CLOEXEC) == 0) &&
                  (!request.capture_err || ::pipe2(err, O_CLOEXEC) == 0) &&
                  (request.log_file.empty() || log >= 0) && ::pipe2(report, O_CLOEXEC) == 0;
  const ChildFds fds{in[1], out[1], err[1], report[1], log, ::getpid()};
  const pid_t pid = ok ? ::fork() : -1;
  if (pid == 0) exec_child(request, launch, fds);
  for (int fd : {in[1], out[1], err[1], report[1], log}) close_fd(fd);
  in_ = in[0], out_ = out[0], err_ = err[0];
  if (pid < 0) {
    close_pipes();
    close_fd(report[0]);
    return;
  }
  pid_ = pid;
  int error = 0;
  ssize_t n;
  do n = ::read(report[0], &error, sizeof error);
  while (n < 0 && errno == EINTR);
  close_fd(report[0]);
  if (n > 0) {  // exec failed: the child is gone already
    reap(true);
    close_pipes();
    pid_ = -1;
    return;
  }
  result_.started = true;
  if (in_ >= 0 && input_.empty()) ::shutdown(in_, SHUT_WR);
}

Process::~Process() {
  if (started() && !reaped_) {
    kill(SIGKILL);
    reap(true);
  }
  close_pipes();
}

void Process::close_pipes() {
  close_fd(in_);
  close_fd(out_);
  close_fd(err_);
  close_fd(terminal_);
}

void Process::kill(int signal) {
  if (started() && !reaped_) ::kill(-pid_, signal);
}

bool Process::reap(bool block) {
  if (reaped_) return true;
  int status = 0;
  pid_t got;
  do got = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  while (got < 0 && errno == EINTR);
  if (got != pid_) return false;
  reaped_ = true;
  result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return true;
}

// Moves data between the child's streams and the buffers until `until`, or
// until every stream has ended; false when there is nothing left to move.
bool Process::pump(Clock::time_point until) {
  const bool sending = in_ >= 0 && input_sent_ < input_.size();
  if (out_ < 0 && err_ < 0 && !sending) {
    std::this_thread::sleep_until(std::min(until, Clock::now() + 10ms));
    return false;
  }
  pollfd p[3] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}, {sending ? in_ : -1, POLLOUT, 0}};
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  if (::poll(p, 3, static_cast<int>(std::max<long>(0, left.count()))) <= 0) return true;
  std::string* buffers[2] = {&result_.out, &result_.err};
  int* fds[2] = {&out_, &err_};
  for (int i = 0; i < 2; ++i) {
    if (p[i].revents == 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(*fds[i], chunk, sizeof chunk);
    if (n > 0) buffers[i]->append(chunk, static_cast<size_t>(n));
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) close_fd(*fds[i]);
  }
  if (p[2].revents != 0) {
    const ssize_t n = ::send(in_, input_.data() + input_sent_, input_.size() - input_sent_,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) input_sent_ += static_cast<size_t>(n);
    if (n < 0 && errno != EAGAIN && errno != EINTR) input_sent_ = input_.size();
    if (input_sent_ == input_.size()) ::shutdown(in_, SHUT_WR);
  }
  return true;
}

bool Process::wait_for_output(const std::string& text, std::chrono::milliseconds limit) {
  const auto until = Clock::now() + limit;
  while (true) {
    if (result_.out.find(text) != std::string::npos || result_.err.find(text) != std::string::npos)
      return true;
    if ((out_ < 0 && err_ < 0) || Clock::now() >= until) return false;
    pump(until);
  }
}

std::optional<int> Process::wait(std::chrono::milliseconds limit) {
  if (!started()) return std::nullopt;
  const auto until = Clock::now() + limit;
  while (!reap(false)) {
    if (Clock::now() >= until) return std::nullopt;
    pump(std::min(until, Clock::now() + 20ms));
  }
  return result_.status;
}

ProcessResult Process::finish() {
  if (!started()) return result_;
  if (!wait(std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()))) {
    result_.timed_out = true;
    kill(SIGKILL);
    reap(true);
  }
  // What is still in the pipes; a grandchild holding them gets a second.
  const auto until = Clock::now() + 1s;
  while ((out_ >= 0 || err_ >= 0) && Clock::now() < until) pump(until);
  close_pipes();
  return result_;
}

ProcessResult run_process(const ProcessSpec& request) { return Process(request).finish(); }

ProcessResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  ProcessSpec request;
  request.argv = argv;
  request.timeout = timeout;
  return run_process(request);
}

bool have_program(const std::string& name) { return !find_in_path(name).empty(); }

std::optional<std::pair<uid_t, gid_t>> unprivileged_user() {
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) return std::nullopt;
  return std::make_pair(nobody->pw_uid, nobody->pw_gid);
}

}  // namespace mpo::test
