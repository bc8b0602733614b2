// WebP sources made here by libwebp's own encoders, read back through the real loader: exact
// pixels for lossless files, near ones for lossy, the first frame of an animation, and damaged or
// oversized files refused with a message that names the file.
#include <gtest/gtest.h>

#include <webp/encode.h>
#include <webp/mux.h>

#include <string>
#include <vector>

#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/imagefiles/TestFiles.h"

namespace quirlon::imagefiles {
namespace {

using testing::AfterFileName;
using testing::TBytes;
using testing::WriteScratch;

std::string ErrorOf(const std::string& file) {
  TBitmap32 b;
  try {
    LoadFromFile(b, file);
  } catch (const Exception& e) {
    return AfterFileName(e.what(), file);
  }
  return "loaded";
}

std::vector<TColor32> PixelsOf(const TBitmap32& b) { return {b.Bits(), b.Bits() + b.PixelCount()}; }

std::vector<std::uint8_t> Owned(std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> v(data, data + size);
  WebPFree(data);
  return v;
}

// Three by two RGBA, every alpha above 0 so that the lossless encoder keeps each colour as given.
const std::vector<std::uint8_t> kRgba = {255, 0, 0, 255,   0, 255, 0, 128,  0, 0, 255, 1,
                                         10, 20, 30, 255,  200, 100, 50, 64, 255, 255, 255, 255};
const std::vector<TColor32> kExpected = {0xFFFF0000u, 0x8000FF00u, 0x010000FFu,
                                         0xFF0A141Eu, 0x40C86432u, 0xFFFFFFFFu};

TEST(WebPTest, LosslessKeepsEveryPixelAndItsAlpha) {
  std::uint8_t* out = nullptr;
  const std::size_t size = WebPEncodeLosslessRGBA(kRgba.data(), 3, 2, 3 * 4, &out);
  ASSERT_GT(size, 0u);
  const std::vector<std::uint8_t> file = Owned(out, size);
  // Known by its content under any registered name.
  for (const char* name : {"art.webp", "art.WEBP", "art.png", "art.tga"}) {
    TBitmap32 b;
    LoadFromFile(b, WriteScratch(name, file));
    ASSERT_EQ(b.Width(), 3) << name;
    ASSERT_EQ(b.Height(), 2) << name;
    EXPECT_EQ(PixelsOf(b), kExpected) << name;
  }
}

TEST(WebPTest, LossyOpaquePictureIsNearItsColours) {
  // Left half orange, right half dark blue, 32 x 16: block-aligned, so each half stays flat.
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) {
      const bool left = x < 16;
      rgb.insert(rgb.end(), {std::uint8_t(left ? 240 : 20), std::uint8_t(left ? 140 : 30), std::uint8_t(left ? 20 : 110)});
    }
  std::uint8_t* out = nullptr;
  const std::size_t size = WebPEncodeRGB(rgb.data(), 32, 16, 32 * 3, 95, &out);
  ASSERT_GT(size, 0u);
  TBitmap32 b;
  LoadFromFile(b, WriteScratch("photo.webp", Owned(out, size)));
  ASSERT_EQ(b.Width(), 32);
  ASSERT_EQ(b.Height(), 16);
  auto near = [](TColor32 c, int r, int g, int bl) {
    return (c >> 24) == 255 && std::abs(int((c >> 16) & 255) - r) <= 6 && std::abs(int((c >> 8) & 255) - g) <= 6 &&
           std::abs(int(c & 255) - bl) <= 6;
  };
  for (int y : {0, 8, 15}) {
    EXPECT_TRUE(near(b.PixelAt(4, y), 240, 140, 20)) << std::hex << b.PixelAt(4, y);
    EXPECT_TRUE(near(b.PixelAt(27, y), 20, 30, 110)) << std::hex << b.PixelAt(27, y);
  }
}

// A lossless animation of two 4 x 3 frames: red, then blue.
std::vector<std::uint8_t> TwoFrameAnimation() {
  WebPAnimEncoderOptions options;
  EXPECT_TRUE(WebPAnimEncoderOptionsInit(&options));
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(4, 3, &options);
  WebPConfig config;
  EXPECT_TRUE(WebPConfigInit(&config));
  config.lossless = 1;
  std::vector<std::uint8_t> data;
  const std::uint32_t colours[2] = {0xFF0000FFu, 0xFFFF0000u};  // R, G, B, A bytes in memory: red, blue
  for (int frame = 0; frame < 2; ++frame) {
    WebPPicture picture;
    EXPECT_TRUE(WebPPictureInit(&picture));
    picture.use_argb = 1;
    picture.width = 4;
    picture.height = 3;
    EXPECT_TRUE(WebPPictureAlloc(&picture));
    const std::vector<std::uint32_t> rgba(12, colours[frame]);
    EXPECT_TRUE(WebPPictureImportRGBA(&picture, reinterpret_cast<const std::uint8_t*>(rgba.data()), 16));
    EXPECT_TRUE(WebPAnimEncoderAdd(encoder, &picture, frame * 100, &config));
    WebPPictureFree(&picture);
  }
  EXPECT_TRUE(WebPAnimEncoderAdd(encoder, nullptr, 200, nullptr));
  WebPData assembled;
  WebPDataInit(&assembled);
  EXPECT_TRUE(WebPAnimEncoderAssemble(encoder, &assembled));
  data.assign(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPAnimEncoderDelete(encoder);
  return data;
}

TEST(WebPTest, AnimationGivesItsFirstFrame) {
  const std::vector<std::uint8_t> file = TwoFrameAnimation();
  TBitmap32 b;
  LoadFromFile(b, WriteScratch("moving.webp", file));
  ASSERT_EQ(b.Width(), 4);
  ASSERT_EQ(b.Height(), 3);
  EXPECT_EQ(PixelsOf(b), std::vector<TColor32>(12, 0xFFFF0000u));
}

// An extended-format header alone: canvas Width x Height, no picture data.
std::vector<std::uint8_t> ExtendedHeader(std::uint32_t width, std::uint32_t height) {
  TBytes t;
  t.Bytes({'R', 'I', 'F', 'F'}).U32(4 + 18).Bytes({'W', 'E', 'B', 'P', 'V', 'P', '8', 'X'}).U32(10);
  t.U32(0).U16(width - 1).U8((width - 1) >> 16).U16(height - 1).U8((height - 1) >> 16);
  return t.Data;
}

TEST(WebPTest, DamagedAndOversizedFilesAreRefused) {
  std::uint8_t* out = nullptr;
  const std::size_t size = WebPEncodeLosslessRGBA(kRgba.data(), 3, 2, 3 * 4, &out);
  std::vector<std::uint8_t> cut = Owned(out, size);
  cut.resize(cut.size() - 6);
  const std::string fixed = ". Cannot load image. Invalid or unexpected WebP image format.";
  struct TCase {
    const char* Name;
    std::vector<std::uint8_t> File;
    std::string Reason;  // the message up to the fixed part
  };
  const std::vector<TCase> cases = {
      {"cut.webp", cut, ""},
      {"noise.webp", std::vector<std::uint8_t>(64, 0x5A), ""},
      {"empty.webp", {}, ""},
      {"wide.webp", ExtendedHeader(16385, 2), "A picture may have at most 16384 pixels a side. Picture is too large (16385 x 2)"},
      {"many.webp", ExtendedHeader(16000, 16000),
       "A picture may have at most 50 million pixels; this one has 256 million. Picture is too large (16000 x 16000)"},
  };
  for (const TCase& c : cases) {
    const std::string message = ErrorOf(WriteScratch(c.Name, c.File));
    if (c.Reason.empty()) {
      EXPECT_TRUE(message.ends_with(fixed) && message.size() > fixed.size() + 5) << c.Name << ": " << message;
    } else {
      EXPECT_EQ(message, c.Reason) << c.Name;
    }
  }
}

}  // namespace
}  // namespace quirlon::imagefiles
