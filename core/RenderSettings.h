#pragma once
// Everything the user chooses in the main window: one process-wide settings record, the nine
// source file names and the list of layer types of the last render. Nothing here is ever saved;
// every start begins with the defaults below. Only the window's handlers write them, on the
// window's thread.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "raster/Color.h"
#include "raster/Errors.h"

namespace quirlon::core {

// Sources are numbered 1 (BACKGROUND) to 9 (DISC2).
inline constexpr std::int32_t kFirstSlot = 1;
inline constexpr std::int32_t kLastSlot = 9;

// One value per source slot, indexed 1..9. Any other index raises "List index out of bounds (%d)".
template <class T>
class TSlotArray {
public:
  TSlotArray() = default;
  explicit TSlotArray(const std::array<T, kLastSlot>& values) : fValues(values) {}
  T& operator[](std::int32_t Slot) { return fValues[Check(Slot)]; }
  const T& operator[](std::int32_t Slot) const { return fValues[Check(Slot)]; }
  friend bool operator==(const TSlotArray&, const TSlotArray&) = default;

private:
  static std::size_t Check(std::int32_t slot) {
    if (slot < kFirstSlot || slot > kLastSlot) throw EListError(Format(kListIndexError, slot));
    return static_cast<std::size_t>(slot - kFirstSlot);
  }
  std::array<T, kLastSlot> fValues{};
};

// Allowed range of a numeric setting, both ends included.
struct TSettingRange {
  std::int32_t Min;
  std::int32_t Max;
  constexpr bool Contains(std::int32_t v) const { return v >= Min && v <= Max; }
  constexpr std::int32_t Clamp(std::int32_t v) const { return v < Min ? Min : (v > Max ? Max : v); }
};

inline constexpr TSettingRange kCurrentSlotRange{1, 9};
inline constexpr TSettingRange kCurrentTemplateRange{1, 15};
inline constexpr TSettingRange kReflectionOpacityRange{0, 255};
inline constexpr TSettingRange kReflectionBlurRange{0, 100};
inline constexpr TSettingRange kReflectionBrightnessRange{-50, 50};
inline constexpr TSettingRange kReflectionLengthRange{1, 100};
inline constexpr TSettingRange kShadowDensityRange{0, 255};
inline constexpr TSettingRange kShadowBlurRange{0, 100};
inline constexpr TSettingRange kShadingStrengthRange{0, 255};
inline constexpr TSettingRange kHighlightStrengthRange{0, 255};

// Colours a fresh start gives the nine sources (TColor is 0x00BBGGRR), so every source renders as
// a plain colour until a picture is chosen.
inline constexpr std::array<raster::TColor, kLastSlot> kDefaultSlotColors{
    0xFFFFFF,  // 1 BACKGROUND  255, 255, 255
    0xC0DCC0,  // 2 FRONT       192, 220, 192
    0x808000,  // 3 SIDE          0, 128, 128
    0x800080,  // 4 TOP         128,   0, 128
    0xF0CAA6,  // 5 DISC        166, 202, 240
    0x000080,  // 6 FRONT2      128,   0,   0
    0x008080,  // 7 SIDE2       128, 128,   0
    0xFFFF00,  // 8 TOP2          0, 255, 255
    0xC0DCC0,  // 9 DISC2       192, 220, 192
};

// The settings record; a default-constructed one holds the start-up values. Fields the window keeps
// inside the ranges above; the renderer reads them as they are.
struct TRenderSettings {
  std::int32_t CurrentSlot = 1;
  std::int32_t CurrentTemplate = 1;  // 1-based entry of the template list
  TSlotArray<raster::TColor> SlotColor{kDefaultSlotColors};
  TSlotArray<bool> SlotUsesColor{std::array<bool, kLastSlot>{true, true, true, true, true, true, true, true, true}};
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
  bool TransparentBackground = false;
  bool LargeDiscArea = false;

  friend bool operator==(const TRenderSettings&, const TRenderSettings&) = default;

  // True when every numeric field lies in its range.
  bool InRange() const;
};

// Full path of the picture last chosen for each slot; empty at start. A name stays when its slot
// switches to a colour.
using TSourceFiles = TSlotArray<std::string>;

// The "type" text of each template layer of the last render, in build order.
using TLayerKinds = std::vector<std::string>;

// The process-wide record and file names, alive for the whole program.
extern TRenderSettings RenderSettings;
extern TSourceFiles SourceFiles;

}  // namespace quirlon::core
