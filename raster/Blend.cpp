#include "raster/Blend.h"

#include <cstring>

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

void BlendRow(const TColor32* Src, TColor32* Dst, std::int32_t Count) {
  for (std::int32_t i = 0; i < Count; ++i) {
    const TColor32 F = Src[i];
    const TColor32 fa = F >> 24;
    if (fa == 0) continue;
    Dst[i] = fa == 255 ? F : Mix(F, Dst[i], fa);
  }
}

void BlendRowMaster(const TColor32* Src, TColor32* Dst, std::int32_t Count, std::uint32_t M) {
  const TColor32 m = ClampMaster(M);
  for (std::int32_t i = 0; i < Count; ++i) {
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

void MergeRow(const TColor32* Src, TColor32* Dst, std::int32_t Count) {
  // Layers are mostly transparent: runs of alpha 0, which leave Dst as it is, are skipped four at
  // a time and never stored.
  std::int32_t i = 0;
  while (i < Count) {
    if (i + 4 <= Count && ((Src[i] | Src[i + 1] | Src[i + 2] | Src[i + 3]) >> 24) == 0) {
      i += 4;
      continue;
    }
    const TColor32 fa = Src[i] >> 24;
    if (fa != 0) Dst[i] = MergeScaled(Src[i], Dst[i], fa);
    ++i;
  }
}

void MergeRowMaster(const TColor32* Src, TColor32* Dst, std::int32_t Count, std::uint32_t M) {
  for (std::int32_t i = 0; i < Count; ++i) Dst[i] = MergeScaled(Src[i], Dst[i], ScaleAlpha(Src[i] >> 24, M));
}

const TCombineTables& CombineTables() {
  // Only the reference arithmetic exists, so the choice is made once, here.
  static const TCombineTables tables{{&BlendPixel, &MergePixel}, {&BlendRow, &MergeRow},
                                     {&BlendRowMaster, &MergeRowMaster}};
  return tables;
}

void TransferBlock(TBitmap32& Dst, TRect DstArea, const TBitmap32& Src, std::int32_t SrcX, std::int32_t SrcY,
                   TDrawMode DrawMode, const TPixelCombineEvent& Callback) {
  const std::int32_t w = DstArea.Width();
  const std::int32_t h = DstArea.Height();
  if (w <= 0 || h <= 0) return;
  if (DrawMode == dmCustom && !Callback) DrawMode = dmOpaque;

  TBlendRowProc blendRow = nullptr;
  TBlendRowMasterProc blendRowMaster = nullptr;
  const std::uint32_t master = Src.MasterAlpha();
  if (DrawMode == dmBlend) {
    if (master >= 255)
      blendRow = BlendRowProc(Src.CombineMode());
    else
      blendRowMaster = BlendRowMasterProc(Src.CombineMode());
  }
  const TColor32 outer = Src.OuterColor();

  auto rows = [&](std::int32_t from, std::int32_t to) {
    for (std::int32_t row = from; row < to; ++row) {
      const TColor32* s = Src.ScanLine(SrcY + row) + SrcX;
      TColor32* d = Dst.ScanLine(DstArea.Top + row) + DstArea.Left;
      switch (DrawMode) {
        case dmOpaque:
          std::memmove(d, s, static_cast<std::size_t>(w) * sizeof(TColor32));  // Src may be Dst
          break;
        case dmBlend:
          if (blendRow)
            blendRow(s, d, w);
          else
            blendRowMaster(s, d, w, master);
          break;
        case dmTransparent:
          for (std::int32_t i = 0; i < w; ++i)
            if (s[i] != outer) d[i] = s[i];
          break;
        case dmCustom:
          for (std::int32_t i = 0; i < w; ++i) Callback(s[i], d[i], master);
          break;
      }
    }
  };
  // Blended rows of another bitmap are independent of each other: two threads share them.
  if (DrawMode == dmBlend && &Src != &Dst)
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

  if (!Dst->MeasuringMode()) {
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
  }
  Dst->AreaChanged(DstRect, AREAINFO_RECT);
}

}  // namespace quirlon::raster
