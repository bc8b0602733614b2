// A fixed number of renders of the benchmark box shot (bench/scene.ini), flattened as the save flow
// does, for instruction counts under callgrind: Google Benchmark picks its own iteration counts, so
// its programs cannot be compared run against run. The cover and side are drawn here in the shape of
// the peers' inputs (1000 x 1400 and 300 x 1400: gradients, noise, hard-edged blocks), so the
// program needs nothing but the source tree. One render warms the picture cache first; the cost of
// a render is the difference between a run of N renders and a run of 0.
//
//   scene_profile smooth|exact WIDTH HEIGHT RENDERS [SCRATCH_DIR]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <string>

#include "core/Render.h"
#include "core/Template.h"
#include "imagefiles/OutputWriters.h"
#include "imagefiles/Picture.h"

namespace {

using namespace quirlon;

void WriteArtwork(const std::string& File, std::int32_t W, std::int32_t H, unsigned Seed) {
  raster::TBitmap32 b;
  b.SetSize(W, H);
  std::mt19937 rng(Seed);
  std::normal_distribution<double> noise(0, 8);
  const auto byte = [](double v) { return static_cast<raster::TColor32>(v < 0 ? 0 : v > 255 ? 255 : v); };
  for (std::int32_t y = 0; y < H; ++y)
    for (std::int32_t x = 0; x < W; ++x) {
      const double r = 255.0 * x / (W - 1), g = 255.0 * y / (H - 1);
      const double rad = std::hypot(x - 0.4 * W, y - 0.35 * H);
      const double bl = 127 + 100 * std::sin(rad / 9) * std::exp(-rad / (0.8 * std::max(W, H)));
      b.ScanLine(y)[x] = 0xFF000000u | byte(r + noise(rng)) << 16 | byte(g + noise(rng)) << 8 | byte(bl + noise(rng));
    }
  for (int i = 0; i < 12; ++i) {  // blocks like titles and logos
    const std::int32_t x0 = static_cast<std::int32_t>(rng() % (W - 40)), y0 = static_cast<std::int32_t>(rng() % (H - 40));
    const std::int32_t x1 = std::min(W - 1, x0 + 20 + static_cast<std::int32_t>(rng() % std::max(1, W / 2 - 20)));
    const std::int32_t y1 = std::min(H - 1, y0 + 10 + static_cast<std::int32_t>(rng() % std::max(1, H / 8 - 10)));
    const raster::TColor32 c = 0xFF000000u | (rng() & 0xFFFFFFu);
    for (std::int32_t y = y0; y <= y1; ++y)
      for (std::int32_t x = x0; x <= x1; ++x) b.ScanLine(y)[x] = c;
  }
  imagefiles::SaveBmp(b, File, 96);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || (std::string(argv[1]) != "smooth" && std::string(argv[1]) != "exact")) {
    std::cerr << "usage: scene_profile smooth|exact WIDTH HEIGHT RENDERS [SCRATCH_DIR]\n";
    return 2;
  }
  try {
    const std::filesystem::path scratch =
        argc > 5 ? std::filesystem::path(argv[5]) : std::filesystem::temp_directory_path() / "quirlon-scene-profile";
    std::filesystem::create_directories(scratch);
    const std::string cover = (scratch / "cover.bmp").string(), side = (scratch / "side.bmp").string();
    if (!std::filesystem::exists(cover)) WriteArtwork(cover, 1000, 1400, 1);
    if (!std::filesystem::exists(side)) WriteArtwork(side, 300, 1400, 2);
    const std::string templates = std::string(QUIRLON_SOURCE_DIR) + "/bench/";

    imagefiles::TPictureCache pictures;
    core::TRenderRequest request;
    request.Sources[1] = core::TSlotSource::OfFile(cover);
    request.Sources[2] = core::TSlotSource::OfFile(side);
    request.Pictures = &pictures;
    request.Template.File = templates + "scene.ini";
    request.CustomFolder = templates;
    request.Width = std::atoi(argv[2]);
    request.Height = std::atoi(argv[3]);
    request.Settings.Sampling = std::string(argv[1]) == "exact" ? core::TSampling::Exact : core::TSampling::Smooth;
    const int renders = std::atoi(argv[4]);
    std::unique_ptr<raster::TBitmap32> flat;
    for (int i = 0; i <= renders; ++i) flat = core::Flatten(core::ApplyTemplate(request));
    // Every pixel of the last render (once per run, so it cancels out of the difference).
    std::uint64_t check = 14695981039346656037ull;
    for (std::size_t p = 0; p < flat->PixelCount(); ++p) check = (check ^ flat->Bits()[p]) * 1099511628211ull;
    std::cout << "checksum " << std::hex << check << '\n';
  } catch (const std::exception& e) {
    std::cerr << "scene_profile: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
