// Raw file descriptors: opening nothing but regular files, and reads and
// writes that retry after interruptions.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace mpo {

// Opens `path` with `flags` (O_CLOEXEC added) and keeps the descriptor only
// when it is a regular file. O_NONBLOCK during the open keeps a FIFO or
// device that appears at the name meanwhile from hanging it; it is cleared
// again for normal reads and writes. The descriptor, or -1 (errno EEXIST
// when something other than a regular file was opened).
int open_regular(const std::string& path, int flags, mode_t mode = 0);

// Writes everything, retrying on EINTR and after partial writes. Returns the
// number of bytes the file took (less than count on error).
int64_t write_all(int fd, const uint8_t* data, int64_t count);
// One read() with EINTR retried; 0 at the end and on error.
int64_t read_once(int fd, uint8_t* data, int64_t count);
// Reads until `count` bytes, the end or an error; the number read.
int64_t read_all(int fd, uint8_t* data, int64_t count);

}  // namespace mpo
