// Layers shared between renders: the layers that do not depend on what changed are reused, and a
// picture rewritten under the same name is never shown from an earlier render.
#include <gtest/gtest.h>

#include <memory>
#include <string>

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

}  // namespace
}  // namespace quirlon::core
