#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "raster/Color.h"
#include "raster/Errors.h"

namespace quirlon::raster {
namespace {

TEST(ColorTest, Color32FromUserColour) {
  EXPECT_EQ(Color32(TColor{0x00FF8040}), 0xFF4080FFu);
  EXPECT_EQ(Color32(TColor{0x000000FF}), 0xFFFF0000u);
  EXPECT_EQ(Color32(TColor{0x12345678}), 0xFF785634u);  // top byte dropped
  // Negative: the system colour of index (value and 0xFF), opaque.
  const TColor sys = SysColor(15);
  const TColor32 expected = 0xFF000000u | (TColor32(sys & 0xFF) << 16) | (TColor32(sys & 0xFF00)) |
                            (TColor32(sys >> 16) & 0xFF);
  EXPECT_EQ(Color32(static_cast<TColor>(0xFF00000Fu)), expected);
  EXPECT_EQ(Color32(static_cast<TColor>(0x8000000Fu)), expected);
  for (int i = 0; i <= 255; ++i) EXPECT_EQ(Color32(static_cast<TColor>(0xFF000000u | i)) >> 24, 0xFFu);
}

TEST(ColorTest, ChannelFunctions) {
  EXPECT_EQ(Intensity(0xFFFFFFFFu), 255);
  EXPECT_EQ(Intensity(0xFFFF0000u), 60);
  EXPECT_EQ(Intensity(0xFF00FF00u), 173);
  EXPECT_EQ(Intensity(0xFF0000FFu), 20);
  EXPECT_EQ(Intensity(0xFF808080u), 128);
  EXPECT_EQ(Intensity(0x00808080u), 128);  // alpha ignored
  for (int g = 0; g < 256; ++g) EXPECT_EQ(Intensity(Color32(g, g, g, 7)), g);

  EXPECT_EQ(SetAlpha(0x12345678u, -5), 0x00345678u);
  EXPECT_EQ(SetAlpha(0x12345678u, 300), 0xFF345678u);
  EXPECT_EQ(SetAlpha(0x12345678u, 0x9A), 0x9A345678u);

  EXPECT_EQ(Lighten(0x80102030u, -32), 0x80000010u);
  EXPECT_EQ(Lighten(0xFFF0F0F0u, 32), 0xFFFFFFFFu);
  EXPECT_EQ(Lighten(0x01020304u, 0), 0x01020304u);
  EXPECT_EQ(AlphaComponent(0xAB000000u), 0xAB);
}

TEST(ColorTest, Rectangles) {
  EXPECT_EQ(IntersectRect(TRect{0, 0, 10, 10}, TRect{5, -3, 20, 4}), (TRect{5, 0, 10, 4}));
  // Crossed result becomes all zeros; zero width stays as it is.
  EXPECT_EQ(IntersectRect(TRect{0, 0, 10, 10}, TRect{12, 2, 20, 4}), (TRect{0, 0, 0, 0}));
  EXPECT_EQ(IntersectRect(TRect{0, 0, 10, 10}, TRect{10, 2, 20, 4}), (TRect{10, 2, 10, 4}));
  EXPECT_TRUE((TRect{10, 2, 10, 4}).IsEmpty());

  EXPECT_EQ(ToSingleRect(TRect{-3, 4, 16777216, 7}), (TSingleRect{-3.0f, 4.0f, 16777216.0f, 7.0f}));
  EXPECT_EQ(ToRect(TSingleRect{2.5f, 3.5f, -2.5f, 0.49999997f}), (TRect{2, 4, -2, 0}));
  EXPECT_EQ(ToRect(TSingleRect{1.5f, -1.5f, 2.5000002f, -0.5f}), (TRect{2, -2, 3, 0}));
}

TEST(ColorTest, FixedPointConversions) {
  EXPECT_EQ(ToFixed(0.05f), 3277);
  EXPECT_EQ(ToFixed(1.0L), 65536);
  EXPECT_EQ(ToFixed(-1.25L), -81920);
  EXPECT_EQ(ToFixed(0.5L / 65536), 0);  // ties to even
  EXPECT_EQ(ToFixed(1.5L / 65536), 2);
  EXPECT_EQ(ToFixed(2.5L / 65536), 2);
  EXPECT_EQ(ToFixed(-2.5L / 65536), -2);
  EXPECT_EQ(ToFixed(32768.0L), INT32_MIN);  // low 32 bits of 2^31
  EXPECT_EQ(ToFixed(65536.0L), 0);          // low 32 bits of 2^32
  EXPECT_EQ(FixedFromInt(3), 3 * 65536);
  EXPECT_EQ(FixedFromInt(-2), -2 * 65536);

  EXPECT_EQ(FixedRoundHalfDown(0x28000), 2);      // 2.5
  EXPECT_EQ(FixedRoundHalfDown(0x28001), 3);      // 2.5 + 1/65536
  EXPECT_EQ(FixedRoundHalfDown(-0x8000), -1);     // -0.5
  EXPECT_EQ(FixedRoundHalfDown(-0x7FFF), 0);
  EXPECT_EQ(FixedRoundHalfDown(INT32_MAX), 32768);
  EXPECT_EQ(FixedRoundHalfDown(INT32_MIN), -32768);
}

// Independent reference in 128-bit arithmetic.
std::int32_t MulDivReference(std::int32_t a, std::int32_t b, std::int32_t c) {
  const __int128 p = static_cast<__int128>(a) * b;
  const __int128 ap = p < 0 ? -p : p;
  const __int128 ac = c < 0 ? -static_cast<__int128>(c) : c;
  if (ac == 0) return -1;
  const unsigned __int128 high = static_cast<unsigned __int128>(ap) >> 32;
  if (((2 * high) & 0xFFFFFFFFu) >= static_cast<unsigned __int128>(ac)) return -1;
  const __int128 q = (2 * ap + ac) / (2 * ac);  // half away from zero in magnitude
  const bool negative = (p < 0) != (c < 0);
  if (negative ? q > (__int128{1} << 31) : q > INT32_MAX) return -1;  // does not fit
  return static_cast<std::int32_t>(negative ? -q : q);
}

TEST(ColorTest, MulDivRoundedExamples) {
  EXPECT_EQ(MulDivRounded(10, 3, 4), 8);    // 7.5 away from zero
  EXPECT_EQ(MulDivRounded(-10, 3, 4), -8);
  EXPECT_EQ(MulDivRounded(10, -3, -4), 8);
  EXPECT_EQ(MulDivRounded(7, 1, 3), 2);
  EXPECT_EQ(MulDivRounded(5, 7, 0), -1);
  EXPECT_EQ(MulDivRounded(INT32_MAX, INT32_MAX, INT32_MAX), INT32_MAX);
  EXPECT_EQ(MulDivRounded(INT32_MIN, 1, 1), INT32_MIN);
  EXPECT_EQ(MulDivRounded(INT32_MIN, -1, 1), -1);  // +2^31 does not fit
  EXPECT_EQ(MulDivRounded(INT32_MIN, -1, -1), INT32_MIN);
  EXPECT_EQ(MulDivRounded(65536, 65536, 2), -1);
  // Quotient beyond int32 while twice the high word stays below |c|: -1, not a wrapped value.
  EXPECT_EQ(MulDivRounded(65536, 65535, 1), -1);
}

TEST(ColorTest, MulDivRoundedAgainstWideReference) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<std::int32_t> any(INT32_MIN, INT32_MAX);
  std::uniform_int_distribution<std::int32_t> small(-70000, 70000);
  for (int i = 0; i < 300000; ++i) {
    std::int32_t a, b, c;
    switch (i % 4) {
      case 0: a = any(rng), b = any(rng), c = any(rng); break;
      case 1: a = small(rng), b = small(rng), c = small(rng); break;
      case 2: a = any(rng), b = small(rng), c = any(rng); break;
      default: a = small(rng), b = small(rng), c = (rng() % 7) - 3; break;
    }
    ASSERT_EQ(MulDivRounded(a, b, c), MulDivReference(a, b, c)) << a << " " << b << " " << c;
  }
}

}  // namespace
}  // namespace quirlon::raster
