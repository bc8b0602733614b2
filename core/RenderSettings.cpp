#include "core/RenderSettings.h"

namespace quirlon::core {

TRenderSettings RenderSettings;
TSourceFiles SourceFiles;

bool TRenderSettings::InRange() const {
  return kCurrentSlotRange.Contains(CurrentSlot) && kCurrentTemplateRange.Contains(CurrentTemplate) &&
         kReflectionOpacityRange.Contains(ReflectionOpacity) && kReflectionBlurRange.Contains(ReflectionBlur) &&
         kReflectionBrightnessRange.Contains(ReflectionBrightness) &&
         kReflectionLengthRange.Contains(ReflectionLength) && kShadowDensityRange.Contains(ShadowDensity) &&
         kShadowBlurRange.Contains(ShadowBlur) && kShadingStrengthRange.Contains(ShadingStrength) &&
         kHighlightStrengthRange.Contains(HighlightStrength);
}

}  // namespace quirlon::core
