// The scene generator: floor reflections, lighting, the floor shadow, the underlap of shared edges
// and the underlays, each judged by geometry of the test's own; slots and face names of scenes of
// one and two products; the drawing order of the later seam rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "core/IniFile.h"
#include "core/ProductError.h"
#include "core/ProductSection.h"
#include "core/ProductValues.h"
#include "core/SceneGenerator.h"
#include "core/Template.h"

namespace quirlon::core {
namespace {

const std::string kTemplates = std::string(QUIRLON_SOURCE_DIR) + "/data/Templates/";

struct TNamedScene {
  std::string Name;
  TProductScene Scene;
};

// The product scenes of the bundled templates, from their [Product] sections.
std::vector<TNamedScene> BundledScenes() {
  std::vector<TNamedScene> out;
  for (const std::string& file : ListTemplates(kTemplates)) {
    const auto scene = ReadProductSection(TIniFile(kTemplates + file));
    if (scene) out.push_back({file, *scene});
  }
  return out;
}

// ---- The test's own plane geometry --------------------------------------------------------

using TQuad = std::array<TPlanePoint, 4>;

TPlanePoint Rounded(TPlanePoint P) { return {std::nearbyint(P.X), std::nearbyint(P.Y)}; }
TQuad Rounded(const TQuad& Q) { return {Rounded(Q[0]), Rounded(Q[1]), Rounded(Q[2]), Rounded(Q[3])}; }

bool Inside(TPlanePoint P, const TQuad& Q) {
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const TPlanePoint a = Q[i], b = Q[(i + 1) % 4];
    const double cross = (b.X - a.X) * (P.Y - a.Y) - (b.Y - a.Y) * (P.X - a.X);
    if (std::fabs(cross) < 1e-6) continue;
    const int s = cross > 0 ? 1 : -1;
    if (sign != 0 && s != sign) return false;
    sign = s;
  }
  return true;
}

// 0 inside the convex quadrilateral, else the distance to its outline.
double Distance(TPlanePoint P, const TQuad& Q) {
  if (Inside(P, Q)) return 0;
  double best = 1e300;
  for (int i = 0; i < 4; ++i) {
    const TPlanePoint a = Q[i], b = Q[(i + 1) % 4];
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double t = std::clamp(((P.X - a.X) * dx + (P.Y - a.Y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    best = std::min(best, std::hypot(P.X - a.X - t * dx, P.Y - a.Y - t * dy));
  }
  return best;
}

// How far the ray from P along N runs inside the quadrilateral P lies on the edge of.
double Width(TPlanePoint P, TPlanePoint N, const TQuad& Q) {
  double best = 1e300;
  for (int m = 0; m < 4; ++m) {
    const TPlanePoint a = Q[m], b = Q[(m + 1) % 4];
    const double ex = b.X - a.X, ey = b.Y - a.Y;
    const double den = N.X * ey - N.Y * ex;
    if (std::fabs(den) < 1e-12) continue;
    const double u = ((a.X - P.X) * ey - (a.Y - P.Y) * ex) / den;    // along the ray
    const double v = ((a.X - P.X) * N.Y - (a.Y - P.Y) * N.X) / den;  // along the edge
    if (u > 1e-6 && v >= -1e-9 && v <= 1 + 1e-9) best = std::min(best, u);
  }
  return best;
}

bool Same(const TVec3& A, const TVec3& B) {
  return std::fabs(A.X - B.X) < 1e-6 && std::fabs(A.Y - B.Y) < 1e-6 && std::fabs(A.Z - B.Z) < 1e-6;
}

bool HasCorner(const TSceneItem& Item, const TVec3& P) {
  return std::any_of(Item.World.begin(), Item.World.end(), [&](const TVec3& w) { return Same(w, P); });
}

bool IsFace(const TSceneItem& Item) { return Item.Type == "normal" || Item.Type == "customcolor"; }
bool IsRound(const TSceneItem& Item) { return TakesNoUnderlap(Item.Type); }
bool IsReflection(const TSceneItem& Item) { return Item.Type.find("reflection") != std::string::npos; }

// ---- Reflections, light and shadow --------------------------------------------------------

TEST(SceneGenerator, ReflectionHangsFromTheFloorLine) {
  TProductScene scene;
  scene.Products = {TProduct{"box", 100, 200, 40}};
  const auto faces = SceneFaces(scene)[0];
  const auto front = *std::find_if(faces.begin(), faces.end(), [](const auto& f) { return f.Name == "front"; });
  const auto r = front.ReflectedCorners();
  // The mirrored picture's top-left is where the face's bottom-left meets the floor.
  EXPECT_EQ(r[0], front.Corners[3]);
  EXPECT_EQ(r[1], front.Corners[2]);
  EXPECT_EQ(r[2], (TVec3{100, -200, 0}));
  EXPECT_EQ(r[3], (TVec3{0, -200, 0}));
}

TEST(SceneGenerator, BundledReflectionsTouchTheirFaces) {
  int reflections = 0;
  for (const auto& [name, scene] : BundledScenes()) {
    const auto items = SceneItems(scene);
    for (const auto& r : items) {
      if (r.Type != "reflection" && r.Type != "customcolorreflection") continue;
      ++reflections;
      std::vector<const TSceneItem*> owners;
      for (const auto& f : items)
        if (IsFace(f) && Same(f.World[3], r.World[0]) && Same(f.World[2], r.World[1])) owners.push_back(&f);
      ASSERT_EQ(owners.size(), 1u) << name << ": " << r.Name;
      const TSceneItem& f = *owners[0];
      // The same template points along the floor line, before any underlap; the mirror image
      // below it.
      EXPECT_EQ(r.Corners[0], f.Corners[3]) << name;
      EXPECT_EQ(r.Corners[1], f.Corners[2]) << name;
      EXPECT_GT(r.Corners[2].Y, f.Corners[2].Y) << name;
      EXPECT_GT(r.Corners[3].Y, f.Corners[3].Y) << name;
    }
  }
  EXPECT_GE(reflections, 20);
}

// A box 100 mm a side at the origin and a light from Azimuth (positive: from the left), 45 degrees up.
TProductScene LitBox(double Azimuth) {
  TProductScene scene;
  scene.Products = {TProduct{"box", 100, 100, 100}};
  scene.LightAzimuth = Azimuth;
  scene.LightElevation = 45;
  return scene;
}

struct TLightCase {
  double Azimuth;
  // Hand-worked: the light is (-sin a cos 45, sin 45, -cos a cos 45); a face's cosine is its
  // normal's dot product with it, the brightest shaded face here the top (0.7071).
  double FrontShade, LeftShade, RightShade;  // opacity of the flat shade, 0 for none
  const char* Highlight;                     // face with the highlight
  const char* HotCorner;                     // its corner nearest the light
  const char* TopCorner;                     // the top's corner nearest the light
};

class SceneLight : public ::testing::TestWithParam<TLightCase> {};

TEST_P(SceneLight, FacesAreShadedByTheirTurnFromTheOneLight) {
  const TLightCase& c = GetParam();
  const TProductScene scene = LitBox(c.Azimuth);
  std::vector<TProductFace> faces = SceneFaces(scene)[0];
  const TLighting lighting = SceneLighting(scene, faces);
  EXPECT_NEAR(lighting.Brightest, std::sqrt(0.5), 1e-12);
  auto overlaysOf = [&](const std::string& name) {
    for (const TProductFace& face : faces)
      if (face.Name == name) return AutomaticOverlays(face, lighting);
    ADD_FAILURE() << name;
    return std::vector<TLayerOverlay>{};
  };
  const std::map<std::string, double> shades = {{"front", c.FrontShade}, {"left", c.LeftShade}, {"right", c.RightShade}};
  for (const auto& [name, expected] : shades) {
    const auto overlays = overlaysOf(name);
    double shade = 0;
    for (const TLayerOverlay& o : overlays)
      if (o.Type == "shade") {
        EXPECT_EQ(o.Source, "rightlefttopdown") << name;
        shade = o.Opacity.value_or(-1);
      }
    EXPECT_NEAR(shade, expected, 0.0011) << name;
    bool highlighted = false;
    for (const TLayerOverlay& o : overlays)
      if (o.Type == "highlight") {
        highlighted = true;
        EXPECT_EQ(o.Source, c.HotCorner) << name;
        EXPECT_EQ(o.Opacity, 0.2) << name;
      }
    EXPECT_EQ(highlighted, name == c.Highlight) << name;
  }
  // The top meets the light most squarely: no shade, and a highlight at the corner it shares
  // with the front's hot spot.
  const auto top = overlaysOf("top");
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0].Type, "highlight");
  EXPECT_EQ(top[0].Source, c.TopCorner);
  EXPECT_EQ(top[0].Opacity, 0.2);
}

// Shade opacity = min(0.5, 0.45 (0.7071 - cos)) / (169 / 255), rounded to 3 places.
INSTANTIATE_TEST_SUITE_P(
    Azimuths, SceneLight,
    ::testing::Values(
        // From a little left of ahead: front cos 0.6964 (no shade, within 0.02 of the top), left
        // 0.1228, right -0.1228.
        TLightCase{10, 0, 0.397, 0.563, "front", "lefttop", "leftdown"},
        // From the left, 40 degrees: front cos 0.5417, left 0.4545, right -0.4545.
        TLightCase{40, 0.112, 0.172, 0.754, "front", "lefttop", "leftdown"},
        // From the right: the mirror image, the hot spot on the right.
        TLightCase{-40, 0.112, 0.754, 0.172, "front", "righttop", "rightdown"},
        // From the left, 70 degrees: the left side (cos 0.6645) outshines the front (0.2418).
        TLightCase{70, 0.316, 0, 0.754, "left", "righttop", "leftdown"}),
    [](const auto& info) { return "azimuth" + std::to_string(static_cast<int>(info.param.Azimuth + 90)); });

// In every bundled scene the front's hot spot lies on the side away from the darkest side face,
// and that face is the one the cast shadow falls beside.
TEST(SceneGenerator, HotSpotIsNeverBesideTheDarkestFace) {
  int checked = 0;
  for (const auto& [name, scene] : BundledScenes()) {
    std::map<std::string, const TSceneItem*> faces;
    const auto items = SceneItems(scene);
    for (const TSceneItem& item : items) faces[item.Name] = &item;
    for (const char* front : {"front", "front1", "front2"}) {
      if (!faces.count(front)) continue;
      const std::string suffix = std::string(front).substr(5);
      std::string hot;
      for (const TOverlayNote& o : faces[front]->Overlays)
        if (o.Type == "highlight") hot = o.Source;
      std::string darkest;
      double deepest = 0;
      for (const char* side : {"left", "right"})
        if (faces.count(side + suffix))
          for (const TOverlayNote& o : faces[side + suffix]->Overlays)
            if (o.Type == "shade" && o.Opacity.value_or(0) > deepest) {
              deepest = *o.Opacity;
              darkest = side;
            }
      if (hot.empty() || darkest.empty()) continue;
      ++checked;
      EXPECT_NE(hot.rfind(darkest, 0), 0u) << name << ": hot spot " << hot << " beside the " << darkest;
      // The light comes from the side away from that face, so the shadow falls towards it.
      const double lightX = LightDirection(scene).X;
      EXPECT_TRUE(darkest == "left" ? lightX > 0 : lightX < 0) << name;
    }
  }
  EXPECT_GE(checked, 8);
}

TEST(SceneGenerator, CastShadowsRunAwayFromTheLightAndNeverBeforeTheFront) {
  for (const double azimuth : {-70.0, -40.0, -10.0, 0.0, 25.0, 40.0, 70.0}) {
    TProductScene scene = LitBox(azimuth);
    scene.Products[0] = TProduct{"box", 190, 235, 60};
    const TVec3 light = LightDirection(scene);
    EXPECT_NEAR(Dot(light, light), 1, 1e-12);
    const double len = std::hypot(light.X, light.Z);
    const TVec3 away{-light.X / len, 0, -light.Z / len};
    const auto shadows = FloorShadows(scene);
    ASSERT_EQ(shadows.size(), 2u) << azimuth;
    for (const TFloorShadow& shadow : shadows) {
      for (const TVec3& p : shadow.Corners) {
        EXPECT_NEAR(p.Y, 0, 1e-12);
        // The front stands in the plane z = 0: a contact shadow reaches 2 mm before it (its
        // corners move 2 mm each way), a cast shadow not at all.
        EXPECT_GE(p.Z, shadow.Note.find("contact") == 0 ? -2.0 - 1e-9 : -1e-9) << azimuth;
      }
    }
    // The cast shadow's far edge lies away from the light by the spread plus 0.45 of the top's
    // shadow (235 mm at 45 degrees: 235 mm).
    const TFloorShadow& cast = shadows[0];
    EXPECT_NE(cast.Note.find("cast"), std::string::npos);
    EXPECT_NEAR(Dot(Sub(cast.Corners[3], cast.Corners[0]), away), 30 + 0.45 * 235, 1e-9) << azimuth;
    EXPECT_NEAR(Dot(Sub(cast.Corners[2], cast.Corners[1]), away), 30 + 0.45 * 235, 1e-9) << azimuth;
  }
}

TEST(SceneGenerator, EachProductCastsItsOwnShadow) {
  const auto scene = ReadProductSection(TIniFile(kTemplates + "14 Two discs.ini"));
  ASSERT_TRUE(scene);
  const auto shadows = FloorShadows(*scene);
  ASSERT_EQ(shadows.size(), 4u);  // two cast, two contact
  // Each disc's shadows start where it stands (its lowest point).
  for (std::size_t i = 0; i < 2; ++i) {
    const TVec3 foot = scene->Products[i].Position;
    const TFloorShadow& cast = shadows[i];
    const TFloorShadow& contact = shadows[2 + i];
    const TVec3 castStart = Scale(Add(cast.Corners[0], cast.Corners[1]), 0.5);
    EXPECT_LT(std::hypot(castStart.X - foot.X, castStart.Z - foot.Z), 1e-9) << i;
    const TVec3 middle = Scale(Add(Add(contact.Corners[0], contact.Corners[1]), Add(contact.Corners[2], contact.Corners[3])), 0.25);
    EXPECT_LT(std::hypot(middle.X - foot.X, middle.Z - foot.Z), 1e-9) << i;
  }
}

// ---- Underlaps and underlays --------------------------------------------------------------

// Every moved corner lies under a later quadrilateral that shares the corner, or sticks out of it
// by no more than kBump, judged on the integer corners; a quadrilateral only grows; the last one
// drawn never moves.
void CheckUnderlap(const std::string& Name, const TProductScene& Scene, double Reach) {
  auto items = SceneItems(Scene);
  std::vector<TQuad> before;
  for (const auto& item : items) before.push_back(item.Corners);
  UnderlapSharedEdges(items, Reach, kUnderlayReach, Scene.SeamRules);
  for (std::size_t i = 0; i < items.size(); ++i) {
    for (int k = 0; k < 4; ++k) {
      const double moved = std::hypot(items[i].Corners[k].X - before[i][k].X, items[i].Corners[k].Y - before[i][k].Y);
      if (moved == 0) continue;
      EXPECT_LE(moved, Reach / 0.2 + 1e-9) << Name;
      double nearest = 1e300;
      for (std::size_t j = i + 1; j < items.size(); ++j)
        if (HasCorner(items[j], items[i].World[k]))
          nearest = std::min(nearest, Distance(Rounded(items[i].Corners[k]), Rounded(before[j])));
      EXPECT_LE(nearest, kBump + 1e-6) << Name << ": " << items[i].Name << " corner " << k;
    }
    for (const auto& p : before[i]) EXPECT_LE(Distance(p, items[i].Corners), 1e-6) << Name << ": " << items[i].Name;
  }
  EXPECT_EQ(items.back().Corners, before.back()) << Name;
}

TEST(Underlap, EarlierFacesReachUnderLaterOnes) {
  for (const auto& [name, scene] : BundledScenes()) CheckUnderlap(name, scene, 1.5);
  for (const char* kind : {"box", "hardcover", "jewel-case", "keep-case", "magazine"})
    for (double yaw : {-150.0, -40.0, 20.0, 130.0}) CheckUnderlap(kind, MakeProductScene(kind, 0, 0, 0, yaw, 25), 1.5);
  auto items = SceneItems(BundledScenes().at(0).Scene);
  const auto before = items;
  UnderlapSharedEdges(items, 1.5, kUnderlayReach, kFirstSeamRules);
  bool moved = false;  // a box has moved corners
  for (std::size_t i = 0; i < items.size(); ++i) moved = moved || items[i].Corners != before[i].Corners;
  EXPECT_TRUE(moved);
}

// Points just beyond a shared edge, inside the later face, lie under a quadrilateral (integer
// corners) of the earlier face all along the edge but for its last units at the outline: half the
// full reach, or a quarter across the later face where it is thin, less half a unit for rounding.
void CheckReach(const std::string& Name, const TProductScene& Scene, double Ends) {
  auto items = SceneItems(Scene);
  std::vector<TQuad> before;
  for (const auto& item : items) before.push_back(item.Corners);
  UnderlapSharedEdges(items, kUnderlap, kUnderlayReach, Scene.SeamRules);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const TSceneItem& a = items[i];
    if (IsRound(a)) continue;
    std::vector<TQuad> drawn = {Rounded(a.Corners)};
    if (a.Underlay) drawn.push_back(Rounded(*a.Underlay));
    if (a.CornerUnderlay) drawn.push_back(Rounded(*a.CornerUnderlay));
    for (int k = 0; k < 4; ++k) {
      const TVec3 &p = a.World[k], &q = a.World[(k + 1) % 4];
      std::size_t j = i + 1;
      while (j < items.size() && (IsRound(items[j]) || !HasCorner(items[j], p) || !HasCorner(items[j], q))) ++j;
      if (j == items.size() || (IsReflection(a) && IsReflection(items[j]))) continue;  // reflections fade out
      const TPlanePoint p1 = before[i][k], p2 = before[i][(k + 1) % 4];
      const double length = std::hypot(p2.X - p1.X, p2.Y - p1.Y);
      TPlanePoint n{(p1.Y - p2.Y) / length, (p2.X - p1.X) / length};
      const TPlanePoint c{(before[j][0].X + before[j][1].X + before[j][2].X + before[j][3].X) / 4,
                          (before[j][0].Y + before[j][1].Y + before[j][2].Y + before[j][3].Y) / 4};
      if ((c.X - p1.X) * n.X + (c.Y - p1.Y) * n.Y < 0) n = {-n.X, -n.Y};
      const double full = a.Underlay ? kUnderlayReach : kUnderlap;
      for (int s = 0; s <= 40; ++s) {
        const double t = s / 40.0;
        if (t * length < Ends || (1 - t) * length < Ends) continue;
        const TPlanePoint on{p1.X + (p2.X - p1.X) * t, p1.Y + (p2.Y - p1.Y) * t};
        const double need = 0.5 * std::min(full, 0.5 * Width(on, n, before[j])) - 0.5;
        if (need <= 0) continue;
        const TPlanePoint point{on.X + n.X * need, on.Y + n.Y * need};
        double nearest = 1e300;
        for (const auto& quad : drawn) nearest = std::min(nearest, Distance(point, quad));
        EXPECT_EQ(nearest, 0) << Name << ": " << a.Name << " under " << items[j].Name << " at " << t;
      }
    }
  }
}

// (Scenes of the later rules, with more underlays drawn in another order, are judged by their
// renders in ProductSeamTest.)
TEST(Underlay, ReachAlongEverySharedEdge) {
  for (const auto& [name, scene] : BundledScenes()) CheckReach(name, scene, 12);
}

// Every point of an underlay's outline lies within kBump of its own face or of a face drawn after
// it, so nothing of it sticks out of the product or over an earlier face; it is convex and turns
// as its face does.
void CheckUnderlaysHidden(const std::string& Name, const TProductScene& Scene, int& Count) {
  auto items = SceneItems(Scene);
  std::vector<TQuad> before;
  for (const auto& item : items) before.push_back(item.Corners);
  UnderlapSharedEdges(items, kUnderlap, kUnderlayReach, Scene.SeamRules);
  for (std::size_t i = 0; i < items.size(); ++i) {
    for (const auto* underlay : {&items[i].Underlay, &items[i].CornerUnderlay}) {
      if (!*underlay) continue;
      ++Count;
      EXPECT_FALSE(IsReflection(items[i])) << Name;
      std::vector<TQuad> cover;
      for (std::size_t j = i; j < items.size(); ++j)
        if (!IsRound(items[j])) cover.push_back(Rounded(before[j]));
      const TQuad quad = Rounded(**underlay);
      for (int k = 0; k < 4; ++k)
        for (int s = 0; s <= 32; ++s) {
          const TPlanePoint a = quad[k], b = quad[(k + 1) % 4];
          const TPlanePoint p{a.X + (b.X - a.X) * s / 32, a.Y + (b.Y - a.Y) * s / 32};
          double nearest = 1e300;
          for (const auto& c : cover) nearest = std::min(nearest, Distance(p, c));
          EXPECT_LE(nearest, kBump + 1e-9) << Name << ": " << items[i].Name;
        }
      auto turns = [](const TQuad& q) {
        std::array<double, 4> t;
        for (int m = 0; m < 4; ++m)
          t[m] = (q[(m + 1) % 4].X - q[m].X) * (q[(m + 2) % 4].Y - q[(m + 1) % 4].Y) -
                 (q[(m + 1) % 4].Y - q[m].Y) * (q[(m + 2) % 4].X - q[(m + 1) % 4].X);
        return t;
      };
      const double face = turns(before[i])[0];
      for (double t : turns(quad)) EXPECT_GT(t * face, 0) << Name << ": " << items[i].Name;
    }
  }
}

TEST(Underlay, UnderlaysNeverShow) {
  int bundled = 0, made = 0;
  for (const auto& [name, scene] : BundledScenes()) CheckUnderlaysHidden(name, scene, bundled);
  for (const auto& kind : ProductKinds())
    for (double yaw : {-150.0, -30.0, 0.0, 40.0, 140.0})
      if (YawRange(MakeProductScene(kind.Name)).Contains(yaw))
        CheckUnderlaysHidden(std::string(kind.Name), MakeProductScene(kind.Name, 0, 0, 0, yaw, 30), made);
  EXPECT_GE(bundled, 10);
  EXPECT_GE(made, 40);
}

TEST(Underlay, ComesRightBeforeItsFace) {
  // In a template an underlay is its face again, same type and source, without overlays.
  const auto generated = GenerateTemplate(BundledScenes().at(0).Scene);
  std::vector<std::string> front;
  for (std::size_t i = 0; i < generated.Layers.size(); ++i)
    if (generated.Layers[i].Source == "FRONT") front.push_back(generated.Layers[i].Type);
  EXPECT_EQ(front, (std::vector<std::string>{"reflection", "normal", "normal"}));
  for (std::size_t i = 0; i + 1 < generated.Layers.size(); ++i)
    if (generated.Roles[i] == TGeneratedRole::Underlay) {
      EXPECT_EQ(generated.Layers[i + 1].Type, generated.Layers[i].Type);
      EXPECT_EQ(generated.Layers[i + 1].Source, generated.Layers[i].Source);
      EXPECT_EQ(generated.Notes[i], generated.Notes[i + 1] + " again, reaching under its neighbours");
    }
}

// ---- Slots, names and order ---------------------------------------------------------------

TEST(SceneFaces, SlotsAndNamesOfOneAndTwoProducts) {
  struct TCase {
    std::vector<TProduct> Products;
    std::vector<std::string> Faces;  // name=source, product by product
    const char* BackSlot;
  };
  const TCase cases[] = {
      {{{"box", 190, 235, 60}}, {"front=FRONT", "right=SIDE", "left=SIDE", "top=TOP", "back=FRONT2"}, "FRONT2"},
      {{{"paperback", 127, 203, 16}},
       {"front=FRONT", "right=$D8E8F0", "left=SIDE", "top=$D8E8F0", "back=FRONT2"},
       "FRONT2"},
      // Two boxes: the second takes the "2" slots, FRONT2 included, so the backs are plain.
      {{{"box", 170, 215, 55}, {"box", 170, 215, 55}},
       {"front1=FRONT", "right1=SIDE", "left1=SIDE", "top1=TOP", "back1=clSilver", "front2=FRONT2", "right2=SIDE2",
        "left2=SIDE2", "top2=TOP2", "back2=clSilver"},
       ""},
      {{{"hardcover", 160, 240, 38}, {"disc", 120, 120}},
       {"front=FRONT", "right=$D8E8F0", "left=SIDE", "top=$D8E8F0", "back=FRONT2", "disc=DISC", "back=DISC"},
       "FRONT2"},
      // Discs and tiles show their picture from behind as well (a turn shows their backs).
      {{{"disc", 120, 120}, {"jewel-case", 142, 125, 10}},
       {"disc=DISC", "back=DISC", "front=FRONT", "right=clSilver", "left=SIDE", "top=clSilver", "back=FRONT2"},
       "FRONT2"},
      {{{"disc", 120, 120}, {"disc", 120, 120}}, {"disc=DISC", "back=DISC", "disc=DISC2", "back=DISC2"}, ""},
      {{{"tile", 150, 150}, {"tile", 150, 150}}, {"card=FRONT", "back=FRONT", "card=FRONT2", "back=FRONT2"}, ""},
  };
  for (const auto& c : cases) {
    TProductScene scene;
    scene.Products = c.Products;
    std::vector<std::string> faces;
    for (const auto& product : SceneFaces(scene))
      for (const auto& face : product) faces.push_back(face.Name + "=" + face.Source);
    EXPECT_EQ(faces, c.Faces);
    EXPECT_EQ(BackCoverSlot(scene), c.BackSlot);
  }
}

TEST(SceneGenerator, LaterRulesDrawTheSmallestFaceFirst) {
  for (double yaw : {-150.0, -30.0, 35.0, 120.0}) {
    const auto generated = GenerateTemplate(MakeProductScene("box", 190, 235, 60, yaw, 20));
    std::vector<double> areas;
    for (std::size_t i = 0; i < generated.Layers.size(); ++i) {
      if (generated.Roles[i] != TGeneratedRole::Face) continue;
      const auto& l = generated.Layers[i];
      const raster::TPoint q[] = {l.A, l.B, l.C, l.D};
      double twice = 0;
      for (int k = 0; k < 4; ++k) twice += double(q[k].X) * q[(k + 1) % 4].Y - double(q[(k + 1) % 4].X) * q[k].Y;
      areas.push_back(std::fabs(twice) / 2);
    }
    ASSERT_EQ(areas.size(), 3u) << yaw;
    EXPECT_TRUE(std::is_sorted(areas.begin(), areas.end())) << yaw;
  }
}

TEST(SceneGenerator, ProductsReachingBehindTheCameraAreRefused) {
  auto scene = MakeProductScene("box");
  scene.Camera.Distance = 50;
  EXPECT_THROW(GenerateTemplate(scene), EBadProductValue);
}

}  // namespace
}  // namespace quirlon::core
