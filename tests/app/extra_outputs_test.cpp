// The command line's further outputs through the entry processor: quality,
// the Exif splice, viewing formats, the lossless side-by-side, the MP index
// split and the detailed failure reports.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/batch.h"
#include "image/jpeg_codec.h"
#include "test_support.h"
#include "tests/support/cli_runs.h"
#include "tests/support/jpeg_checks.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using test::Bytes;
using test::read_bytes;

const std::vector<std::string> kNewSuffixes = {"_ana.jpg", "_x.jpg", "_tv.jpg",
                                               "_sbs-lossless.jpg"};

class ExtraOutputsTest : public ::testing::Test {
 protected:
  ExtraOutputsTest() {
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
  }

  // Writes the MPO as `name`.mpo and converts it; the base path's string.
  std::string convert(const std::string& name, const Bytes& mpo, const ExtraOutputs& extra,
                      OptionFlags flags = OptionFlags{1, 1, 1, 1}) {
    const std::string base = tmp.path(name);
    EXPECT_TRUE(test::write_bytes(base + ".mpo", mpo));
    EntryProcessor processor(files, images, ui, extra);
    result = processor.process(Entry{T(base + ".mpo"), T(name), Text()}, flags);
    return base;
  }

  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& c : ui.of_kind("message")) out.push_back(c.a + ": " + c.b);
    return out;
  }

  test::TempDir tmp;
  FileService files;
  ImageService images;
  test::ScriptedUi ui;
  EntryResult result;
};

ExtraOutputs every(int quality = 70) {
  ExtraOutputs e;
  e.anaglyph = e.cross = e.tv = e.lossless = true;
  e.quality = quality;
  e.detailed_failures = true;
  return e;
}

mpogen::Options camera(int w = 96, int h = 64) {
  mpogen::Options o;
  o.width = w, o.height = h;
  return o;
}

// Every re-encoded output at quality 1 and 100: decodable without a warning,
// the quality in its tables, the Exif image and every new output spliced
// (SOI, APP1 with the MPO's segment, the encoded file from its first DQT).
TEST_F(ExtraOutputsTest, QualityAndExifSpliceOfEveryOutput) {
  const mpogen::Options o = camera();
  const Bytes segment = mpogen::exif_info(o, 0).segment;
  std::map<int, size_t> sbs_size;
  for (int q : {1, 100}) {
    const std::string base = convert("20130412_q" + std::to_string(q) + "_1",
                                     mpogen::make_mpo(o).bytes, every(q));
    ASSERT_EQ(messages(), std::vector<std::string>{});
    const Bytes sbs = read_bytes(base + "_sbs.jpg");
    sbs_size[q] = sbs.size();
    const Bytes exif = read_bytes(base + "_EXIF.jpg");
    ASSERT_EQ(exif.size(), sbs.size() + segment.size() - 16) << q;
    EXPECT_TRUE(std::equal(sbs.begin() + 20, sbs.end(), exif.begin() + 4 + segment.size()));
    for (const std::string s : {"_sbs.jpg", "_sbsh.jpg", "_ouh.jpg", "_EXIF.jpg", "_ana.jpg",
                                 "_x.jpg", "_tv.jpg", "_sbs-lossless.jpg"}) {
      EXPECT_TRUE(test::decodes_completely(base + s)) << s << " " << q;
    }
    for (const std::string s : {"_ana.jpg", "_x.jpg", "_tv.jpg", "_sbs-lossless.jpg"}) {
      const Bytes out = read_bytes(base + s);
      ASSERT_GT(out.size(), segment.size() + 6) << s;
      EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0xFF, 0xD8, 0xFF, 0xE1})) << s;
      EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 4 + long(segment.size())), segment) << s;
      if (s != "_sbs-lossless.jpg") {  // the encoder's tables follow, no JFIF header
        EXPECT_EQ(Bytes(out.begin() + 4 + long(segment.size()), out.begin() + 6 + long(segment.size())),
                  (Bytes{0xFF, 0xDB})) << s;
      }
    }
    EXPECT_EQ(test::jpeg_size(base + "_ana.jpg"), (test::Size{96, 64}));
    EXPECT_EQ(test::jpeg_size(base + "_x.jpg"), (test::Size{192, 64}));
    EXPECT_EQ(test::jpeg_size(base + "_tv.jpg"), (test::Size{1920, 1080}));
  }
  EXPECT_LT(sbs_size[1] * 3, sbs_size[100]);
}

// Without an Exif segment in the MPO the new outputs are the encoder's (or
// the join's) JFIF files.
TEST_F(ExtraOutputsTest, WithoutExifTheOutputsKeepTheirJfifHeader) {
  Bytes mpo = mpogen::make_mpo(camera()).bytes;
  mpo[3] = 0xFE;  // the first image's APP1 becomes a comment
  const std::string base = convert("noexif", mpo, every(), OptionFlags{});
  for (const std::string& s : kNewSuffixes) {
    const Bytes out = read_bytes(base + s);
    ASSERT_GT(out.size(), 20u) << s;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0xFF, 0xD8, 0xFF, 0xE0})) << s;
    EXPECT_TRUE(test::decodes_completely(base + s)) << s;
  }
  EXPECT_FALSE(result.output_failed);
}

// Quality 70 (the default) writes what the desktop program writes.
TEST_F(ExtraOutputsTest, DefaultQualityKeepsTheCompositesBytes) {
  const Bytes mpo = mpogen::make_mpo(camera()).bytes;
  const std::string a = convert("a", mpo, ExtraOutputs{});
  const std::string b = convert("b", mpo, every(70));
  for (const std::string& s : test::output_suffixes()) {
    EXPECT_EQ(read_bytes(a + s), read_bytes(b + s)) << s;
  }
}

TEST_F(ExtraOutputsTest, ExiftoolReadsTheCameraTagsOfEveryNewOutput) {
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool missing";
  const mpogen::Options o = camera();
  // Without a side-by-side image: the formats drawn from the grids.
  const std::string base = convert("tags", mpogen::make_mpo(o).bytes, every(), OptionFlags{});
  for (const std::string& s : kNewSuffixes) {
    const auto r = test::run_process(
        {"exiftool", "-s", "-s", "-s", "-Make", "-Model", "-DateTimeOriginal", base + s});
    EXPECT_EQ(r.out, o.make + "\n" + o.model + "\n" + o.date_time + "\n") << s;
  }
}

// Decoded with the exact integer DCT and no fancy upsampling, the lossless
// side-by-side holds both halves' pixels unchanged.
TEST_F(ExtraOutputsTest, LosslessKeepsEveryPixelAndRefusesUnequalHalves) {
  if (!test::have_program("djpeg")) GTEST_SKIP() << "djpeg missing";
  const std::string base = convert("ll", mpogen::make_mpo(camera(160, 64)).bytes, every(),
                                   OptionFlags{});
  auto ppm = [](const std::string& file) {
    return test::run_process({"djpeg", "-nosmooth", "-dct", "int", "-pnm", file}).out;
  };
  auto rows = [](const std::string& pnm, size_t width) {  // binary PPM body rows
    std::vector<std::string> out;
    size_t at = 0;
    for (int field = 0; field < 4; ++field) at = pnm.find_first_of(" \n", at) + 1;
    for (; at < pnm.size(); at += 3 * width) out.push_back(pnm.substr(at, 3 * width));
    return out;
  };
  const auto joined = rows(ppm(base + "_sbs-lossless.jpg"), 320);
  const auto left = rows(ppm(base + "_L.jpg"), 160);
  const auto right = rows(ppm(base + "_R.jpg"), 160);
  ASSERT_EQ(joined.size(), 64u);
  ASSERT_EQ(left.size(), 64u);
  for (size_t y = 0; y < joined.size(); ++y) ASSERT_EQ(joined[y], left[y] + right[y]) << y;
  const Bytes out = read_bytes(base + "_sbs-lossless.jpg");
  const std::string kMpf = "MPF";
  EXPECT_EQ(std::search(out.begin(), out.end(), kMpf.begin(), kMpf.end()), out.end());

  mpogen::Options unequal = camera(160, 64);
  unequal.variant = mpogen::Variant::unequal_halves;
  ui.calls.clear();
  const std::string refused = convert("uneq", mpogen::make_mpo(unequal).bytes, every(),
                                      OptionFlags{});
  EXPECT_FALSE(test::fs::exists(refused + "_sbs-lossless.jpg"));
  EXPECT_TRUE(test::fs::exists(refused + "_tv.jpg"));
  EXPECT_TRUE(result.output_failed);
  EXPECT_EQ(messages(), std::vector<std::string>{
                            "Fehlerinfo: Die verlustfreie SBS-Datei konnte nicht erstellt werden\r" +
                            refused + "_sbs-lossless.jpg: die Bildh\u00e4lften sind verschieden hoch"});
}

// Files whose second view only the MP index finds split there with
// --mp-index; a file whose index lists no stereo pair stops with its own
// reason; without the option nothing changes.
TEST_F(ExtraOutputsTest, MpIndexSplit) {
  ExtraOutputs with_index;
  with_index.mp_index = true;
  for (auto v : {mpogen::Variant::second_jfif_no_exif, mpogen::Variant::second_xmp_first,
                 mpogen::Variant::tiny_second}) {
    mpogen::Options o = camera();
    o.variant = v;
    const mpogen::Mpo mpo = mpogen::make_mpo(o);
    const std::string name = mpogen::variant_name(v);
    convert(name + "_plain", mpo.bytes, ExtraOutputs{}, OptionFlags{});
    EXPECT_EQ(result.stop, StopReason::no_separator) << name;
    const std::string base = convert(name, mpo.bytes, with_index, OptionFlags{});
    EXPECT_EQ(result.stop, StopReason::none) << name;
    EXPECT_EQ(read_bytes(base + "_L.jpg"), Bytes(mpo.bytes.begin(), mpo.bytes.begin() + long(mpo.separator)));
    EXPECT_EQ(read_bytes(base + "_R.jpg"), Bytes(mpo.bytes.begin() + long(mpo.separator), mpo.bytes.end()));
  }
  mpogen::Options gain = camera();
  gain.variant = mpogen::Variant::gain_map;
  ui.calls.clear();
  const std::string base = convert("gain", mpogen::make_mpo(gain).bytes, with_index, OptionFlags{});
  EXPECT_EQ(result.stop, StopReason::not_stereo);
  EXPECT_EQ(messages(), std::vector<std::string>{"Fehler: keine Stereo-MPO-Datei\r" + base + ".mpo"});
  EXPECT_FALSE(test::fs::exists(base + "_L.jpg"));
}

// A half that cannot be decoded: no viewing format is written and each one
// is reported with its file and the reason.
TEST_F(ExtraOutputsTest, UnreadableHalfWritesNoViewingFormat) {
  mpogen::Mpo mpo = mpogen::make_mpo(camera());
  // The right half's frame header claims a height of 0.
  const uint8_t kSof0[] = {0xFF, 0xC0};
  auto sof = std::search(mpo.bytes.begin() + long(mpo.separator), mpo.bytes.end(),
                         std::begin(kSof0), std::end(kSof0));
  ASSERT_NE(sof, mpo.bytes.end());
  sof[5] = 0, sof[6] = 0;
  ExtraOutputs e = every();
  e.lossless = false;
  const std::string base = convert("bad", mpo.bytes, e, OptionFlags{});
  EXPECT_TRUE(result.output_failed);
  const std::string why = ": Bild nicht lesbar";
  EXPECT_EQ(messages(), (std::vector<std::string>{
      "Fehlerinfo: Die Anaglyphen-Datei konnte nicht erstellt werden\r" + base + "_ana.jpg" + why,
      "Fehlerinfo: Die Kreuzblick-Datei konnte nicht erstellt werden\r" + base + "_x.jpg" + why,
      "Fehlerinfo: Die TV-Datei konnte nicht erstellt werden\r" + base + "_tv.jpg" + why}));
  for (const std::string s : {"_ana.jpg", "_x.jpg", "_tv.jpg"}) {
    EXPECT_FALSE(test::fs::exists(base + s)) << s;
  }
}

// The command line names every output not written with the system's
// reason, the halves too (the desktop program passes over them in silence).
TEST(ExtraOutputsCli, ReadOnlyFolderNamesFileAndReason) {
  test::Scene scene;
  if (!test::permissions_hold(scene)) GTEST_SKIP() << "permission bits do not hold here";
  const test::fs::path folder = scene.tree() / "ro";
  ASSERT_TRUE(test::write_bytes(folder / "a.mpo", test::generated(1)));
  test::fs::permissions(folder, test::fs::perms::owner_write | test::fs::perms::group_write |
                                    test::fs::perms::others_write,
                        test::fs::perm_options::remove);
  test::CliRun run;
  run.args = {"--sbs", "--anaglyph", "--jobs", "1", scene.tree().string()};
  run.scene = &scene;
  run.without_permission_override = true;
  const test::CliResult r = test::run_cli(run);
  EXPECT_EQ(r.status, 1);
  const std::string base = (folder / "a").string();
  for (const std::string& line :
       {"Fehlerinfo: Das linke Einzelbild konnte nicht erstellt werden\n" + base +
            "_L.jpg: Zugriff verweigert\n",
        "Fehlerinfo: Das rechte Einzelbild konnte nicht erstellt werden\n" + base +
            "_R.jpg: Zugriff verweigert\n",
        "Fehlerinfo: Die SBS-Datei konnte nicht erstellt werden\n" + base +
            "_sbs.jpg: Bild nicht lesbar\n",
        "Fehlerinfo: Die Anaglyphen-Datei konnte nicht erstellt werden\n" + base +
            "_ana.jpg: Bild nicht lesbar\n"}) {
    EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
  }
}

}  // namespace
}  // namespace mpo
