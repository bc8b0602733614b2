#include "raster/Parallel.h"

namespace quirlon::raster {

std::int32_t PixelThreadCount() {
  static const std::int32_t count = std::thread::hardware_concurrency() > 1 ? 2 : 1;
  return count;
}

}  // namespace quirlon::raster
