// The measurements behind `make bench-peers`: the box-shot scene and its building blocks, on the
// same inputs as the peer pipelines. Paths come from the environment (scripts/bench-peers sets them):
//   QUIRLON_BENCH_TEMPLATES  folder holding scene.ini alone
//   QUIRLON_BENCH_COVER, QUIRLON_BENCH_SIDE  the cover and side pictures (BMP copies: the render is
//   timed without the PNG decode, as the peers' "render" is)
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Effects.h"
#include "core/QuadWarp.h"
#include "core/Render.h"
#include "imagefiles/Bitmap32ToPng.h"
#include "imagefiles/Picture.h"
#include "raster/ExpBlur.h"
#include "core/Template.h"
#include "view/ImgView32.h"
#include "raster/Transform.h"

namespace {

using namespace quirlon;
using raster::TBitmap32;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) throw std::runtime_error(std::string(name) + " is not set");
  return v;
}

// The scene rendered and flattened at w x h, as quirlon-render does before saving.
struct TScene {
  imagefiles::TPictureCache Pictures;  // as the window keeps them between renders
  core::TRenderRequest Request;

  TScene() {
    Request.Sources[1] = core::TSlotSource::OfFile(::Env("QUIRLON_BENCH_COVER"));
    Request.Sources[2] = core::TSlotSource::OfFile(::Env("QUIRLON_BENCH_SIDE"));
    Request.Pictures = &Pictures;
    const std::string folder = ::Env("QUIRLON_BENCH_TEMPLATES") + "/";
    Request.Template.File = folder + core::TemplateEntry(core::ListTemplates(folder), 1);
    Request.CustomFolder = folder;
  }
  core::TRenderResult Render(int w, int h) {
    Request.Width = w;
    Request.Height = h;
    return core::ApplyTemplate(Request);
  }
};

void BM_RenderScene(benchmark::State& state) {
  TScene scene;
  for (auto _ : state) {
    const auto flat = core::Flatten(scene.Render(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    benchmark::DoNotOptimize(flat->Bits());
  }
}
BENCHMARK(BM_RenderScene)->Args({2048, 1536})->Args({800, 600})->Args({2048, 2048})->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with the nearest-pixel sampling of earlier versions, for the cost of the default's filtering.
void BM_RenderSceneExact(benchmark::State& state) {
  TScene scene;
  scene.Request.Settings.Sampling = core::TSampling::Exact;
  for (auto _ : state) {
    const auto flat = core::Flatten(scene.Render(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    benchmark::DoNotOptimize(flat->Bits());
  }
}
BENCHMARK(BM_RenderSceneExact)->Args({2048, 1536})->Args({800, 600})->Unit(benchmark::kMillisecond)->UseRealTime();

// The preview repaint that follows a 2048 x 2048 render, into the window's 297 x 297 view.
void BM_PreviewRepaintAfterRender(benchmark::State& state) {
  TScene scene;
  const core::TRenderResult result = scene.Render(2048, 2048);
  // The preview as the window builds it: the canvas and the result's layers, shared.
  view::TImgView32 preview;
  view::ConfigurePreviewView(preview);
  preview.SetViewportSize(297, 297);
  preview.Bitmap().Assign(result.Canvas.get());
  for (const core::TRenderedLayer& layer : result.Layers) {
    raster::TBitmapLayer& shown = raster::TBitmapLayer::Create(preview.Layers());
    shown.ShareBitmap(layer.Bitmap);
    shown.SetScaled(true);
    shown.SetLocation(raster::TSingleRect{0, 0, 2048, 2048});
  }
  for (auto _ : state) {
    preview.Repaint();
    benchmark::DoNotOptimize(preview.ScreenBuffer().Bits());
  }
}
BENCHMARK(BM_PreviewRepaintAfterRender)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peers' warp: the cover onto ~41 % of a 2048 x 2048 canvas, nearest neighbour.
void BM_TransformFace(benchmark::State& state) {
  TBitmap32 cover;
  imagefiles::LoadFromFile(cover, Env("QUIRLON_BENCH_COVER"));
  cover.SetDrawMode(raster::dmBlend);
  cover.SetCombineMode(raster::cmBlend);
  const float w = 2048, h = 2048;
  raster::TProjectiveTransformation t;
  t.SetX0(0.23f * w), t.SetY0(0.16f * h), t.SetX1(0.77f * w), t.SetY1(0.08f * h);
  t.SetX2(0.77f * w), t.SetY2(0.92f * h), t.SetX3(0.23f * w), t.SetY3(0.84f * h);
  t.SetSourceRect(raster::TSingleRect{0, 0, static_cast<float>(cover.Width()), static_cast<float>(cover.Height())});
  TBitmap32 dst;
  dst.SetSize(2048, 2048);
  for (auto _ : state) {
    raster::WarpNearest(dst, cover, t, dst.BoundsRect());
    benchmark::DoNotOptimize(dst.Bits());
  }
}
BENCHMARK(BM_TransformFace)->Unit(benchmark::kMillisecond)->UseRealTime();

// ExpBlur at radius 25 of a 2048 x 2048 picture with opaque and transparent parts.
void BM_ExpBlur2048(benchmark::State& state) {
  TBitmap32 src;
  src.SetSize(2048, 2048);
  for (int y = 0; y < 2048; ++y)
    for (int x = 0; x < 2048; ++x)
      src.PixelRef(x, y) = (x > 400 && x < 1600 && y > 300 && y < 1800)
                               ? 0xFF000000u | static_cast<raster::TColor32>((x * 7) & 0xFF) << 16 |
                                     static_cast<raster::TColor32>((y * 3) & 0xFF) << 8 |
                                     static_cast<raster::TColor32>((x ^ y) & 0xFF)
                               : 0u;
  TBitmap32 b;
  for (auto _ : state) {
    state.PauseTiming();
    b.Assign(&src);
    state.ResumeTiming();
    raster::ExpBlur(b, 25);
    benchmark::DoNotOptimize(b.Bits());
  }
}
BENCHMARK(BM_ExpBlur2048)->Unit(benchmark::kMillisecond)->UseRealTime();

// PNG of the 2048 x 1536 box shot, to memory, at each effort (BM_PngSave2048 is the default); and
// the old reference: the same filtered rows through one zlib stream at level 9.
const TBitmap32& Shot() {
  static const std::unique_ptr<TBitmap32> shot = [] {
    TScene scene;
    return core::Flatten(scene.Render(2048, 1536));
  }();
  return *shot;
}

void SavePngAt(benchmark::State& state, imagefiles::TPngEffort effort) {
  const TBitmap32& flat = Shot();
  std::size_t size = 0;
  for (auto _ : state) {
    const imagefiles::TPngImage png = imagefiles::Bitmap32ToPng(flat, effort, false);
    std::vector<std::uint8_t> file;
    png.Write([&](const std::uint8_t* d, std::size_t n) { file.insert(file.end(), d, d + n); });
    size = file.size();
    benchmark::DoNotOptimize(file.data());
  }
  state.counters["bytes"] = static_cast<double>(size);
}

void BM_PngSave2048(benchmark::State& state) { SavePngAt(state, imagefiles::TPngEffort::Default); }
BENCHMARK(BM_PngSave2048)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_PngSave2048Fast(benchmark::State& state) { SavePngAt(state, imagefiles::TPngEffort::Fast); }
BENCHMARK(BM_PngSave2048Fast)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_PngSave2048Small(benchmark::State& state) { SavePngAt(state, imagefiles::TPngEffort::Small); }
BENCHMARK(BM_PngSave2048Small)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ZlibOneStream2048(benchmark::State& state) {
  const TBitmap32& flat = Shot();
  const std::size_t stride = static_cast<std::size_t>(flat.Width()) * 4;
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(flat.Height()) * (stride + 1));
  for (int y = 0; y < flat.Height(); ++y) {
    std::uint8_t* d = rows.data() + static_cast<std::size_t>(y) * (stride + 1);
    *d++ = 1;  // Sub, as the writer filters
    std::uint8_t left[4] = {0, 0, 0, 0};
    const raster::TColor32* s = flat.ScanLine(y);
    for (int x = 0; x < flat.Width(); ++x) {
      const std::uint8_t p[4] = {static_cast<std::uint8_t>(s[x] >> 16), static_cast<std::uint8_t>(s[x] >> 8),
                                 static_cast<std::uint8_t>(s[x]), static_cast<std::uint8_t>(s[x] >> 24)};
      for (int c = 0; c < 4; ++c) {
        *d++ = static_cast<std::uint8_t>(p[c] - left[c]);
        left[c] = p[c];
      }
    }
  }
  std::size_t size = 0;
  for (auto _ : state) {
    uLongf n = compressBound(static_cast<uLong>(rows.size()));
    std::vector<std::uint8_t> out(n);
    compress2(out.data(), &n, rows.data(), static_cast<uLong>(rows.size()), 9);
    size = n;
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_ZlibOneStream2048)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
