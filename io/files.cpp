#include "io/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <random>
#include <string>
#include <utility>

namespace mpo {

namespace {

// Slot numbers are chosen by callers; a table this large is already far
// beyond any real use and keeps a stray number from exhausting memory.
constexpr int kMaxSlots = 1 << 16;
constexpr int kInitialSlots = 16;
// Largest single request handed to read() or write().
constexpr int64_t kMaxTransfer = int64_t{1} << 30;

// A name that cannot reach the file system unchanged: empty, or with a NUL
// that would cut the C string short and name a different file.
bool usable_name(const Text& name) { return !name.empty() && name.find(u'\0') == Text::npos; }

// Writes everything, retrying on EINTR and after partial writes. Returns the
// number of bytes the file took (less than count on error).
int64_t write_all(int fd, const uint8_t* data, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<size_t>(std::min(count - done, kMaxTransfer));
    const ssize_t n = ::write(fd, data + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

// One read() with EINTR retried; 0 at the end and on error.
int64_t read_once(int fd, uint8_t* data, int64_t count) {
  for (;;) {
    const ssize_t n = ::read(fd, data, static_cast<size_t>(std::min(count, kMaxTransfer)));
    if (n >= 0) return n;
    if (errno != EINTR) return 0;
  }
}

int64_t read_all(int fd, uint8_t* data, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    const int64_t n = read_once(fd, data + done, count - done);
    if (n == 0) break;
    done += n;
  }
  return done;
}

template <class T>
bool claim(std::vector<std::unique_ptr<T>>& table, int slot) {
  if (slot < 0 || slot >= kMaxSlots) return false;
  if (static_cast<size_t>(slot) >= table.size()) table.resize(static_cast<size_t>(slot) + 1);
  table[static_cast<size_t>(slot)].reset();
  return true;
}

template <class T>
T* lookup(const std::vector<std::unique_ptr<T>>& table, int slot) {
  if (slot < 0 || static_cast<size_t>(slot) >= table.size()) return nullptr;
  return table[static_cast<size_t>(slot)].get();
}

}  // namespace

int create_own_file(const std::string& path, int access) {
  if (path.empty()) return -1;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    const bool link = S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink > 1);
    if (link && ::unlink(path.c_str()) != 0) return -1;
    if (!link && !S_ISREG(st.st_mode)) {
      errno = EEXIST;
      return -1;
    }
  }
  // O_NOFOLLOW and O_NONBLOCK keep a link or FIFO that appears meanwhile from
  // redirecting or blocking the open; only a regular file is kept.
  const int fd = ::open(path.c_str(), access | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                        0666);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EEXIST;
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

namespace {

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

}  // namespace

PendingFile PendingFile::start(const std::string& path, int access, bool unnamed) {
  PendingFile pending;
  if (path.empty() || path.back() == '/') {
    errno = EISDIR;
    return pending;
  }
  struct stat st;
  bool replaces_file = false;
  mode_t mode = 0;
  if (::lstat(path.c_str(), &st) == 0) {
    const bool link = S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink > 1);
    if (!link && !S_ISREG(st.st_mode)) {
      errno = EEXIST;
      return pending;
    }
    if (!link) {
      // What could not be overwritten is not replaced either.
      if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return pending;
      replaces_file = true;
      // Set-user and set-group bits are not handed on to a new file.
      mode = st.st_mode & 0777;
    }
  }
  const std::string directory = directory_of(path);
  // An unnamed file vanishes with the process that writes it; file systems
  // without them get a named temporary instead. Giving an unnamed file its
  // name takes /proc (or a privilege), so without /proc it is not used.
  static const bool can_name_unnamed = ::access("/proc/self/fd", X_OK) == 0;
  int fd = -1;
  if (unnamed && can_name_unnamed) fd = ::open(directory.c_str(), O_TMPFILE | access | O_CLOEXEC, 0666);
  std::string temp;
  for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
    temp = temporary_name(directory);
    fd = ::open(temp.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int error = errno;
    if (replaces_file && (error == EACCES || error == EPERM || error == EROFS)) {
      pending.fd_ = create_own_file(path, access);
      pending.in_place_ = pending.fd_ >= 0;
      if (pending.in_place_) pending.path_ = path;
      return pending;
    }
    errno = error;
    return pending;
  }
  if (replaces_file) ::fchmod(fd, mode);
  pending.fd_ = fd;
  pending.path_ = path;
  pending.temp_ = temp;
  return pending;
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      temp_(std::move(other.temp_)),
      in_place_(other.in_place_) {}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    abandon();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    temp_ = std::move(other.temp_);
    in_place_ = other.in_place_;
  }
  return *this;
}

PendingFile::~PendingFile() { abandon(); }

bool PendingFile::commit() {
  if (fd_ < 0) return false;
  const int fd = std::exchange(fd_, -1);
  if (in_place_) {
    if (::close(fd) == 0) return true;
    ::unlink(path_.c_str());
    return false;
  }
  bool ok = true;
  std::string named = temp_;
  if (named.empty()) {
    // An unnamed file gets a temporary name first: linkat cannot replace.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    ok = false;
    for (int attempt = 0; !ok && attempt < 16; ++attempt) {
      named = temporary_name(directory_of(path_));
      ok = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
           ::linkat(fd, "", AT_FDCWD, named.c_str(), AT_EMPTY_PATH) == 0;
      if (!ok && errno != EEXIST) break;
    }
    if (!ok) named.clear();
  }
  // A write error that only shows when closing keeps the file from its name.
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(named.c_str(), path_.c_str()) != 0) ok = false;
  if (!ok && !named.empty()) ::unlink(named.c_str());
  temp_.clear();
  return ok;
}

void PendingFile::abandon() {
  if (fd_ < 0) return;
  ::close(std::exchange(fd_, -1));
  // Overwriting in place has already destroyed what stood there; a partial
  // file is not left in its stead.
  if (in_place_) ::unlink(path_.c_str());
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

// One open file and its buffer. In read state buffer[cursor, filled) is
// read-ahead not yet handed out, so the descriptor's offset lies that many
// bytes beyond the logical position. In write state buffer[0, pending) is
// waiting to be written and the descriptor's offset lies that many bytes
// before the logical position.
struct FileService::OpenFile {
  OpenFile(int descriptor, bool read_only_file) : fd(descriptor), read_only(read_only_file) {}
  explicit OpenFile(PendingFile&& output) : fd(output.fd()), read_only(false) {
    pending_output = std::move(output);
  }
  ~OpenFile() { close(); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  int fd;
  PendingFile pending_output;  // owns fd when the file is an output
  bool read_only;
  bool writing = false;
  bool failed = false;  // some byte meant for the file did not reach it
  int cursor = 0;
  int filled = 0;
  int pending = 0;
  std::array<uint8_t, kBufferSize> buffer{};

  void write_out() {
    if (pending > 0 && write_all(fd, buffer.data(), pending) != pending) failed = true;
    pending = 0;
  }

  // Leaves write state with everything buffered written.
  void flush() {
    if (!writing) return;
    write_out();
    writing = false;
  }

  void drop_read_ahead() { cursor = filled = 0; }

  void enter_write_state() {
    if (writing) return;
    const int unread = filled - cursor;
    drop_read_ahead();
    // Step back over read-ahead so that the write lands where the caller
    // stopped reading. If that fails the write would land elsewhere.
    if (unread > 0 && ::lseek(fd, -static_cast<off_t>(unread), SEEK_CUR) < 0) failed = true;
    writing = true;
  }

  bool refill() {
    cursor = 0;
    filled = static_cast<int>(read_once(fd, buffer.data(), kBufferSize));
    return filled > 0;
  }

  // The next byte (0..255) without consuming it; -1 at the end.
  int peek() {
    flush();
    if (cursor == filled && !refill()) return -1;
    return buffer[static_cast<size_t>(cursor)];
  }

  int get() {
    const int b = peek();
    if (b >= 0) ++cursor;
    return b;
  }

  int64_t read(uint8_t* destination, int64_t count) {
    flush();
    int64_t done = 0;
    while (done < count) {
      if (cursor < filled) {
        const int take = static_cast<int>(std::min<int64_t>(filled - cursor, count - done));
        std::memcpy(destination + done, buffer.data() + cursor, static_cast<size_t>(take));
        cursor += take;
        done += take;
        continue;
      }
      if (count - done >= kBufferSize) {
        done += read_all(fd, destination + done, count - done);
        break;
      }
      if (!refill()) break;
    }
    return done;
  }

  int64_t write(const uint8_t* source, int64_t count) {
    enter_write_state();
    if (pending + count > kBufferSize) write_out();
    if (count >= kBufferSize) {
      const int64_t n = write_all(fd, source, count);
      if (n != count) failed = true;
      return n;
    }
    std::memcpy(buffer.data() + pending, source, static_cast<size_t>(count));
    pending += static_cast<int>(count);
    return count;
  }

  bool close() {
    if (fd < 0) return false;
    flush();
    bool ok = !failed;
    if (pending_output.fd() >= 0) {
      if (ok) {
        ok = pending_output.commit();
      } else {
        pending_output.abandon();
      }
    } else if (::close(fd) != 0) {
      ok = false;
    }
    fd = -1;
    return ok;
  }
};

// One running directory listing. "." and ".." are handed out first (made up
// here, so they come exactly once whatever order readdir uses), then the
// entries readdir gives, filtered by the pattern.
struct FileService::Listing {
  struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  std::unique_ptr<DIR, DirCloser> dir;
  std::string directory;  // ends in '/'
  std::string pattern;    // empty: every entry
  int dots_done = 0;
  std::string name;
  int type = kNoListing;

  bool matches(const char* entry) const {
    return pattern.empty() || ::fnmatch(pattern.c_str(), entry, FNM_CASEFOLD | FNM_NOESCAPE) == 0;
  }

  int link_type(const std::string& path) const {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? kDirectoryLink : kFile;
  }

  int type_of(const dirent& e) const {
    const std::string path = directory + e.d_name;
    switch (e.d_type) {
      case DT_DIR:
        return kDirectory;
      case DT_LNK:
        return link_type(path);
      case DT_UNKNOWN: {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) return kFile;
        if (S_ISDIR(st.st_mode)) return kDirectory;
        if (S_ISLNK(st.st_mode)) return link_type(path);
        return kFile;
      }
      default:
        return kFile;
    }
  }

  bool next() {
    while (dots_done < 2) {
      const char* dot = dots_done == 0 ? "." : "..";
      ++dots_done;
      if (matches(dot)) return present(dot, kDirectory);
    }
    while (dir) {
      const dirent* e = ::readdir(dir.get());
      if (e == nullptr) {
        dir.reset();  // exhausted: give the descriptor back early
        break;
      }
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      if (!matches(e->d_name)) continue;
      return present(e->d_name, type_of(*e));
    }
    name.clear();
    type = kNoListing;
    return false;
  }

  bool present(const char* entry, int entry_type) {
    name = entry;
    type = entry_type;
    return true;
  }
};

FileService::FileService() {
  files_.resize(kInitialSlots);
  listings_.resize(kInitialSlots);
}

FileService::~FileService() = default;

FileService::OpenFile* FileService::file(int slot) const { return lookup(files_, slot); }

FileService::Listing* FileService::listing(int slot) const { return lookup(listings_, slot); }

bool FileService::claim_file_slot(int slot) { return claim(files_, slot); }

bool FileService::claim_listing_slot(int slot) { return claim(listings_, slot); }

int FileService::create_file(int slot, const Text& name) {
  if (!claim_file_slot(slot) || !usable_name(name)) return 0;
  const std::string path = to_utf8(name);
  int fd = create_own_file(path, O_RDWR);
  // A file its owner may write but not read is still overwritten.
  if (fd < 0 && errno == EACCES) fd = create_own_file(path, O_WRONLY);
  if (fd < 0) return 0;
  files_[static_cast<size_t>(slot)] = std::make_unique<OpenFile>(fd, false);
  return 1;
}

int FileService::create_output_file(int slot, const Text& name) {
  if (!claim_file_slot(slot) || !usable_name(name)) return 0;
  const std::string path = to_utf8(name);
  PendingFile output = PendingFile::start(path, O_RDWR);
  if (output.fd() < 0 && errno == EACCES) output = PendingFile::start(path, O_WRONLY);
  if (output.fd() < 0) return 0;
  files_[static_cast<size_t>(slot)] = std::make_unique<OpenFile>(std::move(output));
  return 1;
}

int FileService::open_file(int slot, const Text& name) {
  if (!claim_file_slot(slot) || !usable_name(name)) return 0;
  const std::string path = to_utf8(name);
  // Only regular files: reading a FIFO or a terminal blocks for as long as
  // its other end likes, and opening some devices acts on the device. Such
  // names are not opened at all; O_NONBLOCK keeps one that appears meanwhile
  // from hanging the open (it is cleared again for normal reads).
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return 0;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  files_[static_cast<size_t>(slot)] = std::make_unique<OpenFile>(fd, true);
  return 1;
}

int FileService::close_file(int slot) {
  OpenFile* f = file(slot);
  if (f == nullptr) return 0;
  const bool ok = f->close();
  files_[static_cast<size_t>(slot)].reset();
  return ok ? 1 : 0;
}

void FileService::abandon_file(int slot) {
  OpenFile* f = file(slot);
  if (f == nullptr) return;
  if (f->pending_output.fd() >= 0) {
    f->pending_output.abandon();
    f->fd = -1;
  }
  files_[static_cast<size_t>(slot)].reset();
}

int64_t FileService::file_length(int slot) {
  OpenFile* f = file(slot);
  if (f == nullptr) return -1;
  f->flush();
  struct stat st;
  if (::fstat(f->fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int FileService::read_byte(int slot) {
  OpenFile* f = file(slot);
  if (f == nullptr) return 0;
  const int b = f->get();
  return b < 0 ? 0 : static_cast<int>(static_cast<int8_t>(static_cast<uint8_t>(b)));
}

int64_t FileService::read_block(int slot, void* destination, int64_t count) {
  OpenFile* f = file(slot);
  if (f == nullptr || destination == nullptr || count <= 0) return 0;
  return f->read(static_cast<uint8_t*>(destination), count);
}

int64_t FileService::write_block(int slot, const void* source, int64_t count) {
  OpenFile* f = file(slot);
  if (f == nullptr || f->read_only || source == nullptr || count <= 0) return 0;
  return f->write(static_cast<const uint8_t*>(source), count);
}

void FileService::write_byte(int slot, int64_t value) {
  const auto byte = static_cast<uint8_t>(value & 0xFF);
  write_block(slot, &byte, 1);
}

void FileService::write_line(int slot, const Text& text) {
  std::string bytes = to_utf8(text);
  bytes += "\r\n";
  write_block(slot, bytes.data(), static_cast<int64_t>(bytes.size()));
}

Text FileService::read_line(int slot) {
  OpenFile* f = file(slot);
  if (f == nullptr) return {};
  std::string bytes;
  for (;;) {
    const int b = f->get();
    if (b < 0 || b == 0 || b == '\n') break;
    if (b == '\r') {
      if (f->peek() == '\n') f->get();
      break;
    }
    // A lead byte announces a sequence of 2, 3 or 4 bytes. Only continuation
    // bytes are taken into it: names may hold bytes that are not UTF-8
    // (kept raw by from_utf8), and a stray lead byte near the end of such a
    // name must not swallow the line terminator and merge two lines.
    int length = 1;
    if ((b & 0xE0) == 0xC0) {
      length = 2;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4;
    }
    char sequence[4] = {static_cast<char>(b)};
    int got = 1;
    bool cut = false;
    while (got < length) {
      const int next = f->peek();
      if (next < 0) {
        cut = true;
        break;
      }
      if ((next & 0xC0) != 0x80) break;
      sequence[got++] = static_cast<char>(f->get());
    }
    if (cut) break;  // a sequence cut short by the end of the file is dropped
    bytes.append(sequence, static_cast<size_t>(got));
  }
  return from_utf8(bytes);
}

void FileService::set_file_position(int slot, int64_t position) {
  OpenFile* f = file(slot);
  if (f == nullptr) return;
  f->flush();
  // A negative position is refused and leaves the position where it was.
  if (position < 0) return;
  f->drop_read_ahead();
  ::lseek(f->fd, static_cast<off_t>(position), SEEK_SET);
}

int FileService::end_of_file(int slot) {
  OpenFile* f = file(slot);
  if (f == nullptr) return 0;
  return f->peek() < 0 ? 1 : 0;
}

bool FileService::write_failed(int slot) const {
  const OpenFile* f = file(slot);
  return f != nullptr && f->failed;
}

int64_t FileService::file_size(const Text& name) {
  if (!usable_name(name)) return -1;
  std::string path = to_utf8(name);
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  if (path.empty()) path = "/";  // nothing but separators: the root
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  if (S_ISDIR(st.st_mode)) return -2;
  return static_cast<int64_t>(st.st_size);
}

int FileService::remove_file(const Text& name) {
  if (!usable_name(name)) return 0;
  return ::unlink(to_utf8(name).c_str()) == 0 ? 1 : 0;
}

int FileService::examine_directory(int slot, const Text& path, const Text& pattern) {
  if (!claim_listing_slot(slot) || path.find(u'\0') != Text::npos ||
      pattern.find(u'\0') != Text::npos) {
    return 0;
  }
  // Join as one search path, then split at its last '/': a pattern may
  // itself name a subdirectory.
  std::string full = to_utf8(path);
  const std::string pat = pattern.empty() ? std::string("*.*") : to_utf8(pattern);
  if (!full.empty() && full.back() != '/') full += '/';
  full += pat;
  const size_t cut = full.rfind('/');
  std::string directory = cut == std::string::npos ? std::string("./") : full.substr(0, cut + 1);
  std::string mask = cut == std::string::npos ? full : full.substr(cut + 1);
  if (mask == "*.*" || mask == "*") mask.clear();

  DIR* d = ::opendir(directory.c_str());
  if (d == nullptr) return 0;
  auto l = std::make_unique<Listing>();
  l->dir.reset(d);
  l->directory = std::move(directory);
  l->pattern = std::move(mask);
  listings_[static_cast<size_t>(slot)] = std::move(l);
  return 1;
}

int FileService::next_directory_entry(int slot) {
  Listing* l = listing(slot);
  return l != nullptr && l->next() ? 1 : 0;
}

int FileService::directory_entry_type(int slot) {
  const Listing* l = listing(slot);
  return l == nullptr ? kNoListing : l->type;
}

Text FileService::directory_entry_name(int slot) {
  const Listing* l = listing(slot);
  return l == nullptr ? Text() : from_utf8(l->name);
}

}  // namespace mpo
