#pragma once
// What each layer type puts into its layer: the preparation fills the picture bitmap before the
// warp, the finishing adjusts the finished layer (blur, brightness, opacity, visibility).
#include <cstdint>
#include <string>

#include "core/Render.h"
#include "core/Template.h"
#include "raster/Layers.h"

namespace quirlon::core {

struct TLayerContext {
  TLayerType Type = ltUnknown;
  std::string Source;
  int Slot = -1;                       // -1 when the source names no slot
  raster::TPoint A, B, C, D;           // canvas pixels
  bool Overscan = true;
  // Set by the driver after the warp: outside it the layer's pixels are 0 (transparent black).
  raster::TRect Content;
};

// Bytes the preparation of Layer takes besides the canvas-sized picture, target and edge mask:
// the artwork of a disc (|B.X - A.X| x |D.Y - A.Y| pixels) and its copy in the picture bitmap.
// 0 for other types and for a disc the drawing refuses, whose error comes when it is built.
std::int64_t PreparationExtraBytes(const TLayerContext& Layer);

// Fills Picture by the layer's type; may clear Overscan and set Target's MasterAlpha. Target is
// left transparent black at the canvas size.
void PrepareLayer(TLayerContext& Layer, raster::TBitmap32& Picture, raster::TBitmap32& Target,
                  const raster::TBitmap32& Canvas, const TRenderEnvironment& Env);
// Whether PrepareLayer fills Picture by loading a file, which gives it the file's size.
bool PictureLoadsFromFile(const TLayerContext& Layer, const TRenderEnvironment& Env);
// Blur, brightness, opacity and visibility of shadow and reflection-kind layers.
void FinishLayer(const TLayerContext& Layer, raster::TBitmapLayer& BitmapLayer, const TRenderEnvironment& Env);

// A picture file into Bitmap, through Env.Pictures when there is one.
void LoadPicture(raster::TBitmap32& Bitmap, const std::string& FileName, const TRenderEnvironment& Env);
// A slot's colour (opaque, keeping Bitmap's size) or its picture file (Bitmap takes its size).
void FillFromSlot(raster::TBitmap32& Bitmap, int Slot, const TRenderEnvironment& Env);

}  // namespace quirlon::core
