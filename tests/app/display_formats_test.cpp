// The command line's display formats: the over-under picture against
// libjpeg's own tools, every anaglyph type against its formula, the
// interleaved frames' parity and size.
#include "render/display_formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/batch.h"
#include "cli/arguments.h"
#include "image/jpeg_codec.h"
#include "test_support.h"
#include "tests/support/jpeg_checks.h"
#include "tests/support/jpeg_reference.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using test::Bytes;
using test::read_bytes;

class DisplayFormats : public ::testing::Test {
 protected:
  DisplayFormats() {
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
  }
  // Converts the MPO as `name`.mpo; the base path.
  std::string convert(const std::string& name, const Bytes& mpo, const ExtraOutputs& extra) {
    const std::string base = tmp.path(name);
    EXPECT_TRUE(test::write_bytes(base + ".mpo", mpo));
    EntryProcessor processor(files, images, ui, extra);
    OptionFlags flags;
    const EntryResult r = processor.process(Entry{T(base + ".mpo"), T(name), Text()}, flags);
    EXPECT_FALSE(r.output_failed);
    EXPECT_TRUE(ui.of_kind("message").empty());
    return base;
  }
  test::TempDir tmp;
  FileService files;
  ImageService images;
  test::ScriptedUi ui;
};

// From the first quantisation table on: what follows the header segment.
Bytes from_tables(const Bytes& jpeg) {
  const size_t at = test::find_marker(jpeg, 0xDB);
  return at == 0 ? Bytes() : Bytes(jpeg.begin() + long(at), jpeg.end());
}

// _ou.jpg is the encoding that cjpeg makes of the left half's decoded rows
// above the right half's, and every display format carries the MPO's Exif
// segment right after the start of the image.
TEST_F(DisplayFormats, OverUnderIsCjpegOfTheHalvesAndEveryFormatCarriesExif) {
  if (!test::have_program("cjpeg")) GTEST_SKIP() << "cjpeg missing";
  mpogen::Options o;
  o.width = 97, o.height = 63;
  const mpogen::Mpo mpo = mpogen::make_mpo(o);
  ExtraOutputs extra;
  extra.over_under = true, extra.quality = 83;
  extra.anaglyph_types = 0x7E, extra.interleaved = 7, extra.screen_width = 320;
  extra.screen_height = 200;
  const std::string base = convert("20130412_ou", mpo.bytes, extra);

  const Bytes left(mpo.bytes.begin(), mpo.bytes.begin() + long(mpo.separator));
  const Bytes right(mpo.bytes.begin() + long(mpo.separator), mpo.bytes.end());
  std::string ppm = "P6\n97 126\n255\n";
  for (const Bytes* half : {&left, &right}) {
    const Bytes rgb = test::decode(*half).samples;
    ppm.append(rgb.begin(), rgb.end());
  }
  ASSERT_TRUE(test::write_string(tmp.path("ou.ppm"), ppm));
  ASSERT_EQ(test::run_process({"cjpeg", "-quality", "83", "-outfile", tmp.path("ou_ref.jpg"),
                               tmp.path("ou.ppm")}).status, 0);
  const Bytes ou = read_bytes(base + "_ou.jpg");
  ASSERT_FALSE(from_tables(ou).empty());
  EXPECT_EQ(from_tables(ou), from_tables(read_bytes(tmp.path("ou_ref.jpg"))));

  const Bytes segment = mpogen::exif_info(o, 0).segment;
  for (const std::string s : {"_ou.jpg", "_ana-gray.jpg", "_ana-half-color.jpg", "_ana-color.jpg",
                               "_ana-optimized.jpg", "_ana-green-magenta.jpg",
                               "_ana-amber-blue.jpg", "_rows.jpg", "_cols.jpg", "_checker.jpg"}) {
    const Bytes out = read_bytes(base + s);
    ASSERT_GT(out.size(), segment.size() + 6) << s;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0xFF, 0xD8, 0xFF, 0xE1})) << s;
    EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 4 + long(segment.size())), segment) << s;
    EXPECT_TRUE(test::decodes_completely(base + s)) << s;
  }
}

// The matrices as published, in decimals (rows output R, G, B; columns
// input R, G, B).
struct Formula {
  AnaglyphType type;
  double left[3][3], right[3][3];
};
const double kY[3] = {0.299, 0.587, 0.114};
const Formula kFormulas[] = {
    {AnaglyphType::dubois,
     {{0.437, 0.449, 0.164}, {-0.062, -0.062, -0.024}, {-0.048, -0.050, -0.017}},
     {{-0.011, -0.032, -0.007}, {0.377, 0.761, 0.009}, {-0.026, -0.093, 1.234}}},
    {AnaglyphType::gray, {{kY[0], kY[1], kY[2]}, {}, {}}, {{}, {kY[0], kY[1], kY[2]}, {kY[0], kY[1], kY[2]}}},
    {AnaglyphType::half_color, {{kY[0], kY[1], kY[2]}, {}, {}}, {{}, {0, 1, 0}, {0, 0, 1}}},
    {AnaglyphType::color, {{1, 0, 0}, {}, {}}, {{}, {0, 1, 0}, {0, 0, 1}}},
    {AnaglyphType::optimized, {{0, 0.7, 0.3}, {}, {}}, {{}, {0, 1, 0}, {0, 0, 1}}},
    {AnaglyphType::green_magenta,
     {{-0.062, -0.158, -0.039}, {0.284, 0.668, 0.143}, {-0.015, -0.027, 0.021}},
     {{0.529, 0.705, 0.024}, {-0.016, -0.015, -0.065}, {0.009, 0.075, 0.937}}},
    {AnaglyphType::amber_blue,
     {{1.062, -0.205, 0.299}, {-0.026, 0.908, 0.068}, {-0.038, -0.173, 0.022}},
     {{-0.016, -0.123, -0.017}, {0.006, 0.062, -0.017}, {0.094, 0.185, 0.911}}},
};

class AnaglyphTypes : public ::testing::TestWithParam<Formula> {};

// Every pair of pixels whose channels are 0 or 255 (where the sums reach
// past both clamps) and random pairs, in rows long enough for the vector
// code and its tail.
TEST_P(AnaglyphTypes, EveryPixelAsTheFormulaSays) {
  const Formula& f = GetParam();
  std::vector<uint8_t> left, right;  // B, G, R
  for (int bits = 0; bits < 64; ++bits) {
    for (int c = 0; c < 3; ++c) {
      left.push_back(bits >> c & 1 ? 255 : 0);
      right.push_back(bits >> (3 + c) & 1 ? 255 : 0);
    }
  }
  std::mt19937 rng(11);
  while (left.size() < 3 * 203) left.push_back(rng() & 255), right.push_back(rng() & 255);
  const int64_t W = int64_t(left.size() / 3);
  std::vector<uint8_t> sbs(left);
  sbs.insert(sbs.end(), right.begin(), right.end());
  std::vector<uint8_t> out(left.size());
  anaglyph_row(PixelView{sbs.data(), 2 * W, 1, 6 * W}, 0, f.type, out.data());
  for (int64_t k = 0; k < W; ++k) {
    for (int c = 0; c < 3; ++c) {
      double v = 0;
      for (int i = 0; i < 3; ++i)
        v += f.left[c][i] * left[3 * k + 2 - i] + f.right[c][i] * right[3 * k + 2 - i];
      // Rounded half up; the margin keeps sums of exact halves off the edge.
      const double want = std::clamp(std::floor(v + 0.5 + 1e-9), 0.0, 255.0);
      ASSERT_EQ(out[3 * k + 2 - c], want) << "pixel " << k << " channel " << c;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(, AnaglyphTypes, ::testing::ValuesIn(kFormulas),
                         [](const auto& info) { return std::to_string(int(info.param.type)); });

struct InterleaveCase {
  int W, H, screen_w, screen_h;
};

class Interleaved : public DisplayFormats, public ::testing::WithParamInterface<InterleaveCase> {};

// Halves of two colours: the fitted region shows the left one on even rows
// (columns, cells) and the right one on odd ones, swapped by --odd-left,
// black around it; the files have exactly the screen's size.
TEST_P(Interleaved, ParityAndScreenSize) {
  const InterleaveCase c = GetParam();
  const int64_t W = c.W, H = c.H;
  std::vector<uint8_t> sbs(size_t(6 * W * H));
  for (size_t i = 0; i < sbs.size(); i += 3) {
    const bool right = (i / 3) % size_t(2 * W) >= size_t(W);
    sbs[i] = right ? 10 : 200, sbs[i + 1] = right ? 20 : 150, sbs[i + 2] = right ? 250 : 5;
  }
  const PixelView pair{sbs.data(), 2 * W, H, 6 * W};
  const int64_t SW = c.screen_w, SH = c.screen_h;
  std::vector<uint8_t> l(size_t(3 * SW * SH)), r(l.size()), row(size_t(3 * SW));
  const PixelView left{l.data(), SW, SH, 3 * SW}, right{r.data(), SW, SH, 3 * SW};
  ASSERT_TRUE(draw_fitted_half(pair, 0, left) && draw_fitted_half(pair, 1, right));
  const TvLayout t = fit_layout(W, H, SW, SH);
  for (const bool odd_left : {false, true}) {
    for (int k = 0; k < 3; ++k) {
      SCOPED_TRACE(testing::Message() << "kind " << k << " odd_left " << odd_left);
      for (int64_t y = 0; y < SH; ++y) {
        interleave_row(left, right, Interleave(k), odd_left, y, row.data());
        for (int64_t x = 0; x < SW; ++x) {
          const int64_t line = k == 0 ? y : k == 1 ? x : x + y;
          const bool inside = x >= t.x0 && x < t.x0 + t.w && y >= t.y0 && y < t.y0 + t.h;
          const bool from_left = (line % 2 == 0) != odd_left;
          const uint8_t want = !inside ? 0 : from_left ? 200 : 10;
          ASSERT_EQ(row[3 * x], want) << x << "," << y;
        }
      }
    }
  }

  mpogen::Options o;
  o.width = c.W, o.height = c.H;
  ExtraOutputs extra;
  extra.interleaved = 7, extra.screen_width = c.screen_w, extra.screen_height = c.screen_h;
  const std::string base = convert("i", mpogen::make_mpo(o).bytes, extra);
  for (const std::string s : {"_rows.jpg", "_cols.jpg", "_checker.jpg"}) {
    EXPECT_EQ(test::jpeg_size(base + s), (test::Size{c.screen_w, c.screen_h})) << s;
    // Colour at full resolution: every component sampled 1 x 1.
    const Bytes jpeg = read_bytes(base + s);
    const size_t sof = test::find_marker(jpeg, 0xC0);
    ASSERT_TRUE(sof != 0 && jpeg.size() > sof + 19) << s;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(jpeg[sof + 11 + 3 * k], 0x11) << s << " component " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(, Interleaved,
                         ::testing::Values(InterleaveCase{300, 1200, 1920, 1080},   // portrait
                                           InterleaveCase{4000, 500, 1920, 1080},   // panorama
                                           InterleaveCase{1, 1, 1920, 1080},        // tiny
                                           InterleaveCase{1, 400, 640, 480},        // a column
                                           InterleaveCase{7, 3, 5, 3}));            // odd screen

// A type after --anaglyph is taken only when it names one (else it is a
// path); unknown types, kinds and screen sizes are usage errors.
TEST(DisplayOptions, ParseAndRefuse) {
  using Kind = ParsedArguments::Kind;
  ParsedArguments p = parse_arguments({"--anaglyph", "gray.mpo"});
  EXPECT_TRUE(p.options.extras.anaglyph);
  EXPECT_EQ(p.options.extras.anaglyph_types, 0u);
  EXPECT_EQ(p.options.paths, std::vector<std::string>{"gray.mpo"});
  p = parse_arguments({"--anaglyph", "gray", "--anaglyph=amber-blue", "--interleave", "rows",
                       "--interleave=checker", "--screen", "800x600", "--odd-left", "--ou", "x"});
  ASSERT_EQ(p.kind, Kind::run);
  const ExtraOutputs& e = p.options.extras;
  EXPECT_FALSE(e.anaglyph);
  EXPECT_EQ(e.anaglyph_types, (1u << int(AnaglyphType::gray)) | (1u << int(AnaglyphType::amber_blue)));
  EXPECT_EQ(e.interleaved, 5u);
  EXPECT_EQ(std::pair(e.screen_width, e.screen_height), std::pair(800, 600));
  EXPECT_TRUE(e.odd_left && e.over_under);
  EXPECT_EQ(p.options.paths, std::vector<std::string>{"x"});
  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"--anaglyph=purple", "x"}, {"--interleave", "diagonal", "x"}, {"--interleave"},
           {"--screen", "0x600", "x"}, {"--screen", "1920", "x"}, {"--screen", "1920x", "x"}}) {
    EXPECT_EQ(parse_arguments(bad).kind, Kind::usage_error) << testing::PrintToString(bad);
  }
}

}  // namespace
}  // namespace mpo
