#include "core/ProductKind.h"

namespace quirlon::core {

namespace {

constexpr TFaceFill kFront{"front", "normal", "FRONT"};
constexpr TFaceFill kBack{"back", "normal", kBackCoverFill};
constexpr TFaceFill kSpine{"left", "normal", "SIDE"};
constexpr TFaceFill kRightSide{"right", "normal", "SIDE"};
constexpr TFaceFill kPagesRight{"right", "customcolor", kPageEdgeColour};
constexpr TFaceFill kPagesTop{"top", "customcolor", kPageEdgeColour};

// The materials, drawn by quirlon-artwork into the custom folder. A box's right face runs from the
// front (left of its picture) to the back, its left face from the back to the front, and its top
// from the back (top of its picture) to the front.
constexpr TFaceMaterial kBoxMaterials[] = {
    {"front", "box-bevel-front.png"}, {"right", "box-bevel-side.png"}, {"left", "box-bevel-side.png"},
    {"top", "box-bevel-top.png"},     {"back", "box-bevel-front.png"},
};
constexpr TFaceMaterial kHardcoverMaterials[] = {
    {"front", "hardcover-front.png"}, {"right", "hardcover-fore-edge.png"}, {"left", "hardcover-spine.png"},
    {"top", "hardcover-head.png"},    {"back", "hardcover-back.png"},
};
constexpr TFaceMaterial kPaperbackMaterials[] = {
    {"right", "paperback-fore-edge.png"},
    {"top", "paperback-head.png"},
};
constexpr TFaceMaterial kMagazineMaterials[] = {
    {"front", "magazine-gloss.png"},
    {"right", "magazine-fore-edge.png"},
    {"top", "magazine-head.png"},
};
constexpr TFaceMaterial kJewelCaseMaterials[] = {
    {"front", "jewelcase-lid.png"}, {"right", "jewelcase-side.png"}, {"left", "jewelcase-spine.png"},
    {"top", "jewelcase-top.png"},   {"back", "jewelcase-tray.png"},
};
constexpr TFaceMaterial kKeepCaseMaterials[] = {
    {"front", "keepcase-front.png"}, {"right", "keepcase-side.png"}, {"left", "keepcase-side.png"},
    {"top", "keepcase-top.png"},     {"back", "keepcase-front.png"},
};
constexpr TFaceMaterial kDiscMaterials[] = {{"disc", "disc-hub.png", true},
                                            {"disc", "disc-sheen.png"},
                                            {"back", "disc-hub.png", true},
                                            {"back", "disc-sheen.png"}};
constexpr TFaceMaterial kTileMaterials[] = {{"card", "tile-edge.png"}, {"back", "tile-edge.png"}};

// Box faces are listed front, right, left, top, back: the order the first seam rules draw them in
// (faces of one convex solid never overlap, so any fixed order serves).
// clang-format off
// Each row: name, solid, usual width, height and depth (mm), usual yaw and pitch (degrees), the
// face fills and their count, the front's own overlays and the materials.
constexpr TProductKind kKinds[] = {
    // Software boxes are printed on both sides.
    {"box", TSolid::Box, 190, 235, 60, 30, 14,
     {kFront, kRightSide, kSpine, TFaceFill{"top", "normal", "TOP"}, kBack}, 5, "", kBoxMaterials},
    // Books: the spine on the left of the front cover, the page block on the right and on top.
    {"hardcover", TSolid::Box, 160, 240, 38, 30, 14, {kFront, kPagesRight, kSpine, kPagesTop, kBack}, 5, "",
     kHardcoverMaterials},
    {"paperback", TSolid::Box, 127, 203, 16, 30, 14, {kFront, kPagesRight, kSpine, kPagesTop, kBack}, 5, "",
     kPaperbackMaterials},
    {"magazine", TSolid::Box, 210, 280, 4, 30, 14,
     {kFront, TFaceFill{"right", "customcolor", "clWhite"}, kSpine, TFaceFill{"top", "customcolor", "clWhite"}, kBack},
     5, "", kMagazineMaterials},
    // A CD case: the spine of the insert on the left, clear plastic elsewhere.
    {"jewel-case", TSolid::Box, 142, 125, 10, 30, 14,
     {kFront, TFaceFill{"right", "customcolor", "clSilver"}, kSpine, TFaceFill{"top", "customcolor", "clSilver"},
      kBack},
     5, "", kJewelCaseMaterials},
    // A DVD case: the sleeve's spine shows on whichever side the camera sees, black plastic on top.
    {"keep-case", TSolid::Box, 135, 190, 14, 30, 14,
     {kFront, kRightSide, kSpine, TFaceFill{"top", "customcolor", "clBlack"}, kBack}, 5, "", kKeepCaseMaterials},
    // Flat products seen from behind (a turn shows their backs) show the same picture. A disc stands
    // low: a lower light gives its shadow some length.
    {"disc", TSolid::Disc, 120, 120, 0, 25, 6,
     {TFaceFill{"disc", "disc", "DISC"}, TFaceFill{"back", "disc", "DISC"}}, 2, "", kDiscMaterials, 40, 38},
    // The tile's highlight and shade follow the light (AutomaticOverlays).
    {"tile", TSolid::Card, 150, 150, 0, 22, 10,
     {TFaceFill{"card", "roundrect", "FRONT"}, TFaceFill{"back", "roundrect", "FRONT"}}, 2, "", kTileMaterials},
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
