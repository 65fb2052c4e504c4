#include "app/scheduler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "image/jpeg_codec.h"

namespace mpo {

namespace {

// Sleeps in short slices so that the progress window stays painted.
void pause(Reporter& reporter, int ms) {
  constexpr int kSlice = 20;
  for (int left = ms; left > 0; left -= kSlice) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, kSlice)));
    reporter.keep_painted();
  }
}

// Collects what a parallel worker would show, so that the batch's own
// reporter receives each entry's messages together when the entry ends.
class CollectingReporter : public Reporter {
 public:
  void show_message(const Text& title, const Text& text) override {
    messages.emplace_back(title, text);
  }
  std::vector<std::pair<Text, Text>> messages;
};

BatchTally run_serial(FileService& files, ImageService& images, Reporter& reporter,
                      const std::vector<Entry>& entries, OptionFlags flags,
                      const Schedule& schedule) {
  BatchTally tally;
  EntryProcessor processor(files, images, reporter);
  const int total = static_cast<int>(entries.size());
  for (const Entry& entry : entries) {
    ++tally.entries;
    const EntryResult r = processor.process(entry, flags);
    tally.output_failed = tally.output_failed || r.output_failed;
    reporter.entry_done(tally.entries, total, base_path_of(entry.mpo_path));
    if (r.stop != StopReason::none) {
      tally.stopped = true;
      if (!schedule.keep_going) break;
      continue;
    }
    pause(reporter, schedule.pause_ms);
  }
  return tally;
}

// Entries whose outputs share names (a.mpo and a.MPO) form one group and
// run one after another in list order on one worker, as in a serial run;
// groups are handed out in the order of their first entry.
std::vector<std::vector<size_t>> group_by_outputs(const std::vector<Entry>& entries) {
  std::vector<std::vector<size_t>> groups;
  std::map<Text, size_t> group_of;
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto [it, added] = group_of.emplace(base_path_of(entries[i].mpo_path), groups.size());
    if (added) groups.emplace_back();
    groups[it->second].push_back(i);
  }
  return groups;
}

// What the workers share: the groups still to hand out and, under the
// mutex, the batch's reporter and tally.
class ParallelRun {
 public:
  ParallelRun(Reporter& reporter, const std::vector<Entry>& entries, OptionFlags flags,
              const Schedule& schedule)
      : reporter_(reporter), entries_(entries), flags_(flags), schedule_(schedule),
        groups_(group_by_outputs(entries)) {}

  BatchTally run() {
    const int jobs = std::min(schedule_.jobs, static_cast<int>(groups_.size()));
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(jobs));
    for (int j = 0; j < jobs; ++j) threads.emplace_back([this] { work(); });
    for (auto& t : threads) t.join();
    return tally_;
  }

 private:
  void work() {
    FileService files;
    ImageService images;
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
    CollectingReporter collected;
    EntryProcessor processor(files, images, collected);
    OptionFlags own = flags_;
    while (!halt_.load()) {
      const size_t g = static_cast<size_t>(next_.fetch_add(1));
      if (g >= groups_.size()) break;
      for (const size_t i : groups_[g]) {
        if (halt_.load()) break;
        {
          std::lock_guard lock(mutex_);
          ++tally_.entries;
        }
        const EntryResult r = processor.process(entries_[i], own);
        finish(entries_[i], r, collected);
      }
    }
  }

  void finish(const Entry& entry, const EntryResult& r, CollectingReporter& collected) {
    std::lock_guard lock(mutex_);
    for (const auto& [title, text] : collected.messages) reporter_.show_message(title, text);
    collected.messages.clear();
    tally_.output_failed = tally_.output_failed || r.output_failed;
    reporter_.entry_done(++done_, static_cast<int>(entries_.size()), base_path_of(entry.mpo_path));
    if (r.stop != StopReason::none) {
      tally_.stopped = true;
      if (!schedule_.keep_going) halt_ = true;
    }
  }

  Reporter& reporter_;
  const std::vector<Entry>& entries_;
  const OptionFlags flags_;
  const Schedule schedule_;
  const std::vector<std::vector<size_t>> groups_;
  std::atomic<int> next_{0};
  std::atomic<bool> halt_{false};
  std::mutex mutex_;  // guards reporter_, tally_ and done_
  BatchTally tally_;
  int done_ = 0;
};

}  // namespace

BatchTally convert_entries(FileService& files, ImageService& images, Reporter& reporter,
                           const std::vector<Entry>& entries, OptionFlags flags,
                           const Schedule& schedule) {
  if (schedule.jobs > 1 && entries.size() > 1) {
    return ParallelRun(reporter, entries, flags, schedule).run();
  }
  return run_serial(files, images, reporter, entries, flags, schedule);
}

}  // namespace mpo
