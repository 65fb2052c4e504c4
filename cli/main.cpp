// mpo-convert-cli: the batch converter without windows.
#include <unistd.h>

#include <iostream>

#include "cli/cli.h"
#include "cli/join.h"
#include "io/interrupts.h"
#include "io/memory_policy.h"
#include "io/standard_streams.h"

int main(int argc, char** argv) {
  // Before anything is opened: a closed descriptor 1 or 2 would otherwise
  // be the number of the first output file.
  mpo::keep_standard_streams_open();
  mpo::install_interrupt_cleanup();
  const std::vector<std::string> args(argv + 1, argv + argc);
  const mpo::ParsedArguments parsed = mpo::parse_arguments(args);
  if (parsed.kind == mpo::ParsedArguments::Kind::join) {
    return mpo::run_join(parsed.join, std::cerr);
  }
  if (parsed.kind != mpo::ParsedArguments::Kind::run) {
    return mpo::answer_without_run(parsed, std::cout, std::cerr);
  }
  mpo::keep_large_blocks_in_heap(parsed.options.jobs);
  return mpo::run_cli(parsed.options, std::cerr, isatty(STDERR_FILENO) != 0);
}
