// The rules of the options window, kept apart from the toolkit: which option
// flags follow from a sequence of check-box clicks.
#pragma once

#include "app/front_end.h"

namespace mpo {

class OptionsRules {
 public:
  // Check box `box` (1 to 4) was clicked and now shows `ticked`. Other box
  // numbers are ignored.
  void on_box_clicked(int box, bool ticked);

  OptionFlags flags() const { return flags_; }
  // Box 1 as it was last clicked; false until it has been clicked once.
  bool box1_remembered() const { return box1_ticked_; }

 private:
  OptionFlags flags_;
  bool box1_ticked_ = false;
};

}  // namespace mpo
