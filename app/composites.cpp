#include "app/composites.h"

#include <algorithm>
#include <array>

namespace mpo {

namespace {

// Tiles keep both the strided side (pixel rows) and the contiguous side
// (grid columns) of each copy in cache: the grid is column-major with
// respect to the picture.
constexpr int64_t kTile = 64;

inline int64_t pack(const uint8_t* bgr) {
  return int64_t(bgr[2]) | (int64_t(bgr[1]) << 8) | (int64_t(bgr[0]) << 16);
}

inline void unpack(uint8_t* bgr, int64_t colour) {
  bgr[2] = static_cast<uint8_t>(colour);
  bgr[1] = static_cast<uint8_t>(colour >> 8);
  bgr[0] = static_cast<uint8_t>(colour >> 16);
}

struct Composite {
  int OptionFlags::*flag;
  int slot;
  const char16_t* suffix;
  const char16_t* failure_text;
};

constexpr std::array<Composite, 3> kComposites = {{
    {&OptionFlags::sbs, kSbsSlot, u"_sbs.jpg", u"Die SBS-Datei konnte nicht erstellt werden"},
    {&OptionFlags::sbsh, kSbshSlot, u"_sbsh.jpg",
     u"Die SBS-halb-Datei konnte nicht erstellt werden"},
    {&OptionFlags::ouh, kOuhSlot, u"_ouh.jpg", u"Die O/U-halb-Datei konnte nicht erstellt werden"},
}};

// Draws one composite into its slot; false when the image cannot be made.
bool draw(ImageService& images, const Composite& c, const Halves& h) {
  const int64_t W = h.width;
  const int64_t H = h.height;
  const int64_t w = (c.slot == kSbsSlot) ? 2 * W : W;
  if (!images.create_image(c.slot, w, H)) return false;
  const PixelView view = images.view(c.slot);
  switch (c.slot) {
    case kSbsSlot:
      copy_from_grid(view, 0, 0, h.left, W, H, 1, 0, 1, 0);
      copy_from_grid(view, W, 0, h.right, W, H, 1, 0, 1, 0);
      break;
    case kSbshSlot:  // the odd columns of each half
      copy_from_grid(view, 0, 0, h.left, W / 2, H, 2, 1, 1, 0);
      copy_from_grid(view, W / 2, 0, h.right, W / 2, H, 2, 1, 1, 0);
      break;
    case kOuhSlot:  // even rows of the left half on top, odd rows of the right below
      copy_from_grid(view, 0, 0, h.left, W, H / 2, 1, 0, 2, 0);
      copy_from_grid(view, 0, H / 2, h.right, W, H / 2, 1, 0, 2, 1);
      break;
  }
  return true;
}

}  // namespace

void fill_grid(PixelGrid& grid, const PixelView& view, int64_t w, int64_t h) {
  const int64_t stride = grid.q() + 1;
  int64_t* base = grid.data();
  std::array<const uint8_t*, kTile> rows{};
  for (int64_t y0 = 0; y0 < h; y0 += kTile) {
    const int64_t n = std::min(kTile, h - y0);
    for (int64_t k = 0; k < n; ++k) rows[k] = view.row(y0 + k);
    for (int64_t x0 = 0; x0 < w; x0 += kTile) {
      const int64_t x1 = std::min(w, x0 + kTile);
      for (int64_t x = x0; x < x1; ++x) {
        int64_t* column = base + x * stride + y0;
        const int64_t offset = 3 * x;
        for (int64_t k = 0; k < n; ++k) column[k] = pack(rows[k] + offset);
      }
    }
  }
}

void copy_from_grid(const PixelView& view, int64_t dx, int64_t dy, const PixelGrid& grid,
                    int64_t w, int64_t h, int64_t ax, int64_t bx, int64_t ay, int64_t by) {
  const int64_t stride = grid.q() + 1;
  const int64_t* base = grid.data();
  std::array<uint8_t*, kTile> rows{};
  for (int64_t y0 = 0; y0 < h; y0 += kTile) {
    const int64_t n = std::min(kTile, h - y0);
    for (int64_t k = 0; k < n; ++k) rows[k] = view.row(dy + y0 + k);
    for (int64_t x0 = 0; x0 < w; x0 += kTile) {
      const int64_t x1 = std::min(w, x0 + kTile);
      for (int64_t x = x0; x < x1; ++x) {
        const int64_t* column = base + (ax * x + bx) * stride + ay * y0 + by;
        const int64_t offset = 3 * (dx + x);
        for (int64_t k = 0; k < n; ++k) unpack(rows[k] + offset, column[ay * k]);
      }
    }
  }
}

void decode_halves(ImageService& images, const Text& left_name, const Text& right_name,
                   Halves& halves) {
  halves.usable = false;
  // A failed load may leave an earlier entry's picture in the slot: drop it.
  const bool left_loaded = images.load_image(kLeftSlot, left_name) != 0;
  if (!left_loaded) images.free_image(kLeftSlot);
  const int64_t W = images.get_image_width(kLeftSlot);
  const int64_t H = images.get_image_height(kLeftSlot);
  halves.width = W;
  halves.height = H;
  allocate_grid(halves.left, W, H);
  allocate_grid(halves.right, W, H);
  const bool grids = halves.left && halves.right;
  if (grids && left_loaded) fill_grid(halves.left, images.view(kLeftSlot), W, H);

  const bool right_loaded = images.load_image(kRightSlot, right_name) != 0;
  if (!right_loaded) images.free_image(kRightSlot);
  if (grids && right_loaded) {
    const int64_t w = std::min(W, images.get_image_width(kRightSlot));
    const int64_t h = std::min(H, images.get_image_height(kRightSlot));
    fill_grid(halves.right, images.view(kRightSlot), w, h);
  }
  halves.usable = grids && left_loaded && right_loaded && W > 0 && H > 0;
}

CompositeOutcome build_composites(ImageService& images, Ui& ui, const Text& base_path,
                                  const OptionFlags& flags, const Halves& halves) {
  CompositeOutcome outcome;
  for (const Composite& c : kComposites) {
    if (!(flags.*c.flag)) continue;
    bool saved = false;
    if (halves.usable && draw(images, c, halves)) {
      saved = images.save_image(c.slot, base_path + c.suffix, kJpegEncoderId) != 0;
    } else {
      images.free_image(c.slot);
    }
    if (saved) {
      if (c.slot == kSbsSlot) outcome.sbs_written = true;
    } else {
      outcome.any_failed = true;
      ui.show_message(u"Fehlerinfo", c.failure_text);
    }
  }
  return outcome;
}

}  // namespace mpo
