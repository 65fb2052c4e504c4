#include "tests/ui/gui_support.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include "tests/support/display.h"
#include "tests/support/temp_dir.h"

namespace mpo::test {

namespace fs = std::filesystem;

// The application object of the test process: no command line of its own.
class TestApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

namespace {

class GuiState {
 public:
  bool display() {
    if (!display_tried_) {
      display_tried_ = true;
      display_ok_ = start_display();
    }
    return display_ok_;
  }
  const std::string& error() const { return error_; }

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
    server_.reset();
    home_.reset();
  }

 private:
  bool start_display() {
    // GTK keeps its settings and recent files out of the real home, and
    // stays quiet about the missing session bus.
    home_ = std::make_unique<TempDir>("mpo-ui-home");
    setenv("XDG_DATA_HOME", home_->path("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", home_->path("config").c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GTK_THEME", "Adwaita", 1);
    if (have_program("Xvfb")) {
      server_ = std::make_unique<XServer>(home_->path("xvfb.log"));
      error_ = server_->error();
      return server_->ok();
    }
    const char* outer = getenv("DISPLAY");
    if (outer == nullptr || *outer == '\0') return false;
    std::fprintf(stderr, "no Xvfb; the tests use DISPLAY=%s\n", outer);
    return true;
  }

  bool display_tried_ = false;
  bool display_ok_ = false;
  bool toolkit_tried_ = false;
  bool toolkit_ok_ = false;
  std::unique_ptr<TempDir> home_;
  std::unique_ptr<XServer> server_;
  std::string error_;
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
const std::string& display_error() { return state().error(); }
bool toolkit_ready() { return state().toolkit(); }

Child::Child(const std::vector<std::string>& argv, const std::string& working_dir)
    : Process([&] {
        ProcessSpec request;
        request.argv = argv;
        request.working_dir = working_dir;
        request.capture_out = false;
        request.capture_err = false;
        return request;
      }()) {}

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
  const ProcessResult r =
      run_process({"xdotool", "search", "--onlyvisible", "--name", title_regex}, 5s);
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
  run_process({"xdotool", "mousemove", "--window", id, std::to_string(x), std::to_string(y),
               "click", "1"});
}

void press_keys(unsigned long window, const std::string& keys) {
  run_process({"xdotool", "windowfocus", std::to_string(window), "key", keys});
}

void type_text(unsigned long window, const std::string& text) {
  run_process({"xdotool", "windowfocus", std::to_string(window), "type", "--delay", "15", text},
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
  run_process({"import", "-window", "root", (dir / (name + ".png")).string()}, 20s);
}

}  // namespace mpo::test
