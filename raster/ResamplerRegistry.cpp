#include <algorithm>

#include "raster/Sampler.h"

namespace quirlon::raster {

const std::vector<TResamplerClass>& ResamplerRegistry() {
  static const std::vector<TResamplerClass> registry{
      {"TNearestResampler",
       [](TBitmap32& Bitmap) -> std::unique_ptr<TCustomResampler> { return std::make_unique<TNearestResampler>(Bitmap); }},
  };
  return registry;
}

const TResamplerClass* FindResamplerClass(const std::string& Name) {
  const auto& registry = ResamplerRegistry();
  const auto it = std::find_if(registry.begin(), registry.end(), [&](const TResamplerClass& c) { return c.Name == Name; });
  return it == registry.end() ? nullptr : &*it;
}

}  // namespace quirlon::raster
