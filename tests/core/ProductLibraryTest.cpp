// The bundled template library and its [Product] sections: every template is made again from its
// section layer for layer; sections read back as written; bad sections are refused with the file,
// the key and the range; the layers use the template vocabulary; every template has its preview
// artwork.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/IniFile.h"
#include "core/ProductError.h"
#include "core/ProductSection.h"
#include "core/ProductValues.h"
#include "core/SceneGenerator.h"
#include "core/Template.h"

namespace quirlon::core {
namespace {

const std::string kRoot = QUIRLON_SOURCE_DIR;
const std::string kTemplates = kRoot + "/data/Templates/";

TEST(ProductLibrary, EveryBundledTemplateIsMadeAgainFromItsProductSection) {
  const auto files = ListTemplates(kTemplates);
  ASSERT_EQ(files.size(), 14u);
  for (const std::string& file : files) {
    const TIniFile ini(kTemplates + file);
    const auto scene = ReadProductSection(ini);
    ASSERT_TRUE(scene) << file << " has no [Product] section";
    EXPECT_EQ(scene->SeamRules, kFirstSeamRules) << file;
    const TGeneratedTemplate generated = GenerateTemplate(*scene);
    std::vector<std::string> sections;
    ReadLayerSections(ini, sections);
    ASSERT_EQ(sections.size(), generated.Layers.size()) << file;
    EXPECT_EQ(ReadTemplateImageSize(ini).Width, generated.Size.Width);
    EXPECT_EQ(ReadTemplateImageSize(ini).Height, generated.Size.Height);
    for (std::size_t i = 0; i < sections.size(); ++i) {
      const TTemplateLayer read = ReadTemplateLayer(ini, sections[i]);
      const TTemplateLayer& made = generated.Layers[i];
      EXPECT_EQ(read.Section, made.Section) << file;
      EXPECT_EQ(read.Type, made.Type) << file << " " << read.Section;
      EXPECT_EQ(read.Source, made.Source) << file << " " << read.Section;
      EXPECT_TRUE(read.A == made.A && read.B == made.B && read.C == made.C && read.D == made.D)
          << file << " " << read.Section;
    }
  }
}

TEST(ProductLibrary, ProductSectionsReadBackAsWritten) {
  std::vector<TProductScene> scenes;
  for (const std::string& file : ListTemplates(kTemplates))
    scenes.push_back(*ReadProductSection(TIniFile(kTemplates + file)));
  for (const auto& kind : ProductKinds()) scenes.push_back(MakeProductScene(kind.Name));
  auto turned = MakeProductScene("paperback", 127, 203.2, 20.32, -144.5, 12.25);
  turned.Overlays["back"] = {{"highlight", "lefttop", {}}, {"customfile", "keepcase-sleeve.png", {}}};
  turned.LightAzimuth = 65.5;
  turned.LightElevation = 30;
  turned.Overlays["left"] = {};
  turned.FillX = 0.7;
  turned.Width = 640;
  turned.Height = 480;
  scenes.push_back(turned);
  for (const auto& scene : scenes) {
    const std::string text = "[Image]\nwidth=" + std::to_string(scene.Width) +
                             "\nheight=" + std::to_string(scene.Height) + "\n\n" + ProductSectionText(scene);
    const auto read = ReadProductSection(TIniFile::FromText("scene.ini", text));
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, scene) << text;
  }
  EXPECT_FALSE(ReadProductSection(TIniFile::FromText("plain.ini", "[Image]\nwidth=800\n[Layer1]\ntype=normal\n")));
}

TEST(ProductLibrary, AShortSectionTakesTheKindsDefaults) {
  const auto scene = ReadProductSection(TIniFile::FromText("p.ini", "[Product]\nkind=paperback\nsize=5x8x0.8in\n"));
  ASSERT_TRUE(scene);
  const auto& product = scene->Products.at(0);
  EXPECT_NEAR(product.Width, 127, 1e-12);
  EXPECT_NEAR(product.Height, 203.2, 1e-12);
  EXPECT_NEAR(product.Depth, 20.32, 1e-12);
  EXPECT_EQ(scene->Camera.Yaw, 30);
  EXPECT_EQ(scene->Camera.Pitch, 14);
  EXPECT_EQ(scene->Camera.Focal, 50);
  EXPECT_NEAR(scene->Camera.Distance, 9 * 203.2, 1e-9);  // nine times its largest side
  EXPECT_NEAR(scene->Camera.Target.Y, 101.6, 1e-12);     // looking at its middle
  EXPECT_EQ(scene->SeamRules, kSeamRules);
  EXPECT_EQ(scene->Width, 800);  // no [Image]: the default frame
}

TEST(ProductLibrary, BadSectionsNameTheFileTheKeyAndTheRange) {
  struct TCase {
    const char* Keys;
    const char* Message;
  };
  const TCase cases[] = {
      {"size=100x100x10", "Template \"bad.ini\": [Product] kind= is not a product kind (one of box, hardcover"},
      {"kind=crate", "[Product] kind=crate is not a product kind"},
      {"kind=box\nsize=0x100x10",
       "[Product] size=0x100x10 is not a size for a box: Width 0 mm in size \"0x100x10\" is out of range: 10 to 1000 "
       "mm"},
      {"kind=box\nsize=100x100", "[Product] size=100x100 is not a size for a box: A box needs a depth"},
      {"kind=disc\nsize=120x100", "[Product] size=120x100 is not a size for a disc: A disc is round"},
      {"kind=box\nyaw=90",
       "Template \"bad.ini\": [Product] Yaw 90 is out of range (-180 to -102, -78 to 78 or 102 to "
       "180 degrees)"},
      {"kind=box\npitch=95", "[Product] pitch=95 is out of range (-90 to 90)"},
      {"kind=box\npitch=50", "[Product] Pitch 50 is out of range (0 to 40 degrees)"},
      {"kind=box\nyaw=thirty", "[Product] yaw=thirty is not a number"},
      {"kind=box\ntarget=1,2", "[Product] target=1,2 is not 3 numbers separated by commas"},
      {"kind=box\ndistance=0", "[Product] distance=0 is out of range (1 to 100000)"},
      {"kind=box\nfocal=5", "[Product] focal=5 is out of range (10 to 600)"},
      {"kind=box\nfill=0.8", "[Product] fill=0.8 is not 2 numbers separated by commas"},
      {"kind=box\nfill=0,0.5", "[Product] fill=0,0.5 is out of range (0.01 to 1)"},
      {"kind=box\nseams=3", "[Product] seams=3 is out of range (1 to 2)"},
      {"kind=box\nseams=1.5", "[Product] seams=1.5 is not a whole number"},
      {"kind=box\noverlay.front=shade",
       "[Product] overlay.front=shade is not \"none\" or layers given as type and source"},
      {"kind=box\noverlay.top=sparkle top", "[Product] overlay.top=sparkle top is not \"none\" or layers"},
      {"kind=box\nkind2=box\nsize2=100x50", "[Product] size2=100x50 is not a size for a box"},
      {"kind=box\nkind2=box\nyaw=50", "[Product] Yaw 50 is out of range (-45 to 45 degrees)"},
      {"kind=box\nlight=40", "[Product] light=40 is not 2 numbers separated by commas"},
      {"kind=box\nlight=200,45", "[Product] light=200,45 is out of range (-180 to 180)"},
      {"kind=box\nlight=40,85", "[Product] light=40,85 has an elevation out of range (10 to 80 degrees)"},
  };
  for (const auto& c : cases) {
    std::string message = "(no error)";
    try {
      ReadProductSection(TIniFile::FromText("bad.ini", std::string("[Image]\nwidth=800\n[Product]\n") + c.Keys + "\n"));
    } catch (const EBadProductValue& e) {
      message = e.Message();
    }
    EXPECT_NE(message.find(c.Message), std::string::npos) << c.Keys << "\n" << message;
    EXPECT_EQ(message.rfind("Template \"bad.ini\": [Product] ", 0), 0u) << message;
  }
}

// The template files as plain text: sections in file order as (name, keys), read by the test's own
// small reader, not the program's.
std::vector<std::pair<std::string, std::map<std::string, std::string>>> ReadSections(const std::string& Path) {
  std::ifstream in(Path);
  std::vector<std::pair<std::string, std::map<std::string, std::string>>> sections;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      sections.push_back({line.substr(1, line.size() - 2), {}});
    } else {
      const auto eq = line.find('=');
      sections.back().second[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return sections;
}

TEST(ProductLibrary, LayersUseTheTemplateVocabulary) {
  const std::set<std::string> kTypes = {"normal",        "reflection",     "roundrect",
                                        "disc",          "discreflection", "shadow",
                                        "shade",         "blurshade",      "highlight",
                                        "blurhighlight", "roundrectshade", "roundrecthighlight",
                                        "customfile",    "customcolor",    "customcolorreflection"};
  const std::set<std::string> kDirections = {"leftdown",         "lefttop", "righttop", "rightdown",
                                             "rightlefttopdown", "left",    "top",      "right"};
  std::set<std::string> types, directions, slots;
  for (const std::string& file : ListTemplates(kTemplates)) {
    const auto sections = ReadSections(kTemplates + file);
    ASSERT_GE(sections.size(), 3u);
    EXPECT_EQ(sections[0].first, "Image");
    EXPECT_EQ(sections[1].first, "Product");
    const int w = std::stoi(sections[0].second.at("width")), h = std::stoi(sections[0].second.at("height"));
    for (std::size_t i = 2; i < sections.size(); ++i) {
      const auto& [name, keys] = sections[i];
      EXPECT_EQ(name, "Layer" + std::to_string(i - 1)) << file;
      const std::string type = keys.at("type");
      EXPECT_TRUE(kTypes.count(type)) << file << " " << type;
      types.insert(type);
      const std::string source = keys.count("source") ? keys.at("source") : "";
      if (type.find("shade") != std::string::npos || type.find("highlight") != std::string::npos) {
        EXPECT_TRUE(kDirections.count(source)) << file << " " << source;
        directions.insert(source);
      } else if (type == "normal" || type == "reflection" || type == "roundrect" || type == "disc" ||
                 type == "discreflection") {
        slots.insert(source);
      } else if (type == "customfile") {
        EXPECT_TRUE(std::filesystem::is_regular_file(kRoot + "/data/custom/" + source)) << source;
      }
      // Faces stay in the frame; only reflections may run off its bottom, and shadows anywhere.
      if (type == "shadow") continue;
      for (const char* corner : {"A", "B", "C", "D"}) {
        const int x = std::stoi(keys.at(std::string(corner) + ".X")),
                  y = std::stoi(keys.at(std::string(corner) + ".Y"));
        EXPECT_TRUE(x >= 0 && x <= w && y >= 0) << file << " " << name;
        if (type.find("reflection") == std::string::npos && type.rfind("blur", 0) != 0) {
          EXPECT_LE(y, h) << file;
        }
      }
    }
  }
  EXPECT_EQ(types, kTypes);
  // The light picks the flat shade and the corners nearest to and farthest from it.
  EXPECT_TRUE(std::includes(kDirections.begin(), kDirections.end(), directions.begin(), directions.end()));
  EXPECT_TRUE(directions.count("rightlefttopdown") && directions.count("lefttop") && directions.count("righttop"));
  EXPECT_EQ(slots, (std::set<std::string>{"FRONT", "SIDE", "TOP", "DISC", "FRONT2", "SIDE2", "TOP2", "DISC2"}));
}

TEST(ProductLibrary, EveryTemplateHasPreviewArtwork) {
  std::ifstream in(kRoot + "/tools/previews.txt");
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    ++count;
    const auto bar = line.find('|');
    EXPECT_TRUE(std::filesystem::is_regular_file(kTemplates + line.substr(0, bar) + ".ini")) << line;
    std::stringstream pairs(line.substr(bar + 1));
    std::string pair;
    while (std::getline(pairs, pair, ',')) {
      const auto eq = pair.find('=');
      EXPECT_GE(SourceSlotIndex(pair.substr(0, eq)), 2) << pair;
      EXPECT_TRUE(std::filesystem::is_regular_file(kRoot + "/" + pair.substr(eq + 1))) << pair;
    }
  }
  EXPECT_EQ(count, static_cast<int>(ListTemplates(kTemplates).size()));
}

}  // namespace
}  // namespace quirlon::core
