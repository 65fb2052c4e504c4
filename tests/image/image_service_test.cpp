#include "image/image_service.h"

#include <gtest/gtest.h>

#include "image/jpeg_codec.h"
#include "image/jpeg_markers.h"
#include "jpeg_helpers.h"

namespace mpo {
namespace {

TEST(ImageSlots, PixelLayoutColourValueAndPadding) {
  ImageService images;
  // Width 3: 9 pixel bytes and 3 padding bytes per row.
  ASSERT_NE(images.create_image(5, 3, 2), 0);
  const PixelView view = images.view(5);
  ASSERT_EQ(view.pitch, 12);
  for (int i = 0; i < 24; ++i) ASSERT_EQ(view.pixels[i], 0);  // black
  for (int y = 0; y < 2; ++y)
    for (int i = 9; i < 12; ++i) view.row(y)[i] = 0xA5;  // canary

  ASSERT_NE(images.begin_drawing(5), 0);
  images.write_pixel(0, 0, 1 + 2 * 256 + 3 * 65536);
  images.write_pixel(2, 1, (int64_t{0x7F3A} << 24) | 0x112233);  // high bits dropped
  EXPECT_EQ(images.read_pixel(0, 0), 0x030201);
  EXPECT_EQ(images.read_pixel(2, 1), 0x112233);
  EXPECT_EQ(images.read_pixel(1, 1), 0);
  // Row y = 0 is the last row in memory, bytes blue, green, red.
  EXPECT_EQ((std::vector<int>{view.pixels[12], view.pixels[13], view.pixels[14]}),
            (std::vector<int>{3, 2, 1}));
  EXPECT_EQ((std::vector<int>{view.pixels[6], view.pixels[7], view.pixels[8]}),
            (std::vector<int>{0x11, 0x22, 0x33}));
  for (int x = 0; x < 3; ++x) images.write_pixel(x, 0, -1);
  EXPECT_EQ(images.read_pixel(2, 0), 0xFFFFFF);
  for (int y = 0; y < 2; ++y)
    for (int i = 9; i < 12; ++i) EXPECT_EQ(view.row(y)[i], 0xA5);
}

TEST(ImageSlots, FailedCreateEmptiesOnlyItsSlot) {
  ImageService images;
  EXPECT_EQ(images.get_image_width(9), 0);
  EXPECT_EQ(images.get_image_height(9), 0);
  EXPECT_EQ(images.begin_drawing(9), 0);
  ASSERT_NE(images.create_image(4, 8, 8), 0);
  ASSERT_NE(images.begin_drawing(4), 0);
  images.write_pixel(1, 1, 0x123456);
  // Above 32767 the 16-bit record would wrap.
  for (auto [w, h] : {std::pair<int64_t, int64_t>{0, 5}, {5, 0}, {-3, 5}, {32768, 1}, {1, 32768},
                      {65536 + 10, 10}}) {
    ASSERT_NE(images.create_image(3, 10, 10), 0);
    EXPECT_EQ(images.create_image(3, w, h), 0) << w << "x" << h;
    EXPECT_EQ(images.get_image_width(3), 0);
    EXPECT_EQ(images.get_image_height(3), 0);
    EXPECT_EQ(images.begin_drawing(3), 0);
    EXPECT_EQ(images.read_pixel(1, 1), 0x123456);  // the open context is kept
  }
  EXPECT_EQ(images.get_image_width(4), 8);
  ASSERT_NE(images.create_image(3, 32767, 1), 0);
  EXPECT_EQ(images.get_image_width(3), 32767);
  ASSERT_NE(images.create_image(1000, 1, 32767), 0);  // far slots grow the table
  EXPECT_EQ(images.get_image_height(1000), 32767);
}

TEST(ImageSlots, ReleasingTheDrawnImageClosesTheContext) {
  ImageService images;
  ASSERT_NE(images.create_image(1, 4, 4), 0);
  ASSERT_NE(images.create_image(2, 2, 2), 0);
  ASSERT_NE(images.begin_drawing(1), 0);
  images.free_image(2);
  EXPECT_TRUE(images.drawing());
  // The context pointed into the released buffer: it must not survive it.
  ASSERT_NE(images.create_image(1, 2, 2), 0);
  EXPECT_FALSE(images.drawing());
  images.write_pixel(3, 3, 0xFFFFFF);  // ignored, no write into freed memory
  EXPECT_EQ(images.read_pixel(3, 3), 0);
}

TEST(ImageSlots, UnreadableFileKeepsSlotUndecodableDataEmptiesIt) {
  testjpeg::ScratchDir dir;
  ImageService images;
  register_jpeg_decoder(images);
  ASSERT_NE(images.create_image(3, 7, 5), 0);
  EXPECT_EQ(images.load_image(3, T(dir.file("missing.jpg"))), 0);
  EXPECT_EQ(images.load_image(3, T(dir.root())), 0);  // a directory cannot be read
  EXPECT_EQ(images.get_image_width(3), 7);
  ASSERT_TRUE(testjpeg::write_file(dir.file("text.jpg"), {'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(images.load_image(3, T(dir.file("text.jpg"))), 0);
  EXPECT_EQ(images.get_image_width(3), 0);
}

// A slot loaded again (same size: its buffer is reused) holds exactly what
// a fresh load gives: the new pixels, zero padding, no open drawing context.
TEST(ImageSlots, ReloadingASlotGivesWhatAFreshLoadGives) {
  testjpeg::ScratchDir dir;
  auto write_jpeg = [&](const std::string& name, int w, int h, uint32_t seed) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(testjpeg::write_file(path, testjpeg::encode(testjpeg::pattern(w, h, 3, seed), w, h, 3)));
    return T(path);
  };
  const Text a = write_jpeg("a.jpg", 5, 4, 1);
  const Text b = write_jpeg("b.jpg", 5, 4, 2);
  const Text c = write_jpeg("c.jpg", 7, 3, 3);
  auto bytes_of = [](const ImageService& images, int slot) {
    const PixelView v = images.view(slot);
    return testjpeg::Bytes(v.pixels, v.pixels + v.pitch * v.height);
  };
  auto fresh = [&](const Text& name) {
    ImageService images;
    register_jpeg_decoder(images);
    EXPECT_EQ(images.load_image(0, name), 1);
    return bytes_of(images, 0);
  };

  ImageService images;
  register_jpeg_decoder(images);
  ASSERT_EQ(images.load_image(3, a), 1);
  ASSERT_NE(images.begin_drawing(3), 0);
  const PixelView old = images.view(3);
  for (int y = 0; y < 4; ++y) old.row(y)[15] = 0xA5;  // the padding byte of each row
  ASSERT_EQ(images.load_image(3, b), 1);
  EXPECT_FALSE(images.drawing());
  EXPECT_EQ(bytes_of(images, 3), fresh(b));
  ASSERT_EQ(images.load_image(3, c), 1);
  EXPECT_EQ(images.get_image_width(3), 7);
  EXPECT_EQ(bytes_of(images, 3), fresh(c));
  ASSERT_EQ(images.load_image(3, a), 1);
  EXPECT_EQ(bytes_of(images, 3), fresh(a));
  // A stream cut short after its header fails, and the slot is empty.
  testjpeg::Bytes cut = testjpeg::encode(testjpeg::pattern(5, 4, 3, 4), 5, 4, 3);
  cut.resize(testjpeg::find_marker(cut, jpeg::kSOS) + 4);
  ASSERT_TRUE(testjpeg::write_file(dir.file("cut.jpg"), cut));
  EXPECT_EQ(images.load_image(3, T(dir.file("cut.jpg"))), 0);
  EXPECT_EQ(images.get_image_width(3), 0);
}

TEST(ImageSlots, SaveWithoutNameSlotOrEncoderWritesNothing) {
  testjpeg::ScratchDir dir;
  ImageService images;
  ASSERT_NE(images.create_image(3, 4, 4), 0);
  const std::string name = dir.file("out.jpg");
  EXPECT_EQ(images.save_image(3, T(name), kJpegEncoderId), 0);  // none registered
  register_jpeg_encoder(images);
  EXPECT_EQ(images.save_image(3, Text(), kJpegEncoderId), 0);
  EXPECT_EQ(images.save_image(4, T(name), kJpegEncoderId), 0);
  EXPECT_EQ(images.save_image(3, T(name), 0x12345678), 0);
  EXPECT_FALSE(testjpeg::exists(name));
  EXPECT_EQ(images.save_image(3, T(name), kJpegEncoderId), 1);
  EXPECT_TRUE(testjpeg::exists(name));
}

TEST(PixelGrids, LayoutZeroFillAndReallocation) {
  PixelGrid grid;
  allocate_grid(grid, 2, 3);
  ASSERT_TRUE(grid);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(grid.data()[i], 0);
  grid.at(1, 2) = 42;
  EXPECT_EQ(grid.data()[6], 42);
  allocate_grid(grid, 2, 3);  // a fresh zero-filled block
  EXPECT_EQ(grid.at(1, 2), 0);
  // Smaller bounds in the same block: what a fill does not write is zero.
  for (int i = 0; i < 12; ++i) grid.data()[i] = 7;
  ASSERT_TRUE(reuse_grid(grid, 1, 4));
  EXPECT_EQ(grid.data(), &grid.at(0, 0));
  for (int j = 0; j <= 4; ++j) EXPECT_EQ(grid.at(1, j), 0) << j;
  EXPECT_EQ(grid.at(0, 4), 0);
  EXPECT_EQ(grid.at(0, 3), 7);
  EXPECT_FALSE(reuse_grid(grid, 2, 4));  // 15 elements: no room
  EXPECT_EQ(grid.p(), 1);
  allocate_grid(grid, -1, 4);
  EXPECT_FALSE(grid);
  allocate_grid(grid, INT64_MAX / 4, INT64_MAX / 4);  // the size overflows
  EXPECT_FALSE(grid);
}

}  // namespace
}  // namespace mpo
