#include "tests/ui/gui_support.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

namespace mpo::test {

namespace fs = std::filesystem;

// The application object of the test process: no command line of its own.
class TestApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

namespace {

std::vector<char*> c_argv(std::vector<std::string>& args) {
  std::vector<char*> out;
  for (std::string& a : args) out.push_back(a.data());
  out.push_back(nullptr);
  return out;
}

// Exit status from a waitpid status word; -1 for a signal.
int exit_code(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

class GuiState {
 public:
  bool display() {
    if (!display_tried_) {
      display_tried_ = true;
      display_ok_ = start_display();
    }
    return display_ok_;
  }

  bool toolkit() {
    if (!display()) return false;
    if (!toolkit_tried_) {
      toolkit_tried_ = true;
      static int argc = 1;
      static char name[] = "ui_tests";
      static char* argv[] = {name, nullptr};
      toolkit_ok_ = wxEntryStart(argc, argv) && wxTheApp->CallOnInit();
    }
    return toolkit_ok_;
  }

  void stop() {
    if (toolkit_ok_) wxEntryCleanup();
    toolkit_ok_ = false;
    if (server_ > 0) {
      kill(server_, SIGTERM);
      int status = 0;
      waitpid(server_, &status, 0);
      server_ = -1;
    }
    if (!home_.empty()) {
      std::error_code ignored;
      fs::remove_all(home_, ignored);
    }
  }

 private:
  bool start_display() {
    const char* outer = getenv("DISPLAY");
    if (outer == nullptr || *outer == '\0') return false;
    // GTK keeps its settings and recent files out of the real home, and
    // stays quiet about the missing session bus.
    std::string pattern = (fs::temp_directory_path() / "mpo-ui-home-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      home_ = pattern;
      setenv("XDG_DATA_HOME", (home_ + "/data").c_str(), 1);
      setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
    }
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GTK_THEME", "Adwaita", 1);
    if (!start_private_server()) {
      std::fprintf(stderr, "no private Xvfb; using DISPLAY=%s\n", outer);
    }
    return true;
  }

  // Xvfb on a free display number; DISPLAY is set to it.
  bool start_private_server() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::vector<std::string> args = {"Xvfb",   "-displayfd", std::to_string(fds[1]), "-screen",
                                      "0",      "1280x1024x24", "-dpi", "96",
                                      "-nolisten", "tcp"};
    std::vector<char*> argv = c_argv(args);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      close(fds[0]);
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, STDERR_FILENO);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    close(fds[1]);
    server_ = pid;
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = Clock::now() + 15s;
    while (Clock::now() < deadline && number.find('\n') == std::string::npos) {
      if (poll(&p, 1, 200) <= 0) continue;
      char buffer[16];
      const ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      number.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
      kill(server_, SIGKILL);
      waitpid(server_, nullptr, 0);
      server_ = -1;
      return false;
    }
    number.resize(number.find('\n'));
    setenv("DISPLAY", (":" + number).c_str(), 1);
    unsetenv("XAUTHORITY");
    return true;
  }

  bool display_tried_ = false;
  bool display_ok_ = false;
  bool toolkit_tried_ = false;
  bool toolkit_ok_ = false;
  pid_t server_ = -1;
  std::string home_;
};

GuiState& state() {
  static GuiState s;
  return s;
}

class GuiEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { state().stop(); }
};

// gtest owns the environment.
[[maybe_unused]] ::testing::Environment* const gui_environment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace

}  // namespace mpo::test

wxIMPLEMENT_APP_NO_MAIN(mpo::test::TestApp);

namespace mpo::test {

namespace {

void on_watchdog(int) {
  static const char message[] = "\nwindow test timed out\n";
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
  _exit(3);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr unsigned kSlowdown = 4;
#else
constexpr unsigned kSlowdown = 1;
#endif

}  // namespace

Watchdog::Watchdog(std::chrono::seconds limit) {
  signal(SIGALRM, on_watchdog);
  alarm(static_cast<unsigned>(limit.count()) * kSlowdown);
}

Watchdog::~Watchdog() { alarm(0); }

bool display_ready() { return state().display(); }
bool toolkit_ready() { return state().toolkit(); }

CommandResult run_command(const std::vector<std::string>& argv_in,
                          std::chrono::milliseconds limit) {
  CommandResult result;
  std::vector<std::string> args = argv_in;
  std::vector<char*> argv = c_argv(args);
  int fds[2];
  if (pipe(fds) != 0) return result;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  const auto deadline = Clock::now() + limit;
  pollfd p{fds[0], POLLIN, 0};
  bool open_pipe = true;
  while (open_pipe && Clock::now() < deadline) {
    if (poll(&p, 1, 50) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) {
      open_pipe = false;
    } else {
      result.out.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fds[0]);
  int status = 0;
  while (Clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      result.status = exit_code(status);
      return result;
    }
    std::this_thread::sleep_for(10ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return result;
}

Child::Child(const std::vector<std::string>& argv_in, const std::string& working_dir) {
  std::vector<std::string> args = argv_in;
  std::vector<char*> argv = c_argv(args);
  const pid_t pid = fork();
  if (pid < 0) return;
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (chdir(working_dir.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  pid_ = pid;
}

Child::~Child() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::optional<int> Child::wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0 || status_) return status_;
  wait_until(
      [this] {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
        status_ = exit_code(status);
        return true;
      },
      limit, 20ms);
  return status_;
}

bool Child::running() { return started() && !wait(0ms); }

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                std::chrono::milliseconds step) {
  const auto deadline = Clock::now() + limit;
  while (true) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(step);
  }
}

std::vector<unsigned long> find_windows(const std::string& title_regex) {
  const CommandResult r =
      run_command({"xdotool", "search", "--onlyvisible", "--name", title_regex}, 5s);
  std::vector<unsigned long> ids;
  std::istringstream lines(r.out);
  unsigned long id = 0;
  while (lines >> id) ids.push_back(id);
  return ids;
}

unsigned long wait_for_window(const std::string& title_regex, std::chrono::milliseconds limit) {
  unsigned long found = 0;
  wait_until(
      [&] {
        const auto ids = find_windows(title_regex);
        if (!ids.empty()) found = ids.front();
        return found != 0;
      },
      limit, 100ms);
  return found;
}

bool window_gone(const std::string& title_regex, std::chrono::milliseconds limit) {
  return wait_until([&] { return find_windows(title_regex).empty(); }, limit, 100ms);
}

void click_at(unsigned long window, int x, int y) {
  const std::string id = std::to_string(window);
  run_command({"xdotool", "mousemove", "--window", id, std::to_string(x), std::to_string(y),
               "click", "1"});
}

void press_keys(unsigned long window, const std::string& keys) {
  run_command({"xdotool", "windowfocus", std::to_string(window), "key", keys});
}

void type_text(unsigned long window, const std::string& text) {
  run_command({"xdotool", "windowfocus", std::to_string(window), "type", "--delay", "15", text},
              30s);
}

bool press_until_gone(const std::string& title_regex, const std::string& keys,
                      std::chrono::milliseconds limit) {
  auto last = Clock::time_point();
  return wait_until(
      [&] {
        const auto ids = find_windows(title_regex);
        if (ids.empty()) return true;
        if (Clock::now() - last > 800ms) {
          press_keys(ids.front(), keys);
          last = Clock::now();
        }
        return false;
      },
      limit, 100ms);
}

bool send_close_request(unsigned long window) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return sent != 0;
}

void screenshot(const std::string& name) {
  const fs::path dir = fs::path(MPO_BINARY_DIR) / "screenshots";
  std::error_code ignored;
  fs::create_directories(dir, ignored);
  run_command({"import", "-window", "root", (dir / (name + ".png")).string()}, 20s);
}

}  // namespace mpo::test
