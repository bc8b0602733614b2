#include "core/QuadWarp.h"

#include "raster/Numeric.h"
#include "raster/Polygon32.h"
#include "raster/Transform.h"

namespace quirlon::core {

using namespace quirlon::raster;

float OverscanFactor(double FitScale) {
  // Small layers (FitScale below 1) get more margin: the cut must never reach the warp's own edge.
  const Extended k = FitScale < 1 ? 1 : 0;
  return StoreSingle(1.05L + (1 - static_cast<Extended>(FitScale)) * 1.5L / 10 * k);
}

TQuadCorners OverscanCorners(const TQuadCorners& Quad, double FitScale) {
  const float f = OverscanFactor(FitScale);
  const float* x = Quad.X;
  const float* y = Quad.Y;
  const float cx = StoreSingle((static_cast<Extended>(x[0]) + x[1] + x[2] + x[3]) / 4);
  const float cy = StoreSingle((static_cast<Extended>(y[0]) + y[1] + y[2] + y[3]) / 4);
  TQuadCorners r;
  for (int i = 0; i < 4; ++i) {
    r.X[i] = StoreSingle((static_cast<Extended>(x[i]) - cx) * f + cx);
    r.Y[i] = StoreSingle((static_cast<Extended>(y[i]) - cy) * f + cy);
  }
  return r;
}

void WarpToQuad(const TBitmap32& Src, const TRect& SrcRect, TPoint A, TPoint B, TPoint C, TPoint D, TBitmap32& Dst,
                bool Overscan, double FitScale) {
  TQuadCorners q;
  const TPoint corners[4] = {A, B, C, D};
  for (int i = 0; i < 4; ++i) {
    q.X[i] = static_cast<float>(corners[i].X);
    q.Y[i] = static_cast<float>(corners[i].Y);
  }
  if (Overscan) q = OverscanCorners(q, FitScale);
  const float* x = q.X;
  const float* y = q.Y;

  {
    TProjectiveTransformation t;
    t.SetX0(x[0]);
    t.SetY0(y[0]);
    t.SetX1(x[1]);
    t.SetY1(y[1]);
    t.SetX2(x[2]);
    t.SetY2(y[2]);
    t.SetX3(x[3]);
    t.SetY3(y[3]);
    t.SetSourceRect(ToSingleRect(SrcRect));
    Transform(Dst, Src, t);
  }

  TBitmap32 mask;
  mask.SetSize(Dst.Width(), Dst.Height());
  mask.SetCombineMode(cmBlend);
  mask.SetDrawMode(dmBlend);
  mask.SetOuterColor(0);
  DrawQuadMask(mask, TFixedPoint{FixedFromInt(A.X), FixedFromInt(A.Y)}, TFixedPoint{FixedFromInt(B.X), FixedFromInt(B.Y)},
               TFixedPoint{FixedFromInt(C.X), FixedFromInt(C.Y)}, TFixedPoint{FixedFromInt(D.X), FixedFromInt(D.Y)});
  ApplyEdgeMask(Dst, mask);
}

void DrawQuadMask(TBitmap32& Mask, TFixedPoint A, TFixedPoint B, TFixedPoint C, TFixedPoint D) {
  TPolygon32 quad;
  quad.AddPoint(A);
  quad.AddPoint(B);
  quad.AddPoint(C);
  quad.AddPoint(D);
  quad.SetSmooth(true);
  quad.SetSubsampleMode(ss32x);

  // A band 0.05 pixel either side of the edges (the outline grown outward and inward), painted over
  // the quadrilateral's own anti-aliased edge.
  std::unique_ptr<TPolygon32> band;
  {
    const std::unique_ptr<TPolygon32> outline = quad.MakeOutline();
    band = outline->GrowAlongNormals(ToFixed(0.05L), 10.5f);
  }
  band->SetFillRule(frNonZero);
  band->SetSmooth(true);
  band->SetSubsampleMode(ss32x);

  Mask.Clear(0xFF000000u);
  quad.FillInto(Mask, 0xFFFFFFFFu);
  band->FillInto(Mask, 0xFFFFFFFFu);
}

void ApplyEdgeMask(TBitmap32& Target, const TBitmap32& Mask) {
  if (Target.Width() != Mask.Width() || Target.Height() != Mask.Height()) return;
  const std::size_t count = Target.PixelCount();
  if (count == 0 || Mask.PixelCount() != count) return;

  const TColor32* m = Mask.Bits();
  TColor32* t = Target.Bits();
  int maxI = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const int v = Intensity(m[i]);
    if (v > maxI) maxI = v;
  }

  for (std::size_t i = 0; i < count; ++i) {
    const int mi = Intensity(m[i]);
    if (mi == maxI) continue;  // mi < maxI below, so maxI >= 1
    const int a = AlphaComponent(t[i]);
    if (a == 255) {
      t[i] = SetAlpha(t[i], mi);
    } else {
      // mi x a / maxI rounded half to even; exact in integers.
      const int p = mi * a;
      int q = p / maxI;
      const int twiceRem = 2 * (p % maxI);
      if (twiceRem > maxI || (twiceRem == maxI && (q & 1))) ++q;
      t[i] = SetAlpha(t[i], q);
    }
  }
  Target.Changed();
}

}  // namespace quirlon::core
