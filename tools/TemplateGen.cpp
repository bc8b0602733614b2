// quirlon-templates: writes the bundled template library from its product scenes.
//
// Every template of data/Templates is made from a [Product] section (the product, its size, the
// camera, the framing and the layers chosen by hand over some faces) listed below; the tool writes
// each template with that section and the layers the model makes of it, tools/previews.txt (the
// sample artwork each preview uses) and the template table of data/Docs/index.html.
//
//   quirlon-templates [--root DIR]          write them under DIR (default: the working folder)
//   quirlon-templates [--root DIR] --check  compare instead; exit status 1 when any differs
#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "core/IniFile.h"
#include "core/ProductSection.h"
#include "core/SceneGenerator.h"
#include "core/TemplateWriter.h"

namespace {

namespace fs = std::filesystem;
using namespace quirlon;

struct TLibraryEntry {
  std::string Name;                             // file name without ".ini", as the window lists it
  std::string Comment;                          // what it shows
  std::map<std::string, std::string> Previews;  // slot -> sample artwork, relative to the root
  std::string Product;                          // the [Product] keys
};

using TArt = std::map<std::string, std::string>;
const TArt kBoxArt = {
    {"FRONT", "examples/box-front.jpg"}, {"SIDE", "examples/box-side.jpg"}, {"TOP", "examples/box-top.jpg"}};
const TArt kBox2Art = {
    {"FRONT2", "examples/box2-front.jpg"}, {"SIDE2", "examples/box2-side.jpg"}, {"TOP2", "examples/box2-top.jpg"}};
const TArt kBookArt = {{"FRONT", "examples/book-front.jpg"}, {"SIDE", "examples/book-spine.jpg"}};
const TArt kDiscArt = {{"DISC", "examples/disc-label.jpg"}};
const TArt kDisc2Art = {{"DISC2", "examples/disc2-label.jpg"}};
const TArt kCdArt = {{"FRONT", "examples/cd-front.jpg"}, {"SIDE", "examples/cd-spine.jpg"}};
const TArt kCdDiscArt = {{"DISC", "examples/cd-disc.jpg"}};
const TArt kDvdArt = {{"FRONT", "examples/dvd-front.jpg"}, {"SIDE", "examples/dvd-spine.jpg"}};
const TArt kDvdBoxArt = {
    {"FRONT", "examples/dvd-front.jpg"}, {"SIDE", "examples/dvdbox-side.jpg"}, {"TOP", "examples/dvdbox-top.jpg"}};
const TArt kAppArt = {{"FRONT", "examples/app-tile.jpg"}};
const TArt kMagazineArt = {{"FRONT", "examples/magazine-front.jpg"}};

TArt Merged(TArt a, const TArt& b) {
  a.insert(b.begin(), b.end());
  return a;
}

std::vector<TLibraryEntry> Library() {
  return {
      {"01 Software box left", "A software box seen from the front left: spine on the left, top showing.", kBoxArt,
       "kind=box\nsize=190x235x60\nyaw=30\npitch=14\ndistance=2160\ntarget=95,117,30\n"},
      {"02 Software box right", "A software box seen from the front right: side on the right, top showing.", kBoxArt,
       "kind=box\nsize=190x235x60\nyaw=-30\npitch=14\ndistance=2160\ntarget=95,117,30\n"},
      {"03 Tall DVD box", "A tall slim box in the DVD format, seen from the left.", kDvdBoxArt,
       "kind=box\nsize=135x190x20\nyaw=35\npitch=8\ndistance=1680\ntarget=67,95,10\n"},
      {"04 Two boxes", "Two software boxes side by side, the second a little in front.", Merged(kBoxArt, kBox2Art),
       "kind=box\nsize=170x215x55\nposition=-20,0,30\nturn=-15\n"
       "kind2=box\nsize2=170x215x55\nposition2=175,0,0\nturn2=15\n"
       "yaw=0\npitch=14\ndistance=3120\ntarget=150,107,40\nfill=0.86,0.60\n"},
      {"05 Hardcover book", "A hardcover book seen from the front left: cover, spine and the page edges on top.",
       kBookArt,
       "kind=hardcover\nsize=160x240x38\nyaw=28\npitch=12\ndistance=2160\ntarget=80,120,19\n"},
      {"06 Paperback", "A paperback seen from the front right: cover and the page block on the right.", kBookArt,
       "kind=paperback\nsize=130x200x16\nyaw=-25\npitch=10\ndistance=1680\ntarget=65,100,8\n"},
      {"07 Book and disc", "A hardcover book with its disc standing beside it.", Merged(kBookArt, kDiscArt),
       "kind=hardcover\nsize=160x240x38\nposition=0,0,40\n"
       "kind2=disc\nsize2=120x120\nposition2=200,0,-10\nturn2=-20\n"
       "yaw=22\npitch=10\ndistance=2640\ntarget=130,110,20\nfill=0.82,0.60\n"},
      {"08 CD jewel case", "A CD jewel case: front insert under clear plastic, the spine on the left.", kCdArt,
       "kind=jewel-case\nsize=142x125x10\nyaw=25\npitch=10\ndistance=1680\ntarget=71,62,5\n"},
      {"09 DVD keep case", "A DVD keep case seen from the front right, the spine on the right.", kDvdArt,
       "kind=keep-case\nsize=135x190x14\nyaw=-28\npitch=8\ndistance=1920\ntarget=67,95,7\n"},
      {"10 Disc", "A disc standing upright on a glossy floor.", kDiscArt,
       "kind=disc\nsize=120x120\nturn=-25\n"
       "yaw=0\npitch=6\ndistance=1440\ntarget=0,60,0\nfill=0.7,0.58\nfloor=0.66\nshadow=30\n"},
      {"11 Jewel case with disc", "A CD jewel case with its disc half drawn out to the right.",
       Merged(kCdArt, kCdDiscArt),
       "kind=disc\nsize=120x120\nposition=80,0,8\nlift=3\n"
       "kind2=jewel-case\nsize2=142x125x10\nposition2=-40,0,0\n"
       "yaw=12\npitch=8\ndistance=2160\ntarget=40,62,5\nfill=0.84,0.56\n"},
      {"12 App tile", "A square app tile with rounded corners, leaning back a little.", kAppArt,
       "kind=tile\nsize=150x150\nturn=-22\n"
       "yaw=0\npitch=10\ndistance=1680\ntarget=75,75,0\nfill=0.6,0.56\nshadow=25\n"},
      {"13 Magazine", "A magazine standing upright, seen from the front right.", kMagazineArt,
       "kind=magazine\nsize=210x280x4\nyaw=-20\npitch=9\ndistance=2400\ntarget=105,140,2\n"},
      {"14 Two discs", "Two discs standing one behind the other.", Merged(kDiscArt, kDisc2Art),
       "kind=disc\nsize=120x120\nposition=0,0,30\nturn=-30\n"
       "kind2=disc\nsize2=120x120\nposition2=95,0,0\nturn2=-30\n"
       "yaw=0\npitch=6\ndistance=2160\ntarget=50,60,15\nfill=0.8,0.56\nfloor=0.66\nshadow=30\n"},
  };
}

// The template file of Entry: its comment, where it comes from, [Image], [Product] and the layers.
std::string TemplateFile(const TLibraryEntry& Entry) {
  // The bundled templates were made by the first seam rules; they keep them, and so their pixels.
  const auto ini = core::TIniFile::FromText(
      Entry.Name + ".ini", "[Image]\nwidth=800\nheight=600\n[Product]\n" + Entry.Product + "seams=1\n");
  const auto scene = core::ReadProductSection(ini);
  return core::TemplateText(core::GenerateTemplate(*scene), {Entry.Comment, "Made by tools/TemplateGen.cpp."},
                            core::ProductSectionText(*scene));
}

// One line per template: display name, "|", then slot=picture pairs (slot in lower case) separated
// by commas, sorted by slot. The build and the Makefile render previews from it.
std::string PreviewList(const std::vector<TLibraryEntry>& Library) {
  std::string text;
  for (const TLibraryEntry& entry : Library) {
    text += entry.Name + "|";
    bool first = true;
    for (const auto& [slot, picture] : entry.Previews) {
      text.append(first ? "" : ",").append(core::AsciiLowerCase(slot)).append("=").append(picture);
      first = false;
    }
    text += "\n";
  }
  return text;
}

// The documentation page: Skeleton with every "@TEMPLATE_ROWS@" replaced by the template table's
// rows (number, preview, product, sources used).
std::string DocsPage(const std::vector<TLibraryEntry>& Library, std::string Skeleton) {
  static const std::vector<std::string> kSlotOrder = {"FRONT",  "SIDE",  "TOP",  "DISC",
                                                      "FRONT2", "SIDE2", "TOP2", "DISC2"};
  std::string rows;
  for (const TLibraryEntry& entry : Library) {
    const std::size_t blank = entry.Name.find(' ');
    std::string picture = "../Pics/";
    for (char c : entry.Name) picture += c == ' ' ? std::string("%20") : std::string(1, c);
    picture += ".jpg";
    std::string slots;
    for (const std::string& slot : kSlotOrder)
      if (entry.Previews.count(slot)) slots += (slots.empty() ? "" : ", ") + slot;
    if (!rows.empty()) rows += "\n";
    rows += "<tr><td>" + std::to_string(std::stoi(entry.Name.substr(0, blank))) + "</td><td><img src=\"" + picture +
            "\" width=\"120\" height=\"90\" alt=\"\"></td><td><b>" + entry.Name.substr(blank + 1) + "</b><br>" +
            entry.Comment + "</td><td>" + slots + "</td></tr>";
  }
  const std::string marker = "@TEMPLATE_ROWS@";
  for (std::size_t at = Skeleton.find(marker); at != std::string::npos; at = Skeleton.find(marker, at + rows.size()))
    Skeleton.replace(at, marker.size(), rows);
  return Skeleton;
}

std::string ReadFile(const fs::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + Path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Matches(const fs::path& Path, const std::string& Text) {
  std::ifstream in(Path, std::ios::binary);
  return in && std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) == Text;
}

void WriteFile(const fs::path& Path, const std::string& Text) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out << Text;
  if (!out) throw std::runtime_error("cannot write " + Path.string());
}

int Run(int argc, char** argv) {
  fs::path root = ".";
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--check") {
      check = true;
    } else if (arg == "--root" && i + 1 < argc) {
      root = argv[++i];
    } else {
      std::cerr << "usage: quirlon-templates [--root DIR] [--check]\n";
      return 2;
    }
  }
  const auto library = Library();
  std::vector<std::pair<fs::path, std::string>> outputs;
  for (const TLibraryEntry& entry : library)
    outputs.emplace_back(root / "data" / "Templates" / (entry.Name + ".ini"), TemplateFile(entry));
  outputs.emplace_back(root / "tools" / "previews.txt", PreviewList(library));
  outputs.emplace_back(root / "data" / "Docs" / "index.html",
                       DocsPage(library, ReadFile(root / "tools" / "docs.html.in")));

  if (!check) {
    fs::create_directories(root / "data" / "Templates");
    for (const auto& [path, text] : outputs) WriteFile(path, text);
    std::cout << "wrote " << library.size() << " templates to " << (root / "data" / "Templates").string() << "\n";
    return 0;
  }
  int stale = 0;
  for (const auto& [path, text] : outputs)
    if (!Matches(path, text)) {
      std::cerr << path.string() << " differs from what quirlon-templates writes\n";
      ++stale;
    }
  for (const auto& file : fs::directory_iterator(root / "data" / "Templates")) {
    const std::string name = file.path().filename().string();
    if (std::none_of(library.begin(), library.end(), [&](const TLibraryEntry& e) { return e.Name + ".ini" == name; })) {
      std::cerr << file.path().string() << " is not in the template library\n";
      ++stale;
    }
  }
  if (stale == 0) std::cout << "the template library is current (" << outputs.size() << " files)\n";
  return stale == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "quirlon-templates: " << e.what() << "\n";
    return 1;
  }
}
