#include "core/RenderSettings.h"

namespace quirlon::core {

std::string_view SamplingText(TSampling Sampling) { return Sampling == TSampling::Exact ? "exact" : "smooth"; }

bool TextToSampling(std::string_view Text, TSampling& Sampling) {
  for (const TSampling s : {TSampling::Smooth, TSampling::Exact})
    if (Text == SamplingText(s)) {
      Sampling = s;
      return true;
    }
  return false;
}

bool TRenderSettings::InRange() const {
  return kReflectionOpacityRange.Contains(ReflectionOpacity) && kReflectionBlurRange.Contains(ReflectionBlur) &&
         kReflectionBrightnessRange.Contains(ReflectionBrightness) &&
         kReflectionLengthRange.Contains(ReflectionLength) && kShadowDensityRange.Contains(ShadowDensity) &&
         kShadowBlurRange.Contains(ShadowBlur) && kShadingStrengthRange.Contains(ShadingStrength) &&
         kHighlightStrengthRange.Contains(HighlightStrength);
}

}  // namespace quirlon::core
