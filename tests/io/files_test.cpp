#include "io/files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <string>

#include "tests/io/file_size_limit.h"
#include "tests/io/temp_dir.h"

namespace mpo {
namespace {

using test::FileSizeLimit;
using test::read_bytes;
using test::TempDir;
using test::write_bytes;

std::string pattern_bytes(size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
  return s;
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }
  TempDir dir;
  FileService fs;
};

// Random mixes of reads, writes, positioning and length queries against a
// plain in-memory model: the buffer must be invisible to the caller.
TEST_F(Files, MixedOperationsMatchUnbufferedModel) {
  const int sizes[] = {1, 2, 3, 15, 100, 4000, 4095, 4096, 4097, 5000, 9000};
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    const Text name = dir.text("model" + std::to_string(seed));
    ASSERT_NE(fs.create_file(3, name), 0);
    std::string model;
    size_t pos = 0;
    auto pick_size = [&] { return sizes[rng() % std::size(sizes)]; };
    for (int op = 0; op < 2500; ++op) {
      switch (rng() % 8) {
        case 0:
        case 1: {
          const std::string bytes = pattern_bytes(static_cast<size_t>(pick_size()), rng());
          ASSERT_EQ(fs.write_block(3, bytes.data(), static_cast<int64_t>(bytes.size())),
                    static_cast<int64_t>(bytes.size()));
          if (pos + bytes.size() > model.size()) model.resize(pos + bytes.size(), '\0');
          model.replace(pos, bytes.size(), bytes);
          pos += bytes.size();
          break;
        }
        case 2:
        case 3: {
          const size_t n = static_cast<size_t>(pick_size());
          std::string got(n, '\x55');
          const int64_t r = fs.read_block(3, got.data(), static_cast<int64_t>(n));
          const size_t expect = pos < model.size() ? std::min(n, model.size() - pos) : 0;
          ASSERT_EQ(r, static_cast<int64_t>(expect)) << "op " << op;
          ASSERT_EQ(got.substr(0, expect), model.substr(std::min(pos, model.size()), expect));
          pos += expect;
          break;
        }
        case 4: {
          const int b = fs.read_byte(3);
          if (pos < model.size()) {
            ASSERT_EQ(b, static_cast<int>(static_cast<int8_t>(model[pos]))) << "op " << op;
            ++pos;
          } else {
            ASSERT_EQ(b, 0);
          }
          break;
        }
        case 5:
          pos = rng() % (model.size() + 100);
          fs.set_file_position(3, static_cast<int64_t>(pos));
          break;
        case 6:
          ASSERT_EQ(fs.file_length(3), static_cast<int64_t>(model.size())) << "op " << op;
          break;
        case 7:
          ASSERT_EQ(fs.end_of_file(3), pos >= model.size() ? 1 : 0) << "op " << op;
          break;
      }
    }
    ASSERT_EQ(fs.close_file(3), 1);
    ASSERT_EQ(read_bytes(to_utf8(name)), model);
  }
}

TEST_F(Files, ReadByteIsSignedAndEndOfFileDoesNotConsume) {
  write_bytes(dir.path("b"), std::string("\xFF\xD8\x80", 3));
  write_bytes(dir.path("empty"), "");
  ASSERT_NE(fs.open_file(7, dir.text("b")), 0);
  const int hi = fs.read_byte(7);
  EXPECT_EQ(hi, -1);
  EXPECT_EQ((hi & 0xFF) * 256 + (fs.read_byte(7) & 0xFF), 0xFFD8);
  EXPECT_EQ(fs.end_of_file(7), 0);
  EXPECT_EQ(fs.end_of_file(7), 0);
  EXPECT_EQ(fs.read_byte(7), -128);
  EXPECT_EQ(fs.end_of_file(7), 1);
  EXPECT_EQ(fs.read_byte(7), 0);
  ASSERT_NE(fs.open_file(9, dir.text("empty")), 0);
  EXPECT_EQ(fs.end_of_file(9), 1);
}

TEST_F(Files, EmptyAndInvalidSlotsGiveNeutralResults) {
  char buf[4] = {};
  for (int slot : {5, 200, -1, INT_MAX}) {
    SCOPED_TRACE(slot);
    fs.write_line(slot, u"x");
    fs.set_file_position(slot, 3);
    EXPECT_EQ(fs.file_length(slot), -1);
    EXPECT_EQ(fs.read_byte(slot) + fs.read_block(slot, buf, 4) + fs.write_block(slot, "ab", 2) +
                  fs.end_of_file(slot) + fs.close_file(slot),
              0);
    EXPECT_EQ(fs.read_line(slot), Text());
  }
  EXPECT_EQ(fs.create_file(-1, dir.text("neg")), 0);
  ASSERT_NE(fs.create_file(0, dir.text("f")), 0);
  EXPECT_EQ(fs.write_block(0, nullptr, 4) + fs.write_block(0, "ab", 0) +
                fs.write_block(0, "ab", -2) + fs.read_block(0, nullptr, 4),
            0);
  EXPECT_EQ(fs.file_length(0), 0);
}

TEST_F(Files, OpenAndCreateRules) {
  write_bytes(dir.path("r"), "keep");
  ASSERT_NE(fs.open_file(2, dir.text("r")), 0);
  EXPECT_EQ(fs.write_block(2, "XX", 2), 0);  // read-only
  fs.write_line(2, u"Z");
  EXPECT_EQ(fs.close_file(2), 1);
  EXPECT_EQ(read_bytes(dir.path("r")), "keep");
  EXPECT_EQ(fs.open_file(2, dir.text("missing")), 0);
  EXPECT_EQ(fs.open_file(2, from_utf8(dir.root())), 0);
  EXPECT_EQ(fs.create_file(2, from_utf8(dir.root())), 0);
  // A NUL would cut the name short and reach a different file.
  EXPECT_EQ(fs.open_file(2, dir.text("r") + Text(1, u'\0') + u"x"), 0);
  EXPECT_EQ(fs.file_length(2), -1);  // a failed open leaves the slot empty

  ASSERT_NE(fs.create_file(4, dir.text("r")), 0);  // truncates
  EXPECT_EQ(FileService::file_size(dir.text("r")), 0);
  fs.write_block(4, "new", 3);
  ASSERT_EQ(fs.close_file(4), 1);
  EXPECT_EQ(read_bytes(dir.path("r")), "new");
}

TEST_F(Files, CreateFallsBackToWriteOnlyOnUnreadableFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens a write-only file for reading";
  write_bytes(dir.path("wo"), "previous");
  ASSERT_EQ(::chmod(dir.path("wo").c_str(), 0200), 0);
  ASSERT_NE(fs.create_file(4, dir.text("wo")), 0);
  fs.write_block(4, "w", 1);
  ASSERT_EQ(fs.close_file(4), 1);
  ::chmod(dir.path("wo").c_str(), 0600);
  EXPECT_EQ(read_bytes(dir.path("wo")), "w");
}

TEST_F(Files, SlotReuseAndShutdownWriteBufferedData) {
  ASSERT_NE(fs.create_file(1, dir.text("first")), 0);
  fs.write_block(1, "first data", 10);
  ASSERT_NE(fs.create_file(1, dir.text("second")), 0);  // closes "first"
  EXPECT_EQ(read_bytes(dir.path("first")), "first data");
  fs.write_block(1, "2", 1);
  write_bytes(dir.path("r"), "r");
  ASSERT_NE(fs.open_file(1, dir.text("r")), 0);  // closes "second"
  EXPECT_EQ(read_bytes(dir.path("second")), "2");

  // The table grows past its first sixteen slots; slots stay independent.
  {
    FileService local;
    for (int slot : {0, 15, 16, 40}) {
      ASSERT_NE(local.create_file(slot, dir.text("s" + std::to_string(slot))), 0);
      local.write_line(slot, from_utf8("slot " + std::to_string(slot)));
    }
  }  // the destructor writes every buffer out
  for (int slot : {0, 15, 16, 40}) {
    EXPECT_EQ(read_bytes(dir.path("s" + std::to_string(slot))),
              "slot " + std::to_string(slot) + "\r\n");
  }
}

TEST_F(Files, WriteLineIsUtf8WithCrLfAndNoBom) {
  ASSERT_NE(fs.create_file(0, dir.text("lines")), 0);
  fs.write_line(0, Text());
  fs.write_line(0, T("Grüße €"));
  fs.write_line(0, Text(u"\U0001F600"));
  fs.write_line(0, Text{u'a', char16_t(0xDCFF), u'b'});  // a raw byte kept from a name
  ASSERT_EQ(fs.close_file(0), 1);
  EXPECT_EQ(read_bytes(dir.path("lines")),
            "\r\nGr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\r\n\xF0\x9F\x98\x80\r\na\xFF" "b\r\n");
}

TEST_F(Files, FileSizeAndRemove) {
  write_bytes(dir.path("empty"), "");
  write_bytes(dir.path("größe"), "12345");
  ASSERT_EQ(::mkdir(dir.path("sub").c_str(), 0755), 0);
  EXPECT_EQ(FileService::file_size(dir.text("empty")), 0);
  EXPECT_EQ(FileService::file_size(dir.text("größe")), 5);
  EXPECT_EQ(FileService::file_size(dir.text("größe/")), 5);
  EXPECT_EQ(FileService::file_size(dir.text("missing")), -1);
  EXPECT_EQ(FileService::file_size(Text()), -1);
  EXPECT_EQ(FileService::file_size(dir.text("sub")), -2);
  EXPECT_EQ(FileService::file_size(dir.text("sub//")), -2);
  EXPECT_EQ(FileService::file_size(dir.text("sub\\")), -1);  // '\' is part of a name
  EXPECT_EQ(FileService::file_size(u"/"), -2);

  EXPECT_EQ(FileService::remove_file(dir.text("größe")), 1);
  EXPECT_EQ(FileService::file_size(dir.text("größe")), -1);
  EXPECT_EQ(FileService::remove_file(dir.text("größe")), 0);
  EXPECT_EQ(FileService::remove_file(dir.text("sub")), 0);
  EXPECT_EQ(FileService::remove_file(Text()), 0);
  EXPECT_EQ(FileService::file_size(dir.text("sub")), -2);
}

// A failed write makes the close fail, and its system reason stays with the
// slot, also once the slot is closed.
TEST_F(Files, WriteFailuresAreStickyAndKeepTheirReason) {
  const std::string big = pattern_bytes(10000);
  int64_t direct = 0, small = 0, length_after = 0;
  int error_direct = 0, error_before_flush = -1, error_after_flush = 0, error_closed = 0;
  int close_direct = -1, close_buffered = -1, close_fitting = -1;
  {
    FileSizeLimit limit(6000);
    ASSERT_TRUE(limit.active());
    // A direct write cut short by the limit.
    fs.create_file(1, dir.text("direct"));
    direct = fs.write_block(1, big.data(), 10000);
    error_direct = fs.file_error(1);
    close_direct = fs.close_file(1);
    // Small writes sit in the buffer; the failure shows when it is written.
    fs.create_file(2, dir.text("buffered"));
    for (int i = 0; i < 7; ++i) small += fs.write_block(2, big.data(), 1000);
    error_before_flush = fs.file_error(2);
    length_after = fs.file_length(2);
    error_after_flush = fs.file_error(2);
    fs.write_block(2, "x", 1);  // the failure stays
    close_buffered = fs.close_file(2);
    error_closed = fs.file_error(2);
    // A file within the limit closes cleanly.
    fs.create_file(3, dir.text("fits"));
    fs.write_block(3, big.data(), 5000);
    close_fitting = fs.close_file(3);
  }
  EXPECT_EQ(direct, 6000);
  EXPECT_EQ(error_direct, EFBIG);
  EXPECT_EQ(close_direct, 0);
  EXPECT_EQ(small, 7000);
  EXPECT_EQ(error_before_flush, 0);
  EXPECT_EQ(length_after, 6000);
  EXPECT_EQ(error_after_flush, EFBIG);
  EXPECT_EQ(close_buffered, 0);
  EXPECT_EQ(error_closed, EFBIG);
  EXPECT_EQ(close_fitting, 1);
  EXPECT_EQ(fs.file_error(3), 0);
  EXPECT_EQ(read_bytes(dir.path("fits")), big.substr(0, 5000));
}

}  // namespace
}  // namespace mpo
