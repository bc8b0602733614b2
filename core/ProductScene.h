#pragma once
// A product scene: one or two products standing on the floor, a camera, and how the picture is
// framed. It is a plain value; GenerateTemplate (SceneGenerator.h) turns it into template layers.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Camera.h"
#include "core/FaceUnderlap.h"
#include "core/ProductGeometry.h"
#include "core/ProductKind.h"

namespace quirlon::core {

// One product of a scene, in millimetres.
struct TProduct {
  std::string Kind;  // a name of the kinds table
  // Front width, height and depth (spine); a disc's diameter is its width, a card has no depth.
  double Width = 0, Height = 0, Depth = 0;
  // Where it stands: a box's front-left-bottom corner, the lowest point of a disc, a card's
  // bottom-left corner.
  TVec3 Position{};
  double Turn = 0;  // degrees about its own vertical axis through Position; positive turns the front left
  double Lift = 0;  // height of its bottom above the floor
  double Tilt = 0;  // degrees a card leans back
  friend bool operator==(const TProduct&, const TProduct&) = default;
};

// A layer drawn over a face with the face's corners: a shading type and its direction, or a
// "customfile" and its picture.
struct TLayerOverlay {
  std::string Type;
  std::string Source;
  std::optional<double> Opacity;  // the layer's opacity key (Template.h), none for the setting's full strength
  friend bool operator==(const TLayerOverlay&, const TLayerOverlay&) = default;
};

// Bounds in the camera's image plane (TCamera::Project at the scene's width), y down.
struct TFrameBounds {
  double MinX = 0, MaxX = 0, MinY = 0, MaxY = 0;
  friend bool operator==(const TFrameBounds&, const TFrameBounds&) = default;
};

struct TProductScene {
  std::vector<TProduct> Products;  // one or two
  TCameraSetup Camera;
  // The template's coordinate space, and how the products' outline sits in it: it fills at most
  // FillX of the width and FillY of the height, centred across, its lowest floor point at FloorAt
  // of the height.
  std::int32_t Width = 800, Height = 600;
  double FillX = 0.80, FillY = 0.64, FloorAt = 0.74;
  double ShadowSpread = 30;  // millimetres the cast shadow reaches past the shadow of the products' tops
  // The one light of the scene, a far light: degrees around the vertical from straight in front
  // (positive: from the left) and degrees above the floor (LightDirection).
  double LightAzimuth = 40, LightElevation = 45;
  // Layers over a face (by its name) in place of the automatic shade and highlight; an empty list
  // leaves the face plain.
  std::map<std::string, std::vector<TLayerOverlay>> Overlays;
  // The rules its faces meet by (FaceUnderlap.h): the latest for a new scene; a template keeps the
  // ones it was made by, so that making it again gives the same layers.
  int SeamRules = kSeamRules;
  // Set for the frames of a turn: every frame is fitted to these bounds instead of what it shows,
  // so the product keeps its size and place as it turns, and the shadow falls from the whole
  // footprint, so it does not jump when a face turns away. Never written to a template.
  std::optional<TFrameBounds> FixedFrame;
  friend bool operator==(const TProductScene&, const TProductScene&) = default;
};

// A flat face of a product in 3-D: corners in picture order (top-left, top-right, bottom-right,
// bottom-left as seen from its front side) and the layer that fills it.
struct TProductFace {
  std::array<TVec3, 4> Corners;
  std::string Type;                          // "normal", "customcolor", "disc" or "roundrect"
  std::string Source;                        // slot name or colour
  std::string Name;                          // "front", "left", ...; "front1", "front2" in a scene of two boxes
  std::string ReflectionType;                // the layer type of its floor reflection, "" for none
  std::vector<TLayerOverlay> FixedOverlays;  // the kind's own in place of the automatic ones
  bool HasFixedOverlays = false;
  std::vector<TLayerOverlay> Materials;  // "customfile" layers over its fill, under its shading
  std::vector<TLayerOverlay> MaterialsBeneath;  // "customfile" layers under its fill

  TVec3 Normal() const;
  TVec3 Centre() const;
  // True when the picture's bottom edge (C, D) lies on the floor.
  bool OnFloor() const;
  // The mirror image below the floor in the order a top-to-bottom mirrored picture needs: its
  // top-left is the face's bottom-left.
  std::array<TVec3, 4> ReflectedCorners() const;
};

// The faces of every product (seen or not), product by product, named and filled: the second
// product takes the "2" slots of the slots the first one uses, and the back cover the slot that
// BackCoverSlot names.
std::vector<std::vector<TProductFace>> SceneFaces(const TProductScene& Scene);

// The slot that shows the back cover when the camera turns to it: "FRONT2" while no other face
// of the scene takes it and only one product has a back; "" when none is free (the back is then
// plain).
std::string BackCoverSlot(const TProductScene& Scene);

// The kind of Product; throws EBadProductValue for an unknown kind.
const TProductKind& KindOf(const TProduct& Product);

// A scene of one product of Kind (see ProductKinds) with the given size in millimetres (zero
// keeps the kind's usual one) seen from Yaw and Pitch; the camera looks at the product's middle
// from nine times its largest size, at a 50 mm focal length. Checks the kind, the size and the
// angles (ProductValues.h) and throws EBadProductValue naming the value that is out of range.
TProductScene MakeProductScene(std::string_view Kind, double Width, double Height, double Depth, double Yaw,
                               double Pitch);
// The same with the kind's usual size and view.
TProductScene MakeProductScene(std::string_view Kind);

// The usual light azimuth of Kind seen from Yaw: on the side away from the camera (from the left
// when the camera looks straight at the front).
double DefaultLightAzimuth(const TProductKind& Kind, double Yaw);

// The middle of the products' bounds and nine times their largest size: the camera's default
// target and distance.
TVec3 DefaultTarget(const std::vector<TProduct>& Products);
double DefaultDistance(const std::vector<TProduct>& Products);

}  // namespace quirlon::core
