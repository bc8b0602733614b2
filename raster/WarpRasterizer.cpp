#include "raster/WarpRasterizer.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster/Errors.h"
#include "raster/Numeric.h"
#include "raster/Parallel.h"

namespace quirlon::raster {

// ---------------------------------------------------------------------------------------------
// The renderer's warp

namespace {

// The mapped 16.16 source point of one pixel: MapFixed's steps for sums already formed. False where
// the point is at infinity (z = 0).
inline bool MapSums(std::uint32_t z, std::uint32_t u, std::uint32_t v, TFixed16& sx, TFixed16& sy) {
  const auto zf = static_cast<TFixed16>(z);
  if (zf == 0) return false;
  sx = static_cast<TFixed16>(u);
  sy = static_cast<TFixed16>(v);
  if (zf != kFixedOne) {
    const float q = FixedUnitOver(zf);
    sx = MulRoundSingle(sx, q);
    sy = MulRoundSingle(sy, q);
  }
  return true;
}

#if defined(__SSE2__)
// MapSums for two pixels in double lanes, where that is exact: 65536 / z is divided as UnitOver
// divides it (and the rare quotient that lies half-way between two floats is left to MapSums); a
// sum below 2^29 in magnitude times a float is exact in double, and adding 1.5 x 2^52 rounds it
// half to even and leaves the result modulo 2^32 in the low half of the lane. False when either
// pixel needs the scalar steps.
inline bool MapSumsTwo(const std::uint32_t* z, const std::uint32_t* u, const std::uint32_t* v, TFixed16* sx,
                       TFixed16* sy) {
  constexpr std::uint32_t kLimit = 1u << 29;
  for (int k = 0; k < 2; ++k)
    if (z[k] == 0 || u[k] + kLimit >= 2 * kLimit || v[k] + kLimit >= 2 * kLimit) return false;
  const __m128d zd = _mm_cvtepi32_pd(_mm_setr_epi32(static_cast<int>(z[0]), static_cast<int>(z[1]), 0, 0));
  const __m128d qd = _mm_div_pd(_mm_set1_pd(65536.0), zd);
  const __m128i bits = _mm_and_si128(_mm_castpd_si128(qd), _mm_set1_epi64x(0x1FFFFFFF));
  const __m128i halfway = _mm_cmpeq_epi32(bits, _mm_set1_epi64x(0x10000000));
  if ((_mm_movemask_epi8(halfway) & 0x0F0F) != 0) return false;  // the low halves hold the pattern
  const __m128d q = _mm_cvtps_pd(_mm_cvtpd_ps(qd));
  const __m128d magic = _mm_set1_pd(6755399441055744.0);  // 1.5 x 2^52
  const __m128d ud = _mm_cvtepi32_pd(_mm_setr_epi32(static_cast<int>(u[0]), static_cast<int>(u[1]), 0, 0));
  const __m128d vd = _mm_cvtepi32_pd(_mm_setr_epi32(static_cast<int>(v[0]), static_cast<int>(v[1]), 0, 0));
  const __m128i ru = _mm_castpd_si128(_mm_add_pd(_mm_mul_pd(ud, q), magic));
  const __m128i rv = _mm_castpd_si128(_mm_add_pd(_mm_mul_pd(vd, q), magic));
  sx[0] = _mm_cvtsi128_si32(ru);
  sx[1] = _mm_cvtsi128_si32(_mm_shuffle_epi32(ru, 2));
  sy[0] = _mm_cvtsi128_si32(rv);
  sy[1] = _mm_cvtsi128_si32(_mm_shuffle_epi32(rv, 2));
  return true;
}
#endif

// One row of the nearest projective warp: the same pixels as MapFixed, the pamSafe point sample
// and the combine per pixel. Along a row only X changes, and the products
// FixedMultiply(R[k][n], FixedFromInt(i)) are exactly R[k][n] x i (mod 2^32), so the three sums are
// stepped by R[0][n] instead of being formed anew. The row goes in runs: first every point of the
// run is mapped (two at a time where the lanes allow), then the pixels are read and combined.
void WarpRow(const TFixedMatrix16& R, const TBitmap32& Src, const TRect& Clip, TColor32 Outer,
             const TRowCombiner& Combiner, TColor32* Row, std::int32_t Left, std::int32_t Right, std::int32_t J) {
  const auto sum = [](TFixed16 a, TFixed16 b, TFixed16 c) {
    return static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b) + static_cast<std::uint32_t>(c);
  };
  const TFixed16 x0 = FixedFromInt(Left), y = FixedFromInt(J);
  std::uint32_t z = sum(FixedMultiply(R[0][2], x0), FixedMultiply(R[1][2], y), R[2][2]);
  std::uint32_t u = sum(FixedMultiply(R[0][0], x0), FixedMultiply(R[1][0], y), R[2][0]);
  std::uint32_t v = sum(FixedMultiply(R[0][1], x0), FixedMultiply(R[1][1], y), R[2][1]);
  const std::uint32_t dz = static_cast<std::uint32_t>(R[0][2]), du = static_cast<std::uint32_t>(R[0][0]),
                      dv = static_cast<std::uint32_t>(R[0][1]);
  const TColor32* bits = Src.Bits();
  const std::int32_t stride = Src.Width();
  constexpr std::int32_t kRun = 64;
  std::uint32_t zs[kRun], us[kRun], vs[kRun];
  TFixed16 sx[kRun], sy[kRun];
  bool mapped[kRun];
  TColor32 colors[kRun];
  for (std::int32_t runStart = Left; runStart < Right; runStart += kRun) {
    const std::int32_t n = std::min(kRun, Right - runStart);
    for (std::int32_t k = 0; k < n; ++k, z += dz, u += du, v += dv) {
      zs[k] = z;
      us[k] = u;
      vs[k] = v;
    }
    std::int32_t k = 0;
#if defined(__SSE2__)
    for (; k + 2 <= n; k += 2) {
      if (MapSumsTwo(zs + k, us + k, vs + k, sx + k, sy + k)) {
        mapped[k] = mapped[k + 1] = true;
      } else {
        mapped[k] = MapSums(zs[k], us[k], vs[k], sx[k], sy[k]);
        mapped[k + 1] = MapSums(zs[k + 1], us[k + 1], vs[k + 1], sx[k + 1], sy[k + 1]);
      }
    }
#endif
    for (; k < n; ++k) mapped[k] = MapSums(zs[k], us[k], vs[k], sx[k], sy[k]);

    for (k = 0; k < n; ++k) {
      TColor32 c = Outer;
      if (mapped[k]) {
        const std::int32_t X = FixedRoundHalfDown(sx[k]), Y = FixedRoundHalfDown(sy[k]);
        if (X >= Clip.Left && X < Clip.Right && Y >= Clip.Top && Y < Clip.Bottom)
          c = bits[static_cast<std::size_t>(Y) * stride + X];
      }
      colors[k] = c;
    }
    Combiner.Put(colors, Row + runStart, n);
  }
}

}  // namespace

TRect WarpNearest(TBitmap32& Dst, const TBitmap32& Src, TProjectiveTransformation& Mapping, const TRect& DstClip) {
  TRect area = IntersectRect(IntersectRect(Mapping.GetTransformedBounds(), Dst.ClipRect()), DstClip);
  if (area.Right < area.Left || area.Bottom < area.Top) return TRect{};
  if (!Mapping.MatricesValid()) Mapping.UpdateMatrices();
  const TRect rows = IntersectRect(area, Dst.BoundsRect());
  if (rows.Right > rows.Left && rows.Bottom > rows.Top) {
    const TRowCombiner combiner(Src, Src.DrawMode(), Src.OnPixelCombine, TBlendRule::Pixel);
    const TFixedMatrix16& reverse = Mapping.ReverseFixed();
    const TRect clip = Src.ClipRect();
    const TColor32 outer = Src.OuterColor();
    auto band = [&](std::int32_t from, std::int32_t to) noexcept {
      for (std::int32_t j = from; j < to; ++j)
        WarpRow(reverse, Src, clip, outer, combiner, Dst.ScanLine(j), rows.Left, rows.Right, j);
    };
    // Rows are independent unless a callback combines them (it may keep state of its own).
    if (combiner.RowsIndependent() && &Src != &Dst)
      ParallelFor(rows.Top, rows.Bottom, 32, band);
    else
      band(rows.Top, rows.Bottom);
  }
  Dst.AreaChanged(area);
  return area;
}

// ---------------------------------------------------------------------------------------------
// The general rasterizer

TRasterizer::TRasterizer() { ChooseCombine(); }

void TRasterizer::SetSampler(TCustomSampler* Value) {
  if (Value == fSampler) return;
  fSampler = Value;
  fSamplerEntries = Value ? ResolveSamplerEntries(*Value) : TSamplerEntries{};
  Changed();
}

void TRasterizer::Assign(const TBitmap32& Src) {
  fParams.MasterAlpha = Src.MasterAlpha();
  fParams.DrawMode = Src.DrawMode();
  fParams.CombineMode = Src.CombineMode();
  fParams.CombineCallback = Src.OnPixelCombine;
  fParams.TransparentColor = Src.OuterColor();
  if (fParams.DrawMode == dmCustom && !fParams.CombineCallback) fParams.DrawMode = dmOpaque;
  ChooseCombine();
}

void TRasterizer::ChooseCombine() {
  fCombiner.emplace(fParams.DrawMode, fParams.CombineMode, fParams.MasterAlpha, fParams.TransparentColor,
                    fParams.CombineCallback, TBlendRule::Pixel);
}

void TRasterizer::Render(TBitmap32& Dst, const TRect& DstRect, const TBitmap32& Src) {
  Assign(Src);
  if (!fSampler) return;
  const int updateCount = Dst.UpdateCount();
  fSampler->BeginSampling();
  try {
    // Never beyond the destination's pixels, whatever the sampler's bounds say.
    TRect area = IntersectRect(DstRect, Dst.BoundsRect());
    if (fSampler->HasSampleBounds()) area = IntersectRect(area, fSampler->SampleBounds());
    RenderRows(Dst, area);
  } catch (...) {
    while (Dst.UpdateCount() > updateCount) Dst.EndUpdate();
    fSampler->EndSampling();
    throw;
  }
  while (Dst.UpdateCount() > updateCount) Dst.EndUpdate();
  fSampler->EndSampling();
}

void TRegularRasterizer::RenderRows(TBitmap32& Dst, const TRect& Area) {
  if (Area.Right <= Area.Left || Area.Bottom <= Area.Top) return;
  TCustomSampler& sampler = *fSampler;
  const auto sample = fSamplerEntries.SampleInt;
  TColor32* const bits = Dst.Bits();
  const std::int32_t width = Dst.Width();
  std::int32_t reportedTop = Area.Top;
  for (std::int32_t j = Area.Top; j < Area.Bottom; ++j) {
    TColor32* p = bits + static_cast<std::size_t>(j) * width + Area.Left;
    for (std::int32_t i = Area.Left; i < Area.Right; ++i, ++p) CombinePixel(*p, sample(sampler, i, j));
    if (fUpdateRowCount > 0 && j + 1 - reportedTop >= fUpdateRowCount) {
      Dst.AreaChanged(TRect{Area.Left, reportedTop, Area.Right, j + 1});
      reportedTop = j + 1;
    }
  }
  if (reportedTop < Area.Bottom) Dst.AreaChanged(TRect{Area.Left, reportedTop, Area.Right, Area.Bottom});
}

// ---------------------------------------------------------------------------------------------
// Transform

void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation, const TRect& DstClip,
               TRasterizer& Rasterizer) {
  TRect area = Transformation.GetTransformedBounds();
  area = IntersectRect(area, Dst.ClipRect());
  area = IntersectRect(area, DstClip);
  if (area.Right < area.Left || area.Bottom < area.Top) return;
  auto transformer = CreateTransformer(Src.Resampler(), Transformation);
  TCustomSampler* previous = Rasterizer.Sampler();
  Rasterizer.SetSampler(transformer.get());
  try {
    Rasterizer.Render(Dst, area, Src);
  } catch (...) {
    Rasterizer.SetSampler(previous);
    throw;
  }
  Rasterizer.SetSampler(previous);  // the transformer dies here; leave nothing dangling
  Dst.AreaChanged(area);
}

void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation, TRasterizer& Rasterizer) {
  Transform(Dst, Src, Transformation, Dst.BoundsRect(), Rasterizer);
}

void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation, const TRect& DstClip) {
  const auto rasterizer = TransformRasterizerClass();
  Transform(Dst, Src, Transformation, DstClip, *rasterizer);
}

void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation) {
  Transform(Dst, Src, Transformation, Dst.BoundsRect());
}

}  // namespace quirlon::raster
