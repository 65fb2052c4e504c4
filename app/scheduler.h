// The order in which a batch's entries are converted: one after another, or
// on several workers at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/batch.h"
#include "app/extra_outputs.h"
#include "app/front_end.h"
#include "image/image_service.h"
#include "io/files.h"

namespace mpo {

struct Schedule {
  int jobs = 1;             // entries converted at once
  int pause_ms = 200;       // after every entry of a serial run
  bool keep_going = false;  // go on past an entry that would stop the batch
  ExtraOutputs extras;      // handed to every entry processor
  // Bytes the batch may take, shared among the workers: an entry beyond its
  // worker's share stops (app/entry_budget.h). Negative: not checked.
  int64_t memory_available = -1;
};

// The workers a run starts: no more than `schedule.jobs`, the `groups` of
// entries, the `cores` and the camera-size entries that fit the memory at
// once; at least one.
int planned_workers(const Schedule& schedule, size_t groups, int cores);

// The processors this process may run on.
int usable_cores();

struct BatchTally {
  int entries = 0;             // entries started
  bool stopped = false;        // an entry stopped the batch
  bool output_failed = false;  // some requested output was not written
};

// Converts the entries in list order with the given services (one
// worker), or on planned_workers() workers with services of their own: the
// calling thread and further threads, as many as can be started (a note
// says so when that is fewer). Each entry's messages reach `reporter`
// together when the entry ends, and entry_done counts the entries in the
// order they end. Further threads hold SIGINT, SIGTERM and SIGHUP back.
BatchTally convert_entries(FileService& files, ImageService& images, Reporter& reporter,
                           const std::vector<Entry>& entries, OptionFlags flags,
                           const Schedule& schedule);

}  // namespace mpo
