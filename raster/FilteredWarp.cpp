#include "raster/FilteredWarp.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster/Blend.h"
#include "raster/Numeric.h"
#include "raster/Parallel.h"

namespace quirlon::raster {

namespace {

// One texel of a 2 x 2 box: the alpha-weighted mean, back to straight alpha.
TColor32 BoxAverage(TColor32 c0, TColor32 c1, TColor32 c2, TColor32 c3) {
  const TColor32 px[4] = {c0, c1, c2, c3};
  if ((c0 & c1 & c2 & c3) >> 24 == 255) {
    // Red and blue side by side in one word, green alone: four 8-bit values add up without carry.
    const std::uint32_t rb =
        (((c0 & 0x00FF00FFu) + (c1 & 0x00FF00FFu) + (c2 & 0x00FF00FFu) + (c3 & 0x00FF00FFu) + 0x00020002u) >> 2) &
        0x00FF00FFu;
    const std::uint32_t g =
        (((c0 & 0x0000FF00u) + (c1 & 0x0000FF00u) + (c2 & 0x0000FF00u) + (c3 & 0x0000FF00u) + 0x00000200u) >> 2) &
        0x0000FF00u;
    return 0xFF000000u | rb | g;
  }
  std::uint32_t alphaSum = 0;
  for (const TColor32 p : px) alphaSum += p >> 24;
  if (alphaSum == 0) return 0;
  TColor32 out = static_cast<TColor32>((alphaSum + 2) >> 2) << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    std::uint32_t s = 0;
    for (const TColor32 p : px) s += ((p >> shift) & 0xFF) * (p >> 24);
    out |= static_cast<TColor32>((s + alphaSum / 2) / alphaSum) << shift;
  }
  return out;
}

// The four opaque neighbours mixed by 8-bit fractions: per channel (a x (256 - f) + b x f + 128) >> 8,
// across, then down. Each sum stays below 65536, so 16-bit lanes hold it exactly: both rows are
// mixed across in one register.
#if defined(__SSE2__)
// The mix's channels in 16-bit lanes 0 to 3 (blue, green, red, alpha), before they are packed.
inline __m128i MixOpaqueFourLanes(TColor32 c00, TColor32 c10, TColor32 c01, TColor32 c11, std::uint32_t fx,
                                  std::uint32_t fy) {
  const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi16(128);
  const auto pair = [&](TColor32 top, TColor32 bottom) {
    return _mm_unpacklo_epi8(_mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(top)),
                                                _mm_cvtsi32_si128(static_cast<int>(bottom))),
                             zero);
  };
  const auto lerp = [&](__m128i a, __m128i b, std::uint32_t f) {
    const __m128i wa = _mm_set1_epi16(static_cast<short>(256 - f)), wb = _mm_set1_epi16(static_cast<short>(f));
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, wa), _mm_mullo_epi16(b, wb)), round), 8);
  };
  const __m128i across = lerp(pair(c00, c01), pair(c10, c11), fx);  // the top row's mix, then the bottom's
  return lerp(across, _mm_srli_si128(across, 8), fy);
}
#endif

inline TColor32 MixOpaqueFour(TColor32 c00, TColor32 c10, TColor32 c01, TColor32 c11, std::uint32_t fx,
                              std::uint32_t fy) {
#if defined(__SSE2__)
  const __m128i mixed = MixOpaqueFourLanes(c00, c10, c01, c11, fx, fy);
  return static_cast<TColor32>(_mm_cvtsi128_si32(_mm_packus_epi16(mixed, _mm_setzero_si128()))) | 0xFF000000u;
#else
  const auto lerp = [](TColor32 a, TColor32 b, std::uint32_t f) {
    const std::uint32_t rbA = a & 0x00FF00FFu, rbB = b & 0x00FF00FFu;
    const std::uint32_t gA = (a >> 8) & 0x00FF00FFu, gB = (b >> 8) & 0x00FF00FFu;
    const std::uint32_t rb = ((rbA * (256 - f) + rbB * f + 0x00800080u) >> 8) & 0x00FF00FFu;
    const std::uint32_t g = (gA * (256 - f) + gB * f + 0x00800080u) & 0xFF00FF00u;
    return rb | g;
  };
  return lerp(lerp(c00, c10, fx), lerp(c01, c11, fx), fy) | 0xFF000000u;
#endif
}

}  // namespace

#if defined(__SSE2__)
// BoxAverage of the two 2 x 2 boxes held by rows A and B (four pixels each), into Out[0] and Out[1].
// Each channel times its pixel's alpha in 16-bit lanes (at most 255 x 255), four such added in
// 32-bit lanes, and the rounded quotient taken in float: numerator and denominator are exact there,
// and a quotient below 256 that is not whole lies at least 1 / (256 x 1020) of itself from the next
// whole number, far more than a float's rounding, so truncating it gives the integer division's
// result. For an opaque box the quotient is BoxAverage's (sum + 2) >> 2.
inline void TranslucentBoxPair(__m128i A, __m128i B, TColor32* Out) {
  const __m128i zero = _mm_setzero_si128();
  const auto alphas = [](__m128i v) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF); };
  const auto widenedSum = [&](__m128i p) { return _mm_add_epi32(_mm_unpacklo_epi16(p, zero), _mm_unpackhi_epi16(p, zero)); };
  const __m128i al = _mm_unpacklo_epi8(A, zero), ah = _mm_unpackhi_epi8(A, zero);
  const __m128i bl = _mm_unpacklo_epi8(B, zero), bh = _mm_unpackhi_epi8(B, zero);
  const __m128i weighted[2] = {
      _mm_add_epi32(widenedSum(_mm_mullo_epi16(al, alphas(al))), widenedSum(_mm_mullo_epi16(bl, alphas(bl)))),
      _mm_add_epi32(widenedSum(_mm_mullo_epi16(ah, alphas(ah))), widenedSum(_mm_mullo_epi16(bh, alphas(bh))))};
  const __m128i plain[2] = {_mm_add_epi16(al, bl), _mm_add_epi16(ah, bh)};  // alphas in 16-bit lanes 3 and 7
  for (int i = 0; i < 2; ++i) {
    const auto alphaSum = static_cast<std::uint32_t>(_mm_extract_epi16(plain[i], 3) + _mm_extract_epi16(plain[i], 7));
    if (alphaSum == 0) {
      Out[i] = 0;
      continue;
    }
    const __m128i rounded = _mm_add_epi32(weighted[i], _mm_set1_epi32(static_cast<int>(alphaSum / 2)));
    const __m128i quotients =
        _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(rounded), _mm_set1_ps(static_cast<float>(alphaSum))));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(quotients, zero), zero);
    Out[i] = static_cast<TColor32>((alphaSum + 2) >> 2) << 24 |
             (static_cast<TColor32>(_mm_cvtsi128_si32(bytes)) & 0x00FFFFFFu);
  }
}
#endif

TSourcePyramid::TSourcePyramid(const TBitmap32& Src, double MaxFootprint) {
  const TRect clip = IntersectRect(Src.ClipRect(), Src.BoundsRect());
  if (clip.Right <= clip.Left || clip.Bottom <= clip.Top) return;
  TLevel base;
  base.Bits = Src.ScanLine(clip.Top) + clip.Left;
  base.Width = clip.Right - clip.Left;
  base.Height = clip.Bottom - clip.Top;
  base.Stride = Src.Width();
  fLevels.push_back(base);
  double span = 1;
  if (!(span < MaxFootprint) || (base.Width <= 1 && base.Height <= 1)) return;
  std::size_t room = 0;
  for (std::int32_t w = base.Width, h = base.Height; w > 1 || h > 1;) {
    w = (w + 1) / 2;
    h = (h + 1) / 2;
    room += static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  }
  fStore.resize(room);
  std::size_t used = 0;
  while (span < MaxFootprint && (fLevels.back().Width > 1 || fLevels.back().Height > 1)) {
    const TLevel& from = fLevels.back();
    TLevel to;
    to.Width = (from.Width + 1) / 2;
    to.Height = (from.Height + 1) / 2;
    to.Stride = to.Width;
    TColor32* const store = fStore.data() + used;
    used += static_cast<std::size_t>(to.Width) * static_cast<std::size_t>(to.Height);
    for (std::int32_t y = 0; y < to.Height; ++y) {
      const TColor32* r0 = from.Bits + static_cast<std::size_t>(2 * y) * from.Stride;
      const TColor32* r1 = from.Bits + static_cast<std::size_t>(std::min(2 * y + 1, from.Height - 1)) * from.Stride;
      TColor32* out = store + static_cast<std::size_t>(y) * to.Stride;
      std::int32_t x = 0;
#if defined(__SSE2__)
      // Two opaque texels at a time from four source pixels of each row: the channel sums of each
      // 2 x 2 box in 16-bit lanes, (sum + 2) >> 2 as BoxAverage's opaque case (alpha comes out 255).
      const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2), opaque = _mm_set1_epi32(-16777216);
      for (; 2 * x + 3 < from.Width; x += 2) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + 2 * x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + 2 * x));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(_mm_and_si128(a, b), opaque), opaque)) != 0xFFFF) {
          // Clear boxes (a reflection past its fade) average to 0.
          if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(_mm_or_si128(a, b), 24), zero)) == 0xFFFF)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), zero);
          else
            TranslucentBoxPair(a, b, out + x);
          continue;
        }
        const __m128i first = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
        const __m128i second = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
        const __m128i sums = _mm_add_epi16(_mm_unpacklo_epi64(first, second), _mm_unpackhi_epi64(first, second));
        const __m128i means = _mm_srli_epi16(_mm_add_epi16(sums, two), 2);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(means, zero));
      }
#endif
      for (; x < to.Width; ++x) {
        const std::int32_t x0 = 2 * x, x1 = std::min(2 * x + 1, from.Width - 1);
        out[x] = BoxAverage(r0[x0], r0[x1], r1[x0], r1[x1]);
      }
    }
    to.Bits = store;
    fLevels.push_back(to);
    span *= 2;
  }
}

bool FootprintAxes(const TSingleMatrix& R, double X, double Y, double& Major, double& Minor) {
  const double w = R[0][2] * X + R[1][2] * Y + R[2][2];
  if (w == 0) return false;
  const double sx = (R[0][0] * X + R[1][0] * Y + R[2][0]) / w;
  const double sy = (R[0][1] * X + R[1][1] * Y + R[2][1]) / w;
  // The derivatives of (u / w, v / w) along the destination's x and y.
  const double ax = (R[0][0] - sx * R[0][2]) / w, ay = (R[0][1] - sy * R[0][2]) / w;
  const double bx = (R[1][0] - sx * R[1][2]) / w, by = (R[1][1] - sy * R[1][2]) / w;
  const double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
  Major = std::max(la, lb);
  Minor = std::min(la, lb);
  return true;
}

namespace {

struct TWarpContext {
  TSingleMatrix R;
  const TSourcePyramid* Pyramid;
  TRect Clip;
  double Reach;  // source pixels beyond the clip rectangle that still count as inside
  TColor32 Outer;
  bool MayShrink;
  bool Uniform;     // every pixel of the clip rectangle has one colour
  bool AlphaOnly;   // every pixel that shows has the colour Tint: only alpha varies
  TColor32 Tint;    // that colour (alpha bits clear)
  bool Enlarging;   // every footprint within a pixel, positions fit 24.8 fixed point: one tap each
};

struct TSourceTraits {
  bool Uniform = true, AlphaOnly = true;
  TColor32 Tint = 0;
};

// Whether every pixel of Clip is First. The rows are compared without early exits, which the
// compiler turns into vector code: a one-colour picture (a shadow the size of the canvas) is the
// case worth making fast, and another picture usually differs in its first row.
bool AllPixelsAre(const TBitmap32& Src, const TRect& Clip, TColor32 First) {
  for (std::int32_t y = Clip.Top; y < Clip.Bottom; ++y) {
    const TColor32* row = Src.ScanLine(y);
    TColor32 differ = 0;
    for (std::int32_t x = Clip.Left; x < Clip.Right; ++x) differ |= row[x] ^ First;
    if (differ != 0) return false;
  }
  return true;
}

// One pass over the clip rectangle, stopping once neither shortcut can apply.
TSourceTraits SourceTraits(const TBitmap32& Src, const TRect& Clip) {
  TSourceTraits t;
  const TColor32 first = Src.ScanLine(Clip.Top)[Clip.Left];
  if (AllPixelsAre(Src, Clip, first)) {
    t.Tint = first >> 24 == 0 ? 0 : first & 0x00FFFFFFu;  // a clear picture shows no colour at all
    return t;
  }
  bool tinted = false;
  for (std::int32_t y = Clip.Top; y < Clip.Bottom && (t.Uniform || t.AlphaOnly); ++y) {
    const TColor32* row = Src.ScanLine(y);
    for (std::int32_t x = Clip.Left; x < Clip.Right; ++x) {
      const TColor32 p = row[x];
      t.Uniform = t.Uniform && p == first;
      if (p >> 24 == 0) continue;  // shows no colour
      if (!tinted) {
        t.Tint = p & 0x00FFFFFFu;
        tinted = true;
      } else if ((p & 0x00FFFFFFu) != t.Tint) {
        t.AlphaOnly = false;
        if (!t.Uniform) break;
      }
    }
  }
  return t;
}

// Alpha-weighted channel sums of bilinear taps. A tap's four weights add up to 65536; a weight
// times an alpha is kept in 8 fewer bits, so one opaque tap adds kOpaqueTap to A and sums of a few
// dozen taps stay within 32 bits.
struct TTapSum {
  std::uint32_t R = 0, G = 0, B = 0, A = 0;
};
constexpr std::uint32_t kOpaqueTap = 255 * 256;

// A position on a level as a texel index and an 8-bit fraction, edge texels repeated.
struct TTapPosition {
  std::int32_t X0, X1, Y0, Y1;
  std::uint32_t Fx, Fy;
};

// (X, Y) in level-0 pixel units (integers are pixel centres) on level L, whose texel is Span
// level-0 pixels wide.
inline TTapPosition TapPosition(const TSourcePyramid::TLevel& Level, double X, double Y, double InverseSpan) {
  // Clamped as max then min (two instructions, no branches): for every number, which is all that
  // reaches here, the same as std::clamp, but for -0, which the rounding below takes to 0 either way.
  const double lx = std::min(std::max((X + 0.5) * InverseSpan - 0.5, 0.0), static_cast<double>(Level.Width - 1));
  const double ly = std::min(std::max((Y + 0.5) * InverseSpan - 0.5, 0.0), static_cast<double>(Level.Height - 1));
  const auto ix = static_cast<std::int64_t>(lx * 256 + 0.5), iy = static_cast<std::int64_t>(ly * 256 + 0.5);
  TTapPosition p;
  p.X0 = static_cast<std::int32_t>(ix >> 8);
  p.Y0 = static_cast<std::int32_t>(iy >> 8);
  p.Fx = static_cast<std::uint32_t>(ix & 255);
  p.Fy = static_cast<std::uint32_t>(iy & 255);
  p.X1 = std::min(p.X0 + 1, Level.Width - 1);
  p.Y1 = std::min(p.Y0 + 1, Level.Height - 1);
  return p;
}

inline void AddTexel(TColor32 c, std::uint32_t Weight, TTapSum& Sum) {
  const std::uint32_t wa = (Weight * (c >> 24)) >> 8;
  Sum.A += wa;
  Sum.R += wa * ((c >> 16) & 0xFF);
  Sum.G += wa * ((c >> 8) & 0xFF);
  Sum.B += wa * (c & 0xFF);
}

inline void AddTap(const TSourcePyramid::TLevel& Level, const TTapPosition& P, TTapSum& Sum) {
  const TColor32* r0 = Level.Bits + static_cast<std::size_t>(P.Y0) * Level.Stride;
  const TColor32* r1 = Level.Bits + static_cast<std::size_t>(P.Y1) * Level.Stride;
  const TColor32 c00 = r0[P.X0], c10 = r0[P.X1], c01 = r1[P.X0], c11 = r1[P.X1];
  if ((c00 & c10 & c01 & c11) >> 24 == 255) {
    const TColor32 c = MixOpaqueFour(c00, c10, c01, c11, P.Fx, P.Fy);
    Sum.A += kOpaqueTap;
    Sum.R += kOpaqueTap * ((c >> 16) & 0xFF);
    Sum.G += kOpaqueTap * ((c >> 8) & 0xFF);
    Sum.B += kOpaqueTap * (c & 0xFF);
    return;
  }
  const std::uint32_t gx = 256 - P.Fx, gy = 256 - P.Fy;
  AddTexel(c00, gx * gy, Sum);
  AddTexel(c10, P.Fx * gy, Sum);
  AddTexel(c01, gx * P.Fy, Sum);
  AddTexel(c11, P.Fx * P.Fy, Sum);
}

// V / Taps rounded down, by constants the compiler turns into multiplications.
inline std::uint32_t DivideByTaps(std::uint32_t V, std::uint32_t Taps) {
  switch (Taps) {
    case 1: return V;
    case 2: return V / 2;
    case 3: return V / 3;
    case 4: return V / 4;
    default: return V / Taps;
  }
}

// The mean of Taps taps as a straight-alpha colour.
inline TColor32 TapMean(const TTapSum& Sum, std::uint32_t Taps) {
  const std::uint32_t a = DivideByTaps(Sum.A + Taps * 128, Taps) >> 8;
  if (a == 0) return 0;
  const float unweight = 1.0f / static_cast<float>(Sum.A);
  const auto channel = [&](std::uint32_t v) {
    return std::min<std::uint32_t>(255, static_cast<std::uint32_t>(static_cast<float>(v) * unweight + 0.5f));
  };
  return std::min<std::uint32_t>(a, 255) << 24 | channel(Sum.R) << 16 | channel(Sum.G) << 8 | channel(Sum.B);
}

// TapMean of Taps opaque taps by the sum of one channel over them (at most 255 x Taps): the same
// float arithmetic, looked up. Built by TapMean itself, so the two cannot disagree.
struct TOpaqueMeans {
  std::uint8_t Channel[kMaxFootprintTaps + 1][255 * kMaxFootprintTaps + 1] = {};
  TOpaqueMeans() {
    for (std::uint32_t taps = 1; taps <= kMaxFootprintTaps; ++taps)
      for (std::uint32_t sum = 0; sum <= 255 * taps; ++sum) {
        TTapSum t;
        t.A = kOpaqueTap * taps;
        t.B = kOpaqueTap * sum;
        Channel[taps][sum] = static_cast<std::uint8_t>(TapMean(t, taps));
      }
  }
};
const TOpaqueMeans kOpaqueMeans;

#if defined(__SSE2__)
// TTapSum in the lanes of one register, blue, green, red, alpha (the order of a colour's bytes),
// with the same integers in each: every product below is an integer under 2^24, which a float
// holds exactly, so the multiplications are done in float lanes (SSE2 multiplies 32-bit integers
// only two at a time).
struct TTapLanes {
  __m128i V = _mm_setzero_si128();
};

// A colour's channels in 32-bit lanes.
inline __m128i ChannelLanes(TColor32 c) {
  const __m128i zero = _mm_setzero_si128();
  return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(c)), zero), zero);
}

inline __m128i MultiplyExact(__m128i a, __m128i b) {
  return _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(a), _mm_cvtepi32_ps(b)));
}

// An opaque tap of colour c: each channel times kOpaqueTap, and kOpaqueTap to alpha.
inline void AddOpaqueTap(TColor32 c, TTapLanes& Sum) {
  const __m128i channels = ChannelLanes((c & 0x00FFFFFFu) | 0x01000000u);
  Sum.V = _mm_add_epi32(Sum.V, MultiplyExact(channels, _mm_set1_epi32(static_cast<int>(kOpaqueTap))));
}

inline void AddTap(const TSourcePyramid::TLevel& Level, const TTapPosition& P, TTapLanes& Sum) {
  const TColor32* r0 = Level.Bits + static_cast<std::size_t>(P.Y0) * Level.Stride;
  const TColor32* r1 = Level.Bits + static_cast<std::size_t>(P.Y1) * Level.Stride;
  const TColor32 c00 = r0[P.X0], c10 = r0[P.X1], c01 = r1[P.X0], c11 = r1[P.X1];
  if ((c00 & c10 & c01 & c11) >> 24 == 255) {
    AddOpaqueTap(MixOpaqueFour(c00, c10, c01, c11, P.Fx, P.Fy), Sum);
    return;
  }
  // Lane i holds texel i of c00, c10, c01, c11: its weight, its alpha-weighted weight wa, and
  // wa times each channel; the lanes are then added up across.
  const int fx = static_cast<int>(P.Fx), fy = static_cast<int>(P.Fy), gx = 256 - fx, gy = 256 - fy;
  const __m128i texels = _mm_setr_epi32(static_cast<int>(c00), static_cast<int>(c10), static_cast<int>(c01),
                                        static_cast<int>(c11));
  const __m128i weights = _mm_setr_epi32(gx * gy, fx * gy, gx * fy, fx * fy);
  const __m128i byte = _mm_set1_epi32(0xFF);
  const __m128i wa = _mm_srli_epi32(MultiplyExact(weights, _mm_srli_epi32(texels, 24)), 8);
  const __m128i b = MultiplyExact(wa, _mm_and_si128(texels, byte));
  const __m128i g = MultiplyExact(wa, _mm_and_si128(_mm_srli_epi32(texels, 8), byte));
  const __m128i r = MultiplyExact(wa, _mm_and_si128(_mm_srli_epi32(texels, 16), byte));
  const __m128i bg = _mm_add_epi32(_mm_unpacklo_epi32(b, g), _mm_unpackhi_epi32(b, g));   // b0+b2 g0+g2 b1+b3 g1+g3
  const __m128i ra = _mm_add_epi32(_mm_unpacklo_epi32(r, wa), _mm_unpackhi_epi32(r, wa));  // likewise red, alpha
  Sum.V = _mm_add_epi32(Sum.V, _mm_add_epi32(_mm_unpacklo_epi64(bg, ra), _mm_unpackhi_epi64(bg, ra)));
}

// TapMean of the lanes. The channel sums stay below 2^31 (four taps of 255 x kOpaqueTap), so the
// signed conversions see what the unsigned ones did, and saturating packs take the place of the
// minimum with 255.
inline TColor32 TapMean(const TTapLanes& Sum, std::uint32_t Taps) {
  const auto alphaSum = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(Sum.V, 0xFF)));
  const std::uint32_t a = DivideByTaps(alphaSum + Taps * 128, Taps) >> 8;
  if (a == 0) return 0;
  const float unweight = 1.0f / static_cast<float>(alphaSum);
  const __m128i channels = _mm_cvttps_epi32(
      _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(Sum.V), _mm_set1_ps(unweight)), _mm_set1_ps(0.5f)));
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(channels, channels), _mm_setzero_si128());
  return std::min<std::uint32_t>(a, 255) << 24 |
         (static_cast<TColor32>(_mm_cvtsi128_si32(bytes)) & 0x00FFFFFFu);
}

using TTapAccumulator = TTapLanes;
#else
using TTapAccumulator = TTapSum;
#endif

// The alpha of one tap, times 65536.
inline std::uint32_t AlphaTap(const TSourcePyramid::TLevel& Level, const TTapPosition& P) {
  const TColor32* r0 = Level.Bits + static_cast<std::size_t>(P.Y0) * Level.Stride;
  const TColor32* r1 = Level.Bits + static_cast<std::size_t>(P.Y1) * Level.Stride;
  const std::uint32_t gx = 256 - P.Fx;
  const std::uint32_t top = (r0[P.X0] >> 24) * gx + (r0[P.X1] >> 24) * P.Fx;
  const std::uint32_t bottom = (r1[P.X0] >> 24) * gx + (r1[P.X1] >> 24) * P.Fx;
  return top * (256 - P.Fy) + bottom * P.Fy;
}

constexpr double kInverseSpans[] = {1.0,        1.0 / 2,     1.0 / 4,     1.0 / 8,     1.0 / 16,    1.0 / 32,
                                    1.0 / 64,   1.0 / 128,   1.0 / 256,   1.0 / 512,   1.0 / 1024,  1.0 / 2048,
                                    1.0 / 4096, 1.0 / 8192,  1.0 / 16384, 1.0 / 32768, 1.0 / 65536, 1.0 / 131072};

inline TTapPosition FixedTapPosition(const TSourcePyramid::TLevel& Level, std::int32_t Fx, std::int32_t Fy) {
  TTapPosition p;
  p.X0 = Fx >> 8;
  p.Y0 = Fy >> 8;
  p.Fx = static_cast<std::uint32_t>(Fx & 255);
  p.Fy = static_cast<std::uint32_t>(Fy & 255);
  p.X1 = std::min(p.X0 + 1, Level.Width - 1);
  p.Y1 = std::min(p.Y0 + 1, Level.Height - 1);
  return p;
}

// One bilinear tap of level Level at a 24.8 fixed-point texel position (already clamped).
inline TColor32 SingleTap(const TSourcePyramid::TLevel& Level, std::int32_t Fx, std::int32_t Fy) {
  const TTapPosition p = FixedTapPosition(Level, Fx, Fy);
  const TColor32* r0 = Level.Bits + static_cast<std::size_t>(p.Y0) * Level.Stride;
  const TColor32* r1 = Level.Bits + static_cast<std::size_t>(p.Y1) * Level.Stride;
  const TColor32 c00 = r0[p.X0], c10 = r0[p.X1], c01 = r1[p.X0], c11 = r1[p.X1];
  if ((c00 & c10 & c01 & c11) >> 24 == 255) return MixOpaqueFour(c00, c10, c01, c11, p.Fx, p.Fy);
  if ((c00 | c10 | c01 | c11) >> 24 == 0) return 0;  // nothing shows: TapMean's answer too
  TTapAccumulator sum;
  AddTap(Level, p, sum);
  return TapMean(sum, 1);
}

// Where tap I of Taps lies along the footprint's longer axis, (I + 0.5) / Taps - 0.5: worked out
// here once, to the same doubles, instead of a division per tap.
constexpr double TapOffset(int I, int Taps) { return (I + 0.5) / Taps - 0.5; }
constexpr double kTapOffsets[kMaxFootprintTaps + 1][kMaxFootprintTaps] = {
    {}, {TapOffset(0, 1)}, {TapOffset(0, 2), TapOffset(1, 2)}, {TapOffset(0, 3), TapOffset(1, 3), TapOffset(2, 3)},
    {TapOffset(0, 4), TapOffset(1, 4), TapOffset(2, 4), TapOffset(3, 4)}};
static_assert(kMaxFootprintTaps == 4, "kTapOffsets lists the offsets for up to four taps");

// How much wider than a texel a footprint may be before a coarser level (or another tap) is taken.
constexpr double kLevelSlack = 1.4142135623730951;

// The sample of one mapped point (sx, sy) in source pixels, relative to the clip corner, with the
// footprint's axes a and b (destination x and y steps in the source).
TColor32 FilteredSample(const TWarpContext& c, double sx, double sy, double ax, double ay, double bx, double by) {
  const double la2 = ax * ax + ay * ay, lb2 = bx * bx + by * by;
  int level = 0;
  int taps = 1;
  double mx = 0, my = 0;  // the longer axis, in level-0 pixels
  if (c.MayShrink && std::max(la2, lb2) > 1.0) {
    const bool aLonger = la2 >= lb2;
    const double major2 = aLonger ? la2 : lb2, minor2 = aLonger ? lb2 : la2;
    mx = aLonger ? ax : bx;
    my = aLonger ? ay : by;
    // The finest level whose texel is at least the shorter axis over kLevelSlack, with taps each
    // covering at most kLevelSlack texels of the longer axis: a footprint a little wider than a
    // texel aliases less than a level's extra blur costs.
    constexpr double kSlack2 = kLevelSlack * kLevelSlack;
    constexpr double kTaps2 = static_cast<double>(kMaxFootprintTaps) * kMaxFootprintTaps;
    double span2 = kSlack2;  // squared texel width times the slack
    const int deepest = std::min<int>(c.Pyramid->LevelCount(), std::size(kInverseSpans)) - 1;
    while (level < deepest && (minor2 > span2 || major2 > kTaps2 * span2)) {
      ++level;
      span2 *= 4;
    }
    constexpr double kTapSquares[] = {0, 1, 4, 9, 16};
    while (taps < kMaxFootprintTaps && major2 > kTapSquares[taps] * span2) ++taps;
  }
  const TSourcePyramid::TLevel& lv = c.Pyramid->Level(level);
  const double inverseSpan = kInverseSpans[level];
  if (c.AlphaOnly) {
    std::uint32_t alpha = 0;
    for (int i = 0; i < taps; ++i) {
      const double t = kTapOffsets[taps][i];
      alpha += AlphaTap(lv, TapPosition(lv, sx + t * mx, sy + t * my, inverseSpan));
    }
    const auto n = static_cast<std::uint32_t>(taps);
    const std::uint32_t a = DivideByTaps(alpha + n * 32768, n) >> 16;
    return a == 0 ? 0 : a << 24 | c.Tint;
  }
  if (taps == 1) {
    const TTapPosition p = TapPosition(lv, sx, sy, inverseSpan);
    const TColor32* r0 = lv.Bits + static_cast<std::size_t>(p.Y0) * lv.Stride;
    const TColor32* r1 = lv.Bits + static_cast<std::size_t>(p.Y1) * lv.Stride;
    const TColor32 c00 = r0[p.X0], c10 = r0[p.X1], c01 = r1[p.X0], c11 = r1[p.X1];
    if ((c00 & c10 & c01 & c11) >> 24 == 255) return MixOpaqueFour(c00, c10, c01, c11, p.Fx, p.Fy);
    if ((c00 | c10 | c01 | c11) >> 24 == 0) return 0;  // nothing shows: TapMean's answer too
    TTapAccumulator sum;
    AddTap(lv, p, sum);
    return TapMean(sum, 1);
  }
  // Opaque taps (most) add up their plain channels; the sums reach the weighted ones by one
  // multiplication (exact: they stay within 32 bits) if another tap is not opaque.
  std::uint32_t opaque = 0, r = 0, g = 0, b = 0;
#if defined(__SSE2__)
  __m128i opaqueLanes = _mm_setzero_si128();  // the opaque taps' channels added up, at most 4 x 255
#endif
  TTapAccumulator sum;
  for (int i = 0; i < taps; ++i) {
    const double t = kTapOffsets[taps][i];
    const TTapPosition p = TapPosition(lv, sx + t * mx, sy + t * my, inverseSpan);
    const TColor32* r0 = lv.Bits + static_cast<std::size_t>(p.Y0) * lv.Stride;
    const TColor32* r1 = lv.Bits + static_cast<std::size_t>(p.Y1) * lv.Stride;
    const TColor32 c00 = r0[p.X0], c10 = r0[p.X1], c01 = r1[p.X0], c11 = r1[p.X1];
    if ((c00 & c10 & c01 & c11) >> 24 == 255) {
      ++opaque;
#if defined(__SSE2__)
      opaqueLanes = _mm_add_epi16(opaqueLanes, MixOpaqueFourLanes(c00, c10, c01, c11, p.Fx, p.Fy));
#else
      const TColor32 mixed = MixOpaqueFour(c00, c10, c01, c11, p.Fx, p.Fy);
      r += (mixed >> 16) & 0xFF;
      g += (mixed >> 8) & 0xFF;
      b += mixed & 0xFF;
#endif
    } else if ((c00 | c10 | c01 | c11) >> 24 != 0) {  // a clear tap adds nothing
      AddTap(lv, p, sum);
    }
  }
#if defined(__SSE2__)
  b = static_cast<std::uint32_t>(_mm_extract_epi16(opaqueLanes, 0));
  g = static_cast<std::uint32_t>(_mm_extract_epi16(opaqueLanes, 1));
  r = static_cast<std::uint32_t>(_mm_extract_epi16(opaqueLanes, 2));
#endif
  const auto n = static_cast<std::uint32_t>(taps);
  if (opaque == n) {
    const std::uint8_t* mean = kOpaqueMeans.Channel[n];
    return 0xFF000000u | TColor32(mean[r]) << 16 | TColor32(mean[g]) << 8 | mean[b];
  }
#if defined(__SSE2__)
  sum.V = _mm_add_epi32(sum.V, _mm_setr_epi32(static_cast<int>(kOpaqueTap * b), static_cast<int>(kOpaqueTap * g),
                                              static_cast<int>(kOpaqueTap * r), static_cast<int>(kOpaqueTap * opaque)));
#else
  sum.A += kOpaqueTap * opaque;
  sum.R += kOpaqueTap * r;
  sum.G += kOpaqueTap * g;
  sum.B += kOpaqueTap * b;
#endif
  return TapMean(sum, n);
}

// Whether the source pixel holding (Sx, Sy) lies in [Left, Right) x [Top, Bottom). The bounds are
// whole numbers, so comparing the point itself gives what comparing its floor would, NaNs and
// infinities included, without a floor call per pixel (SSE2 has no rounding instruction).
inline bool InsideReach(double Sx, double Sy, double Left, double Right, double Top, double Bottom) {
  return Sx >= Left && Sx < Right && Sy >= Top && Sy < Bottom;
}

void FilteredRow(const TWarpContext& c, const TRowCombiner& Combiner, TColor32* Row, std::int32_t Left,
                 std::int32_t Right, std::int32_t J) {
  const TSingleMatrix& R = c.R;
  // Pixels are areas: a destination pixel is sampled at its centre, and source pixel k spans
  // [k, k + 1), so the picture lands where the edge cut (an area coverage) expects it.
  const double y = J + 0.5;
  const double u0 = R[1][0] * y + R[2][0], v0 = R[1][1] * y + R[2][1], w0 = R[1][2] * y + R[2][2];
  constexpr std::int32_t kRun = 64;
  TColor32 colors[kRun];
  double sxs[kRun], sys[kRun], inverses[kRun];
  std::int32_t fixedX[kRun], fixedY[kRun];
  const TSourcePyramid::TLevel base = c.Enlarging ? c.Pyramid->Level(0) : TSourcePyramid::TLevel{};
  const double lastX = (base.Width - 1) * 256.0, lastY = (base.Height - 1) * 256.0;
  const double left = c.Clip.Left - c.Reach, right = c.Clip.Right + c.Reach;
  const double top = c.Clip.Top - c.Reach, bottom = c.Clip.Bottom + c.Reach;
  for (std::int32_t runStart = Left; runStart < Right; runStart += kRun) {
    const std::int32_t n = std::min(kRun, Right - runStart);
    // The run's centres mapped first, without branches, so both vector lanes work. Where w is 0 the
    // point has no image: infinities and NaNs fail the range test below.
    for (std::int32_t k = 0; k < n; ++k) {
      const double x = runStart + k + 0.5;
      const double inverse = 1.0 / (R[0][2] * x + w0);
      sxs[k] = (R[0][0] * x + u0) * inverse;
      sys[k] = (R[0][1] * x + v0) * inverse;
      inverses[k] = inverse;
    }
    if (c.Enlarging) {
      // Every pixel one tap on the picture itself: the fixed-point positions are formed on both
      // lanes too (NaNs clamp to 0; such points fail the range test anyway).
      for (std::int32_t k = 0; k < n; ++k) {
        const double fx = (sxs[k] - 0.5 - c.Clip.Left) * 256 + 0.5, fy = (sys[k] - 0.5 - c.Clip.Top) * 256 + 0.5;
        fixedX[k] = static_cast<std::int32_t>(std::min(lastX, std::max(0.0, fx)));
        fixedY[k] = static_cast<std::int32_t>(std::min(lastY, std::max(0.0, fy)));
      }
      for (std::int32_t k = 0; k < n; ++k) {
        TColor32 color = c.Outer;
        if (InsideReach(sxs[k], sys[k], left, right, top, bottom)) {
          if (c.AlphaOnly) {
            const std::uint32_t a = (AlphaTap(base, FixedTapPosition(base, fixedX[k], fixedY[k])) + 32768) >> 16;
            color = a == 0 ? 0 : a << 24 | c.Tint;
          } else {
            color = SingleTap(base, fixedX[k], fixedY[k]);
          }
        }
        colors[k] = color;
      }
      Combiner.Put(colors, Row + runStart, n);
      continue;
    }
    for (std::int32_t k = 0; k < n; ++k) {
      const double sx = sxs[k], sy = sys[k];
      if (!InsideReach(sx, sy, left, right, top, bottom)) {
        colors[k] = c.Outer;
        continue;
      }
      if (c.Uniform) {
        colors[k] = *c.Pyramid->Level(0).Bits;
        continue;
      }
      double ax = 0, ay = 0, bx = 0, by = 0;
      if (c.MayShrink) {
        const double inverse = inverses[k];
        ax = (R[0][0] - sx * R[0][2]) * inverse;
        ay = (R[0][1] - sy * R[0][2]) * inverse;
        bx = (R[1][0] - sx * R[1][2]) * inverse;
        by = (R[1][1] - sy * R[1][2]) * inverse;
      }
      colors[k] = FilteredSample(c, sx - 0.5 - c.Clip.Left, sy - 0.5 - c.Clip.Top, ax, ay, bx, by);
    }
    Combiner.Put(colors, Row + runStart, n);
  }
}

}  // namespace

TRect WarpFiltered(TBitmap32& Dst, const TBitmap32& Src, TProjectiveTransformation& Mapping, const TRect& DstClip,
                   std::int32_t EdgeReach) {
  TRect bounds = Mapping.GetTransformedBounds();
  if (EdgeReach > 0) bounds = TRect{bounds.Left - EdgeReach, bounds.Top - EdgeReach, bounds.Right + EdgeReach, bounds.Bottom + EdgeReach};
  TRect area = IntersectRect(IntersectRect(bounds, Dst.ClipRect()), DstClip);
  if (area.Right < area.Left || area.Bottom < area.Top) return TRect{};
  if (!Mapping.MatricesValid()) Mapping.UpdateMatrices();
  const TRect rows = IntersectRect(area, Dst.BoundsRect());
  const TRect clip = IntersectRect(Src.ClipRect(), Src.BoundsRect());
  if (rows.Right > rows.Left && rows.Bottom > rows.Top) {
    TWarpContext c{};
    c.R = Mapping.ReverseMatrix();
    c.Clip = clip;
    c.Outer = Src.OuterColor();
    // The deepest level any pixel of the face needs: footprints are largest at the corners.
    double deepest = 1, widest = 1;
    bool shrinks = false;
    const float corners[4][2] = {{Mapping.X0(), Mapping.Y0()},
                                 {Mapping.X1(), Mapping.Y1()},
                                 {Mapping.X2(), Mapping.Y2()},
                                 {Mapping.X3(), Mapping.Y3()}};
    for (const auto& p : corners) {
      double major = 0, minor = 0;
      if (!FootprintAxes(c.R, p[0], p[1], major, minor) || !std::isfinite(major)) continue;
      deepest = std::max({deepest, minor, major / kMaxFootprintTaps});
      shrinks = shrinks || major > 1;
      widest = std::max(widest, major);
    }
    c.Reach = EdgeReach > 0 ? std::ceil(EdgeReach * std::min(widest, 1e6)) : 0;
    const bool empty = clip.Right <= clip.Left || clip.Bottom <= clip.Top;
    // A picture of one colour (a shadow, a colour slot) looks the same however it is filtered: its
    // colour is put straight, without a pyramid.
    const TSourceTraits traits = empty ? TSourceTraits{} : SourceTraits(Src, clip);
    c.Uniform = !empty && traits.Uniform;
    c.AlphaOnly = !empty && traits.AlphaOnly;
    c.Tint = traits.Tint;
    if (c.Uniform) deepest = 1;
    // A level is taken once the footprint outgrows the one before it by the slack.
    const TSourcePyramid pyramid(Src, empty ? 1 : std::min(deepest / kLevelSlack, 1e6));
    c.Pyramid = &pyramid;
    c.MayShrink = shrinks;
    // 24.8 fixed point holds positions on pictures up to 2^23 pixels across.
    c.Enlarging = !empty && !shrinks && !c.Uniform && clip.Right - clip.Left < (1 << 23) && clip.Bottom - clip.Top < (1 << 23);
    if (empty) c.Clip = TRect{};  // nothing is inside: every pixel takes the outer colour
    const TRowCombiner combiner(Src, Src.DrawMode(), Src.OnPixelCombine, TBlendRule::Pixel);
    auto band = [&](std::int32_t from, std::int32_t to) noexcept {
      for (std::int32_t j = from; j < to; ++j) FilteredRow(c, combiner, Dst.ScanLine(j), rows.Left, rows.Right, j);
    };
    if (combiner.RowsIndependent() && &Src != &Dst)
      ParallelFor(rows.Top, rows.Bottom, 32, band);
    else
      band(rows.Top, rows.Bottom);
  }
  Dst.AreaChanged(area);
  return area;
}

}  // namespace quirlon::raster
