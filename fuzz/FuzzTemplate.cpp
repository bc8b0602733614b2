// The template reader on arbitrary text: sections, values, integers, colour text and the layer
// list, checked against the limits the reader promises.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/IniFile.h"
#include "core/Template.h"
#include "raster/Errors.h"

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
    const TTemplateLayer layer = ReadTemplateLayer(ini, s);
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
  return 0;
}
