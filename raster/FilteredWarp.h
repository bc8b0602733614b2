#pragma once
// The filtered perspective warp: each destination pixel is an average of the source over that
// pixel's footprint, so enlarged pictures come out smooth and shrunk ones keep their thin strokes.
//
// Enlarging (the footprint at most one source pixel wide) samples bilinearly between the four
// nearest source pixels. Shrinking samples a pyramid of box-halved copies: the level is the one
// whose texel is as wide as the footprint's shorter axis, and up to kMaxFootprintTaps bilinear taps
// spread along the longer axis cover a footprint stretched by perspective without blurring it
// across. Taps are integer (8-bit fractions) and averaged on alpha-weighted colours, so transparent
// pixels lend no colour to their neighbours. A picture of one colour whose alpha alone varies (a
// shade or highlight mask) is filtered on its alpha only.
#include <cstdint>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/PixelStore.h"
#include "raster/ProjectiveTransformation.h"

namespace quirlon::raster {

// Taps along a footprint's longer axis; longer footprints move to a coarser level.
inline constexpr int kMaxFootprintTaps = 4;

// A source picture with its box-halved copies, each level half the size of the one before
// (rounded up), down to what the deepest footprint needs. Level 0 is the picture itself (not
// copied; it must outlive the pyramid and not change). Colours are straight alpha at every level.
class TSourcePyramid {
public:
  // Builds levels until a level's texel spans at least MaxFootprint source pixels (or the level is
  // 1 x 1); MaxFootprint <= 1 builds none. Only Src's ClipRect is used.
  TSourcePyramid(const TBitmap32& Src, double MaxFootprint);

  int LevelCount() const { return static_cast<int>(fLevels.size()); }

  // One level's pixels: Width x Height straight-alpha colours, rows Stride apart.
  struct TLevel {
    const TColor32* Bits = nullptr;
    std::int32_t Width = 0, Height = 0, Stride = 0;
  };
  const TLevel& Level(int L) const { return fLevels[static_cast<std::size_t>(L)]; }

private:
  std::vector<TLevel> fLevels;
  // Levels 1 and up, one after another in one block: a cover's pyramid then comes in a huge page or
  // two instead of hundreds of small ones, and the next pyramid of that picture's size (its
  // reflection's) takes the same block again. Sized for every level down to 1 x 1 for that reason.
  TPixelStore fStore;
};

// Draws Src through Mapping onto Dst with filtered sampling. Pixels are areas here: destination
// pixel (x, y) is sampled at (x + 0.5, y + 0.5), and source pixel k spans [k, k + 1). A pixel whose
// centre maps outside Src's clip rectangle (or has no image) takes Src's OuterColor. Which
// destination pixels are visited, how a sample is combined (Src's DrawMode, CombineMode, MasterAlpha) and the
// returned area are as in WarpNearest; only the colour of a sample differs. EdgeReach > 0 carries
// the picture's edge pixels that many destination pixels beyond the mapped quadrilateral (the
// visited area grows by as much), so an edge cut later need not fall inside the picture.
TRect WarpFiltered(TBitmap32& Dst, const TBitmap32& Src, TProjectiveTransformation& Mapping, const TRect& DstClip,
                   std::int32_t EdgeReach = 0);

// The longer and the shorter axis, in source pixels, of the footprint of destination pixel (X, Y)
// under the reverse mapping R (false where the pixel has no image).
bool FootprintAxes(const TSingleMatrix& R, double X, double Y, double& Major, double& Minor);

}  // namespace quirlon::raster
