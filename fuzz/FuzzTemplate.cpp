// The template reader on arbitrary text: sections, values, integers, colour text and the layer
// list, checked against the limits the reader promises. The ASCII form of the input must read the
// same in UTF-16 (either byte order, with its mark) and with CR alone as line end: sections, the
// keys a template uses, and whether it counts as a template at all.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/IniFile.h"
#include "core/Template.h"
#include "raster/Errors.h"

namespace {

using quirlon::core::TIniFile;

std::string Utf16WithMark(std::string_view Ascii, bool BigEndian) {
  std::string bytes = BigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : Ascii) {
    bytes += BigEndian ? '\0' : c;
    bytes += BigEndian ? c : '\0';
  }
  return bytes;
}

// What the renderer reads of a template, as one comparable list of strings.
std::vector<std::string> Reading(const TIniFile& Ini) {
  std::vector<std::string> sections;
  Ini.ReadSections(sections);
  std::vector<std::string> out = sections;
  out.push_back(Ini.HasKeys() && Ini.SectionExists("Image") ? "template" : "no template");
  for (const std::string& s : sections)
    for (const char* key : {"type", "source", "A.X", "D.Y", "width", "height"}) out.push_back(Ini.ReadString(s, key, "-"));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace quirlon;
  using namespace quirlon::core;
  if (Size > 64 * 1024) return -1;
  const std::string_view text(reinterpret_cast<const char*>(Data), Size);
  const TIniFile ini = TIniFile::FromText("fuzz.ini", text);

  std::vector<std::string> sections;
  ini.ReadSections(sections);
  std::size_t listed = 0;
  for (const std::string& s : sections) listed += s.size() + 1;
  if (listed + 1 > kIniSectionListBuffer) __builtin_trap();

  std::vector<std::string> layers;
  ReadLayerSections(ini, layers);
  for (const std::string& s : layers)
    if (s.find("Layer") == std::string::npos) __builtin_trap();

  const TTemplateImageSize size = ReadTemplateImageSize(ini);
  (void)size;
  // Every section, with the keys a template uses and a few the text itself names.
  for (const std::string& s : sections) {
    // A layer's optional look keys that are no numbers in range are refused, as a render would.
    TTemplateLayer layer;
    try {
      layer = ReadTemplateLayer(ini, s);
    } catch (const EConvertError&) {
      continue;
    }
    if (layer.Type.size() > kIniValueLimit || layer.Source.size() > kIniValueLimit) __builtin_trap();
    (void)SourceSlotIndex(layer.Source);
    (void)LayerTypeFromText(layer.Type);
    try {
      (void)StringToColor(layer.Source);
    } catch (const EConvertError&) {
    }
    const std::string v = ini.ReadString(s, s, "");
    if (v.size() > kIniValueLimit) __builtin_trap();
    (void)ini.ReadInteger(s, v, -7);
  }
  // The integer syntax on the raw text, cut to a value's length.
  std::int32_t value = 0;
  (void)TryStrToInt(text.substr(0, kIniValueLimit), value);

  // The same text in other encodings and line ends. A leading "\xFF\xFE" of the ASCII form cannot
  // occur, and NUL stays NUL in every form.
  std::string ascii(text);
  for (char& c : ascii) c = static_cast<char>(c & 0x7F);
  std::string crOnly = ascii;
  for (char& c : crOnly)
    if (c == '\n') c = '\r';
  const std::vector<std::string> expected = Reading(TIniFile::FromText("a.ini", ascii));
  for (const std::string& other : {Utf16WithMark(ascii, false), Utf16WithMark(ascii, true), crOnly})
    if (Reading(TIniFile::FromText("b.ini", other)) != expected) __builtin_trap();
  return 0;
}
