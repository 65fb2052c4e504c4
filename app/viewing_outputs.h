// The command line's viewing formats as files: anaglyph, cross-eyed pair
// and TV frame, encoded at the chosen quality with the MPO's Exif segment.
// Where the entry's side-by-side image was drawn, the anaglyph and the pair
// go to the encoder row by row from its rows; otherwise, and for the TV
// frame, each is drawn onto its own image slot first.
#pragma once

#include "app/composites.h"
#include "app/extra_outputs.h"
#include "app/front_end.h"
#include "image/image_service.h"
#include "io/files.h"
#include "io/memory.h"
#include "io/text.h"

namespace mpo {

// What the viewing formats are drawn from.
struct Sources {
  const Halves& halves;
  // This entry's side-by-side image of the halves when it was drawn (the
  // formats are then read from its rows), else no pixels.
  PixelView side_by_side;
  const MemoryBlock& exif_segment;
};

// Writes base path + "_ana.jpg", "_x.jpg", "_tv.jpg" as `extra` asks, each
// with the MPO's Exif segment right after the start of the image. Each one
// that cannot be drawn (unusable halves: none is) or saved shows its
// "Fehlerinfo" message and leaves no file behind. True when
// every requested one was written.
bool write_viewing_formats(ImageService& images, Reporter& ui, const Text& base_path,
                           const Sources& from, const ExtraOutputs& extra);

}  // namespace mpo
