// Scene files: every value written by SceneCells reads back through the job table, and
// quirlon-render --scene renders a scene with the command line's options over it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/SceneFile.h"
#include "tests/ScratchFolder.h"
#include "tests/cli/RunRender.h"

namespace quirlon::cli {
namespace {

using testing::ScratchFolder;
namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A job with every scene value away from its default.
core::TJob UnusualJob(const ScratchFolder& dir) {
  core::TJob job;
  job.Request.Width = 321;
  job.Request.Height = 123;
  job.Output.Dpi = 300;
  job.Output.Quality = 55;
  job.Output.Lossless = true;
  job.Output.PngEffort = imagefiles::TPngEffort::Small;
  job.Output.Flip = true;
  job.Request.TransparentBackground = true;
  job.Request.LargeDiscArea = true;
  core::TRenderSettings& s = job.Request.Settings;
  s.ShowReflection = false;
  s.FadeReflection = false;
  s.ReflectionOpacity = 7;
  s.ReflectionLength = 99;
  s.ReflectionBlur = 3;
  s.ReflectionBrightness = -42;
  s.ShowShadow = false;
  s.ShadowDensity = 11;
  s.ShadowColor = 0x123456;  // 0x00BBGGRR: red 0x56
  s.ShadowBlur = 77;
  s.ShadingStrength = 13;
  s.ShadingColor = 0xABCDEF;
  s.HighlightStrength = 17;
  s.HighlightColor = 0x010203;
  s.Sampling = core::TSampling::Exact;
  // Inside the scene's folder (written relative), outside it (kept whole), a colour.
  WriteText(dir.PathOf("scene/art/front \"quoted\".png"), "x");
  WriteText(dir.PathOf("elsewhere/side.png"), "x");
  job.Request.Sources[core::SlotIndex(core::TSlot::Front)] =
      core::TSlotSource::OfFile(dir.PathOf("scene/art/front \"quoted\".png"));
  job.Request.Sources[core::SlotIndex(core::TSlot::Side)] = core::TSlotSource::OfFile(dir.PathOf("elsewhere/side.png"));
  job.Request.Sources[core::SlotIndex(core::TSlot::Background)] = core::TSlotSource::OfColour(0x00FF00);
  job.Product.Yaw = -12.5;
  return job;
}

TEST(SceneFile, EveryValueReadsBackThroughTheJobTable) {
  ScratchFolder dir;
  const core::TJob job = UnusualJob(dir);
  const std::string scene = dir.PathOf("scene/s.json");
  const std::vector<core::TBatchCell> cells = core::SceneCells(job, "03 Book", core::SceneFolder(scene));
  WriteText(scene, core::SceneText(cells));
  const std::string text = ReadText(scene);
  // One line; the file in the scene's folder relative to it, quotes escaped; the one elsewhere whole.
  EXPECT_EQ(text.find('\n'), text.size() - 1);
  EXPECT_NE(text.find(R"("front": "art/front \"quoted\".png")"), std::string::npos) << text;
  EXPECT_NE(text.find("\"side\": \"" + dir.PathOf("elsewhere/side.png") + "\""), std::string::npos) << text;
  EXPECT_NE(text.find(R"("shadow-color": "#563412")"), std::string::npos) << text;

  core::TJob back;
  core::ApplySceneCells(back, core::ReadSceneFile(scene), scene);
  EXPECT_EQ(back.Template, "03 Book");
  EXPECT_EQ(back.Request.Settings, job.Request.Settings);
  EXPECT_EQ(back.Request.Width, 321);
  EXPECT_EQ(back.Request.Height, 123);
  EXPECT_TRUE(back.Request.TransparentBackground);
  EXPECT_TRUE(back.Request.LargeDiscArea);
  EXPECT_EQ(back.Output.Dpi, 300);
  EXPECT_EQ(back.Output.Quality, 55);
  EXPECT_TRUE(back.Output.Lossless);
  EXPECT_EQ(back.Output.PngEffort, imagefiles::TPngEffort::Small);
  EXPECT_TRUE(back.Output.Flip);
  EXPECT_EQ(back.Product.Yaw, -12.5);
  for (std::size_t i = 0; i < core::kSlotCount; ++i) {
    EXPECT_EQ(back.Request.Sources[i].Kind, job.Request.Sources[i].Kind) << i;
    if (job.Request.Sources[i].UsesColour()) EXPECT_EQ(back.Request.Sources[i].Colour, job.Request.Sources[i].Colour) << i;
    else EXPECT_EQ(fs::path(back.Request.Sources[i].File).lexically_normal(), fs::path(job.Request.Sources[i].File)) << i;
  }
}

TEST(SceneFile, AProductSceneKeepsItsShape) {
  ScratchFolder dir;
  core::TJob job;
  job.Product.Kind = "paperback";
  job.Product.Size = core::TProductSize{152.4, 228.6, 0};
  job.Product.Pages = 320;
  job.Product.Paper = core::TPaper::Cream;
  job.Product.Pitch = 10;
  const std::string scene = dir.PathOf("p.json");
  WriteText(scene, core::SceneText(core::SceneCells(job, "1", dir.Folder())));
  core::TJob back;
  core::ApplySceneCells(back, core::ReadSceneFile(scene), scene);
  EXPECT_EQ(back.Product, job.Product);
}

TEST(SceneCli, RendersTheSceneWithTheCommandLineOverIt) {
  ScratchFolder dir;
  // Template 1 with a red front: the same as the options themselves.
  WriteText(dir.PathOf("s.json"), R"({"template": "1", "width": "90", "height": "70", "front": "#FF0000", "shadow-density": "40"})" "\n");
  ASSERT_EQ(RunRender(dir, "--scene s.json -o scene.png").Status, 0);
  ASSERT_EQ(RunRender(dir, "-t 1 --width 90 --height 70 --front '#FF0000' --shadow-density 40 -o options.png").Status, 0);
  const TRgbaPicture scene = DecodePng(dir.PathOf("scene.png")), options = DecodePng(dir.PathOf("options.png"));
  EXPECT_EQ(scene.Width, 90u);
  EXPECT_EQ(scene.Rgba, options.Rgba);
  // Options given on the command line win, wherever --scene stands.
  ASSERT_EQ(RunRender(dir, "--width 64 --scene s.json --shadow-density 200 -o over.png").Status, 0);
  ASSERT_EQ(RunRender(dir, "-t 1 --width 64 --height 70 --front '#FF0000' --shadow-density 200 -o over2.png").Status, 0);
  const TRgbaPicture over = DecodePng(dir.PathOf("over.png"));
  EXPECT_EQ(over.Width, 64u);
  EXPECT_EQ(over.Rgba, DecodePng(dir.PathOf("over2.png")).Rgba);
}

struct TBadScene {
  const char* Name;
  const char* Text;     // nullptr: no file at all
  const char* Message;  // part of the error
};

class SceneCliRefuses : public ::testing::TestWithParam<TBadScene> {};

TEST_P(SceneCliRefuses, NamingTheFileAndExitingWithOne) {
  ScratchFolder dir;
  const TBadScene& bad = GetParam();
  if (bad.Text != nullptr) WriteText(dir.PathOf("bad.json"), bad.Text);
  const TResult r = RunRender(dir, "--scene bad.json -o out.png");
  EXPECT_EQ(r.Status, 1) << r.Err;
  EXPECT_NE(r.Err.find("bad.json"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find(bad.Message), std::string::npos) << r.Err;
  EXPECT_FALSE(fs::exists(dir.PathOf("out.png")));
}

INSTANTIATE_TEST_SUITE_P(
    Scenes, SceneCliRefuses,
    ::testing::Values(TBadScene{"missing", nullptr, "Cannot read scene file"},
                      TBadScene{"csv", "template,width\n1,90\n", "not a scene"},
                      TBadScene{"two", "{\"width\": \"90\"}\n{\"width\": \"91\"}\n", "holds 2 objects"},
                      TBadScene{"broken", "{\"width\": \"90\"\n", "expected"},
                      TBadScene{"range", "{\"width\": \"9000\"}\n", "width takes a whole number from 32 to 8192"},
                      TBadScene{"unknown", "{\"colour-of-the-sky\": \"blue\"}\n", "colour-of-the-sky"}),
    [](const ::testing::TestParamInfo<TBadScene>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace quirlon::cli
