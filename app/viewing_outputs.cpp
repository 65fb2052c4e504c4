#include "app/viewing_outputs.h"

#include <array>
#include <cerrno>

#include "app/output_failure.h"
#include "app/texts.h"
#include "app/viewing_formats.h"
#include "image/jpeg_codec.h"
#include "io/memory_policy.h"

namespace mpo {

namespace {

struct ViewingFormat {
  bool ExtraOutputs::*wanted;
  int slot;
  const char16_t* suffix;
  const char16_t* failure_text;
  bool (*draw)(const Halves&, const PixelView&);
  // From the side-by-side image, where that is faster; or null.
  bool (*draw_from_sbs)(const PixelView&, const PixelView&);
};

constexpr std::array<ViewingFormat, 3> kFormats = {{
    {&ExtraOutputs::anaglyph, kAnaglyphSlot, texts::kAnaglyphSuffix, texts::kAnaglyphFailed,
     draw_anaglyph, draw_anaglyph},
    {&ExtraOutputs::cross, kCrossSlot, texts::kCrossSuffix, texts::kCrossFailed, draw_cross,
     draw_cross},
    {&ExtraOutputs::tv, kTvSlot, texts::kTvSuffix, texts::kTvFailed, draw_tv_frame,
     draw_tv_frame},
}};

// The slot's image as a w x h canvas. The previous entry's is kept when it
// has this size: every format writes each of its pixels.
PixelView canvas_of(ImageService& images, int slot, int64_t w, int64_t h) {
  PixelView view = images.view(slot);
  if (view.pixels && view.width == w && view.height == h &&
      images.get_image_source_depth(slot) == 24) {
    return view;
  }
  if (!images.create_image(slot, w, h)) return {};
  view = images.view(slot);
  prefer_huge_pages(view.pixels, view.pitch * view.height);
  return view;
}

PixelView canvas_for(ImageService& images, const ViewingFormat& f, const Halves& halves) {
  if (f.slot == kTvSlot) return canvas_of(images, f.slot, kTvFrameWidth, kTvFrameHeight);
  const int64_t w = f.slot == kCrossSlot ? 2 * halves.width : halves.width;
  return canvas_of(images, f.slot, w, halves.height);
}

// Draws and saves one format, the MPO's Exif segment (if any) in place of
// the JFIF header; on failure `reason` says why.
bool write_format(ImageService& images, const ViewingFormat& f, const Text& name,
                  const Sources& from, const ExtraOutputs& extra, int& reason) {
  const Halves& halves = from.halves;
  PixelView canvas;
  if (halves.usable) canvas = canvas_for(images, f, halves);
  const bool drawn = canvas.pixels && (from.side_by_side.pixels && f.draw_from_sbs
                                           ? f.draw_from_sbs(from.side_by_side, canvas)
                                           : f.draw(halves, canvas));
  const MemoryBlock& exif = from.exif_segment;
  errno = 0;
  const bool saved =
      drawn && (exif ? images.save_image_with_app1(
                           f.slot, name, kJpegEncoderId, quality_level(extra),
                           {exif.data(), static_cast<size_t>(exif.size())}) != 0
                     : images.save_image(f.slot, name, kJpegEncoderId, quality_level(extra)) != 0);
  if (!saved) reason = save_reason(halves.usable, drawn ? canvas : PixelView{});
  return saved;
}

}  // namespace

bool write_viewing_formats(ImageService& images, Reporter& ui, const Text& base_path,
                           const Sources& from, const ExtraOutputs& extra) {
  const FailureReport report(ui, extra.detailed_failures);
  bool all = true;
  for (const ViewingFormat& f : kFormats) {
    if (!(extra.*f.wanted)) continue;
    const Text name = base_path + f.suffix;
    int reason = kReasonUnknown;
    if (!write_format(images, f, name, from, extra, reason)) {
      all = false;
      report.output_failed(f.failure_text, name, reason);
    }
  }
  return all;
}

}  // namespace mpo
