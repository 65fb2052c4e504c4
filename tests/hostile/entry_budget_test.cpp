// What an entry will take, read from a few header bytes before anything is
// allocated.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "app/entry_budget.h"
#include "app/scheduler.h"
#include "hostile_support.h"

namespace hostile {
namespace {

using mpo::EntryBudget;
using mpo::FrameHeader;
using mpo::read_frame_header;

std::optional<FrameHeader> frame_of(const Bytes& jpeg) {
  return read_frame_header(jpeg.data(), static_cast<int64_t>(jpeg.size()));
}

constexpr int64_t kGiB = int64_t{1} << 30;
const mpo::OptionFlags kAll{1, 1, 1, 1};

TEST(EntryBudget, FrameHeaderIsTheOneTheDecoderReads) {
  JpegRecipe recipe;
  recipe.width = 40, recipe.height = 24;
  const Bytes jpeg = make_jpeg(recipe);
  const auto plain = frame_of(jpeg);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->width, 40);
  EXPECT_EQ(plain->height, 24);
  EXPECT_EQ(plain->components, 3);
  EXPECT_FALSE(plain->progressive || plain->multi_scan);

  // Stray bytes, fill bytes and an empty comment before the frame are
  // stepped over as libjpeg steps over them.
  const size_t sof = frame_header(jpeg);
  Bytes odd = jpeg;
  const Bytes junk = {0x00, 0x12, 0xFF, 0xFF, 0xFE, 0x00, 0x00, 0x47};
  odd.insert(odd.begin() + static_cast<long>(sof), junk.begin(), junk.end());
  const auto stepped = frame_of(odd);
  ASSERT_TRUE(stepped);
  EXPECT_EQ(stepped->width, 40);

  // Streams the decoder gives up on before it allocates the picture.
  const Bytes no_soi(jpeg.begin() + 2, jpeg.end());
  const Bytes cut_before_frame(jpeg.begin(), jpeg.begin() + static_cast<long>(sof) - 3);
  const size_t sof_end = sof + 2 + ((size_t(jpeg[sof + 2]) << 8) | jpeg[sof + 3]);
  const Bytes no_scan(jpeg.begin(), jpeg.begin() + static_cast<long>(sof_end));
  Bytes scan_first = jpeg;
  scan_first[sof + 1] = 0xDA;
  for (const Bytes* b : std::initializer_list<const Bytes*>{&no_soi, &cut_before_frame, &no_scan,
                                                           &scan_first}) {
    EXPECT_FALSE(frame_of(*b));
  }
}

TEST(EntryBudget, ProgressiveHalvesCountTheirCoefficients) {
  JpegRecipe recipe;
  recipe.progressive = true;
  Bytes progressive = make_jpeg(recipe);
  patch_frame(progressive, 0, 8, 8192, 8192);
  recipe.progressive = false;
  Bytes baseline = make_jpeg(recipe);
  patch_frame(baseline, 0, 8, 8192, 8192);
  const auto p = frame_of(progressive);
  const auto b = frame_of(baseline);
  ASSERT_TRUE(p && b);
  EXPECT_TRUE(p->progressive);
  // At least the luminance: 64 two-byte coefficients per 8 x 8 block.
  EXPECT_GE(p->coefficient_bytes, 8192 * 8192 * 2);
  EXPECT_EQ(mpo::entry_memory(0, p, b, kAll) - mpo::entry_memory(0, b, b, kAll),
            p->coefficient_bytes);
}

TEST(EntryBudget, CameraEntriesFitTheirShareAndTinyFilesDeclaringHugeHalvesDoNot) {
  // Two camera halves with every composite, two workers in 1 GiB.
  FrameHeader camera;
  camera.width = 3648, camera.height = 2736, camera.components = 3, camera.precision = 8;
  const int64_t camera_entry = mpo::entry_memory(6 << 20, camera, camera, kAll);
  EXPECT_LE(camera_entry, mpo::kTypicalEntryBytes);
  mpo::Schedule two;
  two.jobs = 2;
  two.memory_available = kGiB;
  const int workers = mpo::planned_workers(two, 8, 2);
  EXPECT_EQ(workers, 2);
  EXPECT_LE(camera_entry, kGiB / workers);

  const EntryBudget budget{kGiB / 2, kAll, {}};
  const Bytes sound = mpo_of(JpegRecipe{}, JpegRecipe{});
  const size_t separator = second_image(sound);
  EXPECT_TRUE(budget.admits_entry(sound.data(), int64_t(sound.size()), int64_t(separator)));
  Bytes huge_left = sound;
  patch_frame(huge_left, 0, 8, 16383, 16383);
  Bytes huge_right = sound;
  patch_frame(huge_right, separator, 8, 32767, 32767);
  for (const Bytes* b : std::initializer_list<const Bytes*>{&huge_left, &huge_right}) {
    EXPECT_FALSE(budget.admits_entry(b->data(), int64_t(b->size()), int64_t(separator)));
  }
  // A frame the decoder refuses before allocating costs nothing.
  Bytes refused = sound;
  patch_frame(refused, 0, 8, 65535, 65535);
  EXPECT_TRUE(budget.admits_entry(refused.data(), int64_t(refused.size()), int64_t(separator)));
  EXPECT_FALSE(budget.admits_file((int64_t{1} << 31) - 1));
}

// Each further output the command line asks for is priced in the
// admission: a budget that holds the entry without it refuses the entry
// with it.
class FurtherOutput : public testing::TestWithParam<bool mpo::ExtraOutputs::*> {};

TEST_P(FurtherOutput, CountsInTheAdmission) {
  const Bytes mpo = generated(7, 640, 480);
  const int64_t size = int64_t(mpo.size());
  const int64_t separator = int64_t(second_image(mpo));
  mpo::ExtraOutputs with;
  with.*GetParam() = true;
  const int64_t without_bytes = mpo::entry_memory(
      size, read_frame_header(mpo.data(), separator),
      read_frame_header(mpo.data() + separator, size - separator), kAll);
  EXPECT_TRUE((EntryBudget{without_bytes, kAll, {}}.admits_entry(mpo.data(), size, separator)));
  EXPECT_FALSE((EntryBudget{without_bytes, kAll, with}.admits_entry(mpo.data(), size, separator)));
}

INSTANTIATE_TEST_SUITE_P(EntryBudget, FurtherOutput,
                         testing::Values(&mpo::ExtraOutputs::anaglyph, &mpo::ExtraOutputs::cross,
                                         &mpo::ExtraOutputs::tv, &mpo::ExtraOutputs::lossless,
                                         &mpo::ExtraOutputs::wiggle, &mpo::ExtraOutputs::vr),
                         [](const auto& info) {
                           return std::string(std::array{"anaglyph", "cross", "tv", "lossless",
                                                         "wiggle", "vr"}[info.index]);
                         });

}  // namespace
}  // namespace hostile
