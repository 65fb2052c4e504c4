// Driving windows of the test process while one of their event loops runs:
// a timer that plays a script of steps, and look-ups of windows by title.
#pragma once

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/timer.h>
#include <wx/toplevel.h>

#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/ui/gui_support.h"

namespace mpo::test {

// Plays its steps from the running event loop, one per tick. A step that
// returns false is tried again at the next tick (for waiting on a window).
// After `limit` the fallback runs once (to close whatever is still open)
// so that a failing test does not hang.
class Script : public wxTimer {
 public:
  using Step = std::function<bool()>;

  Script(std::vector<Step> steps, std::function<void()> fallback,
         std::chrono::milliseconds limit = 20s, int tick_ms = 60)
      : steps_(std::move(steps)), fallback_(std::move(fallback)),
        deadline_(Clock::now() + limit) {
    Start(tick_ms);
  }
  ~Script() override { Stop(); }

  bool finished() const { return next_ == steps_.size(); }
  bool timed_out() const { return timed_out_; }

  void Notify() override {
    if (busy_) return;  // a step is still running a loop of its own
    busy_ = true;
    if (Clock::now() > deadline_ && !timed_out_) {
      timed_out_ = true;
      Stop();
      if (fallback_) fallback_();
    } else if (next_ < steps_.size()) {
      if (steps_[next_]()) ++next_;
    } else {
      Stop();
    }
    busy_ = false;
  }

 private:
  std::vector<Step> steps_;
  std::function<void()> fallback_;
  Clock::time_point deadline_;
  size_t next_ = 0;
  bool busy_ = false;
  bool timed_out_ = false;
};

// Shown top-level windows of this process with exactly this title.
inline std::vector<wxTopLevelWindow*> top_levels_titled(const wxString& title) {
  std::vector<wxTopLevelWindow*> found;
  for (wxWindow* window : wxTopLevelWindows) {
    auto* top = dynamic_cast<wxTopLevelWindow*>(window);
    if (top != nullptr && top->IsShown() && top->GetTitle() == title) found.push_back(top);
  }
  return found;
}

inline wxTopLevelWindow* top_level_titled(const wxString& title) {
  const auto found = top_levels_titled(title);
  return found.empty() ? nullptr : found.front();
}

// The X window of a shown window of this process, by its exact title.
inline unsigned long x_window_titled(const wxString& title) {
  std::string pattern = "^";
  for (const char c : std::string(title.utf8_str())) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  pattern += '$';
  const auto ids = find_windows(pattern);
  return ids.empty() ? 0 : ids.front();
}

// Lets the toolkit handle everything pending for about `time`.
inline void pump_events(std::chrono::milliseconds time) {
  const auto until = Clock::now() + time;
  while (Clock::now() < until) {
    wxTheApp->Yield(true);
    wxMilliSleep(10);
  }
}

}  // namespace mpo::test
