// Inputs that would exhaust memory or time stop the render with a clear message before anything
// is allocated: absurd canvas sizes, oversized template files, and more layers than memory holds.
#include <gtest/gtest.h>

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

TEST(RenderLimitsTest, MoreLayersThanMemoryHoldsAreRefusedBeforeTheFirstOne) {
  // 2048 x 2048 x 4 bytes = 16 MiB a layer: 253 layers plus three working bitmaps fill 4 GiB.
  auto layers = [](int n) {
    std::string t = "[Image]\nwidth=8\nheight=8\n";
    for (int i = 0; i < n; ++i) t += "[Layer" + std::to_string(i) + "]\n";
    return t;
  };
  TRenderFixture r(layers(254));
  r.Request.TransparentBackground = true;
  const std::string error = ErrorOf([&] { r.Render(2048, 2048); });
  EXPECT_EQ(error, "Template \"" + r.TemplatePath() + "\" has too many layers for a canvas of 2048 x 2048 pixels (254 layers)");
  // The same template on a small canvas is fine: the budget is memory, not a layer count.
  EXPECT_EQ(r.Render(16, 16).Layers.size(), 254u);
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
