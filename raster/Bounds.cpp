#include "raster/Bounds.h"

namespace quirlon::raster {

namespace {

bool RowIsZero(const TColor32* row, std::int32_t width) {
  TColor32 any = 0;
  for (std::int32_t x = 0; x < width; ++x) any |= row[x];
  return any == 0;
}

}  // namespace

TRect NonzeroBounds(const TBitmap32& Bitmap) { return NonzeroBounds(Bitmap, Bitmap.ZeroOutside()); }

TRect NonzeroBounds(const TBitmap32& Bitmap, const TRect& Within) {
  const TRect r = IntersectRect(Within, Bitmap.BoundsRect());
  if (r.Right <= r.Left || r.Bottom <= r.Top || Bitmap.Bits() == nullptr) return TRect{};
  const std::int32_t x0 = r.Left, w = r.Right - r.Left;
  std::int32_t top = r.Top, bottom = r.Bottom;
  while (top < r.Bottom && RowIsZero(Bitmap.ScanLine(top) + x0, w)) ++top;
  if (top == r.Bottom) return TRect{};
  while (RowIsZero(Bitmap.ScanLine(bottom - 1) + x0, w)) --bottom;
  // Only the margins left of the leftmost and right of the rightmost pixel found so far are read.
  // Zero blocks of eight are passed over with one test. Positions count from x0.
  std::int32_t left = w, right = 0;
  for (std::int32_t y = top; y < bottom; ++y) {
    const TColor32* row = Bitmap.ScanLine(y) + x0;
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
  return TRect{x0 + left, top, x0 + right, bottom};
}

}  // namespace quirlon::raster
