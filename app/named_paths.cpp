#include "app/named_paths.h"

#include <stdlib.h>

#include <cerrno>
#include <map>
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

void drop_own_outputs(std::vector<Entry>& entries) {
  std::set<Text> own;
  for (const Entry& e : entries) own.insert(entry_base_path(e) + texts::kAlignedSuffix);
  std::erase_if(entries, [&own](const Entry& e) { return own.contains(e.mpo_path); });
}

bool drop_output_clashes(std::vector<Entry>& entries, Reporter& reporter) {
  const std::vector<size_t> first = first_with_same_outputs(entries);
  std::vector<Entry> kept;
  kept.reserve(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    if (first[i] == i) {
      kept.push_back(entries[i]);
      continue;
    }
    reporter.show_message(texts::kErrorTitle, entries[i].mpo_path + texts::kSameOutputNames +
                                                  entries[first[i]].mpo_path);
  }
  const bool none = kept.size() == entries.size();
  entries = std::move(kept);
  return none;
}

namespace {

// Creates `folder` unless a folder above it already failed (that one was
// reported, and is the cause). False when it does not exist afterwards.
bool make_output_folder(const Text& folder, std::vector<Text>& failed, Reporter& reporter) {
  for (const Text& above : failed) {
    if (folder.compare(0, above.size(), above) == 0) return false;
  }
  const int error = make_folders(folder);
  if (error == 0) return true;
  reporter.show_message(texts::kErrorInfoTitle,
                        texts::kFolderNotCreated + folder + u": " + failure_reason_text(error));
  failed.push_back(with_slash(folder));
  return false;
}

}  // namespace

bool make_output_folders(std::vector<Entry>& entries, const Text& output_dir,
                         Reporter& reporter) {
  std::vector<Text> failed;
  std::map<Text, bool> made;
  // The output folder first: where it cannot be made, that is the one cause.
  if (!output_dir.empty()) made.emplace(with_slash(output_dir), true);
  for (const Entry& e : entries) made.emplace(path_part(e.output_base), true);
  for (auto& [folder, ok] : made) {
    if (!folder.empty()) ok = make_output_folder(folder, failed, reporter);
  }
  std::vector<Entry> kept;
  kept.reserve(entries.size());
  for (Entry& e : entries) {
    if (made.at(path_part(e.output_base))) kept.push_back(std::move(e));
  }
  const bool all = kept.size() == entries.size();
  entries = std::move(kept);
  return all;
}

}  // namespace mpo
