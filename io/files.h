// Numbered file slots with a 4096-byte buffer each, and numbered directory
// listings. One FileService per batch (or per parallel worker): slots are
// not shared between services. File names are Text, converted to UTF-8
// bytes at the POSIX boundary. The file slots live in files.cpp (each file
// a BufferedFile), the listings in directory.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/text.h"

namespace mpo {

class BufferedFile;
class DirectoryListing;

class FileService {
 public:
  static constexpr int kBufferSize = 4096;

  // Directory entry types.
  static constexpr int kNoListing = 0;
  static constexpr int kFile = 1;
  static constexpr int kDirectory = 2;
  // A symbolic link to a directory: never entered by the walk.
  static constexpr int kDirectoryLink = 3;

  FileService();
  ~FileService();  // closes every file (buffers written) and every listing
  FileService(const FileService&) = delete;
  FileService& operator=(const FileService&) = delete;

  // Creates or truncates `name` for reading and writing (create_own_file:
  // never through a link, never a special file). Nonzero on success; on
  // failure the slot is empty.
  int create_file(int slot, const Text& name);
  // Like create_file, for finished outputs: the file is a PendingFile
  // (io/output_file.h) that appears under `name` when close_file succeeds
  // (also when the slot is reused or the service ends, if no write failed).
  // Before that, and after a failed write, `name` shows what stood there
  // before.
  int create_output_file(int slot, const Text& name);
  // Opens an existing regular file read-only (a directory, FIFO, device or
  // socket is refused without being opened). Nonzero on success.
  int open_file(int slot, const Text& name);
  // Writes the buffer out and closes the file; an empty slot is ignored.
  // Returns 1 when every byte written to the file since it was opened
  // reached it and the close succeeded, 0 otherwise (also for an empty slot).
  int close_file(int slot);
  // Closes the file without keeping it: an output file is discarded (what
  // stood at its name stays), any other file is closed as by close_file.
  void abandon_file(int slot);
  // Length in bytes after writing the buffer out; -1 for an empty slot.
  int64_t file_length(int slot);
  // Next byte as a signed value -128..127; 0 at the end and for an empty slot.
  int read_byte(int slot);
  // Up to `count` bytes; the number read (0 at the end, for an empty slot).
  int64_t read_block(int slot, void* destination, int64_t count);
  // The number of bytes accepted; 0 for count <= 0, no source, an empty slot
  // or a file opened with open_file.
  int64_t write_block(int slot, const void* source, int64_t count);
  void write_byte(int slot, int64_t value);
  // UTF-8 text, then CR LF. No byte-order mark.
  void write_line(int slot, const Text& text);
  // The next line without its terminator (CR LF, LF, CR, zero byte or end),
  // decoded by from_utf8; a sequence cut short by the end is dropped.
  Text read_line(int slot);
  void set_file_position(int slot, int64_t position);
  // 1 when no byte is left, 0 when one is; 0 for an empty slot.
  int end_of_file(int slot);
  // Why the slot's last create_file, create_output_file, open_file,
  // write_block or close_file failed: the errno value of the system call
  // that failed (kept after the slot is closed, cleared when it is opened
  // again); 0 when nothing failed or no call said why.
  int file_error(int slot) const;

  // -1 missing or empty name, -2 a directory, else the size in bytes.
  // Trailing '/' or '\' are ignored.
  static int64_t file_size(const Text& name);
  // Nonzero when the file was deleted.
  static int remove_file(const Text& name);

  // Starts a listing of `path` ("*.*" or empty pattern: every entry). A '/'
  // is inserted between a non-empty path that does not end in one and the
  // pattern. Nonzero on success (also for an empty directory).
  int examine_directory(int slot, const Text& path, const Text& pattern);
  // Why the slot's last examine_directory failed: the errno value of the
  // system call that failed; 0 when it did not fail or no call said why.
  int listing_error(int slot) const;
  // Nonzero while an entry is current. "." and ".." come first.
  int next_directory_entry(int slot);
  // kDirectory, kDirectoryLink, kFile (anything else); kNoListing for a
  // slot without a listing or without a current entry.
  int directory_entry_type(int slot);
  // The current entry's name (raw bytes through from_utf8); empty when
  // there is none.
  Text directory_entry_name(int slot);

 private:
  BufferedFile* file(int slot) const;
  // Empties the slot and clears its error; false for an unusable number.
  bool claim(int slot);
  void set_error(int slot, int error);
  DirectoryListing* listing(int slot) const;
  std::vector<std::unique_ptr<BufferedFile>> files_;
  std::vector<int> errors_;  // file_error of each slot
  std::vector<std::unique_ptr<DirectoryListing>> listings_;
  std::vector<int> listing_errors_;  // listing_error of each slot
};

}  // namespace mpo
