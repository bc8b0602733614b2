// How pictures of other proportions than their faces are fitted, through the real quirlon-render:
// a circle must stay a circle when cropped or padded, measured on the rendered face after undoing
// the perspective with a homography solved here from the template's corners.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/RunRender.h"
#include "tests/support/QuadReference.h"
#include "tests/support/WritePng.h"

namespace quirlon::cli {
namespace {

using testing::TRgb;
using testing::WritePng;
using testsupport::LD;

const std::string kSource = QUIRLON_SOURCE_DIR;
const std::string kTemplates = kSource + "/data/Templates";

// A black circle, 0.6 of the shorter side across, in the middle of a white W x H picture.
void WriteCircle(const std::string& Path, std::uint32_t W, std::uint32_t H) {
  const double r = 0.3 * std::min(W, H);
  WritePng(Path, W, H, [&](std::uint32_t x, std::uint32_t y) {
    const double dx = x + 0.5 - W / 2.0, dy = y + 0.5 - H / 2.0;
    return dx * dx + dy * dy <= r * r ? TRgb{0, 0, 0} : TRgb{255, 255, 255};
  });
}

// The corners of the last "normal" layer showing Source in a template file (the face itself is
// drawn after the copy that reaches under its neighbours).
std::array<std::array<LD, 2>, 4> FaceCorners(const std::string& File, const std::string& Source) {
  std::ifstream in(File);
  std::string line, type, source;
  std::map<std::string, LD> keys;
  std::array<std::array<LD, 2>, 4> found{};
  auto finish = [&] {
    if (type == "normal" && source == Source) {
      const char* names[4] = {"A", "B", "C", "D"};
      for (int i = 0; i < 4; ++i) found[i] = {keys[std::string(names[i]) + ".X"], keys[std::string(names[i]) + ".Y"]};
    }
    type.clear();
    source.clear();
    keys.clear();
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') finish();
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "type") type = value;
    else if (key == "source") source = value;
    else if (key.size() == 3 && key[1] == '.') keys[key] = std::stold(value);
  }
  finish();
  return found;
}

struct TExtent {
  double Across = 0, Down = 0;   // the circle's width and height, in face heights
  double MiddleU = 0, MiddleV = 0;  // where its middle lies, in 0..1 of the face
};

// The dark run along the face's two middle lines, sampled through the homography from the unit
// square to the face's corners on the canvas (scaled from the template by Scale).
TExtent MeasureCircle(const TRgbaPicture& Picture, const std::array<std::array<LD, 2>, 4>& Corners, LD Scale,
                      LD FaceAspect) {
  LD X[4], Y[4];
  for (int i = 0; i < 4; ++i) {
    X[i] = Corners[i][0] * Scale;
    Y[i] = Corners[i][1] * Scale;
  }
  const testsupport::Mat3 H = testsupport::SolveHomography(X, Y);
  auto dark = [&](LD u, LD v) {
    const LD w = u * H[0][2] + v * H[1][2] + H[2][2];
    const LD x = (u * H[0][0] + v * H[1][0] + H[2][0]) / w, y = (u * H[0][1] + v * H[1][1] + H[2][1]) / w;
    const auto px = static_cast<std::uint32_t>(std::floor(x)), py = static_cast<std::uint32_t>(std::floor(y));
    return Picture.At(px, py)[0] < 128;
  };
  auto run = [&](bool alongU, double& extent, double& middle) {
    constexpr int kSteps = 4000;
    int first = -1, last = -1;
    // Inset from the edges, where the face meets its neighbours.
    for (int i = kSteps / 50; i <= kSteps - kSteps / 50; ++i) {
      const LD t = static_cast<LD>(i) / kSteps;
      if (alongU ? dark(t, 0.5L) : dark(0.5L, t)) {
        if (first < 0) first = i;
        last = i;
      }
    }
    extent = first < 0 ? 0 : static_cast<double>(last - first) / kSteps;
    middle = first < 0 ? 0 : (first + last) / 2.0 / kSteps;
  };
  TExtent e;
  run(true, e.Across, e.MiddleU);
  run(false, e.Down, e.MiddleV);
  e.Across *= static_cast<double>(FaceAspect);
  return e;
}

struct TFitCase {
  const char* Name;
  const char* Options;
  std::uint32_t ArtWidth, ArtHeight;
  // Expected width and height of the circle on the face, in face heights, from the art's and the
  // face's proportions by hand (the front of template 1 is 190 x 235 mm, a = 0.80851; the circle is
  // d = 0.6 of the art's shorter side):
  double Across, Down;
};

class ArtFitTest : public ::testing::TestWithParam<TFitCase> {};

TEST_P(ArtFitTest, CircleOnTheFront) {
  const TFitCase& c = GetParam();
  ScratchFolder dir;
  WriteCircle(dir.PathOf("art.png"), c.ArtWidth, c.ArtHeight);
  const TResult r = RunRender(dir, "--templates " + Quote(kTemplates) +
                                       " -t 1 --front art.png --hide-reflections --hide-shadows --shading 0 "
                                       "--highlights 0 --width 1600 --height 1200 -o out.png " +
                                       c.Options);
  ASSERT_EQ(r.Status, 0) << r.Err;
  const TRgbaPicture picture = DecodePng(dir.PathOf("out.png"));
  const TExtent e =
      MeasureCircle(picture, FaceCorners(kTemplates + "/01 Software box left.ini", "FRONT"), 2, 190.0L / 235);
  // Within 2 % of the face height (about 14 pixels of 690), or 3 % of the size itself.
  EXPECT_NEAR(e.Across, c.Across, std::max(0.014, 0.03 * c.Across)) << c.Name;
  EXPECT_NEAR(e.Down, c.Down, std::max(0.014, 0.03 * c.Down)) << c.Name;
  // Cropped, padded or stretched, the picture's middle stays the face's middle.
  EXPECT_NEAR(e.MiddleU, 0.5, 0.01) << c.Name;
  EXPECT_NEAR(e.MiddleV, 0.5, 0.01) << c.Name;
}

// Wide art 800 x 400 (d = 240) and tall art 400 x 800 (d = 240) on a face a = 0.80851 wide:
//   crop, wide: the face shows 400 a x 400 of the art: 240 / 400 = 0.6 both ways.
//   crop, tall: it shows 400 x 400 / a: 240 a / 400 = 0.48511 both ways.
//   pad, wide: the art lies in 800 x 800 / a: 240 a / 800 = 0.24255 both ways.
//   pad, tall: the art lies in 800 a x 800: 240 / 800 = 0.3 both ways.
//   stretch: across d / W x a, down d / H.
// A safe margin of 5 % a side enlarges the picture by 1.1 about the face's middle.
INSTANTIATE_TEST_SUITE_P(
    ModesAndShapes, ArtFitTest,
    ::testing::Values(TFitCase{"crop wide", "--fit crop --safe-margin 0", 800, 400, 0.6, 0.6},
                      TFitCase{"crop tall", "--fit crop --safe-margin 0", 400, 800, 0.48511, 0.48511},
                      TFitCase{"pad wide", "--fit pad --safe-margin 0", 800, 400, 0.24255, 0.24255},
                      TFitCase{"pad tall", "--fit pad --safe-margin 0", 400, 800, 0.3, 0.3},
                      TFitCase{"stretch wide", "--fit stretch --safe-margin 0", 800, 400, 0.24255, 0.6},
                      TFitCase{"stretch tall", "--fit stretch --safe-margin 0", 400, 800, 0.48511, 0.3},
                      TFitCase{"default crops", "--safe-margin 0", 800, 400, 0.6, 0.6},
                      TFitCase{"margin 5 %", "--fit crop --safe-margin 5", 800, 400, 0.66, 0.66}),
    [](const ::testing::TestParamInfo<TFitCase>& info) { return "case" + std::to_string(info.index); });

// The sample art of every bundled template (tools/previews.txt) has its faces' proportions: no
// warning. A picture of other proportions gets one line naming the slot and both shapes.
TEST(ArtFitWarning, NoneForTheSampleArtOfEveryTemplate) {
  ScratchFolder dir;
  std::ifstream list(kSource + "/tools/previews.txt");
  std::string line;
  int templates = 0;
  while (std::getline(list, line)) {
    const auto bar = line.find('|');
    ASSERT_NE(bar, std::string::npos) << line;
    std::string args = "--templates " + Quote(kTemplates) + " -t " + Quote(line.substr(0, bar)) +
                       " --width 400 --height 300 -o out.png";
    std::stringstream pairs(line.substr(bar + 1));
    std::string pair;
    while (std::getline(pairs, pair, ','))
      args += " --source " + Quote(pair.substr(0, pair.find('=') + 1) + kSource + "/" + pair.substr(pair.find('=') + 1));
    const TResult r = RunRender(dir, args);
    ASSERT_EQ(r.Status, 0) << line << ": " << r.Err;
    EXPECT_EQ(r.Err.find("picture is"), std::string::npos) << line << ": " << r.Err;
    ++templates;
  }
  EXPECT_EQ(templates, 14);
}

TEST(ArtFitWarning, NamesTheSlotAndBothProportionsOnce) {
  ScratchFolder dir;
  WriteCircle(dir.PathOf("wide.png"), 300, 150);
  const std::string base = "--templates " + Quote(kTemplates) + " -t 3 --front wide.png --side wide.png --top wide.png";
  TResult r = RunRender(dir, base + " -o out.png");
  ASSERT_EQ(r.Status, 0) << r.Err;
  // 03 is a 135 x 190 x 20 mm box: front 0.71, side 20 / 190 = 0.11, top 135 / 20 = 6.75.
  EXPECT_NE(r.Err.find("warning: FRONT picture is 2.00:1 (width:height) but its face is 0.71:1; cropped"),
            std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("warning: SIDE picture is 2.00:1 (width:height) but its face is 0.11:1"), std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("warning: TOP picture is 2.00:1 (width:height) but its face is 6.75:1"), std::string::npos)
      << r.Err;
  // Once a slot, though the front shows in three layers (face, underlay, reflection).
  EXPECT_EQ(r.Err.find("FRONT picture"), r.Err.rfind("FRONT picture")) << r.Err;
  r = RunRender(dir, base + " --quiet -o out.png");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Err, "");
  // Stretched, the warning says so.
  r = RunRender(dir, base + " --fit stretch -o out.png");
  EXPECT_NE(r.Err.find("FRONT picture is 2.00:1 (width:height) but its face is 0.71:1; stretched"), std::string::npos)
      << r.Err;
}

// Exact sampling reproduces earlier versions: its automatic fit stretches, pixel for pixel.
TEST(ArtFit, ExactSamplingStretchesByDefault) {
  ScratchFolder dir;
  WriteCircle(dir.PathOf("wide.png"), 300, 150);
  const std::string base = "--templates " + Quote(kTemplates) + " -t 1 --front wide.png --sampling exact";
  ASSERT_EQ(RunRender(dir, base + " -o auto.png").Status, 0);
  ASSERT_EQ(RunRender(dir, base + " --fit stretch -o stretch.png").Status, 0);
  ASSERT_EQ(RunRender(dir, base + " --fit crop -o crop.png").Status, 0);
  EXPECT_EQ(DecodePng(dir.PathOf("auto.png")).Rgba, DecodePng(dir.PathOf("stretch.png")).Rgba);
  EXPECT_NE(DecodePng(dir.PathOf("auto.png")).Rgba, DecodePng(dir.PathOf("crop.png")).Rgba);
}

// Batch rows take both keys as columns, and render as the same options do on the command line.
TEST(ArtFit, BatchRowsTakeFitAndSafeMargin) {
  ScratchFolder dir;
  WriteCircle(dir.PathOf("wide.png"), 300, 150);
  dir.Write("rows.csv",
            "output,fit,safe-margin\n"
            "pad.png,pad,0\n"
            "stretch.png,stretch,7.5\n");
  const std::string base = "--templates " + Quote(kTemplates) + " -t 1 --front wide.png --width 200 --height 150";
  const TResult r = RunRender(dir, "--batch rows.csv " + base);
  ASSERT_EQ(r.Status, 0) << r.Err;
  ASSERT_EQ(RunRender(dir, base + " --fit pad --safe-margin 0 -o pad1.png").Status, 0);
  ASSERT_EQ(RunRender(dir, base + " --fit stretch --safe-margin 7.5 -o stretch1.png").Status, 0);
  EXPECT_EQ(DecodePng(dir.PathOf("pad.png")).Rgba, DecodePng(dir.PathOf("pad1.png")).Rgba);
  EXPECT_EQ(DecodePng(dir.PathOf("stretch.png")).Rgba, DecodePng(dir.PathOf("stretch1.png")).Rgba);
  EXPECT_NE(DecodePng(dir.PathOf("pad.png")).Rgba, DecodePng(dir.PathOf("stretch.png")).Rgba);
}

TEST(ArtFit, RefusesValuesItDoesNotTake) {
  ScratchFolder dir;
  const struct {
    const char* Args;
    const char* Says;
  } cases[] = {
      {"--fit squash", "--fit takes crop, stretch or pad, not 'squash'"},
      {"--fit auto", "--fit takes crop, stretch or pad, not 'auto'"},
      {"--safe-margin 10.5", "--safe-margin takes a percentage from 0 to 10 such as 2.5, not '10.5'"},
      {"--safe-margin -1", "--safe-margin takes a percentage from 0 to 10 such as 2.5, not '-1'"},
      {"--safe-margin 2.5%", "--safe-margin takes a percentage from 0 to 10 such as 2.5, not '2.5%'"},
  };
  for (const auto& c : cases) {
    const TResult r = RunRender(dir, std::string(c.Args) + " -o out.png");
    EXPECT_EQ(r.Status, 2) << c.Args;
    EXPECT_NE(r.Err.find(c.Says), std::string::npos) << c.Args << ": " << r.Err;
    EXPECT_FALSE(std::filesystem::exists(dir.PathOf("out.png"))) << c.Args;
  }
}

}  // namespace
}  // namespace quirlon::cli
