#pragma once
// The render driver: rebuilds the view's canvas and layer stack from the current template and
// the render settings. Every call starts from scratch; nothing of an earlier render is reused.
// Errors are not caught: they leave at once, and what was built before them stays.
#include <cstdint>
#include <string>
#include <vector>

#include "core/Effects.h"
#include "core/Platform.h"
#include "core/RenderSettings.h"
#include "core/Template.h"
#include "imagefiles/Picture.h"
#include "raster/ImgView32.h"

namespace quirlon::core {

// Limits a render checks before it allocates: the window and the command line ask for 32..2048
// pixels a side, so these only stop sizes that would exhaust memory. The memory a template needs
// is checked against the environment's MemoryBudget (TemplateMemoryNeed).
inline constexpr std::int32_t kMaxCanvasSide = 16384;
inline constexpr std::int64_t kMaxCanvasPixels = 64LL * 1024 * 1024;
inline constexpr std::int64_t kMaxTemplateFileSize = 1024 * 1024;
inline constexpr const char* kCanvasTooLarge = "Canvas is too large (%d x %d)";
inline constexpr const char* kTemplateTooLarge = "Template file \"%s\" is too large (%lld bytes; at most 1 MiB)";
inline constexpr const char* kNotATemplate = "Template \"%s\" is not a template file";
inline constexpr const char* kTemplateNeedsTooMuchMemory =
    "Template \"%s\" needs %s of memory at %d x %d pixels (%d layers), more than the %s a render may take";

// What a render reads besides the view: the settings record, the source files, the list of layer
// kinds it fills, the built-in masks, and where templates and "customfile" pictures live. The
// window owns one (over the process-wide records); tests and the command line may make their own.
struct TRenderEnvironment {
  TRenderSettings* Settings = &RenderSettings;
  TSourceFiles* Sources = &SourceFiles;
  TLayerKinds* LayerKinds = nullptr;           // required
  const TShadeBitmap32List* ShadeMasks = nullptr;  // required, built
  std::string TemplatesFolder;                 // ends in a separator
  std::string CustomFolder;                    // ends in a separator
  // The selection of the window's hidden resampler and kernel lists.
  std::string ResamplerClassName = "TLinearResampler";
  std::string KernelClassName = "TBoxKernel";
  // Decoded source pictures kept between loads (the window keeps one across renders). Without one,
  // ApplyTemplate keeps them for the render it runs, so a face and its reflection decode once.
  imagefiles::TPictureCache* Pictures = nullptr;
  // The most memory, in bytes, that the layers of one render may take (TemplateMemoryNeed).
  std::int64_t MemoryBudget = MachineMemoryBudget();

  // Folders beside the running executable: "Templates/" and "custom/".
  static TRenderEnvironment BesideExecutable(TLayerKinds& Kinds, const TShadeBitmap32List& Masks);
};

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

// Rebuilds View's canvas at Width x Height from the settings and template CurrentTemplate.
// A canvas beyond kMaxCanvasSide or kMaxCanvasPixels raises EOutOfResources(kCanvasTooLarge)
// before anything changes.
void ApplyTemplate(raster::TCustomImage32& View, std::int32_t Width, std::int32_t Height, TRenderEnvironment& Env);
// Fills the canvas with the background colour, or adds the background picture layer.
void BuildBackgroundLayer(raster::TCustomImage32& View, TRenderEnvironment& Env);
// Reads the template at Path and adds its layers to View. Before LayerKinds is touched or any
// layer is built, it refuses:
//   a file that cannot be read (a FIFO, a device, a dangling link, no permission):
//     EFOpenError("Cannot open file \"%s\". %s") with the reason;
//   a file over kMaxTemplateFileSize: EFOpenError(kTemplateTooLarge);
//   a file without an [Image] section or without any key: EFOpenError(kNotATemplate);
//   a template that needs more than Env.MemoryBudget: EOutOfResources(kTemplateNeedsTooMuchMemory).
void BuildTemplateLayers(const std::string& Path, raster::TCustomImage32& View, TRenderEnvironment& Env);

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
