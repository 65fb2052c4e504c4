// The batch driver: start-up, the phases (options, instructions, file
// choice, listing, batch) and the closing sequence.
#pragma once

#include <cstdint>
#include <functional>

#include "app/ui.h"
#include "image/image_service.h"
#include "io/files.h"
#include "io/text.h"

namespace mpo {

struct RunConfig {
  // Desktop: options window, instructions and file requester. Otherwise the
  // run starts at `start_path` with `options`.
  bool interactive = true;
  OptionFlags options;
  Text start_path;  // a directory, or a file whose directory is used
  // The list file; relative names lie in the working directory.
  Text list_file = u"mpofile.txt";
  int pause_ms = 200;       // after every entry
  bool keep_going = false;  // go on past an entry that would stop the batch
  int jobs = 1;             // entries converted at once (command line only)
  // Remove the list file as soon as it is open for reading, so that a run
  // killed during the batch leaves nothing behind.
  bool remove_list_early = false;
};

struct RunResult {
  bool ended_early = false;    // options window closed or no file chosen
  bool stopped = false;        // an entry stopped the batch
  bool output_failed = false;  // some requested output was not written
  int entries = 0;             // entries started
  int exit_status() const { return (stopped || output_failed) ? 1 : 0; }
};

RunResult run_program(FileService& files, ImageService& images, Ui& ui, const RunConfig& config);

}  // namespace mpo
