// The option flags that follow from sequences of check-box clicks.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "ui/options_rules.h"

namespace mpo {
namespace {

// Replays clicks (box, state shown after the click) and returns the flags.
OptionFlags after(const std::vector<std::pair<int, bool>>& clicks) {
  OptionsRules rules;
  for (const auto& [box, ticked] : clicks) rules.on_box_clicked(box, ticked);
  return rules.flags();
}

OptionFlags flags(int sbs, int sbsh, int ouh, int exif) { return {sbs, sbsh, ouh, exif}; }

TEST(OptionsRules, NothingClickedGivesAllZero) { EXPECT_EQ(after({}), flags(0, 0, 0, 0)); }

TEST(OptionsRules, BoxFourNeedsBoxOneTickedBeforeIt) {
  // Box 4 alone: the box shows a tick, the flag stays 0.
  EXPECT_EQ(after({{4, true}}), flags(0, 0, 0, 0));
  // Box 1, then box 4.
  EXPECT_EQ(after({{1, true}, {4, true}}), flags(1, 0, 0, 1));
  // Box 4, then box 1: a later tick on box 1 does not revise option 4 ...
  EXPECT_EQ(after({{4, true}, {1, true}}), flags(1, 0, 0, 0));
  // ... until box 4 is unticked and ticked again.
  EXPECT_EQ(after({{4, true}, {1, true}, {4, false}, {4, true}}), flags(1, 0, 0, 1));
  // Box 1 ticked and unticked again before box 4: the remembered state is
  // the last one.
  EXPECT_EQ(after({{1, true}, {1, false}, {4, true}}), flags(0, 0, 0, 0));
}

TEST(OptionsRules, UntickingBoxOneLaterKeepsOptionFour) {
  // The batch then turns option 1 back on for the side-by-side image.
  EXPECT_EQ(after({{1, true}, {4, true}, {1, false}}), flags(0, 0, 0, 1));
}

TEST(OptionsRules, UntickingBoxFourClearsOptionFourWhateverBoxOneShows) {
  EXPECT_EQ(after({{1, true}, {4, true}, {4, false}}), flags(1, 0, 0, 0));
  EXPECT_EQ(after({{4, true}, {4, false}}), flags(0, 0, 0, 0));
  EXPECT_EQ(after({{1, true}, {4, true}, {1, false}, {4, false}}), flags(0, 0, 0, 0));
}

TEST(OptionsRules, BoxesTwoAndThreeAreIndependent) {
  EXPECT_EQ(after({{2, true}}), flags(0, 1, 0, 0));
  EXPECT_EQ(after({{3, true}}), flags(0, 0, 1, 0));
  EXPECT_EQ(after({{2, true}, {3, true}, {2, false}}), flags(0, 0, 1, 0));
  // They neither feed nor disturb the box 1 / box 4 rule.
  EXPECT_EQ(after({{2, true}, {3, true}, {4, true}}), flags(0, 1, 1, 0));
  EXPECT_EQ(after({{1, true}, {2, true}, {3, true}, {4, true}, {2, false}, {3, false}}),
            flags(1, 0, 0, 1));
}

TEST(OptionsRules, RemembersBoxOneAsLastClicked) {
  OptionsRules rules;
  EXPECT_FALSE(rules.box1_remembered());
  rules.on_box_clicked(1, true);
  EXPECT_TRUE(rules.box1_remembered());
  rules.on_box_clicked(4, true);
  rules.on_box_clicked(1, false);
  EXPECT_FALSE(rules.box1_remembered());
  // Clicks that name no box change nothing.
  rules.on_box_clicked(0, true);
  rules.on_box_clicked(5, true);
  EXPECT_EQ(rules.flags(), flags(0, 0, 0, 1));
}

}  // namespace
}  // namespace mpo
