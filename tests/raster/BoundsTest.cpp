#include "raster/Bounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace quirlon::raster;

TEST(NonzeroBounds, FindsEveryNonzeroPixel) {
  TBitmap32 b;
  b.SetSize(40, 30);
  EXPECT_TRUE(NonzeroBounds(b).Right <= NonzeroBounds(b).Left);
  b.PixelRef(7, 12) = 0x00000001u;  // any channel counts, also with alpha 0
  b.PixelRef(31, 5) = 0x01000000u;
  b.PixelRef(20, 29) = 0x00010000u;
  const TRect r = NonzeroBounds(b);
  EXPECT_EQ(r.Left, 7);
  EXPECT_EQ(r.Top, 5);
  EXPECT_EQ(r.Right, 32);
  EXPECT_EQ(r.Bottom, 30);
}

TEST(NonzeroBounds, AgainstEveryPixel) {
  std::mt19937 rng(3);
  for (int n = 0; n < 200; ++n) {
    TBitmap32 b;
    b.SetSize(1 + static_cast<int>(rng() % 40), 1 + static_cast<int>(rng() % 12));
    const int dots = static_cast<int>(rng() % 4);
    for (int k = 0; k < dots; ++k) b.PixelRef(static_cast<int>(rng() % b.Width()), static_cast<int>(rng() % b.Height())) = 1u << (rng() % 32);
    TRect expected{b.Width(), b.Height(), 0, 0};
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x)
        if (b.PixelAt(x, y) != 0)
          expected = TRect{std::min(expected.Left, x), std::min(expected.Top, y), std::max(expected.Right, x + 1),
                           std::max(expected.Bottom, y + 1)};
    const TRect r = NonzeroBounds(b);
    if (expected.Right == 0) {
      EXPECT_TRUE(r.Right <= r.Left) << n;
    } else {
      EXPECT_EQ(r, expected) << n;
    }
  }
}

// A caller that knows where the zeros are gets the same answer from reading only that part.
TEST(NonzeroBounds, WithinAKnownRectangle) {
  std::mt19937 rng(5);
  for (int n = 0; n < 200; ++n) {
    TBitmap32 b;
    b.SetSize(1 + static_cast<int>(rng() % 50), 1 + static_cast<int>(rng() % 20));
    const TRect within{static_cast<int>(rng() % b.Width()), static_cast<int>(rng() % b.Height()), 0, 0};
    const TRect w{within.Left, within.Top, within.Left + 1 + static_cast<int>(rng() % (b.Width() - within.Left)),
                  within.Top + 1 + static_cast<int>(rng() % (b.Height() - within.Top))};
    const int dots = static_cast<int>(rng() % 4);
    for (int k = 0; k < dots; ++k)
      b.PixelRef(w.Left + static_cast<int>(rng() % w.Width()), w.Top + static_cast<int>(rng() % w.Height())) = 1u << (rng() % 32);
    const TRect whole = NonzeroBounds(b), part = NonzeroBounds(b, w);
    if (whole.Right <= whole.Left) {
      EXPECT_TRUE(part.Right <= part.Left) << n;
    } else {
      EXPECT_EQ(part, whole) << n;
    }
  }
  TBitmap32 b;
  b.SetSize(10, 10);
  b.PixelRef(2, 2) = 7;
  EXPECT_EQ(NonzeroBounds(b, TRect{-5, -5, 50, 50}), (TRect{2, 2, 3, 3}));  // reaching out is harmless
  EXPECT_TRUE(NonzeroBounds(b, TRect{}).IsEmpty());
}
