// The stereo correction through the entry processor: the corrected halves
// feed every drawn format, the corrected pair is written as an MPO with the
// camera's Exif, a pair that cannot be measured stays as it is with a note,
// and the report comes out in list order.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "app/batch.h"
#include "app/entry_budget.h"
#include "app/named_paths.h"
#include "app/report.h"
#include "mpo/join.h"
#include "image/jpeg_codec.h"
#include "test_support.h"
#include "tests/support/cli_runs.h"
#include "tests/support/crafting.h"
#include "tests/support/jpeg_checks.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using test::Bytes;
using test::read_bytes;

class StereoOutputsTest : public ::testing::Test {
 protected:
  StereoOutputsTest() {
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
    extra.align = true;
    extra.anaglyph = extra.cross = extra.tv = true;
    extra.detailed_failures = true;
    extra.report = &report;
  }

  std::string convert(const std::string& name, const Bytes& mpo) {
    const std::string base = tmp.path(name);
    EXPECT_TRUE(test::write_bytes(base + ".mpo", mpo));
    EntryProcessor processor(files, images, ui, extra);
    OptionFlags flags{1, 1, 1, 1};
    result = processor.process(Entry{T(base + ".mpo"), T(name), Text()}, flags);
    return base;
  }

  test::TempDir tmp;
  FileService files;
  ImageService images;
  test::ScriptedUi ui;
  StereoReport report;
  ExtraOutputs extra;
  EntryResult result;
};

mpogen::Options misaligned_camera() {
  mpogen::Options o;
  o.width = 800;
  o.height = 600;
  o.disparity = 24;
  o.turn_degrees = 1.0;
  o.shift_rows = 9;
  return o;
}

// The two halves of an MPO written by the join: the offset of its second SOI.
size_t second_start(const Bytes& mpo) { return test::second_image(mpo); }

TEST_F(StereoOutputsTest, CorrectedHalvesFeedEveryFormatAndTheAlignedMpo) {
  const mpogen::Mpo mpo = mpogen::make_mpo(misaligned_camera());
  const std::string base = convert("turned", mpo.bytes);
  EXPECT_EQ(ui.of_kind("message").size(), 0u);
  EXPECT_FALSE(result.output_failed);
  // The halves stay byte-exact pieces of the MPO.
  EXPECT_EQ(read_bytes(base + "_L.jpg"), Bytes(mpo.bytes.begin(), mpo.bytes.begin() + long(mpo.separator)));
  // The corrected pair: two equal halves, cut inside the original frame,
  // each carrying the camera's Exif segment first.
  const Bytes aligned = read_bytes(base + "_aligned.mpo");
  const size_t second = second_start(aligned);
  ASSERT_GT(second, 0u);
  const std::string l = tmp.path("al.jpg"), r = tmp.path("ar.jpg");
  ASSERT_TRUE(test::write_bytes(l, Bytes(aligned.begin(), aligned.begin() + long(second))));
  ASSERT_TRUE(test::write_bytes(r, Bytes(aligned.begin() + long(second), aligned.end())));
  const test::Size size = test::jpeg_size(l);
  EXPECT_EQ(test::jpeg_size(r), size);
  EXPECT_LT(size.width, 800);
  EXPECT_GT(size.width, 740);
  EXPECT_LT(size.height, 600);
  EXPECT_GT(size.height, 560);
  for (const auto& half : {l, r}) {
    EXPECT_TRUE(test::decodes_completely(half));
    const Bytes b = read_bytes(half);
    EXPECT_EQ(std::string(b.begin() + 6, b.begin() + 10), "Exif");
    EXPECT_NE(std::search(b.begin(), b.end(), std::begin("MPOGEN"), std::end("MPOGEN") - 1), b.end());
  }
  // Every drawn format has the corrected size.
  EXPECT_EQ(test::jpeg_size(base + "_sbs.jpg"), (test::Size{2 * size.width, size.height}));
  EXPECT_EQ(test::jpeg_size(base + "_ouh.jpg"), (test::Size{size.width, size.height}));
  EXPECT_EQ(test::jpeg_size(base + "_ana.jpg"), (test::Size{size.width, size.height}));
  EXPECT_EQ(test::jpeg_size(base + "_x.jpg"), (test::Size{2 * size.width, size.height}));
}

// Fog: nothing to match. The pair stays as it is, the note names the MPO,
// the entry still converts and its report line says why.
TEST_F(StereoOutputsTest, FeaturelessPairStaysWithItsNote) {
  // A smooth grey ramp, joined into an MPO of two equal halves.
  ASSERT_TRUE(images.create_image(20, 320, 240));
  const PixelView fog = images.view(20);
  for (int64_t y = 0; y < fog.height; ++y)
    std::fill(fog.row(y), fog.row(y) + 3 * fog.width, uint8_t(100 + y / 8));
  ASSERT_TRUE(images.save_image(20, T(tmp.path("fog.jpg")), kJpegEncoderId));
  const Bytes half = read_bytes(tmp.path("fog.jpg"));
  const std::string base = convert("fog", join_mpo(half, half).bytes);
  std::vector<test::Call> notes;
  for (const auto& c : ui.of_kind("message"))
    if (c.a == "Hinweis") notes.push_back(c);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].b.find("unausgerichtet\r" + base + ".mpo"), std::string::npos) << notes[0].b;
  EXPECT_TRUE(std::filesystem::exists(base + "_aligned.mpo"));
  EXPECT_EQ(test::jpeg_size(base + "_sbs.jpg"), (test::Size{640, 240}));
  ASSERT_TRUE(report.write(tmp.path("r.csv")));
  std::ifstream in(tmp.path("r.csv"));
  std::string header, entry;
  std::getline(in, header);
  std::getline(in, entry);
  EXPECT_EQ(entry, base + ".mpo,,,,,,,,,,,zu_wenig_merkmale");
}

// Halves of a side too thin to measure, or so thin once reduced that the
// analysis refuses them: the pair stays as it is with its note, the entry
// converts (no exception leaves the library).
TEST_F(StereoOutputsTest, DegenerateHalvesStayWithTheirNote) {
  extra.window = WindowMode::automatic;
  for (const auto& [w, h] : {std::pair{1, 400}, std::pair{70, 3000}, std::pair{3000, 66}}) {
    mpogen::Options o;
    o.width = w;
    o.height = h;
    const std::string base = convert("thin" + std::to_string(w), mpogen::make_mpo(o).bytes);
    EXPECT_EQ(result.stop, StopReason::none);
    EXPECT_TRUE(std::filesystem::exists(base + "_sbs.jpg")) << w << "x" << h;
  }
}

// A second run over a folder does not correct the corrected pairs the first
// one wrote, in place or below an output folder; an MPO merely named alike
// still converts.
TEST(StereoOwnOutputs, CorrectedPairsOfThisRunsMposAreLeftOut) {
  std::vector<Entry> entries = {
      {T("/p/a.mpo"), T("a"), Text()},           {T("/p/a_aligned.mpo"), T("a_aligned"), Text()},
      {T("/p/b_aligned.mpo"), T("b_aligned"), Text()}, {T("/q/c.mpo"), T("c"), T("/p/c")},
      {T("/p/c_aligned.mpo"), T("c_aligned"), Text()}};
  drop_own_outputs(entries);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].mpo_path, T("/p/a.mpo"));
  EXPECT_EQ(entries[1].mpo_path, T("/p/b_aligned.mpo"));
  EXPECT_EQ(entries[2].mpo_path, T("/q/c.mpo"));
}

// The corrected halves and the analysis count in an entry's memory.
TEST(StereoBudget, CorrectionCountsItsBuffers) {
  FrameHeader half;
  half.width = 3648;
  half.height = 2736;
  half.components = 3;
  half.precision = 8;
  ExtraOutputs stereo;
  stereo.align = true;
  const int64_t plain = entry_memory(7 << 20, half, half, OptionFlags{1, 1, 1, 1});
  const int64_t corrected = entry_memory(7 << 20, half, half, OptionFlags{1, 1, 1, 1}, stereo);
  EXPECT_GE(corrected - plain, 2 * int64_t{3648} * 2736 * 3 + 2 * int64_t{3648} * 2736);
}

// --jobs 2: the report's lines come in the order the MPOs were named.
TEST(StereoReportRun, LinesFollowTheList) {
  test::Scene scene;
  std::vector<std::string> args = {"--align", "--window", "auto", "--jobs", "2", "--report",
                                   (scene.root() / "r.csv").string()};
  for (const char* name : {"c", "a", "d", "b"}) {
    const auto path = scene.tree() / (std::string(name) + ".mpo");
    ASSERT_TRUE(test::write_bytes(path, test::generated(name[0], 320, 240)));
    args.push_back(path.string());
  }
  const test::CliResult run = test::run_cli({args, &scene});
  EXPECT_EQ(run.status, 0) << run.err;
  std::ifstream in(scene.root() / "r.csv");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], report_header());
  const std::string names = "cadb";
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(lines[i + 1].rfind((scene.tree() / (names.substr(i, 1) + ".mpo")).string() + ",", 0), 0u)
        << lines[i + 1];
}

}  // namespace
}  // namespace mpo
