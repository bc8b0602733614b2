// Pictures decoded from memory (uploads) against the same files loaded from disk: the same
// pixels, the same refusals; a format without a signature needs its name's extension.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "TestFiles.h"
#include "imagefiles/Picture.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles {
namespace {

using testing::ReadBytes;
using testing::TestData;
using testing::HaveTestData;
namespace fs = std::filesystem;

// The message of a load from File, or "" when it loads; Graphic gets the picture.
std::string LoadFile(const std::string& file, TGraphic& graphic) {
  try {
    TPicture picture;
    picture.LoadFromFile(file, kDefaultPicturePixels);
    graphic = *picture.Graphic();
    return {};
  } catch (const std::exception& e) {
    return e.what();
  }
}

std::string LoadBytes(const std::vector<std::uint8_t>& bytes, const std::string& name, TGraphic& graphic) {
  try {
    graphic = DecodePictureBytes(bytes, name, kDefaultPicturePixels);
    return {};
  } catch (const EInvalidGraphic& e) {
    return e.what();
  }
}

void ExpectSameAsFile(const fs::path& file) {
  SCOPED_TRACE(file.string());
  TGraphic fromFile, fromBytes;
  const std::string fileError = LoadFile(file.string(), fromFile);
  const std::string bytesError = LoadBytes(ReadBytes(file), file.string(), fromBytes);
  EXPECT_EQ(bytesError, fileError);
  if (!fileError.empty()) return;
  EXPECT_EQ(fromBytes.Width, fromFile.Width);
  EXPECT_EQ(fromBytes.Height, fromFile.Height);
  EXPECT_EQ(fromBytes.Kind, fromFile.Kind);
  EXPECT_TRUE(fromBytes.Pixels == fromFile.Pixels);
}

TEST(PictureBytesTest, BundledPicturesDecodeAsTheirFiles) {
  for (const char* folder : {"examples", "data/custom"})
    for (const auto& entry : fs::directory_iterator(fs::path(QUIRLON_SOURCE_DIR) / folder))
      if (FileFormats().Find(PictureExtension(entry.path().string())) != nullptr) ExpectSameAsFile(entry.path());
}

TEST(PictureBytesTest, CorpusPicturesDecodeOrFailAsTheirFiles) {
  if (!HaveTestData()) GTEST_SKIP() << "no ../shared/testdata";
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(TestData("")))
    if (entry.is_regular_file() && FileFormats().Find(PictureExtension(entry.path().string())) != nullptr &&
        entry.file_size() < (std::uintmax_t{4} << 20))
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  // Every seventh file: all formats, damaged ones included, in a few seconds.
  for (std::size_t i = 0; i < files.size(); i += 7) ExpectSameAsFile(files[i]);
}

TEST(PictureBytesTest, OnlyTheNameTellsATargaFromNothing) {
  // Uncompressed true-colour Targa, 2 x 1, 24 bits, top-left origin: blue then red pixel (B, G, R).
  const std::vector<std::uint8_t> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 0x20,
                                         255, 0, 0, 0, 0, 255};
  const TGraphic picture = DecodePictureBytes(tga, "cover.tga");
  ASSERT_EQ(picture.Width, 2);
  ASSERT_EQ(picture.Height, 1);
  EXPECT_EQ(picture.Pixels[0] & 0xFFFFFFu, 0x0000FFu);  // B, G, R, A bytes: blue
  EXPECT_EQ(picture.Pixels[1] & 0xFFFFFFu, 0xFF0000u);  // red
  try {
    DecodePictureBytes(tga, "front");
    FAIL() << "decoded without a name";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Picture \"front\": Not a picture in a format this program reads");
  }
}

}  // namespace
}  // namespace quirlon::imagefiles
