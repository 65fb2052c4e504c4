// Helpers of the hostile-input tests: temporary trees with a private
// temporary and working folder, the command-line program run in a child
// process (with a file-size limit, without root's permission override, with
// a time limit), crafted JPEG streams, and the checks every test makes:
// the MPOs unchanged, nothing but outputs in the tree, every composite a
// complete JPEG, nothing left in the temporary or working folder.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "../app/test_support.h"
#include "tools/mpogen/jpeg_stream.h"
#include "tools/mpogen/mpogen.h"

extern char** environ;

namespace hostile {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using mpo::test::read_bytes;
using mpo::test::write_bytes;

inline const std::string kCli = MPO_BINARY_DIR "/cli/mpo-convert-cli";

inline const std::vector<std::string> kOutputSuffixes = mpo::test::output_suffixes();
inline const std::string kSbsFailed =
    mpo::test::cli_line(mpo::texts::kErrorInfoTitle, mpo::texts::kSbsFailed);
inline const std::string kSbshFailed =
    mpo::test::cli_line(mpo::texts::kErrorInfoTitle, mpo::texts::kSbshFailed);
inline const std::string kOuhFailed =
    mpo::test::cli_line(mpo::texts::kErrorInfoTitle, mpo::texts::kOuhFailed);
inline const std::string kExifFailed =
    mpo::test::cli_line(mpo::texts::kErrorInfoTitle, mpo::texts::kExifFailed);

// ---------------------------------------------------------------- trees

// root/tree (converted), root/tmp (TMPDIR of the run), root/cwd (its working
// folder) and root/outside (files the run must never touch).
class Scene {
 public:
  Scene() {
    for (const fs::path& p : {tree(), tmp(), cwd(), outside()}) fs::create_directories(p);
  }
  ~Scene() {
    // Give back every permission a test took away, so that all can go.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_.path(), ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::path root() const { return root_.path(); }
  fs::path tree() const { return root_.path() / "tree"; }
  fs::path tmp() const { return root_.path() / "tmp"; }
  fs::path cwd() const { return root_.path() / "cwd"; }
  fs::path outside() const { return root_.path() / "outside"; }

 private:
  mpo::test::TempDir root_;
};

inline Bytes generated(uint32_t seed, int w = 96, int h = 64,
                       mpogen::Variant v = mpogen::Variant::camera) {
  mpogen::Options o;
  o.width = w, o.height = h, o.seed = seed, o.variant = v;
  return mpogen::make_mpo(o).bytes;
}

// Every regular file below `dir` (links not followed) with its bytes.
inline std::map<fs::path, Bytes> files_below(const fs::path& dir) {
  std::map<fs::path, Bytes> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) out[it->path()] = read_bytes(it->path());
  }
  return out;
}

// The MPOs (any letter case of the extension) and their bytes.
inline std::map<fs::path, Bytes> mpos_below(const fs::path& dir) {
  std::map<fs::path, Bytes> out;
  for (auto& [p, b] : files_below(dir)) {
    std::string ext = p.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".mpo") out[p] = b;
  }
  return out;
}

inline std::string base_of(const fs::path& mpo) {
  const std::string s = mpo.string();
  return s.substr(0, s.size() - 4);
}

// ---------------------------------------------------------------- JPEG checks

// True when the file decodes to its last row without a single warning:
// djpeg's exit status, or libjpeg in this process where djpeg is missing.
inline bool decodes_completely(const fs::path& file) {
  static const bool have_djpeg = std::system("command -v djpeg >/dev/null 2>&1") == 0;
  if (have_djpeg) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string path = file.string();
    char* argv[] = {const_cast<char*>("djpeg"), const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "djpeg", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  const Bytes data = read_bytes(file);
  if (data.empty()) return false;
  struct Checker {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    jmp_buf jump;
  };
  auto c = std::make_unique<Checker>();
  c->cinfo.err = jpeg_std_error(&c->err);
  c->err.error_exit = [](j_common_ptr ci) { longjmp(*static_cast<jmp_buf*>(ci->client_data), 1); };
  c->err.output_message = [](j_common_ptr) {};
  c->cinfo.client_data = &c->jump;
  if (setjmp(c->jump) != 0) {
    jpeg_destroy_decompress(&c->cinfo);
    return false;
  }
  jpeg_create_decompress(&c->cinfo);
  jpeg_mem_src(&c->cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&c->cinfo, TRUE);
  jpeg_start_decompress(&c->cinfo);
  std::vector<JSAMPLE> row(static_cast<size_t>(c->cinfo.output_width) * c->cinfo.output_components);
  while (c->cinfo.output_scanline < c->cinfo.output_height) {
    JSAMPROW r = row.data();
    jpeg_read_scanlines(&c->cinfo, &r, 1);
  }
  jpeg_finish_decompress(&c->cinfo);
  const bool clean = c->err.num_warnings == 0;
  jpeg_destroy_decompress(&c->cinfo);
  return clean;
}

struct Size {
  long width = 0, height = 0;
  bool operator==(const Size&) const = default;
  friend std::ostream& operator<<(std::ostream& os, const Size& s) {
    return os << s.width << "x" << s.height;
  }
};

// The frame size from a JPEG file's header, walking its segments; 0 x 0
// when it has none.
inline Size jpeg_size(const fs::path& file) {
  const Bytes b = read_bytes(file);
  size_t at = 2;
  while (at + 9 < b.size() && b[at] == 0xFF) {
    const uint8_t m = b[at + 1];
    if (m == 0xC0 || m == 0xC1 || m == 0xC2)
      return {(b[at + 7] << 8) | b[at + 8], (b[at + 5] << 8) | b[at + 6]};
    if (m == 0xDA) break;
    at += 2 + ((size_t(b[at + 2]) << 8) | b[at + 3]);
  }
  return {};
}

// ---------------------------------------------------------------- the checks

// What a run may leave in the tree: the MPOs as they were and their outputs;
// halves that are byte-exact pieces of their MPO; composites that decode
// completely. Returns the outputs found, by MPO.
inline std::map<fs::path, std::set<std::string>> check_tree(
    const fs::path& tree, const std::map<fs::path, Bytes>& mpos_before,
    const std::set<fs::path>& others_allowed = {}) {
  std::map<fs::path, std::set<std::string>> outputs;
  std::map<std::string, fs::path> output_names;
  for (const auto& [mpo, bytes] : mpos_before) {
    for (const std::string& suffix : kOutputSuffixes) output_names[base_of(mpo) + suffix] = mpo;
  }
  for (const auto& [path, bytes] : files_below(tree)) {
    if (auto it = mpos_before.find(path); it != mpos_before.end()) {
      EXPECT_TRUE(bytes == it->second) << "MPO changed: " << path;
      continue;
    }
    if (others_allowed.count(path) != 0) continue;
    auto out = output_names.find(path.string());
    if (out == output_names.end()) {
      ADD_FAILURE() << "unexpected file in the tree: " << path;
      continue;
    }
    const std::string suffix = path.string().substr(base_of(out->second).size());
    outputs[out->second].insert(suffix);
    const Bytes& mpo = mpos_before.at(out->second);
    if (suffix == "_L.jpg") {
      EXPECT_TRUE(bytes.size() < mpo.size() && std::equal(bytes.begin(), bytes.end(), mpo.begin()))
          << "left half is not the MPO's start: " << path;
    } else if (suffix == "_R.jpg") {
      EXPECT_TRUE(bytes.size() < mpo.size() &&
                  std::equal(bytes.begin(), bytes.end(), mpo.end() - static_cast<long>(bytes.size())))
          << "right half is not the MPO's end: " << path;
    } else {
      EXPECT_TRUE(decodes_completely(path)) << "incomplete JPEG left behind: " << path;
    }
  }
  for (const auto& [mpo, bytes] : mpos_before) {
    EXPECT_TRUE(fs::exists(mpo)) << "MPO lost: " << mpo;
    const auto o = outputs.find(mpo);
    if (o != outputs.end() && o->second.count("_L.jpg") && o->second.count("_R.jpg")) {
      EXPECT_EQ(read_bytes(base_of(mpo) + "_L.jpg").size() + read_bytes(base_of(mpo) + "_R.jpg").size(),
                bytes.size())
          << "halves do not make up the MPO: " << mpo;
    }
  }
  return outputs;
}

inline void expect_empty(const fs::path& dir) {
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
  EXPECT_TRUE(left.empty()) << dir << " holds " << ::testing::PrintToString(left);
}

// ---------------------------------------------------------------- the CLI

struct CliRun {
  std::vector<std::string> args;
  const Scene* scene = nullptr;  // TMPDIR = scene->tmp(), cwd = scene->cwd()
  long long file_size_limit = -1;   // RLIMIT_FSIZE, with SIGXFSZ ignored
  bool without_permission_override = false;  // root loses CAP_DAC_*
  bool with_terminal = false;  // a pseudo-terminal as controlling terminal
  int timeout_seconds = 60;
};

struct CliResult {
  int status = -1;  // exit status; -1 killed by a signal
  bool timed_out = false;
  std::string err;
  // The error stream split per entry: the lines before each "[k/n] base".
  std::map<std::string, std::vector<std::string>> by_entry() const {
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
};

// Root ignores permission bits; a child that drops CAP_DAC_OVERRIDE and
// CAP_DAC_READ_SEARCH from its bounding set before exec does not.
inline bool drop_permission_override() {
  if (geteuid() != 0) return true;
  return prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) == 0 &&
         prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) == 0;
}

inline CliResult run_cli(const CliRun& run) {
  CliResult result;
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "TMPDIR=", 7) != 0) env_strings.emplace_back(*e);
  }
  env_strings.push_back("TMPDIR=" + run.scene->tmp().string());
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> arg_strings{kCli};
  arg_strings.insert(arg_strings.end(), run.args.begin(), run.args.end());
  std::vector<char*> argv;
  for (auto& s : arg_strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  const std::string cwd = run.scene->cwd().string();

  // The terminal's master side stays open here for the whole run, so that
  // the child's terminal neither hangs up nor ever gets input.
  int master = -1;
  std::string terminal;
  if (run.with_terminal) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return result;
    terminal = ptsname(master);
  }
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    if (!terminal.empty() && (setsid() < 0 || open(terminal.c_str(), O_RDWR) < 0)) _exit(125);
    dup2(pipe_fds[1], 2);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    if (run.file_size_limit >= 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(run.file_size_limit),
                         static_cast<rlim_t>(run.file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
    }
    if (run.without_permission_override && !drop_permission_override()) _exit(125);
    if (chdir(cwd.c_str()) != 0) _exit(125);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(run.timeout_seconds);
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p{pipe_fds[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.err.append(buffer, static_cast<size_t>(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (master >= 0) close(master);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Whether a program started without the permission override is really held
// back by permission bits here (it is not, for example, where everything
// runs with full capabilities in a user namespace).
inline bool permissions_hold(const Scene& scene) {
  const fs::path locked = scene.root() / "probe-locked";
  write_bytes(locked, Bytes(1, 0));
  fs::permissions(locked, fs::perms::none);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (!drop_permission_override()) _exit(2);
    execl("/bin/cat", "cat", locked.c_str(), static_cast<char*>(nullptr));
    _exit(2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  fs::remove(locked);
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

// ---------------------------------------------------------------- mounts

// Mounts made by the tests stay private to this process (and its
// children) and vanish with it, whatever happens.
inline bool private_mounts() {
  static const bool ok = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return ok;
}

class Tmpfs {
 public:
  Tmpfs(const fs::path& at, const std::string& size) : at_(at) {
    mounted_ = private_mounts() &&
               mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0755").c_str()) == 0;
  }
  ~Tmpfs() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
  }
  explicit operator bool() const { return mounted_; }

 private:
  fs::path at_;
  bool mounted_ = false;
};

// ---------------------------------------------------------------- crafting

struct JpegRecipe : mpogen::JpegSettings {
  JpegRecipe() { quality = 85; }
  const Bytes* exif = nullptr;  // an Exif segment from its length field on
};

// A JPEG of a gradient pattern, with the Exif segment as its first APP1.
inline Bytes make_jpeg(const JpegRecipe& s) {
  mpogen::JpegSettings settings = s;
  settings.jfif = s.exif == nullptr ? 1 : 0;
  Bytes app1;
  if (s.exif != nullptr) {
    app1.assign(s.exif->begin() + 2, s.exif->end());
    settings.markers.insert(settings.markers.begin(), {JPEG_APP0 + 1, &app1});
  }
  return mpogen::encode_jpeg(settings,
                             mpogen::ramp_samples(s.width, s.height, s.components, 5, 7).data());
}

// A camera-like Exif segment for a half of w x h.
inline Bytes exif_segment(int w, int h) {
  mpogen::Options o;
  o.width = w, o.height = h;
  return mpogen::exif_info(o, 0).segment;
}

// Moves the first APP1 segment to the front, right behind the SOI, as
// cameras write it (libjpeg puts its own Adobe segment of a CMYK image
// first).
inline Bytes exif_first(Bytes b) {
  size_t at = 2;
  while (at + 4 <= b.size() && b[at] == 0xFF && b[at + 1] >= 0xE0 && b[at + 1] <= 0xEF) {
    const size_t length = 2 + ((size_t(b[at + 2]) << 8) | b[at + 3]);
    if (b[at + 1] == 0xE1) {
      const Bytes segment(b.begin() + static_cast<long>(at),
                          b.begin() + static_cast<long>(at + length));
      b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + length));
      b.insert(b.begin() + 2, segment.begin(), segment.end());
      break;
    }
    at += length;
  }
  return b;
}

// Two halves, each with an Exif segment first, one behind the other.
inline Bytes mpo_of(JpegRecipe left, JpegRecipe right) {
  const Bytes le = exif_segment(left.width, left.height);
  const Bytes re = exif_segment(right.width, right.height);
  left.exif = &le;
  right.exif = &re;
  Bytes out = exif_first(make_jpeg(left));
  const Bytes r = exif_first(make_jpeg(right));
  out.insert(out.end(), r.begin(), r.end());
  return out;
}

// Offset of the frame header (SOF0, SOF1 or SOF2) of the JPEG at `begin`.
inline size_t frame_header(const Bytes& b, size_t begin = 0) {
  for (size_t i = begin + 2; i + 9 < b.size(); ++i) {
    if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC1 || b[i + 1] == 0xC2)) return i;
  }
  ADD_FAILURE() << "no frame header";
  return 0;
}

// Overwrites the frame header's precision, height and width.
inline void patch_frame(Bytes& b, size_t begin, int precision, long width, long height) {
  const size_t sof = frame_header(b, begin);
  b[sof + 4] = static_cast<uint8_t>(precision);
  b[sof + 5] = static_cast<uint8_t>(height >> 8);
  b[sof + 6] = static_cast<uint8_t>(height);
  b[sof + 7] = static_cast<uint8_t>(width >> 8);
  b[sof + 8] = static_cast<uint8_t>(width);
}

// Where the second image starts: the last FF D8 FF E1 .. "Exif" signature.
inline size_t second_image(const Bytes& b) {
  for (size_t i = b.size() - 10; i > 0; --i) {
    if (b[i] == 0xFF && b[i + 1] == 0xD8 && b[i + 2] == 0xFF && b[i + 3] == 0xE1 &&
        std::memcmp(&b[i + 6], "Exif", 4) == 0)
      return i;
  }
  ADD_FAILURE() << "no second image";
  return 0;
}

}  // namespace hostile
