#include "app/split.h"
#include "mpo/separator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "test_support.h"

namespace mpo {
namespace {

using test::Bytes;
using test::P;
using test::TempDir;

// Places a second-image signature (FF D8 FF E1 ?? ?? "Exif") so that "Exif"
// stands at p.
void put_signature(Bytes& b, size_t p) {
  const uint8_t sig[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f'};
  std::memcpy(b.data() + p - 6, sig, sizeof sig);
}

std::optional<int64_t> search(const Bytes& b) {
  return find_separator(b.data(), static_cast<int64_t>(b.size()));
}

TEST(FindSeparator, SearchOrderAndBound) {
  // size 200: mid 100, bound 50.
  Bytes b(200, 0);
  put_signature(b, 100);
  EXPECT_EQ(search(b), 94);  // i = 0: S + 6 = size / 2

  for (size_t p : {150u, 50u}) {  // exactly at the bound, either side
    Bytes at(200, 0);
    put_signature(at, p);
    EXPECT_EQ(search(at), int64_t(p) - 6) << p;
  }
  for (size_t p : {151u, 49u}) {  // one beyond the bound
    Bytes beyond(200, 0);
    put_signature(beyond, p);
    EXPECT_EQ(search(beyond), std::nullopt) << p;
  }
}

TEST(FindSeparator, NearestWinsAndAfterMiddleOnTie) {
  Bytes tie(400, 0);
  put_signature(tie, 190);
  put_signature(tie, 210);
  EXPECT_EQ(search(tie), 204);

  Bytes nearer(400, 0);
  put_signature(nearer, 197);  // 3 before the middle
  put_signature(nearer, 220);
  EXPECT_EQ(search(nearer), 191);
}

TEST(FindSeparator, ExifWithoutStartOfImageIsPassedOver) {
  Bytes b(400, 0);
  std::memcpy(b.data() + 200, "Exif", 4);  // no FF D8 FF E1 before it
  put_signature(b, 230);
  EXPECT_EQ(search(b), 224);

  Bytes jfif(400, 0);  // a second image starting FF D8 FF E0 is not recognised
  put_signature(jfif, 200);
  jfif[197] = 0xE0;
  EXPECT_EQ(search(jfif), std::nullopt);
}

TEST(FindSeparator, TinyBuffersStayInBounds) {
  // Exactly sized heap buffers: any read outside shows under the sanitizer.
  for (int64_t size = 0; size < 24; ++size) {
    auto buf = std::make_unique<uint8_t[]>(static_cast<size_t>(size) + 1);
    std::memset(buf.get(), 0x45, static_cast<size_t>(size));
    EXPECT_EQ(find_separator(buf.get(), size), std::nullopt);
  }
  EXPECT_EQ(find_separator(nullptr, 100), std::nullopt);
}

class SplitFiles : public ::testing::Test {
 protected:
  TempDir dir;
  FileService files;
  test::fs::path at(const std::string& name) { return dir.path() / name; }
};

TEST_F(SplitFiles, ExifSegmentLayouts) {
  // APP1 first: the segment is L bytes from offset 4.
  Bytes app1 = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 'E', 'x', 'i', 'f', 0, 0, 0xAA, 0xBB};
  test::write_bytes(at("a.mpo"), app1);
  MemoryBlock s = read_exif_segment(files, P(at("a.mpo")));
  ASSERT_TRUE(s);
  ASSERT_EQ(s.size(), 8);
  EXPECT_EQ(Bytes(s.data(), s.data() + 8), Bytes(app1.begin() + 4, app1.begin() + 12));

  // A plain 16-byte APP0 first, APP1 at 20: the segment starts at 22.
  Bytes app0(40, 0x11);
  app0[0] = 0xFF, app0[1] = 0xD8, app0[2] = 0xFF, app0[3] = 0xE0, app0[4] = 0x00, app0[5] = 0x10;
  app0[20] = 0xFF, app0[21] = 0xE1, app0[22] = 0x00, app0[23] = 0x06;
  test::write_bytes(at("b.mpo"), app0);
  s = read_exif_segment(files, P(at("b.mpo")));
  ASSERT_TRUE(s);
  EXPECT_EQ(Bytes(s.data(), s.data() + s.size()), Bytes(app0.begin() + 22, app0.begin() + 28));

  // The file ends inside the segment: the rest is zero.
  Bytes cut = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x20, 'E', 'x'};
  test::write_bytes(at("c.mpo"), cut);
  s = read_exif_segment(files, P(at("c.mpo")));
  ASSERT_TRUE(s);
  ASSERT_EQ(s.size(), 0x20);
  EXPECT_EQ(s.read_byte(2), 'E');
  EXPECT_EQ(s.read_byte(3), 'x');
  for (int i = 4; i < 0x20; ++i) EXPECT_EQ(s.read_byte(i), 0) << i;
}

TEST_F(SplitFiles, NoExifSegment) {
  std::vector<Bytes> cases = {
      {0xFF, 0xD9, 0xFF, 0xE1, 0x00, 0x08},          // not FF D8
      {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x08},          // neither APP0 nor APP1
      {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x00},          // L = 0
      {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01, 0x00},    // L = 1 cannot hold itself
      Bytes(30, 0),                                   // all zero
  };
  Bytes app0_other(40, 0);  // APP0 whose next segment is not APP1 at 20
  app0_other[0] = 0xFF, app0_other[1] = 0xD8, app0_other[2] = 0xFF, app0_other[3] = 0xE0;
  app0_other[20] = 0xFF, app0_other[21] = 0xDB;
  // A longer APP0 (JFIF with a thumbnail) whose data holds FF E1 at 20.
  Bytes thumbnail(60, 0);
  thumbnail[0] = 0xFF, thumbnail[1] = 0xD8, thumbnail[2] = 0xFF, thumbnail[3] = 0xE0;
  thumbnail[5] = 30, thumbnail[20] = 0xFF, thumbnail[21] = 0xE1, thumbnail[23] = 0x08;
  cases.push_back(thumbnail);
  int n = 0;
  for (Bytes b : cases) {
    const auto p = at("n" + std::to_string(n++) + ".mpo");
    test::write_bytes(p, b);
    EXPECT_FALSE(read_exif_segment(files, P(p))) << n;
  }
  test::write_bytes(at("o.mpo"), app0_other);
  EXPECT_FALSE(read_exif_segment(files, P(at("o.mpo"))));
  EXPECT_FALSE(read_exif_segment(files, P(at("missing.mpo"))));
}

Bytes small_mpo(size_t size, size_t exif_at) {
  Bytes b(size, 0x5A);
  b[0] = 0xFF, b[1] = 0xD8, b[2] = 0xFF, b[3] = 0xE1, b[4] = 0x00, b[5] = 0x08;
  put_signature(b, exif_at);
  return b;
}

TEST_F(SplitFiles, SizeLimitAndStopReasons) {
  test::write_bytes(at("s99.mpo"), Bytes(99, 0));
  auto r = split_mpo(files, P(at("s99.mpo")), P(at("s99")));
  EXPECT_EQ(r.stop, StopReason::no_image_file);

  test::write_bytes(at("s100.mpo"), small_mpo(100, 50));
  r = split_mpo(files, P(at("s100.mpo")), P(at("s100")));
  EXPECT_EQ(r.stop, StopReason::none);
  EXPECT_EQ(r.separator, 44);

  EXPECT_EQ(split_mpo(files, P(at("gone.mpo")), P(at("gone"))).stop, StopReason::no_image_file);
  test::fs::create_directory(at("dir.mpo"));
  EXPECT_EQ(split_mpo(files, P(at("dir.mpo")), P(at("dir"))).stop, StopReason::no_image_file);

  test::write_bytes(at("none.mpo"), Bytes(500, 0x45));
  r = split_mpo(files, P(at("none.mpo")), P(at("none")));
  EXPECT_EQ(r.stop, StopReason::no_separator);
  // A (sparse) file beyond what any half could hold is not read into memory.
  test::write_bytes(at("huge.mpo"), small_mpo(400, 200));
  test::fs::resize_file(at("huge.mpo"), static_cast<uintmax_t>(kMaxMpoSize) + 1);
  r = split_mpo(files, P(at("huge.mpo")), P(at("huge")));
  EXPECT_EQ(r.stop, StopReason::no_memory);
  EXPECT_FALSE(r.file_bytes);
  EXPECT_FALSE(test::fs::exists(at("huge_L.jpg")));
  // A stop writes nothing.
  EXPECT_FALSE(test::fs::exists(at("none_L.jpg")));
  EXPECT_FALSE(test::fs::exists(at("none_R.jpg")));
  EXPECT_FALSE(test::fs::exists(at("s99_L.jpg")));

  EXPECT_EQ(to_utf8(stop_reason_text(StopReason::no_memory)), "Speicher nicht verfügbar");
  EXPECT_EQ(to_utf8(stop_reason_text(StopReason::unreadable)), "Bilddaten nicht lesbar");
  EXPECT_EQ(to_utf8(stop_reason_text(StopReason::no_separator)), "Trennstelle nicht gefunden");
  EXPECT_EQ(to_utf8(stop_reason_text(StopReason::no_image_file)), "keine Bilddatei");
}

TEST_F(SplitFiles, HalvesTogetherAreTheMpoAndOverwriteOldFiles) {
  const Bytes mpo = small_mpo(1000, 530);
  test::write_bytes(at("x.y.MPO"), mpo);
  test::write_bytes(at("x.y_L.jpg"), Bytes(5000, 1));  // an older, longer output
  const auto r = split_mpo(files, P(at("x.y.MPO")), base_path_of(P(at("x.y.MPO"))));
  ASSERT_EQ(r.stop, StopReason::none);
  EXPECT_EQ(r.separator, 524);
  EXPECT_EQ(to_utf8(r.left_name), at("x.y_L.jpg").string());
  const Bytes left = test::read_bytes(at("x.y_L.jpg"));
  const Bytes right = test::read_bytes(at("x.y_R.jpg"));
  EXPECT_EQ(left.size(), 524u);
  Bytes joined = left;
  joined.insert(joined.end(), right.begin(), right.end());
  EXPECT_EQ(joined, mpo);
  EXPECT_EQ(right[0], 0xFF);
  EXPECT_EQ(right[1], 0xD8);
  ASSERT_TRUE(r.exif_segment);
  EXPECT_EQ(r.exif_segment.size(), 8);
}

TEST_F(SplitFiles, OutputThatCannotBeCreatedIsSkipped) {
  test::write_bytes(at("k.mpo"), small_mpo(400, 200));
  test::fs::create_directory(at("k_L.jpg"));  // blocks the left output
  const auto r = split_mpo(files, P(at("k.mpo")), P(at("k")));
  EXPECT_EQ(r.stop, StopReason::none);
  EXPECT_FALSE(r.left_written);
  EXPECT_TRUE(r.right_written);
  EXPECT_TRUE(test::fs::is_directory(at("k_L.jpg")));
  EXPECT_EQ(test::read_bytes(at("k_R.jpg")).size(), 400u - 194u);
}

TEST(BasePath, DropsExtensionAndDot) {
  EXPECT_EQ(to_utf8(base_path_of(u"/a/b/DSCF0001.MPO")), "/a/b/DSCF0001");
  EXPECT_EQ(to_utf8(base_path_of(u"/a/x.y.mpo")), "/a/x.y");
  EXPECT_EQ(to_utf8(base_path_of(T("/Fotos/Käse.Mpo"))), "/Fotos/Käse");
}

}  // namespace
}  // namespace mpo
