#include "raster/Blend.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster/Errors.h"
#include "raster/Parallel.h"
#include "raster/Sampler.h"

namespace quirlon::raster {

namespace {

// All four channels with weight w (0..255). The sum per channel stays within 128..65407, so this
// equals the 16-bit lane form ((B * 256 + 128 + (F - B) * w) mod 65536) >> 8.
inline TColor32 Mix(TColor32 F, TColor32 B, TColor32 w) { return MixWeighted(F, B, w); }

inline std::uint32_t ClampMaster(std::uint32_t M) { return M > 255 ? 255 : M; }

// Straight-alpha "over" with F's alpha already scaled (fa = Fa'). Exact: with
// A = 255 * Ra = fa * 255 + Ba * (255 - fa), each channel is (Fc * fa * 255 + Bc * Ba * (255 - fa)) / A.
// A / 255 can never be an exact half (255 is odd); the channel quotient can, and rounds up.
inline TColor32 MergeScaled(TColor32 F, TColor32 B, TColor32 fa) {
  if (fa == 0) return B;
  const TColor32 ba = B >> 24;
  if (fa == 255 || ba == 0) return (F & 0x00FFFFFFu) | (fa << 24);
  const TColor32 bw = ba * (255 - fa);  // background weight times 255
  const TColor32 a = fa * 255 + bw;     // > 0
  const TColor32 ra = (a + 127) / 255;
  TColor32 result = ra << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    const TColor32 num = ((F >> shift) & 0xFF) * fa * 255 + ((B >> shift) & 0xFF) * bw;
    const TColor32 c = (2 * num + a) / (2 * a);  // round(num / a), halves up; never above 255
    result |= c << shift;
  }
  return result;
}

inline TColor32 ScaleAlpha(TColor32 Fa, std::uint32_t M) {
  if (M >= 255) return Fa;
  return (Fa * M + 127) / 255;  // Fa * M / 255 is never an exact half
}

}  // namespace

void BlendPixel(TColor32 F, TColor32& B, std::uint32_t M) {
  const TColor32 fa = F >> 24;
  if (fa == 0) return;
  const TColor32 w = (fa * (ClampMaster(M) + 1)) >> 8;
  if (w == 0) return;
  B = Mix(F, B, w);
}

namespace {


// Rows that do not overlap: four at a time reads nothing that the same call wrote (a bitmap drawn
// onto itself one pixel along must see its own earlier results, as pixel by pixel does).
inline bool Apart(const TColor32* Src, const TColor32* Dst, std::int32_t Count) {
  return Src + Count <= Dst || Dst + Count <= Src;
}

}  // namespace

void BlendRow(const TColor32* Src, TColor32* Dst, std::int32_t Count) {
  std::int32_t i = 0;
#if defined(__SSE2__)
  // Weight fa; an opaque pixel is copied as it is, a transparent one mixes with weight 0 (= Dst).
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (; i + 4 <= Count && Apart(Src, Dst, Count); i += 4) {
    const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
    const __m128i fa = _mm_srli_epi32(f, 24);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(fa, _mm_setzero_si128())) == 0xFFFF) continue;
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + i));
    const __m128i isOpaque = _mm_cmpeq_epi32(_mm_and_si128(f, opaque), opaque);
    const __m128i mixed = MixFour(f, b, fa);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i),
                     _mm_or_si128(_mm_and_si128(isOpaque, f), _mm_andnot_si128(isOpaque, mixed)));
  }
#endif
  for (; i < Count; ++i) {
    const TColor32 F = Src[i];
    const TColor32 fa = F >> 24;
    if (fa == 0) continue;
    Dst[i] = fa == 255 ? F : Mix(F, Dst[i], fa);
  }
}

void BlendRowMaster(const TColor32* Src, TColor32* Dst, std::int32_t Count, std::uint32_t M) {
  const TColor32 m = ClampMaster(M);
  std::int32_t i = 0;
#if defined(__SSE2__)
  // w = ((fa + 1) x m) >> 8 is 0 for fa = 0, and weight 0 leaves Dst as it is: no tests needed.
  const __m128i one = _mm_set1_epi32(1), mm = _mm_set1_epi32(static_cast<int>(m));
  for (; i + 4 <= Count && Apart(Src, Dst, Count); i += 4) {
    const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
    const __m128i fa = _mm_srli_epi32(f, 24);
    // (fa + 1) x m <= 65280 fits the low 16 bits of each lane; the high halves multiply 0 by 0.
    const __m128i w = _mm_srli_epi32(_mm_mullo_epi16(_mm_add_epi32(fa, one), mm), 8);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(w, _mm_setzero_si128())) == 0xFFFF) continue;
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i), MixFour(f, b, w));
  }
#endif
  for (; i < Count; ++i) {
    const TColor32 F = Src[i];
    const TColor32 fa = F >> 24;
    if (fa == 0) continue;
    const TColor32 w = ((fa + 1) * m) >> 8;
    if (w == 0) continue;
    Dst[i] = Mix(F, Dst[i], w);
  }
}

TColor32 MixColors(TColor32 F, TColor32 B, std::uint32_t W) { return Mix(F, B, ClampMaster(W)); }

void MergePixel(TColor32 F, TColor32& B, std::uint32_t M) { B = MergeScaled(F, B, ScaleAlpha(F >> 24, M)); }

namespace {

// MergeScaled for whole rows, where the same pair of alphas (a face over the background) comes
// back pixel after pixel: the channel quotient n / d (n < 2^25, d = 2A <= 130050) is taken as
// n x (1 / d) in double, whose error (below 1e-13) is far smaller than the distance 1 / d of a
// non-integer quotient from the next integer; adding 1e-9 lifts an exact integer that came out a
// hair low. The reciprocal is worked out once per A.
struct TMergeRow {
  TColor32 LastA = 0;
  double Reciprocal = 0;

  TColor32 Merge(TColor32 F, TColor32 B, TColor32 fa) {
    if (fa == 0) return B;
    const TColor32 ba = B >> 24;
    if (fa == 255 || ba == 0) return (F & 0x00FFFFFFu) | (fa << 24);
    const TColor32 bw = ba * (255 - fa);
    const TColor32 a = fa * 255 + bw;
    if (a != LastA) {
      LastA = a;
      Reciprocal = 1.0 / (2.0 * a);
    }
    TColor32 result = ((a + 127) / 255) << 24;
    for (int shift = 0; shift < 24; shift += 8) {
      const TColor32 num = ((F >> shift) & 0xFF) * fa * 255 + ((B >> shift) & 0xFF) * bw;
      result |= static_cast<TColor32>(static_cast<double>(2 * num + a) * Reciprocal + 1e-9) << shift;
    }
    return result;
  }
};

}  // namespace

#if defined(__SSE2__)
namespace {

// Merges onto four opaque destination pixels. Over Ba = 255 the merge reduces to
// round((Fc x fa + Bc x (255 - fa)) / 255) per channel with alpha 255 (there are no halves: 255 is
// odd), and x / 255 rounded is (t + (t >> 8)) >> 8 with t = x + 128 for every x up to 65025.
// fa32 holds each pixel's (scaled) alpha in its lane.
inline __m128i MergeOverOpaqueFour(__m128i f, __m128i b, __m128i fa32) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i round = _mm_set1_epi16(128);
  const __m128i full = _mm_set1_epi16(255);
  const __m128i fa16 = _mm_or_si128(fa32, _mm_slli_epi32(fa32, 16));
  const __m128i walo = _mm_shuffle_epi32(fa16, 0x50), wahi = _mm_shuffle_epi32(fa16, 0xFA);
  auto half = [&](__m128i fc, __m128i bc, __m128i wa) {
    const __m128i x = _mm_add_epi16(_mm_mullo_epi16(fc, wa), _mm_mullo_epi16(bc, _mm_sub_epi16(full, wa)));
    const __m128i t = _mm_add_epi16(x, round);
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  };
  const __m128i lo = half(_mm_unpacklo_epi8(f, zero), _mm_unpacklo_epi8(b, zero), walo);
  const __m128i hi = half(_mm_unpackhi_epi8(f, zero), _mm_unpackhi_epi8(b, zero), wahi);
  return _mm_or_si128(_mm_packus_epi16(lo, hi), _mm_set1_epi32(static_cast<int>(0xFF000000u)));
}

// All four destination pixels opaque.
inline bool OpaqueFour(__m128i b) {
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(b, alpha), alpha)) == 0xFFFF;
}

// All four destination pixels of alpha 0.
inline bool ClearFour(__m128i b) {
  return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(b, 24), _mm_setzero_si128())) == 0xFFFF;
}

// Merges onto four destination pixels of alpha 0 (a fresh layer): where the scaled alpha fa32 is
// not 0 the result is F's colour with that alpha, elsewhere the destination stays.
inline __m128i MergeOverClearFour(__m128i f, __m128i b, __m128i fa32) {
  const __m128i shown = _mm_xor_si128(_mm_cmpeq_epi32(fa32, _mm_setzero_si128()), _mm_set1_epi32(-1));
  const __m128i merged = _mm_or_si128(_mm_and_si128(f, _mm_set1_epi32(0x00FFFFFF)), _mm_slli_epi32(fa32, 24));
  return _mm_or_si128(_mm_and_si128(shown, merged), _mm_andnot_si128(shown, b));
}

}  // namespace
#endif

void MergeRow(const TColor32* Src, TColor32* Dst, std::int32_t Count) {
  // Layers are mostly transparent: runs of alpha 0, which leave Dst as it is, are skipped four at
  // a time and never stored.
  TMergeRow merge;
  std::int32_t i = 0;
  while (i < Count) {
    if (i + 4 <= Count) {
      if (((Src[i] | Src[i + 1] | Src[i + 2] | Src[i + 3]) >> 24) == 0) {
        i += 4;
        continue;
      }
#if defined(__SSE2__)
      if (Apart(Src, Dst, Count)) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + i));
        if (OpaqueFour(b)) {
          const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i), MergeOverOpaqueFour(f, b, _mm_srli_epi32(f, 24)));
          i += 4;
          continue;
        }
        if (ClearFour(b)) {
          const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i), MergeOverClearFour(f, b, _mm_srli_epi32(f, 24)));
          i += 4;
          continue;
        }
      }
#endif
    }
    const TColor32 fa = Src[i] >> 24;
    if (fa != 0) Dst[i] = merge.Merge(Src[i], Dst[i], fa);
    ++i;
  }
}

void MergeRowMaster(const TColor32* Src, TColor32* Dst, std::int32_t Count, std::uint32_t M) {
  if (M >= 255) {
    MergeRow(Src, Dst, Count);  // the alphas as they are
    return;
  }
  TMergeRow merge;
  std::int32_t i = 0;
#if defined(__SSE2__)
  if (M < 255 && Apart(Src, Dst, Count)) {
    // ScaleAlpha in lanes: (Fa x M + 127) / 255 is Fa x M / 255 rounded, by the same identity.
    const __m128i mm = _mm_set1_epi32(static_cast<int>(M)), round = _mm_set1_epi32(128);
    for (; i + 4 <= Count; i += 4) {
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + i));
      const bool opaque = OpaqueFour(b);
      if (!opaque && !ClearFour(b)) {
        for (std::int32_t k = i; k < i + 4; ++k) Dst[k] = merge.Merge(Src[k], Dst[k], ScaleAlpha(Src[k] >> 24, M));
        continue;
      }
      const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
      const __m128i t = _mm_add_epi32(_mm_mullo_epi16(_mm_srli_epi32(f, 24), mm), round);
      const __m128i fa = _mm_srli_epi32(_mm_add_epi32(t, _mm_srli_epi32(t, 8)), 8);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + i),
                       opaque ? MergeOverOpaqueFour(f, b, fa) : MergeOverClearFour(f, b, fa));
    }
  }
#endif
  for (; i < Count; ++i) Dst[i] = merge.Merge(Src[i], Dst[i], ScaleAlpha(Src[i] >> 24, M));
}

const TCombineTables& CombineTables() {
  // Only the reference arithmetic exists, so the choice is made once, here.
  static const TCombineTables tables{{&BlendPixel, &MergePixel}, {&BlendRow, &MergeRow},
                                     {&BlendRowMaster, &MergeRowMaster}};
  return tables;
}

void BlendPixelRow(const TColor32* Src, TColor32* Dst, std::int32_t Count, std::uint32_t M) {
  const std::uint32_t m = M > 255 ? 255 : M;
  std::int32_t k = 0;
#if defined(__SSE2__)
  // w = (Fa x (m + 1)) >> 8 is at most 65280 before the shift, so the low 16 bits of each lane hold
  // it; weight 0 leaves the pixel as it is.
  const __m128i m1 = _mm_set1_epi32(static_cast<int>(m + 1));
  for (; k + 4 <= Count; k += 4) {
    const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + k));
    const __m128i w = _mm_srli_epi32(_mm_mullo_epi16(_mm_srli_epi32(f, 24), m1), 8);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(w, _mm_setzero_si128())) == 0xFFFF) continue;
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + k), MixFour(f, b, w));
  }
#endif
  for (; k < Count; ++k) {
    const TColor32 fa = Src[k] >> 24;
    if (fa == 0) continue;
    const TColor32 w = (fa * (m + 1)) >> 8;
    if (w == 0) continue;
    Dst[k] = MixWeighted(Src[k], Dst[k], w);
  }
}

TRowCombiner::TRowCombiner(TDrawMode Mode, TCombineMode CombineMode, std::uint32_t MasterAlpha, TColor32 OuterColor,
                           const TPixelCombineEvent& Callback, TBlendRule Rule)
    : fMode(Mode == dmCustom && !Callback ? dmOpaque : Mode),
      fRule(Rule),
      fCombineMode(CombineMode),
      fMaster(MasterAlpha),
      fOuter(OuterColor),
      fCallback(&Callback) {}

void TRowCombiner::Put(const TColor32* Colours, TColor32* Dst, std::int32_t Count) const {
  if (Count <= 0) return;
  switch (fMode) {
    case dmOpaque:
      std::memmove(Dst, Colours, static_cast<std::size_t>(Count) * sizeof(TColor32));
      break;
    case dmBlend:
      if (fRule == TBlendRule::Row) {
        if (fMaster >= 255)
          BlendRowProc(fCombineMode)(Colours, Dst, Count);
        else
          BlendRowMasterProc(fCombineMode)(Colours, Dst, Count, fMaster);
      } else if (fCombineMode == cmMerge) {
        // The pixel merge one by one is the row merge.
        MergeRowMaster(Colours, Dst, Count, fMaster);
      } else {
        BlendPixelRow(Colours, Dst, Count, fMaster);
      }
      break;
    case dmTransparent:
      for (std::int32_t i = 0; i < Count; ++i)
        if (Colours[i] != fOuter) Dst[i] = Colours[i];
      break;
    case dmCustom:
      for (std::int32_t i = 0; i < Count; ++i) (*fCallback)(Colours[i], Dst[i], fMaster);
      break;
  }
}

void TransferBlock(TBitmap32& Dst, TRect DstArea, const TBitmap32& Src, std::int32_t SrcX, std::int32_t SrcY,
                   TDrawMode DrawMode, const TPixelCombineEvent& Callback) {
  const std::int32_t w = DstArea.Width();
  const std::int32_t h = DstArea.Height();
  if (w <= 0 || h <= 0) return;
  const TRowCombiner combiner(Src, DrawMode, Callback, TBlendRule::Row);
  auto rows = [&](std::int32_t from, std::int32_t to) noexcept {
    for (std::int32_t row = from; row < to; ++row)
      combiner.Put(Src.ScanLine(SrcY + row) + SrcX, Dst.ScanLine(DstArea.Top + row) + DstArea.Left, w);
  };
  // Blended rows of another bitmap are independent of each other: two threads share them.
  if (combiner.Mode() == dmBlend && &Src != &Dst)
    ParallelFor(0, h, 64, rows);
  else
    rows(0, h);
}

void TransferRect(TBitmap32* Dst, TRect DstRect, TRect DstClip, const TBitmap32* Src, TRect SrcRect,
                  TCustomResampler& Resampler, TDrawMode DrawMode, const TPixelCombineEvent& Callback) {
  if (!Dst) throw EBitmapException("Destination bitmap is nil");
  if (!Src) throw EBitmapException("Source bitmap is nil");
  if (Src->Empty()) return;
  if (Dst->Empty() || (DrawMode == dmBlend && Src->MasterAlpha() == 0)) return;
  if (SrcRect.IsEmpty()) return;
  if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src->Width() || SrcRect.Bottom > Src->Height())
    throw ESrcInvalidException("Source rectangle is invalid");

  DstClip = IntersectRect(IntersectRect(DstClip, Dst->BoundsRect()), DstRect);
  if (DstClip.IsEmpty()) return;
  if (DrawMode == dmCustom && !Callback) DrawMode = dmOpaque;

  // Widths in 64 bits: DstRect is the caller's and may span more than int32.
  const std::int64_t dstW = std::int64_t{DstRect.Right} - DstRect.Left;
  const std::int64_t dstH = std::int64_t{DstRect.Bottom} - DstRect.Top;
  if (dstW == SrcRect.Width() && dstH == SrcRect.Height()) {
    const auto srcX = static_cast<std::int32_t>(std::int64_t{SrcRect.Left} + DstClip.Left - DstRect.Left);
    const auto srcY = static_cast<std::int32_t>(std::int64_t{SrcRect.Top} + DstClip.Top - DstRect.Top);
    TransferBlock(*Dst, DstClip, *Src, srcX, srcY, DrawMode, Callback);
  } else {
    Resampler.Resample(*Dst, DstRect, DstClip, *Src, SrcRect, DrawMode, Callback);
  }
  Dst->AreaChanged(DstRect, AREAINFO_RECT);
}

}  // namespace quirlon::raster
