#pragma once
// Where a bitmap holds anything: layers are mostly transparent black, and the blur, the edge cut
// and the stretches leave such pixels as they are, so they work only inside these bounds.
#include "raster/Bitmap32.h"

namespace quirlon::raster {

// The smallest rectangle holding every pixel that is not 0 (transparent black); empty (all zero)
// when there is none. Only the bitmap's ZeroOutside rectangle is read.
TRect NonzeroBounds(const TBitmap32& Bitmap);
// The same, for a caller that knows every pixel outside Within is 0: only Within is read.
TRect NonzeroBounds(const TBitmap32& Bitmap, const TRect& Within);

}  // namespace quirlon::raster
