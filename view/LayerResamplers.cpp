#include "view/LayerResamplers.h"

#include "raster/Errors.h"
#include "raster/Kernels.h"
#include "raster/Resamplers.h"

namespace quirlon::view {

using namespace quirlon::raster;

namespace {

std::string NameList(const std::vector<std::string>& Names) {
  std::string list;
  for (const std::string& n : Names) list += (list.empty() ? "" : ", ") + n;
  return list;
}

[[noreturn]] void UnknownResampler(const std::string& Name) {
  std::vector<std::string> names;
  GetResamplerClassNames(names);
  throw EListError(Format(kUnknownResampler, Name.c_str(), NameList(names).c_str()));
}

[[noreturn]] void UnknownKernel(const std::string& Name) {
  std::vector<std::string> names;
  GetKernelClassNames(names);
  throw EListError(Format(kUnknownKernel, Name.c_str(), NameList(names).c_str()));
}

// Restores a bitmap's update counter when the work inside BeginUpdate fails.
class TBitmapUpdate {
public:
  explicit TBitmapUpdate(TBitmap32& Bitmap) : fBitmap(Bitmap) { fBitmap.BeginUpdate(); }
  ~TBitmapUpdate() {
    if (fOpen) fBitmap.EndUpdate();
  }
  TBitmapUpdate(const TBitmapUpdate&) = delete;
  TBitmapUpdate& operator=(const TBitmapUpdate&) = delete;
  void End() {
    fOpen = false;
    fBitmap.EndUpdate();
  }

private:
  TBitmap32& fBitmap;
  bool fOpen = true;
};
}  // namespace

std::optional<bool> ResamplerClassNamesListChange(TCustomImage32& View, const std::string& SelectedResampler,
                                                  const std::string& SelectedKernel) {
  if (SelectedResampler.empty()) return std::nullopt;
  const TResamplerClass* cls = FindResamplerClass(SelectedResampler);
  if (!cls) UnknownResampler(SelectedResampler);
  std::optional<bool> showKernels;
  TLayerCollection& layers = View.Layers();
  for (std::int32_t i = 0; i < layers.Count(); ++i) {
    auto* layer = dynamic_cast<TBitmapLayer*>(&layers.LayerAt(i));
    if (!layer) continue;
    TBitmap32& bitmap = layer->Bitmap();
    // A new resampler leaves the pixels as they are, and so the promise about them.
    const bool promised = bitmap.ZeroOutsidePromised();
    const TRect zeroOutside = bitmap.ZeroOutside();
    TBitmapUpdate update(bitmap);
    bitmap.SetResampler(cls->Create(bitmap));
    KernelClassNamesListChange(View, SelectedKernel);
    update.End();
    bitmap.Changed();
    auto* kernelResampler = dynamic_cast<TKernelResampler*>(&bitmap.Resampler());
    showKernels = kernelResampler != nullptr;
    if (kernelResampler) kernelResampler->SetPixelAccessMode(pamSafe);
    if (promised) bitmap.PromiseZeroOutside(zeroOutside);
  }
  return showKernels;
}

void KernelClassNamesListChange(TCustomImage32& View, const std::string& SelectedKernel) {
  TLayerCollection& layers = View.Layers();
  for (std::int32_t i = 0; i < layers.Count(); ++i) {
    auto* layer = dynamic_cast<TBitmapLayer*>(&layers.LayerAt(i));
    if (!layer) continue;
    auto* resampler = dynamic_cast<TKernelResampler*>(&layer->Bitmap().Resampler());
    if (!resampler) continue;
    const TKernelClass* cls = FindKernelClass(SelectedKernel);
    if (!cls) UnknownKernel(SelectedKernel);
    resampler->SetKernel(cls->Create());
  }
}

}  // namespace quirlon::view
