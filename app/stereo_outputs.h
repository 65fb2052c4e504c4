// The stereo correction of one entry (command line only): the decoded
// halves measured, aligned and put behind the stereo window as the options
// ask, so that every format drawn afterwards shows the corrected pair.
#pragma once

#include "app/extra_outputs.h"
#include "app/front_end.h"
#include "app/image_slots.h"
#include "app/report.h"
#include "image/image_service.h"
#include "render/halves.h"

namespace mpo {

// Long side of the grey copies features are matched on.
constexpr int kAnalysisSide = 1280;
// Halves with a side below this hold no feature patch (31 pixels with its
// border on each side) and no disparity block: they are left as they are.
constexpr int64_t kMinStereoSide = 64;

// Measures the usable halves and, where the options and the measurements
// call for it, replaces the halves' pictures by corrected ones (their own
// slots, equal sizes) and their grids by grids of that size. A pair that
// cannot be measured stays as it is with a note ("Hinweis", text, MPO
// path); so does one with halves of different sizes. The record says what
// was measured and done.
StereoRecord correct_halves(ImageService& images, Reporter& ui, const Text& mpo_path,
                            Halves& halves, const ExtraOutputs& extra);

}  // namespace mpo
