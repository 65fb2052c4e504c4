#include "app/entry_budget.h"

#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "image/image_service.h"
#include "image/jpeg_markers.h"

namespace mpo {

namespace {

constexpr uint8_t kDHT = 0xC4;
constexpr uint8_t kJPG = 0xC8;
constexpr uint8_t kDAC = 0xCC;
constexpr uint8_t kTEM = 0x01;

// The next marker code from `at` on, as the decoder reads one: bytes before
// an 0xFF are skipped, fill bytes 0xFF too, and FF 00 is no marker. -1 at
// the end of the stream.
int next_marker(const uint8_t* b, int64_t size, int64_t& at) {
  for (;;) {
    while (at < size && b[at] != jpeg::kMarkerPrefix) ++at;
    while (at < size && b[at] == jpeg::kMarkerPrefix) ++at;
    if (at >= size) return -1;
    const int code = b[at++];
    if (code != 0) return code;
  }
}

bool is_frame_marker(int code) {
  return code >= 0xC0 && code <= 0xCF && code != kDHT && code != kJPG && code != kDAC;
}

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

// The frame header segment at `s` (its length field on; `length` bytes
// present): size, components and, for a progressive frame, the bytes of
// its whole coefficient array (64 two-byte values per 8 x 8 block, each
// component's blocks rounded up to whole MCUs).
FrameHeader parse_frame(const uint8_t* s, int64_t length, int code) {
  FrameHeader h;
  if (length < 8) return h;
  h.precision = s[2];
  h.height = jpeg::read_be16(s + 3);
  h.width = jpeg::read_be16(s + 5);
  h.components = s[7];
  h.progressive = code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
  if (length < 8 + 3 * int64_t{h.components}) return h;
  int max_h = 1, max_v = 1;
  for (int c = 0; c < h.components; ++c) {
    max_h = std::max(max_h, s[9 + 3 * c] >> 4);
    max_v = std::max(max_v, s[9 + 3 * c] & 15);
  }
  for (int c = 0; c < h.components; ++c) {
    const int hs = std::max(1, s[9 + 3 * c] >> 4), vs = std::max(1, s[9 + 3 * c] & 15);
    const int64_t across = ceil_div(ceil_div(h.width * hs, max_h), 8 * hs) * hs;
    const int64_t down = ceil_div(ceil_div(h.height * vs, max_v), 8 * vs) * vs;
    h.coefficient_bytes += across * down * 128;
  }
  return h;
}

// The half as the decoder will hold it: none for a frame it refuses before
// allocating anything.
std::optional<FrameHeader> decoded(const std::optional<FrameHeader>& half) {
  if (!half || half->precision != 8) return std::nullopt;
  if (half->width > kMaxImageSide || half->height > kMaxImageSide) return std::nullopt;
  return half;
}

// Pixel bytes of a 24-bit picture, each row padded to four bytes.
int64_t picture_bytes(int64_t w, int64_t h) { return (3 * w + 3) / 4 * 4 * h; }

// The command line's further outputs: the viewing formats' canvases (the TV
// frame with room for its scaling steps) and, for the lossless side-by-side,
// both halves' coefficients beside the joined file.
int64_t further_outputs(int64_t file_size, const std::optional<FrameHeader>& left,
                        const std::optional<FrameHeader>& right, const ExtraOutputs& extras,
                        int64_t W, int64_t H) {
  constexpr int64_t kTvFrame = 1920 * 1080 * 3;
  int64_t bytes = 0;
  if (extras.anaglyph) bytes += picture_bytes(W, H);
  if (extras.cross) bytes += picture_bytes(2 * W, H);
  if (extras.tv) bytes += 5 * kTvFrame;
  if (extras.lossless) {
    bytes += std::max<int64_t>(file_size, 0);
    for (const auto* half : {&left, &right}) bytes += *half ? (*half)->coefficient_bytes : 0;
  }
  return bytes;
}

int64_t decoded_bytes(const std::optional<FrameHeader>& half) {
  return half ? picture_bytes(half->width, half->height) : 0;
}

// Coefficients held while a half is decoded: all of them for a stream of
// several scans.
int64_t held_coefficients(const std::optional<FrameHeader>& half) {
  return half && (half->progressive || half->multi_scan) ? half->coefficient_bytes : 0;
}

}  // namespace

std::optional<FrameHeader> read_frame_header(const uint8_t* bytes, int64_t size) {
  if (bytes == nullptr || size < 4 || bytes[0] != jpeg::kMarkerPrefix || bytes[1] != jpeg::kSOI) {
    return std::nullopt;
  }
  std::optional<FrameHeader> frame;
  int64_t at = 2;
  for (;;) {
    const int code = next_marker(bytes, size, at);
    if (code < 0 || code == jpeg::kEOI || code == jpeg::kSOI) return std::nullopt;
    if ((code >= 0xD0 && code <= 0xD7) || code == kTEM) continue;  // no segment
    if (at + 2 > size) return std::nullopt;
    if (code == jpeg::kSOS) {
      // The first scan tells whether the decoder keeps every coefficient:
      // it does when the scan holds fewer components than the frame.
      if (!frame) return std::nullopt;
      frame->multi_scan = at + 2 < size && bytes[at + 2] < frame->components;
      return frame;
    }
    const int64_t length = jpeg::read_be16(bytes + at);
    if (length < 2) {
      // The decoder skips no more than the length field of such a segment.
      at += 2;
      continue;
    }
    if (length > size - at) return std::nullopt;
    if (is_frame_marker(code) && !frame) frame = parse_frame(bytes + at, length, code);
    at += length;
  }
}

int64_t entry_memory(int64_t file_size, const std::optional<FrameHeader>& left_frame,
                     const std::optional<FrameHeader>& right_frame, const OptionFlags& flags,
                     const ExtraOutputs& extras) {
  const auto left = decoded(left_frame);
  const auto right = decoded(right_frame);
  const int64_t W = left ? left->width : 0;
  const int64_t H = left ? left->height : 0;
  const int64_t grids = 2 * int64_t{sizeof(int64_t)} * (W + 1) * (H + 1);
  int64_t composites = 0;
  if (flags.sbs || flags.exif) composites += picture_bytes(2 * W, H);
  if (flags.sbsh) composites += picture_bytes(W, H);
  if (flags.ouh) composites += picture_bytes(W, H);
  composites += further_outputs(file_size, left_frame, right_frame, extras, W, H);
  return std::max<int64_t>(file_size, 0) + decoded_bytes(left) + decoded_bytes(right) + grids +
         composites + std::max(held_coefficients(left), held_coefficients(right));
}

bool EntryBudget::admits_file(int64_t file_size) const { return bytes < 0 || file_size <= bytes; }

bool EntryBudget::admits_entry(const uint8_t* file, int64_t size, int64_t separator) const {
  if (bytes < 0) return true;
  separator = std::clamp<int64_t>(separator, 0, size);
  const auto left = read_frame_header(file, separator);
  const auto right = read_frame_header(file + separator, size - separator);
  return entry_memory(size, left, right, flags) <= bytes;
}

namespace {

// The first number in `path` after `key` (the whole file when `key` is
// empty); -1 when there is none ("max" in a control group file).
int64_t number_in_file(const std::string& path, const std::string& key = {}) {
  std::ifstream in(path);
  std::string word;
  if (!key.empty()) {
    while (in >> word && word != key) {}
  }
  long long value = -1;
  if (!(in >> value)) return -1;
  return value;
}

// Room left below the memory limit of this process's control group and of
// every group above it (version 2, or the memory controller of version 1).
int64_t control_group_room() {
  std::ifstream groups("/proc/self/cgroup");
  std::string line;
  int64_t room = -1;
  auto narrow = [&room](int64_t limit, int64_t used) {
    // A version 1 group without a limit shows a number near 2^63.
    if (limit < 0 || limit >= (int64_t{1} << 62)) return;
    const int64_t left = std::max<int64_t>(limit - std::max<int64_t>(used, 0), 0);
    room = room < 0 ? left : std::min(room, left);
  };
  while (std::getline(groups, line)) {
    const bool v2 = line.rfind("0::", 0) == 0;
    const size_t colon = line.find(':', line.find(':') + 1);
    if (colon == std::string::npos || (!v2 && line.find(":memory:") == std::string::npos)) continue;
    std::string path = line.substr(colon + 1);
    const std::string root = v2 ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
    for (;;) {
      const std::string dir = root + (path == "/" ? "" : path);
      if (v2) narrow(number_in_file(dir + "/memory.max"), number_in_file(dir + "/memory.current"));
      else narrow(number_in_file(dir + "/memory.limit_in_bytes"),
                  number_in_file(dir + "/memory.usage_in_bytes"));
      if (path.empty() || path == "/") break;
      path = path.substr(0, path.rfind('/'));
    }
  }
  return room;
}

// Room left below a resource limit, given what the process uses of it now
// (field `field` of /proc/self/statm, in pages); -1 without a limit.
int64_t limit_room(int resource, int field) {
  rlimit limit{};
  if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return -1;
  std::ifstream statm("/proc/self/statm");
  int64_t pages = 0;
  for (int i = 0; i <= field && statm >> pages; ++i) {}
  const int64_t used = pages * ::sysconf(_SC_PAGESIZE);
  return std::max<int64_t>(static_cast<int64_t>(limit.rlim_cur) - used, 0);
}

int64_t system_available() {
  const int64_t kib = number_in_file("/proc/meminfo", "MemAvailable:");
  if (kib >= 0) return kib * 1024;
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return -1;
  return (static_cast<int64_t>(info.freeram) + static_cast<int64_t>(info.bufferram)) *
         info.mem_unit;
}

}  // namespace

int64_t memory_available(const char* override_bytes) {
  if (override_bytes != nullptr && *override_bytes != '\0') {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(override_bytes, &end, 10);
    if (errno == 0 && *end == '\0' && value >= 0) return value;
  }
  int64_t room = -1;
  for (const int64_t r : {system_available(), control_group_room(), limit_room(RLIMIT_AS, 0),
                          limit_room(RLIMIT_DATA, 5)}) {
    if (r >= 0) room = room < 0 ? r : std::min(room, r);
  }
  return room;
}

}  // namespace mpo
