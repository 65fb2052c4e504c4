// Decoding both halves of an entry into pixel grids, and the stereo
// composites built from them: side-by-side, half-width side-by-side and
// over/under.
#pragma once

#include <cstdint>
#include <memory>

#include "app/extra_outputs.h"
#include "app/front_end.h"
#include "app/image_slots.h"
#include "render/halves.h"
#include "image/image_service.h"
#include "io/text.h"

namespace mpo {

// Loads the left file into slot 3 and the right one into slot 4 and makes
// room for both grids. Where a right half smaller than the left has no
// pixel, the grid will be black; a larger right half gives its top-left
// W x H part.
void decode_halves(ImageService& images, const Text& left_name, const Text& right_name,
                   Halves& halves);

// The image in `slot` as a w x h canvas: the previous entry's memory is kept
// when it has room for this size (every format writes each of its pixels),
// else a fresh one with room for room_w x room_h as well, so that the
// corrected halves of a camera's later entries, cut to other sizes, fit in
// it. No pixels when it cannot be had.
PixelView canvas_of(ImageService& images, int slot, int64_t w, int64_t h, int64_t room_w = 0,
                    int64_t room_h = 0);

// Makes `grid` a grid with the bounds W and H for a fill that writes every
// element with x < W and y < H; false when out of memory.
bool prepare_grid(PixelGrid& grid, int64_t W, int64_t H);

struct CompositeOutcome {
  bool sbs_written = false;
  bool any_failed = false;
};

// Fills the grids of usable halves (for the viewing formats too, so even
// when no composite is asked for) and builds the composites the flags ask
// for, in the order sbs, sbsh, ouh, and
// saves them as base path + "_sbs.jpg", "_sbsh.jpg", "_ouh.jpg" at
// extra.quality. A composite that cannot be built or saved shows its
// "Fehlerinfo" message (with file and reason for extra.detailed_failures);
// the others go on.
CompositeOutcome build_composites(ImageService& images, Reporter& ui, const Text& base_path,
                                  const OptionFlags& flags, Halves& halves,
                                  const ExtraOutputs& extra = {});

// The quality level save_image takes for extra.quality.
int32_t quality_level(const ExtraOutputs& extra);

// Why a save onto `canvas`, `width` pixels wide, failed: the halves, the
// canvas (too wide for an image, or no memory) or the reason the image
// service recorded.
int save_reason(const ImageService& images, bool usable, const PixelView& canvas, int64_t width);

}  // namespace mpo
