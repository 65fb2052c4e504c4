#include "tests/support/cli_runs.h"

#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace mpo::test {

const std::string kCli = MPO_BINARY_DIR "/cli/mpo-convert-cli";

Scene::Scene() {
  for (const fs::path& p : {tree(), tmp(), cwd(), outside()}) fs::create_directories(p);
}

Bytes generated(uint32_t seed, int w, int h, mpogen::Variant v) {
  mpogen::Options o;
  o.width = w, o.height = h, o.seed = seed, o.variant = v;
  return mpogen::make_mpo(o).bytes;
}

std::map<std::string, std::vector<std::string>> CliResult::by_entry() const {
  std::map<std::string, std::vector<std::string>> out;
  std::vector<std::string> pending;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    const std::string line = err.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line[0] == '[') {
      const size_t space = line.find("] ");
      if (space != std::string::npos) {
        auto& entry = out[line.substr(space + 2)];
        entry.insert(entry.end(), pending.begin(), pending.end());
        pending.clear();
        continue;
      }
    }
    pending.push_back(line);
  }
  return out;
}

std::vector<std::string> headlines(const std::vector<std::string>& lines, const std::string& base) {
  auto names_output = [&](size_t i) { return i < lines.size() && lines[i].rfind(base + "_", 0) == 0; };
  std::vector<std::string> out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (names_output(i)) continue;
    out.push_back(lines[i]);
    if (lines[i].rfind("Fehlerinfo: ", 0) == 0) {
      EXPECT_TRUE(names_output(i + 1)) << lines[i] << " is not followed by the file and reason";
    }
  }
  return out;
}

CliResult run_cli(const CliRun& run) {
  ProcessSpec request;
  request.argv = {kCli};
  request.argv.insert(request.argv.end(), run.args.begin(), run.args.end());
  request.env = {{"TMPDIR", run.scene->tmp().string()}};
  request.working_dir = run.scene->cwd().string();
  request.capture_out = false;
  request.timeout = std::chrono::seconds(run.timeout_seconds);
  request.file_size_limit = run.file_size_limit;
  request.without_permission_override = run.without_permission_override;
  request.with_terminal = run.with_terminal;
  const ProcessResult r = run_process(request);
  return {r.status, r.timed_out, r.err};
}

bool permissions_hold(const Scene& scene) {
  const fs::path locked = scene.root() / "probe-locked";
  write_bytes(locked, Bytes(1, 0));
  fs::permissions(locked, fs::perms::none);
  ProcessSpec request;
  request.argv = {"/bin/cat", locked.string()};
  request.without_permission_override = true;
  const ProcessResult r = run_process(request);
  fs::remove(locked);
  return r.status == 1;
}

}  // namespace mpo::test
