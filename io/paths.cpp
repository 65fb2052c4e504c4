#include "io/paths.h"

namespace mpo {

namespace {

bool is_separator(char16_t c) { return c == u'/' || c == u'\\'; }

}  // namespace

Text path_part(const Text& path) {
  const size_t begin = !path.empty() && path[0] == u'"' ? 1 : 0;
  size_t end = path.find(u'|', begin);
  if (end == Text::npos) end = path.size();
  for (size_t i = end; i > begin; --i) {
    if (is_separator(path[i - 1])) return path.substr(begin, i - begin);
  }
  return {};
}

Text extension_part(const Text& path) {
  for (size_t i = path.size(); i > 0; --i) {
    const char16_t c = path[i - 1];
    if (c == u' ' || is_separator(c)) return {};
    if (c != u'.') continue;
    const size_t dot = i - 1;
    if (dot == 0 || is_separator(path[dot - 1])) return {};
    const size_t quote = path.find(u'"', dot + 1);
    return path.substr(dot + 1, quote == Text::npos ? Text::npos : quote - dot - 1);
  }
  return {};
}

}  // namespace mpo
