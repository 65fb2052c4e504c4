// Vector code hands the processor back with the upper halves of its vector
// registers clean. Left dirty, every SSE instruction after it (ours, and the
// codec's) waits on them, and the whole program runs at half speed.
#include <gtest/gtest.h>

#include <cpuid.h>

#include <cstdint>
#include <vector>

#include "render/anaglyph_rows.h"
#include "render/cubic_warp.h"
#include "render/tv_frame.h"

namespace mpo {
namespace {

#if defined(__x86_64__)
// Whether the processor can say which register state is in use (XGETBV
// with ECX = 1).
bool can_tell() {
  unsigned a, b, c, d;
  return __get_cpuid_count(0xd, 1, &a, &b, &c, &d) && (a & 4) != 0;
}

// Whether the upper halves of the vector registers are in use (XINUSE bit 2).
bool upper_dirty() {
  uint32_t low, high;
  asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
  return (low & 4) != 0;
}

TEST(VectorState, EveryVectorPassLeavesTheUpperHalvesClean) {
  if (!can_tell()) GTEST_SKIP() << "the processor does not report its register state";
  // Widths that are no multiple of 8: the plain code finishes each row.
  std::vector<uint8_t> left(3 * 19, 90), right(3 * 19, 160), out(3 * 19);
  mix_anaglyph_row(left.data(), right.data(), out.data(), 19);
  EXPECT_FALSE(upper_dirty()) << "anaglyph rows";

  std::vector<uint8_t> picture(3 * 44 * 30, 128), small(3 * 9 * 6);
  const PixelView source{picture.data(), 44, 30, 3 * 44}, target{small.data(), 9, 6, 3 * 9};
  ASSERT_TRUE(scale_picture(source, 0, 44, 30, target));
  EXPECT_FALSE(upper_dirty()) << "sums of light";

  cv::Mat src(40, 43, CV_8UC3, cv::Scalar(30, 90, 200)), dst(36, 37, CV_8UC3);
  cubic_warp(src, dst, cv::Matx23d(1.01, -0.02, 2.5, 0.02, 1.01, 1.5));
  EXPECT_FALSE(upper_dirty()) << "bicubic warp";
}
#endif

}  // namespace
}  // namespace mpo
