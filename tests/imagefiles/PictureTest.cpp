// The picture registry, the load operation's errors and the conversions between pictures and
// bitmaps, through real files.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "imagefiles/OutputWriters.h"
#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/imagefiles/TestFiles.h"

namespace quirlon::imagefiles {
namespace {

using testing::AfterFileName;
using testing::HaveTestData;
using testing::ReadBytes;
using testing::TBytes;
using testing::TestData;
using testing::WriteScratch;

std::string ErrorOf(TBitmap32& b, const std::string& file) {
  try {
    LoadFromFile(b, file);
  } catch (const Exception& e) {
    return e.what();
  }
  return "loaded";
}

std::string ErrorOf(const std::string& file) {
  TBitmap32 b;
  return ErrorOf(b, file);
}

#define REQUIRE_CORPUS() \
  if (!HaveTestData()) GTEST_SKIP() << "no corpus at " << QUIRLON_TESTDATA

TEST(PictureRegistryTest, EffectiveOrderDescriptionsAndOverride) {
  const std::vector<std::string> expected = {
      "bmp", "ico", "wmf", "emf", "jfif", "jpg", "jpe", "jpeg", "rle", "dib", "win", "vst", "vda", "tga",
      "icb", "tiff", "tif", "fax", "eps", "pcx", "pcc", "scr", "rpf", "rla", "sgi", "rgba", "rgb", "bw",
      "psd", "pdd", "ppm", "pgm", "pbm", "cel", "pic", "pcd", "gif", "cut", "psp", "png",
      "webp", "heic", "heif", "avif", "svg", "svgz", "pdf"};
  std::vector<std::string> got;
  for (const TFileFormat* f : FileFormats().Effective()) got.push_back(f->Extension);
  EXPECT_EQ(got, expected);
  // Platform formats, JPEG and the PNG library come first and are overridden by the side formats.
  EXPECT_EQ(FileFormats().Registrations().size(), 7 + expected.size());
  EXPECT_EQ(FileFormats().Registrations().front().Extension, "wmf");

  const std::vector<std::pair<std::string, std::string>> descriptions = {
      {"dib", "Device independant Windows bitmaps"}, {"jfif", "JFIF images"},
      {"jpe", "JPE images"},                          {"icb", "Truevision images"},
      {"tiff", "Macintosh TIFF images"},              {"tif", "PC TIF images"},
      {"fax", "GFI fax images"},                      {"scr", "Word 5.x screen capture images"},
      {"rgba", "SGI true color images with alpha"},   {"bw", "SGI black/white images"},
      {"pgm", "Portable gray map images"},            {"pcd", "Kodak Photo-CD images"},
      {"gif", "CompuServe images"},                   {"psp", "Paintshop Pro images"},
      {"png", "Portable network graphic images"},     {"emf", "Windows enhanced meta files"},
      {"webp", "WebP images"},                        {"avif", "AVIF images"},
      {"heic", "HEIF images"},                        {"svg", "Scalable vector graphics"},
      {"pdf", "PDF documents"}};
  for (const auto& [ext, text] : descriptions) {
    const TFileFormat* f = FileFormats().Find(ext);
    ASSERT_NE(f, nullptr) << ext;
    EXPECT_EQ(f->Description, text) << ext;
  }
  EXPECT_EQ(FileFormats().Find("JPG"), FileFormats().Find("jpg"));
  EXPECT_EQ(FileFormats().Find("txt"), nullptr);
  EXPECT_EQ(FileFormats().Find(""), nullptr);

  TFileFormatsList list;
  list.Add("PNG", "first", TDecoder::Png);
  list.Add("bmp", "bitmap", TDecoder::Bmp);
  list.Add("png", "second", TDecoder::Magick, "PNG");
  EXPECT_EQ(list.Find("png")->Description, "second");
  ASSERT_EQ(list.Effective().size(), 2u);
  EXPECT_EQ(list.Effective()[0]->Extension, "bmp");

  const std::string filter = GraphicFilter();
  EXPECT_EQ(filter.rfind("All (*.bmp;*.ico;*.wmf;", 0), 0u);
  EXPECT_NE(filter.find("|Windows bitmaps (*.bmp)|*.bmp|"), std::string::npos);
  EXPECT_NE(filter.find("|Portable network graphic images (*.png)|*.png"), std::string::npos);
  // The formats designers, web stores, printers and phones deliver are offered by the open dialog.
  const std::string all = filter.substr(0, filter.find(')')) + ";";
  for (const char* ext : {"webp", "heic", "heif", "avif", "svg", "svgz", "pdf", "psd"}) {
    EXPECT_NE(all.find(std::string(";*.") + ext + ";"), std::string::npos) << ext;
    EXPECT_NE(filter.find(std::string(" (*.") + ext + ")|*." + ext), std::string::npos) << ext;
  }
}

TEST(PictureLoadTest, ExtensionAndOpenErrors) {
  EXPECT_EQ(PictureExtension("a/b/Photo.JPG"), "jpg");
  EXPECT_EQ(PictureExtension("archive.tar.Gz"), "gz");
  EXPECT_EQ(PictureExtension("dir.v2/noext"), "");
  EXPECT_EQ(PictureExtension("dir.v2\\noext"), "");
  EXPECT_EQ(PictureExtension("trailing."), "");

  EXPECT_EQ(ErrorOf("notes.txt"), "Picture \"notes.txt\": Unknown picture file extension (.txt)");
  EXPECT_EQ(ErrorOf(""), "Picture \"\": Unknown picture file extension (.)");
  EXPECT_EQ(ErrorOf("folder.d/README"), "Picture \"folder.d/README\": Unknown picture file extension (.)");
  const std::string missing = (testing::ScratchDir() / "missing.png").string();
  EXPECT_EQ(ErrorOf(missing), "Cannot open file \"" + missing + "\". No such file or directory");
  try {
    TBitmap32 b;
    LoadFromFile(b, missing);
    FAIL();
  } catch (const EFOpenError&) {
  }
  const std::string folder = (testing::ScratchDir() / "folder.bmp").string();
  std::filesystem::create_directories(folder);
  EXPECT_EQ(ErrorOf(folder), "Cannot open file \"" + folder + "\". Is a directory");
  // Every decoder's refusal of an empty file: the file, what is wrong, the fixed message.
  const std::vector<std::pair<std::string, std::string>> empty = {
      {"png", "The file does not start with the PNG signature. Cannot load image. Invalid or unexpected PNG image format."},
      {"jpg", "The file is empty. JPEG error #42"},  // JERR_INPUT_EMPTY
      {"bmp", "The file does not start with a bitmap header. Bitmap image is not valid"},
      {"ico", "The file does not start with an icon directory. Bitmap image is not valid"},
      {"gif", "The file does not start with a GIF header. Cannot load image. Invalid or unexpected GIF image format."},
      {"tif", "The file does not start with a TIFF header. Cannot load image. Invalid or unexpected TIFF image format."},
      {"tga", "The file ends inside the Targa header. Cannot load image. Invalid or unexpected TGA image format."},
      {"pcx", "The file is empty. Cannot load image. Invalid or unexpected PCX image format."},
      {"psp", "Cannot load image. Paintshop Pro images are not supported on this system."},
      {"emf", "Cannot load image. Windows enhanced meta files are not supported on this system."},
      {"eps", "Cannot load image. Encapsulated Postscript images are not supported on this system."},
      {"scr", "Cannot load image. Word 5.x screen capture images are not supported on this system."},
      {"cel", "Cannot load image. Autodesk images are not supported on this system."}};
  for (const auto& [ext, message] : empty) {
    const std::string file = WriteScratch("empty." + ext, {});
    EXPECT_EQ(AfterFileName(ErrorOf(file), file), message) << ext;
  }
}

TEST(PictureLoadTest, SideFormatsAreChosenByTheExtension) {
  REQUIRE_CORPUS();
  const std::vector<std::pair<std::string, std::vector<std::string>>> aliases = {
      {"pillow/tga/200x32_rgb_bl_raw.tga", {"win", "vst", "vda", "icb", "TGA"}},
      {"pillow/pcx/pil184.pcx", {"pcc"}},
      {"pillow/sgi/hopper.sgi", {"rgb", "rgba", "bw"}},
      {"libtiff/rgb-3c-8b.ppm", {"pgm", "pbm"}},
      {"libtiff/rgb-3c-8b.tiff", {"tif", "fax"}},
      {"bmpsuite/g/pal8.bmp", {"rle", "dib"}}};
  for (const auto& [sample, exts] : aliases) {
    TBitmap32 reference;
    LoadFromFile(reference, TestData(sample).string());
    for (const std::string& ext : exts) {
      TBitmap32 b;
      LoadFromFile(b, WriteScratch("alias." + ext, ReadBytes(TestData(sample))));
      ASSERT_EQ(b.PixelCount(), reference.PixelCount()) << ext;
      EXPECT_TRUE(std::equal(b.Bits(), b.Bits() + b.PixelCount(), reference.Bits())) << ext;
    }
  }
}

TEST(PictureLoadTest, FailedLoadLeavesTheBitmapAsItWas) {
  TBitmap32 b;
  b.SetSize(3, 2);
  b.Clear(0x12345678u);
  b.PixelRef(1, 1) = 0xCAFEBABEu;
  std::vector<std::uint8_t> png(8, 0);
  png[0] = 0x89;  // not a PNG signature
  auto png16 = png;
  png16.resize(64, 0xEE);
  const std::vector<std::string> failing = {
      "notes.txt", (testing::ScratchDir() / "missing.bmp").string(), WriteScratch("bad.png", png16),
      WriteScratch("bad.jpg", {0xFF, 0xD8, 0xFF, 0xC0, 0, 4}), WriteScratch("bad.gif", {'G', 'I', 'F'}),
      WriteScratch("bad.bmp", {'B', 'M', 0, 0})};
  int changes = 0;
  b.OnChange = [&](raster::TObject*) { ++changes; };
  for (const std::string& f : failing) {
    EXPECT_NE(ErrorOf(b, f), "loaded") << f;
    ASSERT_EQ(b.Width(), 3);
    ASSERT_EQ(b.Height(), 2);
    for (std::int32_t y = 0; y < 2; ++y)
      for (std::int32_t x = 0; x < 3; ++x)
        EXPECT_EQ(b.PixelAt(x, y), (x == 1 && y == 1) ? 0xCAFEBABEu : 0x12345678u) << f;
  }
  EXPECT_EQ(changes, 0);

  TPicture picture;
  TGraphic g;
  g.Kind = pkBitmap;
  g.Width = g.Height = 1;
  g.Pixels = {0xFF010203u};
  picture.SetGraphic(g);
  EXPECT_THROW(picture.LoadFromFile("x.unknown"), EInvalidGraphic);
  EXPECT_THROW(picture.LoadFromFile(WriteScratch("bad2.bmp", {'B', 'M'})), EInvalidGraphic);
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Graphic()->Pixels[0], 0xFF010203u);
}

TEST(PictureAssignTest, BitmapRulesSettingsAndOneNotification) {
  TBitmap32 b;
  b.SetDrawMode(raster::dmBlend);
  b.SetMasterAlpha(100);
  b.SetOuterColor(0x11223344u);
  int changes = 0;
  b.OnChange = [&](raster::TObject*) { ++changes; };

  TGraphic g;
  g.Kind = pkBitmap;
  g.Width = 3;
  g.Height = 1;
  g.PixelFormat = pf24bit;
  g.Pixels = {0x00112233u, 0x00332211u, 0x7F112233u};
  g.Transparent = true;
  g.TransparentColor = 0x00332211;  // 0x00BBGGRR: red 0x11, green 0x22, blue 0x33
  Assign(b, g);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(b.PixelAt(0, 0), 0x00112233u);  // the transparent colour, alpha 0
  EXPECT_EQ(b.PixelAt(1, 0), 0xFF332211u);  // not 32 bits: opaque
  EXPECT_EQ(b.PixelAt(2, 0), 0x00112233u);
  EXPECT_EQ(b.DrawMode(), raster::dmBlend);
  EXPECT_EQ(b.MasterAlpha(), 100u);
  EXPECT_EQ(b.OuterColor(), 0x11223344u);

  g.Transparent = false;
  g.PixelFormat = pf32bit;
  Assign(b, g);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(b.PixelAt(0, 0), 0x00112233u);
  EXPECT_EQ(b.PixelAt(2, 0), 0x7F112233u);  // 32 bits: fourth byte kept

  g.Kind = pkDrawn;
  Assign(b, g);
  EXPECT_EQ(b.PixelAt(0, 0), 0xFF112233u);

  Assign(b, TPicture{});
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(changes, 4);
}

TEST(PictureAssignTest, ExportAndReadBackGivesTheSamePixels) {
  TBitmap32 a;
  a.SetSize(17, 5);
  std::mt19937 rng(12345);
  for (std::size_t i = 0; i < a.PixelCount(); ++i) a.Bits()[i] = rng();
  a.Bits()[0] = 0;
  a.Bits()[1] = 0xFFFFFFFFu;
  const TGraphic exported = ExportBitmap(a);
  EXPECT_EQ(exported.Kind, pkBitmap);
  EXPECT_EQ(exported.PixelFormat, pf32bit);
  TBitmap32 b;
  Assign(b, exported);
  ASSERT_EQ(b.Width(), 17);
  ASSERT_EQ(b.Height(), 5);
  for (std::size_t i = 0; i < a.PixelCount(); ++i) ASSERT_EQ(a.Bits()[i], b.Bits()[i]) << i;
  TBitmap32 empty;
  EXPECT_TRUE(ExportBitmap(empty).Empty());
}

// An icon file with a 1 x 1 8-bit image and a 2 x 2 32-bit image with alpha, and a 24-bit one
// drawn through its AND mask.
std::vector<std::uint8_t> IconDib(std::int32_t w, std::int32_t h, std::uint16_t bpp,
                                  const std::vector<std::uint8_t>& palette, const std::vector<std::uint8_t>& rows,
                                  const std::vector<std::uint8_t>& mask) {
  TBytes b;
  b.U32(40).U32(w).U32(2 * h).U16(1).U16(bpp).U32(0).U32(0).U32(0).U32(0);
  b.U32(static_cast<std::uint32_t>(palette.size() / 4)).U32(0);
  return b.Bytes(palette).Bytes(rows).Bytes(mask).Data;
}

std::vector<std::uint8_t> IconFile(const std::vector<std::vector<std::uint8_t>>& images,
                                   const std::vector<std::pair<int, int>>& sizes) {
  TBytes b;
  b.U16(0).U16(1).U16(static_cast<std::uint32_t>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    b.U8(sizes[i].first).U8(sizes[i].second).U8(0).U8(0).U16(1).U16(0);
    b.U32(static_cast<std::uint32_t>(images[i].size())).U32(offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& img : images) b.Bytes(img);
  return b.Data;
}

TEST(PictureAssignTest, IconsTakeTheBestImageAndItsTransparency) {
  const auto small = IconDib(1, 1, 8, std::vector<std::uint8_t>(4, 0), {0, 0, 0, 0}, {0, 0, 0, 0});
  // 2 x 2, bottom row first: (red 255) (blue 128) / (green 0) (white 255); B, G, R, A bytes.
  const std::vector<std::uint8_t> pixels = {0, 0, 255, 255, 255, 0, 0, 128, 0, 255, 0, 0, 255, 255, 255, 255};
  const auto big = IconDib(2, 2, 32, {}, pixels, std::vector<std::uint8_t>(8, 0));
  TBitmap32 b;
  LoadFromFile(b, WriteScratch("two.ico", IconFile({small, big}, {{1, 1}, {2, 2}})));
  ASSERT_EQ(b.Width(), 2);
  ASSERT_EQ(b.Height(), 2);
  EXPECT_EQ(b.PixelAt(0, 0), 0x00FFFFFFu) << "alpha 0 shows the white rendering";
  EXPECT_EQ(b.PixelAt(1, 0), 0xFFFFFFFFu);
  EXPECT_EQ(b.PixelAt(0, 1), 0xFFFF0000u);
  // Half-covered blue differs between the white and red renderings, so it goes transparent with
  // the colour it had over white: halfway between blue and white.
  const TColor32 half = b.PixelAt(1, 1);
  EXPECT_EQ(half >> 24, 0u);
  EXPECT_EQ(half & 0xFF, 0xFFu);
  EXPECT_NEAR((half >> 16) & 0xFF, 127, 1);
  EXPECT_EQ((half >> 16) & 0xFF, (half >> 8) & 0xFF);

  // 24 bits with an AND mask: bit set = background shows through.
  const std::vector<std::uint8_t> rgb = {30, 20, 10, 0, 0, 0, 0, 0};  // one row: (10,20,30) then black
  const std::vector<std::uint8_t> mask = {0x40, 0, 0, 0};             // second pixel masked
  LoadFromFile(b, WriteScratch("mask.ico", IconFile({IconDib(2, 1, 24, {}, rgb, mask)}, {{2, 1}})));
  ASSERT_EQ(b.Width(), 2);
  EXPECT_EQ(b.PixelAt(0, 0), 0xFF0A141Eu);
  EXPECT_EQ(b.PixelAt(1, 0), 0x00FFFFFFu);

  // A mask that is missing is damage.
  const std::string noMask = WriteScratch("nomask.ico", IconFile({IconDib(2, 1, 24, {}, rgb, {})}, {{2, 1}}));
  EXPECT_EQ(AfterFileName(ErrorOf(noMask), noMask),
            std::string("The file ends inside the icon's transparency mask. ") + kInvalidBitmap);
}

TEST(PictureJpegTest, OpaqueFullSizeByAnyJpegName) {
  REQUIRE_CORPUS();
  const auto bytes = ReadBytes(TestData("libjpeg-turbo/testorig.jpg"));
  for (const char* name : {"photo.JPG", "cover.jpeg", "cover.jfif", "cover.jpe"}) {
    TBitmap32 b;
    LoadFromFile(b, WriteScratch(name, bytes));
    ASSERT_EQ(b.Width(), 227) << name;
    ASSERT_EQ(b.Height(), 149) << name;
    for (std::size_t i = 0; i < b.PixelCount(); ++i) ASSERT_EQ(b.Bits()[i] >> 24, 0xFFu);
  }
}

// Reads a binary PPM (P6, maxval 255) independently of the loaders.
std::vector<std::uint8_t> ReadPpm(const std::filesystem::path& p, int& w, int& h) {
  const auto bytes = ReadBytes(p);
  std::size_t i = 2;
  int values[3] = {};
  for (int& v : values) {
    while (std::isspace(bytes[i]) || bytes[i] == '#') {
      if (bytes[i] == '#')
        while (bytes[i] != '\n') ++i;
      ++i;
    }
    while (std::isdigit(bytes[i])) v = v * 10 + (bytes[i++] - '0');
  }
  w = values[0];
  h = values[1];
  return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(i + 1), bytes.end());
}

TEST(PictureJpegTest, ColoursAgreeWithReferences) {
  REQUIRE_CORPUS();
  int w = 0, h = 0;
  const auto ppm = ReadPpm(TestData("libjpeg-turbo/testorig.ppm"), w, h);
  TBitmap32 b;
  LoadFromFile(b, TestData("libjpeg-turbo/testorig.jpg").string());
  ASSERT_EQ(b.Width(), w);
  ASSERT_EQ(b.Height(), h);
  ASSERT_EQ(ppm.size(), static_cast<std::size_t>(w) * h * 3);
  long double sum = 0;
  int worst = 0;
  for (std::size_t i = 0; i < b.PixelCount(); ++i) {
    const TColor32 c = b.Bits()[i];
    const int d[3] = {std::abs(static_cast<int>((c >> 16) & 0xFF) - ppm[3 * i]),
                      std::abs(static_cast<int>((c >> 8) & 0xFF) - ppm[3 * i + 1]),
                      std::abs(static_cast<int>(c & 0xFF) - ppm[3 * i + 2])};
    for (int x : d) sum += x, worst = std::max(worst, x);
  }
  // Floating-point IDCT and block smoothing differ a little from the reference's integer decoder.
  EXPECT_LE(worst, 12);
  EXPECT_LT(sum / (3.0L * b.PixelCount()), 1.0L);

  // Arithmetic and Huffman coding of the same coefficients decode to the same pixels.
  TBitmap32 huffman, arithmetic;
  LoadFromFile(huffman, TestData("libjpeg-turbo/testimgint.jpg").string());
  LoadFromFile(arithmetic, TestData("libjpeg-turbo/testimgari.jpg").string());
  ASSERT_EQ(huffman.PixelCount(), arithmetic.PixelCount());
  EXPECT_TRUE(std::equal(huffman.Bits(), huffman.Bits() + huffman.PixelCount(), arithmetic.Bits()));

  // A CMYK (Adobe) file shows the colours of its RGB twin.
  TBitmap32 cmyk, rgb;
  LoadFromFile(cmyk, TestData("pillow/jpeg/pil_sample_cmyk.jpg").string());
  LoadFromFile(rgb, TestData("pillow/jpeg/pil_sample_rgb.jpg").string());
  ASSERT_EQ(cmyk.PixelCount(), rgb.PixelCount());
  long double diff = 0;
  for (std::size_t i = 0; i < rgb.PixelCount(); ++i)
    for (int s = 0; s <= 16; s += 8)
      diff += std::abs(static_cast<int>((cmyk.Bits()[i] >> s) & 0xFF) - static_cast<int>((rgb.Bits()[i] >> s) & 0xFF));
  EXPECT_LT(diff / (3.0L * rgb.PixelCount()), 8.0L);

  // Greyscale keeps every level: grey pixels, opaque, more than 236 distinct values possible.
  TBitmap32 grey;
  LoadFromFile(grey, TestData("pillow/jpeg/hopper_gray.jpg").string());
  std::set<int> levels;
  for (std::size_t i = 0; i < grey.PixelCount(); ++i) {
    const TColor32 c = grey.Bits()[i];
    ASSERT_EQ(c >> 24, 0xFFu);
    ASSERT_EQ((c >> 16) & 0xFF, c & 0xFF);
    ASSERT_EQ((c >> 8) & 0xFF, c & 0xFF);
    levels.insert(static_cast<int>(c & 0xFF));
  }
  EXPECT_GT(levels.size(), 200u);
}

// The tRNS colour of a truecolour PNG, read straight from the file.
TColor32 TrnsColour(const std::vector<std::uint8_t>& png) {
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::size_t len = (std::size_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
    if (std::equal(png.begin() + static_cast<std::ptrdiff_t>(at + 4), png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                   "tRNS")) {
      const std::uint8_t* d = &png[at + 8];
      return raster::Color32(d[1], d[3], d[5], 0);  // 8-bit samples in 16-bit fields
    }
    at += 12 + len;
  }
  return 0xFFFFFFFFu;
}

TEST(PicturePngTest, EveryKindOfTransparencyIsKept) {
  REQUIRE_CORPUS();
  // Truecolour with a tRNS colour: exactly the pixels of that colour are transparent.
  const auto path = TestData("pngsuite/tbrn2c08.png");
  const TColor32 key = TrnsColour(ReadBytes(path));
  ASSERT_NE(key, 0xFFFFFFFFu);
  TBitmap32 b;
  LoadFromFile(b, path.string());
  std::size_t transparent = 0;
  for (std::size_t i = 0; i < b.PixelCount(); ++i) {
    const TColor32 c = b.Bits()[i];
    EXPECT_EQ(c >> 24, (c & 0x00FFFFFFu) == key ? 0u : 255u);
    transparent += (c >> 24) == 0;
  }
  EXPECT_GT(transparent, 0u);

  auto alphas = [](const std::string& file) {
    TBitmap32 p;
    LoadFromFile(p, TestData(file).string());
    std::set<std::uint32_t> a;
    for (std::size_t i = 0; i < p.PixelCount(); ++i) a.insert(p.Bits()[i] >> 24);
    return a;
  };
  EXPECT_TRUE(alphas("pngsuite/tbbn3p08.png").count(0));     // palette transparency
  EXPECT_GT(alphas("pngsuite/basn4a08.png").size(), 16u);  // greyscale with alpha
  EXPECT_GT(alphas("pngsuite/basn6a08.png").size(), 16u);  // truecolour with alpha
  EXPECT_EQ(alphas("pngsuite/basn2c08.png"), std::set<std::uint32_t>{255u});
  EXPECT_TRUE(alphas("pillow/gif/transparent.gif").count(0));  // GIF transparent index
}

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

TEST(PictureSizeLimitTest, HugeHeadersAreRefusedBeforePixels) {
  // PNG: a header claiming 65535 x 65535 followed by nothing useful.
  TBytes png;
  png.Bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
  png.Bytes({0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 8, 6, 0, 0, 0});
  const std::uint32_t crc = Crc32(&png.Data[12], 17);
  png.Bytes({static_cast<std::uint8_t>(crc >> 24), static_cast<std::uint8_t>(crc >> 16),
             static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)});
  png.Bytes({0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
  const std::string side = "A picture may have at most 16384 pixels a side. ";
  const std::string hugePng = WriteScratch("huge.png", png.Data);
  EXPECT_EQ(AfterFileName(ErrorOf(hugePng), hugePng), side + "Picture is too large (65535 x 65535)");

  // GIF: logical screen and frame of 20000 x 10.
  TBytes gif;
  gif.Bytes({'G', 'I', 'F', '8', '9', 'a'}).U16(20000).U16(10).U8(0).U8(0).U8(0);
  gif.U8(0x2C).U16(0).U16(0).U16(20000).U16(10).U8(0).U8(2).U8(2).U8(0x4C).U8(0x01).U8(0).U8(0x3B);
  const std::string hugeGif = WriteScratch("huge.gif", gif.Data);
  EXPECT_EQ(AfterFileName(ErrorOf(hugeGif), hugeGif), side + "Picture is too large (20000 x 10)");

  if (!HaveTestData()) return;
  // JPEG: the frame header of a real file patched to 16000 x 9000 (144 million pixels).
  auto jpeg = ReadBytes(TestData("libjpeg-turbo/testorig.jpg"));
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC1)) {
      jpeg[i + 5] = 9000 >> 8, jpeg[i + 6] = 9000 & 0xFF, jpeg[i + 7] = 16000 >> 8, jpeg[i + 8] = 16000 & 0xFF;
      break;
    }
  const std::string hugeJpeg = WriteScratch("huge.jpg", jpeg);
  EXPECT_EQ(AfterFileName(ErrorOf(hugeJpeg), hugeJpeg),
            "A picture may have at most 50 million pixels; this one has 144 million. Picture is too large (16000 x 9000)");
}

}  // namespace
}  // namespace quirlon::imagefiles

namespace quirlon::imagefiles {
namespace {

// A 32-bit BMP of w x h filled with c (our own writer; alpha kept).
std::string WriteFilledBmp(const std::string& name, int w, int h, TColor32 c) {
  TBitmap32 b;
  b.SetSize(w, h);
  b.Clear(c);
  return WriteScratch(name, EncodeBmp(b, 96));
}

TEST(PictureCacheTest, DecodesOnceWhileTheFileStaysAsItWas) {
  TPictureCache cache;
  const std::string file = WriteFilledBmp("cached.bmp", 5, 4, 0xFF102030u);
  const auto first = cache.Load(file);
  EXPECT_EQ(cache.Load(file), first);  // the same decoded picture, not a second decode
  TBitmap32 b;
  LoadFromFile(b, file, cache);
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.PixelAt(4, 3), 0xFF102030u);

  // Rewritten (another size and so another length): read again.
  WriteFilledBmp("cached.bmp", 7, 4, 0xFF405060u);
  LoadFromFile(b, file, cache);
  EXPECT_EQ(b.Width(), 7);
  EXPECT_EQ(b.PixelAt(6, 3), 0xFF405060u);

  // Same length, and the old modification time put back (as cp -p does): still read again.
  const auto stamp = std::filesystem::last_write_time(file);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the clock's coarsest tick
  WriteFilledBmp("cached.bmp", 7, 4, 0xFF708090u);
  std::filesystem::last_write_time(file, stamp);
  LoadFromFile(b, file, cache);
  EXPECT_EQ(b.PixelAt(0, 0), 0xFF708090u);
  EXPECT_EQ(cache.Count(), 1u);

  // Gone: the error of a plain load, and nothing kept.
  std::filesystem::remove(file);
  try {
    LoadFromFile(b, file, cache);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + file + "\". No such file or directory");
  }
  EXPECT_EQ(b.PixelAt(0, 0), 0xFF708090u);  // the bitmap keeps what it had
  EXPECT_EQ(cache.Count(), 0u);
}

// A 24-bit BMP of W x H pixels (no alpha in the file: Assign sets it), bottom row first.
std::vector<std::uint8_t> Bmp24(std::int32_t W, std::int32_t H) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(W) * 3 + 3) & ~3u;
  const std::uint32_t pixels = stride * static_cast<std::uint32_t>(H);
  TBytes b;
  b.U8('B').U8('M').U32(54 + pixels).U32(0).U32(54);
  b.U32(40).U32(static_cast<std::uint32_t>(W)).U32(static_cast<std::uint32_t>(H)).U16(1).U16(24).U32(0).U32(pixels);
  b.U32(0).U32(0).U32(0).U32(0);
  for (std::int32_t y = 0; y < H; ++y) {
    for (std::int32_t x = 0; x < W; ++x) {
      const std::uint32_t bgr = 0x102030u + 0x111111u * static_cast<std::uint32_t>(x + y * W);
      b.U16(bgr).U8(bgr >> 16);
    }
    for (std::uint32_t pad = static_cast<std::uint32_t>(W) * 3; pad < stride; ++pad) b.U8(0);
  }
  return b.Data;
}

// A picture taken from the cache is shared, not copied, where Assign would leave its pixels as they
// are (PNG, and JPEG, whose decoder writes opaque alpha itself), and copied where Assign converts
// (a 24-bit BMP, alpha to be set): either way the bitmap holds what a load without the cache gives.
TEST(PictureCacheTest, PicturesNeedingNoConversionAreSharedNotCopied) {
  TBitmap32 art;
  art.SetSize(37, 23);
  for (std::int32_t y = 0; y < art.Height(); ++y)
    for (std::int32_t x = 0; x < art.Width(); ++x)
      art.PixelRef(x, y) = raster::Color32(x * 7, y * 11, (x * y) % 256, x < 5 ? 128 : 255);
  struct TCase {
    std::string File;
    bool Shared;
  };
  const TCase cases[] = {{WriteScratch("shared.png", EncodePng(art, 72)), true},
                         {WriteScratch("shared.jpg", EncodeJpg(art, 72)), true},
                         {WriteScratch("copied.bmp", Bmp24(3, 2)), false}};
  TPictureCache cache;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.File);
    TBitmap32 plain;
    LoadFromFile(plain, c.File);
    TBitmap32 cached;
    LoadFromFile(cached, c.File, cache);
    EXPECT_EQ(cached.SharesPixels(), c.Shared);
    ASSERT_EQ(cached.Width(), plain.Width());
    ASSERT_EQ(cached.Height(), plain.Height());
    const TBitmap32& view = cached;
    EXPECT_TRUE(std::equal(view.Bits(), view.Bits() + view.PixelCount(), plain.Bits()));
    // Drawing on one bitmap leaves the picture the next one gets alone.
    cached.Clear(0xFF00FF00u);
    TBitmap32 again;
    LoadFromFile(again, c.File, cache);
    EXPECT_TRUE(std::equal(again.Bits(), again.Bits() + again.PixelCount(), plain.Bits()));
  }
}

TEST(PictureCacheTest, ErrorsAreNotKeptAndTheLimitHolds) {
  TPictureCache cache(2 * (100 * 100 * 4) + 1000);
  const std::string bad = WriteScratch("bad-cached.bmp", {1, 2, 3});
  TBitmap32 b;
  for (int i = 0; i < 2; ++i) {
    try {
      LoadFromFile(b, bad, cache);
      FAIL();
    } catch (const Exception& e) {
      EXPECT_EQ(AfterFileName(e.what(), bad), std::string("The file does not start with a bitmap header. ") + kInvalidBitmap);
    }
  }
  EXPECT_EQ(cache.Count(), 0u);
  const std::string a = WriteFilledBmp("a-cached.bmp", 100, 100, 0xFF000001u);
  const std::string c = WriteFilledBmp("c-cached.bmp", 100, 100, 0xFF000002u);
  const std::string d = WriteFilledBmp("d-cached.bmp", 100, 100, 0xFF000003u);
  const auto pa = cache.Load(a);
  cache.Load(c);
  cache.Load(a);  // a is now the most recently used
  cache.Load(d);  // room for two: c goes
  EXPECT_EQ(cache.Count(), 2u);
  EXPECT_EQ(cache.Load(a), pa);
  // The pixel limit is the caller's: a kept picture over a lower limit is refused as its decoder
  // refuses it, and a limit on one thread does not reach a load on another.
  std::string refused;
  try {
    cache.Load(a, 9999);
  } catch (const EInvalidGraphic& e) {
    refused = e.what();
  }
  EXPECT_EQ(refused, "Picture \"" + a + "\": A picture may have at most 0 million pixels; this one has 1 million. "
                     "Picture is too large (100 x 100)");
  EXPECT_THROW(LoadFromFile(b, c, 9999), EInvalidGraphic);
  std::thread other([&] { EXPECT_EQ(cache.Load(a), pa); });
  other.join();
  EXPECT_EQ(cache.Load(a, 10000), pa);
}

}  // namespace
}  // namespace quirlon::imagefiles

namespace quirlon::imagefiles {
namespace {

TEST(PictureCacheTest, TooLargeToKeepIsSharedWhileHeld) {
  TPictureCache cache(1000);  // less than any picture below
  const std::string big = WriteFilledBmp("big-cached.bmp", 100, 100, 0xFF000004u);
  const auto first = cache.Load(big);
  EXPECT_EQ(cache.Count(), 0u);
  // The second layer that shows it gets the same picture, decoded once.
  EXPECT_EQ(cache.Load(big), first);
  // A changed file is read again even while the old picture is held.
  WriteFilledBmp("big-cached.bmp", 100, 99, 0xFF000005u);
  const auto changed = cache.Load(big);
  EXPECT_NE(changed, first);
  EXPECT_EQ(changed->Height, 99);
  EXPECT_EQ(first->Height, 100);
}

}  // namespace
}  // namespace quirlon::imagefiles
