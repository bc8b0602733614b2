// Source pictures through the real quirlon-render: special files refused at once, PostScript never
// interpreted, formats told by their content, load errors that name the file, and decompression
// bombs refused before they take memory. Each run is wrapped in `timeout`, so a hang fails the test.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/ScratchFolder.h"
#include "tests/cli/RunRender.h"
#include "tests/support/ZeroPng.h"

namespace quirlon::cli {
namespace {

using testing::ScratchFolder;
namespace fs = std::filesystem;

using TTimedResult = TMeasuredRun;

// quirlon-render with Args in Dir, killed after 60 s; Environment goes in front ("PATH=... TMPDIR=...").
TTimedResult RunTimed(const ScratchFolder& dir, const std::string& args, const std::string& environment = "") {
  return RunRenderMeasured(dir, args, environment, 60);
}

// Seconds a refusal may take: no reading, no decoding (sanitizer builds start slowly).
constexpr double kAtOnce = 10.0;

TEST(PictureFilesTest, SpecialFilesAreRefusedAtOnce) {
  ScratchFolder dir;
  ASSERT_EQ(::mkfifo(dir.PathOf("pipe.png").c_str(), 0600), 0);
  fs::create_directories(dir.PathOf("custom"));
  ASSERT_EQ(::mkfifo(dir.PathOf("custom/pipe.bmp").c_str(), 0600), 0);
  fs::create_directories(dir.PathOf("tpl"));
  dir.Write("tpl/custom.ini", "[Image]\nwidth=200\nheight=200\n[Layer1]\ntype=customfile\nsource=pipe.bmp\n"
                              "A.X=10\nA.Y=10\nB.X=190\nB.Y=10\nC.X=190\nC.Y=190\nD.X=10\nD.Y=190\n");
  fs::create_symlink("/dev/zero", dir.PathOf("zero.png"));
  fs::create_symlink("/dev/urandom", dir.PathOf("random.jpg"));
  struct TCase {
    std::string Args, File;
  };
  const std::vector<TCase> cases = {
      {"--source front=pipe.png", "pipe.png"},
      {"--templates tpl -t custom", "custom/pipe.bmp"},
      {"--source front=/dev/zero", "/dev/zero"},
      {"--source side=/dev/urandom", "/dev/urandom"},
      {"--source front=zero.png", "zero.png"},
      {"--source background=random.jpg", "random.jpg"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args);
    const TTimedResult r = RunTimed(dir, c.Args + " -o out.png");
    EXPECT_EQ(r.Result.Status, 1);
    EXPECT_TRUE(r.Result.Err.ends_with(c.File + "\". Not a regular file.\n")) << r.Result.Err;
    EXPECT_EQ(r.Result.Err.rfind("Cannot open file \"", 0), 0u) << r.Result.Err;
    EXPECT_LT(r.Seconds, kAtOnce);
    EXPECT_FALSE(fs::exists(dir.PathOf("out.png")));
  }
}

// A program named `gs` first on the path that would leave a mark, and a temporary folder of our own.
struct TPostScriptTrap {
  ScratchFolder& Dir;
  std::string Environment;
  explicit TPostScriptTrap(ScratchFolder& dir) : Dir(dir) {
    fs::create_directories(dir.PathOf("bin"));
    fs::create_directories(dir.PathOf("tmp"));
    dir.Write("bin/gs", "#!/bin/sh\ntouch " + Quote(dir.PathOf("gs-ran")) + "\nexec /usr/bin/gs \"$@\"\n");
    fs::permissions(dir.PathOf("bin/gs"), fs::perms::owner_all);
    Environment = "PATH=" + Quote(dir.PathOf("bin")) + ":\"$PATH\" TMPDIR=" + Quote(dir.PathOf("tmp")) +
                  " MAGICK_TEMPORARY_PATH=" + Quote(dir.PathOf("tmp"));
  }
  bool GhostscriptRan() const { return fs::exists(Dir.PathOf("gs-ran")); }
  bool TemporaryFolderEmpty() const { return fs::is_empty(Dir.PathOf("tmp")); }
};

TEST(PictureFilesTest, PostScriptNeverRuns) {
  ScratchFolder dir;
  const TPostScriptTrap trap(dir);
  const std::string loop = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 100 100\n{} loop\n";
  const std::string writes = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 100 100\n(" + dir.PathOf("tmp/written") +
                             ") (w) file dup (owned) writestring closefile\nshowpage\n";
  // The EPS name, and the names of formats ImageMagick reads: the content decides either way.
  for (const char* name : {"loop.eps", "writes.eps", "loop.pcx", "writes.ppm", "loop.fax", "writes.cut", "loop.tga"}) {
    SCOPED_TRACE(name);
    dir.Write(name, std::string(name).starts_with("loop") ? loop : writes);
    const TTimedResult r = RunTimed(dir, std::string("--source front=") + name + " -o out.png", trap.Environment);
    EXPECT_EQ(r.Result.Status, 1);
    EXPECT_EQ(r.Result.Err, std::string("Picture \"") + name +
                                "\": Cannot load image. Encapsulated Postscript images are not supported on this system.\n");
    EXPECT_LT(r.Seconds, kAtOnce);
    EXPECT_FALSE(trap.GhostscriptRan());
    EXPECT_TRUE(trap.TemporaryFolderEmpty());
  }

  // ImageMagick still reads what it is there for, and leaves nothing behind either: a Photoshop file.
  std::string psd = std::string("8BPS\0\1\0\0\0\0\0\0\0\3\0\0\0\2\0\0\0\2\0\x08\0\3", 26) + std::string(12, '\0') +
                    std::string("\0\0", 2) + std::string(4, '\xC8') + std::string(4, '\x10') + std::string(4, '\x20');
  dir.Write("art.psd", psd);
  const TTimedResult r = RunTimed(dir, "--source front=art.psd -o out.png", trap.Environment);
  EXPECT_EQ(r.Result.Status, 0) << r.Result.Err;
  EXPECT_FALSE(trap.GhostscriptRan());
  EXPECT_TRUE(trap.TemporaryFolderEmpty());
}

// An 8-bit run-length bitmap of Width x Height that ends at once: every pixel is colour 0.
std::string RleBmp(std::uint32_t width, std::uint32_t height) {
  std::string s;
  auto le = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
  };
  const std::uint32_t bitsAt = 14 + 40 + 1024;
  s += "BM";
  le(bitsAt + 2, 4), le(0, 4), le(bitsAt, 4);
  le(40, 4), le(width, 4), le(height, 4), le(1, 2), le(8, 2), le(1, 4), le(2, 4), le(2835, 4), le(2835, 4), le(256, 4),
      le(0, 4);
  for (int i = 0; i < 256; ++i) le(static_cast<std::uint32_t>(i) * 0x010101u, 4);
  s += std::string("\0\1", 2);
  return s;
}

TEST(PictureFilesTest, BombsAreRefusedBeforeTheyTakeMemory) {
  ScratchFolder dir;
  const std::string png = testing::ZeroGreyPng(11000, 11000, 11000), bmp = RleBmp(11000, 11000);
  EXPECT_LT(png.size(), 130u * 1024);
  EXPECT_LT(bmp.size(), 1100u);
  dir.Write("bomb.png", png);
  dir.Write("bomb.bmp", bmp);
  const std::string tooLarge =
      "\": A picture may have at most 50 million pixels; this one has 121 million. Picture is too large (11000 x 11000)\n";
  for (const char* name : {"bomb.png", "bomb.bmp"}) {
    SCOPED_TRACE(name);
    const TTimedResult r = RunTimed(dir, std::string("-t 1 --source front=") + name + " -o out.png");
    EXPECT_EQ(r.Result.Status, 1);
    EXPECT_EQ(r.Result.Err, std::string("Picture \"") + name + tooLarge);
    EXPECT_LT(r.Seconds, kAtOnce);
    // The picture would take 484 MB four bytes a pixel, several times over on its way to the layer.
    EXPECT_LT(r.PeakKilobytes, 150 * 1024);
  }
  // The limit is the user's to lower (or raise up to 128 million pixels).
  dir.Write("small.bmp", RleBmp(3000, 2000));
  TTimedResult r = RunTimed(dir, "--source front=small.bmp --max-megapixels 5 -o out.png");
  EXPECT_EQ(r.Result.Status, 1);
  EXPECT_EQ(r.Result.Err, "Picture \"small.bmp\": A picture may have at most 5 million pixels; this one has 6 million. "
                          "Picture is too large (3000 x 2000)\n");
  r = RunTimed(dir, "--source front=small.bmp --max-megapixels 6 -o out.png");
  EXPECT_EQ(r.Result.Status, 0) << r.Result.Err;
  r = RunTimed(dir, "--source front=small.bmp --max-megapixels 129 -o out.png");
  EXPECT_EQ(r.Result.Status, 2);
  EXPECT_EQ(r.Result.Err, "quirlon-render: --max-megapixels takes a whole number from 1 to 128, not '129'\n");
}

TEST(PictureFilesTest, ContentDecidesAndErrorsNameTheFile) {
  ScratchFolder dir;
  // A picture written by the renderer itself, then the same bytes under other names.
  ASSERT_EQ(RunTimed(dir, "-t 1 --width 64 --height 48 -o art.png").Result.Status, 0);
  const std::string png = ReadText(dir.PathOf("art.png"));
  ASSERT_EQ(RunTimed(dir, "-t 1 --width 64 --height 48 -o art.jpg").Result.Status, 0);
  const std::string jpeg = ReadText(dir.PathOf("art.jpg"));
  dir.Write("png-named.jpg", png);
  dir.Write("jpeg-named.png", jpeg);
  dir.Write("png-named.tga", png);
  for (const char* name : {"png-named.jpg", "jpeg-named.png", "png-named.tga"}) {
    const TTimedResult r = RunTimed(dir, std::string("--source front=") + name + " -o out.png");
    EXPECT_EQ(r.Result.Status, 0) << name << ": " << r.Result.Err;
  }

  // Not a TIFF under a TIFF name: said so, never decoded as fax dots.
  dir.Write("noise.tif", std::string(4096, '\x5A'));
  dir.Write("cut.jpg", jpeg.substr(0, jpeg.size() / 2));
  dir.Write("notes.txt", "hello");
  struct TCase {
    std::string File, Err;
  };
  const std::vector<TCase> cases = {
      {"noise.tif", "Picture \"noise.tif\": The file does not start with a TIFF header. "
                    "Cannot load image. Invalid or unexpected TIFF image format.\n"},
      {"cut.jpg", "Picture \"cut.jpg\": Premature end of JPEG file. JPEG error #120.\n"},
      {"notes.txt", "Picture \"notes.txt\": Unknown picture file extension (.txt)\n"}};
  for (const TCase& c : cases) {
    const TTimedResult r = RunTimed(dir, "--source front=" + c.File + " -o out.png");
    EXPECT_EQ(r.Result.Status, 1);
    EXPECT_EQ(r.Result.Err, c.Err);
  }
}

// The vector formats designers deliver, written here as text, as the front picture of a render:
// the picture shows (its flat colour reaches the saved file), and an oversized or protected
// document is refused with its name.
TEST(PictureFilesTest, VectorSourcesRenderAndBadOnesNameTheFile) {
  ScratchFolder dir;
  dir.Write("cover.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"30\" height=\"40\">"
                         "<rect width=\"30\" height=\"40\" fill=\"#ff0000\"/></svg>");
  const std::string page = "1 0 0 rg 0 0 300 400 re f";
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> at;
  for (const std::string& object :
       {std::string("<< /Type /Catalog /Pages 2 0 R >>"), std::string("<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
        std::string("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents 4 0 R >>"),
        "<< /Length " + std::to_string(page.size()) + " >>\nstream\n" + page + "\nendstream"}) {
    at.push_back(pdf.size());
    pdf += std::to_string(at.size()) + " 0 obj\n" + object + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 5\n0000000000 65535 f \n";
  for (std::size_t offset : at) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  dir.Write("cover.pdf", pdf);
  for (const char* name : {"cover.svg", "cover.pdf"}) {
    SCOPED_TRACE(name);
    const TTimedResult r = RunTimed(dir, std::string("-t 1 --width 320 --height 240 --source front=") + name + " -o out.png");
    ASSERT_EQ(r.Result.Status, 0) << r.Result.Err;
    const TRgbaPicture out = DecodePng(dir.PathOf("out.png"));
    int red = 0;
    for (std::uint32_t y = 0; y < out.Height; ++y)
      for (std::uint32_t x = 0; x < out.Width; ++x) {
        const std::uint8_t* p = out.At(x, y);
        red += p[0] > 200 && p[1] < 40 && p[2] < 40;
      }
    EXPECT_GT(red, 2000);  // the front face, a good part of the 320 x 240 picture
  }
  dir.Write("huge.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100000\" height=\"10\"/>");
  const TTimedResult r = RunTimed(dir, "-t 1 --source front=huge.svg -o out.png");
  EXPECT_EQ(r.Result.Status, 1);
  EXPECT_EQ(r.Result.Err, "Picture \"huge.svg\": A picture may have at most 16384 pixels a side. "
                          "Picture is too large (100000 x 10)\n");
  EXPECT_LT(r.Seconds, kAtOnce);
}

// The heavy libraries start only when a picture needs one of them: the dynamic loader's own log
// (LD_DEBUG) lists every library a run opens. A render of PNG and BMP sources opens none of them;
// an SVG source opens librsvg, and nothing else of the module's.
TEST(PictureFilesTest, HeavyLibrariesStartOnlyForThePicturesThatNeedThem) {
  ScratchFolder dir;
  dir.Write("cover.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"30\" height=\"40\">"
                         "<rect width=\"30\" height=\"40\" fill=\"#00ff00\"/></svg>");
  ASSERT_EQ(RunRender(dir, "-t 1 --width 120 --height 90 -o side.bmp").Status, 0);
  ASSERT_EQ(RunRender(dir, "-t 1 --width 120 --height 90 -o front.png").Status, 0);
  const auto opened = [&](const std::string& sources) {
    const TResult r = RunRender(dir, "-t 1 --width 120 --height 90 " + sources + " -o out.png", "LD_DEBUG=files");
    EXPECT_EQ(r.Status, 0) << r.Err;
    return r.Err;
  };
  const std::string plain = opened("--source front=front.png --source side=side.bmp");
  for (const char* heavy : {"libMagickCore", "libheif", "librsvg", "libpoppler", "libcairo", "libquirlon-codecs"})
    EXPECT_EQ(plain.find(heavy), std::string::npos) << heavy << " opened for PNG and BMP sources";
  const std::string vector = opened("--source front=cover.svg");
  EXPECT_NE(vector.find("librsvg"), std::string::npos);
  EXPECT_NE(vector.find("libquirlon-codecs"), std::string::npos);
}

}  // namespace
}  // namespace quirlon::cli
