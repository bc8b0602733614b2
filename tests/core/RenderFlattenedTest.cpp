// Rendering straight into the flat picture, a few layers at a time, must give exactly the pixels of
// the full render flattened afterwards, for every bundled template, both samplings, pictures and
// colours in the slots, a background picture, a transparent background and every flatten option;
// and refuse what the full render refuses, with the same message.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/LayerCache.h"
#include "core/Render.h"
#include "core/Template.h"
#include "raster/Parallel.h"

namespace quirlon::core {
namespace {

const std::string kRoot = QUIRLON_SOURCE_DIR;

TRenderRequest TemplateRequest(int Number) {
  TRenderRequest r;
  const std::string folder = kRoot + "/data/Templates/";
  r.Template.File = folder + TemplateEntry(ListTemplates(folder), Number);
  r.CustomFolder = kRoot + "/data/custom/";
  r.Width = 173;  // odd sizes: rounding at the template fit and the flip's middle column
  r.Height = 131;
  return r;
}

void PutPictures(TRenderRequest& r, bool Background) {
  const std::string ex = kRoot + "/examples/";
  r.Sources[SlotIndex(TSlot::Front)] = TSlotSource::OfFile(ex + "box-front.jpg");
  r.Sources[SlotIndex(TSlot::Side)] = TSlotSource::OfFile(ex + "box-side.jpg");
  r.Sources[SlotIndex(TSlot::Top)] = TSlotSource::OfFile(ex + "box-top.jpg");
  r.Sources[SlotIndex(TSlot::Disc)] = TSlotSource::OfFile(ex + "disc-label.jpg");
  r.Sources[SlotIndex(TSlot::Front2)] = TSlotSource::OfFile(ex + "box2-front.jpg");
  if (Background) r.Sources[SlotIndex(TSlot::Background)] = TSlotSource::OfFile(ex + "backdrop.jpg");
}

struct TVariant {
  const char* Name;
  TSampling Sampling;
  bool Pictures, Background, Transparent;
  TFlattenOptions Flatten;
};

const TVariant kVariants[] = {
    {"smooth, pictures", TSampling::Smooth, true, false, false, {}},
    {"exact, pictures, flipped", TSampling::Exact, true, false, false, {.Flip = true}},
    {"smooth, colours, background picture", TSampling::Smooth, false, true, false, {}},
    {"smooth, transparent, no reflections", TSampling::Smooth, true, false, true, {.HideReflections = true}},
    {"exact, no shadows, flipped", TSampling::Exact, true, true, false, {.HideShadows = true, .Flip = true}},
};

TEST(RenderFlattenedTest, EveryBundledTemplateGivesTheFlattenedRenderExactly) {
  imagefiles::TPictureCache pictures;
  for (int number = 1; number <= 14; ++number) {
    for (const TVariant& v : kVariants) {
      TRenderRequest r = TemplateRequest(number);
      r.Settings.Sampling = v.Sampling;
      r.Settings.ReflectionBlur = 12;
      r.Settings.ShadowBlur = 9;
      r.TransparentBackground = v.Transparent;
      r.Pictures = &pictures;
      if (v.Pictures || v.Background) PutPictures(r, v.Background);
      if (!v.Pictures) {
        for (TSlot slot : {TSlot::Front, TSlot::Side, TSlot::Top, TSlot::Disc, TSlot::Front2})
          r.Sources[SlotIndex(slot)] = TSlotSource::OfColour(0x3060A0 + SlotNumber(slot));
      }
      const TRenderResult full = ApplyTemplate(r);
      const auto expected = Flatten(full, v.Flatten);
      const std::vector<std::uint32_t> want(expected->Bits(), expected->Bits() + expected->PixelCount());
      // Two builders drawing as they go; one alone (as a batch's job threads run it); and through a
      // layer cache three times (the template parsed once, as a batch holds it), the third taking
      // the layers the second kept.
      TLayerCache cache(std::size_t{256} << 20);
      r.Template.Parsed = std::make_shared<const TTemplate>(ReadTemplateFile(r.Template.File));
      for (const char* mode : {"two builders", "one builder", "cached", "cached", "from the cache"}) {
        const std::string how = mode;
        std::optional<raster::TSerialLoops> alone;
        if (how == "one builder") alone.emplace();
        r.Layers = how == "two builders" || how == "one builder" ? nullptr : &cache;
        std::vector<TArtFit> mismatched;
        const auto streamed = RenderFlattened(r, v.Flatten, &mismatched);
        ASSERT_EQ(streamed->Width(), expected->Width());
        ASSERT_EQ(streamed->Height(), expected->Height());
        const std::vector<std::uint32_t> got(streamed->Bits(), streamed->Bits() + streamed->PixelCount());
        std::size_t differing = 0;
        for (std::size_t i = 0; i < want.size(); ++i) differing += want[i] != got[i];
        EXPECT_EQ(differing, 0u) << "template " << number << ", " << v.Name << ", " << mode;
        ASSERT_EQ(mismatched.size(), full.MismatchedArt.size()) << "template " << number << ", " << mode;
        for (std::size_t i = 0; i < mismatched.size(); ++i) EXPECT_EQ(mismatched[i].Slot, full.MismatchedArt[i].Slot);
      }
      EXPECT_GT(cache.Hits(), 0u) << "template " << number << ", " << v.Name;
    }
  }
}

TEST(RenderFlattenedTest, RefusesWhatTheFullRenderRefusesWithItsMessage) {
  struct TCase {
    const char* Name;
    void (*Spoil)(TRenderRequest&);
  };
  const TCase cases[] = {
      {"canvas too large", [](TRenderRequest& r) { r.Width = 20000; }},
      {"over the memory budget", [](TRenderRequest& r) { r.MemoryBudget = 1 << 20; }},
      {"missing picture", [](TRenderRequest& r) { r.Sources[SlotIndex(TSlot::Side)] = TSlotSource::OfFile("/no/such.jpg"); }},
      {"missing template", [](TRenderRequest& r) { r.Template.File = kRoot + "/data/Templates/none.ini"; }},
  };
  for (const TCase& c : cases) {
    TRenderRequest r = TemplateRequest(1);
    c.Spoil(r);
    std::string full, streamed;
    try {
      ApplyTemplate(r);
    } catch (const std::exception& e) {
      full = e.what();
    }
    try {
      RenderFlattened(r);
    } catch (const std::exception& e) {
      streamed = e.what();
    }
    EXPECT_FALSE(full.empty()) << c.Name;
    EXPECT_EQ(streamed, full) << c.Name;
  }
}

}  // namespace
}  // namespace quirlon::core
