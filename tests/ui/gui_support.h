// Support for the window tests: a private X server per test process, the
// toolkit started on it, the program under test in the background, and X
// helpers (finding windows by title, input through xdotool, close
// requests, screenshots).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace mpo::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The X display for this process: a private Xvfb (so that tests running at
// the same time do not take each other's clicks, whatever other X servers
// run on the machine), started on first use. Without Xvfb an existing
// DISPLAY is used; without either the window tests are skipped.
bool display_ready();
// Why the private server could not start; empty when it runs or when
// there is no Xvfb to start.
const std::string& display_error();
// display_ready() and wxWidgets started on that display.
bool toolkit_ready();

// Fails the current test when the private server could not start; skips
// it when there is no display at all (or no toolkit).
#define MPO_REQUIRE_DISPLAY()                                              \
  do {                                                                     \
    if (!::mpo::test::display_ready()) {                                   \
      if (!::mpo::test::display_error().empty())                           \
        GTEST_FAIL() << ::mpo::test::display_error();                      \
      GTEST_SKIP() << "no X server";                                       \
    }                                                                      \
  } while (0)
#define MPO_REQUIRE_TOOLKIT()                                              \
  do {                                                                     \
    MPO_REQUIRE_DISPLAY();                                                 \
    if (!::mpo::test::toolkit_ready()) GTEST_FAIL() << "toolkit not started"; \
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

// A program under test in the background (output not captured), killed
// when the object goes if it is still running.
class Child : public Process {
 public:
  Child(const std::vector<std::string>& argv, const std::string& working_dir);
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
