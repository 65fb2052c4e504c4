#include "io/folders.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace mpo {

int make_folders(const Text& path) {
  const std::string full = to_utf8(path);
  if (full.empty() || full.find('\0') != std::string::npos) return ENOENT;
  int failure = 0;
  for (size_t end = full.find('/', 1);; end = full.find('/', end + 1)) {
    const std::string part = full.substr(0, end);
    if (!part.empty() && part.back() != '/' && ::mkdir(part.c_str(), 0777) != 0 &&
        errno != EEXIST) {
      failure = errno;
    }
    if (end == std::string::npos) break;
  }
  struct stat st;
  if (::stat(full.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  return failure != 0 ? failure : errno;
}

}  // namespace mpo
