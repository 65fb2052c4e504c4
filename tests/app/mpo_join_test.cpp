#include "mpo/join.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <fstream>
#include <string>

#include "mpo/jpeg_segments.h"
#include "mpo/mp_index.h"
#include "app/split.h"
#include "mpo/separator.h"
#include "tests/support/process.h"
#include "tools/mpogen/jpeg_stream.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using Bytes = std::vector<uint8_t>;
using mpogen::Variant;

Bytes half(Variant v, int eye) { return mpogen::make_half({.width = 64, .height = 48, .variant = v}, eye); }

// A JFIF JPEG without Exif.
Bytes plain_jpeg() {
  mpogen::JpegSettings settings;
  return mpogen::encode_jpeg(settings, mpogen::ramp_samples(settings.width, settings.height, 3, 5, 7).data());
}

// The JPEG without its MPF segments and without a leading Exif segment that
// is exactly the minimal one the join makes.
Bytes without_added_segments(std::span<const uint8_t> jpeg) {
  static const uint8_t kMinimalExif[] = {0xFF, 0xE1, 0x00, 0x16, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 0x2A,
                                         0,    0,    0,    8,    0,   0,   0,   0,   0, 0};
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  int64_t pos = 2;
  auto segment = next_segment(jpeg, pos);
  for (; segment && segment->code != 0xDA; segment = next_segment(jpeg, pos)) {
    const uint8_t* p = jpeg.data() + segment->offset;
    const bool mpf = p[1] == 0xE2 && std::memcmp(p + 4, "MPF", 4) == 0;
    const bool minimal = pos == 2 && std::memcmp(p, kMinimalExif, sizeof kMinimalExif) == 0;
    if (!mpf && !minimal) out.insert(out.end(), jpeg.begin() + pos, jpeg.begin() + segment->end);
    pos = segment->end;
  }
  out.insert(out.end(), jpeg.begin() + pos, jpeg.end());
  return out;
}

Bytes sorted_segments(Bytes b) {  // the right image's Exif may move to the front
  std::sort(b.begin(), b.end());
  return b;
}

// The MPO holds two disparity images, left and right with only MP segments
// added (the right image's Exif first, where a byte search looks for it).
void expect_pair(const Bytes& mpo, const Bytes& left, const Bytes& right) {
  const auto s = stereo_second_image_offset(mpo);
  ASSERT_TRUE(s);
  EXPECT_TRUE(std::memcmp(mpo.data() + *s, "\xFF\xD8\xFF\xE1", 4) == 0 && std::memcmp(mpo.data() + *s + 6, "Exif", 4) == 0);
  const auto index = read_mp_index(mpo);
  ASSERT_TRUE(index && index->entries.size() == 2);
  EXPECT_EQ(index->entries[0].attribute, kMpRepresentative | kMpTypeDisparity);
  EXPECT_EQ(index->entries[1].attribute, kMpTypeDisparity);
  EXPECT_EQ(index->entries[0].size, uint32_t(*s));
  EXPECT_EQ(index->entries[1].size, uint32_t(mpo.size() - *s));
  const std::span<const uint8_t> all(mpo);
  EXPECT_EQ(without_added_segments(all.first(size_t(*s))), without_added_segments(left));
  const Bytes second = without_added_segments(all.subspan(size_t(*s)));
  EXPECT_EQ(sorted_segments(second), sorted_segments(without_added_segments(right)));
}

TEST(JoinMpo, RoundTripOfCameraHalves) {
  // Halves cut from an MPO carry its MPF segments; the join replaces them.
  const Bytes left = half(Variant::camera, 0), right = half(Variant::camera, 1);
  const JoinResult joined = join_mpo(left, right);
  ASSERT_EQ(joined.refusal, JoinRefusal::none);
  expect_pair(joined.bytes, left, right);
  EXPECT_EQ(find_separator(joined.bytes.data(), int64_t(joined.bytes.size())), stereo_second_image_offset(joined.bytes));
  // The MP index stands right behind the first image's Exif segment.
  const size_t exif_end = 4 + ((size_t(left[4]) << 8) | left[5]);
  EXPECT_EQ(joined.bytes[exif_end + 1], 0xE2);

  // Split at the index and joined again: the same file.
  const std::span<const uint8_t> all(joined.bytes);
  const int64_t s = *stereo_second_image_offset(joined.bytes);
  EXPECT_EQ(join_mpo(all.first(size_t(s)), all.subspan(size_t(s))).bytes, joined.bytes);
}

TEST(JoinMpo, HalvesWithoutLeadingExif) {
  // No Exif at all on either side; a right image with its Exif behind an XMP segment.
  expect_pair(join_mpo(plain_jpeg(), plain_jpeg()).bytes, plain_jpeg(), plain_jpeg());
  const Bytes xmp_first = half(Variant::second_xmp_first, 1);
  const Bytes jfif_only = half(Variant::second_jfif_no_exif, 1);
  expect_pair(join_mpo(plain_jpeg(), xmp_first).bytes, plain_jpeg(), xmp_first);
  expect_pair(join_mpo(half(Variant::app0_first, 0), jfif_only).bytes, half(Variant::app0_first, 0), jfif_only);
}

TEST(JoinMpo, InputsThatAreNoJpegsAreRefused) {
  const Bytes jpeg = plain_jpeg();
  Bytes bad_length = jpeg;
  bad_length[4] = 0xFF;  // the APP0 length runs past the end
  const Bytes no_scan(jpeg.begin(), jpeg.begin() + 100);
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
  // A scan with no frame header before it: no reader can open it.
  const Bytes scan_first = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 63, 0, 0x12, 0x34, 0xFF, 0xD9};
  for (const Bytes& bad : {Bytes{}, gif, Bytes{0xFF, 0xD8, 0xFF}, bad_length, no_scan, scan_first}) {
    EXPECT_EQ(join_mpo(bad, jpeg).refusal, JoinRefusal::left_not_jpeg);
    EXPECT_EQ(may_be_join_input(bad), bad != gif && bad != scan_first);
    const JoinResult r = join_mpo(jpeg, bad);
    EXPECT_EQ(r.refusal, JoinRefusal::right_not_jpeg);
    EXPECT_TRUE(r.bytes.empty());
  }
}

// The joined file parts where its index says, into the halves' first
// images: a camera JPEG's own further image behind its end (listed in its
// own MP index) is left out, and halves the byte search cannot tell apart
// are said to be so.
TEST(JoinMpo, SplitsBackIntoTheFirstImages) {
  const mpogen::Mpo with_gain_map = mpogen::make_mpo({.width = 64, .height = 48, .variant = Variant::gain_map});
  const std::span<const uint8_t> primary = std::span<const uint8_t>(with_gain_map.bytes).first(with_gain_map.separator);
  const Bytes right = half(Variant::camera, 1);
  const JoinResult joined = join_mpo(with_gain_map.bytes, right);
  ASSERT_EQ(joined.refusal, JoinRefusal::none);
  EXPECT_EQ(joined.left_dropped.images, 1);
  EXPECT_EQ(joined.left_dropped.bytes, int64_t(with_gain_map.bytes.size() - with_gain_map.separator));
  EXPECT_TRUE(joined.found_by_byte_search);
  expect_pair(joined.bytes, Bytes(primary.begin(), primary.end()), right);

  // A progressive stream with restarts ends at its own EOI, tables between
  // scans passed over by their lengths.
  mpogen::JpegSettings settings;
  settings.progressive = true, settings.restart_rows = 1;
  Bytes progressive = mpogen::encode_jpeg(settings, mpogen::ramp_samples(settings.width, settings.height, 3, 5, 7).data());
  const auto first_size = int64_t(progressive.size());
  progressive.insert(progressive.end(), right.begin(), right.end());
  EXPECT_EQ(join_mpo(progressive, right).left_dropped.bytes, int64_t(progressive.size()) - first_size);

  const Bytes tiny = mpogen::make_half({.width = 64, .height = 48, .variant = Variant::tiny_second}, 1);
  const JoinResult unequal = join_mpo(half(Variant::camera, 0), tiny);
  EXPECT_FALSE(unequal.found_by_byte_search);
  EXPECT_EQ(stereo_second_image_offset(unequal.bytes), unequal.second_start);
}

// Another reader of MP files agrees, when one is installed.
TEST(JoinMpo, ExiftoolReadsTheIndex) {
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  const auto path = std::filesystem::temp_directory_path() / ("mpo-join-" + std::to_string(getpid()) + ".mpo");
  {
    const Bytes mpo = join_mpo(half(Variant::camera, 0), half(Variant::camera, 1)).bytes;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(mpo.data()), std::streamsize(mpo.size()));
  }
  // Both images' MP attributes (-ee reads the second one's), the types
  // (0x020002 disparity) and the number of images, as numbers.
  const test::ProcessResult r =
      test::run_process({"exiftool", "-n", "-s3", "-a", "-ee", "-MPIndividualNum",
                         "-BaseViewpointNum", "-MPImageType", "-NumberOfImages", path.string()});
  EXPECT_EQ(r.out + r.err, "1\n2\n1\n1\n131074\n131074\n2\n");
  // Its check of the file's structure finds nothing wrong with the MP data.
  const test::ProcessResult checked = test::run_process({"exiftool", "-validate", "-warning", "-a", "-ee", path.string()});
  std::filesystem::remove(path);
  for (const char* word : {"MP", "Error", "Bad", "Invalid"})
    EXPECT_EQ(checked.out.find(word), std::string::npos) << word << " in\n" << checked.out;
}

}  // namespace
}  // namespace mpo
