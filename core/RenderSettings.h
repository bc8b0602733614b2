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

// How a face picture whose proportions differ from its face's is made to fit: Crop keeps a centred
// part of the face's proportions, Stretch distorts the whole picture onto the face, Pad shows the
// whole picture centred on a border of its edge colour. Automatic is Crop with smooth sampling and
// Stretch with exact sampling, which so keeps earlier versions' pixels.
enum class TFitMode : std::uint8_t { Automatic, Crop, Stretch, Pad };
// "auto" / "crop" / "stretch" / "pad"; TextToFitMode returns false for any other text.
std::string_view FitModeText(TFitMode Mode);
bool TextToFitMode(std::string_view Text, TFitMode& Mode);
// The mode Automatic stands for under Sampling; any other mode is itself.
TFitMode EffectiveFitMode(TFitMode Mode, TSampling Sampling);

// The safe margin: how far, in percent of a face's width and height, its picture reaches past each
// edge of the face, where the edge cut takes it away. Titles and logos belong inside it. 2.5 is the
// margin every earlier version used.
inline constexpr double kDefaultSafeMargin = 2.5;
inline constexpr double kMaxSafeMargin = 10;

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
  TFitMode Fit = TFitMode::Automatic;
  double SafeMargin = kDefaultSafeMargin;  // percent, 0..kMaxSafeMargin

  friend bool operator==(const TRenderSettings&, const TRenderSettings&) = default;
  bool InRange() const;
};

}  // namespace quirlon::core
