#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <set>

#include "image/jpeg_codec.h"
#include "jpeg_helpers.h"

namespace mpo {
namespace {

using testjpeg::Bytes;
using testjpeg::ScratchDir;

// ITU-T T.81 Annex K.1 and K.2, in natural (row by row) order.
const int kLuminance[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int kChrominance[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// T.81 Annex K.3: code counts per length 1..16, then the values.
const uint8_t kDcLuminanceBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const uint8_t kDcChrominanceBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const uint8_t kAcLuminanceBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D};
const uint8_t kAcLuminanceValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52,
    0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6,
    0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3,
    0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8,
    0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};
const uint8_t kAcChrominanceBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const uint8_t kAcChrominanceValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33,
    0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18,
    0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4,
    0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA,
    0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7,
    0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

// Natural index of each zigzag position: walk the anti-diagonals of the
// 8x8 block, alternating direction.
std::vector<int> zigzag_order() {
  std::vector<int> order;
  for (int d = 0; d < 15; ++d) {
    for (int i = 0; i <= d; ++i) {
      const int row = d % 2 == 0 ? d - i : i;
      const int column = d - row;
      if (row < 8 && column < 8) order.push_back(row * 8 + column);
    }
  }
  return order;
}

void append_dqt(Bytes& out, int table, const int* natural, int quality) {
  const int factor = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  out.insert(out.end(), {0xFF, 0xDB, 0x00, 0x43, static_cast<uint8_t>(table)});
  for (int index : zigzag_order())
    out.push_back(static_cast<uint8_t>(std::clamp((natural[index] * factor + 50) / 100, 1, 255)));
}

void append_dht(Bytes& out, int class_id, const uint8_t* bits, const uint8_t* values) {
  int count = 0;
  for (int i = 0; i < 16; ++i) count += bits[i];
  const int length = 2 + 1 + 16 + count;
  out.insert(out.end(), {0xFF, 0xC4, static_cast<uint8_t>(length >> 8),
                         static_cast<uint8_t>(length & 0xFF), static_cast<uint8_t>(class_id)});
  out.insert(out.end(), bits, bits + 16);
  out.insert(out.end(), values, values + count);
}

Bytes expected_header(int width, int height) {
  Bytes out = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00,
               0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
  append_dqt(out, 0, kLuminance, 70);
  append_dqt(out, 1, kChrominance, 70);
  out.insert(out.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08, static_cast<uint8_t>(height >> 8),
                         static_cast<uint8_t>(height), static_cast<uint8_t>(width >> 8),
                         static_cast<uint8_t>(width), 0x03, 0x01, 0x22, 0x00, 0x02, 0x11, 0x01,
                         0x03, 0x11, 0x01});
  const uint8_t dc_values[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  append_dht(out, 0x00, kDcLuminanceBits, dc_values);
  append_dht(out, 0x10, kAcLuminanceBits, kAcLuminanceValues);
  append_dht(out, 0x01, kDcChrominanceBits, dc_values);
  append_dht(out, 0x11, kAcChrominanceBits, kAcChrominanceValues);
  out.insert(out.end(),
             {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
  return out;
}

// An image slot filled from R, G, B samples (top row first).
void fill(ImageService& images, int slot, const Bytes& rgb, int width, int height) {
  ASSERT_NE(images.create_image(slot, width, height), 0);
  ASSERT_NE(images.begin_drawing(slot), 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &rgb[static_cast<size_t>((y * width + x) * 3)];
      images.write_pixel(x, y, p[0] | p[1] << 8 | p[2] << 16);
    }
  images.end_drawing();
}

class JpegSave : public ::testing::Test {
 protected:
  JpegSave() {
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
  }
  ScratchDir dir;
  ImageService images;
};

TEST(JpegEncoderTables, TypedAnnexTablesAreComplete) {
  // Guards the test's own tables: each AC table holds EOB, ZRL and every
  // run/size pair exactly once.
  for (const uint8_t* values : {kAcLuminanceValues, kAcChrominanceValues}) {
    std::set<int> seen(values, values + 162);
    EXPECT_EQ(seen.size(), 162u);
    EXPECT_TRUE(seen.count(0x00) && seen.count(0xF0));
    for (int run = 0; run < 16; ++run)
      for (int size = 1; size <= 10; ++size) EXPECT_TRUE(seen.count(run << 4 | size));
  }
  std::vector<int> order = zigzag_order();
  ASSERT_EQ(order.size(), 64u);
  EXPECT_EQ(order[1], 1);
  EXPECT_EQ(order[2], 8);
  EXPECT_EQ(order[3], 16);
  EXPECT_EQ(order[63], 63);
}

TEST_F(JpegSave, DefaultSaveHeaderIsFixedThroughTheStartOfScan) {
  const int width = 165, height = 163;
  fill(images, 3, testjpeg::pattern(width, height, 3), width, height);
  const std::string path = dir.file("header.jpg");
  ASSERT_EQ(images.save_image(3, T(path), kJpegEncoderId), 1);
  const Bytes file = testjpeg::read_file(path);
  const Bytes want = expected_header(width, height);
  ASSERT_EQ(want.size(), 623u);
  ASSERT_GT(file.size(), want.size() + 2);
  for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(file[i], want[i]) << "offset " << i;
  EXPECT_EQ(file[file.size() - 2], 0xFF);
  EXPECT_EQ(file[file.size() - 1], 0xD9);
}

// Our file equals libjpeg's own encode of the R, G, B rows, top row first,
// whichever row order the buffer has; padding bytes play no part.
TEST_F(JpegSave, MatchesLibjpegRgbEncodeInBothRowOrders) {
  for (auto [width, height] : {std::pair{165, 163}, {64, 16}, {1, 1}, {31, 1}, {1, 9}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    const Bytes rgb = testjpeg::pattern(width, height, 3);
    testjpeg::EncodeOptions options;
    options.quality = 70;
    const Bytes reference = testjpeg::encode(rgb, width, height, 3, options);

    fill(images, 3, rgb, width, height);
    const std::string saved = dir.file("saved.jpg");
    ASSERT_EQ(images.save_image(3, T(saved), kJpegEncoderId), 1);
    EXPECT_EQ(testjpeg::read_file(saved), reference);

    // The same pixels top-down with the flag clear, and other padding bytes.
    const PixelView view = images.view(3);
    Bytes top_down(static_cast<size_t>(view.pitch * height), 0x5A);
    for (int y = 0; y < height; ++y)
      std::copy(view.row(y), view.row(y) + 3 * width, &top_down[static_cast<size_t>(y * view.pitch)]);
    const std::string direct = dir.file("direct.jpg");
    ASSERT_EQ(jpeg_encoder().encode24(T(direct), top_down.data(), width, height,
                                      static_cast<int32_t>(view.pitch), 0, 7, 24),
              1);
    EXPECT_EQ(testjpeg::read_file(direct), reference);

    // A 1-pixel picture or row still decodes to the right size.
    ASSERT_NE(images.load_image(4, T(saved)), 0);
    EXPECT_EQ(images.get_image_width(4), width);
    EXPECT_EQ(images.get_image_height(4), height);
  }
}

TEST_F(JpegSave, QualityLevelIsClampedToTenSteps) {
  const Bytes rgb = testjpeg::pattern(24, 24, 3);
  fill(images, 1, rgb, 24, 24);
  const PixelView v = images.view(1);
  auto encode = [&](int level) {
    const std::string path = dir.file("q" + std::to_string(level) + ".jpg");
    EXPECT_EQ(jpeg_encoder().encode24(T(path), v.pixels, 24, 24, static_cast<int32_t>(v.pitch),
                                      kBottomUp, level, 24),
              1);
    return testjpeg::read_file(path);
  };
  EXPECT_EQ(encode(12), encode(10));
  EXPECT_EQ(encode(-5), encode(0));
  EXPECT_NE(encode(3), encode(7));
  EXPECT_NE(encode(0), encode(1));
}

TEST_F(JpegSave, ExistingFileIsReplacedNotAppended) {
  const std::string path = dir.file("old.jpg");
  ASSERT_TRUE(testjpeg::write_file(path, Bytes(100000, 0xEE)));
  fill(images, 2, testjpeg::pattern(10, 10, 3), 10, 10);
  ASSERT_EQ(images.save_image(2, T(path), kJpegEncoderId), 1);
  const Bytes file = testjpeg::read_file(path);
  ASSERT_LT(file.size(), 100000u);
  EXPECT_EQ(file[file.size() - 1], 0xD9);
}

TEST_F(JpegSave, FailedSaveLeavesNoFile) {
  fill(images, 2, testjpeg::pattern(10, 10, 3), 10, 10);
  // The file cannot be created.
  EXPECT_EQ(images.save_image(2, T(dir.file("no/such/dir/x.jpg")), kJpegEncoderId), 0);
  EXPECT_FALSE(testjpeg::file_exists(dir.file("no")));

  // libjpeg refuses after the file was opened: a picture with no columns.
  // The earlier file of that name goes too, as opening truncated it.
  const std::string path = dir.file("empty.jpg");
  ASSERT_TRUE(testjpeg::write_file(path, Bytes(10, 1)));
  const PixelView v = images.view(2);
  EXPECT_EQ(jpeg_encoder().encode24(T(path), v.pixels, 0, 10, 4, kBottomUp, 7, 24), 0);
  EXPECT_FALSE(testjpeg::file_exists(path));
  EXPECT_EQ(jpeg_encoder().encode24(T(path), v.pixels, 70000, 1, 210000, 0, 7, 24), 0);
  EXPECT_FALSE(testjpeg::file_exists(path));
}

// A file-size limit hit in the middle of writing: the write error must
// surface as a failure, with the partial file removed.
TEST_F(JpegSave, WriteErrorMidFileRemovesIt) {
  const int width = 400, height = 300;
  fill(images, 2, testjpeg::pattern(width, height, 3), width, height);
  const std::string path = dir.file("limited.jpg");

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 20000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const int result = images.save_image(2, T(path), kJpegEncoderId);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_EQ(result, 0);
  EXPECT_FALSE(testjpeg::file_exists(path));
  // Without the limit the same save succeeds and is larger than the limit.
  ASSERT_EQ(images.save_image(2, T(path), kJpegEncoderId), 1);
  EXPECT_GT(testjpeg::read_file(path).size(), 20000u);
}

TEST(JpegEncoder, RegistersOncePerService) {
  ImageService a;
  ImageService b;
  EXPECT_EQ(register_jpeg_encoder(a), 1);
  EXPECT_EQ(register_jpeg_encoder(a), 1);
  EXPECT_TRUE(a.has_encoder(jpeg_encoder()));
  EXPECT_FALSE(b.has_encoder(jpeg_encoder()));
  EXPECT_EQ(jpeg_encoder().id, kJpegEncoderId);
  EXPECT_EQ(jpeg_encoder().encode32, nullptr);
}

}  // namespace
}  // namespace mpo
