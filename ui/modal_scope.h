// The program's windows while a message box or the file requester is up.
#pragma once

#include <vector>

#include <wx/toplevel.h>
#include <wx/weakref.h>

namespace mpo {

// While alive, every other visible window of the program is disabled and no
// window stays on top; the destructor undoes exactly what the constructor
// changed. The owner (the program's foreground window, if any) is left
// enabled: the modal box itself keeps input away from it.
class ModalScope {
 public:
  ModalScope();
  ~ModalScope();
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

  // The owner for the box; nullptr when none of the program's windows is
  // in the foreground.
  wxTopLevelWindow* owner() const { return owner_; }

 private:
  struct Mark {
    wxWeakRef<wxTopLevelWindow> window;
    bool disabled = false;
    bool was_on_top = false;
  };
  wxTopLevelWindow* owner_ = nullptr;
  std::vector<Mark> marks_;
};

}  // namespace mpo
