#include <gtest/gtest.h>

#include <cstring>

#include "image/jpeg_codec.h"
#include "image/jpeg_markers.h"
#include "jpeg_helpers.h"

namespace mpo {
namespace {

using testjpeg::Bytes;

class JpegLoad : public ::testing::Test {
 protected:
  JpegLoad() { register_jpeg_decoder(images); }
  int load(int slot, const Bytes& bytes) {
    EXPECT_TRUE(testjpeg::write_file(dir.file("in.jpg"), bytes));
    return images.load_image(slot, T(dir.file("in.jpg")));
  }
  // Count of pixels whose B, G, R bytes differ from the R, G, B reference.
  size_t mismatches(int slot, const Bytes& rgb) {
    const PixelView view = images.view(slot);
    size_t bad = 0;
    for (int64_t y = 0; y < view.height; ++y)
      for (int64_t x = 0; x < view.width; ++x) {
        const uint8_t* got = view.row(y) + 3 * x;
        const uint8_t* want = &rgb[static_cast<size_t>((y * view.width + x) * 3)];
        bad += got[0] != want[2] || got[1] != want[1] || got[2] != want[0];
      }
    return bad;
  }
  testjpeg::ScratchDir dir;
  ImageService images;
};

// The buffer holds libjpeg's own RGB output as B, G, R, bottom row first,
// for odd and even sizes, subsampled colour, RGB-stored colour and grey.
TEST_F(JpegLoad, ThreeComponentAndGreyMatchLibjpegRgbOutput) {
  struct Case {
    int width, height, components;
    J_COLOR_SPACE in_space, jpeg_space;
  };
  for (const Case& c : {Case{165, 163, 3, JCS_RGB, JCS_YCbCr}, Case{64, 48, 3, JCS_RGB, JCS_YCbCr},
                        Case{37, 21, 3, JCS_RGB, JCS_RGB},
                        Case{51, 30, 1, JCS_GRAYSCALE, JCS_GRAYSCALE}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " space " << c.jpeg_space);
    const Bytes jpeg = testjpeg::encode(testjpeg::pattern(c.width, c.height, c.components),
                                        c.width, c.height, c.components, c.in_space, c.jpeg_space);
    const testjpeg::Decoded reference = testjpeg::decode(jpeg);
    ASSERT_EQ(reference.stream_space, c.jpeg_space);
    ASSERT_NE(load(3, jpeg), 0);
    EXPECT_EQ(images.get_image_width(3), c.width);
    EXPECT_EQ(images.get_image_height(3), c.height);
    EXPECT_EQ(images.get_image_source_depth(3), 24);
    EXPECT_EQ(mismatches(3, reference.samples), 0u);
  }
}

// Four components: B, G, R are yellow, magenta, cyan times black / 255, with
// the samples uninverted (all 255 is white, black 0 is black).
TEST_F(JpegLoad, CmykAndYcckUseProductsOfUninvertedSamples) {
  const int width = 33, height = 18;
  Bytes cmyk = testjpeg::pattern(width, height, 4);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      std::memset(&cmyk[static_cast<size_t>((y * width + x) * 4)], 255, 4);
      cmyk[static_cast<size_t>((y * width + x + 16) * 4 + 3)] = 0;
    }
  for (J_COLOR_SPACE space : {JCS_CMYK, JCS_YCCK}) {
    SCOPED_TRACE(space);
    const Bytes jpeg = testjpeg::encode(cmyk, width, height, 4, JCS_CMYK, space, 95);
    const testjpeg::Decoded reference = testjpeg::decode(jpeg, JCS_CMYK);
    ASSERT_EQ(reference.stream_space, space);
    Bytes rgb;
    for (size_t i = 0; i < reference.samples.size(); i += 4) {
      const unsigned k = reference.samples[i + 3];
      for (int c = 0; c < 3; ++c) rgb.push_back(static_cast<uint8_t>(reference.samples[i + c] * k / 255));
    }
    ASSERT_NE(load(4, jpeg), 0);
    EXPECT_EQ(images.get_image_source_depth(4), 32);
    EXPECT_EQ(mismatches(4, rgb), 0u);
    ASSERT_NE(images.begin_drawing(4), 0);
    EXPECT_EQ(images.read_pixel(3, 3) & 0xF8F8F8, 0xF8F8F8);  // near white
    EXPECT_EQ(images.read_pixel(19, 3), 0);
    images.end_drawing();
  }
}

TEST_F(JpegLoad, RefusedStreamsEmptyTheSlotAndLeaveTheDecoderReady) {
  const Bytes good = testjpeg::encode(testjpeg::pattern(40, 30, 3), 40, 30, 3);
  const size_t sof = testjpeg::find_marker(good, jpeg::kSOF0);
  ASSERT_GT(sof, 0u);
  Bytes twelve_bit = good;  // libjpeg-turbo writes no 12-bit streams: patch SOF
  twelve_bit[sof + 1] = jpeg::kSOF1;
  twelve_bit[sof + 4] = 12;
  Bytes bad_length = good;
  bad_length[sof + 3] = 0x05;
  Bytes no_soi = good;
  no_soi[1] = jpeg::kEOI;
  const Bytes two_components = testjpeg::encode(testjpeg::pattern(16, 16, 2), 16, 16, 2, JCS_UNKNOWN);

  for (const Bytes& bytes : {Bytes{}, Bytes{0xFF}, Bytes{0xFF, 0xD8}, no_soi,
                             Bytes{0xFF, 0xD8, 0x12, 0x34, 0x56, 0x78, 0x9A},
                             Bytes(good.begin(), good.begin() + static_cast<long>(sof) + 10),
                             bad_length, twelve_bit, two_components}) {
    SCOPED_TRACE(bytes.size());
    ASSERT_NE(images.create_image(3, 5, 5), 0);
    EXPECT_EQ(load(3, bytes), 0);
    EXPECT_EQ(images.get_image_width(3), 0);
  }
  ASSERT_NE(load(3, good), 0);
  EXPECT_EQ(mismatches(3, testjpeg::decode(good).samples), 0u);
}

TEST_F(JpegLoad, TruncatedStreamLoadsGreyFilledSilentlyAndBytesAfterEoiAreIgnored) {
  const int size = 96;
  const Bytes full = testjpeg::encode(testjpeg::pattern(size, size, 3), size, size, 3);
  ASSERT_NE(load(3, full), 0);
  Bytes trailing = full;
  trailing.insert(trailing.end(), {0x00, 0x17, 0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08});
  ASSERT_NE(load(4, trailing), 0);
  EXPECT_EQ(0, std::memcmp(images.view(4).pixels, images.view(3).pixels,
                           static_cast<size_t>(images.view(3).pitch * size)));

  const Bytes cut(full.begin(), full.begin() + static_cast<long>(testjpeg::find_marker(full, jpeg::kSOS)) + 200);
  // libjpeg warns about the missing data; none of its messages is shown.
  testing::internal::CaptureStderr();
  const int loaded = load(5, cut);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_NE(loaded, 0);
  ASSERT_NE(images.begin_drawing(5), 0);
  for (int x = 0; x < size; ++x) ASSERT_EQ(images.read_pixel(x, size - 1), 0x808080) << x;
}

TEST_F(JpegLoad, SizeAboveTheRecordLimitIsRefused) {
  Bytes jpeg = testjpeg::encode(testjpeg::pattern(16, 16, 3), 16, 16, 3);
  const size_t sof = testjpeg::find_marker(jpeg, jpeg::kSOF0);
  jpeg[sof + 7] = 40000 >> 8;  // width 40000: libjpeg accepts it, the record cannot
  jpeg[sof + 8] = 40000 & 0xFF;
  ASSERT_NE(images.create_image(3, 2, 2), 0);
  ASSERT_NE(images.create_image(4, 2, 2), 0);
  EXPECT_EQ(load(3, jpeg), 0);
  EXPECT_EQ(images.get_image_width(3), 0);
  EXPECT_EQ(images.get_image_width(4), 2);
}

// The decoder's own interface: both row orders; the bytes that fill each
// row to the pitch are never written.
TEST(JpegDecoder, RowOrderFlagAndPaddingCanary) {
  const int width = 23, height = 14;  // 69 pixel bytes, pitch 72
  const Bytes jpeg = testjpeg::encode(testjpeg::pattern(width, height, 3), width, height, 3);
  const Bytes rgb = testjpeg::decode(jpeg).samples;
  const int32_t pitch = 72;
  for (int32_t flags : {kBottomUp, 0}) {
    DecoderContext context;
    context.data = jpeg.data();
    context.data_size = static_cast<int32_t>(jpeg.size());
    ASSERT_EQ(jpeg_decoder().probe(context), 1);
    EXPECT_EQ(context.width, width);
    EXPECT_EQ(context.height, height);
    EXPECT_EQ(context.depth, 24);
    Bytes buffer(static_cast<size_t>(pitch) * height, 0xC3);
    ASSERT_EQ(jpeg_decoder().decode(context, buffer.data(), pitch, flags), 1);
    jpeg_decoder().release(context);
    EXPECT_EQ(context.private_area, nullptr);
    for (int y = 0; y < height; ++y) {
      const uint8_t* row = &buffer[static_cast<size_t>(flags ? height - 1 - y : y) * pitch];
      for (int i = 0; i < 3 * width; ++i)
        ASSERT_EQ(row[i], rgb[static_cast<size_t>(y * width * 3 + i / 3 * 3 + 2 - i % 3)]);
      for (int i = 3 * width; i < pitch; ++i) ASSERT_EQ(row[i], 0xC3) << "row " << y;
    }
  }
}

// Registration is per service: a second service needs, and gets, its own.
TEST(JpegCodecs, RegisterOncePerService) {
  testjpeg::ScratchDir dir;
  const std::string path = dir.file("p.jpg");
  ASSERT_TRUE(testjpeg::write_file(path, testjpeg::encode(testjpeg::pattern(8, 8, 3), 8, 8, 3)));
  ImageService first, second;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(register_jpeg_decoder(first), 1);
    EXPECT_EQ(register_jpeg_encoder(first), 1);
  }
  EXPECT_EQ(second.load_image(0, T(path)), 0);
  EXPECT_FALSE(second.has_encoder(jpeg_encoder()));
  register_jpeg_decoder(second);
  EXPECT_NE(first.load_image(0, T(path)), 0);
  EXPECT_NE(second.load_image(0, T(path)), 0);
  EXPECT_TRUE(first.has_encoder(jpeg_encoder()));
}

}  // namespace
}  // namespace mpo
