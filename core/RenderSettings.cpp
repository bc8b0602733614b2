#include "core/RenderSettings.h"

namespace quirlon::core {

bool TRenderSettings::InRange() const {
  return kReflectionOpacityRange.Contains(ReflectionOpacity) && kReflectionBlurRange.Contains(ReflectionBlur) &&
         kReflectionBrightnessRange.Contains(ReflectionBrightness) &&
         kReflectionLengthRange.Contains(ReflectionLength) && kShadowDensityRange.Contains(ShadowDensity) &&
         kShadowBlurRange.Contains(ShadowBlur) && kShadingStrengthRange.Contains(ShadingStrength) &&
         kHighlightStrengthRange.Contains(HighlightStrength);
}

}  // namespace quirlon::core
