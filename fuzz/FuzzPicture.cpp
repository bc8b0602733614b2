// One picture decoder family on arbitrary bytes: decode, then convert to a bitmap the way a
// load does. QUIRLON_FUZZ_EXTENSIONS lists the family's extensions; with more than one, the first
// input byte picks the extension and the rest is the file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imagefiles/Picture.h"
#include "raster/Errors.h"

namespace {

std::vector<std::string> Extensions() {
  std::vector<std::string> list;
  std::string all = QUIRLON_FUZZ_EXTENSIONS;
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t end = all.find(',', start);
    if (end == std::string::npos) end = all.size();
    list.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace quirlon;
  static const std::vector<std::string> extensions = Extensions();
  if (Size > 256 * 1024) return -1;  // keeps each run fast; the size checks are header fields anyway
  std::span<const std::uint8_t> bytes(Data, Size);
  std::string extension = extensions.front();
  if (extensions.size() > 1) {
    if (bytes.empty()) return -1;
    extension = extensions[bytes.front() % extensions.size()];
    bytes = bytes.subspan(1);
  }
  const imagefiles::TFileFormat* format = imagefiles::FileFormats().Find(extension);
  if (format == nullptr) __builtin_trap();
  try {
    const imagefiles::TGraphic graphic = imagefiles::DecodePicture(*format, bytes);
    if (graphic.Width > imagefiles::kMaxPictureSide || graphic.Height > imagefiles::kMaxPictureSide) __builtin_trap();
    if (!graphic.Empty() && graphic.Pixels.size() != std::size_t(graphic.Width) * std::size_t(graphic.Height))
      __builtin_trap();
    raster::TBitmap32 bitmap;
    imagefiles::Assign(bitmap, graphic);
    if (bitmap.Width() != graphic.Width && !graphic.Empty()) __builtin_trap();
  } catch (const Exception&) {
    // A clear error is the expected outcome for most inputs.
  }
  return 0;
}
