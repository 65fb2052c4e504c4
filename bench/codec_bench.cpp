// JPEG load and save through the image service against plain libjpeg calls
// on the same 3648 x 2736 picture, and the cost of per-pixel access.
//
// The picture (gradients plus noise, quality 90) is also left as
// /tmp/codec_bench_q90.jpg and, decoded, as /tmp/codec_bench.ppm for timing
// the command-line tools on the same data.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "image/jpeg_codec.h"
#include "tools/mpogen/jpeg_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 3648;
constexpr int kHeight = 2736;
const char* const kJpegPath = "/tmp/codec_bench_q90.jpg";
const char* const kPpmPath = "/tmp/codec_bench.ppm";
const char* const kOutPath = "/tmp/codec_bench_out.jpg";

// Photo-like R, G, B samples, top row first: smooth gradients, a few soft
// shapes and fine noise, so that the entropy coder has realistic work.
Bytes make_picture() {
  Bytes rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  uint32_t noise = 12345;
  size_t i = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int n = static_cast<int>((noise >> 24) % 13) - 6;
      const int dx = x - kWidth / 3, dy = y - kHeight / 2;
      const int disc = (dx * dx + dy * dy < 600 * 600) ? 50 : 0;
      const int stripes = ((x / 97 + y / 61) % 2) * 20;
      const int r = 40 + x * 150 / kWidth + disc + n;
      const int g = 30 + y * 160 / kHeight + stripes + n;
      const int b = 200 - (x + y) * 120 / (kWidth + kHeight) + n / 2;
      rgb[i++] = static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
      rgb[i++] = static_cast<uint8_t>(g < 0 ? 0 : g > 255 ? 255 : g);
      rgb[i++] = static_cast<uint8_t>(b < 0 ? 0 : b > 255 ? 255 : b);
    }
  }
  return rgb;
}

Bytes encode_in_memory(const Bytes& rgb, int quality) {
  mpogen::JpegSettings settings;
  settings.width = kWidth;
  settings.height = kHeight;
  settings.quality = quality;
  settings.force_baseline = false;
  return mpogen::encode_jpeg(settings, rgb.data());
}

void decode_into(const Bytes& jpeg, Bytes& out) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&cinfo);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &out[static_cast<size_t>(cinfo.output_scanline) * kWidth * 3];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
}

Bytes decode_in_memory(const Bytes& jpeg) {
  Bytes out(static_cast<size_t>(kWidth) * kHeight * 3);
  decode_into(jpeg, out);
  return out;
}

struct Fixture {
  Bytes rgb = make_picture();
  Bytes jpeg = encode_in_memory(rgb, 90);
  // The decoded picture: what save_image gets to encode after a load.
  Bytes decoded = decode_in_memory(jpeg);
  Fixture() {
    if (FILE* f = std::fopen(kJpegPath, "wb")) {
      std::fwrite(jpeg.data(), 1, jpeg.size(), f);
      std::fclose(f);
    }
    if (FILE* f = std::fopen(kPpmPath, "wb")) {
      std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
      std::fwrite(decoded.data(), 1, decoded.size(), f);
      std::fclose(f);
    }
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

// Plain libjpeg: decode from memory into top-down R, G, B rows.
void BM_LibjpegDecode(benchmark::State& state) {
  const Bytes& jpeg = fixture().jpeg;
  Bytes out(static_cast<size_t>(kWidth) * kHeight * 3);
  for (auto _ : state) {
    decode_into(jpeg, out);
    benchmark::DoNotOptimize(out.data());
  }
}

// The decoder adapter alone: probe, decode into a bottom-up buffer, release.
void BM_JpegDecoderAdapter(benchmark::State& state) {
  const Bytes& jpeg = fixture().jpeg;
  const int64_t pitch = mpo::pitch_for_width(kWidth);
  Bytes out(static_cast<size_t>(pitch) * kHeight);
  const mpo::DecoderDescriptor& decoder = mpo::jpeg_decoder();
  mpo::DecoderContext context;
  for (auto _ : state) {
    context = mpo::DecoderContext{};
    context.data = jpeg.data();
    context.data_size = static_cast<int32_t>(jpeg.size());
    if (!decoder.probe(context)) state.SkipWithError("probe refused");
    decoder.decode(context, out.data(), static_cast<int32_t>(pitch), mpo::kBottomUp);
    decoder.release(context);
    benchmark::DoNotOptimize(out.data());
  }
}

// load_image from the file: read, buffer creation, decode.
void BM_LoadImage(benchmark::State& state) {
  fixture();
  mpo::ImageService images;
  mpo::register_jpeg_decoder(images);
  const mpo::Text name = mpo::T(kJpegPath);
  for (auto _ : state) {
    if (!images.load_image(3, name)) state.SkipWithError("load failed");
  }
}

// Plain libjpeg: the decoded picture's R, G, B rows to a file at quality 70,
// read from memory top row first (arg 0) or, as in the image buffer, bottom
// row first (arg 1): the second shows what the storage order alone costs.
void BM_LibjpegEncode(benchmark::State& state) {
  const Bytes& rgb = fixture().decoded;
  const bool bottom_up = state.range(0) != 0;
  for (auto _ : state) {
    FILE* file = std::fopen(kOutPath, "wb");
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 70, FALSE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      const JDIMENSION memory_row = bottom_up ? kHeight - 1 - cinfo.next_scanline : cinfo.next_scanline;
      JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<size_t>(memory_row) * kWidth * 3]);
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
  }
}

// save_image of the decoded picture (bottom-up B, G, R) at level 7.
void BM_SaveImage(benchmark::State& state) {
  fixture();
  mpo::ImageService images;
  mpo::register_jpeg_decoder(images);
  mpo::register_jpeg_encoder(images);
  if (!images.load_image(3, mpo::T(kJpegPath))) state.SkipWithError("load failed");
  const mpo::Text name = mpo::T(kOutPath);
  for (auto _ : state) {
    if (!images.save_image(3, name, mpo::kJpegEncoderId)) state.SkipWithError("save failed");
  }
}

struct Drawn {
  mpo::ImageService images;
  Drawn() {
    mpo::register_jpeg_decoder(images);
    images.load_image(3, mpo::T(kJpegPath));
  }
};

void BM_ReadPixel(benchmark::State& state) {
  fixture();
  Drawn d;
  d.images.begin_drawing(3);
  for (auto _ : state) {
    int64_t sum = 0;
    for (int64_t y = 0; y < kHeight; ++y)
      for (int64_t x = 0; x < kWidth; ++x) sum += d.images.read_pixel(x, y);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_WritePixel(benchmark::State& state) {
  fixture();
  Drawn d;
  d.images.begin_drawing(3);
  for (auto _ : state) {
    for (int64_t y = 0; y < kHeight; ++y)
      for (int64_t x = 0; x < kWidth; ++x) d.images.write_pixel(x, y, x ^ (y << 8));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

// The same read loop through PixelView rows.
void BM_PixelViewRead(benchmark::State& state) {
  fixture();
  Drawn d;
  const mpo::PixelView view = d.images.view(3);
  for (auto _ : state) {
    int64_t sum = 0;
    for (int64_t y = 0; y < view.height; ++y) {
      const uint8_t* p = view.row(y);
      for (int64_t x = 0; x < view.width; ++x, p += 3) sum += p[2] | p[1] << 8 | p[0] << 16;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_PixelViewWrite(benchmark::State& state) {
  fixture();
  Drawn d;
  const mpo::PixelView view = d.images.view(3);
  for (auto _ : state) {
    for (int64_t y = 0; y < view.height; ++y) {
      uint8_t* p = view.row(y);
      for (int64_t x = 0; x < view.width; ++x, p += 3) {
        const int64_t c = x ^ (y << 8);
        p[2] = static_cast<uint8_t>(c);
        p[1] = static_cast<uint8_t>(c >> 8);
        p[0] = static_cast<uint8_t>(c >> 16);
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK(BM_LibjpegDecode)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_JpegDecoderAdapter)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_LoadImage)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_LibjpegEncode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_SaveImage)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_ReadPixel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePixel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixelViewRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixelViewWrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
