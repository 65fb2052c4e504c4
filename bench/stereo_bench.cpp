// Where an entry's time goes beyond --all, step by step, on a camera-sized
// pair (3648 x 2736) whose right view is turned by 0.5 degrees, scaled by
// 1.01 and moved down by 20 rows:
//   the stereo correction: reducing both halves for the analysis, measuring
//   the alignment (features, matching, fit), the disparities for the
//   window, resampling both halves;
//   the display formats: the over-under rows, the rows of one anaglyph
//   type, both halves fitted to a 1920 x 1080 screen, the rows of one
//   interleaved frame, the wiggle picture's two frames.
// Each is timed alone, in the state a batch is in from its second entry on.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <memory>
#include <vector>

#include "render/corrected_halves.h"
#include "render/display_formats.h"
#include "render/grid_passes.h"
#include "render/stereo_align.h"
#include "render/stereo_window.h"
#include "render/viewing_formats.h"
#include "render/wiggle_frames.h"
#include "image/image_service.h"
#include "image/jpeg_codec.h"
#include "io/memory_policy.h"
#include "io/text.h"
#include "tools/mpogen/mpogen.h"

namespace {

using namespace mpo;

constexpr int kWidth = 3648;
constexpr int kHeight = 2736;
constexpr int kAnalysisSide = 1280;  // as the entry reduces its halves

// Both views of the generated pair decoded into slots 0 and 1, their side-by-side image in slot 2, and the correction's plan.
struct Scene {
  ImageService images;
  Halves halves;
  PixelView sbs;
  ReducedHalf left, right;
  StereoPlan plan;

  Scene() {
    keep_large_blocks_in_heap(1);  // as the command line keeps them
    set_analysis_threads(1);       // on the worker's thread, as the command line analyses
    mpogen::Options o;
    o.width = kWidth, o.height = kHeight, o.quality = 92, o.seed = 201, o.disparity = 60;
    o.turn_degrees = 0.5, o.scale = 1.01, o.shift_rows = 20;
    const mpogen::Mpo mpo = mpogen::make_mpo(o);
    const auto cut = mpo.bytes.begin() + static_cast<std::ptrdiff_t>(mpo.separator);
    const mpogen::Bytes parts[2] = {mpogen::Bytes(mpo.bytes.begin(), cut),
                                    mpogen::Bytes(cut, mpo.bytes.end())};
    register_jpeg_decoder(images);
    for (int eye = 0; eye < 2; ++eye) {
      const std::filesystem::path file =
          std::filesystem::temp_directory_path() / ("mpo-stereo-bench-" + std::to_string(eye) + ".jpg");
      if (!mpogen::write_file(file.string(), parts[eye]) ||
          !images.load_image(eye, from_utf8(file.string())))
        std::abort();
      std::filesystem::remove(file);
    }
    halves.width = kWidth, halves.height = kHeight;
    halves.left_picture = images.view(0), halves.right_picture = images.view(1);
    allocate_grid(halves.left, kWidth, kHeight);
    allocate_grid(halves.right, kWidth, kHeight);
    halves.usable = true;
    fill_and_draw({}, halves);  // the grids the side-by-side image is drawn from
    if (!images.create_image(2, 2 * kWidth, kHeight)) std::abort();
    sbs = images.view(2);
    if (!draw_side_by_side(halves, sbs)) std::abort();
    left = reduce_half(halves.left_picture, kAnalysisSide);
    right = reduce_half(halves.right_picture, kAnalysisSide);
    const AlignResult measured = measure_alignment(left, right);
    plan = alignment_plan(measured, kWidth, kHeight);
    if (!plan.resample) {
      std::fprintf(stderr, "alignment not measured: status %d\n", int(measured.status));
      std::abort();
    }
  }
};

Scene& scene() {
  static Scene s;
  return s;
}

void ReduceBothHalves(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state) {
    benchmark::DoNotOptimize(reduce_half(s.halves.left_picture, kAnalysisSide).grey.data);
    benchmark::DoNotOptimize(reduce_half(s.halves.right_picture, kAnalysisSide).grey.data);
  }
}

void MeasureAlignment(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state) benchmark::DoNotOptimize(measure_alignment(s.left, s.right).matches);
}

void MeasureDepth(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state) benchmark::DoNotOptimize(measure_depth(s.left, s.right, s.plan).near);
}

void ResampleBothHalves(benchmark::State& state) {
  Scene& s = scene();
  ImageService out;
  const cv::Rect lc = s.plan.left_cut(), rc = s.plan.right_cut();
  if (!out.create_image(0, lc.width, lc.height) || !out.create_image(1, rc.width, rc.height))
    std::abort();
  for (auto _ : state) {
    draw_corrected(s.halves.left_picture, s.plan.left, true, lc, out.view(0));
    draw_corrected(s.halves.right_picture, s.plan.right, true, rc, out.view(1));
  }
}

// Every row of a W-wide (or screen-wide) picture made into one buffer.
template <typename MakeRow>
void all_rows(int64_t w, int64_t h, MakeRow make) {
  std::vector<uint8_t> row(size_t(3 * w));
  for (int64_t y = 0; y < h; ++y) make(y, row.data());
  benchmark::DoNotOptimize(row.data());
}

void OverUnderRows(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state)
    all_rows(kWidth, 2 * kHeight, [&](int64_t y, uint8_t* r) { over_under_row(s.sbs, y, r); });
}

// range(0): the anaglyph type.
void AnaglyphRows(benchmark::State& state) {
  Scene& s = scene();
  const auto type = static_cast<AnaglyphType>(state.range(0));
  for (auto _ : state)
    all_rows(kWidth, kHeight, [&](int64_t y, uint8_t* r) { anaglyph_row(s.sbs, y, type, r); });
}

struct Screens {
  ImageService images;
  Screens() {
    if (!images.create_image(0, 1920, 1080) || !images.create_image(1, 1920, 1080)) std::abort();
  }
};

void FitBothHalves(benchmark::State& state) {
  Scene& s = scene();
  Screens screens;
  for (auto _ : state) {
    if (!draw_fitted_half(s.sbs, 0, screens.images.view(0)) ||
        !draw_fitted_half(s.sbs, 1, screens.images.view(1)))
      state.SkipWithError("fitting failed");
  }
}

void InterleavedRows(benchmark::State& state) {
  Scene& s = scene();
  Screens screens;
  const PixelView l = screens.images.view(0), r = screens.images.view(1);
  if (!draw_fitted_half(s.sbs, 0, l) || !draw_fitted_half(s.sbs, 1, r)) std::abort();
  for (auto _ : state)
    all_rows(1920, 1080, [&](int64_t y, uint8_t* row) {
      interleave_row(l, r, Interleave::checker, false, y, row);
    });
}

void WiggleFramesOfBothHalves(benchmark::State& state) {
  Scene& s = scene();
  WiggleFrames frames;
  for (auto _ : state)
    if (!draw_wiggle_frames(s.halves, frames)) state.SkipWithError("wiggle frames failed");
}

void configure(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5)->Repetitions(3)
      ->ReportAggregatesOnly(true);
}
BENCHMARK(ReduceBothHalves)->Apply(configure);
BENCHMARK(MeasureAlignment)->Apply(configure);
BENCHMARK(MeasureDepth)->Apply(configure);
BENCHMARK(ResampleBothHalves)->Apply(configure);
BENCHMARK(OverUnderRows)->Apply(configure);
BENCHMARK(AnaglyphRows)->Apply(configure)->DenseRange(0, kAnaglyphTypes - 1);
BENCHMARK(FitBothHalves)->Apply(configure);
BENCHMARK(InterleavedRows)->Apply(configure);
BENCHMARK(WiggleFramesOfBothHalves)->Apply(configure);

}  // namespace

BENCHMARK_MAIN();
