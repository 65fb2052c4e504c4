// A private temporary directory for one test, and file contents as strings.
#pragma once

#include <string>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace mpo::test {

// As strings: these win over the byte-vector forms for string paths.
inline std::string read_bytes(const std::string& path) { return read_string(path); }
inline std::string read_bytes(const char* path) { return read_string(path); }
inline void write_bytes(const std::string& path, const std::string& bytes) {
  write_string(path, bytes);
}

}  // namespace mpo::test
