// Flattening and preview painting of a full-size scene: a 2048 x 2048 canvas with 8 canvas-sized
// layers, as a render leaves it (layers dmBlend with a TLinearResampler), in a 297 x 297 view.
// The argument picks the layers' combine mode: 0 cmBlend, 1 cmMerge.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>

#include "view/ImgView32.h"
#include "view/LayerResamplers.h"

using namespace quirlon::raster;
using namespace quirlon::view;

namespace {

constexpr int kSize = 2048;
constexpr int kLayers = 8;

std::unique_ptr<TImgView32> MakeScene(TCombineMode mode) {
  auto view = std::make_unique<TImgView32>();
  view->SetViewportSize(297, 297);
  ConfigurePreviewView(*view);
  std::mt19937 rng(7);
  TBitmap32& canvas = view->Bitmap();
  canvas.SetSize(kSize, kSize);
  canvas.Clear(0xFF202830);
  for (int i = 0; i < kLayers; ++i) {
    TBitmapLayer& layer = TBitmapLayer::Create(view->Layers());
    layer.SetScaled(true);
    layer.SetLocation(TSingleRect{0, 0, float(kSize), float(kSize)});
    TBitmap32& b = layer.Bitmap();
    b.SetSize(kSize, kSize);
    b.SetDrawMode(dmBlend);
    b.SetCombineMode(mode);
    // A warped shape: transparent outside a band, partly transparent inside, like a real layer.
    for (int y = 0; y < kSize; ++y) {
      TColor32* row = b.ScanLine(y);
      const int lo = (y * (i + 1)) % (kSize / 2), hi = lo + kSize / 2;
      for (int x = 0; x < kSize; ++x) {
        const TColor32 c = static_cast<TColor32>(rng());
        row[x] = (x < lo || x >= hi) ? 0 : ((x & 63) == 0 ? (c & 0x7FFFFFFFu) : (c | 0xFF000000u));
      }
    }
  }
  ResamplerClassNamesListChange(*view, "TLinearResampler", "TBoxKernel");
  return view;
}

void BM_PaintInto(benchmark::State& state) {
  auto view = MakeScene(state.range(0) ? cmMerge : cmBlend);
  TBitmap32 flat;
  flat.SetSize(kSize, kSize);
  for (auto _ : state) {
    view->PaintInto(flat, flat.BoundsRect());
    benchmark::DoNotOptimize(flat.Bits());
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(kSize) * kSize * (kLayers + 1));
}
BENCHMARK(BM_PaintInto)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PreviewRepaint(benchmark::State& state) {
  auto view = MakeScene(state.range(0) ? cmMerge : cmBlend);
  for (auto _ : state) {
    view->Repaint();
    benchmark::DoNotOptimize(view->ScreenBuffer().Bits());
  }
}
BENCHMARK(BM_PreviewRepaint)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
