#include "io/paths.h"

namespace mpo {

Text path_part(const Text& path) {
  const size_t slash = path.rfind(u'/');
  return slash == Text::npos ? Text() : path.substr(0, slash + 1);
}

Text extension_part(const Text& path) {
  for (size_t i = path.size(); i > 0; --i) {
    const char16_t c = path[i - 1];
    if (c == u' ' || c == u'/') return {};
    if (c != u'.') continue;
    const size_t dot = i - 1;
    if (dot == 0 || path[dot - 1] == u'/') return {};
    return path.substr(dot + 1);
  }
  return {};
}

}  // namespace mpo
