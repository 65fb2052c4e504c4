#include "app/stereo_outputs.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>

#include "app/composites.h"
#include "app/texts.h"
#include "io/memory_policy.h"
#include "render/corrected_halves.h"
#include "render/stereo_align.h"
#include "render/stereo_window.h"

namespace mpo {

namespace {

void note(Reporter& ui, const char16_t* text, const Text& mpo_path) {
  ui.show_message(texts::kNoteTitle, Text(text) + u"\r" + mpo_path);
}

const char* status_word(AlignStatus status) {
  switch (status) {
    case AlignStatus::aligned: return texts::kStatusAligned;
    case AlignStatus::already_aligned: return texts::kStatusAlreadyAligned;
    case AlignStatus::too_few_matches: return texts::kStatusTooFewMatches;
    case AlignStatus::implausible: return texts::kStatusImplausible;
    case AlignStatus::unequal_halves: return texts::kStatusUnequal;
  }
  return texts::kStatusUnequal;
}

// The alignment measured into the record; the plan that applies it.
StereoPlan align(const ReducedHalf& left, const ReducedHalf& right, const Halves& halves,
                 StereoRecord& record) {
  const AlignResult result = measure_alignment(left, right);
  record.status = status_word(result.status);
  record.aligned = result.status == AlignStatus::aligned ||
                   result.status == AlignStatus::already_aligned ||
                   result.status == AlignStatus::implausible;
  record.shift = result.model.shift;
  record.rotation = result.model.rotation * 180 / M_PI;
  record.scale = std::exp(result.model.log_scale);
  record.matches = result.matches;
  record.residual_mean = result.residual_mean;
  record.residual_p95 = result.residual_p95;
  return alignment_plan(result, halves.width, halves.height);
}

// The window shift measured or given, into the plan and the record; a
// word for the record's status when the window stays as it is.
const char* set_window(const ReducedHalf& left, const ReducedHalf& right,
                       const ExtraOutputs& extra, StereoPlan& plan, StereoRecord& record) {
  const DepthRange depth = measure_depth(left, right, plan);
  int shift = extra.window_pixels;
  if (extra.window == WindowMode::automatic) {
    if (!depth.measured) return texts::kStatusNoDisparity;
    shift = window_shift(depth.near, plan.rect.width);
  }
  if (!apply_window_shift(plan, shift)) return texts::kStatusWindowTooWide;
  record.windowed = true;
  record.window_shift = shift;
  record.depth = depth.measured;
  record.near = depth.near + shift;
  record.far = depth.far + shift;
  record.permille = depth.permille;
  return nullptr;
}

// The top-left w x h part of a slot holding a picture of the halves' full
// size: the previous entry's is kept when it has that size, so a batch of
// one camera's pictures takes no fresh memory for its corrected halves.
PixelView picture_slot(ImageService& images, int slot, const Halves& halves, int64_t w,
                       int64_t h) {
  PixelView view = images.view(slot);
  if (!view.pixels || view.width != halves.width || view.height != halves.height) {
    if (!images.create_image(slot, halves.width, halves.height)) return {};
    view = images.view(slot);
    prefer_huge_pages(view.pixels, view.pitch * view.height);
  }
  // Rows are stored bottom row first: the part's rows end at the top.
  view.pixels += (view.height - h) * view.pitch;
  view.width = w;
  view.height = h;
  return view;
}

// Draws both corrected halves and makes them the halves the formats use.
void apply_plan(ImageService& images, const StereoPlan& plan, Halves& halves) {
  const cv::Rect lc = plan.left_cut(), rc = plan.right_cut();
  const PixelView left = picture_slot(images, kCorrectedLeftSlot, halves, lc.width, lc.height);
  const PixelView right = picture_slot(images, kCorrectedRightSlot, halves, rc.width, rc.height);
  if (!left.pixels || !right.pixels) {
    halves.usable = false;
    return;
  }
  draw_corrected(halves.left_picture, plan.left, plan.resample, lc, left);
  draw_corrected(halves.right_picture, plan.right, plan.resample, rc, right);
  halves.left_picture = left;
  halves.right_picture = right;
  halves.width = lc.width;
  halves.height = lc.height;
  halves.usable = prepare_grid(halves.left, lc.width, lc.height) &&
                  prepare_grid(halves.right, lc.width, lc.height);
}

// Measures the pair and applies what it asks for; OpenCV may throw on
// what it cannot measure.
void measure_and_apply(ImageService& images, Reporter& ui, const Text& mpo_path, Halves& halves,
                       const ExtraOutputs& extra, StereoRecord& record) {
  const ReducedHalf left = reduce_half(halves.left_picture, kAnalysisSide);
  const ReducedHalf right = reduce_half(halves.right_picture, kAnalysisSide);
  StereoPlan plan = identity_plan(halves.width, halves.height);
  if (extra.align) {
    plan = align(left, right, halves, record);
    if (record.status == texts::kStatusTooFewMatches) note(ui, texts::kAlignTooFewMatches, mpo_path);
    if (record.status == texts::kStatusImplausible) note(ui, texts::kAlignImplausible, mpo_path);
  }
  if (extra.window != WindowMode::none) {
    const char* kept = set_window(left, right, extra, plan, record);
    if (kept == texts::kStatusNoDisparity) note(ui, texts::kWindowNoDisparity, mpo_path);
    if (kept == texts::kStatusWindowTooWide) note(ui, texts::kWindowTooWide, mpo_path);
    if (kept && (!extra.align || record.status == texts::kStatusAligned ||
                 record.status == texts::kStatusAlreadyAligned))
      record.status = kept;
    if (record.depth && record.permille > 1000.0 / 30) note(ui, texts::kDepthHardToView, mpo_path);
  }
  if (!plan.changes_nothing()) apply_plan(images, plan, halves);
}

// A pair that cannot be measured at all stays as it is, with the note of
// the first correction asked for.
void leave_unmeasured(Reporter& ui, const Text& mpo_path, const ExtraOutputs& extra,
                      StereoRecord& record) {
  record = StereoRecord{};
  record.status = extra.align ? texts::kStatusTooFewMatches : texts::kStatusNoDisparity;
  note(ui, extra.align ? texts::kAlignTooFewMatches : texts::kWindowNoDisparity, mpo_path);
}

}  // namespace

StereoRecord correct_halves(ImageService& images, Reporter& ui, const Text& mpo_path,
                            Halves& halves, const ExtraOutputs& extra) {
  StereoRecord record;
  record.status = extra.align ? texts::kStatusAlreadyAligned : texts::kStatusWindow;
  if (!halves.usable) {
    record.status = texts::kStatusUnreadable;
    return record;
  }
  if (halves.right_picture.width != halves.width || halves.right_picture.height != halves.height) {
    record.status = texts::kStatusUnequal;
    note(ui, texts::kStereoUnequal, mpo_path);
    return record;
  }
  // Too small for features or disparities: a side of a few pixels.
  if (std::min(halves.width, halves.height) < kMinStereoSide) {
    leave_unmeasured(ui, mpo_path, extra, record);
    return record;
  }
  try {
    measure_and_apply(images, ui, mpo_path, halves, extra, record);
  } catch (const cv::Exception&) {
    // The halves are replaced only after both are drawn: they are intact.
    leave_unmeasured(ui, mpo_path, extra, record);
  }
  return record;
}

}  // namespace mpo
