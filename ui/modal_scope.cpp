#include "ui/modal_scope.h"

#include <wx/window.h>

namespace mpo {

namespace {

wxTopLevelWindow* foreground_window() {
  for (wxWindow* window : wxTopLevelWindows) {
    auto* top = dynamic_cast<wxTopLevelWindow*>(window);
    if (top != nullptr && top->IsShown() && top->IsActive()) return top;
  }
  return nullptr;
}

}  // namespace

ModalScope::ModalScope() : owner_(foreground_window()) {
  for (wxWindow* window : wxTopLevelWindows) {
    auto* top = dynamic_cast<wxTopLevelWindow*>(window);
    if (top == nullptr || !top->IsShown()) continue;
    Mark mark;
    mark.window = top;
    if (top != owner_ && top->IsEnabled()) {
      top->Disable();
      mark.disabled = true;
    }
    if (top->HasFlag(wxSTAY_ON_TOP)) {
      top->SetWindowStyleFlag(top->GetWindowStyleFlag() & ~wxSTAY_ON_TOP);
      mark.was_on_top = true;
    }
    if (mark.disabled || mark.was_on_top) marks_.push_back(mark);
  }
}

ModalScope::~ModalScope() {
  for (Mark& mark : marks_) {
    wxTopLevelWindow* top = mark.window.get();
    if (top == nullptr) continue;  // closed meanwhile
    if (mark.disabled) top->Enable();
    if (mark.was_on_top) top->SetWindowStyleFlag(top->GetWindowStyleFlag() | wxSTAY_ON_TOP);
  }
}

}  // namespace mpo
