#include <algorithm>

#include "raster/Errors.h"
#include "raster/Resamplers.h"

namespace quirlon::raster {

namespace {

template <class R>
std::unique_ptr<TCustomResampler> Create(TBitmap32& Bitmap) {
  return std::make_unique<R>(Bitmap);
}

}  // namespace

// Registration order is the order of the names lists the window shows: index 1 is the resampler
// every layer gets after a render.
const std::vector<TResamplerClass>& ResamplerRegistry() {
  static const std::vector<TResamplerClass> registry{
      {"TNearestResampler", &Create<TNearestResampler>},
      {"TLinearResampler", &Create<TLinearResampler>},
      {"TDraftResampler", &Create<TDraftResampler>},
      {"TKernelResampler", &Create<TKernelResampler>},
  };
  return registry;
}

const TResamplerClass* FindResamplerClass(const std::string& Name) {
  const auto& registry = ResamplerRegistry();
  const auto it = std::find_if(registry.begin(), registry.end(), [&](const TResamplerClass& c) { return c.Name == Name; });
  return it == registry.end() ? nullptr : &*it;
}

const TResamplerClass& ResamplerClassAt(int Index) {
  const auto& registry = ResamplerRegistry();
  if (Index < 0 || static_cast<std::size_t>(Index) >= registry.size()) throw EListError(Format(kListIndexError, Index));
  return registry[static_cast<std::size_t>(Index)];
}

void GetResamplerClassNames(std::vector<std::string>& List) {
  for (const TResamplerClass& c : ResamplerRegistry()) List.push_back(c.Name);
}

}  // namespace quirlon::raster
