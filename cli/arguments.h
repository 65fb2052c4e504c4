// The command line's arguments: the options of a run, the help, or a usage
// error.
#pragma once

#include <string>
#include <vector>

#include "app/front_end.h"

namespace mpo {

struct CliOptions {
  OptionFlags flags;  // sbs is set when exif is
  bool keep_going = false;
  int jobs = 1;
  std::string path;  // as given: a folder, or a file whose folder is used
};

struct ParsedArguments {
  enum class Kind { run, help, usage_error };
  Kind kind = Kind::run;
  CliOptions options;
  std::string error;  // for a usage error, the German reason
};

// Reads the arguments (without the program name) from left to right; the
// first --help or error decides. Without --jobs, jobs is the number of
// processor cores.
ParsedArguments parse_arguments(const std::vector<std::string>& args);

// The help text, ending in a line break.
const char* usage_text();

}  // namespace mpo
