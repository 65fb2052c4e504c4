// Ownership of the program's top-level windows. A window is hidden and
// deleted at once when its owner lets go: wx's own delayed Destroy() keeps
// the last visible window on screen until the next idle time, which never
// comes while the batch runs.
#pragma once

#include <memory>
#include <utility>

#include <wx/toplevel.h>

namespace mpo {

struct TopLevelDeleter {
  void operator()(wxTopLevelWindow* window) const {
    window->Hide();
    delete window;
  }
};

template <class Window>
using TopLevelPtr = std::unique_ptr<Window, TopLevelDeleter>;

// Must not outlive the toolkit: wx deletes the windows still open when it
// shuts down.
template <class Window, class... Args>
TopLevelPtr<Window> make_top_level(Args&&... args) {
  return TopLevelPtr<Window>(new Window(std::forward<Args>(args)...));
}

}  // namespace mpo
