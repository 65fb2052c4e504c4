#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "image/jpeg_lossless.h"

namespace mpo {
namespace {

using Bytes = std::vector<uint8_t>;

struct Half {
  int width;
  int height;
  int h = 2, v = 2;  // luma sampling factors; 1 x 1 for chroma
  int quality = 90;
  bool progressive = false;
  int components = 3;
  uint32_t seed = 1;
  bool arithmetic = false;
};

// A JPEG of a noisy gradient, encoded by libjpeg itself.
Bytes encode(const Half& half) {
  Bytes samples;
  uint32_t seed = half.seed;
  for (int y = 0; y < half.height; ++y)
    for (int x = 0; x < half.width * half.components; ++x) {
      seed = seed * 1103515245u + 12345u;
      samples.push_back(static_cast<uint8_t>(x * 3 + y * 5 + (seed >> 16) % 64));
    }
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(half.width);
  cinfo.image_height = static_cast<JDIMENSION>(half.height);
  cinfo.input_components = half.components;
  cinfo.in_color_space = half.components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, half.quality, TRUE);
  cinfo.comp_info[0].h_samp_factor = half.h;
  cinfo.comp_info[0].v_samp_factor = half.v;
  if (half.progressive) jpeg_simple_progression(&cinfo);
  cinfo.arith_code = half.arithmetic;
  jpeg_start_compress(&cinfo, TRUE);
  const size_t stride = static_cast<size_t>(half.width * half.components);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &samples[cinfo.next_scanline * stride];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  Bytes jpeg(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return jpeg;
}

// The same stream with other frame dimensions in its SOF0 header.
Bytes with_frame(Bytes jpeg, int width, int height) {
  for (size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = static_cast<uint8_t>(height >> 8), jpeg[i + 6] = static_cast<uint8_t>(height);
      jpeg[i + 7] = static_cast<uint8_t>(width >> 8), jpeg[i + 8] = static_cast<uint8_t>(width);
      break;
    }
  return jpeg;
}

struct Picture {
  int width = 0, height = 0, components = 0;
  Bytes samples;
};

// Every pixel from its own block and no other: no smoothing across blocks.
Picture decode(const Bytes& jpeg) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.do_fancy_upsampling = FALSE;
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&cinfo);
  Picture picture{static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                  cinfo.output_components, {}};
  const size_t stride = static_cast<size_t>(picture.width * picture.components);
  picture.samples.resize(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &picture.samples[cinfo.output_scanline * stride];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return picture;
}

// The stream's coefficients written again by libjpeg with its own
// optimised Huffman tables.
Bytes rewritten_by_libjpeg(const Bytes& jpeg) {
  jpeg_decompress_struct in{};
  jpeg_compress_struct out{};
  jpeg_error_mgr err{};
  in.err = out.err = jpeg_std_error(&err);
  jpeg_create_decompress(&in);
  jpeg_mem_src(&in, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&in, TRUE);
  jvirt_barray_ptr* blocks = jpeg_read_coefficients(&in);
  jpeg_create_compress(&out);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&out, &buffer, &size);
  jpeg_copy_critical_parameters(&in, &out);
  out.optimize_coding = TRUE;
  jpeg_write_coefficients(&out, blocks);
  jpeg_finish_compress(&out);
  Bytes rewritten(buffer, buffer + size);
  jpeg_destroy_compress(&out);
  jpeg_destroy_decompress(&in);
  std::free(buffer);
  return rewritten;
}

struct Pair {
  Half left, right;
};
const Pair kPairs[] = {
    {{32, 24}, {40, 24}},                                        // 4:2:0
    {{48, 17, 2, 1}, {37, 17, 2, 1}},                            // 4:2:2, odd sizes
    {{24, 16, 1, 1}, {21, 16, 1, 1}},                            // 4:4:4
    {{64, 35, 2, 2, 80, true}, {33, 35, 2, 2, 80, true}},        // progressive
    {{32, 19, 2, 2, 85, true}, {30, 19, 2, 2, 85, false}},       // mixed
    {{16, 9, 1, 1, 90, false, 1}, {11, 9, 1, 1, 90, false, 1}},  // grey
    {{64, 40, 2, 2, 20}, {45, 40, 2, 2, 20}},                    // long runs of zeros
    // Arithmetic coding: the stream comes out longer than both halves.
    {{.width = 128, .height = 64, .arithmetic = true},
     {.width = 120, .height = 64, .arithmetic = true}},
};

// The joined stream decodes to exactly the two decoded halves side by side.
TEST(LosslessJoin, DecodesToBothHalvesSideBySide) {
  for (const Pair& c : kPairs) {
    const Bytes left = encode(c.left);
    Half right_half = c.right;
    right_half.seed = 99;
    const Bytes right = encode(right_half);
    const LosslessResult joined = join_side_by_side(left, right, {});
    ASSERT_EQ(joined.refusal, LosslessRefusal::none) << c.left.width << "+" << c.right.width;

    const Picture l = decode(left), r = decode(right), out = decode(joined.jpeg);
    ASSERT_EQ(out.width, l.width + r.width);
    ASSERT_EQ(out.height, l.height);
    ASSERT_EQ(out.components, l.components);
    const size_t ls = static_cast<size_t>(l.width * l.components);
    const size_t rs = static_cast<size_t>(r.width * r.components);
    size_t bad = 0;
    for (size_t y = 0; y < static_cast<size_t>(out.height); ++y)
      for (size_t i = 0; i < ls + rs; ++i) {
        const uint8_t want = i < ls ? l.samples[y * ls + i] : r.samples[y * rs + i - ls];
        bad += out.samples[y * (ls + rs) + i] != want;
      }
    EXPECT_EQ(bad, 0u) << c.left.width << "+" << c.right.width << " x " << c.left.height;
  }
}

// The Huffman tables are the optimal ones exactly as libjpeg makes them:
// the stream is byte for byte libjpeg's own optimised one.
TEST(LosslessJoin, IsLibjpegsOwnOptimisedStream) {
  for (const Pair& pair : kPairs) {
    Half right = pair.right;
    right.seed = 99;
    const LosslessResult joined = join_side_by_side(encode(pair.left), encode(right), {});
    ASSERT_EQ(joined.refusal, LosslessRefusal::none);
    EXPECT_TRUE(joined.jpeg == rewritten_by_libjpeg(joined.jpeg))
        << pair.left.width << "+" << pair.right.width << " x " << pair.left.height;
  }
}

TEST(LosslessJoin, RefusesHalvesThatDoNotFitAndUnreadableData) {
  const Bytes good = encode({32, 16});
  const Bytes garbage = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 1, 2, 3};
  struct Case {
    Bytes left, right;
    LosslessRefusal expected;
  };
  const Case cases[] = {
      {encode({40, 16}), good, LosslessRefusal::width_not_whole_mcu},
      {good, encode({32, 16, 2, 2, 70}), LosslessRefusal::different_quantisation},
      {good, encode({32, 24}), LosslessRefusal::different_height},
      {good, encode({32, 16, 1, 1}), LosslessRefusal::different_sampling},
      {good, encode({32, 16, 1, 1, 90, false, 1}), LosslessRefusal::different_components},
      {garbage, good, LosslessRefusal::unreadable_left},
      {good, Bytes(good.begin(), good.begin() + 200), LosslessRefusal::unreadable_right},
      {Bytes{}, good, LosslessRefusal::unreadable_left},
      {with_frame(good, 40000, 16), with_frame(good, 40000, 16), LosslessRefusal::too_large},
      // A few bytes promising gigabytes of coefficients.
      {with_frame(good, 30000, 30000), with_frame(good, 32, 30000), LosslessRefusal::too_large},
  };
  for (const Case& c : cases) {
    const LosslessResult result = join_side_by_side(c.left, c.right, {});
    EXPECT_EQ(result.refusal, c.expected) << static_cast<int>(c.expected);
    EXPECT_TRUE(result.jpeg.empty());
  }
  const LosslessResult narrow = join_side_by_side(encode({20, 8, 1, 1}), encode({8, 8, 1, 1}), {});
  EXPECT_EQ(narrow.refusal, LosslessRefusal::width_not_whole_mcu);
  EXPECT_EQ(narrow.mcu_width, 8);
}

// The Exif segment stands right after SOI and replaces the JFIF APP0.
TEST(LosslessJoin, ExifSegmentFollowsSoiInsteadOfJfif) {
  const Bytes half = encode({16, 16});
  const Bytes exif = {0x00, 0x0C, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42};
  const Bytes with = join_side_by_side(half, half, exif).jpeg;
  ASSERT_GT(with.size(), 4 + exif.size());
  EXPECT_EQ(Bytes(with.begin(), with.begin() + 4), (Bytes{0xFF, 0xD8, 0xFF, 0xE1}));
  EXPECT_EQ(Bytes(with.begin() + 4, with.begin() + 4 + 12), exif);
  for (size_t i = 0; i + 1 < with.size(); ++i)
    EXPECT_FALSE(with[i] == 0xFF && with[i + 1] == 0xE0) << "APP0 at " << i;

  const Bytes without = join_side_by_side(half, half, {}).jpeg;
  ASSERT_GT(without.size(), 4u);
  EXPECT_EQ(Bytes(without.begin(), without.begin() + 4), (Bytes{0xFF, 0xD8, 0xFF, 0xE0}));
}

}  // namespace
}  // namespace mpo
