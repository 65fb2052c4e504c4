#include "mpo/mp_index.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "app/split.h"
#include "mpo/separator.h"
#include "test_support.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFirst = kMpRepresentative | kMpTypeDisparity;
constexpr int64_t kHeader = 10;  // file offset of the TIFF header in `file_with_index`

struct IndexSpec {
  bool little = false;
  uint32_t number_of_images = 2;
  std::vector<std::array<uint32_t, 3>> entries;  // attribute, size, stored offset
  uint32_t ifd_offset = 8;
  uint32_t entries_offset = 50;
};

void put(Bytes& b, bool little, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * (little ? i : n - 1 - i))));
}

// SOI, the APP2 "MPF" segment of `layout`, an SOS header and zeros up to
// `size`, with FF D8 at `second_at`.
Bytes file_with_index(const IndexSpec& layout, size_t size, size_t second_at) {
  const bool le = layout.little;
  Bytes t = {uint8_t(le ? 'I' : 'M'), uint8_t(le ? 'I' : 'M')};
  put(t, le, 42, 2);
  put(t, le, layout.ifd_offset, 4);
  put(t, le, 3, 2);
  auto entry = [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
    put(t, le, tag, 2), put(t, le, type, 2), put(t, le, count, 4);
    if (tag == 0xB000)
      t.insert(t.end(), {'0', '1', '0', '0'});
    else
      put(t, le, value, 4);
  };
  entry(0xB000, 7, 4, 0);
  entry(0xB001, 4, 1, layout.number_of_images);
  entry(0xB002, 7, uint32_t(16 * layout.entries.size()), layout.entries_offset);
  put(t, le, 0, 4);
  for (const auto& e : layout.entries) {
    put(t, le, e[0], 4), put(t, le, e[1], 4), put(t, le, e[2], 4), put(t, le, 0, 4);
  }
  Bytes f = {0xFF, 0xD8, 0xFF, 0xE2};
  put(f, false, uint32_t(t.size() + 6), 2);
  f.insert(f.end(), {'M', 'P', 'F', 0});
  f.insert(f.end(), t.begin(), t.end());
  f.insert(f.end(), {0xFF, 0xDA, 0x00, 0x02});
  f.resize(size);
  f[second_at] = 0xFF, f[second_at + 1] = 0xD8;
  return f;
}

IndexSpec pair(uint32_t size, uint32_t s, uint32_t second_type = kMpTypeDisparity) {
  return IndexSpec{.entries = {{kFirst, s, 0}, {second_type, size - s, uint32_t(s - kHeader)}}};
}

TEST(MpIndex, ReadsEitherByteOrder) {
  for (bool little : {false, true}) {
    IndexSpec layout = pair(1000, 480);
    layout.little = little;
    const Bytes f = file_with_index(layout, 1000, 480);
    const auto index = read_mp_index(f);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->little_endian, little);
    EXPECT_EQ(index->header_offset, kHeader);
    ASSERT_EQ(index->entries.size(), 2u);
    EXPECT_EQ(index->entries[0].attribute, kFirst);
    EXPECT_EQ(index->entries[0].start, 0);
    EXPECT_EQ(index->entries[1].size, 520u);
    EXPECT_EQ(stereo_second_image_offset(f), 480);
  }
  EXPECT_EQ(stereo_second_image_offset(file_with_index(pair(1000, 480, kMpTypeMultiAngle), 1000, 480)), 480);

  // Behind another APP2 segment (a colour profile), everything shifted.
  Bytes icc = file_with_index(pair(1000, 480), 1000, 480);
  const uint8_t profile[] = {0xFF, 0xE2, 0x00, 0x0E, 'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
  icc.insert(icc.begin() + 2, profile, profile + sizeof profile);
  EXPECT_EQ(stereo_second_image_offset(icc), 480 + int64_t(sizeof profile));
}

TEST(MpIndex, OnlyTwoStereoImagesCount) {
  for (uint32_t type : {0u, kMpTypeLargeThumbnail, kMpTypeBaselinePrimary})
    EXPECT_EQ(stereo_second_image_offset(file_with_index(pair(1000, 480, type), 1000, 480)), std::nullopt) << type;
  IndexSpec one = pair(1000, 480);
  one.number_of_images = 1;
  EXPECT_EQ(stereo_second_image_offset(file_with_index(one, 1000, 480)), std::nullopt);
}

TEST(MpIndex, FieldsPointingOutsideTheFileAreRefused) {
  auto refused = [](const IndexSpec& layout, size_t second_at = 480) {
    return !stereo_second_image_offset(file_with_index(layout, 1000, second_at));
  };
  EXPECT_TRUE(refused(pair(1000, 480), 500));  // no FF D8 where the index points
  IndexSpec s = pair(1000, 480);
  s.entries[1][2] = 0xFFFFFFF0;  // beyond the end; no 32-bit wrap
  EXPECT_TRUE(refused(s));
  s = pair(1000, 480);
  s.entries[1][1] = 0xFFFFFFFF;  // runs past the end
  EXPECT_TRUE(refused(s));
  s = pair(1000, 480);
  s.entries[0][1] = 481;  // the first image overlaps the second
  EXPECT_TRUE(refused(s));
  s = pair(1000, 480);
  s.entries[1][2] = 0;  // offset 0 is the start of the file
  EXPECT_TRUE(refused(s, 0));
  for (uint32_t bad : {0xFFFFFFF0u, 200u}) {  // outside the segment
    s = pair(1000, 480);
    s.entries_offset = bad;
    EXPECT_FALSE(read_mp_index(file_with_index(s, 1000, 480)));
    s = pair(1000, 480);
    s.ifd_offset = bad;
    EXPECT_FALSE(read_mp_index(file_with_index(s, 1000, 480)));
  }
  // A segment length past the end, and an index behind SOS, are not read.
  Bytes f = file_with_index(pair(1000, 480), 1000, 480);
  Bytes cut(f.begin(), f.begin() + 40);
  EXPECT_FALSE(read_mp_index(cut));
  Bytes late = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02};
  late.insert(late.end(), f.begin() + 2, f.end());
  EXPECT_FALSE(read_mp_index(late));
}

TEST(MpIndex, CountsOfZeroAndThousands) {
  IndexSpec none = pair(1000, 480);
  none.number_of_images = 0;
  const Bytes f0 = file_with_index(none, 1000, 480);
  ASSERT_TRUE(read_mp_index(f0));
  EXPECT_TRUE(read_mp_index(f0)->entries.empty());
  EXPECT_EQ(stereo_second_image_offset(f0), std::nullopt);

  IndexSpec claims = pair(1000, 480);  // 3000 images claimed, two listed
  claims.number_of_images = 3000;
  ASSERT_TRUE(read_mp_index(file_with_index(claims, 1000, 480)));
  EXPECT_EQ(read_mp_index(file_with_index(claims, 1000, 480))->entries.size(), 2u);

  IndexSpec many = pair(60000, 480);  // 3000 listed: only the first ones read
  many.number_of_images = 3000;
  many.entries.resize(3000, {0, 1, 1});
  many.entries[1][2] = uint32_t(59000 - kHeader);
  many.entries[1][1] = 1000;
  const Bytes g = file_with_index(many, 60000, 59000);
  ASSERT_TRUE(read_mp_index(g));
  EXPECT_EQ(read_mp_index(g)->entries.size(), kMaxMpEntries);
  EXPECT_EQ(read_mp_index(g)->image_count, 3000u);
  EXPECT_EQ(stereo_second_image_offset(g), 59000);
}

// Generated files: the index finds the second image where the byte search
// cannot, and a gain map is no stereo pair.
TEST(MpIndex, GeneratedVariants) {
  using mpogen::Variant;
  for (Variant v : {Variant::camera, Variant::second_jfif_no_exif, Variant::second_xmp_first, Variant::tiny_second,
                    Variant::gain_map}) {
    SCOPED_TRACE(mpogen::variant_name(v));
    const mpogen::Mpo mpo = mpogen::make_mpo({.width = 64, .height = 48, .variant = v});
    const auto size = int64_t(mpo.bytes.size());
    const auto search = find_separator(mpo.bytes.data(), size);
    EXPECT_EQ(search.has_value(), v == Variant::camera);
    if (v == Variant::gain_map) {
      EXPECT_EQ(stereo_second_image_offset(mpo.bytes), std::nullopt);
      ASSERT_TRUE(read_mp_index(mpo.bytes));
      EXPECT_EQ(read_mp_index(mpo.bytes)->entries[1].start, int64_t(mpo.separator));
    } else {
      EXPECT_EQ(stereo_second_image_offset(mpo.bytes), int64_t(mpo.separator));
    }
  }
}

// A first image with more bytes behind its end (a preview starting like a
// second image, nearer the middle): with --mp-index a valid stereo index
// decides where the halves part, the byte search only without it.
TEST(MpIndex, DecidesTheSplitWhenAskedFor) {
  Bytes file = file_with_index(pair(1000, 700), 1000, 700);
  const uint8_t preview[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f'};
  std::memcpy(file.data() + 480, preview, sizeof preview);
  test::TempDir dir;
  test::write_bytes(dir.path() / "p.mpo", file);
  FileService files;
  for (const bool use_index : {true, false}) {
    const auto r = split_mpo(files, test::P(dir.path() / "p.mpo"), test::P(dir.path() / "p"), use_index);
    ASSERT_EQ(r.stop, StopReason::none);
    EXPECT_EQ(r.separator, use_index ? 700 : 480);
  }
}

}  // namespace
}  // namespace mpo
