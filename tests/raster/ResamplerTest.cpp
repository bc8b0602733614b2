#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Blend.h"
#include "raster/Errors.h"
#include "raster/Resamplers.h"

namespace quirlon::raster {

void PrintTo(const TSourceWeight& w, std::ostream* os) { *os << "(" << w.Pos << ", " << w.Weight << ")"; }

namespace {

using TList = std::vector<TSourceWeight>;

TColor32 Argb(int a, int r, int g, int b) { return Color32(r, g, b, a); }

void Fill(TBitmap32& b, std::int32_t w, std::int32_t h, const std::vector<TColor32>& pixels) {
  b.SetSize(w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b.PixelRef(x, y) = pixels[static_cast<std::size_t>(y * w + x)];
}

void FillRandom(TBitmap32& b, std::int32_t w, std::int32_t h, unsigned seed) {
  std::mt19937 rng(seed);
  b.SetSize(w, h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) b.PixelRef(x, y) = static_cast<TColor32>(rng());
}

int Channel(TColor32 c, int k) { return static_cast<int>((c >> (8 * k)) & 0xFF); }

// The bilinear mix written per channel from its definition, for the stretch references.
TColor32 RefMix(TColor32 c11, TColor32 c12, TColor32 c21, TColor32 c22, int u, int v) {
  TColor32 r = 0;
  for (int k = 0; k < 4; ++k) {
    const int top = (Channel(c11, k) * u + Channel(c12, k) * (256 - u)) / 256;
    const int bottom = (Channel(c21, k) * u + Channel(c22, k) * (256 - u)) / 256;
    r |= static_cast<TColor32>((top * v + bottom * (256 - v)) / 256) << (8 * k);
  }
  return r;
}

// ---------------------------------------------------------------- registry

TEST(ResamplerRegistry, OrderLookupAndNames) {
  const std::vector<std::string> expected{"TNearestResampler", "TLinearResampler", "TDraftResampler",
                                          "TKernelResampler"};
  std::vector<std::string> names;
  GetResamplerClassNames(names);
  EXPECT_EQ(names, expected);
  TBitmap32 b;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(ResamplerRegistry()[i].Name, expected[i]);
    EXPECT_EQ(ResamplerClassAt(static_cast<int>(i)).Create(b)->ClassName(), expected[i]);
    EXPECT_EQ(FindResamplerClass(expected[i]), &ResamplerRegistry()[i]);
  }
  EXPECT_EQ(FindResamplerClass("TLinearresampler"), nullptr);
  EXPECT_EQ(FindResamplerClass(""), nullptr);
  try {
    ResamplerClassAt(4);
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (4)");
  }
}

TEST(ResamplerRegistry, BitmapResamplerClassName) {
  TBitmap32 b;
  int changes = 0;
  b.OnChange = [&](TObject*) { ++changes; };
  b.SetResamplerClassName("TLinearResampler");
  EXPECT_EQ(b.ResamplerClassName(), "TLinearResampler");
  auto* linear = dynamic_cast<TLinearResampler*>(&b.Resampler());
  ASSERT_NE(linear, nullptr);
  EXPECT_EQ(&linear->Bitmap(), &b);
  EXPECT_EQ(linear->PixelAccessMode(), pamSafe);
  EXPECT_EQ(linear->TransformerType(), ttTransformer);
  EXPECT_EQ(linear->SampleWidth(), 1.0f);
  EXPECT_EQ(linear->LinearKernel().ClassName(), "TLinearKernel");
  EXPECT_GE(changes, 1);

  b.SetResamplerClassName("NoSuchResampler");
  EXPECT_EQ(&b.Resampler(), linear);
  b.SetResamplerClassName("TDraftResampler");
  EXPECT_NE(dynamic_cast<TLinearResampler*>(&b.Resampler()), nullptr);  // a draft resampler is a linear one
  EXPECT_EQ(b.ResamplerClassName(), "TDraftResampler");

  b.SetResamplerClassName("TKernelResampler");
  auto* kr = dynamic_cast<TKernelResampler*>(&b.Resampler());
  ASSERT_NE(kr, nullptr);
  EXPECT_EQ(kr->KernelClassName(), "TBoxKernel");
  EXPECT_EQ(kr->KernelMode(), kmDynamic);
  EXPECT_EQ(kr->TableSize(), 32);
  EXPECT_EQ(kr->SampleWidth(), 1.0f);
}

TEST(ResamplerRegistry, KernelResamplerProperties) {
  TBitmap32 b;
  auto& kr = MakeResampler<TKernelResampler>(b);
  int changes = 0;
  b.OnChange = [&](TObject*) { ++changes; };

  kr.SetKernelClassName("TLanczosKernel");
  EXPECT_EQ(kr.KernelClassName(), "TLanczosKernel");
  EXPECT_EQ(kr.SampleWidth(), 3.0f);
  EXPECT_EQ(changes, 1);
  TCustomKernel* lanczos = &kr.Kernel();
  kr.SetKernelClassName("TLanczosKernel");  // same name: kernel kept
  kr.SetKernelClassName("TNoKernel");       // unknown: kernel kept
  EXPECT_EQ(&kr.Kernel(), lanczos);
  EXPECT_EQ(changes, 1);

  // A parameter change of the owned kernel reaches the bitmap.
  static_cast<TLanczosKernel&>(kr.Kernel()).SetWidth(2.0f);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(kr.SampleWidth(), 2.0f);

  kr.SetKernel(nullptr);
  EXPECT_EQ(&kr.Kernel(), lanczos);
  kr.SetKernel(std::make_unique<TSplineKernel>());
  EXPECT_EQ(kr.KernelClassName(), "TSplineKernel");
  EXPECT_EQ(changes, 3);

  kr.SetTableSize(1);
  EXPECT_EQ(kr.TableSize(), 2);
  kr.SetTableSize(-5);
  EXPECT_EQ(kr.TableSize(), 2);
  kr.SetKernelMode(kmTableLinear);
  EXPECT_EQ(kr.KernelMode(), kmTableLinear);

  // Copying the bitmap's settings carries the resampler class and its published values.
  TBitmap32 copy;
  copy.Assign(&b);
  auto* ck = dynamic_cast<TKernelResampler*>(&copy.Resampler());
  ASSERT_NE(ck, nullptr);
  EXPECT_EQ(&ck->Bitmap(), &copy);
  EXPECT_EQ(ck->KernelClassName(), "TSplineKernel");
  EXPECT_EQ(ck->TableSize(), 2);
  EXPECT_EQ(ck->KernelMode(), kmTableLinear);
  EXPECT_NE(&ck->Kernel(), &kr.Kernel());
}

// ---------------------------------------------------------------- weight maps

TEST(WeightMap, ReductionByTwoWithTent) {
  TLinearKernel tent;
  const TWeightMap map = BuildWeightMap(0, 4, 0, 4, 0, 8, tent);
  ASSERT_EQ(map.size(), 4u);
  // Position i: source 2i-1 .. 2i+2 with 32, 96, 96, 32, clamped into 0..7.
  EXPECT_EQ(map[0], (TList{{0, 32}, {0, 96}, {1, 96}, {2, 32}}));
  EXPECT_EQ(map[1], (TList{{1, 32}, {2, 96}, {3, 96}, {4, 32}}));
  EXPECT_EQ(map[3], (TList{{5, 32}, {6, 96}, {7, 96}, {7, 32}}));
  // A clip window yields the matching slice of the full map.
  const TWeightMap part = BuildWeightMap(0, 4, 2, 4, 0, 8, tent);
  ASSERT_EQ(part.size(), 2u);
  EXPECT_EQ(part[0], map[2]);
  EXPECT_EQ(part[1], map[3]);
  // Shifted spans: the same weights on shifted positions.
  const TWeightMap shifted = BuildWeightMap(10, 14, 10, 14, 5, 13, tent);
  EXPECT_EQ(shifted[1], (TList{{6, 32}, {7, 96}, {8, 96}, {9, 32}}));
}

TEST(WeightMap, ReductionByThreeCorrectsTheSum) {
  // q = 1/3 as a float; tent weights 256 q (1 - |d| q) for d = 2, 1, 0: 28.44, 56.89, 85.33 round to
  // 28, 57, 85 and sum to 255; the missing unit goes to the middle entry (index 4 div 2).
  TLinearKernel tent;
  const TWeightMap map = BuildWeightMap(0, 2, 0, 2, 0, 6, tent);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map[0], (TList{{0, 28}, {0, 57}, {1, 86}, {2, 57}, {3, 28}}));
  // Centre 4: j = 1 sits at distance 3 q, a float 1.0, where the tent is 0; then j = 2 .. 6.
  EXPECT_EQ(map[1], (TList{{2, 28}, {3, 57}, {4, 86}, {5, 57}, {5, 28}}));
}

TEST(WeightMap, EnlargementByTwoWithTent) {
  // Centres -0.25, 0.25, 0.75, 1.25: weights 256 (1 - distance).
  TLinearKernel tent;
  const TWeightMap map = BuildWeightMap(0, 4, 0, 4, 0, 2, tent);
  ASSERT_EQ(map.size(), 4u);
  EXPECT_EQ(map[0], (TList{{0, 64}, {0, 192}}));
  EXPECT_EQ(map[1], (TList{{0, 192}, {1, 64}}));
  EXPECT_EQ(map[2], (TList{{0, 64}, {1, 192}}));
  EXPECT_EQ(map[3], (TList{{1, 192}, {1, 64}}));
}

TEST(WeightMap, DegenerateSpans) {
  TLinearKernel tent;
  const TWeightMap one = BuildWeightMap(0, 5, 0, 5, 3, 4, tent);
  ASSERT_EQ(one.size(), 5u);
  for (const TWeightList& l : one) EXPECT_EQ(l, (TList{{3, 256}}));
  EXPECT_TRUE(BuildWeightMap(0, 5, 0, 5, 3, 3, tent).empty());  // empty source
  EXPECT_TRUE(BuildWeightMap(0, 5, 2, 2, 0, 8, tent).empty());  // empty clip
  // Equal sizes: identity.
  const TWeightMap same = BuildWeightMap(0, 6, 0, 6, 0, 6, tent);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(same[i], (TList{{i, 256}}));
}

TEST(WeightMap, EveryKernelSumsTo256InsideTheSpan) {
  std::mt19937 rng(11);
  std::vector<std::string> names;
  GetKernelClassNames(names);
  for (const std::string& name : names) {
    auto kernel = FindKernelClass(name)->Create();
    for (int trial = 0; trial < 60; ++trial) {
      const std::int32_t srcLo = static_cast<std::int32_t>(rng() % 20);
      const std::int32_t srcHi = srcLo + 2 + static_cast<std::int32_t>(rng() % 90);
      const std::int32_t dstLo = static_cast<std::int32_t>(rng() % 30) - 10;
      const std::int32_t dstHi = dstLo + 1 + static_cast<std::int32_t>(rng() % 120);
      const TWeightMap map = BuildWeightMap(dstLo, dstHi, dstLo, dstHi, srcLo, srcHi, *kernel);
      ASSERT_EQ(map.size(), static_cast<std::size_t>(dstHi - dstLo));
      for (const TWeightList& l : map) {
        ASSERT_FALSE(l.empty());
        int sum = 0;
        for (const TSourceWeight& e : l) {
          ASSERT_GE(e.Pos, srcLo) << name;
          ASSERT_LT(e.Pos, srcHi) << name;
          sum += e.Weight;
        }
        ASSERT_EQ(sum, 256) << name << " src " << srcLo << ".." << srcHi << " dst " << dstLo << ".." << dstHi;
      }
    }
  }
  // A kernel narrower than the pixel spacing leaves lists empty; their fallback stays in the span.
  TLanczosKernel thin;
  thin.SetWidth(0.05f);
  const TWeightMap map = BuildWeightMap(0, 50, 0, 50, 0, 2, thin);
  for (const TWeightList& l : map) {
    ASSERT_EQ(l.size(), 1u);
    EXPECT_GE(l[0].Pos, 0);
    EXPECT_LE(l[0].Pos, 1);
  }
}

// ---------------------------------------------------------------- BilinearMix

TEST(BilinearMix, EndsAndTruncation) {
  const TColor32 a = 0x10203040, b = 0xF0E0D0C0, c = 0x01020304, d = 0xFFFEFDFC;
  EXPECT_EQ(BilinearMix(a, b, c, d, 256, 256), a);
  EXPECT_EQ(BilinearMix(a, b, c, d, 0, 256), b);
  EXPECT_EQ(BilinearMix(a, b, c, d, 256, 0), c);
  EXPECT_EQ(BilinearMix(a, b, c, d, 0, 0), d);
  // 255 halved truncates to 127 in each step.
  EXPECT_EQ(BilinearMix(0xFFFFFFFF, 0, 0xFFFFFFFF, 0, 128, 256), 0x7F7F7F7Fu);
  EXPECT_EQ(BilinearMix(0xFFFFFFFF, 0, 0, 0, 128, 128), 0x3F3F3F3Fu);
  std::mt19937 rng(5);
  for (int i = 0; i < 20000; ++i) {
    const TColor32 p[4] = {static_cast<TColor32>(rng()), static_cast<TColor32>(rng()), static_cast<TColor32>(rng()),
                           static_cast<TColor32>(rng())};
    const int u = static_cast<int>(rng() % 257), v = static_cast<int>(rng() % 257);
    ASSERT_EQ(BilinearMix(p[0], p[1], p[2], p[3], u, v), RefMix(p[0], p[1], p[2], p[3], u, v));
  }
}

// ---------------------------------------------------------------- NearestStretch

TEST(NearestStretch, ColumnAndRowMaps) {
  TBitmap32 src, dst;
  Fill(src, 2, 2, {1, 2, 3, 4});
  dst.SetSize(4, 4);
  NearestStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmOpaque, {});
  const TColor32 expected[16] = {1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(dst.PixelAt(i % 4, i / 4), expected[i]) << i;

  // Reduction 3 -> 2: scale 1.5, columns trunc(0), trunc(1.5).
  TBitmap32 wide, out;
  Fill(wide, 3, 1, {7, 8, 9});
  out.SetSize(2, 1);
  NearestStretch(out, out.BoundsRect(), out.BoundsRect(), wide, wide.BoundsRect(), dmOpaque, {});
  EXPECT_EQ(out.PixelAt(0, 0), 7u);
  EXPECT_EQ(out.PixelAt(1, 0), 8u);
}

TEST(NearestStretch, OnePixelDestinationsTakeTheMiddle) {
  TBitmap32 src, dst;
  std::vector<TColor32> px(35);
  for (int i = 0; i < 35; ++i) px[i] = static_cast<TColor32>(100 + i);
  Fill(src, 7, 5, px);
  dst.SetSize(3, 3);
  // SrcRect columns 1..5, rows 0..4: the middle column is (1 + 6 - 1) div 2 = 3, middle row 2.
  NearestStretch(dst, TRect{1, 0, 2, 3}, dst.BoundsRect(), src, TRect{1, 0, 6, 5}, dmOpaque, {});
  EXPECT_EQ(dst.PixelAt(1, 0), src.PixelAt(3, 0));
  EXPECT_EQ(dst.PixelAt(1, 2), src.PixelAt(3, 3));  // rows: trunc(2 * 5/3) = 3
  NearestStretch(dst, TRect{0, 1, 3, 2}, dst.BoundsRect(), src, TRect{1, 0, 6, 5}, dmOpaque, {});
  EXPECT_EQ(dst.PixelAt(0, 1), src.PixelAt(1, 2));
  EXPECT_EQ(dst.PixelAt(2, 1), src.PixelAt(4, 2));  // columns: trunc(2 * 5/3 + 1) = 4
}

TEST(NearestStretch, ClippedDestinationShiftsTheSource) {
  TBitmap32 src, dst;
  Fill(src, 4, 1, {10, 11, 12, 13});
  dst.SetSize(4, 1);
  // Eight destination columns starting at -4: column x reads source (x + 4) / 2.
  NearestStretch(dst, TRect{-4, 0, 4, 1}, TRect{-100, -100, 100, 100}, src, src.BoundsRect(), dmOpaque, {});
  for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.PixelAt(x, 0), src.PixelAt((x + 4) / 2, 0)) << x;
}

TEST(NearestStretch, EqualSizesCopyAndBadSourceRectangles) {
  TBitmap32 src, dst;
  FillRandom(src, 5, 4, 3);
  dst.SetSize(5, 4);
  NearestStretch(dst, TRect{1, 1, 4, 3}, dst.BoundsRect(), src, TRect{2, 2, 5, 4}, dmOpaque, {});
  EXPECT_EQ(dst.PixelAt(1, 1), src.PixelAt(2, 2));
  EXPECT_EQ(dst.PixelAt(3, 2), src.PixelAt(4, 3));
  EXPECT_EQ(dst.PixelAt(0, 0), 0u);

  try {
    NearestStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, TRect{0, 0, 6, 4}, dmOpaque, {});
    FAIL() << "no error";
  } catch (const EBitmapException& e) {
    EXPECT_STREQ(e.what(), "Invalid SrcRect");
  }
  EXPECT_THROW(NearestStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, TRect{-1, 0, 3, 4}, dmOpaque, {}),
               EBitmapException);
  // An empty source rectangle at the source's edge draws nothing and reads nothing.
  TBitmap32 before;
  before.Assign(&dst);
  NearestStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, TRect{5, 0, 5, 4}, dmOpaque, {});
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(dst.PixelAt(x, y), before.PixelAt(x, y));
}

TEST(NearestStretch, DrawModes) {
  TBitmap32 src, dst;
  Fill(src, 2, 1, {0x80FF0000, 0x00000000});
  dst.SetSize(4, 2);
  // dmBlend, master 255: BlendRow rules (0x80FF0000 onto 0 gives 0x40800000; alpha 0 keeps).
  dst.Clear(0);
  NearestStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmBlend, {});
  EXPECT_EQ(dst.PixelAt(0, 1), 0x40800000u);
  EXPECT_EQ(dst.PixelAt(3, 1), 0u);
  // Master 128: BlendRowMaster rules (0xFF00FF00 onto 0xFFFFFFFF gives 0xFF80FF80).
  Fill(src, 2, 1, {0xFF00FF00, 0xFF00FF00});
  src.SetMasterAlpha(128);
  dst.Clear(0xFFFFFFFF);
  NearestStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmBlend, {});
  EXPECT_EQ(dst.PixelAt(2, 0), 0xFF80FF80u);
  // dmTransparent skips the outer colour exactly.
  Fill(src, 2, 1, {0x00000000, 0x00000001});
  src.SetOuterColor(0);
  dst.Clear(0xFFABCDEF);
  NearestStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmTransparent, {});
  EXPECT_EQ(dst.PixelAt(0, 0), 0xFFABCDEFu);
  EXPECT_EQ(dst.PixelAt(3, 1), 1u);
  // dmCustom gets colour, pixel and master alpha; without a callback it copies.
  int calls = 0;
  TPixelCombineEvent cb = [&](TColor32 F, TColor32& B, TColor32 M) {
    ++calls;
    B = F + M;
  };
  NearestStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmCustom, cb);
  EXPECT_EQ(calls, 8);
  EXPECT_EQ(dst.PixelAt(3, 0), 1u + 128u);
  NearestStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmCustom, {});
  EXPECT_EQ(dst.PixelAt(3, 0), 1u);
}

// ---------------------------------------------------------------- BilinearStretch

TEST(BilinearStretch, TwoByTwoOntoFourByFour) {
  TBitmap32 src, dst;
  const TColor32 a = 0xFF000000, b = 0xFF0000FF, c = 0x80FF0000, d = 0x4000FF00;
  Fill(src, 2, 2, {a, b, c, d});
  dst.SetSize(4, 4);
  BilinearStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmOpaque, {});
  // Per axis (Pos, weight): (0, 256), (0, 192), (0, 64), (0, 0).
  const int w[4] = {256, 192, 64, 0};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.PixelAt(x, y), RefMix(a, b, c, d, w[x], w[y])) << x << "," << y;
  EXPECT_EQ(dst.PixelAt(0, 0), a);
  EXPECT_EQ(dst.PixelAt(3, 3), d);
}

TEST(BilinearStretch, EnlargementMatchesTheCentreMapping) {
  // 5 -> 13 columns from a SrcRect inside a wider bitmap: centre c = (i + 0.5) * 5/13 + 0.5 - 0.5
  // (SrcRect.Left = 1), clamped to 0..6; left neighbour floor(c), weight 256 - round(frac * 256);
  // entries on SrcRect.Right - 1 move one column left with weight 0.
  TBitmap32 src, dst;
  FillRandom(src, 7, 3, 9);
  dst.SetSize(13, 1);
  const TRect srcRect{1, 1, 6, 2};
  BilinearStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, srcRect, dmOpaque, {});
  const float sx = 5.0f / 13.0f;
  // Rows: one source row onto one destination row; centre 1 sits on SrcRect.Bottom - 1, so it
  // moves to row 0 with weight 0.
  for (int i = 0; i < 13; ++i) {
    double cx = static_cast<float>((i + 0.5) * static_cast<double>(sx) + 0.5);
    cx = std::min(std::max(cx, 0.0), 6.0);
    int pos = static_cast<int>(std::floor(cx));
    int wt = 256 - static_cast<int>(std::nearbyint((cx - pos) * 256));
    if (pos == 5) {  // every later entry is on the last column too
      pos = 4;
      wt = 0;
    }
    const TColor32 expected =
        RefMix(src.PixelAt(pos, 0), src.PixelAt(pos + 1, 0), src.PixelAt(pos, 1), src.PixelAt(pos + 1, 1), wt, 0);
    EXPECT_EQ(dst.PixelAt(i, 0), expected) << i;
  }
}

// ---------------------------------------------------------------- KernelStretch

// Straightforward tent filter in double: destination centre c = (i + 0.5) s - 0.5 in source
// pixels, weights tent((c - j) / s) / s normalised to 1, source positions clamped to the edge.
std::vector<std::pair<int, double>> TentWeights(int i, int srcW, int dstW) {
  const double s = static_cast<double>(srcW) / dstW;
  const double c = (i + 0.5) * s - 0.5;
  std::vector<std::pair<int, double>> w;
  double sum = 0;
  for (int j = static_cast<int>(std::floor(c - s)) - 1; j <= static_cast<int>(std::ceil(c + s)) + 1; ++j) {
    const double t = std::fabs(c - j) / s;
    if (t >= 1) continue;
    const double v = (1 - t) / s;
    w.emplace_back(std::min(std::max(j, 0), srcW - 1), v);
    sum += v;
  }
  for (auto& e : w) e.second /= sum;
  return w;
}

double TentReference(const TBitmap32& src, int x, int y, int k, int dstW, int dstH) {
  double v = 0;
  for (const auto& [sy, wy] : TentWeights(y, src.Height(), dstH))
    for (const auto& [sx, wx] : TentWeights(x, src.Width(), dstW)) v += wx * wy * Channel(src.PixelAt(sx, sy), k);
  return v;
}

TEST(KernelStretch, HalvingWithTentIsExact) {
  // Halving gives the dyadic weights 1/8, 3/8, 3/8, 1/8: the double reference is exact and the
  // stretch drops only the fraction.
  TBitmap32 src, dst;
  FillRandom(src, 16, 10, 21);
  dst.SetSize(8, 5);
  TLinearKernel tent;
  KernelStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), tent, dmOpaque, {});
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 8; ++x)
      for (int k = 0; k < 4; ++k)
        ASSERT_EQ(Channel(dst.PixelAt(x, y), k), static_cast<int>(std::floor(TentReference(src, x, y, k, 8, 5))))
            << x << "," << y << " channel " << k;
}

// A mostly transparent source (as a layer is): the stretch reads only its non-zero part, and
// must still match the filter everywhere, the zero margins included.
TEST(KernelStretch, HalvingASparseSourceIsExact) {
  TBitmap32 src, dst;
  FillRandom(src, 64, 40, 5);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 64; ++x)
      if (x < 21 || x >= 37 || y < 9 || y >= 26) src.PixelRef(x, y) = 0;
  dst.SetSize(32, 20);
  dst.Clear(0x12345678u);
  TLinearKernel tent;
  KernelStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), tent, dmOpaque, {});
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 32; ++x)
      for (int k = 0; k < 4; ++k)
        ASSERT_EQ(Channel(dst.PixelAt(x, y), k), static_cast<int>(std::floor(TentReference(src, x, y, k, 32, 20))))
            << x << "," << y << " channel " << k;
}

TEST(KernelStretch, RandomReductionFollowsTheTentFilter) {
  TBitmap32 src, dst;
  FillRandom(src, 47, 31, 33);
  const int dw = 13, dh = 9;
  dst.SetSize(dw, dh);
  TLinearKernel tent;
  KernelStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), tent, dmOpaque, {});
  // Each weight is off by at most half a 1/256 step, plus the sum correction on one entry (at most
  // half a step per entry); per axis the weights stay within taps / 256 of the true ones in total,
  // and the result loses under one unit by truncation.
  const double tapsX = 2 * 47.0 / dw + 2, tapsY = 2 * 31.0 / dh + 2;
  const double bound = 255.0 * (tapsX + tapsY) / 256.0 + 1.0;
  double sumError = 0;
  int n = 0;
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x)
      for (int k = 0; k < 4; ++k) {
        const double ref = TentReference(src, x, y, k, dw, dh);
        const double err = ref - Channel(dst.PixelAt(x, y), k);
        ASSERT_LE(std::fabs(err), bound) << x << "," << y << " channel " << k;
        sumError += std::fabs(err - 0.5);  // truncation shifts the mean by half a unit
        ++n;
      }
  // Rounding errors of random pixels cancel on average.
  EXPECT_LT(sumError / n, 1.0);
}

TEST(KernelStretch, ClipWindowEqualsTheSameRegionOfAFullStretch) {
  TBitmap32 src, full, part;
  FillRandom(src, 30, 20, 4);
  full.SetSize(12, 9);
  part.SetSize(12, 9);
  TCubicKernel cubic;
  KernelStretch(full, TRect{-3, -2, 12, 9}, full.BoundsRect(), src, TRect{2, 1, 30, 20}, cubic, dmOpaque, {});
  KernelStretch(part, TRect{-3, -2, 12, 9}, TRect{4, 3, 10, 7}, src, TRect{2, 1, 30, 20}, cubic, dmOpaque, {});
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x) {
      const bool inside = x >= 4 && x < 10 && y >= 3 && y < 7;
      EXPECT_EQ(part.PixelAt(x, y), inside ? full.PixelAt(x, y) : 0u) << x << "," << y;
    }
}

// Large stretches run their rows on two threads; a combining callback keeps one thread. With the
// callback doing the blend itself, both must give the same pixels.
TEST(KernelStretch, RowsOnTwoThreadsEqualTheSingleThreadWalk) {
  std::mt19937 rng(17);
  TBitmap32 src;
  src.SetSize(613, 509);
  for (std::size_t i = 0; i < src.PixelCount(); ++i) src.Bits()[i] = rng();
  src.SetCombineMode(cmBlend);
  TLinearKernel linear;
  for (const TRect dstRect : {TRect{0, 0, 297, 297}, TRect{-40, -10, 900, 700}}) {
    TBitmap32 split, walked;
    for (TBitmap32* b : {&split, &walked}) {
      b->SetSize(320, 300);
      for (std::size_t i = 0; i < b->PixelCount(); ++i) b->Bits()[i] = 0xFF000000u | static_cast<TColor32>(i * 2654435761u);
    }
    KernelStretch(split, dstRect, split.BoundsRect(), src, src.BoundsRect(), linear, dmBlend, {});
    const TPixelCombineEvent blend = [](TColor32 f, TColor32& b, TColor32 m) { BlendPixel(f, b, m); };
    KernelStretch(walked, dstRect, walked.BoundsRect(), src, src.BoundsRect(), linear, dmCustom, blend);
    EXPECT_TRUE(std::equal(split.Bits(), split.Bits() + split.PixelCount(), walked.Bits())) << dstRect.Right;
  }
}

TEST(KernelStretch, ClampingKernelsStayInRange) {
  // A hard black/white edge overshoots with a negative-lobed kernel; the clamp keeps 0 and 255.
  TBitmap32 src, dst;
  std::vector<TColor32> px(8);
  for (int i = 0; i < 8; ++i) px[i] = i < 4 ? 0xFF000000u : 0xFFFFFFFFu;
  Fill(src, 8, 1, px);
  dst.SetSize(20, 1);
  TLanczosKernel lanczos;
  KernelStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), lanczos, dmOpaque, {});
  EXPECT_EQ(dst.PixelAt(0, 0), 0xFF000000u);
  EXPECT_EQ(dst.PixelAt(19, 0), 0xFFFFFFFFu);
  for (int x = 1; x < 19; ++x) EXPECT_EQ(dst.PixelAt(x, 0) >> 24, 0xFFu) << x;
}

TEST(KernelStretch, AbsurdKernelParametersStaySound) {
  // Weights in the hundred millions: the sums must neither overflow nor read outside the span.
  TBitmap32 src, dst;
  FillRandom(src, 5, 4, 6);
  dst.SetSize(17, 9);
  TCubicKernel wild;
  wild.SetCoeff(-2.0e5f);
  // Runs under the sanitizers in the checked build; the 64-bit path clamps like any other.
  EXPECT_NO_THROW(
      KernelStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), wild, dmOpaque, {}));
  // Weights beyond 32 bits cannot be formed: a clear error, nothing drawn half-way.
  wild.SetCoeff(-1.0e12f);
  EXPECT_THROW(
      KernelStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), wild, dmOpaque, {}), EMathError);
}

TEST(KernelStretch, MasterAlphaZeroDrawsNothing) {
  TBitmap32 src, dst;
  FillRandom(src, 6, 6, 2);
  src.SetMasterAlpha(0);
  dst.SetSize(3, 3);
  dst.Clear(0x12345678);
  TLinearKernel tent;
  KernelStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), tent, dmBlend, {});
  EXPECT_EQ(dst.PixelAt(1, 1), 0x12345678u);
}

// ---------------------------------------------------------------- draft resampler

TEST(DraftStretch, BlockAverages) {
  TBitmap32 src, dst;
  // 3 x 2 onto 2 x 1: blocks of columns {0} and {1, 2}, both rows.
  Fill(src, 3, 2, {Argb(255, 10, 0, 0), Argb(255, 20, 0, 1), Argb(255, 31, 0, 2),  //
                   Argb(255, 12, 0, 0), Argb(255, 22, 0, 1), Argb(255, 31, 0, 1)});
  dst.SetSize(2, 1);
  DraftStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmOpaque, {});
  EXPECT_EQ(dst.PixelAt(0, 0), Argb(255, 11, 0, 0));
  // Red (20 + 31 + 22 + 31) / 4 = 26; blue (1 + 2 + 1 + 1) / 4 = 1.25 -> 1.
  EXPECT_EQ(dst.PixelAt(1, 0), Argb(255, 26, 0, 1));
  // Blue 0.5 rounds up.
  Fill(src, 2, 1, {Argb(0, 0, 0, 0), Argb(0, 0, 0, 1)});
  dst.SetSize(1, 1);
  DraftStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmOpaque, {});
  EXPECT_EQ(dst.PixelAt(0, 0), 1u);
}

TEST(DraftResampler, ChoosesByDirection) {
  TBitmap32 src, viaDraft, viaRef;
  FillRandom(src, 4, 4, 8);
  src.SetResamplerClassName("TDraftResampler");
  // Enlargement in one direction: bilinear.
  viaDraft.SetSize(8, 3);
  viaRef.SetSize(8, 3);
  viaDraft.Draw(viaDraft.BoundsRect(), src.BoundsRect(), &src);
  BilinearStretch(viaRef, viaRef.BoundsRect(), viaRef.BoundsRect(), src, src.BoundsRect(), dmOpaque, {});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(viaDraft.PixelAt(x, y), viaRef.PixelAt(x, y));
  // Reduction: averages of 2 x 2 blocks.
  viaDraft.SetSize(2, 2);
  viaDraft.Draw(viaDraft.BoundsRect(), src.BoundsRect(), &src);
  for (int k = 0; k < 4; ++k) {
    const int sum = Channel(src.PixelAt(2, 2), k) + Channel(src.PixelAt(3, 2), k) + Channel(src.PixelAt(2, 3), k) +
                    Channel(src.PixelAt(3, 3), k);
    EXPECT_EQ(Channel(viaDraft.PixelAt(1, 1), k), (sum + 2) / 4);
  }
}

// ---------------------------------------------------------------- linear resampler

TEST(LinearResampler, ChoosesBilinearOnlyForTrueEnlargement) {
  TBitmap32 src;
  Fill(src, 2, 2, {0xFF000000, 0xFF0000FF, 0x80FF0000, 0x4000FF00});
  src.SetResamplerClassName("TLinearResampler");
  TBitmap32 big;
  big.SetSize(4, 4);
  big.Draw(big.BoundsRect(), src.BoundsRect(), &src);
  const int w[4] = {256, 192, 64, 0};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(big.PixelAt(x, y), RefMix(0xFF000000, 0xFF0000FF, 0x80FF0000, 0x4000FF00, w[x], w[y]));

  // Reduction: the tent filter of the kernel stretch (exact for halving).
  TBitmap32 pic, small;
  FillRandom(pic, 8, 6, 12);
  pic.SetResamplerClassName("TLinearResampler");
  small.SetSize(4, 3);
  pic.DrawInto(small, small.BoundsRect());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      for (int k = 0; k < 4; ++k)
        EXPECT_EQ(Channel(small.PixelAt(x, y), k), static_cast<int>(std::floor(TentReference(pic, x, y, k, 4, 3))));

  // A one-row source widened: not bilinear (height 1), the tent kernel spreads the single row.
  TBitmap32 row, wide;
  Fill(row, 2, 1, {0xFF000000, 0xFF0000FF});
  row.SetResamplerClassName("TLinearResampler");
  wide.SetSize(4, 2);
  wide.Draw(wide.BoundsRect(), row.BoundsRect(), &row);
  // Enlargement weights (0, 64 + 192), (0, 192)(1, 64), (0, 64)(1, 192), (1, 256): blue 0, 64, 192, 255.
  EXPECT_EQ(wide.PixelAt(0, 1), 0xFF000000u);
  EXPECT_EQ(wide.PixelAt(1, 1), 0xFF00003Fu);  // 255 * 64 / 256 = 63.75, truncated
  EXPECT_EQ(wide.PixelAt(2, 1), 0xFF0000BFu);
  EXPECT_EQ(wide.PixelAt(3, 0), 0xFF0000FFu);
}

TEST(LinearResampler, PointSamplesInterpolate) {
  TBitmap32 b;
  Fill(b, 2, 2, {0xFF000000, 0xFF0000FF, 0xFFFF0000, 0xFFFF00FF});
  auto& r = MakeResampler<TLinearResampler>(b);
  r.BeginSampling();
  EXPECT_EQ(r.SampleInt(1, 0), 0xFF0000FFu);
  EXPECT_EQ(r.SampleFloat(1.0f, 1.0f), 0xFFFF00FFu);
  EXPECT_EQ(r.SampleFixed(0x8000, 0), 0xFF00007Fu);            // halfway along the top row, truncated
  EXPECT_EQ(r.SampleFloat(0.25f, 0.0f), 0xFF00003Fu);          // 255 * 64 / 256
  EXPECT_EQ(r.SampleFloat(0.0f, 0.5f), 0xFF7F0000u);
  // pamSafe: outside the bitmap reads OuterColor (0), so the right edge fades.
  EXPECT_EQ(r.SampleFloat(1.5f, 0.0f), 0x7F00007Fu);
  r.SetPixelAccessMode(pamWrap);
  r.BeginSampling();
  EXPECT_EQ(r.SampleFloat(1.5f, 0.0f), 0xFF0000FFu);  // clamp wrap: the edge pixel twice
  r.EndSampling();
}

TEST(KernelResampler, PointSamplesByMode) {
  TBitmap32 b;
  FillRandom(b, 6, 6, 17);
  auto& r = MakeResampler<TKernelResampler>(b);
  r.BeginSampling();
  // The box kernel at pixel centres reads the pixel itself.
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(r.SampleInt(x, y), b.PixelAt(x, y));
  // A tent halfway between two pixels: their average, rounded.
  r.SetKernelClassName("TLinearKernel");
  for (TKernelMode mode : {kmDynamic, kmTableNearest, kmTableLinear}) {
    r.SetKernelMode(mode);
    r.BeginSampling();
    const TColor32 got = r.SampleFloat(2.5f, 3.0f);
    for (int k = 0; k < 4; ++k) {
      const double mean = (Channel(b.PixelAt(2, 3), k) + Channel(b.PixelAt(3, 3), k)) / 2.0;
      EXPECT_NEAR(Channel(got, k), mean, 0.5) << int(mode);
    }
  }
  r.EndSampling();
}

// ---------------------------------------------------------------- combine modes

// A uniform source stretches to itself on every path, so each written pixel is exactly
// F = 0x80FF0000 combined onto B = 0xFF0000FF:
//   cmBlend (BlendPixel, w = 128*256 >> 8 = 128): A (128*128 + 255*128 + 128) >> 8 = 192,
//           R (255*128 + 128) >> 8 = 128, B (255*128 + 128) >> 8 = 128      -> 0xC0800080
//   cmMerge over opaque: alpha 255, R 255*128/255 = 128, B 255*127/255 = 127 -> 0xFF80007F
//   NearestStretch blends rows; BlendRow at alpha 128 gives the cmBlend value as well.
// With MasterAlpha 128 both weight rules give w = 64 (129*128 >> 8 and 128*129 >> 8):
//   cmBlend: A (128*64 + 255*192 + 128) >> 8 = 223, R (255*64 + 128) >> 8 = 64,
//            B (255*192 + 128) >> 8 = 191                                   -> 0xDF4000BF
//   cmMerge: Fa' = 128*128/255 = 64.25 -> 64, alpha 255, R 64, B 255*191/255 = 191 -> 0xFF4000BF
TEST(ResamplerCombine, BlendAndMergeThroughEveryResampler) {
  const char* classes[] = {"TNearestResampler", "TLinearResampler", "TDraftResampler", "TKernelResampler"};
  const TRect sizes[] = {TRect{0, 0, 9, 7}, TRect{0, 0, 3, 2}, TRect{0, 0, 9, 2}};  // up, down, mixed
  struct Case {
    TCombineMode Mode;
    std::uint32_t Master;
    TColor32 Expected;
  };
  const Case cases[] = {{cmBlend, 255, 0xC0800080u}, {cmMerge, 255, 0xFF80007Fu},
                        {cmBlend, 128, 0xDF4000BFu}, {cmMerge, 128, 0xFF4000BFu}};
  for (const char* cls : classes)
    for (const Case& c : cases)
      for (const TRect& dr : sizes) {
        TBitmap32 src, dst;
        src.SetSize(5, 4);
        src.Clear(0x80FF0000);
        src.SetDrawMode(dmBlend);
        src.SetCombineMode(c.Mode);
        src.SetMasterAlpha(c.Master);
        src.SetResamplerClassName(cls);
        dst.SetSize(dr.Right, dr.Bottom);
        dst.Clear(0xFF0000FF);
        dst.Draw(dr, src.BoundsRect(), &src);
        for (int y = 0; y < dr.Bottom; ++y)
          for (int x = 0; x < dr.Right; ++x)
            ASSERT_EQ(dst.PixelAt(x, y), c.Expected) << cls << " mode " << int(c.Mode) << " master " << c.Master
                                                     << " at " << x << "," << y << " size " << dr.Right << "x"
                                                     << dr.Bottom;
      }
}

TEST(ResamplerCombine, MasterAlphaAndTransparentPerPixel) {
  // BlendPixel with master 128: w = (255 * 129) >> 8 = 128 for an opaque F.
  TBitmap32 src, dst;
  src.SetSize(2, 2);
  src.Clear(0xFFFFFFFF);
  src.SetMasterAlpha(128);
  src.SetResamplerClassName("TLinearResampler");
  dst.SetSize(5, 5);
  dst.Clear(0xFF000000);
  BilinearStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmBlend, {});
  EXPECT_EQ(dst.PixelAt(2, 2), 0xFF808080u);  // (255*128 + 0 + 128) >> 8 = 128; alpha stays 255
  TLinearKernel tent;
  dst.Clear(0xFF000000);
  KernelStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, TRect{0, 0, 1, 2}, tent, dmBlend, {});
  EXPECT_EQ(dst.PixelAt(4, 4), 0xFF808080u);
  // dmTransparent: pixels equal to OuterColor stay.
  src.Clear(0);
  src.SetOuterColor(0);
  dst.Clear(0xFF112233);
  KernelStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), tent, dmTransparent, {});
  BilinearStretch(dst, dst.BoundsRect(), dst.BoundsRect(), src, src.BoundsRect(), dmTransparent, {});
  EXPECT_EQ(dst.PixelAt(0, 0), 0xFF112233u);
}

}  // namespace
}  // namespace quirlon::raster
