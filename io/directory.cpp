#include "io/directory.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "io/slot_table.h"

namespace mpo {

namespace {

// What a symbolic link at `path` leads to, for the walk: a directory link
// (never entered) or anything else.
int link_type(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? FileService::kDirectoryLink
                                                               : FileService::kFile;
}

}  // namespace

std::unique_ptr<DirectoryListing> DirectoryListing::open(const std::string& path,
                                                         const std::string& pattern) {
  // Join as one search path, then split at its last '/': a pattern may
  // itself name a subdirectory.
  std::string full = path;
  if (!full.empty() && full.back() != '/') full += '/';
  full += pattern.empty() ? std::string("*.*") : pattern;
  const size_t cut = full.rfind('/');
  std::string directory = cut == std::string::npos ? std::string("./") : full.substr(0, cut + 1);
  std::string mask = cut == std::string::npos ? full : full.substr(cut + 1);
  if (mask == "*.*" || mask == "*") mask.clear();

  DIR* d = ::opendir(directory.c_str());
  if (d == nullptr) return nullptr;
  auto listing = std::make_unique<DirectoryListing>();
  listing->dir_.reset(d);
  listing->directory_ = std::move(directory);
  listing->pattern_ = std::move(mask);
  return listing;
}

bool DirectoryListing::matches(const char* entry) const {
  return pattern_.empty() || ::fnmatch(pattern_.c_str(), entry, FNM_CASEFOLD | FNM_NOESCAPE) == 0;
}

int DirectoryListing::type_of(const dirent& e) const {
  const std::string path = directory_ + e.d_name;
  switch (e.d_type) {
    case DT_DIR:
      return FileService::kDirectory;
    case DT_LNK:
      return link_type(path);
    case DT_UNKNOWN: {
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0) return FileService::kFile;
      if (S_ISDIR(st.st_mode)) return FileService::kDirectory;
      if (S_ISLNK(st.st_mode)) return link_type(path);
      return FileService::kFile;
    }
    default:
      return FileService::kFile;
  }
}

bool DirectoryListing::next() {
  while (dots_done_ < 2) {
    const char* dot = dots_done_ == 0 ? "." : "..";
    ++dots_done_;
    if (matches(dot)) return present(dot, FileService::kDirectory);
  }
  while (dir_) {
    const dirent* e = ::readdir(dir_.get());
    if (e == nullptr) {
      dir_.reset();  // exhausted: give the descriptor back early
      break;
    }
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (!matches(e->d_name)) continue;
    return present(e->d_name, type_of(*e));
  }
  name_.clear();
  type_ = FileService::kNoListing;
  return false;
}

bool DirectoryListing::present(const char* entry, int entry_type) {
  name_ = entry;
  type_ = entry_type;
  return true;
}

// The listing operations of FileService.

DirectoryListing* FileService::listing(int slot) const { return slot_entry(listings_, slot); }

int FileService::examine_directory(int slot, const Text& path, const Text& pattern) {
  if (!claim_slot(listings_, slot)) return 0;
  listing_errors_.resize(listings_.size());
  int& error = listing_errors_[static_cast<size_t>(slot)];
  error = 0;
  if (path.find(u'\0') != Text::npos || pattern.find(u'\0') != Text::npos) return 0;
  errno = 0;
  auto opened = DirectoryListing::open(to_utf8(path), to_utf8(pattern));
  if (!opened) {
    error = errno;
    return 0;
  }
  listings_[static_cast<size_t>(slot)] = std::move(opened);
  return 1;
}

int FileService::listing_error(int slot) const {
  if (slot < 0 || static_cast<size_t>(slot) >= listing_errors_.size()) return 0;
  return listing_errors_[static_cast<size_t>(slot)];
}

int FileService::next_directory_entry(int slot) {
  DirectoryListing* l = listing(slot);
  return l != nullptr && l->next() ? 1 : 0;
}

int FileService::directory_entry_type(int slot) {
  const DirectoryListing* l = listing(slot);
  return l == nullptr ? kNoListing : l->type();
}

Text FileService::directory_entry_name(int slot) {
  const DirectoryListing* l = listing(slot);
  return l == nullptr ? Text() : from_utf8(l->name());
}

}  // namespace mpo
