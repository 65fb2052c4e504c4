// Output files of their own: created fresh in place of a link, never
// written into a special file, and taking their name only when complete.
#pragma once

#include <string>

namespace mpo {

// Opens `path` for writing (`access` O_WRONLY or O_RDWR) as a regular file
// of its own, created or truncated. A symbolic link or a second hard link
// standing at that name is removed first and replaced by a new file, so the
// write never reaches another file; a directory, FIFO, socket or device
// there is refused and never opened for writing. The descriptor (close on
// exec), or -1.
int create_own_file(const std::string& path, int access);

// A file being written that takes the place of `path` only when it is
// complete: until commit() readers of `path` see what stood there before
// (another run reading it meanwhile never sees a half-written file), and a
// write that fails or is abandoned, even by a killed process, leaves that
// untouched. The same rules as create_own_file apply to what stands at
// `path`: a link is replaced, not written through; a directory, FIFO,
// socket or device is refused; an existing file we may not write is refused
// too, and its permission bits (rwx for owner, group, others) carry over to
// the new file. A file is never written in place: where no new file can be
// created beside it (a folder we may not write, a read-only file system),
// the start fails and what stands at `path` stays untouched.
class PendingFile {
 public:
  PendingFile() = default;
  // `access` O_WRONLY or O_RDWR. On failure fd() is -1 and errno is set.
  // `unnamed` false always takes a named temporary (as on file systems
  // without unnamed files).
  static PendingFile start(const std::string& path, int access, bool unnamed = true);
  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();  // abandons a file not committed

  int fd() const { return fd_; }
  // Puts the written file at its name and closes it. False when that
  // failed; nothing of the new file is left behind then, and error() says
  // why.
  bool commit();
  // The errno value of the step of commit() that failed; 0 before.
  int error() const { return error_; }
  // Closes and discards the file; what stood at the name stays.
  void abandon();

 private:
  int fd_ = -1;
  std::string path_;
  std::string temp_;  // the named temporary; empty for an unnamed one
  int record_ = -1;   // its record for removal on a signal (io/interrupts.h)
  int error_ = 0;
};

}  // namespace mpo
