// The outputs and reports only the command line asks for: viewing formats,
// the lossless side-by-side, the MP index as a second way to split, the
// JPEG quality of every re-encoded output and detailed failure reports.
// The desktop program always runs with the defaults, which leave every
// output and message as they are.
//
// The batch takes it with its services:
//   EntryProcessor(FileService&, ImageService&, Reporter&, const ExtraOutputs&)
// (the last argument defaults to ExtraOutputs{}); the scheduler hands the
// run configuration's copy to every processor it creates.
#pragma once

#include <cstdint>

namespace mpo {

class StereoReport;

// --window: the stereo window left alone, put at the near point, or moved
// by a fixed number of pixels.
enum class WindowMode { none, automatic, fixed };

struct ExtraOutputs {
  bool anaglyph = false;  // base path + "_ana.jpg", W x H
  bool cross = false;     // base path + "_x.jpg", 2W x H
  bool tv = false;        // base path + "_tv.jpg", 1920 x 1080
  bool lossless = false;  // base path + "_sbs-lossless.jpg", not re-encoded
  bool over_under = false;  // base path + "_ou.jpg", W x 2H
  // The other anaglyph types, bit t for AnaglyphType t (render/anaglyph_rows.h;
  // red-cyan, bit 0, is `anaglyph`): base path + "_ana-TYPE.jpg", W x H.
  uint32_t anaglyph_types = 0;
  // Frames interleaved by rows, columns, checkerboard cells (bits 0, 1, 2 as
  // in render/display_formats.h): "_rows.jpg", "_cols.jpg", "_checker.jpg",
  // screen_width x screen_height, the left half on the even lines unless
  // odd_left.
  uint32_t interleaved = 0;
  int screen_width = 1920;
  int screen_height = 1080;
  bool odd_left = false;
  // base path + "_wiggle.webp" and "_wiggle.gif": left and right in turn,
  // the longer side at most 1200 pixels.
  bool wiggle = false;
  // base path + "_vr.jpg": the left half's JPEG carrying the right half's
  // in XMP, placed in a panorama for a horizontal field of view of `fov`
  // degrees (1..360).
  bool vr = false;
  int fov = 60;
  // Split at the MP index's second image when the byte search finds none.
  bool mp_index = false;
  int quality = 70;  // JPEG quality 1..100 of every re-encoded output
  // Every output not written is reported with its file name and the
  // system's reason (command line only).
  bool detailed_failures = false;
  // Bytes one entry may take (app/entry_budget.h); negative: no limit. The
  // scheduler sets each worker's share.
  int64_t entry_memory = -1;
  // Stereo correction (command line only): the halves' vertical
  // misalignment removed, the stereo window set; every drawn format then
  // comes from the corrected halves, which are also written as
  // base path + "_aligned.mpo".
  bool align = false;
  WindowMode window = WindowMode::none;
  int window_pixels = 0;  // the shift of WindowMode::fixed
  // Where each entry's line of the stereo report goes; null: nowhere.
  StereoReport* report = nullptr;
  bool corrects_stereo() const { return align || window != WindowMode::none; }
  bool operator==(const ExtraOutputs&) const = default;
};

}  // namespace mpo
