#include <benchmark/benchmark.h>

#include <random>

#include "core/DiscArtwork.h"
#include "core/Effects.h"
#include "raster/Bitmap32.h"
#include "raster/ExpBlur.h"

using quirlon::raster::TBitmap32;

namespace {

void FillRandom(TBitmap32& b, int w, int h) {
  b.SetSize(w, h);
  std::mt19937 rng(42);
  for (std::size_t i = 0; i < b.PixelCount(); ++i) b.Bits()[i] = rng();
}

void BM_ExpBlur2048(benchmark::State& state) {
  TBitmap32 b;
  FillRandom(b, 2048, 2048);
  for (auto _ : state) {
    quirlon::raster::ExpBlur(b, static_cast<int>(state.range(0)));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}
BENCHMARK(BM_ExpBlur2048)->Arg(15)->Arg(25)->Unit(benchmark::kMillisecond);

void BM_DiscArtwork1024(benchmark::State& state) {
  TBitmap32 source;
  FillRandom(source, 800, 800);
  const bool large = state.range(0) != 0;
  for (auto _ : state) {
    auto disc = large ? quirlon::core::DrawLargeDiscArtwork(source, 1024, 1024)
                      : quirlon::core::DrawDiscArtwork(source, 1024, 1024);
    benchmark::DoNotOptimize(disc->Bits());
  }
}
BENCHMARK(BM_DiscArtwork1024)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FadeAlphaRamp2048(benchmark::State& state) {
  TBitmap32 b;
  FillRandom(b, 2048, 2048);
  for (auto _ : state) {
    b.ResetAlpha(255);
    quirlon::core::FadeAlphaRamp(b, 50);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FadeAlphaRamp2048)->Unit(benchmark::kMillisecond);

}  // namespace
