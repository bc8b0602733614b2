// WarpToQuad on a typical box face (a perspective quadrilateral covering about 40 % of the canvas),
// reported per canvas pixel: the warp visits the face's bounding box, the mask and the edge cut
// visit the whole canvas.
#include <benchmark/benchmark.h>

#include "core/QuadWarp.h"
#include "raster/Bitmap32.h"

namespace {

using namespace quirlon::raster;

// Args: canvas width, height, sampling (0 exact, 1 smooth), and how many times the artwork is larger
// than the face it lands on (1 about as large, 3 shrunk as at thumbnail sizes).
void BM_WarpToQuad(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const auto sampling = state.range(2) == 0 ? quirlon::core::TSampling::Exact : quirlon::core::TSampling::Smooth;
  const int larger = static_cast<int>(state.range(3));
  // Front cover artwork, portrait.
  TBitmap32 src;
  src.SetSize(w * 5 / 8 * larger, h * 7 / 8 * larger);
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < src.Width(); ++x)
      src.PixelRef(x, y) = 0xFF000000u | static_cast<TColor32>((x * 7) & 0xFF) << 16 |
                           static_cast<TColor32>((y * 3) & 0xFF) << 8 | static_cast<TColor32>((x ^ y) & 0xFF);
  src.SetDrawMode(dmBlend);
  src.SetCombineMode(cmBlend);
  // A face turned away to the right: the far edge shorter than the near one.
  const auto px = [w](double f) { return static_cast<std::int32_t>(f * w); };
  const auto py = [h](double f) { return static_cast<std::int32_t>(f * h); };
  const TPoint a{px(0.19), py(0.12)}, b{px(0.70), py(0.22)}, c{px(0.70), py(0.80)}, d{px(0.19), py(0.90)};
  TBitmap32 dst;
  dst.SetSize(w, h);
  for (auto _ : state) {
    state.PauseTiming();
    dst.Clear(0);
    state.ResumeTiming();
    quirlon::core::WarpToQuad(src, src.BoundsRect(), a, b, c, d, dst, true, 1.0, nullptr, nullptr, sampling);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(w) * h);
  // CPU seconds per canvas pixel (printed with an SI prefix: 25n is 25 ns).
  state.counters["s_per_px"] = benchmark::Counter(static_cast<double>(w) * h, benchmark::Counter::kIsIterationInvariantRate |
                                                                                  benchmark::Counter::kInvert);
}

BENCHMARK(BM_WarpToQuad)
    ->Args({800, 600, 0, 1})
    ->Args({800, 600, 1, 1})
    ->Args({800, 600, 0, 3})
    ->Args({800, 600, 1, 3})
    ->Args({2048, 2048, 0, 1})
    ->Args({2048, 2048, 1, 1})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
