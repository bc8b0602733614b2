#pragma once
// The last step of every layer: the prepared layer picture is mapped onto its quadrilateral of the
// canvas through a projective transformation, then the target's alpha is cut back to an
// anti-aliased image of that quadrilateral, so every layer ends with a clean edge lying exactly on
// the template's corners.
#include "raster/Bitmap32.h"
#include "core/RenderSettings.h"
#include "raster/Color.h"

namespace quirlon::core {

// The four corners A, B, C, D as 32-bit floats, in that order.
struct TQuadCorners {
  float X[4] = {};
  float Y[4] = {};
};

// The overscan factor of a safe margin of SafeMargin percent a side: 1 + SafeMargin / 50 (1.05 for
// the default 2.5), plus 0.15 x (1 - FitScale) when FitScale < 1 (stored as float).
float OverscanFactor(double FitScale, double SafeMargin = kDefaultSafeMargin);
// The corners enlarged about their centroid by OverscanFactor(FitScale, SafeMargin).
TQuadCorners OverscanCorners(const TQuadCorners& Quad, double FitScale, double SafeMargin = kDefaultSafeMargin);

// Maps SrcRect of Src so that its top-left corner lands on A, top-right on B, bottom-right on C and
// bottom-left on D (canvas pixels), into Dst, combining by Src's DrawMode, CombineMode and
// MasterAlpha; then cuts Dst's alpha to the quadrilateral with ApplyEdgeMask. With Overscan the
// warp uses a quadrilateral enlarged about its centroid by 1.05 (more when FitScale < 1:
// 1.05 + 0.15 x (1 - FitScale)) so the cut, not the sampling, decides the edge; the mask always uses
// A, B, C, D exactly. Only Dst changes. Throws EZeroDivide when SrcRect is empty in either direction.
// SafeMargin (percent a side) sets the 1.05 (OverscanFactor).
// MaskScratch, when given, is a working bitmap kept between calls so the canvas-sized mask is not
// allocated and cleared every time; only the part near the quadrilateral is painted and read.
// DstContent, when given, is a rectangle outside which Dst is 0 (transparent black) on entry, so the
// cut need not search the whole of Dst. Returns a rectangle outside which Dst is 0 afterwards (the
// whole of Dst when DstContent is not given). Sampling chooses WarpNearest (Exact) or WarpFiltered
// (Smooth) for the picture; with Smooth, a face whose narrower midline is under 3 pixels shows the
// picture's alpha-weighted average colour instead (each pixel keeping its alpha). Precise, when given, holds the corners before they were rounded to
// whole pixels; the warp and the cut then use them instead of A, B, C, D (which still bound the
// cut's area, so they must lie within a pixel of them).
raster::TRect WarpToQuad(const raster::TBitmap32& Src, const raster::TRect& SrcRect, raster::TPoint A, raster::TPoint B,
                         raster::TPoint C, raster::TPoint D, raster::TBitmap32& Dst, bool Overscan, double FitScale,
                         raster::TBitmap32* MaskScratch = nullptr, const raster::TRect* DstContent = nullptr,
                         TSampling Sampling = TSampling::Exact, const TQuadCorners* Precise = nullptr,
                         double SafeMargin = kDefaultSafeMargin);

// Paints into Mask (already sized) a grey image of the quadrilateral A, B, C, D (16.16 points):
// opaque black outside, 0xFBFAFAFA (grey 250) on fully covered pixels, grey levels along the edges,
// which a band 0.05 pixel either side of the edges brightens a little (without EdgeBand the grey
// levels are the plain coverage).
void DrawQuadMask(raster::TBitmap32& Mask, raster::TFixedPoint A, raster::TFixedPoint B, raster::TFixedPoint C,
                  raster::TFixedPoint D, bool EdgeBand = true);

// Cuts Target's alpha by the grey levels of Mask (same size; otherwise nothing happens). Pixels at
// the mask's brightest level keep their alpha; elsewhere an opaque pixel takes the mask's grey
// level as alpha and a translucent one its alpha scaled by level / brightest (half to even).
// Colour channels never change.
void ApplyEdgeMask(raster::TBitmap32& Target, const raster::TBitmap32& Mask);
// The same cut for a mask whose grey level is 0 outside MaskArea: only MaskArea and the target's
// non-zero pixels are visited, with the same result.
void ApplyEdgeMask(raster::TBitmap32& Target, const raster::TBitmap32& Mask, const raster::TRect& MaskArea);
// The same for a caller that knows every target pixel outside TargetContent is 0: only
// TargetContent is searched for them. With Proportional every pixel's alpha is scaled by
// level / brightest, opaque ones too, and a pixel cut to alpha 0 becomes transparent black.
void ApplyEdgeMask(raster::TBitmap32& Target, const raster::TBitmap32& Mask, const raster::TRect& MaskArea,
                   const raster::TRect& TargetContent, bool Proportional = false);

// The same for a mask that covers only Target's rectangle from Origin on, Mask's size: grey level 0
// elsewhere.
void ApplyEdgeMaskAt(raster::TBitmap32& Target, const raster::TBitmap32& Mask, raster::TPoint Origin,
                     const raster::TRect& MaskArea, const raster::TRect& TargetContent, bool Proportional = false);

// The rectangle outside which DrawQuadMask leaves every pixel as its clear left it.
raster::TRect QuadMaskBounds(raster::TPoint A, raster::TPoint B, raster::TPoint C, raster::TPoint D);

}  // namespace quirlon::core
