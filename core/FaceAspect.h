#pragma once
// The true proportions of the faces a template's slots fill, and the picture of a slot made to
// fit them. A face seen at an angle looks far narrower than it is, so its proportions come from
// the product it belongs to (the [Product] section's millimetres) or, without one, from undoing
// the perspective of its quadrilateral; never from the projected corners as they stand.
#include <array>
#include <string>

#include "core/ProductGeometry.h"
#include "core/RenderSettings.h"
#include "core/Slots.h"
#include "raster/Bitmap32.h"

namespace quirlon::core {

struct TProductScene;
struct TTemplate;

// Width / height of the face each slot fills, slot 1 (BACKGROUND) at index 0; 0 where it is not
// known (no face, faces of different proportions, or a perspective that cannot be undone).
using TSlotAspects = std::array<double, kSlotCount>;

// The faces of Scene: the distances between their corners in millimetres.
TSlotAspects SceneSlotAspects(const TProductScene& Scene);

// Width / height of the rectangle whose picture through a pinhole camera with square pixels and
// its principal point at Principal, in a frame whose larger side is FrameSize, is Quad (top-left, top-right, bottom-right, bottom-left of the
// rectangle). Both vanishing points give the focal length; a rectangle square to the camera shows
// as a rectangle. 0 when it cannot be told: one pair of edges parallel and the other not (the
// focal length is then unknown), a focal length that no lens has, or a quadrilateral that no
// rectangle makes; and 0 as well when moving any corner by half a pixel changes the answer by
// more than 2 % (whole-pixel corners cannot tell it then).
double RectangleAspect(const std::array<TPlanePoint, 4>& Quad, const TPlanePoint& Principal, double FrameSize);

// For a template without a product: each slot's layers through RectangleAspect, the principal
// point at the middle of the template; known where every layer of the slot tells the same within
// 2 %.
TSlotAspects EstimatedSlotAspects(const TTemplate& Template);

// Art whose proportions differ from its face's by more than this factor is warned about.
inline constexpr double kFitWarningRatio = 1.05;

// A slot's picture and the face it fills, as a render found them.
struct TArtFit {
  int Slot = 0;  // 1..9
  double ArtAspect = 0, FaceAspect = 0;
  TFitMode Mode = TFitMode::Crop;  // as applied (never Automatic)
  // Whether the two differ by more than kFitWarningRatio.
  bool Mismatched() const;
};

// One line for people: "FRONT picture is 1.60:1 (width:height) but its face is 0.81:1; cropped to
// the face".
std::string ArtFitWarning(const TArtFit& Fit);

// Picture reframed to Aspect by Mode: Crop keeps the centred part of that shape, Pad adds a border
// of the picture's mean edge colour (of the two sides that grow) around the whole picture,
// Stretch (and Automatic) leave it. Nothing changes when the shape differs by less than a pixel.
void FitPictureToAspect(raster::TBitmap32& Picture, TFitMode Mode, double Aspect);

}  // namespace quirlon::core
