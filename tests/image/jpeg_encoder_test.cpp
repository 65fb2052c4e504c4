#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "image/jpeg_codec.h"
#include "jpeg_helpers.h"
#include "tests/io/file_size_limit.h"

namespace mpo {
namespace {

using testjpeg::Bytes;

// ITU-T T.81 K.1 and K.2 quantisation tables, row by row.
const int kLuminance[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                            14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                            18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                            49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int kChrominance[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                              24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                              99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                              99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// T.81 K.3 typical Huffman tables as hex: 16 code counts, then the values.
const char* const kDcLuminance = "00010501010101010100000000000000" "000102030405060708090A0B";
const char* const kDcChrominance = "00030101010101010101010000000000" "000102030405060708090A0B";
const char* const kAcLuminance =
    "0002010303020403050504040000017D"
    "01020300041105122131410613516107227114328191A1082342B1C11552D1F02433627282090A161718191A25"
    "262728292A3435363738393A434445464748494A535455565758595A636465666768696A737475767778797A83"
    "8485868788898A92939495969798999AA2A3A4A5A6A7A8A9AAB2B3B4B5B6B7B8B9BAC2C3C4C5C6C7C8C9CAD2D3"
    "D4D5D6D7D8D9DAE1E2E3E4E5E6E7E8E9EAF1F2F3F4F5F6F7F8F9FA";
const char* const kAcChrominance =
    "00020102040403040705040400010277"
    "000102031104052131061241510761711322328108144291A1B1C109233352F0156272D10A162434E125F11718"
    "191A262728292A35363738393A434445464748494A535455565758595A636465666768696A737475767778797A"
    "82838485868788898A92939495969798999AA2A3A4A5A6A7A8A9AAB2B3B4B5B6B7B8B9BAC2C3C4C5C6C7C8C9CA"
    "D2D3D4D5D6D7D8D9DAE2E3E4E5E6E7E8E9EAF2F3F4F5F6F7F8F9FA";

void append_hex(Bytes& out, const char* hex) {
  for (; hex[0] && hex[1]; hex += 2) out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex, 2), nullptr, 16)));
}

// libjpeg's quality scaling; entries stored along the zigzag path (the
// anti-diagonals of the 8x8 block, alternating direction).
void append_dqt(Bytes& out, int table, const int* natural, int quality) {
  const int factor = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  out.insert(out.end(), {0xFF, 0xDB, 0x00, 0x43, static_cast<uint8_t>(table)});
  for (int d = 0; d < 15; ++d)
    for (int i = 0; i <= d; ++i) {
      const int row = d % 2 == 0 ? d - i : i, column = d - row;
      if (row > 7 || column > 7) continue;
      const int entry = natural[row * 8 + column];
      out.push_back(static_cast<uint8_t>(std::clamp((entry * factor + 50) / 100, 1, 255)));
    }
}

void append_dht(Bytes& out, int class_id, const char* hex) {
  Bytes table;
  append_hex(table, hex);
  const size_t length = 2 + 1 + table.size();
  out.insert(out.end(), {0xFF, 0xC4, static_cast<uint8_t>(length >> 8),
                         static_cast<uint8_t>(length), static_cast<uint8_t>(class_id)});
  out.insert(out.end(), table.begin(), table.end());
}

Bytes expected_header(int width, int height) {
  Bytes out;
  append_hex(out, "FFD8FFE000104A46494600010100000100010000");
  append_dqt(out, 0, kLuminance, 70);
  append_dqt(out, 1, kChrominance, 70);
  append_hex(out, "FFC0001108");
  out.insert(out.end(), {static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                         static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width)});
  append_hex(out, "03012200021101031101");
  append_dht(out, 0x00, kDcLuminance);
  append_dht(out, 0x10, kAcLuminance);
  append_dht(out, 0x01, kDcChrominance);
  append_dht(out, 0x11, kAcChrominance);
  append_hex(out, "FFDA000C03010002110311003F00");
  return out;
}

class JpegSave : public ::testing::Test {
 protected:
  JpegSave() {
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
  }
  // Slot `slot` filled from R, G, B samples, top row first.
  void fill(int slot, const Bytes& rgb, int width, int height) {
    ASSERT_NE(images.create_image(slot, width, height), 0);
    ASSERT_NE(images.begin_drawing(slot), 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = &rgb[static_cast<size_t>((y * width + x) * 3)];
        images.write_pixel(x, y, p[0] | p[1] << 8 | p[2] << 16);
      }
    images.end_drawing();
  }
  int encode(const std::string& path, const uint8_t* pixels, int width, int height, int64_t pitch,
             int flags) {
    return jpeg_encoder().encode24(T(path), pixels, width, height, static_cast<int32_t>(pitch),
                                   flags, kDefaultQualityLevel, 24);
  }
  testjpeg::ScratchDir dir;
  ImageService images;
};

TEST_F(JpegSave, DefaultSaveHeaderIsFixedThroughTheStartOfScan) {
  fill(3, testjpeg::pattern(165, 163, 3), 165, 163);
  const std::string path = dir.file("header.jpg");
  // An existing longer file is replaced, not appended to.
  ASSERT_TRUE(testjpeg::write_file(path, Bytes(100000, 0xEE)));
  ASSERT_EQ(images.save_image(3, T(path), kJpegEncoderId), 1);
  const Bytes file = testjpeg::read_file(path);
  const Bytes want = expected_header(165, 163);
  ASSERT_EQ(want.size(), 623u);
  ASSERT_LT(file.size(), 100000u);
  for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(file[i], want[i]) << "offset " << i;
  EXPECT_EQ(file[file.size() - 2], 0xFF);
  EXPECT_EQ(file[file.size() - 1], 0xD9);
}

// The file equals libjpeg's own encode of the R, G, B rows top row first,
// from a bottom-up buffer or from a top-down one with the flag clear and
// other padding bytes; 1-pixel pictures and rows included.
TEST_F(JpegSave, MatchesLibjpegRgbEncodeInBothRowOrders) {
  for (auto [width, height] : {std::pair{165, 163}, {64, 16}, {1, 1}, {31, 1}, {1, 9}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    const Bytes rgb = testjpeg::pattern(width, height, 3);
    const Bytes reference = testjpeg::encode(rgb, width, height, 3, JCS_RGB, JCS_UNKNOWN, 70);
    fill(3, rgb, width, height);
    ASSERT_EQ(images.save_image(3, T(dir.file("saved.jpg")), kJpegEncoderId), 1);
    EXPECT_EQ(testjpeg::read_file(dir.file("saved.jpg")), reference);

    const PixelView view = images.view(3);
    Bytes top_down(static_cast<size_t>(view.pitch * height), 0x5A);
    for (int y = 0; y < height; ++y)
      std::copy(view.row(y), view.row(y) + 3 * width, &top_down[static_cast<size_t>(y * view.pitch)]);
    ASSERT_EQ(encode(dir.file("direct.jpg"), top_down.data(), width, height, view.pitch, 0), 1);
    EXPECT_EQ(testjpeg::read_file(dir.file("direct.jpg")), reference);

    ASSERT_NE(images.load_image(4, T(dir.file("saved.jpg"))), 0);
    EXPECT_EQ(images.get_image_width(4), width);
    EXPECT_EQ(images.get_image_height(4), height);
  }
}

TEST_F(JpegSave, FailedSaveLeavesNoFile) {
  fill(2, testjpeg::pattern(10, 10, 3), 10, 10);
  EXPECT_EQ(images.save_image(2, T(dir.file("no/such/dir/x.jpg")), kJpegEncoderId), 0);
  EXPECT_FALSE(testjpeg::exists(dir.file("no")));
  // libjpeg refuses after the file was opened (no columns; too wide). The
  // earlier file of that name stays as it was, and no temporary is left.
  const std::string path = dir.file("refused.jpg");
  const PixelView v = images.view(2);
  for (int width : {0, 70000}) {
    ASSERT_TRUE(testjpeg::write_file(path, Bytes(10, 1)));
    EXPECT_EQ(encode(path, v.pixels, width, 1, 4, kBottomUp), 0);
    EXPECT_EQ(testjpeg::read_file(path), Bytes(10, 1));
  }
  ASSERT_EQ(::unlink(path.c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// A file-size limit hit in the middle of writing (EFBIG with SIGXFSZ
// ignored) must come back as a failure, with the partial file removed.
TEST_F(JpegSave, WriteErrorMidFileRemovesIt) {
  fill(2, testjpeg::pattern(400, 300, 3), 400, 300);
  const std::string path = dir.file("limited.jpg");
  int result = -1;
  {
    test::FileSizeLimit limit(20000);
    ASSERT_TRUE(limit.active());
    result = images.save_image(2, T(path), kJpegEncoderId);
  }
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(testjpeg::exists(path));
  ASSERT_EQ(images.save_image(2, T(path), kJpegEncoderId), 1);
  EXPECT_GT(testjpeg::read_file(path).size(), 20000u);  // the limit did cut it
}

}  // namespace
}  // namespace mpo
