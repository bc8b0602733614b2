#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Errors.h"
#include "view/LayerResamplers.h"
#include "raster/ExpBlur.h"
#include "view/ImgView32.h"
#include "support/ReferenceMix.h"
#include "raster/Layers.h"

namespace quirlon::view {

using namespace quirlon::raster;
namespace {

// ------------------------------------------------------------------------------------------------
// Reference arithmetic, written from the definitions and independent of the code under test.

using testref::RefMix;

// A row blend with master alpha m (as painting a same-size dmBlend, cmBlend layer does).
TColor32 RefBlend(TColor32 f, TColor32 b, unsigned m) {
  const unsigned fa = f >> 24;
  if (fa == 0) return b;
  if (m >= 255) return fa == 255 ? f : RefMix(f, b, fa);
  const unsigned w = ((fa + 1) * m) >> 8;
  return w == 0 ? b : RefMix(f, b, w);
}

// Straight-alpha "over" with the source alpha scaled by m (rounded half up), every result
// rounded half up from the exact rational value.
TColor32 RefMerge(TColor32 f, TColor32 b, unsigned m) {
  if (m > 255) m = 255;
  const std::uint64_t fa = f >> 24;
  const std::uint64_t a = m == 255 ? fa : (2 * fa * m + 255) / 510;
  if (a == 0) return b;
  const std::uint64_t ba = b >> 24;
  const std::uint64_t den = 255 * a + ba * (255 - a);  // 255 x result alpha
  TColor32 r = static_cast<TColor32>((2 * den + 255) / 510) << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    const std::uint64_t fc = (f >> shift) & 0xFF, bc = (b >> shift) & 0xFF;
    const std::uint64_t num = 255 * fc * a + bc * ba * (255 - a);
    r |= static_cast<TColor32>((2 * num + den) / (2 * den)) << shift;
  }
  return r;
}

void FillWith(TBitmap32& b, TColor32 c) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.PixelRef(x, y) = c;
}

// A view with one canvas of w x h filled with canvasColor (drawn dmTransparent, OuterColor 0).
struct Scene {
  TImgView32 view;
  Scene(int w, int h, TColor32 canvasColor) {
    view.SetViewportSize(297, 297);
    ConfigurePreviewView(view);
    view.Bitmap().SetSize(w, h);
    FillWith(view.Bitmap(), canvasColor);
  }
  // A same-size, scaled, dmBlend layer covering the canvas, filled with c.
  TBitmapLayer& AddLayer(TColor32 c, TCombineMode mode = cmBlend, std::uint32_t master = 255) {
    TBitmapLayer& layer = TBitmapLayer::Create(view.Layers());
    layer.SetScaled(true);
    layer.SetLocation(ToSingleRect(view.Bitmap().BoundsRect()));
    layer.Bitmap().SetSize(view.Bitmap().Width(), view.Bitmap().Height());
    FillWith(layer.Bitmap(), c);
    layer.Bitmap().SetDrawMode(dmBlend);
    layer.Bitmap().SetCombineMode(mode);
    layer.Bitmap().SetMasterAlpha(master);
    return layer;
  }
  // Flattens as saving does: a new bitmap of the canvas size, DestRect = its bounds.
  TColor32 FlattenPixel() {
    TBitmap32 flat;
    flat.SetSize(view.Bitmap().Width(), view.Bitmap().Height());
    view.PaintInto(flat, flat.BoundsRect());
    return flat.PixelAt(0, 0);
  }
};

// ------------------------------------------------------------------------------------------------
// Collection and layer bookkeeping

TEST(LayerCollectionTest, NewLayersGoOnTopWithTheirDefaults) {
  TLayerCollection layers;
  TBitmapLayer& a = TBitmapLayer::Create(layers);
  TBitmapLayer& b = TBitmapLayer::Create(layers);
  ASSERT_EQ(layers.Count(), 2);
  EXPECT_EQ(&layers.LayerAt(0), &a);
  EXPECT_EQ(&layers.LayerAt(1), &b);
  EXPECT_EQ(b.Index(), 1);
  EXPECT_EQ(a.LayerCollection(), &layers);
  EXPECT_EQ(a.OptionBits(), 0xA0000000u);
  EXPECT_TRUE(a.Visible());
  EXPECT_EQ(a.Location(), (TSingleRect{0, 0, 64, 64}));
  EXPECT_FALSE(a.Scaled());
  EXPECT_TRUE(a.Bitmap().Empty());
  EXPECT_FALSE(a.AlphaHit());
  EXPECT_FALSE(a.Cropped());

  TCustomLayer plain;
  EXPECT_EQ(plain.OptionBits(), 0x80000000u);
  EXPECT_EQ(plain.Index(), -1);
}

TEST(LayerCollectionTest, IndexOutOfRangeRaisesListError) {
  TLayerCollection layers;
  TBitmapLayer::Create(layers);
  for (int bad : {-1, 1, 7}) {
    try {
      layers.LayerAt(bad);
      FAIL() << bad;
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
    }
  }
  EXPECT_THROW(layers.Delete(3), EListError);
  EXPECT_EQ(layers.Count(), 1);
}

// Records the collection's events in order.
struct EventLog {
  std::vector<std::string> events;
  explicit EventLog(TLayerCollection& layers) {
    layers.OnChanging = [this](TObject*) { events.push_back("changing"); };
    layers.OnChange = [this](TObject*) { events.push_back("changed"); };
    layers.OnLayerUpdated = [this](TObject*, TCustomLayer* l) { events.push_back("updated " + std::to_string(l->Index())); };
    layers.OnListNotify = [this](TLayerCollection&, TLayerListNotification action, TCustomLayer*, std::int32_t index) {
      const char* names[] = {"added", "deleted", "cleared"};
      events.push_back(std::string(names[action]) + " " + std::to_string(index));
    };
  }
  std::vector<std::string> Take() { return std::exchange(events, {}); }
};

using Events = std::vector<std::string>;

TEST(LayerCollectionTest, ChangesAreReportedAsTheViewNeedsThem) {
  TLayerCollection layers;
  EventLog log(layers);
  TBitmapLayer& a = TBitmapLayer::Create(layers);
  EXPECT_EQ(log.Take(), (Events{"changing", "added 0", "changed"}));

  a.SetLocation(TSingleRect{1, 2, 3, 4});
  EXPECT_EQ(log.Take(), (Events{"changing", "updated 0", "changed"}));
  a.SetScaled(false);  // no change, no report
  EXPECT_TRUE(log.Take().empty());
  a.SetScaled(true);
  EXPECT_EQ(log.Take(), (Events{"changing", "updated 0", "changed"}));

  // Hiding still reports the layer (its old area must be repainted) and leaves no force bit.
  a.SetVisible(false);
  EXPECT_EQ(log.Take(), (Events{"changing", "updated 0"}));
  EXPECT_EQ(a.OptionBits(), 0x20000000u);
  // A hidden layer's changes are not reported at all.
  a.SetLocation(TSingleRect{0, 0, 1, 1});
  EXPECT_TRUE(log.Take().empty());
  a.SetVisible(true);
  EXPECT_EQ(log.Take(), (Events{"updated 0", "changed"}));

  // Inside the layer's own BeginUpdate, and with the no-update bit, nothing goes out.
  a.BeginUpdate();
  a.SetLocation(TSingleRect{5, 5, 6, 6});
  a.EndUpdate();
  EXPECT_TRUE(log.Take().empty());
  a.SetOptionBits(a.OptionBits() | kLayerNoUpdate);
  EXPECT_EQ(log.Take(), (Events{"changing"}));  // announced before the bit is stored
  a.SetLocation(TSingleRect{7, 7, 8, 8});
  EXPECT_TRUE(log.Take().empty());
  EXPECT_EQ(a.Location(), (TSingleRect{7, 7, 8, 8}));
}

TEST(LayerCollectionTest, BatchedChangesAreHeldBackUntilTheOutermostEndUpdate) {
  TLayerCollection layers;
  TBitmapLayer& a = TBitmapLayer::Create(layers);
  EventLog log(layers);
  layers.BeginUpdate();
  layers.BeginUpdate();
  TBitmapLayer::Create(layers);
  a.SetLocation(TSingleRect{});
  layers.EndUpdate();
  EXPECT_EQ(log.Take(), (Events{"changing", "added 1", "updated 0"}));
  layers.EndUpdate();
  EXPECT_EQ(log.Take(), (Events{"changed"}));
}

TEST(LayerCollectionTest, ClearDestroysLastToFirst) {
  TLayerCollection layers;
  std::vector<std::string> destroyed;
  for (int i = 0; i < 3; ++i) {
    TBitmapLayer& l = TBitmapLayer::Create(layers);
    l.OnDestroy = [&destroyed, &l, i](TObject* sender) {
      EXPECT_EQ(sender, &l);
      EXPECT_EQ(l.Index(), i);  // still listed while its destroy event runs
      destroyed.push_back(std::to_string(i));
    };
  }
  EventLog log(layers);
  layers.Clear();
  EXPECT_EQ(layers.Count(), 0);
  EXPECT_EQ(destroyed, (std::vector<std::string>{"2", "1", "0"}));
  EXPECT_EQ(log.Take(), (Events{"changing", "deleted 2", "deleted 1", "deleted 0", "cleared 0", "changed"}));
}

class TWatcherLayer : public TCustomLayer {
public:
  std::vector<TCustomLayer*> heard;

protected:
  void Notification(TCustomLayer& Layer) override { heard.push_back(&Layer); }
};

TEST(LayerCollectionTest, FreeNotificationReachesTheWatcherWhicheverGoesFirst) {
  TLayerCollection layers;
  TWatcherLayer& watcher = TCustomLayer::CreateIn<TWatcherLayer>(layers);
  TBitmapLayer& watched = TBitmapLayer::Create(layers);
  watched.AddNotification(watcher);
  layers.Delete(1);
  ASSERT_EQ(watcher.heard.size(), 1u);

  // The watcher going first must leave no stale entry behind (the sanitizer build checks).
  TBitmapLayer& other = TBitmapLayer::Create(layers);
  other.AddNotification(watcher);
  layers.Delete(0);
  layers.Delete(0);
  EXPECT_EQ(layers.Count(), 0);
}

TEST(LayerCollectionTest, ScaledLayersFollowTheViewportScaleAndShift) {
  TLayerCollection layers;
  TBitmapLayer& l = TBitmapLayer::Create(layers);
  l.SetLocation(TSingleRect{10, 20, 30, 40});
  EXPECT_EQ(l.GetAdjustedLocation(), (TSingleRect{10, 20, 30, 40}));  // not scaled
  l.SetScaled(true);
  EXPECT_EQ(l.GetAdjustedLocation(), (TSingleRect{10, 20, 30, 40}));  // default scale 1, shift 0
  layers.OnGetViewportScale = [](float& sx, float& sy) { sx = 0.5f; sy = 0.25f; };
  layers.OnGetViewportShift = [](float& x, float& y) { x = 3; y = -2; };
  EXPECT_EQ(l.GetAdjustedLocation(), (TSingleRect{8, 3, 18, 8}));
  // Rounded to the nearest pixel, ties to even.
  l.SetLocation(TSingleRect{1, 1, 3, 11});  // 3.5, -1.75, 4.5, 0.75
  EXPECT_EQ(l.DrawRect(), (TRect{4, -2, 4, 1}));
}

TEST(LayerCollectionTest, AChangeInsideALayerBitmapIsReportedAsAnArea) {
  TLayerCollection layers;
  TBitmapLayer& l = TBitmapLayer::Create(layers);
  l.Bitmap().SetSize(10, 10);
  l.SetLocation(TSingleRect{100, 100, 120, 120});  // twice the size
  std::vector<TRect> areas;
  layers.OnAreaUpdated = [&areas](TObject*, const TRect& r, std::uint32_t) { areas.push_back(r); };
  l.Bitmap().FillRect(1, 2, 3, 4, 0xFFFFFFFF);
  // (1, 2, 3, 4) x 2 + (100, 100), widened by the nearest resampler's reach 1 plus one pixel.
  ASSERT_EQ(areas.size(), 1u);
  EXPECT_EQ(areas[0], (TRect{100, 102, 108, 110}));
  l.SetVisible(false);
  l.Bitmap().FillRect(1, 2, 3, 4, 0xFFFFFFFF);
  EXPECT_EQ(areas.size(), 1u);
}

// ------------------------------------------------------------------------------------------------
// Flattening

TEST(FlattenTest, BlendedLayerPixelsFollowTheRowBlend) {
  {
    Scene s(2, 2, 0);  // transparent canvas
    s.AddLayer(0x80FF0000);
    EXPECT_EQ(s.FlattenPixel(), 0x40800000u);  // alpha 64: a quarter of the layer's opacity
  }
  {
    Scene s(2, 2, 0xFFFFFFFF);
    s.AddLayer(0x80FF0000);
    EXPECT_EQ(s.FlattenPixel(), 0xC0FF8080u);  // alpha drops below 255
  }
  {
    Scene s(2, 2, 0xFFFFFFFF);
    s.AddLayer(0xFF00FF00, cmBlend, 128);
    EXPECT_EQ(s.FlattenPixel(), 0xFF80FF80u);
  }
  {
    Scene s(2, 2, 0xFF123456);
    s.AddLayer(0xFFABCDEF);
    EXPECT_EQ(s.FlattenPixel(), 0xFFABCDEFu);  // opaque replaces exactly
  }
  {
    Scene s(2, 2, 0xFF123456);
    s.AddLayer(0x00ABCDEF);
    EXPECT_EQ(s.FlattenPixel(), 0xFF123456u);  // alpha 0 leaves it exactly
  }
}

TEST(FlattenTest, MergedLayerPixelsKeepTrueAlpha) {
  {
    Scene s(2, 2, 0);
    s.AddLayer(0x80FF0000, cmMerge);
    EXPECT_EQ(s.FlattenPixel(), 0x80FF0000u);  // over nothing: the layer pixel itself
  }
  {
    Scene s(2, 2, 0xFFFFFFFF);
    s.AddLayer(0x80FF0000, cmMerge);
    // alpha stays 255; green and blue (255 x 127) / 255 = 127.
    EXPECT_EQ(s.FlattenPixel(), 0xFFFF7F7Fu);
  }
  {
    Scene s(2, 2, 0x80000000);  // half-transparent black canvas
    s.AddLayer(0x80FFFFFF, cmMerge);
    // alpha 128 + 128 x 127 / 255 = 191.75 -> 192; colour 255 x 128 x 255 / (255 x 191.75) = 170.2 -> 170.
    EXPECT_EQ(s.FlattenPixel(), 0xC0AAAAAAu);
  }
  {
    Scene s(2, 2, 0xFF000000);
    s.AddLayer(0xFFFFFFFF, cmMerge, 128);  // master alpha scales the layer alpha to 128
    EXPECT_EQ(s.FlattenPixel(), 0xFF808080u);
  }
}

TEST(FlattenTest, LayersThatDrawNothingChangeNothing) {
  Scene s(3, 2, 0xFF404040);
  s.AddLayer(0xFFFF0000, cmBlend, 0);              // master alpha 0
  s.AddLayer(0xFF00FF00).SetVisible(false);         // hidden
  TBitmapLayer& empty = TBitmapLayer::Create(s.view.Layers());  // empty bitmap
  empty.Bitmap().SetDrawMode(dmBlend);
  s.AddLayer(0xFFFF00FF, cmMerge, 0);              // merge with master alpha 0
  EXPECT_EQ(s.FlattenPixel(), 0xFF404040u);
}

TEST(FlattenTest, TheCanvasIsCopiedExceptForPixelsThatAreExactlyZero) {
  Scene s(3, 1, 0);
  s.view.Bitmap().PixelRef(1, 0) = 0x00000001;
  s.view.Bitmap().PixelRef(2, 0) = 0xFF0000FF;
  TBitmap32 flat;
  flat.SetSize(3, 1);
  FillWith(flat, 0x80808080);  // PaintInto draws over what is there
  s.view.PaintInto(flat, flat.BoundsRect());
  EXPECT_EQ(flat.PixelAt(0, 0), 0x80808080u);
  EXPECT_EQ(flat.PixelAt(1, 0), 0x00000001u);
  EXPECT_EQ(flat.PixelAt(2, 0), 0xFF0000FFu);
}

TEST(FlattenTest, TheHigherLayerEndsOnTop) {
  Scene s(2, 2, 0);
  s.AddLayer(0xFFFF0000);
  s.AddLayer(0xFF0000FF);
  EXPECT_EQ(s.FlattenPixel(), 0xFF0000FFu);
  s.view.Layers().LayerAt(1).SetVisible(false);
  EXPECT_EQ(s.FlattenPixel(), 0xFFFF0000u);
}

TEST(FlattenTest, ZeroWidthDestinationUsesScaleOneAndSkipsTheCanvas) {
  Scene s(4, 4, 0xFF00FF00);
  TBitmapLayer& l = s.AddLayer(0xFFFF0000);
  l.SetLocation(TSingleRect{0, 0, 2, 2});
  l.Bitmap().SetSize(2, 2);
  FillWith(l.Bitmap(), 0xFFFF0000);
  TBitmap32 flat;
  flat.SetSize(4, 4);
  bool checked = false;
  s.view.OnPaintStage = [&checked](TCustomImage32& v, TBitmap32&, std::uint32_t stage) {
    if (stage != 0) return;
    EXPECT_TRUE(v.PaintingInto());
    EXPECT_EQ(v.CachedScaleX(), 65536);
    EXPECT_EQ(v.CachedScaleY(), 65536);
    EXPECT_EQ(v.CachedShiftX(), 0);
    EXPECT_EQ(v.CachedShiftY(), 0);
    checked = true;
  };
  s.view.PaintInto(flat, TRect{3, 0, 3, 4});
  EXPECT_TRUE(checked);
  EXPECT_EQ(flat.PixelAt(0, 0), 0xFFFF0000u);  // the layer at scale 1
  EXPECT_EQ(flat.PixelAt(3, 3), 0u);           // no canvas
}

TEST(FlattenTest, NeitherCheckerboardNorFrameReachTheFlattenedPicture) {
  for (int size : {1, 8, 297, 300}) {
    Scene s(size, size, 0);
    s.view.SetViewportSize(size, size);
    s.view.Repaint();
    TBitmap32 flat;
    flat.SetSize(size, size);
    s.view.PaintInto(flat, flat.BoundsRect());
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) ASSERT_EQ(flat.PixelAt(x, y), 0u) << size << " " << x << "," << y;
  }
}

// Random stacks: canvas, shifted destination rectangle, scaled and unscaled same-size layers at
// integer offsets, every master alpha class, both combine modes, hidden layers; compared with a
// plain per-pixel composite.
// The promise about a layer's zeros lasts until its pixels change, and survives what leaves
// them alone (a new resampler).
TEST(FlattenTest, ContentBoundsLastUntilThePixelsChange) {
  TImgView32 view;
  TBitmapLayer& layer = TBitmapLayer::Create(view.Layers());
  layer.Bitmap().SetSize(10, 10);
  layer.SetContentBounds(TRect{2, 3, 50, 4});
  EXPECT_TRUE(layer.HasContentBounds());
  EXPECT_EQ(layer.ContentBounds(), (TRect{2, 3, 10, 4}));  // kept inside the bitmap
  ResamplerClassNamesListChange(view, "TLinearResampler", "TBoxKernel");
  EXPECT_TRUE(layer.HasContentBounds());
  EXPECT_EQ(layer.ContentBounds(), (TRect{2, 3, 10, 4}));
  layer.Bitmap().Clear(0xFF00FF00u);
  EXPECT_FALSE(layer.HasContentBounds());
  EXPECT_EQ(layer.ContentBounds(), (TRect{0, 0, 10, 10}));
  layer.SetContentBounds(TRect{1, 1, 2, 2});
  layer.Bitmap().PixelRef(5, 5) = 0xFFFFFFFFu;
  layer.Bitmap().AreaChanged(TRect{5, 5, 6, 6});
  EXPECT_FALSE(layer.HasContentBounds());
  layer.SetContentBounds(TRect{1, 1, 2, 2});
  layer.Bitmap().SetSize(12, 10);
  EXPECT_FALSE(layer.HasContentBounds());

  // A blur grows the promise with the pixels it spreads, since it reports nothing.
  TBitmap32 b;
  b.SetSize(40, 40);
  b.PixelRef(20, 20) = 0xFFFFFFFFu;
  b.PromiseZeroOutside(TRect{20, 20, 21, 21});
  ExpBlur(b, 3);
  EXPECT_TRUE(b.ZeroOutsidePromised());
  const TRect grown = b.ZeroOutside();
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      if (b.PixelAt(x, y) != 0) ASSERT_TRUE(x >= grown.Left && x < grown.Right && y >= grown.Top && y < grown.Bottom);
}

TEST(FlattenTest, RandomStacksMatchAPlainPerPixelComposite) {
  std::mt19937 rng(20261209);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto colour = [&]() {
    const int kind = pick(0, 5);
    TColor32 c = static_cast<TColor32>(rng());
    if (kind == 0) return TColor32{0};
    if (kind == 1) return c & 0x00FFFFFFu;            // alpha 0
    if (kind == 2) return c | 0xFF000000u;            // opaque
    if (kind == 3) return (c & 0x00FFFFFFu) | 0x01000000u;  // alpha 1
    return c;
  };
  const std::uint32_t masters[] = {0, 1, 2, 127, 128, 200, 254, 255, 300};

  for (int round = 0; round < 60; ++round) {
    const int cw = pick(1, 24), ch = pick(1, 24);
    Scene s(cw, ch, 0);
    for (int y = 0; y < ch; ++y)
      for (int x = 0; x < cw; ++x) s.view.Bitmap().PixelRef(x, y) = pick(0, 3) == 0 ? 0 : colour();
    // The destination: larger than the canvas, prefilled, canvas placed at (ox, oy).
    const int dw = cw + pick(0, 6), dh = ch + pick(0, 6);
    const int ox = pick(-3, 5), oy = pick(-3, 5);
    TBitmap32 dest;
    dest.SetSize(dw, dh);
    std::vector<TColor32> ref(static_cast<size_t>(dw) * dh);
    for (int y = 0; y < dh; ++y)
      for (int x = 0; x < dw; ++x) ref[y * dw + x] = dest.PixelRef(x, y) = colour();
    for (int y = 0; y < ch; ++y)
      for (int x = 0; x < cw; ++x) {
        const int dx = x + ox, dy = y + oy;
        const TColor32 c = s.view.Bitmap().PixelAt(x, y);
        if (dx >= 0 && dy >= 0 && dx < dw && dy < dh && c != 0) ref[dy * dw + dx] = c;
      }

    const int layerCount = pick(0, 5);
    for (int i = 0; i < layerCount; ++i) {
      TBitmapLayer& l = TBitmapLayer::Create(s.view.Layers());
      const int lw = pick(1, 20), lh = pick(1, 20), lx = pick(-5, 20), ly = pick(-5, 20);
      const bool scaled = pick(0, 1) == 1;
      const bool visible = pick(0, 4) != 0;
      const std::uint32_t master = masters[pick(0, 8)];
      const TCombineMode mode = pick(0, 1) ? cmMerge : cmBlend;
      l.SetScaled(scaled);
      l.SetLocation(TSingleRect{float(lx), float(ly), float(lx + lw), float(ly + lh)});
      l.Bitmap().SetSize(lw, lh);
      l.Bitmap().SetDrawMode(dmBlend);
      l.Bitmap().SetCombineMode(mode);
      l.Bitmap().SetMasterAlpha(master);
      for (int y = 0; y < lh; ++y)
        for (int x = 0; x < lw; ++x) l.Bitmap().PixelRef(x, y) = colour();
      if (pick(0, 1) == 1) {
        // Transparent black outside a rectangle, promised to the layer (sometimes generously).
        const int left = pick(0, lw), top = pick(0, lh);
        const TRect content{left, top, pick(left, lw), pick(top, lh)};
        for (int y = 0; y < lh; ++y)
          for (int x = 0; x < lw; ++x)
            if (x < content.Left || x >= content.Right || y < content.Top || y >= content.Bottom)
              l.Bitmap().PixelRef(x, y) = 0;
        l.SetContentBounds(pick(0, 2) == 0 ? TRect{content.Left - 2, content.Top - 1, content.Right + 3, content.Bottom}
                                           : content);
      }
      l.SetVisible(visible);
      if (!visible || master == 0) continue;
      const int px = lx + (scaled ? ox : 0), py = ly + (scaled ? oy : 0);
      for (int y = 0; y < lh; ++y)
        for (int x = 0; x < lw; ++x) {
          const int dx = px + x, dy = py + y;
          if (dx < 0 || dy < 0 || dx >= dw || dy >= dh) continue;
          TColor32& d = ref[dy * dw + dx];
          const TColor32 f = l.Bitmap().PixelAt(x, y);
          d = mode == cmMerge ? RefMerge(f, d, master) : RefBlend(f, d, master);
        }
    }

    s.view.PaintInto(dest, TRect{ox, oy, ox + cw, oy + ch});
    for (int y = 0; y < dh; ++y)
      for (int x = 0; x < dw; ++x)
        ASSERT_EQ(dest.PixelAt(x, y), ref[y * dw + x]) << "round " << round << " at " << x << "," << y;
  }
}

}  // namespace
}  // namespace quirlon::view
