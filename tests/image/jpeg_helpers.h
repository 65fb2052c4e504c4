// Test helpers: JPEG streams made and decoded with libjpeg directly, as an
// independent reference for the adapters, and a scratch directory.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "tools/mpogen/jpeg_stream.h"

namespace testjpeg {

using Bytes = std::vector<uint8_t>;

// A fresh directory under /tmp, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = "/tmp/image_tests_XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline bool write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

inline Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Samples (top row first): gradients in x and y plus noise, every channel
// different.
inline Bytes pattern(int width, int height, int components, uint32_t seed = 7) {
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

// A JPEG of `samples` with libjpeg's defaults for `in_space`, stored as
// `jpeg_space` unless that is JCS_UNKNOWN.
inline Bytes encode(const Bytes& samples, int width, int height, int components,
                    J_COLOR_SPACE in_space = JCS_RGB, J_COLOR_SPACE jpeg_space = JCS_UNKNOWN,
                    int quality = 90) {
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

struct Decoded {
  J_COLOR_SPACE stream_space = JCS_UNKNOWN;
  Bytes samples;  // top row first
};

// libjpeg's own decode into `out_space`.
inline Decoded decode(const Bytes& jpeg, J_COLOR_SPACE out_space = JCS_RGB) {
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

// Offset of the first marker FF `code`; 0 when absent.
inline size_t find_marker(const Bytes& jpeg, uint8_t code) {
  for (size_t i = 2; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
  return 0;
}

}  // namespace testjpeg
