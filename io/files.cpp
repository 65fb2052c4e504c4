#include "io/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "io/buffered_file.h"
#include "io/descriptor.h"
#include "io/directory.h"
#include "io/output_file.h"
#include "io/slot_table.h"

namespace mpo {

namespace {

constexpr int kInitialSlots = 16;

// A name that cannot reach the file system unchanged: empty, or with a NUL
// that would cut the C string short and name a different file.
bool usable_name(const Text& name) { return !name.empty() && name.find(u'\0') == Text::npos; }

// The length of the UTF-8 sequence that `lead` starts: 2, 3 or 4 for a lead
// byte, else 1.
int sequence_length(int lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

// Appends `lead` and the continuation bytes that follow it in `file`. Only
// continuation bytes are taken into a sequence: names may hold bytes that
// are not UTF-8 (kept raw by from_utf8), and a stray lead byte near the end
// of such a name must not swallow the line terminator and merge two lines.
// False, with nothing appended, when the end of the file cuts the sequence.
bool take_sequence(BufferedFile& file, int lead, std::string& bytes) {
  const int length = sequence_length(lead);
  char sequence[4] = {static_cast<char>(lead)};
  int got = 1;
  while (got < length) {
    const int next = file.peek();
    if (next < 0) return false;
    if ((next & 0xC0) != 0x80) break;
    sequence[got++] = static_cast<char>(file.get());
  }
  bytes.append(sequence, static_cast<size_t>(got));
  return true;
}

}  // namespace

FileService::FileService() {
  files_.resize(kInitialSlots);
  listings_.resize(kInitialSlots);
}

FileService::~FileService() = default;

BufferedFile* FileService::file(int slot) const { return slot_entry(files_, slot); }

bool FileService::claim(int slot) {
  if (!claim_slot(files_, slot)) return false;
  errors_.resize(files_.size());
  errors_[static_cast<size_t>(slot)] = 0;
  return true;
}

void FileService::set_error(int slot, int error) {
  if (slot >= 0 && static_cast<size_t>(slot) < errors_.size()) {
    errors_[static_cast<size_t>(slot)] = error;
  }
}

int FileService::file_error(int slot) const {
  if (slot < 0 || static_cast<size_t>(slot) >= errors_.size()) return 0;
  const BufferedFile* f = file(slot);
  return f != nullptr && f->error() != 0 ? f->error() : errors_[static_cast<size_t>(slot)];
}

int FileService::create_file(int slot, const Text& name) {
  if (!claim(slot) || !usable_name(name)) return 0;
  const std::string path = to_utf8(name);
  errno = 0;
  int fd = create_own_file(path, O_RDWR);
  // A file its owner may write but not read is still overwritten.
  if (fd < 0 && errno == EACCES) fd = create_own_file(path, O_WRONLY);
  if (fd < 0) {
    set_error(slot, errno);
    return 0;
  }
  files_[static_cast<size_t>(slot)] = std::make_unique<BufferedFile>(fd, false);
  return 1;
}

int FileService::create_output_file(int slot, const Text& name) {
  if (!claim(slot) || !usable_name(name)) return 0;
  const std::string path = to_utf8(name);
  errno = 0;
  PendingFile output = PendingFile::start(path, O_RDWR);
  if (output.fd() < 0 && errno == EACCES) output = PendingFile::start(path, O_WRONLY);
  if (output.fd() < 0) {
    set_error(slot, errno);
    return 0;
  }
  files_[static_cast<size_t>(slot)] = std::make_unique<BufferedFile>(std::move(output));
  return 1;
}

int FileService::open_file(int slot, const Text& name) {
  if (!claim(slot) || !usable_name(name)) return 0;
  const std::string path = to_utf8(name);
  // Only regular files: reading a FIFO or a terminal blocks for as long as
  // its other end likes, and opening some devices acts on the device. Such
  // names are not opened at all.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return 0;
  errno = 0;
  const int fd = open_regular(path, O_RDONLY);
  if (fd < 0) {
    set_error(slot, errno);
    return 0;
  }
  files_[static_cast<size_t>(slot)] = std::make_unique<BufferedFile>(fd, true);
  return 1;
}

int FileService::close_file(int slot) {
  BufferedFile* f = file(slot);
  if (f == nullptr) return 0;
  const bool ok = f->close();
  set_error(slot, f->error());
  files_[static_cast<size_t>(slot)].reset();
  return ok ? 1 : 0;
}

void FileService::abandon_file(int slot) {
  BufferedFile* f = file(slot);
  if (f == nullptr) return;
  f->abandon();
  set_error(slot, f->error());
  files_[static_cast<size_t>(slot)].reset();
}

int64_t FileService::file_length(int slot) {
  BufferedFile* f = file(slot);
  return f == nullptr ? -1 : f->length();
}

int FileService::read_byte(int slot) {
  BufferedFile* f = file(slot);
  if (f == nullptr) return 0;
  const int b = f->get();
  return b < 0 ? 0 : static_cast<int>(static_cast<int8_t>(static_cast<uint8_t>(b)));
}

int64_t FileService::read_block(int slot, void* destination, int64_t count) {
  BufferedFile* f = file(slot);
  if (f == nullptr || destination == nullptr || count <= 0) return 0;
  return f->read(static_cast<uint8_t*>(destination), count);
}

int64_t FileService::write_block(int slot, const void* source, int64_t count) {
  BufferedFile* f = file(slot);
  if (f == nullptr || f->read_only() || source == nullptr || count <= 0) return 0;
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
  BufferedFile* f = file(slot);
  if (f == nullptr) return {};
  std::string bytes;
  for (;;) {
    const int b = f->get();
    if (b < 0 || b == 0 || b == '\n') break;
    if (b == '\r') {
      if (f->peek() == '\n') f->get();
      break;
    }
    // A sequence cut short by the end of the file is dropped.
    if (!take_sequence(*f, b, bytes)) break;
  }
  return from_utf8(bytes);
}

void FileService::set_file_position(int slot, int64_t position) {
  BufferedFile* f = file(slot);
  if (f != nullptr) f->seek(position);
}

int FileService::end_of_file(int slot) {
  BufferedFile* f = file(slot);
  if (f == nullptr) return 0;
  return f->peek() < 0 ? 1 : 0;
}

int64_t FileService::file_size(const Text& name) {
  if (!usable_name(name)) return -1;
  const std::string given = to_utf8(name);
  const size_t last = given.find_last_not_of('/');
  // Nothing but slashes: the root. A '\' is part of a name here.
  const std::string path = last == std::string::npos ? std::string("/") : given.substr(0, last + 1);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  if (S_ISDIR(st.st_mode)) return -2;
  return static_cast<int64_t>(st.st_size);
}

int FileService::remove_file(const Text& name) {
  if (!usable_name(name)) return 0;
  return ::unlink(to_utf8(name).c_str()) == 0 ? 1 : 0;
}

}  // namespace mpo
