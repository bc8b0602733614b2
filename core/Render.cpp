#include "core/Render.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

#include "core/Effects.h"
#include "core/LayerCache.h"
#include "core/LayerTypes.h"
#include "core/Platform.h"
#include "core/QuadWarp.h"
#include "raster/Layers.h"
#include "raster/Numeric.h"
#include "raster/Parallel.h"
#include "raster/Resamplers.h"

namespace quirlon::core {

using raster::TBitmap32;

TSlotSource TSlotSource::OfColour(raster::TColor Colour) {
  TSlotSource s;
  s.Kind = TKind::Colour;
  s.Colour = Colour;
  return s;
}

TSlotSource TSlotSource::OfFile(std::string File) {
  TSlotSource s;
  s.Kind = TKind::File;
  s.File = std::move(File);
  return s;
}

TSlotSource TSlotSource::OfPicture(std::shared_ptr<const imagefiles::TGraphic> Picture) {
  TSlotSource s;
  s.Kind = TKind::Picture;
  s.Picture = std::move(Picture);
  return s;
}

TSlotSources DefaultSlotSources() {
  TSlotSources sources;
  for (const TSlotInfo& info : kSlots) sources[SlotIndex(info.Slot)] = TSlotSource::OfColour(info.DefaultColour);
  return sources;
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

namespace {

// The built-in masks, each drawn when a layer first needs it and only read afterwards, so every
// render may share them (two of the six no layer type uses).
const TShadeBitmap32List& SharedShadeMasks() {
  static const TShadeBitmap32List masks = [] {
    TShadeBitmap32List m;
    m.BuildOnDemand();
    return m;
  }();
  return masks;
}

std::unique_ptr<TBitmap32> NewWorkingBitmap(const TBitmap32& canvas, bool sized = true) {
  auto b = std::make_unique<TBitmap32>();
  if (sized) b->SetSize(canvas.Width(), canvas.Height());
  b->SetCombineMode(raster::cmBlend);
  b->SetDrawMode(raster::dmBlend);
  b->SetOuterColor(0);
  return b;
}

// Finished layers are drawn with the linear resampler when they have to be stretched (a background
// picture onto the canvas); a new resampler keeps the promise about the zeros.
void UseLinearResampler(TBitmap32& Bitmap) {
  const bool promised = Bitmap.ZeroOutsidePromised();
  const raster::TRect zeroOutside = Bitmap.ZeroOutside();
  raster::MakeResampler<raster::TLinearResampler>(Bitmap);
  if (promised) Bitmap.PromiseZeroOutside(zeroOutside);
}

// The background picture stretched onto the canvas, merged so the saved picture stays opaque over
// an opaque canvas.
TRenderedLayer BackgroundPictureLayer(const TSlotSource& Source, imagefiles::TPictureCache& Pictures,
                                      std::int64_t MaxPixels) {
  TRenderedLayer layer;
  layer.Role.Background = true;
  layer.Bitmap = std::make_shared<TBitmap32>();
  TBitmap32& b = *layer.Bitmap;
  b.SetCombineMode(raster::cmBlend);
  b.SetDrawMode(raster::dmBlend);
  LoadSlotPicture(b, Source, Pictures, MaxPixels);
  b.SetCombineMode(raster::cmMerge);
  return layer;
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

namespace {


// One layer of a template on its way: its placed corners, then its finished bitmap or its error.
struct TLayerJob {
  const TTemplateLayer* Spec = nullptr;
  TLayerContext Layer;
  std::unique_ptr<TBitmap32> Target;
  std::exception_ptr Failure;
  std::optional<TLayerKey> Key;        // with a layer cache
  std::shared_ptr<TBitmap32> Shared;  // the finished layer, from the cache or made shareable for it
};

// The template's layers placed on the canvas, refused before any is built when they need more than
// MemoryBudget. A layer whose corners cannot even be placed carries its error and ends the list.
std::vector<TLayerJob> PlanTemplateLayers(const TTemplate& Template, const TBitmap32& Canvas,
                                          std::int64_t MemoryBudget, TTemplateFit& Fit) {
  const TTemplateFit fit = ComputeTemplateFit(Template.Size.Width, Template.Size.Height, Canvas.Width(), Canvas.Height());
  Fit = fit;
  std::vector<TLayerJob> jobs;
  jobs.reserve(Template.Layers.size());
  for (const TTemplateLayer& spec : Template.Layers) {
    TLayerJob& job = jobs.emplace_back();
    job.Spec = &spec;
    try {
      TLayerContext& layer = job.Layer;
      layer.Type = LayerTypeFromText(spec.Type);
      layer.Source = spec.Source;
      layer.Slot = SourceSlotIndex(spec.Source);
      layer.Look = spec.Look;
      layer.FitScale = fit.FitScale;
      auto fitPoint = [&](raster::TPoint p) {
        return raster::TPoint{FitCoordinate(p.X, fit.FitScale, fit.OffX), FitCoordinate(p.Y, fit.FitScale, fit.OffY)};
      };
      layer.A = fitPoint(spec.A);
      layer.B = fitPoint(spec.B);
      layer.C = fitPoint(spec.C);
      layer.D = fitPoint(spec.D);
      const raster::TPoint corners[4] = {spec.A, spec.B, spec.C, spec.D};
      for (int i = 0; i < 4; ++i) {
        layer.Precise.X[i] = static_cast<float>(corners[i].X * static_cast<Extended>(fit.FitScale) + fit.OffX);
        layer.Precise.Y[i] = static_cast<float>(corners[i].Y * static_cast<Extended>(fit.FitScale) + fit.OffY);
      }
      layer.Overscan = true;
    } catch (...) {
      // Corners that cannot even be placed fail the layer, after the layers before it, as any
      // other error of the layer would.
      job.Failure = std::current_exception();
      break;
    }
  }

  std::vector<std::int64_t> extraBytes;
  for (const TLayerJob& job : jobs)
    if (!job.Failure) extraBytes.push_back(PreparationExtraBytes(job.Layer));
  const std::int64_t need =
      TemplateMemoryNeed(Canvas.Width(), Canvas.Height(), static_cast<std::int64_t>(jobs.size()), extraBytes);
  if (need > MemoryBudget)
    throw EOutOfResources(Format(kTemplateNeedsTooMuchMemory, Template.Name.c_str(), ByteCountText(need, true).c_str(),
                                 Canvas.Width(), Canvas.Height(), static_cast<int>(jobs.size()),
                                 ByteCountText(std::max<std::int64_t>(MemoryBudget, 0)).c_str()));
  return jobs;
}

// Builds Job's finished layer into Job.Target. Canvas gives only the size.
void BuildLayer(TLayerJob& Job, const TBitmap32& Canvas, const TLayerEnvironment& Env, const TTemplateFit& Fit,
                TBitmap32& MaskScratch) {
  TLayerContext& layer = Job.Layer;
  // A picture that takes a size of its own (a file's, a mask's): clearing a canvas for it first is
  // waste.
  auto picture = NewWorkingBitmap(Canvas, !PictureTakesItsOwnSize(layer, Env));
  Job.Target = NewWorkingBitmap(Canvas);
  PrepareLayer(layer, *picture, *Job.Target, Canvas, Env);
  const raster::TRect nothing;  // the target is transparent black until the warp
  // Merged onto transparent black, a picture's pixels arrive unchanged (straight alpha, scaled
  // only by the master alpha); the exact sampling keeps its blend, which darkens translucent ones.
  // Shade and highlight masks keep the blend in both samplings: their strengths were chosen with
  // it, and merged they would brighten a face about twice as much.
  // A shading layer with its own opacity is laid on with straight alpha in both samplings: its
  // opacity says how far the face goes towards the shading colour.
  if ((Env.Settings.Sampling == TSampling::Smooth && !LayerTypeInfo(layer.Type).Shading) ||
      (LayerTypeInfo(layer.Type).Shading && layer.Look.Opacity))
    picture->SetCombineMode(raster::cmMerge);
  layer.Content = WarpToQuad(*picture, picture->BoundsRect(), layer.A, layer.B, layer.C, layer.D, *Job.Target,
                             layer.Overscan, Fit.FitScale, &MaskScratch, &nothing, Env.Settings.Sampling,
                             Env.Settings.Sampling == TSampling::Smooth ? &layer.Precise : nullptr,
                             Env.Settings.SafeMargin);
  picture.reset();
  // The warp blends; the finished layer merges, so translucent layer pixels never make an opaque
  // background see-through in the saved picture.
  Job.Target->SetCombineMode(raster::cmMerge);
  const raster::TRect content = FinishLayer(layer, *Job.Target, Env);
  // Drawing the finished layer then skips the transparent rest of the canvas.
  Job.Target->PromiseZeroOutside(content);
  UseLinearResampler(*Job.Target);
}

// Job's finished layer as the result lists it (the bitmap moves over), and its art fit noted.
TRenderedLayer TakeRenderedLayer(TLayerJob& Job, const TLayerEnvironment& Env, std::vector<TArtFit>& MismatchedArt) {
  const TArtFit& found = Job.Layer.Fit;
  if (found.Mismatched() &&
      std::none_of(MismatchedArt.begin(), MismatchedArt.end(), [&](const TArtFit& f) { return f.Slot == found.Slot; }))
    MismatchedArt.push_back(found);
  TRenderedLayer out;
  out.Role.Type = Job.Layer.Type;
  out.Role.TypeText = Job.Spec->Type;
  out.Role.Section = Job.Spec->Section;
  // A slot-drawing layer whose source names no slot stays empty and is left as it is.
  const bool empty = LayerTypeInfo(Job.Layer.Type).DrawsFromSlot && Job.Layer.Slot < 0;
  out.Visible = empty || ShownBySettings(Job.Layer.Type, Env.Settings);
  out.Bitmap = Job.Shared != nullptr ? std::move(Job.Shared) : std::shared_ptr<TBitmap32>(std::move(Job.Target));
  return out;
}

// The settings a layer of Type is drawn with; the others back at their defaults, so that moving a
// slider rebuilds only the layers it changes. The two switches only hide layers (ShownBySettings).
TRenderSettings SettingsThatShape(TLayerType Type, const TRenderSettings& Settings) {
  const TRenderSettings defaults;
  TRenderSettings s = defaults;
  s.Sampling = Settings.Sampling;  // the warp, and the fit of a picture
  s.Fit = Settings.Fit;
  s.SafeMargin = Settings.SafeMargin;
  const TLayerTypeInfo& info = LayerTypeInfo(Type);
  if (info.Switch == TLayerSwitch::Shadows) {
    s.ShadowColor = Settings.ShadowColor;
    s.ShadowDensity = Settings.ShadowDensity;
    s.ShadowBlur = Settings.ShadowBlur;
  }
  if (info.Switch == TLayerSwitch::Reflections) {
    s.FadeReflection = Settings.FadeReflection;
    s.ReflectionLength = Settings.ReflectionLength;
    s.ReflectionBlur = Settings.ReflectionBlur;
    s.ReflectionBrightness = Settings.ReflectionBrightness;
    s.ReflectionOpacity = Settings.ReflectionOpacity;
  }
  if (info.Shading) {
    s.ShadingColor = Settings.ShadingColor;
    s.ShadingStrength = Settings.ShadingStrength;
    s.HighlightColor = Settings.HighlightColor;
    s.HighlightStrength = Settings.HighlightStrength;
  }
  return s;
}

// Takes from Cache the layers an earlier render built with the same inputs, and gives every other
// placed layer its key, under which it is offered to the cache once built.
void TakeSharedLayers(const std::shared_ptr<const TTemplate>& Parsed, const TBitmap32& Canvas,
                      const TLayerEnvironment& Env, TLayerCache& Cache, std::vector<TLayerJob>& Jobs) {
  for (std::size_t i = 0; i < Jobs.size(); ++i) {
    TLayerJob& job = Jobs[i];
    if (job.Failure) break;
    TLayerKey& key = job.Key.emplace();
    key.Template = Parsed;
    key.Layer = i;
    key.Width = Canvas.Width();
    key.Height = Canvas.Height();
    key.Settings = SettingsThatShape(job.Layer.Type, Env.Settings);
    key.LargeDiscArea = Env.LargeDiscArea;
    key.MaxPicturePixels = Env.MaxPicturePixels;
    key.CustomFolder = Env.CustomFolder;
    // Only the slot-drawing types read their slot (a shadow names one and draws its own colour).
    key.Source = LayerTypeInfo(job.Layer.Type).DrawsFromSlot && job.Layer.Slot >= 0
                     ? Env.Sources[static_cast<std::size_t>(job.Layer.Slot - 1)]
                     : TSlotSource::OfColour(0);
    if (key.Source.Kind == TSlotSource::TKind::File) key.FileIdentity = FileIdentityOf(key.Source.File);
    if (job.Layer.Type == ltCustomFile)
      key.FileIdentity = FileIdentityOf(CustomFilePath(Env.CustomFolder, job.Layer.Source));
    TCachedLayer found = Cache.Find(key);
    if (found.Bitmap != nullptr) {
      job.Shared = std::move(found.Bitmap);
      job.Layer.Fit = found.Fit;
    }
  }
}

// Builds Job's layer unless it failed to be placed or an earlier render's came from the cache, and
// offers it to Cache; a failure is kept with the job.
void BuildJob(TLayerJob& Job, const TBitmap32& Canvas, const TLayerEnvironment& Env, const TTemplateFit& Fit,
              TLayerCache* Cache, TBitmap32& MaskScratch) {
  if (Job.Failure || Job.Shared != nullptr) return;
  try {
    BuildLayer(Job, Canvas, Env, Fit, MaskScratch);
    if (Job.Key) {
      Job.Shared = std::move(Job.Target);
      Cache->Keep(*Job.Key, TCachedLayer{Job.Shared, Job.Layer.Fit});
    }
  } catch (...) {
    Job.Failure = std::current_exception();
    Job.Target.reset();
  }
}

// Runs Builder(maskScratch) on this thread and, for more than one layer, on the pixel loops' helper
// thread too when it is free; returns when both are done. Each builder keeps its warps' edge mask
// from layer to layer.
template <class TBuilder>
void RunBuilders(std::size_t Layers, TBuilder&& Builder) {
  TBitmap32 masks[2];
  if (Layers > 1 && raster::PixelThreadCount() > 1) {
    auto second = [&] { Builder(masks[1]); };
    const raster::THelperTask helper(second);
    Builder(masks[0]);
  } else {
    Builder(masks[0]);
  }
}

// The template's layers, built apart from one another by two builders (the caller and the pixel
// loops' helper), largest first so that neither is left alone with a big one at the end, then put
// in template order. The first failure in template order is the one raised.
void BuildTemplateLayers(const std::shared_ptr<const TTemplate>& Parsed, const TBitmap32& Canvas,
                         const TLayerEnvironment& Env, std::int64_t MemoryBudget, TLayerCache* Cache,
                         std::vector<TRenderedLayer>& Layers, std::vector<TArtFit>& MismatchedArt) {
  TTemplateFit fit;
  std::vector<TLayerJob> jobs = PlanTemplateLayers(*Parsed, Canvas, MemoryBudget, fit);
  if (Cache != nullptr) TakeSharedLayers(Parsed, Canvas, Env, *Cache, jobs);
  std::vector<std::size_t> order(jobs.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  auto area = [&](const TLayerJob& j) {
    const raster::TRect r = QuadMaskBounds(j.Layer.A, j.Layer.B, j.Layer.C, j.Layer.D);
    return (std::int64_t(r.Right) - r.Left) * (std::int64_t(r.Bottom) - r.Top);
  };
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return area(jobs[a]) > area(jobs[b]); });
  std::atomic<std::size_t> next{0};
  RunBuilders(jobs.size(), [&](TBitmap32& maskScratch) {
    for (std::size_t n = next++; n < order.size(); n = next++) BuildJob(jobs[order[n]], Canvas, Env, fit, Cache, maskScratch);
  });

  for (TLayerJob& job : jobs) {
    if (job.Failure) std::rethrow_exception(job.Failure);
    Layers.push_back(TakeRenderedLayer(job, Env, MismatchedArt));
  }
  std::sort(MismatchedArt.begin(), MismatchedArt.end(), [](const TArtFit& a, const TArtFit& b) { return a.Slot < b.Slot; });
}

// The template's layers built in template order and each drawn with Draw as soon as every layer
// under it is, then let go (a layer the cache keeps stays with it). With the helper thread free a
// second builder works beside the caller, at most kBuildAhead layers above the last one drawn, and
// whichever finishes the next layer to draw draws it: drawing overlaps building, and only a few
// layers are ever held, so a render touches a few canvases of fresh memory rather than one a
// layer. The first failure in template order is the one raised.
void BuildAndDrawLayers(const std::shared_ptr<const TTemplate>& Parsed, const TBitmap32& Canvas,
                        const TLayerEnvironment& Env, std::int64_t MemoryBudget, TLayerCache* Cache,
                        const std::function<void(const TRenderedLayer&)>& Draw, std::vector<TArtFit>& MismatchedArt) {
  constexpr std::size_t kBuildAhead = 2;
  TTemplateFit fit;
  std::vector<TLayerJob> jobs = PlanTemplateLayers(*Parsed, Canvas, MemoryBudget, fit);
  if (Cache != nullptr) TakeSharedLayers(Parsed, Canvas, Env, *Cache, jobs);
  std::mutex mutex;
  std::condition_variable drawnMore;
  std::vector<char> built(jobs.size(), 0);
  std::size_t next = 0;   // the next layer to build
  std::size_t drawn = 0;  // the layers drawn, in order
  bool drawing = false;   // a builder is drawing
  bool stopped = false;   // the next layer to draw failed

  // Draws the built layers above the last one drawn, one builder at a time; the lock is held only
  // between layers.
  auto drawBuilt = [&](std::unique_lock<std::mutex>& lock) {
    if (drawing) return;  // the drawing builder will see this layer too
    drawing = true;
    while (!stopped && drawn < jobs.size() && built[drawn]) {
      TLayerJob& job = jobs[drawn];
      if (!job.Failure) {
        lock.unlock();
        try {
          Draw(TakeRenderedLayer(job, Env, MismatchedArt));
        } catch (...) {
          job.Failure = std::current_exception();
        }
        lock.lock();
      }
      if (job.Failure) stopped = true;
      else ++drawn;
    }
    drawing = false;
    drawnMore.notify_all();
  };
  auto builder = [&](TBitmap32& maskScratch) {
    for (;;) {
      std::size_t n = 0;
      {
        std::unique_lock lock(mutex);
        drawnMore.wait(lock, [&] { return stopped || next >= jobs.size() || next < drawn + kBuildAhead; });
        if (stopped || next >= jobs.size()) return;
        n = next++;
      }
      BuildJob(jobs[n], Canvas, Env, fit, Cache, maskScratch);
      std::unique_lock lock(mutex);
      built[n] = 1;
      drawBuilt(lock);
    }
  };
  RunBuilders(jobs.size(), builder);
  if (stopped) std::rethrow_exception(jobs[drawn].Failure);
  std::sort(MismatchedArt.begin(), MismatchedArt.end(), [](const TArtFit& a, const TArtFit& b) { return a.Slot < b.Slot; });
}

// Sizes Bitmap as Request's canvas, after the size is checked, and clears it to the background
// colour (it stays transparent black with a transparent background or a background picture).
void SizeAndClearCanvas(TBitmap32& Bitmap, const TRenderRequest& Request) {
  const std::int32_t width = Request.Width, height = Request.Height;
  if (width > kMaxCanvasSide || height > kMaxCanvasSide ||
      (width > 0 && height > 0 && std::int64_t(width) * height > kMaxCanvasPixels))
    throw EOutOfResources(Format(kCanvasTooLarge, width, height));
  Bitmap.SetSize(width, height);
  const TSlotSource& background = Request.Sources[SlotIndex(TSlot::Background)];
  if (!Request.TransparentBackground && background.UsesColour()) Bitmap.Clear(raster::Color32(background.Colour));
}

// The canvas of Request, drawn as the render's first layer.
std::shared_ptr<TBitmap32> NewCanvas(const TRenderRequest& Request) {
  auto canvas = std::make_shared<TBitmap32>();
  canvas->SetDrawMode(raster::dmTransparent);
  canvas->SetOuterColor(0);
  SizeAndClearCanvas(*canvas, Request);
  return canvas;
}

bool HasBackgroundPicture(const TRenderRequest& Request) {
  return !Request.TransparentBackground && !Request.Sources[SlotIndex(TSlot::Background)].UsesColour();
}

std::shared_ptr<const TTemplate> RequestTemplate(const TRenderRequest& Request) {
  if (Request.Template.Parsed != nullptr) return Request.Template.Parsed;
  return std::make_shared<const TTemplate>(ReadTemplateFile(Request.Template.File));
}

}  // namespace

TRenderResult ApplyTemplate(const TRenderRequest& Request) {
  TRenderResult result;
  result.Canvas = NewCanvas(Request);
  const std::shared_ptr<const TTemplate> parsed = RequestTemplate(Request);

  imagefiles::TPictureCache renderPictures;
  imagefiles::TPictureCache& pictures = Request.Pictures != nullptr ? *Request.Pictures : renderPictures;
  if (HasBackgroundPicture(Request)) {
    result.Layers.push_back(
        BackgroundPictureLayer(Request.Sources[SlotIndex(TSlot::Background)], pictures, Request.MaxPicturePixels));
    UseLinearResampler(*result.Layers.back().Bitmap);
  }

  const TLayerEnvironment env{Request.Settings,     Request.Sources, Request.LargeDiscArea,    SharedShadeMasks(),
                              Request.CustomFolder, pictures,        Request.MaxPicturePixels, parsed->FaceAspects,
                              Request.Prepared};
  BuildTemplateLayers(parsed, *result.Canvas, env, Request.MemoryBudget, Request.Layers, result.Layers,
                      result.MismatchedArt);
  return result;
}

std::unique_ptr<TBitmap32> RenderFlattened(const TRenderRequest& Request, const TFlattenOptions& Options,
                                           std::vector<TArtFit>* MismatchedArt) {
  auto out = std::make_unique<TBitmap32>();
  TBitmap32& flat = *out;
  // The canvas is cleared in the flat picture itself: drawn onto transparent black it would give
  // its own pixels, through one more canvas of memory.
  SizeAndClearCanvas(flat, Request);
  const std::shared_ptr<const TTemplate> parsed = RequestTemplate(Request);
  const raster::TRect all = flat.BoundsRect();
  auto draw = [&](const TRenderedLayer& layer) {
    if (DrawnWhenFlattened(layer, Options)) raster::DrawLayerBitmap(flat, all, *layer.Bitmap);
  };

  imagefiles::TPictureCache renderPictures;
  imagefiles::TPictureCache& pictures = Request.Pictures != nullptr ? *Request.Pictures : renderPictures;
  if (HasBackgroundPicture(Request)) {
    TRenderedLayer background =
        BackgroundPictureLayer(Request.Sources[SlotIndex(TSlot::Background)], pictures, Request.MaxPicturePixels);
    UseLinearResampler(*background.Bitmap);
    draw(background);
  }

  const TLayerEnvironment env{Request.Settings,     Request.Sources, Request.LargeDiscArea,    SharedShadeMasks(),
                              Request.CustomFolder, pictures,        Request.MaxPicturePixels, parsed->FaceAspects,
                              Request.Prepared};
  std::vector<TArtFit> mismatched;
  // The flat picture stands in for the canvas: the layers take only its size.
  BuildAndDrawLayers(parsed, flat, env, Request.MemoryBudget, Request.Layers, draw, mismatched);
  if (Options.Flip) flat.MirrorHorizontal();
  if (MismatchedArt != nullptr) *MismatchedArt = std::move(mismatched);
  return out;
}

bool DrawnWhenFlattened(const TRenderedLayer& Layer, const TFlattenOptions& Options) {
  if (!Layer.Visible || Layer.Bitmap == nullptr) return false;
  switch (Layer.Role.Switch()) {
    case TLayerSwitch::Reflections: return !Options.HideReflections;
    case TLayerSwitch::Shadows: return !Options.HideShadows;
    case TLayerSwitch::None: return true;
  }
  return true;
}

std::unique_ptr<TBitmap32> Flatten(const TRenderResult& Result, const TFlattenOptions& Options) {
  auto out = std::make_unique<TBitmap32>();
  TBitmap32& flat = *out;
  if (Result.Canvas == nullptr) return out;
  flat.SetSize(Result.Width(), Result.Height());
  const raster::TRect all = flat.BoundsRect();
  Result.Canvas->DrawInto(flat, all);
  for (const TRenderedLayer& layer : Result.Layers)
    if (DrawnWhenFlattened(layer, Options)) raster::DrawLayerBitmap(flat, all, *layer.Bitmap);
  if (Options.Flip) flat.MirrorHorizontal();
  return out;
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
