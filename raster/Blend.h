#pragma once
// Pixel blending and bitmap-to-bitmap drawing.
//
// Every blend reduces to one per-channel mix of a foreground F onto a background B with a weight w
// (0..255), alpha included:  result = (F * w + B * (256 - w) + 128) >> 8.  w = 0 gives B exactly;
// w = 255 does not give F exactly (255 over 0 gives 254), so where an operation copies F at full
// alpha it says so.
#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster/Bitmap32.h"

namespace quirlon::raster {

class TCustomResampler;

// F onto B with master alpha M: w = (Fa * (M + 1)) >> 8, no change when w = 0, no copy shortcut
// (opaque white onto 0 with M = 255 gives 0xFEFEFEFE). M above 255 counts as 255.
void BlendPixel(TColor32 F, TColor32& B, std::uint32_t M);
// Count source pixels onto Count destination pixels, weight = source alpha; alpha 0 leaves the
// destination, alpha 255 copies the source exactly. Count <= 0 does nothing.
void BlendRow(const TColor32* Src, TColor32* Dst, std::int32_t Count);
// As BlendRow with master alpha M: w = ((Fa + 1) * M) >> 8, no change when w = 0, no copy shortcut.
// M above 255 counts as 255.
void BlendRowMaster(const TColor32* Src, TColor32* Dst, std::int32_t Count, std::uint32_t M);
// F and B mixed by W on all four channels, no shortcut at either end (W = 0 gives B). W above 255
// counts as 255.
TColor32 MixColors(TColor32 F, TColor32 B, std::uint32_t W);

#if defined(__SSE2__)
// Four pixels mixed at once in the 16-bit lane form: per channel ((B << 8) + 128 + (F - B) x w)
// mod 65536, then >> 8, which is Mix exactly. w32 holds each pixel's weight (0..255) in its lane.
inline __m128i MixFour(__m128i f, __m128i b, __m128i w32) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi16(128);
  const __m128i w16 = _mm_or_si128(w32, _mm_slli_epi32(w32, 16));
  const __m128i wlo = _mm_shuffle_epi32(w16, 0x50), whi = _mm_shuffle_epi32(w16, 0xFA);
  const __m128i flo = _mm_unpacklo_epi8(f, zero), fhi = _mm_unpackhi_epi8(f, zero);
  const __m128i blo = _mm_unpacklo_epi8(b, zero), bhi = _mm_unpackhi_epi8(b, zero);
  const __m128i lo = _mm_srli_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(blo, 8), half), _mm_mullo_epi16(_mm_sub_epi16(flo, blo), wlo)), 8);
  const __m128i hi = _mm_srli_epi16(
      _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(bhi, 8), half), _mm_mullo_epi16(_mm_sub_epi16(fhi, bhi), whi)), 8);
  return _mm_packus_epi16(lo, hi);
}
#endif

// MixColors for a weight already in 0..255, inline for the pixel loops: per channel
// (F x W + B x (256 - W) + 128) >> 8, the 16-bit lane form.
inline TColor32 MixWeighted(TColor32 F, TColor32 B, TColor32 W) {
  TColor32 result = 0;
  for (int shift = 0; shift < 32; shift += 8)
    result |= ((((F >> shift) & 0xFF) * W + ((B >> shift) & 0xFF) * (256 - W) + 128) >> 8) << shift;
  return result;
}

// Merge (straight-alpha "over"): F's alpha is first scaled by M (Fa' = Fa when M = 255, else
// Fa * M / 255 rounded half up). Fa' = 0 leaves B; Fa' = 255 or Ba = 0 gives F with alpha Fa';
// otherwise Ra = Fa' + Ba * (255 - Fa') / 255 and Rc = (Fc * Fa' + Bc * Ba * (255 - Fa') / 255) / Ra,
// each rounded to nearest, halves up (exact integer arithmetic). Over an opaque B the result is
// opaque. M above 255 counts as 255.
void MergePixel(TColor32 F, TColor32& B, std::uint32_t M);
void MergeRow(const TColor32* Src, TColor32* Dst, std::int32_t Count);
void MergeRowMaster(const TColor32* Src, TColor32* Dst, std::int32_t Count, std::uint32_t M);

// The operation tables, one entry per TCombineMode (cmBlend, cmMerge). Filled once, on first use.
using TBlendPixelMasterProc = void (*)(TColor32 F, TColor32& B, std::uint32_t M);
using TBlendRowProc = void (*)(const TColor32* Src, TColor32* Dst, std::int32_t Count);
using TBlendRowMasterProc = void (*)(const TColor32* Src, TColor32* Dst, std::int32_t Count, std::uint32_t M);

struct TCombineTables {
  std::array<TBlendPixelMasterProc, 2> PixelMaster;
  std::array<TBlendRowProc, 2> Row;
  std::array<TBlendRowMasterProc, 2> RowMaster;
};
const TCombineTables& CombineTables();

inline TBlendPixelMasterProc BlendPixelProc(TCombineMode Mode) { return CombineTables().PixelMaster[Mode & 1]; }
inline TBlendRowProc BlendRowProc(TCombineMode Mode) { return CombineTables().Row[Mode & 1]; }
inline TBlendRowMasterProc BlendRowMasterProc(TCombineMode Mode) { return CombineTables().RowMaster[Mode & 1]; }

// BlendPixel over a run: Src[i] onto Dst[i] with master alpha M, four pixels at a time where the
// processor allows (the same result as BlendPixel one by one). Src and Dst must not overlap.
void BlendPixelRow(const TColor32* Src, TColor32* Dst, std::int32_t Count, std::uint32_t M);

// How dmBlend weighs a pixel: by the row rule (BlendRow, or BlendRowMaster below master alpha 255:
// alpha 255 at master 255 copies) or by the pixel rule (BlendPixel's weight, no copy shortcut).
// Both follow the source's combine mode (cmMerge merges).
enum class TBlendRule : std::uint8_t { Row, Pixel };

// Puts a run of finished colours onto a destination run by a draw mode: dmOpaque copies, dmBlend
// blends or merges by Src's combine mode and master alpha under Rule, dmTransparent copies every
// colour except Src's OuterColor, dmCustom calls Callback (F, B, Src's master alpha) per pixel and
// copies when there is no callback. The one place where the draw modes are carried out.
class TRowCombiner {
public:
  TRowCombiner(const TBitmap32& Src, TDrawMode Mode, const TPixelCombineEvent& Callback, TBlendRule Rule)
      : TRowCombiner(Mode, Src.CombineMode(), Src.MasterAlpha(), Src.OuterColor(), Callback, Rule) {}
  // Callback must outlive the combiner.
  TRowCombiner(TDrawMode Mode, TCombineMode CombineMode, std::uint32_t MasterAlpha, TColor32 OuterColor,
               const TPixelCombineEvent& Callback, TBlendRule Rule);

  TDrawMode Mode() const { return fMode; }
  // Rows may be put from two threads at once unless a callback combines them.
  bool RowsIndependent() const { return fMode != dmCustom; }
  // Colours and Dst may be the same run (a bitmap drawn onto itself) for dmOpaque and dmBlend
  // under the row rule.
  void Put(const TColor32* Colours, TColor32* Dst, std::int32_t Count) const;

private:
  TDrawMode fMode;
  TBlendRule fRule;
  TCombineMode fCombineMode;
  std::uint32_t fMaster;
  TColor32 fOuter;
  const TPixelCombineEvent* fCallback;
};

// Draws SrcRect of Src into DstRect of Dst, limited to DstClip (intersected with Dst's bounds and
// with DstRect). Same-size rectangles go to TransferBlock; others to Resampler.Resample, even in
// dmOpaque. dmCustom without a Callback draws as dmOpaque.
// Throws EBitmapException("Destination bitmap is nil" / "Source bitmap is nil") for null bitmaps and
// ESrcInvalidException("Source rectangle is invalid") when a non-empty SrcRect leaves Src. Returns
// silently, notifying nobody, when there is nothing to draw (empty bitmaps, empty SrcRect, dmBlend
// with Src's MasterAlpha 0, empty clipped area). Otherwise reports DstRect with Dst.AreaChanged.
void TransferRect(TBitmap32* Dst, TRect DstRect, TRect DstClip, const TBitmap32* Src, TRect SrcRect,
                  TCustomResampler& Resampler, TDrawMode DrawMode, const TPixelCombineEvent& Callback);

// The same-size case: DstArea must be non-empty and inside Dst, and the DstArea-sized block at
// (SrcX, SrcY) inside Src. Rows are processed top to bottom by DrawMode: dmOpaque copies, dmBlend
// uses Src's CombineMode table (BlendRow when Src's MasterAlpha >= 255, else BlendRowMaster),
// dmTransparent copies every pixel except those equal to Src's OuterColor, dmCustom calls Callback
// (F, B, Src's MasterAlpha) per pixel (as dmOpaque when Callback is empty). Notifies nobody.
void TransferBlock(TBitmap32& Dst, TRect DstArea, const TBitmap32& Src, std::int32_t SrcX, std::int32_t SrcY,
                   TDrawMode DrawMode, const TPixelCombineEvent& Callback);

}  // namespace quirlon::raster
