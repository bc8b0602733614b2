#include "raster/Resamplers.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "raster/Blend.h"
#include "raster/Errors.h"
#include "raster/Bounds.h"
#include "raster/Numeric.h"
#include "raster/Parallel.h"

namespace quirlon::raster {

namespace {

TDrawMode EffectiveOp(TDrawMode Op, const TPixelCombineEvent& Callback) {
  return (Op == dmCustom && !Callback) ? dmOpaque : Op;
}

// Clips DstClip to Dst and DstRect and checks SrcRect; false when there is nothing to draw.
bool PrepareStretch(const TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                    const TRect& SrcRect, TRect& Clip) {
  Clip = IntersectRect(IntersectRect(DstClip, Dst.BoundsRect()), DstRect);
  if (Clip.IsEmpty()) return false;
  if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src.Width() || SrcRect.Bottom > Src.Height())
    throw EBitmapException("Invalid SrcRect");
  return !SrcRect.IsEmpty();
}

std::int32_t ClampTo(std::int64_t v, std::int32_t lo, std::int32_t hi) {
  return static_cast<std::int32_t>(v < lo ? lo : (v > hi ? hi : v));
}

// One axis of BilinearStretch: the left (upper) neighbour and its weight per destination position,
// plus the two indices actually read, kept inside the source bitmap.
struct TBilinearAxis {
  std::vector<std::int32_t> Pos, Read0, Read1;
  std::vector<std::uint32_t> Weight;
};

TBilinearAxis BuildBilinearAxis(std::int32_t DstLo, std::int32_t DstHi, std::int32_t ClipLo, std::int32_t ClipHi,
                                std::int32_t SrcLo, std::int32_t SrcHi, std::int32_t SrcSize) {
  const std::int32_t n = ClipHi - ClipLo;
  TBilinearAxis axis;
  axis.Pos.resize(n);
  axis.Weight.resize(n);
  axis.Read0.resize(n);
  axis.Read1.resize(n);
  const float s = StoreSingle(static_cast<Extended>(SrcHi - SrcLo) / static_cast<Extended>(DstHi - DstLo));
  const float maxC = static_cast<float>(SrcSize - 1);
  for (std::int32_t i = 0; i < n; ++i) {
    const Extended rel = static_cast<Extended>(static_cast<std::int64_t>(ClipLo) + i - DstLo);
    float c = StoreSingle((rel + 0.5L) * s + (static_cast<Extended>(SrcLo) - 0.5L));
    if (c < 0.0f) c = 0.0f;
    if (c > maxC) c = maxC;
    const Extended fl = std::floor(static_cast<Extended>(c));
    axis.Pos[i] = static_cast<std::int32_t>(fl);
    axis.Weight[i] = static_cast<std::uint32_t>(256 - Round((static_cast<Extended>(c) - fl) * 256.0L));
  }
  // The last source column has no right neighbour: weigh it fully as the right one of a pair.
  for (std::int32_t i = n - 1; i >= 0 && axis.Pos[i] == SrcHi - 1; --i) {
    axis.Pos[i] -= 1;
    axis.Weight[i] = 0;
  }
  for (std::int32_t i = 0; i < n; ++i) {
    axis.Read0[i] = ClampTo(axis.Pos[i], 0, SrcSize - 1);
    axis.Read1[i] = ClampTo(static_cast<std::int64_t>(axis.Pos[i]) + 1, 0, SrcSize - 1);
  }
  return axis;
}

// Pixel (X, Y) of Bitmap by access mode, within the clip rectangle taken at BeginSampling.
TColor32 ReadPixel(const TBitmap32& Bitmap, const TRect& Clip, TPixelAccessMode Mode, std::int32_t X,
                   std::int32_t Y) {
  if (Clip.IsEmpty()) return Bitmap.OuterColor();
  switch (Mode) {
    case pamWrap:
      return Bitmap.PixelAt(WrapCoord(Bitmap.WrapMode(), X, Clip.Left, Clip.Right - 1),
                            WrapCoord(Bitmap.WrapMode(), Y, Clip.Top, Clip.Bottom - 1));
    case pamTransparentEdge: {
      const std::int32_t cx = ClampTo(X, Clip.Left, Clip.Right - 1);
      const std::int32_t cy = ClampTo(Y, Clip.Top, Clip.Bottom - 1);
      const TColor32 c = Bitmap.PixelAt(cx, cy);
      return (cx == X && cy == Y) ? c : (c & 0x00FFFFFFu);
    }
    default:
      if (X >= Clip.Left && X < Clip.Right && Y >= Clip.Top && Y < Clip.Bottom) return Bitmap.PixelAt(X, Y);
      return Bitmap.OuterColor();
  }
}

// Whether any tap lies in columns [From, To).
bool TapsMeet(const std::vector<TSourceWeight>& Taps, std::int32_t From, std::int32_t To) {
  for (const TSourceWeight& e : Taps)
    if (e.Pos >= From && e.Pos < To) return true;
  return false;
}

// The two passes of KernelStretch with accumulators of type Acc. Vertical: for each destination
// row, the weighted source rows summed per column Lo..Hi. Horizontal: per destination pixel, the
// weighted column sums; totals are the channel values times 65536 and the fraction is dropped.
// The sums run in the unsigned type of Acc, so that kernels with absurd parameters wrap around
// instead of overflowing; within range the signed reading is the exact total.
// Transparent black adds nothing to a sum, so the vertical pass reads only the source's non-zero
// rows and columns; the other column sums stay 0, as the full pass leaves them.
template <class Acc>
void KernelRows(TBitmap32& Dst, const TRect& Clip, const TBitmap32& Src, const TWeightMap& MapX,
                const TWeightMap& MapY, std::int32_t Lo, std::int32_t Hi, bool NeedsClamp,
                const TRowCombiner& Combiner) {
  using UAcc = std::make_unsigned_t<Acc>;
  const std::int32_t cw = Clip.Width();
  const std::size_t span = static_cast<std::size_t>(Hi - Lo + 1);
  // A promised rectangle serves as well as the exact bounds (zeros add nothing) and costs no search.
  const TRect content = Src.ZeroOutsidePromised() ? Src.ZeroOutside() : NonzeroBounds(Src);
  // Columns [first, last) of the sums that can be non-zero; none when the source is all zero.
  const std::size_t first = static_cast<std::size_t>(std::clamp(content.Left, Lo, Hi + 1) - Lo);
  const std::size_t last = std::max(first, static_cast<std::size_t>(std::clamp(content.Right, Lo, Hi + 1) - Lo));
  auto pack = [NeedsClamp](UAcc sum) -> TColor32 {
    Acc total = static_cast<Acc>(sum);
    if (NeedsClamp) {
      if (total > 0xFF0000) total = 0xFF0000;
      if (total < 0) total = 0;
    }
    return static_cast<TColor32>((total >> 16) & 0xFF);
  };

  // Destination rows are independent: with a combiner that allows it and another source bitmap,
  // two threads share them, each with its own sums and line.
  std::vector<UAcc> sumsOf[kMaxWorkers];
  std::vector<TColor32> lineOf[kMaxWorkers];
  for (std::int32_t w = 0; w < kMaxWorkers; ++w) {
    sumsOf[w].assign(span * 4, UAcc{0});
    lineOf[w].resize(static_cast<std::size_t>(cw));
  }
  auto rows = [&](std::int32_t from, std::int32_t to, std::int32_t worker) noexcept {
    std::vector<UAcc>& sums = sumsOf[worker];
    std::vector<TColor32>& line = lineOf[worker];
    for (std::int32_t y = from; y < to; ++y) {
      std::fill(sums.begin() + 4 * first, sums.begin() + 4 * last, UAcc{0});
      bool rowHasContent = false;
      for (const TSourceWeight& e : MapY[static_cast<std::size_t>(y - Clip.Top)]) {
        if (e.Pos < content.Top || e.Pos >= content.Bottom) continue;
        rowHasContent = true;
        const TColor32* s = Src.ScanLine(e.Pos) + Lo;
        const UAcc w = static_cast<UAcc>(static_cast<Acc>(e.Weight));
        UAcc* acc = sums.data();
        std::size_t k = first;
#if defined(__SSE2__)
        if constexpr (sizeof(UAcc) == 4) {
          // With a weight that fits 16 bits, channel x weight is one 16-bit multiply-add per
          // 32-bit lane, with the same low 32 bits as the scalar product.
          if (e.Weight >= -32768 && e.Weight <= 32767) {
            const __m128i zero = _mm_setzero_si128();
            const __m128i wv = _mm_set1_epi32(static_cast<int>(e.Weight) & 0xFFFF);
            for (; k + 4 <= last; k += 4) {
              const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k));
              const __m128i lo = _mm_unpacklo_epi8(px, zero), hi = _mm_unpackhi_epi8(px, zero);
              const __m128i parts[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                                        _mm_unpacklo_epi16(hi, zero), _mm_unpackhi_epi16(hi, zero)};
              for (int j = 0; j < 4; ++j) {
                __m128i* a = reinterpret_cast<__m128i*>(acc + 4 * (k + j));
                _mm_storeu_si128(a, _mm_add_epi32(_mm_loadu_si128(a), _mm_madd_epi16(parts[j], wv)));
              }
            }
          }
        }
#endif
        for (; k < last; ++k) {
          const TColor32 c = s[k];
          acc[4 * k + 0] += w * static_cast<UAcc>(c & 0xFF);
          acc[4 * k + 1] += w * static_cast<UAcc>((c >> 8) & 0xFF);
          acc[4 * k + 2] += w * static_cast<UAcc>((c >> 16) & 0xFF);
          acc[4 * k + 3] += w * static_cast<UAcc>(c >> 24);
        }
      }
      for (std::int32_t i = 0; i < cw; ++i) {
        // Sums outside the content columns (or of a row without content) are 0, and so the pixel.
        const auto& taps = MapX[static_cast<std::size_t>(i)];
        if (!rowHasContent || taps.empty() || !TapsMeet(taps, Lo + static_cast<std::int32_t>(first),
                                                        Lo + static_cast<std::int32_t>(last))) {
          line[i] = 0;
          continue;
        }
        UAcc b = 0, g = 0, r = 0, a = 0;
        for (const TSourceWeight& e : taps) {
          const UAcc* acc = &sums[static_cast<std::size_t>(e.Pos - Lo) * 4];
          const UAcc w = static_cast<UAcc>(static_cast<Acc>(e.Weight));
          b += w * acc[0];
          g += w * acc[1];
          r += w * acc[2];
          a += w * acc[3];
        }
        line[i] = (pack(a) << 24) | (pack(r) << 16) | (pack(g) << 8) | pack(b);
      }
      Combiner.Put(line.data(), Dst.ScanLine(y) + Clip.Left, cw);
    }
  };
  if (Combiner.RowsIndependent() && &Src != &Dst)
    ParallelFor(Clip.Top, Clip.Bottom, 16, rows);
  else
    rows(Clip.Top, Clip.Bottom, 0);
}

}  // namespace

// --- arithmetic ---

TColor32 BilinearMix(TColor32 C11, TColor32 C12, TColor32 C21, TColor32 C22, std::uint32_t U, std::uint32_t V) {
  // Two channels per 32-bit word (blue/red, then green/alpha): each lane holds at most
  // 255 * 256 < 65536, so lanes never carry into each other and each shift truncates per lane.
  constexpr std::uint32_t kLanes = 0x00FF00FFu;
  const std::uint32_t u1 = 256 - U, v1 = 256 - V;
  auto lerp = [](std::uint32_t a, std::uint32_t b, std::uint32_t w, std::uint32_t w1) {
    return ((a * w + b * w1) >> 8) & kLanes;
  };
  const std::uint32_t topBR = lerp(C11 & kLanes, C12 & kLanes, U, u1);
  const std::uint32_t topGA = lerp((C11 >> 8) & kLanes, (C12 >> 8) & kLanes, U, u1);
  const std::uint32_t bottomBR = lerp(C21 & kLanes, C22 & kLanes, U, u1);
  const std::uint32_t bottomGA = lerp((C21 >> 8) & kLanes, (C22 >> 8) & kLanes, U, u1);
  return lerp(topBR, bottomBR, V, v1) | (lerp(topGA, bottomGA, V, v1) << 8);
}

TWeightMap BuildWeightMap(std::int32_t DstLo, std::int32_t DstHi, std::int32_t ClipLo, std::int32_t ClipHi,
                          std::int32_t SrcLo, std::int32_t SrcHi, const TCustomKernel& Kernel) {
  const std::int64_t srcW = static_cast<std::int64_t>(SrcHi) - SrcLo;
  const std::int64_t dstW = static_cast<std::int64_t>(DstHi) - DstLo;
  const std::int64_t clipW = static_cast<std::int64_t>(ClipHi) - ClipLo;
  TWeightMap map;
  if (srcW <= 0) return map;
  if (srcW == 1) {
    if (clipW > 0) map.assign(static_cast<std::size_t>(clipW), TWeightList{TSourceWeight{SrcLo, 256}});
    return map;
  }
  if (clipW <= 0) return map;

  float scale = StoreSingle(static_cast<Extended>(dstW) / static_cast<Extended>(srcW));
  float width = StoreSingle(Kernel.Support());
  map.resize(static_cast<std::size_t>(clipW));
  if (scale == 0.0f) {
    map[0].push_back(TSourceWeight{static_cast<std::int32_t>((static_cast<std::int64_t>(SrcLo) + SrcHi) / 2), 256});
    return map;
  }
  const bool reduce = scale < 1.0f;
  float q = 1.0f;
  if (reduce) {
    q = scale;
    scale = StoreSingle(Divide(1.0L, q));
    width = StoreSingle(static_cast<Extended>(width) * scale);
  } else {
    scale = StoreSingle(Divide(1.0L, scale));
  }

  for (std::int64_t i = 0; i < clipW; ++i) {
    const Extended rel = static_cast<Extended>(i - DstLo + ClipLo);
    const float c = StoreSingle((rel + 0.5L) * scale + (static_cast<Extended>(SrcLo) - 0.5L));
    const std::int32_t jLo = Floor(static_cast<Extended>(c) - width);
    const std::int32_t jHi = Ceil(static_cast<Extended>(c) + width);
    TWeightList& list = map[static_cast<std::size_t>(i)];
    std::int32_t total = -256;
    for (std::int64_t j = jLo; j <= jHi; ++j) {
      std::int32_t weight;
      if (reduce) {
        const float arg = StoreSingle((static_cast<Extended>(c) - static_cast<Extended>(j)) * q);
        weight = Round(static_cast<Extended>(Kernel.KernelValue(arg)) * 256.0L * q);
      } else {
        const float arg = StoreSingle(static_cast<Extended>(c) - static_cast<Extended>(j));
        weight = Round(static_cast<Extended>(Kernel.KernelValue(arg)) * 256.0L);
      }
      if (weight == 0) continue;
      list.push_back(TSourceWeight{ClampTo(j, SrcLo, SrcHi - 1), weight});
      total += weight;
    }
    if (list.empty()) {
      // Clamped as well: a kernel narrower than the pixel spacing must not point outside the span.
      list.push_back(TSourceWeight{ClampTo(Floor(c), SrcLo, SrcHi - 1), 256});
    } else if (total != 0) {
      list[(list.size() - 1) / 2].Weight -= total;
    }
  }
  return map;
}

// --- stretches ---

void NearestStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                    const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) {
  TRect clip;
  if (!PrepareStretch(Dst, DstRect, DstClip, Src, SrcRect, clip)) return;
  const std::int32_t srcW = SrcRect.Width(), srcH = SrcRect.Height();
  const std::int32_t dstW = DstRect.Width(), dstH = DstRect.Height();
  const std::int32_t cw = clip.Width(), ch = clip.Height();
  if (srcW == dstW && srcH == dstH) {
    TransferBlock(Dst, clip, Src, SrcRect.Left + clip.Left - DstRect.Left, SrcRect.Top + clip.Top - DstRect.Top,
                  CombineOp, CombineCallback);
    return;
  }

  // Clamped into the source span: a float scale a hair above SrcW / DstW must not step past it.
  std::vector<std::int32_t> map(static_cast<std::size_t>(cw));
  if (dstW <= 1) {
    map[0] = (SrcRect.Left + SrcRect.Right - 1) / 2;
  } else {
    const float s = StoreSingle(static_cast<Extended>(srcW) / static_cast<Extended>(dstW));
    for (std::int32_t i = 0; i < cw; ++i) {
      const Extended rel = static_cast<Extended>(static_cast<std::int64_t>(i) + clip.Left - DstRect.Left);
      map[i] = ClampTo(Trunc(rel * s + static_cast<Extended>(SrcRect.Left)), SrcRect.Left, SrcRect.Right - 1);
    }
  }
  const float t = dstH > 1 ? StoreSingle(static_cast<Extended>(srcH) / static_cast<Extended>(dstH)) : 0.0f;
  auto sourceRow = [&](std::int32_t j) -> std::int32_t {
    if (dstH <= 1) return (SrcRect.Top + SrcRect.Bottom - 1) / 2;
    const Extended rel = static_cast<Extended>(static_cast<std::int64_t>(j) + clip.Top - DstRect.Top);
    return ClampTo(Trunc(rel * t + static_cast<Extended>(SrcRect.Top)), SrcRect.Top, SrcRect.Bottom - 1);
  };

  const TDrawMode op = EffectiveOp(CombineOp, CombineCallback);
  if (op == dmOpaque) {
    std::int32_t previous = -1;
    for (std::int32_t j = 0; j < ch; ++j) {
      const std::int32_t y = clip.Top + j;
      const std::int32_t sy = sourceRow(j);
      TColor32* d = Dst.ScanLine(y) + clip.Left;
      if (j > 0 && sy == previous) {
        std::copy_n(Dst.ScanLine(y - 1) + clip.Left, cw, d);
      } else {
        const TColor32* s = Src.ScanLine(sy);
        for (std::int32_t i = 0; i < cw; ++i) d[i] = s[map[i]];
      }
      previous = sy;
    }
    return;
  }

  std::vector<TColor32> line(static_cast<std::size_t>(cw));
  const TRowCombiner combiner(Src, op, CombineCallback, TBlendRule::Row);
  std::int32_t previous = -1;
  for (std::int32_t j = 0; j < ch; ++j) {
    const std::int32_t sy = sourceRow(j);
    if (j == 0 || sy != previous) {
      const TColor32* s = Src.ScanLine(sy);
      for (std::int32_t i = 0; i < cw; ++i) line[i] = s[map[i]];
      previous = sy;
    }
    combiner.Put(line.data(), Dst.ScanLine(clip.Top + j) + clip.Left, cw);
  }
}

void BilinearStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                     const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) {
  TRect clip;
  if (!PrepareStretch(Dst, DstRect, DstClip, Src, SrcRect, clip)) return;
  const TBilinearAxis ax =
      BuildBilinearAxis(DstRect.Left, DstRect.Right, clip.Left, clip.Right, SrcRect.Left, SrcRect.Right, Src.Width());
  const TBilinearAxis ay =
      BuildBilinearAxis(DstRect.Top, DstRect.Bottom, clip.Top, clip.Bottom, SrcRect.Top, SrcRect.Bottom, Src.Height());
  const std::int32_t cw = clip.Width(), ch = clip.Height();
  const TRowCombiner combiner(Src, CombineOp, CombineCallback, TBlendRule::Pixel);
  std::vector<TColor32> line(static_cast<std::size_t>(cw));
  for (std::int32_t j = 0; j < ch; ++j) {
    const TColor32* upper = Src.ScanLine(ay.Read0[j]);
    const TColor32* lower = Src.ScanLine(ay.Read1[j]);
    const std::uint32_t v = ay.Weight[j];
    for (std::int32_t i = 0; i < cw; ++i) {
      const std::int32_t x0 = ax.Read0[i], x1 = ax.Read1[i];
      line[i] = BilinearMix(upper[x0], upper[x1], lower[x0], lower[x1], ax.Weight[i], v);
    }
    combiner.Put(line.data(), Dst.ScanLine(clip.Top + j) + clip.Left, cw);
  }
}

void KernelStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                   const TRect& SrcRect, const TCustomKernel& Kernel, TDrawMode CombineOp,
                   const TPixelCombineEvent& CombineCallback) {
  const TDrawMode op = EffectiveOp(CombineOp, CombineCallback);
  if (op == dmBlend && Src.MasterAlpha() == 0) return;
  TRect clip;
  if (!PrepareStretch(Dst, DstRect, DstClip, Src, SrcRect, clip)) return;
  const TWeightMap mapX =
      BuildWeightMap(DstRect.Left, DstRect.Right, clip.Left, clip.Right, SrcRect.Left, SrcRect.Right, Kernel);
  const TWeightMap mapY =
      BuildWeightMap(DstRect.Top, DstRect.Bottom, clip.Top, clip.Bottom, SrcRect.Top, SrcRect.Bottom, Kernel);
  if (mapX.empty() || mapY.empty()) return;

  // The columns any destination pixel reads (the true extremes, not just the end lists' ends:
  // weights that round to 0 are left out, so a middle list may reach further than the first).
  std::int32_t lo = std::numeric_limits<std::int32_t>::max(), hi = std::numeric_limits<std::int32_t>::min();
  for (const TWeightList& list : mapX)
    for (const TSourceWeight& e : list) {
      lo = std::min(lo, e.Pos);
      hi = std::max(hi, e.Pos);
    }
  if (lo > hi) return;

  // 32-bit sums (which the compiler can vectorise) whenever no total can leave them; only
  // kernels with absurd parameters need 64 bits.
  auto maxAbsSum = [](const TWeightMap& map) {
    std::int64_t m = 0;
    for (const TWeightList& list : map) {
      std::int64_t s = 0;
      for (const TSourceWeight& e : list) s += e.Weight < 0 ? -static_cast<std::int64_t>(e.Weight) : e.Weight;
      m = std::max(m, s);
    }
    return m;
  };
  const std::int64_t sumX = maxAbsSum(mapX), sumY = maxAbsSum(mapY);
  const TRowCombiner combiner(Src, CombineOp, CombineCallback, TBlendRule::Pixel);
  if (sumY <= (std::int64_t{1} << 22) && sumX <= (std::int64_t{1} << 22) && sumX * sumY * 255 < (std::int64_t{1} << 31))
    KernelRows<std::int32_t>(Dst, clip, Src, mapX, mapY, lo, hi, Kernel.NeedsClamp(), combiner);
  else
    KernelRows<std::int64_t>(Dst, clip, Src, mapX, mapY, lo, hi, Kernel.NeedsClamp(), combiner);
}

void DraftStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                  const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) {
  const TDrawMode op = EffectiveOp(CombineOp, CombineCallback);
  if (op == dmBlend && Src.MasterAlpha() == 0) return;
  TRect clip;
  if (!PrepareStretch(Dst, DstRect, DstClip, Src, SrcRect, clip)) return;
  const std::int64_t srcW = SrcRect.Width(), srcH = SrcRect.Height();
  const std::int64_t dstW = DstRect.Width(), dstH = DstRect.Height();
  if (srcW < dstW || srcH < dstH) return;
  const std::int32_t cw = clip.Width();

  // Block edges: bx[i] .. bx[i + 1] are the source columns of clip column i.
  std::vector<std::int32_t> bx(static_cast<std::size_t>(cw) + 1);
  for (std::int32_t i = 0; i <= cw; ++i)
    bx[i] = static_cast<std::int32_t>(SrcRect.Left + (clip.Left - DstRect.Left + i) * srcW / dstW);
  std::vector<std::uint64_t> sums(static_cast<std::size_t>(cw) * 4);
  std::vector<TColor32> line(static_cast<std::size_t>(cw));
  const TRowCombiner combiner(Src, CombineOp, CombineCallback, TBlendRule::Pixel);

  for (std::int32_t y = clip.Top; y < clip.Bottom; ++y) {
    const std::int64_t rel = y - DstRect.Top;
    const std::int32_t y0 = static_cast<std::int32_t>(SrcRect.Top + rel * srcH / dstH);
    const std::int32_t y1 = static_cast<std::int32_t>(SrcRect.Top + (rel + 1) * srcH / dstH);
    std::fill(sums.begin(), sums.end(), 0);
    for (std::int32_t sy = y0; sy < y1; ++sy) {
      const TColor32* s = Src.ScanLine(sy);
      for (std::int32_t i = 0; i < cw; ++i) {
        std::uint64_t* acc = &sums[static_cast<std::size_t>(i) * 4];
        for (std::int32_t sx = bx[i]; sx < bx[i + 1]; ++sx) {
          const TColor32 c = s[sx];
          acc[0] += c & 0xFF;
          acc[1] += (c >> 8) & 0xFF;
          acc[2] += (c >> 16) & 0xFF;
          acc[3] += c >> 24;
        }
      }
    }
    const std::uint64_t rows = static_cast<std::uint64_t>(y1 - y0);
    for (std::int32_t i = 0; i < cw; ++i) {
      const std::uint64_t count = rows * static_cast<std::uint64_t>(bx[i + 1] - bx[i]);
      const std::uint64_t* acc = &sums[static_cast<std::size_t>(i) * 4];
      TColor32 c = 0;
      for (int k = 0; k < 4; ++k) c |= static_cast<TColor32>((acc[k] + count / 2) / count) << (8 * k);
      line[i] = c;
    }
    combiner.Put(line.data(), Dst.ScanLine(y) + clip.Left, cw);
  }
}

// --- TLinearResampler ---

TLinearResampler::TLinearResampler(TBitmap32& Bitmap)
    : TBitmap32Resampler(Bitmap), fLinearKernel(std::make_unique<TLinearKernel>()) {}

void TLinearResampler::Resample(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                                const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) {
  const std::int32_t srcW = SrcRect.Width(), srcH = SrcRect.Height();
  if (DstRect.Width() > srcW && DstRect.Height() > srcH && srcW > 1 && srcH > 1)
    BilinearStretch(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallback);
  else
    KernelStretch(Dst, DstRect, DstClip, Src, SrcRect, *fLinearKernel, CombineOp, CombineCallback);
}

TColor32 TLinearResampler::SampleInt(std::int32_t X, std::int32_t Y) {
  return ReadPixel(*fBitmap, fClipRect, fPixelAccessMode, X, Y);
}

TColor32 TLinearResampler::SampleFixed(TFixed16 X, TFixed16 Y) {
  const std::int32_t x0 = X >> 16, y0 = Y >> 16;
  const std::uint32_t u = 256 - ((static_cast<std::uint32_t>(X) >> 8) & 0xFF);
  const std::uint32_t v = 256 - ((static_cast<std::uint32_t>(Y) >> 8) & 0xFF);
  const TBitmap32& b = *fBitmap;
  return BilinearMix(ReadPixel(b, fClipRect, fPixelAccessMode, x0, y0),
                     ReadPixel(b, fClipRect, fPixelAccessMode, x0 + 1, y0),
                     ReadPixel(b, fClipRect, fPixelAccessMode, x0, y0 + 1),
                     ReadPixel(b, fClipRect, fPixelAccessMode, x0 + 1, y0 + 1), u, v);
}

// --- TDraftResampler ---

void TDraftResampler::Resample(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                               const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) {
  const std::int32_t srcW = SrcRect.Width(), srcH = SrcRect.Height();
  if (DstRect.Width() > srcW || DstRect.Height() > srcH) {
    if (srcW >= 2 && srcH >= 2)
      BilinearStretch(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallback);
    else
      KernelStretch(Dst, DstRect, DstClip, Src, SrcRect, *fLinearKernel, CombineOp, CombineCallback);
  } else {
    DraftStretch(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallback);
  }
}

// --- TKernelResampler ---

namespace {
constexpr std::int32_t kMaxKernelRadius = 16;  // taps per side for point samples, whatever the support
}

TKernelResampler::TKernelResampler(TBitmap32& Bitmap)
    : TBitmap32Resampler(Bitmap), fKernel(std::make_unique<TBoxKernel>()) {
  fKernel->SetObserver(this);
}

void TKernelResampler::Resample(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                                const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) {
  KernelStretch(Dst, DstRect, DstClip, Src, SrcRect, *fKernel, CombineOp, CombineCallback);
}

void TKernelResampler::AssignSettings(const TCustomResampler& Source) {
  TBitmap32Resampler::AssignSettings(Source);
  if (const auto* src = dynamic_cast<const TKernelResampler*>(&Source)) {
    if (src == this) return;
    SetKernel(src->fKernel->Clone());
    SetKernelMode(src->fKernelMode);
    SetTableSize(src->fTableSize);
  }
}

void TKernelResampler::Changed() {
  fTableValid = false;
  TBitmap32Resampler::Changed();
}

void TKernelResampler::SetKernel(std::unique_ptr<TCustomKernel> Value) {
  if (!Value) return;
  if (Value.get() == fKernel.get()) {
    (void)Value.release();  // already owned by fKernel
    return;
  }
  fKernel = std::move(Value);
  fKernel->SetObserver(this);
  Changed();
}

void TKernelResampler::SetKernelClassName(const std::string& Name) {
  if (Name == KernelClassName()) return;
  if (const TKernelClass* cls = FindKernelClass(Name)) SetKernel(cls->Create());
}

void TKernelResampler::SetKernelMode(TKernelMode Value) {
  if (Value == fKernelMode) return;
  fKernelMode = Value;
  Changed();
}

void TKernelResampler::SetTableSize(std::int32_t Value) {
  if (Value < 2) Value = 2;
  if (Value == fTableSize) return;
  fTableSize = Value;
  Changed();
}

void TKernelResampler::AxisWeights(long double Frac, std::vector<long double>& Weights) {
  for (std::int32_t k = -fRadius; k <= fRadius; ++k)
    Weights[static_cast<std::size_t>(k + fRadius)] = fKernel->KernelValue(StoreSingle(Frac - k));
}

void TKernelResampler::BuildTable() {
  const float support = fKernel->Support();
  fRadius = 1;
  if (support > 1.0f) fRadius = support >= kMaxKernelRadius ? kMaxKernelRadius : Ceil(support);
  const std::size_t taps = static_cast<std::size_t>(2 * fRadius + 1);
  fWx.assign(taps, 0.0L);
  fWy.assign(taps, 0.0L);
  fTable.clear();
  if (fKernelMode != kmDynamic) {
    fTable.resize(static_cast<std::size_t>(fTableSize + 1) * taps);
    std::vector<long double> row(taps);
    for (std::int32_t r = 0; r <= fTableSize; ++r) {
      AxisWeights(static_cast<long double>(r) / fTableSize, row);
      std::copy(row.begin(), row.end(), fTable.begin() + static_cast<std::ptrdiff_t>(r * taps));
    }
  }
  fTableValid = true;
}

void TKernelResampler::BeginSampling() {
  TBitmap32Resampler::BeginSampling();
  if (!fTableValid) BuildTable();
}

TColor32 TKernelResampler::SampleAt(long double X, long double Y) {
  if (!(std::fabs(X) < 1e9L && std::fabs(Y) < 1e9L)) return fBitmap->OuterColor();
  if (!fTableValid) BuildTable();
  const long double fx0 = std::floor(X), fy0 = std::floor(Y);
  const std::int32_t x0 = static_cast<std::int32_t>(fx0), y0 = static_cast<std::int32_t>(fy0);
  const std::size_t taps = static_cast<std::size_t>(2 * fRadius + 1);

  auto weights = [&](long double frac, std::vector<long double>& out) {
    if (fKernelMode == kmDynamic) {
      AxisWeights(frac, out);
      return;
    }
    const long double pos = frac * fTableSize;
    if (fKernelMode == kmTableNearest) {
      const std::size_t r = static_cast<std::size_t>(std::nearbyint(pos));
      std::copy_n(fTable.begin() + static_cast<std::ptrdiff_t>(r * taps), taps, out.begin());
      return;
    }
    const long double r0 = std::floor(pos);
    const long double t = pos - r0;
    const std::size_t i0 = static_cast<std::size_t>(r0);
    const std::size_t i1 = std::min<std::size_t>(i0 + 1, static_cast<std::size_t>(fTableSize));
    for (std::size_t k = 0; k < taps; ++k)
      out[k] = (1.0L - t) * fTable[i0 * taps + k] + t * fTable[i1 * taps + k];
  };
  weights(X - fx0, fWx);
  weights(Y - fy0, fWy);

  long double acc[4] = {0, 0, 0, 0};
  long double total = 0;
  for (std::size_t ky = 0; ky < taps; ++ky) {
    if (fWy[ky] == 0) continue;
    const std::int32_t y = y0 + static_cast<std::int32_t>(ky) - fRadius;
    for (std::size_t kx = 0; kx < taps; ++kx) {
      const long double w = fWy[ky] * fWx[kx];
      if (w == 0) continue;
      const TColor32 c = ReadPixel(*fBitmap, fClipRect, fPixelAccessMode, x0 + static_cast<std::int32_t>(kx) - fRadius, y);
      for (int k = 0; k < 4; ++k) acc[k] += w * ((c >> (8 * k)) & 0xFF);
      total += w;
    }
  }
  if (std::fabs(total) < 1e-12L)
    return ReadPixel(*fBitmap, fClipRect, fPixelAccessMode, static_cast<std::int32_t>(std::nearbyint(X)),
                     static_cast<std::int32_t>(std::nearbyint(Y)));
  TColor32 result = 0;
  for (int k = 0; k < 4; ++k) {
    long double v = std::nearbyint(acc[k] / total);
    v = v < 0 ? 0 : (v > 255 ? 255 : v);
    result |= static_cast<TColor32>(v) << (8 * k);
  }
  return result;
}

TColor32 TKernelResampler::SampleInt(std::int32_t X, std::int32_t Y) { return SampleAt(X, Y); }

TColor32 TKernelResampler::SampleFixed(TFixed16 X, TFixed16 Y) { return SampleAt(X / 65536.0L, Y / 65536.0L); }

TColor32 TKernelResampler::SampleFloat(float X, float Y) { return SampleAt(X, Y); }

}  // namespace quirlon::raster
