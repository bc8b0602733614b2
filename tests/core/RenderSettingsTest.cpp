#include <gtest/gtest.h>

#include "core/Render.h"
#include "core/RenderSettings.h"
#include "core/Slots.h"

using namespace quirlon::core;

TEST(RenderSettings, StartValues) {
  const TRenderSettings s;
  EXPECT_TRUE(s.ShowReflection);
  EXPECT_TRUE(s.FadeReflection);
  EXPECT_EQ(s.ReflectionOpacity, 255);
  EXPECT_EQ(s.ReflectionBlur, 15);
  EXPECT_EQ(s.ReflectionBrightness, 0);
  EXPECT_EQ(s.ReflectionLength, 50);
  EXPECT_EQ(s.ShadowDensity, 255);
  EXPECT_EQ(s.ShadowColor, 0);
  EXPECT_EQ(s.ShadowBlur, 25);
  EXPECT_TRUE(s.ShowShadow);
  EXPECT_EQ(s.ShadingStrength, 255);
  EXPECT_EQ(s.HighlightStrength, 255);
  EXPECT_EQ(s.ShadingColor, 0);
  EXPECT_EQ(s.HighlightColor, 0xFFFFFF);
  EXPECT_TRUE(s.InRange());
  // A fresh request: every slot at its start-up colour, nothing transparent, the small disc area.
  const TRenderRequest r;
  const quirlon::raster::TColor colours[] = {0xFFFFFF, 0xC0DCC0, 0x808000, 0x800080, 0xF0CAA6,
                                             0x000080, 0x008080, 0xFFFF00, 0xC0DCC0};
  for (int slot = 1; slot <= 9; ++slot) {
    EXPECT_TRUE(r.Sources[slot - 1].UsesColour()) << "slot " << slot;
    EXPECT_EQ(r.Sources[slot - 1].Colour, colours[slot - 1]) << "slot " << slot;
  }
  // SIDE is red 0, green 128, blue 128 in 0x00BBGGRR.
  EXPECT_EQ(quirlon::raster::Color32(r.Sources[SlotIndex(TSlot::Side)].Colour), quirlon::raster::Color32(0, 128, 128));
  EXPECT_FALSE(r.TransparentBackground);
  EXPECT_FALSE(r.LargeDiscArea);
  EXPECT_EQ(r.Settings, s);
}

TEST(RenderSettings, Ranges) {
  TRenderSettings s;
  s.ReflectionBrightness = -50;
  s.ReflectionLength = 1;
  s.ReflectionBlur = 100;
  EXPECT_TRUE(s.InRange());
  s.ReflectionBrightness = 51;
  EXPECT_FALSE(s.InRange());
  s.ReflectionBrightness = 0;
  s.ReflectionLength = 0;
  EXPECT_FALSE(s.InRange());
  s.ReflectionLength = 50;
  s.ShadowBlur = 101;
  EXPECT_FALSE(s.InRange());
  EXPECT_EQ(kReflectionBrightnessRange.Clamp(-80), -50);
  EXPECT_EQ(kShadowDensityRange.Clamp(300), 255);
}

TEST(RenderSettings, SlotTable) {
  // Names, captions and option names agree with each other and with the numbering 1..9.
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    const TSlotInfo* info = FindSlot(slot);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(SlotNumber(info->Slot), slot);
    EXPECT_EQ(SourceSlotIndex(info->Name), slot);
    EXPECT_EQ(SourceSlotIndex(info->Option), slot);
  }
  EXPECT_EQ(FindSlot(0), nullptr);
  EXPECT_EQ(FindSlot(10), nullptr);
  EXPECT_EQ(FindSlot(6)->Caption, "FRONT 2");
}
