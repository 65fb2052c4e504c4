#include "cli/join.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mpo/join.h"
#include "app/output_failure.h"
#include "app/texts.h"
#include "cli/terminal_text.h"
#include "io/descriptor.h"
#include "io/output_file.h"

namespace mpo {

namespace {

// Larger inputs cannot be told apart by an MP index's 32-bit offsets.
constexpr int64_t kMaxInput = int64_t{1} << 32;

struct Input {
  std::vector<uint8_t> bytes;
  dev_t device = 0;
  ino_t inode = 0;
};

void refuse(std::ostream& err, const std::string& text) {
  err << to_utf8(texts::kErrorTitle) << ": " << harmless(text) << "\n";
}

std::string with_reason(const std::string& name, int error) {
  return name + ": " + to_utf8(failure_reason_text(error));
}

// The whole file and its identity; nullopt after reporting why not.
std::optional<Input> read_input(const std::string& name, std::ostream& err) {
  const int fd = open_regular(name, O_RDONLY);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    refuse(err, with_reason(name, errno == EEXIST ? EISDIR : errno));
    if (fd >= 0) ::close(fd);
    return std::nullopt;
  }
  Input in{{}, st.st_dev, st.st_ino};
  if (st.st_size > kMaxInput) {
    ::close(fd);
    refuse(err, with_reason(name, EFBIG));
    return std::nullopt;
  }
  in.bytes.resize(static_cast<size_t>(st.st_size));
  const int64_t got = read_all(fd, in.bytes.data(), st.st_size);
  const int error = errno;
  ::close(fd);
  if (got != st.st_size) {
    refuse(err, with_reason(name, got < 0 ? error : EIO));
    return std::nullopt;
  }
  return in;
}

bool is_input(const std::string& out, const Input& left, const Input& right) {
  struct stat st;
  if (::stat(out.c_str(), &st) != 0) return false;
  return (st.st_dev == left.device && st.st_ino == left.inode) ||
         (st.st_dev == right.device && st.st_ino == right.inode);
}

bool write_output(const std::string& out, const std::vector<uint8_t>& bytes, std::ostream& err) {
  PendingFile file = PendingFile::start(out, O_WRONLY);
  const int64_t size = static_cast<int64_t>(bytes.size());
  if (file.fd() < 0 || write_all(file.fd(), bytes.data(), size) != size || !file.commit()) {
    refuse(err, with_reason(out, errno));
    return false;
  }
  return true;
}

}  // namespace

int run_join(const JoinRequest& join, std::ostream& err) {
  const auto left = read_input(join.left, err);
  if (!left) return 1;
  const auto right = read_input(join.right, err);
  if (!right) return 1;
  if (is_input(join.out, *left, *right)) {
    refuse(err, join.out + " ist eine der Eingabedateien und wird nicht überschrieben");
    return 1;
  }
  const JoinResult result = join_mpo(left->bytes, right->bytes);
  switch (result.refusal) {
    case JoinRefusal::none: break;
    case JoinRefusal::left_not_jpeg:
      refuse(err, join.left + " " + to_utf8(join_refusal_text(result.refusal)));
      return 1;
    case JoinRefusal::right_not_jpeg:
      refuse(err, join.right + " " + to_utf8(join_refusal_text(result.refusal)));
      return 1;
    default:
      refuse(err, to_utf8(join_refusal_text(result.refusal)));
      return 1;
  }
  return write_output(join.out, result.bytes, err) ? 0 : 1;
}

}  // namespace mpo
