// The scene's light and the floor through the real renderer: the highlight's cap on a dark face,
// the lit side brighter than the unlit one, cast shadows behind the front's base line, the shadow
// darkest beside the product, one shadow per disc, the reflection of a glossy floor, and refused
// look keys. Reference geometry comes from the camera's projection, not from the rendered layers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../ScratchFolder.h"
#include "core/IniFile.h"
#include "core/ProductSection.h"
#include "core/Render.h"
#include "core/SceneGenerator.h"
#include "core/Template.h"
#include "core/TemplateWriter.h"
#include "raster/Errors.h"

namespace quirlon::core {
namespace {

using raster::TBitmap32;
using raster::TColor32;

const std::string kSource = QUIRLON_SOURCE_DIR;
const std::string kTemplates = kSource + "/data/Templates/";

int Red(TColor32 c) { return static_cast<int>((c >> 16) & 0xFF); }
int Green(TColor32 c) { return static_cast<int>((c >> 8) & 0xFF); }
int Blue(TColor32 c) { return static_cast<int>(c & 0xFF); }
int Alpha(TColor32 c) { return static_cast<int>(c >> 24); }

TProductScene SceneOf(const std::string& File) {
  const auto scene = ReadProductSection(TIniFile(kTemplates + File));
  EXPECT_TRUE(scene) << File;
  return scene ? *scene : TProductScene{};
}

// Renders Layers of a generated template (all when Keep is empty) at the template's own size, so
// template and canvas coordinates agree.
std::unique_ptr<TBitmap32> RenderLayers(const TGeneratedTemplate& Generated, const std::string& Keep,
                                        TRenderRequest Request) {
  auto parsed = std::make_shared<TTemplate>();
  parsed->Name = "generated";
  parsed->Size = Generated.Size;
  for (std::size_t i = 0; i < Generated.Layers.size(); ++i)
    if (Keep.empty() || Generated.Notes[i].rfind(Keep, 0) == 0) parsed->Layers.push_back(Generated.Layers[i]);
  Request.Template.Parsed = parsed;
  Request.CustomFolder = kSource + "/data/custom/";
  Request.Width = Generated.Size.Width;
  Request.Height = Generated.Size.Height;
  return Flatten(ApplyTemplate(Request));
}

// Whether P lies inside the convex quadrilateral Q by at least Margin pixels.
bool Inside(const std::array<TPlanePoint, 4>& Q, double X, double Y, double Margin) {
  double sign = 0;
  for (int i = 0; i < 4; ++i) {
    const TPlanePoint a = Q[i], b = Q[(i + 1) % 4];
    const double cross = ((b.X - a.X) * (Y - a.Y) - (b.Y - a.Y) * (X - a.X)) / std::hypot(b.X - a.X, b.Y - a.Y);
    if (sign == 0) sign = cross > 0 ? 1 : -1;
    if (cross * sign < Margin) return false;
  }
  return true;
}

std::array<TPlanePoint, 4> Projected(const TProductScene& Scene, const std::array<TVec3, 4>& Corners) {
  const TSceneFit fit(Scene);
  return {fit(Corners[0]), fit(Corners[1]), fit(Corners[2]), fit(Corners[3])};
}

const TProductFace* FaceNamed(const std::vector<TProductFace>& Faces, const std::string& Name) {
  for (const TProductFace& face : Faces)
    if (face.Name == Name) return &face;
  return nullptr;
}

// The largest share of the way to white that any channel of any pixel well inside the front of
// File gains over navy (10, 30, 80) from the light: the materials' pictures (their bevels and
// sheen are drawn, not lit) are left out.
double NavyGain(const std::string& File, const TProductScene& Scene) {
  auto lit = std::make_shared<TTemplate>(ReadTemplateFile(File));
  std::erase_if(lit->Layers, [](const TTemplateLayer& layer) { return layer.Type == "customfile"; });
  TRenderRequest request;
  request.Template.Parsed = lit;
  request.CustomFolder = kSource + "/data/custom/";
  request.Sources[SlotIndex(TSlot::Front)] = TSlotSource::OfColour(80 << 16 | 30 << 8 | 10);
  const auto picture = Flatten(ApplyTemplate(request));
  const auto faces = OrderedVisibleFaces(Scene);
  const auto quad = Projected(Scene, FaceNamed(faces, "front")->Corners);
  double gain = 0;
  for (std::int32_t y = 0; y < picture->Height(); ++y)
    for (std::int32_t x = 0; x < picture->Width(); ++x) {
      if (!Inside(quad, x + 0.5, y + 0.5, 3)) continue;
      const TColor32 c = picture->ScanLine(y)[x];
      gain = std::max({gain, (Red(c) - 10) / 245.0, (Green(c) - 30) / 225.0, (Blue(c) - 80) / 175.0});
    }
  return gain;
}

TEST(SceneLightRender, HighlightTakesNoChannelMoreThanAFifthOfTheWayToWhite) {
  // (The keep case is left out: its sleeve's sheen is a picture of its own over the front.)
  for (const std::string file : {"01 Software box left.ini", "02 Software box right.ini", "05 Hardcover book.ini"}) {
    const TProductScene scene = SceneOf(file);
    const double gain = NavyGain(kTemplates + file, scene);
    EXPECT_LE(gain, 0.2 + 1.0 / 175) << file;  // a level of rounding
    EXPECT_GT(gain, 0.05) << file << ": no highlight at all";
  }
  // The library before the light washed the navy front most of the way to white.
  const std::string before = kSource + "/tests/core/GoldenTemplates/01 Software box left.ini";
  EXPECT_GT(NavyGain(before, SceneOf("01 Software box left.ini")), 0.5);
}

struct TSideCase {
  double Yaw;
  const char* Side;  // the side face the camera sees
};

class LitSide : public ::testing::TestWithParam<TSideCase> {};

TEST_P(LitSide, TheSideTowardsTheLightIsBrighterThanTheSideAway) {
  const TSideCase& c = GetParam();
  TRenderRequest request;
  for (const TSlot slot : {TSlot::Front, TSlot::Side, TSlot::Top})
    request.Sources[SlotIndex(slot)] = TSlotSource::OfColour(0x808080);
  double lit = 0, unlit = 0;
  for (const double azimuth : {40.0, -40.0}) {
    TProductScene scene = MakeProductScene("box", 0, 0, 0, c.Yaw, 14);
    scene.LightAzimuth = azimuth;
    const auto picture = RenderLayers(GenerateTemplate(scene), "", request);
    const auto faces = OrderedVisibleFaces(scene);
    auto brightness = [&](const std::string& name) {
      const TPlanePoint p = TSceneFit(scene)(FaceNamed(faces, name)->Centre());
      return Green(picture->ScanLine(static_cast<std::int32_t>(p.Y))[static_cast<std::int32_t>(p.X)]);
    };
    // From the left (positive azimuth) the left side is lit.
    const bool towards = (azimuth > 0) == (std::string(c.Side) == "left");
    (towards ? lit : unlit) = brightness(c.Side);
    EXPECT_GE(brightness("top"), brightness("front")) << azimuth;
    EXPECT_GE(brightness("front"), brightness(c.Side) - (towards ? 40 : 0)) << azimuth;
  }
  EXPECT_GT(lit, unlit + 40);
}

INSTANTIATE_TEST_SUITE_P(Views, LitSide,
                         ::testing::Values(TSideCase{30, "left"}, TSideCase{-30, "right"}, TSideCase{50, "left"},
                                           TSideCase{-15, "right"}),
                         [](const auto& info) { return std::string(info.param.Side) + std::to_string(info.index); });

class BundledFloor : public ::testing::TestWithParam<std::string> {};

// Without blur the cast shadow's pixels lie behind the line through the base of its product's
// front, however the light falls.
TEST_P(BundledFloor, CastShadowNeverReachesInFrontOfTheBase) {
  const TProductScene scene = SceneOf(GetParam());
  const TGeneratedTemplate generated = GenerateTemplate(scene);
  TRenderRequest request;
  request.TransparentBackground = true;
  request.Settings.ShadowBlur = 0;
  const auto faces = SceneFaces(scene);
  std::size_t cast = 0;
  for (std::size_t i = 0; i < generated.Layers.size(); ++i) {
    if (generated.Notes[i].rfind("shadow cast", 0) != 0) continue;
    TGeneratedTemplate one = generated;
    one.Layers = {generated.Layers[i]};
    one.Notes = {generated.Notes[i]};
    const auto picture = RenderLayers(one, "", request);
    // Product `cast`'s front: its bottom edge, D to C.
    const TProductFace& front = faces.at(cast++).front();
    ASSERT_EQ(front.Name.substr(0, 5), "front");
    const auto quad = Projected(scene, front.Corners);
    const TPlanePoint d = quad[3], c = quad[2];
    int shadowPixels = 0, before = 0;
    for (std::int32_t y = 0; y < picture->Height(); ++y)
      for (std::int32_t x = 0; x < picture->Width(); ++x) {
        if (Alpha(picture->ScanLine(y)[x]) <= 8) continue;
        ++shadowPixels;
        const double lineY = d.Y + (c.Y - d.Y) * (x + 0.5 - d.X) / (c.X - d.X);
        if (y + 0.5 > lineY + 1.5) ++before;
      }
    EXPECT_GT(shadowPixels, 500) << generated.Notes[i];
    EXPECT_EQ(before, 0) << GetParam() << ": product " << cast;
  }
  EXPECT_EQ(cast, scene.Products.size());
}

// Beside the face in shade the floor is darkest at the product and lightens going away.
TEST_P(BundledFloor, ShadowIsDarkestBesideTheProduct) {
  const TProductScene scene = SceneOf(GetParam());
  if (scene.Products.size() != 1) GTEST_SKIP() << "one product only";
  TRenderRequest request;
  request.TransparentBackground = true;
  const auto picture = RenderLayers(GenerateTemplate(scene), "", request);
  const auto faces = OrderedVisibleFaces(scene);
  const TProductFace* side = FaceNamed(faces, "left");
  const bool left = side != nullptr;
  if (!left) side = FaceNamed(faces, "right");
  ASSERT_NE(side, nullptr);
  // The outer corner of the side's base, then steps straight away from the product across the
  // picture, a little above the floor line.
  const auto quad = Projected(scene, side->Corners);
  const TPlanePoint corner = (quad[2].X < quad[3].X) == left ? quad[2] : quad[3];
  const double x0 = corner.X, y0 = corner.Y - 3;
  auto alphaAt = [&](double step) {
    const double x = left ? x0 - step : x0 + step;
    return Alpha(picture->ScanLine(static_cast<std::int32_t>(y0))[static_cast<std::int32_t>(x)]);
  };
  const int near = alphaAt(4), middle = alphaAt(25), far = alphaAt(60);
  EXPECT_LT(near, 255) << GetParam() << ": still on the product";
  EXPECT_GT(near, 60) << GetParam();
  EXPECT_GT(near, middle) << GetParam();
  EXPECT_GT(middle, far) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Templates, BundledFloor,
                         ::testing::Values("01 Software box left.ini", "02 Software box right.ini",
                                           "03 Tall DVD box.ini", "04 Two boxes.ini", "05 Hardcover book.ini",
                                           "06 Paperback.ini", "09 DVD keep case.ini", "13 Magazine.ini"),
                         [](const auto& info) { return "t" + info.param.substr(0, 2); });

TEST(SceneLightRender, TwoDiscsCastTwoShadows) {
  const TProductScene scene = SceneOf("14 Two discs.ini");
  const TGeneratedTemplate generated = GenerateTemplate(scene);
  TRenderRequest request;
  request.TransparentBackground = true;
  std::vector<double> middles;
  for (std::size_t i = 0; i < generated.Layers.size(); ++i) {
    if (generated.Notes[i].rfind("shadow cast", 0) != 0) continue;
    TGeneratedTemplate one = generated;
    one.Layers = {generated.Layers[i]};
    one.Notes = {generated.Notes[i]};
    const auto picture = RenderLayers(one, "", request);
    double sum = 0, weight = 0;
    for (std::int32_t y = 0; y < picture->Height(); ++y)
      for (std::int32_t x = 0; x < picture->Width(); ++x) {
        const int a = Alpha(picture->ScanLine(y)[x]);
        sum += a * (x + 0.5);
        weight += a;
      }
    // Seen from 6 degrees above the floor a shadow is a thin band: some 40 full pixels' worth.
    ASSERT_GT(weight, 255 * 40.0);
    middles.push_back(sum / weight);
  }
  ASSERT_EQ(middles.size(), 2u);
  // Each starts under its own disc: as far apart across the picture as the discs' feet.
  const TSceneFit fit(scene);
  const double feet = std::fabs(fit(scene.Products[1].Position).X - fit(scene.Products[0].Position).X);
  EXPECT_GT(std::fabs(middles[1] - middles[0]), 0.5 * feet);
}

// A white front on black: just below the base its reflection shows less than half of it, and a
// quarter of the way down less than half of that again (a straight ramp would keep 3/4 of it).
TEST(SceneLightRender, ReflectionIsAGlossyFloorNotAMirror) {
  auto sample = [](const std::string& file, const TProductScene& scene, double down) {
    TRenderRequest request;
    request.Template.File = file;
    request.Sources[SlotIndex(TSlot::Background)] = TSlotSource::OfColour(0);
    request.Sources[SlotIndex(TSlot::Front)] = TSlotSource::OfColour(0xFFFFFF);
    request.Settings.ReflectionBlur = 0;
    request.CustomFolder = kSource + "/data/custom/";
    const auto picture = Flatten(ApplyTemplate(request));
    const auto quad = Projected(scene, FaceNamed(OrderedVisibleFaces(scene), "front")->Corners);
    const double height = (quad[3].Y - quad[0].Y + quad[2].Y - quad[1].Y) / 2;
    const double x = (quad[2].X + quad[3].X) / 2, y = (quad[2].Y + quad[3].Y) / 2 + 4 + down * height;
    return Green(picture->ScanLine(static_cast<std::int32_t>(y))[static_cast<std::int32_t>(x)]);
  };
  const TProductScene scene = SceneOf("01 Software box left.ini");
  const int base = sample(kTemplates + "01 Software box left.ini", scene, 0);
  const int quarter = sample(kTemplates + "01 Software box left.ini", scene, 0.25);
  EXPECT_LT(base, 128);
  EXPECT_GT(base, 60);
  EXPECT_LT(quarter, base / 2);
  const int before = sample(kSource + "/tests/core/GoldenTemplates/01 Software box left.ini", scene, 0);
  EXPECT_GT(before, 200);  // the black mirror it was
}

struct TBadKey {
  const char* Line;
  const char* Range;
};

class BadLookKey : public ::testing::TestWithParam<TBadKey> {};

TEST_P(BadLookKey, IsRefusedNamingFileSectionKeyAndRange) {
  testing::ScratchFolder folder;
  const std::string path = folder.PathOf("look.ini");
  folder.Write("look.ini", std::string("[Image]\nwidth=100\nheight=100\n[Layer1]\ntype=shadow\nA.X=10\nA.Y=10\nB.X=90\n"
                                       "B.Y=10\nC.X=90\nC.Y=90\nD.X=10\nD.Y=90\n") +
                               GetParam().Line + "\n");
  TRenderRequest request;
  request.Template.File = path;
  request.Width = 100;
  request.Height = 100;
  try {
    ApplyTemplate(request);
    FAIL() << GetParam().Line;
  } catch (const EConvertError& e) {
    const std::string m = e.Message();
    EXPECT_NE(m.find(path), std::string::npos) << m;
    EXPECT_NE(m.find(std::string("[Layer1] ") + GetParam().Line), std::string::npos) << m;
    EXPECT_NE(m.find(GetParam().Range), std::string::npos) << m;
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, BadLookKey,
                         ::testing::Values(TBadKey{"opacity=1.5", "from 0 to 1"}, TBadKey{"blur=soft", "from 0 to 10"},
                                           TBadKey{"fade=-0.1", "from 0 to 1"}, TBadKey{"fadecurve=0.5", "from 1 to 8"},
                                           TBadKey{"bendy=", "from 0 to 1"}, TBadKey{"blurgrow=11", "from 0 to 10"},
                                           TBadKey{"edge=1.5", "from 0 to 1"}));

}  // namespace
}  // namespace quirlon::core
