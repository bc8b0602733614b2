// Inputs that would exhaust memory or time stop the render with a clear message before anything
// is allocated: absurd canvas sizes, oversized template files, and more layers than memory holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/IniFile.h"
#include "core/Platform.h"
#include "core/Render.h"
#include "raster/Errors.h"
#include "tests/ScratchFolder.h"

namespace quirlon::core {
namespace {

namespace fs = std::filesystem;

struct TRenderFixture {
  testing::ScratchFolder Root;
  TRenderRequest Request;

  explicit TRenderFixture(const std::string& templateText) {
    fs::create_directories(Root.PathOf("custom"));
    Root.Write("t.ini", templateText);
    Request.Template.File = TemplatePath();
    Request.CustomFolder = Root.Folder() + "custom/";
  }
  std::string TemplatePath() const { return Root.PathOf("t.ini"); }
  TRenderResult Render(int Width, int Height) {
    Request.Width = Width;
    Request.Height = Height;
    return core::ApplyTemplate(Request);
  }
};

std::string ErrorOf(auto&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

TEST(RenderLimitsTest, AbsurdCanvasSizesAreRefused) {
  TRenderFixture r("[Image]\nwidth=100\nheight=100\n");
  EXPECT_EQ(r.Render(40, 30).Width(), 40);
  struct TCase {
    int W, H;
  };
  // One side too long; each side allowed but the area too large; both at int32's end.
  for (const TCase c : {TCase{16385, 32}, TCase{32, 16385}, TCase{16384, 4097}, TCase{2147483647, 2147483647}}) {
    const std::string error = ErrorOf([&] { r.Render(c.W, c.H); });
    EXPECT_EQ(error, Format("Canvas is too large (%d x %d)", c.W, c.H));
  }
  // The largest allowed area and negative sides (which count as 0) still render.
  TRenderResult result;
  EXPECT_EQ(ErrorOf([&] { result = r.Render(-5, 7); }), "");
  EXPECT_EQ(result.Width(), 0);
  EXPECT_EQ(ErrorOf([&] { result = r.Render(8192, 8192); }), "");
  EXPECT_EQ(result.Width(), 8192);
}

TEST(RenderLimitsTest, TemplateFileOverOneMebibyteIsRefusedByName) {
  const std::string head = "[Image]\nwidth=10\nheight=10\n[Layer1]\ntype=customcolor\nsource=clRed\n"
                           "A.X=0\nA.Y=0\nB.X=10\nB.Y=0\nC.X=10\nC.Y=10\nD.X=0\nD.Y=10\n;";
  const std::size_t limit = 1024 * 1024;
  std::string exact = head + std::string(limit - head.size() - 1, 'x') + "\n";
  ASSERT_EQ(exact.size(), limit);
  TRenderFixture r(exact);
  const TRenderResult result = r.Render(10, 10);
  ASSERT_EQ(result.Layers.size(), 1u);
  EXPECT_EQ(result.Layers[0].Role.TypeText, "customcolor");
  EXPECT_EQ(result.Width(), 10);

  r.Root.Write("t.ini", exact + "y");
  const std::string error = ErrorOf([&] { r.Render(10, 10); });
  EXPECT_EQ(error, "Template file \"" + r.TemplatePath() + "\" is too large (1048577 bytes; at most 1 MiB)");
}

// Layer sections with nothing but a type: the budget is checked before any of them is built.
std::string ManyLayers(int n, const std::string& type = "shadow") {
  std::string t = "[Image]\nwidth=64\nheight=64\n";
  for (int i = 0; i < n; ++i) t += "[Layer" + std::to_string(i) + "]\ntype=" + type + "\n";
  return t;
}

TEST(RenderLimitsTest, TemplatesNeedingMoreThanTheBudgetAreRefusedBeforeTheFirstLayer) {
  // 64 x 64 x 4 bytes = 16 KiB a canvas. 254 layers keep 254 of them, the canvas one more, and the
  // two layers built at once three each (picture, target, edge mask): 261 x 16 KiB = 4176 KiB.
  const std::int64_t need = 261 * 16 * 1024;
  TRenderFixture r(ManyLayers(254));
  r.Request.TransparentBackground = true;
  r.Request.MemoryBudget = need - 1;
  const std::string error = ErrorOf([&] { r.Render(64, 64); });
  // 4176 KiB is 4.08 MiB, shown rounded up; the budget just below it rounded down.
  EXPECT_EQ(error, "Template \"" + r.TemplatePath() +
                       "\" needs 4.1 MiB of memory at 64 x 64 pixels (254 layers), more than the 4.0 MiB a render may take");
  // Exactly the need is enough; so is a smaller canvas: the budget is memory, not a layer count.
  r.Request.MemoryBudget = need;
  EXPECT_EQ(r.Render(64, 64).Layers.size(), 254u);
  r.Request.MemoryBudget = need - 1;
  EXPECT_EQ(r.Render(63, 64).Layers.size(), 254u);
}

TEST(RenderLimitsTest, DiscArtworkCountsTwiceForTheTwoLargestDiscs) {
  // Discs reaching far beyond a 64 x 64 canvas: their artwork has the size of the corners, and it
  // exists twice while the layer is built (the drawing and its copy in the picture bitmap).
  auto disc = [](int n, int w, int h) {
    return Format("[Layer%d]\ntype=disc\nsource=disc\nA.X=0\nA.Y=0\nB.X=%d\nB.Y=0\nC.X=%d\nC.Y=%d\nD.X=0\nD.Y=%d\n", n, w, w,
                  h, h);
  };
  TRenderFixture r("[Image]\nwidth=64\nheight=64\n" + disc(1, 100, 50) + disc(2, 1000, 500) + disc(3, 300, 200));
  r.Request.TransparentBackground = true;
  const std::int64_t canvas = 64 * 64 * 4;
  const std::int64_t need = canvas * (3 + 1) + 2 * 3 * canvas + 2 * (1000 * 500 * 4) + 2 * (300 * 200 * 4);
  r.Request.MemoryBudget = need - 1;
  EXPECT_NE(ErrorOf([&] { r.Render(64, 64); }).find(" needs 4.5 MiB of memory at 64 x 64 pixels (3 layers)"),
            std::string::npos);
  r.Request.MemoryBudget = need;
  TRenderResult result;
  EXPECT_EQ(ErrorOf([&] { result = r.Render(64, 64); }), "");
  EXPECT_EQ(result.Layers.size(), 3u);
}

TEST(RenderLimitsTest, TryReadFileStopsJustPastTheLimit) {
  testing::ScratchFolder dir;
  const std::string path = dir.Write("big", std::string(300000, 'a'));
  std::string text;
  ASSERT_TRUE(TryReadFile(path, text, 1000));
  EXPECT_GT(text.size(), 1000u);
  EXPECT_LT(text.size(), 300000u);
  text.clear();
  ASSERT_TRUE(TryReadFile(path, text, 300000));
  EXPECT_EQ(text.size(), 300000u);
}

TEST(RenderLimitsTest, ValueAndSectionListLimitsOfTheTemplateReader) {
  // A value is read up to 2047 characters; the list of section names through 16384 characters.
  const std::string longValue(5000, 'v');
  std::string text = "[S]\nk=" + longValue + "\n";
  // 2000 sections "L0000".."L1999" (6 characters each with the NUL), then 1000 of 9 characters
  // ("Layer000\0") that overflow the buffer.
  for (int i = 0; i < 2000; ++i) text += Format("[L%04d]\n", i);
  for (int i = 0; i < 1000; ++i) text += Format("[Layer%03d]\n", i);
  const TIniFile ini = TIniFile::FromText("mem.ini", text);
  EXPECT_EQ(ini.ReadString("S", "k", ""), std::string(2047, 'v'));
  std::vector<std::string> names;
  ini.ReadSections(names);
  // "S\0" + 2000 x 6 = 12002 characters; the list is cut at 16382: 4380 more = 486 whole names
  // of 9 and the first 6 characters of the next.
  std::size_t chars = 0;
  for (const std::string& n : names) chars += n.size() + 1;
  EXPECT_LE(chars, 16384u);
  ASSERT_EQ(names.size(), 1u + 2000u + 486u + 1u);
  EXPECT_EQ(names[2000], "L1999");
  EXPECT_EQ(names[2486], "Layer485");
  EXPECT_EQ(names.back(), "Layer4");
}

}  // namespace
}  // namespace quirlon::core
