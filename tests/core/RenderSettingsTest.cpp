#include <gtest/gtest.h>

#include "core/RenderSettings.h"
#include "raster/Errors.h"

using namespace quirlon::core;

TEST(RenderSettings, StartValues) {
  const TRenderSettings s;
  EXPECT_EQ(s.CurrentSlot, 1);
  EXPECT_EQ(s.CurrentTemplate, 1);
  const quirlon::raster::TColor colours[] = {0xFFFFFF, 0xC0DCC0, 0x808000, 0x800080, 0xF0CAA6,
                                             0x000080, 0x008080, 0xFFFF00, 0xC0DCC0};
  for (int slot = 1; slot <= 9; ++slot) {
    EXPECT_EQ(s.SlotColor[slot], colours[slot - 1]) << "slot " << slot;
    EXPECT_TRUE(s.SlotUsesColor[slot]) << "slot " << slot;
  }
  // SIDE is red 0, green 128, blue 128 in 0x00BBGGRR.
  EXPECT_EQ(quirlon::raster::Color32(s.SlotColor[3]), quirlon::raster::Color32(0, 128, 128));
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
  EXPECT_FALSE(s.TransparentBackground);
  EXPECT_FALSE(s.LargeDiscArea);
  EXPECT_TRUE(s.InRange());
  EXPECT_EQ(RenderSettings, s);
  for (int slot = 1; slot <= 9; ++slot) EXPECT_TRUE(SourceFiles[slot].empty());
}

TEST(RenderSettings, Ranges) {
  TRenderSettings s;
  s.ReflectionBrightness = -50;
  s.ReflectionLength = 1;
  s.ReflectionBlur = 100;
  s.CurrentTemplate = 15;
  EXPECT_TRUE(s.InRange());
  s.ReflectionBrightness = 51;
  EXPECT_FALSE(s.InRange());
  s.ReflectionBrightness = 0;
  s.ReflectionLength = 0;
  EXPECT_FALSE(s.InRange());
  s.ReflectionLength = 50;
  s.ShadowBlur = 101;
  EXPECT_FALSE(s.InRange());
  s.ShadowBlur = 25;
  s.CurrentSlot = 10;
  EXPECT_FALSE(s.InRange());
  EXPECT_EQ(kReflectionBrightnessRange.Clamp(-80), -50);
  EXPECT_EQ(kCurrentTemplateRange.Clamp(0), 1);
  EXPECT_EQ(kShadowDensityRange.Clamp(300), 255);
}

TEST(RenderSettings, SlotIndicesOutsideOneToNine) {
  TRenderSettings s;
  EXPECT_THROW(s.SlotColor[0], quirlon::EListError);
  EXPECT_THROW(s.SlotUsesColor[10], quirlon::EListError);
  try {
    (void)SourceFiles[-1];
    FAIL();
  } catch (const quirlon::EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
  }
  TSourceFiles files;
  files[9] = "/tmp/disc.png";
  EXPECT_EQ(files[9], "/tmp/disc.png");
}
