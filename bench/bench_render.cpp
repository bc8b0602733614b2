// Whole renders of the bundled templates with the start-up colours, then the save flow's pieces:
// flattening the result and writing PNG, JPEG and BMP.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/Render.h"
#include "imagefiles/OutputWriters.h"
#include "core/Template.h"

namespace {

using namespace quirlon;

// The templates shipped in data/Templates of the source tree: 1 a box, 10 a disc.
std::string BundledTemplates() {
  return (std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "Templates").string() + "/";
}

// A render request for template Number of the bundled library with the start-up colours.
core::TRenderRequest BundledRequest(std::int32_t Number, std::int32_t Width, std::int32_t Height) {
  core::TRenderRequest request;
  const std::string folder = BundledTemplates();
  request.Template.File = folder + core::TemplateEntry(core::ListTemplates(folder), Number);
  request.CustomFolder = folder + "../custom/";
  request.Width = Width;
  request.Height = Height;
  return request;
}

// Args: template number, width, height.
void BM_Render(benchmark::State& state) {
  const core::TRenderRequest request = BundledRequest(static_cast<std::int32_t>(state.range(0)),
                                                      static_cast<std::int32_t>(state.range(1)),
                                                      static_cast<std::int32_t>(state.range(2)));
  std::size_t layers = 0;
  for (auto _ : state) {
    const core::TRenderResult result = core::ApplyTemplate(request);
    benchmark::DoNotOptimize(result.Canvas->Bits());
    layers = result.Layers.size();
  }
  state.SetLabel(state.range(0) == 1 ? "box" : "disc");  // templates 1 and 10
  state.counters["layers"] = static_cast<double>(layers);
}
BENCHMARK(BM_Render)
    ->Args({1, 800, 600})
    ->Args({10, 800, 600})
    ->Args({1, 2048, 2048})
    ->Args({10, 2048, 2048})
    ->Unit(benchmark::kMillisecond);

// Args: sampling (0 smooth, 1 exact), width, height. The box template with the sample artwork on its
// three faces, every effect on: the cost of the default filtered sampling against the exact one.
void BM_RenderSampling(benchmark::State& state) {
  core::TRenderRequest request = BundledRequest(1, static_cast<std::int32_t>(state.range(1)),
                                                static_cast<std::int32_t>(state.range(2)));
  const std::string examples =
      (std::filesystem::path(__FILE__).parent_path().parent_path() / "examples").string() + "/";
  request.Sources[core::SlotIndex(core::TSlot::Front)] = core::TSlotSource::OfFile(examples + "box-front.jpg");
  request.Sources[core::SlotIndex(core::TSlot::Side)] = core::TSlotSource::OfFile(examples + "box-side.jpg");
  request.Sources[core::SlotIndex(core::TSlot::Top)] = core::TSlotSource::OfFile(examples + "box-top.jpg");
  request.Settings.Sampling = state.range(0) == 0 ? core::TSampling::Smooth : core::TSampling::Exact;
  imagefiles::TPictureCache pictures;  // decoded once, as the window keeps them
  request.Pictures = &pictures;
  for (auto _ : state) {
    const core::TRenderResult result = core::ApplyTemplate(request);
    benchmark::DoNotOptimize(result.Canvas->Bits());
  }
  state.SetLabel(state.range(0) == 0 ? "smooth" : "exact");
}
BENCHMARK(BM_RenderSampling)
    ->Args({0, 800, 600})
    ->Args({1, 800, 600})
    ->Args({0, 2048, 1536})
    ->Args({1, 2048, 1536})
    ->Unit(benchmark::kMillisecond);
// The same with the CPU time of every thread: the render builds layers and warps rows on a helper
// thread, whose work the main thread's CPU time leaves out.
BENCHMARK(BM_RenderSampling)
    ->Args({0, 800, 600})
    ->Args({1, 800, 600})
    ->Args({0, 2048, 1536})
    ->Args({1, 2048, 1536})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// Args: library (0 the frozen copy from before the scene light, 1 today's), width, height. The box
// template with its sample artwork: what the light's shading, the contact and cast shadows and the
// glossy reflection cost against the one shadow slab and hand-picked shading before them.
void BM_RenderFloor(benchmark::State& state) {
  core::TRenderRequest request = BundledRequest(1, static_cast<std::int32_t>(state.range(1)),
                                                static_cast<std::int32_t>(state.range(2)));
  const std::filesystem::path root = std::filesystem::path(__FILE__).parent_path().parent_path();
  if (state.range(0) == 0)
    request.Template.File = (root / "tests" / "core" / "GoldenTemplates" / "01 Software box left.ini").string();
  const std::string examples = (root / "examples").string() + "/";
  request.Sources[core::SlotIndex(core::TSlot::Front)] = core::TSlotSource::OfFile(examples + "box-front.jpg");
  request.Sources[core::SlotIndex(core::TSlot::Side)] = core::TSlotSource::OfFile(examples + "box-side.jpg");
  request.Sources[core::SlotIndex(core::TSlot::Top)] = core::TSlotSource::OfFile(examples + "box-top.jpg");
  imagefiles::TPictureCache pictures;
  request.Pictures = &pictures;
  std::size_t layers = 0;
  for (auto _ : state) {
    const core::TRenderResult result = core::ApplyTemplate(request);
    benchmark::DoNotOptimize(result.Canvas->Bits());
    layers = result.Layers.size();
  }
  state.SetLabel(state.range(0) == 0 ? "before" : "light+floor");
  state.counters["layers"] = static_cast<double>(layers);
}
BENCHMARK(BM_RenderFloor)
    ->Args({0, 800, 600})
    ->Args({1, 800, 600})
    ->Args({0, 2048, 1536})
    ->Args({1, 2048, 1536})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Args: width, height. The box template, rendered once.
void BM_Flatten(benchmark::State& state) {
  const core::TRenderResult result = core::ApplyTemplate(
      BundledRequest(1, static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1))));
  for (auto _ : state) {
    const auto flat = core::Flatten(result);
    benchmark::DoNotOptimize(flat->Bits());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(BM_Flatten)->Args({800, 600})->Args({2048, 2048})->Unit(benchmark::kMillisecond);

// Args: format (0 PNG, 1 JPEG, 2 BMP), width, height. Writes to a file in the temporary folder.
void BM_Save(benchmark::State& state) {
  static const char* kExtensions[] = {".png", ".jpg", ".bmp"};
  static const char* kNames[] = {"PNG", "JPEG", "BMP"};
  const auto flat = core::Flatten(core::ApplyTemplate(
      BundledRequest(1, static_cast<std::int32_t>(state.range(1)), static_cast<std::int32_t>(state.range(2)))));
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("quirlon-bench-" + std::to_string(::getpid()) + kExtensions[state.range(0)]))
                               .string();
  for (auto _ : state) imagefiles::SavePicture(*flat, file, imagefiles::TSaveOptions{}, false);
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  state.SetLabel(kNames[state.range(0)]);
  std::filesystem::remove(file);
}
BENCHMARK(BM_Save)
    ->Args({0, 800, 600})
    ->Args({1, 800, 600})
    ->Args({2, 800, 600})
    ->Args({0, 2048, 2048})
    ->Args({1, 2048, 2048})
    ->Args({2, 2048, 2048})
    ->Unit(benchmark::kMillisecond);

}  // namespace
