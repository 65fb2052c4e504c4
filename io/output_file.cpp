#include "io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>
#include <utility>

#include "io/descriptor.h"
#include "io/interrupts.h"

namespace mpo {

namespace {

// A name that leads to another file as well: a symbolic link, or a regular
// file with a second hard link. Writing through it would change that file.
bool shared_name(const struct stat& st) {
  return S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink > 1);
}

// A fresh name for a temporary file in `directory`: hidden, short enough
// for any file system, and with 64 random bits so that runs and workers
// writing into one folder do not meet.
std::string temporary_name(const std::string& directory) {
  thread_local std::mt19937_64 random(std::random_device{}() ^
                                      (static_cast<uint64_t>(::getpid()) << 32) ^
                                      reinterpret_cast<uintptr_t>(&random));
  char name[40];
  std::snprintf(name, sizeof name, ".mpo-convert-%016llx.tmp",
                static_cast<unsigned long long>(random()));
  return directory + name;
}

// The directory part of `path` with its '/', or "./" for a bare name.
std::string directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// A new file in `directory` that has no name yet (where that is possible
// and wanted), else one under a fresh temporary name stored in `temp` and
// recorded for removal on a signal (`record`).
int open_temporary(const std::string& directory, int access, bool unnamed, std::string& temp,
                   int& record) {
  // An unnamed file vanishes with the process that writes it; file systems
  // without them get a named temporary instead. Giving an unnamed file its
  // name takes /proc (or a privilege), so without /proc it is not used.
  static const bool can_name_unnamed = ::access("/proc/self/fd", X_OK) == 0;
  int fd = -1;
  if (unnamed && can_name_unnamed) {
    fd = ::open(directory.c_str(), O_TMPFILE | access | O_CLOEXEC, 0666);
  }
  for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
    temp = temporary_name(directory);
    const TemporaryScope scope;
    fd = ::open(temp.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) record = record_temporary(temp);
    if (fd < 0 && errno != EEXIST) break;
  }
  return fd;
}

// Gives the unnamed file `fd` a fresh temporary name beside `path`, since
// linkat cannot replace a name. The name (recorded as `record`), or empty
// when that failed.
std::string name_unnamed(int fd, const std::string& path, int& record) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string named = temporary_name(directory_of(path));
    const TemporaryScope scope;
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
        ::linkat(fd, "", AT_FDCWD, named.c_str(), AT_EMPTY_PATH) == 0) {
      record = record_temporary(named);
      return named;
    }
    if (errno != EEXIST) break;
  }
  return {};
}

}  // namespace

int create_own_file(const std::string& path, int access) {
  if (path.empty()) return -1;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    const bool link = shared_name(st);
    if (link && ::unlink(path.c_str()) != 0) return -1;
    if (!link && !S_ISREG(st.st_mode)) {
      errno = EEXIST;
      return -1;
    }
  }
  // O_NOFOLLOW keeps a link that appears meanwhile from redirecting the
  // open; only a regular file is kept.
  return open_regular(path, access | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
}

PendingFile PendingFile::start(const std::string& path, int access, bool unnamed) {
  PendingFile pending;
  if (path.empty() || path.back() == '/') {
    errno = EISDIR;
    return pending;
  }
  struct stat st;
  bool replaces_file = false;
  mode_t mode = 0;
  if (::lstat(path.c_str(), &st) == 0 && !shared_name(st)) {
    if (!S_ISREG(st.st_mode)) {
      errno = EEXIST;
      return pending;
    }
    // What could not be overwritten is not replaced either.
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return pending;
    replaces_file = true;
    // Set-user and set-group bits are not handed on to a new file.
    mode = st.st_mode & 0777;
  }
  std::string temp;
  int record = -1;
  const int fd = open_temporary(directory_of(path), access, unnamed, temp, record);
  if (fd < 0) return pending;
  if (replaces_file) ::fchmod(fd, mode);
  pending.fd_ = fd;
  pending.path_ = path;
  pending.temp_ = temp;
  pending.record_ = record;
  return pending;
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      temp_(std::move(other.temp_)),
      record_(std::exchange(other.record_, -1)),
      error_(other.error_) {}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    abandon();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    temp_ = std::move(other.temp_);
    record_ = std::exchange(other.record_, -1);
    error_ = other.error_;
  }
  return *this;
}

PendingFile::~PendingFile() { abandon(); }

bool PendingFile::commit() {
  if (fd_ < 0) return false;
  const int fd = std::exchange(fd_, -1);
  errno = 0;
  const std::string named = temp_.empty() ? name_unnamed(fd, path_, record_) : temp_;
  bool ok = !named.empty();
  if (!ok) error_ = errno;
  // A write error that only shows when closing keeps the file from its name.
  if (::close(fd) != 0 && ok) {
    ok = false;
    error_ = errno;
  }
  if (ok && ::rename(named.c_str(), path_.c_str()) != 0) {
    ok = false;
    error_ = errno;
  }
  if (!ok && !named.empty()) ::unlink(named.c_str());
  forget_temporary(std::exchange(record_, -1));
  temp_.clear();
  return ok;
}

void PendingFile::abandon() {
  if (fd_ < 0) return;
  ::close(std::exchange(fd_, -1));
  if (!temp_.empty()) ::unlink(temp_.c_str());
  forget_temporary(std::exchange(record_, -1));
  temp_.clear();
}

}  // namespace mpo
