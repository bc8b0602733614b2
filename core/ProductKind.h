#pragma once
// The kinds of product a scene can show, one table: the solid each is made of, what fills each of
// its faces, its usual size and the view it is shown from unless told otherwise.
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace quirlon::core {

// The three solids: a box (six flat faces, the bottom never seen), an upright disc, and a flat
// card with rounded corners leaning back by its tilt.
enum class TSolid { Box, Disc, Card };

// What fills one face: a layer type and its source. Box faces are named "front", "right", "left",
// "top" and "back", a disc's face "disc" and a card's "card", the backs of both "back".
struct TFaceFill {
  std::string_view Face;
  std::string_view Type;    // "normal", "customcolor", "disc" or "roundrect"
  std::string_view Source;  // a slot name, a colour, or kBackCoverFill
};

// The source of the back cover: the scene names its slot (see BackCoverSlot in ProductScene.h).
inline constexpr std::string_view kBackCoverFill = "<back cover>";
// A picture of the custom folder laid over a face in the face's own coordinates: stretched over
// its corners, so it follows the face at any size and view, and under the face's shading, so the
// scene's light falls on it as on the face. Several may lie on one face, in the order listed.
// One may lie beneath the fill instead: it shows only where the fill lets it through (a disc's
// translucent hub).
struct TFaceMaterial {
  std::string_view Face;
  std::string_view Picture;
  bool Beneath = false;
};

// The back of a product when no slot is free for it.
inline constexpr std::string_view kPlainBackColour = "clSilver";
// The page edges of books, a cream as TColor 0x00BBGGRR.
inline constexpr std::string_view kPageEdgeColour = "$D8E8F0";

struct TProductKind {
  std::string_view Name;  // as the command line and [Product] name it: "box", "hardcover", ...
  TSolid Solid;
  double Width, Height, Depth;  // the usual size in millimetres (a disc's diameter is its width)
  double Yaw, Pitch;            // the usual view in degrees
  std::array<TFaceFill, 5> FaceFills;
  std::size_t FaceCount;
  // Layers over the first face in place of the automatic shade and highlight ("type source" pairs
  // separated by ", "), or "".
  std::string_view FrontOverlays;
  // What the product is made of, face by face: edges, frames, sheen.
  std::span<const TFaceMaterial> Materials;
  // The usual light: degrees around the product from straight in front, on the side away from the
  // camera (so that the face the camera sees beside the front is the one in shade and the shadow
  // falls on that side, behind the front), and degrees above the floor.
  double LightAzimuth = 40, LightElevation = 45;

  std::span<const TFaceFill> Fills() const { return {FaceFills.data(), FaceCount}; }
  // The fill of Face, or nullptr when the kind leaves that face empty.
  const TFaceFill* FillOf(std::string_view Face) const;
};

// Every kind, in the order the command line lists them.
std::span<const TProductKind> ProductKinds();
// The kind named Name (exact, lower case), or nullptr.
const TProductKind* FindProductKind(std::string_view Name);
// "box, hardcover, ..." for messages.
std::string ProductKindNames();

}  // namespace quirlon::core
