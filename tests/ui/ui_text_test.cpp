// Font heights, message text and the requester's filter list.
#include <gtest/gtest.h>

#include "ui/ui_text.h"

namespace mpo {
namespace {

TEST(FontPixelHeight, RoundsHalfAwayFromZero) {
  EXPECT_EQ(font_pixel_height(12, 96), 16);
  EXPECT_EQ(font_pixel_height(14, 96), 19);  // 18.67
  EXPECT_EQ(font_pixel_height(12, 120), 20);
  EXPECT_EQ(font_pixel_height(14, 120), 23);  // 23.33
  EXPECT_EQ(font_pixel_height(3, 12), 1);     // 0.5 rounds up
  EXPECT_EQ(font_pixel_height(-3, 12), -1);   // and away from zero below it
  EXPECT_EQ(font_pixel_height(14, 144), 28);
}

TEST(FontPixelHeight, UnknownResolutionCountsAsNinetySix) {
  EXPECT_EQ(font_pixel_height(12, 0), 16);
  EXPECT_EQ(font_pixel_height(14, -1), 19);
}

TEST(MessageDisplayText, CarriageReturnsBecomeLineBreaks) {
  EXPECT_EQ(message_display_text(u"a\rb\rc"), u"a\nb\nc");
  EXPECT_EQ(message_display_text(u"a\r\nb"), u"a\nb");   // one break, not two
  EXPECT_EQ(message_display_text(u"a\r\r\nb"), u"a\n\nb");
  EXPECT_EQ(message_display_text(u"\ra\r"), u"\na\n");
  EXPECT_EQ(message_display_text(u"a\nb"), u"a\nb");
  EXPECT_EQ(message_display_text(u""), u"");
}

TEST(PatternList, SplitsIntoLabelFilterPairs) {
  const auto entries = parse_pattern_list(u"MPO Dateien (*.mpo)|*.MPO|Alle Dateien (*.*)|*.*");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].label, u"MPO Dateien (*.mpo)");
  EXPECT_EQ(entries[0].filter, u"*.MPO");
  EXPECT_EQ(entries[1].label, u"Alle Dateien (*.*)");
  EXPECT_EQ(entries[1].filter, u"*.*");
  // A label left without its filter is dropped; an empty filter is kept.
  EXPECT_EQ(parse_pattern_list(u"A|*.a|B").size(), 1u);
  EXPECT_EQ(parse_pattern_list(u"A|").size(), 1u);
  EXPECT_TRUE(parse_pattern_list(u"").empty());
  EXPECT_TRUE(parse_pattern_list(u"only a label").empty());
}

TEST(CaseInsensitiveFilter, MatchesWhatTheFileSystemMatchWould) {
  EXPECT_EQ(case_insensitive_filter(u"*.MPO"), u"*.[mM][pP][oO]");
  EXPECT_EQ(case_insensitive_filter(u"*.mpo"), u"*.[mM][pP][oO]");
  // Every file, also those without a dot.
  EXPECT_EQ(case_insensitive_filter(u"*.*"), u"*");
  // Each pattern of a list; wildcards, digits and '.' stay.
  EXPECT_EQ(case_insensitive_filter(u"*.jp?;IMG_0*.*"), u"*.[jJ][pP]?;[iI][mM][gG]_0*.*");
  // A '[' is an ordinary character, not the start of a class.
  EXPECT_EQ(case_insensitive_filter(u"[1].x"), u"[[]1].[xX]");
  EXPECT_EQ(case_insensitive_filter(u"*.ä"), u"*.[äÄ]");
}

TEST(RequesterWildcard, RewritesFiltersButNotLabels) {
  EXPECT_EQ(requester_wildcard(u"MPO Dateien (*.mpo)|*.MPO|Alle Dateien (*.*)|*.*"),
            u"MPO Dateien (*.mpo)|*.[mM][pP][oO]|Alle Dateien (*.*)|*");
  EXPECT_EQ(requester_wildcard(u"A|*.a|B"), u"A|*.[aA]");
  EXPECT_EQ(requester_wildcard(u""), u"");
}

TEST(RequesterFilterIndex, StaysWithinTheList) {
  const Text list = u"A|*.a|B|*.b";
  EXPECT_EQ(requester_filter_index(list, 0), 0);
  EXPECT_EQ(requester_filter_index(list, 1), 1);
  EXPECT_EQ(requester_filter_index(list, 2), 0);
  EXPECT_EQ(requester_filter_index(list, -1), 0);
  EXPECT_EQ(requester_filter_index(u"", 3), 0);
}

TEST(RequesterResult, PathsBeyond259UnitsAreRejected) {
  const Text fits = u"/" + Text(258, u'a');
  EXPECT_EQ(requester_result(fits), fits);
  EXPECT_EQ(requester_result(fits + u"b"), u"");
  // Units, not bytes: 259 two-byte characters still fit.
  const Text umlauts(259, u'ä');
  EXPECT_EQ(requester_result(umlauts), umlauts);
  EXPECT_EQ(requester_result(u""), u"");
}

}  // namespace
}  // namespace mpo
