#include "app/display_outputs.h"

#include <cerrno>
#include <functional>
#include <memory>
#include <new>
#include <span>

#include "app/output_failure.h"
#include "app/texts.h"
#include "image/jpeg_codec.h"
#include "io/memory_policy.h"
#include "io/side_thread.h"
#include "render/display_formats.h"
#include "render/viewing_formats.h"

namespace mpo {

namespace {

using MakeRow = std::function<void(int64_t y, uint8_t* out)>;

// A format's rows made one at a time into one buffer.
struct Rows {
  const MakeRow& make;
  uint8_t* buffer;

  static const uint8_t* row(void* context, int32_t y) {
    auto* self = static_cast<Rows*>(context);
    self->make(y, self->buffer);
    return self->buffer;
  }
};

// The side-by-side image the formats read: the entry's own, or drawn from
// the grids; no pixels when neither can be had.
PixelView side_by_side(ImageService& images, const Sources& from) {
  if (from.side_by_side.pixels) return from.side_by_side;
  if (!from.halves.usable) return {};
  const Halves& h = from.halves;
  const PixelView canvas =
      canvas_of(images, kDisplaySbsSlot, 2 * h.width, h.height, 2 * h.room_width, h.room_height);
  return canvas.pixels && draw_side_by_side(from.halves, canvas) ? canvas : PixelView{};
}

// Writes the outputs of one entry, each reported on failure.
class Writer {
 public:
  Writer(ImageService& images, Reporter& ui, const Text& base_path, const Sources& from,
         const ExtraOutputs& extra)
      : images_(images), report_(ui, extra.detailed_failures), base_(base_path),
        exif_(from.exif_segment),
        cannot_draw_(from.halves.usable ? ENOMEM : kReasonUnreadableImage) {}

  // Encodes w x h rows from `make` unless not `ready`. A picture larger
  // than an image may be (the over-under one of very tall halves) is a file
  // too large.
  void put(const char16_t* suffix, const char16_t* failure_text, bool ready, int64_t w,
           int64_t h, const MakeRow& make, int32_t quality_level) {
    const Text name = base_ + suffix;
    int reason = cannot_draw_;
    if (ready && (w > kMaxImageSide || h > kMaxImageSide)) ready = false, reason = EFBIG;
    if (!ready || !save(name, w, h, make, quality_level, reason)) {
      all_ = false;
      report_.output_failed(failure_text, name, reason);
    }
  }
  bool all() const { return all_; }

 private:
  bool save(const Text& name, int64_t w, int64_t h, const MakeRow& make, int32_t quality_level,
            int& reason) {
    std::unique_ptr<uint8_t[]> buffer;
    try {
      buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(3 * w));
    } catch (const std::bad_alloc&) {
      reason = ENOMEM;
      return false;
    }
    Rows rows{make, buffer.get()};
    if (images_.save_rows(RowSource{Rows::row, &rows}, w, h, name, kJpegEncoderId, quality_level,
                          exif_.bytes()) != 0) {
      return true;
    }
    reason = images_.save_error() != 0 ? images_.save_error() : kReasonUnknown;
    return false;
  }

  ImageService& images_;
  const FailureReport report_;
  const Text& base_;
  const MemoryBlock& exif_;
  const int cannot_draw_;
  bool all_ = true;
};

// Both halves fitted to their screens, the right one on a thread of its
// own meanwhile.
bool fit_both(const PixelView& sbs, const PixelView& left, const PixelView& right) {
  bool left_fitted = false, right_fitted = false;
  run_beside([&] { left_fitted = draw_fitted_half(sbs, 0, left); },
             [&] { right_fitted = draw_fitted_half(sbs, 1, right); });
  return left_fitted && right_fitted;
}

// The interleaved frames: both halves fitted to the screen once, then each
// frame's rows taken from the two.
void write_interleaved(Writer& out, ImageService& images, const PixelView& sbs,
                       const ExtraOutputs& extra) {
  const int64_t SW = extra.screen_width, SH = extra.screen_height;
  PixelView left, right;
  if (sbs.pixels) left = canvas_of(images, kFittedLeftSlot, SW, SH);
  if (left.pixels) right = canvas_of(images, kFittedRightSlot, SW, SH);
  const bool fitted = right.pixels && fit_both(sbs, left, right);
  for (int k = 0; k < 3; ++k) {
    if (!(extra.interleaved >> k & 1)) continue;
    const auto kind = static_cast<Interleave>(k);
    out.put(texts::kInterleaveSuffixes[k], texts::kInterleaveFailed, fitted, SW, SH,
            [&](int64_t y, uint8_t* row) { interleave_row(left, right, kind, extra.odd_left, y, row); },
            quality_level(extra) + kFullChroma);
  }
}

}  // namespace

bool wants_display_formats(const ExtraOutputs& extra) {
  return extra.over_under || extra.anaglyph_types != 0 || extra.interleaved != 0;
}

bool write_display_formats(ImageService& images, Reporter& ui, const Text& base_path,
                           const Sources& from, const ExtraOutputs& extra) {
  if (!wants_display_formats(extra)) return true;
  Writer out(images, ui, base_path, from, extra);
  const PixelView sbs = side_by_side(images, from);
  const bool ready = sbs.pixels != nullptr;
  const int64_t W = sbs.width / 2, H = sbs.height;
  if (extra.over_under) {
    out.put(texts::kOverUnderSuffix, texts::kOverUnderFailed, ready, W, 2 * H,
            [&](int64_t y, uint8_t* row) { over_under_row(sbs, y, row); }, quality_level(extra));
  }
  for (int t = 1; t < kAnaglyphTypes; ++t) {
    if (!(extra.anaglyph_types >> t & 1)) continue;
    const auto type = static_cast<AnaglyphType>(t);
    out.put(texts::kAnaglyphTypeSuffixes[t], texts::kAnaglyphFailed, ready, W, H,
            [&](int64_t y, uint8_t* row) { anaglyph_row(sbs, y, type, row); }, quality_level(extra));
  }
  if (extra.interleaved != 0) write_interleaved(out, images, sbs, extra);
  return out.all();
}

}  // namespace mpo
