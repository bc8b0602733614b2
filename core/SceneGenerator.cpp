#include "core/SceneGenerator.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/ProductError.h"

namespace quirlon::core {

namespace {

// How the generated layers look (the layers' optional keys, Template.h). A face turned from the
// light darkens by kShadeGain of its cosine's shortfall from the brightest face's, at most
// kMaxShade; the face meeting the light most squarely among the upright ones gets the highlight,
// which takes no channel more than kHighlightCap of the way to white.
constexpr double kShadeGain = 0.45, kMaxShade = 0.5, kLeastShade = 0.02;
// Mirrored on a faint reflection, shading fainter than this is not worth the layer it costs.
constexpr double kLeastMirrored = 0.06;
constexpr double kHighlightCap = 0.2, kLeastHighlightCosine = 0.3;
constexpr double kTileShade = 0.25;
// A tile's rounded outline drawn crisp (the "edge" key): the built-in mask's soft edge blurs it
// over about 4 % of its width.
constexpr double kTileEdge = 0;
// The flat shading mask's grey (Effects.h): a flat shade of opacity 1 darkens by 169 / 255.
constexpr double kFlatMaskShare = 169.0 / 255.0;
// A glossy floor: the reflection faint, fading faster than a straight ramp, its blur growing.
constexpr double kReflectionOpacity = 0.45;
const TLayerLook kReflectionLook = [] {
  TLayerLook look;
  look.Opacity = kReflectionOpacity;
  look.Blur = 0.4;
  look.FadeCurve = 1.8;
  look.BlurGrow = 3.0;
  return look;
}();
// The cast shadow: light, fading to nothing, its edges widening with distance; the share of the
// tops' shadow length it takes (a soft, large light casts shorter visible shadows than a point).
const TLayerLook kCastLook = [] {
  TLayerLook look;
  look.Opacity = 0.5;
  look.Blur = 0.2;
  look.Fade = 1.0;
  look.Soften = 0.3;
  return look;
}();
constexpr double kCastReach = 0.45;
// The contact shadow: dark and tight along the footprint, reaching this far (mm) past it.
const TLayerLook kContactLook = [] {
  TLayerLook look;
  look.Opacity = 0.6;
  look.Blur = 0.25;
  return look;
}();
constexpr double kContactGrow = 2.0;

constexpr const char* kCastNote = "shadow cast away from the light";
constexpr const char* kContactNote = "contact shadow where it stands";

double Rounded(double Value) { return std::round(Value * 1000.0) / 1000.0; }

// The corner of the face's picture farthest from (or nearest to) the light, as a shading direction.
std::string CornerDirection(const TProductFace& Face, const TVec3& Light, bool Farthest) {
  static constexpr const char* kNames[] = {"lefttop", "righttop", "rightdown", "leftdown"};
  int best = 0;
  double bestScore = Dot(Face.Corners[0], Light);
  for (int i = 1; i < 4; ++i) {
    const double score = Dot(Face.Corners[i], Light);
    if (Farthest ? score < bestScore : score > bestScore) {
      best = i;
      bestScore = score;
    }
  }
  return kNames[best];
}

bool Shaded(const TProductFace& Face) { return Face.Type == "normal" || Face.Type == "customcolor"; }
bool Upright(const TProductFace& Face) { return std::fabs(Face.Normal().Y) < 0.5; }

const std::vector<TLayerOverlay> FaceOverlays(const TProductScene& Scene, const TProductFace& Face,
                                              const TLighting& Lighting) {
  if (const auto it = Scene.Overlays.find(Face.Name); it != Scene.Overlays.end()) return it->second;
  if (Face.HasFixedOverlays) return Face.FixedOverlays;
  return AutomaticOverlays(Face, Lighting);
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
                         const TPlaneQuad& Quad, const TLayerLook& Look) {
  TTemplateLayer layer;
  layer.Section = "Layer" + std::to_string(Number);
  layer.Type = Type;
  layer.Source = Source.empty() ? "unknown" : Source;
  layer.A = TemplatePoint(Quad[0]);
  layer.B = TemplatePoint(Quad[1]);
  layer.C = TemplatePoint(Quad[2]);
  layer.D = TemplatePoint(Quad[3]);
  layer.Look = Look;
  return layer;
}

TVec3 OnFloor(const TVec3& P) { return {P.X, 0.0, P.Z}; }

}  // namespace

TVec3 LightDirection(const TProductScene& Scene) {
  const double a = Radians(Scene.LightAzimuth), e = Radians(Scene.LightElevation);
  return Normalized({-std::sin(a) * std::cos(e), std::sin(e), -std::cos(a) * std::cos(e)});
}

TLighting SceneLighting(const TProductScene& Scene, const std::vector<TProductFace>& Visible) {
  TLighting lighting{LightDirection(Scene), -1, -1};
  for (const TProductFace& face : Visible) {
    if (!Shaded(face)) continue;
    const double cosine = Dot(face.Normal(), lighting.Light);
    lighting.Brightest = std::max(lighting.Brightest, cosine);
    if (Upright(face)) lighting.BrightestUpright = std::max(lighting.BrightestUpright, cosine);
  }
  return lighting;
}

std::vector<TLayerOverlay> AutomaticOverlays(const TProductFace& Face, const TLighting& Lighting) {
  if (Face.Type == "roundrect")
    return {{"roundrecthighlight", CornerDirection(Face, Lighting.Light, false), kHighlightCap},
            {"roundrectshade", CornerDirection(Face, Lighting.Light, true), kTileShade}};
  if (!Shaded(Face)) return {};
  std::vector<TLayerOverlay> out;
  const double cosine = Dot(Face.Normal(), Lighting.Light);
  const double shade = std::min(kMaxShade, kShadeGain * (Lighting.Brightest - cosine));
  if (shade >= kLeastShade) out.push_back({"shade", "rightlefttopdown", Rounded(shade / kFlatMaskShare)});
  // The upright face meeting the light most squarely, and a top that meets it more squarely still
  // (its hot spot then lies at the same corner of the product, the one nearest the light).
  const double best = Upright(Face) ? Lighting.BrightestUpright : Lighting.Brightest;
  if (cosine >= best && cosine > kLeastHighlightCosine)
    out.push_back({"highlight", CornerDirection(Face, Lighting.Light, false), kHighlightCap});
  return out;
}

std::vector<TFloorShadow> FloorShadows(const TProductScene& Scene) {
  const TVec3 light = LightDirection(Scene);
  const TVec3 away = Normalized({-light.X, 0.0, -light.Z});
  const TVec3 across{away.Z, 0.0, -away.X};
  const double reach = std::cos(Radians(Scene.LightElevation)) / std::sin(Radians(Scene.LightElevation));
  const auto sceneFaces = SceneFaces(Scene);
  std::vector<TFloorShadow> casts, contacts;
  for (std::size_t i = 0; i < Scene.Products.size(); ++i) {
    const TProduct& product = Scene.Products[i];
    const TSolid solid = KindOf(product).Solid;
    // The points it stands on (its lowest corners), put on the floor.
    double low = std::numeric_limits<double>::max(), high = -low;
    for (const TProductFace& face : sceneFaces[i])
      for (const TVec3& c : face.Corners) {
        low = std::min(low, c.Y);
        high = std::max(high, c.Y);
      }
    std::vector<TVec3> foot;
    for (const TProductFace& face : sceneFaces[i])
      for (const TVec3& c : face.Corners)
        if (std::fabs(c.Y - low) < 1e-6) foot.push_back(OnFloor(c));
    if (foot.empty()) continue;
    const double length = Scene.ShadowSpread + kCastReach * high * reach;
    const bool touches = std::fabs(low) < 1e-6;

    if (solid == TSolid::Disc) {
      // It touches the floor at the middle of its lowest edge; its shadow starts there.
      const TVec3 base = OnFloor(product.Position);
      // Its lowest edge, from the two foot points farthest apart (a disc seen from behind lists the
      // same points again, in the other order).
      TVec3 from = foot.front(), to = foot.front();
      for (const TVec3& p : foot)
        for (const TVec3& q : foot)
          if (Dot(Sub(q, p), Sub(q, p)) > Dot(Sub(to, from), Sub(to, from))) from = p, to = q;
      const TVec3 along = Normalized(Sub(to, from));
      const double r = product.Width / 2;
      const double width = std::max(0.25 * r, r * std::fabs(Dot(along, across)));
      const TVec3 far = Add(base, Scale(away, length));
      casts.push_back({{Add(base, Scale(across, -0.3 * width)), Add(base, Scale(across, 0.3 * width)),
                        Add(far, Scale(across, width)), Add(far, Scale(across, -width))},
                       kCastNote,
                       kCastLook});
      if (touches) {
        const TVec3 normal{along.Z, 0.0, -along.X};
        const TVec3 u = Scale(along, 0.35 * r), v = Scale(normal, std::max(kContactGrow, 0.12 * r));
        contacts.push_back({{Sub(Sub(base, u), v), Sub(Add(base, u), v), Add(Add(base, u), v), Add(Sub(base, u), v)},
                            kContactNote,
                            kContactLook});
      }
      continue;
    }

    // A box or card: the footprint's extremes across the light's way; the shadow runs from the
    // segment between them (under the product, never before its front) away from the light.
    TVec3 lo = foot[0], hi = foot[0];
    for (const TVec3& p : foot) {
      if (Dot(p, across) < Dot(lo, across)) lo = p;
      if (Dot(p, across) > Dot(hi, across)) hi = p;
    }
    TFloorShadow cast{{lo, hi, Add(hi, Scale(away, length)), Add(lo, Scale(away, length))}, kCastNote, kCastLook};
    // The footprint's corner farthest along the light's way behind the segment: the shadow starts
    // at the footprint's far side, so the floor right beside a face in shade is darkest.
    const TVec3 side = Sub(hi, lo), run = Scale(away, length);
    const double det = side.X * run.Z - side.Z * run.X;
    if (std::fabs(det) > 1e-9)
      for (const TVec3& p : foot) {
        const TVec3 d = Sub(p, lo);
        const double x = (d.X * run.Z - d.Z * run.X) / det, y = (side.X * d.Z - side.Z * d.X) / det;
        if (x > 0 && x < 1 && y > 0 && y < 1 && y > cast.Look.BendY.value_or(0)) {
          cast.Look.BendX = Rounded(x);
          cast.Look.BendY = Rounded(y);
        }
      }
    casts.push_back(cast);
    if (!touches) continue;
    // The footprint grown a little all round, its corners in order around its middle.
    std::vector<TVec3> ring;
    for (const TVec3& p : foot)
      if (std::none_of(ring.begin(), ring.end(), [&](const TVec3& q) { return SamePoint(p, q); }))
        ring.push_back(p);
    TVec3 middle{};
    for (const TVec3& p : ring) middle = Add(middle, Scale(p, 1.0 / static_cast<double>(ring.size())));
    std::sort(ring.begin(), ring.end(), [&](const TVec3& a, const TVec3& b) {
      return std::atan2(a.Z - middle.Z, a.X - middle.X) < std::atan2(b.Z - middle.Z, b.X - middle.X);
    });
    if (ring.size() == 2) {
      // A card's edge: a thin strip along it.
      const TVec3 along = Normalized(Sub(ring[1], ring[0]));
      const TVec3 normal{along.Z, 0.0, -along.X};
      const TVec3 v = Scale(normal, kContactGrow);
      ring = {Sub(ring[0], v), Sub(ring[1], v), Add(ring[1], v), Add(ring[0], v)};
    }
    if (ring.size() != 4) continue;
    std::array<TVec3, 4> grown;
    for (std::size_t c = 0; c < 4; ++c) {
      const TVec3 prev = Normalized(Sub(ring[c], ring[(c + 3) % 4]));
      const TVec3 next = Normalized(Sub(ring[c], ring[(c + 1) % 4]));
      grown[c] = Add(ring[c], Scale(Add(prev, next), kContactGrow));
    }
    contacts.push_back({grown, kContactNote, kContactLook});
  }
  casts.insert(casts.end(), contacts.begin(), contacts.end());
  return casts;
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
  const TLighting lighting = SceneLighting(Scene, faces);
  std::vector<TSceneItem> items;
  for (const TProductFace& face : faces) {
    if (face.ReflectionType.empty() || !(face.OnFloor() || face.Type == "disc")) continue;
    TSceneItem item =
        MakeItem(face.ReflectionType, face.Source, "reflection of " + face.Name, face.ReflectedCorners(), fit);
    // The shading mirrored with it is as faint as the reflection under it.
    auto mirrored = [](const std::optional<double>& opacity) -> std::optional<double> {
      return opacity ? std::optional<double>(Rounded(*opacity * kReflectionOpacity)) : std::nullopt;
    };
    for (const TLayerOverlay& overlay : FaceOverlays(Scene, face, lighting)) {
      if (overlay.Opacity && *overlay.Opacity * kReflectionOpacity < kLeastMirrored) continue;
      if (overlay.Type == "shade")
        item.Overlays.push_back({"blurshade", overlay.Source, "shade mirrored with it", mirrored(overlay.Opacity)});
      if (overlay.Type == "highlight")
        item.Overlays.push_back(
            {"blurhighlight", overlay.Source, "highlight mirrored with it", mirrored(overlay.Opacity)});
    }
    items.push_back(std::move(item));
  }
  for (const TProductFace& face : faces) {
    TSceneItem item = MakeItem(face.Type, face.Source, face.Name, face.Corners, fit);
    for (const TLayerOverlay& material : face.MaterialsBeneath)
      item.Beneath.push_back({material.Type, material.Source, material.Source + " under " + face.Name, material.Opacity});
    // The material first: the shading over it lights it as it lights the face.
    for (const TLayerOverlay& material : face.Materials)
      item.Overlays.push_back({material.Type, material.Source, material.Source + " on " + face.Name, material.Opacity});
    for (const TLayerOverlay& overlay : FaceOverlays(Scene, face, lighting))
      item.Overlays.push_back({overlay.Type, overlay.Source, overlay.Type + " on " + face.Name, overlay.Opacity});
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
                 TGeneratedRole role, const TLayerLook& look) {
    out.Layers.push_back(MakeLayer(out.Layers.size() + 1, type, source, quad, look));
    out.Notes.push_back(note);
    out.Roles.push_back(role);
  };
  const TSceneFit fit(Scene);
  for (const TFloorShadow& shadow : FloorShadows(Scene)) {
    const auto& p = shadow.Corners;
    add("shadow", "", {fit(p[0]), fit(p[1]), fit(p[2]), fit(p[3])}, shadow.Note, TGeneratedRole::Shadow, shadow.Look);
  }
  for (const TSceneItem& item : items) {
    const bool reflection = item.Type.find("reflection") != std::string::npos;
    TLayerLook look = reflection ? kReflectionLook : TLayerLook{};
    if (item.Type == "roundrect") look.Edge = kTileEdge;
    if (item.CornerUnderlay)
      add(item.Type, item.Source, *item.CornerUnderlay,
          item.Name + " again, reaching under its neighbours near the outline", TGeneratedRole::Underlay, look);
    if (item.Underlay)
      add(item.Type, item.Source, *item.Underlay, item.Name + " again, reaching under its neighbours",
          TGeneratedRole::Underlay, look);
    for (const TOverlayNote& material : item.Beneath)
      add(material.Type, material.Source, item.Corners, material.Note, TGeneratedRole::Overlay, TLayerLook{});
    add(item.Type, item.Source, item.Corners, item.Name, reflection ? TGeneratedRole::Reflection : TGeneratedRole::Face,
        look);
    for (const TOverlayNote& overlay : item.Overlays) {
      // A mirrored shade or highlight fades and blurs with the reflection it lies on; faint as it
      // is, its blur need not grow (which would cost a second blur of it).
      TLayerLook overlayLook = reflection ? kReflectionLook : TLayerLook{};
      overlayLook.Opacity = overlay.Opacity;
      if (overlay.Type.rfind("roundrect", 0) == 0) overlayLook.Edge = kTileEdge;
      if (reflection) overlayLook.BlurGrow.reset();
      add(overlay.Type, overlay.Source, item.Corners, overlay.Note,
          reflection ? TGeneratedRole::Reflection : TGeneratedRole::Overlay, overlayLook);
    }
  }
  return out;
}

}  // namespace quirlon::core
