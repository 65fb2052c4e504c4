// The wiggle picture's two frames as files in memory: an animated WebP and
// a GIF, the left frame then the right, 150 ms each, looping forever.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "render/wiggle_frames.h"

namespace mpo {

constexpr int kWiggleFrameMs = 150;

// Lossy at JPEG-like `quality` (1..100), with `exif` (the TIFF structure of
// an Exif segment; may be empty) as the file's EXIF chunk. Empty when the
// encoder fails or memory runs out.
std::vector<uint8_t> encode_wiggle_webp(const WiggleFrames& frames, int quality,
                                        std::span<const uint8_t> exif);

// Both frames on one palette of up to 256 colours chosen for both together
// (so that the picture does not flicker between them), dithered. Empty
// when the quantiser or the writer fails or memory runs out.
std::vector<uint8_t> encode_wiggle_gif(const WiggleFrames& frames);

}  // namespace mpo
