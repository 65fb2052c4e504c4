// The command-line front end: same engine, same files and German texts as
// the desktop program, messages and progress on the error stream.
#pragma once

#include <ostream>

#include "cli/arguments.h"

namespace mpo {

// Prints the help or the version (on `out`) or the usage error and the help
// (on `err`); returns the exit status: 0 for the help and the version, 2
// for a usage error.
int answer_without_run(const ParsedArguments& parsed, std::ostream& out, std::ostream& err);

// Converts every MPO the named paths stand for; returns the exit status: 0
// all outputs written, 1 the batch stopped, an output was not written or a
// named file is no MPO, 2 a named path does not exist (nothing converted).
int run_cli(const CliOptions& options, std::ostream& err, bool terminal);

}  // namespace mpo
