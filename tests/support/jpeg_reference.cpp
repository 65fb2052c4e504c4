#include "tests/support/jpeg_reference.h"

#include "tools/mpogen/jpeg_stream.h"

namespace mpo::test {

Bytes pattern(int width, int height, int components, uint32_t seed) {
  Bytes samples;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) {
        seed = seed * 1103515245u + 12345u;
        const int base = c % 2 == 0 ? x * 255 / (width > 1 ? width - 1 : 1)
                                    : y * 255 / (height > 1 ? height - 1 : 1);
        samples.push_back(static_cast<uint8_t>(base + 60 * c + (seed >> 16) % 24));
      }
  return samples;
}

Bytes encode(const Bytes& samples, int width, int height, int components, J_COLOR_SPACE in_space,
             J_COLOR_SPACE jpeg_space, int quality) {
  mpogen::JpegSettings settings;
  settings.width = width;
  settings.height = height;
  settings.components = components;
  settings.in_space = in_space;
  settings.jpeg_space = jpeg_space;
  settings.quality = quality;
  settings.force_baseline = false;
  return mpogen::encode_jpeg(settings, samples.data());
}

Decoded decode(const Bytes& jpeg, J_COLOR_SPACE out_space) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  Decoded result;
  result.stream_space = cinfo.jpeg_color_space;
  cinfo.out_color_space = out_space;
  jpeg_start_decompress(&cinfo);
  const size_t row_size = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
  result.samples.resize(row_size * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = result.samples.data() + cinfo.output_scanline * row_size;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return result;
}

size_t find_marker(const Bytes& jpeg, uint8_t code) {
  for (size_t i = 2; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
  return 0;
}

}  // namespace mpo::test
