#include "render/wiggle_frames.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "io/side_thread.h"
#include "render/tv_frame.h"

namespace mpo {

namespace {

std::unique_ptr<uint8_t[]> bytes_for(int64_t n) {
  try {
    return std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// `from`'s rows (B, G, R) as R, G, B, A rows of `to`, top row first.
void to_rgba(const PixelView& from, uint8_t* to) {
  for (int64_t y = 0; y < from.height; ++y) {
    const uint8_t* bgr = from.row(y);
    for (int64_t x = 0; x < from.width; ++x, bgr += 3, to += 4) {
      to[0] = bgr[2], to[1] = bgr[1], to[2] = bgr[0], to[3] = 255;
    }
  }
}

// The left W x H part of the half's picture, as a picture of its own that
// the scaling reads; `room` holds it where the picture is smaller (the
// grid's pixels, black where the picture has none).
PixelView half_source(const PixelView& picture, const PixelGrid& grid, int64_t W, int64_t H,
                      std::unique_ptr<uint8_t[]>& room) {
  if (picture.pixels && picture.width >= W && picture.height >= H) return picture;
  room = bytes_for(3 * W * H);
  if (!room) return {};
  const PixelView packed{room.get(), W, H, 3 * W};
  for (int64_t y = 0; y < H; ++y) {
    uint8_t* bgr = packed.row(y);
    for (int64_t x = 0; x < W; ++x, bgr += 3) {
      const int64_t colour = grid.at(x, y);
      bgr[0] = static_cast<uint8_t>(colour >> 16);
      bgr[1] = static_cast<uint8_t>(colour >> 8);
      bgr[2] = static_cast<uint8_t>(colour);
    }
  }
  return packed;
}

// One frame from the half: scaled (or copied) into `work`, then to RGBA.
bool draw_frame(const PixelView& source, int64_t W, int64_t H, const PixelView& work,
                uint8_t* rgba) {
  if (work.width == W && work.height == H) {
    for (int64_t y = 0; y < H; ++y)
      std::memcpy(work.row(y), source.row(y), static_cast<size_t>(3 * W));
  } else if (!scale_picture(source, 0, W, H, work)) {
    return false;
  }
  to_rgba(work, rgba);
  return true;
}

}  // namespace

WiggleSize wiggle_size(int64_t W, int64_t H) {
  const int64_t longest = std::max(W, H);
  if (W < 1 || H < 1 || longest <= kWiggleLongestSide)
    return {std::max<int64_t>(W, 0), std::max<int64_t>(H, 0)};
  const auto side = [&](int64_t n) {
    return std::max<int64_t>((2 * kWiggleLongestSide * n + longest) / (2 * longest), 1);
  };
  return {side(W), side(H)};
}

bool draw_wiggle_frames(const Halves& halves, WiggleFrames& frames) {
  const int64_t W = halves.width, H = halves.height;
  if (!halves.usable || W < 1 || H < 1) return false;
  const WiggleSize size = wiggle_size(W, H);
  frames.width = size.w, frames.height = size.h;
  const int64_t n = 4 * size.w * size.h;
  frames.left = bytes_for(n);
  frames.right = bytes_for(n);
  std::unique_ptr<uint8_t[]> work_left = bytes_for(3 * size.w * size.h),
                             work_right = bytes_for(3 * size.w * size.h), room_left, room_right;
  if (!frames.left || !frames.right || !work_left || !work_right) return false;
  const PixelView left = half_source(halves.left_picture, halves.left, W, H, room_left);
  const PixelView right = half_source(halves.right_picture, halves.right, W, H, room_right);
  if (!left.pixels || !right.pixels) return false;
  const PixelView left_work{work_left.get(), size.w, size.h, 3 * size.w};
  const PixelView right_work{work_right.get(), size.w, size.h, 3 * size.w};
  // The right frame on a thread of its own while this one draws the left.
  bool left_drawn = false, right_drawn = false;
  run_beside([&] { left_drawn = draw_frame(left, W, H, left_work, frames.left.get()); },
             [&] { right_drawn = draw_frame(right, W, H, right_work, frames.right.get()); });
  return left_drawn && right_drawn;
}

}  // namespace mpo
