#pragma once
// A product scene turned into template layers: every face the camera sees projected to the
// integer corners of its layer, the floor reflection of every face standing on the floor (faint,
// fading and blurring as a glossy floor's), each product's contact and cast shadow, shade and
// highlight layers as the scene's one light falls on the faces, and
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

// Towards the scene's light (LightAzimuth, LightElevation), a unit vector.
TVec3 LightDirection(const TProductScene& Scene);

// The faces the camera sees, product by product from the farthest. The faces of one convex product
// never overlap, so their order among themselves is free: the first seam rules keep the kind's
// order, later ones draw them from the smallest in the picture to the largest.
std::vector<TProductFace> OrderedVisibleFaces(const TProductScene& Scene);

// The light as the shading of a scene's faces sees it: towards the light, and the largest cosine
// with it of any visible shaded face, and of any upright one (which gets the highlight).
struct TLighting {
  TVec3 Light;
  double Brightest, BrightestUpright;
};
TLighting SceneLighting(const TProductScene& Scene, const std::vector<TProductFace>& Visible);

// The shading of a face by the light: a flat shade as deep as the face is turned further from the
// light than the brightest face, and on the upright face meeting the light most squarely (and on
// a top brighter still) a highlight from its corner nearest the light, capped so no channel gains
// more than a fifth of the way to white. A rounded card gets a highlight from its corner nearest the light and a shade from
// the farthest; other faces but pictures and colours nothing.
std::vector<TLayerOverlay> AutomaticOverlays(const TProductFace& Face, const TLighting& Lighting);

// A shadow layer on the floor: its corners (the A-B edge nearest what casts it), what it is, and
// the keys that grade it.
struct TFloorShadow {
  std::array<TVec3, 4> Corners;
  std::string Note;
  TLayerLook Look;
};
// Every product's shadows, each its own: the cast shadows first, then the contact shadows. A cast
// shadow runs away from the light from the segment between the footprint's extremes across the
// light's way (so it starts under the product and never shows before its front), as far as the
// scene's shadow spread plus part of the tops' shadow, fading and widening its edges; a contact
// shadow is the footprint grown a little (a disc's: a short strip under the point it stands on;
// a card's: a strip along its lower edge), dark and tight. A product lifted off the floor has no
// contact shadow.
std::vector<TFloorShadow> FloorShadows(const TProductScene& Scene);

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
