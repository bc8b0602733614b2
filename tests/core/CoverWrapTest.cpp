// Splitting a full cover wrap: a synthetic wrap with a colour per part and bleed lines around the
// trim, at several pixel densities, and wraps whose proportions do not match their layout.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "core/CoverWrap.h"
#include "core/ProductError.h"

namespace quirlon::core {
namespace {

constexpr raster::TColor32 kBleed = 0xFFFF00FF, kBack = 0xFF0000FF, kSpine = 0xFF00FF00, kFront = 0xFFFF0000;
constexpr raster::TColor32 kBleedLine = 0xFF000000;

// A wrap as a printer lays it out, about Across x Down pixels per millimetre (exactly as many as
// make whole pixels): bleed colour all round, then back, spine and front, a black bleed line over
// every pixel that a trim or fold line cuts.
void PaintWrap(raster::TBitmap32& Wrap, const TCoverWrap& L, double Across, double Down) {
  const double width = 2 * L.Bleed + 2 * L.TrimWidth + L.Spine, height = 2 * L.Bleed + L.TrimHeight;
  Wrap.SetSize(static_cast<int>(std::lround(width * Across)), static_cast<int>(std::lround(height * Down)));
  const double across = Wrap.Width() / width, down = Wrap.Height() / height;
  const double xs[] = {L.Bleed * across, (L.Bleed + L.TrimWidth) * across, (L.Bleed + L.TrimWidth + L.Spine) * across,
                       (L.Bleed + 2 * L.TrimWidth + L.Spine) * across};
  const double ys[] = {L.Bleed * down, (L.Bleed + L.TrimHeight) * down};
  auto cuts = [](int pixel, double line) { return pixel < line && line < pixel + 1; };
  for (int y = 0; y < Wrap.Height(); ++y)
    for (int x = 0; x < Wrap.Width(); ++x) {
      const double cx = x + 0.5, cy = y + 0.5;
      raster::TColor32 c = kBleed;
      if (cy > ys[0] && cy < ys[1]) {
        if (cx > xs[0] && cx < xs[1]) c = kBack;
        if (cx > xs[1] && cx < xs[2]) c = kSpine;
        if (cx > xs[2] && cx < xs[3]) c = kFront;
      }
      for (double line : xs)
        if (cuts(x, line)) c = kBleedLine;
      for (double line : ys)
        if (cuts(y, line)) c = kBleedLine;
      Wrap.PixelRef(x, y) = c;
    }
}

std::set<raster::TColor32> Colours(const raster::TBitmap32& Part) {
  std::set<raster::TColor32> out;
  for (int y = 0; y < Part.Height(); ++y)
    for (int x = 0; x < Part.Width(); ++x) out.insert(Part.PixelAt(x, y));
  return out;
}

TEST(CoverWrap, EachPartGetsOnlyItsOwnPixels) {
  struct TCase {
    TCoverWrap Layout;
    double Across, Down;  // pixels per millimetre
  };
  const TCase cases[] = {
      {{127, 203.2, 20.32, 3.175}, 300 / 25.4, 300 / 25.4},  // 5 x 8 in, 320 cream pages, at 300 dpi
      {{152.4, 228.6, 12.5, 3.175}, 4, 4},
      {{127, 203, 15, 3}, 1, 1},           // every line on a pixel edge
      {{127, 203, 15, 3}, 2.37, 2.41},     // slightly different densities across and down
      {{210, 280, 4, 0}, 3, 3},            // no bleed
      {{100, 100, 0.5, 3.175}, 4.1, 4.1},  // a spine of two pixels
  };
  for (const auto& c : cases) {
    raster::TBitmap32 wrap, back, spine, front;
    PaintWrap(wrap, c.Layout, c.Across, c.Down);
    SplitCoverWrap(wrap, "wrap.png", c.Layout, back, spine, front);
    const std::string what = std::to_string(wrap.Width()) + " x " + std::to_string(wrap.Height());
    EXPECT_EQ(Colours(back), std::set<raster::TColor32>{kBack}) << what;
    EXPECT_EQ(Colours(spine), std::set<raster::TColor32>{kSpine}) << what;
    EXPECT_EQ(Colours(front), std::set<raster::TColor32>{kFront}) << what;
    // Nothing of a part is lost but the pixels its edges cut.
    const double across = wrap.Width() / (2 * c.Layout.Bleed + 2 * c.Layout.TrimWidth + c.Layout.Spine);
    EXPECT_GE(front.Width(), std::floor(c.Layout.TrimWidth * across) - 1) << what;
    EXPECT_GE(spine.Width(), std::floor(c.Layout.Spine * across) - 1) << what;
    EXPECT_EQ(back.Height(), front.Height());
  }
}

TEST(CoverWrap, ProportionsMustMatchWithinTwoPercent) {
  const TCoverWrap layout{127, 203.2, 20.32, 3.175};  // 280.67 x 209.55 mm
  raster::TBitmap32 back, spine, front;
  struct TCase {
    int Width, Height;
    bool Accepted;
  };
  // 2000 pixels high is 2678.8 wide at these proportions; 2 % is 53.6 pixels either way.
  const TCase cases[] = {{2679, 2000, true},  {2732, 2000, true},  {2626, 2000, true},
                         {2733, 2000, false}, {2625, 2000, false}, {3000, 2000, false}};
  for (const auto& c : cases) {
    raster::TBitmap32 wrap;
    wrap.SetSize(c.Width, c.Height);
    wrap.Clear(kBack);
    std::string message;
    try {
      SplitCoverWrap(wrap, "cover.jpg", layout, back, spine, front);
    } catch (const EBadProductValue& e) {
      message = e.Message();
    }
    EXPECT_EQ(message.empty(), c.Accepted) << c.Width << ": " << message;
    if (!c.Accepted) {
      EXPECT_NE(message.find("Cover wrap \"cover.jpg\" is " + std::to_string(c.Width) + " x 2000 pixels"),
                std::string::npos)
          << message;
      EXPECT_NE(message.find("spine 20.32 mm"), std::string::npos) << message;
      EXPECT_NE(message.find("would be 2679 pixels wide"), std::string::npos) << message;
    }
  }
  // The spine that would fit: (3000 / 2000) x 209.55 - 2 x 3.175 - 2 x 127 = 53.975 mm (a hair
  // below in binary).
  raster::TBitmap32 wide;
  wide.SetSize(3000, 2000);
  try {
    SplitCoverWrap(wide, "cover.jpg", layout, back, spine, front);
    ADD_FAILURE();
  } catch (const EBadProductValue& e) {
    EXPECT_NE(e.Message().find("a spine of 53.97 mm would fit"), std::string::npos) << e.Message();
  }
}

TEST(CoverWrap, BadLayoutsAndTinyWraps) {
  raster::TBitmap32 wrap, back, spine, front;
  wrap.SetSize(100, 70);
  auto error = [&](const TCoverWrap& layout) {
    try {
      SplitCoverWrap(wrap, "w.png", layout, back, spine, front);
    } catch (const EBadProductValue& e) {
      return e.Message();
    }
    return std::string("(no error)");
  };
  EXPECT_EQ(error({127, 203, 0, 3}), "Cover wrap \"w.png\": spine 0 mm is out of range (0.5 mm to 1000 mm)");
  EXPECT_EQ(error({-5, 203, 10, 3}), "Cover wrap \"w.png\": trim width -5 mm is out of range (10 mm to 1000 mm)");
  EXPECT_EQ(error({127, 203, 10, 30}), "Cover wrap \"w.png\": bleed 30 mm is out of range (0 mm to 25 mm)");
  // 100 pixels for 260.85 mm: the 0.5 mm spine is a fifth of a pixel.
  wrap.SetSize(100, 80);
  EXPECT_NE(error({127, 203, 0.5, 3.175}).find("its spine is less than a pixel wide"), std::string::npos);
  raster::TBitmap32 empty;
  EXPECT_THROW(SplitCoverWrap(empty, "e.png", {127, 203, 10, 3}, back, spine, front), EBadProductValue);
}

}  // namespace
}  // namespace quirlon::core
