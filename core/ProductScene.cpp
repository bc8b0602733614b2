#include "core/ProductScene.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "core/ProductError.h"
#include "core/ProductValues.h"
#include "core/Template.h"

namespace quirlon::core {

namespace {

struct TSolidFace {
  std::string_view Name;
  std::array<TVec3, 4> Corners;
};

std::vector<TSolidFace> BoxFaces(const TProduct& p) {
  const double w = p.Width, h = p.Height, d = p.Depth;
  auto at = [&](double x, double y, double z) {
    return TurnAbout({p.Position.X + x, p.Position.Y + y + p.Lift, p.Position.Z + z}, p.Position, p.Turn);
  };
  return {
      {"front", {at(0, h, 0), at(w, h, 0), at(w, 0, 0), at(0, 0, 0)}},
      {"right", {at(w, h, 0), at(w, h, d), at(w, 0, d), at(w, 0, 0)}},
      {"left", {at(0, h, d), at(0, h, 0), at(0, 0, 0), at(0, 0, d)}},
      {"top", {at(0, h, d), at(w, h, d), at(w, h, 0), at(0, h, 0)}},
      {"back", {at(w, h, d), at(0, h, d), at(0, 0, d), at(w, 0, d)}},
  };
}

// A flat product's face and its back: the back's picture reads the right way round from behind
// (its top-left is the face's top-right).
std::vector<TSolidFace> FlatFaces(std::string_view Name, const std::array<TVec3, 4>& Flat, const TVec3& Axis,
                                  double Turn) {
  TSolidFace face{Name, {}}, back{"back", {}};
  for (int i = 0; i < 4; ++i) face.Corners[i] = TurnAbout(Flat[i], Axis, Turn);
  back.Corners = {face.Corners[1], face.Corners[0], face.Corners[3], face.Corners[2]};
  return {face, back};
}

std::vector<TSolidFace> DiscFaces(const TProduct& p) {
  const double r = p.Width / 2.0;
  const double x = p.Position.X, z = p.Position.Z, y0 = p.Position.Y + p.Lift;
  const std::array<TVec3, 4> flat = {TVec3{x - r, y0 + 2 * r, z}, TVec3{x + r, y0 + 2 * r, z}, TVec3{x + r, y0, z},
                                     TVec3{x - r, y0, z}};
  return FlatFaces("disc", flat, p.Position, p.Turn);
}

// A card stands on its bottom edge on the floor.
std::vector<TSolidFace> CardFaces(const TProduct& p) {
  const double t = Radians(p.Tilt);
  const double topY = p.Height * std::cos(t), topZ = p.Height * std::sin(t);
  const TVec3& o = p.Position;
  const std::array<TVec3, 4> flat = {TVec3{o.X, o.Y + topY, o.Z + topZ}, TVec3{o.X + p.Width, o.Y + topY, o.Z + topZ},
                                     TVec3{o.X + p.Width, o.Y, o.Z}, TVec3{o.X, o.Y, o.Z}};
  return FlatFaces("card", flat, o, p.Turn);
}

std::vector<TSolidFace> SolidFaces(const TProduct& p) {
  switch (KindOf(p).Solid) {
    case TSolid::Box:
      return BoxFaces(p);
    case TSolid::Disc:
      return DiscFaces(p);
    case TSolid::Card:
      return CardFaces(p);
  }
  return {};
}

std::string ReflectionTypeOf(std::string_view Type) {
  if (Type == "normal") return "reflection";
  if (Type == "disc") return "discreflection";
  if (Type == "customcolor") return "customcolorreflection";
  return "";
}

bool TakesSlot(const TFaceFill& Fill) { return Fill.Type != "customcolor" && Fill.Source != kBackCoverFill; }

// The slots the faces of Product take, back cover aside.
std::set<std::string> SlotsOf(const TProduct& Product) {
  std::set<std::string> slots;
  for (const TFaceFill& fill : KindOf(Product).Fills())
    if (TakesSlot(fill)) slots.insert(std::string(fill.Source));
  return slots;
}

// The slots the first of two products takes (none in a scene of one): the second takes the "2"
// slot of each of them instead.
std::set<std::string> FirstProductSlots(const TProductScene& Scene) {
  return Scene.Products.size() == 2 ? SlotsOf(Scene.Products[0]) : std::set<std::string>();
}

std::string SlotFor(std::size_t Index, const TFaceFill& Fill, const std::set<std::string>& FirstSlots) {
  std::string slot(Fill.Source);
  if (Index == 1 && FirstSlots.count(slot)) slot += "2";
  return slot;
}

std::vector<TLayerOverlay> ParseFixedOverlays(std::string_view Text) {
  std::vector<TLayerOverlay> out;
  while (!Text.empty()) {
    const std::size_t comma = Text.find(", ");
    const std::string_view pair = Text.substr(0, comma);
    const std::size_t blank = pair.find(' ');
    out.push_back({std::string(pair.substr(0, blank)), std::string(pair.substr(blank + 1))});
    Text = comma == std::string_view::npos ? std::string_view() : Text.substr(comma + 2);
  }
  return out;
}

}  // namespace

TVec3 TProductFace::Normal() const {
  const TVec3 &a = Corners[0], &b = Corners[1], &d = Corners[3];
  // Picture x runs A->B and picture y A->D (downwards); with y up in the world the front side
  // faces (A->B) x (A->D).
  return Normalized(Cross(Sub(b, a), Sub(d, a)));
}

TVec3 TProductFace::Centre() const {
  return Scale(Add(Add(Corners[0], Corners[1]), Add(Corners[2], Corners[3])), 0.25);
}

bool TProductFace::OnFloor() const { return std::fabs(Corners[2].Y) < 1e-6 && std::fabs(Corners[3].Y) < 1e-6; }

std::array<TVec3, 4> TProductFace::ReflectedCorners() const {
  return {MirrorFloor(Corners[3]), MirrorFloor(Corners[2]), MirrorFloor(Corners[1]), MirrorFloor(Corners[0])};
}

const TProductKind& KindOf(const TProduct& Product) {
  const TProductKind* kind = FindProductKind(Product.Kind);
  if (kind == nullptr)
    throw EBadProductValue("Unknown product kind \"" + Product.Kind + "\" (one of " + ProductKindNames() + ")");
  return *kind;
}

std::string BackCoverSlot(const TProductScene& Scene) {
  // Free unless a face takes it or two products have backs.
  int backs = 0;
  bool taken = false;
  const std::set<std::string> firstSlots = FirstProductSlots(Scene);
  for (std::size_t i = 0; i < Scene.Products.size(); ++i)
    for (const TFaceFill& fill : KindOf(Scene.Products[i]).Fills()) {
      if (fill.Source == kBackCoverFill) ++backs;
      taken = taken || (TakesSlot(fill) && SlotFor(i, fill, firstSlots) == "FRONT2");
    }
  return backs == 1 && !taken ? "FRONT2" : "";
}

std::vector<std::vector<TProductFace>> SceneFaces(const TProductScene& Scene) {
  const bool numbered = Scene.Products.size() == 2 && KindOf(Scene.Products[0]).Solid == TSolid::Box &&
                        KindOf(Scene.Products[1]).Solid == TSolid::Box;
  const std::set<std::string> firstSlots = FirstProductSlots(Scene);
  const std::string backSlot = BackCoverSlot(Scene);

  std::vector<std::vector<TProductFace>> out;
  for (std::size_t i = 0; i < Scene.Products.size(); ++i) {
    const TProduct& product = Scene.Products[i];
    const TProductKind& kind = KindOf(product);
    std::vector<TProductFace> faces;
    for (const TSolidFace& solid : SolidFaces(product)) {
      const TFaceFill* fill = kind.FillOf(solid.Name);
      if (fill == nullptr) continue;
      TProductFace face;
      face.Corners = solid.Corners;
      face.Type = std::string(fill->Type);
      face.Source = std::string(fill->Source);
      if (fill->Source == kBackCoverFill) {
        if (!backSlot.empty()) {
          face.Source = backSlot;
        } else {
          face.Type = "customcolor";
          face.Source = std::string(kPlainBackColour);
        }
      } else if (TakesSlot(*fill)) {
        face.Source = SlotFor(i, *fill, firstSlots);
      }
      face.Name = std::string(solid.Name) + (numbered ? std::to_string(i + 1) : "");
      face.ReflectionType = ReflectionTypeOf(face.Type);
      if (solid.Name == kind.Fills()[0].Face && !kind.FrontOverlays.empty()) {
        face.FixedOverlays = ParseFixedOverlays(kind.FrontOverlays);
        face.HasFixedOverlays = true;
      }
      for (const TFaceMaterial& material : kind.Materials)
        if (material.Face == solid.Name)
          (material.Beneath ? face.MaterialsBeneath : face.Materials)
              .push_back({"customfile", std::string(material.Picture)});
      faces.push_back(std::move(face));
    }
    out.push_back(std::move(faces));
  }
  return out;
}

namespace {

// The corners of the products' bounds along the axes.
std::array<TVec3, 2> Bounds(const std::vector<TProduct>& Products) {
  constexpr double kFar = std::numeric_limits<double>::max();
  TVec3 lo{kFar, kFar, kFar}, hi{-kFar, -kFar, -kFar};
  for (const TProduct& product : Products)
    for (const TSolidFace& face : SolidFaces(product))
      for (const TVec3& c : face.Corners) {
        lo = {std::min(lo.X, c.X), std::min(lo.Y, c.Y), std::min(lo.Z, c.Z)};
        hi = {std::max(hi.X, c.X), std::max(hi.Y, c.Y), std::max(hi.Z, c.Z)};
      }
  return {lo, hi};
}

}  // namespace

TVec3 DefaultTarget(const std::vector<TProduct>& Products) {
  const auto [lo, hi] = Bounds(Products);
  return Scale(Add(lo, hi), 0.5);
}

double DefaultDistance(const std::vector<TProduct>& Products) {
  const auto [lo, hi] = Bounds(Products);
  return 9 * std::max({hi.X - lo.X, hi.Y - lo.Y, hi.Z - lo.Z});
}

TProductScene MakeProductScene(std::string_view Kind, double Width, double Height, double Depth, double Yaw,
                               double Pitch) {
  TProduct product;
  product.Kind = std::string(Kind);
  const TProductKind& kind = KindOf(product);
  // A disc given only its diameter is as tall as it is wide.
  const double usualHeight = kind.Solid == TSolid::Disc && Width > 0 ? Width : kind.Height;
  const TProductSize size = CheckedProductSize(
      kind, {Width > 0 ? Width : kind.Width, Height > 0 ? Height : usualHeight, Depth > 0 ? Depth : kind.Depth});
  product.Width = size.Width;
  product.Height = size.Height;
  product.Depth = size.Depth;
  TProductScene scene;
  scene.Products = {product};
  CheckViewAngles(scene, Yaw, Pitch);
  scene.Camera.Yaw = Yaw;
  scene.Camera.Pitch = Pitch;
  scene.Camera.Target = DefaultTarget(scene.Products);
  scene.Camera.Distance = DefaultDistance(scene.Products);
  scene.LightAzimuth = DefaultLightAzimuth(kind, Yaw);
  scene.LightElevation = kind.LightElevation;
  return scene;
}

double DefaultLightAzimuth(const TProductKind& Kind, double Yaw) {
  // A camera on the left (positive yaw) sees the left side: the light comes from the right.
  const double side = std::remainder(Yaw, 360.0);
  return side > 0 && side < 180 ? -Kind.LightAzimuth : Kind.LightAzimuth;
}

TProductScene MakeProductScene(std::string_view Kind) {
  TProduct probe;
  probe.Kind = std::string(Kind);
  const TProductKind& kind = KindOf(probe);
  return MakeProductScene(Kind, 0, 0, 0, kind.Yaw, kind.Pitch);
}

}  // namespace quirlon::core
