// The command line's display formats as files (render/display_formats):
// the over-under picture, the anaglyph types besides red-cyan and the
// interleaved frames, each encoded row by row at the chosen quality with the
// MPO's Exif segment in place of the JFIF header. They are read from the
// entry's side-by-side image; where no composite drew it, it is drawn from
// the grids into a slot of its own.
#pragma once

#include "app/viewing_outputs.h"

namespace mpo {

// True when `extra` asks for any display format.
bool wants_display_formats(const ExtraOutputs& extra);

// Writes base path + "_ou.jpg", "_ana-TYPE.jpg", "_rows.jpg", "_cols.jpg"
// and "_checker.jpg" as `extra` asks. The interleaved frames keep their
// colour at full resolution, so that neighbouring lines of the two eyes do
// not bleed into each other. Each one that cannot be drawn (unusable
// halves: none is) or saved shows its "Fehlerinfo" message and leaves no
// file behind. True when every requested one was written.
bool write_display_formats(ImageService& images, Reporter& ui, const Text& base_path,
                           const Sources& from, const ExtraOutputs& extra);

}  // namespace mpo
