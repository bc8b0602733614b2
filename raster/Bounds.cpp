#include "raster/Bounds.h"

namespace quirlon::raster {

namespace {

bool RowIsZero(const TColor32* row, std::int32_t width) {
  TColor32 any = 0;
  for (std::int32_t x = 0; x < width; ++x) any |= row[x];
  return any == 0;
}

}  // namespace

TRect NonzeroBounds(const TBitmap32& Bitmap) {
  const std::int32_t w = Bitmap.Width(), h = Bitmap.Height();
  if (w <= 0 || h <= 0 || Bitmap.Bits() == nullptr) return TRect{};
  std::int32_t top = 0, bottom = h;
  while (top < h && RowIsZero(Bitmap.ScanLine(top), w)) ++top;
  if (top == h) return TRect{};
  while (RowIsZero(Bitmap.ScanLine(bottom - 1), w)) --bottom;
  // Only the margins left of the leftmost and right of the rightmost pixel found so far are read.
  // Zero blocks of eight are passed over with one test.
  std::int32_t left = w, right = 0;
  for (std::int32_t y = top; y < bottom; ++y) {
    const TColor32* row = Bitmap.ScanLine(y);
    std::int32_t x = 0;
    while (x + 8 <= left && RowIsZero(row + x, 8)) x += 8;
    for (; x < left; ++x)
      if (row[x] != 0) {
        left = x;
        break;
      }
    x = w;
    while (x - 8 >= right && RowIsZero(row + x - 8, 8)) x -= 8;
    for (; x > right; --x)
      if (row[x - 1] != 0) {
        right = x;
        break;
      }
  }
  return TRect{left, top, right, bottom};
}

}  // namespace quirlon::raster
