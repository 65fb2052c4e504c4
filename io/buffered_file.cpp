#include "io/buffered_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "io/descriptor.h"

namespace mpo {

BufferedFile::BufferedFile(PendingFile&& output)
    : fd_(output.fd()), output_(std::move(output)), read_only_(false) {}

void BufferedFile::fail(int error) {
  if (!failed_) error_ = error;
  failed_ = true;
}

void BufferedFile::write_out() {
  errno = 0;
  if (pending_ > 0 && write_all(fd_, buffer_.data(), pending_) != pending_) fail(errno);
  pending_ = 0;
}

void BufferedFile::flush() {
  if (!writing_) return;
  write_out();
  writing_ = false;
}

void BufferedFile::enter_write_state() {
  if (writing_) return;
  const int unread = filled_ - cursor_;
  drop_read_ahead();
  // Step back over read-ahead so that the write lands where the caller
  // stopped reading. If that fails the write would land elsewhere.
  if (unread > 0 && ::lseek(fd_, -static_cast<off_t>(unread), SEEK_CUR) < 0) fail(errno);
  writing_ = true;
}

bool BufferedFile::refill() {
  cursor_ = 0;
  filled_ = static_cast<int>(read_once(fd_, buffer_.data(), kSize));
  return filled_ > 0;
}

int BufferedFile::peek() {
  flush();
  if (cursor_ == filled_ && !refill()) return -1;
  return buffer_[static_cast<size_t>(cursor_)];
}

int BufferedFile::get() {
  const int b = peek();
  if (b >= 0) ++cursor_;
  return b;
}

int64_t BufferedFile::read(uint8_t* destination, int64_t count) {
  flush();
  int64_t done = 0;
  while (done < count) {
    if (cursor_ < filled_) {
      const int take = static_cast<int>(std::min<int64_t>(filled_ - cursor_, count - done));
      std::memcpy(destination + done, buffer_.data() + cursor_, static_cast<size_t>(take));
      cursor_ += take;
      done += take;
      continue;
    }
    if (count - done >= kSize) {
      done += read_all(fd_, destination + done, count - done);
      break;
    }
    if (!refill()) break;
  }
  return done;
}

int64_t BufferedFile::write(const uint8_t* source, int64_t count) {
  enter_write_state();
  if (pending_ + count > kSize) write_out();
  if (count >= kSize) {
    errno = 0;
    const int64_t n = write_all(fd_, source, count);
    if (n != count) fail(errno);
    return n;
  }
  std::memcpy(buffer_.data() + pending_, source, static_cast<size_t>(count));
  pending_ += static_cast<int>(count);
  return count;
}

int64_t BufferedFile::length() {
  flush();
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void BufferedFile::seek(int64_t position) {
  flush();
  if (position < 0) return;
  drop_read_ahead();
  ::lseek(fd_, static_cast<off_t>(position), SEEK_SET);
}

bool BufferedFile::close() {
  if (fd_ < 0) return false;
  flush();
  bool ok = !failed_;
  if (output_.fd() >= 0) {
    if (ok) {
      ok = output_.commit();
      if (!ok) fail(output_.error());
    } else {
      output_.abandon();
    }
  } else if (::close(fd_) != 0) {
    fail(errno);
    ok = false;
  }
  fd_ = -1;
  return ok;
}

void BufferedFile::abandon() {
  if (output_.fd() < 0) {
    close();
    return;
  }
  output_.abandon();
  fd_ = -1;
}

}  // namespace mpo
