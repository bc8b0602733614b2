// The "Data" block reader on arbitrary bytes: a size, then pixels. A short or lying block must
// fail with an error before it allocates more than the data can fill.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "raster/Bitmap32.h"
#include "raster/Errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace quirlon;
  if (Size > 64 * 1024) return -1;
  std::istringstream in(std::string(reinterpret_cast<const char*>(Data), Size));
  raster::TBitmap32 bitmap;
  try {
    bitmap.LoadPixelData(in);
    // A block that loaded holds exactly its pixels.
    if (8 + bitmap.PixelCount() * 4 > Size) __builtin_trap();
  } catch (const Exception&) {
  }
  return 0;
}
