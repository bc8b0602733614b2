#pragma once
// Faces that meet without seams. Both edges where two faces meet are anti-aliased, so without help
// the background would show through the half-covered edge pixels as a faint light line. A face
// drawn earlier therefore reaches a little under the face drawn later along the edge they share;
// where its reach would have to taper to nothing at a corner on the product's outline, a copy of
// the face (its underlay) is drawn first, reaching farther under the neighbours but keeping inside
// the outline.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/ProductGeometry.h"

namespace quirlon::core {

// How far (template units) an earlier face reaches under a later one along a shared edge.
inline constexpr double kUnderlap = 3.0;
// At most this much (template units) of a face may show past its neighbour's outline.
inline constexpr double kBump = 0.5;
// How far an underlay reaches under its neighbours all along the shared edges (far enough for a
// pixel plus the anti-aliased edge down to about 200 pixels wide), and how far its own outline
// keeps inside the face's, so that it never shows past the outline and does not double the
// outline's anti-aliasing.
inline constexpr double kUnderlayReach = 8.0;
inline constexpr double kUnderlayInset = 1.5;

// The rules faces meet by, numbered as they were made. Rules 1 give a face whose reach tapers one
// underlay (the bundled templates were made by them, and their layers stay as they are). Rules 2
// (with the drawing order of SceneGenerator.h: a product's smallest face first) give every face
// with a later neighbour two underlays: one whose corners on the outline slide far along the
// neighbour's outline, one whose corners slide at most 4 units, so that the shared edge is
// covered close to the outline too; an underlay's corner inside the product follows its own edge
// under the neighbour, and a corner that would let the underlay show stays without the others.
inline constexpr int kFirstSeamRules = 1;
inline constexpr int kSeamRules = 2;

// A layer that rides on a face's corners, with what the template says about it.
struct TOverlayNote {
  std::string Type;
  std::string Source;
  std::string Note;
  std::optional<double> Opacity;  // the layer's opacity key
};

// One drawn quadrilateral of a scene, in drawing order: a face or a floor reflection, its corners
// in the world and in template coordinates (before rounding), the layers over it, and its
// underlay when it needs one.
struct TSceneItem {
  std::string Type;
  std::string Source;
  std::string Name;
  std::array<TVec3, 4> World;
  TPlaneQuad Corners;
  std::vector<TOverlayNote> Overlays;
  std::vector<TOverlayNote> Beneath;  // drawn just before it, after its underlays
  std::optional<TPlaneQuad> Underlay;
  std::optional<TPlaneQuad> CornerUnderlay;  // drawn before Underlay (rules 2)
};

// Round things (discs, rounded cards) take no part: the corners of their quadrilaterals are bare.
bool TakesNoUnderlap(const std::string& Type);

// Moves each shared edge of an earlier item by Reach into the later item that shares it; a corner
// on two such edges moves so that both edges shift by Reach. An item whose reach tapers at a
// corner on the outline also gets an underlay reaching UnderlayReach (none when it is 0), and by
// Rules 2 a second one. Nothing happens for a Reach of 0 or less.
void UnderlapSharedEdges(std::vector<TSceneItem>& Items, double Reach, double UnderlayReach = kUnderlayReach,
                         int Rules = kSeamRules);

}  // namespace quirlon::core
