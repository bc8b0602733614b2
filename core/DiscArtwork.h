#pragma once
// Disc artwork: turns a slot's picture (or colour) into the picture of an optical disc, a circular
// printed ring around a hub and a spindle hole, drawn anti-aliased. The disc fills a square of side
// c = max(Width, Height) drawing units that is scaled onto the Width x Height picture, so it
// touches all four edges and becomes an ellipse when the sides differ.
#include <cstdint>
#include <memory>

#include "raster/Bitmap32.h"

namespace quirlon::core {

// The longest side the drawing can take: AGG's rasterizer keeps coordinates in 24.8 fixed point
// in 32-bit integers, so a side of 2^23 pixels or more would overflow it.
inline constexpr std::int32_t kMaxDiscSide = (1 << 23) - 1;
inline constexpr const char* kDiscTooLarge = "Disc artwork of %d x %d pixels is too large to draw (at most %d a side)";

// Raises EOutOfResources(kDiscTooLarge) when Width or Height is beyond kMaxDiscSide.
void CheckDiscArtworkSize(std::int32_t Width, std::int32_t Height);

// The normal disc: Source stretched over the ring from 0.4 e to e (e = c / 2, the outer radius), a
// translucent black hub (alpha 70) with four thin rings from 0.125 e to 0.4 e, a transparent
// spindle hole of radius 0.125 e, and a darkened rim of width e / 40 along the outer edge.
// Returns a new straight-alpha picture of Width x Height pixels, transparent outside the disc.
// Width or Height <= 0 gives an empty picture. Source is not changed; an empty Source leaves the
// ring black. Raises EOutOfResources when the picture cannot be allocated, and as
// CheckDiscArtworkSize before anything is allocated.
std::unique_ptr<raster::TBitmap32> DrawDiscArtwork(const raster::TBitmap32& Source, std::int32_t Width,
                                                   std::int32_t Height);

// The large-area disc: the print reaches in to 0.15 e; the hole inside it stays transparent, edged
// by a ring one drawing unit wide in black with alpha 150; the same darkened rim. Otherwise as
// DrawDiscArtwork.
std::unique_ptr<raster::TBitmap32> DrawLargeDiscArtwork(const raster::TBitmap32& Source, std::int32_t Width,
                                                        std::int32_t Height);

}  // namespace quirlon::core
