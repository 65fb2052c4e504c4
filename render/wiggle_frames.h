// The two frames of a wiggle picture: the left and the right half, each
// reduced so that its longer side is at most 1200 pixels, as rows of
// R, G, B, A bytes (top row first, A = 255) that the animation encoders
// take.
#pragma once

#include <cstdint>
#include <memory>

#include "render/halves.h"
#include "image/image_service.h"

namespace mpo {

constexpr int64_t kWiggleLongestSide = 1200;

struct WiggleSize {
  int64_t w = 0;
  int64_t h = 0;
};

// W x H itself when neither side exceeds 1200; else scaled by 1200 over
// the longer side, each side rounded half up and at least 1. W and H at
// least 1.
WiggleSize wiggle_size(int64_t W, int64_t H);

struct WiggleFrames {
  int64_t width = 0;
  int64_t height = 0;
  // 4 * width * height bytes each.
  std::unique_ptr<uint8_t[]> left;
  std::unique_ptr<uint8_t[]> right;
};

// The frames of usable halves, scaled as the TV frame's halves are (area
// averages in linear light, then the Mitchell filter); a half of the
// frames' size is copied as it is. Where the right picture is smaller than
// the left, its missing pixels are black, as in every other format. False
// for halves that are not usable or when working memory runs out. The
// right frame is drawn on a second thread meanwhile.
bool draw_wiggle_frames(const Halves& halves, WiggleFrames& frames);

}  // namespace mpo
