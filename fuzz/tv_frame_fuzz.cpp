// The TV frame of halves of any size up to the decoder's 32767 pixels a
// side (at most 2^18 pixels, so that runs stay quick): shrunk to regions of
// one or two pixels across, enlarged from a single pixel, in every aspect
// ratio. The frame is always drawn, black outside both regions; halves of
// one colour each come out as exactly that colour over their region.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

#include "render/tv_frame.h"
#include "fuzz_support.h"

namespace {

constexpr int64_t kSide = 32767;
constexpr int64_t kMostPixels = int64_t{1} << 18;

struct Frame {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(3 * mpo::kTvFrameWidth * mpo::kTvFrameHeight);
  mpo::PixelView view{bytes.data(), mpo::kTvFrameWidth, mpo::kTvFrameHeight,
                      3 * mpo::kTvFrameWidth};
};

// Every pixel of the frame is black outside the regions of the halves and,
// within them, `left` or `right` (null: any colour).
void check_frame(const mpo::PixelView& frame, const mpo::TvLayout& t, const uint8_t* left,
                 const uint8_t* right) {
  constexpr int64_t half = mpo::kTvFrameWidth / 2;
  for (int64_t y = 0; y < mpo::kTvFrameHeight; ++y) {
    const uint8_t* row = frame.row(y);
    for (int64_t x = 0; x < mpo::kTvFrameWidth; ++x) {
      const int64_t u = x % half;
      const bool in = u >= t.x0 && u < t.x0 + t.w && y >= t.y0 && y < t.y0 + t.h;
      const uint8_t black[3] = {0, 0, 0};
      const uint8_t* want = !in ? black : x < half ? left : right;
      if (want == nullptr) continue;
      for (int c = 0; c < 3; ++c) FUZZ_CHECK(row[3 * x + c] == want[c]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int64_t W = in.ConsumeIntegralInRange<int64_t>(1, kSide);
  const int64_t H = in.ConsumeIntegralInRange<int64_t>(1, std::min(kSide, kMostPixels / W));
  const bool uniform = in.ConsumeBool();
  uint8_t colours[6];
  for (uint8_t& c : colours) c = in.ConsumeIntegral<uint8_t>();
  const std::vector<uint8_t> pattern = in.ConsumeRemainingBytes<uint8_t>();

  // Both halves side by side, as in the side-by-side image.
  std::vector<uint8_t> pixels(static_cast<size_t>(6 * W * H));
  for (size_t i = 0; i < pixels.size(); ++i) {
    const bool right = (i / 3) % static_cast<size_t>(2 * W) >= static_cast<size_t>(W);
    pixels[i] = uniform || pattern.empty() ? colours[3 * right + i % 3] : pattern[i % pattern.size()];
  }
  const mpo::PixelView source{pixels.data(), 2 * W, H, 6 * W};
  Frame frame;
  FUZZ_CHECK(mpo::scale_to_tv_frame(source, W, H, frame.view));
  const bool exact = uniform || pattern.empty();
  check_frame(frame.view, mpo::tv_layout(W, H), exact ? colours : nullptr,
              exact ? colours + 3 : nullptr);
  return 0;
}
