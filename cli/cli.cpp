#include "cli/cli.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/driver.h"
#include "app/entry_budget.h"
#include "app/report.h"
#include "app/scheduler.h"
#include "io/machine_memory.h"
#include "app/texts.h"
#include "cli/progress.h"
#include "cli/terminal_text.h"
#include "image/image_service.h"
#include "io/files.h"
#include "io/interrupts.h"
#include "render/corrected_halves.h"

namespace mpo {

namespace {

// A private list file in the temporary folder: concurrent runs never share
// one, and the batch removes it as soon as it is open for reading.
std::string make_list_file() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mpo-convert-XXXXXX";
  int fd = make_recorded_temporary(pattern);
  if (fd < 0) return {};
  close(fd);
  return pattern;
}

// The walk works on absolute paths, as the requester gives them.
std::string absolute_path(const std::string& path) {
  if (path[0] == '/') return path;
  std::string cwd(4096, '\0');
  if (getcwd(cwd.data(), cwd.size()) == nullptr) return path;
  cwd.resize(std::char_traits<char>::length(cwd.c_str()));
  return cwd + (cwd.back() == '/' ? "" : "/") + path;
}

void print_error(std::ostream& err, const std::string& text) {
  err << to_utf8(texts::kErrorTitle) << ": " << harmless(text) << "\n";
}

// The run's configuration from the options; false after reporting every
// named path that does not exist.
bool make_config(const CliOptions& options, std::ostream& err, RunConfig& config) {
  config.pause_ms = 0;
  config.options = options.flags;
  config.extras = options.extras;
  config.keep_going = options.keep_going;
  config.jobs = options.jobs;
  // Tests stand in a budget of their own for the machine's memory.
  config.memory_available = memory_available(std::getenv("MPO_CONVERT_TEST_MEMORY"));
  bool all_there = true;
  for (const std::string& given : options.paths) {
    const std::string path = absolute_path(given);
    if (FileService::file_size(from_utf8(path)) == -1) {
      print_error(err, path + " gibt es nicht");
      all_there = false;
    }
    config.paths.push_back(from_utf8(path));
  }
  if (!options.output_dir.empty()) config.output_dir = from_utf8(absolute_path(options.output_dir));
  return all_there;
}

}  // namespace

int answer_without_run(const ParsedArguments& parsed, std::ostream& out, std::ostream& err) {
  if (parsed.kind == ParsedArguments::Kind::help) {
    out << usage_text();
    return 0;
  }
  if (parsed.kind == ParsedArguments::Kind::version) {
    out << version_text();
    return 0;
  }
  err << to_utf8(texts::kErrorTitle) << ": " << harmless(parsed.error) << "\n\n" << usage_text();
  return 2;
}

int run_cli(const CliOptions& options, std::ostream& err, bool terminal) {
  RunConfig config;
  if (!make_config(options, err, config)) return 2;

  const std::string list_file = make_list_file();
  if (list_file.empty()) {
    print_error(err, to_utf8(texts::kListNotCreated));
    return 1;
  }
  config.list_file = from_utf8(list_file);
  config.remove_list_early = true;

  // Each worker keeps to one core, its stereo analysis included: OpenCV's
  // own threads would compete with the other workers for theirs, and
  // --jobs 1 leaves the other cores to the rest of the machine.
  if (options.extras.corrects_stereo()) set_analysis_threads(1);
  StereoReport report;
  if (!options.report.empty()) config.extras.report = &report;

  FileService files;
  ImageService images;
  CliReporter reporter(err, terminal);
  const RunResult result = run_batch(files, images, reporter, config);
  FileService::remove_file(config.list_file);  // in case the run ended before reading it
  if (!options.report.empty() && !report.write(absolute_path(options.report))) {
    print_error(err, to_utf8(texts::kReportFailed) + "\n" + options.report + ": " +
                         std::strerror(errno));
    return 1;
  }
  return result.exit_status();
}

}  // namespace mpo
