// The format table: formats told by their first bytes, the decoder chosen by content first and by
// extension second, our Targa reader on files written here byte by byte, and ImageMagick shut in.
#include <gtest/gtest.h>

#include <png.h>

#include <string>
#include <vector>

#include "imagefiles/Decoders.h"
#include "imagefiles/OutputWriters.h"
#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/imagefiles/TestFiles.h"

namespace quirlon::imagefiles {
namespace {

using namespace std::string_view_literals;
using testing::AfterFileName;
using testing::TBytes;
using testing::WriteScratch;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::string ErrorOf(const std::string& file) {
  TBitmap32 b;
  try {
    LoadFromFile(b, file);
  } catch (const Exception& e) {
    return AfterFileName(e.what(), file);
  }
  return "loaded";
}

// Two by two RGBA pixels written by libpng itself.
const std::vector<std::uint8_t> kRgba = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 10, 20, 30, 255};
const std::vector<TColor32> kExpected = {0xFFFF0000u, 0x8000FF00u, 0x000000FFu, 0xFF0A141Eu};

std::vector<std::uint8_t> PngOfTwoByTwo() {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = image.height = 2;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, kRgba.data(), 0, nullptr));
  std::vector<std::uint8_t> out(size);
  EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, kRgba.data(), 0, nullptr));
  out.resize(size);
  return out;
}

std::vector<TColor32> PixelsOf(const TBitmap32& b) { return {b.Bits(), b.Bits() + b.PixelCount()}; }

TEST(FormatTableTest, FirstBytesNameTheFormat) {
  TBytes bmp;
  bmp.Bytes(Bytes("BM")).U32(0).U32(0).U32(54).U32(40);
  TBytes ico;
  ico.U16(0).U16(1).U16(1).U8(16).U8(16).U8(0).U8(0).U32(0).U32(0).U32(22);
  std::vector<std::uint8_t> pcx(128, 0);
  pcx[0] = 10, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8, pcx[65] = 3;
  std::vector<std::uint8_t> photoCd(2048, 0xFF);
  for (char c : std::string("PCD_IPI")) photoCd.push_back(static_cast<std::uint8_t>(c));
  const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> named = {
      {PngOfTwoByTwo(), "PNG"},
      {{0xFF, 0xD8, 0xFF, 0xE0}, "JPEG"},
      {Bytes("GIF89a\x02\0\x02\0"), "GIF"},
      {Bytes("GIF87a\x02\0\x02\0"), "GIF"},
      {bmp.Data, "BMP"},
      {Bytes(std::string_view("II*\0\x08\0\0\0", 8)), "TIFF"},
      {Bytes(std::string_view("MM\0*\0\0\0\x08", 8)), "TIFF"},
      {Bytes("RIFF\x10\0\0\0WEBPVP8 "sv), "WebP"},
      {Bytes(std::string_view("8BPS\0\x01\0\0\0\0\0\0", 12)), "PSD"},
      {ico.Data, "ICO"},
      {Bytes("%!PS-Adobe-3.0 EPSF-3.0\n"), "EPS"},
      {{0xC5, 0xD0, 0xD3, 0xC6, 0x1E, 0, 0, 0}, "EPS"},
      {Bytes("%PDF-1.4\n"), "PDF"},
      {{0x01, 0xDA, 0x00, 0x01, 0x00, 0x03}, "SGI"},
      {Bytes("P6\n3 2\n255\n"), "PNM"},
      {Bytes("P1 3 2"), "PNM"},
      {pcx, "PCX"},
      {photoCd, "PCD"},
      {{0xD7, 0xCD, 0xC6, 0x9A, 0, 0}, "WMF"},
      {Bytes("Paint Shop Pro Image File\n\x1a"), "PSP"},
      {Bytes(std::string_view("\0\0\0\x18" "ftypheic\0\0\0\0mif1heic", 24)), "HEIF"},
      {Bytes(std::string_view("\0\0\0\x1c" "ftypavif\0\0\0\0avifmif1miaf", 28)), "HEIF"},
      // A major brand of its own with a still-picture brand among the compatible ones.
      {Bytes(std::string_view("\0\0\0\x18" "ftypMA1B\0\0\0\0" "avifmif1", 24)), "HEIF"},
      {Bytes("<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"/>"), "SVG"},
      {Bytes("\xEF\xBB\xBF  \n<!-- drawn -->\n<svg width=\"1\" height=\"1\"/>"), "SVG"}};
  for (const auto& [data, name] : named) {
    const TFileFormat* f = FormatOfContent(data);
    ASSERT_NE(f, nullptr) << name;
    EXPECT_EQ(f->Name, name);
  }
  // Headerless formats and near misses name nothing: the usual Targa starts (true colour, mapped,
  // grey, run-length), a BM without an info header, a cursor, a PCX with an unknown version, text.
  const std::vector<std::vector<std::uint8_t>> unnamed = {
      {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0},
      {0, 1, 1, 0, 0, 0, 1, 24, 0, 0, 0, 0, 2, 0, 2, 0, 8, 0},
      {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 8, 0},
      {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 32, 8},
      {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {0, 0, 2, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0},
      {10, 1, 1, 8},
      Bytes("hello, world"),
      // An MP4 video's first box, markup without an svg element, and "<svg" in plain text.
      Bytes(std::string_view("\0\0\0\x18" "ftypisom\0\0\0\0isommp42", 24)),
      Bytes("<html><body>no picture</body></html>"),
      Bytes("a <svg> element in words"),
      {}};
  for (const auto& data : unnamed) EXPECT_EQ(FormatOfContent(data), nullptr) << data.size();
}

TEST(FormatTableTest, ContentChoosesTheDecoderBeforeTheName) {
  const std::vector<std::uint8_t> png = PngOfTwoByTwo();
  // A PNG loads under any registered name, also those of formats without a signature.
  for (const char* name : {"a.png", "a.jpg", "a.bmp", "a.tga", "a.gif", "a.tif", "a.fax", "a.pcx", "a.psd"}) {
    TBitmap32 b;
    LoadFromFile(b, WriteScratch(name, png));
    EXPECT_EQ(PixelsOf(b), kExpected) << name;
  }
  // Bitmaps written by our own writer load the same under a JPEG or GIF name.
  TBitmap32 source;
  source.SetSize(3, 1);
  source.PixelRef(0, 0) = 0xFF102030u, source.PixelRef(1, 0) = 0xFFFFFFFFu, source.PixelRef(2, 0) = 0xFF000000u;
  for (const char* name : {"b.jpg", "b.gif", "b.tga"}) {
    TBitmap32 b;
    LoadFromFile(b, WriteScratch(name, EncodeBmp(source, 96)));
    EXPECT_EQ(PixelsOf(b), PixelsOf(source)) << name;
  }

  // A file whose name promises a format with a signature, and whose content is no known format,
  // goes to that format's reader, which says what is wrong. Fax is tried only under .fax.
  const std::vector<std::uint8_t> noise = Bytes("\x13\x37 not a picture at all, just some bytes of noise");
  EXPECT_EQ(ErrorOf(WriteScratch("noise.tif", noise)),
            "The file does not start with a TIFF header. Cannot load image. Invalid or unexpected TIFF image format.");
  EXPECT_EQ(ErrorOf(WriteScratch("noise.tiff", noise)),
            "The file does not start with a TIFF header. Cannot load image. Invalid or unexpected TIFF image format.");
  EXPECT_EQ(ErrorOf(WriteScratch("noise.png", noise)),
            "The file does not start with the PNG signature. Cannot load image. Invalid or unexpected PNG image format.");

  // Content that names a refused format is refused whatever the name says.
  const std::string eps = "Cannot load image. Encapsulated Postscript images are not supported on this system.";
  for (const char* name : {"cover.eps", "cover.png", "cover.tga", "cover.pcx", "cover.fax"})
    EXPECT_EQ(ErrorOf(WriteScratch(name, Bytes("%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 9 9\n{} loop\n"))), eps)
        << name;
  // Content that names a format of its own goes to that format's reader, whatever the name says.
  EXPECT_TRUE(ErrorOf(WriteScratch("web.png", Bytes("RIFF\x10\0\0\0WEBPVP8 "sv)))
                  .ends_with(". Cannot load image. Invalid or unexpected WebP image format."));
  EXPECT_TRUE(ErrorOf(WriteScratch("doc.jpg", Bytes("%PDF-1.4\n"))).ends_with(". Cannot load image. Invalid or unexpected PDF image format."));
  EXPECT_TRUE(ErrorOf(WriteScratch("phone.gif", Bytes(std::string_view("\0\0\0\x18" "ftypheic\0\0\0\0mif1heic", 24))))
                  .ends_with(". Cannot load image. Invalid or unexpected HEIF image format."));
}

// A Targa file: 18-byte header, optional identification and colour map, then the pixels.
std::vector<std::uint8_t> Tga(int type, int width, int height, int bits, int descriptor,
                              const std::vector<std::uint8_t>& pixels, const std::vector<std::uint8_t>& map = {},
                              int mapBits = 0, int mapCount = 0) {
  TBytes t;
  t.U8(3).U8(map.empty() ? 0 : 1).U8(type).U16(0).U16(mapCount).U8(mapBits).U16(0).U16(0).U16(width).U16(height);
  t.U8(bits).U8(descriptor).Bytes({'i', 'd', '!'}).Bytes(map).Bytes(pixels);
  return t.Data;
}

TEST(TargaTest, EveryKindOriginAndEncoding) {
  struct TCase {
    const char* What;
    std::vector<std::uint8_t> File;
    std::vector<TColor32> Pixels;  // top row first, as loaded
  };
  const std::vector<TCase> cases = {
      // Bottom-up true colour: the file's first row is the picture's last.
      {"24 bits, bottom left", Tga(2, 2, 2, 24, 0x00, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
       {0xFF090807u, 0xFF0C0B0Au, 0xFF030201u, 0xFF060504u}},
      // Top-down, right to left, with alpha bytes.
      {"32 bits, top right", Tga(2, 2, 1, 32, 0x38, {1, 2, 3, 0x40, 4, 5, 6, 0x80}), {0x80060504u, 0x40030201u}},
      // Run-length grey with alpha; the run of three crosses from the first row into the second.
      {"grey and alpha, run-length, top left", Tga(11, 2, 2, 16, 0x28, {0x82, 200, 100, 0x00, 7, 255}),
       {0x64C8C8C8u, 0x64C8C8C8u, 0x64C8C8C8u, 0xFF070707u}},
      // Colour-mapped with 16-bit entries (x R5 G5 B5): red and a mid grey.
      {"mapped, 16-bit entries", Tga(1, 2, 1, 8, 0x20, {1, 0}, {0x00, 0x7C, 0x10, 0x42}, 16, 2),
       {0xFF848484u, 0xFFFF0000u}},
      // 16 bits with one alpha bit declared: the top bit is the alpha.
      {"16 bits, alpha bit", Tga(2, 2, 1, 16, 0x21, {0x1F, 0x80, 0xE0, 0x03}), {0xFF0000FFu, 0x0000FF00u}},
      // 32 bits whose fourth bytes are all 0 and no alpha bits declared: opaque.
      {"32 bits, unset alpha", Tga(2, 1, 1, 32, 0x20, {9, 8, 7, 0}), {0xFF070809u}},
  };
  for (const TCase& c : cases) {
    TBitmap32 b;
    LoadFromFile(b, WriteScratch("case.tga", c.File));
    EXPECT_EQ(PixelsOf(b), c.Pixels) << c.What;
  }

  const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> damaged = {
      {Tga(2, 2, 2, 24, 0, {1, 2, 3}), "The file ends before the pixel data does"},
      {Tga(10, 4, 4, 24, 0, {0x83, 1, 2, 3, 0x8F, 1}), "The run-length data ends before the last pixel"},
      {Tga(2, 2, 2, 12, 0, std::vector<std::uint8_t>(12)), "The number of bits per pixel does not fit the image type"},
      {Tga(1, 1, 1, 8, 0, {0}), "A colour-mapped picture has no colour map"},
      {Tga(5, 1, 1, 8, 0, {0}), "The image type is not colour-mapped, true colour or grey"},
      {Tga(2, 0, 1, 24, 0, {}), "The width or height is 0"},
      {Tga(10, 7000, 7200, 24, 0, std::vector<std::uint8_t>(4000)),
       "A picture may have at most 50 million pixels; this one has 51 million. Picture is too large (7000 x 7200)"}};
  for (const auto& [file, reason] : damaged) {
    const std::string path = WriteScratch("damaged.tga", file);
    const std::string message = ErrorOf(path);
    EXPECT_EQ(message.substr(0, reason.size()), reason) << message;
  }
}

TEST(MagickTest, OnlyTheRoutedCodersAndNoDelegates) {
  for (const std::string& coder : RoutedMagickCoders()) EXPECT_TRUE(detail::MagickMayRead(coder)) << coder;
  for (const char* coder : {"EPS", "PS", "PDF", "EPI", "MSL", "MVG", "SVG", "TXT", "URL", "HTTPS", "FTP", "PNG",
                            "TGA", "SCR", "TEXT", "LABEL", "INLINE", "EPHEMERAL"})
    EXPECT_FALSE(detail::MagickMayRead(coder)) << coder;
  for (const char* delegate : {"ps:alpha", "eps", "pdf", "https", "svg", "*"})
    EXPECT_FALSE(detail::MagickMayRunDelegate(delegate)) << delegate;
}

TEST(MagickTest, PhotoshopMergedPicture) {
  // 2 x 1 RGB, 8 bits, raw planes: red plane, green plane, blue plane.
  TBytes psd;
  psd.Bytes(Bytes("8BPS")).Bytes({0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 8, 0, 3});
  psd.Bytes(std::vector<std::uint8_t>(12, 0));  // colour mode data, resources, layers: none
  psd.Bytes({0, 0, 250, 10, 20, 30, 40, 50});    // raw planes: R = 250 10, G = 20 30, B = 40 50
  for (const char* name : {"merged.psd", "merged.pdd", "merged.png"}) {
    TBitmap32 b;
    LoadFromFile(b, WriteScratch(name, psd.Data));
    EXPECT_EQ(PixelsOf(b), (std::vector<TColor32>{0xFFFA1428u, 0xFF0A1E32u})) << name;
  }
  // Cut inside the pixel data: ImageMagick's own words, then the fixed message.
  psd.Data.resize(psd.Data.size() - 3);
  const std::string message = ErrorOf(WriteScratch("cut.psd", psd.Data));
  EXPECT_TRUE(message.ends_with(". Cannot load image. Invalid or unexpected PSD image format.")) << message;
  EXPECT_GT(message.size(), std::string(". Cannot load image. Invalid or unexpected PSD image format.").size() + 5);
}

}  // namespace
}  // namespace quirlon::imagefiles
