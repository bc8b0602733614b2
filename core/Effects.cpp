#include "core/Effects.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include "raster/Errors.h"
#include "raster/ExpBlur.h"
#include "raster/Numeric.h"

namespace quirlon::core {

using raster::TBitmap32;
using raster::TColor32;

namespace {

// Every alpha of Row times Factor, rounded. The new alpha depends on the old one only: a table per
// row, each entry worked out the first time its alpha turns up (a picture is mostly one or two).
void ScaleRowAlpha(TColor32* Row, std::int32_t Width, Extended Factor) {
  std::int16_t faded[256];
  std::fill(std::begin(faded), std::end(faded), std::int16_t{-1});
  for (std::int32_t x = 0; x < Width; ++x) {
    const TColor32 p = Row[x];
    std::int16_t& f = faded[p >> 24];
    if (f < 0) f = static_cast<std::int16_t>(Round(static_cast<Extended>(p >> 24) * Factor));
    Row[x] = (p & 0x00FFFFFFu) | static_cast<TColor32>(f) << 24;
  }
}

}  // namespace

void FadeAlphaRamp(TBitmap32& Bitmap, std::uint8_t Length) {
  const std::int32_t height = Bitmap.Height();
  const std::int32_t width = Bitmap.Width();
  if (height <= 0) return;
  // A ramp shorter than one row still fades: it takes the first row to 0.
  const std::int32_t n = std::max<std::int32_t>(1, Round(static_cast<Extended>(Length) / 100.0L * height));
  if (width <= 0 || Bitmap.Bits() == nullptr) return;
  const Extended step = 256.0L / n;
  for (std::int32_t r = 0; r < height; ++r) {
    TColor32* row = Bitmap.ScanLine(r);
    const Extended b = 255.0L - static_cast<Extended>(r + 1) * step;
    if (b <= 0) {
      for (std::int32_t x = 0; x < width; ++x) row[x] &= 0x00FFFFFFu;
      continue;
    }
    ScaleRowAlpha(row, width, b / 255.0L);
  }
}

void FadeAlphaCurve(TBitmap32& Bitmap, std::uint8_t Length, double Curve) {
  const std::int32_t height = Bitmap.Height();
  const std::int32_t width = Bitmap.Width();
  if (height <= 0 || width <= 0 || Bitmap.Bits() == nullptr) return;
  const std::int32_t n = std::max<std::int32_t>(1, Round(static_cast<Extended>(Length) / 100.0L * height));
  const Extended step = 256.0L / n;
  for (std::int32_t r = 0; r < height; ++r) {
    TColor32* row = Bitmap.ScanLine(r);
    const Extended b = 255.0L - static_cast<Extended>(r + 1) * step;
    if (b <= 0) {  // past the fade every alpha becomes 0, as the table below would make it
      for (std::int32_t x = 0; x < width; ++x) row[x] &= 0x00FFFFFFu;
      continue;
    }
    ScaleRowAlpha(row, width, std::pow(b / 255.0L, static_cast<Extended>(Curve)));
  }
}

void DrawFloorShadow(TBitmap32& Bitmap, TColor32 Colour, double Fade, double Soften, double BendX, double BendY,
                     std::int32_t Size) {
  Bitmap.SetSize(Size, Size);
  const TColor32 colour = Colour & 0x00FFFFFFu;
  const Extended alpha = static_cast<Extended>(Colour >> 24) / 255.0L;
  const bool bent = BendY > 0 && BendX > 0 && BendX < 1;
  for (std::int32_t y = 0; y < Size; ++y) {
    TColor32* row = Bitmap.ScanLine(y);
    const Extended v = (y + 0.5L) / Size;
    for (std::int32_t x = 0; x < Size; ++x) {
      const Extended u = (x + 0.5L) / Size;
      // Where the shadow starts in this column, and how far on from there this pixel lies.
      Extended start = 0;
      if (bent) start = u < BendX ? BendY * u / BendX : BendY * (1.0L - u) / (1.0L - BendX);
      Extended t = v <= start ? 0.0L : (v - start) / (1.0L - start);
      // Ease-out: the shadow thins fast near what casts it, then slowly.
      const Extended along = 1.0L - static_cast<Extended>(Fade) * t * (2.0L - t);
      const Extended band = static_cast<Extended>(Soften) * t;
      const Extended edge = std::min(u, 1.0L - u);
      Extended across = 1.0L;
      if (band > 0 && edge < band) {
        const Extended w = edge / band;
        across = w * w * (3.0L - 2.0L * w);
      }
      row[x] = colour | static_cast<TColor32>(Round(255.0L * alpha * along * across)) << 24;
    }
  }
  Bitmap.Changed();
}

raster::TRect GrowingBlur(TBitmap32& Bitmap, std::int32_t Near, std::int32_t Far, const raster::TRect& Content,
                          raster::TPoint A, raster::TPoint B, raster::TPoint C, raster::TPoint D) {
  if (Far <= Near) return raster::ExpBlur(Bitmap, Near, Content);
  const raster::TRect content = raster::IntersectRect(Content, Bitmap.BoundsRect());
  if (content.Right <= content.Left || content.Bottom <= content.Top) return content;
  // The far blur on a copy of just the content and the room it spreads into.
  const std::int32_t reach = raster::ExpBlurReach(Far);
  const raster::TRect room = raster::IntersectRect(
      raster::MakeRect(content.Left - reach, content.Top - reach, content.Right + reach, content.Bottom + reach),
      Bitmap.BoundsRect());
  TBitmap32 wide;
  wide.SetSize(room.Right - room.Left, room.Bottom - room.Top);
  wide.Clear(0);
  for (std::int32_t y = content.Top; y < content.Bottom; ++y)
    std::copy(Bitmap.ScanLine(y) + content.Left, Bitmap.ScanLine(y) + content.Right,
              wide.ScanLine(y - room.Top) + (content.Left - room.Left));
  const raster::TRect nearRect = raster::ExpBlur(Bitmap, Near, content);
  raster::TRect farRect = raster::ExpBlur(
      wide, Far,
      raster::MakeRect(content.Left - room.Left, content.Top - room.Top, content.Right - room.Left,
                       content.Bottom - room.Top));
  farRect = raster::MakeRect(farRect.Left + room.Left, farRect.Top + room.Top, farRect.Right + room.Left,
                             farRect.Bottom + room.Top);
  const raster::TRect all = raster::IntersectRect(raster::UnionRect(nearRect, farRect), room);
  // The height of a point of the edge P-Q above column x (the edge is taken as a line).
  auto edgeY = [](raster::TPoint P, raster::TPoint Q, Extended x) -> Extended {
    if (P.X == Q.X) return (P.Y + Q.Y) / 2.0L;
    return P.Y + (Q.Y - P.Y) * (x - P.X) / static_cast<Extended>(Q.X - P.X);
  };
  if (all.Right <= all.Left || all.Bottom <= all.Top) return all;
  std::vector<double> top(static_cast<std::size_t>(all.Right - all.Left)), inverse(top.size());
  for (std::int32_t x = all.Left; x < all.Right; ++x) {
    const Extended t = edgeY(A, B, x + 0.5L), span = edgeY(D, C, x + 0.5L) - t;
    top[static_cast<std::size_t>(x - all.Left)] = static_cast<double>(t);
    inverse[static_cast<std::size_t>(x - all.Left)] = span == 0 ? 0.0 : static_cast<double>(1.0L / span);
  }
  for (std::int32_t y = all.Top; y < all.Bottom; ++y) {
    TColor32* row = Bitmap.ScanLine(y);
    const TColor32* wideRow = wide.ScanLine(y - room.Top) - room.Left;
    for (std::int32_t x = all.Left; x < all.Right; ++x) {
      const std::size_t i = static_cast<std::size_t>(x - all.Left);
      const double t = inverse[i] == 0 ? 1.0 : std::clamp((y + 0.5 - top[i]) * inverse[i], 0.0, 1.0);
      const std::uint32_t w = static_cast<std::uint32_t>(std::lround(256.0 * t));
      const TColor32 p = row[x], q = wideRow[x];
      if (p == q) continue;
      TColor32 out = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t a = (p >> shift) & 0xFFu, b = (q >> shift) & 0xFFu;
        out |= ((a * (256 - w) + b * w + 128) >> 8) << shift;
      }
      row[x] = out;
    }
  }
  return all;
}

void ShiftBrightness(TBitmap32& Bitmap, std::int32_t Amount) { ShiftBrightness(Bitmap, Amount, Bitmap.BoundsRect()); }

void ShiftBrightness(TBitmap32& Bitmap, std::int32_t Amount, const raster::TRect& Within) {
  if (Amount == 0 || Bitmap.Bits() == nullptr) return;
  const raster::TRect r = raster::IntersectRect(Within, Bitmap.BoundsRect());
  for (std::int32_t y = r.Top; y < r.Bottom; ++y) {
    TColor32* p = Bitmap.ScanLine(y);
    for (std::int32_t x = r.Left; x < r.Right; ++x)
      if ((p[x] >> 24) != 0) p[x] = raster::Lighten(p[x], Amount);
  }
}

void MaskToAlpha(const TBitmap32& Mask, TBitmap32& Target) {
  if (Mask.Width() != Target.Width() || Mask.Height() != Target.Height()) return;
  raster::IntensityToAlpha(&Target, &Mask);
}

namespace {

// A grey of this intensity: with R = G = B = v the weights 61 + 174 + 21 = 256 give exactly v.
constexpr TColor32 Grey(int v) { return raster::Color32(static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v)); }

// Mask 4 edge profiles, sampled one pixel apart. The left (and top, and mirrored bottom) edge has its
// 50 % point half-way between the sixth and seventh samples; the right edge is slightly sharper and
// sits 0.3 pixel past a pixel centre.
constexpr int kLeftEdge[] = {0, 1, 6, 20, 50, 99, 155, 204, 234, 248, 253, 254, 255};
constexpr double kLeftEdgeStart = -5.5;  // inside distance of the first sample
constexpr int kRightEdge[] = {0, 1, 5, 17, 45, 90, 145, 195, 229, 246, 252, 254, 254, 255};
constexpr double kRightEdgeStart = 313.3 - 319.0;  // x = 319

// Linear interpolation in a profile by the signed distance d inside the edge.
template <std::size_t N>
double Profile(const int (&table)[N], double start, double d) {
  const double t = d - start;
  if (t <= 0) return table[0];
  if (t >= static_cast<double>(N - 1)) return table[N - 1];
  const std::size_t i = static_cast<std::size_t>(t);
  const double f = t - static_cast<double>(i);
  return table[i] + (table[i + 1] - table[i]) * f;
}

double LeftProfile(double d) { return Profile(kLeftEdge, kLeftEdgeStart, d); }
double RightProfile(double d) { return Profile(kRightEdge, kRightEdgeStart, d); }

// The rounded rectangle: 50 % contour at x = 12.5 and 313.3, y = 9.5 and 246.5, corner radius 11.
// Along the straight edges the horizontal and vertical profiles multiply (as a blurred rectangle
// does); in the corners the profile is taken across the rounded contour.
void BuildRoundRectMask(TBitmap32& bitmap) {
  constexpr double left = 12.5, right = 313.3, top = 9.5, bottom = 246.5, radius = 11.0;
  bitmap.SetSize(326, 257);
  for (std::int32_t y = 0; y < 257; ++y) {
    TColor32* row = bitmap.ScanLine(y);
    for (std::int32_t x = 0; x < 326; ++x) {
      const double cx = x < 163 ? left + radius : right - radius;
      const double cy = y < 128 ? top + radius : bottom - radius;
      const bool inCorner = (x < 163 ? x < cx : x > cx) && (y < 128 ? y < cy : y > cy);
      double v;
      if (inCorner) {
        const double d = radius - std::hypot(x - cx, y - cy);
        v = x < 163 ? LeftProfile(d) : RightProfile(d);
      } else {
        const double px = x < 163 ? LeftProfile(x - left) : RightProfile(right - x);
        const double py = LeftProfile(y < 128 ? y - top : bottom - y);
        v = px * py / 255.0;
      }
      row[x] = Grey(Round(v));
    }
  }
}

}  // namespace

void BuildRoundRectMaskAt(TBitmap32& Bitmap, std::int32_t Width, std::int32_t Height, double EdgeShare) {
  constexpr double left = 12.5, right = 313.3, top = 9.5, bottom = 246.5, radius = 11.0;
  const double sx = Width / 326.0, sy = Height / 257.0;
  // Stretched, the mask's pixel i has its centre at (i + 0.5) times the scale.
  const double l = (left + 0.5) * sx, r = (right + 0.5) * sx, t = (top + 0.5) * sy, b = (bottom + 0.5) * sy;
  const double rx = radius * sx, ry = radius * sy;
  // The profile's width in pixels for one of its mask pixels.
  const double soft = EdgeShare * (sx + sy) / 2;
  Bitmap.SetSize(Width, Height);
  for (std::int32_t y = 0; y < Height; ++y) {
    TColor32* row = Bitmap.ScanLine(y);
    const double py = y + 0.5;
    for (std::int32_t x = 0; x < Width; ++x) {
      const double px = x + 0.5;
      // Distance inside the outline in pixels; in a corner, across its elliptical arc.
      const double cx = std::clamp(px, l + rx, r - rx), cy = std::clamp(py, t + ry, b - ry);
      double d = std::min({px - l, r - px, py - t, b - py});
      if (cx != px && cy != py) d = (1 - std::hypot((px - cx) / rx, (py - cy) / ry)) * std::min(rx, ry);
      const double v = soft > 1 ? LeftProfile(d / soft) : 255.0 * std::clamp(d + 0.5, 0.0, 1.0);
      row[x] = Grey(Round(v));
    }
  }
  Bitmap.Changed();
}

void BuildShadeMask(std::int32_t Index, TBitmap32& Bitmap) {
  switch (Index) {
    case 0:
      Bitmap.SetSize(300, 300);
      for (std::int32_t y = 0; y < 300; ++y) {
        TColor32* row = Bitmap.ScanLine(y);
        for (std::int32_t x = 0; x < 300; ++x) row[x] = Grey(Round(255.0L * (y - x + 299) / 598.0L));
      }
      break;
    case 1:
      Bitmap.SetSize(300, 300);
      for (std::int32_t y = 0; y < 300; ++y) {
        TColor32* row = Bitmap.ScanLine(y);
        std::fill(row, row + 300, Grey(Round(28.0L + 227.0L * y / 299.0L)));
      }
      break;
    case 2:
      Bitmap.SetSize(300, 300);
      Bitmap.Clear(raster::Color32(173, 169, 168));
      break;
    case 4:
      BuildRoundRectMask(Bitmap);
      break;
    case 3:
    case 5:
      Bitmap.SetSize(400, 400);
      Bitmap.Clear(Grey(128));
      break;
    default:
      throw EListError(Format(kListIndexError, Index));
  }
  Bitmap.Changed();
}

void TShadeBitmap32List::Build() {
  fBitmaps.clear();
  fDrawn.reset();
  for (std::int32_t i = 0; i < kShadeMaskCount; ++i) {
    auto bitmap = std::make_unique<TBitmap32>();
    BuildShadeMask(i, *bitmap);
    fBitmaps.push_back(std::move(bitmap));
  }
}

void TShadeBitmap32List::BuildOnDemand() {
  fBitmaps.clear();
  for (std::int32_t i = 0; i < kShadeMaskCount; ++i) fBitmaps.push_back(std::make_unique<TBitmap32>());
  fDrawn = std::make_unique<std::once_flag[]>(kShadeMaskCount);
}

void TShadeBitmap32List::Draw(std::int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(kListIndexError, Index));
  if (fDrawn != nullptr) {
    TBitmap32& bitmap = *fBitmaps[static_cast<std::size_t>(Index)];
    std::call_once(fDrawn[static_cast<std::size_t>(Index)], [&] { BuildShadeMask(Index, bitmap); });
  }
}

TBitmap32& TShadeBitmap32List::BitmapAt(std::int32_t Index) {
  Draw(Index);
  return *fBitmaps[static_cast<std::size_t>(Index)];
}

const TBitmap32& TShadeBitmap32List::BitmapAt(std::int32_t Index) const {
  Draw(Index);
  return *fBitmaps[static_cast<std::size_t>(Index)];
}

}  // namespace quirlon::core
