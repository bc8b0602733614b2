#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Errors.h"
#include "raster/Sampler.h"

namespace quirlon::raster {
namespace {

// Counts the notifications a bitmap sends.
struct Listener {
  int changes = 0;
  int resizes = 0;
  int handles = 0;
  std::vector<TRect> areas;
  explicit Listener(TBitmap32& b) {
    b.OnChange = [this](TObject*) { ++changes; };
    b.OnResize = [this](TObject*) { ++resizes; };
    b.OnHandleChanged = [this](TObject*) { ++handles; };
    b.OnAreaChanged = [this](TObject*, const TRect& r, std::uint32_t info) {
      EXPECT_EQ(info, AREAINFO_RECT);
      areas.push_back(r);
    };
  }
};

// Fills with distinct values: pixel (x, y) = 0x01000000 * (y + 1) + x.
void Number(TBitmap32& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.PixelRef(x, y) = 0x01000000u * (y + 1) + x;
}

std::vector<TColor32> PixelsOf(const TBitmap32& b) {
  return b.Empty() ? std::vector<TColor32>{} : std::vector<TColor32>(b.Bits(), b.Bits() + b.PixelCount());
}

// Set pixels as a picture: '#' where the pixel equals c.
std::string Shape(const TBitmap32& b, TColor32 c) {
  std::string s;
  for (int y = 0; y < b.Height(); ++y) {
    for (int x = 0; x < b.Width(); ++x) s += b.PixelAt(x, y) == c ? '#' : '.';
    s += '\n';
  }
  return s;
}

TEST(Bitmap32Test, NewBitmapDefaults) {
  TBitmap32 b;
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Bits(), nullptr);
  EXPECT_EQ(b.ClipRect(), (TRect{0, 0, 0, 0}));
  EXPECT_FALSE(b.Clipping());
  EXPECT_EQ(b.DrawMode(), dmOpaque);
  EXPECT_EQ(b.CombineMode(), cmBlend);
  EXPECT_EQ(b.WrapMode(), wmClamp);
  EXPECT_EQ(b.MasterAlpha(), 255u);
  EXPECT_EQ(b.OuterColor(), 0u);
  EXPECT_EQ(b.ResamplerClassName(), "TNearestResampler");
  auto* r = dynamic_cast<TNearestResampler*>(&b.Resampler());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(&r->Bitmap(), &b);
  EXPECT_EQ(r->PixelAccessMode(), pamSafe);
}

TEST(Bitmap32Test, SetSizeRules) {
  TBitmap32 b;
  Listener l(b);
  EXPECT_TRUE(b.SetSize(-3, 10));
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 10);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.PixelCount(), 0u);
  EXPECT_TRUE(b.SetSize(5, 0));
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_TRUE(b.Empty());

  EXPECT_TRUE(b.SetSize(4, 3));
  EXPECT_EQ(b.PixelCount(), 12u);
  EXPECT_EQ(b.ClipRect(), (TRect{0, 0, 4, 3}));
  EXPECT_EQ(l.changes, 3);
  EXPECT_EQ(l.resizes, 3);
  EXPECT_EQ(l.handles, 3);
  EXPECT_EQ(l.areas.back(), (TRect{0, 0, 4, 3}));

  Number(b);
  const auto before = PixelsOf(b);
  b.SetClipRect(TRect{1, 1, 2, 2});
  EXPECT_FALSE(b.SetSize(4, 3));  // same size: pixels and clip stay, nobody hears
  EXPECT_EQ(PixelsOf(b), before);
  EXPECT_EQ(b.ClipRect(), (TRect{1, 1, 2, 2}));
  EXPECT_EQ(l.changes, 3);

  EXPECT_TRUE(b.SetSize(3, 4));  // any other size: all zero, clip reset
  EXPECT_EQ(PixelsOf(b), std::vector<TColor32>(12, 0));
  EXPECT_EQ(b.ClipRect(), (TRect{0, 0, 3, 4}));
  EXPECT_FALSE(b.Clipping());
}

TEST(Bitmap32Test, SetSizeTooLargeLeavesEmptyBitmap) {
  TBitmap32 b;
  b.SetSize(10, 10);
  try {
    b.SetSize(100000, 100000);
    FAIL() << "no exception";
  } catch (const EOutOfResources& e) {
    EXPECT_STREQ(e.what(), "Can't allocate the DIB handle");
  }
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.ClipRect(), (TRect{0, 0, 0, 0}));
}

TEST(Bitmap32Test, SetSizeFrom) {
  TBitmap32 a, b;
  a.SetSize(7, 2);
  b.SetSizeFrom(&a);
  EXPECT_EQ(b.Width(), 7);
  EXPECT_EQ(b.Height(), 2);
  b.SetSizeFrom(nullptr);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  TPersistent other;
  try {
    b.SetSizeFrom(&other);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Can't set size from 'TPersistent'");
  }
}

TEST(Bitmap32Test, ClipRectAndItsCopies) {
  TBitmap32 b;
  b.SetSize(300, 200);
  b.SetClipRect(TRect{-5, 10, 120, 500});
  EXPECT_EQ(b.ClipRect(), (TRect{0, 10, 120, 200}));
  EXPECT_TRUE(b.Clipping());
  EXPECT_EQ(b.FixedClipRect(), (TRect{0, 10 * 65536, 120 * 65536, 200 * 65536}));
  EXPECT_EQ(b.Clip256Rect(), (TRect{0, 10 * 256, 120 * 256, 200 * 256}));
  b.SetClipRect(TRect{-1, -1, 1000, 1000});
  EXPECT_EQ(b.ClipRect(), (TRect{0, 0, 300, 200}));
  EXPECT_FALSE(b.Clipping());
  b.SetClipRect(TRect{400, 0, 500, 10});  // outside: crossed intersection becomes (0, 0, 0, 0)
  EXPECT_EQ(b.ClipRect(), (TRect{0, 0, 0, 0}));
  EXPECT_TRUE(b.Clipping());
}

TEST(Bitmap32Test, ClearAndResetAlpha) {
  TBitmap32 b;
  Listener l(b);
  b.Clear(0x12345678u);  // empty: nothing, nobody notified
  EXPECT_EQ(l.changes, 0);
  b.SetSize(2, 0);
  b.Clear(0x12345678u);
  EXPECT_EQ(l.changes, 1);  // only the SetSize

  b.SetSize(3, 3);
  b.Clear(0xFF00FF00u);
  EXPECT_EQ(PixelsOf(b), std::vector<TColor32>(9, 0xFF00FF00u));
  b.SetClipRect(TRect{1, 1, 3, 2});
  b.Clear(0x80000001u);
  EXPECT_EQ(Shape(b, 0x80000001u), "...\n.##\n...\n");

  TBitmap32 s;
  s.SetSize(2, 2);
  s.PixelRef(0, 0) = 0x00112233u;
  s.PixelRef(1, 0) = 0xFF445566u;
  s.PixelRef(0, 1) = 0x7F778899u;
  s.PixelRef(1, 1) = 0x01AABBCCu;
  s.ResetAlpha(0x42);
  EXPECT_EQ(PixelsOf(s), (std::vector<TColor32>{0x42112233u, 0x42445566u, 0x42778899u, 0x42AABBCCu}));
  s.ResetAlpha();
  EXPECT_EQ(s.PixelAt(1, 1), 0xFFAABBCCu);
}

TEST(Bitmap32Test, FillRect) {
  TBitmap32 b;
  b.SetSize(6, 6);
  Listener l(b);
  b.FillRect(5, 5, 5, 9, 0xFFu);  // zero width: nothing stored, area still reported
  EXPECT_EQ(PixelsOf(b), std::vector<TColor32>(36, 0));
  ASSERT_EQ(l.areas.size(), 1u);
  EXPECT_EQ(l.areas[0], (TRect{5, 5, 5, 9}));

  b.FillRect(-10, -10, 3, 3, 0xFFu);
  EXPECT_EQ(Shape(b, 0xFFu), "###...\n###...\n###...\n......\n......\n......\n");
  EXPECT_EQ(l.areas.back(), (TRect{0, 0, 3, 3}));

  b.Clear(0);
  b.SetClipRect(TRect{2, 2, 5, 4});
  b.FillRect(0, 0, 100, 100, 0xFFu);
  EXPECT_EQ(Shape(b, 0xFFu), "......\n......\n..###.\n..###.\n......\n......\n");
  b.FillRect(5, 0, 9, 9, 0xEEu);  // beyond the clip: nothing
  EXPECT_EQ(Shape(b, 0xEEu), "......\n......\n......\n......\n......\n......\n");
}

TEST(Bitmap32Test, FrameRectShapes) {
  struct Case {
    TRect r;
    const char* shape;
  } cases[] = {
      {{0, 0, 1, 1}, "#...\n....\n....\n....\n"},
      {{0, 0, 3, 1}, "###.\n....\n....\n....\n"},
      {{0, 0, 1, 3}, "#...\n#...\n#...\n....\n"},
      {{0, 0, 3, 3}, "###.\n#.#.\n###.\n....\n"},
      {{0, 0, 2, 2}, "##..\n##..\n....\n....\n"},
      {{1, 1, 5, 5}, "....\n.###\n.#..\n.#..\n"},      // clipped at right and bottom
      {{-2, -2, 2, 2}, ".#..\n##..\n....\n....\n"},    // clipped at left and top
      {{2, 2, 2, 4}, "....\n....\n....\n....\n"},      // empty
      {{4, 0, 6, 4}, "....\n....\n....\n....\n"},      // outside
  };
  for (const auto& c : cases) {
    TBitmap32 b;
    b.SetSize(4, 4);
    int stores = 0;
    b.OnAreaChanged = [&](TObject*, const TRect& r, std::uint32_t) { stores += r.Width() * r.Height(); };
    b.FrameRect(c.r, 0xFFFFFFFFu);
    EXPECT_EQ(Shape(b, 0xFFFFFFFFu), c.shape) << c.r.Left << "," << c.r.Top << "," << c.r.Right << "," << c.r.Bottom;
    int set = 0;
    for (char ch : std::string(c.shape)) set += ch == '#';
    EXPECT_EQ(stores, set) << "each pixel stored once";
  }
}

TEST(Bitmap32Test, LinesSwapEndsAndClip) {
  TBitmap32 b;
  b.SetSize(5, 3);
  b.HorzLine(7, 1, 2, 0xAu);  // ends swapped, right end clipped
  EXPECT_EQ(Shape(b, 0xAu), ".....\n..###\n.....\n");
  b.HorzLine(0, 3, 4, 0xBu);  // row outside
  b.HorzLine(0, -1, 4, 0xBu);
  EXPECT_EQ(Shape(b, 0xBu), ".....\n.....\n.....\n");
  b.VertLine(0, 5, -5, 0xCu);
  EXPECT_EQ(Shape(b, 0xCu), "#....\n#....\n#....\n");
  b.VertLine(5, 0, 2, 0xDu);
  EXPECT_EQ(Shape(b, 0xDu), ".....\n.....\n.....\n");
  // Extreme coordinates do not overflow.
  b.HorzLine(INT32_MIN, 2, INT32_MAX, 0xEu);
  b.FrameRect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0xEu);
  EXPECT_EQ(b.PixelAt(4, 2), 0xEu);
}

TEST(Bitmap32Test, AssignCopiesContentAndSettings) {
  TBitmap32 src;
  src.SetSize(3, 2);
  Number(src);
  src.SetDrawMode(dmBlend);
  src.SetCombineMode(cmMerge);
  src.SetWrapMode(wmMirror);
  src.SetMasterAlpha(100);
  src.SetOuterColor(0x11223344u);
  static_cast<TBitmap32Resampler&>(src.Resampler()).SetPixelAccessMode(pamWrap);

  TBitmap32 dst;
  TCustomResampler* dstResampler = &dst.Resampler();
  Listener l(dst);
  dst.Assign(&src);
  EXPECT_EQ(dst.Width(), 3);
  EXPECT_EQ(dst.Height(), 2);
  EXPECT_EQ(PixelsOf(dst), PixelsOf(src));
  EXPECT_EQ(dst.DrawMode(), dmBlend);
  EXPECT_EQ(dst.CombineMode(), cmMerge);
  EXPECT_EQ(dst.WrapMode(), wmMirror);
  EXPECT_EQ(dst.MasterAlpha(), 100u);
  EXPECT_EQ(dst.OuterColor(), 0x11223344u);
  EXPECT_EQ(&dst.Resampler(), dstResampler);  // same class: kept, settings copied
  EXPECT_EQ(static_cast<TBitmap32Resampler&>(dst.Resampler()).PixelAccessMode(), pamWrap);
  EXPECT_EQ(l.changes, 1);  // once, after the batch
  EXPECT_EQ(dst.UpdateCount(), 0);

  // From an empty 0 x 0 bitmap: empty destination, settings copied.
  TBitmap32 empty;
  empty.SetDrawMode(dmTransparent);
  dst.Assign(&empty);
  EXPECT_TRUE(dst.Empty());
  EXPECT_EQ(dst.Width(), 0);
  EXPECT_EQ(dst.DrawMode(), dmTransparent);
  EXPECT_EQ(static_cast<TBitmap32Resampler&>(dst.Resampler()).PixelAccessMode(), pamSafe);

  dst.Assign(&src);
  dst.Assign(nullptr);
  EXPECT_EQ(dst.Width(), 0);
  EXPECT_EQ(dst.Height(), 0);
  EXPECT_EQ(dst.DrawMode(), dmBlend);  // settings untouched

  src.Assign(&src);  // self: unchanged
  EXPECT_EQ(src.Width(), 3);
  EXPECT_EQ(src.PixelAt(2, 1), 0x02000002u);
}

// Moving gives what a copy gives, with the same notifications, and empties the source.
TEST(Bitmap32Test, AssignMovingMatchesAssign) {
  auto make = [](TBitmap32& b) {
    b.SetSize(3, 2);
    Number(b);
    b.SetDrawMode(dmBlend);
    b.SetCombineMode(cmMerge);
    b.SetMasterAlpha(77);
    b.SetOuterColor(0x01020304u);
  };
  for (int dstWidth : {0, 3, 5}) {
    TBitmap32 a, b, copied, moved;
    make(a);
    make(b);
    if (dstWidth > 0) {
      copied.SetSize(dstWidth, 2);
      moved.SetSize(dstWidth, 2);
    }
    Listener lc(copied), lm(moved);
    copied.Assign(&a);
    moved.AssignMoving(b);
    EXPECT_EQ(PixelsOf(moved), PixelsOf(copied)) << dstWidth;
    EXPECT_EQ(moved.Width(), 3);
    EXPECT_EQ(moved.CombineMode(), cmMerge);
    EXPECT_EQ(moved.MasterAlpha(), 77u);
    EXPECT_EQ(moved.OuterColor(), 0x01020304u);
    EXPECT_EQ(lm.changes, lc.changes) << dstWidth;
    EXPECT_EQ(lm.resizes, lc.resizes) << dstWidth;
    EXPECT_EQ(lm.handles, lc.handles) << dstWidth;
    EXPECT_EQ(lm.areas, lc.areas) << dstWidth;
    EXPECT_EQ(moved.ClipRect(), copied.ClipRect());
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.ClipRect(), (TRect{0, 0, 0, 0}));
    EXPECT_EQ(b.MasterAlpha(), 77u);  // the source keeps its settings
  }
}

// Big pixel stores are kept and handed out again after a bitmap frees them: a new size must still
// start from zeros, whatever the last owner left in them.
TEST(Bitmap32Test, NewSizeStartsFromZerosAlsoInReusedMemory) {
  for (int round = 0; round < 3; ++round) {
    std::vector<TBitmap32> dirty(6);
    for (TBitmap32& b : dirty) {
      b.SetSize(700, 500);  // above the size that is kept for reuse
      b.Clear(0xFFFFFFFFu);
    }
    dirty.clear();
    TBitmap32 fresh;
    fresh.SetSize(700, 500);
    std::size_t nonzero = 0;
    for (std::size_t i = 0; i < fresh.PixelCount(); ++i) nonzero += fresh.Bits()[i] != 0;
    EXPECT_EQ(nonzero, 0u) << round;
    fresh.SetSize(500, 700);  // same bytes, another shape
    for (std::size_t i = 0; i < fresh.PixelCount(); ++i) nonzero += fresh.Bits()[i] != 0;
    EXPECT_EQ(nonzero, 0u) << round;
  }
}

TEST(Bitmap32Test, CopyContentKeepsClipUnlessResized) {
  TBitmap32 a, b;
  a.SetSize(3, 3);
  Number(a);
  b.SetSize(3, 3);
  b.SetClipRect(TRect{1, 1, 2, 2});
  a.CopyContentTo(b);
  EXPECT_EQ(b.ClipRect(), (TRect{1, 1, 2, 2}));
  EXPECT_EQ(PixelsOf(b), PixelsOf(a));
}

TEST(Bitmap32Test, SettersNotifyOnlyOnChange) {
  TBitmap32 b;
  Listener l(b);
  b.SetDrawMode(dmOpaque);
  b.SetCombineMode(cmBlend);
  b.SetWrapMode(wmClamp);
  b.SetMasterAlpha(255);
  b.SetOuterColor(0x12u);
  b.SetResampler(nullptr);
  b.SetResamplerClassName("TNearestResampler");
  b.SetResamplerClassName("NoSuchResampler");
  EXPECT_EQ(l.changes, 0);
  EXPECT_EQ(b.OuterColor(), 0x12u);
  b.SetDrawMode(dmBlend);
  b.SetCombineMode(cmMerge);
  b.SetWrapMode(wmRepeat);
  b.SetMasterAlpha(7);
  EXPECT_EQ(l.changes, 4);
  b.SetResampler(std::make_unique<TNearestResampler>(b));
  EXPECT_EQ(l.changes, 5);
  static_cast<TBitmap32Resampler&>(b.Resampler()).SetPixelAccessMode(pamSafe);
  EXPECT_EQ(l.changes, 5);
  static_cast<TBitmap32Resampler&>(b.Resampler()).SetPixelAccessMode(pamUnsafe);
  EXPECT_EQ(l.changes, 6);  // the resampler's change reaches its bitmap
}

TEST(Bitmap32Test, UpdateCounterHoldsEventsBack) {
  TBitmap32 b;
  b.SetSize(2, 2);
  Listener l(b);
  b.BeginUpdate();
  b.Clear(1);
  b.FillRect(0, 0, 1, 1, 2);
  EXPECT_EQ(l.changes, 0);
  EXPECT_TRUE(l.areas.empty());
  b.EndUpdate();
  EXPECT_EQ(l.changes, 0);  // EndUpdate sends nothing
  b.Changed();
  EXPECT_EQ(l.changes, 1);
  ASSERT_EQ(l.areas.size(), 1u);
  EXPECT_EQ(l.areas[0], (TRect{0, 0, 2, 2}));
  b.AreaChanged(TRect{1, 1, 2, 2});
  EXPECT_EQ(l.changes, 2);
  EXPECT_EQ(l.areas.back(), (TRect{1, 1, 2, 2}));
}

// Reference mappings written from the tables of the result pixel positions.
TEST(Bitmap32Test, MirrorsAndTurnsInPlace) {
  for (int w = 1; w <= 4; ++w) {
    for (int h = 1; h <= 4; ++h) {
      TBitmap32 src;
      src.SetSize(w, h);
      Number(src);

      TBitmap32 b;
      b.Assign(&src);
      b.MirrorHorizontal();
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(b.PixelAt(x, y), src.PixelAt(w - 1 - x, y));

      b.Assign(&src);
      b.MirrorVertical();
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(b.PixelAt(x, y), src.PixelAt(x, h - 1 - y));

      b.Assign(&src);
      b.RotateHalfTurn();
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(b.PixelAt(w - 1 - x, h - 1 - y), src.PixelAt(x, y));

      b.Assign(&src);
      b.SetDrawMode(dmBlend);
      b.RotateClockwise();
      ASSERT_EQ(b.Width(), h);
      ASSERT_EQ(b.Height(), w);
      EXPECT_EQ(b.DrawMode(), dmBlend);  // keeps its own settings
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(b.PixelAt(h - 1 - y, x), src.PixelAt(x, y));

      b.Assign(&src);
      b.RotateCounterClockwise();
      ASSERT_EQ(b.Width(), h);
      ASSERT_EQ(b.Height(), w);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(b.PixelAt(y, w - 1 - x), src.PixelAt(x, y));

      b.Assign(&src);
      for (int i = 0; i < 4; ++i) b.RotateClockwise();
      EXPECT_EQ(PixelsOf(b), PixelsOf(src));
      for (int i = 0; i < 4; ++i) b.RotateCounterClockwise();
      EXPECT_EQ(PixelsOf(b), PixelsOf(src));
    }
  }
}

TEST(Bitmap32Test, TurnExamplesAndSeparateDestination) {
  TBitmap32 src;
  src.SetSize(3, 2);
  Number(src);
  TBitmap32 dst;
  dst.SetSize(9, 9);
  Listener l(dst);
  src.RotateClockwise(&dst);
  EXPECT_EQ(dst.Width(), 2);
  EXPECT_EQ(dst.Height(), 3);
  EXPECT_EQ(dst.PixelAt(1, 0), src.PixelAt(0, 0));  // top-left ends top-right
  EXPECT_EQ(l.changes, 2);                          // resize and the final Changed
  src.RotateCounterClockwise(&dst);
  EXPECT_EQ(dst.PixelAt(0, 2), src.PixelAt(0, 0));  // top-left ends bottom-left

  src.MirrorHorizontal(&dst);
  EXPECT_EQ(dst.Width(), 3);
  EXPECT_EQ(dst.PixelAt(1, 0), src.PixelAt(1, 0));  // middle column stays
  EXPECT_EQ(dst.PixelAt(0, 1), src.PixelAt(2, 1));
  src.MirrorVertical(&dst);
  EXPECT_EQ(dst.PixelAt(2, 0), src.PixelAt(2, 1));
  src.RotateHalfTurn(&dst);
  EXPECT_EQ(dst.PixelAt(0, 0), src.PixelAt(2, 1));
  EXPECT_EQ(src.PixelAt(0, 0), 0x01000000u);  // source unchanged

  // A square turned in place still tells its listeners.
  TBitmap32 sq;
  sq.SetSize(2, 2);
  Number(sq);
  Listener ls(sq);
  sq.RotateClockwise();
  EXPECT_GE(ls.changes, 1);
  src.MirrorHorizontal(&src);  // the bitmap itself as destination
  EXPECT_EQ(src.PixelAt(0, 0), 0x01000002u);
}

TEST(Bitmap32Test, PixelDataRoundTripAndLayout) {
  TBitmap32 b;
  b.SetSize(2, 1);
  b.PixelRef(0, 0) = 0xAABBCCDDu;
  b.PixelRef(1, 0) = 0x01020304u;
  std::ostringstream out;
  b.SavePixelData(out);
  const std::string bytes = out.str();
  const std::string expected("\x02\x00\x00\x00\x01\x00\x00\x00\xDD\xCC\xBB\xAA\x04\x03\x02\x01", 16);
  EXPECT_EQ(bytes, expected);

  TBitmap32 c;
  Listener l(c);
  std::istringstream in(bytes);
  c.LoadPixelData(in);
  EXPECT_EQ(c.Width(), 2);
  EXPECT_EQ(c.Height(), 1);
  EXPECT_EQ(PixelsOf(c), PixelsOf(b));
  EXPECT_EQ(l.changes, 2);  // SetSize and the final Changed
}

TEST(Bitmap32Test, PixelDataTruncatedStreamFailsCleanly) {
  TBitmap32 c;
  Listener l(c);
  std::istringstream in(std::string("\x03\x00\x00\x00\x02\x00\x00\x00\x01\x02", 10));
  EXPECT_THROW(c.LoadPixelData(in), EReadError);
  EXPECT_EQ(c.Width(), 3);  // the size was set first
  EXPECT_EQ(l.changes, 2);  // Changed also on failure
  std::istringstream huge(std::string("\xFF\xFF\x00\x00\xFF\xFF\x00\x00", 8));
  EXPECT_THROW(c.LoadPixelData(huge), EOutOfResources);
  std::istringstream shortHeader(std::string("\x01\x00", 2));
  EXPECT_THROW(c.LoadPixelData(shortHeader), EReadError);
}

TEST(Bitmap32Test, IntensityToAlpha) {
  TBitmap32 src;
  src.SetSize(2, 1);
  src.PixelRef(0, 0) = 0x00FF0000u;
  src.PixelRef(1, 0) = 0x12808080u;
  TBitmap32 dst;
  dst.SetSize(5, 5);
  dst.Clear(0xFFFFFFFFu);
  IntensityToAlpha(&dst, &src);  // different size: zeros first, so black with the intensity as alpha
  EXPECT_EQ(PixelsOf(dst), (std::vector<TColor32>{0x3C000000u, 0x80000000u}));

  dst.Clear(0x11223344u);
  Listener l(dst);
  IntensityToAlpha(&dst, &src);  // same size: colour bytes stay
  EXPECT_EQ(PixelsOf(dst), (std::vector<TColor32>{0x3C223344u, 0x80223344u}));
  EXPECT_EQ(l.changes, 1);

  try {
    IntensityToAlpha(&dst, nullptr);
    FAIL();
  } catch (const EBitmapException& e) {
    EXPECT_STREQ(e.what(), "The source is nil");
  }
  try {
    IntensityToAlpha(nullptr, &src);
    FAIL();
  } catch (const EBitmapException& e) {
    EXPECT_STREQ(e.what(), "Destination is nil");
  }
}

// A bitmap that shares pixels with others must never write into them: each way of changing a
// bitmap, done to one sharing a picture, leaves the picture as it was and gives what the same change
// gives on a bitmap that owns a copy of the picture.
TEST(Bitmap32Test, SharedPixelsAreCopiedBeforeAnyChange) {
  constexpr std::int32_t w = 5, h = 3;
  std::vector<TColor32> original(w * h);
  for (std::size_t i = 0; i < original.size(); ++i) original[i] = 0x80000000u | static_cast<TColor32>(i * 0x010203u);
  auto picture = std::make_shared<const std::vector<TColor32>>(original);
  const std::shared_ptr<const TColor32> pixels(picture, picture->data());

  auto pixelsOf = [](const TBitmap32& b) {
    return std::vector<TColor32>(b.Bits(), b.Bits() + b.PixelCount());
  };
  std::ostringstream saved;
  {
    TBitmap32 other;
    other.SetSize(h, w);  // different size, so loading resizes
    other.Clear(0xFF123456u);
    other.SavePixelData(saved);
  }
  struct TCase {
    const char* Name;
    std::function<void(TBitmap32&)> Change;
  };
  const TCase cases[] = {
      {"Clear", [](TBitmap32& b) { b.Clear(0xFF00FF00u); }},
      {"Clear clipped", [](TBitmap32& b) {
         b.SetClipRect(TRect{1, 1, 3, 2});
         b.Clear(0xFF00FF00u);
       }},
      {"ResetAlpha", [](TBitmap32& b) { b.ResetAlpha(7); }},
      {"FillRect", [](TBitmap32& b) { b.FillRect(1, 0, 4, 2, 0xFFABCDEFu); }},
      {"FrameRect", [](TBitmap32& b) { b.FrameRect(0, 0, 5, 3, 0xFFABCDEFu); }},
      {"MirrorHorizontal", [](TBitmap32& b) { b.MirrorHorizontal(); }},
      {"MirrorVertical", [](TBitmap32& b) { b.MirrorVertical(); }},
      {"RotateClockwise", [](TBitmap32& b) { b.RotateClockwise(); }},
      {"RotateHalfTurn", [](TBitmap32& b) { b.RotateHalfTurn(); }},
      {"RotateCounterClockwise", [](TBitmap32& b) { b.RotateCounterClockwise(); }},
      {"PixelRef", [](TBitmap32& b) { b.PixelRef(2, 1) = 0xFF000001u; }},
      {"ScanLine", [](TBitmap32& b) { b.ScanLine(2)[4] = 0xFF000002u; }},
      {"Bits", [](TBitmap32& b) { b.Bits()[0] = 0xFF000003u; }},
      {"LoadPixelData", [&](TBitmap32& b) {
         std::istringstream in(saved.str());
         b.LoadPixelData(in);
       }},
      {"Draw onto it", [](TBitmap32& b) {
         TBitmap32 src;
         src.SetSize(2, 2);
         src.Clear(0xFF0000FFu);
         b.Draw(1, 1, &src);
       }},
      {"AssignMoving, then changed", [](TBitmap32& b) {
         TBitmap32 moved;
         moved.AssignMoving(b);
         moved.Clear(0xFF00FF00u);
         b.AssignMoving(moved);
       }},
      {"copied, then the copy changed", [](TBitmap32& b) {
         TBitmap32 copy;
         b.CopyContentTo(copy);
         copy.PixelRef(0, 0) = 0xFF0000FFu;
         copy.CopyContentTo(b);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBitmap32 owned;
    owned.SetSize(w, h);
    std::copy(original.begin(), original.end(), owned.Bits());
    c.Change(owned);

    TBitmap32 sharing;
    sharing.ShareReadOnly(pixels, w, h);
    ASSERT_TRUE(sharing.SharesPixels());
    EXPECT_EQ(pixelsOf(sharing), original);
    c.Change(sharing);

    EXPECT_EQ(*picture, original);
    EXPECT_EQ(sharing.Width(), owned.Width());
    EXPECT_EQ(sharing.Height(), owned.Height());
    EXPECT_EQ(pixelsOf(sharing), pixelsOf(owned));
  }
}

// Handing a bitmap's pixels over to sharing keeps them where they are, and a bitmap that takes them
// reads the same pixels until it changes them.
TEST(Bitmap32Test, SharePixelsHandsOverWithoutCopying) {
  TBitmap32 first;
  first.SetSize(4, 2);
  first.Clear(0xFF112233u);
  const TColor32* before = first.Bits();
  const std::shared_ptr<const TColor32> shared = first.SharePixels();
  EXPECT_EQ(shared.get(), before);
  EXPECT_TRUE(first.SharesPixels());
  TBitmap32 second;
  Listener events(second);
  second.ShareReadOnly(shared, 4, 2);
  EXPECT_EQ(events.resizes, 1);
  EXPECT_EQ(static_cast<const TBitmap32&>(second).Bits(), before);
  second.Clear(0xFF445566u);
  EXPECT_EQ(first.PixelAt(3, 1), 0xFF112233u);
  EXPECT_EQ(second.PixelAt(3, 1), 0xFF445566u);
  TBitmap32 empty;
  EXPECT_EQ(empty.SharePixels(), nullptr);
}

}  // namespace
}  // namespace quirlon::raster
