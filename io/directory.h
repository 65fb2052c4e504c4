// One running directory listing of a FileService slot. "." and ".." are
// handed out first (made up here, so they come exactly once whatever order
// readdir uses), then the entries readdir gives, filtered by the pattern.
#pragma once

#include <dirent.h>

#include <memory>
#include <string>

#include "io/files.h"

namespace mpo {

class DirectoryListing {
 public:
  // A listing of what `path` joined with `pattern` names (see
  // FileService::examine_directory); null when the directory cannot be read.
  static std::unique_ptr<DirectoryListing> open(const std::string& path,
                                                const std::string& pattern);

  // True while an entry is current.
  bool next();
  // FileService::kDirectory, kDirectoryLink or kFile; kNoListing when no
  // entry is current.
  int type() const { return type_; }
  // The current entry's raw name; empty when there is none.
  const std::string& name() const { return name_; }

 private:
  struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
  };

  bool matches(const char* entry) const;
  int type_of(const dirent& e) const;
  bool present(const char* entry, int entry_type);

  std::unique_ptr<DIR, DirCloser> dir_;
  std::string directory_;  // ends in '/'
  std::string pattern_;    // empty: every entry
  int dots_done_ = 0;
  std::string name_;
  int type_ = FileService::kNoListing;
};

}  // namespace mpo
