// The command-line program run in a child process on a tree of its own:
// a private temporary and working folder, a file-size limit, without
// root's permission override, a controlling terminal, a time limit.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tools/mpogen/mpogen.h"

namespace mpo::test {

extern const std::string kCli;  // <build>/cli/mpo-convert-cli

// root/tree (converted), root/tmp (TMPDIR of the run), root/cwd (its working
// folder) and root/outside (files the run must never touch).
class Scene {
 public:
  Scene();
  fs::path root() const { return root_.path(); }
  fs::path tree() const { return root_.path() / "tree"; }
  fs::path tmp() const { return root_.path() / "tmp"; }
  fs::path cwd() const { return root_.path() / "cwd"; }
  fs::path outside() const { return root_.path() / "outside"; }

 private:
  TempDir root_{"mpo-scene"};
};

// A generated camera MPO (or another variant) of w x h halves.
Bytes generated(uint32_t seed, int w = 96, int h = 64,
                mpogen::Variant v = mpogen::Variant::camera);

struct CliRun {
  std::vector<std::string> args;
  const Scene* scene = nullptr;  // TMPDIR = scene->tmp(), cwd = scene->cwd()
  long long file_size_limit = -1;            // RLIMIT_FSIZE, with SIGXFSZ ignored
  bool without_permission_override = false;  // root loses CAP_DAC_*
  bool with_terminal = false;  // a pseudo-terminal as controlling terminal
  int timeout_seconds = 60;
};

struct CliResult {
  int status = -1;  // exit status; -1 killed by a signal
  bool timed_out = false;
  std::string err;
  // The error stream split per entry: the lines before each "[k/n] base".
  std::map<std::string, std::vector<std::string>> by_entry() const;
};

CliResult run_cli(const CliRun& run);

// An entry's lines without the ones naming one of its outputs (`base`_...:
// reason), which follow every "Fehlerinfo" line on the command line; a
// "Fehlerinfo" line without one fails the test.
std::vector<std::string> headlines(const std::vector<std::string>& lines, const std::string& base);

// Whether a program started without the permission override is really held
// back by permission bits here (it is not, for example, where everything
// runs with full capabilities in a user namespace).
bool permissions_hold(const Scene& scene);

}  // namespace mpo::test
