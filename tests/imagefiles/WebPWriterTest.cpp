// Our WebP writer read back by libwebp's own decoder, at both efforts: lossless gives every pixel
// back, lossy keeps the alpha exactly and the colours near, and the quick effort an animation uses
// is not visibly worse than the default.
#include <gtest/gtest.h>

#include <webp/decode.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "imagefiles/OutputWriters.h"

namespace quirlon::imagefiles {
namespace {

using raster::TBitmap32;
using raster::TColor32;

// 97 x 61 (no multiple of the 16-pixel macroblock): smooth gradients, a hard diagonal edge and a
// translucent band at the bottom.
std::unique_ptr<TBitmap32> TestPicture() {
  auto picture = std::make_unique<TBitmap32>();
  TBitmap32& b = *picture;
  b.SetSize(97, 61);
  for (std::int32_t y = 0; y < b.Height(); ++y)
    for (std::int32_t x = 0; x < b.Width(); ++x) {
      const std::uint32_t r = x * 255 / 96, g = y * 255 / 60, bl = x > y ? 200 : 30;
      const std::uint32_t a = y >= 50 ? 40 + (x * 2) : 255;
      b.ScanLine(y)[x] = a << 24 | r << 16 | g << 8 | bl;
    }
  return picture;
}

struct TDecoded {
  std::vector<std::uint8_t> Rgba;
  int Width = 0, Height = 0;
};

TDecoded Decode(const std::vector<std::uint8_t>& File) {
  TDecoded d;
  std::uint8_t* rgba = WebPDecodeRGBA(File.data(), File.size(), &d.Width, &d.Height);
  if (rgba == nullptr) return d;
  d.Rgba.assign(rgba, rgba + std::size_t(d.Width) * d.Height * 4);
  WebPFree(rgba);
  return d;
}

TEST(WebPWriterTest, BothEffortsKeepTheirPromiseReadBackByLibwebp) {
  const auto made = TestPicture();
  const TBitmap32& picture = *made;
  double lossyError[2] = {0, 0};
  for (const TWebPEffort effort : {TWebPEffort::Default, TWebPEffort::Quick})
    for (const bool lossless : {false, true}) {
      const TDecoded d = Decode(EncodeWebP(picture, 90, lossless, effort));
      const int e = static_cast<int>(effort);
      ASSERT_EQ(d.Width, 97) << e << lossless;
      ASSERT_EQ(d.Height, 61) << e << lossless;
      double colourError = 0;
      std::size_t opaque = 0, wrongAlpha = 0, wrongExact = 0;
      for (std::int32_t y = 0; y < 61; ++y)
        for (std::int32_t x = 0; x < 97; ++x) {
          const TColor32 c = picture.ScanLine(y)[x];
          const std::uint8_t want[4] = {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c), std::uint8_t(c >> 24)};
          const std::uint8_t* got = &d.Rgba[(std::size_t(y) * 97 + x) * 4];
          wrongAlpha += got[3] != want[3];
          for (int k = 0; k < 4; ++k) wrongExact += got[k] != want[k];
          if (want[3] == 255) {
            ++opaque;
            for (int k = 0; k < 3; ++k) colourError += std::abs(int(got[k]) - int(want[k]));
          }
        }
      EXPECT_EQ(wrongAlpha, 0u) << "effort " << e << (lossless ? " lossless" : " lossy");
      if (lossless) {
        EXPECT_EQ(wrongExact, 0u) << "effort " << e;
      } else {
        lossyError[e] = colourError / double(opaque * 3);
        EXPECT_LT(lossyError[e], 2.5) << "effort " << e;
      }
    }
  EXPECT_LT(lossyError[1], lossyError[0] + 0.5) << "quick " << lossyError[1] << ", default " << lossyError[0];
}

}  // namespace
}  // namespace quirlon::imagefiles
