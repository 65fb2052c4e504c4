#include <cstring>
#include <memory>
#include <new>

#include "render/wiggle_encode.h"

#include <omp.h>

extern "C" {
#include <gif_lib.h>
#include <libimagequant.h>
}

namespace mpo {

namespace {

struct LiqDeleter {
  void operator()(liq_attr* a) const { liq_attr_destroy(a); }
  void operator()(liq_image* i) const { liq_image_destroy(i); }
  void operator()(liq_histogram* h) const { liq_histogram_destroy(h); }
  void operator()(liq_result* r) const { liq_result_destroy(r); }
};
template <typename T>
using Liq = std::unique_ptr<T, LiqDeleter>;

struct GifDeleter {
  void operator()(GifFileType* g) const { EGifCloseFile(g, nullptr); }
  void operator()(ColorMapObject* m) const { GifFreeMapObject(m); }
};

// Both frames as palette indices (one byte per pixel, top row first) and
// the palette they share.
struct Indexed {
  std::unique_ptr<uint8_t[]> frame[2];
  liq_palette palette{};
};

bool quantise(const WiggleFrames& frames, Indexed& out) {
  // The quantiser's loops stay on this thread: the batch's workers already
  // keep every core busy, and a team of threads that wait for each other
  // at every loop's end crawls when a core is taken from one of them.
  omp_set_num_threads(1);
  const int w = static_cast<int>(frames.width), h = static_cast<int>(frames.height);
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  const Liq<liq_attr> attr(liq_attr_create());
  if (!attr) return false;
  const Liq<liq_image> image[2] = {
      Liq<liq_image>(liq_image_create_rgba(attr.get(), frames.left.get(), w, h, 0)),
      Liq<liq_image>(liq_image_create_rgba(attr.get(), frames.right.get(), w, h, 0))};
  const Liq<liq_histogram> histogram(liq_histogram_create(attr.get()));
  if (!image[0] || !image[1] || !histogram) return false;
  for (const auto& i : image) {
    if (liq_histogram_add_image(histogram.get(), attr.get(), i.get()) != LIQ_OK) return false;
  }
  liq_result* raw = nullptr;
  if (liq_histogram_quantize(histogram.get(), attr.get(), &raw) != LIQ_OK) return false;
  const Liq<liq_result> result(raw);
  if (liq_set_dithering_level(result.get(), 1.0f) != LIQ_OK) return false;
  for (int f = 0; f < 2; ++f) {
    try {
      out.frame[f] = std::make_unique_for_overwrite<uint8_t[]>(n);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (liq_write_remapped_image(result.get(), image[f].get(), out.frame[f].get(), n) != LIQ_OK)
      return false;
  }
  out.palette = *liq_get_palette(result.get());
  return true;
}

// The palette padded with black to the power of two the format needs.
std::unique_ptr<ColorMapObject, GifDeleter> colour_map(const liq_palette& palette) {
  int size = 2;
  while (size < static_cast<int>(palette.count)) size *= 2;
  GifColorType colours[256] = {};
  for (unsigned i = 0; i < palette.count && i < 256; ++i) {
    colours[i] = {palette.entries[i].r, palette.entries[i].g, palette.entries[i].b};
  }
  return std::unique_ptr<ColorMapObject, GifDeleter>(GifMakeMapObject(size, colours));
}

int append(GifFileType* gif, const GifByteType* bytes, int count) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  try {
    out->insert(out->end(), bytes, bytes + count);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return count;
}

// Loop forever: the NETSCAPE2.0 application extension with a count of 0.
bool put_loop(GifFileType* gif) {
  static const GifByteType kName[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
  static const GifByteType kForever[] = {1, 0, 0};
  return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif, sizeof kName, kName) == GIF_OK &&
         EGifPutExtensionBlock(gif, sizeof kForever, kForever) == GIF_OK &&
         EGifPutExtensionTrailer(gif) == GIF_OK;
}

// One frame, shown for the frame time, covering the whole screen.
bool put_frame(GifFileType* gif, uint8_t* pixels, int w, int h) {
  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.DelayTime = kWiggleFrameMs / 10;  // in hundredths of a second
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  const size_t size = EGifGCBToExtension(&control, extension);
  if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(size), extension) != GIF_OK ||
      EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) != GIF_OK)
    return false;
  for (int y = 0; y < h; ++y) {
    if (EGifPutLine(gif, pixels + static_cast<size_t>(y) * w, w) != GIF_OK) return false;
  }
  return true;
}

bool write_gif(const Indexed& indexed, int w, int h, std::vector<uint8_t>& out) {
  const auto map = colour_map(indexed.palette);
  if (!map) return false;
  int error = 0;
  std::unique_ptr<GifFileType, GifDeleter> gif(EGifOpen(&out, append, &error));
  if (!gif) return false;
  EGifSetGifVersion(gif.get(), true);
  if (EGifPutScreenDesc(gif.get(), w, h, 8, 0, map.get()) != GIF_OK || !put_loop(gif.get()) ||
      !put_frame(gif.get(), indexed.frame[0].get(), w, h) ||
      !put_frame(gif.get(), indexed.frame[1].get(), w, h))
    return false;
  return EGifCloseFile(gif.release(), &error) == GIF_OK;
}

}  // namespace

std::vector<uint8_t> encode_wiggle_gif(const WiggleFrames& frames) {
  if (!frames.left || !frames.right || frames.width < 1 || frames.height < 1 ||
      frames.width > 65535 || frames.height > 65535)
    return {};
  Indexed indexed;
  std::vector<uint8_t> out;
  if (!quantise(frames, indexed) ||
      !write_gif(indexed, static_cast<int>(frames.width), static_cast<int>(frames.height), out))
    return {};
  return out;
}

}  // namespace mpo
