#include "core/ProductKind.h"

namespace quirlon::core {

namespace {

constexpr TFaceFill kFront{"front", "normal", "FRONT"};
constexpr TFaceFill kBack{"back", "normal", kBackCoverFill};
constexpr TFaceFill kSpine{"left", "normal", "SIDE"};
constexpr TFaceFill kRightSide{"right", "normal", "SIDE"};
constexpr TFaceFill kPagesRight{"right", "customcolor", kPageEdgeColour};
constexpr TFaceFill kPagesTop{"top", "customcolor", kPageEdgeColour};

// Box faces are listed front, right, left, top, back: the order the first seam rules draw them in
// (faces of one convex solid never overlap, so any fixed order serves).
// clang-format off
// Each row: name, solid, usual width, height and depth (mm), usual yaw and pitch (degrees), the
// face fills and their count, the front's own overlays and its picture.
constexpr TProductKind kKinds[] = {
    // Software boxes are printed on both sides.
    {"box", TSolid::Box, 190, 235, 60, 30, 14,
     {kFront, kRightSide, kSpine, TFaceFill{"top", "normal", "TOP"}, kBack}, 5, "", ""},
    // Books: the spine on the left of the front cover, the page block on the right and on top.
    {"hardcover", TSolid::Box, 160, 240, 38, 30, 14, {kFront, kPagesRight, kSpine, kPagesTop, kBack}, 5, "", ""},
    {"paperback", TSolid::Box, 127, 203, 16, 30, 14, {kFront, kPagesRight, kSpine, kPagesTop, kBack}, 5, "", ""},
    {"magazine", TSolid::Box, 210, 280, 4, 30, 14,
     {kFront, TFaceFill{"right", "customcolor", "clWhite"}, kSpine, TFaceFill{"top", "customcolor", "clWhite"}, kBack},
     5, "", ""},
    // A CD case: the spine of the insert on the left, clear plastic elsewhere, gloss over the front.
    {"jewel-case", TSolid::Box, 142, 125, 10, 30, 14,
     {kFront, TFaceFill{"right", "customcolor", "clSilver"}, kSpine, TFaceFill{"top", "customcolor", "clSilver"},
      kBack},
     5, "", "jewelcase-gloss.png"},
    // A DVD case: the sleeve's spine shows on whichever side the camera sees, black plastic on top.
    {"keep-case", TSolid::Box, 135, 190, 14, 30, 14,
     {kFront, kRightSide, kSpine, TFaceFill{"top", "customcolor", "clBlack"}, kBack}, 5, "", "keepcase-sleeve.png"},
    // Flat products seen from behind (a turn shows their backs) show the same picture. A disc stands
    // low: a lower light gives its shadow some length.
    {"disc", TSolid::Disc, 120, 120, 0, 25, 6,
     {TFaceFill{"disc", "disc", "DISC"}, TFaceFill{"back", "disc", "DISC"}}, 2, "", "", 40, 38},
    // The tile's highlight and shade follow the light (AutomaticOverlays).
    {"tile", TSolid::Card, 150, 150, 0, 22, 10,
     {TFaceFill{"card", "roundrect", "FRONT"}, TFaceFill{"back", "roundrect", "FRONT"}}, 2, "", ""},
};
// clang-format on

}  // namespace

const TFaceFill* TProductKind::FillOf(std::string_view Face) const {
  for (const TFaceFill& fill : Fills())
    if (fill.Face == Face) return &fill;
  return nullptr;
}

std::span<const TProductKind> ProductKinds() { return kKinds; }

const TProductKind* FindProductKind(std::string_view Name) {
  for (const TProductKind& kind : kKinds)
    if (kind.Name == Name) return &kind;
  return nullptr;
}

std::string ProductKindNames() {
  std::string out;
  for (const TProductKind& kind : kKinds) {
    if (!out.empty()) out += ", ";
    out += kind.Name;
  }
  return out;
}

}  // namespace quirlon::core
