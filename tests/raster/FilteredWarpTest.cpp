// The filtered warp on small synthetic pictures, against area means worked out by hand: shrunk
// patterns finer than a destination pixel average out instead of aliasing, transparent pixels lend
// no colour, masks of one colour keep it, and enlarged pictures ramp linearly between pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "raster/Bitmap32.h"
#include "raster/FilteredWarp.h"

namespace quirlon::raster {
namespace {

int Channel(TColor32 c, int Shift) { return static_cast<int>((c >> Shift) & 0xFF); }

using TPicture = std::unique_ptr<TBitmap32>;

TPicture Picture(std::int32_t W, std::int32_t H, const std::function<TColor32(std::int32_t, std::int32_t)>& Pixel) {
  auto picture = std::make_unique<TBitmap32>();
  TBitmap32& b = *picture;
  b.SetSize(W, H);
  for (std::int32_t y = 0; y < H; ++y)
    for (std::int32_t x = 0; x < W; ++x) b.ScanLine(y)[x] = Pixel(x, y);
  // Merged onto transparent black, each sample arrives unchanged.
  b.SetDrawMode(dmBlend);
  b.SetCombineMode(cmMerge);
  return picture;
}

// Src warped onto a transparent DstW x DstH picture with its corners at the four given points
// (top-left, top-right, bottom-right, bottom-left).
TPicture Warp(const TPicture& Src, std::int32_t DstW, std::int32_t DstH, const float (&X)[4], const float (&Y)[4]) {
  auto warped = std::make_unique<TBitmap32>();
  TBitmap32& dst = *warped;
  dst.SetSize(DstW, DstH);
  dst.Clear(0);
  TProjectiveTransformation t;
  t.SetX0(X[0]);
  t.SetY0(Y[0]);
  t.SetX1(X[1]);
  t.SetY1(Y[1]);
  t.SetX2(X[2]);
  t.SetY2(Y[2]);
  t.SetX3(X[3]);
  t.SetY3(Y[3]);
  t.SetSourceRect(ToSingleRect(Src->BoundsRect()));
  WarpFiltered(dst, *Src, t, dst.BoundsRect());
  return warped;
}

TPicture WarpToRectangle(const TPicture& Src, std::int32_t W, std::int32_t H) {
  const float w = static_cast<float>(W), h = static_cast<float>(H);
  return Warp(Src, W, H, {0, w, w, 0}, {0, 0, h, h});
}

// Black and white 1-pixel cells: any area of whole cells is grey 127.5.
TColor32 Checker(std::int32_t x, std::int32_t y) { return ((x + y) & 1) != 0 ? 0xFFFFFFFFu : 0xFF000000u; }

TEST(FilteredWarp, ShrunkCheckerboardAveragesToGrey) {
  // Factor 2 and 4 cover whole cells exactly; 2.5 and 3.2 cover fractions, where the level's box
  // and the taps' tents leave a little ripple. A nearest sample would give 0 or 255.
  struct TCase {
    std::int32_t SrcSize, DstSize;
    int Tolerance;
  };
  for (const TCase& c : {TCase{64, 32, 1}, TCase{128, 32, 1}, TCase{80, 32, 6}, TCase{96, 30, 6}}) {
    const TPicture src = Picture(c.SrcSize, c.SrcSize, Checker);
    const TPicture dst = WarpToRectangle(src, c.DstSize, c.DstSize);
    for (std::int32_t y = 0; y < c.DstSize; ++y)
      for (std::int32_t x = 0; x < c.DstSize; ++x) {
        const TColor32 p = dst->ScanLine(y)[x];
        ASSERT_EQ(p >> 24, 255u) << c.SrcSize << " -> " << c.DstSize;
        for (int shift = 0; shift < 24; shift += 8)
          ASSERT_NEAR(Channel(p, shift), 127.5, c.Tolerance + 0.5)
              << c.SrcSize << " -> " << c.DstSize << " at " << x << "," << y;
      }
  }
}

TEST(FilteredWarp, StripesShrunkAlongOneAxisOnlyAverageAcrossThem) {
  // Columns alternate black and white; the picture is narrowed 4 x but keeps its height, so the
  // footprint is four columns wide and one row tall: taps along it must average the stripes.
  const TPicture src = Picture(128, 32, [](std::int32_t x, std::int32_t) { return (x & 1) ? 0xFFFFFFFFu : 0xFF000000u; });
  const TPicture dst = WarpToRectangle(src, 32, 32);
  double sum = 0;
  for (std::int32_t y = 0; y < 32; ++y)
    for (std::int32_t x = 0; x < 32; ++x) {
      const int g = Channel(dst->ScanLine(y)[x], 8);
      EXPECT_NEAR(g, 127.5, 24) << x << "," << y;  // taps 1.33 columns apart leave some ripple
      sum += g;
    }
  EXPECT_NEAR(sum / (32 * 32), 127.5, 4);
}

TEST(FilteredWarp, PerspectiveShrinkOfCheckerboardStaysGrey) {
  // A face turned away: the far edge a third of the near one, footprints long and slanted.
  const TPicture src = Picture(256, 256, Checker);
  const TPicture dst = Warp(src, 80, 80, {4, 76, 76, 4}, {4, 28, 52, 76});
  int inside = 0;
  for (std::int32_t y = 0; y < 80; ++y)
    for (std::int32_t x = 8; x < 72; ++x) {
      const TColor32 p = dst->ScanLine(y)[x];
      if (p >> 24 != 255) continue;
      ++inside;
      EXPECT_NEAR(Channel(p, 16), 127.5, 24) << x << "," << y;
    }
  EXPECT_GT(inside, 2000);
}

TEST(FilteredWarp, TransparentPixelsLendNoColour) {
  // Left half opaque (red and blue bands, so more than one colour shows); right half transparent
  // but green underneath. Shrunk, the edge pixels turn translucent and must carry no green.
  const TPicture src = Picture(128, 128, [](std::int32_t x, std::int32_t y) -> TColor32 {
    if (x >= 66) return 0x0000FF00u;
    return (y / 16) % 2 == 0 ? 0xFFFF0000u : 0xFF0000FFu;
  });
  const TPicture dst = WarpToRectangle(src, 32, 32);
  int translucent = 0;
  for (std::int32_t y = 0; y < 32; ++y)
    for (std::int32_t x = 0; x < 32; ++x) {
      const TColor32 p = dst->ScanLine(y)[x];
      if (p >> 24 == 0) continue;
      translucent += (p >> 24) < 255;
      EXPECT_LE(Channel(p, 8), 1) << x << "," << y;
    }
  EXPECT_GT(translucent, 0);
  // Far from the edge the right half stays clear, the left half opaque.
  EXPECT_EQ(dst->ScanLine(16)[28] >> 24, 0u);
  EXPECT_EQ(dst->ScanLine(16)[4] >> 24, 255u);
}

TEST(FilteredWarp, MaskOfOneColourKeepsItAndAveragesAlpha) {
  // White with alpha rising 2 per column from column 8, as a highlight is (clear before it);
  // halved, each destination pixel covers two columns whose mean alpha is 4x + 1.
  const TPicture src = Picture(128, 64, [](std::int32_t x, std::int32_t) {
    return x < 8 ? 0x00FFFFFFu : static_cast<TColor32>(2 * x) << 24 | 0x00FFFFFFu;
  });
  const TPicture dst = WarpToRectangle(src, 64, 32);
  for (std::int32_t y = 0; y < 32; ++y) {
    for (std::int32_t x = 5; x < 64; ++x) {
      const TColor32 p = dst->ScanLine(y)[x];
      EXPECT_NEAR(static_cast<double>(p >> 24), 4.0 * x + 1, 1.0) << x << "," << y;
      EXPECT_EQ(p & 0x00FFFFFFu, 0x00FFFFFFu) << x << "," << y;
    }
    for (std::int32_t x = 0; x < 3; ++x) EXPECT_EQ(dst->ScanLine(y)[x], 0u) << x;  // no colour without alpha
  }
}

TEST(FilteredWarp, EnlargedPictureRampsLinearlyBetweenPixelCentres) {
  // Two pixels, black and white, stretched over 200: destination x maps to source
  // u = (x + 0.5) / 100 - 0.5; the grey is 255 x u between the centres, flat beyond them.
  const TPicture src = Picture(2, 1, [](std::int32_t x, std::int32_t) { return x == 0 ? 0xFF000000u : 0xFFFFFFFFu; });
  const TPicture dst = WarpToRectangle(src, 200, 4);
  for (std::int32_t x = 0; x < 200; ++x) {
    const double u = std::clamp((x + 0.5) / 100.0 - 0.5, 0.0, 1.0);
    EXPECT_NEAR(Channel(dst->ScanLine(2)[x], 0), 255 * u, 1.5) << x;
  }
}

TEST(FilteredWarp, OneColourPictureIsPutUnchanged) {
  const TPicture src = Picture(300, 200, [](std::int32_t, std::int32_t) { return 0x80123456u; });
  const TPicture dst = Warp(src, 64, 64, {2, 60, 50, 10}, {5, 2, 62, 58});
  EXPECT_EQ(dst->ScanLine(30)[30], 0x80123456u);
}

// A colour of its own for each block of BlockW x BlockH pixels, with an alpha from clear through
// translucent to opaque, so that boxes and taps inside one block see one colour whatever their
// alphas, and a mixed-up channel, lane or neighbour shows.
TColor32 BlockColour(std::int32_t Bx, std::int32_t By) {
  static constexpr TColor32 kAlphas[] = {0, 1, 37, 128, 200, 254, 255, 255};
  const std::uint32_t h = static_cast<std::uint32_t>(Bx * 73856093) ^ static_cast<std::uint32_t>(By * 19349663);
  const std::uint32_t mixed = (h ^ (h >> 13)) * 0x5bd1e995u;
  return kAlphas[(mixed >> 5) % 8] << 24 | ((mixed >> 8) & 0x00FFFFFFu);
}

// Shrunk by whole factors with the blocks aligned to the destination pixels, every tap and box a
// destination pixel reads lies inside one block, so the pixel is the block's colour exactly (no
// colour at all where it is clear): isotropic 2 x (one tap on the halved copy, each texel a box of
// four), 4 x across (three taps along the row) and 3 x down (two taps in a column), on blocks that
// are opaque, translucent and clear side by side.
struct TBlockShrink {
  const char* Name;
  std::int32_t Fx, Fy;  // shrink factors, also the block size
};
void PrintTo(const TBlockShrink& Shrink, std::ostream* Out) { *Out << Shrink.Name; }
class FilteredWarpBlocks : public ::testing::TestWithParam<TBlockShrink> {};

TEST_P(FilteredWarpBlocks, ShrunkBlocksKeepTheirColours) {
  const TBlockShrink c = GetParam();
  const std::int32_t w = 24, h = 20;  // destination pixels, one per block
  const TPicture src = Picture(w * c.Fx, h * c.Fy, [&](std::int32_t x, std::int32_t y) {
    return BlockColour(x / c.Fx, y / c.Fy);
  });
  const TPicture dst = WarpToRectangle(src, w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) {
      const TColor32 expected = BlockColour(x, y);
      EXPECT_EQ(dst->ScanLine(y)[x], expected >> 24 == 0 ? 0u : expected) << c.Name << " " << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Factors, FilteredWarpBlocks,
                         ::testing::Values(TBlockShrink{"halved", 2, 2}, TBlockShrink{"across", 4, 1},
                                           TBlockShrink{"down", 1, 3}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// Enlarged 3 x 2.5, each destination pixel is one bilinear tap on alpha-weighted colours: worked
// out here in long double from the sample position, with the 8-bit fractions the warp uses, on
// translucent, opaque and clear pixels mixed.
TEST(FilteredWarp, EnlargedTranslucentPictureIsTheAlphaWeightedBilinearMix) {
  const std::int32_t sw = 16, sh = 12, dw = 48, dh = 30;
  const TPicture src = Picture(sw, sh, [](std::int32_t x, std::int32_t y) { return BlockColour(x, y); });
  const TPicture dst = WarpToRectangle(src, dw, dh);
  const auto at = [&](std::int32_t x, std::int32_t y) {
    return src->ScanLine(std::clamp(y, 0, sh - 1))[std::clamp(x, 0, sw - 1)];
  };
  for (std::int32_t y = 0; y < dh; ++y)
    for (std::int32_t x = 0; x < dw; ++x) {
      // Source position of the centre, in pixel-centre units, clamped to the picture, in 1/256.
      const long double u = std::clamp((x + 0.5L) * sw / dw - 0.5L, 0.0L, sw - 1.0L);
      const long double v = std::clamp((y + 0.5L) * sh / dh - 0.5L, 0.0L, sh - 1.0L);
      const long long fu = std::llround(u * 256), fv = std::llround(v * 256);
      const std::int32_t x0 = static_cast<std::int32_t>(fu >> 8), y0 = static_cast<std::int32_t>(fv >> 8);
      const long double tx = (fu & 255) / 256.0L, ty = (fv & 255) / 256.0L;
      const TColor32 px[4] = {at(x0, y0), at(x0 + 1, y0), at(x0, y0 + 1), at(x0 + 1, y0 + 1)};
      const long double weight[4] = {(1 - tx) * (1 - ty), tx * (1 - ty), (1 - tx) * ty, tx * ty};
      long double alpha = 0, sum[3] = {0, 0, 0};
      for (int i = 0; i < 4; ++i) {
        const long double wa = weight[i] * (px[i] >> 24);
        alpha += wa;
        for (int k = 0; k < 3; ++k) sum[k] += wa * Channel(px[i], 8 * k);
      }
      const TColor32 got = dst->ScanLine(y)[x];
      EXPECT_NEAR(static_cast<double>(got >> 24), static_cast<double>(alpha), 1.0) << x << "," << y;
      if (alpha < 2) continue;  // hardly any colour to compare
      for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(Channel(got, 8 * k), static_cast<double>(sum[k] / alpha), 1.0) << x << "," << y << " " << k;
    }
}

}  // namespace
}  // namespace quirlon::raster
