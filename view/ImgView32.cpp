#include "view/ImgView32.h"

#include "raster/Errors.h"
#include "raster/Numeric.h"

namespace quirlon::view {

using namespace quirlon::raster;

// ---------------------------------------------------------------------------------------------
// TPaintStages

TPaintStage& TPaintStages::AddStage() { return fStages.emplace_back(); }

TPaintStage& TPaintStages::StageAt(std::int32_t Index) {
  if (Index < 0 || Index >= Count()) throw EListError(Format(kListIndexError, Index));
  return fStages[static_cast<std::size_t>(Index)];
}

const TPaintStage& TPaintStages::StageAt(std::int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(kListIndexError, Index));
  return fStages[static_cast<std::size_t>(Index)];
}

// ---------------------------------------------------------------------------------------------
// TCustomPaintBox32

namespace {
constexpr std::int32_t kBufferSpare = 40;
}

TCustomPaintBox32::TCustomPaintBox32() = default;
TCustomPaintBox32::~TCustomPaintBox32() = default;

TRect TCustomPaintBox32::ViewportRect() const { return TRect{0, 0, fControlWidth, fControlHeight}; }

void TCustomPaintBox32::SetViewportSize(std::int32_t Width, std::int32_t Height) {
  if (Width < 0) Width = 0;
  if (Height < 0) Height = 0;
  if (Width == fControlWidth && Height == fControlHeight) return;
  fControlWidth = Width;
  fControlHeight = Height;
  ResizeBuffer();
  Resized();
  Invalidate();
}

void TCustomPaintBox32::ResizeBuffer() {
  const std::int32_t w = fControlWidth, h = fControlHeight;
  const std::int32_t bw = fBuffer.Width(), bh = fBuffer.Height();
  // Grow with room to spare, so that dragging a border does not reallocate every step; give the
  // memory back once the buffer is far too large.
  const bool grow = w > bw || h > bh;
  const bool wasteful = bw > w + 2 * kBufferSpare || bh > h + 2 * kBufferSpare;
  if (grow || wasteful) {
    if (w == 0 && h == 0)
      fBuffer.SetSize(0, 0);
    else
      fBuffer.SetSize(w + kBufferSpare, h + kBufferSpare);
  }
}

void TCustomPaintBox32::SetRepaintMode(TRepaintMode Value) {
  fRepaintMode = Value;
  Invalidate();
}

void TCustomPaintBox32::Invalidate() {
  fBufferValid = false;
  if (OnInvalidate) OnInvalidate();
}

TBitmap32& TCustomPaintBox32::UpdateScreenBuffer() {
  if (!fBufferValid) Repaint();
  return fBuffer;
}

void TCustomPaintBox32::Repaint() {
  // Valid first: a change reported while painting leaves the buffer out of date again.
  fBufferValid = true;
  try {
    DoPaintBuffer();
  } catch (...) {
    fBufferValid = false;
    throw;
  }
}

// ---------------------------------------------------------------------------------------------
// TCustomImage32

TCustomImage32::TCustomImage32() : fLayers(this) {
  fBitmap.OnResize = [this](TObject*) { BitmapResized(); };
  fBitmap.OnAreaChanged = [this](TObject*, const TRect& Area, std::uint32_t Info) { BitmapAreaChanged(Area, Info); };
  // Every report from the layers makes the preview out of date; repainting whole, the damaged
  // area itself is not needed.
  fLayers.OnChange = [this](TObject*) { Changed(); };
  fLayers.OnLayerUpdated = [this](TObject*, TCustomLayer*) { Changed(); };
  fLayers.OnAreaUpdated = [this](TObject*, const TRect&, std::uint32_t) { Changed(); };
  fLayers.OnGetViewportScale = [this](float& ScaleX, float& ScaleY) {
    UpdateCache();
    ScaleX = StoreSingle(static_cast<Extended>(fCachedScaleX) / 65536.0L);
    ScaleY = StoreSingle(static_cast<Extended>(fCachedScaleY) / 65536.0L);
  };
  fLayers.OnGetViewportShift = [this](float& ShiftX, float& ShiftY) {
    UpdateCache();
    ShiftX = static_cast<float>(fCachedShiftX);
    ShiftY = static_cast<float>(fCachedShiftY);
  };
  InitDefaultStages();
}

TCustomImage32::~TCustomImage32() {
  // The canvas outlives the view's body: it must not call back into it.
  fBitmap.OnResize = nullptr;
  fBitmap.OnAreaChanged = nullptr;
  OnInvalidate = nullptr;
}

void TCustomImage32::InitDefaultStages() {
  fPaintStages.Clear();
  auto add = [this](std::uint32_t Stage, bool RunTime, std::uint32_t Parameter) {
    TPaintStage& s = fPaintStages.AddStage();
    s.RunTime = RunTime;
    s.Stage = Stage;
    s.Parameter = Parameter;
  };
  add(StageClearBackground, true, 0);
  add(StageControlFrame, false, 0);
  add(StageDrawBitmap, true, 0);
  add(StageBitmapFrame, false, 0);
  add(StageDrawLayers, true, kLayerVisible);
  if (OnInitStages) OnInitStages(this);
}

void TCustomImage32::SetBitmapAlign(TBitmapAlign Value) {
  if (Value == fBitmapAlign) return;
  fBitmapAlign = Value;
  InvalidateCache();
  Changed();
}

void TCustomImage32::SetScaleMode(TScaleMode Value) {
  if (Value == fScaleMode) return;
  fScaleMode = Value;
  InvalidateCache();
  Changed();
}

void TCustomImage32::SetScale(float Value) {
  if (Value == fScale) return;
  fScale = Value;
  InvalidateCache();
  Changed();
}

void TCustomImage32::SetColor(TColor Value) {
  if (Value == fColor) return;
  fColor = Value;
  Changed();
}

void TCustomImage32::Changed() {
  MarkBufferInvalid();
  if (fUpdateCount > 0) return;
  Invalidate();
  if (OnChange) OnChange(this);
}

void TCustomImage32::Resized() { InvalidateCache(); }

void TCustomImage32::BitmapResized() {
  InvalidateCache();
  Changed();
}

void TCustomImage32::BitmapAreaChanged(const TRect& Area, std::uint32_t Info) {
  (void)Area, (void)Info;
  Changed();
}

TPoint TCustomImage32::PictureSize() const {
  const std::int32_t bw = fBitmap.Width(), bh = fBitmap.Height();
  if (fBitmap.Empty() || ControlWidth() == 0 || ControlHeight() == 0) return TPoint{0, 0};
  const TRect vr = ViewportRect();
  const std::int32_t vw = vr.Width(), vh = vr.Height();
  TPoint size{bw, bh};
  if (fScaleMode == smOptimal) {
    if (bw > vw || bh > vh) {
      const float rx = StoreSingle(Divide(vw, bw));
      const float ry = StoreSingle(Divide(vh, bh));
      if (rx >= ry)
        size = TPoint{Round(static_cast<Extended>(bw) * ry), vh};
      else
        size = TPoint{vw, Round(static_cast<Extended>(bh) * rx)};
    }
  } else {
    size = TPoint{Round(static_cast<Extended>(bw) * fScale), Round(static_cast<Extended>(bh) * fScale)};
  }
  if (size.X < 1) size.X = 0;
  if (size.Y < 1) size.Y = 0;
  return size;
}

TRect TCustomImage32::PictureRect() const {
  const TPoint size = PictureSize();
  TRect r{0, 0, size.X, size.Y};
  if (fBitmapAlign == baCenter) {
    const std::int32_t dx = (ControlWidth() - size.X) / 2;
    const std::int32_t dy = (ControlHeight() - size.Y) / 2;
    r = TRect{r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
  }
  return r;
}

void TCustomImage32::UpdateCache() {
  if (fCacheValid) return;
  fCachedPictureRect = PictureRect();
  if (fBitmap.Empty()) {
    fCachedScaleX = fCachedScaleY = kFixedOne;
    fCachedRecScaleX = fCachedRecScaleY = kFixedOne;
    fCachedShiftX = fCachedShiftY = 0;
  } else {
    const std::int32_t pw = fCachedPictureRect.Width(), ph = fCachedPictureRect.Height();
    fCachedShiftX = fCachedPictureRect.Left;
    fCachedShiftY = fCachedPictureRect.Top;
    fCachedScaleX = MulDivRounded(pw, 65536, fBitmap.Width());
    fCachedScaleY = MulDivRounded(ph, 65536, fBitmap.Height());
    fCachedRecScaleX = MulDivRounded(fBitmap.Width(), 65536, pw);
    fCachedRecScaleY = MulDivRounded(fBitmap.Height(), 65536, ph);
  }
  fCacheValid = true;
}

void TCustomImage32::FitBitmapToView(bool ClearFlag, TColor32 ClearColor) {
  const TRect vr = ViewportRect();
  fBitmap.SetSize(vr.Width(), vr.Height());
  if (ClearFlag) fBitmap.Clear(ClearColor);
}

void TCustomImage32::RunStages(TBitmap32& Buffer) {
  for (std::int32_t i = 0; i < fPaintStages.Count(); ++i)
    if (fPaintStages.StageAt(i).RunTime) ExecStage(Buffer, i);
}

void TCustomImage32::ExecStage(TBitmap32& Buffer, std::int32_t StageNum) {
  switch (fPaintStages.StageAt(StageNum).Stage) {
    case StageCustom: ExecCustom(Buffer, StageNum); break;
    case StageClearBuffer: ExecClearBuffer(Buffer, StageNum); break;
    case StageClearBackground: ExecClearBackground(Buffer, StageNum); break;
    case StageDrawBitmap: ExecDrawBitmap(Buffer, StageNum); break;
    case StageDrawLayers: ExecDrawLayers(Buffer, StageNum); break;
    case StageControlFrame: ExecControlFrame(Buffer, StageNum); break;
    case StageBitmapFrame: ExecBitmapFrame(Buffer, StageNum); break;
    default: break;
  }
}

void TCustomImage32::DoPaintBuffer() {
  UpdateCache();
  TBitmap32& buffer = ScreenBuffer();
  buffer.BeginUpdate();
  try {
    buffer.SetClipRect(ViewportRect());
    RunStages(buffer);
  } catch (...) {
    buffer.EndUpdate();
    throw;
  }
  buffer.EndUpdate();
}

void TCustomImage32::PaintInto(TBitmap32& Dest, const TRect& DestRect) {
  const TRepaintMode savedMode = RepaintMode();
  SetRepaintModeQuietly(rmFull);
  fCachedPictureRect = DestRect;
  const std::int32_t dw = DestRect.Width(), dh = DestRect.Height();
  if (dw < 1 || dh < 1 || fBitmap.Empty()) {
    fCachedScaleX = fCachedScaleY = kFixedOne;
    fCachedRecScaleX = fCachedRecScaleY = kFixedOne;
    fCachedShiftX = fCachedShiftY = 0;
  } else {
    fCachedShiftX = DestRect.Left;
    fCachedShiftY = DestRect.Top;
    fCachedScaleX = MulDivRounded(dw, 65536, fBitmap.Width());
    fCachedScaleY = MulDivRounded(dh, 65536, fBitmap.Height());
    fCachedRecScaleX = MulDivRounded(fBitmap.Width(), 65536, dw);
    fCachedRecScaleY = MulDivRounded(fBitmap.Height(), 65536, dh);
  }
  fCacheValid = true;
  fPaintingInto = true;
  auto finish = [&] {
    fPaintingInto = false;
    fCacheValid = false;
    SetRepaintMode(savedMode);  // repaints the whole preview
  };
  try {
    RunStages(Dest);
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TCustomImage32::ExecCustom(TBitmap32& Dest, std::int32_t StageNum) {
  if (OnPaintStage) OnPaintStage(*this, Dest, static_cast<std::uint32_t>(StageNum));
}

void TCustomImage32::ExecClearBuffer(TBitmap32& Dest, std::int32_t StageNum) {
  (void)StageNum;
  Dest.Clear(Color32(fColor));
}

void TCustomImage32::ExecClearBackground(TBitmap32& Dest, std::int32_t StageNum) {
  (void)StageNum;
  UpdateCache();
  const TColor32 color = Color32(fColor);
  const TRect r = fCachedPictureRect;
  if (fBitmap.Empty() || fBitmap.DrawMode() != dmOpaque || r.IsEmpty()) {
    Dest.Clear(color);
    return;
  }
  const std::int32_t w = Dest.Width(), h = Dest.Height();
  Dest.FillRect(0, 0, w, r.Top, color);
  Dest.FillRect(0, r.Bottom, w, h, color);
  Dest.FillRect(0, r.Top, r.Left, r.Bottom, color);
  Dest.FillRect(r.Right, r.Top, w, r.Bottom, color);
}

void TCustomImage32::ExecDrawBitmap(TBitmap32& Dest, std::int32_t StageNum) {
  (void)StageNum;
  UpdateCache();
  if (fBitmap.Empty() || fCachedPictureRect.IsEmpty()) return;
  fBitmap.DrawInto(Dest, fCachedPictureRect);
}

void TCustomImage32::ExecDrawLayers(TBitmap32& Dest, std::int32_t StageNum) {
  const std::uint32_t mask = fPaintStages.StageAt(StageNum).Parameter;
  for (std::int32_t i = 0; i < fLayers.Count(); ++i) {
    TCustomLayer& layer = fLayers.LayerAt(i);
    if ((layer.OptionBits() & mask) != 0) layer.PaintLayer(Dest);
  }
}

// ---------------------------------------------------------------------------------------------
// TCustomImgView32, TImgView32

TRect TCustomImgView32::ViewportRect() const { return TCustomImage32::ViewportRect(); }

TImgView32::TImgView32() {
  SetBitmapAlign(baCenter);
  SetScaleMode(smOptimal);
  SetScale(1.0f);
  SetRepaintMode(rmOptimizer);
  Bitmap().SetDrawMode(dmBlend);
}

// ---------------------------------------------------------------------------------------------
// The preview's custom stages

namespace {
// Holds back the view's change event for the duration of a drawing routine.
class TViewUpdate {
public:
  explicit TViewUpdate(TCustomImage32& View) : fView(View) { fView.BeginUpdate(); }
  ~TViewUpdate() { fView.EndUpdate(); }
  TViewUpdate(const TViewUpdate&) = delete;
  TViewUpdate& operator=(const TViewUpdate&) = delete;

private:
  TCustomImage32& fView;
};
}  // namespace

void PaintCheckerboard(TCustomImage32& View) {
  TViewUpdate update(View);
  const TRect vr = View.ViewportRect();
  const std::int32_t columns = vr.Width() / 8, rows = vr.Height() / 8;
  TBitmap32& buffer = View.ScreenBuffer();
  for (std::int32_t r = 0; r <= rows; ++r)
    for (std::int32_t c = 0; c <= columns; ++c) {
      const std::int32_t x1 = c * 8, y1 = r * 8;
      buffer.FillRect(x1, y1, x1 + 8, y1 + 8, ((c ^ r) & 1) == 0 ? 0xFFB0B0B0u : 0xFFFFFFFFu);
    }
}

void PaintFrame(TCustomImage32& View) {
  TViewUpdate update(View);
  View.ScreenBuffer().FrameRect(View.ViewportRect(), 0xFF000000u);
}

void ImgViewPaintStage(TCustomImage32& Sender, TBitmap32& Buffer, std::uint32_t StageNum) {
  (void)Buffer;
  switch (Sender.PaintStages().StageAt(static_cast<std::int32_t>(StageNum)).Parameter) {
    case 1: PaintCheckerboard(Sender); break;
    case 2: PaintFrame(Sender); break;
    default: break;
  }
}

void ConfigurePreviewView(TCustomImage32& View) {
  View.FitBitmapToView(true, 0);
  View.Bitmap().SetDrawMode(dmTransparent);
  View.Bitmap().SetOuterColor(0);
  View.Layers().Clear();
  TPaintStage& checkerboard = View.PaintStages().StageAt(0);
  checkerboard.Stage = StageCustom;
  checkerboard.Parameter = 1;
  TPaintStage& frame = View.PaintStages().AddStage();
  frame.Stage = StageCustom;
  frame.Parameter = 2;
  View.OnPaintStage = ImgViewPaintStage;
  View.Changed();  // the stage list is not watched
}

}  // namespace quirlon::view
