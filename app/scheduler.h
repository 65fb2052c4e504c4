// The order in which a batch's entries are converted: one after another, or
// on several workers at once.
#pragma once

#include <vector>

#include "app/batch.h"
#include "app/front_end.h"
#include "image/image_service.h"
#include "io/files.h"

namespace mpo {

struct Schedule {
  int jobs = 1;             // entries converted at once
  int pause_ms = 200;       // after every entry of a serial run
  bool keep_going = false;  // go on past an entry that would stop the batch
};

struct BatchTally {
  int entries = 0;             // entries started
  bool stopped = false;        // an entry stopped the batch
  bool output_failed = false;  // some requested output was not written
};

// Converts the entries in list order with the given services (one job or
// one entry), or on `schedule.jobs` workers with services of their own.
// Each entry's messages reach `reporter` together when the entry ends, and
// entry_done counts the entries in the order they end.
BatchTally convert_entries(FileService& files, ImageService& images, Reporter& reporter,
                           const std::vector<Entry>& entries, OptionFlags flags,
                           const Schedule& schedule);

}  // namespace mpo
