#include "core/SceneFile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "core/ProductValues.h"
#include "core/Slots.h"

namespace quirlon::core {

namespace {

namespace fs = std::filesystem;

std::string Relative(const std::string& File, const std::string& BaseFolder) {
  if (File.empty() || BaseFolder.empty()) return File;
  const fs::path file = fs::path(File).lexically_normal();
  const fs::path base = fs::path(BaseFolder).lexically_normal();
  if (!file.is_absolute() || !base.is_absolute()) return File;
  const fs::path relative = file.lexically_relative(base);
  // Only a file inside the folder is written relative to it: a scene moved with its pictures
  // still finds them, one referring elsewhere keeps the full path.
  if (relative.empty() || *relative.begin() == "..") return File;
  return relative.string();
}

std::string SizeText(const TProductSize& Size) {
  std::string text = FormatNumber(Size.Width) + "x" + FormatNumber(Size.Height);
  if (Size.Depth != 0) text += "x" + FormatNumber(Size.Depth);
  return text + "mm";
}

std::string PngEffortText(imagefiles::TPngEffort Effort) {
  switch (Effort) {
    case imagefiles::TPngEffort::Fast: return "fast";
    case imagefiles::TPngEffort::Small: return "small";
    default: return "default";
  }
}

}  // namespace

std::string ColourText(raster::TColor Colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", static_cast<unsigned>(Colour & 0xFF),
                static_cast<unsigned>((Colour >> 8) & 0xFF), static_cast<unsigned>((Colour >> 16) & 0xFF));
  return text;
}

std::vector<TBatchCell> SceneCells(const TJob& Job, const std::string& TemplateRef, const std::string& BaseFolder) {
  std::vector<TBatchCell> cells;
  auto add = [&cells](std::string Key, std::string Value) { cells.push_back({std::move(Key), std::move(Value)}); };
  auto number = [&add](std::string Key, long long Value) { add(std::move(Key), std::to_string(Value)); };
  auto onOff = [&add](std::string Key, bool On) { add(std::move(Key), On ? "true" : "false"); };

  const TProductJob& p = Job.Product;
  if (p.Kind.empty()) {
    add("template", TemplateRef);
  } else {
    add("product", p.Kind);
    if (p.Size) add("size", SizeText(*p.Size));
    if (p.Trim) add("trim", SizeText(*p.Trim));
    if (p.Spine) add("spine", FormatNumber(*p.Spine) + "mm");
    if (p.Pages != 0) number("pages", p.Pages);
    add("paper", p.Paper == TPaper::Cream ? "cream" : "white");
    onOff("fit-art", p.FitArt);
    if (!p.Wrap.empty()) add("wrap", Relative(p.Wrap, BaseFolder));
    add("bleed", FormatNumber(p.Bleed) + "mm");
  }
  // The view applies to a template's [Product] section too.
  if (p.Yaw) add("yaw", FormatNumber(*p.Yaw));
  if (p.Pitch) add("pitch", FormatNumber(*p.Pitch));

  const TRenderRequest& r = Job.Request;
  number("width", r.Width);
  number("height", r.Height);
  number("dpi", Job.Output.Dpi);
  number("quality", Job.Output.Quality);
  onOff("lossless", Job.Output.Lossless);
  add("png-effort", PngEffortText(Job.Output.PngEffort));
  onOff("flip", Job.Output.Flip);
  onOff("transparent", r.TransparentBackground);
  onOff("large-disc", r.LargeDiscArea);

  const TRenderSettings& s = r.Settings;
  add("sampling", std::string(SamplingText(s.Sampling)));
  onOff("hide-reflections", !s.ShowReflection);
  onOff("no-fade", !s.FadeReflection);
  number("reflection-opacity", s.ReflectionOpacity);
  number("reflection-length", s.ReflectionLength);
  number("reflection-blur", s.ReflectionBlur);
  number("reflection-brightness", s.ReflectionBrightness);
  onOff("hide-shadows", !s.ShowShadow);
  number("shadow-density", s.ShadowDensity);
  add("shadow-color", ColourText(s.ShadowColor));
  number("shadow-blur", s.ShadowBlur);
  number("shading", s.ShadingStrength);
  add("shading-color", ColourText(s.ShadingColor));
  number("highlights", s.HighlightStrength);
  add("highlight-color", ColourText(s.HighlightColor));

  for (const TSlotInfo& info : kSlots) {
    const TSlotSource& source = r.Sources[SlotIndex(info.Slot)];
    add(std::string(info.Option),
        source.Kind == TSlotSource::TKind::File ? Relative(source.File, BaseFolder) : ColourText(source.Colour));
  }
  return cells;
}

std::string SceneText(const std::vector<TBatchCell>& Cells) {
  auto quoted = [](const std::string& Text) {
    std::string out = "\"";
    for (const char c : Text) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
        out += escape;
      } else {
        out += c;
      }
    }
    return out + "\"";
  };
  std::string text = "{";
  for (const TBatchCell& cell : Cells) text += (text.size() > 1 ? ", " : "") + quoted(cell.Key) + ": " + quoted(cell.Value);
  return text + "}\n";
}

std::vector<TBatchCell> ReadSceneFile(const std::string& File) {
  std::error_code ec;
  if (fs::is_directory(File, ec)) throw std::runtime_error("Cannot read scene file \"" + File + "\": it is a folder");
  std::ifstream in(File, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot read scene file \"" + File + "\"");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("Cannot read scene file \"" + File + "\"");
  const std::string::size_type first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || text[first] != '{')
    throw std::runtime_error("Scene file \"" + File + "\" is not a scene: it must hold one JSON object of keys");
  std::vector<TBatchRow> rows = ParseBatchText(text);
  if (rows.size() != 1)
    throw std::runtime_error("Scene file \"" + File + "\" holds " + std::to_string(rows.size()) +
                             " objects; a scene is one JSON object of keys on one line");
  if (!rows.front().Error.empty())
    throw std::runtime_error("Scene file \"" + File + "\": " + rows.front().Error);
  return std::move(rows.front().Cells);
}

std::string SceneFolder(const std::string& File) { return fs::path(File).parent_path().string(); }

void ApplySceneCells(TJob& Job, const std::vector<TBatchCell>& Cells, const std::string& File) {
  for (const TBatchCell& cell : Cells) {
    // An empty value keeps the default, as in a batch file.
    if (cell.Value.empty() && FindJobKey(cell.Key) != nullptr) continue;
    try {
      ApplyJobValue(Job, cell.Key, cell.Value, SceneFolder(File));
    } catch (const EJobValue& e) {
      throw std::runtime_error("Scene file \"" + File + "\", key " + e.what());
    }
  }
}

}  // namespace quirlon::core
