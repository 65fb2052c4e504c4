// A large batch with one file in ten damaged, run with --keep-going on two
// workers: every sound MPO is converted completely and correctly, every
// damaged one is reported, and nothing is lost.
#include <gtest/gtest.h>

#include "hostile_support.h"

namespace hostile {
namespace {

struct Damage {
  const char* name;
  std::vector<std::string> report;  // the lines shown for such an entry; "{}" is its path
};

// Builds damaged MPO number k, and says what the user must be told.
Bytes damaged(int k, uint32_t seed, const Damage*& kind) {
  static const Damage kinds[] = {
      {"empty", {"Fehler: keine Bilddatei", "{}"}},
      {"short", {"Fehler: keine Bilddatei", "{}"}},
      {"cut_first", {"Fehler: Trennstelle nicht gefunden", "{}"}},
      {"single", {"Fehler: Trennstelle nicht gefunden", "{}"}},
      {"jfif_second", {"Fehler: Trennstelle nicht gefunden", "{}"}},
      {"zeros", {"Fehler: Trennstelle nicht gefunden", "{}"}},
      {"two_components", {kSbsFailed, kSbshFailed, kOuhFailed, kExifFailed}},
      {"twelve_bit", {kSbsFailed, kSbshFailed, kOuhFailed, kExifFailed}},
      {"exif_too_long", {kSbsFailed, kSbshFailed, kOuhFailed, kExifFailed}},
      {"jfif_both", {"Fehler: Trennstelle nicht gefunden", "{}"}},
  };
  kind = &kinds[k % 10];
  switch (k % 10) {
    case 0: return {};
    case 1: {
      const Bytes whole = generated(seed);
      return Bytes(whole.begin(), whole.begin() + 60);
    }
    case 2: return generated(seed, 96, 64, mpogen::Variant::truncated_first);
    case 3: return generated(seed, 96, 64, mpogen::Variant::no_second_image);
    case 4: return generated(seed, 96, 64, mpogen::Variant::second_jfif);
    case 5: return Bytes(6000, 0);
    case 6: {
      JpegRecipe two;
      two.components = 2, two.in_space = JCS_UNKNOWN;
      return mpo_of(two, two);
    }
    case 7: {
      Bytes b = mpo_of({}, {});
      patch_frame(b, 0, 12, 48, 32);
      return b;
    }
    case 8: {
      Bytes b = generated(seed);
      b[4] = 0xFF, b[5] = 0xFF;
      return b;
    }
    default: return generated(seed, 96, 64, mpogen::Variant::app0_first);
  }
}

TEST(Batch, TwoHundredMposOneInTenDamagedKeepGoing) {
  Scene scene;
  std::map<fs::path, const Damage*> broken;
  std::set<fs::path> sound;
  for (int i = 0; i < 200; ++i) {
    const fs::path dir = scene.tree() / ("folder" + std::to_string(i % 8));
    const uint32_t seed = 1000u + static_cast<uint32_t>(i);
    if (i % 10 == 3) {
      const Damage* kind = nullptr;
      const Bytes b = damaged(i / 10, seed, kind);
      const fs::path p = dir / ("bad" + std::to_string(i) + "_" + kind->name + ".mpo");
      write_bytes(p, b);
      broken[p] = kind;
    } else {
      const fs::path p = dir / ("2013_TRIP_" + std::to_string(i) + ".MPO");
      write_bytes(p, generated(seed));
      sound.insert(p);
    }
  }
  const auto before = mpos_below(scene.tree());
  ASSERT_EQ(before.size(), 200u);

  CliRun run;
  run.scene = &scene;
  run.args = {"--all", "--keep-going", "--jobs", "2", scene.tree().string()};
  run.timeout_seconds = 100;
  const CliResult r = run_cli(run);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("[200/200]"), std::string::npos);

  const auto found = check_tree(scene.tree(), before);
  const auto entries = r.by_entry();
  EXPECT_EQ(entries.size(), 200u);
  for (const fs::path& p : sound) {
    SCOPED_TRACE(p.string());
    ASSERT_EQ(found.count(p), 1u);
    EXPECT_EQ(found.at(p).size(), 6u);
    EXPECT_TRUE(entries.at(base_of(p)).empty()) << ::testing::PrintToString(entries.at(base_of(p)));
    const std::string base = base_of(p);
    EXPECT_EQ(jpeg_size(base + "_sbs.jpg"), (Size{192, 64}));
    EXPECT_EQ(jpeg_size(base + "_sbsh.jpg"), (Size{96, 64}));
    EXPECT_EQ(jpeg_size(base + "_ouh.jpg"), (Size{96, 64}));
    EXPECT_EQ(jpeg_size(base + "_EXIF.jpg"), (Size{192, 64}));
    const Bytes exif = read_bytes(base + "_EXIF.jpg");
    ASSERT_GT(exif.size(), 20u);
    EXPECT_TRUE(exif[2] == 0xFF && exif[3] == 0xE1 && std::memcmp(&exif[6], "Exif", 4) == 0);
    const std::string software = "TRIP      -V1";
    EXPECT_NE(std::search(exif.begin(), exif.end(), software.begin(), software.end()), exif.end());
  }
  for (const auto& [p, kind] : broken) {
    SCOPED_TRACE(p.string());
    std::vector<std::string> expected;
    for (const std::string& line : kind->report) expected.push_back(line == "{}" ? p.string() : line);
    ASSERT_EQ(entries.count(base_of(p)), 1u);
    EXPECT_EQ(headlines(entries.at(base_of(p)), base_of(p)), expected);
  }
  expect_empty(scene.tmp());
  expect_empty(scene.cwd());
}

// a.mpo and a.MPO share their output names: the one listed first is
// converted, the other is not and is named beside it, on one worker and on
// two alike (nothing written twice, no half read from the other).
TEST(Batch, SameOutputNamesConvertOnlyTheFirst) {
  Scene scene;
  const fs::path lower = scene.tree() / "a.mpo", upper = scene.tree() / "a.MPO";
  write_bytes(lower, generated(70, 320, 240));
  write_bytes(upper, generated(71, 320, 240));
  const auto before = mpos_below(scene.tree());
  auto clash = [](const fs::path& later, const fs::path& earlier) {
    return "Fehler: " + later.string() + "\nnicht umgewandelt: dieselben Ausgabedateien wie\n" +
           earlier.string() + "\n";
  };
  CliRun run;
  run.scene = &scene;
  run.args = {"--all", "--jobs", "1", scene.tree().string()};
  for (const char* jobs : {"1", "2"}) {
    for (const auto& e : fs::directory_iterator(scene.tree())) {
      if (!before.count(e.path())) fs::remove(e.path());
    }
    run.args[2] = jobs;
    const CliResult r = run_cli(run);
    EXPECT_EQ(r.status, 1) << r.err;
    const bool lower_first = r.err.find(clash(upper, lower)) != std::string::npos;
    EXPECT_NE(lower_first, r.err.find(clash(lower, upper)) != std::string::npos) << r.err;
    const fs::path& first = lower_first ? lower : upper;
    auto found = check_tree(scene.tree(), {{first, before.at(first)}},
                            {lower_first ? upper : lower});
    EXPECT_EQ(found[first].size(), 6u) << jobs << "\n" << r.err;
  }
}

}  // namespace
}  // namespace hostile
