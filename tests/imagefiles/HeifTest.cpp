// HEIC and AVIF files made here by libheif's own encoders (HEVC and AV1), read back through the
// real loader: lossy colours near the ones written, alpha kept, the size limit applied to the
// header before anything is decoded, damaged files refused with a message naming the file.
#include <gtest/gtest.h>

#include <libheif/heif.h>

#include <algorithm>
#include <string>
#include <vector>

#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/imagefiles/TestFiles.h"

namespace quirlon::imagefiles {
namespace {

using testing::AfterFileName;
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

extern "C" heif_error WriteToVector(heif_context*, const void* data, size_t size, void* userdata) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(userdata);
  out->insert(out->end(), static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// 64 x 32 RGBA: the left half opaque orange, the right half half-transparent blue. Empty when the
// machine's libheif has no encoder for Compression.
std::vector<std::uint8_t> EncodeTwoHalves(heif_compression_format compression) {
  heif_init(nullptr);
  if (!heif_have_encoder_for_format(compression)) return {};
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  EXPECT_EQ(heif_context_get_encoder_for_format(context, compression, &encoder).code, heif_error_Ok);
  heif_encoder_set_lossy_quality(encoder, 95);
  heif_image* image = nullptr;
  EXPECT_EQ(heif_image_create(64, 32, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, &image).code, heif_error_Ok);
  EXPECT_EQ(heif_image_add_plane(image, heif_channel_interleaved, 64, 32, 8).code, heif_error_Ok);
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) {
      std::uint8_t* p = plane + y * stride + x * 4;
      const bool left = x < 32;
      p[0] = left ? 240 : 20, p[1] = left ? 140 : 40, p[2] = left ? 20 : 220, p[3] = left ? 255 : 128;
    }
  heif_image_handle* handle = nullptr;
  EXPECT_EQ(heif_context_encode_image(context, image, encoder, nullptr, &handle).code, heif_error_Ok);
  std::vector<std::uint8_t> file;
  heif_writer writer{1, &WriteToVector};
  EXPECT_EQ(heif_context_write(context, &writer, &file).code, heif_error_Ok);
  heif_image_handle_release(handle);
  heif_image_release(image);
  heif_encoder_release(encoder);
  heif_context_free(context);
  return file;
}

bool Near(TColor32 c, int a, int r, int g, int b, int tolerance) {
  auto close = [&](int shift, int want) { return std::abs(int((c >> shift) & 255) - want) <= tolerance; };
  return close(24, a) && close(16, r) && close(8, g) && close(0, b);
}

struct TCodec {
  heif_compression_format Compression;
  const char* Name;
};
const TCodec kCodecs[] = {{heif_compression_HEVC, "cover.heic"}, {heif_compression_AV1, "cover.avif"}};

TEST(HeifTest, HeicAndAvifLoadWithTheirAlpha) {
  for (const TCodec& codec : kCodecs) {
    const std::vector<std::uint8_t> file = EncodeTwoHalves(codec.Compression);
    if (file.empty()) {
      std::cout << "[ skipped  ] no encoder for " << codec.Name << "\n";
      continue;
    }
    // By content under its own name, under the other one, and under a name of another format.
    for (const std::string& name : {std::string(codec.Name), std::string("as.heif"), std::string("as.png")}) {
      TBitmap32 b;
      LoadFromFile(b, WriteScratch(name, file));
      ASSERT_EQ(b.Width(), 64) << name;
      ASSERT_EQ(b.Height(), 32) << name;
      for (int y : {4, 16, 28}) {
        EXPECT_TRUE(Near(b.PixelAt(10, y), 255, 240, 140, 20, 10)) << codec.Name << std::hex << " " << b.PixelAt(10, y);
        EXPECT_TRUE(Near(b.PixelAt(54, y), 128, 20, 40, 220, 12)) << codec.Name << std::hex << " " << b.PixelAt(54, y);
      }
    }
  }
}

TEST(HeifTest, SizeLimitComesBeforeDecodingAndDamageIsRefused) {
  const std::vector<std::uint8_t> file = EncodeTwoHalves(heif_compression_HEVC);
  if (file.empty()) GTEST_SKIP() << "no HEVC encoder";
  // The picture's size is the "ispe" property: 9000 x 9000 there is over the 50 million pixels,
  // and refused so, although the coded data is 64 x 32 (decoding it would fail differently).
  std::vector<std::uint8_t> large = file;
  const std::string key = "ispe";
  int patched = 0;
  for (auto at = large.begin(); (at = std::search(at, large.end(), key.begin(), key.end())) != large.end(); ++at, ++patched) {
    const std::size_t size = static_cast<std::size_t>(at - large.begin()) + 4 + 4;  // after version and flags
    for (std::size_t i : {size, size + 4}) large[i] = 0, large[i + 1] = 0, large[i + 2] = 0x23, large[i + 3] = 0x28;  // 9000
  }
  ASSERT_GE(patched, 1);  // the colour picture's, and the alpha picture's
  EXPECT_EQ(ErrorOf(WriteScratch("large.heic", large)),
            "A picture may have at most 50 million pixels; this one has 81 million. Picture is too large (9000 x 9000)");

  const std::string fixed = ". Cannot load image. Invalid or unexpected HEIF image format.";
  std::vector<std::uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() / 2));
  std::vector<std::uint8_t> header(file.begin(), file.begin() + 32);
  const std::vector<std::uint8_t> noise(200, 0x33);
  for (const auto& [name, bytes] : {std::pair{"cut.heic", cut}, std::pair{"header.avif", header}, std::pair{"noise.heic", noise}}) {
    const std::string message = ErrorOf(WriteScratch(name, bytes));
    EXPECT_TRUE(message.ends_with(fixed) && message.size() > fixed.size() + 5) << name << ": " << message;
  }
}

}  // namespace
}  // namespace quirlon::imagefiles
