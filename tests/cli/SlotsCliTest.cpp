// The slots a template shows, made visible: --list with them, --list --json, and the warnings
// for a source nobody shows and a shown slot left at its default colour.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/ScratchFolder.h"
#include "tests/cli/RunRender.h"

namespace quirlon::cli {
namespace {

using testing::ScratchFolder;

std::string Layer(int n, const std::string& type, const std::string& source) {
  return "[Layer" + std::to_string(n) + "]\ntype=" + type + "\nsource=" + source +
         "\nA.X=10\nA.Y=10\nB.X=90\nB.Y=10\nC.X=90\nC.Y=90\nD.X=10\nD.Y=90\n";
}

// "a": SIDE, FRONT (named twice, once in lower case) and a shade whose source is a direction;
// "b \"q\"": only colours of its own.
void TwoTemplates(const ScratchFolder& dir) {
  std::filesystem::create_directories(dir.PathOf("tpl"));
  dir.Write("tpl/a.ini", "[Image]\nwidth=100\nheight=100\n" + Layer(1, "normal", "SIDE") + Layer(2, "reflection", "front") +
                             Layer(3, "normal", "FRONT") + Layer(4, "shade", "top"));
  dir.Write("tpl/b \"q\".ini", "[Image]\nwidth=100\nheight=100\n" + Layer(1, "customcolor", "clRed"));
}

TEST(SlotsCliTest, ListShowsTheSlotsEachTemplateUses) {
  ScratchFolder dir;
  TwoTemplates(dir);
  const TResult text = RunRender(dir, "--templates tpl --list");
  ASSERT_EQ(text.Status, 0) << text.Err;
  EXPECT_EQ(text.Out, "1\ta\tfront,side\n2\tb \"q\"\t\n");
  const TResult json = RunRender(dir, "--templates tpl --list --json");
  ASSERT_EQ(json.Status, 0) << json.Err;
  EXPECT_EQ(json.Out,
            "[\n"
            "  {\"number\": 1, \"name\": \"a\", \"slots\": [\"front\", \"side\"]},\n"
            "  {\"number\": 2, \"name\": \"b \\\"q\\\"\", \"slots\": []}\n"
            "]\n");
  const TResult alone = RunRender(dir, "--json -o x.png");
  EXPECT_EQ(alone.Status, 2);
  EXPECT_NE(alone.Err.find("--json goes with --list"), std::string::npos);
}

TEST(SlotsCliTest, WarningsForUnusedSourcesAndDefaultColours) {
  struct TCase {
    std::string Args;
    std::string Err;
  };
  const std::string prefix = "quirlon-render: warning: template \"a\" ";
  const std::vector<TCase> cases = {
      {"", prefix + "shows front, side in the default colour (give --source SLOT=FILE|COLOUR)\n"},
      {"--source front=#FF0000", prefix + "shows side in the default colour (give --source SLOT=FILE|COLOUR)\n"},
      {"--front clRed --side clBlue --source disc2=#00FF00",
       prefix + "does not show DISC2; --source disc2 is not used\n"},
      {"--front clRed --side clBlue --top clGreen --disc clWhite",
       prefix + "does not show TOP; --source top is not used\n" + prefix +
           "does not show DISC; --source disc is not used\n"},
      {"--front clRed --side clBlue --source background=#000000", ""},  // every template has a background
      {"--top clGreen --quiet", ""},
  };
  for (const TCase& c : cases) {
    ScratchFolder dir;
    TwoTemplates(dir);
    const TResult r = RunRender(dir, "--templates tpl -t a -o out.png " + c.Args);
    EXPECT_EQ(r.Status, 0) << c.Args;
    EXPECT_EQ(r.Err, c.Err) << c.Args;
    EXPECT_TRUE(std::filesystem::exists(dir.PathOf("out.png"))) << c.Args;
  }
}

}  // namespace
}  // namespace quirlon::cli
