// The camera against points worked out by hand: a level camera, a quarter turn, a raised camera
// with its upright image plane, and which faces of a box it sees.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "core/Camera.h"
#include "core/ProductScene.h"

namespace quirlon::core {
namespace {

TCamera MakeCamera(double Yaw, double Pitch, double Distance, double Focal, TVec3 Target) {
  return TCamera(TCameraSetup{Yaw, Pitch, Distance, Focal, Target});
}

void ExpectPoint(TPlanePoint Actual, double X, double Y) {
  EXPECT_NEAR(Actual.X, X, 1e-9);
  EXPECT_NEAR(Actual.Y, Y, 1e-9);
}

// A box's faces by name, as the model builds them.
std::vector<TProductFace> BoxFaces(double W, double H, double D, TVec3 Position = {}) {
  TProductScene scene;
  TProduct box{"box", W, H, D};
  box.Position = Position;
  scene.Products = {box};
  return SceneFaces(scene)[0];
}

const TProductFace& Named(const std::vector<TProductFace>& Faces, const std::string& Name) {
  for (const auto& face : Faces)
    if (face.Name == Name) return face;
  throw std::runtime_error("no face " + Name);
}
// A face of a temporary list would dangle.
const TProductFace& Named(std::vector<TProductFace>&&, const std::string&) = delete;

TEST(Camera, LevelCameraInFrontOfTheOrigin) {
  // 1000 mm in front of the origin, focal 36 mm on a 36 mm frame 800 px wide: 800 px per unit of
  // x over depth.
  const auto camera = MakeCamera(0, 0, 1000, 36, {0, 0, 0});
  EXPECT_EQ(camera.Position(), (TVec3{0, 0, -1000}));
  ExpectPoint(camera.Project({100, 50, 0}, 800), 80, -40);
  ExpectPoint(camera.Project({100, 50, 1000}, 800), 40, -20);  // twice as far: half the offset
  // The usual 50 mm lens: 50 / 36 of that.
  ExpectPoint(MakeCamera(0, 0, 1000, 50, {0, 0, 0}).Project({36, 0, 0}, 800), 40, 0);
}

TEST(Camera, QuarterTurnLooksAlongX) {
  // Yaw 90: the camera stands at -x looking along +x; +z then lies to the viewer's left.
  const auto camera = MakeCamera(90, 0, 1000, 36, {0, 0, 0});
  EXPECT_NEAR(camera.Position().X, -1000, 1e-9);
  EXPECT_NEAR(camera.Position().Z, 0, 1e-9);
  ExpectPoint(camera.Project({0, 0, 100}, 800), -80, 0);
}

TEST(Camera, PitchRaisesTheCameraAndKeepsTheImagePlaneUpright) {
  const auto camera = MakeCamera(0, 30, 1000, 36, {0, 0, 0});
  EXPECT_NEAR(camera.Position().Y, 500, 1e-9);
  EXPECT_NEAR(camera.Position().Z, -1000 * std::cos(M_PI / 6), 1e-9);
  // A point at the camera's height lies on the horizon at any depth and side.
  EXPECT_NEAR(camera.Project({10, 500, 300}, 800).Y, 0, 1e-9);
  EXPECT_NEAR(camera.Project({-200, 500, 900}, 800).Y, 0, 1e-9);
  EXPECT_THROW(camera.Project({0, 0, -1000}, 800), std::exception);  // behind the camera
}

TEST(Camera, FaceSquareToTheCameraStaysARectangle) {
  const auto faces = BoxFaces(200, 300, 50, {-100, 0, 0});
  const auto& front = Named(faces, "front");
  for (double pitch : {0.0, 10.0, 25.0}) {
    const auto camera = MakeCamera(0, pitch, 1500, 50, {0, 150, 0});
    TPlanePoint p[4];
    for (int i = 0; i < 4; ++i) p[i] = camera.Project(front.Corners[i], 800);
    EXPECT_NEAR(p[0].Y, p[1].Y, 1e-9);
    EXPECT_NEAR(p[3].Y, p[2].Y, 1e-9);
    EXPECT_NEAR(p[0].X, p[3].X, 1e-9);
    EXPECT_NEAR(p[1].X, p[2].X, 1e-9);
    // Centred and 200 wide at depth 1500 cos(pitch): 800 px x 50 / 36 x 200 / depth.
    EXPECT_NEAR(p[1].X - p[0].X, 50 / 36.0 * 800 * 200 / (1500 * std::cos(pitch * M_PI / 180)), 1e-9);
  }
}

TEST(Camera, VerticalEdgesStayVerticalWhenTurnedAndRaised) {
  const auto faces = BoxFaces(190, 235, 60);
  const auto camera = MakeCamera(30, 20, 2000, 50, {95, 117, 30});
  for (const char* name : {"front", "left", "right", "back"}) {
    const auto& face = Named(faces, name);
    EXPECT_NEAR(camera.Project(face.Corners[0], 800).X, camera.Project(face.Corners[3], 800).X, 1e-9) << name;
    EXPECT_NEAR(camera.Project(face.Corners[1], 800).X, camera.Project(face.Corners[2], 800).X, 1e-9) << name;
  }
}

TEST(Camera, OnlyFacesTurnedToTheCameraAreSeen) {
  struct TCase {
    double Yaw, Pitch;
    TVec3 Target;
    std::set<std::string> Seen;
  };
  const TCase cases[] = {
      {30, 14, {95, 117, 30}, {"left", "front", "top"}},
      {-30, 0, {95, 235, 30}, {"right", "front"}},  // level with the top: the top is edge-on, unseen
      {150, 20, {95, 117, 30}, {"left", "back", "top"}},
      {-120, 5, {95, 117, 30}, {"right", "back", "top"}},
  };
  const auto faces = BoxFaces(190, 235, 60);
  for (const auto& c : cases) {
    const auto camera = MakeCamera(c.Yaw, c.Pitch, 2000, 50, c.Target);
    std::set<std::string> seen;
    for (const auto& face : faces)
      if (camera.Sees(face.Normal(), face.Corners[0])) seen.insert(face.Name);
    EXPECT_EQ(seen, c.Seen) << c.Yaw;
  }
}

}  // namespace
}  // namespace quirlon::core
