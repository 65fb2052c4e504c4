#include "io/descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace mpo {

namespace {

// Largest single request handed to read() or write().
constexpr int64_t kMaxTransfer = int64_t{1} << 30;

}  // namespace

int open_regular(const std::string& path, int flags, mode_t mode) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EEXIST;
    return -1;
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}

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

}  // namespace mpo
