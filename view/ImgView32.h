#pragma once
// The image view as a model without a window: a canvas bitmap, the layer stack over it and the
// paint stages that say what is drawn and in which order. The same stages paint the preview into
// ScreenBuffer (scaled to fit the viewport) and flatten the picture into any bitmap (PaintInto).
//
// A window toolkit drives it like this: SetViewportSize with the control's size; on OnInvalidate
// schedule a repaint of the control; when painting, call UpdateScreenBuffer and copy the
// ViewportRect part of ScreenBuffer to the screen (the buffer may be larger than the viewport),
// ignoring alpha as a plain blit does (QImage::Format_RGB32 over the same memory).
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Layers.h"

namespace quirlon::view {

// The raster engine's types this layer builds on.
using raster::kFixedOne;
using raster::kLayerVisible;
using raster::TBitmap32;
using raster::TColor;
using raster::TColor32;
using raster::TCustomLayer;
using raster::TFixed16;
using raster::TLayerCollection;
using raster::TNotifyEvent;
using raster::TObject;
using raster::TPersistent;
using raster::TPoint;
using raster::TRect;


// Stage kinds.
inline constexpr std::uint32_t StageCustom = 1;           // raises OnPaintStage
inline constexpr std::uint32_t StageClearBuffer = 2;      // the whole buffer in the view's colour
inline constexpr std::uint32_t StageClearBackground = 3;  // the buffer outside PictureRect
inline constexpr std::uint32_t StageDrawBitmap = 4;       // the canvas into PictureRect
inline constexpr std::uint32_t StageDrawLayers = 5;       // layers sharing a bit with Parameter
inline constexpr std::uint32_t StageControlFrame = 6;     // platform focus frame: nothing here
inline constexpr std::uint32_t StageBitmapFrame = 7;      // platform focus frame: nothing here

struct TPaintStage {
  bool RunTime = true;
  std::uint32_t Stage = 0;
  std::uint32_t Parameter = 0;
};

// The view's stage list. Entries stay at their address while the list grows.
class TPaintStages : public TObject {
public:
  std::string ClassName() const override { return "TPaintStages"; }
  // Appends an entry (RunTime true, Stage 0, Parameter 0) for the caller to fill.
  TPaintStage& AddStage();
  // Throws EListError "List index out of bounds (%d)" outside 0 .. Count - 1.
  TPaintStage& StageAt(std::int32_t Index);
  const TPaintStage& StageAt(std::int32_t Index) const;
  std::int32_t Count() const { return static_cast<std::int32_t>(fStages.size()); }
  void Clear() { fStages.clear(); }

private:
  std::deque<TPaintStage> fStages;
};

enum TBitmapAlign : std::uint8_t { baTopLeft, baCenter };
enum TScaleMode : std::uint8_t { smNormal, smOptimal };
enum TRepaintMode : std::uint8_t { rmFull, rmOptimizer };

class TCustomImage32;
using TPaintStageEvent = std::function<void(TCustomImage32& Sender, TBitmap32& Buffer, std::uint32_t StageNum)>;
using TInvalidateEvent = std::function<void()>;

// The drawable control: its size, the screen buffer and the repaint bookkeeping.
class TCustomPaintBox32 : public TObject {
public:
  TCustomPaintBox32();
  ~TCustomPaintBox32() override;
  TCustomPaintBox32(const TCustomPaintBox32&) = delete;
  TCustomPaintBox32& operator=(const TCustomPaintBox32&) = delete;
  std::string ClassName() const override { return "TCustomPaintBox32"; }

  // The control's size (negative values count as 0). Grows ScreenBuffer when needed and
  // invalidates the picture.
  void SetViewportSize(std::int32_t Width, std::int32_t Height);
  std::int32_t ControlWidth() const { return fControlWidth; }
  std::int32_t ControlHeight() const { return fControlHeight; }
  // The drawable area of the control.
  virtual TRect ViewportRect() const;

  // The preview as last painted. At least ViewportRect in size, with 40 pixels to spare in each
  // direction once it has had to grow.
  TBitmap32& ScreenBuffer() { return fBuffer; }
  const TBitmap32& ScreenBuffer() const { return fBuffer; }

  TRepaintMode RepaintMode() const { return fRepaintMode; }
  virtual void SetRepaintMode(TRepaintMode Value);

  // Marks the buffer out of date and raises OnInvalidate (the toolkit schedules a paint).
  void Invalidate();
  bool BufferValid() const { return fBufferValid; }
  // Repaints ScreenBuffer when it is out of date; returns it for copying to the screen.
  TBitmap32& UpdateScreenBuffer();
  // Repaints ScreenBuffer now, whole.
  void Repaint();

  TInvalidateEvent OnInvalidate;

protected:
  // Runs the drawing into ScreenBuffer.
  virtual void DoPaintBuffer() {}
  // The control's size changed.
  virtual void Resized() {}
  void MarkBufferInvalid() { fBufferValid = false; }
  // Switches the mode without asking for a repaint.
  void SetRepaintModeQuietly(TRepaintMode Value) { fRepaintMode = Value; }

private:
  void ResizeBuffer();

  TBitmap32 fBuffer;
  std::int32_t fControlWidth = 0;
  std::int32_t fControlHeight = 0;
  TRepaintMode fRepaintMode = rmFull;
  bool fBufferValid = false;
};

// The canvas with its layers and paint stages, its scaling into the viewport and flattening.
class TCustomImage32 : public TCustomPaintBox32 {
public:
  TCustomImage32();
  ~TCustomImage32() override;
  std::string ClassName() const override { return "TCustomImage32"; }

  // The canvas. The view listens to its OnResize and OnAreaChanged (do not reassign them).
  TBitmap32& Bitmap() { return fBitmap; }
  const TBitmap32& Bitmap() const { return fBitmap; }
  TLayerCollection& Layers() { return fLayers; }
  const TLayerCollection& Layers() const { return fLayers; }
  TPaintStages& PaintStages() { return fPaintStages; }
  const TPaintStages& PaintStages() const { return fPaintStages; }

  TBitmapAlign BitmapAlign() const { return fBitmapAlign; }
  void SetBitmapAlign(TBitmapAlign Value);
  TScaleMode ScaleMode() const { return fScaleMode; }
  virtual void SetScaleMode(TScaleMode Value);
  float Scale() const { return fScale; }
  void SetScale(float Value);
  // The control's colour, used by the clearing stages only.
  TColor Color() const { return fColor; }
  void SetColor(TColor Value);

  // Preview geometry: the canvas size as shown, and where (the picture is centred with
  // baCenter; with smOptimal it is shrunk to fit, never enlarged).
  TPoint PictureSize() const;  // X = width, Y = height
  TRect PictureRect() const;

  // The picture cache (PictureRect, 16.16 scales, shifts, reverse scales), recomputed on demand.
  void UpdateCache();
  bool CacheValid() const { return fCacheValid; }
  TRect CachedPictureRect() { UpdateCache(); return fCachedPictureRect; }
  TFixed16 CachedScaleX() { UpdateCache(); return fCachedScaleX; }
  TFixed16 CachedScaleY() { UpdateCache(); return fCachedScaleY; }
  std::int32_t CachedShiftX() { UpdateCache(); return fCachedShiftX; }
  std::int32_t CachedShiftY() { UpdateCache(); return fCachedShiftY; }
  TFixed16 CachedRecScaleX() { UpdateCache(); return fCachedRecScaleX; }
  TFixed16 CachedRecScaleY() { UpdateCache(); return fCachedRecScaleY; }

  // Runs the run-time stages into Dest with the canvas mapped onto DestRect. Dest is not cleared
  // first. The custom stages of the preview draw into ScreenBuffer, never into Dest. Errors from
  // drawing leave through the final step, which restores the view's state.
  void PaintInto(TBitmap32& Dest, const TRect& DestRect);
  bool PaintingInto() const { return fPaintingInto; }

  // Sizes the canvas to ViewportRect and, when ClearFlag is set, clears it with ClearColor.
  void FitBitmapToView(bool ClearFlag, TColor32 ClearColor);

  // The view's change event; between the outermost BeginUpdate and EndUpdate it is held back
  // (EndUpdate sends nothing).
  virtual void BeginUpdate() { ++fUpdateCount; }
  virtual void EndUpdate() { if (fUpdateCount > 0) --fUpdateCount; }
  virtual void Changed();
  std::int32_t UpdateCount() const { return fUpdateCount; }

  TPaintStageEvent OnPaintStage;
  TNotifyEvent OnChange;
  TNotifyEvent OnInitStages;

protected:
  void DoPaintBuffer() override;
  void Resized() override;
  virtual void BitmapResized();
  virtual void BitmapAreaChanged(const TRect& Area, std::uint32_t Info);
  virtual void InitDefaultStages();
  void InvalidateCache() { fCacheValid = false; }

  // Runs stage StageNum of the list into Buffer by its kind.
  void ExecStage(TBitmap32& Buffer, std::int32_t StageNum);
  virtual void ExecBitmapFrame(TBitmap32& Dest, std::int32_t StageNum) { (void)Dest, (void)StageNum; }
  virtual void ExecClearBuffer(TBitmap32& Dest, std::int32_t StageNum);
  virtual void ExecClearBackground(TBitmap32& Dest, std::int32_t StageNum);
  virtual void ExecControlFrame(TBitmap32& Dest, std::int32_t StageNum) { (void)Dest, (void)StageNum; }
  virtual void ExecCustom(TBitmap32& Dest, std::int32_t StageNum);
  virtual void ExecDrawBitmap(TBitmap32& Dest, std::int32_t StageNum);
  virtual void ExecDrawLayers(TBitmap32& Dest, std::int32_t StageNum);

private:
  void RunStages(TBitmap32& Buffer);

  TBitmap32 fBitmap;
  TPaintStages fPaintStages;
  TBitmapAlign fBitmapAlign = baTopLeft;
  TScaleMode fScaleMode = smNormal;
  float fScale = 1.0f;
  TColor fColor = static_cast<TColor>(0xFF00000Fu);  // the button-face system colour
  // Picture cache.
  TRect fCachedPictureRect{};
  TFixed16 fCachedScaleX = kFixedOne, fCachedScaleY = kFixedOne;
  std::int32_t fCachedShiftX = 0, fCachedShiftY = 0;
  TFixed16 fCachedRecScaleX = kFixedOne, fCachedRecScaleY = kFixedOne;
  bool fCacheValid = false;
  bool fPaintingInto = false;
  std::int32_t fUpdateCount = 0;
  // Last, so that it goes first: its layers may still report while being freed.
  TLayerCollection fLayers;
};

// Adds the scroll bars of a scrolling view. With smOptimal the picture always fits, so they never
// show and the whole control is drawable.
class TCustomImgView32 : public TCustomImage32 {
public:
  std::string ClassName() const override { return "TCustomImgView32"; }
  TRect ViewportRect() const override;
};

// The view as the program's window configures it: picture centred (baCenter), shrunk to fit
// (smOptimal, Scale 1), repainting by damaged areas (rmOptimizer), canvas DrawMode dmBlend.
class TImgView32 : public TCustomImgView32 {
public:
  TImgView32();
  std::string ClassName() const override { return "TImgView32"; }
};

// The two custom stages of the preview. Both draw into View's ScreenBuffer, clipped to its ClipRect.
// An 8-pixel checkerboard over ViewportRect, grey 0xFFB0B0B0 at the top-left, else white.
void PaintCheckerboard(TCustomImage32& View);
// A one-pixel opaque black outline along the edges of ViewportRect.
void PaintFrame(TCustomImage32& View);

// The preview's OnPaintStage handler: the stage's Parameter 1 paints the checkerboard, 2 the
// frame; anything else nothing. Buffer is not used.
void ImgViewPaintStage(TCustomImage32& Sender, TBitmap32& Buffer, std::uint32_t StageNum);

// The start-up configuration of the preview view: canvas fitted to the view and cleared to 0,
// canvas DrawMode dmTransparent with OuterColor 0, no layers, stage 0 the checkerboard, an
// appended stage for the frame, and ImgViewPaintStage as OnPaintStage.
void ConfigurePreviewView(TCustomImage32& View);

}  // namespace quirlon::view
