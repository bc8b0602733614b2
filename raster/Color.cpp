#include "raster/Color.h"

#include <cmath>
#include <cstdlib>

#include "raster/Numeric.h"

namespace quirlon::raster {

TRect IntersectRect(const TRect& a, const TRect& b) {
  TRect r{a.Left > b.Left ? a.Left : b.Left, a.Top > b.Top ? a.Top : b.Top,
          a.Right < b.Right ? a.Right : b.Right, a.Bottom < b.Bottom ? a.Bottom : b.Bottom};
  if (r.Right < r.Left || r.Bottom < r.Top) return TRect{};
  return r;
}

TRect UnionRect(const TRect& a, const TRect& b) {
  const bool aEmpty = a.Right <= a.Left || a.Bottom <= a.Top;
  const bool bEmpty = b.Right <= b.Left || b.Bottom <= b.Top;
  if (aEmpty) return bEmpty ? TRect{} : b;
  if (bEmpty) return a;
  return TRect{a.Left < b.Left ? a.Left : b.Left, a.Top < b.Top ? a.Top : b.Top, a.Right > b.Right ? a.Right : b.Right,
               a.Bottom > b.Bottom ? a.Bottom : b.Bottom};
}

TSingleRect ToSingleRect(const TRect& r) {
  return TSingleRect{static_cast<float>(r.Left), static_cast<float>(r.Top), static_cast<float>(r.Right),
                     static_cast<float>(r.Bottom)};
}

TRect ToRect(const TSingleRect& r) { return TRect{Round(r.Left), Round(r.Top), Round(r.Right), Round(r.Bottom)}; }

std::int32_t MulDivRounded(std::int32_t a, std::int32_t b, std::int32_t c) {
  const std::uint64_t ua = static_cast<std::uint64_t>(std::llabs(std::int64_t{a}));
  const std::uint64_t ub = static_cast<std::uint64_t>(std::llabs(std::int64_t{b}));
  const std::uint64_t uc = static_cast<std::uint64_t>(std::llabs(std::int64_t{c}));
  const std::uint64_t product = ua * ub;  // < 2^62, exact
  const std::uint32_t high = static_cast<std::uint32_t>(product >> 32);
  // The platform's overflow test: twice the high word, modulo 2^32, at least |c| (c = 0 included).
  if (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high * 2u)) >= uc) return -1;
  std::uint64_t q = product / uc;
  const std::uint64_t rem = product % uc;
  if (rem >= uc - rem) ++q;
  const bool negative = ((a < 0) != (b < 0)) != (c < 0);
  // The test above lets some quotients of 2^31 and more through (|c| odd); a wrapped value would be
  // a wrong answer, so they report the overflow too.
  if (q > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return -1;
  const std::int64_t signedQ = negative ? -static_cast<std::int64_t>(q) : static_cast<std::int64_t>(q);
  return static_cast<std::int32_t>(signedQ);
}

TFixed16 ToFixed(long double x) {
  const std::int64_t r = RoundInt64(x * 65536.0L);
  return static_cast<TFixed16>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(r)));
}

TColor32 Color32(TColor c) {
  if (c < 0) c = SysColor(c & 0xFF);
  const TColor32 r = static_cast<TColor32>(c) & 0xFF;
  const TColor32 g = (static_cast<TColor32>(c) >> 8) & 0xFF;
  const TColor32 b = (static_cast<TColor32>(c) >> 16) & 0xFF;
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

TColor32 Lighten(TColor32 c, int n) {
  auto ch = [n](int v) {
    v += n;
    return static_cast<TColor32>(v < 0 ? 0 : (v > 255 ? 255 : v));
  };
  return (c & 0xFF000000u) | (ch(RedComponent(c)) << 16) | (ch(GreenComponent(c)) << 8) | ch(BlueComponent(c));
}

namespace {
// 0x00BBGGRR, by index: scroll bar, background, active caption, inactive caption, menu, window,
// window frame, menu text, window text, caption text, active border, inactive border, app
// workspace, highlight, highlight text, button face, button shadow, grey text, button text,
// inactive caption text, button highlight, 3-D dark shadow, 3-D light, info text, info background,
// (24: unused), hot light, gradient active caption, gradient inactive caption, menu highlight,
// menu bar.
constexpr TColor kSysColors[31] = {
    0x00C8C8C8, 0x00000000, 0x00D1B499, 0x00DBCDBF, 0x00F0F0F0, 0x00FFFFFF, 0x00646464, 0x00000000,
    0x00000000, 0x00000000, 0x00B4B4B4, 0x00FCF7F4, 0x00ABABAB, 0x00D77800, 0x00FFFFFF, 0x00F0F0F0,
    0x00A0A0A0, 0x006D6D6D, 0x00000000, 0x00000000, 0x00FFFFFF, 0x00696969, 0x00E3E3E3, 0x00000000,
    0x00E1FFFF, 0x00000000, 0x00CC6600, 0x00EAD1B9, 0x00F2E4D7, 0x00FF9933, 0x00F0F0F0};
}  // namespace

TColor SysColor(int index) {
  if (index < 0 || index > 30) return 0;
  return kSysColors[index];
}

}  // namespace quirlon::raster
