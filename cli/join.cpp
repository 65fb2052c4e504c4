#include "cli/join.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/output_failure.h"
#include "app/texts.h"
#include "cli/terminal_text.h"
#include "io/descriptor.h"
#include "io/machine_memory.h"
#include "io/output_file.h"
#include "mpo/join.h"

namespace mpo {

namespace {

// Larger inputs cannot be told apart by an MP index's 32-bit offsets.
constexpr int64_t kMaxInput = int64_t{1} << 32;
// The first bytes of an input that tell a JPEG from anything else.
constexpr int64_t kHeadBytes = int64_t{64} << 10;

// Why an input or the output cannot be used.
enum class Fault { none, system, directory, not_regular, too_large, not_jpeg, no_memory, is_input };

struct Outcome {
  Fault fault = Fault::none;
  int error = 0;  // the errno value of a failed system call (Fault::system)
};

// One input file: open, its identity and size known, its bytes once read.
class InputFile {
 public:
  explicit InputFile(std::string name) : name_(std::move(name)) {}
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  const std::string& name() const { return name_; }
  int64_t size() const { return size_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  bool is(const struct stat& st) const { return st.st_dev == device_ && st.st_ino == inode_; }

  // Opens the file and reads its first bytes: a JPEG or not.
  Outcome open();
  // Reads the whole file.
  Outcome read_all_bytes();

 private:
  Outcome read_into(int64_t count);

  std::string name_;
  int fd_ = -1;
  int64_t size_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::vector<uint8_t> bytes_;
};

Outcome InputFile::open() {
  // Without blocking: a FIFO is told apart before anything waits on it.
  fd_ = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return {Fault::system, errno};
  struct stat st;
  if (::fstat(fd_, &st) != 0) return {Fault::system, errno};
  if (S_ISDIR(st.st_mode)) return {Fault::directory};
  if (!S_ISREG(st.st_mode)) return {Fault::not_regular};
  const int status = ::fcntl(fd_, F_GETFL);
  if (status >= 0) ::fcntl(fd_, F_SETFL, status & ~O_NONBLOCK);
  device_ = st.st_dev;
  inode_ = st.st_ino;
  size_ = st.st_size;
  if (size_ > kMaxInput) return {Fault::too_large};
  const Outcome head = read_into(std::min(size_, kHeadBytes));
  if (head.fault != Fault::none) return head;
  if (!may_be_join_input(bytes_)) return {Fault::not_jpeg};
  return {};
}

Outcome InputFile::read_all_bytes() { return read_into(size_); }

// Reads on until the first `count` bytes of the file are held.
Outcome InputFile::read_into(int64_t count) {
  const auto have = static_cast<int64_t>(bytes_.size());
  try {
    bytes_.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    return {Fault::no_memory};
  }
  const int64_t got = read_all(fd_, bytes_.data() + have, count - have);
  if (got < 0) return {Fault::system, errno};
  if (got != count - have) return {Fault::system, EIO};  // the file shrank
  return {};
}

std::string reason_text(const Outcome& outcome) {
  switch (outcome.fault) {
    case Fault::none: return {};
    case Fault::system: return to_utf8(failure_reason_text(outcome.error));
    case Fault::directory: return to_utf8(texts::kJoinIsDirectory);
    case Fault::not_regular: return to_utf8(texts::kJoinNotRegular);
    case Fault::too_large: return to_utf8(failure_reason_text(EFBIG));
    case Fault::not_jpeg: return to_utf8(texts::kJoinNotJpeg);
    case Fault::no_memory: return to_utf8(texts::kNoMemory);
    case Fault::is_input: return to_utf8(texts::kJoinIsInput);
  }
  return {};
}

// "Fehler: <name> <reason>" for what the name is, "Fehler: <name>: <reason>"
// for what happened to it. The status of a refused join: 1.
int refuse(std::ostream& err, const std::string& name, const Outcome& outcome) {
  const bool what_it_is = outcome.fault == Fault::directory || outcome.fault == Fault::not_regular ||
                          outcome.fault == Fault::not_jpeg || outcome.fault == Fault::is_input;
  err << to_utf8(texts::kErrorTitle) << ": " << harmless(name + (what_it_is ? " " : ": ") + reason_text(outcome))
      << "\n";
  return 1;
}

void note(std::ostream& err, const std::string& name, const std::u16string& text) {
  err << to_utf8(texts::kNoteTitle) << ": " << harmless(name + ": " + to_utf8(text)) << "\n";
}

// What stands at the output's name, when it cannot take the MPO.
Outcome check_output(const std::string& out, const InputFile& left, const InputFile& right) {
  struct stat st;
  if (::stat(out.c_str(), &st) != 0) return {};
  if (left.is(st) || right.is(st)) return {Fault::is_input};
  if (S_ISDIR(st.st_mode)) return {Fault::directory};
  if (!S_ISREG(st.st_mode)) return {Fault::not_regular};
  return {};
}

// Both inputs and what the join makes of them are held at once.
bool fits_in_memory(const InputFile& left, const InputFile& right) {
  const int64_t available = memory_available(std::getenv("MPO_CONVERT_TEST_MEMORY"));
  return available < 0 || 2 * (left.size() + right.size()) + kHeadBytes <= available;
}

int write_mpo(const std::string& out, const std::vector<uint8_t>& bytes, std::ostream& err) {
  PendingFile file = PendingFile::start(out, O_WRONLY);
  if (file.fd() < 0) return refuse(err, out, {Fault::system, errno});
  const auto size = static_cast<int64_t>(bytes.size());
  if (write_all(file.fd(), bytes.data(), size) != size) return refuse(err, out, {Fault::system, errno});
  if (!file.commit()) return refuse(err, out, {Fault::system, errno});
  return 0;
}

void report_notes(const JoinRequest& join, const JoinResult& result, std::ostream& err) {
  const std::pair<const std::string*, DroppedTail> inputs[] = {{&join.left, result.left_dropped},
                                                                {&join.right, result.right_dropped}};
  for (const auto& [name, dropped] : inputs) {
    if (dropped.images > 0) {
      note(err, *name, texts::kJoinDroppedImages + from_utf8(std::to_string(dropped.images)));
    } else if (dropped.bytes > 0) {
      note(err, *name, texts::kJoinDroppedBytes + from_utf8(std::to_string(dropped.bytes)));
    }
  }
  if (!result.found_by_byte_search) note(err, join.out, texts::kJoinOnlyByIndex);
}

// The join's own refusals, named after the input they concern; 0 for none.
int refuse_join(std::ostream& err, const JoinRequest& join, JoinRefusal refusal) {
  switch (refusal) {
    case JoinRefusal::none: return 0;
    case JoinRefusal::left_not_jpeg: return refuse(err, join.left, {Fault::not_jpeg});
    case JoinRefusal::right_not_jpeg: return refuse(err, join.right, {Fault::not_jpeg});
    case JoinRefusal::no_memory: return refuse(err, join.out, {Fault::no_memory});
    case JoinRefusal::too_large: break;
  }
  err << to_utf8(texts::kErrorTitle) << ": " << to_utf8(texts::kJoinTooLarge) << "\n";
  return 1;
}

int join_files(const JoinRequest& join, std::ostream& err) {
  InputFile left(join.left), right(join.right);
  for (InputFile* input : {&left, &right}) {
    const Outcome opened = input->open();
    if (opened.fault != Fault::none) return refuse(err, input->name(), opened);
  }
  const Outcome output = check_output(join.out, left, right);
  if (output.fault != Fault::none) return refuse(err, join.out, output);
  if (!fits_in_memory(left, right)) return refuse(err, join.out, {Fault::no_memory});
  for (InputFile* input : {&left, &right}) {
    const Outcome read = input->read_all_bytes();
    if (read.fault != Fault::none) return refuse(err, input->name(), read);
  }
  const JoinResult result = join_mpo(left.bytes(), right.bytes());
  if (result.refusal != JoinRefusal::none) return refuse_join(err, join, result.refusal);
  report_notes(join, result, err);
  return write_mpo(join.out, result.bytes, err);
}

}  // namespace

int run_join(const JoinRequest& join, std::ostream& err) {
  try {
    return join_files(join, err);
  } catch (const std::bad_alloc&) {
    // What little is allocated beside the inputs and the MPO.
    return refuse(err, join.out, {Fault::no_memory});
  }
}

}  // namespace mpo
