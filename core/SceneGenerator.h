#pragma once
// A product scene turned into template layers: every face the camera sees projected to the
// integer corners of its layer, the floor reflection of every face standing on the floor, a soft
// floor shadow behind the products, shade or highlight layers on the faces the light grazes, and
// the underlaps and underlays that keep faces meeting without seams (FaceUnderlap.h).
#include <string>
#include <vector>

#include "core/FaceUnderlap.h"
#include "core/ProductScene.h"
#include "core/Template.h"

namespace quirlon::core {

// What a generated layer is for.
enum class TGeneratedRole {
  Shadow,      // the soft floor shadow
  Reflection,  // a face mirrored below the floor, or the shading mirrored with it
  Underlay,    // a copy of a face reaching under its neighbours, hidden but for the seams
  Face,        // a face of a product
  Overlay,     // shading, a highlight or a picture over a face
};

// A template made from a scene: its coordinate space and its layers in drawing order, sections
// named "Layer1", "Layer2", ...; a shadow has the source "unknown", as a template without one
// reads. Notes[i] says what layer i shows ("reflection of front"), Roles[i] what it is for.
struct TGeneratedTemplate {
  TTemplateImageSize Size;
  std::vector<TTemplateLayer> Layers;
  std::vector<std::string> Notes;
  std::vector<TGeneratedRole> Roles;
};

// Towards the light: from the front, upper left.
TVec3 LightDirection();

// The faces the camera sees, product by product from the farthest. The faces of one convex product
// never overlap, so their order among themselves is free: the first seam rules keep the kind's
// order, later ones draw them from the smallest in the picture to the largest.
std::vector<TProductFace> OrderedVisibleFaces(const TProductScene& Scene);

// The floor quadrilateral beside and behind Faces, away from the light: their footprint swept along
// the light's floor direction by Spread millimetres, reduced to the parallelogram spanned by its two
// outermost corners across the sweep. It starts halfway into the footprint, so it never shows in
// front of the product.
std::array<TVec3, 4> ShadowPolygon(const std::vector<TProductFace>& Faces, double Spread);

// Shade on a face the light grazes, a highlight on one it meets squarely, each from the corner
// farthest from (nearest to) the light; nothing on faces other than pictures and colours.
std::vector<TLayerOverlay> AutomaticOverlays(const TProductFace& Face);

// Template coordinates (before rounding) of a world point: the products' outline (or the scene's
// FixedFrame) fills its share of the frame, centred across, the lowest floor point at FloorAt of
// the height.
class TSceneFit {
 public:
  explicit TSceneFit(const TProductScene& Scene);
  TPlanePoint operator()(const TVec3& P) const;

 private:
  void Fit(const TProductScene& Scene, const TFrameBounds& Bounds);
  TCamera fCamera;
  double fFrameWidth, fScale, fOffsetX, fOffsetY;
};

// The drawn quadrilaterals in drawing order, before the underlap: the reflections of every face,
// then the faces, each with the layers over it.
std::vector<TSceneItem> SceneItems(const TProductScene& Scene);

// The template of Scene. Throws EBadProductValue when a product is unknown or reaches behind the
// camera, or when nothing of it shows.
TGeneratedTemplate GenerateTemplate(const TProductScene& Scene);

}  // namespace quirlon::core
