#pragma once
// Recursive exponential blur: a first-order filter run forward and back along every row, then down
// and up every column. Integer-only per pixel, so its cost does not depend on the radius.
#include <cstdint>

#include "raster/Bitmap32.h"

namespace quirlon::raster {

// Filter weight of the new pixel in 16-bit fixed point: round(65536 x (1 - e^(-2.3 / (Radius + 1))))
// in extended precision. Radius 15 gives 8775, 25 gives 5548. Meaningful for Radius >= 1.
std::int32_t ExpBlurWeight(std::int32_t Radius);

// How many pixels past the last non-zero value the filter's accumulator needs to decay to exactly 0
// (its steps round towards minus infinity, so it does reach 0). Radius >= 1.
std::int32_t ExpBlurReach(std::int32_t Radius);

// Blurs all four channels of Bitmap in place, each alike and without premultiplication. Radius <= 0
// and empty bitmaps are left alone. Sends no change notification.
// Only the bounding box of the non-zero pixels grown by ExpBlurReach is filtered (outside it the
// result is 0 anyway), on up to two threads; the pixels equal ExpBlurReference's.
void ExpBlur(TBitmap32& Bitmap, std::int32_t Radius);
// The same for a caller that knows every pixel outside Content is 0 (only Content is searched).
// Returns a rectangle outside which the result is 0: Content grown by the reach, within the bitmap.
TRect ExpBlur(TBitmap32& Bitmap, std::int32_t Radius, const TRect& Content);

// The plain whole-bitmap blur, one pixel and one channel at a time: the reference ExpBlur is
// tested against.
void ExpBlurReference(TBitmap32& Bitmap, std::int32_t Radius);

}  // namespace quirlon::raster
