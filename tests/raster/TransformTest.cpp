#include "raster/Transform.h"

#include <gtest/gtest.h>

#include <array>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Errors.h"
#include "raster/Sampler.h"
#include "support/QuadReference.h"

namespace quirlon::raster {
namespace {

using namespace quirlon::testsupport;

// A source whose every pixel names its own position, so a destination pixel tells which source
// pixel it received.
constexpr TColor32 Code(int x, int y) { return 0xFF000000u | (static_cast<TColor32>(y) << 12) | static_cast<TColor32>(x); }
constexpr int CodeX(TColor32 c) { return static_cast<int>(c & 0xFFF); }
constexpr int CodeY(TColor32 c) { return static_cast<int>((c >> 12) & 0xFFF); }
constexpr TColor32 kOuter = 0x12345678u;  // alpha not 0xFF: never a Code value
constexpr TColor32 kUntouched = 0x00ABCDEFu;

void FillCoded(TBitmap32& b, int w, int h) {
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.PixelRef(x, y) = Code(x, y);
}

void SetCorners(TProjectiveTransformation& t, LD x0, LD y0, LD x1, LD y1, LD x2, LD y2, LD x3, LD y3) {
  t.SetX0(static_cast<float>(x0));
  t.SetY0(static_cast<float>(y0));
  t.SetX1(static_cast<float>(x1));
  t.SetY1(static_cast<float>(y1));
  t.SetX2(static_cast<float>(x2));
  t.SetY2(static_cast<float>(y2));
  t.SetX3(static_cast<float>(x3));
  t.SetY3(static_cast<float>(y3));
}

// Reference per-channel mix of F onto B with weight w.
TColor32 Mix(TColor32 f, TColor32 b, int w) {
  TColor32 r = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    const int fc = (f >> sh) & 0xFF, bc = (b >> sh) & 0xFF;
    r |= static_cast<TColor32>((fc * w + bc * (256 - w) + 128) >> 8) << sh;
  }
  return r;
}

TEST(TransformArithmetic, FixedMultiplyKeepsBits16To47AndFloors) {
  EXPECT_EQ(FixedMultiply(3 * 65536, 32768), 98304);          // 3 x 0.5 = 1.5
  EXPECT_EQ(FixedMultiply(-1, 1), -1);                         // -2^-32 floors to -2^-16
  EXPECT_EQ(FixedMultiply(1, 1), 0);
  EXPECT_EQ(FixedMultiply(-3 * 65536, 32768), -98304);
  // The high part beyond 32 bits is dropped: 2^15 x 2^15 = 2^30 -> raw 2^46 >> 16 = 2^30 ... and one
  // step further wraps.
  EXPECT_EQ(FixedMultiply(0x40000000, 0x40000000), 0);  // 2^60 >> 16 = 2^44, low 32 bits are 0
}

TEST(TransformArithmetic, MulRoundSingleMatchesExtendedProduct) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::int32_t> anyInt(INT32_MIN, INT32_MAX);
  std::uniform_real_distribution<double> anyQ(-17.0, 17.0);
  for (int n = 0; n < 200000; ++n) {
    const std::int32_t v = n < 1000 ? n - 500 : anyInt(rng);
    float q = static_cast<float>(std::ldexp(anyQ(rng), static_cast<int>(n % 40) - 20));
    if (n % 7 == 0) q = 65536.0f / static_cast<float>(1 + n % 1000);
    // The product of an int32 and a float is exact in long double; llrintl rounds half to even.
    const LD exact = static_cast<LD>(v) * static_cast<LD>(q);
    const auto expect = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::llrintl(exact))));
    ASSERT_EQ(MulRoundSingle(v, q), expect) << v << " x " << q;
  }
  // Ties go to the even neighbour.
  EXPECT_EQ(MulRoundSingle(5, 0.5f), 2);
  EXPECT_EQ(MulRoundSingle(7, 0.5f), 4);
  EXPECT_EQ(MulRoundSingle(-5, 0.5f), -2);
  EXPECT_EQ(MulRoundSingle(-7, 0.5f), -4);
  EXPECT_EQ(MulRoundSingle(123, 0.0f), 0);
}

TEST(TransformArithmetic, UnitOverRoundsLikeExtendedDivision) {
  auto reference = [](std::int32_t z) { return static_cast<float>(65536.0L / static_cast<LD>(z)); };
  for (std::int32_t z = 1; z <= (1 << 20); ++z) {
    ASSERT_EQ(FixedUnitOver(z), reference(z)) << z;
    ASSERT_EQ(FixedUnitOver(-z), reference(-z)) << -z;
  }
  std::mt19937 rng(3);
  std::uniform_int_distribution<std::int32_t> anyInt(INT32_MIN, INT32_MAX);
  for (int n = 0; n < 2000000; ++n) {
    const std::int32_t z = anyInt(rng);
    if (z != 0) {
      ASSERT_EQ(FixedUnitOver(z), reference(z)) << z;
    }
  }
  // Quotients whose double lands exactly half-way between two floats: rounding the double again
  // would differ from the extended quotient for some of them.
  EXPECT_NE(static_cast<float>(65536.0 / 846731599.0), reference(846731599));
  for (const std::int32_t z : {592209605, 846731599, 939524103, 943201287, -846731599, -939524103})
    EXPECT_EQ(FixedUnitOver(z), reference(z)) << z;
}

TEST(TransformMatrices, MultiplyAppliesRightOperandFirst) {
  // A point maps as row vector times matrix. B translates by (5, 7), A scales by (2, 3).
  TSingleMatrix a = kIdentityMatrix, b = kIdentityMatrix;
  a[0][0] = 2;
  a[1][1] = 3;
  b[2][0] = 5;
  b[2][1] = 7;
  const TSingleMatrix c = MultiplyMatrix(a, b);
  // (1, 1) -> (6, 8) -> (12, 24)
  EXPECT_FLOAT_EQ(c[0][0] * 1 + c[1][0] * 1 + c[2][0], 12);
  EXPECT_FLOAT_EQ(c[0][1] * 1 + c[1][1] * 1 + c[2][1], 24);
  EXPECT_FLOAT_EQ(c[2][2], 1);
}

TEST(TransformMatrices, InvertMatrixExactAndFallback) {
  TSingleMatrix m = kIdentityMatrix;
  m[0][0] = 2;
  m[1][1] = 4;
  m[2][0] = 6;  // x' = 2x + 6, y' = 4y
  InvertMatrix(m);
  EXPECT_EQ(m[0][0], 0.5f);
  EXPECT_EQ(m[1][1], 0.25f);
  EXPECT_EQ(m[2][0], -3.0f);
  EXPECT_EQ(m[2][2], 1.0f);
  EXPECT_EQ(m[0][1], 0.0f);

  TSingleMatrix zero{};
  InvertMatrix(zero);
  EXPECT_EQ(zero, kIdentityMatrix);

  // det = 1e-6: below the 1e-5 limit.
  TSingleMatrix tiny = kIdentityMatrix;
  tiny[0][0] = 0.001f;
  tiny[1][1] = 0.001f;
  InvertMatrix(tiny);
  EXPECT_EQ(tiny, kIdentityMatrix);
}

TEST(ProjectiveTransformation, MappedBoundsRoundsHalfToEven) {
  TProjectiveTransformation t;
  SetCorners(t, 10, 0, 101, 0, 101, 5, 10, 5);
  TRect r = t.GetTransformedBounds();
  EXPECT_EQ(r.Left, 10);    // 9.5 -> 10
  EXPECT_EQ(r.Right, 102);  // 101.5 -> 102: columns 10..101
  EXPECT_EQ(r.Top, 0);      // -0.5 -> 0
  EXPECT_EQ(r.Bottom, 6);   // 5.5 -> 6
  SetCorners(t, 11, 0, 100, 0, 100, 5, 11, 5);
  r = t.MappedBounds(TSingleRect{-1000, -1000, 1000, 1000});  // the argument is ignored
  EXPECT_EQ(r.Left, 10);    // 10.5 -> 10
  EXPECT_EQ(r.Right, 100);  // 100.5 -> 100: columns 10..99
}

TEST(TransformationBase, MappedBoundsAndMissingDirections) {
  TTransformation t;
  EXPECT_EQ(t.MappedBounds(TSingleRect{0.5f, 1.5f, 2.5f, -0.5f}), (TRect{0, 2, 2, 0}));
  EXPECT_TRUE(t.BoundsKnown());
  float x, y;
  try {
    t.MapToSource(1.0f, 2.0f, x, y);
    FAIL();
  } catch (const ETransformNotImplemented& e) {
    EXPECT_STREQ(e.what(), "Reverse transformation is not implemented in TTransformation.");
  }
  try {
    TFixed16 fx, fy;
    t.MapToDestFixed(0, 0, fx, fy);  // through the float form
    FAIL();
  } catch (const ETransformNotImplemented& e) {
    EXPECT_STREQ(e.what(), "Forward transformation is not implemented in TTransformation.");
  }
}

TEST(ProjectiveTransformation, SettersMarkStaleAndPointFormsUpdate) {
  TProjectiveTransformation t;
  SetCorners(t, 0, 0, 8, 0, 8, 8, 0, 8);
  t.SetSourceRect(TSingleRect{0, 0, 4, 4});
  EXPECT_FALSE(t.MatricesValid());
  const TSinglePoint p = t.MapToDest(TSinglePoint{1, 3});
  EXPECT_TRUE(t.MatricesValid());
  EXPECT_EQ(p.X, 2.0f);
  EXPECT_EQ(p.Y, 6.0f);
  EXPECT_EQ(t.MapToSource(TPoint{6, 2}), (TPoint{3, 1}));
  EXPECT_EQ(t.MapToSource(TFixedPoint{6 << 16, 3 << 16}), (TFixedPoint{3 << 16, 3 << 15}));
  t.SetX1(16);
  EXPECT_FALSE(t.MatricesValid());
}

TEST(ProjectiveTransformation, ParallelogramKeepsDenominatorAtOne) {
  TProjectiveTransformation t;
  SetCorners(t, 10, 20, 110, 30, 130, 90, 30, 80);  // B - A == C - D
  t.SetSourceRect(TSingleRect{0, 0, 50, 30});
  t.UpdateMatrices();
  const TFixedMatrix16& r = t.ReverseFixed();
  EXPECT_EQ(r[0][2], 0);
  EXPECT_EQ(r[1][2], 0);
  EXPECT_EQ(r[2][2], 65536);
  EXPECT_EQ(t.ForwardMatrix()[0][2], 0.0f);
  EXPECT_EQ(t.ForwardMatrix()[1][2], 0.0f);
  EXPECT_EQ(t.ForwardMatrix()[2][2], 1.0f);
  // Corners land where they must.
  const TSinglePoint c = t.MapToDest(TSinglePoint{50, 30});
  EXPECT_NEAR(c.X, 130, 1e-4);
  EXPECT_NEAR(c.Y, 90, 1e-4);
}

TEST(ProjectiveTransformation, CornersOfGeneralQuadrilateral) {
  TProjectiveTransformation t;
  SetCorners(t, 12, 7, 180, 30, 150, 140, 20, 120);
  t.SetSourceRect(TSingleRect{0, 0, 64, 48});
  const TSinglePoint src[4] = {{0, 0}, {64, 0}, {64, 48}, {0, 48}};
  const TSinglePoint dst[4] = {{12, 7}, {180, 30}, {150, 140}, {20, 120}};
  for (int i = 0; i < 4; ++i) {
    const TSinglePoint p = t.MapToDest(src[i]);
    EXPECT_NEAR(p.X, dst[i].X, 1e-3) << i;
    EXPECT_NEAR(p.Y, dst[i].Y, 1e-3) << i;
    const TSinglePoint q = t.MapToSource(dst[i]);
    EXPECT_NEAR(q.X, src[i].X, 1e-3) << i;
    EXPECT_NEAR(q.Y, src[i].Y, 1e-3) << i;
  }
}

TEST(ProjectiveTransformation, ZeroSizeSourceRectDividesByZero) {
  for (const TSingleRect r : {TSingleRect{0, 0, 0, 10}, TSingleRect{0, 5, 10, 5}}) {
    TBitmap32 src, dst;
    FillCoded(src, 10, 10);
    dst.SetSize(20, 20);
    dst.Clear(kUntouched);
    TProjectiveTransformation t;
    SetCorners(t, 0, 0, 10, 0, 10, 10, 0, 10);
    t.SetSourceRect(r);
    try {
      Transform(dst, src, t);
      FAIL();
    } catch (const EZeroDivide& e) {
      EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) ASSERT_EQ(dst.PixelAt(x, y), kUntouched);
  }
}

TEST(Transform, FullRectangleIsIdentity) {
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{37, 23}, std::pair{100, 3}, std::pair{640, 480}, std::pair{999, 7}}) {
    TBitmap32 src, dst;
    FillCoded(src, w, h);
    src.SetOuterColor(kOuter);
    dst.SetSize(w + 3, h + 3);
    dst.Clear(kUntouched);
    TProjectiveTransformation t;
    SetCorners(t, 0, 0, w, 0, w, h, 0, h);
    t.SetSourceRect(TSingleRect{0, 0, static_cast<float>(w), static_cast<float>(h)});
    Transform(dst, src, t);  // src is dmOpaque: samples are copied
    for (int y = 0; y < h + 3; ++y)
      for (int x = 0; x < w + 3; ++x) {
        TColor32 expect = kUntouched;
        // The area ends at round(W + 0.5): column W (and row H) only when W (H) is odd, and those
        // map to source column W, outside the source.
        const int right = w + (w & 1), bottom = h + (h & 1);
        if (x < w && y < h) expect = Code(x, y);
        else if (x < right && y < bottom) expect = kOuter;
        ASSERT_EQ(dst.PixelAt(x, y), expect) << w << "x" << h << " at " << x << "," << y;
      }
  }
}

TEST(Transform, HalfPixelTakesLowerNeighbour) {
  // Twice as wide: destination column x maps to source column (x - 1) / 2.
  TBitmap32 src, dst;
  FillCoded(src, 4, 2);
  src.SetOuterColor(kOuter);
  dst.SetSize(12, 2);
  dst.Clear(kUntouched);
  TProjectiveTransformation t;
  SetCorners(t, 1, 0, 9, 0, 9, 2, 1, 2);
  t.SetSourceRect(TSingleRect{0, 0, 4, 2});
  Transform(dst, src, t);
  // x = 0 -> -0.5 -> column -1 (outside); 1 -> 0; 2 -> 0.5 -> 0; 3 -> 1; 4 -> 1.5 -> 1; ...
  const int expectCol[10] = {-1, 0, 0, 1, 1, 2, 2, 3, 3, 4};
  for (int x = 0; x < 10; ++x) {
    const TColor32 expect = (expectCol[x] < 0 || expectCol[x] > 3) ? kOuter : Code(expectCol[x], 0);
    EXPECT_EQ(dst.PixelAt(x, 0), expect) << x;
  }
  EXPECT_EQ(dst.PixelAt(10, 0), kUntouched);  // Right = round(9.5) = 10

  // Blended with a transparent outer colour, the pixel that falls outside keeps its value.
  src.SetOuterColor(0);
  src.SetDrawMode(dmBlend);
  dst.Clear(kUntouched);
  Transform(dst, src, t);
  EXPECT_EQ(dst.PixelAt(0, 0), kUntouched);
  EXPECT_EQ(dst.PixelAt(1, 0), Mix(Code(0, 0), kUntouched, 255));
}

TEST(Transform, CollinearCornersFallBackToIdentity) {
  TBitmap32 src, dst;
  FillCoded(src, 40, 40);
  dst.SetSize(40, 40);
  dst.Clear(kUntouched);
  TProjectiveTransformation t;
  SetCorners(t, 0, 10, 10, 0, 20, 0, 30, 0);  // corners 1, 2, 3 on one line: k = 0
  t.SetSourceRect(TSingleRect{0, 0, 40, 40});
  Transform(dst, src, t);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(dst.PixelAt(x, y), (x < 30 && y < 10) ? Code(x, y) : kUntouched) << x << "," << y;
  EXPECT_EQ(t.ReverseMatrix(), kIdentityMatrix);
}

TEST(Transform, StrongReductionFallsBackToIdentity) {
  // 1000 x 1000 onto 2 x 2: the forward determinant is about 4e-6, below 1e-5.
  TBitmap32 src, dst;
  FillCoded(src, 1000, 1000);
  dst.SetSize(12, 12);
  dst.Clear(kUntouched);
  TProjectiveTransformation t;
  SetCorners(t, 5, 5, 7, 5, 7, 7, 5, 7);
  t.SetSourceRect(TSingleRect{0, 0, 1000, 1000});
  Transform(dst, src, t);
  EXPECT_EQ(t.ReverseMatrix(), kIdentityMatrix);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x)  // bounds: round(4.5) = 4 to round(7.5) = 8
      ASSERT_EQ(dst.PixelAt(x, y), (x >= 4 && x < 8 && y >= 4 && y < 8) ? Code(x, y) : kUntouched) << x << "," << y;
}

TEST(Transform, ClippedToDestinationAndClipRect) {
  TBitmap32 src, dst;
  FillCoded(src, 20, 20);
  dst.SetSize(30, 30);
  dst.Clear(kUntouched);
  TProjectiveTransformation t;
  t.SetSourceRect(TSingleRect{0, 0, 20, 20});
  // Wholly outside: nothing changes.
  SetCorners(t, 40, 40, 60, 40, 60, 60, 40, 60);
  Transform(dst, src, t);
  SetCorners(t, -50, 5, -30, 5, -30, 25, -50, 25);
  Transform(dst, src, t);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(dst.PixelAt(x, y), kUntouched);
  // Partly outside: a plain shift by (-10, 15); only the overlap is drawn, with the right pixels.
  SetCorners(t, -10, 15, 10, 15, 10, 35, -10, 35);
  Transform(dst, src, t, TRect{0, 0, 8, 100});
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) {
      // Row 14 is in the area (Top = round(14.5)) and maps to source row -1: OuterColor 0.
      const TColor32 expect = x >= 8 || y < 14 ? kUntouched : (y == 14 ? 0 : Code(x + 10, y - 15));
      ASSERT_EQ(dst.PixelAt(x, y), expect) << x << "," << y;
    }
}

TEST(Transform, ZeroSizeDestinationDrawsNothing) {
  TBitmap32 src, dst;
  FillCoded(src, 5, 5);
  TProjectiveTransformation t;
  SetCorners(t, 0, 0, 5, 0, 5, 5, 0, 5);
  t.SetSourceRect(TSingleRect{0, 0, 5, 5});
  EXPECT_NO_THROW(Transform(dst, src, t));
  dst.SetSize(0, 7);
  EXPECT_NO_THROW(Transform(dst, src, t));
  EXPECT_EQ(dst.PixelCount(), 0u);
}

TEST(Transform, DrawModesCombineAsTheSourceSays) {
  TBitmap32 src;
  src.SetSize(4, 1);
  const TColor32 px[4] = {0x80FF0000u, 0x00000000u, 0xFF00FF00u, 0x01020304u};
  for (int x = 0; x < 4; ++x) src.PixelRef(x, 0) = px[x];
  const TColor32 back = 0xFF204060u;
  TProjectiveTransformation t;
  SetCorners(t, 0, 0, 4, 0, 4, 1, 0, 1);
  t.SetSourceRect(TSingleRect{0, 0, 4, 1});

  auto run = [&](TDrawMode mode) {
    TBitmap32 dst;
    dst.SetSize(4, 1);
    dst.Clear(back);
    src.SetDrawMode(mode);
    Transform(dst, src, t);
    return std::vector<TColor32>{dst.PixelAt(0, 0), dst.PixelAt(1, 0), dst.PixelAt(2, 0), dst.PixelAt(3, 0)};
  };

  src.SetMasterAlpha(200);
  src.SetOuterColor(0xFF00FF00u);
  const auto blended = run(dmBlend);
  for (int x = 0; x < 4; ++x) {
    const int fa = px[x] >> 24;
    const int w = (fa * (200 + 1)) >> 8;
    EXPECT_EQ(blended[x], w == 0 ? back : Mix(px[x], back, w)) << x;
  }
  const auto transparent = run(dmTransparent);  // the outer colour is the transparent one
  EXPECT_EQ(transparent, (std::vector<TColor32>{px[0], px[1], back, px[3]}));
  const auto opaque = run(dmOpaque);
  EXPECT_EQ(opaque, (std::vector<TColor32>{px[0], px[1], px[2], px[3]}));
  const auto customWithoutCallback = run(dmCustom);
  EXPECT_EQ(customWithoutCallback, opaque);
  src.OnPixelCombine = [](TColor32 F, TColor32& B, TColor32 M) { B = F ^ M; };
  const auto custom = run(dmCustom);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(custom[x], px[x] ^ 200u);
}

// A transformation whose reverse mapping has no image at destination column 2.
class THoleTransformation : public TTransformation {
public:
  bool MapToSource(float X, float Y, float& SrcX, float& SrcY) override {
    if (X == 2.0f) return false;
    SrcX = X;
    SrcY = Y;
    return true;
  }
};

TEST(Transform, PointWithoutImageSamplesOuterColor) {
  TBitmap32 src, dst;
  FillCoded(src, 5, 1);
  src.SetOuterColor(kOuter);
  dst.SetSize(5, 1);
  dst.Clear(kUntouched);
  THoleTransformation t;
  t.SetSourceRect(TSingleRect{0, 0, 5, 1});
  Transform(dst, src, t);
  EXPECT_EQ(dst.PixelAt(1, 0), Code(1, 0));
  EXPECT_EQ(dst.PixelAt(2, 0), kOuter);
  EXPECT_EQ(dst.PixelAt(3, 0), Code(3, 0));

  // The fixed-point path reports a zero denominator instead of dividing.
  TFixedMatrix16 r{};
  r[0][2] = 65536;
  r[2][2] = -5 * 65536;  // w = x - 5
  r[0][0] = 65536;
  TFixed16 sx = 77, sy = 88;
  EXPECT_FALSE(TProjectiveTransformation::MapFixed(r, 5 << 16, 0, sx, sy));
  EXPECT_EQ(sx, 77);
  EXPECT_TRUE(TProjectiveTransformation::MapFixed(r, 7 << 16, 0, sx, sy));
  EXPECT_EQ(sx, (7 << 16) / 2);  // 7 / (7 - 5)
}

TEST(Samplers, NestedSamplerWithoutSamplerAndBounds) {
  TNestedSampler nested;
  for (auto call : {+[](TNestedSampler& s) { s.BeginSampling(); }, +[](TNestedSampler& s) { s.EndSampling(); },
                    +[](TNestedSampler& s) { (void)s.HasSampleBounds(); },
                    +[](TNestedSampler& s) { (void)s.SampleBounds(); }}) {
    try {
      call(nested);
      FAIL();
    } catch (const ENestedException& e) {
      EXPECT_STREQ(e.what(), "Nested sampler is nil");
    }
  }
  TBitmap32 src;
  src.SetSize(10, 10);
  TProjectiveTransformation t;
  SetCorners(t, 3, 4, 50, 4, 50, 60, 3, 60);
  t.SetSourceRect(TSingleRect{0, 0, 10, 10});
  const auto transformer = CreateTransformer(src.Resampler(), t);
  EXPECT_EQ(transformer->ClassName(), "TNearestTransformer");
  EXPECT_TRUE(transformer->HasSampleBounds());
  EXPECT_EQ(transformer->SampleBounds(), (TRect{2, 4, 50, 60}));  // round(2.5) = 2, round(50.5) = 50
}

TEST(Rasterizer, DefaultsAndRowNotifications) {
  TRegularRasterizer r;
  EXPECT_EQ(r.CombineParams().MasterAlpha, 255u);
  EXPECT_EQ(r.CombineParams().DrawMode, dmOpaque);
  EXPECT_EQ(r.CombineParams().CombineMode, cmBlend);
  EXPECT_EQ(r.CombineParams().TransparentColor, 0xFF000000u);
  EXPECT_EQ(r.UpdateRowCount(), 0);
  EXPECT_EQ(r.Sampler(), nullptr);

  TBitmap32 src, dst;
  FillCoded(src, 10, 10);
  dst.SetSize(10, 10);
  std::vector<TRect> reports;
  dst.OnAreaChanged = [&](TObject*, const TRect& area, std::uint32_t) { reports.push_back(area); };
  TProjectiveTransformation t;
  SetCorners(t, 1, 0, 9, 0, 9, 7, 1, 7);
  t.SetSourceRect(TSingleRect{0, 0, 10, 10});
  r.SetUpdateRowCount(3);
  Transform(dst, src, t, r);
  // Area (0, 0, 10, 8) clipped to (0, 0, 10, 8): rows 0-2, 3-5, 6-7, then the whole area.
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(reports[0], (TRect{0, 0, 10, 3}));
  EXPECT_EQ(reports[1], (TRect{0, 3, 10, 6}));
  EXPECT_EQ(reports[2], (TRect{0, 6, 10, 8}));
  EXPECT_EQ(reports[3], (TRect{0, 0, 10, 8}));
  EXPECT_EQ(r.Sampler(), nullptr);  // the transformer is gone and not referenced
  EXPECT_EQ(dst.UpdateCount(), 0);
}

TEST(TransformGeometry, RandomQuadrilateralsMatchExactInverse) {
  std::mt19937 rng(20261209);
  long exactChecked = 0, nearest = 0, total = 0;
  for (int n = 0; n < 24; ++n) {
    const int canvas = 160 + 20 * (n % 5);
    const int srcW = 20 + (n * 37) % 90, srcH = 15 + (n * 53) % 70;
    const TRandomQuad q = RandomConvexQuad(rng, canvas);
    TBitmap32 src, dst;
    FillCoded(src, srcW, srcH);
    src.SetOuterColor(kOuter);
    dst.SetSize(canvas, canvas);
    dst.Clear(kUntouched);
    TProjectiveTransformation t;
    SetCorners(t, q.X[0], q.Y[0], q.X[1], q.Y[1], q.X[2], q.Y[2], q.X[3], q.Y[3]);
    t.SetSourceRect(TSingleRect{0, 0, static_cast<float>(srcW), static_cast<float>(srcH)});
    WarpNearest(dst, src, t, dst.BoundsRect());

    float fx[4], fy[4];
    for (int i = 0; i < 4; ++i) {
      fx[i] = static_cast<float>(q.X[i]);
      fy[i] = static_cast<float>(q.Y[i]);
    }
    const TQuadReference ref = MakeQuadReference(fx, fy, srcW, srcH);
    const TRect box = t.GetTransformedBounds();
    for (int j = 0; j < canvas; ++j)
      for (int i = 0; i < canvas; ++i) {
        const TColor32 got = dst.PixelAt(i, j);
        if (i < box.Left || i >= box.Right || j < box.Top || j >= box.Bottom) {
          ASSERT_EQ(got, kUntouched) << "outside the bounding box at " << i << "," << j;
          continue;
        }
        int uLo, uHi, vLo, vHi, uEx, vEx;
        if (!ref.Predict(i, j, uLo, uHi, vLo, vHi, &uEx, &vEx)) continue;
        ++total;
        const bool mayBeInside = uHi >= 0 && uLo < srcW && vHi >= 0 && vLo < srcH;
        const bool mayBeOutside = uLo < 0 || uHi >= srcW || vLo < 0 || vHi >= srcH;
        const bool exactInside = uEx >= 0 && uEx < srcW && vEx >= 0 && vEx < srcH;
        if (got == (exactInside ? Code(uEx, vEx) : kOuter)) ++nearest;
        if (got == kOuter) {
          ASSERT_TRUE(mayBeOutside) << "quad " << n << " pixel " << i << "," << j;
          continue;
        }
        ASSERT_TRUE(mayBeInside) << "quad " << n << " pixel " << i << "," << j;
        ASSERT_GE(CodeX(got), uLo) << "quad " << n << " pixel " << i << "," << j;
        ASSERT_LE(CodeX(got), uHi) << "quad " << n << " pixel " << i << "," << j;
        ASSERT_GE(CodeY(got), vLo) << "quad " << n << " pixel " << i << "," << j;
        ASSERT_LE(CodeY(got), vHi) << "quad " << n << " pixel " << i << "," << j;
        if (uLo == uHi && vLo == vHi) ++exactChecked;
      }
  }
  // The 16.16 reverse matrix costs up to a few tenths of a source pixel far from the origin, so the
  // allowed intervals are wide; but the sample picked must nearly always be the exactly rounded one.
  EXPECT_GT(exactChecked, total * 4 / 10) << exactChecked << " of " << total;
  EXPECT_GT(nearest, total * 95 / 100) << nearest << " of " << total;
}


// The renderer's warp steps rows in sums, maps two points at a time and shares rows between two
// threads; the general rasterizer samples pixel by pixel through the class chain. Both must give
// the same pixels for every draw mode, also with a callback, a clip rectangle on the source and a
// clip on the destination.
TEST(TransformTest, WarpNearestEqualsThePerPixelWalk) {
  TBitmap32 src;
  src.SetSize(173, 241);
  std::mt19937 rng(41);
  for (std::size_t i = 0; i < src.PixelCount(); ++i) src.Bits()[i] = rng();
  // Every third pixel opaque or fully transparent, so the blend's shortcuts are taken too.
  for (std::size_t i = 0; i < src.PixelCount(); i += 3) src.Bits()[i] = rng() % 2 ? src.Bits()[i] | 0xFF000000u : src.Bits()[i] & 0xFFFFFFu;
  struct TCase {
    TDrawMode Mode;
    TCombineMode Combine;
    std::uint32_t Master;
    bool Clipped;  // a clip rectangle on the source, and a clip on the destination
  };
  const TCase cases[] = {{dmOpaque, cmBlend, 255, false},      {dmBlend, cmMerge, 255, false},
                         {dmTransparent, cmBlend, 255, false}, {dmBlend, cmBlend, 255, false},
                         {dmBlend, cmBlend, 200, false},       {dmBlend, cmBlend, 1, false},
                         {dmBlend, cmBlend, 300, false},       {dmBlend, cmMerge, 77, true},
                         {dmCustom, cmBlend, 255, true},       {dmBlend, cmBlend, 255, true}};
  // A face, a strong perspective, and corners whose mapping crosses the line at infinity.
  std::vector<std::array<float, 8>> quads{{31.5f, 20.25f, 280.f, 47.f, 301.75f, 390.f, 12.f, 333.5f},
                                           {150.f, 10.f, 170.f, 12.f, 319.f, 399.f, 0.f, 390.f},
                                           {10.f, 10.f, 300.f, 380.f, 20.f, 390.f, 290.f, 5.f}};
  // And random ones, some far outside the destination (large sums, points near infinity).
  std::uniform_real_distribution<float> near(-40.f, 440.f), far(-30000.f, 30000.f);
  for (int n = 0; n < 12; ++n) {
    std::array<float, 8> q{};
    for (float& c : q) c = n % 3 == 2 ? far(rng) : near(rng);
    quads.push_back(q);
  }
  for (const TCase& c : cases)
    for (const auto& q : quads) {
      src.SetDrawMode(c.Mode);
      src.SetCombineMode(c.Combine);
      src.SetMasterAlpha(c.Master);
      src.SetOuterColor(0x40FF8000u);
      src.SetClipRect(c.Clipped ? TRect{7, 11, 150, 230} : src.BoundsRect());
      // A callback that keeps no state: XOR of both colours, mixed with the master alpha.
      src.OnPixelCombine = [](TColor32 F, TColor32& B, TColor32 M) { B = (F ^ B) + M; };
      TProjectiveTransformation t;
      t.SetX0(q[0]), t.SetY0(q[1]), t.SetX1(q[2]), t.SetY1(q[3]);
      t.SetX2(q[4]), t.SetY2(q[5]), t.SetX3(q[6]), t.SetY3(q[7]);
      t.SetSourceRect(TSingleRect{0, 0, 173, 241});
      TBitmap32 warped, walked;
      for (TBitmap32* b : {&warped, &walked}) {
        b->SetSize(320, 400);
        for (std::size_t i = 0; i < b->PixelCount(); ++i) b->Bits()[i] = 0x80402010u + static_cast<TColor32>(i * 2654435761u);
      }
      const TRect dstClip = c.Clipped ? TRect{-5, 30, 250, 390} : warped.BoundsRect();
      const TRect visited = WarpNearest(warped, src, t, dstClip);
      TRegularRasterizer serial;
      serial.SetUpdateRowCount(1);
      Transform(walked, src, t, dstClip, serial);
      EXPECT_TRUE(std::equal(warped.Bits(), warped.Bits() + warped.PixelCount(), walked.Bits()))
          << "mode " << int(c.Mode) << " combine " << int(c.Combine) << " master " << c.Master << " clipped "
          << c.Clipped << " quad " << q[0];
      const TRect expected = IntersectRect(IntersectRect(t.GetTransformedBounds(), warped.BoundsRect()), dstClip);
      if (expected.Right >= expected.Left && expected.Bottom >= expected.Top) EXPECT_EQ(visited, expected);
    }
}

}  // namespace
}  // namespace quirlon::raster
