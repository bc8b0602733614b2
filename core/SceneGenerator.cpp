#include "core/SceneGenerator.h"

#include <algorithm>
#include <cmath>

#include "core/ProductError.h"

namespace quirlon::core {

namespace {

constexpr const char* kShadowNote = "soft shadow on the floor";

// The corner of the face's picture farthest from (or nearest to) the light, as a shading direction.
std::string CornerDirection(const TProductFace& Face, bool Farthest) {
  static constexpr const char* kNames[] = {"lefttop", "righttop", "rightdown", "leftdown"};
  const TVec3 light = LightDirection();
  int best = 0;
  double bestScore = Dot(Face.Corners[0], light);
  for (int i = 1; i < 4; ++i) {
    const double score = Dot(Face.Corners[i], light);
    if (Farthest ? score < bestScore : score > bestScore) {
      best = i;
      bestScore = score;
    }
  }
  return kNames[best];
}

const std::vector<TLayerOverlay> FaceOverlays(const TProductScene& Scene, const TProductFace& Face) {
  if (const auto it = Scene.Overlays.find(Face.Name); it != Scene.Overlays.end()) return it->second;
  if (Face.HasFixedOverlays) return Face.FixedOverlays;
  return AutomaticOverlays(Face);
}

TSceneItem MakeItem(const std::string& Type, const std::string& Source, const std::string& Name,
                    const std::array<TVec3, 4>& World, const TSceneFit& Fit) {
  TSceneItem item;
  item.Type = Type;
  item.Source = Source;
  item.Name = Name;
  item.World = World;
  for (int i = 0; i < 4; ++i) item.Corners[i] = Fit(World[i]);
  return item;
}

TTemplateLayer MakeLayer(std::size_t Number, const std::string& Type, const std::string& Source,
                         const TPlaneQuad& Quad) {
  TTemplateLayer layer;
  layer.Section = "Layer" + std::to_string(Number);
  layer.Type = Type;
  layer.Source = Source.empty() ? "unknown" : Source;
  layer.A = TemplatePoint(Quad[0]);
  layer.B = TemplatePoint(Quad[1]);
  layer.C = TemplatePoint(Quad[2]);
  layer.D = TemplatePoint(Quad[3]);
  return layer;
}

}  // namespace

TVec3 LightDirection() {
  static const TVec3 light = Normalized({-0.35, 0.75, -0.9});
  return light;
}

std::vector<TLayerOverlay> AutomaticOverlays(const TProductFace& Face) {
  const double cosine = Dot(Face.Normal(), LightDirection());
  if (Face.Type != "normal" && Face.Type != "customcolor") return {};
  if (cosine < 0.35) return {{"shade", CornerDirection(Face, true)}};
  if (cosine > 0.6) return {{"highlight", CornerDirection(Face, false)}};
  return {};
}

std::vector<TProductFace> OrderedVisibleFaces(const TProductScene& Scene) {
  const TCamera camera(Scene.Camera);
  struct TGroup {
    double Distance;
    std::vector<TProductFace> Faces;
  };
  std::vector<TGroup> groups;
  for (auto& faces : SceneFaces(Scene)) {
    TGroup group{0, {}};
    for (auto& face : faces)
      if (camera.Sees(face.Normal(), face.Corners[0])) group.Faces.push_back(std::move(face));
    if (group.Faces.empty()) continue;
    if (Scene.SeamRules >= 2) {
      // From the smallest face in the picture to the largest, so that every face reaches under a
      // larger neighbour: the room under a thin face is too narrow to reach into.
      auto area = [&](const TProductFace& face) {
        std::array<TPlanePoint, 4> p;
        for (int i = 0; i < 4; ++i) p[i] = camera.Project(face.Corners[i], Scene.Width);
        double twice = 0;
        for (int i = 0; i < 4; ++i) twice += p[i].X * p[(i + 1) % 4].Y - p[(i + 1) % 4].X * p[i].Y;
        return std::fabs(twice);
      };
      std::stable_sort(group.Faces.begin(), group.Faces.end(),
                       [&](const TProductFace& a, const TProductFace& b) { return area(a) < area(b); });
    }
    TVec3 sum = group.Faces[0].Centre();
    for (std::size_t i = 1; i < group.Faces.size(); ++i) sum = Add(sum, group.Faces[i].Centre());
    const TVec3 centre = Scale(sum, 1.0 / static_cast<double>(group.Faces.size()));
    group.Distance = Dot(Sub(centre, camera.Position()), camera.Forward());
    groups.push_back(std::move(group));
  }
  std::stable_sort(groups.begin(), groups.end(),
                   [](const TGroup& a, const TGroup& b) { return -a.Distance < -b.Distance; });
  std::vector<TProductFace> out;
  for (auto& group : groups)
    for (auto& face : group.Faces) out.push_back(std::move(face));
  return out;
}

std::array<TVec3, 4> ShadowPolygon(const std::vector<TProductFace>& Faces, double Spread) {
  std::vector<TVec3> foot;
  for (const TProductFace& face : Faces)
    for (const TVec3& c : face.Corners)
      if (std::fabs(c.Y) < 1e-6) foot.push_back(c);
  const TVec3 light = LightDirection();
  const TVec3 away = Normalized({-light.X, 0.0, -light.Z});
  const TVec3 across{away.Z, 0.0, -away.X};
  TVec3 lo = foot.at(0), hi = foot.at(0);
  double loKey = Dot(lo, across), hiKey = loKey;
  double back = Dot(foot[0], away), front = back;
  for (std::size_t i = 1; i < foot.size(); ++i) {
    const double key = Dot(foot[i], across), along = Dot(foot[i], away);
    if (key < loKey) {
      lo = foot[i];
      loKey = key;
    }
    if (key > hiKey) {
      hi = foot[i];
      hiKey = key;
    }
    back = std::max(back, along);
    front = std::min(front, along);
  }
  auto at = [&](const TVec3& p, double along) { return Add(Sub(p, Scale(away, Dot(p, away))), Scale(away, along)); };
  const double start = front + 0.5 * (back - front);
  return {at(lo, start), at(lo, back + Spread), at(hi, back + Spread), at(hi, start)};
}

TSceneFit::TSceneFit(const TProductScene& Scene) : fCamera(Scene.Camera), fFrameWidth(Scene.Width) {
  if (Scene.FixedFrame) {
    Fit(Scene, *Scene.FixedFrame);
    return;
  }
  std::vector<TPlanePoint> points;
  for (const auto& faces : SceneFaces(Scene))
    for (const TProductFace& face : faces)
      if (fCamera.Sees(face.Normal(), face.Corners[0]))
        for (const TVec3& c : face.Corners) points.push_back(fCamera.Project(c, fFrameWidth));
  if (points.empty()) throw EBadProductValue("Nothing of the product faces the camera");
  double minX = points[0].X, maxX = minX, minY = points[0].Y, maxY = minY;
  for (const TPlanePoint& p : points) {
    minX = std::min(minX, p.X);
    maxX = std::max(maxX, p.X);
    minY = std::min(minY, p.Y);
    maxY = std::max(maxY, p.Y);
  }
  Fit(Scene, {minX, maxX, minY, maxY});
}

void TSceneFit::Fit(const TProductScene& Scene, const TFrameBounds& Bounds) {
  const double minX = Bounds.MinX, maxX = Bounds.MaxX, minY = Bounds.MinY, maxY = Bounds.MaxY;
  if (!(maxX > minX && maxY > minY)) throw EBadProductValue("The product shows no area to the camera");
  fScale = std::min(Scene.FillX * Scene.Width / (maxX - minX), Scene.FillY * Scene.Height / (maxY - minY));
  fOffsetX = Scene.Width / 2.0 - fScale * (maxX + minX) / 2.0;
  fOffsetY = Scene.FloorAt * Scene.Height - fScale * maxY;
}

TPlanePoint TSceneFit::operator()(const TVec3& P) const {
  const TPlanePoint p = fCamera.Project(P, fFrameWidth);
  return {fOffsetX + fScale * p.X, fOffsetY + fScale * p.Y};
}

std::vector<TSceneItem> SceneItems(const TProductScene& Scene) {
  const TSceneFit fit(Scene);
  const auto faces = OrderedVisibleFaces(Scene);
  std::vector<TSceneItem> items;
  for (const TProductFace& face : faces) {
    if (face.ReflectionType.empty() || !(face.OnFloor() || face.Type == "disc")) continue;
    TSceneItem item =
        MakeItem(face.ReflectionType, face.Source, "reflection of " + face.Name, face.ReflectedCorners(), fit);
    for (const TLayerOverlay& overlay : FaceOverlays(Scene, face)) {
      if (overlay.Type == "shade") item.Overlays.push_back({"blurshade", overlay.Source, "shade mirrored with it"});
      if (overlay.Type == "highlight")
        item.Overlays.push_back({"blurhighlight", overlay.Source, "highlight mirrored with it"});
    }
    items.push_back(std::move(item));
  }
  for (const TProductFace& face : faces) {
    TSceneItem item = MakeItem(face.Type, face.Source, face.Name, face.Corners, fit);
    for (const TLayerOverlay& overlay : FaceOverlays(Scene, face))
      item.Overlays.push_back({overlay.Type, overlay.Source, overlay.Type + " on " + face.Name});
    for (const TLayerOverlay& extra : face.Extras)
      item.Overlays.push_back({extra.Type, extra.Source, extra.Type + " on " + face.Name});
    items.push_back(std::move(item));
  }
  return items;
}

TGeneratedTemplate GenerateTemplate(const TProductScene& Scene) {
  auto items = SceneItems(Scene);
  UnderlapSharedEdges(items, kUnderlap, kUnderlayReach, Scene.SeamRules);
  TGeneratedTemplate out;
  out.Size = {Scene.Width, Scene.Height};
  auto add = [&](const std::string& type, const std::string& source, const TPlaneQuad& quad, const std::string& note,
                 TGeneratedRole role) {
    out.Layers.push_back(MakeLayer(out.Layers.size() + 1, type, source, quad));
    out.Notes.push_back(note);
    out.Roles.push_back(role);
  };
  std::vector<TProductFace> faces = OrderedVisibleFaces(Scene);
  if (Scene.FixedFrame) {
    // A turning product casts the shadow of its whole footprint, seen or not.
    faces.clear();
    for (auto& product : SceneFaces(Scene))
      for (auto& face : product) faces.push_back(std::move(face));
  }
  bool standsOnFloor = false;
  for (const TProductFace& face : faces)
    for (const TVec3& c : face.Corners) standsOnFloor = standsOnFloor || std::fabs(c.Y) < 1e-6;
  if (standsOnFloor) {
    const TSceneFit fit(Scene);
    const auto polygon = ShadowPolygon(faces, Scene.ShadowSpread);
    add("shadow", "", {fit(polygon[0]), fit(polygon[1]), fit(polygon[2]), fit(polygon[3])}, kShadowNote,
        TGeneratedRole::Shadow);
  }
  for (const TSceneItem& item : items) {
    const bool reflection = item.Type.find("reflection") != std::string::npos;
    if (item.CornerUnderlay)
      add(item.Type, item.Source, *item.CornerUnderlay,
          item.Name + " again, reaching under its neighbours near the outline", TGeneratedRole::Underlay);
    if (item.Underlay)
      add(item.Type, item.Source, *item.Underlay, item.Name + " again, reaching under its neighbours",
          TGeneratedRole::Underlay);
    add(item.Type, item.Source, item.Corners, item.Name, reflection ? TGeneratedRole::Reflection : TGeneratedRole::Face);
    for (const TOverlayNote& overlay : item.Overlays)
      add(overlay.Type, overlay.Source, item.Corners, overlay.Note,
          reflection ? TGeneratedRole::Reflection : TGeneratedRole::Overlay);
  }
  return out;
}

}  // namespace quirlon::core
