// The batch driver: the phases of a run (the desktop's prompts, listing,
// batch) and the closing sequence.
#pragma once

#include <vector>

#include "app/extra_outputs.h"
#include "app/front_end.h"
#include "image/image_service.h"
#include "io/files.h"
#include "io/text.h"

namespace mpo {

struct RunConfig {
  // Without prompts the run starts at `start_path` with `options`.
  OptionFlags options;
  Text start_path;  // a directory, or a file whose directory is used
  // Named paths (command line): a folder stands for every MPO in and below
  // it, a file for that file only. When given, start_path is not used.
  std::vector<Text> paths;
  // When not empty, every output goes below this folder, at the MPO's path
  // relative to the named path it was found under; nothing is written next
  // to the MPOs.
  Text output_dir;
  ExtraOutputs extras;  // the command line's further outputs and reports
  // The list file; relative names lie in the working directory.
  Text list_file = u"mpofile.txt";
  int pause_ms = 200;       // after every entry
  bool keep_going = false;  // go on past an entry that would stop the batch
  int jobs = 1;             // entries converted at once (command line only)
  // Bytes the batch may take (app/entry_budget.h); an entry that would not
  // fit its share stops. Negative: not checked (the desktop program).
  int64_t memory_available = -1;
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

// The desktop program's run: fonts, options window, instructions and file
// requester, then the batch in the chosen file's folder and below.
RunResult run_desktop(FileService& files, ImageService& images, Reporter& reporter,
                      DesktopPrompts& prompts, const RunConfig& config);

// A run without prompts: the batch over config.paths, or else from
// config.start_path, with config.options. An MPO reached twice (named
// twice, or named and inside a named folder, also through links) is
// converted once, where it was first reached. A named file without the
// extension "mpo" is reported and counts as an output not written.
RunResult run_batch(FileService& files, ImageService& images, Reporter& reporter,
                    const RunConfig& config);

}  // namespace mpo
