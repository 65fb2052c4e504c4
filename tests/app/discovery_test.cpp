#include "app/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "test_support.h"

namespace mpo {
namespace {

using test::fs::path;

// Runs the walk into a list file and returns its raw bytes.
std::string walk(const path& root, const path& list) {
  FileService files;
  EXPECT_TRUE(files.create_file(kListSlot, test::P(list)));
  list_mpo_files(files, test::P(root), u"*", u"mpo", 0);
  files.close_file(kListSlot);
  const auto b = test::read_bytes(list);
  return std::string(b.begin(), b.end());
}

std::vector<std::pair<std::string, std::string>> pairs(const std::string& bytes) {
  std::vector<std::pair<std::string, std::string>> out;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t end = bytes.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
    if (end == std::string::npos) break;
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(lines.size() % 2, 0u);
  for (size_t i = 0; i + 1 < lines.size(); i += 2) out.emplace_back(lines[i], lines[i + 1]);
  return out;
}

TEST(ListMpoFiles, MatchesExtensionInAnyCaseOnly) {
  test::TempDir tmp;
  const path root = tmp.path() / "tree";
  for (const char* name : {"a.MPO", "b.Mpo", "c.mpo", "x.y.mpo", "d.mpo.txt", "e", ".mpo",
                           "f.mpo ", "Käse.mpo"}) {
    test::write_bytes(root / name, {1});
  }
  test::fs::create_directories(root / "z.mpo");  // a directory, entered, not listed
  test::write_bytes(root / "z.mpo" / "inner.mpo", {1});
  test::fs::create_directories(root / "nodot");
  test::write_bytes(root / "nodot" / "deep.mpo", {1});

  const auto got = pairs(walk(root, tmp.path() / "list.txt"));
  std::map<std::string, std::string> m(got.begin(), got.end());
  const std::string r = root.string() + "/";
  const std::map<std::string, std::string> want = {
      {r + "a.MPO", "a"},         {r + "b.Mpo", "b"},
      {r + "c.mpo", "c"},         {r + "x.y.mpo", "x.y"},
      {r + "Käse.mpo", "käse"},   {r + "z.mpo/inner.mpo", "inner"},
      {r + "nodot/deep.mpo", "deep"},
  };
  EXPECT_EQ(m, want);
  EXPECT_EQ(got.size(), want.size());
}

TEST(ListMpoFiles, DepthFirstThreeLevelsAndLinksNotEntered) {
  test::TempDir tmp;
  const path root = tmp.path() / "t";
  test::write_bytes(root / "top.mpo", {1});
  test::write_bytes(root / "l1" / "one.mpo", {1});
  test::write_bytes(root / "l1" / "l2" / "two.mpo", {1});
  test::write_bytes(root / "l1" / "l2" / "l3" / "three.mpo", {1});
  test::write_bytes(root / "l1" / "after.mpo", {1});
  test::fs::create_directory_symlink(root, root / "l1" / "loop");        // a link loop
  test::fs::create_symlink(root / "top.mpo", root / "l1" / "link.mpo");  // a link to a file
  const auto got = pairs(walk(root, tmp.path() / "list.txt"));

  std::vector<std::string> names;
  for (const auto& [p, base] : got) names.push_back(base);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"after", "link", "one", "three", "top", "two"}));
  // A subtree is listed whole before its parent's walk goes on: everything
  // under l1/l2 stands together.
  std::vector<int> in_l2;
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i].first.find("/l2/") != std::string::npos) in_l2.push_back(static_cast<int>(i));
  ASSERT_EQ(in_l2.size(), 2u);
  EXPECT_EQ(in_l2[1] - in_l2[0], 1);
}

TEST(ListMpoFiles, ExactBytesAndEmptyTree) {
  test::TempDir tmp;
  const path root = tmp.path() / "one";
  test::write_bytes(root / "DSCF0001.MPO", {1});
  EXPECT_EQ(walk(root, tmp.path() / "l1.txt"),
            root.string() + "/DSCF0001.MPO\r\ndscf0001\r\n");

  const path empty = tmp.path() / "empty";
  test::fs::create_directories(empty / "sub");
  test::write_bytes(empty / "sub" / "note.txt", {1});
  EXPECT_EQ(walk(empty, tmp.path() / "l2.txt"), "");
  EXPECT_EQ(test::fs::file_size(tmp.path() / "l2.txt"), 0u);
  // A missing directory contributes nothing.
  EXPECT_EQ(walk(tmp.path() / "missing", tmp.path() / "l3.txt"), "");
}

TEST(ListMpoFiles, UnreadableDirectoryIsSkipped) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every directory";
  test::TempDir tmp;
  const path root = tmp.path() / "t";
  test::write_bytes(root / "ok.mpo", {1});
  test::write_bytes(root / "locked" / "hidden.mpo", {1});
  test::fs::permissions(root / "locked", test::fs::perms::none);
  const auto got = pairs(walk(root, tmp.path() / "list.txt"));
  test::fs::permissions(root / "locked", test::fs::perms::owner_all);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].second, "ok");
}

}  // namespace
}  // namespace mpo
