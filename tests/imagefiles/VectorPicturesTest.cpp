// SVG and PDF sources written here as text, drawn through the real loader: sizes as hand-computed
// from the documents, flat colours exact away from their edges, nothing outside the document
// fetched, and oversized, protected or damaged documents refused with a message naming the file.
#include <gtest/gtest.h>

#include <png.h>

#include <memory>
#include <string>
#include <vector>

#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/imagefiles/TestFiles.h"

namespace quirlon::imagefiles {
namespace {

using testing::AfterFileName;
using testing::ScratchDir;
using testing::WriteScratch;

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string ErrorOf(const std::string& file, std::int64_t maxPixels = kDefaultPicturePixels) {
  TBitmap32 b;
  try {
    LoadFromFile(b, file, maxPixels);
  } catch (const Exception& e) {
    return AfterFileName(e.what(), file);
  }
  return "loaded";
}

std::unique_ptr<TBitmap32> Load(const std::string& name, const std::string& text,
                                std::int64_t maxPixels = kDefaultPicturePixels) {
  auto b = std::make_unique<TBitmap32>();
  LoadFromFile(*b, WriteScratch(name, Bytes(text)), maxPixels);
  return b;
}

const std::string kTwoRects =
    "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"40\" height=\"20\">"
    "<rect width=\"20\" height=\"20\" fill=\"#ff0000\"/>"
    "<rect x=\"20\" width=\"20\" height=\"10\" fill=\"#0000ff\" fill-opacity=\"0.5\"/></svg>\n";

TEST(SvgTest, DrawnScaledUpToTheLongSideWithAlpha) {
  // 40 x 20 CSS pixels, scaled by 2048 / 40 = 51.2.
  for (const char* name : {"logo.svg", "logo.SVG", "logo.png"}) {
    const auto bOwned = Load(name, kTwoRects);
    const TBitmap32& b = *bOwned;
    ASSERT_EQ(b.Width(), 2048) << name;
    ASSERT_EQ(b.Height(), 1024) << name;
    EXPECT_EQ(b.PixelAt(512, 512), 0xFFFF0000u);
    const TColor32 blue = b.PixelAt(1536, 256);
    EXPECT_TRUE((blue >> 24) == 127 || (blue >> 24) == 128) << std::hex << blue;
    EXPECT_EQ(blue & 0xFFFFFFu, 0x0000FFu) << std::hex << blue;
    EXPECT_EQ(b.PixelAt(1536, 768), 0u);
  }
  // A view box alone gives the proportions: 30 x 10 becomes 2048 x 683 (682.7 rounded).
  const auto boxOwned = Load("box.svg",
                             "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 30 10\">"
                             "<rect width=\"30\" height=\"10\" fill=\"#00ff00\"/></svg>");
  const TBitmap32& box = *boxOwned;
  EXPECT_EQ(box.Width(), 2048);
  EXPECT_EQ(box.Height(), 683);
  EXPECT_EQ(box.PixelAt(1000, 300), 0xFF00FF00u);
  // A picture already larger than the long side keeps its own size.
  const auto bigOwned = Load("big.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"3000\" height=\"10\"/>");
  const TBitmap32& big = *bigOwned;
  EXPECT_EQ(big.Width(), 3000);
  EXPECT_EQ(big.Height(), 10);
}

TEST(SvgTest, ReferencesOutsideTheDocumentAreNotRead) {
  // An opaque white PNG beside the document, named by an absolute URL and by a relative name.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = image.height = 4;
  image.format = PNG_FORMAT_RGBA;
  const std::vector<std::uint8_t> white(64, 255);
  const std::string png = (ScratchDir() / "white.png").string();
  ASSERT_TRUE(png_image_write_to_file(&image, png.c_str(), 0, white.data(), 0, nullptr));
  const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                          "width=\"20\" height=\"10\">"
                          "<image width=\"10\" height=\"10\" xlink:href=\"file://" + png + "\"/>"
                          "<image x=\"10\" width=\"10\" height=\"10\" xlink:href=\"white.png\"/></svg>";
  const auto bOwned = Load("refs.svg", svg);
  const TBitmap32& b = *bOwned;
  ASSERT_EQ(b.Width(), 2048);
  for (int x : {256, 512, 1536, 1800}) EXPECT_EQ(b.PixelAt(x, 512), 0u) << x;

  // The same picture inside the document, as a data: URL, is drawn: images as such do draw.
  const std::vector<std::uint8_t> bytes = testing::ReadBytes(png);
  const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string base64;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::uint32_t n = (bytes[i] << 16) | ((i + 1 < bytes.size() ? bytes[i + 1] : 0) << 8) |
                            (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    base64 += digits[n >> 18], base64 += digits[(n >> 12) & 63];
    base64 += i + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
    base64 += i + 2 < bytes.size() ? digits[n & 63] : '=';
  }
  const auto inlineOwned = Load("inline.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" "
                                               "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"20\" height=\"10\">"
                                               "<image width=\"10\" height=\"10\" xlink:href=\"data:image/png;base64," +
                                                   base64 + "\"/></svg>");
  EXPECT_EQ(inlineOwned->PixelAt(512, 512), 0xFFFFFFFFu);
  EXPECT_EQ(inlineOwned->PixelAt(1536, 512), 0u);
}

TEST(SvgTest, OversizedAndDamagedDocumentsAreRefused) {
  EXPECT_EQ(ErrorOf(WriteScratch("wide.svg", Bytes("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"20000\" height=\"10\"/>"))),
            "A picture may have at most 16384 pixels a side. Picture is too large (20000 x 10)");
  EXPECT_EQ(ErrorOf(WriteScratch("many.svg", Bytes("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9000\" height=\"9000\"/>"))),
            "A picture may have at most 50 million pixels; this one has 81 million. Picture is too large (9000 x 9000)");
  const std::string fixed = ". Cannot load image. Invalid or unexpected SVG image format.";
  for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
           {"cut.svg", kTwoRects.substr(0, 120)},
           {"nosize.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"><rect width=\"5\" height=\"5\"/></svg>"},
           {"text.svg", "just words, no markup"},
           {"empty.svg", ""}}) {
    const std::string message = ErrorOf(WriteScratch(name, Bytes(text)));
    EXPECT_TRUE(message.ends_with(fixed) && message.size() > fixed.size() + 5) << name << ": " << message;
  }
}

// A one-page PDF with its cross-reference table at the right offsets.
std::string Pdf(const std::string& pageExtra, const std::string& mediaBox, const std::string& content,
                const std::string& trailerExtra = "", const std::vector<std::string>& moreObjects = {}) {
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [" + mediaBox + "] /Contents 4 0 R" + pageExtra + " >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream"};
  objects.insert(objects.end(), moreObjects.begin(), moreObjects.end());
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" + trailerExtra + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

// 144 x 72 points: the left half red, the top right quarter blue, the rest bare paper.
const std::string kQuarters = "1 0 0 rg 0 0 72 72 re f 0 0 1 rg 72 36 72 36 re f";

TEST(PdfTest, FirstPageAt300DpiOnWhitePaper) {
  for (const char* name : {"cover.pdf", "cover.PDF", "cover.jpg"}) {
    const auto bOwned = Load(name, Pdf("", "0 0 144 72", kQuarters));
    const TBitmap32& b = *bOwned;
    ASSERT_EQ(b.Width(), 600) << name;  // 2 inches at 300 dpi
    ASSERT_EQ(b.Height(), 300) << name;
    EXPECT_EQ(b.PixelAt(150, 150), 0xFFFF0000u);
    EXPECT_EQ(b.PixelAt(450, 75), 0xFF0000FFu);
    EXPECT_EQ(b.PixelAt(450, 225), 0xFFFFFFFFu);
  }
  // Turned a quarter clockwise by the page: the red half on top, the blue quarter bottom right.
  const auto turnedOwned = Load("turned.pdf", Pdf(" /Rotate 90", "0 0 144 72", kQuarters));
  const TBitmap32& turned = *turnedOwned;
  ASSERT_EQ(turned.Width(), 300);
  ASSERT_EQ(turned.Height(), 600);
  EXPECT_EQ(turned.PixelAt(150, 150), 0xFFFF0000u);
  EXPECT_EQ(turned.PixelAt(225, 450), 0xFF0000FFu);
  EXPECT_EQ(turned.PixelAt(75, 450), 0xFFFFFFFFu);
}

TEST(PdfTest, LargePagesComeDownInResolutionOrAreRefused) {
  // 1000 x 500 points under a 2 million pixel limit: 144 dpi, 2000 x 1000.
  const auto bOwned = Load("poster.pdf", Pdf("", "0 0 1000 500", "0 1 0 rg 0 0 1000 500 re f"), 2'000'000);
  const TBitmap32& b = *bOwned;
  EXPECT_EQ(b.Width(), 2000);
  EXPECT_EQ(b.Height(), 1000);
  EXPECT_EQ(b.PixelAt(1000, 500), 0xFF00FF00u);
  // Over the limit even at one pixel a point.
  EXPECT_EQ(ErrorOf(WriteScratch("huge.pdf", Bytes(Pdf("", "0 0 14400 14400", "")))),
            "A picture may have at most 50 million pixels; this one has 208 million. Picture is too large (14400 x 14400)");
}

TEST(PdfTest, ProtectedAndDamagedDocumentsAreRefused) {
  const std::string hex32(64, 'A');
  const std::string encrypted =
      Pdf("", "0 0 144 72", kQuarters, " /Encrypt 5 0 R /ID [<0123456789ABCDEF0123456789ABCDEF> <0123456789ABCDEF0123456789ABCDEF>]",
          {"<< /Filter /Standard /V 1 /R 2 /O <" + hex32 + "> /U <" + hex32 + "> /P -4 >>"});
  EXPECT_EQ(ErrorOf(WriteScratch("locked.pdf", Bytes(encrypted))),
            "The document is protected by a password. Cannot load image. Invalid or unexpected PDF image format.");
  const std::string fixed = ". Cannot load image. Invalid or unexpected PDF image format.";
  for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
           {"noise.pdf", "%PDF-1.4\nnothing but noise here\n"}, {"empty.pdf", ""}, {"words.pdf", "not a document"}}) {
    const std::string message = ErrorOf(WriteScratch(name, Bytes(text)));
    EXPECT_TRUE(message.ends_with(fixed) && message.size() > fixed.size() + 5) << name << ": " << message;
  }
}

}  // namespace
}  // namespace quirlon::imagefiles
