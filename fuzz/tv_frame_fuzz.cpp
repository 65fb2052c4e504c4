// The TV frame's size handling: halves of any size up to the decoder's
// 32767 pixels a side (at most 2^16 pixels, so that runs stay quick),
// scaled into regions of 1 to 96 pixels a side, as the frame scales each
// half into its region (a column of one pixel, a single row, enlarged from
// one pixel, every aspect ratio). Scaling writes exactly its region; halves
// of one colour come out as exactly that colour. The frame's layout of
// every size stays within its half of the frame.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

#include "render/tv_frame.h"
#include "fuzz_support.h"

namespace {

constexpr int64_t kSide = 32767;
constexpr int64_t kMostPixels = int64_t{1} << 16;
constexpr int64_t kMostRegion = 96;
constexpr uint8_t kGuard = 0xA5;

void check_layout(int64_t W, int64_t H) {
  const mpo::TvLayout t = mpo::tv_layout(W, H);
  FUZZ_CHECK(t.w >= 1 && t.h >= 1 && t.w <= mpo::kTvFrameWidth / 2 && t.h <= mpo::kTvFrameHeight);
  FUZZ_CHECK(t.w == mpo::kTvFrameWidth / 2 || t.h == mpo::kTvFrameHeight);
  FUZZ_CHECK(2 * t.x0 + t.w % 2 == mpo::kTvFrameWidth / 2 - t.w);
  FUZZ_CHECK(2 * t.y0 + t.h % 2 == mpo::kTvFrameHeight - t.h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int64_t W = in.ConsumeIntegralInRange<int64_t>(1, kSide);
  const int64_t H = in.ConsumeIntegralInRange<int64_t>(1, std::min(kSide, kMostPixels / W));
  const mpo::TvLayout region{in.ConsumeIntegralInRange<int64_t>(1, kMostRegion),
                             in.ConsumeIntegralInRange<int64_t>(1, kMostRegion), 1, 1};
  const int half = in.ConsumeBool() ? 1 : 0;
  const bool uniform = in.ConsumeBool();
  uint8_t colours[6];
  for (uint8_t& c : colours) c = in.ConsumeIntegral<uint8_t>();
  const std::vector<uint8_t> pattern = in.ConsumeRemainingBytes<uint8_t>();
  check_layout(W, H);

  // Both halves side by side, as in the side-by-side image.
  std::vector<uint8_t> pixels(static_cast<size_t>(6 * W * H));
  const bool exact = uniform || pattern.empty();
  for (size_t i = 0; i < pixels.size(); ++i) {
    const bool right = (i / 3) % static_cast<size_t>(2 * W) >= static_cast<size_t>(W);
    pixels[i] = exact ? colours[3 * right + i % 3] : pattern[i % pattern.size()];
  }
  const mpo::PixelView source{pixels.data(), 2 * W, H, 6 * W};
  // The region with a guard pixel all around it.
  const int64_t cw = region.w + 2, ch = region.h + 2;
  std::vector<uint8_t> canvas(static_cast<size_t>(3 * cw * ch), kGuard);
  const mpo::PixelView view{canvas.data(), cw, ch, 3 * cw};
  const mpo::PixelView inner{view.row(region.h) + 3, region.w, region.h, view.pitch};
  FUZZ_CHECK(mpo::scale_picture(source, half * W, W, H, inner));
  for (int64_t y = 0; y < ch; ++y) {
    for (int64_t x = 0; x < cw; ++x) {
      const bool inside = x >= 1 && x <= region.w && y >= 1 && y <= region.h;
      for (int c = 0; c < 3; ++c) {
        const uint8_t v = view.row(y)[3 * x + c];
        if (!inside) FUZZ_CHECK(v == kGuard);
        else if (exact) FUZZ_CHECK(v == colours[3 * half + c]);
      }
    }
  }
  return 0;
}
