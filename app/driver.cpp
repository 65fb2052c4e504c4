#include "app/driver.h"

#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "app/batch.h"
#include "app/discovery.h"
#include "app/named_paths.h"
#include "app/scheduler.h"
#include "app/texts.h"
#include "image/jpeg_codec.h"
#include "io/paths.h"

namespace mpo {

namespace {

Text absolute(const Text& name) {
  if (!name.empty() && name[0] == u'/') return name;
  std::string cwd(4096, '\0');
  if (getcwd(cwd.data(), cwd.size()) == nullptr) return name;
  cwd.resize(std::char_traits<char>::length(cwd.c_str()));
  Text dir = from_utf8(cwd);
  if (dir.empty() || dir.back() != u'/') dir += u'/';
  return dir + name;
}

// Every entry of the list file in slot 0. When the list file could not be
// opened, end_of_file reports bytes remaining and one empty entry results,
// which stops at its size test.
std::vector<Entry> read_entries(FileService& files, bool list_open) {
  std::vector<Entry> entries;
  while (!files.end_of_file(kListSlot)) {
    Entry e;
    e.mpo_path = from_list_line(files.read_line(kListSlot));
    e.base_name = from_list_line(files.read_line(kListSlot));
    entries.push_back(std::move(e));
    if (!list_open) break;
  }
  return entries;
}

// Where the list comes from: the folder of the desktop's chosen file (or
// the start path), or the command line's named paths.
struct ListSource {
  Text directory;           // used when `paths` is empty
  std::vector<Text> paths;  // named folders and files
};

// Writes the list file of every MPO the source names. Without a list file
// of its own the run must not go on: an old list left by a killed run would
// be converted instead of this folder. A list that lost lines on a full disk
// would leave MPOs unconverted without a word.
bool write_list(FileService& files, Reporter& reporter, const RunConfig& config,
                const ListSource& source, std::vector<ListedPath>& listed, RunResult& result) {
  const Text not_created = Text(texts::kListNotCreated) + u"\r" + absolute(config.list_file);
  if (!files.create_file(kListSlot, config.list_file)) {
    reporter.show_message(texts::kErrorTitle, not_created);
    result.stopped = true;
    return false;
  }
  std::vector<UnreadableFolder> unreadable;
  if (source.paths.empty()) {
    list_mpo_files(files, source.directory, u"*", u"mpo", 0, &unreadable);
  } else {
    listed = list_named_paths(files, reporter, source.paths, config.extras.detailed_failures,
                              result.output_failed);
  }
  if (!files.close_file(kListSlot)) {
    reporter.show_message(texts::kErrorTitle, not_created);
    FileService::remove_file(config.list_file);
    result.stopped = true;
    return false;
  }
  for (const UnreadableFolder& folder : unreadable) {
    reporter.show_message(texts::kErrorInfoTitle, texts::kFolderUnreadable + folder.path);
    result.output_failed = true;
  }
  return true;
}

// The entries of the list, each MPO once, with their output places.
std::vector<Entry> entries_to_convert(FileService& files, Reporter& reporter,
                                      const RunConfig& config, bool list_open,
                                      const std::vector<ListedPath>& listed, RunResult& result) {
  std::vector<Entry> entries = read_entries(files, list_open);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].position = i;
  if (config.paths.empty()) return entries;
  if (!config.output_dir.empty()) place_outputs(entries, listed, config.output_dir);
  drop_repeats(entries);
  drop_own_outputs(entries);
  if (!drop_output_clashes(entries, reporter)) result.output_failed = true;
  if (!make_output_folders(entries, config.output_dir, reporter)) result.output_failed = true;
  return entries;
}

// The listing, the batch and the closing sequence.
RunResult convert_folder(FileService& files, ImageService& images, Reporter& reporter,
                         const RunConfig& config, const ListSource& source, OptionFlags flags) {
  RunResult result;
  register_jpeg_decoder(images);
  register_jpeg_encoder(images);
  std::vector<ListedPath> listed;
  if (!write_list(files, reporter, config, source, listed, result)) return result;
  const bool list_open = files.open_file(kListSlot, config.list_file) != 0;
  if (list_open && config.remove_list_early) FileService::remove_file(config.list_file);
  const std::vector<Entry> entries =
      entries_to_convert(files, reporter, config, list_open, listed, result);

  const Schedule schedule{config.jobs, config.pause_ms, config.keep_going, config.extras,
                          config.memory_available};
  const BatchTally tally = convert_entries(files, images, reporter, entries, flags, schedule);
  result.entries = tally.entries;
  result.stopped = tally.stopped;
  result.output_failed = result.output_failed || tally.output_failed;

  reporter.show_message(texts::kEndTitle, texts::kFinished);
  files.close_file(kListSlot);
  FileService::remove_file(config.list_file);
  return result;
}

}  // namespace

RunResult run_desktop(FileService& files, ImageService& images, Reporter& reporter,
                      DesktopPrompts& prompts, const RunConfig& config) {
  prompts.load_ui_fonts();
  RunResult ended;
  ended.ended_early = true;
  const auto flags = prompts.run_options_window();
  if (!flags) return ended;
  reporter.show_message(texts::kInstructionsTitle, texts::kInstructions);
  const Text chosen = prompts.choose_file_to_open(texts::kRequesterTitle, u"",
                                                  texts::kRequesterPatterns, 0);
  if (chosen.empty()) {
    reporter.show_message(texts::kErrorTitle, texts::kNoFileChosen);
    return ended;
  }
  return convert_folder(files, images, reporter, config, ListSource{path_part(chosen), {}},
                        *flags);
}

RunResult run_batch(FileService& files, ImageService& images, Reporter& reporter,
                    const RunConfig& config) {
  ListSource source{Text(), config.paths};
  if (config.paths.empty()) {
    source.directory = FileService::file_size(config.start_path) == -2
                           ? config.start_path
                           : path_part(config.start_path);
  }
  return convert_folder(files, images, reporter, config, source, config.options);
}

}  // namespace mpo
