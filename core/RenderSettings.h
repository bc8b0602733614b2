#pragma once
// The effect settings of a render: a plain value, with the range of every number in one table.
// Reflection, shadow and shading are what the window's pages and the command line's options set.
#include <array>
#include <cstdint>
#include <string_view>

#include "raster/Color.h"

namespace quirlon::core {

// Allowed range of a numeric setting, both ends included.
struct TSettingRange {
  std::int32_t Min;
  std::int32_t Max;
  constexpr bool Contains(std::int32_t v) const { return v >= Min && v <= Max; }
  constexpr std::int32_t Clamp(std::int32_t v) const { return v < Min ? Min : (v > Max ? Max : v); }
};

inline constexpr TSettingRange kReflectionOpacityRange{0, 255};
inline constexpr TSettingRange kReflectionBlurRange{0, 100};
inline constexpr TSettingRange kReflectionBrightnessRange{-50, 50};
inline constexpr TSettingRange kReflectionLengthRange{1, 100};
inline constexpr TSettingRange kShadowDensityRange{0, 255};
inline constexpr TSettingRange kShadowBlurRange{0, 100};
inline constexpr TSettingRange kShadingStrengthRange{0, 255};
inline constexpr TSettingRange kHighlightStrengthRange{0, 255};

// How face pictures are sampled when they are drawn onto their quadrilaterals: Smooth filters them
// (bilinear when enlarged, averaged over each pixel's footprint when shrunk) and keeps edge colours
// straight; Exact is the nearest-pixel arithmetic whose every pixel is fixed, kept selectable so
// earlier renders can be reproduced bit for bit.
enum class TSampling : std::uint8_t { Smooth, Exact };
// "smooth" / "exact"; TextToSampling returns false for any other text.
std::string_view SamplingText(TSampling Sampling);
bool TextToSampling(std::string_view Text, TSampling& Sampling);

// A default-constructed value holds the start-up settings. The renderer reads the numbers as they
// are; InRange says whether every one lies in its range.
struct TRenderSettings {
  bool ShowReflection = true;
  bool FadeReflection = true;
  std::uint8_t ReflectionOpacity = 255;
  std::uint8_t ReflectionBlur = 15;
  std::int32_t ReflectionBrightness = 0;
  std::uint8_t ReflectionLength = 50;  // percent of the reflection's height
  std::uint8_t ShadowDensity = 255;
  raster::TColor ShadowColor = 0x000000;
  std::uint8_t ShadowBlur = 25;
  bool ShowShadow = true;
  std::uint8_t ShadingStrength = 255;
  std::uint8_t HighlightStrength = 255;
  raster::TColor ShadingColor = 0x000000;
  raster::TColor HighlightColor = 0xFFFFFF;
  TSampling Sampling = TSampling::Smooth;

  friend bool operator==(const TRenderSettings&, const TRenderSettings&) = default;
  bool InRange() const;
};

}  // namespace quirlon::core
