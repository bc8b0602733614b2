// The materials of every product kind through the real renderer, with the pictures of
// data/custom: each row renders a kind from its model and checks, on pixels, what its material
// promises. Where a feature should be is found independently of the layers: the face's corners
// from the product model, projected by the camera, and the feature's place in millimetres on the
// product's face.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "core/ProductScene.h"
#include "core/Render.h"
#include "core/SceneGenerator.h"

namespace quirlon::core {
namespace {

using raster::TBitmap32;
using raster::TColor32;

const std::string kSource = QUIRLON_SOURCE_DIR;

int Alpha(TColor32 c) { return static_cast<int>(c >> 24); }
double Luminance(TColor32 c) {
  return 0.299 * ((c >> 16) & 0xFF) + 0.587 * ((c >> 8) & 0xFF) + 0.114 * (c & 0xFF);
}

// A kind rendered at 800 x 600 from its model, every slot a plain colour.
struct TProbe {
  TProductScene Scene;
  std::vector<TProductFace> Faces;
  std::unique_ptr<TBitmap32> Picture;

  TProbe(const std::string& Kind, double Yaw, double Pitch, raster::TColor Art, bool Transparent)
      : Scene(MakeProductScene(Kind, 0, 0, 0, Yaw, Pitch)) {
    Faces = SceneFaces(Scene).at(0);
    const TGeneratedTemplate generated = GenerateTemplate(Scene);
    auto parsed = std::make_shared<TTemplate>();
    parsed->Name = Kind;
    parsed->Size = generated.Size;
    parsed->Layers = generated.Layers;
    TRenderRequest request;
    request.Template.Parsed = parsed;
    for (TSlot slot : {TSlot::Front, TSlot::Side, TSlot::Top, TSlot::Disc, TSlot::Front2})
      request.Sources[SlotIndex(slot)] = TSlotSource::OfColour(Art);
    request.Sources[SlotIndex(TSlot::Background)] = TSlotSource::OfColour(0x303030);
    request.TransparentBackground = Transparent;
    request.CustomFolder = kSource + "/data/custom/";
    request.Width = Scene.Width;
    request.Height = Scene.Height;
    Picture = Flatten(ApplyTemplate(request));
  }

  // Where the point X, Y millimetres from the top-left of Face's picture lands.
  TPlanePoint Where(const std::string& Face, double X, double Y) const {
    for (const TProductFace& face : Faces)
      if (face.Name == Face) {
        const TVec3 across = Sub(face.Corners[1], face.Corners[0]), down = Sub(face.Corners[3], face.Corners[0]);
        const double w = std::sqrt(Dot(across, across)), h = std::sqrt(Dot(down, down));
        return TSceneFit(Scene)(Add(face.Corners[0], Add(Scale(across, X / w), Scale(down, Y / h))));
      }
    ADD_FAILURE() << "no face " << Face;
    return {};
  }
  TColor32 At(const std::string& Face, double X, double Y) const {
    const TPlanePoint p = Where(Face, X, Y);
    const int x = static_cast<int>(std::floor(p.X)), y = static_cast<int>(std::floor(p.Y));
    EXPECT_TRUE(x >= 0 && y >= 0 && x < Picture->Width() && y < Picture->Height()) << Face << " " << X << "," << Y;
    return Picture->ScanLine(y)[x];
  }
  double Lum(const std::string& Face, double X, double Y) const { return Luminance(At(Face, X, Y)); }

  // The millimetre from Lo to Hi along the row Y of Face where the picture is darkest: the middle
  // of the tenths of a millimetre that land on the darkest pixels.
  double DarkestAlong(const std::string& Face, double Y, double Lo, double Hi) const {
    double darkest = 1e9, sum = 0;
    int count = 0;
    for (int i = 0; Lo + i * 0.1 <= Hi; ++i) {
      const double x = Lo + i * 0.1, l = Lum(Face, x, Y);
      if (l < darkest - 1e-9) darkest = l, sum = 0, count = 0;
      if (l < darkest + 1e-9) sum += x, ++count;
    }
    return sum / count;
  }
};

constexpr raster::TColor kGrey = 0xA0A0A0, kNavy = 0x502010, kWhite = 0xFFFFFF;

struct TMaterialCase {
  const char* Kind;
  double Yaw, Pitch;
  raster::TColor Art;
  bool Transparent;
  const char* Promise;
  std::function<void(const TProbe&)> Check;
};

const TMaterialCase kCases[] = {
    {"hardcover", -30, 14, kGrey, false, "boards stand proud of the page block at the head and the fore-edge",
     [](const TProbe& p) {
       // On the fore-edge: the pages stop 3 mm short of the head, the boards do not.
       // (The front board's edge lies under the front's seam at this size; the back board's shows.)
       const double pages = p.Lum("right", 19, 30), gap = p.Lum("right", 19, 1.5), board = p.Lum("right", 36.8, 30);
       EXPECT_LT(gap, 0.5 * pages);
       EXPECT_LT(board, 0.8 * pages);
       // On the head: the pages stop short of the fore-edge, between the boards.
       EXPECT_LT(p.Lum("top", 158.6, 19), 0.5 * p.Lum("top", 140, 19));
       EXPECT_LT(p.Lum("top", 80, 1.2), 0.8 * p.Lum("top", 80, 19));
     }},
    {"hardcover", 30, 14, kGrey, false, "the hinge groove lies 7.5 mm from the spine",
     [](const TProbe& p) { EXPECT_NEAR(p.DarkestAlong("front", 120, 3, 16), 7.5, 1.0); }},
    {"hardcover", 8, 4, kGrey, false, "the hinge groove stays put when the view turns",
     [](const TProbe& p) { EXPECT_NEAR(p.DarkestAlong("front", 120, 3, 16), 7.5, 1.0); }},
    {"disc", 25, 6, kNavy, true, "the hub is opaque over a transparent background",
     [](const TProbe& p) {
       for (double r : {9.0, 12.5, 15.0, 19.0, 22.5})
         for (int k = 0; k < 8; ++k) {
           const double a = k * M_PI / 4;
           EXPECT_EQ(Alpha(p.At("disc", 60 + r * std::cos(a), 60 + r * std::sin(a))), 255) << r << " mm, " << k;
         }
     }},
    {"disc", -40, 10, kNavy, true, "the hub is opaque seen from the other side",
     [](const TProbe& p) {
       for (double r : {9.0, 15.0, 22.5}) EXPECT_EQ(Alpha(p.At("disc", 60 + r, 60)), 255) << r << " mm";
     }},
    {"jewel-case", 30, 14, kNavy, false, "the lid's hinge knuckles and clear frame show over dark art",
     [](const TProbe& p) {
       const double art = p.Lum("front", 71, 62);
       EXPECT_GT(p.Lum("front", 2.7, 8.5), art + 60);
       EXPECT_GT(p.Lum("front", 2.7, 116.5), art + 60);
       EXPECT_GT(p.Lum("front", 141, 62), art + 15);
     }},
    {"keep-case", -28, 8, kWhite, false, "the case's corners are rounded dark plastic round the sleeve",
     [](const TProbe& p) {
       const double sleeve = p.Lum("front", 20, 20);
       for (auto [x, y] : {std::pair{0.6, 0.6}, {134.4, 0.6}, {134.4, 189.4}, {0.6, 189.4}})
         EXPECT_LT(p.Lum("front", x, y), 0.3 * sleeve) << x << "," << y;
       // Along the straight edges the rim is narrow: 4 mm in, the sleeve shows.
       EXPECT_GT(p.Lum("front", 4, 95), 0.7 * sleeve);
     }},
    {"paperback", -30, 14, kGrey, false, "the fore-edge is flat: no bright or dark middle across the block",
     [](const TProbe& p) {
       double sum[3] = {0, 0, 0};
       for (int third = 0; third < 3; ++third)
         for (double x = 1 + third * 14.0 / 3; x < 1 + (third + 1) * 14.0 / 3; x += 0.25)
           for (double y = 40; y < 170; y += 10) sum[third] += p.Lum("right", x, y);
       EXPECT_NEAR(sum[1] / sum[0], 1, 0.08);
       EXPECT_NEAR(sum[1] / sum[2], 1, 0.08);
     }},
    {"tile", 22, 10, kNavy, true, "the tile's edge is crisp",
     [](const TProbe& p) {
       // Across its left edge at mid-height: from nothing to solid within three pixels.
       const TPlanePoint mid = p.Where("card", 75, 75);
       const TColor32* row = p.Picture->ScanLine(static_cast<int>(mid.Y));
       int partial = 0;
       for (int x = 0; x < static_cast<int>(mid.X); ++x) partial += Alpha(row[x]) > 12 && Alpha(row[x]) < 243;
       EXPECT_LE(partial, 3);
     }},
    {"magazine", -20, 9, kGrey, false, "the cover's gloss brightens a band across it",
     [](const TProbe& p) {
       double lo = 1e9, hi = 0;
       for (double t = 0.1; t < 0.9; t += 0.02) {
         const double l = p.Lum("front", 210 * t, 280 * t);
         lo = std::min(lo, l), hi = std::max(hi, l);
       }
       EXPECT_GT(hi - lo, 25);
     }},
    {"box", 30, 14, kGrey, false, "the folded edges of the box catch the light",
     [](const TProbe& p) {
       EXPECT_GT(p.Lum("front", 95, 1.5), p.Lum("front", 95, 8) + 12);
       EXPECT_GT(p.Lum("front", 188.5, 117), p.Lum("front", 182, 117) + 12);
     }},
};

void PrintTo(const TMaterialCase& Case, std::ostream* Out) { *Out << Case.Kind << ": " << Case.Promise; }

class MaterialRender : public ::testing::TestWithParam<TMaterialCase> {};

TEST_P(MaterialRender, KeepsWhatItPromises) {
  const TMaterialCase& c = GetParam();
  SCOPED_TRACE(std::string(c.Kind) + ": " + c.Promise);
  const TProbe probe(c.Kind, c.Yaw, c.Pitch, c.Art, c.Transparent);
  c.Check(probe);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, MaterialRender, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TMaterialCase>& info) {
                           std::string name = std::string(info.param.Kind) + "_" + std::to_string(info.index);
                           for (char& ch : name)
                             if (ch == '-') ch = '_';
                           return name;
                         });

}  // namespace
}  // namespace quirlon::core
