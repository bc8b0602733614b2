#include "raster/Sampler.h"

#include <limits>

#include "raster/Numeric.h"

namespace quirlon::raster {

// ---------------------------------------------------------------------------------------------
// TCustomSampler: the three sample forms fall back on one another.

TColor32 TCustomSampler::SampleInt(std::int32_t X, std::int32_t Y) { return SampleFixed(FixedFromInt(X), FixedFromInt(Y)); }

TColor32 TCustomSampler::SampleFixed(TFixed16 X, TFixed16 Y) {
  return SampleFloat(static_cast<float>(X / 65536.0L), static_cast<float>(Y / 65536.0L));
}

TColor32 TCustomSampler::SampleFloat(float X, float Y) { return SampleFixed(ToFixed(X), ToFixed(Y)); }

TRect TCustomSampler::SampleBounds() const {
  constexpr std::int32_t lo = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t hi = std::numeric_limits<std::int32_t>::max();
  return TRect{lo, lo, hi, hi};
}

// ---------------------------------------------------------------------------------------------
// TBitmap32Resampler

TBitmap32Resampler::TBitmap32Resampler(TBitmap32& Bitmap) : fBitmap(&Bitmap) {}

void TBitmap32Resampler::SetPixelAccessMode(TPixelAccessMode Value) {
  if (Value == fPixelAccessMode) return;
  fPixelAccessMode = Value;
  Changed();
}

void TBitmap32Resampler::Changed() {
  TCustomResampler::Changed();
  fBitmap->Changed();
}

void TBitmap32Resampler::BeginSampling() { fClipRect = fBitmap->ClipRect(); }

TRect TBitmap32Resampler::SampleBounds() const {
  TRect r = fBitmap->ClipRect();
  if (fPixelAccessMode == pamTransparentEdge) {
    r.Left -= 1;
    r.Top -= 1;
    r.Right += 1;
    r.Bottom += 1;
  }
  return r;
}

void TBitmap32Resampler::AssignSettings(const TCustomResampler& Source) {
  if (const auto* src = dynamic_cast<const TBitmap32Resampler*>(&Source)) SetPixelAccessMode(src->fPixelAccessMode);
}

// ---------------------------------------------------------------------------------------------
// TNearestResampler

TNearestResampler::TNearestResampler(TBitmap32& Bitmap) : TBitmap32Resampler(Bitmap) {
  fTransformerType = ttNearestTransformer;
  fPointSample = &TNearestResampler::PointSafe;
}

void TNearestResampler::BeginSampling() {
  TBitmap32Resampler::BeginSampling();
  switch (fPixelAccessMode) {
    case pamUnsafe: fPointSample = &TNearestResampler::PointUnsafe; break;
    case pamSafe: fPointSample = &TNearestResampler::PointSafe; break;
    case pamWrap: fPointSample = &TNearestResampler::PointWrap; break;
    case pamTransparentEdge: fPointSample = &TNearestResampler::PointTransparentEdge; break;
  }
}

TColor32 TNearestResampler::PointSample(std::int32_t X, std::int32_t Y) const { return (this->*fPointSample)(X, Y); }

TColor32 TNearestResampler::SampleFixed(TFixed16 X, TFixed16 Y) {
  return PointSample(FixedRoundHalfDown(X), FixedRoundHalfDown(Y));
}

TColor32 TNearestResampler::SampleFloat(float X, float Y) { return PointSample(Round(X), Round(Y)); }

TColor32 TNearestResampler::PointUnsafe(std::int32_t X, std::int32_t Y) const { return fBitmap->PixelAt(X, Y); }

TColor32 TNearestResampler::PointSafe(std::int32_t X, std::int32_t Y) const {
  if (X >= fClipRect.Left && X < fClipRect.Right && Y >= fClipRect.Top && Y < fClipRect.Bottom)
    return fBitmap->PixelAt(X, Y);
  return fBitmap->OuterColor();
}

TColor32 TNearestResampler::PointWrap(std::int32_t X, std::int32_t Y) const {
  if (fClipRect.IsEmpty()) return fBitmap->OuterColor();  // nothing to wrap into
  const TWrapMode mode = fBitmap->WrapMode();
  return fBitmap->PixelAt(WrapCoord(mode, X, fClipRect.Left, fClipRect.Right - 1),
                          WrapCoord(mode, Y, fClipRect.Top, fClipRect.Bottom - 1));
}

TColor32 TNearestResampler::PointTransparentEdge(std::int32_t X, std::int32_t Y) const {
  if (fClipRect.IsEmpty()) return fBitmap->OuterColor() & 0x00FFFFFFu;
  const std::int32_t cx = WrapCoord(wmClamp, X, fClipRect.Left, fClipRect.Right - 1);
  const std::int32_t cy = WrapCoord(wmClamp, Y, fClipRect.Top, fClipRect.Bottom - 1);
  const TColor32 c = fBitmap->PixelAt(cx, cy);
  return (cx == X && cy == Y) ? c : (c & 0x00FFFFFFu);
}

}  // namespace quirlon::raster
