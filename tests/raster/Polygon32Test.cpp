#include "raster/Polygon32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Errors.h"

namespace quirlon::raster {
namespace {

TFixedPoint Px(std::int32_t x, std::int32_t y) { return TFixedPoint{x * 65536, y * 65536}; }

void AddRect(TPolygon32& p, std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
  p.AddPoint(Px(l, t));
  p.AddPoint(Px(r, t));
  p.AddPoint(Px(r, b));
  p.AddPoint(Px(l, b));
}

// Coverage alpha per pixel, captured through the line-callback fill (the colours carry coverage).
struct TCoverage {
  std::int32_t Width = 0, Height = 0;
  std::vector<int> Alpha;
  int calls = 0;
  int At(std::int32_t x, std::int32_t y) const { return Alpha[static_cast<std::size_t>(y) * Width + x]; }
  long long Sum() const {
    long long s = 0;
    for (int a : Alpha) s += a;
    return s;
  }
};

TCoverage Coverage(const TPolygon32& p, std::int32_t w, std::int32_t h) {
  TBitmap32 bmp;
  bmp.SetSize(w, h);
  TCoverage c;
  c.Width = w;
  c.Height = h;
  c.Alpha.assign(static_cast<std::size_t>(w) * h, 0);
  p.FillInto(bmp, [&](std::int32_t x, std::int32_t y, std::int32_t n, const TColor32* colors) {
    ++c.calls;
    EXPECT_GE(x, 0);
    EXPECT_GE(y, 0);
    EXPECT_LT(y, h);
    EXPECT_LE(x + n, w);
    for (std::int32_t i = 0; i < n; ++i) {
      EXPECT_EQ(colors[i] & 0xFFFFFFu, 0u);
      c.Alpha[static_cast<std::size_t>(y) * w + x + i] += static_cast<int>(colors[i] >> 24);
    }
  });
  return c;
}

// Alpha of a pixel holding u coverage units at scale m, as the fill rule defines it.
int UnitsToAlpha(long long u, long long m) { return static_cast<int>(((u * m) >> 8) & 255); }

struct TLevel {
  TSubsampleMode Mode;
  int L;
  long long M;
};
constexpr TLevel kLevels[] = {{ss32x, 32, 65}, {ss16x, 16, 273}, {ss8x, 8, 1167}, {ss4x, 4, 5460}, {ss2x, 2, 32662}};

// ---------------------------------------------------------------------------------------------
// Contours and settings

TEST(Polygon32Test, NewPolygonAndContourEditing) {
  TPolygon32 p;
  EXPECT_EQ(p.Contours(), TArrayOfArrayOfFixedPoint(1));
  EXPECT_TRUE(p.ClosedContours());
  EXPECT_FALSE(p.Smooth());
  EXPECT_EQ(p.FillRule(), frEvenOdd);
  EXPECT_EQ(p.SubsampleMode(), ss8x);

  p.AddPoint(Px(1, 2));
  p.AddPoint(Px(3, 4));
  p.ComputeNormals();
  EXPECT_FALSE(p.EdgeNormals().empty());
  p.StartContour();  // any change of the points makes the cache stale
  EXPECT_TRUE(p.EdgeNormals().empty());
  p.AddPoint(Px(5, 6));
  p.ComputeNormals();
  p.AddPoint(Px(7, 8));
  EXPECT_TRUE(p.EdgeNormals().empty());
  EXPECT_EQ(p.Contours(), (TArrayOfArrayOfFixedPoint{{Px(1, 2), Px(3, 4)}, {Px(5, 6), Px(7, 8)}}));

  TPolygon32 q;
  q.SetSmooth(true);
  q.SetFillRule(frNonZero);
  q.Assign(p);
  EXPECT_EQ(q.Contours(), p.Contours());
  EXPECT_FALSE(q.Smooth());
  EXPECT_EQ(q.FillRule(), frEvenOdd);

  p.ClearContours();
  EXPECT_EQ(p.Contours(), TArrayOfArrayOfFixedPoint(1));
}

TEST(Polygon32Test, NormalsOfClockwiseSquarePointOutward) {
  TPolygon32 p;
  AddRect(p, 0, 0, 10, 10);  // clockwise on screen
  p.ComputeNormals();
  ASSERT_EQ(p.EdgeNormals().size(), 1u);
  EXPECT_EQ(p.EdgeNormals()[0],
            (TArrayOfFixedPoint{{0, -65536}, {65536, 0}, {0, 65536}, {-65536, 0}}));
}

TEST(Polygon32Test, NormalsOfDiagonalShortAndOpenContours) {
  TPolygon32 p;
  // Diagonal edge (1, 1): 1 / sqrt(2) stored as a float is 0.70710677, times 65536 = 46340.95.
  p.AddPoint(Px(0, 0));
  p.AddPoint(Px(1, 1));
  p.AddPoint(Px(1, 1));  // zero-length edge: normal (0, 0)
  p.StartContour();
  p.AddPoint(Px(4, 4));  // one point: (0, 0)
  p.StartContour();      // empty contour: no normals
  p.ComputeNormals();
  const auto& n = p.EdgeNormals();
  ASSERT_EQ(n.size(), 3u);
  ASSERT_EQ(n[0].size(), 3u);
  EXPECT_EQ(n[0][0], (TFixedPoint{46341, -46341}));
  EXPECT_EQ(n[0][1], (TFixedPoint{0, 0}));
  // Closing edge (1,1) -> (0,0): direction (-1, -1), normal (-0.707, 0.707).
  EXPECT_EQ(n[0][2], (TFixedPoint{-46341, 46341}));
  EXPECT_EQ(n[1], (TArrayOfFixedPoint{{0, 0}}));
  EXPECT_TRUE(n[2].empty());

  // Open contour: the last point repeats the normal of the last edge.
  TPolygon32 o;
  o.SetClosedContours(false);
  o.AddPoint(Px(0, 0));
  o.AddPoint(Px(3, 0));
  o.AddPoint(Px(3, 2));
  o.ComputeNormals();
  EXPECT_EQ(o.EdgeNormals()[0], (TArrayOfFixedPoint{{0, -65536}, {65536, 0}, {65536, 0}}));
}

TEST(Polygon32Test, MakeOutline) {
  TPolygon32 p;
  const TFixedPoint a = Px(0, 0), b = Px(4, 0), c = Px(4, 3), d = Px(0, 3);
  p.AddPoint(a);
  p.AddPoint(b);
  p.AddPoint(c);
  p.AddPoint(d);
  p.StartContour();
  p.AddPoint(Px(9, 9));  // a single point is dropped
  p.SetSmooth(true);
  p.SetSubsampleMode(ss32x);
  p.SetFillRule(frNonZero);
  auto o = p.MakeOutline();
  EXPECT_EQ(o->Contours(), (TArrayOfArrayOfFixedPoint{{a, b, c, d}, {d, c, b, a}}));
  EXPECT_TRUE(o->Smooth());
  EXPECT_EQ(o->SubsampleMode(), ss32x);
  EXPECT_EQ(o->FillRule(), frNonZero);
  EXPECT_FALSE(p.EdgeNormals().empty());  // the source keeps its computed normals

  TPolygon32 open;
  open.SetClosedContours(false);
  open.AddPoint(a);
  open.AddPoint(b);
  open.AddPoint(c);
  auto oo = open.MakeOutline();
  EXPECT_EQ(oo->Contours(), (TArrayOfArrayOfFixedPoint{{a, b, c, c, b, a}}));
  EXPECT_FALSE(oo->ClosedContours());

  TPolygon32 empty;
  auto eo = empty.MakeOutline();
  EXPECT_TRUE(eo->Contours().empty());
  eo->AddPoint(a);  // adding to a polygon without contours starts one
  EXPECT_EQ(eo->Contours(), (TArrayOfArrayOfFixedPoint{{a}}));
}

// ---------------------------------------------------------------------------------------------
// Growing along normals

TEST(Polygon32Test, GrowWithDeltaZeroCopiesEverything) {
  TPolygon32 p;
  AddRect(p, 1, 2, 3, 4);
  p.StartContour();
  p.AddPoint(Px(7, 7));
  p.StartContour();
  auto g = p.GrowAlongNormals(0, 0.5f);
  EXPECT_EQ(g->Contours(), p.Contours());
}

TEST(Polygon32Test, GrowRightAngleCornersMitre) {
  TPolygon32 p;
  AddRect(p, 10, 10, 20, 20);
  auto g = p.GrowAlongNormals(3277, 10.5f);  // limit round(0.0099999905 x 3277) = 33
  const std::int32_t d = 3277;
  EXPECT_EQ(g->Contours(), (TArrayOfArrayOfFixedPoint{{{Px(10, 10).X - d, Px(10, 10).Y - d},
                                                       {Px(20, 10).X + d, Px(20, 10).Y - d},
                                                       {Px(20, 20).X + d, Px(20, 20).Y + d},
                                                       {Px(10, 20).X - d, Px(10, 20).Y + d}}}));

  // The reversed contour (counter-clockwise) shrinks by the same amount.
  auto o = p.MakeOutline();
  auto go = o->GrowAlongNormals(3277, 10.5f);
  ASSERT_EQ(go->Contours().size(), 2u);
  EXPECT_EQ(go->Contours()[1][0], (TFixedPoint{Px(10, 20).X + d, Px(10, 20).Y - d}));
  EXPECT_EQ(go->Contours()[1][2], (TFixedPoint{Px(20, 10).X - d, Px(20, 10).Y + d}));

  // Sharpness below 0 counts as 0: the limit becomes Delta itself, and a right angle (R = Delta)
  // gets the bevel: previous normal offset first, then the vertex's own.
  auto b = p.GrowAlongNormals(3277, -1.0f);
  ASSERT_EQ(b->Contours().size(), 1u);
  const auto& c = b->Contours()[0];
  ASSERT_EQ(c.size(), 8u);
  EXPECT_EQ(c[0], (TFixedPoint{Px(10, 10).X - d, Px(10, 10).Y}));
  EXPECT_EQ(c[1], (TFixedPoint{Px(10, 10).X, Px(10, 10).Y - d}));
  EXPECT_EQ(c[2], (TFixedPoint{Px(20, 10).X, Px(20, 10).Y - d}));
  EXPECT_EQ(c[3], (TFixedPoint{Px(20, 10).X + d, Px(20, 10).Y}));
  // Sharpness 0.5: limit round(0.5 x 3277) = 1638 (tie to even), so the right angle is a mitre again.
  auto m = p.GrowAlongNormals(3277, 0.5f);
  EXPECT_EQ(m->Contours()[0].size(), 4u);
}

TEST(Polygon32Test, GrowFortyFiveDegreeCornerHandComputed) {
  // Edge (1, 0) then (1, 1): normals (0, -65536) and (46341, -46341); scaled by 3277/65536 they are
  // (0, -3277) and (2317, -2317). L = (2317, -5594), R = 0 + 5594, mitre offset
  // (2317 x 3277 / 5594, -5594 x 3277 / 5594) = (1357, -3277), rounded.
  TPolygon32 p;
  p.SetClosedContours(false);
  p.AddPoint(Px(0, 0));
  p.AddPoint(Px(10, 0));
  p.AddPoint(Px(20, 10));
  auto g = p.GrowAlongNormals(3277, 0.99f);
  ASSERT_EQ(g->Contours().size(), 1u);
  const auto& c = g->Contours()[0];
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0], (TFixedPoint{0, -3277}));                      // open start: own normal
  EXPECT_EQ(c[1], (TFixedPoint{Px(10, 0).X + 1357, -3277}));     // mitre
  EXPECT_EQ(c[2], (TFixedPoint{Px(20, 10).X + 2317, Px(20, 10).Y - 2317}));  // open end: previous normal
  // The mitre point is Delta / cos(22.5 degrees) = 3547 from the vertex.
  EXPECT_NEAR(std::hypot(1357.0, 3277.0), 3277.0 / std::cos(M_PI / 8), 2.0);
}

TEST(Polygon32Test, GrowCornerThatDoublesBackGetsBevel) {
  // (0,0) -> (10,0) -> (0,0): at the middle vertex the normals are opposite (R = 0 <= 33): bevel.
  // The closing edge has length 0 and normal (0, 0).
  TPolygon32 p;
  p.AddPoint(Px(0, 0));
  p.AddPoint(Px(10, 0));
  p.AddPoint(Px(0, 0));
  auto g = p.GrowAlongNormals(3277, 10.5f);
  ASSERT_EQ(g->Contours().size(), 1u);
  EXPECT_EQ(g->Contours()[0], (TArrayOfFixedPoint{
                                  {0, 0}, {0, -3277},                    // vertex 0: R = 0, bevel
                                  {Px(10, 0).X, -3277}, {Px(10, 0).X, 3277},  // vertex 1: bevel
                                  {0, 3277},                             // vertex 2: R = 3277, mitre
                              }));
  // A two-point contour is grown too; a lone point is dropped.
  TPolygon32 two;
  two.AddPoint(Px(0, 0));
  two.AddPoint(Px(5, 0));
  two.StartContour();
  two.AddPoint(Px(1, 1));
  auto g2 = two.GrowAlongNormals(100, 0.99f);
  ASSERT_EQ(g2->Contours().size(), 1u);
  EXPECT_EQ(g2->Contours()[0].size(), 4u);
}

// ---------------------------------------------------------------------------------------------
// Smooth fill: exact coverage arithmetic

TEST(Polygon32Test, SmoothSquareInteriorAndBlendedValues) {
  TPolygon32 p;
  AddRect(p, 10, 10, 20, 20);
  p.SetSmooth(true);
  p.SetSubsampleMode(ss32x);
  // Sub-scanlines 320 .. 640: the top one (320) is not filled, so row 10 has 31 sub-lines of
  // 31 units (961, alpha (961 x 65) >> 8 = 244) and rows 11..19 have 32 (992, alpha 251).
  const TCoverage c = Coverage(p, 30, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) {
      const bool inside = x >= 10 && x < 20 && y >= 10 && y < 20;
      const int expected = !inside ? 0 : (y == 10 ? 244 : 251);
      ASSERT_EQ(c.At(x, y), expected) << x << "," << y;
    }

  TBitmap32 bmp;
  bmp.SetSize(30, 30);
  bmp.Clear(0xFF000000u);
  p.FillInto(bmp, 0xFFFFFFFFu);
  EXPECT_EQ(bmp.PixelAt(15, 15), 0xFBFAFAFAu);
  EXPECT_EQ(bmp.PixelAt(10, 19), 0xFBFAFAFAu);
  // Row 10: coverage 244 gives weight 244: alpha (244 x 244 + 255 x 12 + 128) >> 8 = 245,
  // colour (255 x 244 + 128) >> 8 = 243.
  EXPECT_EQ(bmp.PixelAt(12, 10), 0xF5F3F3F3u);
  EXPECT_EQ(bmp.PixelAt(9, 15), 0xFF000000u);
  EXPECT_EQ(bmp.PixelAt(20, 15), 0xFF000000u);
  EXPECT_EQ(bmp.PixelAt(15, 20), 0xFF000000u);
}

TEST(Polygon32Test, ExtremeSubScanlinesAreNotFilled) {
  // Corners on sub-rows 0 and 10 (ss32x: y = 10 x 2048 in 16.16), one pixel wide: sub-rows 1..9
  // are filled, 9 x 31 = 279 units, alpha (279 x 65) >> 8 = 70.
  TPolygon32 p;
  p.SetSmooth(true);
  p.SetSubsampleMode(ss32x);
  p.AddPoint({0, 0});
  p.AddPoint({65536, 0});
  p.AddPoint({65536, 10 * 2048});
  p.AddPoint({0, 10 * 2048});
  const TCoverage c = Coverage(p, 3, 3);
  EXPECT_EQ(c.At(0, 0), 70);
  EXPECT_EQ(c.Sum(), 70);
  // One sub-row less at the top (vertex at 1 x 2048 - 2047 = 1 still converts to sub-row 1).
  p.ClearContours();
  p.AddPoint({0, 1});
  p.AddPoint({65536, 1});
  p.AddPoint({65536, 10 * 2048});
  p.AddPoint({0, 10 * 2048});
  EXPECT_EQ(Coverage(p, 3, 3).At(0, 0), UnitsToAlpha(8 * 31, 65));
}

TEST(Polygon32Test, FullCoverageAndSquareTotalsAtEveryLevel) {
  for (const TLevel& lv : kLevels) {
    SCOPED_TRACE(lv.L);
    TPolygon32 p;
    p.SetSmooth(true);
    p.SetSubsampleMode(lv.Mode);
    AddRect(p, 3, 4, 13, 11);
    const TCoverage c = Coverage(p, 16, 16);
    const int full = UnitsToAlpha(lv.L * (lv.L - 1), lv.M);
    EXPECT_EQ(full, lv.L == 32 ? 251 : 255);
    const int topRow = UnitsToAlpha((lv.L - 1) * (lv.L - 1), lv.M);
    EXPECT_EQ(c.At(7, 7), full);
    EXPECT_EQ(c.At(3, 4), topRow);
    EXPECT_EQ(c.Sum(), 10LL * topRow + 10LL * 6 * full);
    // Against the area: only the top sub-scanline (1/L of a row) is missing, within alpha rounding.
    const double area = static_cast<double>(c.Sum()) / full;
    EXPECT_NEAR(area, 70.0 - 10.0 / lv.L, 20.0 / full);
  }
}

using TRefPolygon = std::vector<std::pair<long double, long double>>;

// Independent reference: the exact area of a simple polygon inside each pixel, by clipping it to the
// pixel square (Sutherland-Hodgman, exact for concave shapes against a convex window) in long double
// and taking the shoelace area.
std::vector<long double> AreaPerPixel(const TRefPolygon& shape, int w, int h) {
  auto clip = [](const TRefPolygon& in, int axis, long double bound, bool keepBelow) {
    TRefPolygon out;
    for (std::size_t i = 0; i < in.size(); ++i) {
      const auto& p = in[i];
      const auto& q = in[(i + 1) % in.size()];
      const long double pv = axis ? p.second : p.first, qv = axis ? q.second : q.first;
      const bool pin = keepBelow ? pv <= bound : pv >= bound;
      const bool qin = keepBelow ? qv <= bound : qv >= bound;
      if (pin) out.push_back(p);
      if (pin != qin) {
        const long double t = (bound - pv) / (qv - pv);
        out.emplace_back(p.first + (q.first - p.first) * t, p.second + (q.second - p.second) * t);
      }
    }
    return out;
  };
  std::vector<long double> cov(static_cast<std::size_t>(w) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      TRefPolygon poly = clip(clip(clip(clip(shape, 0, x, false), 0, x + 1, true), 1, y, false), 1, y + 1, true);
      long double area = 0;
      for (std::size_t i = 0; i < poly.size(); ++i) {
        const auto& p = poly[i];
        const auto& q = poly[(i + 1) % poly.size()];
        area += p.first * q.second - q.first * p.second;
      }
      cov[static_cast<std::size_t>(y) * w + x] = std::fabs(area) / 2;
    }
  return cov;
}

// Fills p (its contour = the given 16.16 vertices) at level lv and compares every pixel with the exact
// area. The reference shape carries the fill's known mean offset: vertices convert with
// (v + 2047) >> (16 - s), on average 2047 / 2^(16 - s) - 1/2 sub-pixel beyond exact, and each
// sub-line samples at its top, half a sub-line above its middle. Around that offset, vertex
// rounding, sub-line sampling and the stepped crossings each move an edge by up to about a
// sub-pixel: ~2.25/L of a pixel, plus the alpha's flooring. In total the deviation is bounded by
// the outline's length times 1/L.
void ExpectExactArea(TPolygon32& p, const TLevel& lv, int w, int h) {
  SCOPED_TRACE(testing::Message() << "L " << lv.L);
  p.SetSubsampleMode(lv.Mode);
  const TArrayOfFixedPoint& v = p.Contours()[0];
  const long double bias = 2047.0L / (65536 / lv.L) - 0.5L;
  TRefPolygon shape;
  double perimeter = 0;
  for (std::size_t k = 0; k < v.size(); ++k) {
    shape.emplace_back(v[k].X / 65536.0L + bias / lv.L, v[k].Y / 65536.0L + (bias + 0.5L) / lv.L);
    const TFixedPoint& n = v[(k + 1) % v.size()];
    perimeter += std::hypot((n.X - static_cast<double>(v[k].X)) / 65536, (n.Y - static_cast<double>(v[k].Y)) / 65536);
  }
  const auto ref = AreaPerPixel(shape, w, h);
  const TCoverage c = Coverage(p, w, h);
  const int full = UnitsToAlpha(lv.L * (lv.L - 1), lv.M);
  long double total = 0, refTotal = 0;
  for (int i = 0; i < w * h; ++i) {
    ASSERT_NEAR(c.Alpha[i], static_cast<double>(ref[i]) * full, full * 2.25 / lv.L + 2) << "pixel " << i % w << "," << i / w;
    total += c.Alpha[i];
    refTotal += ref[i] * full;
  }
  EXPECT_NEAR(static_cast<double>(total), static_cast<double>(refTotal), perimeter * full / lv.L + 2 * full);
}

TEST(Polygon32Test, RandomTrianglesAgainstExactArea) {
  std::mt19937 rng(20261209);
  std::uniform_real_distribution<double> coord(-2.0, 18.0);
  for (int trial = 0; trial < 60; ++trial) {
    SCOPED_TRACE(trial);
    TPolygon32 p;
    p.SetSmooth(true);
    p.SetFillRule(trial % 2 ? frNonZero : frEvenOdd);
    for (int k = 0; k < 3; ++k)
      p.AddPoint({static_cast<TFixed16>(coord(rng) * 65536), static_cast<TFixed16>(coord(rng) * 65536)});
    for (int level = 0; level < 4; ++level) ExpectExactArea(p, kLevels[level], 16, 16);
  }
}

TEST(Polygon32Test, ConcavePolygonsWithFlatEdgesAgainstExactArea) {
  // Star-shaped polygons whose vertices often snap to whole rows: flat edges, and local tops and
  // bottoms in the middle of the contour exercise the crossings added where the direction reverses.
  std::mt19937 rng(4242);
  std::uniform_int_distribution<int> count(5, 10), snap(0, 2);
  std::uniform_real_distribution<double> radius(2.0, 9.0), jitter(-0.3, 0.3);
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE(trial);
    TPolygon32 p;
    p.SetSmooth(true);
    p.SetFillRule(trial % 2 ? frNonZero : frEvenOdd);
    const int n = count(rng);
    for (int k = 0; k < n; ++k) {
      const double a = (k + 0.5 + jitter(rng)) * 2 * M_PI / n;
      const double r = radius(rng);
      double y = 12 + r * std::sin(a);
      if (snap(rng) == 0) y = std::round(y);
      p.AddPoint({static_cast<TFixed16>((12 + r * std::cos(a)) * 65536), static_cast<TFixed16>(y * 65536)});
    }
    ExpectExactArea(p, kLevels[0], 24, 24);
    ExpectExactArea(p, kLevels[2], 24, 24);
  }
}

// ---------------------------------------------------------------------------------------------
// Fill rules

// A five-pointed star drawn in one stroke: its centre pentagon has winding 2.
void MakePentagram(TPolygon32& p, bool smooth) {
  p.SetSmooth(smooth);
  p.SetSubsampleMode(ss32x);
  const double cx = 20, cy = 20, r = 18;
  for (int k = 0; k < 5; ++k) {
    const double a = -M_PI / 2 + k * 4 * M_PI / 5;
    p.AddPoint({static_cast<TFixed16>(std::lround((cx + r * std::cos(a)) * 65536)),
                static_cast<TFixed16>(std::lround((cy + r * std::sin(a)) * 65536))});
  }
}

TEST(Polygon32Test, EvenOddAndNonZeroOnSelfOverlappingContour) {
  for (bool smooth : {true, false}) {
    SCOPED_TRACE(smooth);
    TPolygon32 p;
    MakePentagram(p, smooth);
    const int full = smooth ? 251 : 255;
    p.SetFillRule(frEvenOdd);
    const TCoverage even = Coverage(p, 40, 40);
    p.SetFillRule(frNonZero);
    const TCoverage nonzero = Coverage(p, 40, 40);
    EXPECT_EQ(even.At(20, 20), 0);      // centre pentagon: winding 2
    EXPECT_EQ(nonzero.At(20, 20), full);
    EXPECT_EQ(even.At(19, 8), full);    // inside the top point: winding 1
    EXPECT_EQ(nonzero.At(20, 8), full);
    EXPECT_EQ(even.At(1, 1), 0);
    EXPECT_EQ(nonzero.At(1, 1), 0);
    EXPECT_GT(nonzero.Sum(), even.Sum());
  }
  // Two overlapping squares of the same orientation: their overlap is a hole only for even-odd.
  TPolygon32 q;
  q.SetSmooth(true);
  AddRect(q, 2, 2, 12, 12);
  q.StartContour();
  AddRect(q, 6, 6, 16, 16);
  const TCoverage e = Coverage(q, 20, 20);
  q.SetFillRule(frNonZero);
  const TCoverage n = Coverage(q, 20, 20);
  EXPECT_EQ(e.At(8, 8), 0);
  EXPECT_EQ(n.At(8, 8), 255);
  EXPECT_EQ(e.At(4, 4), 255);
  EXPECT_EQ(n.At(14, 14), 255);
}

TEST(Polygon32Test, GrownOutlineIsAThinBandForBothRules) {
  // The edge mask recipe: a quadrilateral, its outline grown by 0.05 pixel.
  TPolygon32 q;
  q.AddPoint(Px(10, 10));
  q.AddPoint(Px(30, 12));
  q.AddPoint(Px(28, 30));
  q.AddPoint(Px(8, 26));
  q.SetSmooth(true);
  q.SetSubsampleMode(ss32x);
  auto o = q.MakeOutline();
  auto g = o->GrowAlongNormals(ToFixed(0.05L), 10.5f);
  g->SetFillRule(frNonZero);
  g->SetSmooth(true);
  g->SetSubsampleMode(ss32x);
  const TCoverage band = Coverage(*g, 40, 40);
  g->SetFillRule(frEvenOdd);
  EXPECT_EQ(Coverage(*g, 40, 40).Alpha, band.Alpha);
  EXPECT_EQ(band.At(20, 20), 0);  // inside the inner contour
  EXPECT_EQ(band.At(2, 2), 0);
  int maxBand = 0;
  for (int a : band.Alpha) maxBand = std::max(maxBand, a);
  EXPECT_GT(maxBand, 0);
  EXPECT_LT(maxBand, 40);  // about a tenth of a pixel at most
  // Length of the outline ~ 20.1 + 18.1 + 20.4 + 16.1 = 74.7 pixels; band area ~ 0.1 of that.
  EXPECT_NEAR(static_cast<double>(band.Sum()) / 251, 7.47, 2.0);

  // And onto the mask as the warp does: the quad first, then the band brightens its edge.
  TBitmap32 mask;
  mask.SetSize(40, 40);
  mask.Clear(0xFF000000u);
  q.FillInto(mask, 0xFFFFFFFFu);
  const TColor32 edgeBefore = mask.PixelAt(20, 11);
  g->SetFillRule(frNonZero);
  g->FillInto(mask, 0xFFFFFFFFu);
  EXPECT_EQ(mask.PixelAt(20, 20), 0xFBFAFAFAu);
  EXPECT_GE(mask.PixelAt(20, 11) & 0xFF, edgeBefore & 0xFF);
  EXPECT_EQ(mask.PixelAt(1, 1), 0xFF000000u);
}

// ---------------------------------------------------------------------------------------------
// Clipping, degenerate input, notification

TEST(Polygon32Test, ShapesPartlyOutsideAreClipped) {
  TPolygon32 p;
  p.SetSmooth(true);
  p.SetSubsampleMode(ss32x);
  AddRect(p, -5, -5, 5, 5);
  TCoverage c = Coverage(p, 10, 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) ASSERT_EQ(c.At(x, y), (x < 5 && y < 5) ? 251 : 0) << x << "," << y;

  p.ClearContours();
  AddRect(p, 5, 5, 15, 15);
  c = Coverage(p, 10, 10);
  EXPECT_EQ(c.At(9, 9), 251);
  EXPECT_EQ(c.At(9, 5), 244);
  EXPECT_EQ(c.At(4, 9), 0);

  // Far beyond every side, and fractional corners outside.
  p.ClearContours();
  p.AddPoint({-30000 * 65536, -30000 * 65536});
  p.AddPoint({30000 * 65536, -30000 * 65536});
  p.AddPoint({30000 * 65536, 30000 * 65536});
  p.AddPoint({-30000 * 65536, 30000 * 65536});
  c = Coverage(p, 7, 5);
  for (int a : c.Alpha) ASSERT_EQ(a, 251);

  // A clip rectangle narrower than the bitmap: nothing outside it changes.
  TBitmap32 bmp;
  bmp.SetSize(12, 12);
  bmp.Clear(0xFF000000u);
  bmp.SetClipRect(TRect{3, 2, 8, 9});
  p.FillInto(bmp, 0xFFFFFFFFu);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      const bool in = x >= 3 && x < 8 && y >= 2 && y < 9;
      ASSERT_EQ(bmp.PixelAt(x, y), in ? 0xFBFAFAFAu : 0xFF000000u) << x << "," << y;
    }
  // Hard fill respects the same clip.
  bmp.Clear(0xFF000000u);
  p.SetSmooth(false);
  p.FillInto(bmp, 0xFF123456u);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      const bool in = x >= 3 && x < 8 && y >= 2 && y < 9;
      ASSERT_EQ(bmp.PixelAt(x, y), in ? 0xFF123456u : 0xFF000000u) << x << "," << y;
    }
}

TEST(Polygon32Test, EmptyAndDegeneratePolygonsDrawNothing) {
  std::vector<TPolygon32> cases(6);
  cases[1].AddPoint(Px(1, 1));
  cases[2].AddPoint(Px(1, 1));
  cases[2].AddPoint(Px(5, 5));
  AddRect(cases[3], 2, 3, 8, 3);  // zero height
  AddRect(cases[4], 4, 2, 4, 8);  // zero width
  cases[5].AddPoint({3 * 65536, 3 * 65536});  // spans one sub-scanline only
  cases[5].AddPoint({9 * 65536, 3 * 65536 + 100});
  cases[5].AddPoint({5 * 65536, 3 * 65536 + 100});
  for (bool smooth : {true, false})
    for (TSubsampleMode mode : {ss32x, ss2x})
      for (auto& p : cases) {
        p.SetSmooth(smooth);
        p.SetSubsampleMode(mode);
        TBitmap32 bmp;
        bmp.SetSize(10, 10);
        bmp.Clear(0xFF000000u);
        int changes = 0;
        bmp.OnChange = [&](TObject*) { ++changes; };
        p.FillInto(bmp, 0xFFFFFFFFu);
        for (std::size_t i = 0; i < bmp.PixelCount(); ++i) ASSERT_EQ(bmp.Bits()[i], 0xFF000000u);
        EXPECT_EQ(bmp.UpdateCount(), 0);
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(Coverage(p, 10, 10).Sum(), 0);
      }
  // An empty bitmap.
  TPolygon32 p;
  AddRect(p, 0, 0, 4, 4);
  for (bool smooth : {true, false}) {
    p.SetSmooth(smooth);
    TBitmap32 empty;
    p.FillInto(empty, 0xFFFFFFFFu);
    EXPECT_EQ(empty.UpdateCount(), 0);
  }
}

TEST(Polygon32Test, FillNotifiesOnceAfterBalancedUpdates) {
  TPolygon32 p;
  p.SetSmooth(true);
  AddRect(p, 1, 1, 5, 5);
  TBitmap32 bmp;
  bmp.SetSize(8, 8);
  int changes = 0;
  bmp.OnChange = [&](TObject*) {
    ++changes;
    EXPECT_EQ(bmp.UpdateCount(), 0);
  };
  p.FillInto(bmp, 0xFFFFFFFFu);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(bmp.UpdateCount(), 0);
  // A mapping that fails leaves the counter balanced.
  EXPECT_THROW(p.FillInto(bmp, 0xFFFFFFFFu, [](const TFixedPoint&) -> TFixedPoint { throw EInvalidOp("x"); }),
               EInvalidOp);
  EXPECT_EQ(bmp.UpdateCount(), 0);
}

TEST(Polygon32Test, TransformationMovesVerticesBeforeFilling) {
  TPolygon32 p;
  p.SetSmooth(true);
  AddRect(p, 1, 1, 4, 4);
  TBitmap32 a, b;
  a.SetSize(12, 12);
  b.SetSize(12, 12);
  p.FillInto(a, 0xFF00FF00u, [](const TFixedPoint& v) { return TFixedPoint{v.X + 5 * 65536, v.Y + 3 * 65536}; });
  TPolygon32 q;
  q.SetSmooth(true);
  AddRect(q, 6, 4, 9, 7);
  q.FillInto(b, 0xFF00FF00u);
  for (std::size_t i = 0; i < a.PixelCount(); ++i) ASSERT_EQ(a.Bits()[i], b.Bits()[i]);
}

TEST(Polygon32Test, TranslucentColourUsesItsAlphaAsMasterAlpha) {
  TPolygon32 p;
  p.SetSmooth(true);
  p.SetSubsampleMode(ss16x);
  AddRect(p, 0, 0, 4, 4);
  TBitmap32 bmp;
  bmp.SetSize(4, 4);
  bmp.Clear(0xFF000000u);
  p.FillInto(bmp, 0x80FF0000u);
  // Interior coverage 255, M = 128: w = (256 x 128) >> 8 = 128. Colour 0xFFFF0000 over 0xFF000000.
  // alpha (255 x 128 + 255 x 128 + 128) >> 8 = 255, red (255 x 128 + 128) >> 8 = 128.
  EXPECT_EQ(bmp.PixelAt(2, 2), 0xFF800000u);
}

// ---------------------------------------------------------------------------------------------
// Hard fill

TEST(Polygon32Test, HardFillSquareAndTranslucentBlend) {
  TPolygon32 p;
  AddRect(p, 2, 2, 6, 6);
  TBitmap32 bmp;
  bmp.SetSize(8, 8);
  bmp.Clear(0xFF000000u);
  p.FillInto(bmp, 0xFFFF8000u);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      ASSERT_EQ(bmp.PixelAt(x, y), (x >= 2 && x < 6 && y >= 2 && y < 6) ? 0xFFFF8000u : 0xFF000000u);
  // Alpha 0x80 blends with weight 128: alpha (128 x 128 + 255 x 128 + 128) >> 8 = 192,
  // red (255 x 128 + 128) >> 8 = 128, green (128 x 128 + 128) >> 8 = 64.
  bmp.Clear(0xFF000000u);
  p.FillInto(bmp, 0x80FF8000u);
  EXPECT_EQ(bmp.PixelAt(3, 3), 0xC0804000u);
  EXPECT_EQ(bmp.PixelAt(1, 3), 0xFF000000u);
  // Vertices round to the nearest pixel, an exact half down: 1.5 -> 1, 5.50002 -> 6, 3.5 -> 3.
  TPolygon32 h;
  h.AddPoint({98304, 98304});
  h.AddPoint({5 * 65536 + 32769, 98304});
  h.AddPoint({5 * 65536 + 32769, 3 * 65536 + 32768});
  h.AddPoint({98304, 3 * 65536 + 32768});
  const TCoverage c = Coverage(h, 8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(c.At(x, y), (x >= 1 && x < 6 && y >= 1 && y < 3) ? 255 : 0) << x << "," << y;
}

TEST(Polygon32Test, HardFillSharedEdgesNeitherOverlapNorGap) {
  // Triangles fanned around an interior point tile the bounding shape: with centre sampling every
  // pixel centre inside is filled exactly once, and exactly the centres inside are filled.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> c(0, 24);
  for (int trial = 0; trial < 20; ++trial) {
    TFixedPoint q[4] = {Px(c(rng), c(rng)), Px(c(rng), c(rng)), Px(c(rng), c(rng)), Px(c(rng), c(rng))};
    std::vector<int> hits(25 * 25, 0);
    for (int k = 0; k < 2; ++k) {
      TPolygon32 t;
      t.AddPoint(q[0]);
      t.AddPoint(q[1 + k]);
      t.AddPoint(q[2 + k]);
      const TCoverage cov = Coverage(t, 25, 25);
      for (int i = 0; i < 25 * 25; ++i) hits[i] += cov.Alpha[i] / 255;
    }
    // Reference: on the row through the pixel centre, the triangle's cross-section [xl, xr) holds
    // the centre (left end included, right end excluded). Integer vertices keep every crossing a
    // multiple of 1/48 pixel, so doubles compare exactly.
    auto inside = [](const TFixedPoint& a, const TFixedPoint& b, const TFixedPoint& d, double px, double py) {
      const TFixedPoint v[3] = {a, b, d};
      std::vector<double> xs;
      for (int k = 0; k < 3; ++k) {
        const double x1 = v[k].X / 65536.0, y1 = v[k].Y / 65536.0;
        const double x2 = v[(k + 1) % 3].X / 65536.0, y2 = v[(k + 1) % 3].Y / 65536.0;
        if ((y1 < py && py < y2) || (y2 < py && py < y1)) xs.push_back(x1 + (x2 - x1) * (py - y1) / (y2 - y1));
      }
      if (xs.size() != 2) return false;
      return std::min(xs[0], xs[1]) <= px && px < std::max(xs[0], xs[1]);
    };
    for (int y = 0; y < 25; ++y)
      for (int x = 0; x < 25; ++x) {
        const int expected = (inside(q[0], q[1], q[2], x + 0.5, y + 0.5) ? 1 : 0) +
                             (inside(q[0], q[2], q[3], x + 0.5, y + 0.5) ? 1 : 0);
        ASSERT_EQ(hits[y * 25 + x], expected) << "trial " << trial << " pixel " << x << "," << y;
      }
  }
}

}  // namespace
}  // namespace quirlon::raster

namespace quirlon::raster {
namespace {

// A tall fill is done in bands of rows on two threads; every row must come out as when that row
// alone is filled (a clip rectangle one row high), for both fill rules and every subsampling level.
TEST(Polygon32BandTest, TallFillsEqualRowByRowFills) {
  std::mt19937 rng(404);
  std::uniform_int_distribution<std::int32_t> coord(-20 * 65536, 320 * 65536);
  for (int round = 0; round < 12; ++round) {
    TPolygon32 p;
    const int points = 3 + round % 5;
    for (int k = 0; k < points; ++k) p.AddPoint(TFixedPoint{coord(rng), coord(rng)});
    if (round % 4 == 3) {  // a band around the outline, as the edge masks use
      const auto band = p.MakeOutline()->GrowAlongNormals(ToFixed(0.8L), 10.5f);
      p.Assign(*band);
    }
    p.SetSmooth(true);
    p.SetFillRule(round % 2 ? frNonZero : frEvenOdd);
    p.SetSubsampleMode(static_cast<TSubsampleMode>(round % 4 == 0 ? ss32x : round % 3));
    TBitmap32 whole, rows;
    for (TBitmap32* b : {&whole, &rows}) {
      b->SetSize(300, 300);
      b->Clear(0xFF000000u);
      b->SetCombineMode(cmBlend);
    }
    p.FillInto(whole, 0xFFFFFFFFu);
    for (int y = 0; y < 300; ++y) {
      rows.SetClipRect(TRect{0, y, 300, y + 1});
      p.FillInto(rows, 0xFFFFFFFFu);
    }
    ASSERT_TRUE(std::equal(whole.Bits(), whole.Bits() + whole.PixelCount(), rows.Bits())) << "round " << round;
  }
}

}  // namespace
}  // namespace quirlon::raster
