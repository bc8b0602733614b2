// Canvas sizes on the command line and in batch rows: one side alone keeps the template's
// proportions, presets by name, and the 8192-pixel bound.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/ScratchFolder.h"
#include "tests/cli/RunRender.h"

namespace quirlon::cli {
namespace {

using testing::ScratchFolder;

// A 700 x 300 template (7 : 3) with one coloured layer.
void WideTemplate(const ScratchFolder& dir) {
  std::filesystem::create_directories(dir.PathOf("tpl"));
  dir.Write("tpl/wide.ini",
            "[Image]\nwidth=700\nheight=300\n[Layer1]\ntype=customcolor\nsource=clRed\n"
            "A.X=100\nA.Y=50\nB.X=600\nB.Y=50\nC.X=600\nC.Y=250\nD.X=100\nD.Y=250\n");
}

struct TSizeCase {
  std::string Args;
  std::uint32_t Width, Height;  // by hand: the other side = given x 3 / 7 or x 7 / 3, rounded
};

TEST(CanvasSizeCliTest, OneSideTakesTheOtherFromTheTemplate) {
  const std::vector<TSizeCase> cases = {
      {"--width 350", 350, 150},           // exact
      {"--width 99", 99, 42},              // 42.43
      {"--height 100", 233, 100},          // 233.33
      {"--height 200", 467, 200},          // 466.67
      {"--width 40", 40, 32},              // 17.1, raised to the smallest canvas
      {"--height 3600", 8192, 3600},       // 8400, lowered to the largest
      {"--width 350 --height 350", 350, 350},  // both given: as given
      {"", 800, 600},                      // neither: the defaults
      {"--preset link-preview", 1200, 630},
      {"--preset square-post --width 500", 500, 1080},  // a later side overrides the preset's
  };
  for (const TSizeCase& c : cases) {
    ScratchFolder dir;
    WideTemplate(dir);
    const TResult r = RunRender(dir, "--templates tpl -t wide -o out.png " + c.Args);
    ASSERT_EQ(r.Status, 0) << c.Args << ": " << r.Err;
    const TRgbaPicture p = DecodePng(dir.PathOf("out.png"));
    EXPECT_EQ(p.Width, c.Width) << c.Args;
    EXPECT_EQ(p.Height, c.Height) << c.Args;
  }
}

TEST(CanvasSizeCliTest, BatchRowsFitTheirOwnTemplate) {
  ScratchFolder dir;
  WideTemplate(dir);
  dir.Write("b.csv", "template,width,height,output\nwide,140,,w.png\n1,,90,four-three.png\nwide,,,cmd.png\n");
  const TResult r = RunRender(dir, "--templates tpl --batch b.csv --width 84");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(DecodePng(dir.PathOf("w.png")).Height, 60u);  // 140 x 3 / 7
  // The row's height comes with the command line's width: both given.
  EXPECT_EQ(DecodePng(dir.PathOf("four-three.png")).Width, 84u);
  EXPECT_EQ(DecodePng(dir.PathOf("cmd.png")).Height, 36u);  // 84 x 3 / 7
}

TEST(CanvasSizeCliTest, PresetsAndTheLargestCanvasInHelpAndErrors) {
  ScratchFolder dir;
  const TResult help = RunRender(dir, "--help");
  for (const char* text : {"square-post  1080 x 1080", "story        1080 x 1920", "link-preview 1200 x 630",
                           "store        2000 x 2000", "32..8192"})
    EXPECT_NE(help.Out.find(text), std::string::npos) << text;
  const TResult bad = RunRender(dir, "-o x.png --preset poster");
  EXPECT_EQ(bad.Status, 2);
  EXPECT_NE(bad.Err.find("--preset takes one of square-post, story, link-preview, store, print, not 'poster'"),
            std::string::npos)
      << bad.Err;
  const TResult big = RunRender(dir, "-o x.png --height 8193");
  EXPECT_EQ(big.Status, 2);
  EXPECT_NE(big.Err.find("from 32 to 8192"), std::string::npos);
}

// The largest canvas renders (a plain template keeps it quick: one layer).
TEST(CanvasSizeCliTest, LargestCanvasIsRendered) {
  ScratchFolder dir;
  WideTemplate(dir);
  const TResult r = RunRender(dir, "--templates tpl -t wide -o big.bmp --width 8192 --height 8192");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(std::filesystem::file_size(dir.PathOf("big.bmp")), 54u + 8192u * 8192u * 4u);  // 32-bit pixels
}

}  // namespace
}  // namespace quirlon::cli
