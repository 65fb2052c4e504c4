// Crafted JPEG streams that cost far more than their size: the decoder
// refuses them before libjpeg spends the memory or the time.
#include <gtest/gtest.h>

#include <chrono>

#include "hostile_support.h"
#include "image/jpeg_codec.h"

namespace hostile {
namespace {

// Probes the stream with the decoder's descriptor; on success decodes it
// too. 0 refused, 1 probed only (decode failed), 2 decoded.
int decode(const Bytes& jpeg) {
  const mpo::DecoderDescriptor& d = mpo::jpeg_decoder();
  mpo::DecoderContext context;
  context.data = jpeg.data();
  context.data_size = static_cast<int32_t>(jpeg.size());
  context.in_memory = 1;
  if (d.probe(context) == 0) {
    d.release(context);
    return 0;
  }
  const int64_t pitch = mpo::pitch_for_width(context.width);
  std::vector<uint8_t> pixels(static_cast<size_t>(pitch * context.height));
  const int decoded = d.decode(context, pixels.data(), static_cast<int32_t>(pitch), mpo::kBottomUp);
  d.release(context);
  return decoded != 0 ? 2 : 1;
}

// The first scan header of a progressive stream, repeated `copies` times
// without data before the end of image: every copy is a full pass.
Bytes with_repeated_scans(const Bytes& progressive, int copies) {
  size_t at = 2;
  while (at + 4 < progressive.size() && progressive[at + 1] != 0xDA)
    at += 2 + ((size_t(progressive[at + 2]) << 8) | progressive[at + 3]);
  const size_t length = 2 + ((size_t(progressive[at + 2]) << 8) | progressive[at + 3]);
  const Bytes header(progressive.begin() + static_cast<long>(at),
                     progressive.begin() + static_cast<long>(at + length));
  Bytes out(progressive.begin(), progressive.end() - 2);  // without the EOI
  for (int i = 0; i < copies; ++i) out.insert(out.end(), header.begin(), header.end());
  out.push_back(0xFF);
  out.push_back(0xD9);
  return out;
}

TEST(DecoderLimits, FrameAboveTheImageRecordIsRefusedBeforeDecoding) {
  JpegRecipe recipe;
  recipe.progressive = true;
  const Bytes sound = make_jpeg(recipe);
  EXPECT_EQ(decode(sound), 2);
  for (const auto& [w, h] : {std::pair{33000L, 8L}, {8L, 32768L}, {60000L, 60000L}}) {
    Bytes crafted = sound;
    patch_frame(crafted, 0, 8, w, h);
    EXPECT_EQ(decode(crafted), 0) << w << "x" << h;
  }
  Bytes largest = sound;
  patch_frame(largest, 0, 8, 32767, 8);
  EXPECT_NE(decode(largest), 0);  // at the limit: accepted (grey where data is missing)
}

TEST(DecoderLimits, EndlesslyRepeatedScansAreRefusedAndAFewAreDecoded) {
  JpegRecipe recipe;
  recipe.width = 1024, recipe.height = 1024, recipe.progressive = true, recipe.quality = 20;
  const Bytes sound = make_jpeg(recipe);
  EXPECT_EQ(decode(with_repeated_scans(sound, 50)), 2);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(decode(with_repeated_scans(sound, 20000)), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace hostile
