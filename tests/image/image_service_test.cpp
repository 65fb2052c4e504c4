#include "image/image_service.h"

#include <gtest/gtest.h>

#include "image/jpeg_codec.h"
#include "jpeg_helpers.h"

namespace mpo {
namespace {

using testjpeg::ScratchDir;

TEST(ImageSlots, CreatedImageIsBlackWithPaddedBottomUpRows) {
  ImageService images;
  ASSERT_NE(images.create_image(5, 3, 2), 0);
  EXPECT_EQ(images.get_image_width(5), 3);
  EXPECT_EQ(images.get_image_height(5), 2);
  EXPECT_EQ(images.get_image_source_depth(5), 24);
  const PixelView view = images.view(5);
  ASSERT_NE(view.pixels, nullptr);
  EXPECT_EQ(view.pitch, 12);
  for (int64_t i = 0; i < view.pitch * view.height; ++i) EXPECT_EQ(view.pixels[i], 0) << i;

  ASSERT_NE(images.begin_drawing(5), 0);
  images.write_pixel(0, 0, 1 + 2 * 256 + 3 * 65536);
  images.write_pixel(2, 1, 0x112233);
  EXPECT_EQ(images.read_pixel(0, 0), 1 + 2 * 256 + 3 * 65536);
  // Row y = 0 is the last row in memory; blue, green, red.
  EXPECT_EQ(view.pixels[12], 3);
  EXPECT_EQ(view.pixels[13], 2);
  EXPECT_EQ(view.pixels[14], 1);
  // Row y = 1 (bottom) comes first.
  EXPECT_EQ(view.pixels[6], 0x11);
  EXPECT_EQ(view.pixels[7], 0x22);
  EXPECT_EQ(view.pixels[8], 0x33);
  EXPECT_EQ(view.row(0), view.pixels + 12);
  images.end_drawing();
  EXPECT_FALSE(images.drawing());
}

TEST(ImageSlots, ColourValueKeepsOnlyLow24Bits) {
  ImageService images;
  ASSERT_NE(images.create_image(0, 2, 2), 0);
  ASSERT_NE(images.begin_drawing(0), 0);
  images.write_pixel(1, 1, (int64_t{0x7F3A} << 24) | 0xABCDEF);
  EXPECT_EQ(images.read_pixel(1, 1), 0xABCDEF);
  images.write_pixel(0, 1, -1);
  EXPECT_EQ(images.read_pixel(0, 1), 0xFFFFFF);
  EXPECT_EQ(images.read_pixel(0, 0), 0);
  EXPECT_EQ(images.read_pixel(1, 0), 0);
}

TEST(ImageSlots, PaddingBytesAreNeverTouchedByPixelAccess) {
  ImageService images;
  // Width 5: 15 pixel bytes, pitch 16.
  ASSERT_NE(images.create_image(2, 5, 4), 0);
  const PixelView view = images.view(2);
  ASSERT_EQ(view.pitch, 16);
  for (int64_t y = 0; y < view.height; ++y) view.row(y)[15] = 0xA5;
  ASSERT_NE(images.begin_drawing(2), 0);
  for (int64_t y = 0; y < 4; ++y)
    for (int64_t x = 0; x < 5; ++x) images.write_pixel(x, y, 0xFFFFFF);
  for (int64_t y = 0; y < 4; ++y)
    for (int64_t x = 0; x < 5; ++x) EXPECT_EQ(images.read_pixel(x, y), 0xFFFFFF);
  for (int64_t y = 0; y < view.height; ++y) EXPECT_EQ(view.row(y)[15], 0xA5) << y;
}

TEST(ImageSlots, EmptyAndInvalidSlots) {
  ImageService images;
  EXPECT_EQ(images.get_image_width(9), 0);
  EXPECT_EQ(images.get_image_height(9), 0);
  EXPECT_EQ(images.get_image_source_depth(9), 0);
  EXPECT_EQ(images.view(9).pixels, nullptr);
  EXPECT_EQ(images.begin_drawing(9), 0);
  EXPECT_EQ(images.create_image(-1, 4, 4), 0);
  EXPECT_EQ(images.get_image_width(-1), 0);
  // Far slot numbers grow the table.
  ASSERT_NE(images.create_image(1000, 4, 4), 0);
  EXPECT_EQ(images.get_image_width(1000), 4);
  EXPECT_EQ(images.get_image_width(999), 0);
}

TEST(ImageSlots, FailedCreateEmptiesSlotAndLeavesOthersAlone) {
  ImageService images;
  ASSERT_NE(images.create_image(3, 10, 10), 0);
  ASSERT_NE(images.create_image(4, 8, 8), 0);
  ASSERT_NE(images.begin_drawing(4), 0);
  images.write_pixel(1, 1, 0x123456);

  for (auto [w, h] : {std::pair<int64_t, int64_t>{0, 5}, {5, 0}, {-3, 5}, {32768, 1}, {1, 32768},
                      {65536 + 10, 10}}) {
    ASSERT_NE(images.create_image(3, 10, 10), 0);
    EXPECT_EQ(images.create_image(3, w, h), 0) << w << "x" << h;
    EXPECT_EQ(images.get_image_width(3), 0);
    EXPECT_EQ(images.get_image_height(3), 0);
    EXPECT_EQ(images.begin_drawing(3), 0);
    // A refused begin_drawing leaves the open context alone.
    EXPECT_TRUE(images.drawing());
    EXPECT_EQ(images.read_pixel(1, 1), 0x123456);
  }
  EXPECT_EQ(images.get_image_width(4), 8);

  ASSERT_NE(images.create_image(3, 32767, 1), 0);
  EXPECT_EQ(images.get_image_width(3), 32767);
  ASSERT_NE(images.create_image(3, 1, 32767), 0);
  EXPECT_EQ(images.get_image_height(3), 32767);
}

TEST(ImageSlots, ReplacingTheDrawnImageClosesTheContext) {
  ImageService images;
  ASSERT_NE(images.create_image(1, 4, 4), 0);
  ASSERT_NE(images.begin_drawing(1), 0);
  // The context pointed into the released buffer: it must not survive it.
  ASSERT_NE(images.create_image(1, 2, 2), 0);
  EXPECT_FALSE(images.drawing());
  EXPECT_EQ(images.read_pixel(3, 3), 0);
  images.write_pixel(3, 3, 0xFFFFFF);  // ignored, not a write into freed memory

  ASSERT_NE(images.begin_drawing(1), 0);
  images.free_image(1);
  EXPECT_FALSE(images.drawing());

  // Releasing another slot keeps the context.
  ASSERT_NE(images.create_image(1, 2, 2), 0);
  ASSERT_NE(images.create_image(2, 2, 2), 0);
  ASSERT_NE(images.begin_drawing(1), 0);
  images.free_image(2);
  EXPECT_TRUE(images.drawing());
}

TEST(ImageSlots, LoadThatCannotReadLeavesSlotButUndecodableDataEmptiesIt) {
  ScratchDir dir;
  ImageService images;
  register_jpeg_decoder(images);
  ASSERT_NE(images.create_image(3, 7, 5), 0);

  EXPECT_EQ(images.load_image(3, T(dir.file("missing.jpg"))), 0);
  EXPECT_EQ(images.get_image_width(3), 7);
  EXPECT_EQ(images.load_image(3, T(dir.path())), 0);  // a directory cannot be read
  EXPECT_EQ(images.get_image_width(3), 7);

  ASSERT_TRUE(testjpeg::write_file(dir.file("text.jpg"), {'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(images.load_image(3, T(dir.file("text.jpg"))), 0);
  EXPECT_EQ(images.get_image_width(3), 0);
}

// A decoder that accepts anything and reports the size stored in the data.
struct FakeDecoder {
  static inline int releases = 0;
  static inline int decodes = 0;
  static int32_t probe(DecoderContext& context) {
    if (context.data_size < 4 || context.data[0] != 'F') return 0;
    EXPECT_EQ(context.in_memory, 1);
    EXPECT_EQ(context.frame_count, 1);
    EXPECT_EQ(context.private_area, nullptr);
    context.width = context.data[1] * 1000;
    context.height = context.data[2];
    context.depth = 24;
    context.source_depth = context.data[3];
    return 1;
  }
  static int32_t decode(DecoderContext&, uint8_t*, int32_t, int32_t flags) {
    EXPECT_EQ(flags, kBottomUp);
    ++decodes;
    return 1;
  }
  static void release(DecoderContext&) { ++releases; }
};

TEST(ImageSlots, DecodedSizeAboveTheRecordLimitIsRefused) {
  ScratchDir dir;
  ImageService images;
  images.register_decoder({FakeDecoder::probe, FakeDecoder::decode, FakeDecoder::release, 1});
  FakeDecoder::releases = FakeDecoder::decodes = 0;
  ASSERT_TRUE(testjpeg::write_file(dir.file("big"), {'F', 40, 1, 24}));
  ASSERT_TRUE(testjpeg::write_file(dir.file("ok"), {'F', 32, 1, 24}));
  ASSERT_NE(images.create_image(6, 3, 3), 0);

  EXPECT_EQ(images.load_image(6, T(dir.file("big"))), 0);
  EXPECT_EQ(images.get_image_width(6), 0);
  EXPECT_EQ(FakeDecoder::decodes, 0);
  EXPECT_EQ(FakeDecoder::releases, 1);  // release still follows an accepted probe

  ASSERT_NE(images.load_image(6, T(dir.file("ok"))), 0);
  EXPECT_EQ(images.get_image_width(6), 32000);
  EXPECT_EQ(images.get_image_height(6), 1);
  EXPECT_EQ(FakeDecoder::releases, 2);
}

TEST(ImageSlots, SaveRefusesWhatCannotBeHandedToAnEncoder) {
  ScratchDir dir;
  ImageService images;
  register_jpeg_encoder(images);
  ASSERT_NE(images.create_image(3, 4, 4), 0);
  const std::string name = dir.file("out.jpg");

  EXPECT_EQ(images.save_image(3, Text(), kJpegEncoderId), 0);
  EXPECT_EQ(images.save_image(4, T(name), kJpegEncoderId), 0);
  EXPECT_EQ(images.save_image(3, T(name), 0x12345678), 0);
  EXPECT_FALSE(testjpeg::file_exists(name));

  // A decoder reporting an unusual source depth: the image cannot be saved.
  images.register_decoder({FakeDecoder::probe, FakeDecoder::decode, FakeDecoder::release, 1});
  ASSERT_TRUE(testjpeg::write_file(dir.file("odd"), {'F', 1, 2, 16}));
  ASSERT_NE(images.load_image(5, T(dir.file("odd"))), 0);
  EXPECT_EQ(images.save_image(5, T(name), kJpegEncoderId), 0);
  EXPECT_FALSE(testjpeg::file_exists(name));

  EXPECT_NE(images.save_image(3, T(name), kJpegEncoderId), 0);
  EXPECT_TRUE(testjpeg::file_exists(name));
}

TEST(PixelGrids, LayoutZeroFillAndReallocation) {
  PixelGrid grid;
  EXPECT_FALSE(grid);
  allocate_grid(grid, 2, 3);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid.p(), 2);
  EXPECT_EQ(grid.q(), 3);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(grid.data()[i], 0);
  grid.at(1, 2) = 42;
  EXPECT_EQ(grid.data()[6], 42);
  grid.at(2, 3) = -7;
  EXPECT_EQ(grid.data()[11], -7);

  // A second allocation replaces the block with a fresh zero-filled one.
  allocate_grid(grid, 0, 0);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid.at(0, 0), 0);
  allocate_grid(grid, -1, 4);
  EXPECT_FALSE(grid);
  allocate_grid(grid, INT64_MAX / 4, INT64_MAX / 4);  // size overflows
  EXPECT_FALSE(grid);
}

}  // namespace
}  // namespace mpo
