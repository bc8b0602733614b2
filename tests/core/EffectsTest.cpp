#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "core/Effects.h"
#include "raster/Bitmap32.h"
#include "raster/Errors.h"

using namespace quirlon::core;
using quirlon::raster::TBitmap32;
using quirlon::raster::TColor32;

namespace {

int Alpha(TColor32 c) { return static_cast<int>(c >> 24); }
int Level(const TBitmap32& b, int x, int y) { return quirlon::raster::Intensity(b.PixelAt(x, y)); }

void FillRandom(TBitmap32& b, int w, int h, unsigned seed) {
  b.SetSize(w, h);
  std::mt19937 rng(seed);
  for (std::size_t i = 0; i < b.PixelCount(); ++i) b.Bits()[i] = rng();
}

// The fade with an integer step per row, as it reads when 256 / n is whole.
std::vector<TColor32> IntegerStepFade(const TBitmap32& b, int step) {
  std::vector<TColor32> out(b.Bits(), b.Bits() + b.PixelCount());
  int level = 255;
  for (int y = 0; y < b.Height(); ++y) {
    level -= step;
    for (int x = 0; x < b.Width(); ++x) {
      TColor32& p = out[static_cast<std::size_t>(y) * b.Width() + x];
      const long double a = std::nearbyint(static_cast<long double>(p >> 24) * (level / 255.0L));
      p = (p & 0x00FFFFFFu) | (static_cast<TColor32>(a < 0 ? 0 : a) << 24);
    }
  }
  return out;
}

}  // namespace

TEST(FadeAlphaRamp, WholeStepsMatchIntegerStepFade) {
  // height, length, 256 / n
  for (auto [h, length, step] : {std::tuple{256, 50, 2}, std::tuple{512, 50, 1}, std::tuple{64, 100, 4},
                                 std::tuple{32, 50, 16}, std::tuple{100, 1, 256}}) {
    TBitmap32 b;
    FillRandom(b, 7, h, static_cast<unsigned>(h + length));
    const auto expected = IntegerStepFade(b, step);
    FadeAlphaRamp(b, static_cast<std::uint8_t>(length));
    EXPECT_EQ(std::vector<TColor32>(b.Bits(), b.Bits() + b.PixelCount()), expected) << h << " / " << length;
  }
}

TEST(FadeAlphaRamp, RowLevels) {
  TBitmap32 b;
  b.SetSize(3, 512);
  b.Clear(0xFF204080u);
  FadeAlphaRamp(b, 50);  // n = 256: row r keeps 254 - r
  EXPECT_EQ(Alpha(b.PixelAt(0, 0)), 254);
  EXPECT_EQ(Alpha(b.PixelAt(1, 126)), 128);  // rnd(255 x 128 / 255)
  EXPECT_EQ(Alpha(b.PixelAt(2, 253)), 1);
  EXPECT_EQ(Alpha(b.PixelAt(0, 254)), 0);
  EXPECT_EQ(Alpha(b.PixelAt(0, 511)), 0);
  EXPECT_EQ(b.PixelAt(0, 300) & 0x00FFFFFFu, 0x204080u);  // colour bytes untouched

  b.SetSize(2, 256);
  b.Clear(0xFFFFFFFFu);
  FadeAlphaRamp(b, 50);  // n = 128, two levels a row; the last visible row is 126
  EXPECT_EQ(Alpha(b.PixelAt(0, 0)), 253);
  EXPECT_EQ(Alpha(b.PixelAt(0, 126)), 1);
  EXPECT_EQ(Alpha(b.PixelAt(0, 127)), 0);
}

TEST(FadeAlphaRamp, HighResolutionRampFollowsTheLength) {
  TBitmap32 b;
  b.SetSize(1, 2000);
  b.Clear(0xFF000000u);
  FadeAlphaRamp(b, 50);  // n = 1000: b = 255 - 0.256 (r + 1)
  EXPECT_EQ(Alpha(b.PixelAt(0, 0)), 255);   // 254.744
  EXPECT_EQ(Alpha(b.PixelAt(0, 499)), 127);  // 127
  EXPECT_EQ(Alpha(b.PixelAt(0, 993)), 1);    // 0.536
  EXPECT_EQ(Alpha(b.PixelAt(0, 994)), 0);    // 0.28
  for (int y = 1; y < 2000; ++y) ASSERT_LE(Alpha(b.PixelAt(0, y)), Alpha(b.PixelAt(0, y - 1)));
  for (int y = 994; y < 2000; ++y) ASSERT_EQ(Alpha(b.PixelAt(0, y)), 0);

  b.SetSize(1, 1024);
  b.Clear(0xFF000000u);
  FadeAlphaRamp(b, 50);  // n = 512 still fades, over 512 rows
  EXPECT_EQ(Alpha(b.PixelAt(0, 255)), 127);  // 255 - 128 = 127
  EXPECT_EQ(Alpha(b.PixelAt(0, 507)), 1);    // b = 1
  EXPECT_EQ(Alpha(b.PixelAt(0, 508)), 0);    // b = 0.5 rounds to even 0
}

TEST(FadeAlphaRamp, ShortAndEmptyBitmaps) {
  TBitmap32 b;
  b.SetSize(4, 50);
  b.Clear(0xFF112233u);
  EXPECT_NO_THROW(FadeAlphaRamp(b, 1));  // 0.5 rows: the first row already fades to nothing
  for (std::size_t i = 0; i < b.PixelCount(); ++i) ASSERT_EQ(b.Bits()[i], 0x00112233u);

  TBitmap32 empty;
  EXPECT_NO_THROW(FadeAlphaRamp(empty, 50));
  empty.SetSize(5, 0);
  EXPECT_NO_THROW(FadeAlphaRamp(empty, 50));
}

TEST(ShiftBrightness, AddsToOpaqueAndTranslucentPixelsOnly) {
  TBitmap32 b;
  b.SetSize(4, 1);
  b.PixelRef(0, 0) = quirlon::raster::Color32(250, 10, 100, 255);
  b.PixelRef(1, 0) = quirlon::raster::Color32(250, 10, 100, 0);
  b.PixelRef(2, 0) = quirlon::raster::Color32(30, 60, 90, 1);
  b.PixelRef(3, 0) = quirlon::raster::Color32(30, 60, 90, 128);
  ShiftBrightness(b, 50);
  EXPECT_EQ(b.PixelAt(0, 0), quirlon::raster::Color32(255, 60, 150, 255));
  EXPECT_EQ(b.PixelAt(1, 0), quirlon::raster::Color32(250, 10, 100, 0));
  EXPECT_EQ(b.PixelAt(2, 0), quirlon::raster::Color32(80, 110, 140, 1));
  ShiftBrightness(b, -50);
  ShiftBrightness(b, -50);
  EXPECT_EQ(b.PixelAt(3, 0), quirlon::raster::Color32(0, 10, 40, 128));
  const TColor32 before = b.PixelAt(0, 0);
  ShiftBrightness(b, 0);
  EXPECT_EQ(b.PixelAt(0, 0), before);
  TBitmap32 empty;
  EXPECT_NO_THROW(ShiftBrightness(empty, 20));
}

TEST(MaskToAlpha, SameSizeOnly) {
  TShadeBitmap32List masks;
  masks.Build();
  TBitmap32 target;
  FillRandom(target, 326, 257, 3);
  const std::vector<TColor32> before(target.Bits(), target.Bits() + target.PixelCount());
  MaskToAlpha(masks.BitmapAt(0), target);  // 300 x 300 against 326 x 257
  EXPECT_EQ(std::vector<TColor32>(target.Bits(), target.Bits() + target.PixelCount()), before);

  MaskToAlpha(masks.BitmapAt(4), target);
  for (int y = 0; y < 257; y += 16)
    for (int x = 0; x < 326; x += 5) {
      const TColor32 was = before[static_cast<std::size_t>(y) * 326 + x];
      ASSERT_EQ(target.PixelAt(x, y), (was & 0x00FFFFFFu) | (TColor32(Level(masks.BitmapAt(4), x, y)) << 24));
    }
}

TEST(ShadeMasks, SizesAndIndices) {
  TShadeBitmap32List masks;
  EXPECT_EQ(masks.Count(), 0);
  EXPECT_THROW(masks.BitmapAt(0), quirlon::EListError);
  masks.Build();
  ASSERT_EQ(masks.Count(), 6);
  const int sizes[6][2] = {{300, 300}, {300, 300}, {300, 300}, {400, 400}, {326, 257}, {400, 400}};
  for (int i = 0; i < 6; ++i) {
    const TBitmap32& m = masks.BitmapAt(i);
    EXPECT_EQ(m.Width(), sizes[i][0]);
    EXPECT_EQ(m.Height(), sizes[i][1]);
    for (std::size_t k = 0; k < m.PixelCount(); ++k) ASSERT_EQ(m.Bits()[k] >> 24, 255u) << "mask " << i;
  }
  try {
    masks.BitmapAt(6);
    FAIL();
  } catch (const quirlon::EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (6)");
  }
  TBitmap32 b;
  EXPECT_THROW(BuildShadeMask(-1, b), quirlon::EListError);

  // Drawn on demand, from two threads at once: the same masks, each drawn once.
  TShadeBitmap32List lazy;
  lazy.BuildOnDemand();
  ASSERT_EQ(lazy.Count(), 6);
  std::vector<const TBitmap32*> seen[2];
  {
    std::thread other([&] {
      for (int i = 5; i >= 0; --i) seen[1].push_back(&std::as_const(lazy).BitmapAt(i));
    });
    for (int i = 0; i < 6; ++i) seen[0].push_back(&std::as_const(lazy).BitmapAt(i));
    other.join();
  }
  for (int i = 0; i < 6; ++i) {
    const TBitmap32& m = *seen[0][std::size_t(i)];
    EXPECT_EQ(&m, seen[1][std::size_t(5 - i)]);
    ASSERT_EQ(m.Width(), masks.BitmapAt(i).Width());
    ASSERT_EQ(m.Height(), masks.BitmapAt(i).Height());
    EXPECT_TRUE(std::equal(m.Bits(), m.Bits() + m.PixelCount(), masks.BitmapAt(i).Bits())) << "mask " << i;
  }
  EXPECT_THROW(lazy.BitmapAt(6), quirlon::EListError);
}

TEST(ShadeMasks, GradientsAndGrey) {
  TShadeBitmap32List masks;
  masks.Build();
  const TBitmap32& diagonal = masks.BitmapAt(0);
  EXPECT_EQ(Level(diagonal, 299, 0), 0);
  EXPECT_EQ(Level(diagonal, 0, 299), 255);
  for (int i = 0; i < 300; ++i) {
    const int onDiagonal = Level(diagonal, i, i);
    ASSERT_TRUE(onDiagonal == 127 || onDiagonal == 128);
  }
  for (int y = 0; y < 300; y += 7)
    for (int x = 0; x < 300; x += 11)
      ASSERT_LE(std::abs(Level(diagonal, x, y) - 255.0 * (y - x + 299) / 598), 3.0) << x << ", " << y;

  const TBitmap32& vertical = masks.BitmapAt(1);
  EXPECT_EQ(Level(vertical, 0, 0), 28);
  EXPECT_EQ(Level(vertical, 150, 299), 255);
  for (int y = 0; y < 300; ++y) {
    ASSERT_LE(std::abs(Level(vertical, 0, y) - (28 + 0.758 * y)), 2.0);
    ASSERT_EQ(Level(vertical, 299, y), Level(vertical, 0, y));
  }

  const TBitmap32& grey = masks.BitmapAt(2);
  EXPECT_EQ(grey.PixelAt(17, 230), quirlon::raster::Color32(173, 169, 168));
  EXPECT_EQ(Level(grey, 299, 299), 169);
}

TEST(ShadeMasks, RoundedRectangleEdges) {
  TShadeBitmap32List masks;
  masks.Build();
  const TBitmap32& m = masks.BitmapAt(4);
  const int profile[] = {0, 1, 6, 20, 50, 99, 155, 204, 234, 248, 253, 254, 255};
  for (int i = 0; i < 13; ++i) {
    EXPECT_EQ(Level(m, 7 + i, 128), profile[i]) << "left x = " << 7 + i;
    EXPECT_EQ(Level(m, 163, 4 + i), profile[i]) << "top y = " << 4 + i;
    EXPECT_EQ(Level(m, 163, 252 - i), profile[i]) << "bottom y = " << 252 - i;
  }
  const int right[] = {255, 254, 254, 252, 246, 229, 195, 145, 90, 45, 17, 5, 1, 0, 0};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(Level(m, 306 + i, 128), right[i]) << "right x = " << 306 + i;
  for (int x = 0; x < 7; ++x) EXPECT_EQ(Level(m, x, 100), 0);
  EXPECT_EQ(Level(m, 163, 128), 255);
  // Rounded corners: the corner pixel and the pixels just inside the straight edges' crossing stay
  // dark, while the contour runs about 11 pixels in from the corner of the edges.
  EXPECT_EQ(Level(m, 0, 0), 0);
  EXPECT_EQ(Level(m, 325, 256), 0);
  EXPECT_LT(Level(m, 14, 11), 40);
  const double diagonalStep = 11.0 - 11.0 / std::sqrt(2.0);  // contour crossing of the corner's diagonal
  EXPECT_NEAR(Level(m, static_cast<int>(std::lround(12.5 + diagonalStep)), static_cast<int>(std::lround(9.5 + diagonalStep))),
              127, 60);
  EXPECT_EQ(Level(m, 40, 40), 255);
}

// Drawn at a layer's size, the rounded rectangle keeps mask 4's outline stretched to that size: at
// the mask's own size and softness its half-way points fall where the mask's do, and crisp at any
// size its edge takes at most one partly covered pixel.
TEST(ShadeMasks, RoundedRectangleAtALayersSize) {
  TShadeBitmap32List masks;
  masks.Build();
  const TBitmap32& builtIn = masks.BitmapAt(4);
  // The first pixel at or past half along the middle row and column, from either side.
  struct THalfWay {
    int Left, Right, Top, Bottom;
  };
  auto halfWay = [](const TBitmap32& m) {
    THalfWay h{-1, -1, -1, -1};
    const int midX = m.Width() / 2, midY = m.Height() / 2;
    for (int x = 0; x < m.Width() && h.Left < 0; ++x) h.Left = Level(m, x, midY) >= 128 ? x : -1;
    for (int x = m.Width() - 1; x >= 0 && h.Right < 0; --x) h.Right = Level(m, x, midY) >= 128 ? x : -1;
    for (int y = 0; y < m.Height() && h.Top < 0; ++y) h.Top = Level(m, midX, y) >= 128 ? y : -1;
    for (int y = m.Height() - 1; y >= 0 && h.Bottom < 0; --y) h.Bottom = Level(m, midX, y) >= 128 ? y : -1;
    return h;
  };
  const THalfWay mask = halfWay(builtIn);
  TBitmap32 same;
  BuildRoundRectMaskAt(same, 326, 257, 1);
  const THalfWay drawn = halfWay(same);
  EXPECT_NEAR(drawn.Left, mask.Left, 1);
  EXPECT_NEAR(drawn.Right, mask.Right, 1);
  EXPECT_NEAR(drawn.Top, mask.Top, 1);
  EXPECT_NEAR(drawn.Bottom, mask.Bottom, 1);

  for (const auto [w, h] : {std::pair{978, 771}, std::pair{500, 500}, std::pair{163, 257}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    TBitmap32 crisp;
    BuildRoundRectMaskAt(crisp, w, h, 0);
    ASSERT_EQ(crisp.Width(), w);
    ASSERT_EQ(crisp.Height(), h);
    const THalfWay c = halfWay(crisp);
    const double sx = w / 326.0, sy = h / 257.0;
    EXPECT_NEAR(c.Left, mask.Left * sx, sx + 1);
    EXPECT_NEAR(c.Right, (mask.Right + 1) * sx - 1, sx + 1);
    EXPECT_NEAR(c.Top, mask.Top * sy, sy + 1);
    EXPECT_NEAR(c.Bottom, (mask.Bottom + 1) * sy - 1, sy + 1);
    int partial = 0;
    for (int x = 0; x < w; ++x) partial += Level(crisp, x, h / 2) > 0 && Level(crisp, x, h / 2) < 255;
    EXPECT_LE(partial, 2);
    EXPECT_EQ(Level(crisp, 0, 0), 0);
    EXPECT_EQ(Level(crisp, w / 2, h / 2), 255);
  }
}

// A curve of 1 is the plain ramp; a steeper curve keeps less of every row that is not faded out.
TEST(FadeAlphaCurve, PowerOfTheRamp) {
  for (const std::uint8_t length : {std::uint8_t{1}, std::uint8_t{37}, std::uint8_t{50}, std::uint8_t{100}}) {
    TBitmap32 ramp, curve, steep;
    for (TBitmap32* b : {&ramp, &curve, &steep}) {
      b->SetSize(3, 97);
      b->Clear(0xC8336699u);
    }
    FadeAlphaRamp(ramp, length);
    FadeAlphaCurve(curve, length, 1.0);
    FadeAlphaCurve(steep, length, 2.0);
    for (std::int32_t y = 0; y < 97; ++y) {
      EXPECT_EQ(curve.ScanLine(y)[1], ramp.ScanLine(y)[1]) << int(length) << " row " << y;
      // Squared: 200 x f^2 against 200 x f, f the row's fraction.
      const double f = (ramp.ScanLine(y)[1] >> 24) / 200.0;
      EXPECT_NEAR(steep.ScanLine(y)[1] >> 24, 200.0 * f * f, 1.6) << int(length) << " row " << y;
      EXPECT_EQ(steep.ScanLine(y)[1] & 0xFFFFFFu, 0x336699u);
    }
  }
}

struct TShadowCase {
  double Fade, Soften, BendX, BendY;
  std::int32_t X, Y;  // a pixel of the 4 x 4 picture (centres at 1/8, 3/8, 5/8, 7/8)
  int Alpha;          // worked by hand
};

class FloorShadow : public ::testing::TestWithParam<TShadowCase> {};

TEST_P(FloorShadow, AlphaByHand) {
  const TShadowCase& c = GetParam();
  TBitmap32 b;
  DrawFloorShadow(b, 0xFF102030u, c.Fade, c.Soften, c.BendX, c.BendY, 4);
  ASSERT_EQ(b.Width(), 4);
  const TColor32 p = b.ScanLine(c.Y)[c.X];
  EXPECT_EQ(static_cast<int>(p >> 24), c.Alpha);
  EXPECT_EQ(p & 0xFFFFFFu, 0x102030u);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, FloorShadow,
    ::testing::Values(
        // Fade 1: 255 (1 - v)^2 down the rows, whatever the column.
        TShadowCase{1, 0, 0, 0, 0, 0, 195}, TShadowCase{1, 0, 0, 0, 3, 1, 100}, TShadowCase{1, 0, 0, 0, 1, 2, 36},
        TShadowCase{1, 0, 0, 0, 2, 3, 4},
        // Soften 1: in the last row the band is 7/8 wide; 1/8 in gives w = 1/7, w^2 (3 - 2w) = 0.0554.
        TShadowCase{0, 1, 0, 0, 0, 0, 255}, TShadowCase{0, 1, 0, 0, 0, 3, 14}, TShadowCase{0, 1, 0, 0, 1, 3, 100},
        // Bent through the middle: the first column starts at 1/8, so its first row is opaque and
        // its second is 2/7 on (255 (5/7)^2 = 130).
        TShadowCase{1, 0, 0.5, 0.5, 0, 0, 255}, TShadowCase{1, 0, 0.5, 0.5, 0, 1, 130}));
