#pragma once
// Pixel and value types shared by the whole raster engine: TColor32 (straight, non-premultiplied
// ARGB), TColor (user colour 0x00BBGGRR or a negative system colour), 16.16 fixed point and the
// integer and float rectangles.
#include <cstdint>

namespace quirlon::raster {

using TColor32 = std::uint32_t;  // A in bits 24..31, then R, G, B; bytes B, G, R, A in memory
using TColor = std::int32_t;     // 0x00BBGGRR, or negative: system colour with index = low byte
using TFixed16 = std::int32_t;   // value = raw / 65536

inline constexpr TFixed16 kFixedOne = 0x10000;
inline constexpr TFixed16 kFixedHalf = 0x8000;

struct TFixedPoint {
  TFixed16 X = 0;
  TFixed16 Y = 0;
  friend bool operator==(const TFixedPoint&, const TFixedPoint&) = default;
};

struct TFloatPoint {
  float X = 0;
  float Y = 0;
  friend bool operator==(const TFloatPoint&, const TFloatPoint&) = default;
};

struct TPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Right and Bottom are exclusive; empty when Right <= Left or Bottom <= Top.
struct TRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  std::int32_t Width() const { return Right - Left; }
  std::int32_t Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect MakeRect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) { return TRect{l, t, r, b}; }

// Larger Left/Top, smaller Right/Bottom; a crossed result becomes (0, 0, 0, 0), a zero-width or
// zero-height one stays as it is.
TRect IntersectRect(const TRect& a, const TRect& b);
// The smallest rectangle holding both; an empty one (no width or no height) counts as nothing.
TRect UnionRect(const TRect& a, const TRect& b);

struct TSingleRect {
  float Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TSingleRect&, const TSingleRect&) = default;
};

TSingleRect ToSingleRect(const TRect& r);  // exact
TRect ToRect(const TSingleRect& r);        // each value rounded to nearest, ties to even

// The platform's MulDiv: |a|*|b|/|c| rounded half away from zero with the sign of a*b*c; -1 when
// the quotient does not fit (c = 0 included).
std::int32_t MulDivRounded(std::int32_t a, std::int32_t b, std::int32_t c);

// 16.16 conversions.
inline constexpr TFixed16 FixedFromInt(std::int32_t n) { return static_cast<TFixed16>(static_cast<std::uint32_t>(n) << 16); }
TFixed16 ToFixed(long double x);  // x * 65536 rounded half to even, low 32 bits kept
// (a + 32767) >> 16 with sign: an exact half rounds down.
inline constexpr std::int32_t FixedRoundHalfDown(TFixed16 a) {
  return static_cast<std::int32_t>((static_cast<std::int64_t>(a) + 32767) >> 16);
}

// Colour functions.
TColor32 Color32(TColor c);  // opaque; negative c looks up the system colour table
inline constexpr TColor32 Color32(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
  return (TColor32(a) << 24) | (TColor32(r) << 16) | (TColor32(g) << 8) | TColor32(b);
}
inline constexpr int AlphaComponent(TColor32 c) { return static_cast<int>(c >> 24); }
inline constexpr int RedComponent(TColor32 c) { return static_cast<int>((c >> 16) & 0xFF); }
inline constexpr int GreenComponent(TColor32 c) { return static_cast<int>((c >> 8) & 0xFF); }
inline constexpr int BlueComponent(TColor32 c) { return static_cast<int>(c & 0xFF); }
// (R*61 + G*174 + B*21) >> 8; alpha ignored.
inline constexpr int Intensity(TColor32 c) {
  return (RedComponent(c) * 61 + GreenComponent(c) * 174 + BlueComponent(c) * 21) >> 8;
}
// Alpha clamped to 0..255.
inline constexpr TColor32 SetAlpha(TColor32 c, int a) {
  const int clamped = a < 0 ? 0 : (a > 255 ? 255 : a);
  return (c & 0x00FFFFFFu) | (TColor32(clamped) << 24);
}
// Adds n to R, G and B, each clamped to 0..255; alpha unchanged.
TColor32 Lighten(TColor32 c, int n);

// The system colour table (index 0..30, 0x00BBGGRR). Linux has no such table; the values are a
// fixed classic light-grey desktop scheme, listed in Color.cpp.
TColor SysColor(int index);

}  // namespace quirlon::raster
