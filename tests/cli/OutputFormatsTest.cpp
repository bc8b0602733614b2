// The picture formats quirlon-render writes, through the real executable: the name decides the
// format (or --format for standard output), and every file is read back with the format's own
// library (libpng, libjpeg, libwebp, libtiff) and compared with the flattened pixels, taken from
// the BMP output, whose rows are plain bytes.
#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <tiffio.h>
#include <webp/decode.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/ScratchFolder.h"
#include "tests/cli/RunRender.h"

namespace quirlon::cli {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const std::string kExtensionList = ".png, .jpg, .jpeg, .jpe, .jfif, .bmp, .dib, .webp, .tif, .tiff";

// What the first bytes say the file is, as file(1) would.
std::string MagicOf(const Bytes& f) {
  auto starts = [&](std::initializer_list<int> head) {
    if (f.size() < head.size()) return false;
    std::size_t i = 0;
    for (int b : head)
      if (b >= 0 && f[i++] != b) return false;
      else if (b < 0) ++i;
    return true;
  };
  if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return "png";
  if (starts({0xFF, 0xD8, 0xFF})) return "jpeg";
  if (starts({'B', 'M'})) return "bmp";
  if (starts({'R', 'I', 'F', 'F', -1, -1, -1, -1, 'W', 'E', 'B', 'P'})) return "webp";
  if (starts({'I', 'I', 42, 0}) || starts({'M', 'M', 0, 42})) return "tiff";
  return "unknown";
}

struct TPicture {
  int Width = 0, Height = 0;
  Bytes Rgba;  // R, G, B, A, top row first
};

// Our BMP: 54-byte header, 32-bit rows bottom first, B, G, R, A.
TPicture ReadBmp(const Bytes& f) {
  TPicture p;
  if (f.size() < 54) return p;
  auto le32 = [&](std::size_t at) { return std::int32_t(f[at] | f[at + 1] << 8 | f[at + 2] << 16 | f[at + 3] << 24); };
  p.Width = le32(18);
  p.Height = le32(22);
  if (f.size() != 54 + std::size_t(p.Width) * p.Height * 4) return TPicture{};
  for (int y = p.Height - 1; y >= 0; --y)
    for (int x = 0; x < p.Width; ++x) {
      const std::uint8_t* s = &f[54 + (std::size_t(y) * p.Width + x) * 4];
      p.Rgba.insert(p.Rgba.end(), {s[2], s[1], s[0], s[3]});
    }
  return p;
}

TPicture ReadPng(const std::string& path) {
  const TRgbaPicture d = DecodePng(path);
  return {int(d.Width), int(d.Height), d.Rgba};
}

struct TJpegFail {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

TPicture ReadJpeg(const Bytes& f) {
  TPicture p;
  jpeg_decompress_struct cinfo{};
  TJpegFail fail{};
  cinfo.err = jpeg_std_error(&fail.Manager);
  fail.Manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<TJpegFail*>(c->err)->Jump, 1); };
  if (setjmp(fail.Jump)) {
    jpeg_destroy_decompress(&cinfo);
    ADD_FAILURE() << "libjpeg refused the file";
    return TPicture{};
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, f.data(), static_cast<unsigned long>(f.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_RGBA;
  jpeg_start_decompress(&cinfo);
  p.Width = int(cinfo.output_width);
  p.Height = int(cinfo.output_height);
  p.Rgba.resize(std::size_t(p.Width) * p.Height * 4);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = p.Rgba.data() + std::size_t(cinfo.output_scanline) * p.Width * 4;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return p;
}

TPicture ReadWebP(const Bytes& f) {
  TPicture p;
  std::uint8_t* rgba = WebPDecodeRGBA(f.data(), f.size(), &p.Width, &p.Height);
  if (rgba == nullptr) {
    ADD_FAILURE() << "libwebp refused the file";
    return TPicture{};
  }
  p.Rgba.assign(rgba, rgba + std::size_t(p.Width) * p.Height * 4);
  WebPFree(rgba);
  return p;
}

// The stored samples row by row (libtiff's RGBA interface would premultiply), with the tags.
struct TTiffPicture : TPicture {
  std::uint16_t Samples = 0, Bits = 0, Compression = 0, ExtraType = 0, Unit = 0;
  float XResolution = 0, YResolution = 0;
};

TTiffPicture ReadTiff(const std::string& path) {
  TTiffPicture p;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) {
    ADD_FAILURE() << "libtiff refused " << path;
    return p;
  }
  std::uint32_t w = 0, h = 0;
  std::uint16_t extraCount = 0;
  std::uint16_t* extra = nullptr;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &p.Samples);
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &p.Bits);
  TIFFGetField(tiff, TIFFTAG_COMPRESSION, &p.Compression);
  if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount == 1) p.ExtraType = extra[0];
  TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &p.XResolution);
  TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &p.YResolution);
  TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &p.Unit);
  p.Width = int(w);
  p.Height = int(h);
  if (p.Samples == 4 && p.Bits == 8 && TIFFScanlineSize(tiff) == tmsize_t(w) * 4) {
    p.Rgba.resize(std::size_t(w) * h * 4);
    for (std::uint32_t y = 0; y < h; ++y)
      if (TIFFReadScanline(tiff, p.Rgba.data() + std::size_t(y) * w * 4, y, 0) != 1) ADD_FAILURE() << "row " << y;
  }
  TIFFClose(tiff);
  return p;
}

// Mean absolute difference of the colour channels, and whether the alphas match exactly.
double MeanColourError(const TPicture& a, const TPicture& b) {
  if (a.Rgba.size() != b.Rgba.size() || a.Rgba.empty()) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.Rgba.size(); ++i)
    if (i % 4 != 3) sum += std::abs(int(a.Rgba[i]) - int(b.Rgba[i]));
  return sum / (a.Rgba.size() / 4 * 3);
}

bool SameAlpha(const TPicture& a, const TPicture& b) {
  if (a.Rgba.size() != b.Rgba.size()) return false;
  for (std::size_t i = 3; i < a.Rgba.size(); i += 4)
    if (a.Rgba[i] != b.Rgba[i]) return false;
  return true;
}

const std::string kScene = "-t 1 --width 240 --height 180 --dpi 150";

// The name table: every registered extension in any case writes its format; any other name is a
// usage error that lists the extensions and leaves nothing behind.
TEST(OutputFormatsTest, TheNameChoosesTheFormat) {
  const struct {
    const char* Name;
    const char* Magic;  // "" for a refused name
  } cases[] = {
      {"box.png", "png"},   {"BOX.PNG", "png"},   {"box.jpg", "jpeg"},  {"box.JPEG", "jpeg"}, {"box.jpe", "jpeg"},
      {"box.Jfif", "jpeg"}, {"box.bmp", "bmp"},   {"box.DIB", "bmp"},   {"box.webp", "webp"}, {"box.WEBP", "webp"},
      {"box.tif", "tiff"},  {"box.TIFF", "tiff"}, {"box.gif", ""},      {"box", ""},          {"box.", ""},
      {"box.png.txt", ""},  {"box.tga", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ScratchFolder dir;
    const TResult r = RunRender(dir, "-t 1 --width 48 --height 36 -o " + Quote(c.Name));
    if (*c.Magic) {
      EXPECT_EQ(r.Status, 0) << r.Err;
      EXPECT_EQ(MagicOf(ScratchFolder::ReadBytes(dir.PathOf(c.Name))), c.Magic);
    } else {
      EXPECT_EQ(r.Status, 2);
      EXPECT_NE(r.Err.find("cannot tell the picture format from '" + std::string(c.Name) + "'"), std::string::npos) << r.Err;
      EXPECT_NE(r.Err.find(kExtensionList), std::string::npos) << r.Err;
      EXPECT_TRUE(dir.Entries().empty());
    }
  }
}

// libtiff and libwebp are not loaded at start, only by a run that reads or writes their formats
// (as the dynamic loader reports them): a PNG box shot maps neither.
TEST(OutputFormatsTest, TiffAndWebpLibrariesLoadOnlyForTheirPictures) {
  ScratchFolder dir;
  const TResult tiff = RunRender(dir, "-t 1 --width 48 --height 36 -o box.tif");
  ASSERT_EQ(tiff.Status, 0) << tiff.Err;
  const struct {
    std::string Args;
    bool Tiff, Webp;
  } cases[] = {
      {"-t 1 --width 48 --height 36 -o box.png", false, false},
      {"-t 1 --width 48 --height 36 -o box.webp", false, true},
      {"-t 1 --width 48 --height 36 --source front=box.tif -o again.png", true, false},
      {"-t 1 --width 48 --height 36 -o box.tiff", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args);
    const TResult r = RunRender(dir, c.Args, "LD_DEBUG=files");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err.find("file=libtiff.so") != std::string::npos, c.Tiff);
    // libtiff brings libwebp along for its own WebP compression.
    if (!c.Tiff) {
      EXPECT_EQ(r.Err.find("file=libwebp.so") != std::string::npos, c.Webp);
    }
  }
}

// Where libtiff or libwebp cannot be loaded, a picture that needs one fails with the library's name
// and the picture's, nothing is written, and the other formats still work.
TEST(OutputFormatsTest, AMissingCodecLibraryFailsOnlyThePicturesThatNeedIt) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' runtime must come before any preloaded library";
#endif
  ScratchFolder dir;
  ASSERT_EQ(RunRender(dir, "-t 1 --width 48 --height 36 -o box.tif").Status, 0);
  const std::string refuse = "LD_PRELOAD=" + Quote(QUIRLON_REFUSE_CODECS);
  const struct {
    std::string Args;
    int Status;
    const char* Library;
    const char* Named;    // the picture the message names
    const char* Written;  // the output, there only on success
  } cases[] = {
      {"-t 1 --width 48 --height 36 -o out.png", 0, "", "", "out.png"},
      {"-t 1 --width 48 --height 36 -o out.jpg", 0, "", "", "out.jpg"},
      {"-t 1 --width 48 --height 36 -o out.webp", 1, "libwebp.so", "out.webp", "out.webp"},
      {"-t 1 --width 48 --height 36 -o out.tiff", 1, "libtiff.so", "out.tiff", "out.tiff"},
      {"-t 1 --width 48 --height 36 --source front=box.tif -o again.png", 1, "libtiff.so", "box.tif", "again.png"},
      {"--product box --turntable 2 --width 48 --height 36 -o turn.webp", 1, "libwebpmux.so", "turn.webp", "turn.webp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args);
    const TResult r = RunRender(dir, c.Args, refuse);
    EXPECT_EQ(r.Status, c.Status) << r.Err;
    EXPECT_EQ(fs::exists(dir.PathOf(c.Written)), c.Status == 0);
    if (c.Status == 0) {
      continue;
    }
    EXPECT_NE(r.Err.find(c.Library), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find(c.Named), std::string::npos) << r.Err;
  }
}

// Lossless formats give back exactly the pixels of the BMP, colour under transparency included.
TEST(OutputFormatsTest, LosslessFilesHoldTheFlattenedPixels) {
  ScratchFolder dir;
  for (const std::string name : {"p.bmp", "p.png", "p.tif", "p.webp"})
    ASSERT_EQ(RunRender(dir, kScene + " --transparent --lossless -o " + name).Status, 0) << name;
  const TPicture reference = ReadBmp(ScratchFolder::ReadBytes(dir.PathOf("p.bmp")));
  ASSERT_EQ(reference.Width, 240);
  ASSERT_EQ(reference.Height, 180);
  std::size_t transparent = 0, partial = 0;
  for (std::size_t i = 3; i < reference.Rgba.size(); i += 4) {
    transparent += reference.Rgba[i] == 0;
    partial += reference.Rgba[i] > 0 && reference.Rgba[i] < 255;
  }
  EXPECT_GT(transparent, 1000u);  // a real test of the alpha channel
  EXPECT_GT(partial, 100u);

  const TPicture png = ReadPng(dir.PathOf("p.png"));
  EXPECT_EQ(png.Rgba, reference.Rgba);
  const TPicture webp = ReadWebP(ScratchFolder::ReadBytes(dir.PathOf("p.webp")));
  EXPECT_EQ(webp.Width, 240);
  EXPECT_EQ(webp.Rgba, reference.Rgba);
  const TTiffPicture tiff = ReadTiff(dir.PathOf("p.tif"));
  EXPECT_EQ(tiff.Samples, 4);
  EXPECT_EQ(tiff.Bits, 8);
  EXPECT_EQ(tiff.Compression, COMPRESSION_ADOBE_DEFLATE);
  EXPECT_EQ(tiff.ExtraType, EXTRASAMPLE_UNASSALPHA);
  EXPECT_EQ(tiff.Unit, RESUNIT_INCH);
  EXPECT_FLOAT_EQ(tiff.XResolution, 150.0f);
  EXPECT_FLOAT_EQ(tiff.YResolution, 150.0f);
  EXPECT_EQ(tiff.Rgba, reference.Rgba);
}

// Lossy formats stay close to the pixels, closer at a higher quality; lossy WebP keeps the alpha
// channel exactly. The default quality is 90.
TEST(OutputFormatsTest, LossyFilesAreCloseAndFollowTheQuality) {
  ScratchFolder dir;
  for (const std::string args : {"-o o.bmp", "-o o.jpg", "-o q90.jpg --quality 90", "-o q20.jpg --quality 20",
                                 "-o o.webp", "-o q20.webp --quality 20"})
    ASSERT_EQ(RunRender(dir, kScene + " " + args).Status, 0) << args;
  ASSERT_EQ(RunRender(dir, kScene + " --transparent -o t.bmp").Status, 0);
  ASSERT_EQ(RunRender(dir, kScene + " --transparent -o t.webp").Status, 0);
  const TPicture reference = ReadBmp(ScratchFolder::ReadBytes(dir.PathOf("o.bmp")));

  EXPECT_EQ(ScratchFolder::ReadBytes(dir.PathOf("o.jpg")), ScratchFolder::ReadBytes(dir.PathOf("q90.jpg")));
  const double jpeg90 = MeanColourError(ReadJpeg(ScratchFolder::ReadBytes(dir.PathOf("o.jpg"))), reference);
  const double jpeg20 = MeanColourError(ReadJpeg(ScratchFolder::ReadBytes(dir.PathOf("q20.jpg"))), reference);
  EXPECT_LT(jpeg90, 2.5);
  EXPECT_LT(jpeg90, jpeg20);
  EXPECT_LT(fs::file_size(dir.PathOf("q20.jpg")), fs::file_size(dir.PathOf("o.jpg")));

  const TPicture webp = ReadWebP(ScratchFolder::ReadBytes(dir.PathOf("o.webp")));
  const double webp90 = MeanColourError(webp, reference);
  EXPECT_LT(webp90, 2.5);
  EXPECT_LT(webp90, MeanColourError(ReadWebP(ScratchFolder::ReadBytes(dir.PathOf("q20.webp"))), reference));
  EXPECT_LT(fs::file_size(dir.PathOf("q20.webp")), fs::file_size(dir.PathOf("o.webp")));

  const TPicture transparent = ReadBmp(ScratchFolder::ReadBytes(dir.PathOf("t.bmp")));
  EXPECT_TRUE(SameAlpha(ReadWebP(ScratchFolder::ReadBytes(dir.PathOf("t.webp"))), transparent));
}

// "-o -" writes the picture to standard output in the --format named (PNG when none is), so it
// can be piped; a named format that contradicts a file name is a usage error.
TEST(OutputFormatsTest, StandardOutputInEachFormat) {
  ScratchFolder dir;
  ASSERT_EQ(RunRender(dir, kScene + " -o ref.bmp").Status, 0);
  const TPicture reference = ReadBmp(ScratchFolder::ReadBytes(dir.PathOf("ref.bmp")));
  const struct {
    const char* Format;
    const char* Magic;
  } cases[] = {{"", "png"}, {"png", "png"}, {"jpeg", "jpeg"}, {"webp", "webp"}, {"bmp", "bmp"}, {"tiff", "tiff"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Format);
    const std::string format = *c.Format ? std::string(" --format ") + c.Format : "";
    const std::string piped = dir.PathOf(std::string("piped.") + c.Magic);
    const std::string command = "cd " + Quote(dir.Folder()) + " && " + Quote(QUIRLON_RENDER) + " " + kScene + format +
                                " -o - --verbose 2>err.txt | cat >" + Quote(piped) + " && test ${PIPESTATUS:-0} = 0";
    ASSERT_EQ(std::system(("bash -c " + Quote(command)).c_str()), 0);
    EXPECT_FALSE(fs::exists(dir.PathOf("-")));
    const Bytes bytes = ScratchFolder::ReadBytes(piped);
    EXPECT_EQ(MagicOf(bytes), c.Magic);
    EXPECT_NE(ReadText(dir.PathOf("err.txt")).find("wrote standard output (240 x 180"), std::string::npos);
    const std::string magic = c.Magic;
    const TPicture got = magic == "png"    ? ReadPng(piped)
                         : magic == "jpeg" ? ReadJpeg(bytes)
                         : magic == "webp" ? ReadWebP(bytes)
                         : magic == "bmp"  ? ReadBmp(bytes)
                                           : static_cast<TPicture>(ReadTiff(piped));
    EXPECT_EQ(got.Width, 240);
    EXPECT_EQ(got.Height, 180);
    if (magic == "jpeg" || magic == "webp") EXPECT_LT(MeanColourError(got, reference), 2.5);
    else EXPECT_EQ(got.Rgba, reference.Rgba);
  }

  const struct {
    const char* Args;
    const char* Err;
  } refused[] = {
      {"-o x.png --format jpeg", "quirlon-render: --format jpeg does not match 'x.png', which names PNG\n"},
      {"-o - --format gif", "quirlon-render: --format takes png|jpeg|bmp|webp|tiff, not 'gif'\n"},
      {"-o x.png --png-effort best", "quirlon-render: --png-effort takes fast, default or small, not 'best'\n"},
      {"-o x.jpg --quality 0", "quirlon-render: --quality takes a whole number from 1 to 100, not '0'\n"},
      {"-o x.webp --quality 101", "quirlon-render: --quality takes a whole number from 1 to 100, not '101'\n"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.Args);
    ScratchFolder empty;
    const TResult r = RunRender(empty, std::string("-t 1 ") + c.Args);
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(r.Err, c.Err);
    EXPECT_TRUE(empty.Entries().empty());
  }
  // A name without an extension takes the named format.
  ScratchFolder named;
  ASSERT_EQ(RunRender(named, "-t 1 --width 48 --height 36 --format webp -o picture").Status, 0);
  EXPECT_EQ(MagicOf(ScratchFolder::ReadBytes(named.PathOf("picture"))), "webp");
}

// Each PNG effort is a valid file of the same pixels; more effort, no larger file.
TEST(OutputFormatsTest, PngEffortsGiveTheSamePixels) {
  ScratchFolder dir;
  std::uintmax_t previous = UINTMAX_MAX;
  TPicture first;
  for (const std::string effort : {"fast", "default", "small"}) {
    ASSERT_EQ(RunRender(dir, kScene + " --png-effort " + effort + " -o " + effort + ".png").Status, 0);
    const TPicture p = ReadPng(dir.PathOf(effort + ".png"));
    if (first.Rgba.empty()) first = p;
    EXPECT_EQ(p.Rgba, first.Rgba) << effort;
    const std::uintmax_t size = fs::file_size(dir.PathOf(effort + ".png"));
    EXPECT_LE(size, previous) << effort;
    previous = size;
  }
}

}  // namespace
}  // namespace quirlon::cli
