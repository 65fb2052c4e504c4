#include "io/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "io/memory.h"

namespace mpo {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

// Every byte string survives from_utf8 then to_utf8; invalid bytes become
// one raw-byte unit each, valid sequences their UTF-16 form.
TEST(Utf8, DecodingAndRoundTrip) {
  const struct {
    std::string bytes;
    Text text;
  } cases[] = {
      {"A\xC3\xA4\xE2\x82\xAC", u"Aä€"},
      {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", {0xD83D, 0xDE00, 0xDBFF, 0xDFFF}},
      {"\x80", {0xDC80}},                                   // stray continuation
      {"\xC0\xAF", {0xDCC0, 0xDCAF}},                       // overlong
      {"\xED\xA0\x80", {0xDCED, 0xDCA0, 0xDC80}},           // encoded surrogate
      {"\xF4\x90\x80\x80", {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},  // beyond U+10FFFF
      {"ab\xE2\x82", {u'a', u'b', 0xDCE2, 0xDC82}},         // cut at the end
      {"caf\xE9.mpo", {u'c', u'a', u'f', 0xDCE9, u'.', u'm', u'p', u'o'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(from_utf8(c.bytes), c.text);
    EXPECT_EQ(to_utf8(c.text), c.bytes);
  }
  for (int a = 0; a < 256; ++a) {
    for (int b = 0x80; b < 256; ++b) {
      const std::string two = {static_cast<char>(a), static_cast<char>(b)};
      ASSERT_EQ(to_utf8(from_utf8(two)), two);
    }
  }
  // Unpaired surrogates outside the raw-byte range cannot be written as-is.
  EXPECT_EQ(to_utf8(Text{0xD800, u'x', 0xDC41}), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

TEST(TextOps, ClampingOfPositionsAndCounts) {
  EXPECT_EQ(text_left(u"1999_x", 2), u"19");
  EXPECT_EQ(text_left(u"1999_x", -3), u"");
  EXPECT_EQ(text_left(u"1999_x", kMax), u"1999_x");
  EXPECT_EQ(text_right(u"name.MPO", 3), u"MPO");
  EXPECT_EQ(text_right(u"name.MPO", 20), u"name.MPO");
  EXPECT_EQ(text_right(u"name.MPO", kMin), u"");
  EXPECT_EQ(text_mid(u"abc", kMin, 2), u"ab");
  EXPECT_EQ(text_mid(u"abc", 3, kMax), u"c");
  EXPECT_EQ(text_mid(u"abc", 4, 1), u"");
  EXPECT_EQ(text_mid(u"2014_abc", 6, -6), u"");
  EXPECT_EQ(text_mid(Text(u"\U0001F600x"), 3, 1), u"x");  // a pair counts as two units

  EXPECT_EQ(text_find(u"2014_ab_cd", u"_", 1), 5);
  EXPECT_EQ(text_find(u"2014_ab_cd", u"_", 6), 8);
  EXPECT_EQ(text_find(u"a_b", u"_", 3), 0);
  EXPECT_EQ(text_find(u"a_b", u"_", kMin), 2);
  EXPECT_EQ(text_find(u"a_b", u"b", 3), 3);
  EXPECT_EQ(text_find(u"a_b", u"b", kMax), 0);
  EXPECT_EQ(text_find(u"a_b", Text(), 1), 0);
  EXPECT_EQ(text_find(u"Exif", u"EXIF", 1), 0);

  EXPECT_EQ(text_pad_right(u"AB", 10, u" "), u"AB        ");
  EXPECT_EQ(text_pad_right(u"ABCDEFGHIJKL", 10, u"xy"), u"ABCDEFGHIJ");
  EXPECT_EQ(text_pad_right(u"AB", 4, u"xy"), u"ABxx");
  EXPECT_EQ(text_pad_right(u"AB", 10, Text()), u"");
  EXPECT_EQ(text_pad_right(u"AB", -4, u" "), u"");
}

TEST(TextOps, CaseMappingKeepsLength) {
  EXPECT_EQ(text_upper(u"straße_ä"), u"STRAßE_Ä");
  EXPECT_EQ(text_upper(u"äöü azÿ09_×÷"), u"ÄÖÜ AZŸ09_×÷");
  EXPECT_EQ(text_lower(u"ÄÖÜ AZ09_×÷"), u"äöü az09_×÷");
  const Text raw = {0xDCE9, 0xDCC4, 0xD83D, 0xDE00};  // raw bytes and pairs stay
  EXPECT_EQ(text_upper(raw), raw);
  EXPECT_EQ(text_lower(raw), raw);
  // Upper and lower case of every unit that has one map back to each other.
  for (int u = 0; u < 0x10000; ++u) {
    const auto c = static_cast<char16_t>(u);
    if (unit_upper(c) != c && c != 0xB5) {
      ASSERT_EQ(unit_lower(unit_upper(c)), c) << u;
    }
    if (unit_lower(c) != c) {
      ASSERT_EQ(unit_upper(unit_lower(c)), c) << u;
    }
  }
}

TEST(Memory, ZeroFilledAndBounded) {
  MemoryBlock block = memory_allocate(100);
  ASSERT_TRUE(block);
  for (int64_t i = 0; i < 100; ++i) ASSERT_EQ(block.read_byte(i), 0);
  block.write_byte(99, 0x1FF);
  block.write_byte(100, 7);  // outside: ignored
  EXPECT_EQ(block.read_byte(99), 255);
  EXPECT_EQ(block.read_byte(100), 0);
  EXPECT_FALSE(block.contains(50, kMax));  // no overflow in the bounds test
  memory_free(block);
  EXPECT_FALSE(block);
  EXPECT_FALSE(memory_allocate(0));
  EXPECT_FALSE(memory_allocate(-5));
}

}  // namespace
}  // namespace mpo
