// Whole renders of the bundled templates with the start-up colours, then the save flow's pieces:
// flattening the view and writing PNG, JPEG and BMP.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/Render.h"
#include "imagefiles/OutputWriters.h"
#include "raster/ImgView32.h"

namespace {

using namespace quirlon;

// The templates shipped in data/Templates of the source tree: 1 a box, 10 a disc.
std::string BundledTemplates() {
  return (std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "Templates").string() + "/";
}

struct TRenderFixture {
  core::TRenderSettings Settings;
  core::TSourceFiles Sources;
  core::TLayerKinds Kinds;
  core::TShadeBitmap32List Masks;
  core::TRenderEnvironment Env;
  raster::TImgView32 View;

  explicit TRenderFixture(std::int32_t templateNumber) {
    Masks.Build();
    Env.Settings = &Settings;
    Env.Sources = &Sources;
    Env.LayerKinds = &Kinds;
    Env.ShadeMasks = &Masks;
    Env.TemplatesFolder = BundledTemplates();
    Env.CustomFolder = Env.TemplatesFolder + "../custom/";
    Settings.CurrentTemplate = templateNumber;
    raster::ConfigurePreviewView(View);
  }
};

// Args: template number, width, height.
void BM_Render(benchmark::State& state) {
  TRenderFixture f(static_cast<std::int32_t>(state.range(0)));
  const auto w = static_cast<std::int32_t>(state.range(1));
  const auto h = static_cast<std::int32_t>(state.range(2));
  for (auto _ : state) {
    core::ApplyTemplate(f.View, w, h, f.Env);
    benchmark::DoNotOptimize(f.View.Bitmap().Bits());
  }
  state.SetLabel(state.range(0) == 1 ? "box" : "disc");  // templates 1 and 10
  state.counters["layers"] = f.View.Layers().Count();
}
BENCHMARK(BM_Render)
    ->Args({1, 800, 600})
    ->Args({10, 800, 600})
    ->Args({1, 2048, 2048})
    ->Args({10, 2048, 2048})
    ->Unit(benchmark::kMillisecond);

// Args: width, height. The box template, rendered once.
void BM_Flatten(benchmark::State& state) {
  TRenderFixture f(1);
  core::ApplyTemplate(f.View, static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)),
                      f.Env);
  raster::TBitmap32 flat;
  for (auto _ : state) {
    flat.SetSize(0, 0);
    flat.SetSize(f.View.Bitmap().Width(), f.View.Bitmap().Height());
    f.View.PaintInto(flat, flat.BoundsRect());
    benchmark::DoNotOptimize(flat.Bits());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}
BENCHMARK(BM_Flatten)->Args({800, 600})->Args({2048, 2048})->Unit(benchmark::kMillisecond);

// Args: format (0 PNG, 1 JPEG, 2 BMP), width, height. Writes to a file in the temporary folder.
void BM_Save(benchmark::State& state) {
  static const char* kExtensions[] = {".png", ".jpg", ".bmp"};
  static const char* kNames[] = {"PNG", "JPEG", "BMP"};
  TRenderFixture f(1);
  core::ApplyTemplate(f.View, static_cast<std::int32_t>(state.range(1)), static_cast<std::int32_t>(state.range(2)),
                      f.Env);
  raster::TBitmap32 flat;
  flat.SetSize(f.View.Bitmap().Width(), f.View.Bitmap().Height());
  f.View.PaintInto(flat, flat.BoundsRect());
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("quirlon-bench-" + std::to_string(::getpid()) + kExtensions[state.range(0)]))
                               .string();
  for (auto _ : state) imagefiles::SavePicture(flat, file, 96, false);
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
