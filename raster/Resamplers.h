#pragma once
// The stretch operations behind TransferRect when source and destination sizes differ, the
// resampler classes that choose among them, and the names lists of the resampler registry.
//
// Every stretch writes each destination pixel by CombineOp: dmOpaque stores, dmBlend combines by
// the SOURCE bitmap's CombineMode (cmBlend or cmMerge) with its MasterAlpha, dmTransparent stores
// all but Src's OuterColor, dmCustom calls CombineCallback(colour, pixel, Src's MasterAlpha) (an
// empty callback stores). DstClip is intersected with Dst's bounds and with DstRect first; an
// empty result, an empty SrcRect or an empty source draws nothing. A SrcRect that leaves Src
// raises EBitmapException("Invalid SrcRect"). Nothing is notified: TransferRect does that.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "raster/Kernels.h"
#include "raster/Sampler.h"

namespace quirlon::raster {

// One contribution to a destination position: source index and weight in 1/256.
struct TSourceWeight {
  std::int32_t Pos = 0;
  std::int32_t Weight = 0;
  friend bool operator==(const TSourceWeight&, const TSourceWeight&) = default;
};
using TWeightList = std::vector<TSourceWeight>;
// One list per destination position ClipLo .. ClipHi - 1; each non-empty list sums to 256.
using TWeightMap = std::vector<TWeightList>;

// The weights of one stretch axis: destination span DstLo..DstHi, clipped to ClipLo..ClipHi,
// source span SrcLo..SrcHi. Empty when the source span or the clip span is empty. Positions lie
// in SrcLo .. SrcHi - 1.
TWeightMap BuildWeightMap(std::int32_t DstLo, std::int32_t DstHi, std::int32_t ClipLo, std::int32_t ClipHi,
                          std::int32_t SrcLo, std::int32_t SrcHi, const TCustomKernel& Kernel);

// Per channel, U and V in 0..256: top = (C11 U + C12 (256 - U)) >> 8, bottom likewise from C21 and
// C22, result = (top V + bottom (256 - V)) >> 8. U = 256 gives C11's column, V = 256 the top row.
TColor32 BilinearMix(TColor32 C11, TColor32 C12, TColor32 C21, TColor32 C22, std::uint32_t U, std::uint32_t V);

// Nearest pixel: destination column i reads source column trunc(i * SrcW / DstW + SrcRect.Left)
// (the scale a 32-bit float), a one-pixel-wide destination the middle column; rows alike. Equal
// sizes are handed to TransferBlock.
void NearestStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                    const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback);

// Bilinear interpolation between the two nearest columns and rows of each destination pixel
// centre, weights in 1/256. Meant for enlargement; positions are clamped into the source bitmap.
void BilinearStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                     const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback);

// Separable weighted stretch by Kernel (weight maps of BuildWeightMap, fixed point 8.8 per axis).
// dmBlend with Src's MasterAlpha 0 draws nothing.
void KernelStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                   const TRect& SrcRect, const TCustomKernel& Kernel, TDrawMode CombineOp,
                   const TPixelCombineEvent& CombineCallback);

// Box reduction: with SrcW >= DstW and SrcH >= DstH, destination pixel (i, j) (relative to
// DstRect) is the plain average of the source block of columns SrcRect.Left + i * SrcW div DstW up
// to (i + 1) * SrcW div DstW (exclusive), rows alike; each channel is sum / count rounded to
// nearest, halves up. Blocks tile the source span exactly. Not for enlargement: an axis with
// SrcW < DstW draws nothing.
void DraftStretch(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                  const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback);

// Bilinear resampler: BilinearStretch when enlarging in both directions from a source at least
// 2 x 2, otherwise KernelStretch with its own TLinearKernel. Its point samples interpolate the four
// pixels around the sample position (pixel centres at integer coordinates), each neighbour read by
// PixelAccessMode (pamUnsafe reads like pamSafe: neighbours of an in-range position may leave the
// bitmap).
class TLinearResampler : public TBitmap32Resampler {
public:
  explicit TLinearResampler(TBitmap32& Bitmap);
  std::string ClassName() const override { return "TLinearResampler"; }

  float SampleWidth() const override { return 1.0f; }
  void Resample(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) override;

  TColor32 SampleInt(std::int32_t X, std::int32_t Y) override;
  TColor32 SampleFixed(TFixed16 X, TFixed16 Y) override;
  // SampleFloat: the base class's conversion to 16.16.

  const TLinearKernel& LinearKernel() const { return *fLinearKernel; }

protected:
  std::unique_ptr<TLinearKernel> fLinearKernel;
};

// Draft resampler: enlargement on either axis as TLinearResampler (BilinearStretch from a source
// at least 2 x 2, else KernelStretch with the linear kernel); pure reduction by DraftStretch.
class TDraftResampler : public TLinearResampler {
public:
  explicit TDraftResampler(TBitmap32& Bitmap) : TLinearResampler(Bitmap) {}
  std::string ClassName() const override { return "TDraftResampler"; }

  void Resample(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) override;
};

enum TKernelMode : std::uint8_t { kmDynamic, kmTableNearest, kmTableLinear };

// Kernel resampler: KernelStretch with its Kernel (a TBoxKernel when new). Point samples weight
// the pixels within the kernel's support around the sample position by Kernel(dx) * Kernel(dy),
// normalised by the weight sum and rounded (clamped to 0..255 when the kernel needs it). kmDynamic
// evaluates the kernel per sample; the table modes read a table of TableSize + 1 rows (fractional
// offsets 0, 1/TableSize, .. 1), nearest row or linear between rows, built at BeginSampling or on
// first use after a change.
class TKernelResampler : public TBitmap32Resampler {
public:
  explicit TKernelResampler(TBitmap32& Bitmap);
  TKernelResampler(const TKernelResampler&) = delete;  // the kernel reports to this object
  TKernelResampler& operator=(const TKernelResampler&) = delete;
  std::string ClassName() const override { return "TKernelResampler"; }

  float SampleWidth() const override { return fKernel->Support(); }
  void Resample(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) override;
  void AssignSettings(const TCustomResampler& Source) override;
  void Changed() override;  // also invalidates the weight table

  TColor32 SampleInt(std::int32_t X, std::int32_t Y) override;
  TColor32 SampleFixed(TFixed16 X, TFixed16 Y) override;
  TColor32 SampleFloat(float X, float Y) override;
  void BeginSampling() override;

  TCustomKernel& Kernel() const { return *fKernel; }
  // A null kernel or the current one changes nothing; otherwise the old kernel is freed.
  void SetKernel(std::unique_ptr<TCustomKernel> Value);
  std::string KernelClassName() const { return fKernel->ClassName(); }
  // Names KernelRegistry does not know, and the current name, change nothing.
  void SetKernelClassName(const std::string& Name);
  TKernelMode KernelMode() const { return fKernelMode; }
  void SetKernelMode(TKernelMode Value);
  std::int32_t TableSize() const { return fTableSize; }
  void SetTableSize(std::int32_t Value);  // below 2 becomes 2

private:
  // Tap weights of one axis for the fractional offset Frac (0 <= Frac < 1) from pixel floor(x).
  void AxisWeights(long double Frac, std::vector<long double>& Weights);
  void BuildTable();
  TColor32 SampleAt(long double X, long double Y);

  std::unique_ptr<TCustomKernel> fKernel;
  TKernelMode fKernelMode = kmDynamic;
  std::int32_t fTableSize = 32;
  std::int32_t fRadius = 1;                   // taps -fRadius .. fRadius around floor(x)
  std::vector<long double> fTable;           // (fTableSize + 1) rows of 2 * fRadius + 1 weights
  bool fTableValid = false;
  std::vector<long double> fWx, fWy;          // per-sample scratch, sized once per table build
};

// Appends every registered resampler class name, in registry order.
void GetResamplerClassNames(std::vector<std::string>& List);
// Throws EListError("List index out of bounds (%d)") for an index the registry does not have.
const TResamplerClass& ResamplerClassAt(int Index);

}  // namespace quirlon::raster
