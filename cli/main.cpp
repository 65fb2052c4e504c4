// mpo-convert-cli: the batch converter without windows.
#include <unistd.h>

#include <iostream>

#include "cli/cli.h"
#include "io/memory_policy.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const mpo::ParsedArguments parsed = mpo::parse_arguments(args);
  if (parsed.kind != mpo::ParsedArguments::Kind::run) {
    return mpo::answer_without_run(parsed, std::cout, std::cerr);
  }
  mpo::keep_large_blocks_in_heap(parsed.options.jobs);
  return mpo::run_cli(parsed.options, std::cerr, isatty(STDERR_FILENO) != 0);
}
