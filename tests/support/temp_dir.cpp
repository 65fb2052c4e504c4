#include "tests/support/temp_dir.h"

#include <stdlib.h>

namespace mpo::test {

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return;
  root_ = pattern;
  path_ = pattern;
}

TempDir::~TempDir() {
  if (root_.empty()) return;
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

Text TempDir::text(const std::string& name) const { return from_utf8(path(name)); }

}  // namespace mpo::test
