// Checks on the JPEGs and trees a run leaves behind.
#pragma once

#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>

#include "tests/support/files.h"

namespace mpo::test {

// True when the file decodes to its last row without a single warning:
// djpeg's exit status, or libjpeg in this process where djpeg is missing.
bool decodes_completely(const fs::path& file);

struct Size {
  long width = 0, height = 0;
  bool operator==(const Size&) const = default;
  friend std::ostream& operator<<(std::ostream& os, const Size& s) {
    return os << s.width << "x" << s.height;
  }
};

// The frame size from a JPEG file's header, walking its segments; 0 x 0
// when it has none.
Size jpeg_size(const fs::path& file);

// What a run may leave in the tree: the MPOs as they were and their outputs;
// halves that are byte-exact pieces of their MPO; composites that decode
// completely. Returns the outputs found, by MPO (failures through gtest).
std::map<fs::path, std::set<std::string>> check_tree(
    const fs::path& tree, const std::map<fs::path, Bytes>& mpos_before,
    const std::set<fs::path>& others_allowed = {});

// Fails the test when `dir` holds anything.
void expect_empty(const fs::path& dir);

}  // namespace mpo::test
