#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "raster/Errors.h"
#include "view/ImgView32.h"
#include "support/ReferenceMix.h"
#include "view/LayerResamplers.h"
#include "raster/Resamplers.h"

namespace quirlon::view {

using namespace quirlon::raster;
namespace {

using testref::RefMix;

TColor32 CheckerAt(int x, int y) { return ((x / 8 + y / 8) % 2 == 0) ? 0xFFB0B0B0u : 0xFFFFFFFFu; }

struct Preview {
  TImgView32 view;
  Preview() {
    view.SetViewportSize(297, 297);
    ConfigurePreviewView(view);
  }
  TBitmapLayer& AddLayer(int w, int h, TColor32 c, TCombineMode mode) {
    TBitmapLayer& l = TBitmapLayer::Create(view.Layers());
    l.SetScaled(true);
    l.SetLocation(TSingleRect{0, 0, float(w), float(h)});
    l.Bitmap().SetSize(w, h);
    l.Bitmap().Clear(c);
    l.Bitmap().SetDrawMode(dmBlend);
    l.Bitmap().SetCombineMode(mode);
    return l;
  }
};

TEST(LayerResamplersTest, EveryBitmapLayerGetsAFreshResamplerOfTheSelectedClass) {
  Preview p;
  TBitmapLayer& a = p.AddLayer(4, 4, 0, cmBlend);
  TBitmapLayer& b = p.AddLayer(4, 4, 0, cmBlend);
  TCustomLayer::CreateIn<TPositionedLayer>(p.view.Layers());  // no bitmap: skipped
  EXPECT_EQ(ResamplerClassNamesListChange(p.view, "TLinearResampler", "TBoxKernel"), std::optional<bool>(false));
  const TCustomResampler* first = &a.Bitmap().Resampler();
  EXPECT_EQ(a.Bitmap().ResamplerClassName(), "TLinearResampler");
  EXPECT_EQ(b.Bitmap().ResamplerClassName(), "TLinearResampler");

  // Each bitmap is notified once, after its batch.
  int reports = 0;
  p.view.Layers().OnAreaUpdated = [&reports](TObject*, const TRect&, std::uint32_t) { ++reports; };
  ResamplerClassNamesListChange(p.view, "TLinearResampler", "TBoxKernel");
  EXPECT_EQ(reports, 2);
  EXPECT_NE(&a.Bitmap().Resampler(), first);  // replaced even though the class is the same

  EXPECT_EQ(ResamplerClassNamesListChange(p.view, "TKernelResampler", "TCubicKernel"), std::optional<bool>(true));
  for (TBitmapLayer* l : {&a, &b}) {
    auto* k = dynamic_cast<TKernelResampler*>(&l->Bitmap().Resampler());
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->KernelClassName(), "TCubicKernel");
    EXPECT_EQ(k->PixelAccessMode(), pamSafe);
  }
  KernelClassNamesListChange(p.view, "TLanczosKernel");
  EXPECT_EQ(dynamic_cast<TKernelResampler&>(b.Bitmap().Resampler()).KernelClassName(), "TLanczosKernel");
}

TEST(LayerResamplersTest, NoSelectionNoLayersAndUnknownNames) {
  Preview p;
  EXPECT_EQ(ResamplerClassNamesListChange(p.view, "TLinearResampler", "TBoxKernel"), std::nullopt);  // no layers
  TBitmapLayer& a = p.AddLayer(2, 2, 0, cmBlend);
  EXPECT_EQ(ResamplerClassNamesListChange(p.view, "", "TBoxKernel"), std::nullopt);
  EXPECT_EQ(a.Bitmap().ResamplerClassName(), "TNearestResampler");
  try {
    ResamplerClassNamesListChange(p.view, "TNoSuchResampler", "TBoxKernel");
    FAIL();
  } catch (const EListError& e) {
    // The unknown name, and every name there is, in the registry's order.
    EXPECT_EQ(e.Message(), "Unknown resampler \"TNoSuchResampler\"; the resamplers are TNearestResampler, "
                           "TLinearResampler, TDraftResampler, TKernelResampler");
  }
  KernelClassNamesListChange(p.view, "TNoSuchKernel");  // no layer needs a kernel
  ResamplerClassNamesListChange(p.view, "TKernelResampler", "TBoxKernel");
  try {
    KernelClassNamesListChange(p.view, "TNoSuchKernel");
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message().rfind("Unknown kernel \"TNoSuchKernel\"; the kernels are TBoxKernel, ", 0), 0u) << e.Message();
  }
  EXPECT_EQ(a.Bitmap().UpdateCount(), 0);
}

// A uniform layer reduced into the preview keeps its colour exactly (the weights of each axis sum
// to one), and each written pixel is combined over the checkerboard by the layer's combine mode.
TEST(LayerResamplersTest, ReducedPreviewCombinesEveryPixelByTheLayerMode) {
  struct Case {
    TColor32 colour;
    TCombineMode mode;
  };
  for (const Case& c : {Case{0xFF336699, cmBlend}, Case{0x80336699, cmBlend}, Case{0xFF336699, cmMerge},
                        Case{0x80336699, cmMerge}}) {
    Preview p;
    p.view.Bitmap().SetSize(800, 600);  // all 0: the checkerboard shows through
    p.AddLayer(800, 600, c.colour, c.mode);
    ResamplerClassNamesListChange(p.view, "TLinearResampler", "TBoxKernel");
    const TBitmap32& b = p.view.UpdateScreenBuffer();
    for (int y = 1; y < 296; ++y)
      for (int x = 1; x < 296; ++x) {
        const TColor32 under = CheckerAt(x, y);
        TColor32 expected = under;
        if (y >= 37 && y < 260) {
          const unsigned a = c.colour >> 24;
          if (c.mode == cmBlend) {
            expected = RefMix(c.colour, under, (a * 256) >> 8);  // single-pixel blend, master 255
          } else {
            // Over an opaque pixel: alpha stays 255, colour (F a + B (255 - a)) / 255 rounded.
            expected = 0xFF000000u;
            for (int s = 0; s < 24; s += 8) {
              const unsigned fc = (c.colour >> s) & 0xFF, bc = (under >> s) & 0xFF;
              expected |= static_cast<TColor32>((2 * (fc * a + bc * (255 - a)) + 255) / 510) << s;
            }
          }
        }
        ASSERT_EQ(b.PixelAt(x, y), expected) << std::hex << c.colour << " mode " << int(c.mode) << " at "
                                             << std::dec << x << "," << y;
      }
  }
}

// Straight-alpha "over", results rounded half up from the exact values.
TColor32 RefMerge(TColor32 f, TColor32 b) {
  const std::uint64_t a = f >> 24, ba = b >> 24;
  if (a == 0) return b;
  const std::uint64_t den = 255 * a + ba * (255 - a);
  TColor32 r = static_cast<TColor32>((2 * den + 255) / 510) << 24;
  for (int s = 0; s < 24; s += 8) {
    const std::uint64_t num = 255 * ((f >> s) & 0xFF) * a + ((b >> s) & 0xFF) * ba * (255 - a);
    r |= static_cast<TColor32>((2 * num + den) / (2 * den)) << s;
  }
  return r;
}

// Flattening a layer whose bitmap differs in size from its rectangle goes through the bitmap's
// resampler; every stretch path must combine by the layer's combine mode. A uniform colour keeps
// its value through any stretch, so each pixel is the plain combine of the layer colour.
TEST(LayerResamplersTest, EveryStretchPathCombinesByTheLayerMode) {
  struct Path {
    const char* resampler;
    int w, h;
  };
  const Path paths[] = {{"TNearestResampler", 3, 3},  {"TNearestResampler", 16, 16}, {"TLinearResampler", 3, 3},
                        {"TLinearResampler", 1, 3},   {"TLinearResampler", 16, 16},  {"TDraftResampler", 3, 3},
                        {"TDraftResampler", 16, 16},  {"TKernelResampler", 5, 2},    {"TKernelResampler", 16, 16}};
  const TColor32 f = 0x80336699;
  for (const Path& path : paths)
    for (TCombineMode mode : {cmBlend, cmMerge})
      for (TColor32 canvasColour : {TColor32{0}, TColor32{0xFF102030}, TColor32{0x40C0C0C0}}) {
        Preview p;
        p.view.Bitmap().SetSize(8, 8);
        p.view.Bitmap().Clear(canvasColour);
        TBitmapLayer& l = p.AddLayer(path.w, path.h, f, mode);
        l.SetLocation(TSingleRect{0, 0, 8, 8});
        ResamplerClassNamesListChange(p.view, path.resampler, "TBoxKernel");
        TBitmap32 flat;
        flat.SetSize(8, 8);
        p.view.PaintInto(flat, flat.BoundsRect());
        const TColor32 expected = mode == cmMerge ? RefMerge(f, canvasColour) : RefMix(f, canvasColour, 128);
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x)
            ASSERT_EQ(flat.PixelAt(x, y), expected) << path.resampler << " " << path.w << "x" << path.h << " mode "
                                                    << int(mode) << " canvas " << std::hex << canvasColour;
      }
}

TEST(LayerResamplersTest, ReducedCanvasIsDrawnTransparentThroughItsNearestResampler) {
  Preview p;
  TBitmap32& canvas = p.view.Bitmap();
  canvas.SetSize(600, 800);
  canvas.Clear(0xFF00FF00);
  // Column 0 transparent: with nearest sampling, preview column 37 reads source column 0.
  for (int y = 0; y < 800; ++y) canvas.PixelRef(0, y) = 0;
  const TBitmap32& b = p.view.UpdateScreenBuffer();
  EXPECT_EQ(b.PixelAt(36, 100), CheckerAt(36, 100));
  EXPECT_EQ(b.PixelAt(37, 100), CheckerAt(37, 100));
  EXPECT_EQ(b.PixelAt(38, 100), 0xFF00FF00u);
  EXPECT_EQ(b.PixelAt(259, 295), 0xFF00FF00u);
  EXPECT_EQ(b.PixelAt(260, 100), CheckerAt(260, 100));
}

}  // namespace
}  // namespace quirlon::view
