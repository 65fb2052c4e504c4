#include "app/named_paths.h"

#include <stdlib.h>

#include <cerrno>
#include <memory>
#include <set>
#include <string>

#include "app/discovery.h"
#include "app/output_failure.h"
#include "app/split.h"
#include "app/texts.h"
#include "io/folders.h"
#include "io/paths.h"

namespace mpo {

namespace {

Text with_slash(const Text& folder) {
  return !folder.empty() && folder.back() == u'/' ? folder : folder + u"/";
}

// The file's own identity for spotting repeats: its resolved path, or the
// name itself when it cannot be resolved.
std::string identity(const Text& path) {
  const std::string name = to_utf8(path);
  std::unique_ptr<char, decltype(&free)> resolved(realpath(name.c_str(), nullptr), &free);
  return resolved ? std::string(resolved.get()) : name;
}

}  // namespace

std::vector<ListedPath> list_named_paths(FileService& files, Reporter& reporter,
                                         const std::vector<Text>& paths, bool detailed,
                                         bool& failed) {
  std::vector<ListedPath> listed;
  std::vector<UnreadableFolder> unreadable;
  for (const Text& path : paths) {
    const int64_t size = FileService::file_size(path);
    if (size == -2) {
      const Text root = with_slash(path);
      listed.push_back({root, list_mpo_files(files, root, u"*", u"mpo", 0, &unreadable)});
    } else if (size >= 0 && list_mpo_file(files, path)) {
      listed.push_back({path_part(path), 1});
    } else {
      const Text why = size >= 0 ? Text(texts::kNotAnMpo) + path
                                 : path + u": " + failure_reason_text(ENOENT);
      reporter.show_message(texts::kErrorTitle, why);
      failed = true;
    }
  }
  for (const UnreadableFolder& folder : unreadable) {
    Text text = texts::kFolderUnreadable + folder.path;
    if (detailed) text += u": " + failure_reason_text(folder.error);
    reporter.show_message(texts::kErrorInfoTitle, text);
    failed = true;
  }
  return listed;
}

void place_outputs(std::vector<Entry>& entries, const std::vector<ListedPath>& listed,
                   const Text& output_dir) {
  const Text out = with_slash(output_dir);
  size_t next = 0;
  for (const ListedPath& from : listed) {
    for (int i = 0; i < from.count && next < entries.size(); ++i, ++next) {
      const Text base = base_path_of(entries[next].mpo_path);
      const bool below = base.compare(0, from.root.size(), from.root) == 0;
      entries[next].output_base = out + (below ? base.substr(from.root.size()) : base);
    }
  }
}

void drop_repeats(std::vector<Entry>& entries) {
  std::set<std::string> seen;
  std::vector<Entry> kept;
  kept.reserve(entries.size());
  for (Entry& e : entries) {
    if (seen.insert(identity(e.mpo_path)).second) kept.push_back(std::move(e));
  }
  entries = std::move(kept);
}

bool make_output_folders(const std::vector<Entry>& entries, Reporter& reporter) {
  std::set<Text> done;
  bool all = true;
  for (const Entry& e : entries) {
    const Text folder = path_part(e.output_base);
    if (folder.empty() || !done.insert(folder).second) continue;
    const int error = make_folders(folder);
    if (error == 0) continue;
    reporter.show_message(texts::kErrorInfoTitle, texts::kFolderNotCreated + folder + u": " +
                                                      failure_reason_text(error));
    all = false;
  }
  return all;
}

}  // namespace mpo
