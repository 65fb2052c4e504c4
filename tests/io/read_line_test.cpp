#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/files.h"
#include "tests/io/temp_dir.h"

namespace mpo {
namespace {

using test::read_bytes;
using test::TempDir;
using test::write_bytes;

class ReadLine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }

  // Every line of a file holding `bytes`, read until end_of_file.
  std::vector<Text> lines_of(const std::string& bytes) {
    write_bytes(dir.path("in"), bytes);
    std::vector<Text> lines;
    if (fs.open_file(0, dir.text("in")) == 0) return lines;
    while (fs.end_of_file(0) == 0 && lines.size() < 1000) lines.push_back(fs.read_line(0));
    fs.close_file(0);
    return lines;
  }

  TempDir dir;
  FileService fs;
};

TEST_F(ReadLine, AllFourTerminators) {
  EXPECT_EQ(lines_of(std::string("a\r\nb\nc\rd\0ef", 12)),
            (std::vector<Text>{u"a", u"b", u"c", u"d", u"ef"}));
  // A CR followed by anything but LF leaves that byte for the next line.
  EXPECT_EQ(lines_of("x\ry\r\r\n\n"), (std::vector<Text>{u"x", u"y", u"", u""}));
  EXPECT_EQ(lines_of("last\r"), (std::vector<Text>{u"last"}));
  EXPECT_EQ(fs.read_line(0), Text());  // slot closed again
}

TEST_F(ReadLine, CrLfSplitAcrossBufferRefill) {
  std::string bytes(4095, 'a');
  bytes += "\r\nnext";
  const auto lines = lines_of(bytes);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], Text(4095, u'a'));
  EXPECT_EQ(lines[1], u"next");
}

TEST_F(ReadLine, MultiByteSequencesAndStrayBytes) {
  // Valid two-, three- and four-byte sequences.
  EXPECT_EQ(lines_of("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\n"),
            (std::vector<Text>{Text(u"ä€\U0001F600")}));
  // A lead byte does not swallow a terminator that follows it.
  EXPECT_EQ(lines_of("\xC3\nab\n\xE9\r\nz\xF6\r\n"),
            (std::vector<Text>{Text{char16_t(0xDCC3)}, u"ab", Text{char16_t(0xDCE9)},
                               Text{u'z', char16_t(0xDCF6)}}));
  // A sequence cut short by the end of the file is dropped.
  EXPECT_EQ(lines_of("ab\xE2\x82"), (std::vector<Text>{u"ab"}));
  EXPECT_EQ(lines_of("\xF0\x9F\x98"), (std::vector<Text>{u""}));
  // Stray continuation bytes and F8..FF stand alone and are kept raw.
  EXPECT_EQ(lines_of("\x80x\xFFy\n"),
            (std::vector<Text>{Text{char16_t(0xDC80), u'x', char16_t(0xDCFF), u'y'}}));
}

TEST_F(ReadLine, VeryLongLineHasNoLimit) {
  std::string line;
  for (int i = 0; i < 150000; ++i) line += static_cast<char>('a' + i % 26);
  line += "\xC3\xBC";  // a sequence at the very end
  const auto lines = lines_of(line + "\r\nshort\r\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], from_utf8(line));
  EXPECT_EQ(lines[1], u"short");
}

// Names that are not valid UTF-8 must survive write_line and read_line
// byte for byte, or the file they name would be lost.
TEST_F(ReadLine, RoundTripOfNamesThroughListFile) {
  const std::vector<std::string> names = {
      "/photos/DSCF0001.MPO", "/fotos/Grüße/straße.mpo", "/\xF0\x9F\x93\xB7/x.mpo",
      "/latin1/caf\xE9.mpo",   "/bad/\xC0\xAF\xED\xA0\x80\xFE.mpo", "",
      // Base names whose last byte is a stray lead byte (Latin-1 letters).
      "caf\xE9", "m\xFCller_gr\xF6", "stra\xDF", "\xE9", "next",
  };
  ASSERT_NE(fs.create_file(0, dir.text("list")), 0);
  for (const auto& n : names) fs.write_line(0, from_utf8(n));
  ASSERT_NE(fs.open_file(0, dir.text("list")), 0);
  for (const auto& n : names) EXPECT_EQ(to_utf8(fs.read_line(0)), n);
  EXPECT_EQ(fs.end_of_file(0), 1);
}

TEST_F(ReadLine, MixedWithBlockReadsAndWrites) {
  ASSERT_NE(fs.create_file(0, dir.text("mix")), 0);
  fs.write_line(0, u"one");
  fs.write_line(0, u"two");
  fs.set_file_position(0, 0);
  EXPECT_EQ(fs.read_line(0), u"one");
  fs.write_block(0, "TWO", 3);  // overwrites at the logical position
  EXPECT_EQ(fs.read_line(0), Text());  // the CR LF after it
  EXPECT_EQ(fs.end_of_file(0), 1);
  ASSERT_EQ(fs.close_file(0), 1);
  EXPECT_EQ(read_bytes(dir.path("mix")), "one\r\nTWO\r\n");
}

}  // namespace
}  // namespace mpo
