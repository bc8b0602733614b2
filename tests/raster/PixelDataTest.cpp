// The "Data" block reader against lying headers: a block that claims a large picture but holds
// few bytes fails with a read error before the pixels are allocated.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "raster/Bitmap32.h"
#include "raster/Errors.h"

namespace quirlon::raster {
namespace {

std::string Block(std::int32_t w, std::int32_t h, std::size_t pixelBytes) {
  std::string s;
  for (std::int32_t v : {w, h})
    for (int i = 0; i < 4; ++i) s += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
  for (std::size_t i = 0; i < pixelBytes; ++i) s += static_cast<char>(i * 7);
  return s;
}

TEST(PixelDataTest, HugeSizeInAShortBlockFailsWithoutAllocating) {
  TBitmap32 b;
  b.SetSize(3, 2);
  b.Clear(0xFF102030);
  int changes = 0;
  b.OnChange = [&](TObject*) { ++changes; };
  // 30000 x 17000 pixels would be about 2 GB; the block holds 12 bytes.
  std::istringstream in(Block(30000, 17000, 12));
  EXPECT_THROW(b.LoadPixelData(in), EReadError);
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.Height(), 2);
  EXPECT_EQ(b.PixelAt(2, 1), 0xFF102030u);
  EXPECT_EQ(changes, 1);  // Changed runs also when reading failed
}

TEST(PixelDataTest, ExactAndOneByteShortBlocks) {
  TBitmap32 b;
  std::istringstream exact(Block(2, 3, 24));
  b.LoadPixelData(exact);
  ASSERT_EQ(b.Width(), 2);
  ASSERT_EQ(b.Height(), 3);
  // Pixel 5 (x 1, y 2) holds bytes 20..23 of the pixel data, each i * 7 (mod 256), little-endian.
  const TColor32 expected = TColor32(140) | TColor32(147) << 8 | TColor32(154) << 16 | TColor32(161) << 24;
  EXPECT_EQ(b.PixelAt(1, 2), expected);

  TBitmap32 c;
  std::istringstream shortBlock(Block(2, 3, 23));
  EXPECT_THROW(c.LoadPixelData(shortBlock), EReadError);
  // Only a size field: fails too.
  std::istringstream truncated(Block(2, 3, 0).substr(0, 6));
  EXPECT_THROW(c.LoadPixelData(truncated), EReadError);
  // Negative sizes count as 0 and need no pixels; the stream is left right after the header.
  std::istringstream negative(Block(-4, 9, 0));
  c.LoadPixelData(negative);
  EXPECT_EQ(c.Width(), 0);
}

}  // namespace
}  // namespace quirlon::raster
