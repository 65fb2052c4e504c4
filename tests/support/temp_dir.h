// A private temporary folder for one test, removed with everything in it
// (permissions a test took away are given back first).
#pragma once

#include <filesystem>
#include <string>

#include "io/text.h"

namespace mpo::test {

namespace fs = std::filesystem;

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "mpo-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !root_.empty(); }
  const fs::path& path() const { return path_; }
  const std::string& root() const { return root_; }
  std::string str() const { return root_; }
  // `name` below the folder, as a string and as Text.
  std::string path(const std::string& name) const { return root_ + "/" + name; }
  std::string file(const std::string& name) const { return path(name); }
  Text text(const std::string& name) const;

 private:
  fs::path path_;
  std::string root_;
};

}  // namespace mpo::test
