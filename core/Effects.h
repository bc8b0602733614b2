#pragma once
// Surface effects for the layer pictures: the fade of a reflection towards its far end, the
// brightness shift of a finished reflection, a grey mask turned into alpha, and the built-in masks.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "raster/Bitmap32.h"

namespace quirlon::core {

// Fades the alpha of Bitmap row by row from the top over n = max(1, rnd(Length / 100 x height))
// rows: row r (from 0) keeps the fraction b / 255 of its alpha, b = 255 - (r + 1) x 256 / n, and
// is fully transparent once b <= 0. Only alpha bytes change. A bitmap without rows is left alone.
void FadeAlphaRamp(raster::TBitmap32& Bitmap, std::uint8_t Length);
// The same ramp with each row's fraction raised to the power Curve (>= 1): a glossy floor's
// reflection, bright at the base and gone sooner. Curve 1 gives FadeAlphaRamp's pixels.
void FadeAlphaCurve(raster::TBitmap32& Bitmap, std::uint8_t Length, double Curve);

// The picture of a shadow on the floor, Size x Size pixels of Colour: opaque along its top row, its
// alpha losing Fade (0..1) of itself down to the bottom row, fastest near the top, and its left and
// right edges softening over a band that grows from nothing at the top to Soften (0..1) of the
// width at the bottom, as a shadow's penumbra widens away from what casts it. With BendY > 0 the
// shadow starts not along the top row but along the two lines from its top-left corner to the
// point (BendX, BendY) (fractions of the width and height) and on to its top-right corner; above
// them it is opaque, and the fade and the softening count from them.
void DrawFloorShadow(raster::TBitmap32& Bitmap, raster::TColor32 Colour, double Fade, double Soften,
                     double BendX = 0, double BendY = 0, std::int32_t Size = 256);

// Blurs Bitmap (transparent outside Content) so that the blur grows across the quadrilateral
// A, B, C, D: radius Near along its A-B edge, Far along its D-C edge, blended by where each pixel
// lies between the two. Returns the rectangle outside which the result is 0.
raster::TRect GrowingBlur(raster::TBitmap32& Bitmap, std::int32_t Near, std::int32_t Far, const raster::TRect& Content,
                          raster::TPoint A, raster::TPoint B, raster::TPoint C, raster::TPoint D);

// Adds Amount to red, green and blue (each clamped to 0..255) of every pixel whose alpha is not 0.
// Amount 0 does nothing.
void ShiftBrightness(raster::TBitmap32& Bitmap, std::int32_t Amount);
// The same where every pixel outside Within is known to be transparent (and so left alone).
void ShiftBrightness(raster::TBitmap32& Bitmap, std::int32_t Amount, const raster::TRect& Within);

// When Mask and Target have the same size, Target's alpha becomes the Intensity of the mask pixel
// at the same position; otherwise nothing happens. Target's colour bytes stay.
void MaskToAlpha(const raster::TBitmap32& Mask, raster::TBitmap32& Target);

// Mask 4's rounded rectangle drawn at Width x Height, as that mask stretched to the size would place
// its outline, with an edge EdgeShare times as soft as the mask's scaled one but never sharper
// than a pixel's coverage: drawn at a layer's size on the canvas, 0 gives a crisp outline.
void BuildRoundRectMaskAt(raster::TBitmap32& Bitmap, std::int32_t Width, std::int32_t Height, double EdgeShare);

// The built-in grey masks, opaque, addressed by index:
//   0  300 x 300  diagonal ramp, intensity 0 at the top-right corner, 255 at the bottom-left
//   1  300 x 300  vertical ramp, intensity 28 in the top row, 255 in the bottom row
//   2  300 x 300  flat grey (173, 169, 168), intensity 169
//   3  400 x 400  plain (no layer type uses it)
//   4  326 x 257  white rounded rectangle on black with softened edges
//   5  400 x 400  plain (no layer type uses it)
// Only sizes and intensities matter to the users of the masks.
inline constexpr std::int32_t kShadeMaskCount = 6;

// Gives Bitmap the size and pixels of mask Index; other indices raise
// "List index out of bounds (%d)".
void BuildShadeMask(std::int32_t Index, raster::TBitmap32& Bitmap);

// The six masks held together, as the main window keeps them. Empty until Build is called.
class TShadeBitmap32List {
public:
  void Build();
  // As Build, but each mask is drawn when it is first asked for (once, also when several threads
  // ask at the same time): a render pays only for the masks its layers use.
  void BuildOnDemand();
  std::int32_t Count() const { return static_cast<std::int32_t>(fBitmaps.size()); }
  // Raises "List index out of bounds (%d)" for an index outside 0 .. Count() - 1.
  raster::TBitmap32& BitmapAt(std::int32_t Index);
  const raster::TBitmap32& BitmapAt(std::int32_t Index) const;

private:
  void Draw(std::int32_t Index) const;

  std::vector<std::unique_ptr<raster::TBitmap32>> fBitmaps;
  std::unique_ptr<std::once_flag[]> fDrawn;  // after BuildOnDemand
};

}  // namespace quirlon::core
