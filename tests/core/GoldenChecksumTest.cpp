// Freezes the composited pixels of every bundled template (and the benchmark scene) at three canvas
// sizes, with pictures and colours in the slots and every effect switched on. The renderer is
// optimised under these checksums: a change of any pixel fails here.
//
// The table lives in tests/core/GoldenChecksums.txt, one line per template file and size. The
// template files are the copies in tests/core/GoldenTemplates: the library as it was before its
// layers took optional look keys, so these checksums also prove that a file of the older keys
// renders exactly as it always did. After a
// deliberate change of the pictures (new templates, a fixed rendering fault), rewrite it with
//   QUIRLON_UPDATE_GOLDEN=1 build/tests/test_core --gtest_filter='*GoldenChecksum*'
// and review the difference with git diff before committing it, with the reason in the message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../ScratchFolder.h"
#include "core/Effects.h"
#include "core/Render.h"
#include "imagefiles/OutputWriters.h"

namespace quirlon::core {
namespace {

namespace fs = std::filesystem;
using raster::TBitmap32;
using raster::TColor32;

const std::string kTablePath = std::string(QUIRLON_SOURCE_DIR) + "/tests/core/GoldenChecksums.txt";

struct TCanvasSize {
  std::int32_t Width, Height;
};
constexpr TCanvasSize kSizes[] = {{97, 61}, {800, 600}, {1601, 1203}};

// FNV-1a over the pixels' bytes, low byte first, then the size.
std::uint64_t PixelHash(const TBitmap32& b) {
  std::uint64_t h = 14695981039346656037ull;
  auto mix = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      h ^= (v >> (8 * i)) & 0xFFu;
      h *= 1099511628211ull;
    }
  };
  mix(static_cast<std::uint32_t>(b.Width()));
  mix(static_cast<std::uint32_t>(b.Height()));
  for (std::int32_t y = 0; y < b.Height(); ++y) {
    const TColor32* row = b.ScanLine(y);
    for (std::int32_t x = 0; x < b.Width(); ++x) mix(row[x]);
  }
  return h;
}

// A small deterministic picture: gradients, a hard-edged block and some noise, opaque.
void MakePicture(TBitmap32& b, std::int32_t w, std::int32_t h, std::uint32_t seed) {
  b.SetSize(w, h);
  std::uint32_t s = seed;
  for (std::int32_t y = 0; y < h; ++y) {
    TColor32* row = b.ScanLine(y);
    for (std::int32_t x = 0; x < w; ++x) {
      s = s * 1664525u + 1013904223u;
      const int noise = static_cast<int>((s >> 24) & 31) - 16;
      const bool block = (x / 17 + y / 13 + seed) % 5 == 0;
      const int r = std::clamp(x * 255 / std::max(1, w - 1) + noise, 0, 255);
      const int g = block ? 240 : std::clamp(y * 255 / std::max(1, h - 1) - noise, 0, 255);
      const int bl = static_cast<int>((seed * 37 + static_cast<std::uint32_t>(x * y)) & 0xFF);
      row[x] = raster::Color32(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(bl));
    }
  }
}

std::vector<fs::path> GoldenTemplates() {
  std::vector<fs::path> list;
  for (const auto& e : fs::directory_iterator(std::string(QUIRLON_SOURCE_DIR) + "/tests/core/GoldenTemplates"))
    if (e.path().extension() == ".ini") list.push_back(e.path());
  std::sort(list.begin(), list.end());
  list.push_back(std::string(QUIRLON_SOURCE_DIR) + "/bench/scene.ini");
  return list;
}

std::string Key(const fs::path& t, TCanvasSize s) {
  return t.filename().string() + " " + std::to_string(s.Width) + "x" + std::to_string(s.Height);
}

// Lines "<template file name> <W>x<H> <hash>"; file names may hold spaces.
std::map<std::string, std::string> ReadTable() {
  std::map<std::string, std::string> table;
  std::ifstream in(kTablePath);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t lastSpace = line.rfind(' ');
    if (lastSpace == std::string::npos || lastSpace == 0) continue;
    table[line.substr(0, lastSpace)] = line.substr(lastSpace + 1);
  }
  return table;
}

void WriteTable(const std::map<std::string, std::string>& Table) {
  std::ofstream out(kTablePath);
  for (const auto& [key, hash] : Table) out << key << ' ' << hash << '\n';
}

class GoldenChecksum : public ::testing::TestWithParam<fs::path> {
protected:
  void SetUp() override {
    // Slots: pictures of different shapes, and plain colours, so both paths are frozen.
    const struct {
      int Slot;
      std::int32_t W, H;
    } pictures[] = {{1, 120, 90}, {2, 173, 241}, {3, 61, 239}, {5, 150, 150}, {7, 59, 201}, {8, 211, 47}};
    for (const auto& p : pictures) {
      TBitmap32 b;
      MakePicture(b, p.W, p.H, static_cast<std::uint32_t>(p.Slot));
      const std::string path = scratch.PathOf("slot" + std::to_string(p.Slot) + ".bmp");
      imagefiles::SaveBmp(b, path, 96);
      sources[p.Slot - 1] = TSlotSource::OfFile(path);
    }
    sources[4 - 1] = TSlotSource::OfColour(0x3060C0);
    sources[6 - 1] = TSlotSource::OfColour(0x10A0F0);
    sources[9 - 1] = TSlotSource::OfColour(0x806040);
    // Every effect on, away from its neutral value.
    settings.ReflectionOpacity = 200;
    settings.ReflectionBlur = 15;
    settings.ReflectionBrightness = 12;
    settings.ReflectionLength = 60;
    settings.FadeReflection = true;
    settings.ShadowDensity = 210;
    settings.ShadowColor = 0x202830;
    settings.ShadowBlur = 25;
    settings.ShadingStrength = 190;
    settings.ShadingColor = 0x101010;
    settings.HighlightStrength = 170;
    settings.HighlightColor = 0xF0FFFF;
    // The frozen pixels are those of the exact sampling; smooth sampling is checked elsewhere.
    settings.Sampling = TSampling::Exact;
  }

  std::uint64_t Render(const fs::path& Template, TCanvasSize Size) {
    TRenderRequest request;
    request.Template.File = Template.string();
    request.Settings = settings;
    request.Sources = sources;
    request.CustomFolder = std::string(QUIRLON_SOURCE_DIR) + "/data/custom/";  // the bundled "customfile" pictures
    request.Width = Size.Width;
    request.Height = Size.Height;
    return PixelHash(*Flatten(core::ApplyTemplate(request)));
  }

  testing::ScratchFolder scratch;
  TRenderSettings settings;
  TSlotSources sources = DefaultSlotSources();
};

// One test per template, each at the three sizes.
TEST_P(GoldenChecksum, KeepsItsPixelsAtThreeSizes) {
  const fs::path& t = GetParam();
  const bool update = std::getenv("QUIRLON_UPDATE_GOLDEN") != nullptr;
  std::map<std::string, std::string> table = ReadTable();
  for (TCanvasSize s : kSizes) {
    std::ostringstream hex;
    hex << std::hex << Render(t, s);
    const std::string key = Key(t, s);
    if (update) {
      table[key] = hex.str();
      continue;
    }
    const auto it = table.find(key);
    if (it == table.end()) {
      ADD_FAILURE() << key << ": no checksum in " << kTablePath
                    << "; record it with QUIRLON_UPDATE_GOLDEN=1 test_core --gtest_filter='*GoldenChecksum*'";
      continue;
    }
    EXPECT_EQ(it->second, hex.str()) << key << ": the composited pixels changed";
  }
  if (update) {
    WriteTable(table);
    std::cout << "recorded " << t.filename().string() << " in " << kTablePath << '\n';
  }
}

std::string TestName(const ::testing::TestParamInfo<fs::path>& info) {
  std::string name;
  for (char c : info.param.stem().string()) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Templates, GoldenChecksum, ::testing::ValuesIn(GoldenTemplates()), TestName);

}  // namespace
}  // namespace quirlon::core
