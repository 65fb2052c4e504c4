// Test helpers: JPEG streams made and decoded with libjpeg directly, as an
// independent reference for the adapters, and a scratch directory.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>

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
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
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

inline bool file_exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Samples of `components` per pixel, top row first, pattern varying in x and y
// with some pseudo-random noise so that every channel differs.
inline Bytes pattern(int width, int height, int components, uint32_t seed = 7) {
  Bytes samples(static_cast<size_t>(width) * height * components);
  uint32_t noise = seed;
  size_t i = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c) {
        noise = noise * 1103515245u + 12345u;
        const int base = (c % 2 == 0 ? x * 255 / (width > 1 ? width - 1 : 1)
                                     : y * 255 / (height > 1 ? height - 1 : 1));
        const int value = (base + 60 * c + static_cast<int>((noise >> 16) % 24)) % 256;
        samples[i++] = static_cast<uint8_t>(value);
      }
    }
  }
  return samples;
}

struct EncodeOptions {
  int quality = 90;
  J_COLOR_SPACE in_space = JCS_RGB;
  // JCS_UNKNOWN: libjpeg's default for in_space.
  J_COLOR_SPACE jpeg_space = JCS_UNKNOWN;
  bool force_jpeg_space = false;
  bool write_all_tables = true;
};

// A JPEG of `samples` (top row first), made with libjpeg's defaults.
inline Bytes encode(const Bytes& samples, int width, int height, int components,
                    const EncodeOptions& options = {}) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long out_size = 0;
  jpeg_mem_dest(&cinfo, &out, &out_size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = options.in_space;
  jpeg_set_defaults(&cinfo);
  if (options.force_jpeg_space) jpeg_set_colorspace(&cinfo, options.jpeg_space);
  jpeg_set_quality(&cinfo, options.quality, FALSE);
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_compress(&cinfo, options.write_all_tables ? TRUE : FALSE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples.data()) +
                   static_cast<size_t>(cinfo.next_scanline) * width * components;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes result(out, out + out_size);
  std::free(out);
  return result;
}

inline Bytes encode_rgb(const Bytes& rgb, int width, int height, int quality = 90) {
  EncodeOptions options;
  options.quality = quality;
  return encode(rgb, width, height, 3, options);
}

struct Decoded {
  int width = 0;
  int height = 0;
  int components = 0;
  J_COLOR_SPACE stream_space = JCS_UNKNOWN;
  Bytes samples;  // top row first
};

// libjpeg's own decode with the given output colour space, row by row.
inline Decoded decode(const Bytes& jpeg, J_COLOR_SPACE out_space) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  Decoded result;
  result.stream_space = cinfo.jpeg_color_space;
  cinfo.out_color_space = out_space;
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&cinfo);
  result.width = static_cast<int>(cinfo.output_width);
  result.height = static_cast<int>(cinfo.output_height);
  result.components = cinfo.output_components;
  const size_t row_size = static_cast<size_t>(result.width) * result.components;
  result.samples.resize(row_size * result.height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = result.samples.data() + cinfo.output_scanline * row_size;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return result;
}

// Offset of the first marker FF `code` at or after `from`; 0 when absent.
inline size_t find_marker(const Bytes& jpeg, uint8_t code, size_t from = 2) {
  for (size_t i = from; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
  return 0;
}

}  // namespace testjpeg
