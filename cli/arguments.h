// The command line's arguments: the options of a run, a join, the help, the
// version, or a usage error.
#pragma once

#include <string>
#include <vector>

#include "app/extra_outputs.h"
#include "app/front_end.h"

namespace mpo {

// The largest --jobs value accepted; the batch starts fewer workers when
// there are fewer entries, cores or memory.
constexpr int kMaxJobs = 256;

struct CliOptions {
  OptionFlags flags;    // sbs is set when exif is
  ExtraOutputs extras;  // detailed_failures is always set
  bool keep_going = false;
  int jobs = 1;
  std::vector<std::string> paths;  // as given: folders and files
  std::string output_dir;          // empty: outputs next to the MPOs
  std::string report;              // --report FILE; empty: no report
};

// --join LEFT RIGHT OUT: two JPEGs into one MPO.
struct JoinRequest {
  std::string left, right, out;
};

struct ParsedArguments {
  enum class Kind { run, join, help, version, usage_error };
  Kind kind = Kind::run;
  CliOptions options;
  JoinRequest join;
  std::string error;  // for a usage error, the German reason
};

// Reads the arguments (without the program name) from left to right; the
// first --help or --version or error decides. Without --jobs, jobs is the
// number of processor cores (at most kMaxJobs).
ParsedArguments parse_arguments(const std::vector<std::string>& args);

// The help text, ending in a line break.
const char* usage_text();

// "mpo-convert-cli <version>" and a line break.
std::string version_text();

}  // namespace mpo
