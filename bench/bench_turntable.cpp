// A whole turn as one animated picture: 36 frames of a paperback with the example art at 800 x 600,
// rendered on two threads and written as lossy WebP (quality 90), APNG and GIF; beside them one
// still of the same book saved as PNG, the baseline the ratios are taken against. Wall time: the
// frames share the two cores.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/Turntable.h"

namespace {

using namespace quirlon;

core::TJob BookJob() {
  core::TJob job;
  job.Product.Kind = "paperback";
  const std::string examples = std::string(QUIRLON_SOURCE_DIR) + "/examples/";
  job.Request.Sources[core::SlotIndex(core::TSlot::Front)] = core::TSlotSource::OfFile(examples + "book-front.jpg");
  job.Request.Sources[core::SlotIndex(core::TSlot::Side)] = core::TSlotSource::OfFile(examples + "book-spine.jpg");
  job.Request.Width = 800;
  job.Request.Height = 600;
  return job;
}

std::string TempName(const char* Extension) {
  return "/tmp/quirlon-bench-turntable-" + std::to_string(::getpid()) + Extension;
}

const char* const kExtensions[] = {".webp", ".png", ".gif"};

// Arg: 0 WebP, 1 APNG, 2 GIF.
void BM_Turntable36(benchmark::State& state) {
  core::TJob job = BookJob();
  job.Turntable.Frames = 36;
  job.Output.File = TempName(kExtensions[state.range(0)]);
  job.Output.Quality = 90;
  for (auto _ : state) {
    core::TJobResources resources;
    benchmark::DoNotOptimize(core::RenderTurntableJob(job, "", resources, 2));
  }
  std::remove(job.Output.File.c_str());
  state.SetLabel(state.range(0) == 0 ? "WebP q90" : state.range(0) == 1 ? "APNG" : "GIF");
}
BENCHMARK(BM_Turntable36)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// One still of the book at the usual view, saved as PNG.
void BM_OneStill(benchmark::State& state) {
  core::TJob job = BookJob();
  job.Output.File = TempName(".png");
  for (auto _ : state) {
    core::TJobResources resources;
    benchmark::DoNotOptimize(core::RenderJob(job, "", resources));
  }
  std::remove(job.Output.File.c_str());
}
BENCHMARK(BM_OneStill)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace
