// Damaged and crafted MPOs, all in one tree and one run with --keep-going:
// each either converts, or fails with the message of every output it could
// not give, or stops with its reason; nothing crashes, no partial JPEG is
// left behind, no MPO changes.
#include <gtest/gtest.h>

#include "hostile_support.h"

namespace hostile {
namespace {

const std::string kNoImage = "keine Bilddatei";
const std::string kNoSeparator = "Trennstelle nicht gefunden";
const std::set<std::string> kAllFailed = {kSbsFailed, kSbshFailed, kOuhFailed, kExifFailed};

struct Case {
  std::string name;
  Bytes bytes;
  std::string stop;                 // the stop reason, or empty
  std::set<std::string> failures;   // messages of an entry that does not stop
};

Bytes cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); }

// Pads the left half (after its end-of-image) or the right half until
// "Exif" of the second image lies `offset` bytes from the middle, with
// offset = +bound or -bound of the search, or one byte beyond it.
Bytes at_search_bound(const Bytes& left, const Bytes& right, bool after_middle, int beyond) {
  for (size_t pad = 0; pad < 8 * (left.size() + right.size()); ++pad) {
    const int64_t s = static_cast<int64_t>(left.size() + (after_middle ? pad : 0));
    const int64_t n = static_cast<int64_t>(left.size() + right.size() + pad);
    const int64_t target = after_middle ? n / 2 + n / 4 + beyond : n / 2 - n / 4 - beyond;
    if (s + 6 != target) continue;
    Bytes out = left;
    if (after_middle) out.resize(out.size() + pad, 0);
    out.insert(out.end(), right.begin(), right.end());
    if (!after_middle) out.resize(out.size() + pad, 0);
    return out;
  }
  ADD_FAILURE() << "no padding reaches the search bound";
  return {};
}

std::vector<Case> cases() {
  std::vector<Case> c;
  const Bytes camera = generated(5, 64, 48);
  const size_t sep = second_image(camera);
  const Bytes left(camera.begin(), camera.begin() + static_cast<long>(sep));
  const Bytes right(camera.begin() + static_cast<long>(sep), camera.end());

  c.push_back({"empty", {}, kNoImage, {}});
  c.push_back({"ninety_nine_bytes", cut(camera, 99), kNoImage, {}});
  c.push_back({"hundred_bytes", cut(camera, 100), kNoSeparator, {}});
  c.push_back({"truncated_first", generated(6, 64, 48, mpogen::Variant::truncated_first),
               kNoSeparator, {}});
  c.push_back({"no_second_image", generated(7, 64, 48, mpogen::Variant::no_second_image),
               kNoSeparator, {}});
  c.push_back({"second_image_jfif", generated(8, 64, 48, mpogen::Variant::second_jfif),
               kNoSeparator, {}});
  // Cut inside the second image's scan: libjpeg fills the rest, grey.
  c.push_back({"truncated_second", generated(9, 64, 48, mpogen::Variant::truncated_second), "", {}});
  // Both halves begin with JFIF: the second image's start is not recognised.
  c.push_back({"app0_first", generated(10, 64, 48, mpogen::Variant::app0_first), kNoSeparator, {}});

  // The first image's APP1 length says 65520 bytes: the segment is read
  // (zero past the end), but the left half is no longer a JPEG.
  {
    Bytes b = camera;
    b[4] = 0xFF, b[5] = 0xF0;
    c.push_back({"exif_length_beyond_file", b, "", kAllFailed});
  }

  c.push_back({"separator_at_upper_bound", at_search_bound(left, right, true, 0), "", {}});
  c.push_back({"separator_at_lower_bound", at_search_bound(left, right, false, 0), "", {}});
  c.push_back({"separator_past_upper_bound", at_search_bound(left, right, true, 1), kNoSeparator, {}});
  c.push_back({"separator_past_lower_bound", at_search_bound(left, right, false, 1), kNoSeparator, {}});

  // "Exif" right in the middle behind FF D8 FF E0 (not E1): passed over, the
  // real second image further out is taken.
  {
    Bytes b = left;
    const Bytes decoy = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'E', 'x', 'i', 'f'};
    const size_t total = left.size() + 200 + right.size();
    b.resize(total / 2 - 6, 0);
    b.insert(b.end(), decoy.begin(), decoy.end());
    b.resize(left.size() + 200, 0);
    b.insert(b.end(), right.begin(), right.end());
    c.push_back({"exif_without_its_start_of_image", b, "", {}});
  }

  JpegRecipe plain;
  {
    JpegRecipe two = plain;
    two.components = 2, two.in_space = JCS_UNKNOWN;
    c.push_back({"two_components", mpo_of(two, two), "", kAllFailed});
  }
  {
    JpegRecipe cmyk = plain;
    cmyk.components = 4, cmyk.in_space = JCS_CMYK;
    c.push_back({"cmyk", mpo_of(cmyk, cmyk), "", {}});
  }
  {
    JpegRecipe progressive = plain;
    progressive.progressive = true;
    c.push_back({"progressive", mpo_of(progressive, progressive), "", {}});
  }
  {
    Bytes b = mpo_of(plain, plain);
    patch_frame(b, 0, 12, plain.width, plain.height);
    c.push_back({"twelve_bit_left", b, "", kAllFailed});
  }
  // Halves above 16383 pixels: the side-by-side image would be wider than an
  // image record holds; the half-width and over/under images are fine.
  {
    JpegRecipe wide = plain;
    wide.width = 16400, wide.height = 8, wide.quality = 30;
    c.push_back({"halves_16400_wide", mpo_of(wide, wide), "", {kSbsFailed, kExifFailed}});
  }
  {
    Bytes b = mpo_of(plain, plain);
    patch_frame(b, 0, 8, 40000, plain.height);
    c.push_back({"left_40000_wide", b, "", kAllFailed});
  }
  {
    Bytes b = mpo_of(plain, plain);
    patch_frame(b, 0, 8, 65535, 65535);
    c.push_back({"left_65535_square", b, "", kAllFailed});
  }
  {
    Bytes b = mpo_of(plain, plain);
    patch_frame(b, second_image(b), 8, 65535, plain.height);
    c.push_back({"right_65535_wide", b, "", kAllFailed});
  }
  // A first image without Exif: everything but the Exif image.
  {
    const Bytes re = exif_segment(plain.width, plain.height);
    JpegRecipe r = plain;
    r.exif = &re;
    Bytes b = make_jpeg(plain);
    const Bytes rb = make_jpeg(r);
    b.insert(b.end(), rb.begin(), rb.end());
    c.push_back({"first_image_without_exif", b, "", {kExifFailed}});
  }
  return c;
}

TEST(DamagedMpos, EachConvertsOrReportsAndNothingIsLostOrLeftHalfWritten) {
  Scene scene;
  const std::vector<Case> all = cases();
  for (const Case& k : all) write_bytes(scene.tree() / (k.name + ".mpo"), k.bytes);
  const auto before = mpos_below(scene.tree());
  ASSERT_EQ(before.size(), all.size());

  CliRun run;
  run.scene = &scene;
  run.args = {"--all", "--keep-going", "--jobs", "2", scene.tree().string()};
  const CliResult r = run_cli(run);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("Programmende: Die Bearbeitung der MPO-Dateien ist beendet"),
            std::string::npos);

  const auto outputs = check_tree(scene.tree(), before);
  const auto entries = r.by_entry();
  for (const Case& k : all) {
    SCOPED_TRACE(k.name);
    const fs::path mpo = scene.tree() / (k.name + ".mpo");
    ASSERT_EQ(entries.count(base_of(mpo)), 1u) << r.err;
    const std::vector<std::string> lines = headlines(entries.at(base_of(mpo)), base_of(mpo));
    const auto found = outputs.count(mpo) ? outputs.at(mpo) : std::set<std::string>{};
    if (!k.stop.empty()) {
      const std::vector<std::string> expected = {"Fehler: " + k.stop, mpo.string()};
      EXPECT_EQ(lines, expected);
      EXPECT_TRUE(found.empty()) << ::testing::PrintToString(found);
      continue;
    }
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), k.failures);
    EXPECT_EQ(lines.size(), k.failures.size());
    EXPECT_TRUE(found.count("_L.jpg") && found.count("_R.jpg"));
    const std::pair<const char*, const std::string*> composites[] = {
        {"_sbs.jpg", &kSbsFailed}, {"_sbsh.jpg", &kSbshFailed},
        {"_ouh.jpg", &kOuhFailed}, {"_EXIF.jpg", &kExifFailed}};
    for (const auto& [suffix, failure] : composites)
      EXPECT_EQ(found.count(suffix) == 1, k.failures.count(*failure) == 0) << suffix;
  }

  // The crafted halves: sizes as drawn, the real separator taken.
  const std::string wide = base_of(scene.tree() / "halves_16400_wide.mpo");
  EXPECT_EQ(jpeg_size(wide + "_sbsh.jpg"), (Size{16400, 8}));
  EXPECT_EQ(jpeg_size(wide + "_ouh.jpg"), (Size{16400, 8}));
  const std::string decoy = base_of(scene.tree() / "exif_without_its_start_of_image.mpo");
  const Bytes decoy_mpo = read_bytes(decoy + ".mpo");
  EXPECT_EQ(read_bytes(decoy + "_R.jpg"),
            Bytes(decoy_mpo.begin() + static_cast<long>(second_image(decoy_mpo)), decoy_mpo.end()));
  expect_empty(scene.tmp());
  expect_empty(scene.cwd());
}

}  // namespace
}  // namespace hostile
