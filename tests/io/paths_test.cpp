#include "io/paths.h"

#include <gtest/gtest.h>

namespace mpo {
namespace {

TEST(Paths, PathPart) {
  const std::pair<Text, Text> cases[] = {
      {u"/home/anna/Fotos/DSCF0001.MPO", u"/home/anna/Fotos/"},
      {u"/", u"/"},
      {u"x.mpo", u""},
      // '\', '|' and '"' are ordinary name characters.
      {u"T/d/p\\q.mpo", u"T/d/"},
      {u"T/sub/a|b/x.mpo", u"T/sub/a|b/"},
      {u"\"/fotos/x.mpo\"", u"\"/fotos/"},
      {u"dir\\", u""},
  };
  for (const auto& [path, part] : cases) EXPECT_EQ(path_part(path), part) << to_utf8(path);
}

TEST(Paths, ExtensionPart) {
  const std::pair<Text, Text> cases[] = {
      {u"/fotos/dscf0001.mpo", u"mpo"},
      {u"DSCF0001.MPO", u"MPO"},
      {u"x.y.mpo", u"mpo"},
      {u"my file.mpo", u"mpo"},
      {u"pic.mpo\"bak", u"mpo\"bak"},  // a quote is part of the name
      {u"noext", u""},
      {u"name.", u""},
      {u".mpo", u""},          // dot as first character
      {u"/fotos/.mpo", u""},   // dot right after a separator
      {u"/f/a\\.mpo", u"mpo"},  // '\' is no separator
      {u"/dir.d/file", u""},   // dot in a directory name
      {u"dir.d\\file", u"d\\file"},
      {u"file.mp o", u""},     // a space after the dot
  };
  for (const auto& [path, ext] : cases) EXPECT_EQ(extension_part(path), ext) << to_utf8(path);
}

}  // namespace
}  // namespace mpo
