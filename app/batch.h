// The per-entry work of a batch: name token, base path, split, decode,
// composites and Exif image of one MPO.
#pragma once

#include <cstddef>
#include <vector>

#include "app/composites.h"
#include "app/exif_image.h"
#include "app/extra_outputs.h"
#include "app/split.h"
#include "app/front_end.h"
#include "image/image_service.h"
#include "io/files.h"

namespace mpo {

struct Entry {
  Text mpo_path;   // first line of the list file entry
  Text base_name;  // second line, as read (lower case)
  // Where the outputs go: base path to which the suffixes are appended.
  // Empty: next to the MPO (its path without the extension).
  Text output_base;
};

// The entry's base path: output_base, or the MPO path without extension.
Text entry_base_path(const Entry& entry);

// For each entry, the first one in list order that writes its output names
// (its own index when none before it does). Every output name is the base
// path and a suffix, and no suffix ends in another: two entries write the
// same names exactly when their base paths are equal.
std::vector<size_t> first_with_same_outputs(const std::vector<Entry>& entries);

struct EntryResult {
  StopReason stop = StopReason::none;
  bool output_failed = false;  // a requested output was not written
};

// Holds what an entry leaves for the next one (slots, grids, name token).
// One per batch or parallel worker; uses that worker's own services.
class EntryProcessor {
 public:
  EntryProcessor(FileService& files, ImageService& images, Reporter& ui,
                 const ExtraOutputs& extra = {})
      : files_(files), images_(images), ui_(ui), extra_(extra) {}

  // Converts one entry. `flags.sbs` is set when `flags.exif` is (the Exif
  // image is built from the side-by-side image). A stop is shown as
  // "Fehler" / reason, CR, MPO path.
  EntryResult process(const Entry& entry, OptionFlags& flags);

 private:
  // The command line's viewing formats and lossless side-by-side.
  // `sbs_drawn`: the side-by-side slot holds this entry's halves.
  void write_extra_outputs(const Text& base_path, const SplitResult& split, bool sbs_drawn,
                           EntryResult& result);
  // The wiggle pictures and the VR photo.
  void write_display_targets(const Text& base_path, const SplitResult& split,
                             EntryResult& result);

  FileService& files_;
  ImageService& images_;
  Reporter& ui_;
  const ExtraOutputs extra_;
  NameToken name_;
  Halves halves_;
};

}  // namespace mpo
