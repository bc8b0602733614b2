#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "raster/Bitmap32.h"
#include "raster/Errors.h"
#include "view/ImgView32.h"
#include "raster/Layers.h"

namespace quirlon::view {

using namespace quirlon::raster;
namespace {

constexpr TColor32 kGrey = 0xFFB0B0B0u, kWhite = 0xFFFFFFFFu, kBlack = 0xFF000000u;

// The preview view as the program sets it up, in a control of w x h.
struct Preview {
  TImgView32 view;
  explicit Preview(int w = 297, int h = 297) {
    view.SetViewportSize(w, h);
    ConfigurePreviewView(view);
  }
};

// What the checkerboard puts at (x, y): cell (x div 8, y div 8), grey when both even or both odd.
TColor32 CheckerAt(int x, int y) { return ((x / 8 + y / 8) % 2 == 0) ? kGrey : kWhite; }

// ------------------------------------------------------------------------------------------------
// Configuration

TEST(ImgView32Test, ProgramConfigurationOfTheStageList) {
  Preview p;
  const TPaintStages& st = p.view.PaintStages();
  ASSERT_EQ(st.Count(), 6);
  const TPaintStage expected[] = {
      {true, StageCustom, 1},      {false, StageControlFrame, 0},
      {true, StageDrawBitmap, 0},  {false, StageBitmapFrame, 0},
      {true, StageDrawLayers, 0x80000000u}, {true, StageCustom, 2},
  };
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(st.StageAt(i).RunTime, expected[i].RunTime) << i;
    EXPECT_EQ(st.StageAt(i).Stage, expected[i].Stage) << i;
    EXPECT_EQ(st.StageAt(i).Parameter, expected[i].Parameter) << i;
  }
  // The default list had the background clearing first.
  TImgView32 fresh;
  EXPECT_EQ(fresh.PaintStages().Count(), 5);
  EXPECT_EQ(fresh.PaintStages().StageAt(0).Stage, StageClearBackground);
  EXPECT_EQ(fresh.BitmapAlign(), baCenter);
  EXPECT_EQ(fresh.ScaleMode(), smOptimal);
  EXPECT_EQ(fresh.RepaintMode(), rmOptimizer);

  // The canvas fills the view, all 0, drawn transparent.
  EXPECT_EQ(p.view.Bitmap().Width(), 297);
  EXPECT_EQ(p.view.Bitmap().Height(), 297);
  EXPECT_EQ(p.view.Bitmap().DrawMode(), dmTransparent);
  EXPECT_EQ(p.view.Bitmap().OuterColor(), 0u);
  EXPECT_EQ(p.view.Bitmap().PixelAt(100, 100), 0u);

  TPaintStages stages;
  TPaintStage& added = stages.AddStage();
  EXPECT_TRUE(added.RunTime);
  EXPECT_EQ(added.Stage, 0u);
  EXPECT_EQ(added.Parameter, 0u);
  try {
    st.StageAt(6);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (6)");
  }
}

// ------------------------------------------------------------------------------------------------
// Preview geometry

TEST(ImgView32Test, LandscapeCanvasIsShrunkToFitAndCentred) {
  Preview p;
  p.view.Bitmap().SetSize(800, 600);
  EXPECT_EQ(p.view.PictureSize(), (TPoint{297, 223}));
  EXPECT_EQ(p.view.PictureRect(), (TRect{0, 37, 297, 260}));
  // 297 x 65536 / 800 = 24330.24 and 223 x 65536 / 600 = 24357.55, rounded.
  EXPECT_EQ(p.view.CachedScaleX(), 24330);
  EXPECT_EQ(p.view.CachedScaleY(), 24358);
  EXPECT_EQ(p.view.CachedShiftX(), 0);
  EXPECT_EQ(p.view.CachedShiftY(), 37);
  // 800 x 65536 / 297 = 176527.95 and 600 x 65536 / 223 = 176330.04.
  EXPECT_EQ(p.view.CachedRecScaleX(), 176528);
  EXPECT_EQ(p.view.CachedRecScaleY(), 176330);
  TBitmapLayer& l = TBitmapLayer::Create(p.view.Layers());
  l.SetScaled(true);
  l.SetLocation(TSingleRect{0, 0, 800, 600});
  EXPECT_EQ(l.DrawRect(), (TRect{0, 37, 297, 260}));
}

TEST(ImgView32Test, PortraitAndSmallCanvases) {
  Preview p;
  p.view.Bitmap().SetSize(600, 800);
  EXPECT_EQ(p.view.PictureRect(), (TRect{37, 0, 260, 297}));

  p.view.Bitmap().SetSize(200, 100);  // fits: shown at its own size
  EXPECT_EQ(p.view.PictureRect(), (TRect{48, 98, 248, 198}));
  EXPECT_EQ(p.view.CachedScaleX(), 65536);
  EXPECT_EQ(p.view.CachedScaleY(), 65536);
  TBitmapLayer& l = TBitmapLayer::Create(p.view.Layers());
  l.SetScaled(true);
  l.SetLocation(TSingleRect{0, 0, 200, 100});
  EXPECT_EQ(l.DrawRect(), (TRect{48, 98, 248, 198}));
  l.SetLocation(TSingleRect{10, 20, 30, 40});
  EXPECT_EQ(l.DrawRect(), (TRect{58, 118, 78, 138}));
}

TEST(ImgView32Test, CacheFollowsViewSizeAndEmptyCanvas) {
  Preview p;
  p.view.Bitmap().SetSize(800, 600);
  EXPECT_EQ(p.view.CachedScaleX(), 24330);
  p.view.SetViewportSize(400, 300);
  EXPECT_FALSE(p.view.CacheValid());
  EXPECT_EQ(p.view.PictureRect(), (TRect{0, 0, 400, 300}));
  EXPECT_EQ(p.view.CachedScaleX(), 32768);

  p.view.Bitmap().SetSize(0, 0);
  EXPECT_EQ(p.view.PictureSize(), (TPoint{0, 0}));
  EXPECT_EQ(p.view.CachedScaleX(), 65536);
  EXPECT_EQ(p.view.CachedShiftX(), 0);
  EXPECT_EQ(p.view.CachedShiftY(), 0);

  p.view.Bitmap().SetSize(10, 10);
  p.view.SetViewportSize(0, 50);
  EXPECT_EQ(p.view.PictureSize(), (TPoint{0, 0}));
}

TEST(ImgView32Test, FitBitmapToViewSizesTheCanvasToTheViewport) {
  TImgView32 view;
  view.SetViewportSize(31, 17);
  view.Bitmap().SetSize(5, 5);
  view.Bitmap().Clear(0xFF00FF00);
  view.FitBitmapToView(false, 0);
  EXPECT_EQ(view.Bitmap().BoundsRect(), (TRect{0, 0, 31, 17}));
  view.Bitmap().Clear(0xFF00FF00);
  view.FitBitmapToView(true, 0x12345678);
  EXPECT_EQ(view.Bitmap().PixelAt(30, 16), 0x12345678u);
}

// ------------------------------------------------------------------------------------------------
// Preview painting

TEST(ImgView32Test, CheckerboardAndFrameOfAnEmptyPicture) {
  Preview p;  // the canvas is all 0: nothing of it shows
  p.view.Repaint();
  const TBitmap32& b = p.view.ScreenBuffer();
  ASSERT_GE(b.Width(), 297);
  ASSERT_GE(b.Height(), 297);
  for (int y = 0; y < 297; ++y)
    for (int x = 0; x < 297; ++x) {
      const bool edge = x == 0 || y == 0 || x == 296 || y == 296;
      ASSERT_EQ(b.PixelAt(x, y), edge ? kBlack : CheckerAt(x, y)) << x << "," << y;
    }
  // Nothing beyond the viewport (the buffer keeps room to spare).
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 297; x < b.Width(); ++x) ASSERT_EQ(b.PixelAt(x, y), 0u);
}

TEST(ImgView32Test, CheckerboardCellsAreCutAtTheViewportEdge) {
  Preview p;
  TBitmap32& b = p.view.ScreenBuffer();
  b.SetClipRect(p.view.ViewportRect());
  PaintCheckerboard(p.view);
  EXPECT_EQ(b.PixelAt(0, 0), kGrey);
  EXPECT_EQ(b.PixelAt(8, 0), kWhite);
  EXPECT_EQ(b.PixelAt(296, 0), kWhite);   // column 37 of row 0, one pixel wide
  EXPECT_EQ(b.PixelAt(296, 296), kGrey);  // column 37 of row 37
  EXPECT_EQ(b.PixelAt(297, 296), 0u);
  EXPECT_EQ(b.PixelAt(296, 297), 0u);
}

TEST(ImgView32Test, FrameSurvivesEveryRepaint) {
  Preview p;
  p.view.Bitmap().Clear(0xFFFF0000);  // an opaque canvas covering the whole view
  for (int round = 0; round < 2; ++round) {
    p.view.Repaint();
    const TBitmap32& b = p.view.ScreenBuffer();
    for (int i = 0; i < 297; ++i) {
      ASSERT_EQ(b.PixelAt(i, 0), kBlack);
      ASSERT_EQ(b.PixelAt(i, 296), kBlack);
      ASSERT_EQ(b.PixelAt(0, i), kBlack);
      ASSERT_EQ(b.PixelAt(296, i), kBlack);
    }
    EXPECT_EQ(b.PixelAt(1, 1), 0xFFFF0000u);
    EXPECT_EQ(b.PixelAt(295, 295), 0xFFFF0000u);
  }
}

TEST(ImgView32Test, SmallCanvasIsShownCentredOverTheCheckerboard) {
  Preview p;
  TBitmap32& canvas = p.view.Bitmap();
  canvas.SetSize(200, 100);
  canvas.Clear(0xFF0000FF);
  canvas.PixelRef(0, 0) = 0;           // transparent: the checkerboard shows through
  canvas.PixelRef(1, 0) = 0x00000001;  // copied as it is
  TBitmapLayer& scaled = TBitmapLayer::Create(p.view.Layers());
  scaled.SetScaled(true);
  scaled.SetLocation(TSingleRect{10, 10, 12, 12});
  scaled.Bitmap().SetSize(2, 2);
  scaled.Bitmap().Clear(0xFFFF0000);
  scaled.Bitmap().SetDrawMode(dmBlend);
  TBitmapLayer& fixed = TBitmapLayer::Create(p.view.Layers());  // in view coordinates
  fixed.SetLocation(TSingleRect{3, 3, 5, 5});
  fixed.Bitmap().SetSize(2, 2);
  fixed.Bitmap().Clear(0xFF00FF00);
  fixed.Bitmap().SetDrawMode(dmBlend);

  const TBitmap32& b = p.view.UpdateScreenBuffer();
  EXPECT_TRUE(p.view.BufferValid());
  EXPECT_EQ(b.PixelAt(48, 98), CheckerAt(48, 98));
  EXPECT_EQ(b.PixelAt(49, 98), 0x00000001u);
  EXPECT_EQ(b.PixelAt(50, 98), 0xFF0000FFu);
  EXPECT_EQ(b.PixelAt(247, 197), 0xFF0000FFu);
  EXPECT_EQ(b.PixelAt(248, 197), CheckerAt(248, 197));
  EXPECT_EQ(b.PixelAt(47, 150), CheckerAt(47, 150));
  EXPECT_EQ(b.PixelAt(58, 108), 0xFFFF0000u);
  EXPECT_EQ(b.PixelAt(59, 109), 0xFFFF0000u);
  EXPECT_EQ(b.PixelAt(60, 110), 0xFF0000FFu);
  EXPECT_EQ(b.PixelAt(3, 3), 0xFF00FF00u);
  EXPECT_EQ(b.PixelAt(5, 5), CheckerAt(5, 5));

  // Hiding a layer makes the preview out of date; the next paint leaves it out.
  fixed.SetVisible(false);
  EXPECT_FALSE(p.view.BufferValid());
  EXPECT_EQ(p.view.UpdateScreenBuffer().PixelAt(3, 3), CheckerAt(3, 3));
}

TEST(ImgView32Test, ChangesInvalidateThePreviewUnlessHeldBack) {
  Preview p;
  int invalidations = 0;
  p.view.OnInvalidate = [&invalidations] { ++invalidations; };
  p.view.Repaint();
  ASSERT_TRUE(p.view.BufferValid());

  p.view.Bitmap().FillRect(0, 0, 2, 2, 0xFFFFFFFF);  // canvas area
  EXPECT_FALSE(p.view.BufferValid());
  EXPECT_GT(invalidations, 0);

  p.view.Repaint();
  invalidations = 0;
  TBitmapLayer& l = TBitmapLayer::Create(p.view.Layers());  // layer list
  EXPECT_GT(invalidations, 0);
  p.view.Repaint();
  invalidations = 0;
  l.Bitmap().SetSize(64, 64);  // inside a layer's bitmap
  EXPECT_GT(invalidations, 0);
  EXPECT_FALSE(p.view.BufferValid());

  p.view.Repaint();
  invalidations = 0;
  p.view.BeginUpdate();
  l.SetLocation(TSingleRect{1, 1, 65, 65});
  EXPECT_EQ(invalidations, 0);
  EXPECT_FALSE(p.view.BufferValid());  // out of date, but nobody told yet
  p.view.EndUpdate();
  EXPECT_EQ(invalidations, 0);
  p.view.Changed();
  EXPECT_EQ(invalidations, 1);

  // Painting itself reports nothing.
  p.view.Repaint();
  invalidations = 0;
  p.view.Repaint();
  EXPECT_EQ(invalidations, 0);
}

TEST(ImgView32Test, ScreenBufferGrowsWithRoomToSpare) {
  TImgView32 view;
  EXPECT_TRUE(view.ScreenBuffer().Empty());
  view.SetViewportSize(100, 50);
  EXPECT_EQ(view.ScreenBuffer().BoundsRect(), (TRect{0, 0, 140, 90}));
  view.SetViewportSize(120, 60);  // still fits
  EXPECT_EQ(view.ScreenBuffer().BoundsRect(), (TRect{0, 0, 140, 90}));
  view.SetViewportSize(141, 60);
  EXPECT_EQ(view.ScreenBuffer().BoundsRect(), (TRect{0, 0, 181, 100}));
  EXPECT_EQ(view.ViewportRect(), (TRect{0, 0, 141, 60}));
}

TEST(ImgView32Test, AViewWithoutSizePaintsNothingAndStillFlattens) {
  TImgView32 view;
  ConfigurePreviewView(view);  // canvas 0 x 0
  view.Repaint();
  EXPECT_TRUE(view.ScreenBuffer().Empty());
  view.Bitmap().SetSize(2, 1);
  view.Bitmap().Clear(0xFF00FF00);
  TBitmap32 flat;
  flat.SetSize(2, 1);
  view.PaintInto(flat, flat.BoundsRect());
  EXPECT_EQ(flat.PixelAt(1, 0), 0xFF00FF00u);
}

// ------------------------------------------------------------------------------------------------
// PaintInto bookkeeping

TEST(ImgView32Test, PaintIntoMapsTheCanvasAndRestoresTheViewAfterErrors) {
  Preview p;
  p.view.Bitmap().SetSize(800, 600);
  bool inside = false;
  p.view.OnPaintStage = [&inside](TCustomImage32& v, TBitmap32&, std::uint32_t stage) {
    if (stage != 0) return;
    inside = true;
    EXPECT_TRUE(v.PaintingInto());
    EXPECT_EQ(v.RepaintMode(), rmFull);
    EXPECT_EQ(v.CachedPictureRect(), (TRect{10, 20, 410, 320}));
    EXPECT_EQ(v.CachedScaleX(), 32768);
    EXPECT_EQ(v.CachedScaleY(), 32768);
    EXPECT_EQ(v.CachedShiftX(), 10);
    EXPECT_EQ(v.CachedShiftY(), 20);
    EXPECT_EQ(v.CachedRecScaleX(), 131072);
    throw std::runtime_error("stage failed");
  };
  TBitmap32 dest;
  dest.SetSize(10, 10);
  int invalidations = 0;
  p.view.OnInvalidate = [&invalidations] { ++invalidations; };
  EXPECT_THROW(p.view.PaintInto(dest, TRect{10, 20, 410, 320}), std::runtime_error);
  EXPECT_TRUE(inside);
  EXPECT_FALSE(p.view.PaintingInto());
  EXPECT_FALSE(p.view.CacheValid());
  EXPECT_EQ(p.view.RepaintMode(), rmOptimizer);
  EXPECT_EQ(invalidations, 1);  // the preview is repainted whole afterwards
  EXPECT_EQ(p.view.CachedScaleX(), 24330);  // the preview's own geometry again
}


}  // namespace
}  // namespace quirlon::view
