#pragma once
// The layer types a template may name and what each one is: the one table that the template
// reader, the layer builder, the window's switches and the template generator's tests read.
#include <array>
#include <cstdint>
#include <string_view>

namespace quirlon::core {

// The layer types, compared exactly (case-sensitive); any other text is ltUnknown.
enum TLayerType : std::uint8_t {
  ltUnknown,
  ltNormal,
  ltReflection,
  ltRoundRect,
  ltDisc,
  ltDiscReflection,
  ltShadow,
  ltShade,
  ltBlurShade,
  ltHighlight,
  ltBlurHighlight,
  ltRoundRectShade,
  ltRoundRectHighlight,
  ltCustomFile,
  ltCustomColor,
  ltCustomColorReflection,
};

// Which switch hides a finished layer, and so which settings soften it: reflections take the
// reflection blur, brightness and opacity; shadows the shadow blur.
enum class TLayerSwitch : std::uint8_t { None, Reflections, Shadows };

struct TLayerTypeInfo {
  TLayerType Type;
  std::string_view Text;  // as the template's "type" key says it
  bool DrawsFromSlot;     // shows the picture or colour of the slot its "source" names
  bool Shading;           // a shade or highlight overlay: its "source" names a direction
  bool Highlight;         // takes the highlight colour and strength instead of the shading ones
  TLayerSwitch Switch;
};

inline constexpr std::array<TLayerTypeInfo, 16> kLayerTypes{{
    {ltUnknown, "", false, false, false, TLayerSwitch::None},
    {ltNormal, "normal", true, false, false, TLayerSwitch::None},
    {ltReflection, "reflection", true, false, false, TLayerSwitch::Reflections},
    {ltRoundRect, "roundrect", true, false, false, TLayerSwitch::None},
    {ltDisc, "disc", true, false, false, TLayerSwitch::None},
    {ltDiscReflection, "discreflection", true, false, false, TLayerSwitch::Reflections},
    {ltShadow, "shadow", false, false, false, TLayerSwitch::Shadows},
    {ltShade, "shade", false, true, false, TLayerSwitch::None},
    {ltBlurShade, "blurshade", false, true, false, TLayerSwitch::Reflections},
    {ltHighlight, "highlight", false, true, true, TLayerSwitch::None},
    {ltBlurHighlight, "blurhighlight", false, true, true, TLayerSwitch::Reflections},
    {ltRoundRectShade, "roundrectshade", false, true, false, TLayerSwitch::None},
    {ltRoundRectHighlight, "roundrecthighlight", false, true, true, TLayerSwitch::None},
    {ltCustomFile, "customfile", false, false, false, TLayerSwitch::None},
    {ltCustomColor, "customcolor", false, false, false, TLayerSwitch::None},
    {ltCustomColorReflection, "customcolorreflection", false, false, false, TLayerSwitch::Reflections},
}};

constexpr bool LayerTypesInOrder() {
  for (std::size_t i = 0; i < kLayerTypes.size(); ++i)
    if (kLayerTypes[i].Type != i) return false;
  return true;
}
static_assert(LayerTypesInOrder(), "kLayerTypes is indexed by TLayerType");

constexpr const TLayerTypeInfo& LayerTypeInfo(TLayerType Type) { return kLayerTypes[Type]; }

// The type whose text equals Type exactly; ltUnknown for any other text (the empty text included).
TLayerType LayerTypeFromText(std::string_view Type);

}  // namespace quirlon::core
