// The wiggle pictures and the VR photo: read back by the formats' own
// readers (libwebp's animation decoder, giflib, exiftool), the options that
// ask for them, and the memory they are counted with.
#include <gtest/gtest.h>

#include <webp/demux.h>

extern "C" {
#include <gif_lib.h>
}

#include <array>
#include <cmath>
#include <cstring>

#include "app/batch.h"
#include "app/entry_budget.h"
#include "cli/arguments.h"
#include "image/jpeg_codec.h"
#include "mpo/xmp_vr.h"
#include "test_support.h"
#include "tests/support/crafting.h"
#include "tools/mpogen/mpogen.h"

namespace mpo {
namespace {

using test::Bytes;
using test::read_bytes;
using Rgb = std::array<double, 3>;

// A half of w x h in one colour with a faint ramp, its Exif segment first.
Bytes tinted_half(int w, int h, Rgb colour) {
  std::vector<uint8_t> samples(static_cast<size_t>(3 * w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        samples[3 * (size_t(y) * w + x) + c] = static_cast<uint8_t>(colour[c] + (x + y) % 16);
  const Bytes segment = test::exif_segment(w, h);
  const Bytes payload(segment.begin() + 2, segment.end());
  mpogen::JpegSettings s;
  s.width = w, s.height = h, s.quality = 90, s.jfif = 0;
  s.markers = {{JPEG_APP0 + 1, &payload}};
  return mpogen::encode_jpeg(s, samples.data());
}

Rgb mean_of(const uint8_t* rgb, size_t pixels, size_t step) {
  Rgb sum{};
  for (size_t i = 0; i < pixels; ++i)
    for (int c = 0; c < 3; ++c) sum[c] += rgb[step * i + c];
  for (double& s : sum) s /= double(pixels);
  return sum;
}

// The mean of a tinted half: its colour plus the ramp's mean of 7.5.
Rgb ramped(const Rgb& colour) { return {colour[0] + 7.5, colour[1] + 7.5, colour[2] + 7.5}; }

double distance(const Rgb& a, const Rgb& b) {
  return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

class DisplayTargets : public ::testing::Test {
 protected:
  DisplayTargets() {
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
  }
  std::string convert(const std::string& name, const Bytes& mpo, const ExtraOutputs& extra) {
    const std::string base = tmp.path(name);
    EXPECT_TRUE(test::write_bytes(base + ".mpo", mpo));
    OptionFlags flags;
    EntryProcessor processor(files, images, ui, extra);
    result = processor.process(Entry{T(base + ".mpo"), T(name), Text()}, flags);
    return base;
  }
  test::TempDir tmp;
  FileService files;
  ImageService images;
  test::ScriptedUi ui;
  EntryResult result;
};

const Rgb kLeft{200, 60, 40}, kRight{30, 90, 190};

// Both files: two frames, left then right (by their mean colours), 150 ms
// each, looping forever, the longer side brought down to 1200 pixels; the
// WebP file carries the MPO's Exif data.
TEST_F(DisplayTargets, WiggleFramesTimingAndLoop) {
  Bytes mpo = tinted_half(1500, 600, kLeft);
  const Bytes right = tinted_half(1500, 600, kRight);
  mpo.insert(mpo.end(), right.begin(), right.end());
  ExtraOutputs extra;
  extra.wiggle = true;
  extra.detailed_failures = true;
  const std::string base = convert("w", mpo, extra);
  ASSERT_FALSE(result.output_failed);
  const Rgb expected[2] = {ramped(kLeft), ramped(kRight)};

  const Bytes webp = read_bytes(base + "_wiggle.webp");
  const WebPData data{webp.data(), webp.size()};
  WebPAnimDecoderOptions options;
  ASSERT_TRUE(WebPAnimDecoderOptionsInit(&options));
  options.color_mode = MODE_RGBA;
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
  ASSERT_NE(decoder, nullptr);
  WebPAnimInfo info;
  ASSERT_TRUE(WebPAnimDecoderGetInfo(decoder, &info));
  EXPECT_EQ(info.canvas_width, 1200u);
  EXPECT_EQ(info.canvas_height, 480u);
  EXPECT_EQ(info.frame_count, 2u);
  EXPECT_EQ(info.loop_count, 0u);
  for (int f = 0; f < 2 && WebPAnimDecoderHasMoreFrames(decoder); ++f) {
    uint8_t* rgba = nullptr;
    int timestamp = 0;
    ASSERT_TRUE(WebPAnimDecoderGetNext(decoder, &rgba, &timestamp));
    EXPECT_EQ(timestamp, 150 * (f + 1));
    EXPECT_LT(distance(mean_of(rgba, 1200 * 480, 4), expected[f]), 4) << f;
  }
  WebPChunkIterator exif;
  ASSERT_TRUE(WebPDemuxGetChunk(WebPAnimDecoderGetDemuxer(decoder), "EXIF", 1, &exif));
  const Bytes segment = test::exif_segment(1500, 600);
  EXPECT_EQ(Bytes(exif.chunk.bytes, exif.chunk.bytes + exif.chunk.size),
            Bytes(segment.begin() + 8, segment.end()));
  WebPDemuxReleaseChunkIterator(&exif);
  WebPAnimDecoderDelete(decoder);

  int error = 0;
  GifFileType* gif = DGifOpenFileName((base + "_wiggle.gif").c_str(), &error);
  ASSERT_NE(gif, nullptr);
  ASSERT_EQ(DGifSlurp(gif), GIF_OK);
  EXPECT_EQ(gif->SWidth, 1200);
  EXPECT_EQ(gif->SHeight, 480);
  ASSERT_EQ(gif->ImageCount, 2);
  const ColorMapObject* map = gif->SColorMap;
  ASSERT_NE(map, nullptr);
  for (int f = 0; f < 2; ++f) {
    const SavedImage& frame = gif->SavedImages[f];
    GraphicsControlBlock control;
    ASSERT_EQ(DGifSavedExtensionToGCB(gif, f, &control), GIF_OK);
    EXPECT_EQ(control.DelayTime, 15);
    EXPECT_EQ(frame.ImageDesc.ColorMap, nullptr);  // the one palette of both
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 1200 * 480; ++i) {
      const GifColorType c = map->Colors[frame.RasterBits[i]];
      rgb.insert(rgb.end(), {c.Red, c.Green, c.Blue});
    }
    EXPECT_LT(distance(mean_of(rgb.data(), 1200 * 480, 3), expected[f]), 3)
        << f;
  }
  // Loop forever: NETSCAPE2.0, sub-block 1 with a count of 0.
  const SavedImage& first = gif->SavedImages[0];
  bool loops = false;
  for (int i = 0; i + 1 < first.ExtensionBlockCount; ++i) {
    const ExtensionBlock& b = first.ExtensionBlocks[i];
    const ExtensionBlock& next = first.ExtensionBlocks[i + 1];
    loops = loops || (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 &&
                      std::memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0 && next.ByteCount == 3 &&
                      next.Bytes[0] == 1 && next.Bytes[1] == 0 && next.Bytes[2] == 0);
  }
  EXPECT_TRUE(loops);
  DGifCloseFile(gif, &error);
}

// exiftool reads the panorama fields and gives back the right half as the
// MPO holds it; the left half's own MP index is not carried over.
TEST_F(DisplayTargets, VrPhotoReadByExiftool) {
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool missing";
  mpogen::Options o;
  o.width = 640, o.height = 480;
  const mpogen::Mpo mpo = mpogen::make_mpo(o);
  ExtraOutputs extra;
  extra.vr = true;
  extra.fov = 90;
  const std::string base = convert("vr", mpo.bytes, extra);
  ASSERT_FALSE(result.output_failed);
  const auto fields =
      test::run_process({"exiftool", "-s", "-s", "-n", "-XMP-GPano:all", base + "_vr.jpg"});
  EXPECT_EQ(fields.out,
            "ProjectionType: equirectangular\n"
            "CroppedAreaLeftPixels: 960\n"
            "CroppedAreaTopPixels: 400\n"
            "CroppedAreaImageWidthPixels: 640\n"
            "CroppedAreaImageHeightPixels: 480\n"
            "FullPanoWidthPixels: 2560\n"
            "FullPanoHeightPixels: 1280\n");
  const auto image =
      test::run_process({"exiftool", "-b", "-XMP-GImage:ImageData", base + "_vr.jpg"});
  const Bytes right = read_bytes(base + "_R.jpg");
  EXPECT_EQ(image.out.size(), right.size());
  EXPECT_TRUE(image.out == std::string(right.begin(), right.end()));
  const Bytes vr = read_bytes(base + "_vr.jpg");
  const Bytes left = read_bytes(base + "_L.jpg");
  // The left half's scan is the VR photo's, unchanged.
  size_t sos = test::frame_header(left);
  while (!(left[sos] == 0xFF && left[sos + 1] == 0xDA)) ++sos;
  EXPECT_TRUE(std::equal(left.begin() + long(sos), left.end(), vr.end() - long(left.size() - sos)));
  const std::string header(vr.begin(), vr.end() - long(left.size() - sos));
  EXPECT_EQ(header.find(std::string("MPF\0", 4)), std::string::npos);
}

// A picture too tall for the panorama's height widens the panorama.
TEST(PanoramaCrop, TallPictureWidensThePanorama) {
  const PanoramaCrop c = panorama_crop(1000, 3000, 60);
  EXPECT_EQ(c.full_width, 6000);
  EXPECT_EQ(c.full_height, 3000);
  EXPECT_EQ(c.top, 0);
  EXPECT_EQ(c.left, 2500);
}

TEST(DisplayTargetOptions, FovRangeAndFlags) {
  const ParsedArguments ok = parse_arguments({"--wiggle", "--vr", "--fov=75", "x.mpo"});
  ASSERT_EQ(ok.kind, ParsedArguments::Kind::run);
  EXPECT_TRUE(ok.options.extras.wiggle && ok.options.extras.vr);
  EXPECT_EQ(ok.options.extras.fov, 75);
  EXPECT_EQ(parse_arguments({"x.mpo"}).options.extras.fov, kDefaultFieldOfView);
  for (const char* bad : {"0", "361", "6x", ""}) {
    EXPECT_EQ(parse_arguments({"--fov", bad, "x.mpo"}).kind, ParsedArguments::Kind::usage_error)
        << bad;
  }
  EXPECT_EQ(parse_arguments({"x.mpo", "--fov"}).kind, ParsedArguments::Kind::usage_error);
}

// An entry that fits without the new outputs but not with them is stopped
// before anything is allocated.
TEST(DisplayTargetBudget, NewOutputsCountInTheEntrysAdmission) {
  const Bytes mpo = test::mpo_of(test::JpegRecipe{}, test::JpegRecipe{});
  const size_t separator = test::second_image(mpo);
  const auto left = read_frame_header(mpo.data(), int64_t(separator));
  const auto right = read_frame_header(mpo.data() + separator, int64_t(mpo.size() - separator));
  const int64_t plain = entry_memory(int64_t(mpo.size()), left, right, OptionFlags{});
  for (int which = 0; which < 2; ++which) {
    ExtraOutputs extra;
    (which == 0 ? extra.wiggle : extra.vr) = true;
    EXPECT_GT(entry_memory(int64_t(mpo.size()), left, right, OptionFlags{}, extra), plain);
    const EntryBudget budget{plain, OptionFlags{}, extra};
    EXPECT_FALSE(budget.admits_entry(mpo.data(), int64_t(mpo.size()), int64_t(separator)))
        << which;
  }
}

}  // namespace
}  // namespace mpo
