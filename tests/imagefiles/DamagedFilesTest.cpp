// Truncated and bit-flipped copies of real samples, one or more per decoder: every load either
// succeeds with a complete picture within the size limits or throws one of our exceptions; under
// the sanitizers this also proves no read or write outside a buffer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/imagefiles/TestFiles.h"

namespace quirlon::imagefiles {
namespace {

using testing::ReadBytes;
using testing::TestData;
using testing::WriteScratch;

const char* const kSamples[] = {
    "bmpsuite/g/pal1.bmp",          "bmpsuite/g/pal4rle.bmp",          "bmpsuite/g/pal8rle.bmp",
    "bmpsuite/g/rgb16-565.bmp",     "bmpsuite/g/rgb32bf.bmp",          "bmpsuite/g/pal8os2.bmp",
    "bmpsuite/g/rgb24.bmp",         "pngsuite/basn6a08.png",           "pngsuite/basi3p02.png",
    "pngsuite/tbrn2c08.png",        "pngsuite/basi0g16.png",           "libjpeg-turbo/testorig.jpg",
    "libjpeg-turbo/testimgari.jpg", "pillow/jpeg/pil_sample_cmyk.jpg", "pillow/gif/hopper.gif",
    "pillow/gif/transparent.gif",   "libtiff/rgb-3c-8b.tiff",          "libtiff/quad-lzw-compat.tiff",
    "libtiff/palette-1c-4b.tiff",   "pillow/ico/python.ico",           "pillow/ico/hopper_mask.ico",
    "pillow/tga/200x32_rgba_bl_rle.tga", "pillow/sgi/hopper.sgi",      "pillow/pcx/pil184.pcx",
    "libtiff/rgb-3c-8b.ppm",
};

// Loads and checks the outcome; returns true when it loaded.
bool LoadsCleanly(const std::string& file);

// Writes the bytes under a fresh name (rewriting one file in place is slow on some file systems),
// loads them and removes the file.
bool LoadsCleanly(const std::vector<std::uint8_t>& bytes, const std::string& extension) {
  static int serial = 0;
  const std::string file = WriteScratch("damaged" + std::to_string(++serial) + "." + extension, bytes);
  const bool loaded = LoadsCleanly(file);
  std::filesystem::remove(file);
  return loaded;
}

bool LoadsCleanly(const std::string& file) {
  TBitmap32 b;
  b.SetSize(2, 2);
  b.Clear(0x01020304u);
  try {
    LoadFromFile(b, file);
  } catch (const Exception&) {
    // Failed: the bitmap is as it was.
    EXPECT_EQ(b.Width(), 2);
    EXPECT_EQ(b.PixelAt(1, 1), 0x01020304u);
    return false;
  }
  EXPECT_LE(b.Width(), kMaxPictureSide);
  EXPECT_LE(b.Height(), kMaxPictureSide);
  EXPECT_EQ(b.PixelCount(), static_cast<std::size_t>(b.Width()) * b.Height());
  return true;
}

TEST(DamagedFilesTest, TruncatedCopiesFailCleanly) {
  if (!testing::HaveTestData()) GTEST_SKIP() << "no corpus at " << QUIRLON_TESTDATA;
  for (const char* sample : kSamples) {
    const auto path = TestData(sample);
    if (!std::filesystem::exists(path)) {
      ADD_FAILURE() << "missing sample " << sample;
      continue;
    }
    const auto bytes = ReadBytes(path);
    ASSERT_TRUE(LoadsCleanly(path.string())) << sample;
    std::vector<std::size_t> cuts = {0, 1, 2, 7, 8, 13, 14, 17, 18, 26, 33, 54, 100};
    for (int k = 1; k < 16; ++k) cuts.push_back(bytes.size() * k / 16);
    cuts.push_back(bytes.size() - 1);
    for (std::size_t cut : cuts) {
      if (cut >= bytes.size()) continue;
      const std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
      LoadsCleanly(part, PictureExtension(sample));
    }
  }
}

TEST(DamagedFilesTest, BitFlippedCopiesNeverCrash) {
  if (!testing::HaveTestData()) GTEST_SKIP() << "no corpus at " << QUIRLON_TESTDATA;
  // QUIRLON_DAMAGE_ROUNDS raises the count for a longer run by hand.
  const int rounds = std::getenv("QUIRLON_DAMAGE_ROUNDS") ? std::atoi(std::getenv("QUIRLON_DAMAGE_ROUNDS")) : 48;
  std::mt19937 rng(20261209);
  for (const char* sample : kSamples) {
    const auto path = TestData(sample);
    if (!std::filesystem::exists(path)) continue;
    const auto bytes = ReadBytes(path);
    for (int round = 0; round < rounds; ++round) {
      auto copy = bytes;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) {
        // Headers are where damage does the most; aim half of the flips at the first 256 bytes.
        const std::size_t span = (rng() & 1) ? std::min<std::size_t>(256, copy.size()) : copy.size();
        copy[rng() % span] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
      }
      // Some rounds also set a whole byte to an extreme value (sizes, counts, lengths).
      if (round % 4 == 3) copy[rng() % std::min<std::size_t>(64, copy.size())] = (rng() & 1) ? 0xFF : 0x00;
      LoadsCleanly(copy, PictureExtension(sample));
    }
  }
}

}  // namespace
}  // namespace quirlon::imagefiles
