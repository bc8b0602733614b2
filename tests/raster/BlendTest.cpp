#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Blend.h"
#include "raster/Errors.h"
#include "raster/Sampler.h"

namespace quirlon::raster {
namespace {

// ---------------------------------------------------------------------------------------------
// Independent references

// The 16-bit lane form of the mix: ((B * 256 + 128 + (F - B) * w) mod 65536) >> 8.
std::uint32_t LaneMix(std::uint32_t f, std::uint32_t b, std::uint32_t w) {
  const std::int32_t lane = static_cast<std::int32_t>(b) * 256 + 128 + (static_cast<std::int32_t>(f) - static_cast<std::int32_t>(b)) * static_cast<std::int32_t>(w);
  return (static_cast<std::uint32_t>(lane) & 0xFFFFu) >> 8;
}

std::uint32_t Channel(TColor32 c, int i) { return (c >> (8 * i)) & 0xFF; }

TColor32 MixReference(TColor32 F, TColor32 B, std::uint32_t w) {
  TColor32 r = 0;
  for (int i = 0; i < 4; ++i) r |= LaneMix(Channel(F, i), Channel(B, i), w) << (8 * i);
  return r;
}

TColor32 BlendPixelReference(TColor32 F, TColor32 B, std::uint32_t M) {
  const std::uint32_t fa = F >> 24;
  const std::uint32_t w = (fa * (M + 1)) >> 8;
  return (fa == 0 || w == 0) ? B : MixReference(F, B, w);
}

TColor32 BlendRowReference(TColor32 F, TColor32 B) {
  const std::uint32_t fa = F >> 24;
  if (fa == 0) return B;
  if (fa == 255) return F;
  return MixReference(F, B, fa);
}

TColor32 BlendRowMasterReference(TColor32 F, TColor32 B, std::uint32_t M) {
  const std::uint32_t fa = F >> 24;
  const std::uint32_t w = ((fa + 1) * M) >> 8;
  return (fa == 0 || w == 0) ? B : MixReference(F, B, w);
}

// Round half up in real arithmetic; values within 1e-9 of a half count as the half (the true
// distance of a non-half from a half is at least 1 / 130050 here).
long double RoundHalfUp(long double x) {
  const long double f = std::floor(x);
  if (std::fabs(x - (f + 0.5L)) < 1e-9L) return f + 1;
  return std::floor(x + 0.5L);
}

TColor32 MergeReference(TColor32 F, TColor32 B, std::uint32_t M) {
  const long double Fa = F >> 24;
  const long double fa = M >= 255 ? Fa : RoundHalfUp(Fa * M / 255.0L);
  if (fa == 0) return B;
  const long double ba = B >> 24;
  const TColor32 faBits = static_cast<TColor32>(fa) << 24;
  if (fa == 255 || ba == 0) return (F & 0x00FFFFFFu) | faBits;
  const long double ra = fa + ba * (255 - fa) / 255.0L;
  auto clamp = [](long double v) { return static_cast<TColor32>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  TColor32 r = clamp(RoundHalfUp(ra)) << 24;
  for (int i = 0; i < 3; ++i) {
    const long double c = (Channel(F, i) * fa + Channel(B, i) * ba * (255 - fa) / 255.0L) / ra;
    r |= clamp(RoundHalfUp(c)) << (8 * i);
  }
  return r;
}

// ---------------------------------------------------------------------------------------------
// Arithmetic

TEST(BlendTest, Examples) {
  TColor32 b = 0;
  BlendPixel(0xFFFFFFFFu, b, 255);
  EXPECT_EQ(b, 0xFEFEFEFEu);
  b = 0;
  BlendPixel(0xFFC8C8C8u, b, 255);
  EXPECT_EQ(b, 0xFEC7C7C7u);
  for (std::uint32_t a = 0; a < 256; ++a) {
    b = 0x12345678u;
    BlendPixel((a << 24) | 0xFFFFFFu, b, 0);
    ASSERT_EQ(b, 0x12345678u);
  }

  const TColor32 src[4] = {0x00FFFFFFu, 0xFF123456u, 0x80FF0000u, 0x80FF0000u};
  TColor32 dst[4] = {0xAABBCCDDu, 0u, 0u, 0xFFFFFFFFu};
  BlendRow(src, dst, 4);
  EXPECT_EQ(dst[0], 0xAABBCCDDu);
  EXPECT_EQ(dst[1], 0xFF123456u);
  EXPECT_EQ(dst[2], 0x40800000u);
  EXPECT_EQ(dst[3], 0xC0FF8080u);

  TColor32 white = 0xFFFFFFFFu, zero = 0;
  BlendRowMaster(&white, &zero, 1, 254);
  EXPECT_EQ(zero, 0xFDFDFDFDu);
  const TColor32 faint = 0x01FFFFFFu;
  TColor32 d = 0x11223344u;
  BlendRowMaster(&faint, &d, 1, 127);
  EXPECT_EQ(d, 0x11223344u);
  const TColor32 green = 0xFF00FF00u;
  d = 0xFFFFFFFFu;
  BlendRowMaster(&green, &d, 1, 128);
  EXPECT_EQ(d, 0xFF80FF80u);

  EXPECT_EQ(MixColors(0x12345678u, 0x9ABCDEF0u, 0), 0x9ABCDEF0u);
  EXPECT_EQ(MixColors(0xFFFFFFFFu, 0, 255), 0xFEFEFEFEu);
}

// Every (F, B, w) channel triple, four channels per call.
TEST(BlendTest, MixColorsExhaustive) {
  for (std::uint32_t w = 0; w < 256; ++w)
    for (std::uint32_t f = 0; f < 256; ++f)
      for (std::uint32_t b = 0; b < 256; ++b) {
        const TColor32 F = (f << 24) | ((255 - f) << 16) | (f << 8) | (f ^ 0xA5);
        const TColor32 B = (b << 24) | (b << 16) | ((255 - b) << 8) | (b ^ 0x3C);
        ASSERT_EQ(MixColors(F, B, w), MixReference(F, B, w)) << f << " " << b << " " << w;
      }
}

// Every source alpha against every destination value, colour channels varied alongside.
TEST(BlendTest, BlendRowExhaustive) {
  std::vector<TColor32> src(256), dst(256), expected(256);
  for (std::uint32_t fa = 0; fa < 256; ++fa)
    for (std::uint32_t fc = 0; fc < 256; ++fc) {
      for (std::uint32_t bc = 0; bc < 256; ++bc) {
        src[bc] = (fa << 24) | (fc << 16) | ((255 - fc) << 8) | ((fc * 7) & 0xFF);
        dst[bc] = (bc << 24) | ((255 - bc) << 16) | (bc << 8) | ((bc * 13) & 0xFF);
        expected[bc] = BlendRowReference(src[bc], dst[bc]);
      }
      BlendRow(src.data(), dst.data(), 256);
      ASSERT_EQ(dst, expected) << fa << " " << fc;
    }
}

// Every (alpha, master) pair: the weight rules; the colour arithmetic with random pixels.
TEST(BlendTest, BlendPixelAndRowMasterAllWeights) {
  std::mt19937 rng(99);
  std::vector<TColor32> src(16), dst(16), expected(16);
  for (std::uint32_t fa = 0; fa < 256; ++fa)
    for (std::uint32_t m = 0; m < 256; ++m) {
      for (int k = 0; k < 16; ++k) {
        src[k] = (fa << 24) | (rng() & 0xFFFFFF);
        dst[k] = rng();
        TColor32 b = dst[k];
        BlendPixel(src[k], b, m);
        ASSERT_EQ(b, BlendPixelReference(src[k], dst[k], m)) << fa << " " << m;
        expected[k] = BlendRowMasterReference(src[k], dst[k], m);
      }
      BlendRowMaster(src.data(), dst.data(), 16, m);
      ASSERT_EQ(dst, expected) << fa << " " << m;
    }
}

// Rows whose alphas change from pixel to pixel, of every length up to 41, also drawn onto
// themselves one or two pixels along (each pixel then sees the results before it).
TEST(BlendTest, RowsOfMixedAlphasAndOverlappingRows) {
  std::mt19937 rng(2026);
  auto pixel = [&] {
    const std::uint32_t k = rng() % 4;
    const TColor32 c = rng();
    return k == 0 ? c & 0xFFFFFFu : (k == 1 ? c | 0xFF000000u : c);
  };
  for (int round = 0; round < 400; ++round) {
    const int n = static_cast<int>(rng() % 42);
    const std::uint32_t m = round % 3 == 0 ? 255 : rng() % 256;
    std::vector<TColor32> src(n), dst(n), expected(n);
    for (int i = 0; i < n; ++i) src[i] = pixel(), dst[i] = pixel();
    for (int i = 0; i < n; ++i) expected[i] = BlendRowReference(src[i], dst[i]);
    std::vector<TColor32> d = dst;
    BlendRow(src.data(), d.data(), n);
    ASSERT_EQ(d, expected) << round;
    for (int i = 0; i < n; ++i) expected[i] = BlendRowMasterReference(src[i], dst[i], m);
    d = dst;
    BlendRowMaster(src.data(), d.data(), n, m);
    ASSERT_EQ(d, expected) << round;
    if (n < 3) continue;
    for (int shift : {1, 2}) {
      std::vector<TColor32> row = dst, ref = dst;
      for (int i = 0; i < n - shift; ++i) ref[i + shift] = BlendRowMasterReference(ref[i], ref[i + shift], m);
      BlendRowMaster(row.data(), row.data() + shift, n - shift, m);
      ASSERT_EQ(row, ref) << round << " shift " << shift;
      row = dst, ref = dst;
      for (int i = 0; i < n - shift; ++i) ref[i + shift] = BlendRowReference(ref[i], ref[i + shift]);
      BlendRow(row.data(), row.data() + shift, n - shift);
      ASSERT_EQ(row, ref) << round << " shift " << shift;
    }
  }
}

TEST(BlendTest, MasterAboveRangeCountsAsOpaque) {
  std::mt19937 rng(5);
  for (int i = 0; i < 10000; ++i) {
    const TColor32 F = rng(), B = rng();
    for (std::uint32_t m : {256u, 1000u, 0xFFFFFFFFu}) {
      TColor32 b1 = B, b2 = B;
      BlendPixel(F, b1, m);
      BlendPixel(F, b2, 255);
      ASSERT_EQ(b1, b2);
      b1 = B, b2 = B;
      BlendRowMaster(&F, &b1, 1, m);
      BlendRowMaster(&F, &b2, 1, 255);
      ASSERT_EQ(b1, b2);
    }
    ASSERT_EQ(MixColors(F, B, 300), MixColors(F, B, 255));
  }
}

// ---------------------------------------------------------------------------------------------
// Merge

TEST(BlendTest, MergeExamples) {
  TColor32 b = 0;
  MergePixel(0x80FF0000u, b, 255);
  EXPECT_EQ(b, 0x80FF0000u);
  b = 0xFFFFFFFFu;
  MergePixel(0x80FF0000u, b, 255);
  EXPECT_EQ(b, 0xFFFF7F7Fu);
  b = 0x12345678u;
  MergePixel(0x00FFFFFFu, b, 255);  // transparent F leaves B, colour bytes included
  EXPECT_EQ(b, 0x12345678u);
  b = 0x12345678u;
  MergePixel(0xFFABCDEFu, b, 255);  // opaque F replaces B exactly
  EXPECT_EQ(b, 0xFFABCDEFu);
  b = 0x12345678u;
  MergePixel(0xFFABCDEFu, b, 128);  // master alpha scales F's alpha: 255 * 128 / 255 = 128
  EXPECT_EQ(b >> 24, 128u + (0x12u * 127 + 127) / 255);
  b = 0x00345678u;
  MergePixel(0xFFABCDEFu, b, 128);  // transparent B: F with the scaled alpha
  EXPECT_EQ(b, 0x80ABCDEFu);
  b = 0x12345678u;
  MergePixel(0x01ABCDEFu, b, 127);  // 1 * 127 / 255 rounds to 0: unchanged
  EXPECT_EQ(b, 0x12345678u);
}

TEST(BlendTest, MergeAgainstRealFormula) {
  // Every (Fa, Ba) pair, colour channels on a grid, three (Fc, Bc) pairs per pixel.
  const std::uint32_t grid[] = {0, 1, 17, 85, 127, 128, 170, 254, 255};
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
  for (std::uint32_t f : grid)
    for (std::uint32_t b : grid) pairs.emplace_back(f, b);
  std::mt19937 rng(31);
  while (pairs.size() < 120) pairs.emplace_back(rng() & 0xFF, rng() & 0xFF);
  std::vector<TColor32> src(pairs.size() / 3), dst(pairs.size() / 3), expected(pairs.size() / 3);
  for (std::uint32_t fa = 0; fa < 256; ++fa)
    for (std::uint32_t ba = 0; ba < 256; ++ba) {
      for (std::size_t k = 0; k < src.size(); ++k) {
        const auto& p0 = pairs[3 * k];
        const auto& p1 = pairs[3 * k + 1];
        const auto& p2 = pairs[3 * k + 2];
        src[k] = (fa << 24) | (p0.first << 16) | (p1.first << 8) | p2.first;
        dst[k] = (ba << 24) | (p0.second << 16) | (p1.second << 8) | p2.second;
        expected[k] = MergeReference(src[k], dst[k], 255);
        if (ba == 255) {
          ASSERT_EQ(expected[k] >> 24, 255u);  // over opaque stays opaque
        }
      }
      MergeRow(src.data(), dst.data(), static_cast<std::int32_t>(src.size()));
      ASSERT_EQ(dst, expected) << fa << " " << ba;
    }
}

// Every colour pair for a sample of alpha pairs: the rows work the quotient out by a reciprocal
// kept from pixel to pixel, so its exact halves and near-integers are all checked here.
TEST(BlendTest, MergeRowEveryColourPairForSampledAlphas) {
  std::mt19937 rng(8);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> alphas{{254, 255}, {1, 255}, {254, 1}, {128, 128}, {2, 254}};
  while (alphas.size() < 60) alphas.emplace_back(1 + rng() % 254, 1 + rng() % 255);
  std::vector<TColor32> src(256), dst(256), expected(256);
  for (const auto& [fa, ba] : alphas)
    for (std::uint32_t f = 0; f < 256; ++f) {
      for (std::uint32_t b = 0; b < 256; ++b) {
        src[b] = (fa << 24) | (f << 16) | (b << 8) | (255 - f);
        dst[b] = (ba << 24) | (b << 16) | (f << 8) | (b ^ 0x5A);
        expected[b] = MergeReference(src[b], dst[b], 255);
      }
      MergeRow(src.data(), dst.data(), 256);
      ASSERT_EQ(dst, expected) << fa << " " << ba << " " << f;
    }
}

// Over an opaque background (a white canvas) and over a clear one (a fresh layer, its colour bits
// left non-zero to catch a merge that reads them), every source alpha with every master alpha,
// rows long enough to be merged four at a time, one pixel sometimes of another alpha to break
// the run.
TEST(BlendTest, MergeRowsOverOpaqueAndClearBackgrounds) {
  std::mt19937 rng(12);
  std::vector<TColor32> src(23), dst(23), expected(23);
  for (const TColor32 backgroundAlpha : {0xFF000000u, 0u})
    for (std::uint32_t fa = 0; fa < 256; ++fa)
      for (std::uint32_t m = 0; m <= 256; m += (m < 8 || m > 248) ? 1 : 7) {
        for (std::size_t k = 0; k < src.size(); ++k) {
          src[k] = (fa << 24) | (rng() & 0xFFFFFF);
          if (k % 5 == 4) src[k] = rng();  // another alpha now and then
          dst[k] = (rng() & 0x00FFFFFFu) | backgroundAlpha;
          if (m == 100 && k == 9) dst[k] = (dst[k] & 0x00FFFFFFu) | 0x7F000000u;
          expected[k] = MergeReference(src[k], dst[k], m);
        }
        std::vector<TColor32> d = dst;
        MergeRowMaster(src.data(), d.data(), static_cast<std::int32_t>(src.size()), m);
        ASSERT_EQ(d, expected) << fa << " " << m;
        if (m != 255) continue;
        d = dst;
        MergeRow(src.data(), d.data(), static_cast<std::int32_t>(src.size()));
        ASSERT_EQ(d, expected) << fa;
      }
}

// Rows of mostly transparent pixels, in runs of every length, as layers are.
TEST(BlendTest, MergeRowWithTransparentRunsAgainstRealFormula) {
  std::mt19937 rng(77);
  for (int n = 0; n < 2000; ++n) {
    const std::size_t count = rng() % 14;
    std::vector<TColor32> src(count), dst(count), expected(count);
    for (std::size_t k = 0; k < count; ++k) {
      src[k] = rng() % 10 < 7 ? rng() & 0x00FFFFFFu : rng();
      dst[k] = rng();
      expected[k] = MergeReference(src[k], dst[k], 255);
    }
    MergeRow(src.data(), dst.data(), static_cast<std::int32_t>(count));
    ASSERT_EQ(dst, expected) << "row " << n;
  }
}

TEST(BlendTest, MergeWithMasterAgainstRealFormula) {
  std::mt19937 rng(2024);
  std::vector<TColor32> src(8), dst(8), expected(8);
  for (std::uint32_t fa = 0; fa < 256; ++fa)
    for (std::uint32_t m = 0; m < 256; ++m) {
      for (int k = 0; k < 8; ++k) {
        src[k] = (fa << 24) | (rng() & 0xFFFFFF);
        dst[k] = rng();
        if (k == 0) dst[k] |= 0xFF000000u;
        if (k == 1) dst[k] &= 0x00FFFFFFu;
        expected[k] = MergeReference(src[k], dst[k], m);
        TColor32 b = dst[k];
        MergePixel(src[k], b, m);
        ASSERT_EQ(b, expected[k]) << fa << " " << m << " " << k;
      }
      MergeRowMaster(src.data(), dst.data(), 8, m);
      ASSERT_EQ(dst, expected) << fa << " " << m;
    }
}

TEST(BlendTest, TablesSelectByCombineMode) {
  EXPECT_EQ(BlendPixelProc(cmBlend), &BlendPixel);
  EXPECT_EQ(BlendRowProc(cmBlend), &BlendRow);
  EXPECT_EQ(BlendRowMasterProc(cmBlend), &BlendRowMaster);
  EXPECT_EQ(BlendPixelProc(cmMerge), &MergePixel);
  EXPECT_EQ(BlendRowProc(cmMerge), &MergeRow);
  EXPECT_EQ(BlendRowMasterProc(cmMerge), &MergeRowMaster);
}

// ---------------------------------------------------------------------------------------------
// Drawing

// Records the hand-over instead of stretching.
class RecordingResampler : public TCustomResampler {
public:
  float SampleWidth() const override { return 0.5f; }
  TColor32 SampleFixed(TFixed16, TFixed16) override { return 0; }
  void Resample(TBitmap32&, const TRect& DstRect, const TRect& DstClip, const TBitmap32&, const TRect& SrcRect,
                TDrawMode CombineOp, const TPixelCombineEvent&) override {
    ++calls;
    dstRect = DstRect;
    dstClip = DstClip;
    srcRect = SrcRect;
    mode = CombineOp;
    if (fail) throw EBitmapException("resampler failed");
  }
  int calls = 0;
  bool fail = false;
  TRect dstRect{}, dstClip{}, srcRect{};
  TDrawMode mode = dmOpaque;
};

struct AreaLog {
  int changes = 0;
  std::vector<TRect> areas;
  explicit AreaLog(TBitmap32& b) {
    b.OnChange = [this](TObject*) { ++changes; };
    b.OnAreaChanged = [this](TObject*, const TRect& r, std::uint32_t) { areas.push_back(r); };
  }
};

// Source w x h with pixel (x, y) = 0xFF000000 | (y << 8) | x.
void MakeSource(TBitmap32& b, int w, int h) {
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.PixelRef(x, y) = 0xFF000000u | (y << 8) | x;
}

// A tall blended block runs its rows on two threads; every row must still be the row blend's.
TEST(TransferTest, TallBlendedBlockEqualsRowByRowBlend) {
  std::mt19937 rng(9);
  TBitmap32 src, dst;
  src.SetSize(150, 300);
  dst.SetSize(170, 320);
  for (std::size_t i = 0; i < src.PixelCount(); ++i) src.Bits()[i] = rng() % 3 == 0 ? rng() & 0xFFFFFF : rng();
  for (std::size_t i = 0; i < dst.PixelCount(); ++i) dst.Bits()[i] = rng();
  for (TCombineMode mode : {cmBlend, cmMerge})
    for (std::uint32_t master : {255u, 140u}) {
      src.SetCombineMode(mode);
      src.SetMasterAlpha(master);
      std::vector<TColor32> expected(dst.Bits(), dst.Bits() + dst.PixelCount());
      for (int y = 0; y < 300; ++y) {
        TColor32* d = expected.data() + static_cast<std::size_t>(y + 10) * 170 + 20;
        if (master == 255) BlendRowProc(mode)(src.ScanLine(y), d, 150);
        else BlendRowMasterProc(mode)(src.ScanLine(y), d, 150, master);
      }
      TransferBlock(dst, TRect{20, 10, 170, 310}, src, 0, 0, dmBlend, {});
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), dst.Bits())) << int(mode) << " " << master;
    }
}

TEST(TransferTest, Errors) {
  TBitmap32 src, dst;
  MakeSource(src, 4, 3);
  dst.SetSize(4, 4);
  RecordingResampler rs;
  try {
    TransferRect(nullptr, TRect{0, 0, 4, 3}, dst.BoundsRect(), &src, src.BoundsRect(), rs, dmOpaque, {});
    FAIL();
  } catch (const EBitmapException& e) {
    EXPECT_STREQ(e.what(), "Destination bitmap is nil");
  }
  try {
    TransferRect(&dst, TRect{0, 0, 4, 3}, dst.BoundsRect(), nullptr, src.BoundsRect(), rs, dmOpaque, {});
    FAIL();
  } catch (const EBitmapException& e) {
    EXPECT_STREQ(e.what(), "Source bitmap is nil");
  }
  AreaLog log(dst);
  for (TRect bad : {TRect{0, 0, 5, 3}, TRect{0, 0, 4, 4}, TRect{-1, 0, 3, 3}, TRect{0, -1, 4, 2}}) {
    try {
      dst.Draw(TRect{0, 0, bad.Width(), bad.Height()}, bad, &src);
      FAIL();
    } catch (const ESrcInvalidException& e) {
      EXPECT_STREQ(e.what(), "Source rectangle is invalid");
    }
  }
  EXPECT_EQ(log.changes, 0);
  EXPECT_TRUE(log.areas.empty());
  EXPECT_EQ(dst.PixelAt(0, 0), 0u);
}

TEST(TransferTest, NothingToDoIsSilent) {
  TBitmap32 src, dst, empty;
  MakeSource(src, 4, 3);
  dst.SetSize(4, 4);
  AreaLog log(dst);
  RecordingResampler rs;
  TransferRect(&dst, TRect{0, 0, 4, 3}, dst.BoundsRect(), &src, TRect{2, 2, 2, 3}, rs, dmOpaque, {});  // empty SrcRect
  TransferRect(&dst, TRect{0, 0, 4, 3}, dst.BoundsRect(), &src, TRect{9, 9, 9, 9}, rs, dmOpaque, {});  // empty, outside
  TransferRect(&dst, TRect{0, 0, 4, 3}, dst.BoundsRect(), &empty, TRect{0, 0, 1, 1}, rs, dmOpaque, {});
  TransferRect(&empty, TRect{0, 0, 4, 3}, empty.BoundsRect(), &src, src.BoundsRect(), rs, dmOpaque, {});
  TransferRect(&dst, TRect{10, 10, 14, 13}, dst.BoundsRect(), &src, src.BoundsRect(), rs, dmOpaque, {});  // off dst
  TransferRect(&dst, TRect{0, 0, 4, 3}, TRect{0, 0, 0, 0}, &src, src.BoundsRect(), rs, dmOpaque, {});    // empty clip
  src.SetMasterAlpha(0);
  TransferRect(&dst, TRect{0, 0, 4, 3}, dst.BoundsRect(), &src, src.BoundsRect(), rs, dmBlend, {});
  EXPECT_EQ(rs.calls, 0);
  EXPECT_EQ(log.changes, 0);
  EXPECT_TRUE(log.areas.empty());
  for (std::size_t i = 0; i < dst.PixelCount(); ++i) EXPECT_EQ(dst.Bits()[i], 0u);
}

TEST(TransferTest, PartlyOutsideDrawsShiftedOverlap) {
  TBitmap32 src, dst;
  MakeSource(src, 6, 5);
  dst.SetSize(4, 4);
  AreaLog log(dst);
  const TRect dstRect{-2, -1, 2, 3};  // 4 x 4 from source (1, 1)
  dst.Draw(dstRect, TRect{1, 1, 5, 5}, &src);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const TColor32 expected = (x < 2 && y < 3) ? src.PixelAt(1 + x + 2, 1 + y + 1) : 0u;
      EXPECT_EQ(dst.PixelAt(x, y), expected) << x << "," << y;
    }
  EXPECT_EQ(dst.PixelAt(0, 0), src.PixelAt(1 - dstRect.Left, 1 - dstRect.Top));
  ASSERT_EQ(log.areas.size(), 1u);
  EXPECT_EQ(log.areas[0], dstRect);  // unclipped
  EXPECT_EQ(log.changes, 1);

  // The destination's clip rectangle limits Draw too.
  dst.Clear(0);
  dst.SetClipRect(TRect{1, 1, 3, 2});
  dst.Draw(TRect{0, 0, 4, 4}, TRect{0, 0, 4, 4}, &src);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(dst.PixelAt(x, y), (x >= 1 && x < 3 && y == 1) ? src.PixelAt(x, y) : 0u) << x << "," << y;
}

TEST(TransferTest, SizeDecidesBetweenBlockAndResampler) {
  TBitmap32 src, dst;
  MakeSource(src, 4, 4);
  dst.SetSize(8, 8);
  RecordingResampler rs;
  TransferRect(&dst, TRect{1, 1, 5, 5}, dst.BoundsRect(), &src, src.BoundsRect(), rs, dmBlend, {});
  EXPECT_EQ(rs.calls, 0);
  EXPECT_EQ(dst.PixelAt(1, 1), src.PixelAt(0, 0));

  TransferRect(&dst, TRect{-3, 0, 5, 8}, TRect{0, 0, 6, 99}, &src, TRect{0, 0, 4, 4}, rs, dmOpaque, {});
  EXPECT_EQ(rs.calls, 1);
  EXPECT_EQ(rs.dstRect, (TRect{-3, 0, 5, 8}));
  EXPECT_EQ(rs.dstClip, (TRect{0, 0, 5, 8}));
  EXPECT_EQ(rs.srcRect, (TRect{0, 0, 4, 4}));
  EXPECT_EQ(rs.mode, dmOpaque);

  TransferRect(&dst, TRect{0, 0, 4, 5}, dst.BoundsRect(), &src, src.BoundsRect(), rs, dmCustom, {});
  EXPECT_EQ(rs.calls, 2);
  EXPECT_EQ(rs.mode, dmOpaque);  // dmCustom without a callback

  // A failing resampler passes its error on and the destination hears nothing.
  AreaLog log(dst);
  rs.fail = true;
  EXPECT_THROW(TransferRect(&dst, TRect{0, 0, 2, 2}, dst.BoundsRect(), &src, src.BoundsRect(), rs, dmOpaque, {}),
               EBitmapException);
  EXPECT_EQ(log.changes, 0);
  EXPECT_TRUE(log.areas.empty());

  // Draw and DrawInto use the source's own resampler and draw mode.
  auto owned = std::make_unique<RecordingResampler>();
  RecordingResampler* own = owned.get();
  src.SetResampler(std::move(owned));
  src.SetDrawMode(dmTransparent);
  dst.Draw(TRect{0, 0, 2, 2}, src.BoundsRect(), &src);
  src.DrawInto(dst, TRect{0, 0, 8, 8});
  EXPECT_EQ(own->calls, 2);
  EXPECT_EQ(own->mode, dmTransparent);
  EXPECT_EQ(own->dstClip, (TRect{0, 0, 8, 8}));
}

TEST(TransferTest, DrawModes) {
  TBitmap32 src, dst;
  src.SetSize(3, 1);
  src.PixelRef(0, 0) = 0u;
  src.PixelRef(1, 0) = 0x00000001u;
  src.PixelRef(2, 0) = 0x80FF0000u;
  dst.SetSize(3, 1);

  // dmTransparent with OuterColor 0 skips exactly the zeros.
  dst.Clear(0xFFFFFFFFu);
  src.SetDrawMode(dmTransparent);
  dst.Draw(0, 0, &src);
  EXPECT_EQ(dst.PixelAt(0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(dst.PixelAt(1, 0), 0x00000001u);
  EXPECT_EQ(dst.PixelAt(2, 0), 0x80FF0000u);
  src.SetOuterColor(0x80FF0000u);
  dst.Clear(0xFFFFFFFFu);
  dst.Draw(0, 0, &src);
  EXPECT_EQ(dst.PixelAt(0, 0), 0u);
  EXPECT_EQ(dst.PixelAt(2, 0), 0xFFFFFFFFu);

  // dmBlend: BlendRow at master 255 (and above), BlendRowMaster below.
  src.SetDrawMode(dmBlend);
  dst.Clear(0xFFFFFFFFu);
  dst.Draw(0, 0, &src);
  EXPECT_EQ(dst.PixelAt(2, 0), 0xC0FF8080u);
  src.SetMasterAlpha(1000);
  src.PixelRef(0, 0) = 0xFF123456u;
  dst.Clear(0);
  dst.Draw(0, 0, &src);
  EXPECT_EQ(dst.PixelAt(0, 0), 0xFF123456u);  // exact copy, as BlendRow
  src.SetMasterAlpha(128);
  dst.Clear(0xFFFFFFFFu);
  dst.Draw(0, 0, &src);
  EXPECT_EQ(dst.PixelAt(0, 0), BlendRowMasterReference(0xFF123456u, 0xFFFFFFFFu, 128));
  EXPECT_EQ(dst.PixelAt(2, 0), BlendRowMasterReference(0x80FF0000u, 0xFFFFFFFFu, 128));
  src.SetCombineMode(cmMerge);
  dst.Clear(0xFFFFFFFFu);
  dst.Draw(0, 0, &src);
  EXPECT_EQ(dst.PixelAt(2, 0), MergeReference(0x80FF0000u, 0xFFFFFFFFu, 128));
  src.SetMasterAlpha(255);
  dst.Clear(0xFFFFFFFFu);
  dst.Draw(0, 0, &src);
  EXPECT_EQ(dst.PixelAt(2, 0), 0xFFFF7F7Fu);

  // dmCustom: the callback sees F, B and the master alpha, left to right; without one, a copy.
  src.SetDrawMode(dmCustom);
  src.SetMasterAlpha(77);
  dst.Clear(0x11111111u);
  dst.Draw(0, 0, &src);
  EXPECT_EQ(dst.PixelAt(1, 0), 0x00000001u);
  std::vector<TColor32> seen;
  src.OnPixelCombine = [&](TColor32 F, TColor32& B, TColor32 M) {
    seen.push_back(F);
    EXPECT_EQ(B, 0x22222222u);
    EXPECT_EQ(M, 77u);
    B = F ^ 0xFFFFFFFFu;
  };
  dst.Clear(0x22222222u);
  dst.Draw(0, 0, &src);
  EXPECT_EQ(seen, (std::vector<TColor32>{0xFF123456u, 0x00000001u, 0x80FF0000u}));
  EXPECT_EQ(dst.PixelAt(0, 0), 0x00EDCBA9u);

  // Positions near the int32 limit draw nothing and do not overflow.
  src.SetDrawMode(dmOpaque);
  dst.Clear(0);
  dst.Draw(INT32_MAX - 1, 0, &src);
  dst.Draw(-1, 0, &src);
  EXPECT_EQ(dst.PixelAt(0, 0), 0x00000001u);
}

TEST(TransferTest, BlockRowsStrideAndSelfCopy) {
  TBitmap32 src, dst;
  MakeSource(src, 7, 5);
  dst.SetSize(9, 6);
  TransferBlock(dst, TRect{2, 1, 5, 4}, src, 3, 2, dmOpaque, {});
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) {
      const bool inside = x >= 2 && x < 5 && y >= 1 && y < 4;
      EXPECT_EQ(dst.PixelAt(x, y), inside ? src.PixelAt(x - 2 + 3, y - 1 + 2) : 0u) << x << "," << y;
    }
  // Same bitmap, overlapping within a row: a block move.
  MakeSource(src, 7, 1);
  TransferBlock(src, TRect{1, 0, 7, 1}, src, 0, 0, dmOpaque, {});
  for (int x = 1; x < 7; ++x) EXPECT_EQ(src.PixelAt(x, 0), 0xFF000000u | (x - 1));
}

}  // namespace
}  // namespace quirlon::raster
