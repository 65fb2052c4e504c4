// mpo-convert-cli: the batch converter without windows.
#include <unistd.h>

#include <iostream>

#include "app/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return mpo::run_cli(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
