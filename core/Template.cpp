#include "core/Template.h"

#include <algorithm>

#include <array>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "core/Platform.h"
#include "core/ProductSection.h"
#include "core/ProductValues.h"
#include "raster/Errors.h"

namespace quirlon::core {

using raster::TColor;

std::vector<std::string> ListTemplates(const std::string& TemplatesFolder) {
  std::vector<std::string> list;
  ListFiles(TemplatesFolder, list);
  return list;
}

std::vector<std::string> ListTemplateLibrary(const std::string& BundledFolder, const std::string& UserFolder) {
  std::vector<std::string> paths;
  for (const std::string& folder : {BundledFolder, UserFolder})
    if (!folder.empty())
      for (const std::string& file : ListTemplates(folder)) paths.push_back(folder + file);
  return paths;
}

const std::string& TemplateEntry(const std::vector<std::string>& Templates, std::int32_t Number) {
  const std::int64_t index = static_cast<std::int64_t>(Number) - 1;
  if (index < 0 || index >= static_cast<std::int64_t>(Templates.size()))
    throw EListError(Format(kListIndexError, static_cast<int>(index)));
  return Templates[static_cast<std::size_t>(index)];
}

std::string TemplatePath(const std::string& TemplatesFolder, std::int32_t Number) {
  return TemplatesFolder + TemplateEntry(ListTemplates(TemplatesFolder), Number);
}

std::string TemplateDisplayName(const std::string& FileName) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(FileName[i]); };
  std::size_t end = FileName.size();
  for (int dropped = 0; dropped < 4 && end > 0; ++dropped) {
    // One UTF-8 character: a lead byte and up to three continuation bytes; any other byte counts alone.
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && (byte(start) & 0xC0) == 0x80) --start;
    end = (byte(start) >= 0xC0 && (byte(end - 1) & 0xC0) == 0x80) ? start : end - 1;
  }
  return FileName.substr(0, end);
}

std::string TemplatePreviewPath(const std::string& ExeFolder, const std::string& DisplayName) {
  return ExeFolder + kPicsFolder + DisplayName + kPreviewExtension;
}

void ReadLayerSections(const TIniFile& Ini, std::vector<std::string>& List) {
  std::vector<std::string> sections;
  Ini.ReadSections(sections);
  List.clear();
  for (std::string& name : sections)
    if (name.find("Layer") != std::string::npos) List.push_back(std::move(name));
}

TTemplateImageSize ReadTemplateImageSize(const TIniFile& Ini) {
  return TTemplateImageSize{Ini.ReadInteger("Image", "width", kDefaultTemplateWidth),
                            Ini.ReadInteger("Image", "height", kDefaultTemplateHeight)};
}

TTemplateLayer ReadTemplateLayer(const TIniFile& Ini, const std::string& Section) {
  TTemplateLayer layer;
  layer.Section = Section;
  layer.Type = Ini.ReadString(Section, "type", "unknown");
  layer.Source = Ini.ReadString(Section, "source", "unknown");
  auto corner = [&](const char* x, const char* y) {
    return raster::TPoint{Ini.ReadInteger(Section, x, 0), Ini.ReadInteger(Section, y, 0)};
  };
  layer.A = corner("A.X", "A.Y");
  layer.B = corner("B.X", "B.Y");
  layer.C = corner("C.X", "C.Y");
  layer.D = corner("D.X", "D.Y");
  for (const TLayerLookKey& key : kLayerLookKeys) {
    static const std::string kMissing = "\x01";
    const std::string text = Ini.ReadString(Section, key.Key, kMissing);
    if (text == kMissing) continue;
    double value = 0;
    if (!ParseNumber(text, value) || !(value >= key.Min && value <= key.Max))
      throw EConvertError(Format("Template \"%s\": [%s] %s=%s is not a number from %g to %g", Ini.FileName().c_str(),
                                 Section.c_str(), key.Key, text.c_str(), key.Min, key.Max));
    layer.Look.*key.Value = value;
  }
  return layer;
}

TLayerType LayerTypeFromText(std::string_view Type) {
  if (Type.empty()) return ltUnknown;
  for (const TLayerTypeInfo& info : kLayerTypes)
    if (info.Text == Type) return info.Type;
  return ltUnknown;
}

TTemplate ParseTemplate(const TIniFile& Ini) {
  TTemplate t;
  t.Name = Ini.FileName();
  t.Size = ReadTemplateImageSize(Ini);
  std::vector<std::string> sections;
  ReadLayerSections(Ini, sections);
  t.Layers.reserve(sections.size());
  for (const std::string& section : sections) t.Layers.push_back(ReadTemplateLayer(Ini, section));
  t.FaceAspects = TemplateFaceAspects(Ini, t);
  return t;
}

TSlotAspects TemplateFaceAspects(const TIniFile& Ini, const TTemplate& Template) {
  try {
    if (const std::optional<TProductScene> scene = ReadProductSection(Ini)) return SceneSlotAspects(*scene);
  } catch (const std::exception&) {
    // A section that does not read is ignored, as programs that only read layers ignore it.
  }
  return EstimatedSlotAspects(Template);
}

TTemplate ReadTemplateFile(const std::string& Path) { return ParseTemplate(ReadTemplateIni(Path)); }

TIniFile ReadTemplateIni(const std::string& Path) {
  std::string text;
  std::string reason;
  // Read at most one byte past the limit.
  if (!TryReadFile(Path, text, kMaxTemplateFileSize, &reason))
    throw EFOpenError(Format(kFOpenError, Path.c_str(), reason.c_str()));
  if (std::int64_t(text.size()) > kMaxTemplateFileSize) {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(Path, ec);
    throw EFOpenError(Format(kTemplateTooLarge, Path.c_str(),
                             ec ? static_cast<long long>(text.size()) : static_cast<long long>(bytes)));
  }
  const TIniFile ini = TIniFile::FromText(Path, text);
  // Whatever lies in the template folder counts as a template: a file that is none (a picture,
  // text in an unknown encoding, an empty file) is said to be none rather than giving nothing.
  if (!ini.SectionExists("Image") || !ini.HasKeys()) throw EFOpenError(Format(kNotATemplate, Path.c_str()));
  return ini;
}

TShadingDirection ShadingDirectionFromText(std::string_view Source) {
  static constexpr std::pair<std::string_view, TShadingDirection> kDirections[] = {
      {"leftdown", sdLeftDown}, {"lefttop", sdLeftTop}, {"righttop", sdRightTop},
      {"rightdown", sdRightDown}, {"rightlefttopdown", sdRightLeftTopDown}, {"left", sdLeft},
      {"top", sdTop}, {"right", sdRight},
  };
  for (const auto& [text, direction] : kDirections)
    if (text == Source) return direction;
  return sdDefault;
}

namespace {

// System colours: 0xFF000000 plus the system colour index.
constexpr TColor SystemColor(int index) { return static_cast<TColor>(0xFF000000u | static_cast<std::uint32_t>(index)); }

struct TColorName {
  std::string_view Name;
  TColor Color;
};

constexpr TColorName kColorNames[] = {
    {"clBlack", 0x000000},       {"clMaroon", 0x000080},     {"clGreen", 0x008000},
    {"clOlive", 0x008080},       {"clNavy", 0x800000},       {"clPurple", 0x800080},
    {"clTeal", 0x808000},        {"clGray", 0x808080},       {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},         {"clLime", 0x00FF00},       {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},        {"clFuchsia", 0xFF00FF},    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},       {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF},       {"clMedGray", 0xA4A0A0},    {"clNone", 0x1FFFFFFF},
    {"clDefault", 0x20000000},
    {"clScrollBar", SystemColor(0)},
    {"clBackground", SystemColor(1)},
    {"clActiveCaption", SystemColor(2)},
    {"clInactiveCaption", SystemColor(3)},
    {"clMenu", SystemColor(4)},
    {"clWindow", SystemColor(5)},
    {"clWindowFrame", SystemColor(6)},
    {"clMenuText", SystemColor(7)},
    {"clWindowText", SystemColor(8)},
    {"clCaptionText", SystemColor(9)},
    {"clActiveBorder", SystemColor(10)},
    {"clInactiveBorder", SystemColor(11)},
    {"clAppWorkSpace", SystemColor(12)},
    {"clHighlight", SystemColor(13)},
    {"clHighlightText", SystemColor(14)},
    {"clBtnFace", SystemColor(15)},
    {"clBtnShadow", SystemColor(16)},
    {"clGrayText", SystemColor(17)},
    {"clBtnText", SystemColor(18)},
    {"clInactiveCaptionText", SystemColor(19)},
    {"clBtnHighlight", SystemColor(20)},
    {"cl3DDkShadow", SystemColor(21)},
    {"cl3DLight", SystemColor(22)},
    {"clInfoText", SystemColor(23)},
    {"clInfoBk", SystemColor(24)},
    {"clHotLight", SystemColor(26)},
    {"clGradientActiveCaption", SystemColor(27)},
    {"clGradientInactiveCaption", SystemColor(28)},
    {"clMenuHighlight", SystemColor(29)},
    {"clMenuBar", SystemColor(30)},
};
static_assert(std::size(kColorNames) == 52);

}  // namespace

bool IdentToColor(std::string_view Name, TColor& Color) {
  for (const TColorName& entry : kColorNames) {
    if (SameTextAscii(entry.Name, Name)) {
      Color = entry.Color;
      return true;
    }
  }
  return false;
}

TColor StringToColor(const std::string& Text) {
  TColor color;
  if (IdentToColor(Text, color)) return color;
  return StrToInt(Text);
}

std::vector<int> TemplateSlots(const TTemplate& Template) {
  std::vector<int> slots;
  for (const TTemplateLayer& layer : Template.Layers) {
    // Shade and highlight layers name a direction there ("top"), not a slot.
    if (!LayerTypeInfo(LayerTypeFromText(layer.Type)).DrawsFromSlot) continue;
    const int slot = SourceSlotIndex(layer.Source);
    if (slot >= 1 && std::find(slots.begin(), slots.end(), slot) == slots.end()) slots.push_back(slot);
  }
  std::sort(slots.begin(), slots.end());
  return slots;
}

}  // namespace quirlon::core
