// The GIF quantiser: few colours come through exactly, many are approximated closely, dithering
// keeps the average colour of an area nearer the picture's, and clear pixels take their one entry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <set>

#include "imagefiles/Quantiser.h"
#include "raster/Bitmap32.h"
#include "raster/Color.h"

namespace quirlon::imagefiles {
namespace {

using raster::TBitmap32;

struct TFewColours {
  int Colours;
  bool Transparent;
};

class QuantiserFewColours : public ::testing::TestWithParam<TFewColours> {};

// Colours far enough apart to fall in histogram cells of their own, no more than the palette
// holds: each is an entry of its own, exactly.
TEST_P(QuantiserFewColours, EveryColourComesThroughExactly) {
  const TFewColours c = GetParam();
  TBitmap32 picture;
  picture.SetSize(64, 40);
  auto colourOf = [](int i) {
    return raster::Color32(std::uint8_t((i % 7) * 37), std::uint8_t((i / 7 % 7) * 37), std::uint8_t((i / 49) * 37));
  };
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 64; ++x) {
      const int i = (y * 64 + x) % (c.Colours + (c.Transparent ? 1 : 0));
      picture.ScanLine(y)[x] = i == c.Colours ? 0x00000000u : colourOf(i);
    }
  const TQuantised q = QuantisePicture(picture, c.Transparent ? c.Colours + 1 : c.Colours, c.Transparent, TDither::None);
  ASSERT_LE(q.Palette.size(), 256u);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 64; ++x) {
      const raster::TColor32 want = picture.ScanLine(y)[x];
      const int index = q.Indices[std::size_t(y) * 64 + x];
      if (c.Transparent && (want >> 24) < 128) {
        EXPECT_EQ(index, q.TransparentIndex);
        continue;
      }
      ASSERT_NE(index, q.TransparentIndex);
      const auto& entry = q.Palette[std::size_t(index)];
      EXPECT_EQ(raster::Color32(entry[0], entry[1], entry[2]), want | 0xFF000000u) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Palettes, QuantiserFewColours,
                         ::testing::Values(TFewColours{2, false}, TFewColours{17, false}, TFewColours{256, false},
                                           TFewColours{1, true}, TFewColours{255, true}));

// A ramp through every hue at 400 x 64: far more colours than entries.
void HueRamp(TBitmap32& picture) {
  picture.SetSize(400, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 400; ++x) {
      const double t = x / 400.0 * 6.283185307179586;
      auto channel = [&](double phase) { return std::uint8_t(127.5 + 127.5 * std::sin(t + phase) * (0.5 + y / 128.0)); };
      picture.ScanLine(y)[x] = raster::Color32(channel(0), channel(2.094), channel(4.189));
    }
}

double Channel(raster::TColor32 c, int shift) { return double(c >> shift & 0xFF); }

struct TErrors {
  double Pixel = 0;  // mean absolute error per channel
  double Block = 0;  // the same of 8 x 8 block averages
};

TErrors Errors(const TBitmap32& Picture, const TQuantised& Q) {
  TErrors e;
  for (int by = 0; by < Picture.Height(); by += 8)
    for (int bx = 0; bx < Picture.Width(); bx += 8)
      for (int shift : {16, 8, 0}) {
        double want = 0, got = 0;
        for (int y = by; y < by + 8; ++y)
          for (int x = bx; x < bx + 8; ++x) {
            const double w = Channel(Picture.ScanLine(y)[x], shift);
            const double g = Q.Palette[Q.Indices[std::size_t(y) * 400 + x]][2 - shift / 8];
            want += w;
            got += g;
            e.Pixel += std::fabs(w - g);
          }
        e.Block += std::fabs(want - got) / 64;
      }
  const double pixels = double(Picture.Width()) * Picture.Height() * 3;
  e.Pixel /= pixels;
  e.Block /= pixels / 64;
  return e;
}

TEST(QuantiserTest, ManyColoursAreCloseAndDitheringKeepsTheAreasAverage) {
  TBitmap32 picture;
  HueRamp(picture);
  const TQuantised plain = QuantisePicture(picture, 256, false, TDither::None);
  const TQuantised ordered = QuantisePicture(picture, 256, false, TDither::Ordered);
  const TQuantised diffused = QuantisePicture(picture, 256, false, TDither::FloydSteinberg);
  EXPECT_EQ(plain.Palette.size(), 256u);
  const TErrors none = Errors(picture, plain), bayer = Errors(picture, ordered), fs = Errors(picture, diffused);
  EXPECT_LT(none.Pixel, 4.0);
  EXPECT_LT(fs.Block, none.Block);
  EXPECT_LT(bayer.Block, none.Block * 1.5);
  EXPECT_LT(fs.Pixel, 8.0);
  EXPECT_LT(bayer.Pixel, 10.0);
}

}  // namespace
}  // namespace quirlon::imagefiles
