#include <gtest/gtest.h>

#include <random>

#include "raster/Bitmap32.h"
#include "raster/Errors.h"
#include "raster/Sampler.h"

namespace quirlon::raster {
namespace {

// Floor-modulo formulation of the wrap rules (a second derivation, not the truncating one).
std::int64_t FloorMod(std::int64_t a, std::int64_t n) {
  const std::int64_t r = a % n;
  return r < 0 ? r + n : r;
}

std::int32_t WrapReference(TWrapMode mode, std::int64_t v, std::int64_t lo, std::int64_t hi) {
  const std::int64_t n = hi - lo + 1;
  switch (mode) {
    case wmClamp: return static_cast<std::int32_t>(v < lo ? lo : (v > hi ? hi : v));
    case wmRepeat: return static_cast<std::int32_t>(lo + FloorMod(v - lo, n));
    case wmMirror: {
      // Period 2n: forwards, then backwards.
      const std::int64_t t = FloorMod(v - lo, 2 * n);
      return static_cast<std::int32_t>(t < n ? lo + t : lo + 2 * n - 1 - t);
    }
  }
  return 0;
}

TEST(SamplerTest, WrapRulesExamples) {
  // lo = 2, hi = 4 (n = 3).
  const int repeat[] = {2, 3, 4, 2, 3, 4, 2, 3, 4, 2};  // v = -1 .. 8
  const int mirror[] = {4, 3, 2, 2, 3, 4, 4, 3, 2, 2};
  for (int v = -1; v <= 8; ++v) {
    EXPECT_EQ(WrapCoord(wmRepeat, v, 2, 4), repeat[v + 1]) << v;
    EXPECT_EQ(WrapCoord(wmMirror, v, 2, 4), mirror[v + 1]) << v;
    EXPECT_EQ(WrapCoord(wmClamp, v, 2, 4), v < 2 ? 2 : (v > 4 ? 4 : v)) << v;
  }
}

TEST(SamplerTest, WrapRulesAgainstFloorModReference) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::int32_t> any(INT32_MIN, INT32_MAX);
  std::uniform_int_distribution<std::int32_t> near(-60, 60);
  for (int i = 0; i < 200000; ++i) {
    const std::int32_t lo = near(rng);
    const std::int32_t hi = lo + static_cast<std::int32_t>(rng() % 9);
    const std::int32_t v = (i % 3 == 0) ? any(rng) : near(rng);
    for (TWrapMode m : {wmClamp, wmRepeat, wmMirror})
      ASSERT_EQ(WrapCoord(m, v, lo, hi), WrapReference(m, v, lo, hi)) << int(m) << " " << v << " " << lo << " " << hi;
  }
  // Full int32 range of v with a wide span.
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t v = any(rng);
    for (TWrapMode m : {wmRepeat, wmMirror})
      ASSERT_EQ(WrapCoord(m, v, -1000000, 2000000000), WrapReference(m, v, -1000000, 2000000000));
  }
}

class NearestSample : public ::testing::Test {
protected:
  void SetUp() override {
    b.SetSize(5, 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) b.PixelRef(x, y) = 0xFF000000u | (y << 8) | x;
    b.SetOuterColor(0x12345678u);
  }
  TNearestResampler& R() { return static_cast<TNearestResampler&>(b.Resampler()); }
  TBitmap32 b;
};

TEST_F(NearestSample, SafeModeAndRounding) {
  R().BeginSampling();
  EXPECT_EQ(R().SampleInt(-1, 0), 0x12345678u);
  EXPECT_EQ(R().SampleInt(5, 0), 0x12345678u);
  EXPECT_EQ(R().SampleInt(0, 3), 0x12345678u);
  EXPECT_EQ(R().SampleInt(4, 2), 0xFF000204u);
  EXPECT_EQ(R().SampleFixed(0x28000, 0), 0xFF000002u);   // 2.5 rounds down
  EXPECT_EQ(R().SampleFixed(0x28001, 0), 0xFF000003u);   // one step above rounds up
  EXPECT_EQ(R().SampleFixed(-0x8000, 0), 0x12345678u);   // -0.5 gives -1
  EXPECT_EQ(R().SampleFloat(2.5f, 0.0f), 0xFF000002u);   // ties to even
  EXPECT_EQ(R().SampleFloat(3.5f, 1.4f), 0xFF000104u);
  EXPECT_EQ(R().SampleFloat(-0.5f, 0.0f), 0xFF000000u);  // -0.5 rounds to 0
  R().EndSampling();

  // The clip rectangle is copied when sampling begins.
  b.SetClipRect(TRect{1, 1, 3, 2});
  R().BeginSampling();
  EXPECT_EQ(R().SampleInt(0, 1), 0x12345678u);
  EXPECT_EQ(R().SampleInt(1, 1), 0xFF000101u);
  EXPECT_EQ(R().SampleInt(2, 0), 0x12345678u);
}

TEST_F(NearestSample, UnsafeWrapAndTransparentEdge) {
  R().SetPixelAccessMode(pamUnsafe);
  R().BeginSampling();
  EXPECT_EQ(R().SampleInt(3, 1), 0xFF000103u);

  R().SetPixelAccessMode(pamWrap);
  b.SetWrapMode(wmRepeat);
  R().BeginSampling();
  EXPECT_EQ(R().SampleInt(-1, 0), 0xFF000004u);
  EXPECT_EQ(R().SampleInt(7, 4), 0xFF000102u);
  b.SetWrapMode(wmMirror);
  EXPECT_EQ(R().SampleInt(-1, -1), 0xFF000000u);
  EXPECT_EQ(R().SampleInt(5, 3), 0xFF000204u);
  b.SetWrapMode(wmClamp);
  EXPECT_EQ(R().SampleInt(-9, 9), 0xFF000200u);

  R().SetPixelAccessMode(pamTransparentEdge);
  R().BeginSampling();
  EXPECT_EQ(R().SampleInt(-1, 1), 0x00000100u);  // leftmost pixel of the row, alpha 0
  EXPECT_EQ(R().SampleInt(2, 1), 0xFF000102u);   // inside: unchanged
  EXPECT_EQ(R().SampleInt(9, -3), 0x00000004u);
  EXPECT_EQ(R().SampleBounds(), (TRect{-1, -1, 6, 4}));
  R().SetPixelAccessMode(pamSafe);
  EXPECT_EQ(R().SampleBounds(), (TRect{0, 0, 5, 3}));
  EXPECT_TRUE(R().HasSampleBounds());
}

TEST_F(NearestSample, EmptyClipDoesNotReadPixels) {
  b.SetClipRect(TRect{9, 9, 10, 10});
  for (TPixelAccessMode m : {pamSafe, pamWrap, pamTransparentEdge}) {
    R().SetPixelAccessMode(m);
    R().BeginSampling();
    EXPECT_EQ(R().SampleInt(0, 0) & 0x00FFFFFFu, 0x00345678u) << int(m);
  }
}

// A sampler that only knows fixed-point samples: the integer and float forms reach it.
class FixedOnlySampler : public TCustomSampler {
public:
  TColor32 SampleFixed(TFixed16 X, TFixed16 Y) override {
    lastX = X;
    lastY = Y;
    return 0;
  }
  TFixed16 lastX = 0, lastY = 0;
};

class FloatOnlySampler : public TCustomSampler {
public:
  TColor32 SampleFloat(float X, float Y) override {
    lastX = X;
    lastY = Y;
    return 0;
  }
  float lastX = 0, lastY = 0;
};

TEST(SamplerTest, BaseDefaultsForward) {
  FixedOnlySampler fx;
  fx.SampleInt(3, -2);
  EXPECT_EQ(fx.lastX, 3 * 65536);
  EXPECT_EQ(fx.lastY, -2 * 65536);
  fx.SampleFloat(0.05f, 2.5f / 65536);
  EXPECT_EQ(fx.lastX, 3277);
  EXPECT_EQ(fx.lastY, 2);
  EXPECT_FALSE(fx.HasSampleBounds());
  EXPECT_EQ(fx.SampleBounds(), (TRect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}));

  FloatOnlySampler fl;
  fl.SampleInt(-7, 1);
  EXPECT_EQ(fl.lastX, -7.0f);
  fl.SampleFixed(0x18000, -0x4000);
  EXPECT_EQ(fl.lastX, 1.5f);
  EXPECT_EQ(fl.lastY, -0.25f);
}

TEST(SamplerTest, RegistryKnowsNearest) {
  const TResamplerClass* c = FindResamplerClass("TNearestResampler");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Name, "TNearestResampler");
  EXPECT_EQ(FindResamplerClass("tnearestresampler"), nullptr);  // exact names only
  TBitmap32 b;
  auto r = c->Create(b);
  EXPECT_EQ(r->ClassName(), "TNearestResampler");
  EXPECT_EQ(static_cast<TBitmap32Resampler&>(*r).TransformerType(), ttNearestTransformer);
}

}  // namespace
}  // namespace quirlon::raster
