#pragma once
// The preview painted off the window's thread. Scaling a large render down to the preview (the
// canvas and every layer through the layer resamplers) takes far longer than a turn of the event
// loop may; so the render worker paints the preview as the window's view would, and the window
// only copies that frame to its screen buffer. The window's view still holds the canvas and the
// layers, so a change made afterwards (a switch, a zoom, a resize) repaints there as before.
#include <cstdint>
#include <memory>
#include <string>

#include "core/Render.h"
#include "raster/Bitmap32.h"
#include "view/ImgView32.h"

namespace quirlon::app {

// What the preview's picture depends on besides the render itself.
struct TPreviewLook {
  std::int32_t ViewportWidth = 0;
  std::int32_t ViewportHeight = 0;
  view::TScaleMode ScaleMode = view::smOptimal;
  float Scale = 1.0f;
  std::string Resampler;  // the hidden lists' selections
  std::string Kernel;
  bool ShowReflections = true;
  bool ShowShadows = true;
  friend bool operator==(const TPreviewLook&, const TPreviewLook&) = default;
};

// A render made ready for the window: the preview painted for Look and a copy of the canvas the
// window's view takes over without copying.
struct TPreviewFrame {
  TPreviewLook Look;
  raster::TBitmap32 Screen;  // the viewport as the view paints it
  raster::TBitmap32 Canvas;
};

// Layer visibility as the window shows it: the switches of Look decide reflections and shadows.
bool ShownInPreview(const core::TRenderedLayer& Layer, const TPreviewLook& Look);

// Puts Result's canvas and layers into View the way the window shows them. With Canvas, a copy of
// the result's canvas, the pixels trade places: View takes the copy and Canvas gets View's old
// pixels, so that nothing canvas-sized is allocated, cleared or copied. Without it the canvas is
// copied.
void ShowInView(view::TImgView32& View, const core::TRenderResult& Result, const TPreviewLook& Look,
                raster::TBitmap32* Canvas);

// Paints Result for Look into Frame using Composer, a view of the worker's own configured like the
// window's (view::ConfigurePreviewView). Frame's bitmaps keep their memory when the size is the same.
void PaintPreviewFrame(view::TImgView32& Composer, const core::TRenderResult& Result, TPreviewFrame& Frame);

// The window's view: paints a frame made elsewhere while nothing about the view changed since the
// frame was installed, and paints itself otherwise.
class TPreviewView : public view::TImgView32 {
public:
  // Changes made between BeginInstall and EndInstall belong to the frame installed by EndInstall.
  void BeginInstall() { fInstalling = true; fFrame.reset(); }
  // Frame is shown only when it was painted for a viewport of the view's current size.
  void EndInstall(std::shared_ptr<const TPreviewFrame> Frame);
  // Whether the next repaint copies a frame made elsewhere.
  bool ShowsFrame() const { return fFrame != nullptr; }

  void Changed() override;
  void SetRepaintMode(view::TRepaintMode Value) override;

protected:
  void DoPaintBuffer() override;
  void Resized() override;

private:
  void Forget() {
    if (!fInstalling) fFrame.reset();
  }
  std::shared_ptr<const TPreviewFrame> fFrame;
  bool fInstalling = false;
};

}  // namespace quirlon::app
