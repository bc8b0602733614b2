#include "core/LayerTypes.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/DiscArtwork.h"
#include "core/Effects.h"
#include "core/LayerCache.h"
#include "core/QuadWarp.h"
#include "imagefiles/Picture.h"
#include "raster/ExpBlur.h"
#include "raster/Numeric.h"

namespace quirlon::core {

using raster::TBitmap32;

namespace {

constexpr int kDiagonalMask = 0;
constexpr int kVerticalMask = 1;
constexpr int kFlatMask = 2;
constexpr int kRoundRectMask = 4;

bool DrawsFromSlot(TLayerType t) { return LayerTypeInfo(t).DrawsFromSlot; }
bool IsHighlight(TLayerType t) { return LayerTypeInfo(t).Highlight; }

// |a - b| without overflow; a distance beyond int32 saturates, so the artwork is refused as too
// large instead of wrapping to a negative size.
std::int32_t CornerDistance(std::int32_t a, std::int32_t b) {
  const std::int64_t d = std::llabs(static_cast<std::int64_t>(a) - b);
  return static_cast<std::int32_t>(std::min<std::int64_t>(d, INT32_MAX));
}

std::int32_t DiscArtworkWidth(const TLayerContext& Layer) { return CornerDistance(Layer.B.X, Layer.A.X); }
std::int32_t DiscArtworkHeight(const TLayerContext& Layer) { return CornerDistance(Layer.D.Y, Layer.A.Y); }

// A rounded rectangle with its own outline (the "edge" key) is drawn at the size its quadrilateral
// takes on the canvas: its longer top or bottom edge by its longer side, within reason.
void BuildQuadSizedRoundRectMask(const TLayerContext& Layer, TBitmap32& Mask) {
  auto length = [](raster::TPoint p, raster::TPoint q) {
    return std::hypot(static_cast<double>(q.X) - p.X, static_cast<double>(q.Y) - p.Y);
  };
  constexpr double kLeast = 16, kMost = 4096;
  const double w = std::clamp(std::max(length(Layer.A, Layer.B), length(Layer.D, Layer.C)), kLeast, kMost);
  const double h = std::clamp(std::max(length(Layer.A, Layer.D), length(Layer.B, Layer.C)), kLeast, kMost);
  BuildRoundRectMaskAt(Mask, static_cast<std::int32_t>(std::ceil(w)), static_cast<std::int32_t>(std::ceil(h)),
                       *Layer.Look.Edge);
}

void ResizeToCanvas(TBitmap32& Target, const TBitmap32& Canvas) {
  Target.Clear(0);
  Target.SetSizeFrom(&Canvas);
}

void Fade(TBitmap32& Picture, const TRenderSettings& s, const TLayerLook& Look) {
  if (!s.FadeReflection) return;
  if (Look.FadeCurve) FadeAlphaCurve(Picture, s.ReflectionLength, *Look.FadeCurve);
  else FadeAlphaRamp(Picture, s.ReflectionLength);
}

// A setting of 0..255 times the layer's opacity key, when it has one.
std::uint32_t Scaled(std::uint32_t Setting, const TLayerLook& Look) {
  return Look.Opacity ? static_cast<std::uint32_t>(Round(Setting * static_cast<Extended>(*Look.Opacity))) : Setting;
}

// A blur setting in pixels; with the layer's blur key, that factor of it in template units.
std::int32_t BlurRadius(std::int32_t Setting, const TLayerContext& Layer) {
  if (!Layer.Look.Blur) return Setting;
  return Round(Setting * static_cast<Extended>(*Layer.Look.Blur) * static_cast<Extended>(Layer.FitScale));
}

// P becomes Colour with Mask's grey levels as alpha, turned as Dir turns a shading (a quarter turn
// clockwise for left, a half turn for top, a quarter turn counter-clockwise for right): the pixels
// that filling, MaskToAlpha and the turn in place would leave.
void FillTurnedShade(TBitmap32& P, const TBitmap32& Mask, raster::TColor32 Colour, TShadingDirection Dir) {
  enum { kNone, kClockwise, kHalf, kCounter } turn = kNone;
  switch (Dir) {
    case sdLeftTop:
    case sdLeft: turn = kClockwise; break;
    case sdRightTop:
    case sdTop: turn = kHalf; break;
    case sdRightDown:
    case sdRight: turn = kCounter; break;
    default: break;
  }
  const std::int32_t w = Mask.Width(), h = Mask.Height();
  const bool quarter = turn == kClockwise || turn == kCounter;
  P.SetSize(quarter ? h : w, quarter ? w : h);
  const raster::TColor32 rgb = Colour & 0x00FFFFFFu;
  for (std::int32_t y = 0; y < h; ++y) {
    const raster::TColor32* row = Mask.ScanLine(y);
    for (std::int32_t x = 0; x < w; ++x) {
      const raster::TColor32 pixel = rgb | static_cast<raster::TColor32>(raster::Intensity(row[x])) << 24;
      switch (turn) {
        case kNone: P.PixelRef(x, y) = pixel; break;
        case kClockwise: P.PixelRef(h - 1 - y, x) = pixel; break;
        case kHalf: P.PixelRef(w - 1 - x, h - 1 - y) = pixel; break;
        case kCounter: P.PixelRef(y, w - 1 - x) = pixel; break;
      }
    }
  }
  P.Changed();
}

void PrepareShading(const TLayerContext& Layer, TBitmap32& P, TBitmap32& T, const TBitmap32& Canvas,
                    const TLayerEnvironment& Env) {
  const TRenderSettings& s = Env.Settings;
  const TShadingDirection dir = ShadingDirectionFromText(Layer.Source);
  int n = kVerticalMask;
  if (dir == sdLeftDown || dir == sdLeftTop || dir == sdRightTop || dir == sdRightDown) n = kDiagonalMask;
  else if (dir == sdRightLeftTopDown) n = kFlatMask;
  const TBitmap32& mask = Env.ShadeMasks.BitmapAt(n);
  const TBitmap32& roundRect = Env.ShadeMasks.BitmapAt(kRoundRectMask);

  const raster::TColor32 colour = raster::Color32(IsHighlight(Layer.Type) ? s.HighlightColor : s.ShadingColor);
  const bool rounded = Layer.Type == ltRoundRectShade || Layer.Type == ltRoundRectHighlight;
  if (!rounded) {
    // The colour with the mask's grey levels as alpha, already turned: one pass, no second bitmap.
    FillTurnedShade(P, mask, colour, dir);
    P.SetMasterAlpha(Scaled(IsHighlight(Layer.Type) ? s.HighlightStrength : s.ShadingStrength, Layer.Look));
    if (Layer.Type == ltBlurShade || Layer.Type == ltBlurHighlight) {
      P.MirrorVertical();
      Fade(P, s, Layer.Look);
    }
    return;
  }
  P.SetSizeFrom(&mask);
  P.Clear(colour);
  MaskToAlpha(mask, P);

  auto turn = [&] {
    switch (dir) {
      case sdLeftTop:
      case sdLeft: P.RotateClockwise(); break;
      case sdRightTop:
      case sdTop: P.RotateHalfTurn(); break;
      case sdRightDown:
      case sdRight: P.RotateCounterClockwise(); break;
      default: break;
    }
  };
  // With its own outline the gradient turns first, so the outline is cut the way the face's is.
  const bool ownOutline = rounded && Layer.Look.Edge;
  if (ownOutline) turn();
  if (rounded) {
    TBitmap32 outline;
    if (ownOutline) BuildQuadSizedRoundRectMask(Layer, outline);
    const TBitmap32& edge = ownOutline ? outline : roundRect;
    T.SetSizeFrom(&P);
    T.Draw(T.BoundsRect(), P.BoundsRect(), &P);
    P.SetSizeFrom(&edge);
    P.Draw(P.BoundsRect(), T.BoundsRect(), &T);
    ResizeToCanvas(T, Canvas);
    ApplyEdgeMask(P, edge);
  }

  P.SetMasterAlpha(Scaled(IsHighlight(Layer.Type) ? s.HighlightStrength : s.ShadingStrength, Layer.Look));

  if (!ownOutline) turn();

  if (Layer.Type == ltBlurShade || Layer.Type == ltBlurHighlight) {
    P.MirrorVertical();
    Fade(P, s, Layer.Look);
  }
}

}  // namespace

void LoadSlotPicture(TBitmap32& Bitmap, const TSlotSource& Source, imagefiles::TPictureCache& Pictures,
                     std::int64_t MaxPixels) {
  if (Source.Kind == TSlotSource::TKind::Picture && Source.Picture != nullptr)
    imagefiles::Assign(Bitmap, Source.Picture);
  else
    imagefiles::LoadFromFile(Bitmap, Source.File, Pictures, MaxPixels);
}

void FillFromSlot(TBitmap32& Bitmap, int Slot, const TLayerEnvironment& Env) {
  const TSlotSource& source = Env.Sources[static_cast<std::size_t>(Slot - 1)];
  if (source.UsesColour()) Bitmap.Clear(raster::Color32(source.Colour));
  else LoadSlotPicture(Bitmap, source, Env.Pictures, Env.MaxPicturePixels);
}

namespace {

// The slot's picture (or colour) fitted to the proportions of its face, noting what was found.
void FillFittedFromSlot(TBitmap32& Bitmap, TLayerContext& Layer, const TLayerEnvironment& Env) {
  FillFromSlot(Bitmap, Layer.Slot, Env);
  const std::size_t slot = static_cast<std::size_t>(Layer.Slot - 1);
  const double face = Env.FaceAspects[slot];
  if (Env.Sources[slot].UsesColour() || !(face > 0) || Bitmap.Width() <= 0 || Bitmap.Height() <= 0) return;
  Layer.Fit.Slot = Layer.Slot;
  Layer.Fit.ArtAspect = static_cast<double>(Bitmap.Width()) / Bitmap.Height();
  Layer.Fit.FaceAspect = face;
  Layer.Fit.Mode = EffectiveFitMode(Env.Settings.Fit, Env.Settings.Sampling);
  FitPictureToAspect(Bitmap, Layer.Fit.Mode, face);
}

}  // namespace

void PrepareLayer(TLayerContext& Layer, TBitmap32& P, TBitmap32& T, const TBitmap32& Canvas,
                  const TLayerEnvironment& Env) {
  const TRenderSettings& s = Env.Settings;
  // A slot-drawing type whose source names no slot shows nothing, like an unknown type.
  if (DrawsFromSlot(Layer.Type) && Layer.Slot < 0) return;

  switch (Layer.Type) {
    case ltNormal:
    case ltReflection: {
      const std::size_t slot = static_cast<std::size_t>(Layer.Slot - 1);
      // Only pictures are worth keeping: a colour is a canvas-sized block that takes longer to hold
      // than to fill.
      TPreparedPictures* const prepared = Env.Sources[slot].UsesColour() ? nullptr : Env.Prepared;
      TPreparedPictures::TKey key;
      if (prepared != nullptr) {
        key = TPreparedPictures::TKey{Layer.Type, Layer.Slot, Env.Sources[slot], s, Env.FaceAspects[slot], Layer.Look};
        if (prepared->Take(key, P, Layer.Fit)) break;
      }
      try {
        FillFittedFromSlot(P, Layer, Env);
        if (Layer.Type == ltReflection) {
          if (!Env.Sources[slot].UsesColour()) P.MirrorVertical();
          Fade(P, s, Layer.Look);
        }
      } catch (...) {
        if (prepared != nullptr) prepared->Abandon(key);
        throw;
      }
      if (prepared != nullptr) prepared->Keep(key, P, Layer.Fit);
      break;
    }

    case ltRoundRect: {
      // With its own outline the picture keeps the layer's size: shrunk to the mask's 326 pixels
      // first, it would come out soft however sharp the outline.
      TBitmap32 outline;
      if (Layer.Look.Edge) BuildQuadSizedRoundRectMask(Layer, outline);
      const TBitmap32& roundRect = Layer.Look.Edge ? outline : Env.ShadeMasks.BitmapAt(kRoundRectMask);
      FillFittedFromSlot(T, Layer, Env);
      P.SetSizeFrom(&roundRect);
      P.Draw(P.BoundsRect(), T.BoundsRect(), &T);
      ResizeToCanvas(T, Canvas);
      MaskToAlpha(roundRect, P);
      break;
    }

    case ltDisc:
    case ltDiscReflection: {
      const std::int32_t w = DiscArtworkWidth(Layer);
      const std::int32_t h = DiscArtworkHeight(Layer);
      CheckDiscArtworkSize(w, h);  // before the slot's picture is even loaded
      FillFittedFromSlot(T, Layer, Env);
      std::unique_ptr<TBitmap32> artwork =
          Env.LargeDiscArea ? DrawLargeDiscArtwork(T, w, h) : DrawDiscArtwork(T, w, h);
      ResizeToCanvas(T, Canvas);
      // Only the artwork's size and pixels: P keeps its blend settings and nearest resampler, which
      // decide how the warp combines the translucent hub.
      artwork->CopyContentTo(P);
      P.Changed();
      artwork.reset();
      if (Layer.Type == ltDiscReflection) {
        P.MirrorVertical();
        Fade(P, s, Layer.Look);
      }
      Layer.Overscan = false;
      break;
    }

    case ltShadow:
      if (Layer.Look.Fade || Layer.Look.Soften) {
        // A graded shadow: the picture carries the fade and the widening edges; nothing of it
        // may be cut away by the overscan.
        DrawFloorShadow(P, raster::Color32(s.ShadowColor), Layer.Look.Fade.value_or(0), Layer.Look.Soften.value_or(0),
                        Layer.Look.BendX.value_or(0), Layer.Look.BendY.value_or(0));
        Layer.Overscan = false;
      } else {
        P.Clear(raster::Color32(s.ShadowColor));
      }
      T.SetMasterAlpha(Scaled(s.ShadowDensity, Layer.Look));
      break;

    case ltShade:
    case ltBlurShade:
    case ltHighlight:
    case ltBlurHighlight:
    case ltRoundRectShade:
    case ltRoundRectHighlight: PrepareShading(Layer, P, T, Canvas, Env); break;

    case ltCustomFile: imagefiles::LoadFromFile(P, CustomFilePath(Env.CustomFolder, Layer.Source), Env.Pictures, Env.MaxPicturePixels);
      break;

    case ltCustomColor:
    case ltCustomColorReflection:
      P.Clear(raster::Color32(StringToColor(Layer.Source)));
      if (Layer.Type == ltCustomColorReflection) Fade(P, s, Layer.Look);
      break;

    case ltUnknown: break;
  }
}

std::int64_t PreparationExtraBytes(const TLayerContext& Layer) {
  if ((Layer.Type != ltDisc && Layer.Type != ltDiscReflection) || Layer.Slot < 0) return 0;
  const std::int32_t w = DiscArtworkWidth(Layer);
  const std::int32_t h = DiscArtworkHeight(Layer);
  if (w > kMaxDiscSide || h > kMaxDiscSide) return 0;
  return 2 * std::int64_t(w) * h * 4;
}

bool PictureTakesItsOwnSize(const TLayerContext& Layer, const TLayerEnvironment& Env) {
  // A slot-drawing type whose source names no slot leaves the picture as it is.
  if (DrawsFromSlot(Layer.Type) && Layer.Slot < 0) return false;
  if (LayerTypeInfo(Layer.Type).Shading) return true;  // a mask's size
  switch (Layer.Type) {
    case ltCustomFile:
    case ltRoundRect:  // the mask's size
    case ltDisc:
    case ltDiscReflection: return true;  // the artwork's size
    case ltShadow: return Layer.Look.Fade || Layer.Look.Soften;  // a graded shadow's own square
    case ltNormal:
    case ltReflection: return !Env.Sources[static_cast<std::size_t>(Layer.Slot - 1)].UsesColour();
    default: return false;
  }
}

raster::TRect FinishLayer(const TLayerContext& Layer, TBitmap32& Bitmap, const TLayerEnvironment& Env) {
  const TRenderSettings& s = Env.Settings;
  raster::TRect content = Layer.Content;
  if (DrawsFromSlot(Layer.Type) && Layer.Slot < 0) return content;
  switch (LayerTypeInfo(Layer.Type).Switch) {
    case TLayerSwitch::Shadows: content = raster::ExpBlur(Bitmap, BlurRadius(s.ShadowBlur, Layer), content); break;
    case TLayerSwitch::Reflections: {
      const std::int32_t radius = BlurRadius(s.ReflectionBlur, Layer);
      if (Layer.Look.BlurGrow && *Layer.Look.BlurGrow > 0 && radius > 0) {
        const std::int32_t far = Round(radius * (1.0L + static_cast<Extended>(*Layer.Look.BlurGrow)));
        content = GrowingBlur(Bitmap, radius, far, content, Layer.A, Layer.B, Layer.C, Layer.D);
      } else {
        content = raster::ExpBlur(Bitmap, radius, content);
      }
      ShiftBrightness(Bitmap, s.ReflectionBrightness, content);
      // A mirrored shade or highlight took its opacity key as its strength already.
      Bitmap.SetMasterAlpha(LayerTypeInfo(Layer.Type).Shading ? s.ReflectionOpacity
                                                              : Scaled(s.ReflectionOpacity, Layer.Look));
      break;
    }
    case TLayerSwitch::None: break;
  }
  return content;
}

bool ShownBySettings(TLayerType Type, const TRenderSettings& Settings) {
  switch (LayerTypeInfo(Type).Switch) {
    case TLayerSwitch::Shadows: return Settings.ShowShadow;
    case TLayerSwitch::Reflections: return Settings.ShowReflection;
    case TLayerSwitch::None: return true;
  }
  return true;
}

}  // namespace quirlon::core
