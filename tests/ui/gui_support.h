// Support for the window tests: a private X server per test process, the
// toolkit started on it, child processes with time limits, and X helpers
// (finding windows by title, input through xdotool, close requests,
// screenshots).
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mpo::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The X display for this process: a private Xvfb (so that tests running at
// the same time do not take each other's clicks), started on first use.
// False when the tests run without a display at all.
bool display_ready();
// display_ready() and wxWidgets started on that display.
bool toolkit_ready();

// Skips the current test when there is no display (or no toolkit).
#define MPO_REQUIRE_DISPLAY()                                        \
  do {                                                               \
    if (!::mpo::test::display_ready()) GTEST_SKIP() << "no DISPLAY"; \
  } while (0)
#define MPO_REQUIRE_TOOLKIT()                                                    \
  do {                                                                           \
    if (!::mpo::test::toolkit_ready()) GTEST_SKIP() << "no DISPLAY or toolkit"; \
  } while (0)

// Ends the test process if it is still alive after `limit` (scaled up in
// sanitizer builds), so that a window nobody closes cannot hang the run.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
};

struct CommandResult {
  int status = -1;  // exit code; -1 when it did not end in time or could not start
  std::string out;  // standard output
};

// Runs argv[0] (looked up in PATH) and waits at most `limit`.
CommandResult run_command(const std::vector<std::string>& argv,
                          std::chrono::milliseconds limit = 10s);

// A child process, killed when the object goes if it is still running.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::string& working_dir);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  // The exit code once the child has ended within `limit`; nullopt if not.
  std::optional<int> wait(std::chrono::milliseconds limit);
  bool running();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Polls `condition` until it holds or `limit` has passed.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                std::chrono::milliseconds step = 50ms);

// Visible windows whose title matches the regular expression.
std::vector<unsigned long> find_windows(const std::string& title_regex);
// The first visible window with that title, waiting at most `limit`; 0 if none.
unsigned long wait_for_window(const std::string& title_regex, std::chrono::milliseconds limit);
bool window_gone(const std::string& title_regex, std::chrono::milliseconds limit);

// Input through xdotool (XTest): the window gets the keyboard focus first.
void click_at(unsigned long window, int x, int y);  // client coordinates
void press_keys(unsigned long window, const std::string& keys);
void type_text(unsigned long window, const std::string& text);
// Presses `keys` on the window with that title until it has gone (a key
// that comes while the toolkit is still busy may be dropped); false if it
// is still there after `limit`.
bool press_until_gone(const std::string& title_regex, const std::string& keys,
                      std::chrono::milliseconds limit = 15s);
// A close request as the window manager sends it (WM_DELETE_WINDOW).
bool send_close_request(unsigned long window);

// Saves the whole screen as <build>/screenshots/<name>.png.
void screenshot(const std::string& name);

}  // namespace mpo::test
