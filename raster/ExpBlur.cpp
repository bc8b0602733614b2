#include "raster/ExpBlur.h"

#include <cmath>
#include <vector>

#include "raster/Numeric.h"

namespace quirlon::raster {

namespace {

// Running values of one filter: the four channels with 7 fraction bits (channel x 128).
struct TBlurAccumulator {
  std::uint32_t A, R, G, B;
};

inline TBlurAccumulator LoadAccumulator(TColor32 c) {
  return TBlurAccumulator{(c >> 24) << 7, ((c >> 16) & 0xFFu) << 7, ((c >> 8) & 0xFFu) << 7, (c & 0xFFu) << 7};
}

// One channel: z += (w x (c x 128 - z)) >> 16, the product in 64 bits with an arithmetic shift, so
// the step rounds towards minus infinity and z never leaves the range of the values seen.
inline std::uint32_t StepChannel(std::uint32_t z, std::uint32_t c, std::int64_t weight) {
  const std::int64_t d = static_cast<std::int64_t>(c << 7) - static_cast<std::int64_t>(z);
  return z + static_cast<std::uint32_t>((weight * d) >> 16);
}

inline TColor32 FilterStep(TColor32 p, TBlurAccumulator& z, std::int64_t weight) {
  z.A = StepChannel(z.A, p >> 24, weight);
  z.R = StepChannel(z.R, (p >> 16) & 0xFFu, weight);
  z.G = StepChannel(z.G, (p >> 8) & 0xFFu, weight);
  z.B = StepChannel(z.B, p & 0xFFu, weight);
  return ((z.A >> 7) << 24) | ((z.R >> 7) << 16) | ((z.G >> 7) << 8) | (z.B >> 7);
}

void BlurRow(TColor32* row, std::int32_t width, std::int64_t weight) {
  TBlurAccumulator z = LoadAccumulator(row[0]);
  for (std::int32_t x = 1; x < width; ++x) row[x] = FilterStep(row[x], z, weight);
  for (std::int32_t x = width - 2; x >= 0; --x) row[x] = FilterStep(row[x], z, weight);
}

// Every column has its own accumulators; walking the rows with one accumulator per column gives
// each column exactly the sequence of steps of a column-by-column walk, but reads memory in order.
void BlurColumns(TBitmap32& bitmap, std::int64_t weight) {
  const std::int32_t width = bitmap.Width();
  const std::int32_t height = bitmap.Height();
  std::vector<TBlurAccumulator> z(static_cast<std::size_t>(width));
  const TColor32* top = bitmap.ScanLine(0);
  for (std::int32_t x = 0; x < width; ++x) z[x] = LoadAccumulator(top[x]);
  for (std::int32_t y = 1; y < height; ++y) {
    TColor32* row = bitmap.ScanLine(y);
    for (std::int32_t x = 0; x < width; ++x) row[x] = FilterStep(row[x], z[x], weight);
  }
  for (std::int32_t y = height - 2; y >= 0; --y) {
    TColor32* row = bitmap.ScanLine(y);
    for (std::int32_t x = 0; x < width; ++x) row[x] = FilterStep(row[x], z[x], weight);
  }
}

}  // namespace

std::int32_t ExpBlurWeight(std::int32_t Radius) {
  const Extended r = static_cast<Extended>(Radius) + 1.0L;
  return Round(65536.0L * (1.0L - std::exp(-2.3L / r)));
}

void ExpBlur(TBitmap32& Bitmap, std::int32_t Radius) {
  if (Radius <= 0 || Bitmap.Width() <= 0 || Bitmap.Height() <= 0 || Bitmap.Bits() == nullptr) return;
  const std::int64_t weight = ExpBlurWeight(Radius);
  for (std::int32_t y = 0; y < Bitmap.Height(); ++y) BlurRow(Bitmap.ScanLine(y), Bitmap.Width(), weight);
  BlurColumns(Bitmap, weight);
}

}  // namespace quirlon::raster
