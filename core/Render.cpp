#include "core/Render.h"

#include <atomic>
#include <exception>
#include <functional>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "core/AggCd.h"
#include "core/IniFile.h"
#include "core/LayerTypes.h"
#include "core/Platform.h"
#include "core/QuadWarp.h"
#include "imagefiles/Picture.h"
#include "raster/LayerResamplers.h"
#include "raster/Numeric.h"
#include "raster/Parallel.h"

namespace quirlon::core {

using raster::TBitmap32;
using raster::TBitmapLayer;
using raster::TCustomImage32;

TRenderEnvironment TRenderEnvironment::BesideExecutable(TLayerKinds& Kinds, const TShadeBitmap32List& Masks) {
  TRenderEnvironment env;
  env.LayerKinds = &Kinds;
  env.ShadeMasks = &Masks;
  env.TemplatesFolder = ExecutableFolder() + kTemplatesFolder;
  env.CustomFolder = ExecutableFolder() + kCustomFolder;
  return env;
}

TTemplateFit ComputeTemplateFit(std::int32_t TemplateWidth, std::int32_t TemplateHeight, std::int32_t CanvasWidth,
                                std::int32_t CanvasHeight) {
  TTemplateFit fit;
  const Extended sx = Divide(CanvasWidth, TemplateWidth);
  const Extended sy = Divide(CanvasHeight, TemplateHeight);
  fit.FitScale = static_cast<double>(sx < sy ? sx : sy);
  fit.OffX = Round((CanvasWidth - TemplateWidth * static_cast<Extended>(fit.FitScale)) / 2);
  fit.OffY = Round((CanvasHeight - TemplateHeight * static_cast<Extended>(fit.FitScale)) / 2);
  return fit;
}

std::int32_t FitCoordinate(std::int32_t Value, double FitScale, std::int32_t Offset) {
  // Wraps like 32-bit integer arithmetic instead of overflowing: absurd template values give an
  // absurd (but harmless) corner, never undefined behaviour.
  const std::uint32_t sum =
      static_cast<std::uint32_t>(Round(Value * static_cast<Extended>(FitScale))) + static_cast<std::uint32_t>(Offset);
  return static_cast<std::int32_t>(sum);
}

void ApplyTemplate(TCustomImage32& View, std::int32_t Width, std::int32_t Height, TRenderEnvironment& Env) {
  if (Width > kMaxCanvasSide || Height > kMaxCanvasSide ||
      (Width > 0 && Height > 0 && std::int64_t(Width) * Height > kMaxCanvasPixels))
    throw EOutOfResources(Format(kCanvasTooLarge, Width, Height));
  TBitmap32& canvas = View.Bitmap();
  canvas.SetSize(Width, Height);
  canvas.Clear(0);
  canvas.SetDrawMode(raster::dmTransparent);
  canvas.SetOuterColor(0);

  View.Layers().Clear();

  const std::string path = TemplatePath(Env.TemplatesFolder, Env.Settings->CurrentTemplate);
  imagefiles::TPictureCache renderPictures;
  struct TRestore {
    TRenderEnvironment& Env;
    imagefiles::TPictureCache* Saved;
    ~TRestore() { Env.Pictures = Saved; }
  } restore{Env, Env.Pictures};
  if (Env.Pictures == nullptr) Env.Pictures = &renderPictures;
  BuildBackgroundLayer(View, Env);
  BuildTemplateLayers(path, View, Env);

  raster::ResamplerClassNamesListChange(View, Env.ResamplerClassName, Env.KernelClassName);
}

void BuildBackgroundLayer(TCustomImage32& View, TRenderEnvironment& Env) {
  const TRenderSettings& s = *Env.Settings;
  if (s.TransparentBackground) return;
  const int slot = SourceSlotIndex("Background");
  TBitmap32& canvas = View.Bitmap();
  if (s.SlotUsesColor[slot]) {
    canvas.Clear(raster::Color32(s.SlotColor[slot]));
    return;
  }
  TBitmapLayer& layer = TBitmapLayer::Create(View.Layers());
  layer.SetScaled(true);
  layer.Bitmap().SetCombineMode(raster::cmBlend);
  layer.Bitmap().SetDrawMode(raster::dmBlend);
  LoadPicture(layer.Bitmap(), (*Env.Sources)[slot], Env);
  // Merged rather than blended, so the saved picture stays opaque over an opaque canvas.
  layer.Bitmap().SetCombineMode(raster::cmMerge);
  layer.SetLocation(raster::TSingleRect{0, 0, static_cast<float>(canvas.Width()), static_cast<float>(canvas.Height())});
}

namespace {

std::unique_ptr<TBitmap32> NewWorkingBitmap(const TBitmap32& canvas, bool sized = true) {
  auto b = std::make_unique<TBitmap32>();
  if (sized) b->SetSize(canvas.Width(), canvas.Height());
  b->SetCombineMode(raster::cmBlend);
  b->SetDrawMode(raster::dmBlend);
  b->SetOuterColor(0);
  return b;
}

}  // namespace

std::int64_t TemplateMemoryNeed(std::int32_t Width, std::int32_t Height, std::int64_t LayerCount,
                                const std::vector<std::int64_t>& ExtraBytes) {
  const std::int64_t canvasBytes = std::int64_t(std::max(Width, 0)) * std::max(Height, 0) * 4;
  std::int64_t largest[2] = {0, 0};
  for (const std::int64_t extra : ExtraBytes) {
    if (extra > largest[0]) {
      largest[1] = largest[0];
      largest[0] = extra;
    } else if (extra > largest[1]) {
      largest[1] = extra;
    }
  }
  const std::int64_t building = std::min<std::int64_t>(LayerCount, 2);
  return canvasBytes * (LayerCount + 1) + building * 3 * canvasBytes + largest[0] + largest[1];
}

std::string ByteCountText(std::int64_t Bytes, bool RoundUp) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (Bytes < 1024) return std::to_string(Bytes) + " bytes";
  std::size_t unit = 0;
  long double scale = 1024;
  while (unit + 1 < std::size(kUnits) && Bytes >= scale * 1024) {
    scale *= 1024;
    ++unit;
  }
  const long double tenths = static_cast<long double>(Bytes) * 10 / scale;
  const auto shown = static_cast<long long>(RoundUp ? std::ceil(tenths) : std::floor(tenths));
  return Format("%lld.%lld %s", shown / 10, shown % 10, kUnits[unit]);
}

void BuildTemplateLayers(const std::string& Path, TCustomImage32& View, TRenderEnvironment& Env) {
  std::string text;
  std::string reason;
  // Read at most one byte past the limit.
  if (!TryReadFile(Path, text, kMaxTemplateFileSize, &reason))
    throw EFOpenError(Format(kFOpenError, Path.c_str(), reason.c_str()));
  if (std::int64_t(text.size()) > kMaxTemplateFileSize) {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(Path, ec);
    throw EFOpenError(Format(kTemplateTooLarge, Path.c_str(), ec ? static_cast<long long>(text.size()) : static_cast<long long>(bytes)));
  }
  const TIniFile ini = TIniFile::FromText(Path, text);
  text.clear();
  // Whatever lies in the template folder counts as a template: a file that is none (a picture,
  // text in an unknown encoding, an empty file) is said to be none rather than giving nothing.
  if (!ini.SectionExists("Image") || !ini.HasKeys()) throw EFOpenError(Format(kNotATemplate, Path.c_str()));
  const TTemplateImageSize size = ReadTemplateImageSize(ini);
  TBitmap32& canvas = View.Bitmap();
  const TTemplateFit fit = ComputeTemplateFit(size.Width, size.Height, canvas.Width(), canvas.Height());

  std::vector<std::string> sections;
  ReadLayerSections(ini, sections);

  // The layers are built apart from one another and only then put on the view in template order:
  // the view, LayerKinds and the first error come out as one layer after the other would leave them.
  struct TJob {
    std::string Type;
    TLayerContext Layer;
    std::unique_ptr<TBitmap32> Target;
    std::exception_ptr Failure;
  };
  std::vector<TJob> jobs;
  jobs.reserve(sections.size());
  for (const std::string& section : sections) {
    TJob& job = jobs.emplace_back();
    try {
      const TTemplateLayer spec = ReadTemplateLayer(ini, section);
      job.Type = spec.Type;
      TLayerContext& layer = job.Layer;
      layer.Type = LayerTypeFromText(spec.Type);
      layer.Source = spec.Source;
      layer.Slot = SourceSlotIndex(spec.Source);
      auto fitPoint = [&](raster::TPoint p) {
        return raster::TPoint{FitCoordinate(p.X, fit.FitScale, fit.OffX), FitCoordinate(p.Y, fit.FitScale, fit.OffY)};
      };
      layer.A = fitPoint(spec.A);
      layer.B = fitPoint(spec.B);
      layer.C = fitPoint(spec.C);
      layer.D = fitPoint(spec.D);
      layer.Overscan = true;
    } catch (...) {
      job.Failure = std::current_exception();  // after the layers before it, as it would come
      break;
    }
  }

  std::vector<std::int64_t> extraBytes;
  for (const TJob& job : jobs)
    if (!job.Failure) extraBytes.push_back(PreparationExtraBytes(job.Layer));
  const std::int64_t need =
      TemplateMemoryNeed(canvas.Width(), canvas.Height(), static_cast<std::int64_t>(jobs.size()), extraBytes);
  if (need > Env.MemoryBudget)
    throw EOutOfResources(Format(kTemplateNeedsTooMuchMemory, Path.c_str(), ByteCountText(need, true).c_str(),
                                 canvas.Width(), canvas.Height(), static_cast<int>(jobs.size()),
                                 ByteCountText(std::max<std::int64_t>(Env.MemoryBudget, 0)).c_str()));
  Env.LayerKinds->clear();

  imagefiles::TPictureCache layerPictures;  // both threads load through one cache
  TRenderEnvironment env = Env;
  if (env.Pictures == nullptr) env.Pictures = &layerPictures;
  auto build = [&](TJob& job, TBitmap32& maskScratch) {
    TLayerContext& layer = job.Layer;
    // A picture loaded from a file takes the file's size: clearing a canvas for it first is waste.
    auto picture = NewWorkingBitmap(canvas, !PictureLoadsFromFile(layer, env));
    job.Target = NewWorkingBitmap(canvas);
    PrepareLayer(layer, *picture, *job.Target, canvas, env);
    const raster::TRect nothing;  // the target is transparent black until the warp
    layer.Content = WarpToQuad(*picture, picture->BoundsRect(), layer.A, layer.B, layer.C, layer.D, *job.Target,
                               layer.Overscan, fit.FitScale, &maskScratch, &nothing);
  };
  // Two builders, the caller and the pixel loops' helper, take the layers largest first, so that
  // neither is left alone with a big one at the end. Loops inside a build then stay on its thread.
  std::vector<std::size_t> order(jobs.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  auto area = [&](const TJob& j) {
    const raster::TRect r = QuadMaskBounds(j.Layer.A, j.Layer.B, j.Layer.C, j.Layer.D);
    return (std::int64_t(r.Right) - r.Left) * (std::int64_t(r.Bottom) - r.Top);
  };
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return area(jobs[a]) > area(jobs[b]); });
  std::atomic<std::size_t> next{0};
  auto builder = [&](TBitmap32& maskScratch) {
    for (std::size_t n = next++; n < order.size(); n = next++) {
      TJob& job = jobs[order[n]];
      if (job.Failure) continue;  // its corners could not even be placed
      try {
        build(job, maskScratch);
      } catch (...) {
        job.Failure = std::current_exception();
        job.Target.reset();
      }
    }
  };
  TBitmap32 masks[2];  // the warps' edge masks, one per builder, reused from layer to layer
  const std::function<void()> second = [&] { builder(masks[1]); };
  const bool shared = jobs.size() > 1 && raster::PixelThreadCount() > 1 && raster::StartOnHelper(second);
  builder(masks[0]);
  if (shared) raster::WaitForHelper();

  for (TJob& job : jobs) {
    Env.LayerKinds->push_back(job.Type);
    if (job.Failure) std::rethrow_exception(job.Failure);
    TBitmapLayer& bitmapLayer = TBitmapLayer::Create(View.Layers());
    bitmapLayer.SetScaled(true);
    bitmapLayer.SetLocation(
        raster::TSingleRect{0, 0, static_cast<float>(canvas.Width()), static_cast<float>(canvas.Height())});
    bitmapLayer.Bitmap().AssignMoving(*job.Target);
    // The warp blends; the finished layer merges, so translucent layer pixels never make an
    // opaque background see-through in the saved picture.
    bitmapLayer.Bitmap().SetCombineMode(raster::cmMerge);
    job.Target.reset();

    FinishLayer(job.Layer, bitmapLayer, Env);
  }
}

std::string CustomFilePath(const std::string& CustomFolder, const std::string& Name) {
  const std::string path = CustomFolder + Name;
  auto refuse = [&](const char* why) { throw EFOpenError(Format(kFOpenError, path.c_str(), why)); };
  if (Name.empty() || Name.front() == kPathSeparator) refuse("The name is not a file inside the custom folder.");
  // Any ".." component, wherever it stands.
  std::size_t start = 0;
  while (start <= Name.size()) {
    std::size_t end = Name.find(kPathSeparator, start);
    if (end == std::string::npos) end = Name.size();
    if (Name.compare(start, end - start, "..") == 0 && end - start == 2)
      refuse("The name is not a file inside the custom folder.");
    start = end + 1;
  }
  // Links may still lead out of the folder: compare the resolved paths.
  char resolvedFile[PATH_MAX];
  char resolvedFolder[PATH_MAX];
  if (realpath(path.c_str(), resolvedFile) != nullptr && realpath(CustomFolder.c_str(), resolvedFolder) != nullptr) {
    std::string folder = resolvedFolder;
    if (folder.empty() || folder.back() != kPathSeparator) folder += kPathSeparator;
    if (std::string(resolvedFile).rfind(folder, 0) != 0) refuse("The file lies outside the custom folder.");
  }
  return path;
}

}  // namespace quirlon::core
