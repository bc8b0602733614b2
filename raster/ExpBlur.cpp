#include "raster/ExpBlur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster/Bounds.h"
#include "raster/Numeric.h"
#include "raster/Parallel.h"

namespace quirlon::raster {

namespace {

// ---- The reference: one pixel at a time.

// Running values of one filter: the four channels with 7 fraction bits (channel x 128).
struct TBlurAccumulator {
  std::uint32_t A, R, G, B;
};

inline TBlurAccumulator LoadAccumulator(TColor32 c) {
  return TBlurAccumulator{(c >> 24) << 7, ((c >> 16) & 0xFFu) << 7, ((c >> 8) & 0xFFu) << 7, (c & 0xFFu) << 7};
}

// One channel: z += (w x (c x 128 - z)) >> 16, the product in 64 bits with an arithmetic shift, so
// the step rounds towards minus infinity and z never leaves the range of the values seen.
inline std::uint32_t StepChannel(std::uint32_t z, std::uint32_t c, std::int64_t weight) {
  const std::int64_t d = static_cast<std::int64_t>(c << 7) - static_cast<std::int64_t>(z);
  return z + static_cast<std::uint32_t>((weight * d) >> 16);
}

inline TColor32 FilterStep(TColor32 p, TBlurAccumulator& z, std::int64_t weight) {
  z.A = StepChannel(z.A, p >> 24, weight);
  z.R = StepChannel(z.R, (p >> 16) & 0xFFu, weight);
  z.G = StepChannel(z.G, (p >> 8) & 0xFFu, weight);
  z.B = StepChannel(z.B, p & 0xFFu, weight);
  return ((z.A >> 7) << 24) | ((z.R >> 7) << 16) | ((z.G >> 7) << 8) | (z.B >> 7);
}

void BlurRow(TColor32* row, std::int32_t width, std::int64_t weight) {
  TBlurAccumulator z = LoadAccumulator(row[0]);
  for (std::int32_t x = 1; x < width; ++x) row[x] = FilterStep(row[x], z, weight);
  for (std::int32_t x = width - 2; x >= 0; --x) row[x] = FilterStep(row[x], z, weight);
}

// Every column has its own accumulators; walking the rows with one accumulator per column gives
// each column exactly the sequence of steps of a column-by-column walk, but reads memory in order.
void BlurColumns(TBitmap32& bitmap, std::int64_t weight) {
  const std::int32_t width = bitmap.Width();
  const std::int32_t height = bitmap.Height();
  std::vector<TBlurAccumulator> z(static_cast<std::size_t>(width));
  const TColor32* top = bitmap.ScanLine(0);
  for (std::int32_t x = 0; x < width; ++x) z[x] = LoadAccumulator(top[x]);
  for (std::int32_t y = 1; y < height; ++y) {
    TColor32* row = bitmap.ScanLine(y);
    for (std::int32_t x = 0; x < width; ++x) row[x] = FilterStep(row[x], z[x], weight);
  }
  for (std::int32_t y = height - 2; y >= 0; --y) {
    TColor32* row = bitmap.ScanLine(y);
    for (std::int32_t x = 0; x < width; ++x) row[x] = FilterStep(row[x], z[x], weight);
  }
}

// ---- The fast path: the same steps in 32-bit lanes. |w x d| < 65536 x 32641 < 2^31, and a right
// shift of a negative int rounds towards minus infinity, so every step equals StepChannel's.

using TLanes = std::int32_t __attribute__((vector_size(16)));
using TPixelBytes = std::uint8_t __attribute__((vector_size(4)));

inline TLanes Expand(TColor32 p) {
  TPixelBytes b;
  std::memcpy(&b, &p, 4);
  return __builtin_convertvector(b, TLanes);
}

inline TColor32 Pack(TLanes z) {
  const TPixelBytes b = __builtin_convertvector(z >> 7, TPixelBytes);
  TColor32 p;
  std::memcpy(&p, &b, 4);
  return p;
}

inline TLanes Step(TLanes z, TColor32 p, std::int32_t weight) { return z + ((weight * ((Expand(p) << 7) - z)) >> 16); }

// N rows at once over [xa, xb): N independent chains keep the multiplier busy.
template <int N>
void BlurRowBlock(TColor32* const* rows, std::int32_t xa, std::int32_t xb, std::int32_t weight) {
  TLanes z[N];
  for (int r = 0; r < N; ++r) z[r] = Expand(rows[r][xa]) << 7;
  for (std::int32_t x = xa + 1; x < xb; ++x)
    for (int r = 0; r < N; ++r) {
      z[r] = Step(z[r], rows[r][x], weight);
      rows[r][x] = Pack(z[r]);
    }
  for (std::int32_t x = xb - 2; x >= xa; --x)
    for (int r = 0; r < N; ++r) {
      z[r] = Step(z[r], rows[r][x], weight);
      rows[r][x] = Pack(z[r]);
    }
}

#if defined(__SSE2__)
// Eight rows at once in 16-bit lanes (two rows' pixels per register), for weights below 32768:
// the step's (w x d) >> 16 is the high half of a 16 x 16-bit product.
inline __m128i Step16(__m128i z, __m128i c, __m128i weight) {
  const __m128i d = _mm_sub_epi16(_mm_slli_epi16(c, 7), z);
  return _mm_add_epi16(z, _mm_mulhi_epi16(d, weight));
}

inline __m128i LoadPair(const TColor32* a, const TColor32* b, std::int32_t x) {
  return _mm_unpacklo_epi8(_mm_set_epi32(0, 0, static_cast<int>(b[x]), static_cast<int>(a[x])), _mm_setzero_si128());
}

inline void StorePair(TColor32* a, TColor32* b, std::int32_t x, __m128i z) {
  const __m128i bytes = _mm_packus_epi16(_mm_srai_epi16(z, 7), _mm_setzero_si128());
  a[x] = static_cast<TColor32>(_mm_cvtsi128_si32(bytes));
  b[x] = static_cast<TColor32>(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 4)));
}

void BlurEightRows16(TColor32* const* rows, std::int32_t xa, std::int32_t xb, std::int16_t weight) {
  const __m128i w = _mm_set1_epi16(weight);
  __m128i z[4];
  for (int k = 0; k < 4; ++k) z[k] = _mm_slli_epi16(LoadPair(rows[2 * k], rows[2 * k + 1], xa), 7);
  for (std::int32_t x = xa + 1; x < xb; ++x)
    for (int k = 0; k < 4; ++k) {
      z[k] = Step16(z[k], LoadPair(rows[2 * k], rows[2 * k + 1], x), w);
      StorePair(rows[2 * k], rows[2 * k + 1], x, z[k]);
    }
  for (std::int32_t x = xb - 2; x >= xa; --x)
    for (int k = 0; k < 4; ++k) {
      z[k] = Step16(z[k], LoadPair(rows[2 * k], rows[2 * k + 1], x), w);
      StorePair(rows[2 * k], rows[2 * k + 1], x, z[k]);
    }
}
#endif

void BlurRows(TBitmap32& bitmap, std::int32_t y0, std::int32_t y1, std::int32_t xa, std::int32_t xb,
              std::int32_t weight) {
  std::int32_t y = y0;
#if defined(__SSE2__)
  if (weight < 32768) {
    TColor32* eight[8];
    for (; y + 8 <= y1; y += 8) {
      for (int r = 0; r < 8; ++r) eight[r] = bitmap.ScanLine(y + r);
      BlurEightRows16(eight, xa, xb, static_cast<std::int16_t>(weight));
    }
  }
#endif
  constexpr int kBlock = 4;
  TColor32* rows[kBlock];
  for (; y + kBlock <= y1; y += kBlock) {
    for (int r = 0; r < kBlock; ++r) rows[r] = bitmap.ScanLine(y + r);
    BlurRowBlock<kBlock>(rows, xa, xb, weight);
  }
  for (; y < y1; ++y) {
    rows[0] = bitmap.ScanLine(y);
    BlurRowBlock<1>(rows, xa, xb, weight);
  }
}

// One row of column filters: every byte is one channel of one column with its own accumulator.
void StepColumnBytes(std::uint8_t* p, std::int32_t* z, std::size_t n, std::int32_t weight) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::int32_t next = z[i] + ((weight * ((static_cast<std::int32_t>(p[i]) << 7) - z[i])) >> 16);
    z[i] = next;
    p[i] = static_cast<std::uint8_t>(next >> 7);
  }
}

// The same step in 16-bit lanes, for weights below 32768 (radius 3 and up): z and d fit in 16 bits
// and (w x d) >> 16 is the high half of a 16 x 16-bit product, so twice the lanes fit a register.
void StepColumnBytes16(std::uint8_t* p, std::int16_t* z, std::size_t n, std::int16_t weight) {
  for (std::size_t i = 0; i < n; ++i) {
    const std::int16_t d = static_cast<std::int16_t>((static_cast<std::int16_t>(p[i]) << 7) - z[i]);
    const std::int16_t next = static_cast<std::int16_t>(z[i] + static_cast<std::int16_t>((weight * d) >> 16));
    z[i] = next;
    p[i] = static_cast<std::uint8_t>(next >> 7);
  }
}

// z holds at least (xb - xa) x 4 lanes of scratch.
template <class TLane, class TStep>
void BlurColumnRangeWith(TBitmap32& bitmap, std::int32_t ya, std::int32_t yb, std::int32_t xa, std::int32_t xb,
                         TLane weight, TStep step, TLane* z) {
  const std::size_t n = static_cast<std::size_t>(xb - xa) * 4;
  auto bytes = [&](std::int32_t y) { return reinterpret_cast<std::uint8_t*>(bitmap.ScanLine(y) + xa); };
  const std::uint8_t* top = bytes(ya);
  for (std::size_t i = 0; i < n; ++i) z[i] = static_cast<TLane>(top[i] << 7);
  for (std::int32_t y = ya + 1; y < yb; ++y) step(bytes(y), z, n, weight);
  for (std::int32_t y = yb - 2; y >= ya; --y) step(bytes(y), z, n, weight);
}

// Scratch holds at least (xb - xa) x 4 lanes of 32 bits.
void BlurColumnRange(TBitmap32& bitmap, std::int32_t ya, std::int32_t yb, std::int32_t xa, std::int32_t xb,
                     std::int32_t weight, std::int32_t* scratch) {
  if (weight < 32768)
    BlurColumnRangeWith<std::int16_t>(bitmap, ya, yb, xa, xb, static_cast<std::int16_t>(weight), StepColumnBytes16,
                                      reinterpret_cast<std::int16_t*>(scratch));
  else
    BlurColumnRangeWith<std::int32_t>(bitmap, ya, yb, xa, xb, weight, StepColumnBytes, scratch);
}

}  // namespace

std::int32_t ExpBlurWeight(std::int32_t Radius) {
  const Extended r = static_cast<Extended>(Radius) + 1.0L;
  return Round(65536.0L * (1.0L - std::exp(-2.3L / r)));
}

std::int32_t ExpBlurReach(std::int32_t Radius) {
  const std::int64_t weight = ExpBlurWeight(Radius);
  // The step is monotone in z, so the largest value takes longest.
  std::int64_t z = 255 << 7;
  std::int32_t steps = 0;
  while (z > 0) {
    z += (weight * -z) >> 16;
    ++steps;
  }
  return steps;
}

void ExpBlur(TBitmap32& Bitmap, std::int32_t Radius) { ExpBlur(Bitmap, Radius, Bitmap.BoundsRect()); }

TRect ExpBlur(TBitmap32& Bitmap, std::int32_t Radius, const TRect& Content) {
  const TRect within = IntersectRect(Content, Bitmap.BoundsRect());
  if (Radius <= 0 || Bitmap.Width() <= 0 || Bitmap.Height() <= 0 || Bitmap.Bits() == nullptr) return within;
  const TRect content = NonzeroBounds(Bitmap, within);
  if (content.Right <= content.Left) return TRect{};  // all zero: the filter keeps it so
  const std::int32_t weight = ExpBlurWeight(Radius);
  const std::int32_t reach = ExpBlurReach(Radius);
  // Outside [content grown by reach] every accumulator is exactly 0 before and after, as it is in
  // the whole-bitmap walk, so starting and stopping there changes nothing.
  const std::int32_t xa = std::max(0, content.Left - reach), xb = std::min(Bitmap.Width(), content.Right + reach);
  const std::int32_t ya = std::max(0, content.Top - reach), yb = std::min(Bitmap.Height(), content.Bottom + reach);
  ParallelFor(content.Top, content.Bottom, 16,
              [&](std::int32_t from, std::int32_t to) noexcept { BlurRows(Bitmap, from, to, xa, xb, weight); });
  // Column ranges split on 16-pixel boundaries, so the threads never share a cache line.
  const std::int32_t groups = (xb - xa + 15) / 16;
  std::vector<std::int32_t> scratch(static_cast<std::size_t>(kMaxWorkers) * (xb - xa) * 4);
  ParallelFor(0, groups, 4, [&](std::int32_t from, std::int32_t to, std::int32_t worker) noexcept {
    BlurColumnRange(Bitmap, ya, yb, xa + from * 16, std::min(xb, xa + to * 16), weight,
                    scratch.data() + static_cast<std::size_t>(worker) * (xb - xa) * 4);
  });
  // The blur reports no change; a promise about its zeros grows with it.
  if (Bitmap.ZeroOutsidePromised()) Bitmap.PromiseZeroOutside(UnionRect(Bitmap.ZeroOutside(), TRect{xa, ya, xb, yb}));
  return TRect{xa, ya, xb, yb};
}

void ExpBlurReference(TBitmap32& Bitmap, std::int32_t Radius) {
  if (Radius <= 0 || Bitmap.Width() <= 0 || Bitmap.Height() <= 0 || Bitmap.Bits() == nullptr) return;
  const std::int64_t weight = ExpBlurWeight(Radius);
  for (std::int32_t y = 0; y < Bitmap.Height(); ++y) BlurRow(Bitmap.ScanLine(y), Bitmap.Width(), weight);
  BlurColumns(Bitmap, weight);
}

}  // namespace quirlon::raster
