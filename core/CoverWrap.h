#pragma once
// A full cover wrap, as printers deliver a book's cover: back | spine | front from left to right in
// one picture, with a bleed all round that is cut off in print. Split into the three pictures a
// book's faces take.
#include <string>

#include "raster/Bitmap32.h"

namespace quirlon::core {

// The wrap's layout in millimetres.
struct TCoverWrap {
  double TrimWidth = 0, TrimHeight = 0;  // one cover as trimmed
  double Spine = 0;
  double Bleed = 3.175;  // 0.125 in, the usual print-on-demand bleed
};
// The wrap's proportions may differ from the layout's by this share at most.
inline constexpr double kWrapTolerance = 0.02;
inline constexpr double kMaxBleed = 25;

// Back, Spine and Front as the pixels of Wrap that lie wholly inside each part (no bleed, nothing
// of a neighbour), the wrap's pixels per millimetre taken across and down separately. Throws
// EBadProductValue naming Name and the values when a layout value is out of range, when the wrap's
// proportions differ from the layout's by more than kWrapTolerance (the message gives the spine
// that would fit), or when a part would be less than a pixel wide.
void SplitCoverWrap(const raster::TBitmap32& Wrap, const std::string& Name, const TCoverWrap& Layout,
                    raster::TBitmap32& Back, raster::TBitmap32& Spine, raster::TBitmap32& Front);

}  // namespace quirlon::core
