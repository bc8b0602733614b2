// The JPEG writer checked byte by byte at the start, by a marker walk, and by decoding with libjpeg.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "imagefiles/OutputWriters.h"
#include "raster/Bitmap32.h"
#include "raster/Errors.h"
#include "tests/ScratchFolder.h"

namespace quirlon::imagefiles {
namespace {

using raster::TBitmap32;
using raster::TColor32;
using testing::ScratchFolder;
using Bytes = std::vector<std::uint8_t>;

// A smooth picture that survives quality 90 closely; alpha varies and must not matter.
void Gradient(TBitmap32& b, int w, int h) {
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint32_t r = 40 + 3 * x, g = 30 + 2 * y, bl = 200 - x - y;
      const std::uint32_t a = (x * 7 + y) & 255;
      b.PixelRef(x, y) = (a << 24) | (r << 16) | (g << 8) | bl;
    }
}

struct Decoded {
  int width = 0, height = 0;
  Bytes rgb;
  int quant[2][64]{};  // natural order
  int samp[3][2]{};
  bool progressive = false, arithmetic = false, jfif = false, adobe = false;
  int jfifMajor = 0, jfifMinor = 0, densityUnit = 0, xDensity = 0, yDensity = 0;
};

Decoded DecodeWithLibjpeg(const Bytes& file) {
  Decoded d;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&cinfo, TRUE);
  d.progressive = cinfo.progressive_mode;
  d.arithmetic = cinfo.arith_code;
  d.jfif = cinfo.saw_JFIF_marker;
  d.adobe = cinfo.saw_Adobe_marker;
  d.jfifMajor = cinfo.JFIF_major_version;
  d.jfifMinor = cinfo.JFIF_minor_version;
  d.densityUnit = cinfo.density_unit;
  d.xDensity = cinfo.X_density;
  d.yDensity = cinfo.Y_density;
  for (int t = 0; t < 2; ++t)
    for (int i = 0; i < 64; ++i) d.quant[t][i] = cinfo.quant_tbl_ptrs[t] ? cinfo.quant_tbl_ptrs[t]->quantval[i] : -1;
  for (int c = 0; c < 3 && c < cinfo.num_components; ++c) {
    d.samp[c][0] = cinfo.comp_info[c].h_samp_factor;
    d.samp[c][1] = cinfo.comp_info[c].v_samp_factor;
  }
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  d.width = static_cast<int>(cinfo.output_width);
  d.height = static_cast<int>(cinfo.output_height);
  d.rgb.resize(static_cast<std::size_t>(d.width) * d.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = d.rgb.data() + static_cast<std::size_t>(cinfo.output_scanline) * d.width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return d;
}

// The marker codes up to and including the first SOS.
std::vector<int> Markers(const Bytes& f) {
  std::vector<int> markers;
  std::size_t pos = 2;
  while (pos + 4 <= f.size() && f[pos] == 0xFF) {
    const int m = f[pos + 1];
    markers.push_back(m);
    if (m == 0xDA) break;
    pos += 2 + ((f[pos + 2] << 8) | f[pos + 3]);
  }
  return markers;
}

// Standard quantisation tables (JPEG Annex K), natural order.
const int kLuminance[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                            14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                            18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                            49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int kChrominance[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                              24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                              99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                              99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

TEST(JpegWriterTest, HeaderTablesAndPixels) {
  ScratchFolder dir;
  TBitmap32 b;
  Gradient(b, 45, 37);  // odd sizes: partial MCUs on both edges
  const std::string path = dir.PathOf("out.jpg");
  SaveJpg(b, path, 96);
  const Bytes f = ScratchFolder::ReadBytes(path);

  const Bytes first20{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00,
                      0x01, 0x01, 0x01, 0x00, 0x60, 0x00, 0x60, 0x00, 0x00};
  ASSERT_GT(f.size(), 20u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 20), first20);
  EXPECT_EQ(f[f.size() - 2], 0xFF);
  EXPECT_EQ(f[f.size() - 1], 0xD9);

  // Baseline sequential, no restart interval, no Adobe segment, standard Huffman tables (4 DHT).
  const std::vector<int> markers = Markers(f);
  int dht = 0, dqt = 0;
  for (int m : markers) {
    dht += m == 0xC4;
    dqt += m == 0xDB;
    EXPECT_TRUE(m == 0xE0 || m == 0xDB || m == 0xC0 || m == 0xC4 || m == 0xDA) << std::hex << m;
  }
  EXPECT_EQ(dht, 4);
  EXPECT_GE(dqt, 1);
  EXPECT_EQ(markers.back(), 0xDA);

  const Decoded d = DecodeWithLibjpeg(f);
  EXPECT_FALSE(d.progressive);
  EXPECT_FALSE(d.arithmetic);
  EXPECT_TRUE(d.jfif);
  EXPECT_FALSE(d.adobe);
  EXPECT_EQ(d.jfifMajor, 1);
  EXPECT_EQ(d.jfifMinor, 1);
  EXPECT_EQ(d.densityUnit, 1);
  EXPECT_EQ(d.xDensity, 96);
  EXPECT_EQ(d.yDensity, 96);
  EXPECT_EQ(d.samp[0][0], 2);
  EXPECT_EQ(d.samp[0][1], 2);
  for (int c = 1; c < 3; ++c) {
    EXPECT_EQ(d.samp[c][0], 1);
    EXPECT_EQ(d.samp[c][1], 1);
  }
  // Quality 90: the standard tables scaled by 20 %, rounded, kept within 1..255.
  for (int i = 0; i < 64; ++i) {
    const int lum = std::min(255, std::max(1, (kLuminance[i] * 20 + 50) / 100));
    const int chr = std::min(255, std::max(1, (kChrominance[i] * 20 + 50) / 100));
    EXPECT_EQ(d.quant[0][i], lum) << i;
    EXPECT_EQ(d.quant[1][i], chr) << i;
  }

  ASSERT_EQ(d.width, 45);
  ASSERT_EQ(d.height, 37);
  int worst = 0;
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 45; ++x) {
      const TColor32 c = b.PixelAt(x, y);
      const int want[3] = {int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255)};
      for (int k = 0; k < 3; ++k)
        worst = std::max(worst, std::abs(want[k] - d.rgb[(static_cast<std::size_t>(y) * 45 + x) * 3 + k]));
    }
  EXPECT_LE(worst, 10);  // alpha ignored: colours come back although many pixels have alpha 0
}

// The same picture through libjpeg with the stated settings must give the same bytes.
TEST(JpegWriterTest, MatchesLibjpegWithTheStatedSettings) {
  // Noise: the stream (far beyond 64 KiB) makes the output buffer grow several times.
  TBitmap32 b;
  b.SetSize(640, 480);
  std::mt19937 rng(11);
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.PixelRef(x, y) = rng();
  const int dpi = 300;
  Bytes rgb;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const TColor32 c = b.PixelAt(x, y);
      rgb.insert(rgb.end(), {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c)});
    }
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = 640;
  cinfo.image_height = 480;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  cinfo.optimize_coding = FALSE;
  cinfo.dct_method = JDCT_FLOAT;
  cinfo.comp_info[0].h_samp_factor = 2;
  cinfo.comp_info[0].v_samp_factor = 2;
  cinfo.density_unit = 1;
  cinfo.X_density = dpi;
  cinfo.Y_density = dpi;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = rgb.data() + static_cast<std::size_t>(cinfo.next_scanline) * 640 * 3;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  const Bytes reference(out, out + outSize);
  jpeg_destroy_compress(&cinfo);
  std::free(out);

  ASSERT_GT(reference.size(), 4u * 65536);
  EXPECT_EQ(EncodeJpg(b, dpi), reference);
}

TEST(JpegWriterTest, DensityBytes) {
  TBitmap32 b;
  Gradient(b, 8, 8);
  const struct {
    int dpi;
    Bytes bytes;
  } cases[] = {{60, {1, 0x00, 0x3C, 0x00, 0x3C}},
               {96, {1, 0x00, 0x60, 0x00, 0x60}},
               {300, {1, 0x01, 0x2C, 0x01, 0x2C}},
               {600, {1, 0x02, 0x58, 0x02, 0x58}},
               {70000, {1, 0x11, 0x70, 0x11, 0x70}}};  // low 16 bits of 0x11170
  for (const auto& c : cases) {
    const Bytes f = EncodeJpg(b, c.dpi);
    EXPECT_EQ(Bytes(f.begin() + 13, f.begin() + 18), c.bytes) << c.dpi;
  }
}

TEST(JpegWriterTest, TransparentAreasAreBlackAndEncoderErrorsAreRaised) {
  TBitmap32 b;
  b.SetSize(16, 16);  // all pixels 0
  const Decoded d = DecodeWithLibjpeg(EncodeJpg(b, 96));
  for (std::uint8_t v : d.rgb) EXPECT_LE(v, 1);

  TBitmap32 empty;
  EXPECT_THROW(EncodeJpg(empty, 96), EInvalidGraphic);
  TBitmap32 wide;
  wide.SetSize(70000, 1);  // beyond the format's 65500 pixels
  try {
    EncodeJpg(wide, 96);
    ADD_FAILURE() << "no error";
  } catch (const EInvalidGraphic& e) {
    EXPECT_NE(e.Message().find("65500"), std::string::npos) << e.Message();
  }
}

}  // namespace
}  // namespace quirlon::imagefiles
