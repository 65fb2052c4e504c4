// The image tests' helpers: libjpeg as the reference, a scratch folder.
#pragma once

#include <unistd.h>

#include <string>

#include "tests/support/files.h"
#include "tests/support/jpeg_reference.h"
#include "tests/support/temp_dir.h"

namespace testjpeg {

using mpo::test::Bytes;
using mpo::test::decode;
using mpo::test::Decoded;
using mpo::test::encode;
using mpo::test::find_marker;
using mpo::test::pattern;
using ScratchDir = mpo::test::TempDir;

inline bool write_file(const std::string& path, const Bytes& bytes) {
  return mpo::test::write_bytes(path, bytes);
}
inline Bytes read_file(const std::string& path) { return mpo::test::read_bytes(path); }
inline bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace testjpeg
