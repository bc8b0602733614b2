// The render is a call on values: two threads rendering two different requests at the same moment
// get exactly the pixels each gets alone, also when they share one picture cache.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "core/Render.h"
#include "core/Template.h"

namespace quirlon::core {
namespace {

const std::string kRoot = QUIRLON_SOURCE_DIR;

// FNV-1a over the flattened pixels.
std::uint64_t Hash(const TRenderResult& Result) {
  const auto flat = Flatten(Result, TFlattenOptions{.Flip = true});
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t i = 0; i < flat->PixelCount(); ++i) {
    h ^= flat->Bits()[i];
    h *= 1099511628211ull;
  }
  return h;
}

TRenderRequest Request(int Number, int Width, int Height) {
  TRenderRequest r;
  const std::string folder = kRoot + "/data/Templates/";
  r.Template.File = folder + TemplateEntry(ListTemplates(folder), Number);
  r.CustomFolder = kRoot + "/data/custom/";
  r.Width = Width;
  r.Height = Height;
  return r;
}

TEST(ConcurrentRenderTest, TwoTemplatesOnTwoThreadsGiveTheirOwnPixels) {
  // A box with pictures and a blurred, faded reflection; a jewel case with the disc half out, with
  // colours, a background picture and the large disc area.
  TRenderRequest box = Request(1, 240, 180);
  box.Sources[SlotIndex(TSlot::Front)] = TSlotSource::OfFile(kRoot + "/examples/box-front.jpg");
  box.Sources[SlotIndex(TSlot::Side)] = TSlotSource::OfFile(kRoot + "/examples/box-side.jpg");
  box.Sources[SlotIndex(TSlot::Top)] = TSlotSource::OfFile(kRoot + "/examples/box-top.jpg");
  box.Settings.ReflectionBlur = 30;
  box.Settings.ShadowColor = 0x203040;
  TRenderRequest disc = Request(11, 200, 200);
  disc.Sources[SlotIndex(TSlot::Background)] = TSlotSource::OfFile(kRoot + "/examples/backdrop.jpg");
  disc.Sources[SlotIndex(TSlot::Disc)] = TSlotSource::OfFile(kRoot + "/examples/disc-label.jpg");
  disc.LargeDiscArea = true;
  disc.Settings.HighlightStrength = 99;

  const std::uint64_t boxAlone = Hash(ApplyTemplate(box));
  const std::uint64_t discAlone = Hash(ApplyTemplate(disc));
  ASSERT_NE(boxAlone, discAlone);

  imagefiles::TPictureCache shared;
  for (int round = 0; round < 50; ++round) {
    // Every other round both threads decode through one cache.
    TRenderRequest a = box, b = disc;
    if (round % 2 == 1) a.Pictures = b.Pictures = &shared;
    std::uint64_t hashA = 0, hashB = 0;
    std::thread first([&] { hashA = Hash(ApplyTemplate(a)); });
    std::thread second([&] { hashB = Hash(ApplyTemplate(b)); });
    first.join();
    second.join();
    ASSERT_EQ(hashA, boxAlone) << "round " << round;
    ASSERT_EQ(hashB, discAlone) << "round " << round;
  }
}

}  // namespace
}  // namespace quirlon::core
