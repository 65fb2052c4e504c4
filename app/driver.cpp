#include "app/driver.h"

#include <sys/mman.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "app/batch.h"
#include "app/discovery.h"
#include "image/jpeg_codec.h"
#include "io/paths.h"

namespace mpo {

namespace {

const Text kInstructions =
    u"Mit dem folgenden Auswahlmen\u00fc w\u00e4hlen Sie in dem betreffenden Verzeichnis nur eine "
    u"MPO-Datei aus.Damit sind s\u00e4mtliche MPO-Dateien dieses Verzeichnisses zur Bearbeitung "
    u"ausgew\u00e4hlt. Es entstehen folgende Bilder:\r"
    u"- je ein rechtes und linkes Einzelbild\r"
    u"- ein doppelt breites Sidebyside-Bild\r"
    u"- ein doppelt breites Sidebyside-Bild mit Exif - Daten\r"
    u"- je ein Bild SBS und O/U von halber Breite bzw H\u00f6he\r"
    u"Die Bearbeitung erfolgt ohne Verlaufsanzeige und ist mit Ausgabe einer entsprechenden "
    u"Messagebox beendet.";

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

// Every entry allocates the same large blocks again: the file bytes, the
// decoded halves, the composites. By default the allocator hands blocks
// of this size back to the system when they are freed, and the next entry
// pays a page fault for every 4 KiB of them, which costs more than the copies
// into them. Kept in the heap up to the largest size the allocator allows
// (the grids and the side-by-side image are larger; composites.cpp keeps
// those itself), they are reused as they are.
//
// Parallel workers share the one arena: a worker's own arena is made of
// heaps of at most 64 MiB that are handed back as soon as they are empty,
// so the same blocks were faulted in again and the heaps fragmented. The
// workers allocate seldom (a few dozen blocks per entry), so sharing the
// arena's lock costs nothing measurable.
//
// The first entry still finds the heap empty and faults all of it in, a
// few hundred milliseconds at 4 KiB a page. The heap's next part, as much as
// the workers' blocks of 10-megapixel pictures take, is asked for huge pages
// before anything touches it: taken and given back at once, it stays
// reserved but untouched, so it costs no memory until it is used.
void keep_large_blocks_in_heap(int jobs) {
#if defined(__GLIBC__) && defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD) && \
    defined(M_ARENA_MAX) && defined(MADV_HUGEPAGE)
  constexpr size_t kBlock = size_t{30} << 20;  // below the mmap threshold: from the heap
  constexpr int kBlocksPerJob = 5;              // slots 3, 4, 6 and 7, file bytes and buffers
  constexpr int kMostJobs = 6;                  // the reserve stays below the trim threshold
  static std::once_flag once, shared;
  static int reserved_jobs = 0;
  static std::mutex reserve;
  std::call_once(once, [] {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
  });
  if (jobs > 1) std::call_once(shared, [] { mallopt(M_ARENA_MAX, 1); });

  std::lock_guard lock(reserve);
  const int more = std::min(jobs, kMostJobs) - reserved_jobs;
  if (more <= 0) return;
  reserved_jobs += more;
  std::vector<void*> blocks;
  for (int i = 0; i < more * kBlocksPerJob; ++i) {
    void* block = std::malloc(kBlock);
    if (block == nullptr) break;
    blocks.push_back(block);
    const auto begin = reinterpret_cast<uintptr_t>(block);
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (begin + kBlock) & ~(kHuge - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  }
  for (void* block : blocks) std::free(block);
#else
  (void)jobs;
#endif
}

// Sleeps in short slices so that the progress window stays painted.
void pause(Ui& ui, int ms) {
  constexpr int kSlice = 20;
  for (int left = ms; left > 0; left -= kSlice) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, kSlice)));
    ui.keep_painted();
  }
}

// Collects what a parallel worker would show, so that the batch's own Ui
// receives each entry's messages together when the entry ends.
class CollectingUi : public Ui {
 public:
  std::optional<OptionFlags> run_options_window() override { return OptionFlags{}; }
  void show_message(const Text& title, const Text& text) override {
    messages.emplace_back(title, text);
  }
  Text choose_file_to_open(const Text&, const Text&, const Text&, int) override { return {}; }
  void show_progress_window(const Text&) override {}
  std::vector<std::pair<Text, Text>> messages;
};

void run_serial(FileService& files, ImageService& images, Ui& ui, const RunConfig& config,
                const std::vector<Entry>& entries, OptionFlags flags, RunResult& result) {
  EntryProcessor processor(files, images, ui);
  const int total = static_cast<int>(entries.size());
  for (const Entry& entry : entries) {
    ++result.entries;
    const EntryResult r = processor.process(entry, flags);
    result.output_failed = result.output_failed || r.output_failed;
    ui.entry_done(result.entries, total, base_path_of(entry.mpo_path));
    if (r.stop != StopReason::none) {
      result.stopped = true;
      if (!config.keep_going) return;
      continue;
    }
    pause(ui, config.pause_ms);
  }
}

void run_parallel(Ui& ui, const RunConfig& config, const std::vector<Entry>& entries,
                  OptionFlags flags, RunResult& result) {
  const int total = static_cast<int>(entries.size());
  std::atomic<int> next{0};
  std::atomic<bool> halt{false};
  std::mutex mutex;  // guards ui and result
  int done = 0;

  // Entries whose outputs share names (a.mpo and a.MPO) form one group and
  // run one after another in list order on one worker, as in a serial run;
  // groups are handed out in the order of their first entry.
  std::vector<std::vector<size_t>> groups;
  {
    std::map<Text, size_t> group_of;
    for (size_t i = 0; i < entries.size(); ++i) {
      const auto [it, added] = group_of.emplace(base_path_of(entries[i].mpo_path), groups.size());
      if (added) groups.emplace_back();
      groups[it->second].push_back(i);
    }
  }
  const int group_count = static_cast<int>(groups.size());

  auto worker = [&] {
    FileService files;
    ImageService images;
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
    CollectingUi collected;
    EntryProcessor processor(files, images, collected);
    OptionFlags own = flags;
    while (!halt.load()) {
      const int g = next.fetch_add(1);
      if (g >= group_count) break;
      for (const size_t i : groups[static_cast<size_t>(g)]) {
        if (halt.load()) break;
        {
          std::lock_guard lock(mutex);
          ++result.entries;
        }
        const EntryResult r = processor.process(entries[i], own);
        std::lock_guard lock(mutex);
        for (const auto& [title, text] : collected.messages) ui.show_message(title, text);
        collected.messages.clear();
        result.output_failed = result.output_failed || r.output_failed;
        ui.entry_done(++done, total, base_path_of(entries[i].mpo_path));
        if (r.stop != StopReason::none) {
          result.stopped = true;
          if (!config.keep_going) halt = true;
        }
      }
    }
  };
  const int jobs = std::min(config.jobs, group_count);
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(jobs));
  for (int j = 0; j < jobs; ++j) threads.emplace_back(worker);
  for (auto& t : threads) t.join();
}

}  // namespace

RunResult run_program(FileService& files, ImageService& images, Ui& ui, const RunConfig& config) {
  RunResult result;
  keep_large_blocks_in_heap(config.jobs);
  ui.load_ui_fonts();
  register_jpeg_decoder(images);
  register_jpeg_encoder(images);

  OptionFlags flags = config.options;
  Text directory;
  if (config.interactive) {
    const auto chosen_flags = ui.run_options_window();
    if (!chosen_flags) {
      result.ended_early = true;
      return result;
    }
    flags = *chosen_flags;
    ui.show_message(u"Anleitung", kInstructions);
    const Text chosen = ui.choose_file_to_open(u"Bitte eine MPO-Datei zum Laden ausw\u00e4hlen", u"",
                                               u"MPO Dateien (*.mpo)|*.MPO|Alle Dateien (*.*)|*.*", 0);
    if (chosen.empty()) {
      ui.show_message(u"Fehler", u"Keine Datei gew\u00e4hlt, beende");
      result.ended_early = true;
      return result;
    }
    directory = path_part(chosen);
  } else {
    directory = FileService::file_size(config.start_path) == -2 ? config.start_path
                                                                 : path_part(config.start_path);
  }

  // Listing. Without a list file of its own the run must not go on: an old
  // list left by a killed run would be converted instead of this folder.
  if (!files.create_file(kListSlot, config.list_file)) {
    ui.show_message(u"Fehler", u"Die Liste der MPO-Dateien konnte nicht angelegt werden\r" +
                                   absolute(config.list_file));
    result.stopped = true;
    return result;
  }
  std::vector<Text> unreadable;
  list_mpo_files(files, directory, u"*", u"mpo", 0, &unreadable);
  // A list that lost lines on a full disk would leave MPOs unconverted
  // without a word.
  if (!files.close_file(kListSlot)) {
    ui.show_message(u"Fehler", u"Die Liste der MPO-Dateien konnte nicht angelegt werden\r" +
                                   absolute(config.list_file));
    FileService::remove_file(config.list_file);
    result.stopped = true;
    return result;
  }
  for (const Text& folder : unreadable) {
    ui.show_message(u"Fehlerinfo", u"Der Ordner konnte nicht gelesen werden\r" + folder);
    result.output_failed = true;
  }
  const bool list_open = files.open_file(kListSlot, config.list_file) != 0;
  if (list_open && config.remove_list_early) FileService::remove_file(config.list_file);
  const std::vector<Entry> entries = read_entries(files, list_open);

  if (config.jobs > 1 && entries.size() > 1) {
    run_parallel(ui, config, entries, flags, result);
  } else {
    run_serial(files, images, ui, config, entries, flags, result);
  }

  ui.show_message(u"Programmende", u"Die Bearbeitung der MPO-Dateien ist beendet");
  files.close_file(kListSlot);
  FileService::remove_file(config.list_file);
  return result;
}

}  // namespace mpo
