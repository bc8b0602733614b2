#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/ExpBlur.h"

using namespace quirlon::raster;

namespace {

// A plain per-channel reference: each row, then each column, walked one at a time, with the step
// written as a floor division instead of a shift.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

void ReferenceBlur(std::vector<TColor32>& px, int w, int h, int radius) {
  const std::int64_t weight =
      static_cast<std::int64_t>(std::nearbyint(65536.0L * (1.0L - std::exp(-2.3L / (radius + 1)))));
  auto channel = [](TColor32 p, int c) { return static_cast<std::int64_t>((p >> (8 * c)) & 0xFF); };
  auto run = [&](std::vector<std::size_t> const& index) {
    for (int c = 0; c < 4; ++c) {
      std::int64_t z = channel(px[index[0]], c) * 128;
      auto step = [&](std::size_t i) {
        z += FloorDiv(weight * (channel(px[i], c) * 128 - z), 65536);
        px[i] = (px[i] & ~(0xFFu << (8 * c))) | (static_cast<TColor32>(z / 128) << (8 * c));
      };
      for (std::size_t k = 1; k < index.size(); ++k) step(index[k]);
      for (std::size_t k = index.size() - 1; k-- > 0;) step(index[k]);
    }
  };
  for (int y = 0; y < h; ++y) {
    std::vector<std::size_t> index;
    for (int x = 0; x < w; ++x) index.push_back(static_cast<std::size_t>(y) * w + x);
    run(index);
  }
  for (int x = 0; x < w; ++x) {
    std::vector<std::size_t> index;
    for (int y = 0; y < h; ++y) index.push_back(static_cast<std::size_t>(y) * w + x);
    run(index);
  }
}

std::vector<TColor32> Pixels(const TBitmap32& b) { return std::vector<TColor32>(b.Bits(), b.Bits() + b.PixelCount()); }

void FillRandom(TBitmap32& b, unsigned seed) {
  std::mt19937 rng(seed);
  for (std::size_t i = 0; i < b.PixelCount(); ++i) b.Bits()[i] = rng();
}

}  // namespace

TEST(ExpBlur, WeightTable) {
  const std::pair<int, int> table[] = {{1, 44785}, {2, 35091}, {5, 20868},  {10, 12365},
                                       {15, 8775}, {25, 5548}, {50, 2890}, {100, 1476}};
  for (auto [radius, weight] : table) EXPECT_EQ(ExpBlurWeight(radius), weight) << "radius " << radius;
}

TEST(ExpBlur, MatchesStraightforwardReference) {
  for (auto [w, h, radius] : {std::tuple{37, 23, 1}, std::tuple{37, 23, 7}, std::tuple{16, 41, 25},
                              std::tuple{1, 30, 5}, std::tuple{30, 1, 5}, std::tuple{2, 2, 100}}) {
    TBitmap32 b;
    b.SetSize(w, h);
    FillRandom(b, static_cast<unsigned>(w * 1000 + h * 10 + radius));
    std::vector<TColor32> expected = Pixels(b);
    ReferenceBlur(expected, w, h, radius);
    ExpBlur(b, radius);
    EXPECT_EQ(Pixels(b), expected) << w << " x " << h << " radius " << radius;
  }
}

TEST(ExpBlur, LeavesAloneWhatItShould) {
  TBitmap32 b;
  b.SetSize(13, 9);
  FillRandom(b, 7);
  const auto before = Pixels(b);
  ExpBlur(b, 0);
  ExpBlur(b, -5);
  EXPECT_EQ(Pixels(b), before);

  TBitmap32 uniform;
  uniform.SetSize(20, 17);
  uniform.Clear(0x80C0FF10u);
  for (int radius : {1, 15, 25, 100}) {
    ExpBlur(uniform, radius);
    for (std::size_t i = 0; i < uniform.PixelCount(); ++i) ASSERT_EQ(uniform.Bits()[i], 0x80C0FF10u);
  }

  TBitmap32 one;
  one.SetSize(1, 1);
  one.Bits()[0] = 0x12345678u;
  ExpBlur(one, 15);
  EXPECT_EQ(one.Bits()[0], 0x12345678u);

  TBitmap32 empty;
  ExpBlur(empty, 15);
  EXPECT_TRUE(empty.Empty());
}

TEST(ExpBlur, SinglePixelSpreadsBothWays) {
  TBitmap32 b;
  b.SetSize(21, 21);
  b.Clear(0);
  b.PixelRef(10, 10) = 0xFFFFFFFFu;
  ExpBlur(b, 3);
  const TColor32 centre = b.PixelAt(10, 10);
  EXPECT_LT(centre >> 24, 255u);
  EXPECT_GT(centre >> 24, 0u);
  for (int d = 1; d <= 3; ++d) {
    EXPECT_GT(b.PixelAt(10 + d, 10) >> 24, 0u);
    EXPECT_GT(b.PixelAt(10 - d, 10) >> 24, 0u);
    EXPECT_GT(b.PixelAt(10, 10 + d) >> 24, 0u);
    EXPECT_GT(b.PixelAt(10, 10 - d) >> 24, 0u);
    EXPECT_LE(b.PixelAt(10 + d, 10) >> 24, b.PixelAt(10 + d - 1, 10) >> 24);
  }
  // Channels are filtered alike: white stays grey-white.
  EXPECT_EQ((centre >> 16) & 0xFF, centre >> 24);
  EXPECT_EQ(centre & 0xFF, centre >> 24);
}

TEST(ExpBlur, RoughlyConservesEnergy) {
  TBitmap32 b;
  b.SetSize(96, 96);
  b.Clear(0);
  b.FillRect(40, 40, 56, 56, 0xFFFFFFFFu);
  auto alphaSum = [&] {
    long long s = 0;
    for (std::size_t i = 0; i < b.PixelCount(); ++i) s += b.Bits()[i] >> 24;
    return s;
  };
  const long long before = alphaSum();
  ExpBlur(b, 5);
  const long long after = alphaSum();
  // The steps round towards minus infinity, so a little is lost, but not more than a few percent.
  EXPECT_LE(after, before * 101 / 100);
  EXPECT_GE(after, before * 95 / 100);
}

// Content in a sub-rectangle of a transparent-black bitmap: the blur works only near the content
// and on two threads; every pixel must still equal the plain whole-bitmap walk.
TEST(ExpBlur, SparseContentMatchesWholeBitmapWalk) {
  struct TCase {
    int W, H, Radius;
    TRect Content;
  };
  const TCase cases[] = {
      {300, 220, 15, {120, 90, 170, 130}},  // far from every edge
      {300, 220, 25, {0, 0, 40, 30}},       // in a corner: the reach is cut by the edges
      {301, 97, 5, {250, 10, 301, 97}},     // touching the right and bottom edges
      {64, 300, 1, {10, 150, 11, 151}},     // one pixel
      {257, 129, 100, {3, 60, 250, 70}},    // reach larger than the bitmap
      {90, 40, 15, {0, 0, 90, 40}},         // filled
  };
  for (const TCase& c : cases) {
    TBitmap32 b;
    b.SetSize(c.W, c.H);
    std::mt19937 rng(static_cast<unsigned>(c.W * 7 + c.Radius));
    for (int y = c.Content.Top; y < c.Content.Bottom; ++y)
      for (int x = c.Content.Left; x < c.Content.Right; ++x) b.PixelRef(x, y) = rng() | (rng() % 3 == 0 ? 0xFF000000u : 0u);
    TBitmap32 plain;
    plain.Assign(&b);
    ExpBlurReference(plain, c.Radius);
    TBitmap32 told;
    told.Assign(&b);
    ExpBlur(b, c.Radius);
    EXPECT_EQ(Pixels(b), Pixels(plain)) << c.W << " x " << c.H << " radius " << c.Radius;
    // Told where the content is (a little more than it), the blur gives the same pixels and a
    // rectangle outside which the result is zero.
    const TRect hint{c.Content.Left - 3, c.Content.Top - 2, c.Content.Right + 1, c.Content.Bottom + 4};
    const TRect after = ExpBlur(told, c.Radius, hint);
    EXPECT_EQ(Pixels(told), Pixels(plain)) << c.W << " x " << c.H << " radius " << c.Radius;
    for (int y = 0; y < c.H; ++y)
      for (int x = 0; x < c.W; ++x)
        if (plain.PixelAt(x, y) != 0) {
          ASSERT_TRUE(x >= after.Left && x < after.Right && y >= after.Top && y < after.Bottom)
              << x << ", " << y << " radius " << c.Radius;
        }
  }
  // The reference itself against the independent per-channel walk, on a sparse picture.
  TBitmap32 b;
  b.SetSize(60, 50);
  b.PixelRef(30, 20) = 0xFFFFFFFFu;
  b.PixelRef(31, 21) = 0x80402010u;
  std::vector<TColor32> expected = Pixels(b);
  ReferenceBlur(expected, 60, 50, 4);
  ExpBlurReference(b, 4);
  EXPECT_EQ(Pixels(b), expected);
}

TEST(ExpBlur, ReachIsWhereTheLargestValueDecaysToZero) {
  for (int radius : {1, 15, 25, 100}) {
    const std::int64_t weight =
        static_cast<std::int64_t>(std::nearbyint(65536.0L * (1.0L - std::exp(-2.3L / (radius + 1)))));
    std::int64_t z = 255 * 128;
    int steps = 0;
    for (; z != 0; ++steps) z += FloorDiv(-weight * z, 65536);
    EXPECT_EQ(ExpBlurReach(radius), steps) << "radius " << radius;
  }
}
