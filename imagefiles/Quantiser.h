#pragma once
// Reducing a picture to at most 256 colours for GIF: a median cut over a histogram of the
// picture's colours (5 bits a channel), each palette entry the mean of the true colours of its box,
// and every pixel mapped to the nearest entry, with optional ordered (Bayer 4 x 4) or
// Floyd-Steinberg dithering.
#include <array>
#include <cstdint>
#include <vector>

#include "raster/Bitmap32.h"

namespace quirlon::imagefiles {

enum class TDither : std::uint8_t { None, Ordered, FloydSteinberg };

struct TQuantised {
  std::int32_t Width = 0, Height = 0;
  std::vector<std::array<std::uint8_t, 3>> Palette;  // R, G, B; 1 to 256 entries
  std::vector<std::uint8_t> Indices;                 // Width x Height, top row first
  std::int32_t TransparentIndex = -1;                // the entry of clear pixels, or -1
};

// Picture in at most MaxColours entries (2..256). With Transparent, pixels with alpha below 128
// take one entry of their own (counted in MaxColours) and the others are taken as opaque;
// without it the colours are used as they are stored and alpha is ignored.
TQuantised QuantisePicture(const raster::TBitmap32& Picture, int MaxColours, bool Transparent, TDither Dither);

}  // namespace quirlon::imagefiles
