// File contents and listings for checks on what a run left behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "io/text.h"

namespace mpo::test {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes read_bytes(const fs::path& p);
// Creates the parent folders; false when the file could not be written.
bool write_bytes(const fs::path& p, const Bytes& b);
std::string read_string(const fs::path& p);
bool write_string(const fs::path& p, std::string_view s);

// Every regular file below `dir` (links not followed) with its bytes.
std::map<fs::path, Bytes> files_below(const fs::path& dir);
// The MPOs (any letter case of the extension) and their bytes.
std::map<fs::path, Bytes> mpos_below(const fs::path& dir);
// An MPO's path without its four-letter extension.
std::string base_of(const fs::path& mpo);

// A path as the program's Text.
Text P(const fs::path& p);

}  // namespace mpo::test
