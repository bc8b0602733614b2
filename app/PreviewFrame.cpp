#include "app/PreviewFrame.h"

#include <algorithm>

#include "raster/Layers.h"
#include "view/LayerResamplers.h"

namespace quirlon::app {

namespace {

// Trades pixels and settings; both bitmaps report the change as a resize would.
void ExchangePixels(raster::TBitmap32& A, raster::TBitmap32& B) {
  raster::TBitmap32 held;
  held.AssignMoving(A);
  A.AssignMoving(B);
  B.AssignMoving(held);
}

void CopyRows(const raster::TBitmap32& From, const raster::TRect& FromRect, raster::TBitmap32& To, std::int32_t X,
              std::int32_t Y) {
  const std::int32_t w = FromRect.Width();
  for (std::int32_t row = 0; row < FromRect.Height(); ++row) {
    const raster::TColor32* source = From.ScanLine(FromRect.Top + row) + FromRect.Left;
    std::copy(source, source + w, To.ScanLine(Y + row) + X);
  }
}

}  // namespace

bool ShownInPreview(const core::TRenderedLayer& Layer, const TPreviewLook& Look) {
  switch (Layer.Role.Switch()) {
    case core::TLayerSwitch::Reflections: return Look.ShowReflections;
    case core::TLayerSwitch::Shadows: return Look.ShowShadows;
    case core::TLayerSwitch::None: break;
  }
  return Layer.Visible;
}

void ShowInView(view::TImgView32& View, const core::TRenderResult& Result, const TPreviewLook& Look,
                raster::TBitmap32* Canvas) {
  View.Layers().Clear();
  if (Canvas != nullptr)
    ExchangePixels(View.Bitmap(), *Canvas);
  else
    View.Bitmap().Assign(Result.Canvas.get());
  const raster::TSingleRect whole{0, 0, static_cast<float>(Result.Width()), static_cast<float>(Result.Height())};
  for (const core::TRenderedLayer& layer : Result.Layers) {
    raster::TBitmapLayer& shown = raster::TBitmapLayer::Create(View.Layers());
    shown.ShareBitmap(layer.Bitmap);
    shown.SetScaled(true);
    shown.SetLocation(whole);
    shown.SetVisible(ShownInPreview(layer, Look));
  }
  // The preview's layers are drawn with the resampler chosen in the hidden lists.
  view::ResamplerClassNamesListChange(View, Look.Resampler, Look.Kernel);
}

void PaintPreviewFrame(view::TImgView32& Composer, const core::TRenderResult& Result, TPreviewFrame& Frame) {
  const TPreviewLook& look = Frame.Look;
  Frame.Canvas.Assign(Result.Canvas.get());
  Composer.SetViewportSize(look.ViewportWidth, look.ViewportHeight);
  Composer.SetScaleMode(look.ScaleMode);
  Composer.SetScale(look.Scale);
  ShowInView(Composer, Result, look, &Frame.Canvas);
  Composer.Repaint();
  const raster::TRect viewport = Composer.ViewportRect();
  Frame.Screen.SetSize(viewport.Width(), viewport.Height());
  if (!Frame.Screen.Empty()) CopyRows(Composer.ScreenBuffer(), viewport, Frame.Screen, 0, 0);
  // The canvas copy goes with the frame, and the layers to the window, which changes their
  // resamplers on its own thread: the composer keeps nothing of this render.
  ExchangePixels(Composer.Bitmap(), Frame.Canvas);
  Composer.Layers().Clear();
}

void TPreviewView::EndInstall(std::shared_ptr<const TPreviewFrame> Frame) {
  fInstalling = false;
  const raster::TRect viewport = ViewportRect();
  if (Frame != nullptr && Frame->Screen.Width() == viewport.Width() && Frame->Screen.Height() == viewport.Height() &&
      !Frame->Screen.Empty())
    fFrame = std::move(Frame);
  else
    fFrame.reset();
  Invalidate();
}

void TPreviewView::Changed() {
  Forget();
  view::TImgView32::Changed();
}

void TPreviewView::SetRepaintMode(view::TRepaintMode Value) {
  Forget();
  view::TImgView32::SetRepaintMode(Value);
}

void TPreviewView::Resized() {
  Forget();
  view::TImgView32::Resized();
}

void TPreviewView::DoPaintBuffer() {
  const raster::TRect viewport = ViewportRect();
  raster::TBitmap32& buffer = ScreenBuffer();
  if (fFrame != nullptr && buffer.Width() >= viewport.Right && buffer.Height() >= viewport.Bottom) {
    CopyRows(fFrame->Screen, fFrame->Screen.BoundsRect(), buffer, viewport.Left, viewport.Top);
    return;
  }
  view::TImgView32::DoPaintBuffer();
}

}  // namespace quirlon::app
