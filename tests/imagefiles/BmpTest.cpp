// Hand-made bitmap files, built byte by byte, through the real loader: every bit depth, both RLE
// forms, bit fields, the old and the newer headers, row order, and damaged headers.
#include <gtest/gtest.h>

#include <cmath>

#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/imagefiles/TestFiles.h"

namespace quirlon::imagefiles {
namespace {

using testing::TBytes;
using testing::WriteScratch;

struct TBmpSpec {
  std::uint32_t HeaderSize = 40;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::uint16_t Bpp = 24;
  std::uint32_t Compression = 0;
  std::vector<std::uint32_t> Palette;  // 0xRRGGBB
  std::vector<std::uint32_t> Masks;    // R, G, B[, A]
  std::vector<std::uint8_t> Bits;
  bool FileHeader = true;
};

std::vector<std::uint8_t> MakeBmp(const TBmpSpec& s) {
  const bool core = s.HeaderSize == 12;
  const std::size_t entry = core ? 3 : 4;
  const bool masksAfterHeader = s.HeaderSize == 40 && !s.Masks.empty();
  const std::uint32_t offBits = 14 + s.HeaderSize + (masksAfterHeader ? 4 * s.Masks.size() : 0) +
                                static_cast<std::uint32_t>(entry * s.Palette.size());
  TBytes b;
  if (s.FileHeader) b.U8('B').U8('M').U32(offBits + static_cast<std::uint32_t>(s.Bits.size())).U32(0).U32(offBits);
  if (core) {
    b.U32(12).U16(s.Width).U16(s.Height).U16(1).U16(s.Bpp);
  } else {
    b.U32(s.HeaderSize).U32(s.Width).U32(s.Height).U16(1).U16(s.Bpp).U32(s.Compression);
    b.U32(static_cast<std::uint32_t>(s.Bits.size())).U32(2835).U32(2835);
    b.U32(static_cast<std::uint32_t>(s.Palette.size())).U32(0);
    if (s.HeaderSize > 40) {
      for (std::size_t i = 0; i < 4; ++i) b.U32(i < s.Masks.size() ? s.Masks[i] : 0);
      while (b.Data.size() < (s.FileHeader ? 14u : 0u) + s.HeaderSize) b.U8(0);
    }
    if (masksAfterHeader)
      for (std::uint32_t m : s.Masks) b.U32(m);
  }
  for (std::uint32_t c : s.Palette) {
    b.U8(c).U8(c >> 8).U8(c >> 16);
    if (!core) b.U8(0);
  }
  return b.Bytes(s.Bits).Data;
}

// Rows given top first, each padded to 4 bytes, stored bottom-up unless topDown.
std::vector<std::uint8_t> Rows(std::vector<std::vector<std::uint8_t>> rows, bool topDown = false) {
  if (!topDown) std::reverse(rows.begin(), rows.end());
  std::vector<std::uint8_t> out;
  for (auto& r : rows) {
    while (r.size() % 4) r.push_back(0);
    out.insert(out.end(), r.begin(), r.end());
  }
  return out;
}

std::unique_ptr<TBitmap32> Load(const std::vector<std::uint8_t>& bytes, const std::string& name = "test.bmp") {
  auto b = std::make_unique<TBitmap32>();
  LoadFromFile(*b, WriteScratch(name, bytes));
  return b;
}

TBmpSpec Spec(std::int32_t width, std::int32_t height, std::uint16_t bpp) {
  TBmpSpec s;
  s.Width = width;
  s.Height = height;
  s.Bpp = bpp;
  return s;
}

void ExpectPixels(const TBitmap32& b, std::int32_t w, std::int32_t h, const std::vector<TColor32>& expected) {
  ASSERT_EQ(b.Width(), w);
  ASSERT_EQ(b.Height(), h);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      EXPECT_EQ(b.PixelAt(x, y), expected[static_cast<std::size_t>(y * w + x)]) << "at " << x << "," << y;
}

constexpr TColor32 Opaque(std::uint32_t rgb) { return 0xFF000000u | rgb; }

std::uint8_t Widen(std::uint32_t v, std::uint32_t bits) {
  const long double max = std::ldexp(1.0L, static_cast<int>(bits)) - 1;
  return static_cast<std::uint8_t>(std::lround(static_cast<long double>(v) * 255 / max));
}

TEST(BmpTest, PaletteDepths) {
  const std::vector<std::uint32_t> two = {0x102030, 0xA0B0C0};
  TBmpSpec s = Spec(10, 2, 1);
  s.Palette = two;
  s.Bits = Rows({{0b10110000, 0b01000000}, {0b00000001, 0b11000000}});
  const TColor32 a = Opaque(two[0]), c = Opaque(two[1]);
  ExpectPixels(*Load(MakeBmp(s)), 10, 2, {c, a, c, c, a, a, a, a, a, c, a, a, a, a, a, a, a, c, c, c});

  std::vector<std::uint32_t> sixteen;
  for (std::uint32_t i = 0; i < 16; ++i) sixteen.push_back(i * 0x0F0D0B);
  TBmpSpec s4 = Spec(3, 2, 4);
  s4.Palette = sixteen;
  s4.Bits = Rows({{0x1F, 0x70}, {0xA2, 0x50}});
  ExpectPixels(*Load(MakeBmp(s4)), 3, 2,
               {Opaque(sixteen[1]), Opaque(sixteen[15]), Opaque(sixteen[7]), Opaque(sixteen[10]),
                Opaque(sixteen[2]), Opaque(sixteen[5])});

  // Six palette entries used; an index past them reads as black.
  const std::vector<std::uint32_t> six = {0x010203, 0x111213, 0x212223, 0x313233, 0x414243, 0x515253};
  TBmpSpec s8 = Spec(3, 2, 8);
  s8.Palette = six;
  s8.Bits = Rows({{5, 0, 3}, {1, 200, 4}});
  ExpectPixels(*Load(MakeBmp(s8)), 3, 2,
               {Opaque(six[5]), Opaque(six[0]), Opaque(six[3]), Opaque(six[1]), Opaque(0), Opaque(six[4])});
}

TEST(BmpTest, RunLengthEncoded) {
  const std::vector<std::uint32_t> pal = {0x000000, 0x110000, 0x002200, 0x000033, 0x444444, 0x550055,
                                          0x666600, 0x777777, 0x880000, 0x990099};
  auto P = [&](int i) { return Opaque(pal[static_cast<std::size_t>(i)]); };
  // RLE8, 4 x 3, stored bottom row first: a run and a one-pixel run, an absolute run, a delta.
  TBmpSpec s = Spec(4, 3, 8);
  s.Compression = 1;
  s.Palette = pal;
  s.Bits = {3, 7, 1, 2, 0, 0,           // bottom row: 7 7 7 2, end of line
            0, 3, 1, 2, 3, 0, 0, 0,     // middle row: absolute 1 2 3 (padded), end of line
            0, 2, 1, 0, 1, 9, 0, 1};    // top row: move right 1, one pixel 9, end of bitmap
  ExpectPixels(*Load(MakeBmp(s), "rle8.rle"), 4, 3,
               {P(0), P(9), P(0), P(0), P(1), P(2), P(3), P(0), P(7), P(7), P(7), P(2)});

  // RLE4, 4 x 2: alternating nibbles, then an absolute run of three.
  TBmpSpec s4 = Spec(4, 2, 4);
  s4.Compression = 2;
  s4.Palette = pal;
  s4.Bits = {4, 0x12, 0, 0, 0, 3, 0x34, 0x50, 1, 0x60, 0, 1};
  ExpectPixels(*Load(MakeBmp(s4)), 4, 2, {P(3), P(4), P(5), P(6), P(1), P(2), P(1), P(2)});

  // Data that stops before the end-of-bitmap mark with rows missing is damage, not a half picture.
  s.Bits = {3, 7, 1, 2, 0, 0, 0, 3};
  EXPECT_THROW(Load(MakeBmp(s)), EInvalidGraphic);
}

TEST(BmpTest, SixteenBitLayouts) {
  // Default 5-5-5.
  TBmpSpec s = Spec(3, 1, 16);
  s.Bits = Rows({{0xFF, 0x7F, 0x1F, 0x00, 0x10, 0x42}});  // 0x7FFF, 0x001F, 0x4210
  auto c555 = [](std::uint32_t v) {
    return raster::Color32(Widen((v >> 10) & 31, 5), Widen((v >> 5) & 31, 5), Widen(v & 31, 5));
  };
  ExpectPixels(*Load(MakeBmp(s)), 3, 1, {c555(0x7FFF), c555(0x001F), c555(0x4210)});

  // 5-6-5 bit fields after a 40-byte header.
  TBmpSpec f = Spec(2, 1, 16);
  f.Compression = 3;
  f.Masks = {0xF800, 0x07E0, 0x001F};
  f.Bits = Rows({{0x20, 0x08, 0x1F, 0xF8}});  // 0x0820, 0xF81F
  auto c565 = [](std::uint32_t v) {
    return raster::Color32(Widen(v >> 11, 5), Widen((v >> 5) & 63, 6), Widen(v & 31, 5));
  };
  ExpectPixels(*Load(MakeBmp(f)), 2, 1, {c565(0x0820), c565(0xF81F)});
  // Bit fields on a 24-bit file are not a layout.
  f.Bpp = 24;
  EXPECT_THROW(Load(MakeBmp(f)), EInvalidGraphic);
}

TEST(BmpTest, TrueColourAndAlpha) {
  // 24-bit, top-down rows, opaque.
  TBmpSpec s = Spec(2, -2, 24);
  s.Bits = Rows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}, true);
  ExpectPixels(*Load(MakeBmp(s)), 2, 2, {Opaque(0x030201), Opaque(0x060504), Opaque(0x090807), Opaque(0x0C0B0A)});

  // 32-bit keeps its fourth byte as alpha, straight.
  TBmpSpec a = Spec(2, 1, 32);
  a.Bits = {10, 20, 30, 0x80, 40, 50, 60, 0xFF};
  ExpectPixels(*Load(MakeBmp(a)), 2, 1, {0x801E140Au, 0xFF3C3228u});
  // ... so a file whose fourth bytes are all zero loads fully transparent.
  a.Bits = {10, 20, 30, 0, 40, 50, 60, 0};
  ExpectPixels(*Load(MakeBmp(a)), 2, 1, {0x001E140Au, 0x003C3228u});

  // 124-byte header with bit fields: red in the low byte, alpha mask given.
  TBmpSpec v5 = Spec(1, 1, 32);
  v5.HeaderSize = 124;
  v5.Compression = 3;
  v5.Masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
  v5.Bits = {0x11, 0x22, 0x33, 0x44};
  ExpectPixels(*Load(MakeBmp(v5)), 1, 1, {raster::Color32(0x11, 0x22, 0x33, 0x44)});
}

TEST(BmpTest, OldHeaderAndBareDib) {
  const std::vector<std::uint32_t> pal = {0xFF0000, 0x00FF00, 0x0000FF};
  TBmpSpec s = Spec(3, 1, 8);
  s.HeaderSize = 12;
  s.Palette = pal;
  s.Bits = Rows({{2, 1, 0}});
  ExpectPixels(*Load(MakeBmp(s)), 3, 1, {Opaque(0x0000FF), Opaque(0x00FF00), Opaque(0xFF0000)});

  TBmpSpec d = Spec(1, 2, 24);
  d.FileHeader = false;
  d.Bits = Rows({{1, 2, 3}, {4, 5, 6}});
  ExpectPixels(*Load(MakeBmp(d), "clip.dib"), 1, 2, {Opaque(0x030201), Opaque(0x060504)});
}

TEST(BmpTest, DamagedHeadersAreRefused) {
  // Each refusal says what is wrong before the fixed message.
  auto message = [](const std::vector<std::uint8_t>& bytes) {
    try {
      Load(bytes);
    } catch (const Exception& e) {
      return testing::AfterFileName(e.what(), (testing::ScratchDir() / "test.bmp").string());
    }
    return std::string("loaded");
  };
  auto invalid = [](const std::string& reason) { return reason + ". " + kInvalidBitmap; };
  TBmpSpec good = Spec(2, 2, 24);
  good.Bits = Rows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
  ASSERT_EQ(message(MakeBmp(good)), "loaded");

  auto bad = good;
  bad.Bpp = 7;
  EXPECT_EQ(message(MakeBmp(bad)), invalid("The number of bits per pixel is not 1, 4, 8, 16, 24 or 32"));
  bad = good;
  bad.Compression = 1;  // RLE8 on 24 bits
  EXPECT_EQ(message(MakeBmp(bad)), invalid("Run-length encoding with 8 bits needs an 8-bit bottom-up bitmap"));
  bad = good;
  bad.Width = 0;
  EXPECT_EQ(message(MakeBmp(bad)), invalid("The width or height is not positive"));
  auto truncated = MakeBmp(good);
  truncated.resize(truncated.size() - 1);
  EXPECT_EQ(message(truncated), invalid("The file ends before the last row of pixels"));
  auto offset = MakeBmp(good);
  testing::TBytes patch{offset};
  patch.PutU32(10, 100000);  // pixel data beyond the end
  EXPECT_EQ(message(patch.Data), invalid("The pixel data lies beyond the end of the file"));
  bad = good;
  bad.Palette.assign(300, 0);  // more palette entries than 8 bits can index
  bad.Bpp = 8;
  EXPECT_EQ(message(MakeBmp(bad)), invalid("The colour table has more than 256 entries"));

  // Sizes are refused before pixels (the data is not there at all).
  bad = good;
  bad.Width = 20000;
  bad.Height = 1;
  const std::string side = "A picture may have at most 16384 pixels a side. ";
  EXPECT_EQ(message(MakeBmp(bad)), side + "Picture is too large (20000 x 1)");
  bad.Width = 16384;
  bad.Height = -16384;
  EXPECT_EQ(message(MakeBmp(bad)),
            "A picture may have at most 50 million pixels; this one has 269 million. Picture is too large (16384 x 16384)");
  bad.Width = 0x7FFFFFFF;
  bad.Height = 0x7FFFFFFF;
  EXPECT_EQ(message(MakeBmp(bad)), side + "Picture is too large (2147483647 x 2147483647)");
}

}  // namespace
}  // namespace quirlon::imagefiles
