#include "raster/Transform.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <typeinfo>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "raster/Blend.h"
#include "raster/Errors.h"
#include "raster/Numeric.h"
#include "raster/Parallel.h"

namespace quirlon::raster {

namespace {

using E = Extended;

// A 16.16 value as a float: times 2^-16, stored as float (exact for every int32 that fits 24 bits).
float FixedToSingle(TFixed16 v) { return StoreSingle(static_cast<E>(v) * (1.0L / 65536.0L)); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Matrices

TSingleMatrix MultiplyMatrix(const TSingleMatrix& A, const TSingleMatrix& B) {
  TSingleMatrix C{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      C[i][j] = StoreSingle(static_cast<E>(A[0][j]) * B[i][0] + static_cast<E>(A[1][j]) * B[i][1] +
                            static_cast<E>(A[2][j]) * B[i][2]);
  return C;
}

void InvertMatrix(TSingleMatrix& M) {
  const auto& a = M;
  const float det =
      StoreSingle(static_cast<E>(a[0][0]) * (static_cast<E>(a[1][1]) * a[2][2] - static_cast<E>(a[2][1]) * a[1][2]) -
                  static_cast<E>(a[0][1]) * (static_cast<E>(a[1][0]) * a[2][2] - static_cast<E>(a[2][0]) * a[1][2]) +
                  static_cast<E>(a[0][2]) * (static_cast<E>(a[1][0]) * a[2][1] - static_cast<E>(a[2][0]) * a[1][1]));
  if (std::fabs(static_cast<E>(det)) < 0.00001L) {
    M = kIdentityMatrix;
    return;
  }
  // Each 2x2 minor is stored as a float before it is negated.
  const auto minor = [](float p, float q, float r, float s) {
    return StoreSingle(static_cast<E>(p) * q - static_cast<E>(r) * s);
  };
  TSingleMatrix adj;
  adj[0][0] = minor(a[1][1], a[2][2], a[1][2], a[2][1]);
  adj[0][1] = -minor(a[0][1], a[2][2], a[0][2], a[2][1]);
  adj[0][2] = minor(a[0][1], a[1][2], a[0][2], a[1][1]);
  adj[1][0] = -minor(a[1][0], a[2][2], a[1][2], a[2][0]);
  adj[1][1] = minor(a[0][0], a[2][2], a[0][2], a[2][0]);
  adj[1][2] = -minor(a[0][0], a[1][2], a[0][2], a[1][0]);
  adj[2][0] = minor(a[1][0], a[2][1], a[1][1], a[2][0]);
  adj[2][1] = -minor(a[0][0], a[2][1], a[0][1], a[2][0]);
  adj[2][2] = minor(a[0][0], a[1][1], a[0][1], a[1][0]);
  const float s = StoreSingle(1.0L / static_cast<E>(det));
  for (auto& row : adj)
    for (auto& e : row) e = StoreSingle(static_cast<E>(e) * s);
  M = adj;
}

// ---------------------------------------------------------------------------------------------
// TTransformation

void TTransformation::SetSourceRect(const TSingleRect& Value) {
  fSrcRect = Value;
  Changed();
}

void TTransformation::Changed() {
  fMatricesValid = false;
  TNotifiablePersistent::Changed();
}

bool TTransformation::MapToSourceInt(std::int32_t DstX, std::int32_t DstY, std::int32_t& SrcX, std::int32_t& SrcY) {
  TFixed16 fx, fy;
  if (!MapToSourceFixed(FixedFromInt(DstX), FixedFromInt(DstY), fx, fy)) return false;
  SrcX = FixedRoundHalfDown(fx);
  SrcY = FixedRoundHalfDown(fy);
  return true;
}

bool TTransformation::MapToSourceFixed(TFixed16 DstX, TFixed16 DstY, TFixed16& SrcX, TFixed16& SrcY) {
  float x, y;
  if (!MapToSource(FixedToSingle(DstX), FixedToSingle(DstY), x, y)) return false;
  SrcX = ToFixed(x);
  SrcY = ToFixed(y);
  return true;
}

bool TTransformation::MapToSource(float, float, float&, float&) {
  throw ETransformNotImplemented(Format("Reverse transformation is not implemented in %s.", ClassName().c_str()));
}

bool TTransformation::MapToDestInt(std::int32_t SrcX, std::int32_t SrcY, std::int32_t& DstX, std::int32_t& DstY) {
  TFixed16 fx, fy;
  if (!MapToDestFixed(FixedFromInt(SrcX), FixedFromInt(SrcY), fx, fy)) return false;
  DstX = FixedRoundHalfDown(fx);
  DstY = FixedRoundHalfDown(fy);
  return true;
}

bool TTransformation::MapToDestFixed(TFixed16 SrcX, TFixed16 SrcY, TFixed16& DstX, TFixed16& DstY) {
  float x, y;
  if (!MapToDest(FixedToSingle(SrcX), FixedToSingle(SrcY), x, y)) return false;
  DstX = ToFixed(x);
  DstY = ToFixed(y);
  return true;
}

bool TTransformation::MapToDest(float, float, float&, float&) {
  throw ETransformNotImplemented(Format("Forward transformation is not implemented in %s.", ClassName().c_str()));
}

TRect TTransformation::MappedBounds(const TSingleRect& ARect) { return ToRect(ARect); }

TPoint TTransformation::MapToSource(const TPoint& P) {
  if (!fMatricesValid) UpdateMatrices();
  TPoint r;
  MapToSourceInt(P.X, P.Y, r.X, r.Y);
  return r;
}

TFixedPoint TTransformation::MapToSource(const TFixedPoint& P) {
  if (!fMatricesValid) UpdateMatrices();
  TFixedPoint r;
  MapToSourceFixed(P.X, P.Y, r.X, r.Y);
  return r;
}

TSinglePoint TTransformation::MapToSource(const TSinglePoint& P) {
  if (!fMatricesValid) UpdateMatrices();
  TSinglePoint r;
  MapToSource(P.X, P.Y, r.X, r.Y);
  return r;
}

TPoint TTransformation::MapToDest(const TPoint& P) {
  if (!fMatricesValid) UpdateMatrices();
  TPoint r;
  MapToDestInt(P.X, P.Y, r.X, r.Y);
  return r;
}

TFixedPoint TTransformation::MapToDest(const TFixedPoint& P) {
  if (!fMatricesValid) UpdateMatrices();
  TFixedPoint r;
  MapToDestFixed(P.X, P.Y, r.X, r.Y);
  return r;
}

TSinglePoint TTransformation::MapToDest(const TSinglePoint& P) {
  if (!fMatricesValid) UpdateMatrices();
  TSinglePoint r;
  MapToDest(P.X, P.Y, r.X, r.Y);
  return r;
}

// ---------------------------------------------------------------------------------------------
// TProjectiveTransformation

void TProjectiveTransformation::UpdateMatrices() {
  const E x0 = fX0, y0 = fY0, x1 = fX1, y1 = fY1, x2 = fX2, y2 = fY2, x3 = fX3, y3 = fY3;
  TSingleMatrix& m = fForwardMatrix;

  const float px = StoreSingle(x0 - x1 + x2 - x3);
  const float py = StoreSingle(y0 - y1 + y2 - y3);
  if (px == 0 && py == 0) {
    // A parallelogram: the mapping is affine and w stays exactly 1.
    m[0][0] = StoreSingle(x1 - x0);
    m[1][0] = StoreSingle(x2 - x1);
    m[2][0] = fX0;
    m[0][1] = StoreSingle(y1 - y0);
    m[1][1] = StoreSingle(y2 - y1);
    m[2][1] = fY0;
    m[0][2] = 0;
    m[1][2] = 0;
    m[2][2] = 1;
  } else {
    const float dx1 = StoreSingle(x1 - x2);
    const float dx2 = StoreSingle(x3 - x2);
    const float dy1 = StoreSingle(y1 - y2);
    const float dy2 = StoreSingle(y3 - y2);
    const float k = StoreSingle(static_cast<E>(dx1) * dy2 - static_cast<E>(dx2) * dy1);
    if (k == 0) {
      m = TSingleMatrix{};  // degenerate: the inversion falls back to the identity
    } else {
      const float g = StoreSingle(Divide(static_cast<E>(px) * dy2 - static_cast<E>(py) * dx2, k));
      const float h = StoreSingle(Divide(static_cast<E>(dx1) * py - static_cast<E>(dy1) * px, k));
      m[0][0] = StoreSingle(x1 - x0 + static_cast<E>(g) * fX1);
      m[1][0] = StoreSingle(x3 - x0 + static_cast<E>(h) * fX3);
      m[2][0] = fX0;
      m[0][1] = StoreSingle(y1 - y0 + static_cast<E>(g) * fY1);
      m[1][1] = StoreSingle(y3 - y0 + static_cast<E>(h) * fY3);
      m[2][1] = fY0;
      m[0][2] = g;
      m[1][2] = h;
      m[2][2] = 1;
    }
  }

  // Source rectangle -> unit square, then source origin -> rectangle origin.
  TSingleMatrix s = kIdentityMatrix;
  s[0][0] = StoreSingle(Divide(1.0L, static_cast<E>(fSrcRect.Right) - fSrcRect.Left));
  s[1][1] = StoreSingle(Divide(1.0L, static_cast<E>(fSrcRect.Bottom) - fSrcRect.Top));
  m = MultiplyMatrix(m, s);
  TSingleMatrix t = kIdentityMatrix;
  t[2][0] = -fSrcRect.Left;
  t[2][1] = -fSrcRect.Top;
  m = MultiplyMatrix(m, t);

  fReverseMatrix = m;
  InvertMatrix(fReverseMatrix);

  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      fReverseFixed[i][j] = ToFixed(fReverseMatrix[i][j]);
      fForwardFixed[i][j] = ToFixed(fForwardMatrix[i][j]);
    }
  fMatricesValid = true;
}

bool TProjectiveTransformation::MapFloat(const TSingleMatrix& M, float X, float Y, float& OutX, float& OutY) {
  float w = StoreSingle(static_cast<E>(M[0][2]) * X + static_cast<E>(M[1][2]) * Y + M[2][2]);
  if (w == 0) return false;
  const E sx = static_cast<E>(M[0][0]) * X + static_cast<E>(M[1][0]) * Y + M[2][0];
  const E sy = static_cast<E>(M[0][1]) * X + static_cast<E>(M[1][1]) * Y + M[2][1];
  if (w == 1) {
    OutX = StoreSingle(sx);
    OutY = StoreSingle(sy);
  } else {
    w = StoreSingle(1.0L / static_cast<E>(w));
    OutX = StoreSingle(sx * w);
    OutY = StoreSingle(sy * w);
  }
  return true;
}

std::int32_t TProjectiveTransformation::MulRoundSingle(std::int32_t v, float q) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(q);
  const int exponent = static_cast<int>((bits >> 23) & 0xFF);
  std::int64_t mant = bits & 0x7FFFFF;
  if (exponent != 0) mant |= 0x800000;
  if (bits >> 31) mant = -mant;
  // q = mant x 2^-shift
  const int shift = (exponent != 0 ? 150 : 149) - exponent;
  const std::int64_t p = static_cast<std::int64_t>(v) * mant;  // |p| < 2^55
  if (shift <= 0)
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(p) << -shift));
  if (shift > 57) return 0;  // |v x q| < 1/4
  std::int64_t r = p >> shift;  // floor
  const std::uint64_t rem = static_cast<std::uint64_t>(p - static_cast<std::int64_t>(static_cast<std::uint64_t>(r) << shift));
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  if (rem > half || (rem == half && (r & 1))) ++r;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(r)));
}

TRect TProjectiveTransformation::MappedBounds(const TSingleRect&) {
  const float minX = std::min({fX0, fX1, fX2, fX3});
  const float maxX = std::max({fX0, fX1, fX2, fX3});
  const float minY = std::min({fY0, fY1, fY2, fY3});
  const float maxY = std::max({fY0, fY1, fY2, fY3});
  return TRect{Round(static_cast<E>(minX) - 0.5L), Round(static_cast<E>(minY) - 0.5L), Round(static_cast<E>(maxX) + 0.5L),
               Round(static_cast<E>(maxY) + 0.5L)};
}

// ---------------------------------------------------------------------------------------------
// Entry points

namespace {

// Qualified calls: no virtual dispatch once the exact class is known.
template <class S>
TSamplerEntries DirectSamplerEntries() {
  return TSamplerEntries{
      [](TCustomSampler& s, std::int32_t x, std::int32_t y) { return static_cast<S&>(s).S::SampleInt(x, y); },
      [](TCustomSampler& s, TFixed16 x, TFixed16 y) { return static_cast<S&>(s).S::SampleFixed(x, y); },
      [](TCustomSampler& s, float x, float y) { return static_cast<S&>(s).S::SampleFloat(x, y); }};
}

}  // namespace

TSamplerEntries ResolveSamplerEntries(const TCustomSampler& Sampler) {
  const std::type_info& type = typeid(Sampler);
  if (type == typeid(TNearestResampler)) return DirectSamplerEntries<TNearestResampler>();
  if (type == typeid(TNearestTransformer)) return DirectSamplerEntries<TNearestTransformer>();
  if (type == typeid(TTransformer)) return DirectSamplerEntries<TTransformer>();
  // Any other class: through its virtual table.
  return TSamplerEntries{
      [](TCustomSampler& s, std::int32_t x, std::int32_t y) { return s.SampleInt(x, y); },
      [](TCustomSampler& s, TFixed16 x, TFixed16 y) { return s.SampleFixed(x, y); },
      [](TCustomSampler& s, float x, float y) { return s.SampleFloat(x, y); }};
}

TReverseMapEntries ResolveReverseMapEntries(const TTransformation& Transformation) {
  if (typeid(Transformation) == typeid(TProjectiveTransformation)) {
    // The integer form is the base one over MapToSourceFixed, written out.
    return TReverseMapEntries{
        [](TTransformation& t, std::int32_t x, std::int32_t y, std::int32_t& sx, std::int32_t& sy) {
          TFixed16 fx, fy;
          if (!TProjectiveTransformation::MapFixed(static_cast<TProjectiveTransformation&>(t).ReverseFixed(),
                                                   FixedFromInt(x), FixedFromInt(y), fx, fy))
            return false;
          sx = FixedRoundHalfDown(fx);
          sy = FixedRoundHalfDown(fy);
          return true;
        },
        [](TTransformation& t, TFixed16 x, TFixed16 y, TFixed16& sx, TFixed16& sy) {
          return TProjectiveTransformation::MapFixed(static_cast<TProjectiveTransformation&>(t).ReverseFixed(), x, y,
                                                     sx, sy);
        },
        [](TTransformation& t, float x, float y, float& sx, float& sy) {
          return TProjectiveTransformation::MapFloat(static_cast<TProjectiveTransformation&>(t).ReverseMatrix(), x, y,
                                                     sx, sy);
        }};
  }
  return TReverseMapEntries{
      [](TTransformation& t, std::int32_t x, std::int32_t y, std::int32_t& sx, std::int32_t& sy) {
        return t.MapToSourceInt(x, y, sx, sy);
      },
      [](TTransformation& t, TFixed16 x, TFixed16 y, TFixed16& sx, TFixed16& sy) {
        return t.MapToSourceFixed(x, y, sx, sy);
      },
      [](TTransformation& t, float x, float y, float& sx, float& sy) { return t.MapToSource(x, y, sx, sy); }};
}

// ---------------------------------------------------------------------------------------------
// Nested samplers and transformers

void TNestedSampler::SetSampler(TCustomSampler* Value) {
  fSampler = Value;
  fEntries = Value ? ResolveSamplerEntries(*Value) : TSamplerEntries{};
}

TCustomSampler& TNestedSampler::Nested() const {
  if (!fSampler) throw ENestedException("Nested sampler is nil");
  return *fSampler;
}

void TNestedSampler::BeginSampling() { Nested().BeginSampling(); }
void TNestedSampler::EndSampling() { Nested().EndSampling(); }
bool TNestedSampler::HasSampleBounds() const { return Nested().HasSampleBounds(); }
TRect TNestedSampler::SampleBounds() const { return Nested().SampleBounds(); }

TTransformer::TTransformer(TCustomSampler& ASampler, TTransformation& ATransformation) {
  SetTransformation(ATransformation);
  SetSampler(&ASampler);
}

void TTransformer::SetTransformation(TTransformation& Value) {
  fTransformation = &Value;
  fMap = ResolveReverseMapEntries(Value);
}

TColor32 TTransformer::SampleInt(std::int32_t X, std::int32_t Y) {
  TFixed16 u, v;
  if (!fMap.MapFixed(*fTransformation, FixedFromInt(X), FixedFromInt(Y), u, v)) return fOuterColor;
  return fEntries.SampleFixed(*fSampler, u, v);
}

TColor32 TTransformer::SampleFixed(TFixed16 X, TFixed16 Y) {
  TFixed16 u, v;
  if (!fMap.MapFixed(*fTransformation, X, Y, u, v)) return fOuterColor;
  return fEntries.SampleFixed(*fSampler, u, v);
}

TColor32 TTransformer::SampleFloat(float X, float Y) {
  float u, v;
  if (!fMap.MapFloat(*fTransformation, X, Y, u, v)) return fOuterColor;
  return fEntries.SampleFloat(*fSampler, u, v);
}

void TTransformer::BeginSampling() {
  TCustomSampler& nested = Nested();
  nested.BeginSampling();
  const auto* bound = dynamic_cast<const TBitmap32Resampler*>(&nested);
  fOuterColor = bound ? bound->Bitmap().OuterColor() : 0;
  if (!fTransformation->MatricesValid()) fTransformation->UpdateMatrices();
}

bool TTransformer::HasSampleBounds() const { return fTransformation->BoundsKnown() && Nested().HasSampleBounds(); }

TRect TTransformer::SampleBounds() const {
  return fTransformation->MappedBounds(ToSingleRect(Nested().SampleBounds()));
}

TColor32 TNearestTransformer::SampleInt(std::int32_t X, std::int32_t Y) {
  std::int32_t u, v;
  if (!fMap.MapInt(*fTransformation, X, Y, u, v)) return fOuterColor;
  return fEntries.SampleInt(*fSampler, u, v);
}

TColor32 TNearestTransformer::SampleFixed(TFixed16 X, TFixed16 Y) {
  TFixed16 u, v;
  if (!fMap.MapFixed(*fTransformation, X, Y, u, v)) return fOuterColor;
  return fEntries.SampleInt(*fSampler, u >> 16, v >> 16);
}

TColor32 TNearestTransformer::SampleFloat(float X, float Y) {
  float u, v;
  if (!fMap.MapFloat(*fTransformation, X, Y, u, v)) return fOuterColor;
  return fEntries.SampleInt(*fSampler, Round(u), Round(v));
}

std::unique_ptr<TTransformer> CreateTransformer(TCustomSampler& Sampler, TTransformation& Transformation) {
  const auto* bound = dynamic_cast<const TBitmap32Resampler*>(&Sampler);
  if (bound && bound->TransformerType() == ttNearestTransformer)
    return std::make_unique<TNearestTransformer>(Sampler, Transformation);
  return std::make_unique<TTransformer>(Sampler, Transformation);
}

// ---------------------------------------------------------------------------------------------
// Rasterizers

namespace {

void CombineOpaque(TRasterizer&, TColor32& P, TColor32 C) { P = C; }

void CombineBlend(TRasterizer& r, TColor32& P, TColor32 C) { r.BlendPixelEntry()(C, P, r.CombineParams().MasterAlpha); }

void CombineTransparent(TRasterizer& r, TColor32& P, TColor32 C) {
  if (C != r.CombineParams().TransparentColor) P = C;
}

void CombineCustom(TRasterizer& r, TColor32& P, TColor32 C) {
  const TCombineParams& p = r.CombineParams();
  p.CombineCallback(C, P, p.MasterAlpha);
}


}  // namespace

TRasterizer::TRasterizer() { ChooseCombine(); }

void TRasterizer::SetSampler(TCustomSampler* Value) {
  if (Value == fSampler) return;
  fSampler = Value;
  fSamplerEntries = Value ? ResolveSamplerEntries(*Value) : TSamplerEntries{};
  Changed();
}

void TRasterizer::Assign(const TBitmap32& Src) {
  fParams.MasterAlpha = Src.MasterAlpha();
  fParams.DrawMode = Src.DrawMode();
  fParams.CombineMode = Src.CombineMode();
  fParams.CombineCallback = Src.OnPixelCombine;
  fParams.TransparentColor = Src.OuterColor();
  if (fParams.DrawMode == dmCustom && !fParams.CombineCallback) fParams.DrawMode = dmOpaque;
  ChooseCombine();
}

void TRasterizer::ChooseCombine() {
  switch (fParams.DrawMode) {
    case dmBlend:
      fBlendPixel = BlendPixelProc(fParams.CombineMode);
      fCombine = &CombineBlend;
      break;
    case dmCustom:
      fCombine = fParams.CombineCallback ? &CombineCustom : &CombineOpaque;
      break;
    case dmTransparent:
      fCombine = &CombineTransparent;
      break;
    default:
      fCombine = &CombineOpaque;
      break;
  }
}

void TRasterizer::Render(TBitmap32& Dst, const TRect& DstRect, const TBitmap32& Src) {
  Assign(Src);
  if (!fSampler) return;
  const int updateCount = Dst.UpdateCount();
  fSampler->BeginSampling();
  try {
    // Never beyond the destination's pixels, whatever the sampler's bounds say.
    TRect area = IntersectRect(DstRect, Dst.BoundsRect());
    if (fSampler->HasSampleBounds()) area = IntersectRect(area, fSampler->SampleBounds());
    RenderRows(Dst, area);
  } catch (...) {
    while (Dst.UpdateCount() > updateCount) Dst.EndUpdate();
    fSampler->EndSampling();
    throw;
  }
  while (Dst.UpdateCount() > updateCount) Dst.EndUpdate();
  fSampler->EndSampling();
}

namespace {

// Sampling only reads when it is a nearest transformer of a projective mapping over a nearest
// resampler, and the source is not the destination.
bool SamplingOnlyReads(TCustomSampler& Sampler, const TBitmap32& Dst) {
  if (typeid(Sampler) != typeid(TNearestTransformer)) return false;
  const auto& transformer = static_cast<const TNearestTransformer&>(Sampler);
  if (typeid(transformer.Transformation()) != typeid(TProjectiveTransformation)) return false;
  const TCustomSampler* nested = transformer.Sampler();
  if (nested == nullptr || typeid(*nested) != typeid(TNearestResampler)) return false;
  return &static_cast<const TNearestResampler*>(nested)->Bitmap() != &Dst;
}

}  // namespace

namespace {

using TCombineProc = void (*)(TRasterizer&, TColor32&, TColor32);

// One row of a nearest projective warp over a pamSafe nearest resampler: the same pixels as
// MapFixed, PointSample and the combine per pixel. Along a row only X changes, and the products
// FixedMultiply(R[k][n], FixedFromInt(i)) are exactly R[k][n] x i (mod 2^32), so the three sums
// are stepped by R[0][n] instead of being formed anew.
// The mapped 16.16 source point of one pixel: MapFixed's steps for sums already formed. False where
// the point is at infinity (z = 0).
inline bool MapSums(std::uint32_t z, std::uint32_t u, std::uint32_t v, TFixed16& sx, TFixed16& sy) {
  const auto zf = static_cast<TFixed16>(z);
  if (zf == 0) return false;
  sx = static_cast<TFixed16>(u);
  sy = static_cast<TFixed16>(v);
  if (zf != kFixedOne) {
    const float q = TProjectiveTransformation::UnitOver(zf);
    sx = TProjectiveTransformation::MulRoundSingle(sx, q);
    sy = TProjectiveTransformation::MulRoundSingle(sy, q);
  }
  return true;
}

#if defined(__SSE2__)
// MapSums for two pixels in double lanes, where that is exact: 65536 / z is divided as UnitOver
// divides it (and the rare quotient that lies half-way between two floats is left to MapSums); a
// sum below 2^29 in magnitude times a float is exact in double, and adding 1.5 x 2^52 rounds it
// half to even and leaves the result modulo 2^32 in the low half of the lane. False when either
// pixel needs the scalar steps.
inline bool MapSumsTwo(const std::uint32_t* z, const std::uint32_t* u, const std::uint32_t* v, TFixed16* sx,
                       TFixed16* sy) {
  constexpr std::uint32_t kLimit = 1u << 29;
  for (int k = 0; k < 2; ++k)
    if (z[k] == 0 || u[k] + kLimit >= 2 * kLimit || v[k] + kLimit >= 2 * kLimit) return false;
  const __m128d zd = _mm_cvtepi32_pd(_mm_setr_epi32(static_cast<int>(z[0]), static_cast<int>(z[1]), 0, 0));
  const __m128d qd = _mm_div_pd(_mm_set1_pd(65536.0), zd);
  const __m128i bits = _mm_and_si128(_mm_castpd_si128(qd), _mm_set1_epi64x(0x1FFFFFFF));
  const __m128i halfway = _mm_cmpeq_epi32(bits, _mm_set1_epi64x(0x10000000));
  if ((_mm_movemask_epi8(halfway) & 0x0F0F) != 0) return false;  // the low halves hold the pattern
  const __m128d q = _mm_cvtps_pd(_mm_cvtpd_ps(qd));
  const __m128d magic = _mm_set1_pd(6755399441055744.0);  // 1.5 x 2^52
  const __m128d ud = _mm_cvtepi32_pd(_mm_setr_epi32(static_cast<int>(u[0]), static_cast<int>(u[1]), 0, 0));
  const __m128d vd = _mm_cvtepi32_pd(_mm_setr_epi32(static_cast<int>(v[0]), static_cast<int>(v[1]), 0, 0));
  const __m128i ru = _mm_castpd_si128(_mm_add_pd(_mm_mul_pd(ud, q), magic));
  const __m128i rv = _mm_castpd_si128(_mm_add_pd(_mm_mul_pd(vd, q), magic));
  sx[0] = _mm_cvtsi128_si32(ru);
  sx[1] = _mm_cvtsi128_si32(_mm_shuffle_epi32(ru, 2));
  sy[0] = _mm_cvtsi128_si32(rv);
  sy[1] = _mm_cvtsi128_si32(_mm_shuffle_epi32(rv, 2));
  return true;
}
#endif

// One row of a nearest projective warp over a pamSafe nearest resampler: the same pixels as
// MapFixed, PointSample and the combine per pixel. Along a row only X changes, and the products
// FixedMultiply(R[k][n], FixedFromInt(i)) are exactly R[k][n] x i (mod 2^32), so the three sums
// are stepped by R[0][n] instead of being formed anew. The row goes in runs: first every point of
// the run is mapped (two at a time where the lanes allow), then the pixels are read and combined.
template <bool Blend>
void WarpRowSafe(const TFixedMatrix16& R, const TBitmap32& Src, const TRect& Clip, TColor32 Outer, std::uint32_t Master,
                 TRasterizer& Rasterizer, TCombineProc Combine, TColor32* Row, std::int32_t Left, std::int32_t Right,
                 std::int32_t J) {
  const auto sum = [](TFixed16 a, TFixed16 b, TFixed16 c) {
    return static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b) + static_cast<std::uint32_t>(c);
  };
  const TFixed16 x0 = FixedFromInt(Left), y = FixedFromInt(J);
  std::uint32_t z = sum(FixedMultiply(R[0][2], x0), FixedMultiply(R[1][2], y), R[2][2]);
  std::uint32_t u = sum(FixedMultiply(R[0][0], x0), FixedMultiply(R[1][0], y), R[2][0]);
  std::uint32_t v = sum(FixedMultiply(R[0][1], x0), FixedMultiply(R[1][1], y), R[2][1]);
  const std::uint32_t dz = static_cast<std::uint32_t>(R[0][2]), du = static_cast<std::uint32_t>(R[0][0]),
                      dv = static_cast<std::uint32_t>(R[0][1]);
  const TColor32* bits = Src.Bits();
  const std::int32_t stride = Src.Width();
  const std::uint32_t m = Master > 255 ? 255 : Master;
  constexpr std::int32_t kRun = 64;
  std::uint32_t zs[kRun], us[kRun], vs[kRun];
  TFixed16 sx[kRun], sy[kRun];
  bool mapped[kRun];
  for (std::int32_t runStart = Left; runStart < Right; runStart += kRun) {
    const std::int32_t n = std::min(kRun, Right - runStart);
    for (std::int32_t k = 0; k < n; ++k, z += dz, u += du, v += dv) {
      zs[k] = z;
      us[k] = u;
      vs[k] = v;
    }
    std::int32_t k = 0;
#if defined(__SSE2__)
    for (; k + 2 <= n; k += 2) {
      if (MapSumsTwo(zs + k, us + k, vs + k, sx + k, sy + k)) {
        mapped[k] = mapped[k + 1] = true;
      } else {
        mapped[k] = MapSums(zs[k], us[k], vs[k], sx[k], sy[k]);
        mapped[k + 1] = MapSums(zs[k + 1], us[k + 1], vs[k + 1], sx[k + 1], sy[k + 1]);
      }
    }
#endif
    for (; k < n; ++k) mapped[k] = MapSums(zs[k], us[k], vs[k], sx[k], sy[k]);

    TColor32 colors[kRun];
    for (k = 0; k < n; ++k) {
      TColor32 c = Outer;
      if (mapped[k]) {
        const std::int32_t X = FixedRoundHalfDown(sx[k]), Y = FixedRoundHalfDown(sy[k]);
        if (X >= Clip.Left && X < Clip.Right && Y >= Clip.Top && Y < Clip.Bottom)
          c = bits[static_cast<std::size_t>(Y) * stride + X];
      }
      colors[k] = c;
    }
    TColor32* p = Row + runStart;
    k = 0;
    if constexpr (Blend) {
#if defined(__SSE2__)
      // BlendPixel four at a time: w = (fa x (m + 1)) >> 8 (at most 65280 before the shift, so
      // the low 16 bits of each lane hold it), and weight 0 leaves the pixel as it is.
      const __m128i m1 = _mm_set1_epi32(static_cast<int>(m + 1));
      for (; k + 4 <= n; k += 4) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(colors + k));
        const __m128i w = _mm_srli_epi32(_mm_mullo_epi16(_mm_srli_epi32(f, 24), m1), 8);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(w, _mm_setzero_si128())) == 0xFFFF) continue;
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + k), MixFour(f, b, w));
      }
#endif
      for (; k < n; ++k) {
        // BlendPixel, inline.
        const TColor32 c = colors[k];
        const TColor32 fa = c >> 24;
        if (fa == 0) continue;
        const TColor32 w = (fa * (m + 1)) >> 8;
        if (w == 0) continue;
        p[k] = MixWeighted(c, p[k], w);
      }
    } else {
      for (; k < n; ++k) Combine(Rasterizer, p[k], colors[k]);
    }
  }
}

}  // namespace

void TRegularRasterizer::RenderRows(TBitmap32& Dst, const TRect& Area) {
  if (Area.Right <= Area.Left || Area.Bottom <= Area.Top) return;
  // Rows are independent when sampling and combining only read shared state and nobody is told
  // row by row: then they are split between two threads, each pixel computed as below.
  if (fUpdateRowCount == 0 && fCombine != &CombineCustom && SamplingOnlyReads(*fSampler, Dst)) {
    // The sampler's steps written out (TNearestTransformer::SampleInt over the projective integer
    // mapping, then the resampler's point sample), without the calls between them.
    const auto& transformer = static_cast<const TNearestTransformer&>(*fSampler);
    const auto& mapping = static_cast<const TProjectiveTransformation&>(transformer.Transformation());
    const auto& resampler = static_cast<const TNearestResampler&>(*transformer.Sampler());
    const TFixedMatrix16& reverse = mapping.ReverseFixed();
    const TColor32 outer = resampler.Bitmap().OuterColor();
    const auto combine = fCombine;
    if (resampler.PixelAccessMode() == pamSafe) {
      // The usual case, written out whole: pamSafe sampling and, when blending, BlendPixel inline.
      const bool blend = combine == &CombineBlend && fBlendPixel == &BlendPixel;
      const std::uint32_t master = fParams.MasterAlpha;
      const TBitmap32& src = resampler.Bitmap();
      ParallelFor(Area.Top, Area.Bottom, 32, [&](std::int32_t from, std::int32_t to) {
        for (std::int32_t j = from; j < to; ++j)
          if (blend)
            WarpRowSafe<true>(reverse, src, resampler.SamplingClipRect(), outer, master, *this, combine, Dst.ScanLine(j),
                              Area.Left, Area.Right, j);
          else
            WarpRowSafe<false>(reverse, src, resampler.SamplingClipRect(), outer, master, *this, combine,
                               Dst.ScanLine(j), Area.Left, Area.Right, j);
      });
      Dst.AreaChanged(Area);
      return;
    }
    ParallelFor(Area.Top, Area.Bottom, 32, [&](std::int32_t from, std::int32_t to) {
      for (std::int32_t j = from; j < to; ++j) {
        TColor32* p = Dst.ScanLine(j) + Area.Left;
        for (std::int32_t i = Area.Left; i < Area.Right; ++i, ++p) {
          TFixed16 fx, fy;
          const TColor32 c =
              TProjectiveTransformation::MapFixed(reverse, FixedFromInt(i), FixedFromInt(j), fx, fy)
                  ? resampler.PointSample(FixedRoundHalfDown(fx), FixedRoundHalfDown(fy))
                  : outer;
          combine(*this, *p, c);
        }
      }
    });
    Dst.AreaChanged(Area);
    return;
  }
  TCustomSampler& sampler = *fSampler;
  const auto sample = fSamplerEntries.SampleInt;
  const auto combine = fCombine;
  TColor32* const bits = Dst.Bits();
  const std::int32_t width = Dst.Width();
  std::int32_t reportedTop = Area.Top;
  for (std::int32_t j = Area.Top; j < Area.Bottom; ++j) {
    TColor32* p = bits + static_cast<std::size_t>(j) * width + Area.Left;
    for (std::int32_t i = Area.Left; i < Area.Right; ++i, ++p) combine(*this, *p, sample(sampler, i, j));
    if (fUpdateRowCount > 0 && j + 1 - reportedTop >= fUpdateRowCount) {
      Dst.AreaChanged(TRect{Area.Left, reportedTop, Area.Right, j + 1});
      reportedTop = j + 1;
    }
  }
  if (reportedTop < Area.Bottom) Dst.AreaChanged(TRect{Area.Left, reportedTop, Area.Right, Area.Bottom});
}

// ---------------------------------------------------------------------------------------------
// Transform

void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation, const TRect& DstClip,
               TRasterizer& Rasterizer) {
  TRect area = Transformation.GetTransformedBounds();
  area = IntersectRect(area, Dst.ClipRect());
  area = IntersectRect(area, DstClip);
  if (area.Right < area.Left || area.Bottom < area.Top) return;
  if (!Dst.MeasuringMode()) {
    auto transformer = CreateTransformer(Src.Resampler(), Transformation);
    TCustomSampler* previous = Rasterizer.Sampler();
    Rasterizer.SetSampler(transformer.get());
    try {
      Rasterizer.Render(Dst, area, Src);
    } catch (...) {
      Rasterizer.SetSampler(previous);
      throw;
    }
    Rasterizer.SetSampler(previous);  // the transformer dies here; leave nothing dangling
  }
  Dst.AreaChanged(area);
}

void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation, TRasterizer& Rasterizer) {
  Transform(Dst, Src, Transformation, Dst.BoundsRect(), Rasterizer);
}

void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation, const TRect& DstClip) {
  const auto rasterizer = TransformRasterizerClass();
  Transform(Dst, Src, Transformation, DstClip, *rasterizer);
}

void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation) {
  Transform(Dst, Src, Transformation, Dst.BoundsRect());
}

}  // namespace quirlon::raster
