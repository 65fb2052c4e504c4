#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "io/files.h"
#include "tests/io/temp_dir.h"

namespace mpo {
namespace {

using test::TempDir;
using test::write_bytes;

// Name -> type of every entry a listing presents; a name presented twice
// is reported by `duplicates`.
struct Entries {
  std::map<Text, int> types;
  int duplicates = 0;
};

Entries list(FileService& fs, int slot) {
  Entries e;
  while (fs.next_directory_entry(slot) != 0 && e.types.size() < 1000) {
    if (!e.types.emplace(fs.directory_entry_name(slot), fs.directory_entry_type(slot)).second) {
      ++e.duplicates;
    }
  }
  return e;
}

class Directories : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    tree = dir.path("tree");
    ASSERT_EQ(::mkdir(tree.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((tree + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((tree + "/z.mpo").c_str(), 0755), 0);
    write_bytes(tree + "/a.mpo", "a");
    write_bytes(tree + "/B.MPO", "b");
    write_bytes(tree + "/noext", "n");
    write_bytes(tree + "/sub/deep.mpo", "d");
    ASSERT_EQ(::symlink("sub", (tree + "/dirlink").c_str()), 0);
    ASSERT_EQ(::symlink("a.mpo", (tree + "/filelink").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (tree + "/dangling").c_str()), 0);
  }

  TempDir dir;
  std::string tree;
  FileService fs;
};

TEST_F(Directories, EmptyDirectoryGivesOnlyDotEntries) {
  ASSERT_EQ(::mkdir(dir.path("empty").c_str(), 0755), 0);
  ASSERT_NE(fs.examine_directory(0, dir.text("empty"), u"*.*"), 0);
  EXPECT_EQ(fs.directory_entry_type(0), FileService::kNoListing);  // nothing current yet
  for (const Text& dots : {Text(u"."), Text(u"..")}) {
    ASSERT_NE(fs.next_directory_entry(0), 0);
    EXPECT_EQ(fs.directory_entry_name(0), dots);
    EXPECT_EQ(fs.directory_entry_type(0), FileService::kDirectory);
  }
  EXPECT_EQ(fs.next_directory_entry(0), 0);
  EXPECT_EQ(fs.next_directory_entry(0), 0);  // stays exhausted
}

TEST_F(Directories, EveryEntryOnceWithItsType) {
  for (const Text& pattern : {Text(u"*.*"), Text(u"*"), Text()}) {
    ASSERT_NE(fs.examine_directory(0, from_utf8(tree), pattern), 0);
    const Entries e = list(fs, 0);
    EXPECT_EQ(e.duplicates, 0);
    const std::map<Text, int> expect = {
        {u".", FileService::kDirectory},        {u"..", FileService::kDirectory},
        {u"sub", FileService::kDirectory},      {u"z.mpo", FileService::kDirectory},
        {u"a.mpo", FileService::kFile},         {u"B.MPO", FileService::kFile},
        {u"noext", FileService::kFile},         {u"dirlink", FileService::kDirectoryLink},
        {u"filelink", FileService::kFile},      {u"dangling", FileService::kFile},
    };
    EXPECT_EQ(e.types, expect);
  }
}

TEST_F(Directories, PatternsMatchIgnoringCase) {
  ASSERT_NE(fs.examine_directory(0, from_utf8(tree + "/"), u"*.mpo"), 0);
  const std::map<Text, int> expect = {{u"a.mpo", FileService::kFile},
                                      {u"B.MPO", FileService::kFile},
                                      {u"z.mpo", FileService::kDirectory}};
  EXPECT_EQ(list(fs, 0).types, expect);
  // A pattern may reach into a subdirectory.
  ASSERT_NE(fs.examine_directory(0, from_utf8(tree), u"sub/*.MPO"), 0);
  EXPECT_EQ(list(fs, 0).types, (std::map<Text, int>{{u"deep.mpo", FileService::kFile}}));
  // Nothing matching is still a successful listing.
  ASSERT_NE(fs.examine_directory(0, from_utf8(tree), u"*.jpg"), 0);
  EXPECT_EQ(fs.next_directory_entry(0), 0);
}

TEST_F(Directories, NestedListingsInSeparateSlotsAndReuse) {
  // As in a walk: the parent listing resumes where it stopped.
  ASSERT_NE(fs.examine_directory(0, from_utf8(tree), u"*.*"), 0);
  int seen = 0, nested = 0;
  while (fs.next_directory_entry(0) != 0) {
    ++seen;
    if (fs.directory_entry_name(0) != u"sub") continue;
    ASSERT_NE(fs.examine_directory(20, from_utf8(tree + "/sub"), Text()), 0);
    nested = static_cast<int>(list(fs, 20).types.size());
  }
  EXPECT_EQ(seen, 10);
  EXPECT_EQ(nested, 3);
  // Reuse starts a fresh listing; an empty path lists the working directory.
  char* saved = ::getcwd(nullptr, 0);
  ASSERT_NE(saved, nullptr);
  ASSERT_EQ(::chdir((tree + "/sub").c_str()), 0);
  const int ok = fs.examine_directory(0, Text(), u"*.*");
  const Entries e = list(fs, 0);
  EXPECT_EQ(::chdir(saved), 0);
  ::free(saved);
  EXPECT_NE(ok, 0);
  EXPECT_EQ(e.types.size(), 3u);
  EXPECT_EQ(e.types.count(u"deep.mpo"), 1u);
}

TEST_F(Directories, FailuresLeaveSlotEmpty) {
  ASSERT_NE(fs.examine_directory(2, from_utf8(tree), u"*.*"), 0);
  EXPECT_EQ(fs.examine_directory(2, from_utf8(tree + "/missing"), u"*.*"), 0);
  EXPECT_EQ(fs.next_directory_entry(2), 0);
  EXPECT_EQ(fs.directory_entry_type(2), FileService::kNoListing);
  EXPECT_EQ(fs.directory_entry_name(2), Text());
  EXPECT_EQ(fs.examine_directory(2, from_utf8(tree + "/a.mpo"), u"*.*"), 0);
  EXPECT_EQ(fs.examine_directory(-1, from_utf8(tree), u"*.*"), 0);
  EXPECT_EQ(fs.next_directory_entry(99), 0);
}

TEST_F(Directories, UnreadableDirectoryFails) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any directory";
  const std::string locked = tree + "/locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0000), 0);
  const int ok = fs.examine_directory(0, from_utf8(locked), u"*.*");
  ::chmod(locked.c_str(), 0755);
  EXPECT_EQ(ok, 0);
}

// A name that is not UTF-8 is listed as raw-byte units and, passed back,
// names the same file.
TEST_F(Directories, NonUtf8NameRoundTrips) {
  ASSERT_EQ(::mkdir(dir.path("raw").c_str(), 0755), 0);
  const std::string raw = "caf\xE9\xFF.mpo";
  write_bytes(dir.path("raw/" + raw), "12345");
  ASSERT_NE(fs.examine_directory(0, dir.text("raw"), u"*.mpo"), 0);
  ASSERT_NE(fs.next_directory_entry(0), 0);
  const Text name = fs.directory_entry_name(0);
  EXPECT_EQ(name, (Text{u'c', u'a', u'f', char16_t(0xDCE9), char16_t(0xDCFF), u'.', u'm', u'p',
                        u'o'}));
  const Text full = dir.text("raw/") + name;
  EXPECT_EQ(FileService::file_size(full), 5);
  ASSERT_NE(fs.open_file(1, full), 0);
  EXPECT_EQ(fs.file_length(1), 5);
}

}  // namespace
}  // namespace mpo
