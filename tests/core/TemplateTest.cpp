#include "core/Template.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/Platform.h"
#include "raster/Errors.h"
#include "tests/ScratchFolder.h"

namespace quirlon::core {
namespace {

using raster::Color32;
using raster::TColor;
using raster::TPoint;
using testing::ScratchFolder;
namespace fs = std::filesystem;

TEST(TemplateTest, ListFilesTakesEveryFileButNoFolder) {
  ScratchFolder dir;
  for (const char* name : {"b", "a.ini", "B.txt", ".hidden", "readme", "box1.ini", "\xC3\xA4.ini"})
    dir.Write(name, "[Image]\n");
  fs::permissions(dir.PathOf("readme"), fs::perms::owner_read);  // read-only still counts
  fs::create_directory(dir.PathOf("sub"));
  fs::create_directory_symlink(dir.PathOf("sub"), dir.PathOf("folderlink"));
  fs::create_symlink(dir.PathOf("gone"), dir.PathOf("dangling"));

  std::vector<std::string> list{"kept"};
  ListFiles(dir.Folder(), list);
  // Byte order: "." (0x2E) < "B" < "a" < "b" < "d" < "r" < 0xC3.
  const std::vector<std::string> expected{"kept", ".hidden", "B.txt", "a.ini", "b", "box1.ini", "dangling", "readme",
                                          "\xC3\xA4.ini"};
  EXPECT_EQ(list, expected);

  std::vector<std::string> again;
  ListFiles(dir.Folder(), again);
  EXPECT_EQ(again, std::vector<std::string>(expected.begin() + 1, expected.end()));
}

TEST(TemplateTest, ListFilesOfMissingOrEmptyFolderAddsNothing) {
  ScratchFolder dir;
  std::vector<std::string> list;
  ListFiles(dir.Folder(), list);
  ListFiles(dir.PathOf("missing") + "/", list);
  ListFiles(dir.Write("plainfile", "x") + "/", list);
  EXPECT_TRUE(list.empty());
}

TEST(TemplateTest, TemplateNumbering) {
  ScratchFolder dir;
  fs::create_directory(dir.PathOf("Templates"));
  const std::string folder = dir.Folder() + kTemplatesFolder;
  for (const char* name : {"c.ini", "a.ini", "b.ini"}) dir.Write(std::string("Templates/") + name, "");
  fs::create_directory(folder + "zz_folder");

  const std::vector<std::string> list = ListTemplates(folder);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(TemplateEntry(list, 1), "a.ini");
  EXPECT_EQ(TemplateEntry(list, 3), "c.ini");
  EXPECT_EQ(TemplatePath(folder, 2), folder + "b.ini");

  auto message = [&](std::int32_t number, const std::string& in) {
    try {
      TemplatePath(in, number);
    } catch (const EListError& e) {
      return e.Message();
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(4, folder), "List index out of bounds (3)");
  EXPECT_EQ(message(0, folder), "List index out of bounds (-1)");
  EXPECT_EQ(message(1, dir.Folder() + "Missing/"), "List index out of bounds (0)");
}

TEST(TemplateTest, DisplayNameDropsTheLastFourCharacters) {
  EXPECT_EQ(TemplateDisplayName("box1.ini"), "box1");
  EXPECT_EQ(TemplateDisplayName("readme"), "re");
  EXPECT_EQ(TemplateDisplayName("book.jpeg"), "book.");
  EXPECT_EQ(TemplateDisplayName("abcd"), "");
  EXPECT_EQ(TemplateDisplayName("ab"), "");
  EXPECT_EQ(TemplateDisplayName("b\xC3\xB6x.ini"), "b\xC3\xB6x");   // two-byte character kept whole
  EXPECT_EQ(TemplateDisplayName("box\xC3\xB6\xC3\xB6\xC3\xB6\xC3\xB6"), "box");  // four characters, eight bytes
  EXPECT_EQ(TemplateDisplayName("\xE2\x82\xAC.ini"), "\xE2\x82\xAC");           // three-byte character
  EXPECT_EQ(TemplateDisplayName("ab\xA9\xA9\xA9\xA9\xA9"), "ab\xA9");                // stray bytes count alone
  EXPECT_EQ(TemplatePreviewPath("/opt/q/", "box1"), "/opt/q/Pics/box1.jpg");
}

// A template whose section names exercise the "Layer" rule and the file order.
const char* const kTemplate =
    "[Image]\n"
    "width=1000\n"
    "height=0x2EE\n"
    "[Layer2]\n"
    "type=reflection\n"
    "source=Front\n"
    "A.X=0x20\nA.Y=$20\nB.X=-5\nB.Y=abc\nC.X=\nC.Y=7\n"
    "[layer1]\n"
    "type=normal\n"
    "[BackLayer]\n"
    "type=shadow\n"
    "[ShadowLayer]\n"
    "[Layer 2]\n"
    "source=FRONT 2\n"
    "[LAYER3]\n"
    "[Layer2]\n"
    "type=shade\n"
    "[Layer1]\n"
    "type=customcolor\n"
    "[ColorLayer]\n"
    "type=customcolor\n"
    "source=clred\n"
    "D.X=640\nD.Y=480\n";

TEST(TemplateTest, LayerSectionsInFileOrder) {
  ScratchFolder dir;
  const TIniFile ini(dir.Write("t.ini", kTemplate));
  std::vector<std::string> layers{"stale"};
  ReadLayerSections(ini, layers);
  // Image, layer1 and LAYER3 are no layers; the duplicate Layer2 is listed again.
  EXPECT_EQ(layers, (std::vector<std::string>{"Layer2", "BackLayer", "ShadowLayer", "Layer 2", "Layer2", "Layer1", "ColorLayer"}));

  const TTemplateImageSize size = ReadTemplateImageSize(ini);
  EXPECT_EQ(size.Width, 1000);
  EXPECT_EQ(size.Height, 750);

  const TTemplateLayer first = ReadTemplateLayer(ini, "Layer2");
  EXPECT_EQ(first.Type, "reflection");
  EXPECT_EQ(first.Source, "Front");
  EXPECT_EQ(SourceSlotIndex(first.Source), 2);
  EXPECT_EQ(first.A, (TPoint{32, 32}));
  EXPECT_EQ(first.B, (TPoint{-5, 0}));
  EXPECT_EQ(first.C, (TPoint{0, 7}));
  EXPECT_EQ(first.D, (TPoint{0, 0}));

  // The duplicate section reads the values of the first one.
  EXPECT_EQ(ReadTemplateLayer(ini, layers[4]).Type, "reflection");

  const TTemplateLayer shadowLayer = ReadTemplateLayer(ini, "ShadowLayer");
  EXPECT_EQ(shadowLayer.Type, "unknown");
  EXPECT_EQ(shadowLayer.Source, "unknown");
  EXPECT_EQ(SourceSlotIndex(ReadTemplateLayer(ini, "Layer 2").Source), -1);

  // Lookups ignore case: the earlier [layer1], no layer itself, answers for the layer Layer1.
  EXPECT_EQ(ReadTemplateLayer(ini, "Layer1").Type, "normal");

  const TTemplateLayer last = ReadTemplateLayer(ini, "ColorLayer");
  EXPECT_EQ(LayerTypeFromText(last.Type), ltCustomColor);
  EXPECT_EQ(Color32(StringToColor(last.Source)), 0xFFFF0000u);
  EXPECT_EQ(last.D, (TPoint{640, 480}));
}

TEST(TemplateTest, MissingTemplateReadsAsEmpty) {
  ScratchFolder dir;
  const TIniFile ini(dir.PathOf("vanished.ini"));
  const TTemplateImageSize size = ReadTemplateImageSize(ini);
  EXPECT_EQ(size.Width, 800);
  EXPECT_EQ(size.Height, 600);
  std::vector<std::string> layers{"stale"};
  ReadLayerSections(ini, layers);
  EXPECT_TRUE(layers.empty());
}

TEST(TemplateTest, SourceSlots) {
  const struct {
    const char* name;
    int slot;
  } cases[] = {
      {"BACKGROUND", 1}, {"Background", 1}, {"Front", 2}, {"side", 3},  {"TOP", 4},      {"disc", 5},
      {"front2", 6},     {"Front2", 6},     {"FRONT2", 6}, {"SIDE2", 7}, {"top2", 8},     {"Disc2", 9},
      {"FRONT 2", -1},   {" FRONT", -1},    {"", -1},      {"unknown", -1}, {"FRONT3", -1}, {"DISC22", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(SourceSlotIndex(c.name), c.slot) << c.name;
  EXPECT_STREQ(SourceSlotName(6), "FRONT2");
  EXPECT_STREQ(SourceSlotName(0), "");
  EXPECT_STREQ(SourceSlotName(10), "");
}

TEST(TemplateTest, LayerTypesAndShadingDirectionsAreCaseSensitive) {
  EXPECT_EQ(LayerTypeFromText("discreflection"), ltDiscReflection);
  EXPECT_EQ(LayerTypeFromText("roundrecthighlight"), ltRoundRectHighlight);
  EXPECT_EQ(LayerTypeFromText("customcolorreflection"), ltCustomColorReflection);
  EXPECT_EQ(LayerTypeFromText("Normal"), ltUnknown);
  EXPECT_EQ(LayerTypeFromText("unknown"), ltUnknown);
  EXPECT_EQ(LayerTypeFromText(" normal"), ltUnknown);
  EXPECT_EQ(ShadingDirectionFromText("rightlefttopdown"), sdRightLeftTopDown);
  EXPECT_EQ(ShadingDirectionFromText("top"), sdTop);
  EXPECT_EQ(ShadingDirectionFromText("Top"), sdDefault);
  EXPECT_EQ(ShadingDirectionFromText("FRONT"), sdDefault);
}

TEST(TemplateTest, ColourNames) {
  // Re-typed from the colour table; each name also matched in upper and lower case.
  const struct {
    const char* name;
    std::uint32_t color;
  } names[] = {
      {"clBlack", 0x000000},         {"clMaroon", 0x000080},          {"clGreen", 0x008000},
      {"clOlive", 0x008080},         {"clNavy", 0x800000},            {"clPurple", 0x800080},
      {"clTeal", 0x808000},          {"clGray", 0x808080},            {"clSilver", 0xC0C0C0},
      {"clRed", 0x0000FF},           {"clLime", 0x00FF00},            {"clYellow", 0x00FFFF},
      {"clBlue", 0xFF0000},          {"clFuchsia", 0xFF00FF},         {"clAqua", 0xFFFF00},
      {"clWhite", 0xFFFFFF},         {"clMoneyGreen", 0xC0DCC0},      {"clSkyBlue", 0xF0CAA6},
      {"clCream", 0xF0FBFF},         {"clMedGray", 0xA4A0A0},         {"clNone", 0x1FFFFFFF},
      {"clDefault", 0x20000000},     {"clScrollBar", 0xFF000000},     {"clBackground", 0xFF000001},
      {"clActiveCaption", 0xFF000002}, {"clInactiveCaption", 0xFF000003}, {"clMenu", 0xFF000004},
      {"clWindow", 0xFF000005},      {"clWindowFrame", 0xFF000006},   {"clMenuText", 0xFF000007},
      {"clWindowText", 0xFF000008},  {"clCaptionText", 0xFF000009},   {"clActiveBorder", 0xFF00000A},
      {"clInactiveBorder", 0xFF00000B}, {"clAppWorkSpace", 0xFF00000C}, {"clHighlight", 0xFF00000D},
      {"clHighlightText", 0xFF00000E}, {"clBtnFace", 0xFF00000F},     {"clBtnShadow", 0xFF000010},
      {"clGrayText", 0xFF000011},    {"clBtnText", 0xFF000012},       {"clInactiveCaptionText", 0xFF000013},
      {"clBtnHighlight", 0xFF000014}, {"cl3DDkShadow", 0xFF000015},   {"cl3DLight", 0xFF000016},
      {"clInfoText", 0xFF000017},    {"clInfoBk", 0xFF000018},        {"clHotLight", 0xFF00001A},
      {"clGradientActiveCaption", 0xFF00001B}, {"clGradientInactiveCaption", 0xFF00001C},
      {"clMenuHighlight", 0xFF00001D}, {"clMenuBar", 0xFF00001E},
  };
  ASSERT_EQ(std::size(names), 52u);
  for (const auto& n : names) {
    const TColor expected = static_cast<TColor>(n.color);
    EXPECT_EQ(StringToColor(n.name), expected) << n.name;
    EXPECT_EQ(StringToColor(AsciiUpperCase(n.name)), expected) << n.name;
    EXPECT_EQ(StringToColor(AsciiLowerCase(n.name)), expected) << n.name;
  }
  TColor unused;
  EXPECT_FALSE(IdentToColor("clBtnFace ", unused));
  EXPECT_FALSE(IdentToColor("cl25", unused));
}

TEST(TemplateTest, ColourTextGivesOpaqueColours) {
  for (const char* red : {"clred", "$0000FF", "255", "0x0000FF", "0XFF", "x0000ff"})
    EXPECT_EQ(Color32(StringToColor(red)), 0xFFFF0000u) << red;
  EXPECT_EQ(Color32(StringToColor("clNone")), 0xFFFFFFFFu);     // low three bytes all set: white
  EXPECT_EQ(Color32(StringToColor("clDefault")), 0xFF000000u);  // low three bytes clear: black
  EXPECT_EQ(Color32(StringToColor("clBtnFace")), Color32(raster::SysColor(15)));
  EXPECT_EQ(Color32(StringToColor("$FF00000F")), Color32(raster::SysColor(15)));  // hex reaches system colours
  EXPECT_EQ(StringToColor("-16777201"), static_cast<TColor>(0xFF00000F));

  for (const char* bad : {"notacolour", "", "clRedd", "FF0000", "12 ", "unknown"}) {
    try {
      StringToColor(bad);
      ADD_FAILURE() << "no error for '" << bad << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(bad) + "' is not a valid integer value");
    }
  }
}

}  // namespace
}  // namespace quirlon::core
