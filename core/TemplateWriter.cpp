#include "core/TemplateWriter.h"

#include "core/ProductValues.h"

namespace quirlon::core {

std::string TemplateText(const TGeneratedTemplate& Template, const std::vector<std::string>& HeaderNotes,
                         const std::string& ProductSection) {
  std::string text;
  for (const std::string& note : HeaderNotes) text += "; " + note + "\n";
  text += "[Image]\nwidth=" + std::to_string(Template.Size.Width) + "\nheight=" + std::to_string(Template.Size.Height) +
          "\n";
  // A blank line before each section that follows.
  if (!ProductSection.empty()) text += "\n" + ProductSection;
  for (std::size_t i = 0; i < Template.Layers.size(); ++i) {
    const TTemplateLayer& layer = Template.Layers[i];
    text += "\n; " + Template.Notes[i] + "\n[" + layer.Section + "]\ntype=" + layer.Type + "\n";
    if (layer.Source != "unknown") text += "source=" + layer.Source + "\n";
    const raster::TPoint corners[] = {layer.A, layer.B, layer.C, layer.D};
    for (int c = 0; c < 4; ++c) {
      const std::string name(1, static_cast<char>('A' + c));
      text += name + ".X=" + std::to_string(corners[c].X) + "\n" + name + ".Y=" + std::to_string(corners[c].Y) + "\n";
    }
    for (const TLayerLookKey& key : kLayerLookKeys)
      if (const auto& value = layer.Look.*key.Value) text += std::string(key.Key) + "=" + FormatNumber(*value) + "\n";
  }
  return text;
}

}  // namespace quirlon::core
