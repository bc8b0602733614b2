#include "core/Render.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/DiscArtwork.h"
#include "core/LayerTypes.h"
#include "core/Platform.h"
#include "raster/Errors.h"
#include "raster/Sampler.h"
#include "tests/ScratchFolder.h"

namespace quirlon::core {
namespace {

using raster::Color32;
using raster::TBitmap32;
using raster::TColor32;
using testing::ScratchFolder;
namespace fs = std::filesystem;

// The per-channel mix of F over transparent black with weight w: (F_c x w + 128) shr 8.
TColor32 MixOverZero(TColor32 f, std::uint32_t w) {
  TColor32 r = 0;
  for (int shift = 0; shift < 32; shift += 8) r |= (((f >> shift & 0xFF) * w + 128) >> 8) << shift;
  return r;
}
std::uint32_t AlphaOf(TColor32 c) { return c >> 24; }

// A 24-bit bottom-up BMP of w x h pixels; Rgb is top row first, 0xRRGGBB.
std::string Bmp24(std::int32_t w, std::int32_t h, const std::vector<std::uint32_t>& Rgb) {
  const std::int32_t rowBytes = (w * 3 + 3) / 4 * 4;
  const std::uint32_t size = 54 + static_cast<std::uint32_t>(rowBytes * h);
  std::string b(size, '\0');
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, size);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(w));
  put32(22, static_cast<std::uint32_t>(h));
  b[26] = 1;
  b[28] = 24;
  put32(34, static_cast<std::uint32_t>(rowBytes * h));
  for (std::int32_t y = 0; y < h; ++y) {
    const std::size_t row = 54 + static_cast<std::size_t>((h - 1 - y) * rowBytes);
    for (std::int32_t x = 0; x < w; ++x) {
      const std::uint32_t c = Rgb[static_cast<std::size_t>(y * w + x)];
      b[row + 3 * x] = static_cast<char>(c & 0xFF);
      b[row + 3 * x + 1] = static_cast<char>(c >> 8 & 0xFF);
      b[row + 3 * x + 2] = static_cast<char>(c >> 16 & 0xFF);
    }
  }
  return b;
}

// 2 x 2 picture: red, green / white, blue.
constexpr std::uint32_t kTL = 0xFF0000, kTR = 0x00FF00, kBL = 0xFFFFFF, kBR = 0x0000FF;
// Side x side picture in four quadrants of these colours.
std::string QuadrantPicture(std::int32_t side = 2) {
  std::vector<std::uint32_t> rgb;
  for (std::int32_t y = 0; y < side; ++y)
    for (std::int32_t x = 0; x < side; ++x)
      rgb.push_back(y < side / 2 ? (x < side / 2 ? kTL : kTR) : (x < side / 2 ? kBL : kBR));
  return Bmp24(side, side, rgb);
}

struct TCorners {
  int AX, AY, BX, BY, CX, CY, DX, DY;
};
constexpr TCorners kSquare{100, 100, 300, 100, 300, 300, 100, 300};  // in a 400 x 400 template

std::string LayerText(const std::string& Section, const std::string& Type, const std::string& Source,
                      TCorners c = kSquare) {
  std::string t = "[" + Section + "]\n";
  if (!Type.empty()) t += "type=" + Type + "\n";
  if (!Source.empty()) t += "source=" + Source + "\n";
  t += "A.X=" + std::to_string(c.AX) + "\nA.Y=" + std::to_string(c.AY) + "\nB.X=" + std::to_string(c.BX) +
       "\nB.Y=" + std::to_string(c.BY) + "\nC.X=" + std::to_string(c.CX) + "\nC.Y=" + std::to_string(c.CY) +
       "\nD.X=" + std::to_string(c.DX) + "\nD.Y=" + std::to_string(c.DY) + "\n";
  return t;
}
std::string ImageText(int w, int h) { return "[Image]\nwidth=" + std::to_string(w) + "\nheight=" + std::to_string(h) + "\n"; }

// A finished layer of the result, read as the tests read it.
struct TLayerView {
  TRenderedLayer* Layer;
  TBitmap32& Bitmap() const { return *Layer->Bitmap; }
  bool Visible() const { return Layer->Visible; }
};

class RenderTest : public ::testing::Test {
protected:
  RenderTest() {
    fs::create_directory(dir.PathOf("custom"));
    request.CustomFolder = dir.Folder() + "custom/";
    request.Template.File = dir.PathOf("t1.ini");
    // Exact pixels: no blur, no fade unless a test asks.
    settings.ReflectionBlur = 0;
    settings.ShadowBlur = 0;
    settings.FadeReflection = false;
    // The pixel values below are those of the exact sampling.
    settings.Sampling = TSampling::Exact;
  }

  // Writes the template and renders it.
  void Template(const std::string& Text) { dir.Write("t1.ini", Text); }
  void Render(std::int32_t w = 400, std::int32_t h = 400) {
    request.Width = w;
    request.Height = h;
    result = core::ApplyTemplate(request);
  }
  void UseFile(int Slot, const std::string& File) { request.Sources[Slot - 1] = TSlotSource::OfFile(File); }
  raster::TColor SlotColour(int Slot) const { return request.Sources[Slot - 1].Colour; }
  // The template layers' types as the template wrote them, in file order.
  std::vector<std::string> Kinds() const {
    std::vector<std::string> kinds;
    for (const TRenderedLayer& l : result.Layers)
      if (!l.Role.Background) kinds.push_back(l.Role.TypeText);
    return kinds;
  }
  std::int32_t LayerCount() const { return static_cast<std::int32_t>(result.Layers.size()); }
  TBitmap32& Canvas() { return *result.Canvas; }

  TLayerView Layer(std::int32_t i) { return TLayerView{&result.Layers.at(static_cast<std::size_t>(i))}; }
  TColor32 Pixel(std::int32_t layer, std::int32_t x, std::int32_t y) { return Layer(layer).Bitmap().PixelAt(x, y); }
  bool AllZero(const TBitmap32& b) {
    for (std::size_t i = 0; i < b.PixelCount(); ++i)
      if (b.Bits()[i] != 0) return false;
    return true;
  }
  // Renders one layer of Type/Source on the square of a 400 x 400 template into a 400 x 400 canvas.
  TLayerView RenderOne(const std::string& Type, const std::string& Source, TCorners c = kSquare) {
    Template(ImageText(400, 400) + LayerText("Layer1", Type, Source, c));
    Render();
    EXPECT_EQ(LayerCount(), 1);
    return Layer(0);
  }

  ScratchFolder dir;
  TRenderRequest request;
  TRenderSettings& settings = request.Settings;
  TRenderResult result;
};

template <class E>
void ExpectThrowWithMessage(const std::function<void()>& f, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "nothing thrown, expected " << message;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

// ---- Fit ----------------------------------------------------------------------------------

TEST(TemplateFitTest, ScaleAndOffsets) {
  TTemplateFit f = ComputeTemplateFit(800, 600, 800, 600);
  EXPECT_EQ(f.FitScale, 1.0);
  EXPECT_EQ(f.OffX, 0);
  EXPECT_EQ(f.OffY, 0);

  f = ComputeTemplateFit(800, 600, 400, 400);
  EXPECT_EQ(f.FitScale, 0.5);
  EXPECT_EQ(f.OffX, 0);
  EXPECT_EQ(f.OffY, 50);
  EXPECT_EQ(FitCoordinate(3, f.FitScale, 0), 2);  // 1.5 to even
  EXPECT_EQ(FitCoordinate(5, f.FitScale, 0), 2);  // 2.5 to even
  EXPECT_EQ(FitCoordinate(3, f.FitScale, f.OffY), 52);
  EXPECT_EQ(FitCoordinate(-3, f.FitScale, 0), -2);

  f = ComputeTemplateFit(800, 600, 801, 600);  // the height ratio is the smaller
  EXPECT_EQ(f.FitScale, 1.0);
  EXPECT_EQ(f.OffX, 0);  // rnd(0.5)
  f = ComputeTemplateFit(800, 600, 803, 600);
  EXPECT_EQ(f.OffX, 2);  // rnd(1.5)

  // A scale that is not a short binary fraction: stored as a double from the extended quotient.
  f = ComputeTemplateFit(300, 300, 100, 700);
  EXPECT_EQ(f.FitScale, static_cast<double>(100.0L / 300.0L));
  EXPECT_EQ(f.OffY, 300);
}

TEST(TemplateFitTest, ZeroSidesRaise) {
  ExpectThrowWithMessage<EZeroDivide>([] { ComputeTemplateFit(0, 600, 400, 400); }, "Floating point division by zero");
  ExpectThrowWithMessage<EZeroDivide>([] { ComputeTemplateFit(800, 0, 400, 400); }, "Floating point division by zero");
  ExpectThrowWithMessage<EInvalidOp>([] { ComputeTemplateFit(0, 600, 0, 400); }, "Invalid floating point operation");
}

TEST(TemplateFitTest, HugeCoordinatesNeverOverflow) {
  // The offset addition wraps like 32-bit integers; a product beyond int32 is an invalid operation.
  EXPECT_EQ(FitCoordinate(INT32_MAX, 1.0, 5), INT32_MIN + 4);
  EXPECT_EQ(FitCoordinate(INT32_MIN, 1.0, -1), INT32_MAX);
  ExpectThrowWithMessage<EInvalidOp>([] { FitCoordinate(INT32_MAX, 2.0, 0); }, "Invalid floating point operation");
}

TEST_F(RenderTest, CornersAreScaledRoundedToEvenAndOffset) {
  // 800 x 600 into 400 x 400: scale 0.5, offY 50. x 201 -> rnd(100.5) = 100, x 203 -> rnd(101.5) = 102.
  Template(ImageText(800, 600) + LayerText("Layer1", "normal", "FRONT", {201, 100, 600, 100, 600, 500, 201, 500}) +
           LayerText("Layer2", "normal", "FRONT", {203, 100, 600, 100, 600, 500, 203, 500}));
  Render();
  ASSERT_EQ(LayerCount(), 2);
  const TColor32 inside = MixOverZero(Color32(SlotColour(2)), 255);
  EXPECT_EQ(Pixel(0, 200, 200), inside);
  // Layer 1: left edge on column 100, top edge on row 50 + 50.
  EXPECT_EQ(AlphaOf(Pixel(0, 100, 200)), 254u);
  EXPECT_LT(AlphaOf(Pixel(0, 99, 200)), 64u);
  EXPECT_EQ(Pixel(0, 97, 200) >> 24, 0u);
  EXPECT_GT(AlphaOf(Pixel(0, 200, 100)), 230u);
  EXPECT_LT(AlphaOf(Pixel(0, 200, 99)), 64u);
  EXPECT_EQ(AlphaOf(Pixel(0, 299, 299)), 254u);
  EXPECT_LT(AlphaOf(Pixel(0, 300, 200)), 64u);
  EXPECT_LT(AlphaOf(Pixel(0, 200, 300)), 64u);
  // Layer 2: left edge on column 102.
  EXPECT_EQ(AlphaOf(Pixel(1, 102, 200)), 254u);
  EXPECT_LT(AlphaOf(Pixel(1, 101, 200)), 64u);
  EXPECT_EQ(AlphaOf(Pixel(1, 100, 200)), 0u);
}

TEST_F(RenderTest, WideCanvasCentresTheTemplate) {
  // 803 x 600 with an 800 x 600 template: scale 1, offX 2, so template x 0 is canvas column 2.
  Template(ImageText(800, 600) + LayerText("Layer1", "customcolor", "clRed", {0, 0, 100, 0, 100, 100, 0, 100}));
  Render(803, 600);
  EXPECT_EQ(Pixel(0, 2, 50), MixOverZero(0xFFFF0000, 255));
  EXPECT_EQ(Pixel(0, 101, 50), MixOverZero(0xFFFF0000, 255));
  EXPECT_EQ(AlphaOf(Pixel(0, 0, 50)), 0u);
  EXPECT_LT(AlphaOf(Pixel(0, 102, 50)), 64u);
}

// ---- Layer stack, kinds, background ------------------------------------------------------

TEST_F(RenderTest, LayerKindsHoldEveryLayerTypeInFileOrder) {
  Template(ImageText(400, 400) + "[Options]\nx=1\n" + LayerText("BackLayer", "", "FRONT") +
           LayerText("Layer1", "normal", "FRONT") + "[layer9]\ntype=normal\n" + LayerText("Layer2", "Normal", "FRONT") +
           LayerText("TopLayer", "shadow", ""));
  Render();
  EXPECT_EQ(Kinds(), (std::vector<std::string>{"unknown", "normal", "Normal", "shadow"}));
  const std::vector<std::string> sections{"BackLayer", "Layer1", "Layer2", "TopLayer"};
  for (std::size_t i = 0; i < sections.size(); ++i) EXPECT_EQ(result.Layers[i].Role.Section, sections[i]);
  EXPECT_EQ(result.Layers[3].Role.Type, ltShadow);
  EXPECT_EQ(result.Layers[2].Role.Type, ltUnknown);
  ASSERT_EQ(LayerCount(), 4);

  // A colour background fills the canvas opaque and adds no layer: stack layer i is kind i.
  const TColor32 bg = Color32(SlotColour(1));
  const TBitmap32& canvas = Canvas();
  ASSERT_EQ(canvas.Width(), 400);
  for (std::size_t i = 0; i < canvas.PixelCount(); ++i) ASSERT_EQ(canvas.Bits()[i], bg);
  EXPECT_TRUE(AllZero(Layer(0).Bitmap()));   // unknown
  EXPECT_FALSE(AllZero(Layer(1).Bitmap()));  // normal
  EXPECT_TRUE(AllZero(Layer(2).Bitmap()));   // "Normal": types are case-sensitive
  EXPECT_EQ(AlphaOf(Pixel(3, 200, 200)), 254u);

  for (std::int32_t i = 0; i < 4; ++i) {
    TLayerView l = Layer(i);
    EXPECT_EQ(l.Bitmap().Width(), 400);
    EXPECT_EQ(l.Bitmap().Height(), 400);
    EXPECT_EQ(l.Bitmap().DrawMode(), raster::dmBlend);
    EXPECT_EQ(l.Bitmap().CombineMode(), raster::cmMerge);
    EXPECT_EQ(l.Bitmap().OuterColor(), 0u);
    EXPECT_EQ(l.Bitmap().ResamplerClassName(), "TLinearResampler");
  }
  EXPECT_EQ(Layer(0).Bitmap().MasterAlpha(), 255u);
  EXPECT_TRUE(Layer(0).Visible());

  // Nothing of the earlier render is reused.
  Template(ImageText(400, 400));
  Render(300, 200);
  EXPECT_TRUE(Kinds().empty());
  EXPECT_EQ(LayerCount(), 0);
  EXPECT_EQ(Canvas().Width(), 300);
  EXPECT_EQ(Canvas().PixelAt(10, 10), bg);
}

TEST_F(RenderTest, BackgroundPictureIsTheBottomLayer) {
  UseFile(1, dir.Write("bg.bmp", QuadrantPicture()));
  Template(ImageText(400, 400) + LayerText("Layer1", "customcolor", "clRed") + LayerText("Layer2", "unknown", ""));
  Render();
  ASSERT_EQ(LayerCount(), 3);
  EXPECT_EQ(Kinds().size(), 2u);
  EXPECT_TRUE(result.Layers[0].Role.Background);
  EXPECT_TRUE(AllZero(Canvas()));
  TLayerView bg = Layer(0);
  ASSERT_EQ(bg.Bitmap().Width(), 2);  // the picture keeps its own size
  EXPECT_EQ(bg.Bitmap().PixelAt(0, 0), 0xFF000000 | kTL);
  EXPECT_EQ(bg.Bitmap().PixelAt(1, 1), 0xFF000000 | kBR);
  EXPECT_EQ(bg.Bitmap().DrawMode(), raster::dmBlend);
  EXPECT_EQ(bg.Bitmap().CombineMode(), raster::cmMerge);
  EXPECT_EQ(bg.Bitmap().ResamplerClassName(), "TLinearResampler");
  // Template layer i is stack layer i + 1.
  EXPECT_EQ(Pixel(1, 200, 200), MixOverZero(0xFFFF0000, 255));
  EXPECT_TRUE(AllZero(Layer(2).Bitmap()));
}

TEST_F(RenderTest, TransparentBackgroundIgnoresSlotOne) {
  Template(ImageText(400, 400) + LayerText("Layer1", "customcolor", "clRed"));
  request.TransparentBackground = true;
  Render();
  EXPECT_TRUE(AllZero(Canvas()));
  EXPECT_EQ(LayerCount(), 1);

  UseFile(1, dir.PathOf("missing.bmp"));  // not even looked at
  Render();
  EXPECT_TRUE(AllZero(Canvas()));
  EXPECT_EQ(LayerCount(), 1);
  EXPECT_EQ(Canvas().DrawMode(), raster::dmTransparent);
}

TEST_F(RenderTest, FlattenedOverAColourIsOpaqueEverywhere) {
  // Translucent layer pixels (reflection opacity, anti-aliased edges, shading) never make the
  // flattened picture see-through over an opaque background.
  settings.ReflectionOpacity = 90;
  settings.ShadingStrength = 120;
  Template(ImageText(400, 400) + LayerText("Layer1", "reflection", "FRONT", {50, 60, 330, 40, 350, 380, 70, 300}) +
           LayerText("Layer2", "shade", "rightlefttopdown", {120, 90, 310, 130, 280, 350, 90, 330}));
  Render();
  const auto flat = Flatten(result);
  ASSERT_EQ(flat->Width(), 400);
  for (std::size_t i = 0; i < flat->PixelCount(); ++i) ASSERT_EQ(AlphaOf(flat->Bits()[i]), 255u) << i;
}

// ---- Layer types ---------------------------------------------------------------------------

TEST_F(RenderTest, NormalPictureLandsWithItsTopLeftOnA) {
  UseFile(2, dir.Write("front.bmp", QuadrantPicture(20)));
  TLayerView l = RenderOne("normal", "front");  // slot names match without regard to case
  EXPECT_EQ(Pixel(0, 150, 150), MixOverZero(0xFF000000 | kTL, 255));
  EXPECT_EQ(Pixel(0, 250, 150), MixOverZero(0xFF000000 | kTR, 255));
  EXPECT_EQ(Pixel(0, 150, 250), MixOverZero(0xFF000000 | kBL, 255));
  EXPECT_EQ(Pixel(0, 250, 250), MixOverZero(0xFF000000 | kBR, 255));
  EXPECT_EQ(Pixel(0, 50, 50), 0u);
  EXPECT_TRUE(l.Visible());

  // Turned: A at the bottom-left, so the picture's top-left quadrant lands bottom-left.
  RenderOne("normal", "FRONT", {100, 300, 100, 100, 300, 100, 300, 300});
  EXPECT_EQ(Pixel(0, 150, 250), MixOverZero(0xFF000000 | kTL, 255));
  EXPECT_EQ(Pixel(0, 150, 150), MixOverZero(0xFF000000 | kTR, 255));
}

TEST_F(RenderTest, ReflectionOfAPictureIsMirroredAndFinished) {
  UseFile(2, dir.Write("front.bmp", QuadrantPicture(20)));
  settings.ReflectionOpacity = 77;
  TLayerView l = RenderOne("reflection", "FRONT");
  EXPECT_EQ(Pixel(0, 150, 150), MixOverZero(0xFF000000 | kBL, 255));
  EXPECT_EQ(Pixel(0, 250, 150), MixOverZero(0xFF000000 | kBR, 255));
  EXPECT_EQ(Pixel(0, 150, 250), MixOverZero(0xFF000000 | kTL, 255));
  EXPECT_EQ(l.Bitmap().MasterAlpha(), 77u);
  EXPECT_TRUE(l.Visible());

  // Hidden, not skipped, when reflections are switched off; brightness shifts the colour.
  settings.ShowReflection = false;
  settings.ReflectionBrightness = -20;
  TLayerView hidden = RenderOne("reflection", "FRONT");
  EXPECT_FALSE(hidden.Visible());
  const TColor32 white = MixOverZero(0xFFFFFFFF, 255);  // 0xFEFEFEFE
  EXPECT_EQ(Pixel(0, 150, 150), (white & 0xFF000000) | ((white & 0x00FFFFFF) - 0x141414));
}

TEST_F(RenderTest, ReflectionOfAColourIsFadedNotMirrored) {
  settings.FadeReflection = true;
  settings.ReflectionLength = 50;
  RenderOne("reflection", "FRONT");
  // The colour fills a canvas-sized picture whose upper half fades out; the overscanned square runs
  // from 95 to 305, so the fade ends near row 200 of the canvas.
  const std::uint32_t top = AlphaOf(Pixel(0, 200, 105));
  EXPECT_GT(top, 200u);
  EXPECT_LT(top, 254u);
  EXPECT_GT(top, AlphaOf(Pixel(0, 200, 150)));
  EXPECT_EQ(AlphaOf(Pixel(0, 200, 240)), 0u);
  EXPECT_EQ(AlphaOf(Pixel(0, 200, 290)), 0u);
  // The slot colour blended with the faded alpha as its weight.
  const TColor32 got = Pixel(0, 200, 150);
  bool found = false;
  for (std::uint32_t a = 1; a < 256 && !found; ++a)
    found = MixOverZero((Color32(SlotColour(2)) & 0x00FFFFFF) | a << 24, a) == got;
  EXPECT_TRUE(found) << std::hex << got;
}

TEST_F(RenderTest, RoundRectCutsTheCorners) {
  RenderOne("roundrect", "FRONT");
  EXPECT_LT(AlphaOf(Pixel(0, 101, 101)), 30u);
  EXPECT_LT(AlphaOf(Pixel(0, 298, 298)), 30u);
  EXPECT_EQ(Pixel(0, 200, 200), MixOverZero(Color32(SlotColour(2)), 255));
  EXPECT_EQ(Pixel(0, 200, 130), MixOverZero(Color32(SlotColour(2)), 255));
  EXPECT_LT(AlphaOf(Pixel(0, 200, 101)), AlphaOf(Pixel(0, 200, 110)));  // a soft edge
}

TEST_F(RenderTest, DiscHubIsBlendedOntoTheTarget) {
  // 200 x 200 disc: e = 100, hub alpha 70 between the rings at radius 24 and 33.3, hole of 12.5.
  TBitmap32 slot;
  slot.SetSize(4, 4);
  const std::unique_ptr<TBitmap32> art = DrawDiscArtwork(slot, 200, 200);
  ASSERT_EQ(art->PixelAt(128, 100), 0x46000000u);  // alpha 70 black

  TLayerView l = RenderOne("disc", "DISC");
  // The warp blends the artwork with weight 70 onto transparent black: alpha (70 x 70 + 128) shr 8.
  EXPECT_EQ(Pixel(0, 228, 200), MixOverZero(0x46000000u, 70));
  EXPECT_EQ(Pixel(0, 200, 228), MixOverZero(0x46000000u, 70));
  EXPECT_EQ(Pixel(0, 200, 200), 0u);  // spindle hole
  // The printed ring in the slot colour.
  const TColor32 ring = MixOverZero(Color32(SlotColour(5)), 255);
  const TColor32 got = Pixel(0, 270, 200);
  for (int s = 0; s < 32; s += 8) EXPECT_NEAR(static_cast<int>(got >> s & 0xFF), static_cast<int>(ring >> s & 0xFF), 1);
  // No overscan: the corners of the square, outside the disc, stay empty.
  EXPECT_EQ(AlphaOf(Pixel(0, 101, 101)), 0u);
  EXPECT_EQ(l.Bitmap().MasterAlpha(), 255u);

  request.LargeDiscArea = true;
  RenderOne("disc", "DISC");
  const TColor32 large = Pixel(0, 228, 200);  // radius 0.28 e: printed in the large-area disc
  for (int s = 0; s < 32; s += 8) EXPECT_NEAR(static_cast<int>(large >> s & 0xFF), static_cast<int>(ring >> s & 0xFF), 1);
  EXPECT_EQ(Pixel(0, 200, 200), 0u);
}

TEST_F(RenderTest, DiscReflectionIsFinishedLikeAReflection) {
  settings.ReflectionOpacity = 99;
  settings.ShowReflection = false;
  TLayerView l = RenderOne("discreflection", "DISC");
  EXPECT_EQ(Pixel(0, 228, 200), MixOverZero(0x46000000u, 70));
  EXPECT_EQ(l.Bitmap().MasterAlpha(), 99u);
  EXPECT_FALSE(l.Visible());

  settings.FadeReflection = true;  // a 50 % fade leaves the lower half of the disc empty
  RenderOne("discreflection", "DISC");
  EXPECT_EQ(AlphaOf(Pixel(0, 270, 220)), 0u);
  EXPECT_GT(AlphaOf(Pixel(0, 200, 120)), 100u);
}

TEST_F(RenderTest, DiscWithCornersOfNoWidthRaises) {
  ExpectThrowWithMessage<EZeroDivide>([&] { RenderOne("disc", "DISC", {100, 100, 100, 100, 100, 300, 100, 300}); },
                                      "Floating point division by zero");
  EXPECT_EQ(LayerCount(), 0);
}

TEST_F(RenderTest, ShadowIgnoresItsSource) {
  settings.ShadowColor = 0x0000FF;  // red as 0x00BBGGRR
  settings.ShadowDensity = 77;
  UseFile(2, dir.PathOf("missing.bmp"));  // would fail if the shadow looked at its source
  TLayerView l = RenderOne("shadow", "FRONT");
  EXPECT_EQ(Pixel(0, 200, 200), MixOverZero(0xFFFF0000, 255));
  EXPECT_EQ(l.Bitmap().MasterAlpha(), 77u);
  EXPECT_TRUE(l.Visible());
  EXPECT_EQ(AlphaOf(Pixel(0, 200, 97)), 0u);

  settings.ShowShadow = false;
  settings.ShadowBlur = 25;
  TLayerView blurred = RenderOne("shadow", "FRONT");
  EXPECT_FALSE(blurred.Visible());
  EXPECT_GT(AlphaOf(Pixel(0, 200, 97)), 0u);  // the blur spreads it past the edge
  EXPECT_LT(AlphaOf(Pixel(0, 200, 101)), 254u);
}

TEST_F(RenderTest, UniformShadingAndHighlight) {
  // The flat mask gives alpha 169 everywhere; the warp weighs it by the strength:
  // w = (169 x (S + 1)) shr 8, then each channel (c x w + 128) shr 8.
  settings.ShadingColor = 0x00FF00;
  settings.ShadingStrength = 255;
  RenderOne("shade", "rightlefttopdown");
  EXPECT_EQ(Pixel(0, 200, 200), MixOverZero(0xA900FF00u, 169));
  EXPECT_EQ(Pixel(0, 110, 290), MixOverZero(0xA900FF00u, 169));

  settings.ShadingStrength = 100;
  RenderOne("shade", "rightlefttopdown");
  EXPECT_EQ(Pixel(0, 200, 200), MixOverZero(0xA900FF00u, (169 * 101) >> 8));

  settings.HighlightColor = 0xFFFFFF;
  settings.HighlightStrength = 200;
  TLayerView l = RenderOne("highlight", "rightlefttopdown");
  EXPECT_EQ(Pixel(0, 200, 200), MixOverZero(0xA9FFFFFFu, (169 * 201) >> 8));
  EXPECT_EQ(l.Bitmap().MasterAlpha(), 255u);  // the strength is baked into the pixels
}

// Alpha near the four corners and the four edge midpoints of the rendered square.
struct TProbe {
  std::uint32_t TL, TR, BL, BR, Top, Bottom, Left, Right;
};

class ShadingDirectionTest : public RenderTest {
protected:
  TProbe Probe(const std::string& Type, const std::string& Direction) {
    RenderOne(Type, Direction);
    auto a = [&](int x, int y) { return AlphaOf(Pixel(0, x, y)); };
    return TProbe{a(115, 115), a(285, 115), a(115, 285), a(285, 285), a(200, 115), a(200, 285), a(115, 200), a(285, 200)};
  }
};

TEST_F(ShadingDirectionTest, DirectionsPutTheStrongestPartWhereTheyName) {
  for (const char* type : {"shade", "highlight"}) {
    SCOPED_TRACE(type);
    TProbe p = Probe(type, "leftdown");
    EXPECT_GT(p.BL, p.TL);
    EXPECT_GT(p.BL, p.BR);
    EXPECT_LT(p.TR, p.TL);
    p = Probe(type, "lefttop");
    EXPECT_GT(p.TL, p.TR);
    EXPECT_GT(p.TL, p.BL);
    p = Probe(type, "righttop");
    EXPECT_GT(p.TR, p.TL);
    EXPECT_GT(p.TR, p.BR);
    p = Probe(type, "rightdown");
    EXPECT_GT(p.BR, p.BL);
    EXPECT_GT(p.BR, p.TR);
    p = Probe(type, "left");
    EXPECT_GT(p.Left, p.Right);
    EXPECT_EQ(p.Top, p.Bottom);
    p = Probe(type, "top");
    EXPECT_GT(p.Top, p.Bottom);
    EXPECT_EQ(p.Left, p.Right);
    p = Probe(type, "right");
    EXPECT_GT(p.Right, p.Left);
    // Anything else, case included, is the vertical ramp unturned: strongest at the bottom.
    for (const char* other : {"unknown", "Left", "bottom", "RIGHTTOP", ""}) {
      SCOPED_TRACE(other);
      p = Probe(type, other);
      EXPECT_GT(p.Bottom, p.Top);
      EXPECT_EQ(p.Left, p.Right);
    }
  }
}

TEST_F(ShadingDirectionTest, BlurTypesAreMirroredAndFinishedAsReflections) {
  settings.ReflectionOpacity = 123;
  TProbe plain = Probe("shade", "unknown");
  TProbe p = Probe("blurshade", "unknown");
  EXPECT_NEAR(p.Top, plain.Bottom, 2);
  EXPECT_NEAR(p.Bottom, plain.Top, 2);
  EXPECT_GT(p.Top, p.Bottom);
  EXPECT_EQ(Layer(0).Bitmap().MasterAlpha(), 123u);
  settings.ShowReflection = false;
  p = Probe("blurhighlight", "top");  // half turn, then mirrored: strongest at the bottom
  EXPECT_GT(p.Bottom, p.Top);
  EXPECT_FALSE(Layer(0).Visible());
  EXPECT_EQ(Layer(0).Bitmap().MasterAlpha(), 123u);
  // The plain shading types are never hidden by the reflection switch.
  Probe("shade", "top");
  EXPECT_TRUE(Layer(0).Visible());
}

TEST_F(ShadingDirectionTest, RoundRectShadingHasRoundedCorners) {
  TProbe p = Probe("roundrectshade", "rightlefttopdown");
  // Alpha 169 blended twice onto transparent black (169 -> 112 -> 49), then warped with weight 49.
  EXPECT_EQ(AlphaOf(Pixel(0, 200, 200)), (49u * 49 + 128) >> 8);
  EXPECT_EQ(AlphaOf(Pixel(0, 101, 101)), 0u);
  EXPECT_EQ(p.Left, p.Right);
  p = Probe("roundrecthighlight", "left");
  EXPECT_GT(p.Left, p.Right);
  EXPECT_EQ(AlphaOf(Pixel(0, 101, 298)), 0u);
}

TEST_F(RenderTest, CustomColorAndCustomFile) {
  RenderOne("customcolor", "clRed");
  EXPECT_EQ(Pixel(0, 200, 200), MixOverZero(0xFFFF0000, 255));
  RenderOne("customcolor", "$00FF00");  // 0x00BBGGRR: green
  EXPECT_EQ(Pixel(0, 200, 200), MixOverZero(0xFF00FF00, 255));

  settings.FadeReflection = true;
  settings.ReflectionOpacity = 10;
  TLayerView r = RenderOne("customcolorreflection", "clBlue");
  EXPECT_EQ(AlphaOf(Pixel(0, 200, 250)), 0u);
  EXPECT_GT(AlphaOf(Pixel(0, 200, 105)), 200u);
  EXPECT_EQ(r.Bitmap().MasterAlpha(), 10u);

  dir.Write("custom/pic.bmp", QuadrantPicture(20));
  fs::create_directory(dir.PathOf("custom/sub"));
  dir.Write("custom/sub/pic.bmp", QuadrantPicture(20));
  for (const char* name : {"pic.bmp", "sub/pic.bmp"}) {
    SCOPED_TRACE(name);
    RenderOne("customfile", name);
    EXPECT_EQ(Pixel(0, 150, 150), MixOverZero(0xFF000000 | kTL, 255));
    EXPECT_EQ(Pixel(0, 250, 250), MixOverZero(0xFF000000 | kBR, 255));
  }
}

TEST_F(RenderTest, BadColourTextFailsTheLayer) {
  ExpectThrowWithMessage<EConvertError>([&] { RenderOne("customcolor", "nocolour"); },
                                        "'nocolour' is not a valid integer value");
  ExpectThrowWithMessage<EConvertError>([&] { RenderOne("customcolor", ""); }, "'unknown' is not a valid integer value");
}

TEST_F(RenderTest, CustomFileStaysInsideTheCustomFolder) {
  dir.Write("outside.bmp", QuadrantPicture());
  fs::create_directory(dir.PathOf("custom/sub"));
  fs::create_symlink(dir.PathOf("outside.bmp"), dir.PathOf("custom/link.bmp"));
  fs::create_directory_symlink(dir.Folder(), dir.PathOf("custom/up"));
  const std::string custom = request.CustomFolder;
  const std::string inside = "The name is not a file inside the custom folder.";
  const std::string outside = "The file lies outside the custom folder.";
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"../outside.bmp", inside},  {"sub/../../outside.bmp", inside}, {"..", inside},
      {"sub/..", inside},          {"link.bmp", outside},             {"up/outside.bmp", outside},
      {"up/custom/../outside.bmp", inside},
  };
  for (const auto& [name, why] : refused) {
    SCOPED_TRACE(name);
    ExpectThrowWithMessage<EFOpenError>([&] { RenderOne("customfile", name); },
                                        "Cannot open file \"" + custom + name + "\". " + why);
    EXPECT_EQ(LayerCount(), 0);
  }
  const std::string absolute = dir.PathOf("outside.bmp");
  ExpectThrowWithMessage<EFOpenError>([&] { CustomFilePath(custom, absolute); },
                                      "Cannot open file \"" + custom + absolute + "\". " + inside);
  ExpectThrowWithMessage<EFOpenError>([&] { CustomFilePath(custom, ""); },
                                      "Cannot open file \"" + custom + "\". " + inside);
  // Names with dots that are not ".." components are ordinary names.
  EXPECT_EQ(CustomFilePath(custom, "..pic.bmp"), custom + "..pic.bmp");
  EXPECT_EQ(CustomFilePath(custom, "a..b/pic.bmp"), custom + "a..b/pic.bmp");
}

TEST_F(RenderTest, TypesWithoutAPictureGiveEmptyLayers) {
  // Unknown types and slot-drawing types whose source names no slot.
  for (const char* type : {"unknown", "Normal", "SHADOW", "normal", "reflection", "roundrect", "disc",
                           "discreflection"}) {
    SCOPED_TRACE(type);
    settings.ShowReflection = false;
    TLayerView l = RenderOne(type, "FRONT3");
    EXPECT_TRUE(AllZero(l.Bitmap()));
    EXPECT_TRUE(l.Visible());
    EXPECT_EQ(l.Bitmap().MasterAlpha(), 255u);
    EXPECT_EQ(Kinds().size(), 1u);
  }
}

// ---- Failures ----------------------------------------------------------------------------

TEST_F(RenderTest, ParsedTemplateRendersAsItsFile) {
  Template(ImageText(400, 400) + LayerText("Layer1", "customcolor", "clRed") + LayerText("Layer2", "shadow", ""));
  Render();
  const auto fromFile = Flatten(result);
  request.Template.Parsed = std::make_shared<const TTemplate>(ReadTemplateFile(request.Template.File));
  request.Template.File = dir.PathOf("no such file");  // not read when a parsed template is given
  Render();
  const auto fromParsed = Flatten(result);
  ASSERT_EQ(fromParsed->PixelCount(), fromFile->PixelCount());
  EXPECT_TRUE(std::equal(fromParsed->Bits(), fromParsed->Bits() + fromParsed->PixelCount(), fromFile->Bits()));
}

TEST_F(RenderTest, ZeroTemplateSideAfterTheBackground) {
  Template(ImageText(400, 400) + LayerText("Layer1", "normal", "FRONT") + LayerText("Layer2", "shadow", ""));
  Render();
  ASSERT_EQ(Kinds().size(), 2u);

  Template("[Image]\nwidth=0\nheight=600\n" + LayerText("Layer1", "shadow", ""));
  ExpectThrowWithMessage<EZeroDivide>([&] { Render(); }, "Floating point division by zero");
  EXPECT_EQ(Kinds().size(), 2u);  // a failed render leaves the last result alone

  ExpectThrowWithMessage<EInvalidOp>([&] { Render(0, 400); }, "Invalid floating point operation");
  Template("[Image]\nwidth=800\nheight=0\n");
  ExpectThrowWithMessage<EZeroDivide>([&] { Render(); }, "Floating point division by zero");
}

TEST_F(RenderTest, FailingPicturesFailTheRender) {
  Template(ImageText(400, 400) + LayerText("Layer1", "customcolor", "clRed"));
  for (const std::string& file : {std::string(), dir.PathOf("missing.bmp"), dir.Write("bad.bmp", "BM not a bitmap")}) {
    SCOPED_TRACE(file);
    UseFile(1, file);
    EXPECT_ANY_THROW(Render());
  }
  Template(ImageText(400, 400) + LayerText("Layer1", "customcolor", "clRed") +
           LayerText("Layer2", "customcolor", "chartreuse") + LayerText("Layer3", "shadow", ""));
  UseFile(1, dir.Write("bg.bmp", QuadrantPicture()));
  ExpectThrowWithMessage<EConvertError>([&] { Render(); }, "'chartreuse' is not a valid integer value");
  Template(ImageText(400, 400) + LayerText("Layer1", "shadow", "") + LayerText("Layer2", "customfile", "gone.png"));
  EXPECT_ANY_THROW(Render());
}

// Layers are built two at a time, the larger first, but the error raised is the one that building
// them one after the other in file order meets first, even when a larger layer after it (built
// earlier) fails too.
TEST_F(RenderTest, FirstErrorInFileOrderWinsWhateverFailsLater) {
  const std::string missing = dir.PathOf("custom/absent.png");
  const TCorners small{10, 10, 30, 10, 30, 30, 10, 30};
  Template(ImageText(400, 400) + LayerText("Layer1", "customcolor", "clRed", small) +
           LayerText("Layer2", "customfile", "absent.png", small) + LayerText("Layer3", "customcolor", "chartreuse") +
           LayerText("Layer4", "shadow", ""));
  ExpectThrowWithMessage<EFOpenError>([&] { Render(); },
                                      "Cannot open file \"" + missing + "\". No such file or directory");

  // And with every layer sound, each layer is what a template of that layer alone gives.
  std::vector<std::string> layers;
  for (int i = 0; i < 9; ++i) {
    const int o = 20 * i;
    layers.push_back(LayerText("Layer" + std::to_string(i), i % 3 == 0 ? "shadow" : "customcolor",
                               i % 3 == 0 ? "" : "$8040C0",
                               TCorners{o, o, o + 40 + 30 * i, o + 5, o + 40 + 30 * i, o + 60, o, o + 50}));
  }
  std::string many = ImageText(400, 400);
  for (const std::string& l : layers) many += l;
  Template(many);
  Render();
  ASSERT_EQ(LayerCount(), 9);
  std::vector<std::vector<raster::TColor32>> built;
  for (int i = 0; i < 9; ++i) {
    const raster::TBitmap32& b = Layer(i).Bitmap();
    built.emplace_back(b.Bits(), b.Bits() + b.PixelCount());
  }
  for (int i = 0; i < 9; ++i) {
    Template(ImageText(400, 400) + layers[static_cast<std::size_t>(i)]);
    Render();
    ASSERT_EQ(LayerCount(), 1);
    const raster::TBitmap32& alone = Layer(0).Bitmap();
    EXPECT_TRUE(std::equal(alone.Bits(), alone.Bits() + alone.PixelCount(), built[static_cast<std::size_t>(i)].begin()))
        << "layer " << i;
  }
}

TEST_F(RenderTest, TemplateWithoutLayersAndZeroWidthCanvas) {
  Template(ImageText(400, 400) + "[Image2]\nwidth=3\n");
  Render();
  EXPECT_TRUE(Kinds().empty());
  EXPECT_EQ(LayerCount(), 0);

  // A canvas without width: scale 0; pictures of their own size still warp onto nothing.
  Template(ImageText(400, 400) + LayerText("Layer1", "shade", "top") + LayerText("Layer2", "highlight", "left"));
  Render(0, 300);
  EXPECT_EQ(Kinds().size(), 2u);
  ASSERT_EQ(LayerCount(), 2);
  EXPECT_TRUE(Layer(0).Bitmap().Empty());
  EXPECT_TRUE(Layer(1).Bitmap().Empty());
}

TEST_F(RenderTest, AbsurdCornersEndInAnErrorOrAPicture) {
  // 400 x 200 into 400 x 400 gives offY 100, so the largest y would overflow when offset.
  for (const TCorners c : {TCorners{100, INT32_MAX, 300, 100, 300, 300, 100, 300},
                           TCorners{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MAX},
                           TCorners{-100000, 100, 100000, 100, 300, 300, 100, 300}}) {
    for (const char* type : {"customcolor", "disc"}) {
      SCOPED_TRACE(type);
      Template(ImageText(400, 200) + LayerText("Layer1", type, type[0] == 'd' ? "DISC" : "clRed", c));
      try {
        Render();
      } catch (const Exception& e) {
        const std::string m = e.what();
        EXPECT_TRUE(m == "Invalid floating point operation" || m == "Can't allocate the DIB handle" ||
                    m.rfind("Disc artwork of ", 0) == 0)
            << m;
      }
    }
  }
}

TEST_F(RenderTest, NegativeCanvasSizeCountsAsZero) {
  Template(ImageText(400, 400) + LayerText("Layer1", "shade", "top"));
  Render(-5, 300);
  EXPECT_EQ(Canvas().Width(), 0);
  EXPECT_TRUE(Layer(0).Bitmap().Empty());
}

}  // namespace
}  // namespace quirlon::core
