#include "core/QuadWarp.h"

#include <algorithm>
#include <cmath>

#include "raster/Bounds.h"
#include "raster/FilteredWarp.h"
#include "raster/Numeric.h"
#include "raster/Parallel.h"
#include "raster/Polygon32.h"
#include "raster/WarpRasterizer.h"

namespace quirlon::core {

using namespace quirlon::raster;

namespace {
// Destination pixels the smooth warp reaches past its quadrilateral: the edge cut's anti-aliased
// pixels and its band lie within one pixel of the corners' quadrilateral.
constexpr std::int32_t kSmoothEdgeReach = 2;

// Faces thinner than this many pixels show the picture's average colour: a few pixels cannot show
// a picture, and a squeezed sliver of one reads as noise.
constexpr double kThinFaceWidth = 3.0;

// The narrower of the quadrilateral's two midlines (between the midpoints of opposite edges).
double QuadThickness(const TQuadCorners& Q) {
  const auto midline = [&](int a, int b, int c, int d) {
    return std::hypot((Q.X[a] + Q.X[b] - Q.X[c] - Q.X[d]) / 2.0, (Q.Y[a] + Q.Y[b] - Q.Y[c] - Q.Y[d]) / 2.0);
  };
  return std::min(midline(0, 1, 3, 2), midline(1, 2, 0, 3));
}

// The alpha-weighted mean colour of Rect of Src, in straight alpha.
TColor32 AverageColour(const TBitmap32& Src, const TRect& Rect) {
  const TRect r = IntersectRect(Rect, Src.BoundsRect());
  double sum[4] = {0, 0, 0, 0};
  for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
    const TColor32* row = Src.ScanLine(y);
    for (std::int32_t x = r.Left; x < r.Right; ++x) {
      const double a = (row[x] >> 24) / 255.0;
      sum[0] += ((row[x] >> 16) & 0xFF) * a;
      sum[1] += ((row[x] >> 8) & 0xFF) * a;
      sum[2] += (row[x] & 0xFF) * a;
      sum[3] += a;
    }
  }
  const double n = static_cast<double>(r.Right - r.Left) * (r.Bottom - r.Top);
  if (n <= 0 || sum[3] <= 0) return 0;
  const auto byte = [](double v) { return static_cast<TColor32>(std::clamp(std::lround(v), 0L, 255L)); };
  return byte(sum[3] / n * 255) << 24 | byte(sum[0] / sum[3]) << 16 | byte(sum[1] / sum[3]) << 8 | byte(sum[2] / sum[3]);
}
}  // namespace

float OverscanFactor(double FitScale, double SafeMargin) {
  // Small layers (FitScale below 1) get more margin: the cut must never reach the warp's own edge.
  const Extended k = FitScale < 1 ? 1 : 0;
  // The default margin keeps the constant it always had, so its factors stay the same to the bit.
  const Extended base = SafeMargin == kDefaultSafeMargin ? 1.05L : 1 + static_cast<Extended>(SafeMargin) / 50;
  return StoreSingle(base + (1 - static_cast<Extended>(FitScale)) * 1.5L / 10 * k);
}

TQuadCorners OverscanCorners(const TQuadCorners& Quad, double FitScale, double SafeMargin) {
  const float f = OverscanFactor(FitScale, SafeMargin);
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

TRect WarpToQuad(const TBitmap32& Src, const TRect& SrcRect, TPoint A, TPoint B, TPoint C, TPoint D, TBitmap32& Dst,
                 bool Overscan, double FitScale, TBitmap32* MaskScratch, const TRect* DstContent,
                 TSampling Sampling, const TQuadCorners* Precise, double SafeMargin) {
  TQuadCorners q;
  const TPoint corners[4] = {A, B, C, D};
  for (int i = 0; i < 4; ++i) {
    q.X[i] = static_cast<float>(corners[i].X);
    q.Y[i] = static_cast<float>(corners[i].Y);
  }
  if (Precise != nullptr) q = *Precise;
  const TQuadCorners cut = q;
  // Smooth sampling carries the picture's edge beyond the quadrilateral by itself, so its margin
  // need not grow on small canvases: the picture keeps one framing at every size.
  if (Overscan) q = OverscanCorners(q, Sampling == TSampling::Exact ? FitScale : 1.0, SafeMargin);
  const float* x = q.X;
  const float* y = q.Y;
  TRect content = Dst.BoundsRect();

  // A face too thin to show its picture takes the picture's average colour, drawn as the picture
  // would be. Each pixel keeps its own alpha, so a picture's opaque and clear parts still cover
  // as they did.
  TBitmap32 averaged;
  const TBitmap32* picture = &Src;
  TRect pictureRect = SrcRect;
  const TRect averagedRect = IntersectRect(SrcRect, Src.BoundsRect());
  if (Sampling == TSampling::Smooth && QuadThickness(cut) < kThinFaceWidth && averagedRect.Right > averagedRect.Left &&
      averagedRect.Bottom > averagedRect.Top) {
    const TColor32 colour = AverageColour(Src, averagedRect) & 0x00FFFFFFu;
    averaged.SetSize(averagedRect.Right - averagedRect.Left, averagedRect.Bottom - averagedRect.Top);
    for (std::int32_t y = 0; y < averaged.Height(); ++y) {
      const TColor32* from = Src.ScanLine(averagedRect.Top + y) + averagedRect.Left;
      TColor32* to = averaged.ScanLine(y);
      for (std::int32_t x = 0; x < averaged.Width(); ++x) to[x] = (from[x] & 0xFF000000u) | colour;
    }
    averaged.SetDrawMode(Src.DrawMode());
    averaged.SetCombineMode(Src.CombineMode());
    averaged.SetMasterAlpha(Src.MasterAlpha());
    averaged.SetOuterColor(Src.OuterColor());
    averaged.OnPixelCombine = Src.OnPixelCombine;
    picture = &averaged;
    // Only the part of SrcRect inside Src is copied: the rectangle moves with it.
    pictureRect = TRect{SrcRect.Left - averagedRect.Left, SrcRect.Top - averagedRect.Top,
                        SrcRect.Right - averagedRect.Left, SrcRect.Bottom - averagedRect.Top};
  }

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
    t.SetSourceRect(ToSingleRect(pictureRect));
    const TRect visited = Sampling == TSampling::Exact ? WarpNearest(Dst, Src, t, Dst.BoundsRect())
                                                       : WarpFiltered(Dst, *picture, t, Dst.BoundsRect(), kSmoothEdgeReach);
    // The warp writes nowhere outside the area it visited.
    if (DstContent != nullptr) content = UnionRect(*DstContent, IntersectRect(visited, Dst.BoundsRect()));
  }

  // The mask is opaque black outside the quadrilateral's neighbourhood: only that part is painted
  // and read (a clip rectangle keeps the clear there).
  const TRect maskArea = IntersectRect(QuadMaskBounds(A, B, C, D), Dst.BoundsRect());
  // Smooth sampling cuts by the plain coverage, so that an edge pixel's alpha is the share of it the
  // face covers and faces meeting along an edge add up to a whole pixel.
  const bool coverage = Sampling == TSampling::Smooth;
  if (maskArea.Right <= maskArea.Left || maskArea.Bottom <= maskArea.Top) {
    // No part of the canvas near the quadrilateral: nothing to cut by.
    Dst.Changed();
    return content;
  }
  // The mask covers only that area, shifted to its corner by whole pixels (the polygon's edges
  // fall on the same pixels as they would on the canvas).
  TBitmap32 ownMask;
  TBitmap32& mask = MaskScratch != nullptr ? *MaskScratch : ownMask;
  mask.SetSize(maskArea.Right - maskArea.Left, maskArea.Bottom - maskArea.Top);
  mask.SetClipRect(mask.BoundsRect());
  mask.SetCombineMode(cmBlend);
  mask.SetDrawMode(dmBlend);
  mask.SetOuterColor(0);
  const auto shifted = [](float v, std::int32_t by) {
    // Fixed-point coordinates keep their low 32 bits, as ToFixed does.
    return static_cast<TFixed16>(static_cast<std::uint32_t>(ToFixed(v)) - (static_cast<std::uint32_t>(by) << 16));
  };
  const auto corner = [&](int i) { return TFixedPoint{shifted(cut.X[i], maskArea.Left), shifted(cut.Y[i], maskArea.Top)}; };
  DrawQuadMask(mask, corner(0), corner(1), corner(2), corner(3), !coverage);
  // The cut keeps zero pixels zero and only lowers alpha elsewhere: the content stays where it was.
  ApplyEdgeMaskAt(Dst, mask, TPoint{maskArea.Left, maskArea.Top}, maskArea, content, coverage);
  return content;
}

TRect QuadMaskBounds(TPoint A, TPoint B, TPoint C, TPoint D) {
  const std::int32_t left = std::min({A.X, B.X, C.X, D.X}), right = std::max({A.X, B.X, C.X, D.X});
  const std::int32_t top = std::min({A.Y, B.Y, C.Y, D.Y}), bottom = std::max({A.Y, B.Y, C.Y, D.Y});
  // The band reaches 0.05 pixel out (at most 0.525 at a mitred corner), the smoothing one pixel.
  return TRect{left - 2, top - 2, right + 3, bottom + 3};
}

void DrawQuadMask(TBitmap32& Mask, TFixedPoint A, TFixedPoint B, TFixedPoint C, TFixedPoint D, bool EdgeBand) {
  TPolygon32 quad;
  quad.AddPoint(A);
  quad.AddPoint(B);
  quad.AddPoint(C);
  quad.AddPoint(D);
  quad.SetSmooth(true);
  quad.SetSubsampleMode(ss32x);

  if (!EdgeBand) {
    Mask.Clear(0xFF000000u);
    quad.FillInto(Mask, 0xFFFFFFFFu);
    return;
  }
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

namespace {

// One pixel of the cut: level mi of the brightest maxI (maxI >= 1). With Proportional every alpha
// is scaled by mi / maxI; otherwise an opaque pixel takes mi itself.
inline TColor32 CutAlpha(TColor32 t, int mi, int maxI, bool Proportional) {
  if (mi == maxI) return t;  // mi < maxI below
  const int a = AlphaComponent(t);
  if (a == 255 && !Proportional) return SetAlpha(t, mi);
  if (mi == 0) return Proportional ? 0 : SetAlpha(t, 0);
  // mi x a / maxI rounded half to even; exact in integers.
  const int p = mi * a;
  int q = p / maxI;
  const int twiceRem = 2 * (p % maxI);
  if (twiceRem > maxI || (twiceRem == maxI && (q & 1))) ++q;
  return SetAlpha(t, q);
}

}  // namespace

void ApplyEdgeMask(TBitmap32& Target, const TBitmap32& Mask) { ApplyEdgeMask(Target, Mask, Mask.BoundsRect()); }

void ApplyEdgeMask(TBitmap32& Target, const TBitmap32& Mask, const TRect& MaskArea) {
  ApplyEdgeMask(Target, Mask, MaskArea, Target.BoundsRect());
}

void ApplyEdgeMask(TBitmap32& Target, const TBitmap32& Mask, const TRect& MaskArea, const TRect& TargetContent,
                   bool Proportional) {
  if (Target.Width() != Mask.Width() || Target.Height() != Mask.Height()) return;
  const std::size_t count = Target.PixelCount();
  if (count == 0 || Mask.PixelCount() != count) return;
  ApplyEdgeMaskAt(Target, Mask, TPoint{0, 0}, MaskArea, TargetContent, Proportional);
}

void ApplyEdgeMaskAt(TBitmap32& Target, const TBitmap32& Mask, TPoint Origin, const TRect& MaskArea,
                     const TRect& TargetContent, bool Proportional) {
  if (Target.PixelCount() == 0) return;
  const TRect maskRect{Origin.X, Origin.Y, Origin.X + Mask.Width(), Origin.Y + Mask.Height()};
  const TRect area = Mask.PixelCount() == 0 ? TRect{}
                                            : IntersectRect(IntersectRect(MaskArea, maskRect), Target.BoundsRect());
  // The mask's pixel under target pixel (x, y) of the area.
  auto maskRow = [&](std::int32_t y) { return Mask.ScanLine(y - Origin.Y); };
  // Rows are independent in both passes: two threads share them.
  int partMax[2] = {0, 0};
  const std::int32_t middle = area.Top + (area.Bottom - area.Top) / 2;
  ParallelFor(0, 2, 1, [&](std::int32_t from, std::int32_t to) noexcept {
    for (std::int32_t part = from; part < to; ++part) {
      int best = 0;
      for (std::int32_t y = part == 0 ? area.Top : middle; y < (part == 0 ? middle : area.Bottom); ++y) {
        const TColor32* m = maskRow(y);
        for (std::int32_t x = area.Left; x < area.Right; ++x) best = std::max(best, Intensity(m[x - Origin.X]));
      }
      partMax[part] = best;
    }
  });
  const int maxI = std::max(partMax[0], partMax[1]);
  // Level 0 everywhere is the brightest level: nothing is cut.
  if (maxI == 0) {
    Target.Changed();
    return;
  }
  // Outside both the mask's area and the target's non-zero pixels the cut turns 0 into 0.
  const TRect content = NonzeroBounds(Target, TargetContent);
  TRect work = area;
  if (content.Right > content.Left && content.Bottom > content.Top) {
    if (work.Right <= work.Left || work.Bottom <= work.Top) work = content;
    work = TRect{std::min(work.Left, content.Left), std::min(work.Top, content.Top), std::max(work.Right, content.Right),
                 std::max(work.Bottom, content.Bottom)};
  }
  ParallelFor(work.Top, work.Bottom, 32, [&](std::int32_t from, std::int32_t to) noexcept {
    for (std::int32_t y = from; y < to; ++y) {
      TColor32* t = Target.ScanLine(y);
      const bool rowInArea = y >= area.Top && y < area.Bottom;
      const TColor32* m = rowInArea ? maskRow(y) : nullptr;
      for (std::int32_t x = work.Left; x < work.Right; ++x) {
        const bool inArea = rowInArea && x >= area.Left && x < area.Right;
        t[x] = CutAlpha(t[x], inArea ? Intensity(m[x - Origin.X]) : 0, maxI, Proportional);
      }
    }
  });
  Target.Changed();
}

}  // namespace quirlon::core
