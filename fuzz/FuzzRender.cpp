// A whole render of an arbitrary template on a small canvas: the template file goes into a
// scratch folder and the render builds every layer from it. The first two bytes pick
// the canvas size (8..71 on a side) and a few settings; the rest is the template text.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/Render.h"
#include "raster/Errors.h"

namespace {

namespace fs = std::filesystem;

// A 3 x 2 24-bit bitmap, bottom row first, rows padded to 4 bytes.
std::vector<char> SmallBmp() {
  std::vector<unsigned char> b = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0,
                                  1, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const unsigned char rows[] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 9, 9, 9, 0, 0, 0};
  b.insert(b.end(), rows, rows + sizeof rows);
  b[2] = static_cast<unsigned char>(b.size());
  return std::vector<char>(b.begin(), b.end());
}

struct TScratch {
  fs::path Root = fs::temp_directory_path() / ("quirlon-fuzz-render-" + std::to_string(::getpid()));
  std::string Templates, Custom, Picture;
  TScratch() {
    fs::create_directories(Root / "Templates");
    fs::create_directories(Root / "custom");
    Templates = (Root / "Templates").string() + "/";
    Custom = (Root / "custom").string() + "/";
    Picture = Custom + "pic.bmp";
    const std::vector<char> bmp = SmallBmp();
    std::ofstream(Picture, std::ios::binary).write(bmp.data(), static_cast<std::streamsize>(bmp.size()));
  }
  ~TScratch() {
    std::error_code ec;
    fs::remove_all(Root, ec);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace quirlon;
  static TScratch scratch;
  if (Size < 2 || Size > 8 * 1024) return -1;
  const int width = 8 + Data[0] % 64;
  const int height = 8 + Data[1] % 64;
  {
    std::ofstream out(scratch.Templates + "t.ini", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(Data + 2), static_cast<std::streamsize>(Size - 2));
  }

  core::TRenderRequest request;
  request.Template.File = scratch.Templates + "t.ini";
  request.CustomFolder = scratch.Custom;
  request.TransparentBackground = (Data[0] & 0x40) != 0;
  // Even slots take the picture file, odd ones their colour; the background alternates.
  for (int slot = 1; slot <= 9; ++slot) {
    const bool picture = (slot % 2 == 0) || (slot == 1 && (Data[1] & 0x40) != 0);
    if (picture) request.Sources[static_cast<std::size_t>(slot - 1)] = core::TSlotSource::OfFile(scratch.Picture);
  }
  request.Width = width;
  request.Height = height;
  try {
    const core::TRenderResult result = core::ApplyTemplate(request);
    // Whatever was built must be consistent with the canvas.
    if (result.Width() != width || result.Height() != height) __builtin_trap();
    for (const core::TRenderedLayer& layer : result.Layers)
      if (!layer.Role.Background && (layer.Bitmap->Width() != width || layer.Bitmap->Height() != height))
        __builtin_trap();
    const auto flat = core::Flatten(result);
    if (flat->Width() != width || flat->Height() != height) __builtin_trap();
  } catch (const Exception&) {
    // Bad values stop the render with a clear error; what matters is how it stops.
  }
  return 0;
}
