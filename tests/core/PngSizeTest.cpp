// The PNG writer's default effort against the old reference, zlib's level 9 over the same
// Sub-filtered rows in one stream: on every bundled template at three sizes with the sample
// artwork, and on the benchmark scene, the file must never be larger (and must hold the rows).
#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Render.h"
#include "imagefiles/Bitmap32ToPng.h"
#include "imagefiles/OutputWriters.h"

namespace quirlon::core {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes SubFilteredRows(const raster::TBitmap32& b) {
  Bytes rows;
  rows.reserve(static_cast<std::size_t>(b.Height()) * (1 + 4 * static_cast<std::size_t>(b.Width())));
  for (int y = 0; y < b.Height(); ++y) {
    rows.push_back(1);
    int left[4] = {0, 0, 0, 0};
    for (int x = 0; x < b.Width(); ++x) {
      const raster::TColor32 c = b.PixelAt(x, y);
      const int rgba[4] = {int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255), int(c >> 24)};
      for (int k = 0; k < 4; ++k) {
        rows.push_back(static_cast<std::uint8_t>(rgba[k] - left[k]));
        left[k] = rgba[k];
      }
    }
  }
  return rows;
}

// The IDAT payloads of a PNG file, joined.
Bytes ImageData(const Bytes& file) {
  Bytes data;
  for (std::size_t pos = 8; pos + 12 <= file.size();) {
    const std::uint32_t length = std::uint32_t(file[pos]) << 24 | std::uint32_t(file[pos + 1]) << 16 |
                                 std::uint32_t(file[pos + 2]) << 8 | file[pos + 3];
    if (std::memcmp(&file[pos + 4], "IDAT", 4) == 0)
      data.insert(data.end(), file.begin() + long(pos + 8), file.begin() + long(pos + 8 + length));
    pos += 12 + length;
  }
  return data;
}

void ExpectNoLargerThanZlib9(const raster::TBitmap32& flat, const std::string& what) {
  const Bytes rows = SubFilteredRows(flat);
  uLongf zlibSize = compressBound(static_cast<uLong>(rows.size()));
  Bytes reference(zlibSize);
  ASSERT_EQ(compress2(reference.data(), &zlibSize, rows.data(), static_cast<uLong>(rows.size()), 9), Z_OK);

  Bytes file;
  imagefiles::Bitmap32ToPng(flat, imagefiles::TPngEffort::Default, false)
      .Write([&](const std::uint8_t* p, std::size_t n) { file.insert(file.end(), p, p + n); });
  const Bytes stream = ImageData(file);
  EXPECT_LE(stream.size(), zlibSize) << what;
  uLongf unpackedSize = static_cast<uLongf>(rows.size());
  Bytes unpacked(rows.size());
  ASSERT_EQ(uncompress(unpacked.data(), &unpackedSize, stream.data(), static_cast<uLong>(stream.size())), Z_OK) << what;
  EXPECT_TRUE(unpackedSize == rows.size() && unpacked == rows) << what;
}

std::string Source(const std::string& name) { return std::string(QUIRLON_SOURCE_DIR) + "/" + name; }

std::vector<fs::path> BundledTemplates() {
  std::vector<fs::path> list;
  for (const auto& e : fs::directory_iterator(Source("data/Templates")))
    if (e.path().extension() == ".ini") list.push_back(e.path());
  std::sort(list.begin(), list.end());
  return list;
}

TRenderRequest SampleArtRequest(const fs::path& Template, std::int32_t Width, std::int32_t Height) {
  TRenderRequest request;
  request.Template.File = Template.string();
  request.CustomFolder = Source("data/custom/");
  request.Sources[SlotIndex(TSlot::Front)] = TSlotSource::OfFile(Source("examples/box-front.jpg"));
  request.Sources[SlotIndex(TSlot::Side)] = TSlotSource::OfFile(Source("examples/box-side.jpg"));
  request.Sources[SlotIndex(TSlot::Top)] = TSlotSource::OfFile(Source("examples/box-top.jpg"));
  request.Sources[SlotIndex(TSlot::Disc)] = TSlotSource::OfFile(Source("examples/disc-label.jpg"));
  request.Width = Width;
  request.Height = Height;
  return request;
}

class PngSizeAgainstZlib9 : public ::testing::TestWithParam<fs::path> {};

TEST_P(PngSizeAgainstZlib9, AtThreeSizes) {
  const struct {
    std::int32_t Width, Height;
  } sizes[] = {{97, 61}, {800, 600}, {1601, 1203}};
  for (const auto& s : sizes) {
    const auto flat = Flatten(ApplyTemplate(SampleArtRequest(GetParam(), s.Width, s.Height)));
    ExpectNoLargerThanZlib9(*flat, GetParam().filename().string() + " " + std::to_string(s.Width));
  }
}

std::string TestName(const ::testing::TestParamInfo<fs::path>& info) {
  std::string name = info.param.stem().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Templates, PngSizeAgainstZlib9, ::testing::ValuesIn(BundledTemplates()), TestName);

TEST(PngSizeAgainstZlib9Scene, BenchmarkSceneAt2048) {
  const auto flat = Flatten(ApplyTemplate(SampleArtRequest(Source("bench/scene.ini"), 2048, 1536)));
  ExpectNoLargerThanZlib9(*flat, "scene 2048");
}

// Photo-like art, the kind whose renders take the quick path: gradients with Gaussian noise of
// sigma 8 (sums of uniforms from a fixed generator) and a few hard-edged blocks.
std::string WriteNoisyArt(const fs::path& Into, int Width, int Height, std::uint32_t Seed) {
  raster::TBitmap32 art;
  art.SetSize(Width, Height);
  std::uint32_t state = Seed;
  auto uniform = [&] { return (state = state * 1664525u + 1013904223u) >> 8 & 0xFFFF; };
  auto noise = [&] {  // twelve uniforms in [0, 1) sum to mean 6, variance 1
    long sum = 0;
    for (int i = 0; i < 12; ++i) sum += uniform();
    return 8.0 * (static_cast<double>(sum) / 65536.0 - 6.0);
  };
  auto channel = [](double v) { return static_cast<std::uint32_t>(std::clamp(v, 0.0, 255.0)); };
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      const double r = 255.0 * x / (Width - 1), g = 255.0 * y / (Height - 1);
      const double b = 127 + 100 * std::sin(std::hypot(x - 0.4 * Width, y - 0.35 * Height) / 9.0);
      art.PixelRef(x, y) = 0xFF000000u | channel(r + noise()) << 16 | channel(g + noise()) << 8 | channel(b + noise());
    }
  for (int i = 0; i < 12; ++i) {
    const int x0 = static_cast<int>(uniform() % (Width - 40)), y0 = static_cast<int>(uniform() % (Height - 40));
    const std::uint32_t colour = 0xFF000000u | uniform() << 8 | (uniform() & 0xFF);
    for (int y = y0; y < std::min(Height, y0 + 10 + static_cast<int>(uniform() % (Height / 8))); ++y)
      for (int x = x0; x < std::min(Width, x0 + Width / 3); ++x) art.PixelRef(x, y) = colour;
  }
  const std::string file = (Into / ("noisy" + std::to_string(Seed) + ".bmp")).string();
  imagefiles::SaveBmp(art, file, 96);
  return file;
}

// The default effort takes a quicker level on busy pictures; it must still never lose to zlib's 9.
TEST(PngSizeAgainstZlib9Scene, NoisyArtAtTwoSizes) {
  const fs::path folder = fs::temp_directory_path() / ("quirlon-pngsize-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string cover = WriteNoisyArt(folder, 1000, 1400, 1), side = WriteNoisyArt(folder, 300, 1400, 2);
  for (const char* scene : {"bench/scene.ini", "data/Templates/01 Software box left.ini"})
    for (const auto& [w, h] : {std::pair{800, 600}, std::pair{2048, 1536}}) {
      TRenderRequest request = SampleArtRequest(Source(scene), w, h);
      request.Sources[SlotIndex(TSlot::Front)] = TSlotSource::OfFile(cover);
      request.Sources[SlotIndex(TSlot::Side)] = TSlotSource::OfFile(side);
      ExpectNoLargerThanZlib9(*Flatten(ApplyTemplate(request)), std::string(scene) + " noisy " + std::to_string(w));
    }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quirlon::core
