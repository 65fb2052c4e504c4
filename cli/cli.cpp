#include "cli/cli.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/driver.h"
#include "app/texts.h"
#include "cli/progress.h"
#include "image/image_service.h"
#include "io/files.h"

namespace mpo {

namespace {

// A private list file in the temporary folder: concurrent runs never share
// one, and the batch removes it as soon as it is open for reading.
std::string make_list_file() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mpo-convert-XXXXXX";
  int fd = mkstemp(pattern.data());
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

}  // namespace

int answer_without_run(const ParsedArguments& parsed, std::ostream& out, std::ostream& err) {
  if (parsed.kind == ParsedArguments::Kind::help) {
    out << usage_text();
    return 0;
  }
  err << to_utf8(texts::kErrorTitle) << ": " << parsed.error << "\n\n" << usage_text();
  return 2;
}

int run_cli(const CliOptions& options, std::ostream& err, bool terminal) {
  RunConfig config;
  config.pause_ms = 0;
  config.options = options.flags;
  config.keep_going = options.keep_going;
  config.jobs = options.jobs;
  const std::string path = absolute_path(options.path);
  config.start_path = from_utf8(path);
  if (FileService::file_size(config.start_path) == -1) {
    err << to_utf8(texts::kErrorTitle) << ": " << path << " gibt es nicht\n";
    return 2;
  }

  const std::string list_file = make_list_file();
  if (list_file.empty()) {
    err << to_utf8(texts::kErrorTitle) << ": " << to_utf8(texts::kListNotCreated) << "\n";
    return 1;
  }
  config.list_file = from_utf8(list_file);
  config.remove_list_early = true;

  FileService files;
  ImageService images;
  CliReporter reporter(err, terminal);
  const RunResult result = run_batch(files, images, reporter, config);
  FileService::remove_file(config.list_file);  // in case the run ended before reading it
  return result.exit_status();
}

}  // namespace mpo
