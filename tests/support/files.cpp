#include "tests/support/files.h"

#include <fstream>
#include <iterator>

namespace mpo::test {

Bytes read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_string(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool write_string(const fs::path& p, std::string_view s) {
  std::error_code ec;
  if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(s.data(), static_cast<std::streamsize>(s.size()));
  return static_cast<bool>(out);
}

bool write_bytes(const fs::path& p, const Bytes& b) {
  return write_string(p, {reinterpret_cast<const char*>(b.data()), b.size()});
}

std::map<fs::path, Bytes> files_below(const fs::path& dir) {
  std::map<fs::path, Bytes> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) out[it->path()] = read_bytes(it->path());
  }
  return out;
}

std::map<fs::path, Bytes> mpos_below(const fs::path& dir) {
  std::map<fs::path, Bytes> out;
  for (auto& [p, b] : files_below(dir)) {
    std::string ext = p.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".mpo") out[p] = b;
  }
  return out;
}

std::string base_of(const fs::path& mpo) {
  const std::string s = mpo.string();
  return s.substr(0, s.size() - 4);
}

Text P(const fs::path& p) { return from_utf8(p.string()); }

}  // namespace mpo::test
