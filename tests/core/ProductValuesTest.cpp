// The values a user gives a product: sizes with units, spines from page counts, view angles, and
// sizes fitted to the artwork, checked against figures worked out by hand and against the model's
// own projection.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "core/Camera.h"
#include "core/ProductError.h"
#include "core/ProductScene.h"
#include "core/ProductValues.h"

namespace quirlon::core {
namespace {

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EBadProductValue& e) {
    return e.Message();
  }
  return "(no error)";
}

TEST(ProductSize, ReadsSidesAndUnits) {
  struct TCase {
    const char* Text;
    TProductSize Size;
  };
  const TCase cases[] = {
      {"127x203x15mm", {127, 203, 15}}, {"127x203x15", {127, 203, 15}},
      {"5x8in", {127, 203.2, 0}},  // 25.4 mm to the inch
      {"5.5X8.5IN", {139.7, 215.9, 0}}, {"6x9x0.75in", {152.4, 228.6, 19.05}},
      {"1000x10x0.5", {1000, 10, 0.5}},
  };
  for (const auto& c : cases) {
    const TProductSize size = ParseProductSize(c.Text);
    EXPECT_NEAR(size.Width, c.Size.Width, 1e-9) << c.Text;
    EXPECT_NEAR(size.Height, c.Size.Height, 1e-9) << c.Text;
    EXPECT_NEAR(size.Depth, c.Size.Depth, 1e-9) << c.Text;
  }
}

TEST(ProductSize, BadSizesNameTheValueAndTheRange) {
  struct TCase {
    const char* Text;
    const char* Message;
  };
  const TCase cases[] = {
      {"0x200", "Width 0 mm in size \"0x200\" is out of range: 10 to 1000 mm"},
      {"100x-5", "Height -5 mm in size \"100x-5\" is out of range: 10 to 1000 mm"},
      {"100x200x0", "Depth 0 mm in size \"100x200x0\" is out of range: 0.5 to 1000 mm"},
      {"5x0.2in", "Height 0.2 in (5.08 mm) in size \"5x0.2in\" is out of range: 10 to 1000 mm (0.39 to 39.37 in)"},
      {"2000x100", "Width 2000 mm in size \"2000x100\" is out of range: 10 to 1000 mm"},
      {"127", "Size \"127\" is not WxH or WxHxD in mm or in"},
      {"127x203x15x2", "Size \"127x203x15x2\" is not WxH"},
      {"127x", "Size \"127x\" is not"},
      {"axb", "Size \"axb\" is not"},
      {"127x203cm", "Size \"127x203cm\" is not"},
      {"nanx100", "Size \"nanx100\" is not"},
      {"", "Size \"\" is not"},
  };
  for (const auto& c : cases)
    EXPECT_NE(ErrorOf([&] { ParseProductSize(c.Text); }).find(c.Message), std::string::npos)
        << c.Text << ": " << ErrorOf([&] { ParseProductSize(c.Text); });
}

TEST(ProductSize, EachKindTakesTheSidesItHas) {
  const auto& box = *FindProductKind("box");
  const auto& disc = *FindProductKind("disc");
  const auto& tile = *FindProductKind("tile");
  EXPECT_EQ(CheckedProductSize(disc, {120, 0, 0}), (TProductSize{120, 120, 0}));
  EXPECT_EQ(CheckedProductSize(disc, {120, 120, 5}), (TProductSize{120, 120, 0}));
  EXPECT_EQ(CheckedProductSize(tile, {150, 100, 9}), (TProductSize{150, 100, 0}));
  EXPECT_NE(ErrorOf([&] { CheckedProductSize(disc, {120, 80, 0}); }).find("A disc is round"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { CheckedProductSize(box, {120, 80, 0}); }).find("A box needs a depth"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] {
              CheckedProductSize(box, {120, 80, 0.1});
            }),
            "Depth 0.1 mm is out of range: 0.5 to 120 mm, at most the larger of width and height");
  EXPECT_EQ(ErrorOf([&] {
              CheckedProductSize(box, {120, 80, 121});
            }),
            "Depth 121 mm is out of range: 0.5 to 120 mm, at most the larger of width and height");
  EXPECT_EQ(ErrorOf([&] {
              CheckedProductSize(box, {400, 99, 10});
            }),
            "Width 400 mm and height 99 mm are out of proportion: one may be at most 4 times the other");
  EXPECT_EQ(CheckedProductSize(box, {400, 100, 400}), (TProductSize{400, 100, 400}));
  EXPECT_NE(ErrorOf([&] {
              ParseLength("0mm", "Spine", kMinDepth, kMaxDepth);
            }).find("Spine 0 mm is out of range: 0.5 to 1000 mm"),
            std::string::npos);
  EXPECT_DOUBLE_EQ(ParseLength("0.125in", "Bleed", 0, 25), 3.175);
  EXPECT_DOUBLE_EQ(ParseLength("3", "Bleed", 0, 25), 3);
  EXPECT_NE(ErrorOf([&] { ParseLength("3cm", "Bleed", 0, 25); }).find("Bleed \"3cm\" is not a length"),
            std::string::npos);
}

TEST(BookSpine, PagesTimesThePaperThickness) {
  // Print-on-demand figures: 0.002252 in a page on white paper, 0.0025 in on cream.
  EXPECT_NEAR(SpineThickness(320, TPaper::Cream), 320 * 0.0025 * 25.4, 1e-9);
  EXPECT_NEAR(SpineThickness(320, TPaper::White), 320 * 0.0572, 1e-9);
  EXPECT_NEAR(SpineThickness(2, TPaper::White), 0.1144, 1e-12);
  EXPECT_EQ(ParsePaper("Cream"), TPaper::Cream);
  EXPECT_EQ(ParsePaper("white"), TPaper::White);
  EXPECT_EQ(ErrorOf([] { ParsePaper("glossy"); }), "Paper \"glossy\" is not white or cream");
  EXPECT_EQ(ErrorOf([] { SpineThickness(0, TPaper::White); }), "Pages 0 is out of range: 2 to 2000");
  EXPECT_EQ(ErrorOf([] { SpineThickness(-40, TPaper::Cream); }), "Pages -40 is out of range: 2 to 2000");
  EXPECT_EQ(ErrorOf([] { SpineThickness(2001, TPaper::Cream); }), "Pages 2001 is out of range: 2 to 2000");
}

TEST(ViewAngles, RangesByScene) {
  struct TCase {
    TProduct Product;
    const char* Kind2;
    double Yaw, Pitch;
    const char* Message;  // "" when the angles are accepted
  };
  const TCase cases[] = {
      {{"box", 190, 235, 60}, "", 180, 40, ""},
      // Not within 12 degrees of edge-on, where the front shows as a sliver.
      {{"box", 190, 235, 60}, "", 78, 0, ""},
      {{"box", 190, 235, 60}, "", -102, 0, ""},
      {{"box", 190, 235, 60}, "", 90, 0, "Yaw 90 is out of range (-180 to -102, -78 to 78 or 102 to 180 degrees)"},
      {{"box", 190, 235, 60},
       "",
       -101.5,
       0,
       "Yaw -101.5 is out of range (-180 to -102, -78 to 78 or 102 to 180 degrees)"},
      {{"paperback", 127, 203, 16}, "", -180, 0, ""},
      {{"box", 190, 235, 60},
       "",
       180.5,
       10,
       "Yaw 180.5 is out of range (-180 to -102, -78 to 78 or 102 to 180 degrees)"},
      {{"box", 190, 235, 60}, "", 30, -1, "Pitch -1 is out of range (0 to 40 degrees)"},
      {{"box", 190, 235, 60}, "", 30, 41, "Pitch 41 is out of range (0 to 40 degrees)"},
      // Thinner than a tenth of its width: not within 25 degrees of edge-on.
      {{"magazine", 210, 280, 4}, "", 65, 10, ""},
      {{"magazine", 210, 280, 4}, "", -115, 10, ""},
      {{"magazine", 210, 280, 4}, "", 90, 10, "Yaw 90 is out of range (-180 to -115, -65 to 65 or 115 to 180 degrees)"},
      {{"paperback", 127, 203, 12.6},
       "",
       -65.5,
       10,
       "Yaw -65.5 is out of range (-180 to -115, -65 to 65 or 115 to 180 degrees)"},
      {{"disc", 120, 120}, "", 75, 6, ""},
      {{"disc", 120, 120}, "", -76, 6, "Yaw -76 is out of range (-75 to 75 degrees)"},
      {{"tile", 150, 150}, "", 90, 6, "Yaw 90 is out of range (-75 to 75 degrees)"},
      {{"hardcover", 160, 240, 38}, "disc", 45, 10, ""},
      {{"box", 170, 215, 55}, "box", -46, 10, "Yaw -46 is out of range (-45 to 45 degrees)"},
  };
  for (const auto& c : cases) {
    TProductScene scene;
    scene.Products.push_back(c.Product);
    if (*c.Kind2) scene.Products.push_back(TProduct{c.Kind2, 120, 120});
    const std::string message = ErrorOf([&] { CheckViewAngles(scene, c.Yaw, c.Pitch); });
    EXPECT_EQ(message, *c.Message ? c.Message : "(no error)") << c.Product.Kind << " " << c.Yaw << " " << c.Pitch;
  }
  EXPECT_EQ(ErrorOf([] { MakeProductScene("box", 0, 0, 0, 200, 10); }),
            "Yaw 200 is out of range (-180 to -102, -78 to 78 or 102 to 180 degrees)");
  EXPECT_EQ(ErrorOf([] { MakeProductScene("crate"); }),
            "Unknown product kind \"crate\" (one of box, hardcover, paperback, magazine, jewel-case, keep-case, disc, "
            "tile)");
}

// The projected front face of Scene: the widths of its top and bottom edges across the picture,
// the heights of its right and left edges (vertical, as the image plane is upright), and the
// depths of its left and right edges from the camera.
struct TProjectedFront {
  double Top, Right, Bottom, Left, NearDepth, FarDepth;
};

TProjectedFront ProjectFront(const TProductScene& Scene) {
  const TCamera camera(Scene.Camera);
  const auto faces = SceneFaces(Scene);
  const TProductFace* front = nullptr;
  for (const auto& face : faces[0])
    if (face.Name == "front") front = &face;
  EXPECT_NE(front, nullptr);
  TPlanePoint p[4];
  double depth[4];
  for (int i = 0; i < 4; ++i) {
    p[i] = camera.Project(front->Corners[i], 800);
    depth[i] = Dot(Sub(front->Corners[i], camera.Position()), camera.Forward());
  }
  auto across = [&](int a, int b) { return std::fabs(p[b].X - p[a].X); };
  auto down = [&](int a, int b) { return std::fabs(p[b].Y - p[a].Y); };
  return {
      across(0, 1), down(1, 2), across(3, 2), down(0, 3), std::min(depth[0], depth[1]), std::max(depth[0], depth[1])};
}

TEST(FitToArt, TheFrontTakesTheFrontPicturesProportions) {
  const auto& kind = *FindProductKind("hardcover");
  // A 1:1.6 front and a 1:20 spine picture on a book 240 mm tall.
  const TProductSize size = FitSizeToArt(kind, {160, 240, 38}, TPictureSize{1000, 1600}, TPictureSize{60, 1200});
  EXPECT_DOUBLE_EQ(size.Width, 150);
  EXPECT_DOUBLE_EQ(size.Height, 240);
  EXPECT_DOUBLE_EQ(size.Depth, 12);
  for (double pitch : {0.0, 12.0, 40.0}) {
    // Square on, the front is parallel to the upright image plane: its picture keeps 1:1.6.
    const auto square = ProjectFront(MakeProductScene("hardcover", size.Width, size.Height, size.Depth, 0, pitch));
    EXPECT_NEAR(square.Top / square.Left, 1 / 1.6, 1e-12) << pitch;
    EXPECT_NEAR(square.Bottom / square.Right, 1 / 1.6, 1e-12) << pitch;
  }
  for (double yaw : {-60.0, -30.0, 15.0, 30.0, 60.0}) {
    // Turned, the width shrinks by cos(yaw) and the perspective scales each point by the
    // inverse of its depth: the ratio stays within the spread of depths across the face.
    const auto turned = ProjectFront(MakeProductScene("hardcover", size.Width, size.Height, size.Depth, yaw, 14));
    const double expected = std::cos(yaw * M_PI / 180) / 1.6, spread = turned.FarDepth / turned.NearDepth;
    const double ratio = (turned.Top + turned.Bottom) / (turned.Left + turned.Right);
    EXPECT_GT(ratio, expected / spread) << yaw;
    EXPECT_LT(ratio, expected * spread) << yaw;
    EXPECT_LT(spread, 1.1) << yaw;  // the bound above is a tight one
  }
}

TEST(FitToArt, PicturesOutOfProportionAreRefused) {
  const auto& box = *FindProductKind("box");
  EXPECT_EQ(ErrorOf([&] {
              FitSizeToArt(box, {190, 235, 60}, TPictureSize{5000, 100}, std::nullopt);
            }),
            "The front's width 11750 mm from the FRONT picture's proportions (5000 x 100 pixels) is out of range: 10 "
            "to 1000 mm");
  EXPECT_NE(ErrorOf([&] {
              FitSizeToArt(box, {190, 235, 60}, std::nullopt, TPictureSize{1, 1000});
            }).find("The spine's depth 0.235 mm from the SIDE picture's proportions (1 x 1000 pixels)"),
            std::string::npos);
  EXPECT_EQ(ErrorOf([&] {
              FitSizeToArt(box, {190, 235, 60}, TPictureSize{0, 10}, std::nullopt);
            }),
            "The FRONT picture has no pixels to take its proportions from");
  // A disc keeps its size; a box without pictures too.
  EXPECT_EQ(FitSizeToArt(*FindProductKind("disc"), {120, 120, 0}, TPictureSize{300, 100}, std::nullopt),
            (TProductSize{120, 120, 0}));
  EXPECT_EQ(FitSizeToArt(box, {190, 235, 60}, std::nullopt, std::nullopt), (TProductSize{190, 235, 60}));
}

}  // namespace
}  // namespace quirlon::core
