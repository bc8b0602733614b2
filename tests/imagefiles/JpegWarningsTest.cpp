// JPEG files that libjpeg reads with warnings only load; a file that ends early stays an error.
// The files are one picture written by our JPEG writer and then damaged byte by byte here; the
// reference is the undamaged file's own picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "imagefiles/OutputWriters.h"
#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/imagefiles/TestFiles.h"

namespace quirlon::imagefiles {
namespace {

using testing::AfterFileName;
using testing::WriteScratch;

std::vector<std::uint8_t> Photo() {
  TBitmap32 b;
  b.SetSize(48, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 48; ++x) b.PixelRef(x, y) = 0xFF000000u | (x * 5 << 16) | (y * 7 << 8) | ((x + y) * 3);
  return EncodeJpg(b, 96);
}

std::size_t MarkerAt(const std::vector<std::uint8_t>& file, std::uint8_t marker) {
  for (std::size_t i = 2; i + 1 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == marker) return i;
  ADD_FAILURE() << "no marker " << int(marker);
  return 2;
}

std::vector<TColor32> Load(const std::vector<std::uint8_t>& file, const std::string& name) {
  TBitmap32 b;
  LoadFromFile(b, WriteScratch(name, file));
  EXPECT_EQ(b.Width(), 48) << name;
  EXPECT_EQ(b.Height(), 32) << name;
  return {b.Bits(), b.Bits() + b.PixelCount()};
}

TEST(JpegWarningsTest, WarningsLoadAndAnEarlyEndDoesNot) {
  const std::vector<std::uint8_t> clean = Photo();
  const std::vector<TColor32> reference = Load(clean, "clean.jpg");

  // Bytes that belong to no segment, before the scan ("extraneous bytes before marker").
  std::vector<std::uint8_t> extra = clean;
  extra.insert(extra.begin() + static_cast<std::ptrdiff_t>(MarkerAt(extra, 0xDA)), {0x12, 0x34, 0x56});
  EXPECT_EQ(Load(extra, "extra.jpg"), reference);

  // An EXIF block whose contents are nonsense (libjpeg skips application segments).
  std::vector<std::uint8_t> exif = {0xFF, 0xE1, 0x00, 0x12, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 0xFF, 0xFF, 0xFF, 0x7F, 9, 9};
  exif.insert(exif.begin(), clean.begin(), clean.begin() + 2);
  exif.insert(exif.end(), clean.begin() + 2, clean.end());
  EXPECT_EQ(Load(exif, "exif.jpg"), reference);

  // Scan data cut short by the end marker ("premature end of data segment"): the picture loads at
  // its size, what is missing filled in by the decoder.
  std::vector<std::uint8_t> shortScan(clean.begin(), clean.end() - static_cast<std::ptrdiff_t>((clean.end() - clean.begin() - MarkerAt(clean, 0xDA)) / 2));
  shortScan.insert(shortScan.end(), {0xFF, 0xD9});
  Load(shortScan, "short.jpg");

  // The file simply ends: an error, as before.
  const std::vector<std::uint8_t> cut(clean.begin(), clean.end() - 40);
  const std::string name = WriteScratch("cut.jpg", cut);
  TBitmap32 b;
  try {
    LoadFromFile(b, name);
    ADD_FAILURE() << "a file that ends early loaded";
  } catch (const Exception& e) {
    EXPECT_EQ(AfterFileName(e.what(), name), "Premature end of JPEG file. JPEG error #120");
  }
}

}  // namespace
}  // namespace quirlon::imagefiles
