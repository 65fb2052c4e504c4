// One open file of a FileService slot with its buffer. In read state
// buffer[cursor, filled) is read-ahead not yet handed out, so the
// descriptor's offset lies that many bytes beyond the logical position. In
// write state buffer[0, pending) is waiting to be written and the
// descriptor's offset lies that many bytes before the logical position.
#pragma once

#include <array>
#include <cstdint>

#include "io/files.h"
#include "io/output_file.h"

namespace mpo {

class BufferedFile {
 public:
  BufferedFile(int fd, bool read_only) : fd_(fd), read_only_(read_only) {}
  // An output that takes its name when close() succeeds.
  explicit BufferedFile(PendingFile&& output);
  ~BufferedFile() { close(); }
  BufferedFile(const BufferedFile&) = delete;
  BufferedFile& operator=(const BufferedFile&) = delete;

  bool read_only() const { return read_only_; }
  // The errno value of the first system call that failed (a write, a seek
  // before one, the close); 0 when none did or it set none.
  int error() const { return error_; }

  // The next byte (0..255) without consuming it; -1 at the end.
  int peek();
  // The next byte (0..255); -1 at the end.
  int get();
  int64_t read(uint8_t* destination, int64_t count);
  // The number of bytes accepted.
  int64_t write(const uint8_t* source, int64_t count);
  // The length in bytes with everything buffered written; -1 on error.
  int64_t length();
  // Moves to `position`; a negative one leaves the position where it was.
  void seek(int64_t position);
  // Writes the buffer out and closes (an output takes its name). True when
  // every byte reached the file and the close succeeded.
  bool close();
  // Closes without keeping an output: what stood at its name stays. Any
  // other file is closed as by close().
  void abandon();

 private:
  static constexpr int kSize = FileService::kBufferSize;

  // Marks the file failed, keeping the first reason.
  void fail(int error);
  void write_out();
  // Leaves write state with everything buffered written.
  void flush();
  void drop_read_ahead() { cursor_ = filled_ = 0; }
  void enter_write_state();
  bool refill();

  int fd_;
  PendingFile output_;  // owns fd_ when the file is an output
  bool read_only_;
  bool writing_ = false;
  bool failed_ = false;
  int error_ = 0;
  int cursor_ = 0;
  int filled_ = 0;
  int pending_ = 0;
  std::array<uint8_t, kSize> buffer_{};
};

}  // namespace mpo
