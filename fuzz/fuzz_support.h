// Shared pieces of the fuzz targets: a private scratch folder, whole-file
// helpers, a silent reporter and a cheap header check that keeps decodes small.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "app/front_end.h"
#include "io/text.h"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Stops the run with a message: libFuzzer records the input as a crash.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}
#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) ::fuzz::fail(#cond); \
  } while (0)

// A folder of this process only, in memory where the machine has it,
// removed when the fuzzer exits normally.
inline const std::string& scratch() {
  static const std::string dir = [] {
    const char* bases[] = {"/dev/shm", std::getenv("TMPDIR"), "/tmp"};
    for (const char* base : bases) {
      if (base == nullptr || *base == '\0' || ::access(base, W_OK) != 0) continue;
      std::string pattern = std::string(base) + "/mpo-fuzz-XXXXXX";
      if (::mkdtemp(pattern.data()) != nullptr) return pattern;
    }
    fail("no scratch folder");
  }();
  static const struct Cleanup {
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(dir, ignored);
    }
  } cleanup;
  (void)cleanup;
  return dir;
}

inline bool write_file(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && done == size;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The whole file; `found` false when it cannot be opened.
inline Bytes read_file(const std::string& path, bool* found = nullptr) {
  Bytes out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (found != nullptr) *found = fd >= 0;
  if (fd < 0) return out;
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  ::close(fd);
  return out;
}

// Answers nothing and counts the messages.
class SilentReporter : public mpo::Reporter {
 public:
  int messages = 0;
  void show_message(const mpo::Text&, const mpo::Text&) override { ++messages; }
};

// Pixel count above which a target does not decode: a header of a few bytes
// may ask for gigabytes (and a progressive one makes libjpeg allocate its
// whole coefficient buffer before the first row), which says nothing about
// the code under test but trips the fuzzer's memory limit.
constexpr uint64_t kMaxFuzzPixels = uint64_t{1} << 22;

namespace detail {
struct HeaderProbe {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  std::jmp_buf jump;
};
[[noreturn]] inline void jump_back(j_common_ptr cinfo) {
  std::longjmp(static_cast<HeaderProbe*>(cinfo->client_data)->jump, 1);
}
inline void quiet(j_common_ptr) {}
inline uint64_t read_pixels(HeaderProbe* p, const uint8_t* data, size_t size) {
  p->cinfo.err = jpeg_std_error(&p->err);
  p->err.error_exit = jump_back;
  p->err.output_message = quiet;
  p->cinfo.client_data = p;
  if (setjmp(p->jump) != 0) {
    jpeg_destroy_decompress(&p->cinfo);
    return 0;
  }
  jpeg_create_decompress(&p->cinfo);
  jpeg_mem_src(&p->cinfo, data, static_cast<unsigned long>(size));
  uint64_t pixels = 0;
  if (jpeg_read_header(&p->cinfo, TRUE) == JPEG_HEADER_OK)
    pixels = uint64_t{p->cinfo.image_width} * p->cinfo.image_height;
  jpeg_destroy_decompress(&p->cinfo);
  return pixels;
}
}  // namespace detail

// Width x height from the stream's header; 0 when libjpeg cannot read it.
inline uint64_t header_pixels(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  auto* probe = static_cast<detail::HeaderProbe*>(std::calloc(1, sizeof(detail::HeaderProbe)));
  if (probe == nullptr) return 0;
  const uint64_t pixels = detail::read_pixels(probe, data, size);
  std::free(probe);
  return pixels;
}

inline bool small_enough(const uint8_t* data, size_t size, uint64_t limit = kMaxFuzzPixels) {
  return header_pixels(data, size) <= limit;
}

}  // namespace fuzz
