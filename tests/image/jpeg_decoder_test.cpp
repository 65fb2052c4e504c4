#include <gtest/gtest.h>

#include <cstring>

#include "image/jpeg_codec.h"
#include "jpeg_helpers.h"

namespace mpo {
namespace {

using testjpeg::Bytes;
using testjpeg::ScratchDir;

class JpegLoad : public ::testing::Test {
 protected:
  JpegLoad() {
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
  }
  // Writes the bytes to a file and loads it into `slot`.
  int load(int slot, const Bytes& bytes, const std::string& name = "in.jpg") {
    const std::string path = dir.file(name);
    EXPECT_TRUE(testjpeg::write_file(path, bytes));
    return images.load_image(slot, T(path));
  }
  // Every pixel of the slot equals B, G, R built from the expected R, G, B.
  void expect_pixels(int slot, const Bytes& rgb) {
    const PixelView view = images.view(slot);
    ASSERT_NE(view.pixels, nullptr);
    size_t mismatches = 0;
    for (int64_t y = 0; y < view.height; ++y) {
      const uint8_t* row = view.row(y);
      for (int64_t x = 0; x < view.width; ++x) {
        const uint8_t* want = &rgb[static_cast<size_t>((y * view.width + x) * 3)];
        if (row[3 * x] != want[2] || row[3 * x + 1] != want[1] || row[3 * x + 2] != want[0])
          ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0u);
  }
  ScratchDir dir;
  ImageService images;
};

// libjpeg's own RGB output swapped to B, G, R is what the buffer must hold,
// for odd and even sizes, colour and grey, subsampled and not.
TEST_F(JpegLoad, ColourAndGreyMatchLibjpegRgbOutput) {
  struct Case {
    int width, height, components;
    J_COLOR_SPACE in_space, jpeg_space;
  };
  const Case cases[] = {
      {165, 163, 3, JCS_RGB, JCS_YCbCr},      // chroma 2x2, odd sizes
      {64, 48, 3, JCS_RGB, JCS_YCbCr},        // no padding, whole blocks
      {37, 21, 3, JCS_RGB, JCS_RGB},          // stored as RGB (Adobe transform 0)
      {51, 30, 1, JCS_GRAYSCALE, JCS_GRAYSCALE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " space " << c.jpeg_space);
    testjpeg::EncodeOptions options;
    options.in_space = c.in_space;
    options.jpeg_space = c.jpeg_space;
    options.force_jpeg_space = true;
    const Bytes jpeg = testjpeg::encode(testjpeg::pattern(c.width, c.height, c.components),
                                        c.width, c.height, c.components, options);
    const testjpeg::Decoded reference = testjpeg::decode(jpeg, JCS_RGB);
    ASSERT_EQ(reference.stream_space, c.jpeg_space);
    ASSERT_NE(load(3, jpeg), 0);
    EXPECT_EQ(images.get_image_width(3), c.width);
    EXPECT_EQ(images.get_image_height(3), c.height);
    EXPECT_EQ(images.get_image_source_depth(3), 24);
    expect_pixels(3, reference.samples);
    if (c.components == 1) {
      const PixelView view = images.view(3);
      const uint8_t* p = view.row(c.height / 2) + 3 * (c.width / 2);
      EXPECT_EQ(p[0], p[1]);
      EXPECT_EQ(p[1], p[2]);
    }
  }
}

// Four-component streams become B, G, R by the products of the colour
// samples and black, uninverted; the source depth is 32.
TEST_F(JpegLoad, CmykAndYcckUseProductsOfUninvertedSamples) {
  const int width = 33, height = 18;
  Bytes cmyk = testjpeg::pattern(width, height, 4);
  // A white pixel (all 255) and a pixel with black 0 at known places; flat
  // areas so that compression keeps them.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      std::memset(&cmyk[static_cast<size_t>((y * width + x) * 4)], 255, 4);
      uint8_t* p = &cmyk[static_cast<size_t>((y * width + x + 16) * 4)];
      p[0] = 200, p[1] = 100, p[2] = 50, p[3] = 0;
    }
  for (J_COLOR_SPACE space : {JCS_CMYK, JCS_YCCK}) {
    SCOPED_TRACE(space);
    testjpeg::EncodeOptions options;
    options.in_space = JCS_CMYK;
    options.jpeg_space = space;
    options.force_jpeg_space = true;
    options.quality = 95;
    const Bytes jpeg = testjpeg::encode(cmyk, width, height, 4, options);
    const testjpeg::Decoded reference = testjpeg::decode(jpeg, JCS_CMYK);
    ASSERT_EQ(reference.stream_space, space);
    ASSERT_NE(load(4, jpeg), 0);
    EXPECT_EQ(images.get_image_source_depth(4), 32);
    Bytes rgb;
    for (size_t i = 0; i < reference.samples.size(); i += 4) {
      const unsigned c = reference.samples[i], m = reference.samples[i + 1],
                     yl = reference.samples[i + 2], k = reference.samples[i + 3];
      rgb.push_back(static_cast<uint8_t>(c * k / 255));
      rgb.push_back(static_cast<uint8_t>(m * k / 255));
      rgb.push_back(static_cast<uint8_t>(yl * k / 255));
    }
    expect_pixels(4, rgb);
    ASSERT_NE(images.begin_drawing(4), 0);
    const int64_t white = images.read_pixel(3, 3);
    for (int shift : {0, 8, 16}) EXPECT_GE((white >> shift) & 0xFF, 250) << shift;
    EXPECT_EQ(images.read_pixel(19, 3), 0);
    images.end_drawing();
  }
}

TEST_F(JpegLoad, RefusedStreamsEmptyTheSlot) {
  const Bytes good = testjpeg::encode_rgb(testjpeg::pattern(40, 30, 3), 40, 30);
  const size_t sof = testjpeg::find_marker(good, 0xC0);
  ASSERT_GT(sof, 0u);

  Bytes twelve_bit = good;
  twelve_bit[sof + 1] = 0xC1;  // extended sequential
  twelve_bit[sof + 4] = 12;    // sample precision

  Bytes bad_sof_length = good;
  bad_sof_length[sof + 3] = 0x05;

  Bytes not_soi = good;
  not_soi[1] = 0xD9;

  testjpeg::EncodeOptions two;
  two.in_space = JCS_UNKNOWN;
  const Bytes two_components = testjpeg::encode(testjpeg::pattern(16, 16, 2), 16, 16, 2, two);

  const struct {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"one byte", {0xFF}},
      {"just SOI", {0xFF, 0xD8}},
      {"not FF D8", not_soi},
      {"garbage after SOI", {0xFF, 0xD8, 0x12, 0x34, 0x56, 0x78, 0x9A}},
      {"header cut before SOS", Bytes(good.begin(), good.begin() + static_cast<long>(sof) + 10)},
      {"bad SOF length", bad_sof_length},
      {"12-bit samples", twelve_bit},
      {"two components", two_components},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NE(images.create_image(3, 5, 5), 0);
    EXPECT_EQ(load(3, c.bytes), 0);
    EXPECT_EQ(images.get_image_width(3), 0);
  }
  // The decoder is left in a state that loads the next file normally.
  ASSERT_NE(load(3, good), 0);
  EXPECT_EQ(images.get_image_width(3), 40);
}

TEST_F(JpegLoad, TruncatedStreamLoadsWithGreyFillAndTrailingBytesAreIgnored) {
  const int width = 96, height = 96;
  const Bytes full = testjpeg::encode_rgb(testjpeg::pattern(width, height, 3), width, height);
  ASSERT_NE(load(3, full), 0);
  const Bytes whole(images.view(3).pixels, images.view(3).pixels + images.view(3).pitch * height);

  Bytes trailing = full;
  for (int i = 0; i < 300; ++i) trailing.push_back(static_cast<uint8_t>(i * 37));
  trailing.insert(trailing.end(), {0xFF, 0xD8, 0xFF, 0xC0});
  ASSERT_NE(load(4, trailing), 0);
  EXPECT_EQ(0, std::memcmp(images.view(4).pixels, whole.data(), whole.size()));

  const size_t sos = testjpeg::find_marker(full, 0xDA);
  ASSERT_GT(sos, 0u);
  const Bytes cut(full.begin(), full.begin() + static_cast<long>(sos) + 200);
  ASSERT_NE(load(5, cut), 0);
  ASSERT_NE(images.begin_drawing(5), 0);
  for (int x = 0; x < width; ++x) EXPECT_EQ(images.read_pixel(x, height - 1), 0x808080) << x;
  images.end_drawing();
}

TEST_F(JpegLoad, SizeAboveTheRecordLimitIsRefused) {
  Bytes jpeg = testjpeg::encode_rgb(testjpeg::pattern(16, 16, 3), 16, 16);
  const size_t sof = testjpeg::find_marker(jpeg, 0xC0);
  ASSERT_GT(sof, 0u);
  // Width 40000: within libjpeg's limit, beyond a 16-bit signed record.
  jpeg[sof + 7] = 40000 >> 8;
  jpeg[sof + 8] = 40000 & 0xFF;
  ASSERT_NE(images.create_image(3, 2, 2), 0);
  ASSERT_NE(images.create_image(4, 2, 2), 0);
  EXPECT_EQ(load(3, jpeg), 0);
  EXPECT_EQ(images.get_image_width(3), 0);
  EXPECT_EQ(images.get_image_height(3), 0);
  EXPECT_EQ(images.get_image_width(4), 2);
}

TEST_F(JpegLoad, SlotReuseAfterFailedLoads) {
  const Bytes a = testjpeg::encode_rgb(testjpeg::pattern(20, 10, 3, 1), 20, 10);
  const Bytes b = testjpeg::encode_rgb(testjpeg::pattern(9, 31, 3, 2), 9, 31);
  ASSERT_NE(load(7, a, "a.jpg"), 0);
  EXPECT_EQ(load(7, {0xFF, 0xD8, 0xFF}, "bad.jpg"), 0);
  EXPECT_EQ(images.get_image_width(7), 0);
  EXPECT_EQ(images.load_image(7, T(dir.file("none.jpg"))), 0);
  EXPECT_EQ(images.get_image_width(7), 0);
  ASSERT_NE(load(7, b, "b.jpg"), 0);
  EXPECT_EQ(images.get_image_width(7), 9);
  expect_pixels(7, testjpeg::decode(b, JCS_RGB).samples);
  ASSERT_NE(load(7, a, "a.jpg"), 0);
  expect_pixels(7, testjpeg::decode(a, JCS_RGB).samples);
}

// The decoder's own interface: both row orders, and the bytes that fill
// each row to the pitch are never written.
TEST(JpegDecoder, RowOrderFlagAndPaddingCanary) {
  const int width = 23, height = 14;  // 69 pixel bytes, pitch 72
  const Bytes jpeg = testjpeg::encode_rgb(testjpeg::pattern(width, height, 3), width, height);
  const Bytes rgb = testjpeg::decode(jpeg, JCS_RGB).samples;
  const int32_t pitch = static_cast<int32_t>(pitch_for_width(width));
  ASSERT_EQ(pitch, 72);
  const DecoderDescriptor& decoder = jpeg_decoder();
  EXPECT_EQ(decoder.id, kJpegEncoderId);

  for (int32_t flags : {kBottomUp, 0}) {
    SCOPED_TRACE(flags);
    DecoderContext context;
    context.data = jpeg.data();
    context.data_size = static_cast<int32_t>(jpeg.size());
    ASSERT_EQ(decoder.probe(context), 1);
    EXPECT_EQ(context.width, width);
    EXPECT_EQ(context.height, height);
    EXPECT_EQ(context.depth, 24);
    EXPECT_EQ(context.source_depth, 24);
    Bytes buffer(static_cast<size_t>(pitch) * height, 0xC3);
    ASSERT_EQ(decoder.decode(context, buffer.data(), pitch, flags), 1);
    decoder.release(context);
    EXPECT_EQ(context.private_area, nullptr);
    for (int y = 0; y < height; ++y) {
      const int memory_row = flags == kBottomUp ? height - 1 - y : y;
      const uint8_t* row = &buffer[static_cast<size_t>(memory_row) * pitch];
      for (int x = 0; x < width; ++x) {
        const uint8_t* want = &rgb[static_cast<size_t>((y * width + x) * 3)];
        ASSERT_EQ(row[3 * x], want[2]);
        ASSERT_EQ(row[3 * x + 1], want[1]);
        ASSERT_EQ(row[3 * x + 2], want[0]);
      }
      for (int i = 3 * width; i < pitch; ++i) ASSERT_EQ(row[i], 0xC3) << "row " << y;
    }
  }
}

// Registration is per service: a second service needs (and gets) its own.
TEST(JpegDecoder, RegistersOncePerService) {
  ScratchDir dir;
  const std::string path = dir.file("p.jpg");
  ASSERT_TRUE(testjpeg::write_file(path, testjpeg::encode_rgb(testjpeg::pattern(8, 8, 3), 8, 8)));
  ImageService first;
  ImageService second;
  EXPECT_EQ(first.load_image(0, T(path)), 0);
  EXPECT_EQ(register_jpeg_decoder(first), 1);
  EXPECT_EQ(register_jpeg_decoder(first), 1);
  EXPECT_TRUE(first.has_decoder(jpeg_decoder()));
  EXPECT_FALSE(second.has_decoder(jpeg_decoder()));
  EXPECT_EQ(register_jpeg_decoder(second), 1);
  EXPECT_NE(first.load_image(0, T(path)), 0);
  EXPECT_NE(second.load_image(0, T(path)), 0);
}

}  // namespace
}  // namespace mpo
