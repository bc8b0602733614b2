#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "core/DiscArtwork.h"
#include "raster/Bitmap32.h"

using namespace quirlon::core;
using quirlon::raster::TBitmap32;
using quirlon::raster::TColor32;

namespace {

constexpr TColor32 kLabel = 0xFFC86432u;  // opaque (200, 100, 50)
constexpr double kPi = 3.14159265358979323846;

int Alpha(TColor32 c) { return static_cast<int>(c >> 24); }

// Calls check for every pixel whose centre lies at a radius in [r0, r1] from the centre (cx, cy),
// measured in drawing units (x scaled by sx, y by sy back to the square).
void ForRing(const TBitmap32& b, double cx, double cy, double sx, double sy, double r0, double r1,
             const std::function<void(TColor32, int, int, double)>& check) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const double r = std::hypot((x + 0.5 - cx) / sx, (y + 0.5 - cy) / sy);
      if (r >= r0 && r <= r1) check(b.PixelAt(x, y), x, y, r);
    }
}

std::unique_ptr<TBitmap32> Label(int w, int h, TColor32 colour) {
  auto b = std::make_unique<TBitmap32>();
  b->SetSize(w, h);
  b->Clear(colour);
  return b;
}

}  // namespace

TEST(DiscArtwork, NormalDiscZones) {
  auto source = Label(64, 48, kLabel);
  auto disc = DrawDiscArtwork(*source, 200, 200);
  ASSERT_EQ(disc->Width(), 200);
  ASSERT_EQ(disc->Height(), 200);
  auto at = [&](double cx, double cy, double r0, double r1, auto check) {
    ForRing(*disc, cx, cy, 1, 1, r0, r1, check);
  };
  // Outside the disc and the spindle hole: transparent.
  at(100, 100, 101, 1e9, [](TColor32 p, int x, int y, double) { ASSERT_EQ(p, 0u) << x << "," << y; });
  at(100, 100, 0, 11.5, [](TColor32 p, int x, int y, double) { ASSERT_EQ(Alpha(p), 0) << x << "," << y; });
  // The printed ring shows the label; the rim darkens its last 2.5 pixels.
  at(100, 100, 41, 96.5, [](TColor32 p, int x, int y, double) { ASSERT_EQ(p, kLabel) << x << "," << y; });
  at(100, 100, 98, 99, [](TColor32 p, int x, int y, double) {
    ASSERT_EQ(Alpha(p), 255);
    ASSERT_LT((p >> 16) & 0xFF, 200u) << x << "," << y;
    ASSERT_GT((p >> 16) & 0xFF, 140u) << x << "," << y;
  });
  // The hub: translucent black, 70 between the rings, denser on them, never opaque.
  at(100, 100, 13.5, 39, [](TColor32 p, int x, int y, double) {
    ASSERT_EQ(p & 0x00FFFFFFu, 0u) << x << "," << y;
    ASSERT_GE(Alpha(p), 70) << x << "," << y;
    ASSERT_LE(Alpha(p), 125) << x << "," << y;
  });
  at(100, 100, 26, 30.5, [](TColor32 p, int, int, double) { ASSERT_EQ(Alpha(p), 70); });
  at(100, 100, 16.5, 21, [](TColor32 p, int, int, double) { ASSERT_EQ(Alpha(p), 70); });
  // The widest hub ring lies between 35 and 40: 70 over 70.
  at(100, 100, 36, 39, [](TColor32 p, int, int, double) { ASSERT_NEAR(Alpha(p), 70 + 70 * 185 / 255.0, 1.5); });
}

TEST(DiscArtwork, EllipseTouchesAllFourEdges) {
  auto source = Label(10, 10, kLabel);
  auto disc = DrawDiscArtwork(*source, 300, 150);
  ASSERT_EQ(disc->Width(), 300);
  ASSERT_EQ(disc->Height(), 150);
  EXPECT_GT(Alpha(disc->PixelAt(0, 75)), 0);
  EXPECT_GT(Alpha(disc->PixelAt(299, 74)), 0);
  EXPECT_GT(Alpha(disc->PixelAt(150, 0)), 0);
  EXPECT_GT(Alpha(disc->PixelAt(149, 149)), 0);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{299, 0}, std::pair{0, 149}, std::pair{299, 149}, std::pair{150, 75}})
    EXPECT_EQ(disc->PixelAt(x, y), 0u) << x << "," << y;
  // In drawing units (the square of side 300) the zones are circles again.
  ForRing(*disc, 150, 75, 1, 0.5, 126, 143,
          [](TColor32 p, int x, int y, double) { ASSERT_EQ(p, kLabel) << x << "," << y; });
  ForRing(*disc, 150, 75, 1, 0.5, 0, 16,
          [](TColor32 p, int x, int y, double) { ASSERT_EQ(Alpha(p), 0) << x << "," << y; });
  ForRing(*disc, 150, 75, 1, 0.5, 42, 46,
          [](TColor32 p, int x, int y, double) { ASSERT_EQ(p, 0x46000000u) << x << "," << y; });
  ForRing(*disc, 150, 75, 1, 0.5, 152, 1e9, [](TColor32 p, int x, int y, double) { ASSERT_EQ(p, 0u) << x << "," << y; });
}

TEST(DiscArtwork, LargeAreaHole) {
  auto source = Label(33, 77, kLabel);
  auto disc = DrawLargeDiscArtwork(*source, 200, 200);
  // Hole radius 0.15 e = 15 with a one-unit dark ring just inside it.
  ForRing(*disc, 100, 100, 1, 1, 0, 13, [](TColor32 p, int x, int y, double) { ASSERT_EQ(p, 0u) << x << "," << y; });
  ForRing(*disc, 100, 100, 1, 1, 16, 96.5, [](TColor32 p, int x, int y, double) { ASSERT_EQ(p, kLabel) << x << "," << y; });
  int ringPixels = 0;
  ForRing(*disc, 100, 100, 1, 1, 14.2, 14.8, [&](TColor32 p, int, int, double) {
    ++ringPixels;
    // Dark, with at most a trace of the label from the hole's anti-aliased edge.
    ASSERT_LT(static_cast<int>((p >> 16) & 0xFF), 100);
    ASSERT_GT(Alpha(p), 100);
    ASSERT_LE(Alpha(p), 160);
  });
  EXPECT_GT(ringPixels, 20);
  ForRing(*disc, 100, 100, 1, 1, 101, 1e9, [](TColor32 p, int, int, double) { ASSERT_EQ(p, 0u); });
}

TEST(DiscArtwork, PictureIsStretchedOverTheSquare) {
  // Left half red, right half blue: the ring shows red on the left, blue on the right, and the
  // source stays as it was.
  auto source = Label(40, 10, 0xFFFF0000u);
  source->FillRect(20, 0, 40, 10, 0xFF0000FFu);
  auto disc = DrawDiscArtwork(*source, 200, 200);
  EXPECT_EQ(disc->PixelAt(20, 100), 0xFFFF0000u);
  EXPECT_EQ(disc->PixelAt(179, 100), 0xFF0000FFu);
  EXPECT_EQ(disc->PixelAt(80, 30), 0xFFFF0000u);
  EXPECT_EQ(disc->PixelAt(119, 170), 0xFF0000FFu);
  EXPECT_EQ(source->PixelAt(5, 5), 0xFFFF0000u);
  EXPECT_EQ(source->PixelAt(35, 5), 0xFF0000FFu);
}

TEST(DiscArtwork, EdgesAndEmptySizes) {
  auto source = Label(8, 8, kLabel);
  // Along the outer edge the label colour stays straight (not darkened by premultiplication) where
  // the rim does not reach: only the alpha falls off.
  auto disc = DrawLargeDiscArtwork(*source, 200, 200);
  for (double angle = 0; angle < 2 * kPi; angle += 0.1) {
    const int x = static_cast<int>(std::floor(100 + 99.6 * std::cos(angle)));
    const int y = static_cast<int>(std::floor(100 + 99.6 * std::sin(angle)));
    const TColor32 p = disc->PixelAt(x, y);
    if (Alpha(p) == 0) continue;
    EXPECT_LE(static_cast<int>((p >> 16) & 0xFF), 200);
    EXPECT_GT(static_cast<int>((p >> 16) & 0xFF), 100);
  }
  EXPECT_TRUE(DrawDiscArtwork(*source, 0, 100)->Empty());
  EXPECT_TRUE(DrawLargeDiscArtwork(*source, 100, 0)->Empty());
  auto tiny = DrawDiscArtwork(*source, 1, 1);
  EXPECT_EQ(tiny->Width(), 1);
  TBitmap32 nothing;
  auto black = DrawDiscArtwork(nothing, 50, 50);
  EXPECT_EQ(black->PixelAt(25, 5) & 0x00FFFFFFu, 0u);
}
