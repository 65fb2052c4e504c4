// The hostile-input tests' vocabulary: trees with a private temporary and
// working folder, the command-line program in a child process with limits,
// crafted JPEG streams, and the checks every test makes (the MPOs
// unchanged, nothing but outputs in the tree, every composite a complete
// JPEG, nothing left in the temporary or working folder).
#pragma once

// The system headers the tests use for their own file-system tricks.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/texts.h"
#include "tests/app/test_support.h"
#include "tests/support/cli_runs.h"
#include "tests/support/crafting.h"
#include "tests/support/files.h"
#include "tests/support/jpeg_checks.h"
#include "tests/support/program_texts.h"
#include "tests/support/tmpfs.h"
#include "tools/mpogen/mpogen.h"

namespace hostile {

namespace fs = std::filesystem;
// Trees, runs, checks, crafting and mounts of the test library.
using namespace mpo::test;

inline const std::vector<std::string> kOutputSuffixes = mpo::test::output_suffixes();
inline const std::string kSbsFailed =
    mpo::test::cli_line(mpo::texts::kErrorInfoTitle, mpo::texts::kSbsFailed);
inline const std::string kSbshFailed =
    mpo::test::cli_line(mpo::texts::kErrorInfoTitle, mpo::texts::kSbshFailed);
inline const std::string kOuhFailed =
    mpo::test::cli_line(mpo::texts::kErrorInfoTitle, mpo::texts::kOuhFailed);
inline const std::string kExifFailed =
    mpo::test::cli_line(mpo::texts::kErrorInfoTitle, mpo::texts::kExifFailed);

}  // namespace hostile
