#pragma once
// Reference blend arithmetic for tests, written from the definition and independent of the code
// under test.
#include "raster/Color.h"

namespace quirlon::raster::testref {

// One channel of F over B with weight w: (F * w + B * (256 - w) + 128) >> 8, on all four channels.
inline TColor32 RefMix(TColor32 f, TColor32 b, unsigned w) {
  TColor32 r = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const unsigned fc = (f >> shift) & 0xFF, bc = (b >> shift) & 0xFF;
    r |= static_cast<TColor32>((fc * w + bc * (256 - w) + 128) >> 8) << shift;
  }
  return r;
}

}  // namespace quirlon::raster::testref
