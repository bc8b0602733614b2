// A whole turn as one animated picture: 36 frames of a paperback with the example art at 800 x 600,
// rendered on two threads and written as lossy WebP (quality 90), APNG and GIF; beside them one
// still of the same book saved as PNG, the baseline the ratios are taken against. Wall time: the
// frames share the two cores; cpu_s: processor time of every thread a run; peak_canvases: the most
// resident memory a run took above what the process held at its start, in 800 x 600 canvases (the
// example art decoded, 3.7 canvases, included).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <webp/encode.h>
#include <webp/mux.h>

#include "core/Turntable.h"

namespace {

using namespace quirlon;

core::TJob BookJob() {
  core::TJob job;
  job.Product.Kind = "paperback";
  const std::string examples = std::string(QUIRLON_SOURCE_DIR) + "/examples/";
  job.Request.Sources[core::SlotIndex(core::TSlot::Front)] = core::TSlotSource::OfFile(examples + "book-front.jpg");
  job.Request.Sources[core::SlotIndex(core::TSlot::Side)] = core::TSlotSource::OfFile(examples + "book-spine.jpg");
  job.Request.CustomFolder = std::string(QUIRLON_SOURCE_DIR) + "/data/custom/";  // the paperback's overlays
  job.Request.Width = 800;
  job.Request.Height = 600;
  return job;
}

std::string TempName(const char* Extension) {
  return "/tmp/quirlon-bench-turntable-" + std::to_string(::getpid()) + Extension;
}

const char* const kExtensions[] = {".webp", ".png", ".gif"};

// Processor seconds of every thread of the process so far: on a loaded machine the wall time
// says little, this says what the work costs.
double ProcessSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Adds the process's processor seconds per iteration since Start as the counter "cpu_s".
void CountProcessor(benchmark::State& state, double Start) {
  state.counters["cpu_s"] = benchmark::Counter((ProcessSeconds() - Start) / double(state.iterations()));
}

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM"), 0 when there is none.
long StatusKilobytes(const std::string& Field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(Field + ":", 0) == 0) return std::atol(line.c_str() + Field.size() + 1);
  return 0;
}

// The process before any benchmark: the program and its libraries.
const long kStartKilobytes = StatusKilobytes("VmRSS");

// Measures the peak resident memory from here on (Linux resets the high-water mark on request),
// above what the process held when it started: memory an earlier benchmark freed but the
// allocator kept counts only when this one does not reuse it.
struct TPeakMemory {
  TPeakMemory() {
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
  }
  // Adds the peak, in 800 x 600 canvases, as the counter "peak_canvases".
  void Count(benchmark::State& state) const {
    constexpr double kCanvasKilobytes = 800.0 * 600 * 4 / 1024;
    state.counters["peak_canvases"] = double(StatusKilobytes("VmHWM") - kStartKilobytes) / kCanvasKilobytes;
  }
};

// Arg: 0 WebP, 1 APNG, 2 GIF.
void BM_Turntable36(benchmark::State& state) {
  core::TJob job = BookJob();
  job.Turntable.Frames = 36;
  job.Output.File = TempName(kExtensions[state.range(0)]);
  job.Output.Quality = 90;
  const TPeakMemory peak;
  const double start = ProcessSeconds();
  for (auto _ : state) {
    core::TJobResources resources;
    benchmark::DoNotOptimize(core::RenderTurntableJob(job, "", resources, 2));
  }
  CountProcessor(state, start);
  peak.Count(state);
  std::remove(job.Output.File.c_str());
  state.SetLabel(state.range(0) == 0 ? "WebP q90" : state.range(0) == 1 ? "APNG" : "GIF");
}
BENCHMARK(BM_Turntable36)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// The same 36 frames through libwebp's animation encoder instead (frames rendered on two threads,
// encoded one at a time as it requires), to weigh the per-frame stills put together by libwebpmux.
void BM_AnimEncoder36(benchmark::State& state) {
  core::TJob job = BookJob();
  job.Turntable.Frames = 36;
  const TPeakMemory peak;
  const double start = ProcessSeconds();
  for (auto _ : state) {
    imagefiles::TPictureCache pictures;
    const core::TTurntablePlan plan = core::PlanTurntable(job, "", pictures);
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(800, 600, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.quality = 90;
    int timestamp = 0;
    core::RunTurntable<std::vector<std::uint8_t>>(
        plan, 2,
        [](std::unique_ptr<raster::TBitmap32> frame, std::int32_t) {
          std::vector<std::uint8_t> rgba(std::size_t(frame->Width()) * frame->Height() * 4);
          for (std::size_t i = 0; i < rgba.size() / 4; ++i) {
            const raster::TColor32 c = frame->Bits()[i];
            rgba[i * 4] = c >> 16 & 0xFF;
            rgba[i * 4 + 1] = c >> 8 & 0xFF;
            rgba[i * 4 + 2] = c & 0xFF;
            rgba[i * 4 + 3] = c >> 24;
          }
          return rgba;
        },
        [&](std::int32_t, std::vector<std::uint8_t>&& rgba) {
          WebPPicture picture;
          WebPPictureInit(&picture);
          picture.width = 800;
          picture.height = 600;
          WebPPictureImportRGBA(&picture, rgba.data(), 800 * 4);
          WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
          WebPPictureFree(&picture);
          timestamp += 42;
        });
    WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr);
    WebPData data;
    WebPDataInit(&data);
    WebPAnimEncoderAssemble(encoder, &data);
    benchmark::DoNotOptimize(data.size);
    WebPDataClear(&data);
    WebPAnimEncoderDelete(encoder);
  }
  CountProcessor(state, start);
  peak.Count(state);
}
BENCHMARK(BM_AnimEncoder36)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// One still of the book at the usual view, saved as PNG.
void BM_OneStill(benchmark::State& state) {
  core::TJob job = BookJob();
  job.Output.File = TempName(".png");
  const TPeakMemory peak;
  const double start = ProcessSeconds();
  for (auto _ : state) {
    core::TJobResources resources;
    benchmark::DoNotOptimize(core::RenderJob(job, "", resources));
  }
  CountProcessor(state, start);
  peak.Count(state);
  std::remove(job.Output.File.c_str());
}
BENCHMARK(BM_OneStill)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace
