#include "app/composites.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "render/grid_passes.h"
#include "app/output_failure.h"
#include "app/texts.h"
#include "io/memory_policy.h"

namespace mpo {

namespace {

int64_t grid_bytes(const PixelGrid& grid) {
  return int64_t(sizeof(int64_t)) * (grid.p() + 1) * (grid.q() + 1);
}

// Room for a band of picture rows of width W, kept while the width stays.
bool prepare_band(Halves& halves, int64_t W) {
  const int64_t bytes = band_bytes(W);
  if (halves.band_rows && halves.band_size == bytes) return true;
  halves.band_rows.reset();
  halves.band_size = 0;
  try {
    halves.band_rows = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(bytes));
  } catch (const std::bad_alloc&) {
    return false;
  }
  halves.band_size = bytes;
  return true;
}

struct Composite {
  int OptionFlags::*flag;
  int slot;
  const char16_t* suffix;
  const char16_t* failure_text;
};

constexpr std::array<Composite, 3> kComposites = {{
    {&OptionFlags::sbs, kSbsSlot, texts::kSbsSuffix, texts::kSbsFailed},
    {&OptionFlags::sbsh, kSbshSlot, texts::kSbshSuffix, texts::kSbshFailed},
    {&OptionFlags::ouh, kOuhSlot, texts::kOuhSuffix, texts::kOuhFailed},
}};

// The slot's image as a black w x h canvas where no pass draws. The previous
// entry's composite is reused when it has room for this size: its pixels are
// all overwritten, except the column or row no pass reaches, which is
// blackened. A fresh one is made with room for room_w x room_h (all black).
PixelView prepare_canvas(ImageService& images, int slot, int64_t w, int64_t h, int64_t room_w,
                         int64_t room_h) {
  if (!images.reuse_image(slot, w, h)) return canvas_of(images, slot, w, h, room_w, room_h);
  const PixelView view = images.view(slot);
  if (slot == kSbshSlot && w % 2 != 0) {
    for (int64_t y = 0; y < h; ++y) std::memset(view.row(y) + 3 * (w - 1), 0, 3);
  }
  if (slot == kOuhSlot && h % 2 != 0) std::memset(view.row(h - 1), 0, static_cast<size_t>(3 * w));
  return view;
}

}  // namespace

PixelView canvas_of(ImageService& images, int slot, int64_t w, int64_t h, int64_t room_w,
                    int64_t room_h) {
  if (images.reuse_image(slot, w, h)) return images.view(slot);
  if (!images.create_image(slot, std::max(w, room_w), std::max(h, room_h))) return {};
  const PixelView whole = images.view(slot);
  prefer_huge_pages(whole.pixels, whole.pitch * whole.height);
  return images.reuse_image(slot, w, h) ? images.view(slot) : PixelView{};
}

// The previous entry's grid is kept when it has room (all pictures of a
// camera have one size, and corrected halves are cut from it): only
// elements with x < W and y < H are ever written, and the fill overwrites
// all of them.
bool prepare_grid(PixelGrid& grid, int64_t W, int64_t H) {
  if (grid && grid.p() == W && grid.q() == H) return true;
  if (reuse_grid(grid, W, H)) return true;
  allocate_grid(grid, W, H);
  if (!grid) return false;
  prefer_huge_pages(grid.data(), grid_bytes(grid));
  return true;
}

void decode_halves(ImageService& images, const Text& left_name, const Text& right_name,
                   Halves& halves) {
  halves.usable = false;
  // A failed load may leave an earlier entry's picture in the slot: drop it.
  const bool left_loaded = images.load_image(kLeftSlot, left_name) != 0;
  if (!left_loaded) images.free_image(kLeftSlot);
  const bool right_loaded = images.load_image(kRightSlot, right_name) != 0;
  if (!right_loaded) images.free_image(kRightSlot);
  const int64_t W = images.get_image_width(kLeftSlot);
  const int64_t H = images.get_image_height(kLeftSlot);
  halves.width = W;
  halves.height = H;
  halves.room_width = W;
  halves.room_height = H;
  halves.left_picture = images.view(kLeftSlot);
  halves.right_picture = images.view(kRightSlot);
  const bool grids = prepare_grid(halves.left, W, H) && prepare_grid(halves.right, W, H) &&
                     prepare_band(halves, W);
  halves.usable = grids && left_loaded && right_loaded && W > 0 && H > 0;
}

int32_t quality_level(const ExtraOutputs& extra) { return kQualityPercent + extra.quality; }

int save_reason(const ImageService& images, bool usable, const PixelView& canvas, int64_t width) {
  if (!usable) return kReasonUnreadableImage;
  // Halves over half the widest picture give a side-by-side picture no
  // image holds: that is the picture's size, not the memory.
  if (!canvas.pixels) return width > kMaxImageSide ? EFBIG : ENOMEM;
  return images.save_error() != 0 ? images.save_error() : kReasonUnknown;
}

CompositeOutcome build_composites(ImageService& images, Reporter& ui, const Text& base_path,
                                  const OptionFlags& flags, Halves& halves,
                                  const ExtraOutputs& extra) {
  CompositeOutcome outcome;
  const FailureReport report(ui, extra.detailed_failures);
  // All requested canvases first, then the one step that fills the grids
  // and draws, then the saves in the composites' order.
  std::array<PixelView, 3> canvas{};
  for (size_t i = 0; i < kComposites.size(); ++i) {
    const Composite& c = kComposites[i];
    if (!(flags.*c.flag)) continue;
    if (halves.usable) {
      const int64_t k = c.slot == kSbsSlot ? 2 : 1;
      canvas[i] = prepare_canvas(images, c.slot, k * halves.width, halves.height,
                                 k * halves.room_width, halves.room_height);
    }
    if (!canvas[i].pixels) images.free_image(c.slot);
  }
  if (halves.usable) fill_and_draw(canvas, halves);

  for (size_t i = 0; i < kComposites.size(); ++i) {
    const Composite& c = kComposites[i];
    if (!(flags.*c.flag)) continue;
    const Text name = base_path + c.suffix;
    const bool saved = canvas[i].pixels &&
                       images.save_image(c.slot, name, kJpegEncoderId, quality_level(extra)) != 0;
    if (saved) {
      if (c.slot == kSbsSlot) outcome.sbs_written = true;
    } else {
      outcome.any_failed = true;
      const int64_t width = (c.slot == kSbsSlot ? 2 : 1) * halves.width;
      report.output_failed(c.failure_text, name,
                           save_reason(images, halves.usable, canvas[i], width));
    }
  }
  return outcome;
}

}  // namespace mpo
