// Layers shared between renders: the layers that do not depend on what changed are reused, and a
// picture rewritten under the same name is never shown from an earlier render.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "core/LayerCache.h"
#include "core/Render.h"
#include "imagefiles/OutputWriters.h"
#include "tests/ScratchFolder.h"

namespace quirlon::core {
namespace {

std::string Source(const std::string& name) { return std::string(QUIRLON_SOURCE_DIR) + "/" + name; }

// A plain picture of Width x Height in Colour, written over File.
void WritePlain(const std::string& File, int Width, int Height, raster::TColor32 Colour) {
  raster::TBitmap32 b;
  b.SetSize(Width, Height);
  b.Clear(Colour);
  imagefiles::SaveBmp(b, File, 96);
}

TRenderRequest BoxWithFront(const std::string& Front) {
  TRenderRequest request;
  request.Template.File = Source("data/Templates/01 Software box left.ini");
  request.CustomFolder = Source("data/custom/");
  request.Sources[SlotIndex(TSlot::Front)] = TSlotSource::OfFile(Front);
  request.Sources[SlotIndex(TSlot::Side)] = TSlotSource::OfFile(Source("examples/box-side.jpg"));
  request.Width = 320;
  request.Height = 240;
  return request;
}

bool SamePixels(const raster::TBitmap32& a, const raster::TBitmap32& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.PixelAt(x, y) != b.PixelAt(x, y)) return false;
  return true;
}

TEST(LayerCacheTest, ReusesWhatDidNotChangeAndRereadsARewrittenPicture) {
  testing::ScratchFolder dir;
  const std::string front = dir.PathOf("front.bmp");
  WritePlain(front, 190, 235, 0xFFC03020u);
  TLayerCache cache(std::size_t{64} << 20);
  TRenderRequest cached = BoxWithFront(front);
  // Parsed once, as a batch's template cache does: layers are shared within one parsed template.
  const auto parsed = std::make_shared<const TTemplate>(ReadTemplateFile(cached.Template.File));
  cached.Template.Parsed = parsed;
  cached.Layers = &cache;
  ApplyTemplate(cached);  // layers are kept when built a second time
  const TRenderResult first = ApplyTemplate(cached);
  EXPECT_EQ(cache.Hits(), 0u);

  // The same name, another picture (and another size, so that its identity surely changes).
  WritePlain(front, 200, 240, 0xFF2050C0u);
  const TRenderResult second = ApplyTemplate(cached);
  const TRenderResult alone = ApplyTemplate(BoxWithFront(front));
  EXPECT_TRUE(SamePixels(*Flatten(second), *Flatten(alone)));
  EXPECT_FALSE(SamePixels(*Flatten(first), *Flatten(second)));

  // Every layer that does not show the front came from the first render; the front's did not.
  ASSERT_EQ(first.Layers.size(), second.Layers.size());
  std::size_t shared = 0, frontLayers = 0;
  for (std::size_t i = 0; i < first.Layers.size(); ++i) {
    const bool showsFront = LayerTypeInfo(first.Layers[i].Role.Type).DrawsFromSlot && SourceSlotIndex(parsed->Layers[i].Source) == static_cast<int>(SlotIndex(TSlot::Front)) + 1;
    frontLayers += showsFront;
    if (first.Layers[i].Bitmap == second.Layers[i].Bitmap) {
      EXPECT_FALSE(showsFront) << "layer " << i;
      ++shared;
    } else {
      EXPECT_TRUE(showsFront) << "layer " << i;
    }
  }
  EXPECT_GT(frontLayers, 0u);
  EXPECT_EQ(shared + frontLayers, first.Layers.size());
  EXPECT_EQ(cache.Hits(), shared);
}

// A cache that hands out copies: no bitmap is shared between two renders, the pixels are the same.
TEST(LayerCacheTest, CopiesAreNeverShared) {
  TLayerCache cache(std::size_t{64} << 20, TLayerCache::TSharing::Copies);
  TRenderRequest request = BoxWithFront(Source("examples/box-front.jpg"));
  request.Template.Parsed = std::make_shared<const TTemplate>(ReadTemplateFile(request.Template.File));
  request.Layers = &cache;
  ApplyTemplate(request);
  const TRenderResult second = ApplyTemplate(request), third = ApplyTemplate(request);
  EXPECT_EQ(cache.Hits(), third.Layers.size());
  for (std::size_t i = 0; i < third.Layers.size(); ++i) EXPECT_NE(second.Layers[i].Bitmap, third.Layers[i].Bitmap);
  request.Layers = nullptr;
  EXPECT_TRUE(SamePixels(*Flatten(third), *Flatten(ApplyTemplate(request))));
}

// A picture met once (a shop's upload, a catalogue's cover) is not held by the cache once the
// render is over: the cache notes only that its layers were built.
TEST(LayerCacheTest, APictureMetOnceIsNotHeld) {
  TLayerCache cache(std::size_t{64} << 20);
  std::weak_ptr<const imagefiles::TGraphic> watched;
  {
    imagefiles::TPictureCache decoded;  // gone with the scope, as a request's upload is
    const std::shared_ptr<const imagefiles::TGraphic> picture = decoded.Load(Source("examples/box-front.jpg"));
    watched = picture;
    TRenderRequest request = BoxWithFront(Source("examples/box-front.jpg"));
    request.Sources[SlotIndex(TSlot::Front)] = TSlotSource::OfPicture(picture);
    request.Template.Parsed = std::make_shared<const TTemplate>(ReadTemplateFile(request.Template.File));
    request.Layers = &cache;
    ApplyTemplate(request);
  }
  EXPECT_TRUE(watched.expired());
}

// Two threads render with one cache at once, as a batch's job threads do: every picture is the one
// an unshared render makes (and ThreadSanitizer sees the sharing).
TEST(LayerCacheTest, ThreadsShareOneCache) {
  TRenderRequest request = BoxWithFront(Source("examples/box-front.jpg"));
  request.Template.Parsed = std::make_shared<const TTemplate>(ReadTemplateFile(request.Template.File));
  const auto alone = Flatten(ApplyTemplate(request));
  TLayerCache cache(std::size_t{64} << 20);
  imagefiles::TPictureCache pictures;
  request.Layers = &cache;
  request.Pictures = &pictures;
  std::atomic<int> same{0};
  auto renders = [&] {
    for (int i = 0; i < 4; ++i) same += SamePixels(*Flatten(ApplyTemplate(request)), *alone);
  };
  std::thread other(renders);
  renders();
  other.join();
  EXPECT_EQ(same.load(), 8);
  EXPECT_GT(cache.Hits(), 0u);
}

// Each setting moved on its own, as a slider in the window moves it: the layers a render takes from
// the cache must be exactly those the setting does not change, on every bundled template.
TEST(LayerCacheTest, EachSettingRebuildsWhatItChanges) {
  const struct {
    const char* Name;
    void (*Change)(TRenderSettings&);
  } changes[] = {
      {"show-reflection", [](TRenderSettings& s) { s.ShowReflection = false; }},
      {"fade-reflection", [](TRenderSettings& s) { s.FadeReflection = false; }},
      {"reflection-opacity", [](TRenderSettings& s) { s.ReflectionOpacity = 90; }},
      {"reflection-blur", [](TRenderSettings& s) { s.ReflectionBlur = 3; }},
      {"reflection-brightness", [](TRenderSettings& s) { s.ReflectionBrightness = -60; }},
      {"reflection-length", [](TRenderSettings& s) { s.ReflectionLength = 80; }},
      {"shadow-density", [](TRenderSettings& s) { s.ShadowDensity = 100; }},
      {"shadow-colour", [](TRenderSettings& s) { s.ShadowColor = 0x3050A0; }},
      {"shadow-blur", [](TRenderSettings& s) { s.ShadowBlur = 5; }},
      {"show-shadow", [](TRenderSettings& s) { s.ShowShadow = false; }},
      {"shading-strength", [](TRenderSettings& s) { s.ShadingStrength = 60; }},
      {"highlight-strength", [](TRenderSettings& s) { s.HighlightStrength = 60; }},
      {"shading-colour", [](TRenderSettings& s) { s.ShadingColor = 0x802020; }},
      {"highlight-colour", [](TRenderSettings& s) { s.HighlightColor = 0x20FF20; }},
      {"sampling", [](TRenderSettings& s) { s.Sampling = TSampling::Exact; }},
      {"fit", [](TRenderSettings& s) { s.Fit = TFitMode::Pad; }},
      {"safe-margin", [](TRenderSettings& s) { s.SafeMargin = 10; }},
  };
  // Small checked pictures (so that a changed fit or margin shows), quick to warp.
  testing::ScratchFolder dir;
  raster::TBitmap32 checks;
  checks.SetSize(48, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 48; ++x) checks.PixelRef(x, y) = (x / 6 + y / 6) % 2 ? 0xFFE0C020u : 0xFF2050C0u;
  const std::string art = dir.PathOf("checks.bmp");
  imagefiles::SaveBmp(checks, art, 96);
  imagefiles::TPictureCache pictures;
  for (const auto& entry : std::filesystem::directory_iterator(Source("data/Templates"))) {
    if (entry.path().extension() != ".ini") continue;
    TRenderRequest base = BoxWithFront(art);
    base.Template.File = entry.path().string();
    for (const TSlot slot : {TSlot::Side, TSlot::Top, TSlot::Disc}) base.Sources[SlotIndex(slot)] = TSlotSource::OfFile(art);
    base.Width = 96;
    base.Height = 72;
    base.Pictures = &pictures;
    base.Template.Parsed = std::make_shared<const TTemplate>(ReadTemplateFile(base.Template.File));
    TLayerCache cache(std::size_t{64} << 20);
    base.Layers = &cache;
    ApplyTemplate(base);
    ApplyTemplate(base);  // every layer of the base is kept now
    for (const auto& change : changes) {
      TRenderRequest changed = base;
      change.Change(changed.Settings);
      const auto shared = Flatten(ApplyTemplate(changed));
      changed.Layers = nullptr;
      EXPECT_TRUE(SamePixels(*shared, *Flatten(ApplyTemplate(changed))))
          << entry.path().filename() << ", " << change.Name;
    }
  }
}

}  // namespace
}  // namespace quirlon::core
