#include "app/composites.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "app/texts.h"
#include "io/memory_policy.h"

namespace mpo {

namespace {

// The grid is column-major with respect to the picture, so every copy is a
// transpose. It runs in bands of picture rows: the band's rows stay in the
// first-level cache while one grid column after the other is read or written
// in one contiguous run.
constexpr int64_t kBand = 64;
// Each column run starts far from the previous one, where the hardware does
// not look ahead: the run kAhead columns on is fetched in advance.
constexpr int64_t kAhead = 4;

inline void prefetch_band(const int64_t* run, int64_t n, bool for_writing) {
  constexpr int64_t kPerLine = 64 / sizeof(int64_t);
  for (int64_t k = 0; k < n; k += kPerLine) {
    if (for_writing) {
      __builtin_prefetch(run + k, 1);
    } else {
      __builtin_prefetch(run + k, 0);
    }
  }
}

int64_t grid_bytes(const PixelGrid& grid) {
  return int64_t(sizeof(int64_t)) * (grid.p() + 1) * (grid.q() + 1);
}

// A grid with the bounds W and H. The previous entry's grid is kept when it
// has these bounds (all pictures of a camera have one size): only elements
// with x < W and y < H are ever written, and the caller overwrites or
// clears all of them.
bool prepare_grid(PixelGrid& grid, int64_t W, int64_t H) {
  if (grid && grid.p() == W && grid.q() == H) return true;
  allocate_grid(grid, W, H);
  if (!grid) return false;
  prefer_huge_pages(grid.data(), grid_bytes(grid));
  return true;
}

// Zero for x < W, y < H outside the w x h part at the top left.
void clear_outside(PixelGrid& grid, int64_t w, int64_t h, int64_t W, int64_t H) {
  const int64_t stride = grid.q() + 1;
  for (int64_t x = 0; x < W; ++x) {
    const int64_t from = x < w ? h : 0;
    if (from < H) std::memset(grid.data() + x * stride + from, 0, sizeof(int64_t) * (H - from));
  }
}

// Colour value red + 256 * green + 65536 * blue of the B, G, R bytes.
inline int64_t pack(const uint8_t* bgr) {
  return int64_t(bgr[2]) | (int64_t(bgr[1]) << 8) | (int64_t(bgr[0]) << 16);
}

inline void unpack(uint8_t* bgr, int64_t colour) {
  bgr[2] = static_cast<uint8_t>(colour);
  bgr[1] = static_cast<uint8_t>(colour >> 8);
  bgr[0] = static_cast<uint8_t>(colour >> 16);
}

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// As pack, with one 4-byte load; the byte after the pixel must be readable.
inline int64_t pack_wide(const uint8_t* bgr) {
  if constexpr (!kLittleEndian) return pack(bgr);
  uint32_t word;
  std::memcpy(&word, bgr, 4);
  return int64_t(__builtin_bswap32(word) >> 8);
}

// As unpack, with one 4-byte store: the byte after the pixel is clobbered
// and must be written again afterwards.
inline void unpack_wide(uint8_t* bgr, int64_t colour) {
  if constexpr (!kLittleEndian) return unpack(bgr, colour);
  const uint32_t word = __builtin_bswap32(static_cast<uint32_t>(colour) << 8);
  std::memcpy(bgr, &word, 4);
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
// entry's composite is reused when it has this size: its pixels are all
// overwritten, except the column or row no pass reaches, which is blackened.
PixelView prepare_canvas(ImageService& images, int slot, int64_t w, int64_t h) {
  PixelView view = images.view(slot);
  const bool reuse = view.pixels && view.width == w && view.height == h &&
                     view.pitch == pitch_for_width(w) && images.get_image_source_depth(slot) == 24;
  if (!reuse) {
    if (!images.create_image(slot, w, h)) return {};
    view = images.view(slot);
    prefer_huge_pages(view.pixels, view.pitch * view.height);
    return view;
  }
  if (slot == kSbshSlot && w % 2 != 0) {
    for (int64_t y = 0; y < h; ++y) std::memset(view.row(y) + 3 * (w - 1), 0, 3);
  }
  if (slot == kOuhSlot && h % 2 != 0) std::memset(view.row(h - 1), 0, static_cast<size_t>(3 * w));
  return view;
}

// Writes pixel x of n rows, from picture row `top` downwards, from every
// `step`-th element of the column. Narrow when the pixel after it in each
// row is not written again later.
inline void put_column(uint8_t* top, int64_t pitch, const int64_t* column, int64_t n,
                       int64_t step, bool narrow) {
  if (narrow) {
    for (int64_t k = 0; k < n; ++k) unpack(top - k * pitch, column[step * k]);
  } else {
    for (int64_t k = 0; k < n; ++k) unpack_wide(top - k * pitch, column[step * k]);
  }
}

// The three composites' passes in one sweep over each grid, so that every
// grid element is fetched from memory once. A canvas without pixels is left
// out. Per half s (0 left, 1 right) and grid element (x, y):
//   side-by-side:            pixel (s W + x, y)
//   half-width side-by-side: pixel (s (W div 2) + (x - 1) / 2, y)   for odd x < 2 (W div 2)
//   over/under:              pixel (x, s (H div 2) + y div 2)        for y of parity s, y < 2 (H div 2)
void draw_composites(const std::array<PixelView, 3>& canvas, const Halves& h) {
  const PixelView& sbs = canvas[0];
  const PixelView& sbsh = canvas[1];
  const PixelView& ouh = canvas[2];
  const int64_t W = h.width, H = h.height;
  const int64_t half_w = W / 2, half_h = H / 2;
  for (int s = 0; s < 2; ++s) {
    const PixelGrid& grid = s == 0 ? h.left : h.right;
    const int64_t stride = grid.q() + 1;
    for (int64_t y0 = 0; y0 < H; y0 += kBand) {
      const int64_t n = std::min(kBand, H - y0);
      // The band's over/under rows: y = first, first + 2, ... below the end.
      const int64_t first = y0 + ((y0 % 2) != s ? 1 : 0);
      const int64_t end = std::min(y0 + n, 2 * half_h);
      const int64_t m = end > first ? (end - first + 1) / 2 : 0;
      uint8_t* sbs_top = sbs.pixels ? sbs.row(y0) + 3 * s * W : nullptr;
      uint8_t* sbsh_top = sbsh.pixels ? sbsh.row(y0) + 3 * s * half_w : nullptr;
      uint8_t* ouh_top = ouh.pixels && m > 0 ? ouh.row(s * half_h + first / 2) : nullptr;
      for (int64_t x = 0; x < W; ++x) {
        const int64_t* column = grid.data() + x * stride + y0;
        if (x + kAhead < W) prefetch_band(column + kAhead * stride, n, false);
        const bool last = x + 1 == W;
        if (sbs_top) put_column(sbs_top + 3 * x, sbs.pitch, column, n, 1, last);
        if (sbsh_top && x % 2 == 1 && x < 2 * half_w)
          put_column(sbsh_top + 3 * (x / 2), sbsh.pitch, column, n, 1, x + 2 >= 2 * half_w);
        if (ouh_top) put_column(ouh_top + 3 * x, ouh.pitch, column + (first - y0), m, 2, last);
      }
    }
  }
}

}  // namespace

void fill_grid(PixelGrid& grid, const PixelView& view, int64_t w, int64_t h) {
  const int64_t stride = grid.q() + 1;
  const int64_t pitch = view.pitch;
  int64_t* base = grid.data();
  for (int64_t y0 = 0; y0 < h; y0 += kBand) {
    const int64_t n = std::min(kBand, h - y0);
    // Rows lie bottom row first: picture row y0 + k is k pitches below row y0.
    const uint8_t* top = view.row(y0);
    for (int64_t x = 0; x < w; ++x) {
      int64_t* column = base + x * stride + y0;
      if (x + kAhead < w) prefetch_band(column + kAhead * stride, n, true);
      const uint8_t* pixel = top + 3 * x;
      if (x + 1 < view.width) {
        for (int64_t k = 0; k < n; ++k) column[k] = pack_wide(pixel - k * pitch);
      } else {
        for (int64_t k = 0; k < n; ++k) column[k] = pack(pixel - k * pitch);
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
  const bool grids = prepare_grid(halves.left, W, H) && prepare_grid(halves.right, W, H);
  // Without a left picture W and H are 0 and there is nothing to fill.
  if (grids && left_loaded) fill_grid(halves.left, images.view(kLeftSlot), W, H);

  const bool right_loaded = images.load_image(kRightSlot, right_name) != 0;
  if (!right_loaded) images.free_image(kRightSlot);
  if (grids) {
    const int64_t w = right_loaded ? std::min(W, images.get_image_width(kRightSlot)) : 0;
    const int64_t h = right_loaded ? std::min(H, images.get_image_height(kRightSlot)) : 0;
    if (w > 0 && h > 0) fill_grid(halves.right, images.view(kRightSlot), w, h);
    clear_outside(halves.right, w, h, W, H);
  }
  halves.usable = grids && left_loaded && right_loaded && W > 0 && H > 0;
}

CompositeOutcome build_composites(ImageService& images, Reporter& ui, const Text& base_path,
                                  const OptionFlags& flags, const Halves& halves) {
  CompositeOutcome outcome;
  // All requested canvases first, then one drawing sweep, then the saves in
  // the composites' order.
  std::array<PixelView, 3> canvas{};
  for (size_t i = 0; i < kComposites.size(); ++i) {
    const Composite& c = kComposites[i];
    if (!(flags.*c.flag)) continue;
    if (halves.usable) {
      const int64_t w = c.slot == kSbsSlot ? 2 * halves.width : halves.width;
      canvas[i] = prepare_canvas(images, c.slot, w, halves.height);
    }
    if (!canvas[i].pixels) images.free_image(c.slot);
  }
  if (halves.usable) draw_composites(canvas, halves);

  for (size_t i = 0; i < kComposites.size(); ++i) {
    const Composite& c = kComposites[i];
    if (!(flags.*c.flag)) continue;
    const bool saved =
        canvas[i].pixels && images.save_image(c.slot, base_path + c.suffix, kJpegEncoderId) != 0;
    if (saved) {
      if (c.slot == kSbsSlot) outcome.sbs_written = true;
    } else {
      outcome.any_failed = true;
      ui.show_message(texts::kErrorInfoTitle, c.failure_text);
    }
  }
  return outcome;
}

}  // namespace mpo
