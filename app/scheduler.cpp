#include "app/scheduler.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "app/entry_budget.h"
#include "app/texts.h"
#include "image/jpeg_codec.h"
#include "io/interrupts.h"

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

// The extras of one worker's processor, with its share of the memory.
ExtraOutputs worker_extras(const Schedule& schedule, int workers) {
  ExtraOutputs extras = schedule.extras;
  extras.entry_memory = schedule.memory_available < 0 ? -1 : schedule.memory_available / workers;
  return extras;
}

BatchTally run_serial(FileService& files, ImageService& images, Reporter& reporter,
                      const std::vector<Entry>& entries, OptionFlags flags,
                      const Schedule& schedule) {
  BatchTally tally;
  EntryProcessor processor(files, images, reporter, worker_extras(schedule, 1));
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

// Entries whose outputs share names (a.mpo and a.MPO, or x.mpo of two named
// folders written below one output folder) form one group and run one
// after another in list order on one worker, as in a serial run; groups are
// handed out in the order of their first entry. (The command line converts
// only the first of them; the desktop program all.)
std::vector<std::vector<size_t>> group_by_outputs(const std::vector<Entry>& entries) {
  std::vector<std::vector<size_t>> groups;
  std::map<size_t, size_t> group_of;
  const std::vector<size_t> first = first_with_same_outputs(entries);
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto [it, added] = group_of.emplace(first[i], groups.size());
    if (added) groups.emplace_back();
    groups[it->second].push_back(i);
  }
  return groups;
}

// What the workers share: the groups still to hand out and, under the
// mutex, the batch's reporter and tally.
class ParallelRun {
 public:
  ParallelRun(Reporter& reporter, const std::vector<Entry>& entries,
              std::vector<std::vector<size_t>> groups, OptionFlags flags,
              const Schedule& schedule, int workers)
      : reporter_(reporter), entries_(entries), flags_(flags), schedule_(schedule),
        groups_(std::move(groups)), workers_(workers),
        extras_(worker_extras(schedule, workers)) {}

  // The calling thread works beside the threads that could be started.
  BatchTally run() {
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(workers_ - 1));
    try {
      while (static_cast<int>(threads.size()) < workers_ - 1) {
        threads.emplace_back([this] {
          hold_interrupts_in_this_thread();
          work();
        });
      }
    } catch (const std::system_error&) {
      note_fewer_workers(static_cast<int>(threads.size()) + 1);
    }
    work();
    for (auto& t : threads) t.join();
    return tally_;
  }

 private:
  void note_fewer_workers(int started) {
    const Text text = texts::kOnlySome + from_utf8(std::to_string(started)) + texts::kOfPlanned +
                      from_utf8(std::to_string(workers_)) + texts::kWorkersStarted;
    std::lock_guard lock(mutex_);
    reporter_.show_message(texts::kNoteTitle, text);
  }

  void work() {
    FileService files;
    ImageService images;
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
    CollectingReporter collected;
    EntryProcessor processor(files, images, collected, extras_);
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
  const int workers_;
  const ExtraOutputs extras_;
  std::atomic<int> next_{0};
  std::atomic<bool> halt_{false};
  std::mutex mutex_;  // guards reporter_, tally_ and done_
  BatchTally tally_;
  int done_ = 0;
};

}  // namespace

int planned_workers(const Schedule& schedule, size_t groups, int cores) {
  int64_t workers = std::min<int64_t>({schedule.jobs, static_cast<int64_t>(groups), cores});
  if (schedule.memory_available >= 0) {
    workers = std::min(workers, schedule.memory_available / kTypicalEntryBytes);
  }
  return static_cast<int>(std::max<int64_t>(workers, 1));
}

int usable_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(CPU_COUNT(&set), 1);
  return static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
}

BatchTally convert_entries(FileService& files, ImageService& images, Reporter& reporter,
                           const std::vector<Entry>& entries, OptionFlags flags,
                           const Schedule& schedule) {
  if (schedule.jobs > 1 && entries.size() > 1) {
    std::vector<std::vector<size_t>> groups = group_by_outputs(entries);
    const int workers = planned_workers(schedule, groups.size(), usable_cores());
    if (workers > 1) {
      return ParallelRun(reporter, entries, std::move(groups), flags, schedule, workers).run();
    }
  }
  return run_serial(files, images, reporter, entries, flags, schedule);
}

}  // namespace mpo
