#include "ui/options_rules.h"

namespace mpo {

void OptionsRules::on_box_clicked(int box, bool ticked) {
  const int flag = ticked ? 1 : 0;
  switch (box) {
    case 1:
      box1_ticked_ = ticked;
      flags_.sbs = flag;
      break;
    case 2:
      flags_.sbsh = flag;
      break;
    case 3:
      flags_.ouh = flag;
      break;
    case 4:
      // Option 4 needs option 1, judged from box 1 as last clicked; a later
      // click on box 1 does not revise it.
      flags_.exif = (ticked && box1_ticked_) ? 1 : 0;
      break;
    default:
      break;
  }
}

}  // namespace mpo
