#include "io/machine_memory.h"

#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

namespace mpo {

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
