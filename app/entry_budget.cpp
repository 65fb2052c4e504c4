#include "app/entry_budget.h"

#include <algorithm>

#include "image/image_service.h"
#include "render/tv_frame.h"
#include "render/wiggle_frames.h"

namespace mpo {

namespace {

// The half as the decoder will hold it: none for a frame it refuses before
// allocating anything.
std::optional<FrameHeader> decoded(const std::optional<FrameHeader>& half) {
  if (!half || half->precision != 8) return std::nullopt;
  if (half->width > kMaxImageSide || half->height > kMaxImageSide) return std::nullopt;
  return half;
}

// Pixel bytes of a 24-bit picture, each row padded to four bytes.
int64_t picture_bytes(int64_t w, int64_t h) { return (3 * w + 3) / 4 * 4 * h; }

// The stereo correction: both corrected halves and the warp's rows in
// between (a tenth of the width and a few more, twice, at the steepest turn
// and largest scale the fit accepts), the grey halves at full resolution
// and reduced, room for the disparity analysis, and the corrected pair's two
// encoded halves beside the joined MPO (each about the size of the file at
// most).
int64_t stereo_correction(int64_t file_size, int64_t W, int64_t H) {
  constexpr int64_t kAnalysis = int64_t{8} << 20;
  const int64_t greys = 2 * (W * H + W * H / 4);
  const int64_t warp_rows = picture_bytes(W, 2 * (W / 10 + 6));
  return 2 * picture_bytes(W, H) + warp_rows + greys + kAnalysis +
         2 * std::max<int64_t>(file_size, 0);
}

// The display formats: a side-by-side image of their own where no
// composite draws one, and for the interleaved frames the two fitted
// screens and the scaling steps of one half, whose planes of 16-bit samples
// (twice a picture's bytes per pixel) hold up to four screens of block
// averages and one of the filter's result: 2 + 2 (4 + 1) screens. The
// over-under picture and the anaglyph types go to the encoder row by row.
int64_t display_formats(const OptionFlags& flags, const ExtraOutputs& extras, int64_t W,
                        int64_t H) {
  if (!extras.over_under && extras.anaglyph_types == 0 && extras.interleaved == 0) return 0;
  int64_t bytes = flags.sbs || flags.exif ? 0 : picture_bytes(2 * W, H);
  if (extras.interleaved != 0)
    bytes += 12 * picture_bytes(extras.screen_width, extras.screen_height);
  return bytes;
}

// The TV frame's canvas and its working planes (app/viewing_outputs.cpp,
// render/tv_frame.cpp): one half at a time, its block averages (fewer than
// twice the region's size each way) and its scaled picture, three 16-bit
// samples a pixel; and, where the side-by-side image is not at hand, both
// halves packed side by side from the grids.
int64_t tv_frame_bytes(int64_t W, int64_t H) {
  const int64_t canvas = picture_bytes(kTvFrameWidth, kTvFrameHeight);
  const int64_t region = (kTvFrameWidth / 2) * kTvFrameHeight;
  const int64_t planes = 6 * (4 * region + region);
  return canvas + planes + picture_bytes(2 * W, H);
}

// What the wiggle pictures take per pixel of a frame: both frames in
// R, G, B, A and the working planes of their scaling (both halves at once),
// the animation encoder's canvases and the quantiser's pixels (measured
// for camera pictures: about 63 bytes).
constexpr int64_t kWiggleBytesPerPixel = 72;

int64_t wiggle_bytes(const std::optional<FrameHeader>& right, int64_t W, int64_t H) {
  const WiggleSize frame = wiggle_size(W, H);
  int64_t bytes = kWiggleBytesPerPixel * frame.w * frame.h;
  // A right half smaller than the left is first made whole, black where
  // it has no pixels.
  if (right && (right->width < W || right->height < H)) bytes += picture_bytes(W, H);
  return bytes;
}

// The command line's further outputs: the viewing formats' canvases (the TV
// frame with its working planes); for the lossless side-by-side, both
// halves' coefficients beside the joined file; the wiggle pictures' frames
// and encoders; for the VR photo, the right half in base64 twice (the
// extended packet and its segments) beside the new file.
int64_t further_outputs(int64_t file_size, const std::optional<FrameHeader>& left,
                        const std::optional<FrameHeader>& right, const OptionFlags& flags,
                        const ExtraOutputs& extras, int64_t W, int64_t H) {
  int64_t bytes = 0;
  if (extras.anaglyph) bytes += picture_bytes(W, H);
  if (extras.cross) bytes += picture_bytes(2 * W, H);
  if (extras.tv) bytes += tv_frame_bytes(W, H);
  if (extras.corrects_stereo()) bytes += stereo_correction(file_size, W, H);
  bytes += display_formats(flags, extras, W, H);
  if (extras.lossless) {
    bytes += std::max<int64_t>(file_size, 0);
    for (const auto* half : {&left, &right}) bytes += *half ? (*half)->coefficient_bytes : 0;
  }
  if (extras.wiggle) bytes += wiggle_bytes(right, W, H);
  if (extras.vr) bytes += 3 * std::max<int64_t>(file_size, 0) + (int64_t{1} << 16);
  return bytes;
}

int64_t decoded_bytes(const std::optional<FrameHeader>& half) {
  return half ? picture_bytes(half->width, half->height) : 0;
}

// Coefficients held while a half is decoded: all of them for a stream of
// several scans.
int64_t held_coefficients(const std::optional<FrameHeader>& half) {
  return half && (half->progressive || half->multi_scan) ? half->coefficient_bytes : 0;
}

}  // namespace

int64_t entry_memory(int64_t file_size, const std::optional<FrameHeader>& left_frame,
                     const std::optional<FrameHeader>& right_frame, const OptionFlags& flags,
                     const ExtraOutputs& extras) {
  const auto left = decoded(left_frame);
  const auto right = decoded(right_frame);
  const int64_t W = left ? left->width : 0;
  const int64_t H = left ? left->height : 0;
  const int64_t grids = 2 * int64_t{sizeof(int64_t)} * (W + 1) * (H + 1);
  int64_t composites = 0;
  if (flags.sbs || flags.exif) composites += picture_bytes(2 * W, H);
  if (flags.sbsh) composites += picture_bytes(W, H);
  if (flags.ouh) composites += picture_bytes(W, H);
  composites += further_outputs(file_size, left_frame, right_frame, flags, extras, W, H);
  return kCodecWorkingBytes + std::max<int64_t>(file_size, 0) + decoded_bytes(left) +
         decoded_bytes(right) + grids + composites +
         std::max(held_coefficients(left), held_coefficients(right));
}

bool EntryBudget::admits_file(int64_t file_size) const { return bytes < 0 || file_size <= bytes; }

bool EntryBudget::admits_entry(const uint8_t* file, int64_t size, int64_t separator) const {
  if (bytes < 0) return true;
  separator = std::clamp<int64_t>(separator, 0, size);
  const auto left = read_frame_header(file, separator);
  const auto right = read_frame_header(file + separator, size - separator);
  return entry_memory(size, left, right, flags, extras) <= bytes;
}

}  // namespace mpo
