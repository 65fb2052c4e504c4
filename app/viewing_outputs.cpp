#include "app/viewing_outputs.h"

#include <array>
#include <cerrno>
#include <memory>
#include <new>
#include <span>

#include "app/output_failure.h"
#include "app/texts.h"
#include "render/viewing_formats.h"
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
  // From the side-by-side image, where that is faster: the picture, or its
  // rows straight to the encoder (row_width halves wide); null where not.
  bool (*draw_from_sbs)(const PixelView&, const PixelView&);
  void (*row_from_sbs)(const PixelView&, int64_t, uint8_t*);
  int row_width;
};

constexpr std::array<ViewingFormat, 3> kFormats = {{
    {&ExtraOutputs::anaglyph, kAnaglyphSlot, texts::kAnaglyphSuffix, texts::kAnaglyphFailed,
     draw_anaglyph, nullptr, anaglyph_row, 1},
    {&ExtraOutputs::cross, kCrossSlot, texts::kCrossSuffix, texts::kCrossFailed, draw_cross,
     nullptr, cross_row, 2},
    {&ExtraOutputs::tv, kTvSlot, texts::kTvSuffix, texts::kTvFailed, draw_tv_frame,
     draw_tv_frame, nullptr, 0},
}};

// A format's rows made one at a time from the side-by-side image's.
struct SbsRows {
  const PixelView& sbs;
  void (*make)(const PixelView&, int64_t, uint8_t*);
  uint8_t* buffer;

  static const uint8_t* row(void* context, int32_t y) {
    auto* self = static_cast<SbsRows*>(context);
    self->make(self->sbs, y, self->buffer);
    return self->buffer;
  }
};

// Encodes a format straight from the side-by-side image's rows.
bool save_from_rows(ImageService& images, const ViewingFormat& f, const Text& name,
                    const Sources& from, const ExtraOutputs& extra, int& reason) {
  const PixelView& sbs = from.side_by_side;
  const int64_t width = f.row_width * (sbs.width / 2);
  std::unique_ptr<uint8_t[]> buffer;
  try {
    buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(3 * width));
  } catch (const std::bad_alloc&) {
    reason = ENOMEM;
    return false;
  }
  SbsRows rows{sbs, f.row_from_sbs, buffer.get()};
  if (images.save_rows(RowSource{SbsRows::row, &rows}, width, sbs.height, name, kJpegEncoderId,
                       quality_level(extra), from.exif_segment.bytes()) != 0) {
    return true;
  }
  reason = images.save_error() != 0 ? images.save_error() : kReasonUnknown;
  return false;
}

int64_t canvas_width(const ViewingFormat& f, const Halves& halves) {
  if (f.slot == kTvSlot) return kTvFrameWidth;
  return (f.slot == kCrossSlot ? 2 : 1) * halves.width;
}

PixelView canvas_for(ImageService& images, const ViewingFormat& f, const Halves& halves) {
  if (f.slot == kTvSlot) return canvas_of(images, f.slot, kTvFrameWidth, kTvFrameHeight);
  const int64_t k = f.slot == kCrossSlot ? 2 : 1;
  return canvas_of(images, f.slot, k * halves.width, halves.height, k * halves.room_width,
                   halves.room_height);
}

// Draws and saves one format, the MPO's Exif segment (if any) in place of
// the JFIF header; on failure `reason` says why.
bool write_format(ImageService& images, const ViewingFormat& f, const Text& name,
                  const Sources& from, const ExtraOutputs& extra, int& reason) {
  const Halves& halves = from.halves;
  if (halves.usable && from.side_by_side.pixels && f.row_from_sbs)
    return save_from_rows(images, f, name, from, extra, reason);
  PixelView canvas;
  if (halves.usable) canvas = canvas_for(images, f, halves);
  const bool drawn = canvas.pixels && (from.side_by_side.pixels && f.draw_from_sbs
                                           ? f.draw_from_sbs(from.side_by_side, canvas)
                                           : f.draw(halves, canvas));
  const MemoryBlock& exif = from.exif_segment;
  const bool saved =
      drawn && (exif ? images.save_image_with_app1(f.slot, name, kJpegEncoderId,
                                                   quality_level(extra), exif.bytes()) != 0
                     : images.save_image(f.slot, name, kJpegEncoderId, quality_level(extra)) != 0);
  if (!saved)
    reason = save_reason(images, halves.usable, drawn ? canvas : PixelView{}, canvas_width(f, halves));
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
