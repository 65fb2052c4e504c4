#include <memory>
#include <new>

#include "render/wiggle_encode.h"

#include <webp/encode.h>
#include <webp/mux.h>

namespace mpo {

namespace {

struct AnimDeleter {
  void operator()(WebPAnimEncoder* e) const { WebPAnimEncoderDelete(e); }
};
struct MuxDeleter {
  void operator()(WebPMux* m) const { WebPMuxDelete(m); }
};

// Releases what the library allocated for `data`.
struct OwnedData {
  WebPData data;
  OwnedData() { WebPDataInit(&data); }
  ~OwnedData() { WebPDataClear(&data); }
  OwnedData(const OwnedData&) = delete;
  OwnedData& operator=(const OwnedData&) = delete;
};

// Adds one frame shown from `at` ms on.
bool add_frame(WebPAnimEncoder* encoder, const WiggleFrames& frames, const uint8_t* rgba, int at,
               const WebPConfig& config) {
  WebPPicture picture;
  if (!WebPPictureInit(&picture)) return false;
  picture.use_argb = 1;
  picture.width = static_cast<int>(frames.width);
  picture.height = static_cast<int>(frames.height);
  const bool ok = WebPPictureImportRGBA(&picture, rgba, static_cast<int>(4 * frames.width)) &&
                  WebPAnimEncoderAdd(encoder, &picture, at, &config);
  WebPPictureFree(&picture);
  return ok;
}

// The two frames as an animation, assembled into `out`.
bool animate(const WiggleFrames& frames, int quality, OwnedData& out) {
  WebPAnimEncoderOptions options;
  WebPConfig config;
  if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config)) return false;
  options.anim_params.loop_count = 0;  // forever
  // Every frame whole: the halves differ nearly everywhere, so a part of
  // the picture would save little and cost a second encode per frame.
  options.kmin = 0;
  options.kmax = 1;
  config.lossless = 0;
  config.quality = static_cast<float>(quality);
  if (!WebPValidateConfig(&config)) return false;
  const std::unique_ptr<WebPAnimEncoder, AnimDeleter> encoder(WebPAnimEncoderNew(
      static_cast<int>(frames.width), static_cast<int>(frames.height), &options));
  return encoder && add_frame(encoder.get(), frames, frames.left.get(), 0, config) &&
         add_frame(encoder.get(), frames, frames.right.get(), kWiggleFrameMs, config) &&
         WebPAnimEncoderAdd(encoder.get(), nullptr, 2 * kWiggleFrameMs, nullptr) &&
         WebPAnimEncoderAssemble(encoder.get(), &out.data);
}

// `animation` with `exif` as its EXIF chunk, into `out`.
bool add_exif(const OwnedData& animation, std::span<const uint8_t> exif, OwnedData& out) {
  const std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&animation.data, 0));
  if (!mux) return false;
  const WebPData chunk{exif.data(), exif.size()};
  return WebPMuxSetChunk(mux.get(), "EXIF", &chunk, 1) == WEBP_MUX_OK &&
         WebPMuxAssemble(mux.get(), &out.data) == WEBP_MUX_OK;
}

}  // namespace

std::vector<uint8_t> encode_wiggle_webp(const WiggleFrames& frames, int quality,
                                        std::span<const uint8_t> exif) {
  if (!frames.left || !frames.right || frames.width < 1 || frames.height < 1) return {};
  OwnedData animation, with_exif;
  if (!animate(frames, quality, animation)) return {};
  const OwnedData* file = &animation;
  if (!exif.empty()) {
    if (!add_exif(animation, exif, with_exif)) return {};
    file = &with_exif;
  }
  try {
    return std::vector<uint8_t>(file->data.bytes, file->data.bytes + file->data.size);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

}  // namespace mpo
