#include "core/FaceAspect.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "core/Template.h"

namespace quirlon::core {
namespace {

using LD = long double;

// A W x H rectangle turned by yaw, pitch and roll about its middle, Depth in front of a pinhole
// camera of focal length Focal (pixels) whose principal point is (Cx, Cy); y points down. The
// projection is written here from scratch, apart from the code under test.
std::array<TPlanePoint, 4> Photographed(LD W, LD H, LD YawDeg, LD PitchDeg, LD RollDeg, LD Depth, LD Focal, LD Cx,
                                        LD Cy, bool Rounded) {
  const LD k = 3.14159265358979323846264338327950288L / 180;
  const LD y = YawDeg * k, p = PitchDeg * k, r = RollDeg * k;
  // Rotation = yaw (about the vertical) x pitch (about the horizontal) x roll (about the view axis).
  const LD Ry[3][3] = {{std::cos(y), 0, std::sin(y)}, {0, 1, 0}, {-std::sin(y), 0, std::cos(y)}};
  const LD Rx[3][3] = {{1, 0, 0}, {0, std::cos(p), -std::sin(p)}, {0, std::sin(p), std::cos(p)}};
  const LD Rz[3][3] = {{std::cos(r), -std::sin(r), 0}, {std::sin(r), std::cos(r), 0}, {0, 0, 1}};
  auto mul = [](const LD (&A)[3][3], const LD (&B)[3][3], LD (&C)[3][3]) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        C[i][j] = 0;
        for (int n = 0; n < 3; ++n) C[i][j] += A[i][n] * B[n][j];
      }
  };
  LD T[3][3], R[3][3];
  mul(Ry, Rx, T);
  mul(T, Rz, R);
  const LD corners[4][2] = {{-W / 2, -H / 2}, {W / 2, -H / 2}, {W / 2, H / 2}, {-W / 2, H / 2}};
  std::array<TPlanePoint, 4> q;
  for (int i = 0; i < 4; ++i) {
    const LD X = R[0][0] * corners[i][0] + R[0][1] * corners[i][1];
    const LD Y = R[1][0] * corners[i][0] + R[1][1] * corners[i][1];
    const LD Z = R[2][0] * corners[i][0] + R[2][1] * corners[i][1] + Depth;
    LD u = Cx + Focal * X / Z, v = Cy + Focal * Y / Z;
    if (Rounded) {
      u = std::nearbyint(u);
      v = std::nearbyint(v);
    }
    q[i] = {static_cast<double>(u), static_cast<double>(v)};
  }
  return q;
}

struct TPhoto {
  const char* Name;
  LD Aspect, Yaw, Pitch, Roll, Focal;  // focal length in frame widths
  double Expected;                     // 0: cannot be told
  // Whether whole-pixel corners still tell it (within 3 %); if not, the answer must be 0, never
  // a wrong shape, even from exact corners.
  bool TellsRounded;
};

class RectangleAspectTest : public ::testing::TestWithParam<TPhoto> {};

// An 800 x 600 frame; the rectangle's height is 300 units, 1000 in front of a lens Focal x 800
// pixels long, so it fills a good part of the frame.
TEST_P(RectangleAspectTest, UndoesThePerspective) {
  const TPhoto& c = GetParam();
  for (const bool rounded : {false, true}) {
    const auto quad = Photographed(300 * c.Aspect, 300, c.Yaw, c.Pitch, c.Roll, 1000, c.Focal * 800, 400, 300, rounded);
    const double got = RectangleAspect(quad, {400, 300}, 800);
    if (c.Expected == 0 || !c.TellsRounded) {
      EXPECT_EQ(got, 0) << c.Name << (rounded ? " rounded" : "");
    } else {
      EXPECT_NEAR(got / c.Expected, 1, rounded ? 0.03 : 1e-6) << c.Name << (rounded ? " rounded" : "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Views, RectangleAspectTest,
    ::testing::Values(TPhoto{"box front from above left", 0.8085L, 30, 14, 0, 1.4L, 0.8085, true},
                      // 36 pixels wide on the picture: half a pixel decides.
                      TPhoto{"spine turned far", 0.2553L, 62, 12, 4, 1.0L, 0.2553, false},
                      TPhoto{"wide top, long lens", 3.17L, -25, 38, 0, 2.5L, 3.17, true},
                      // Half a pixel moves the estimate by over 2 %: refused.
                      TPhoto{"square, wide lens", 1.0L, 40, -20, 10, 0.6L, 1.0, false},
                      TPhoto{"square, normal lens", 1.0L, 35, -20, 10, 1.4L, 1.0, true},
                      TPhoto{"square to the camera, rolled", 1.6L, 0, 0, 12, 1.4L, 1.6, true},
                      // Only turned about the vertical: the verticals stay parallel, the focal length
                      // and so the width are unknown.
                      TPhoto{"turned, upright camera", 0.8085L, 30, 0, 0, 1.4L, 0, false}),
    [](const ::testing::TestParamInfo<TPhoto>& info) { return "case" + std::to_string(info.index); });

TEST(RectangleAspect, RefusesWhatNoRectangleMakes) {
  // A bow tie (crossed) and a dart (one corner pushed in).
  EXPECT_EQ(RectangleAspect({{{0, 0}, {100, 100}, {100, 0}, {0, 100}}}, {50, 50}, 100), 0);
  EXPECT_EQ(RectangleAspect({{{0, 0}, {100, 0}, {40, 40}, {0, 100}}}, {50, 50}, 100), 0);
  // A parallelogram that is no rectangle, square to the camera: impossible too.
  EXPECT_EQ(RectangleAspect({{{0, 0}, {100, 0}, {140, 100}, {40, 100}}}, {50, 50}, 200), 0);
}

// The bundled templates' faces from their [Product] millimetres, by hand: a box's front is width
// by height, its sides depth by height, its top width by depth; discs and tiles are round or square.
struct TBundled {
  const char* File;
  std::array<double, kSlotCount> Aspects;  // BACKGROUND, FRONT, SIDE, TOP, DISC, FRONT2, SIDE2, TOP2, DISC2
};

class BundledFaceAspectTest : public ::testing::TestWithParam<TBundled> {};

TEST_P(BundledFaceAspectTest, ComeFromTheProductsMillimetres) {
  const TBundled& c = GetParam();
  const TTemplate t = ReadTemplateFile(std::string(QUIRLON_SOURCE_DIR) + "/data/Templates/" + c.File);
  for (std::size_t i = 0; i < c.Aspects.size(); ++i) {
    if (c.Aspects[i] == 0) EXPECT_EQ(t.FaceAspects[i], 0) << c.File << " slot " << i + 1;
    else EXPECT_NEAR(t.FaceAspects[i], c.Aspects[i], 1e-9) << c.File << " slot " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Library, BundledFaceAspectTest,
    ::testing::Values(
        // The back cover is the free FRONT2 slot, of the front's shape.
        TBundled{"01 Software box left.ini", {0, 190.0 / 235, 60.0 / 235, 190.0 / 60, 0, 190.0 / 235, 0, 0, 0}},
        TBundled{"03 Tall DVD box.ini", {0, 135.0 / 190, 20.0 / 190, 135.0 / 20, 0, 135.0 / 190, 0, 0, 0}},
        TBundled{"04 Two boxes.ini",
                 {0, 170.0 / 215, 55.0 / 215, 170.0 / 55, 0, 170.0 / 215, 55.0 / 215, 170.0 / 55, 0}},
        TBundled{"05 Hardcover book.ini", {0, 160.0 / 240, 38.0 / 240, 0, 0, 160.0 / 240, 0, 0, 0}},
        TBundled{"06 Paperback.ini", {0, 130.0 / 200, 16.0 / 200, 0, 0, 130.0 / 200, 0, 0, 0}},
        TBundled{"07 Book and disc.ini", {0, 160.0 / 240, 38.0 / 240, 0, 1, 160.0 / 240, 0, 0, 0}},
        TBundled{"08 CD jewel case.ini", {0, 142.0 / 125, 10.0 / 125, 0, 0, 142.0 / 125, 0, 0, 0}},
        TBundled{"09 DVD keep case.ini", {0, 135.0 / 190, 14.0 / 190, 0, 0, 135.0 / 190, 0, 0, 0}},
        TBundled{"12 App tile.ini", {0, 1, 0, 0, 0, 0, 0, 0, 0}},
        TBundled{"13 Magazine.ini", {0, 210.0 / 280, 4.0 / 280, 0, 0, 210.0 / 280, 0, 0, 0}},
        TBundled{"14 Two discs.ini", {0, 0, 0, 0, 1, 0, 0, 0, 1}}),
    [](const ::testing::TestParamInfo<TBundled>& info) { return "template" + std::to_string(info.index); });

TEST(FaceAspect, TemplateWithoutProductEstimatesFromTheCorners) {
  // A front photographed through a centred pinhole (the 800 x 600 frame of the test above), and a
  // side whose verticals stay parallel: the front is known, the side is not.
  const auto front = Photographed(300 * 0.75L, 300, 30, 14, 0, 1000, 1.4L * 800, 400, 300, true);
  const auto side = Photographed(300 * 0.2L, 300, 50, 0, 0, 1000, 1.4L * 800, 400, 300, true);
  TTemplate t;
  auto layer = [](const char* Type, const char* Source, const std::array<TPlanePoint, 4>& q) {
    TTemplateLayer l;
    l.Type = Type;
    l.Source = Source;
    l.A = {std::int32_t(q[0].X), std::int32_t(q[0].Y)};
    l.B = {std::int32_t(q[1].X), std::int32_t(q[1].Y)};
    l.C = {std::int32_t(q[2].X), std::int32_t(q[2].Y)};
    l.D = {std::int32_t(q[3].X), std::int32_t(q[3].Y)};
    return l;
  };
  t.Layers = {layer("normal", "FRONT", front), layer("normal", "SIDE", side), layer("shade", "left", front)};
  const TSlotAspects aspects = EstimatedSlotAspects(t);
  EXPECT_NEAR(aspects[1], 0.75, 0.75 * 0.02);
  EXPECT_EQ(aspects[2], 0);
  // Two layers of one slot that disagree leave it unknown.
  t.Layers.push_back(layer("normal", "FRONT", Photographed(300 * 1.5L, 300, 30, 14, 0, 1000, 1.4L * 800, 400, 300, true)));
  EXPECT_EQ(EstimatedSlotAspects(t)[1], 0);
}

// Padding a picture onto a face of far other proportions grows it by their ratio: it is halved
// first, so that a wide picture on a spine stays within bounds, and still takes the face's shape.
TEST(FitPictureToAspect, PaddingAWidePictureOnASpineStaysSmall) {
  raster::TBitmap32 picture;
  picture.SetSize(4000, 100);
  picture.Clear(0xFF204060u);
  FitPictureToAspect(picture, TFitMode::Pad, 0.01);
  EXPECT_LE(static_cast<double>(picture.Width()) * picture.Height(), 16.0 * 1024 * 1024);
  EXPECT_NEAR(static_cast<double>(picture.Width()) / picture.Height(), 0.01, 0.01 * 0.01);
  EXPECT_EQ(picture.PixelAt(0, 0), 0xFF204060u);  // the border continues the edge colour
}

}  // namespace
}  // namespace quirlon::core
