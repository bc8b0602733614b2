// The arithmetic of the product model: the correctly rounded hypot checked exactly in 128-bit
// integers, and the rounding of template corners.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "core/ProductError.h"
#include "core/ProductGeometry.h"

namespace quirlon::core {
namespace {

using Int128 = __int128;

// True when H is sqrt(X^2 + Y^2) rounded to nearest for integers X, Y below 2^40: with the unit in
// the last place U of H (a power of two), (H - U/2)^2 < X^2 + Y^2 < (H + U/2)^2, compared exactly
// after scaling by 2^2s so that H and U become integers.
bool IsNearestRoot(std::int64_t X, std::int64_t Y, double H) {
  int exponent;
  std::frexp(H, &exponent);
  const int shift = 53 - exponent;  // H * 2^shift is an integer below 2^53
  const Int128 h = static_cast<Int128>(std::ldexp(H, shift));
  const Int128 sum = static_cast<Int128>(X) * X + static_cast<Int128>(Y) * Y;
  // (2h - 1)^2 < 4 sum 2^(2 shift) < (2h + 1)^2, with u = 1 after the scaling.
  const Int128 scaled = sum << (2 * shift + 2);
  return (2 * h - 1) * (2 * h - 1) < scaled && scaled < (2 * h + 1) * (2 * h + 1);
}

TEST(ProductGeometry, HypotIsCorrectlyRounded) {
  struct TCase {
    double X, Y, Expected;
  };
  const TCase exact[] = {{3, 4, 5},           {-5, 12, 13}, {0, -7.5, 7.5},
                         {1e-300, 0, 1e-300}, {8, 15, 17},  {1e300, 1e300, 1.4142135623730951e300},
                         {1, 1e-40, 1}};
  for (const auto& c : exact) EXPECT_EQ(Hypot(c.X, c.Y), c.Expected) << c.X << " " << c.Y;
  EXPECT_TRUE(std::isinf(Hypot(std::numeric_limits<double>::infinity(), 1)));
  EXPECT_TRUE(std::isnan(Hypot(std::nan(""), 1)));

  std::mt19937_64 random(20240617);
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    // Integers of up to 40 bits, and pairs close to a midpoint between doubles.
    const int bits = 1 + static_cast<int>(random() % 40);
    const auto x = static_cast<std::int64_t>(random() >> (64 - bits));
    const auto y = static_cast<std::int64_t>(random() >> (64 - 1 - static_cast<int>(random() % 40)));
    if (x == 0 && y == 0) continue;
    const double h = Hypot(static_cast<double>(x), static_cast<double>(y));
    ASSERT_TRUE(IsNearestRoot(x, y, h)) << x << " " << y << " " << h;
    ++checked;
  }
  EXPECT_GT(checked, 199000);
}

TEST(ProductGeometry, CornersRoundHalfToEven) {
  const double values[] = {0.5, 1.5, 2.5, -0.5, -1.5, 2.4999999999999996, 3.5000000000000004};
  const std::int32_t rounded[] = {0, 2, 2, 0, -2, 2, 4};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(RoundCoordinate(values[i]), rounded[i]) << values[i];
  EXPECT_THROW(RoundCoordinate(2e9), EBadProductValue);
  EXPECT_THROW(RoundCoordinate(std::nan("")), EBadProductValue);
}

}  // namespace
}  // namespace quirlon::core
