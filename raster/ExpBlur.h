#pragma once
// Recursive exponential blur: a first-order filter run forward and back along every row, then down
// and up every column. Integer-only per pixel, so its cost does not depend on the radius.
#include <cstdint>

#include "raster/Bitmap32.h"

namespace quirlon::raster {

// Filter weight of the new pixel in 16-bit fixed point: round(65536 x (1 - e^(-2.3 / (Radius + 1))))
// in extended precision. Radius 15 gives 8775, 25 gives 5548. Meaningful for Radius >= 1.
std::int32_t ExpBlurWeight(std::int32_t Radius);

// Blurs all four channels of Bitmap in place, each alike and without premultiplication. Radius <= 0
// and empty bitmaps are left alone. Sends no change notification.
void ExpBlur(TBitmap32& Bitmap, std::int32_t Radius);

}  // namespace quirlon::raster
