#include "tests/support/tmpfs.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace mpo::test {

bool private_mounts() {
  static const bool ok = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return ok;
}

Tmpfs::Tmpfs(const std::filesystem::path& at, const std::string& size) : at_(at) {
  mounted_ = private_mounts() &&
             ::mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0755").c_str()) == 0;
}

Tmpfs::~Tmpfs() {
  if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
}

}  // namespace mpo::test
