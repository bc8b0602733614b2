#include "raster/ProjectiveTransformation.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "raster/Errors.h"
#include "raster/Numeric.h"

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


TRect TProjectiveTransformation::MappedBounds(const TSingleRect&) {
  const float minX = std::min({fX0, fX1, fX2, fX3});
  const float maxX = std::max({fX0, fX1, fX2, fX3});
  const float minY = std::min({fY0, fY1, fY2, fY3});
  const float maxY = std::max({fY0, fY1, fY2, fY3});
  return TRect{Round(static_cast<E>(minX) - 0.5L), Round(static_cast<E>(minY) - 0.5L), Round(static_cast<E>(maxX) + 0.5L),
               Round(static_cast<E>(maxY) + 0.5L)};
}

}  // namespace quirlon::raster
