// The shipped templates rendered through the real driver: every one renders at the window's sizes,
// with colours and with pictures, transparent and with the large disc; box faces meet without
// seams; three renders match their committed reference pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/IniFile.h"
#include "core/Render.h"
#include "core/Template.h"
#include "imagefiles/Picture.h"
#include "tests/support/SeamCheck.h"

namespace {

using namespace quirlon;

const std::string kRoot = QUIRLON_SOURCE_DIR;
const std::string kTemplates = kRoot + "/data/Templates/";

std::vector<std::string> Templates() { return core::ListTemplates(kTemplates); }

// The sample artwork each template's preview uses, from tools/previews.txt.
std::map<std::string, std::string> PreviewSources(const std::string& displayName) {
  std::ifstream in(kRoot + "/tools/previews.txt");
  std::string line;
  std::map<std::string, std::string> out;
  while (std::getline(in, line)) {
    const auto bar = line.find('|');
    if (bar == std::string::npos || line.substr(0, bar) != displayName) continue;
    std::stringstream pairs(line.substr(bar + 1));
    std::string pair;
    while (std::getline(pairs, pair, ',')) {
      const auto eq = pair.find('=');
      out[pair.substr(0, eq)] = kRoot + "/" + pair.substr(eq + 1);
    }
  }
  return out;
}

struct TLibraryJob {
  int Number = 1;
  int Width = 800;
  int Height = 600;
  core::TRenderSettings Settings;
  core::TSlotSources Sources = core::DefaultSlotSources();
  bool TransparentBackground = false;
  bool LargeDiscArea = false;
};

void UsePicture(TLibraryJob& r, int slot, const std::string& file) {
  r.Sources[slot - 1] = core::TSlotSource::OfFile(file);
}

// Pictures in all nine slots: the backdrop behind, and products' artwork in every slot.
void UseAllPictures(TLibraryJob& r) {
  const std::array<const char*, 9> files = {"backdrop.jpg",   "box-front.jpg",  "box-side.jpg",
                                            "box-top.jpg",    "disc-label.jpg", "box2-front.jpg",
                                            "box2-side.jpg",  "box2-top.jpg",   "disc2-label.jpg"};
  for (int slot = 1; slot <= 9; ++slot) UsePicture(r, slot, kRoot + "/examples/" + files[slot - 1]);
}

std::unique_ptr<raster::TBitmap32> Render(const TLibraryJob& r) {
  core::TRenderRequest request;
  request.Template.File = kTemplates + core::TemplateEntry(core::ListTemplates(kTemplates), r.Number);
  request.Settings = r.Settings;
  request.Sources = r.Sources;
  request.TransparentBackground = r.TransparentBackground;
  request.LargeDiscArea = r.LargeDiscArea;
  request.Width = r.Width;
  request.Height = r.Height;
  request.CustomFolder = kRoot + "/data/custom/";
  return core::Flatten(core::ApplyTemplate(request));
}

struct TPointF {
  double X, Y;
};

// The template's largest picture-bearing layer and a point well inside its painted area, in
// canvas pixels for a canvas of w x h. A disc is probed halfway out from its centre, inside the
// printed ring of both disc variants.
struct TProbe {
  std::string Type;
  TPointF Point;
  TPointF DiscCentre{0, 0};
  double DiscRadiusX = 0;
};

TProbe MainFace(const std::string& file, int w, int h) {
  core::TIniFile ini(kTemplates + file);
  const auto size = core::ReadTemplateImageSize(ini);
  const double s = std::min(static_cast<double>(w) / size.Width, static_cast<double>(h) / size.Height);
  const double ox = (w - size.Width * s) / 2, oy = (h - size.Height * s) / 2;
  std::vector<std::string> sections;
  core::ReadLayerSections(ini, sections);
  TProbe best;
  double bestArea = -1;
  for (const auto& sec : sections) {
    const auto l = core::ReadTemplateLayer(ini, sec);
    if (l.Type != "normal" && l.Type != "roundrect" && l.Type != "disc") continue;
    const std::array<raster::TPoint, 4> q = {l.A, l.B, l.C, l.D};
    double area = 0;
    for (int i = 0; i < 4; ++i) area += double(q[i].X) * q[(i + 1) % 4].Y - double(q[(i + 1) % 4].X) * q[i].Y;
    area = std::fabs(area) / 2;
    if (area <= bestArea) continue;
    bestArea = area;
    TPointF c{(l.A.X + l.B.X + l.C.X + l.D.X) / 4.0, (l.A.Y + l.B.Y + l.C.Y + l.D.Y) / 4.0};
    best.Type = l.Type;
    best.Point = c;
    if (l.Type == "disc") {
      const TPointF top{(l.A.X + l.B.X) / 2.0, (l.A.Y + l.B.Y) / 2.0};
      best.Point = {(c.X + top.X) / 2, (c.Y + top.Y) / 2};
      best.DiscCentre = {ox + c.X * s, oy + c.Y * s};
      best.DiscRadiusX = std::fabs(l.B.X - l.A.X) / 2.0 * s;
    }
  }
  best.Point = {ox + best.Point.X * s, oy + best.Point.Y * s};
  return best;
}

raster::TColor32 PixelAt(const raster::TBitmap32& b, TPointF p) {
  const int x = std::clamp(static_cast<int>(std::lround(p.X)), 0, b.Width() - 1);
  const int y = std::clamp(static_cast<int>(std::lround(p.Y)), 0, b.Height() - 1);
  return b.ScanLine(y)[x];
}

std::uint8_t AlphaAt(const raster::TBitmap32& b, TPointF p) { return static_cast<std::uint8_t>(PixelAt(b, p) >> 24); }

class EveryTemplate : public ::testing::TestWithParam<int> {
protected:
  std::string File() const { return Templates().at(GetParam() - 1); }
};

TEST(TemplateLibrary, FilesSortIntoTheWindowsNumbering) {
  const auto names = Templates();
  ASSERT_GE(names.size(), 12u);
  ASSERT_LE(names.size(), 15u);
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string prefix = std::to_string(i + 1);
    if (prefix.size() < 2) prefix.insert(prefix.begin(), '0');
    prefix.push_back(' ');
    EXPECT_EQ(names[i].rfind(prefix, 0), 0u) << names[i];
    // Every template has its preview under its display name.
    std::ifstream pic(kRoot + "/data/Pics/" + core::TemplateDisplayName(names[i]) + ".jpg");
    EXPECT_TRUE(pic.good()) << names[i];
  }
}

TEST_P(EveryTemplate, DefaultColoursAtTheDefaultSize) {
  TLibraryJob r;
  r.Number = GetParam();
  const auto flatPtr = Render(r);
    const raster::TBitmap32& flat = *flatPtr;
  ASSERT_EQ(flat.Width(), 800);
  ASSERT_EQ(flat.Height(), 600);
  // The background is the default white; the main face is painted over it.
  const auto probe = MainFace(File(), 800, 600);
  const auto px = flat.ScanLine(static_cast<int>(probe.Point.Y))[static_cast<int>(probe.Point.X)];
  EXPECT_NE(px & 0xFFFFFFu, 0xFFFFFFu) << File();
  EXPECT_EQ(flat.ScanLine(0)[0], 0xFFFFFFFFu);
}

TEST_P(EveryTemplate, PicturesInEverySlotTransparentAtOddSizes) {
  for (auto [w, h] : {std::pair{801, 333}, std::pair{333, 801}, std::pair{800, 600}}) {
    TLibraryJob r;
    r.Number = GetParam();
    r.Width = w;
    r.Height = h;
    UseAllPictures(r);
    r.TransparentBackground = true;
    const auto flatPtr = Render(r);
    const raster::TBitmap32& flat = *flatPtr;
    ASSERT_EQ(flat.Width(), w);
    ASSERT_EQ(flat.Height(), h);
    EXPECT_GE(AlphaAt(flat, MainFace(File(), w, h).Point), 250) << File() << " " << w << "x" << h;
    EXPECT_EQ(flat.ScanLine(0)[0] >> 24, 0u) << File();  // the background stays transparent
  }
}

TEST_P(EveryTemplate, SmallestCanvasAndLargeDisc) {
  TLibraryJob r;
  r.Number = GetParam();
  r.Width = 32;
  r.Height = 32;
  r.LargeDiscArea = true;
  const auto flatPtr = Render(r);
    const raster::TBitmap32& flat = *flatPtr;
  EXPECT_EQ(flat.Width(), 32);
  EXPECT_EQ(flat.Height(), 32);

  r.Width = 640;
  r.Height = 480;
  r.TransparentBackground = true;
  UseAllPictures(r);
  r.TransparentBackground = true;
  EXPECT_GE(AlphaAt(*Render(r), MainFace(File(), 640, 480).Point), 250) << File();
}

INSTANTIATE_TEST_SUITE_P(Library, EveryTemplate, ::testing::Range(1, static_cast<int>(Templates().size()) + 1));

// Largest canvas, for three kinds of product only (a box, the lone disc, the rounded tile): these
// renders take about a second each.
TEST(TemplateLibrary, LargestCanvas) {
  for (const char* name : {"01 Software box left", "10 Disc", "12 App tile"}) {
    const auto names = Templates();
    const auto it = std::find(names.begin(), names.end(), std::string(name) + ".ini");
    ASSERT_NE(it, names.end()) << name;
    TLibraryJob r;
    r.Number = static_cast<int>(it - names.begin()) + 1;
    r.Width = 2048;
    r.Height = 2048;
    for (const auto& [slot, file] : PreviewSources(name)) UsePicture(r, core::SourceSlotIndex(slot), file);
    r.TransparentBackground = true;
    const auto flatPtr = Render(r);
    const raster::TBitmap32& flat = *flatPtr;
    ASSERT_EQ(flat.Width(), 2048);
    ASSERT_EQ(flat.Height(), 2048);
    EXPECT_GE(AlphaAt(flat, MainFace(*it, 2048, 2048).Point), 250) << name;
  }
}

// The large disc prints almost to the centre; the normal one leaves a translucent hub there.
TEST(TemplateLibrary, LargeDiscReachesTheHub) {
  TLibraryJob r;
  r.Number = 10;
  r.TransparentBackground = true;
  const auto probe = MainFace(Templates().at(9), 800, 600);
  ASSERT_EQ(probe.Type, "disc");
  // 0.3 of the radius out from the centre, straight up (the disc is upright: its height on
  // screen is the full radius even when turned).
  const double radiusY = 2 * (probe.DiscCentre.Y - probe.Point.Y);
  const TPointF inHub{probe.DiscCentre.X, probe.DiscCentre.Y - 0.3 * radiusY};
  UsePicture(r, 5, kRoot + "/examples/disc-label.jpg");
  const auto normal = Render(r);
  r.LargeDiscArea = true;
  const auto large = Render(r);
  // The usual disc's hub is clear plastic that hides the page (opaque over a transparent one); the
  // large disc's artwork reaches over it there.
  EXPECT_EQ(AlphaAt(*normal, inHub), 255);
  EXPECT_GE(AlphaAt(*large, inHub), 250);
  const raster::TColor32 hub = PixelAt(*normal, inHub), art = PixelAt(*large, inHub);
  int apart = 0;
  for (int shift : {0, 8, 16}) apart = std::max(apart, std::abs(int(hub >> shift & 255) - int(art >> shift & 255)));
  EXPECT_GT(apart, 40) << std::hex << hub << " " << art;
}

// The product's outline for the seam test: the union of the face layers as finally drawn. A face
// layer followed later by one with the same type and source over the same place is an underlay
// (a copy reaching under its neighbours) and does not count towards the outline.
struct TFaceQuads {
  std::vector<std::array<TPointF, 4>> Faces;
  std::vector<std::array<TPointF, 4>> Discs;  // round things: their square corners are no outline
  double FitScale = 1;
};

bool InsideQuad(const std::array<TPointF, 4>& q, TPointF p) {
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const auto a = q[i], b = q[(i + 1) % 4];
    const double c = (b.X - a.X) * (p.Y - a.Y) - (b.Y - a.Y) * (p.X - a.X);
    if (std::fabs(c) < 1e-9) continue;
    const int sd = c > 0 ? 1 : -1;
    if (sign != 0 && sd != sign) return false;
    sign = sd;
  }
  return true;
}

TFaceQuads FaceQuads(const std::string& file, int w, int h) {
  core::TIniFile ini(kTemplates + file);
  const auto size = core::ReadTemplateImageSize(ini);
  TFaceQuads out;
  const double s = std::min(static_cast<double>(w) / size.Width, static_cast<double>(h) / size.Height);
  out.FitScale = s;
  const double ox = std::nearbyint((w - size.Width * s) / 2), oy = std::nearbyint((h - size.Height * s) / 2);
  std::vector<std::string> sections;
  core::ReadLayerSections(ini, sections);
  std::vector<core::TTemplateLayer> layers;
  for (const auto& sec : sections) layers.push_back(core::ReadTemplateLayer(ini, sec));
  auto canvasQuad = [&](const core::TTemplateLayer& l) {
    std::array<TPointF, 4> q;
    const std::array<raster::TPoint, 4> c = {l.A, l.B, l.C, l.D};
    for (int i = 0; i < 4; ++i) q[i] = {ox + std::nearbyint(c[i].X * s), oy + std::nearbyint(c[i].Y * s)};
    return q;
  };
  for (std::size_t i = 0; i < layers.size(); ++i) {
    const auto& l = layers[i];
    if (l.Type == "disc" || l.Type == "roundrect") out.Discs.push_back(canvasQuad(l));
    if (l.Type != "normal" && l.Type != "customcolor") continue;
    const auto q = canvasQuad(l);
    bool underlay = false;
    for (std::size_t j = i + 1; j < layers.size() && !underlay; ++j) {
      if (layers[j].Type != l.Type || layers[j].Source != l.Source) continue;
      const auto later = canvasQuad(layers[j]);
      const TPointF c{(later[0].X + later[1].X + later[2].X + later[3].X) / 4,
                      (later[0].Y + later[1].Y + later[2].Y + later[3].Y) / 4};
      underlay = InsideQuad(q, c);
    }
    if (!underlay) out.Faces.push_back(q);
  }
  return out;
}

using quirlon::testing::seams::ChamferDistance;

// Every template with faces that share edges, rendered with grey faces once on white and once on
// black, effects off: where the background shows through a seam the two renders differ. Well
// inside the outline (the union of the faces) they must agree, and well outside nothing of a face
// may show (no face sticks out).
std::vector<int> TemplatesWithSharedEdges() {
  std::vector<int> out;
  const auto names = Templates();
  for (int number = 1; number <= static_cast<int>(names.size()); ++number)
    if (FaceQuads(names[number - 1], 800, 600).Faces.size() >= 2) out.push_back(number);
  return out;
}

class FacesMeet : public ::testing::TestWithParam<int> {};

TEST(TemplateLibrary, BoxLikeTemplatesAreSeamTested) { EXPECT_GE(TemplatesWithSharedEdges().size(), 9u); }

TEST_P(FacesMeet, WithoutSeams) {
  const int number = GetParam();
  const auto file = Templates().at(number - 1);
  for (auto [w, h] : {std::pair{2048, 1536}, std::pair{801, 600}, std::pair{400, 300}, std::pair{333, 250},
                      std::pair{200, 150}}) {
    TLibraryJob r;
    r.Number = number;
    r.Width = w;
    r.Height = h;
    for (int slot = 2; slot <= 9; ++slot) r.Sources[slot - 1] = core::TSlotSource::OfColour(0x808080);
    r.Settings.ShadingStrength = 0;
    r.Settings.HighlightStrength = 0;
    r.Settings.ShowShadow = false;
    r.Settings.ShowReflection = false;
    r.Sources[1 - 1] = core::TSlotSource::OfColour(0xFFFFFF);
    const auto onWhite = Render(r);
    r.Sources[1 - 1] = core::TSlotSource::OfColour(0x000000);
    const auto onBlack = Render(r);

    const auto quads = FaceQuads(file, w, h);
    std::vector<std::uint8_t> inside(std::size_t(w) * h), outside(inside.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const TPointF c{x + 0.5, y + 0.5};
        bool in = false;
        for (const auto& q : quads.Faces) in = in || InsideQuad(q, c);
        inside[std::size_t(y) * w + x] = in;
        outside[std::size_t(y) * w + x] = !in;
      }
    const auto depth = ChamferDistance(inside, w, h);     // pixels to the outline, inside
    const auto farOut = ChamferDistance(outside, w, h);  // pixels to the outline, outside
    const double margin = std::max(6.0, 12 * quads.FitScale);
    int checked = 0, worst = 0, outsideMarks = 0, nearOutline = 0;
    TPointF worstAt{0, 0}, markAt{0, 0};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::size_t i = std::size_t(y) * w + x;
        const auto a = onWhite->ScanLine(y)[x], b = onBlack->ScanLine(y)[x];
        if (farOut[i] > 2) {
          bool nearDisc = false;
          for (const auto& q : quads.Discs)
            for (int dy = -3; dy <= 3; dy += 3)
              for (int dx = -3; dx <= 3; dx += 3) nearDisc = nearDisc || InsideQuad(q, {x + 0.5 + dx, y + 0.5 + dy});
          if (!nearDisc && ((a & 0xFFFFFFu) != 0xFFFFFFu || (b & 0xFFFFFFu) != 0)) {
            if (outsideMarks++ == 0) markAt = {x + 0.5, y + 0.5};
          }
          continue;
        }
        if (depth[i] < 2) continue;
        int v = 0;  // how much of the background shows: the two renders' largest channel difference
        for (int sh = 0; sh < 24; sh += 8) v = std::max(v, std::abs(int(a >> sh & 0xFF) - int(b >> sh & 0xFF)));
        if (depth[i] < margin) {
          nearOutline = std::max(nearOutline, v);
          continue;
        }
        ++checked;
        if (v > worst) {
          worst = v;
          worstAt = {x + 0.5, y + 0.5};
        }
      }
    std::cout << file << " " << w << "x" << h << ": worst " << worst << " nearOutline " << nearOutline
              << " outsideMarks " << outsideMarks << "\n";
    EXPECT_GT(checked, w * h / 100) << file;
    EXPECT_EQ(outsideMarks, 0) << file << " at " << w << "x" << h << ", first at " << markAt.X << ", " << markAt.Y;
    // Where an edge between faces runs into the outline, the two anti-aliased edges may leave a
    // faint trace over the last pixels; it stays under a quarter of the background's light.
    EXPECT_LE(nearOutline, 64) << file << " at " << w << "x" << h;
    EXPECT_LE(worst, 8) << file << " at " << w << "x" << h << ", pixel " << worstAt.X << ", " << worstAt.Y;
  }
}

INSTANTIATE_TEST_SUITE_P(Library, FacesMeet, ::testing::ValuesIn(TemplatesWithSharedEdges()));

// Reference renders at 400 x 300 with the sample artwork; `make goldens` rewrites them on purpose.
TEST(TemplateLibrary, GoldenRenders) {
  for (const char* name : {"01 Software box left", "08 CD jewel case", "10 Disc"}) {
    const auto names = Templates();
    const auto it = std::find(names.begin(), names.end(), std::string(name) + ".ini");
    ASSERT_NE(it, names.end()) << name;
    TLibraryJob r;
    r.Number = static_cast<int>(it - names.begin()) + 1;
    r.Width = 400;
    r.Height = 300;
    for (const auto& [slot, file] : PreviewSources(name)) UsePicture(r, core::SourceSlotIndex(slot), file);
    const auto flatPtr = Render(r);
    const raster::TBitmap32& flat = *flatPtr;
    raster::TBitmap32 golden;
    imagefiles::LoadFromFile(golden, kRoot + "/tests/golden/" + name + ".png");
    ASSERT_EQ(golden.Width(), 400);
    ASSERT_EQ(golden.Height(), 300);
    long long total = 0;
    int off = 0;
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 400; ++x) {
        const auto a = flat.ScanLine(y)[x], b = golden.ScanLine(y)[x];
        int worst = 0;
        for (int sh = 0; sh < 32; sh += 8) {
          const int d = std::abs(int(a >> sh & 0xFF) - int(b >> sh & 0xFF));
          total += d;
          worst = std::max(worst, d);
        }
        off += worst > 3;
      }
    EXPECT_LT(static_cast<double>(total) / (400.0 * 300 * 4), 0.5) << name;
    EXPECT_LT(off, 400 * 300 / 500) << name;  // under 0.2 % of the pixels visibly different
  }
}

}  // namespace
