#pragma once
// What each layer type puts into its layer: the preparation fills the picture bitmap before the
// warp, the finishing adjusts the finished layer (blur, brightness, opacity, visibility).
#include <cstdint>
#include <string>

#include "core/Effects.h"
#include "core/QuadWarp.h"
#include "core/Render.h"
#include "core/Template.h"

namespace quirlon::core {

// What the layers of one render read besides their own section.
struct TLayerEnvironment {
  const TRenderSettings& Settings;
  const TSlotSources& Sources;
  bool LargeDiscArea = false;
  const TShadeBitmap32List& ShadeMasks;
  std::string CustomFolder;  // ends in a separator
  imagefiles::TPictureCache& Pictures;
  std::int64_t MaxPicturePixels = imagefiles::kDefaultPicturePixels;
  // The true proportions of each slot's face, for the fit of its picture.
  TSlotAspects FaceAspects{};
  TPreparedPictures* Prepared = nullptr;  // see TRenderRequest
};

struct TLayerContext {
  TLayerType Type = ltUnknown;
  std::string Source;
  int Slot = -1;                       // -1 when the source names no slot
  raster::TPoint A, B, C, D;           // canvas pixels
  TQuadCorners Precise;                // the same corners before rounding to whole pixels
  bool Overscan = true;
  TLayerLook Look;        // the layer's optional keys
  double FitScale = 1.0;  // canvas pixels per template unit
  // Set by the driver after the warp: outside it the layer's pixels are 0 (transparent black).
  raster::TRect Content;
  // Set by the preparation when a slot's picture met a face of known proportions (Slot 0: did not).
  TArtFit Fit;
};

// Bytes the preparation of Layer takes besides the canvas-sized picture, target and edge mask:
// the artwork of a disc (|B.X - A.X| x |D.Y - A.Y| pixels) and its copy in the picture bitmap.
// 0 for other types and for a disc the drawing refuses, whose error comes when it is built.
std::int64_t PreparationExtraBytes(const TLayerContext& Layer);

// Fills Picture by the layer's type; may clear Overscan and set Target's MasterAlpha. Target is
// left transparent black at the canvas size.
void PrepareLayer(TLayerContext& Layer, raster::TBitmap32& Picture, raster::TBitmap32& Target,
                  const raster::TBitmap32& Canvas, const TLayerEnvironment& Env);
// Whether PrepareLayer gives Picture a size of its own (a file's, a mask's, an artwork's), so that
// Picture need not be made canvas-sized (and cleared) first.
bool PictureTakesItsOwnSize(const TLayerContext& Layer, const TLayerEnvironment& Env);
// Blur, brightness and opacity of shadow and reflection-kind layers; returns where the finished
// layer can be non-zero.
raster::TRect FinishLayer(const TLayerContext& Layer, raster::TBitmap32& Bitmap, const TLayerEnvironment& Env);
// Whether the settings show a finished layer of this type.
bool ShownBySettings(TLayerType Type, const TRenderSettings& Settings);

// A slot's picture (file or decoded; Bitmap takes its size) or its colour (opaque, keeping Bitmap's
// size).
void FillFromSlot(raster::TBitmap32& Bitmap, int Slot, const TLayerEnvironment& Env);
// A slot's picture into Bitmap; the slot must not use a colour.
void LoadSlotPicture(raster::TBitmap32& Bitmap, const TSlotSource& Source, imagefiles::TPictureCache& Pictures,
                     std::int64_t MaxPixels);

}  // namespace quirlon::core
