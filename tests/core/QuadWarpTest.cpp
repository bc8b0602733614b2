#include "core/QuadWarp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Errors.h"
#include "raster/Polygon32.h"
#include "support/QuadReference.h"

namespace quirlon::core {
namespace {

using namespace quirlon::raster;
using namespace quirlon::testsupport;

constexpr TColor32 Code(int x, int y) { return 0xFF000000u | (static_cast<TColor32>(y) << 12) | static_cast<TColor32>(x); }

// F blended onto transparent black with master alpha 255, per channel (F x w + 128) >> 8.
TColor32 OntoClear(TColor32 f) {
  const int w = ((f >> 24) * 256) >> 8;
  TColor32 r = 0;
  for (int sh = 0; sh < 32; sh += 8) r |= static_cast<TColor32>(((((f >> sh) & 0xFF) * w) + 128) >> 8) << sh;
  return w == 0 ? 0 : r;
}

TColor32 Grey(int level) { return 0xFF000000u | (static_cast<TColor32>(level) * 0x010101u); }

int MaxIntensity(const TBitmap32& b) {
  int m = 0;
  for (std::size_t i = 0; i < b.PixelCount(); ++i) m = std::max(m, Intensity(b.Bits()[i]));
  return m;
}

TEST(Overscan, FactorByFitScale) {
  EXPECT_EQ(OverscanFactor(1.0), 1.0499999523162842f);
  EXPECT_EQ(OverscanFactor(3.7), 1.0499999523162842f);
  EXPECT_EQ(OverscanFactor(0.5), 1.125f);
  EXPECT_EQ(OverscanFactor(0.0), 1.2000000476837158f);
}

TEST(Overscan, CornersAboutCentroid) {
  TQuadCorners q;
  const float xs[4] = {0, 10, 10, 1}, ys[4] = {0, 0, 10, 10};
  for (int i = 0; i < 4; ++i) {
    q.X[i] = xs[i];
    q.Y[i] = ys[i];
  }
  const TQuadCorners r = OverscanCorners(q, 0.5);  // f = 1.125, centroid (5.25, 5)
  const long double cx = 5.25L, cy = 5, f = 1.125L;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(r.X[i], static_cast<float>((xs[i] - cx) * f + cx)) << i;
    EXPECT_EQ(r.Y[i], static_cast<float>((ys[i] - cy) * f + cy)) << i;
  }
  EXPECT_EQ(r.X[0], -0.65625f);  // (0 - 5.25) x 1.125 + 5.25
}

TEST(QuadMask, InteriorLevelOutsideBlackAndBand) {
  EXPECT_EQ(ToFixed(0.05L), 3277);  // the band's half width
  TBitmap32 mask;
  mask.SetSize(30, 30);
  DrawQuadMask(mask, TFixedPoint{10 << 16, 10 << 16}, TFixedPoint{20 << 16, 10 << 16}, TFixedPoint{20 << 16, 20 << 16},
               TFixedPoint{10 << 16, 20 << 16});
  for (int y = 11; y < 19; ++y)
    for (int x = 11; x < 19; ++x) ASSERT_EQ(mask.PixelAt(x, y), 0xFBFAFAFAu) << x << "," << y;
  EXPECT_EQ(Intensity(0xFBFAFAFAu), 250);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x)
      if (x < 9 || x > 20 || y < 9 || y > 20) {
        ASSERT_EQ(mask.PixelAt(x, y), 0xFF000000u) << x << "," << y;
      }
  EXPECT_EQ(MaxIntensity(mask), 250);
}

TEST(QuadMask, BandBrightensEdgesOnly) {
  // The same quadrilateral filled alone, as the reference the band is painted over.
  std::mt19937 rng(5);
  for (int n = 0; n < 10; ++n) {
    const TRandomQuad q = RandomConvexQuad(rng, 64);
    TFixedPoint p[4];
    for (int i = 0; i < 4; ++i) p[i] = TFixedPoint{q.X[i] << 16, q.Y[i] << 16};
    TBitmap32 mask, plain;
    mask.SetSize(64, 64);
    plain.SetSize(64, 64);
    DrawQuadMask(mask, p[0], p[1], p[2], p[3]);
    TPolygon32 poly;
    for (const auto& v : p) poly.AddPoint(v);
    poly.SetSmooth(true);
    poly.SetSubsampleMode(ss32x);
    plain.Clear(0xFF000000u);
    poly.FillInto(plain, 0xFFFFFFFFu);
    int brighter = 0;
    for (int i = 0; i < 64 * 64; ++i) {
      const int g = Intensity(mask.Bits()[i]), gq = Intensity(plain.Bits()[i]);
      ASSERT_GE(g, gq);
      if (gq == 250 || gq == 0) {
        ASSERT_LE(g, gq == 250 ? 250 : 40) << i;  // interior unchanged; the band is faint
      }
      if (g > gq) ++brighter;
    }
    EXPECT_GT(brighter, 0);
    EXPECT_EQ(MaxIntensity(mask), 250) << "quad " << n;
  }
}

TEST(EdgeMask, ScalesAlphaByMaskLevel) {
  TBitmap32 target, mask;
  target.SetSize(4, 1);
  mask.SetSize(4, 1);
  const TColor32 t[4] = {0xFEFEFEFEu, 0xFF123456u, 0x80ABCDEFu, 0xFE010203u};
  const int m[4] = {125, 100, 250, 250};
  for (int i = 0; i < 4; ++i) {
    target.PixelRef(i, 0) = t[i];
    mask.PixelRef(i, 0) = Grey(m[i]);
  }
  int changes = 0;
  target.OnChange = [&](TObject*) { ++changes; };
  ApplyEdgeMask(target, mask);
  EXPECT_EQ(target.PixelAt(0, 0), 0x7FFEFEFEu);  // round(125 x 254 / 250) = 127
  EXPECT_EQ(target.PixelAt(1, 0), 0x64123456u);  // opaque: the level itself
  EXPECT_EQ(target.PixelAt(2, 0), t[2]);         // at the brightest level: unchanged
  EXPECT_EQ(target.PixelAt(3, 0), t[3]);
  EXPECT_EQ(changes, 1);
}

TEST(EdgeMask, RoundsHalfToEvenAgainstExtendedDivision) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 20; ++round) {
    const int n = 512;
    TBitmap32 target, mask;
    target.SetSize(n, 1);
    mask.SetSize(n, 1);
    std::vector<TColor32> before(n);
    for (int i = 0; i < n; ++i) {
      before[i] = (static_cast<TColor32>(byte(rng)) << 24) | (rng() & 0xFFFFFF);
      if (i % 5 == 0) before[i] |= 0xFF000000u;
      target.PixelRef(i, 0) = before[i];
      // Any colours: the level is the Intensity, not a channel.
      mask.PixelRef(i, 0) = 0xFF000000u | (rng() & 0xFFFFFF);
    }
    ApplyEdgeMask(target, mask);
    int maxI = 0;
    for (int i = 0; i < n; ++i) maxI = std::max(maxI, Intensity(mask.PixelAt(i, 0)));
    for (int i = 0; i < n; ++i) {
      const int mi = Intensity(mask.PixelAt(i, 0));
      const int a = static_cast<int>(before[i] >> 24);
      int expect = a;
      if (mi < maxI) expect = a == 255 ? mi : static_cast<int>(std::nearbyint(static_cast<long double>(mi * a) / maxI));
      ASSERT_EQ(target.PixelAt(i, 0), (before[i] & 0xFFFFFFu) | (static_cast<TColor32>(expect) << 24)) << i;
    }
  }
  // Exact halves: 125 / 250 -> 0, 375 / 250 -> 2.
  TBitmap32 target, mask;
  target.SetSize(3, 1);
  mask.SetSize(3, 1);
  mask.PixelRef(0, 0) = Grey(5);
  mask.PixelRef(1, 0) = Grey(5);
  mask.PixelRef(2, 0) = Grey(250);
  target.PixelRef(0, 0) = 25u << 24;
  target.PixelRef(1, 0) = 75u << 24;
  ApplyEdgeMask(target, mask);
  EXPECT_EQ(target.PixelAt(0, 0), 0u);
  EXPECT_EQ(target.PixelAt(1, 0), 2u << 24);
}

TEST(EdgeMask, NothingForMismatchedEmptyOrBlackMasks) {
  TBitmap32 target, mask;
  target.SetSize(3, 2);
  target.Clear(0x80FFFFFFu);
  mask.SetSize(2, 3);
  mask.Clear(Grey(10));
  ApplyEdgeMask(target, mask);
  EXPECT_EQ(target.PixelAt(0, 0), 0x80FFFFFFu);
  mask.SetSize(3, 2);
  mask.Clear(0xFF000000u);  // maxI 0: nothing is below it
  ApplyEdgeMask(target, mask);
  EXPECT_EQ(target.PixelAt(2, 1), 0x80FFFFFFu);
  TBitmap32 empty1, empty2;
  EXPECT_NO_THROW(ApplyEdgeMask(empty1, empty2));
}

void MakeSource(TBitmap32& src, int w, int h) {
  src.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) src.PixelRef(x, y) = Code(x, y);
  src.SetDrawMode(dmBlend);
  src.SetCombineMode(cmBlend);
  src.SetOuterColor(0);
}

TEST(WarpToQuad, OutsideCanvasAndZeroSize) {
  TBitmap32 src;
  MakeSource(src, 20, 10);
  TBitmap32 dst;
  dst.SetSize(50, 40);
  WarpToQuad(src, src.BoundsRect(), TPoint{60, 5}, TPoint{90, 5}, TPoint{90, 30}, TPoint{60, 30}, dst, true, 1.0);
  WarpToQuad(src, src.BoundsRect(), TPoint{-40, -30}, TPoint{-10, -30}, TPoint{-10, -5}, TPoint{-40, -5}, dst, true, 0.3);
  for (std::size_t i = 0; i < dst.PixelCount(); ++i) ASSERT_EQ(dst.Bits()[i], 0u);

  TBitmap32 none;
  EXPECT_NO_THROW(WarpToQuad(src, src.BoundsRect(), TPoint{0, 0}, TPoint{5, 0}, TPoint{5, 5}, TPoint{0, 5}, none, true, 1));
  none.SetSize(0, 12);
  EXPECT_NO_THROW(WarpToQuad(src, src.BoundsRect(), TPoint{0, 0}, TPoint{5, 0}, TPoint{5, 5}, TPoint{0, 5}, none, true, 1));
}

TEST(WarpToQuad, EmptySourceRectRaises) {
  TBitmap32 src, dst;
  MakeSource(src, 4, 4);
  dst.SetSize(10, 10);
  try {
    WarpToQuad(src, TRect{0, 0, 0, 4}, TPoint{0, 0}, TPoint{5, 0}, TPoint{5, 5}, TPoint{0, 5}, dst, true, 1);
    FAIL();
  } catch (const quirlon::EZeroDivide& e) {
    EXPECT_STREQ(e.what(), "Floating point division by zero");
  }
}

// Signed distances of a point from the four edge lines of a clockwise (on screen) quadrilateral:
// positive inside.
double InsideMargin(const TRandomQuad& q, double px, double py) {
  double m = 1e9;
  for (int i = 0; i < 4; ++i) {
    const int j = (i + 1) % 4;
    const double ex = q.X[j] - q.X[i], ey = q.Y[j] - q.Y[i];
    const double len = std::hypot(ex, ey);
    // Clockwise on screen (y down): the inside lies to the right of each edge, cross > 0.
    const double d = (ex * (py - q.Y[i]) - ey * (px - q.X[i])) / len;
    m = std::min(m, d);
  }
  return m;
}

void CheckWarpGeometry(bool overscan, double fitScale, int canvasW, int canvasH, std::uint32_t seed, bool offCanvas) {
  std::mt19937 rng(seed);
  long inside = 0, outside = 0, outsideColoured = 0;
  for (int n = 0; n < 12; ++n) {
    TRandomQuad q = RandomConvexQuad(rng, std::min(canvasW, canvasH));
    if (offCanvas)
      for (int i = 0; i < 4; ++i) q.X[i] += canvasW / 2;  // right half hangs off the canvas
    const int srcW = 16 + (n * 29) % 80, srcH = 12 + (n * 41) % 60;
    TBitmap32 src;
    MakeSource(src, srcW, srcH);
    TBitmap32 dst;
    dst.SetSize(canvasW, canvasH);
    WarpToQuad(src, src.BoundsRect(), TPoint{q.X[0], q.Y[0]}, TPoint{q.X[1], q.Y[1]}, TPoint{q.X[2], q.Y[2]},
               TPoint{q.X[3], q.Y[3]}, dst, overscan, fitScale);

    TQuadCorners corners;
    for (int i = 0; i < 4; ++i) {
      corners.X[i] = static_cast<float>(q.X[i]);
      corners.Y[i] = static_cast<float>(q.Y[i]);
    }
    if (overscan) corners = OverscanCorners(corners, fitScale);
    const TQuadReference ref = MakeQuadReference(corners.X, corners.Y, srcW, srcH);

    for (int j = 0; j < canvasH; ++j)
      for (int i = 0; i < canvasW; ++i) {
        const TColor32 got = dst.PixelAt(i, j);
        const double margin = InsideMargin(q, i + 0.5, j + 0.5);
        if (margin <= -1.0) {
          ASSERT_EQ(got >> 24, 0u) << "outside pixel " << i << "," << j << " of quad " << n;
          ++outside;
          if (got != 0) ++outsideColoured;
          continue;
        }
        if (margin < 1.0) continue;  // the anti-aliased edge
        ++inside;
        int uLo, uHi, vLo, vHi;
        ASSERT_TRUE(ref.Predict(i, j, uLo, uHi, vLo, vHi));
        bool ok = false;
        for (int v = vLo; v <= vHi && !ok; ++v)
          for (int u = uLo; u <= uHi && !ok; ++u) {
            const bool in = u >= 0 && u < srcW && v >= 0 && v < srcH;
            ok = got == (in ? OntoClear(Code(u, v)) : 0u);
          }
        ASSERT_TRUE(ok) << "inside pixel " << i << "," << j << " of quad " << n << " got " << std::hex << got;
      }
  }
  EXPECT_GT(inside, 1000);
  EXPECT_GT(outside, 1000);
  if (overscan) {
    EXPECT_GT(outsideColoured, 0);  // the overscan's colour stays under alpha 0
  }
}

TEST(WarpToQuad, RandomQuadrilateralsWithOverscan) { CheckWarpGeometry(true, 1.0, 160, 120, 1, false); }
TEST(WarpToQuad, RandomQuadrilateralsSmallFitScale) { CheckWarpGeometry(true, 0.4, 150, 150, 2, false); }
TEST(WarpToQuad, RandomQuadrilateralsWithoutOverscan) { CheckWarpGeometry(false, 1.0, 140, 100, 3, false); }
TEST(WarpToQuad, QuadrilateralsPartlyOffCanvas) { CheckWarpGeometry(true, 1.0, 120, 120, 4, true); }

TEST(WarpToQuad, MasterAlphaScalesEverySample) {
  TBitmap32 src;
  src.SetSize(8, 8);
  src.Clear(0xFFC8C8C8u);
  src.SetDrawMode(dmBlend);
  src.SetMasterAlpha(128);
  TBitmap32 dst;
  dst.SetSize(40, 40);
  WarpToQuad(src, src.BoundsRect(), TPoint{5, 5}, TPoint{35, 5}, TPoint{35, 35}, TPoint{5, 35}, dst, true, 1.0);
  // w = (255 x 129) >> 8 = 128: (200 x 128 + 128) >> 8 = 100, alpha (255 x 128 + 128) >> 8 = 128.
  // Interior pixels sit at the brightest mask level and keep that.
  EXPECT_EQ(dst.PixelAt(20, 20), 0x80646464u);
  // Column 4 lies outside the edge at x = 5 but inside the overscan: colour kept, alpha cut to 0.
  EXPECT_EQ(dst.PixelAt(4, 20), 0x00646464u);
  // Column 5 is covered fully (the edge lies on its left border) and keeps the interior value.
  EXPECT_EQ(dst.PixelAt(5, 20), 0x80646464u);
  // Row 5 misses its topmost sub-line, so its mask level is below the interior's and the alpha is
  // scaled.
  const TColor32 edge = dst.PixelAt(20, 5);
  EXPECT_EQ(edge & 0xFFFFFFu, 0x646464u);
  EXPECT_LT(edge >> 24, 128u);
  EXPECT_GT(edge >> 24, 100u);
}


// The mask of a quadrilateral, thin and sharp ones included, stays inside QuadMaskBounds; the cut
// restricted to that area and the target's content equals the cut over the whole bitmap.
TEST(EdgeMask, RestrictedCutEqualsWholeBitmapCut) {
  std::mt19937 rng(23);
  for (int n = 0; n < 40; ++n) {
    TPoint c[4];
    if (n % 4 == 3) {  // a sliver with sharp corners
      const int x = static_cast<int>(rng() % 60) + 10, y = static_cast<int>(rng() % 60) + 10;
      c[0] = {x, y}, c[1] = {x + 40, y + 1}, c[2] = {x + 41, y + 2}, c[3] = {x + 1, y + 1};
    } else {
      const TRandomQuad q = RandomConvexQuad(rng, 96);
      for (int i = 0; i < 4; ++i) c[i] = {q.X[i] + 8, q.Y[i] + 8};
    }
    TBitmap32 mask;
    mask.SetSize(120, 110);
    DrawQuadMask(mask, TFixedPoint{c[0].X << 16, c[0].Y << 16}, TFixedPoint{c[1].X << 16, c[1].Y << 16},
                 TFixedPoint{c[2].X << 16, c[2].Y << 16}, TFixedPoint{c[3].X << 16, c[3].Y << 16});
    const TRect bounds = QuadMaskBounds(c[0], c[1], c[2], c[3]);
    for (int y = 0; y < mask.Height(); ++y)
      for (int x = 0; x < mask.Width(); ++x)
        if (x < bounds.Left || x >= bounds.Right || y < bounds.Top || y >= bounds.Bottom) {
          ASSERT_EQ(mask.PixelAt(x, y), 0xFF000000u) << "quad " << n << " at " << x << ", " << y;
        }

    // Target content in a random rectangle (as a warp leaves it), zero elsewhere.
    TBitmap32 target;
    target.SetSize(120, 110);
    const int l = static_cast<int>(rng() % 100), t = static_cast<int>(rng() % 90);
    for (int y = t; y < t + 20; ++y)
      for (int x = l; x < l + 20; ++x) target.PixelRef(x, y) = rng() | (rng() % 2 ? 0xFF000000u : 0u);
    TBitmap32 whole;
    whole.Assign(&target);
    TBitmap32 shifted;
    shifted.Assign(&target);
    ApplyEdgeMask(whole, mask);
    ApplyEdgeMask(target, mask, bounds);
    ASSERT_TRUE(std::equal(target.Bits(), target.Bits() + target.PixelCount(), whole.Bits())) << "quad " << n;

    // A mask of the area alone, the corners shifted to its corner, cuts the same.
    const TRect area = IntersectRect(bounds, mask.BoundsRect());
    TBitmap32 small;
    small.SetSize(area.Right - area.Left, area.Bottom - area.Top);
    auto at = [&](TPoint p) { return TFixedPoint{(p.X - area.Left) << 16, (p.Y - area.Top) << 16}; };
    DrawQuadMask(small, at(c[0]), at(c[1]), at(c[2]), at(c[3]));
    ApplyEdgeMaskAt(shifted, small, TPoint{area.Left, area.Top}, area, shifted.BoundsRect());
    ASSERT_TRUE(std::equal(shifted.Bits(), shifted.Bits() + shifted.PixelCount(), whole.Bits())) << "quad " << n;
  }
}

// Quadrilaterals with fractional corners, some hanging off each side of the canvas: warped and cut
// with a mask of the face's area alone, they come out as cut with a canvas-sized mask.
TEST(EdgeMask, AreaMaskCutsAsACanvasMaskWould) {
  std::mt19937 rng(41);
  for (int n = 0; n < 32; ++n) {
    TRandomQuad q = RandomConvexQuad(rng, 90);
    const int dx = n % 4 == 0 ? -40 : n % 4 == 1 ? 60 : 5, dy = n % 8 < 4 ? 5 : (n % 2 ? -35 : 45);
    float x[4], y[4];
    TPoint p[4];
    for (int i = 0; i < 4; ++i) {
      x[i] = static_cast<float>(q.X[i] + dx) + static_cast<float>(rng() % 256) / 256.0f;
      y[i] = static_cast<float>(q.Y[i] + dy) + static_cast<float>(rng() % 256) / 256.0f;
      p[i] = TPoint{static_cast<std::int32_t>(x[i]), static_cast<std::int32_t>(y[i])};
    }
    const bool band = n % 3 != 0, proportional = n % 2 == 0;
    TBitmap32 target;
    target.SetSize(100, 90);
    for (std::size_t i = 0; i < target.PixelCount(); ++i) target.Bits()[i] = rng() | (rng() % 3 ? 0xFF000000u : 0u);
    TBitmap32 expected;
    expected.Assign(&target);

    const TRect area = IntersectRect(QuadMaskBounds(p[0], p[1], p[2], p[3]), target.BoundsRect());
    if (area.Right <= area.Left || area.Bottom <= area.Top) continue;
    // The canvas-sized mask, painted only in the area as the warp painted it before.
    TBitmap32 canvasMask;
    canvasMask.SetSize(100, 90);
    canvasMask.SetClipRect(area);
    auto whole = [&](int i) { return TFixedPoint{ToFixed(x[i]), ToFixed(y[i])}; };
    DrawQuadMask(canvasMask, whole(0), whole(1), whole(2), whole(3), band);
    ApplyEdgeMask(expected, canvasMask, area, expected.BoundsRect(), proportional);

    TBitmap32 areaMask;
    areaMask.SetSize(area.Right - area.Left, area.Bottom - area.Top);
    auto shifted = [&](int i) {
      return TFixedPoint{ToFixed(x[i]) - (area.Left << 16), ToFixed(y[i]) - (area.Top << 16)};
    };
    DrawQuadMask(areaMask, shifted(0), shifted(1), shifted(2), shifted(3), band);
    ApplyEdgeMaskAt(target, areaMask, TPoint{area.Left, area.Top}, area, target.BoundsRect(), proportional);
    ASSERT_TRUE(std::equal(target.Bits(), target.Bits() + target.PixelCount(), expected.Bits())) << "quad " << n;
  }
}

// Left half red, right half blue: the alpha-weighted mean is (127.5, 0, 127.5).
void MakeHalves(TBitmap32& Src) {
  Src.SetSize(180, 40);
  for (std::int32_t y = 0; y < 40; ++y)
    for (std::int32_t x = 0; x < 180; ++x) Src.ScanLine(y)[x] = x < 90 ? 0xFFFF0000u : 0xFF0000FFu;
  Src.SetDrawMode(dmBlend);
  Src.SetCombineMode(cmMerge);
}

TEST(WarpToQuad, SmoothFacesThinnerThanThreePixelsShowTheAverageColour) {
  TBitmap32 src;
  MakeHalves(src);
  struct TCase {
    std::int32_t Width;  // of a vertical face from y 10 to 70, starting at x 20
    TSampling Sampling;
    bool Averaged;
  };
  for (const TCase& c : {TCase{2, TSampling::Smooth, true}, TCase{12, TSampling::Smooth, false},
                         TCase{2, TSampling::Exact, false}}) {
    TBitmap32 dst;
    dst.SetSize(60, 80);
    dst.Clear(0);
    WarpToQuad(src, src.BoundsRect(), TPoint{20, 10}, TPoint{20 + c.Width, 10}, TPoint{20 + c.Width, 70},
               TPoint{20, 70}, dst, true, 1.0, nullptr, nullptr, c.Sampling);
    int averaged = 0, other = 0;
    for (std::int32_t y = 20; y < 60; ++y)
      for (std::int32_t x = 20; x < 20 + c.Width; ++x) {
        const TColor32 p = dst.ScanLine(y)[x];
        const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        if ((c.Sampling == TSampling::Smooth && (p >> 24) == 255) && std::abs(r - 127.5) < 1 && g == 0 &&
            std::abs(b - 127.5) < 1)
          ++averaged;
        else
          ++other;
      }
    if (c.Averaged) {
      EXPECT_EQ(other, 0) << c.Width;
    } else {
      EXPECT_GT(other, 0) << c.Width;  // the picture itself shows
    }
    EXPECT_EQ(averaged + other, 40 * c.Width);
  }
}

}  // namespace
}  // namespace quirlon::core
