// Arbitrary bytes as a JPEG: the decoder's probe and decode called directly,
// then the image service's load from a file and a save of what it decoded.
#include <vector>

#include "fuzz_support.h"
#include "image/image_service.h"
#include "image/jpeg_codec.h"

namespace {

// Probe and decode through the descriptor, into a buffer with a guard area
// behind the last row that must stay untouched.
void decode_directly(const uint8_t* data, size_t size, int32_t flags) {
  const mpo::DecoderDescriptor& decoder = mpo::jpeg_decoder();
  mpo::DecoderContext context;
  context.data = data;
  context.data_size = static_cast<int32_t>(size);
  context.in_memory = 1;
  if (decoder.probe(context) == 0) {
    decoder.release(context);
    return;
  }
  FUZZ_CHECK(context.width >= 1 && context.height >= 1 && context.depth == 24);
  FUZZ_CHECK(context.source_depth == 8 || context.source_depth == 24 ||
             context.source_depth == 32);
  const int64_t pitch = mpo::pitch_for_width(context.width);
  constexpr size_t kGuard = 64;
  std::vector<uint8_t> buffer(static_cast<size_t>(pitch) * context.height + kGuard, 0xA5);
  decoder.decode(context, buffer.data(), static_cast<int32_t>(pitch), flags);
  for (size_t i = buffer.size() - kGuard; i < buffer.size(); ++i) FUZZ_CHECK(buffer[i] == 0xA5);
  decoder.release(context);
  // A second release, as the image service may do, is harmless.
  decoder.release(context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz::small_enough(data, size)) return 0;
  decode_directly(data, size, size % 2 == 0 ? mpo::kBottomUp : 0);

  const std::string dir = fuzz::scratch();
  const std::string in = dir + "/in.jpg";
  const std::string out = dir + "/out.jpg";
  if (!fuzz::write_file(in, data, size)) return 0;
  mpo::ImageService images;
  mpo::register_jpeg_decoder(images);
  mpo::register_jpeg_encoder(images);
  if (images.load_image(3, mpo::from_utf8(in)) == 0) {
    FUZZ_CHECK(images.get_image_width(3) == 0 && images.begin_drawing(3) == 0);
    return 0;
  }
  const int64_t w = images.get_image_width(3);
  const int64_t h = images.get_image_height(3);
  FUZZ_CHECK(w >= 1 && h >= 1 && w <= mpo::kMaxImageSide && h <= mpo::kMaxImageSide);
  // The corners through the drawing context: the sanitizer sees any read
  // outside the pixel buffer the slot claims to have.
  FUZZ_CHECK(images.begin_drawing(3) != 0);
  FUZZ_CHECK(images.read_pixel(w - 1, h - 1) >= 0 && images.read_pixel(0, 0) >= 0);
  images.end_drawing();

  // What was decoded can be saved, and the saved file decodes to the same size.
  if (images.save_image(3, mpo::from_utf8(out), mpo::kJpegEncoderId) != 0) {
    FUZZ_CHECK(images.load_image(4, mpo::from_utf8(out)) != 0);
    FUZZ_CHECK(images.get_image_width(4) == w && images.get_image_height(4) == h);
  } else {
    FUZZ_CHECK(!fuzz::exists(out));
  }
  ::unlink(out.c_str());
  return 0;
}
