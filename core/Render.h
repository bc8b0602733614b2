#pragma once
// The render (ApplyTemplate): one call on values. A request (template, settings, sources, canvas size) goes in; a
// result that owns its layers, each tagged with its role, comes out. Flatten turns a result into
// the picture that is saved. Nothing is kept between calls and nothing is shared but what the
// request hands in, so two threads may render two requests at the same moment.
//
//   core::TRenderRequest request;
//   request.Template.File = "data/Templates/01 Software box left.ini";
//   request.Sources[core::SlotIndex(core::TSlot::Front)] = core::TSlotSource::OfFile("cover.jpg");
//   request.Settings.ShadowBlur = 40;
//   request.Width = 1600;
//   request.Height = 1200;
//   request.CustomFolder = "data/custom/";
//   const core::TRenderResult result = core::ApplyTemplate(request);
//   const auto picture = core::Flatten(result);
//   imagefiles::SavePng(*picture, "box.png", 96);
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/LayerTraits.h"
#include "core/Platform.h"
#include "core/RenderSettings.h"
#include "core/Slots.h"
#include "core/Template.h"
#include "imagefiles/Picture.h"
#include "raster/Bitmap32.h"

namespace quirlon::core {

class TLayerCache;
class TPreparedPictures;

// Limits a render checks before it allocates: the window and the command line ask for 32..8192
// pixels a side, so these only stop sizes that would exhaust memory. The memory a template needs
// is checked against the request's MemoryBudget (TemplateMemoryNeed).
inline constexpr std::int32_t kMaxCanvasSide = 16384;
inline constexpr std::int64_t kMaxCanvasPixels = 64LL * 1024 * 1024;
inline constexpr const char* kCanvasTooLarge = "Canvas is too large (%d x %d)";
inline constexpr const char* kTemplateNeedsTooMuchMemory =
    "Template \"%s\" needs %s of memory at %d x %d pixels (%d layers), more than the %s a render may take";

// What one slot shows: a plain colour, a picture file, or a picture already decoded.
struct TSlotSource {
  enum class TKind : std::uint8_t { Colour, File, Picture };
  TKind Kind = TKind::Colour;
  raster::TColor Colour = 0;
  std::string File;
  std::shared_ptr<const imagefiles::TGraphic> Picture;

  static TSlotSource OfColour(raster::TColor Colour);
  static TSlotSource OfFile(std::string File);
  static TSlotSource OfPicture(std::shared_ptr<const imagefiles::TGraphic> Picture);
  bool UsesColour() const { return Kind == TKind::Colour; }
  friend bool operator==(const TSlotSource&, const TSlotSource&) = default;
};

// The nine slots, slot 1 (BACKGROUND) at index 0.
using TSlotSources = std::array<TSlotSource, kSlotCount>;
constexpr std::size_t SlotIndex(TSlot Slot) { return static_cast<std::size_t>(SlotNumber(Slot) - 1); }
// Every slot at its default colour.
TSlotSources DefaultSlotSources();

// The template of a request: a parsed one when given, else the file.
struct TTemplateSource {
  std::string File;
  std::shared_ptr<const TTemplate> Parsed;
};

struct TRenderRequest {
  TTemplateSource Template;
  TRenderSettings Settings;
  TSlotSources Sources = DefaultSlotSources();
  std::int32_t Width = 800;
  std::int32_t Height = 600;
  bool TransparentBackground = false;  // no background: transparent where no layer draws
  bool LargeDiscArea = false;          // the large-area disc artwork
  // Where the pictures of "customfile" layers are; ends in a separator.
  std::string CustomFolder;
  // The most memory, in bytes, that the layers of one render may take (TemplateMemoryNeed); by
  // default half of what the machine (or its container) has.
  std::int64_t MemoryBudget = MachineMemoryBudget();
  // The most pixels a source picture may have (at most imagefiles::kMaxPicturePixels).
  std::int64_t MaxPicturePixels = imagefiles::kDefaultPicturePixels;
  // Decoded pictures kept across renders (safe to share between threads). Without one, the render
  // keeps its own, so a face and its reflection decode once.
  imagefiles::TPictureCache* Pictures = nullptr;
  // Finished layers shared with other renders (a batch's). With one, the result's layer bitmaps may
  // be shared with other results and must be treated as read only.
  TLayerCache* Layers = nullptr;
  // Prepared face pictures shared with renders of the same product from other views (a turn's).
  TPreparedPictures* Prepared = nullptr;
};

// What a finished layer is: its type and the template section it came from; the background
// picture has Background set and no section.
struct TLayerRole {
  TLayerType Type = ltUnknown;
  std::string TypeText;  // as the template wrote it
  std::string Section;
  bool Background = false;
  // The switch that hides the layer.
  TLayerSwitch Switch() const { return Background ? TLayerSwitch::None : LayerTypeInfo(Type).Switch; }
};

// One finished layer, drawn over the whole canvas (a background picture is stretched onto it).
// The bitmap's draw mode, combine mode, master alpha and resampler say how it is drawn.
struct TRenderedLayer {
  TLayerRole Role;
  std::shared_ptr<raster::TBitmap32> Bitmap;
  bool Visible = true;  // false for reflections and shadows that the settings do not show
};

struct TRenderResult {
  // The canvas: the background colour, or transparent black with a transparent background or a
  // background picture.
  std::shared_ptr<raster::TBitmap32> Canvas;
  std::vector<TRenderedLayer> Layers;  // bottom first
  // Each slot picture whose proportions differ from its face's by more than kFitWarningRatio, in
  // slot order, once a slot: what the command line warns about and the window shows.
  std::vector<TArtFit> MismatchedArt;
  std::int32_t Width() const { return Canvas ? Canvas->Width() : 0; }
  std::int32_t Height() const { return Canvas ? Canvas->Height() : 0; }
};

// Renders Request. A canvas beyond kMaxCanvasSide or kMaxCanvasPixels raises
// EOutOfResources(kCanvasTooLarge) before anything is read; a template that cannot be read,
// pictures that cannot be loaded and layers over the memory budget raise their errors. Nothing of
// a failed render is kept.
TRenderResult ApplyTemplate(const TRenderRequest& Request);

struct TFlattenOptions {
  bool HideReflections = false;  // also hide what the result shows
  bool HideShadows = false;
  bool Flip = false;  // mirrored left to right
};
// The saved picture: the canvas with every visible layer drawn over it, in order.
std::unique_ptr<raster::TBitmap32> Flatten(const TRenderResult& Result, const TFlattenOptions& Options = {});
// The picture Flatten(ApplyTemplate(Request), Options) makes, pixel for pixel, holding only a few
// layers at a time: the layers are built in template order and each is drawn as soon as every
// layer under it is, then freed (unless Request.Layers keeps it). Where the pixel loops may use the
// helper thread, two builders work at once; under raster::TSerialLoops (a turntable's frames, a
// batch's jobs) one layer is held at a time. MismatchedArt, when given, receives what the full
// render's result lists. Raises what ApplyTemplate raises.
std::unique_ptr<raster::TBitmap32> RenderFlattened(const TRenderRequest& Request, const TFlattenOptions& Options = {},
                                                   std::vector<TArtFit>* MismatchedArt = nullptr);
// Whether Flatten draws Layer under Options.
bool DrawnWhenFlattened(const TRenderedLayer& Layer, const TFlattenOptions& Options);

// The template fit: uniform scale and centring offsets of a w x h template in a Wc x Hc canvas.
struct TTemplateFit {
  double FitScale = 1.0;
  std::int32_t OffX = 0;
  std::int32_t OffY = 0;
};
// Raises "Floating point division by zero" for a zero template side ("Invalid floating point
// operation" when the matching canvas side is 0 too).
TTemplateFit ComputeTemplateFit(std::int32_t TemplateWidth, std::int32_t TemplateHeight, std::int32_t CanvasWidth,
                                std::int32_t CanvasHeight);
// A template coordinate in canvas pixels: rnd(Value x FitScale) + Offset, the sum wrapping to 32 bits.
// Raises "Invalid floating point operation" when the rounded product does not fit an int32.
std::int32_t FitCoordinate(std::int32_t Value, double FitScale, std::int32_t Offset);

// The bytes a render of LayerCount layers keeps at its peak on a Width x Height canvas: the canvas
// and every layer's bitmap, plus the work of the two layers built at once (picture, target and edge
// mask each, and the largest two of ExtraBytes, what their preparation takes besides).
std::int64_t TemplateMemoryNeed(std::int32_t Width, std::int32_t Height, std::int64_t LayerCount,
                                const std::vector<std::int64_t>& ExtraBytes);

// Bytes as people read them: "512 bytes", "3.5 KiB", "16.0 MiB", "4.2 GiB". With RoundUp the
// last digit is rounded up, so that a need is never shown below what it is.
std::string ByteCountText(std::int64_t Bytes, bool RoundUp = false);

// The picture file that a "customfile" layer names: CustomFolder + Name, refused with
// "Cannot open file \"%s\". %s" when Name is empty or absolute, has a ".." component or resolves outside
// the folder, so a template cannot make the program read other files.
std::string CustomFilePath(const std::string& CustomFolder, const std::string& Name);

}  // namespace quirlon::core
