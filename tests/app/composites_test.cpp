#include "app/composites.h"

#include <gtest/gtest.h>

#include <random>

#include "app/batch.h"
#include "app/driver.h"
#include "image/jpeg_codec.h"
#include "test_support.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using test::P;
using test::ScriptedUi;
using test::TempDir;

class Composites : public ::testing::Test {
 protected:
  TempDir tmp;
  ImageService images;
  ScriptedUi ui;

  void SetUp() override {
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
  }

  // A JPEG of random pixels, written through our own encoder.
  Text make_jpeg(const std::string& name, int w, int h, uint32_t seed) {
    EXPECT_TRUE(images.create_image(20, w, h));
    std::mt19937 rng(seed);
    images.begin_drawing(20);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) images.write_pixel(x, y, rng() & 0xFFFFFF);
    images.end_drawing();
    const Text path = P(tmp.path() / name);
    EXPECT_TRUE(images.save_image(20, path, kJpegEncoderId));
    return path;
  }

  int64_t pixel(int slot, int64_t x, int64_t y) {
    EXPECT_TRUE(images.begin_drawing(slot));
    const int64_t v = images.read_pixel(x, y);
    images.end_drawing();
    return v;
  }

  // Every pixel of the three composites and both grids against the decoded
  // halves in slots 3 and 4; pixels outside the right half, or written by no
  // pass, must be black.
  void check_placement(int64_t W, int64_t H, int64_t WR, int64_t HR) {
    auto right = [&](int64_t x, int64_t y) {
      return (x < WR && y < HR) ? pixel(kRightSlot, x, y) : 0;
    };
    check_grids(W, H, right);
    for (int64_t y = 0; y < H; ++y) {
      for (int64_t x = 0; x < 2 * W; ++x) {
        const int64_t want = x < W ? pixel(kLeftSlot, x, y) : right(x - W, y);
        ASSERT_EQ(pixel(kSbsSlot, x, y), want) << "sbs " << x << "," << y;
      }
      for (int64_t x = 0; x < W; ++x) {
        int64_t want = 0;
        if (x < W / 2) want = pixel(kLeftSlot, 2 * x + 1, y);
        else if (x < 2 * (W / 2)) want = right(2 * (x - W / 2) + 1, y);
        ASSERT_EQ(pixel(kSbshSlot, x, y), want) << "sbsh " << x << "," << y;
      }
    }
    for (int64_t y = 0; y < H; ++y) {
      for (int64_t x = 0; x < W; ++x) {
        int64_t want = 0;
        if (y < H / 2) want = pixel(kLeftSlot, x, 2 * y);
        else if (y < 2 * (H / 2)) want = right(x, 2 * (y - H / 2) + 1);
        ASSERT_EQ(pixel(kOuhSlot, x, y), want) << "ouh " << x << "," << y;
      }
    }
  }

  template <typename Right>
  void check_grids(int64_t W, int64_t H, const Right& right) {
    ASSERT_TRUE(halves.usable);
    for (int64_t x = 0; x < W; ++x) {
      for (int64_t y = 0; y < H; ++y) {
        ASSERT_EQ(halves.left.at(x, y), pixel(kLeftSlot, x, y)) << "left " << x << "," << y;
        ASSERT_EQ(halves.right.at(x, y), right(x, y)) << "right " << x << "," << y;
      }
    }
  }

  Halves halves;  // kept from entry to entry, as the batch keeps it

  CompositeOutcome run(const Text& left, const Text& right, const Text& base,
                       const OptionFlags& flags = OptionFlags{1, 1, 1, 0}) {
    decode_halves(images, left, right, halves);
    return build_composites(images, ui, base, flags, halves);
  }
};

TEST_F(Composites, PlacementForEvenOddAndDegenerateSizes) {
  // 64 and 66 wide: the last whole tile without and with two pixels right of it.
  const std::pair<int, int> sizes[] = {{8, 6}, {7, 5}, {1, 4}, {5, 1}, {70, 67}, {64, 33}, {66, 32}};
  uint32_t seed = 1;
  for (auto [w, h] : sizes) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const Text l = make_jpeg("l.jpg", w, h, seed++);
    const Text r = make_jpeg("r.jpg", w, h, seed++);
    const auto out = run(l, r, P(tmp.path() / "c"));
    EXPECT_TRUE(out.sbs_written);
    EXPECT_FALSE(out.any_failed);
    EXPECT_EQ(images.get_image_width(kSbsSlot), 2 * w);
    EXPECT_EQ(images.get_image_width(kSbshSlot), w);
    EXPECT_EQ(images.get_image_height(kOuhSlot), h);
    check_placement(w, h, w, h);
  }
  EXPECT_TRUE(ui.calls.empty());
}

TEST_F(Composites, SavedFilesDecodeToTheDrawnPixels) {
  const Text l = make_jpeg("l.jpg", 64, 48, 7);
  const Text r = make_jpeg("r.jpg", 64, 48, 8);
  run(l, r, P(tmp.path() / "c"));
  // Compare the saved side-by-side with the drawn one within JPEG tolerance.
  ASSERT_TRUE(images.load_image(30, P(tmp.path() / "c_sbs.jpg")));
  ASSERT_EQ(images.get_image_width(30), 128);
  int64_t total = 0;
  const PixelView a = images.view(30);
  const PixelView b = images.view(kSbsSlot);
  for (int64_t y = 0; y < 48; ++y)
    for (int64_t x = 0; x < 3 * 128; ++x) total += std::abs(int(a.row(y)[x]) - int(b.row(y)[x]));
  // Random pixels are the worst case for JPEG; a misplaced half would be
  // far off on smooth halves too, so compare with smooth halves as well.
  EXPECT_LT(double(total) / (48 * 128 * 3), 60.0);
  for (const char* suffix : {"_sbsh.jpg", "_ouh.jpg"}) {
    EXPECT_TRUE(images.load_image(31, P(tmp.path() / (std::string("c") + suffix)))) << suffix;
  }
}

TEST_F(Composites, RightHalfLargerOrSmaller) {
  Text l = make_jpeg("l.jpg", 9, 7, 11);
  Text r = make_jpeg("r.jpg", 13, 10, 12);  // larger: its top-left part is used
  run(l, r, P(tmp.path() / "big"));
  check_placement(9, 7, 13, 10);

  r = make_jpeg("r.jpg", 4, 3, 13);  // smaller: never read outside it
  const auto out = run(l, r, P(tmp.path() / "small"));
  EXPECT_TRUE(out.sbs_written);
  check_placement(9, 7, 4, 3);
}

// The viewing formats read the grids: filled with no composite asked for.
TEST_F(Composites, GridsFilledWithoutComposites) {
  const Text l = make_jpeg("l.jpg", 40, 35, 41);
  const Text r = make_jpeg("r.jpg", 33, 40, 42);
  const auto out = run(l, r, P(tmp.path() / "none"), OptionFlags{0, 0, 0, 0});
  EXPECT_FALSE(out.any_failed);
  check_grids(40, 35, [&](int64_t x, int64_t y) { return x < 33 ? pixel(kRightSlot, x, y) : 0; });
}

TEST_F(Composites, UnusableHalfWritesNoCompositeAndLendsNoPixels) {
  const Text l = make_jpeg("l.jpg", 8, 8, 21);
  const Text r = make_jpeg("r.jpg", 8, 8, 22);
  run(l, r, P(tmp.path() / "first"));  // slots now hold a good pair
  ui.calls.clear();

  const test::fs::path junk = tmp.path() / "junk.jpg";
  test::write_bytes(junk, test::Bytes(200, 0x33));
  for (const Text& bad_right : {P(junk), P(tmp.path() / "missing.jpg")}) {
    ui.calls.clear();
    const Text base = P(tmp.path() / "second");
    const auto out = run(l, bad_right, base);
    EXPECT_FALSE(out.sbs_written);
    EXPECT_TRUE(out.any_failed);
    const auto msgs = ui.of_kind("message");
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].b, test::U8(texts::kSbsFailed));
    EXPECT_EQ(msgs[1].b, test::U8(texts::kSbshFailed));
    EXPECT_EQ(msgs[2].b, test::U8(texts::kOuhFailed));
    for (const auto& m : msgs) EXPECT_EQ(m.a, test::U8(texts::kErrorInfoTitle));
    EXPECT_FALSE(test::fs::exists(tmp.path() / "second_sbs.jpg"));
    EXPECT_FALSE(test::fs::exists(tmp.path() / "second_ouh.jpg"));
    EXPECT_EQ(images.get_image_width(kRightSlot), 0);  // the old picture is gone
  }
  // An undecodable left half: W = H = 0, every composite fails.
  ui.calls.clear();
  const auto out = run(P(junk), r, P(tmp.path() / "third"));
  EXPECT_TRUE(out.any_failed);
  EXPECT_EQ(ui.of_kind("message").size(), 3u);
}

TEST_F(Composites, OutputThatCannotBeCreatedGivesOneMessageEach) {
  const Text l = make_jpeg("l.jpg", 8, 8, 31);
  const Text r = make_jpeg("r.jpg", 8, 8, 32);
  test::fs::create_directory(tmp.path() / "d_sbs.jpg");  // blocks the side-by-side only
  const auto out = run(l, r, P(tmp.path() / "d"));
  EXPECT_FALSE(out.sbs_written);
  const auto msgs = ui.of_kind("message");
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].b, test::U8(texts::kSbsFailed));
  EXPECT_TRUE(test::fs::exists(tmp.path() / "d_sbsh.jpg"));
}

// Halves over half the widest image: the side-by-side picture cannot be
// held, and the message says it is too large, not that memory ran out.
TEST_F(Composites, SideBySideBeyondTheWidestImageSaysTooLarge) {
  const Text l = make_jpeg("l.jpg", 16384, 1, 41);
  const Text r = make_jpeg("r.jpg", 16384, 1, 42);
  ExtraOutputs extra;
  extra.detailed_failures = true;
  decode_halves(images, l, r, halves);
  const auto out = build_composites(images, ui, P(tmp.path() / "w"), OptionFlags{1, 1, 0, 0},
                                    halves, extra);
  EXPECT_FALSE(out.sbs_written);
  const auto msgs = ui.of_kind("message");
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_NE(msgs[0].b.find("Datei zu gro"), std::string::npos) << msgs[0].b;
  EXPECT_TRUE(test::fs::exists(tmp.path() / "w_sbsh.jpg"));
}

TEST(CompositesBatch, OnlyExifWritesSideBySideForEveryEntryAndReadOnlyFolderReports) {
  TempDir tmp;
  for (int i = 0; i < 3; ++i) {
    mpogen::Options o;
    o.width = 96, o.height = 64, o.seed = static_cast<uint32_t>(i + 1);
    ASSERT_TRUE(mpogen::write_file((tmp.path() / ("m" + std::to_string(i) + ".mpo")).string(),
                                   mpogen::make_mpo(o).bytes));
  }
  FileService files;
  ImageService images;
  ScriptedUi ui;
  RunConfig config;
  config.options = OptionFlags{0, 0, 0, 1};
  config.start_path = P(tmp.path());
  config.list_file = P(tmp.path() / "list.txt");
  config.pause_ms = 0;
  const RunResult r = run_batch(files, images, ui, config);
  EXPECT_EQ(r.exit_status(), 0);
  for (int i = 0; i < 3; ++i) {
    const auto base = tmp.path() / ("m" + std::to_string(i));
    EXPECT_TRUE(test::fs::exists(base.string() + "_sbs.jpg"));
    EXPECT_TRUE(test::fs::exists(base.string() + "_EXIF.jpg"));
    EXPECT_FALSE(test::fs::exists(base.string() + "_sbsh.jpg"));
  }
  EXPECT_EQ(ui.message_titles(), (std::vector<std::string>{"Programmende"}));

  if (geteuid() == 0) return;  // root writes into read-only folders
  test::fs::permissions(tmp.path(), test::fs::perms::owner_read | test::fs::perms::owner_exec);
  ScriptedUi ro;
  config.options = OptionFlags{1, 1, 1, 1};
  config.list_file = u"/tmp/mpo-ro-list.txt";
  run_batch(files, images, ro, config);
  test::fs::permissions(tmp.path(), test::fs::perms::owner_all);
  EXPECT_EQ(ro.message_titles().size(), 3u * 4u + 1u);
}

}  // namespace
}  // namespace mpo
