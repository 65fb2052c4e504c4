// Small file systems of a given size for full-disk tests (root only).
#pragma once

#include <filesystem>
#include <string>

namespace mpo::test {

// Mounts made by the tests stay private to this process (and its
// children) and vanish with it, whatever happens. False when not root.
bool private_mounts();

// A tmpfs of `size` (e.g. "64k") mounted at `at` for the object's lifetime.
class Tmpfs {
 public:
  Tmpfs(const std::filesystem::path& at, const std::string& size);
  ~Tmpfs();
  Tmpfs(const Tmpfs&) = delete;
  Tmpfs& operator=(const Tmpfs&) = delete;
  explicit operator bool() const { return mounted_; }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
};

}  // namespace mpo::test
