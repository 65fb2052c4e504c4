// The pixel work of one entry (grid fill and the three composites, one step)
// beside the codec work it sits between (decode of both halves, encode of
// the three composites), on camera-sized halves of 3648 x 2736.
//
// Beside them the machine's own limit: streaming as many bytes as the pixel
// work reads and writes (both halves and both grids read, both grids and the
// three canvases written) with memcpy and memset.
//
// Prints the usual table, then the medians and the ratios pixel / codec and
// pixel / streaming.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/composites.h"
#include "render/grid_passes.h"
#include "app/front_end.h"
#include "render/viewing_formats.h"
#include "image/image_service.h"
#include "image/jpeg_codec.h"
#include "io/text.h"
#include "tools/mpogen/mpogen.h"

namespace {

namespace fs = std::filesystem;
using namespace mpo;

constexpr int kWidth = 3648;
constexpr int kHeight = 2736;
constexpr int kQuality = 92;  // about 3.3 MB per half, as the camera writes them

// Accepts every picture and writes nothing: with it, build_composites does
// its pixel work only.
int32_t encode_nothing(const Text&, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t,
                       int32_t) {
  return 1;
}

class SilentReporter : public Reporter {
 public:
  void show_message(const Text&, const Text&) override { std::abort(); }
};

// One generated MPO split into its halves on disk, decoded into slots 3 and
// 4 and the grids; the composites drawn into a second service whose encoder
// writes nothing. Every benchmark repeats one step of an entry in the state
// a batch is in from its second entry on (same picture size throughout).
struct Scene {
  fs::path dir;
  Text left, right, base;
  ImageService images;
  ImageService canvas;
  SilentReporter ui;
  Halves halves;
  const OptionFlags three{1, 1, 1, 0};

  Scene() {
    std::string pattern = (fs::temp_directory_path() / "mpo-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
    mpogen::Options o;
    o.width = kWidth, o.height = kHeight, o.quality = kQuality, o.seed = 1;
    const mpogen::Mpo mpo = mpogen::make_mpo(o);
    const auto cut = mpo.bytes.begin() + static_cast<std::ptrdiff_t>(mpo.separator);
    if (!mpogen::write_file((dir / "a_L.jpg").string(), mpogen::Bytes(mpo.bytes.begin(), cut)) ||
        !mpogen::write_file((dir / "a_R.jpg").string(), mpogen::Bytes(cut, mpo.bytes.end())))
      std::abort();
    left = from_utf8((dir / "a_L.jpg").string());
    right = from_utf8((dir / "a_R.jpg").string());
    base = from_utf8((dir / "a").string());
    register_jpeg_decoder(images);
    register_jpeg_encoder(images);
    canvas.register_encoder(EncoderDescriptor{kJpegEncoderId, encode_nothing, nullptr});
    decode_halves(images, left, right, halves);
    if (!halves.usable) std::abort();
    build_composites(canvas, ui, base, three, halves);
    // The real composites, for the encoder benchmark.
    build_composites(images, ui, base, three, halves);
  }
  ~Scene() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Scene& scene() {
  static Scene s;
  return s;
}

void DecodeBothHalves(benchmark::State& state) {
  Scene& s = scene();
  ImageService images;  // its own slots: the scene's stay as they are
  register_jpeg_decoder(images);
  for (auto _ : state) {
    if (!images.load_image(kLeftSlot, s.left) || !images.load_image(kRightSlot, s.right))
      state.SkipWithError("decode failed");
  }
}

void EncodeThreeComposites(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state) {
    if (!s.images.save_image(kSbsSlot, s.base + u"_sbs.jpg", kJpegEncoderId) ||
        !s.images.save_image(kSbshSlot, s.base + u"_sbsh.jpg", kJpegEncoderId) ||
        !s.images.save_image(kOuhSlot, s.base + u"_ouh.jpg", kJpegEncoderId))
      state.SkipWithError("encode failed");
  }
}

// Both decoded halves copied into their grids alone, as build_composites
// does when only the viewing formats are asked for.
void GridFill(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state) {
    fill_and_draw({}, s.halves);
    benchmark::DoNotOptimize(s.halves.left.data());
  }
}

// The grids filled and the three composites drawn in one step (saving
// costs nothing here): all of an entry's pixel work before the encoder.
void CompositePasses(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state) {
    const CompositeOutcome out = build_composites(s.canvas, s.ui, s.base, s.three, s.halves);
    if (out.any_failed) state.SkipWithError("composites failed");
    benchmark::DoNotOptimize(s.canvas.view(kOuhSlot).pixels);
  }
}

// The viewing formats' pixel work as --every does it: from the side-by-side
// canvas.
void ViewingFormatPasses(benchmark::State& state) {
  Scene& s = scene();
  const PixelView sbs = s.canvas.view(kSbsSlot);
  ImageService out;
  if (!out.create_image(0, kWidth, kHeight) || !out.create_image(1, 2 * kWidth, kHeight) ||
      !out.create_image(2, kTvFrameWidth, kTvFrameHeight))
    std::abort();
  const int which = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const bool ok = which == 0   ? draw_anaglyph(sbs, out.view(0))
                    : which == 1 ? draw_cross(sbs, out.view(1))
                                 : draw_tv_frame(sbs, out.view(2));
    if (!ok) state.SkipWithError("viewing format failed");
    benchmark::DoNotOptimize(out.view(which).pixels);
  }
}

// The bytes the pixel work reads and writes, streamed with memcpy (as much
// as both have) and memset or memchr (the rest), between buffers of their
// own that were touched before.
void StreamSameBytes(benchmark::State& state) {
  Scene& s = scene();
  const auto bytes = [](const PixelView& v) { return static_cast<size_t>(v.pitch * v.height); };
  const size_t grid = sizeof(int64_t) * static_cast<size_t>((kWidth + 1) * (kHeight + 1));
  const size_t read = bytes(s.images.view(kLeftSlot)) + bytes(s.images.view(kRightSlot)) + 2 * grid;
  const size_t written = 2 * grid + bytes(s.canvas.view(kSbsSlot)) +
                         bytes(s.canvas.view(kSbshSlot)) + bytes(s.canvas.view(kOuhSlot));
  const size_t copied = std::min(read, written);
  std::vector<uint8_t> from(read), to(written);  // zero-filled: touched
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), copied);
    std::memset(to.data() + copied, 0, written - copied);
    benchmark::DoNotOptimize(std::memchr(from.data() + copied, 1, read - copied));
    benchmark::ClobberMemory();
  }
  state.counters["MB_read"] = double(read) / 1e6;
  state.counters["MB_written"] = double(written) / 1e6;
}

void configure(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0)->Repetitions(5);
}
BENCHMARK(DecodeBothHalves)->Apply(configure);
BENCHMARK(EncodeThreeComposites)->Apply(configure);
BENCHMARK(GridFill)->Apply(configure);
BENCHMARK(CompositePasses)->Apply(configure);
BENCHMARK(StreamSameBytes)->Apply(configure);
// 0 anaglyph, 1 cross-eyed pair, 2 TV frame.
BENCHMARK(ViewingFormatPasses)->Apply(configure)->DenseRange(0, 2);

// The console table as usual, and the median of every benchmark noted.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> median_ms;
  double stream_bytes = 0;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        median_ms[run.run_name.function_name] = run.GetAdjustedRealTime();
      const auto read = run.counters.find("MB_read"), written = run.counters.find("MB_written");
      if (run.run_type == Run::RT_Iteration && read != run.counters.end() &&
          written != run.counters.end())
        stream_bytes = 1e6 * (read->second.value + written->second.value);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& m = reporter.median_ms;
  if (m.count("DecodeBothHalves") && m.count("EncodeThreeComposites") &&
      m.count("CompositePasses")) {
    const double codec = m["DecodeBothHalves"] + m["EncodeThreeComposites"];
    const double pixel = m["CompositePasses"];
    std::printf("\ncodec (decode 2 halves + encode 3 composites): %8.1f ms\n", codec);
    std::printf("pixel work (grids filled, composites drawn):   %8.1f ms\n", pixel);
    std::printf("pixel / codec:                                 %8.2f (target at most 0.5)\n",
                pixel / codec);
    if (m.count("StreamSameBytes")) {
      const double stream = m["StreamSameBytes"];
      std::printf("streaming the same bytes (memcpy, memset):     %8.1f ms = %.1f GB/s\n", stream,
                  reporter.stream_bytes / stream / 1e6);
      std::printf("pixel / streaming:                             %8.2f (target below 1.5)\n",
                  pixel / stream);
    }
  }
  benchmark::Shutdown();
  return 0;
}
