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

std::string_view FitModeText(TFitMode Mode) {
  switch (Mode) {
    case TFitMode::Crop: return "crop";
    case TFitMode::Stretch: return "stretch";
    case TFitMode::Pad: return "pad";
    case TFitMode::Automatic: break;
  }
  return "auto";
}

bool TextToFitMode(std::string_view Text, TFitMode& Mode) {
  for (const TFitMode m : {TFitMode::Automatic, TFitMode::Crop, TFitMode::Stretch, TFitMode::Pad})
    if (Text == FitModeText(m)) {
      Mode = m;
      return true;
    }
  return false;
}

TFitMode EffectiveFitMode(TFitMode Mode, TSampling Sampling) {
  if (Mode != TFitMode::Automatic) return Mode;
  return Sampling == TSampling::Exact ? TFitMode::Stretch : TFitMode::Crop;
}

bool TRenderSettings::InRange() const {
  return SafeMargin >= 0 && SafeMargin <= kMaxSafeMargin && kReflectionOpacityRange.Contains(ReflectionOpacity) && kReflectionBlurRange.Contains(ReflectionBlur) &&
         kReflectionBrightnessRange.Contains(ReflectionBrightness) &&
         kReflectionLengthRange.Contains(ReflectionLength) && kShadowDensityRange.Contains(ShadowDensity) &&
         kShadowBlurRange.Contains(ShadowBlur) && kShadingStrengthRange.Contains(ShadingStrength) &&
         kHighlightStrengthRange.Contains(HighlightStrength);
}

}  // namespace quirlon::core
