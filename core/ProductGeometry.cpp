#include "core/ProductGeometry.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "core/ProductError.h"

namespace quirlon::core {

namespace {

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
constexpr double kLargestCoordinate = 1e9;

// Exact sum of two doubles as value and rounding error.
void TwoSum(double A, double B, double& Sum, double& Error) {
  Sum = A + B;
  const double bVirtual = Sum - A;
  const double aVirtual = Sum - bVirtual;
  Error = (A - aVirtual) + (B - bVirtual);
}

// The sign (-1, 0, 1) of the exact sum of Terms, through a growing nonoverlapping expansion.
template <std::size_t N>
int ExactSumSign(const std::array<double, N>& Terms) {
  std::array<double, N> expansion{};
  std::size_t size = 0;
  for (double term : Terms) {
    double carry = term;
    std::size_t grown = 0;
    for (std::size_t i = 0; i < size; ++i) {
      double sum, error;
      TwoSum(carry, expansion[i], sum, error);
      if (error != 0) expansion[grown++] = error;
      carry = sum;
    }
    if (carry != 0) expansion[grown++] = carry;
    size = grown;
  }
  if (size == 0) return 0;
  return expansion[size - 1] > 0 ? 1 : -1;
}

// Sign of (A^2 + B^2) - M^2 where M = H + Offset, Offset a power of two (or its negative) much
// smaller than H; every product below is exact.
int MidpointSign(double A, double B, double H, double Offset) {
  const double aa = A * A, aaError = std::fma(A, A, -aa);
  const double bb = B * B, bbError = std::fma(B, B, -bb);
  const double hh = H * H, hhError = std::fma(H, H, -hh);
  const double cross = 2 * H * Offset;  // exact: Offset is a power of two
  const double square = Offset * Offset;
  return ExactSumSign(std::array<double, 8>{aa, aaError, bb, bbError, -hh, -hhError, -cross, -square});
}

// True when the last bit of X's significand is 0, as round half to even picks.
bool EvenSignificand(double X) {
  int exponent;
  return std::fmod(std::ldexp(std::frexp(X, &exponent), 53), 2.0) == 0;
}

}  // namespace

TVec3 Normalized(const TVec3& A) { return Scale(A, 1.0 / std::sqrt(Dot(A, A))); }

bool SamePoint(const TVec3& A, const TVec3& B) {
  return std::fabs(A.X - B.X) < 1e-6 && std::fabs(A.Y - B.Y) < 1e-6 && std::fabs(A.Z - B.Z) < 1e-6;
}

double Radians(double Degrees) { return Degrees * kDegToRad; }

TVec3 TurnAbout(const TVec3& P, const TVec3& Origin, double Degrees) {
  const double a = Radians(Degrees);
  const TVec3 d = Sub(P, Origin);
  return Add(Origin, {d.X * std::cos(a) + d.Z * std::sin(a), d.Y, -d.X * std::sin(a) + d.Z * std::cos(a)});
}

namespace {

// The neighbours of a positive normal double.
double NextUp(double X) { return std::bit_cast<double>(std::bit_cast<std::uint64_t>(X) + 1); }
double NextDown(double X) { return std::bit_cast<double>(std::bit_cast<std::uint64_t>(X) - 1); }

// sqrt(A^2 + B^2) rounded to nearest for A >= B > 0 within 2^-400 to 2^400, where every square and
// every rounding error of one is a normal double.
double RoundedRoot(double A, double B) {
  double h = std::sqrt(A * A + B * B);  // within an ulp of the exact root
  for (int step = 0; step < 4; ++step) {
    const double upSpacing = NextUp(h) - h, downSpacing = h - NextDown(h);
    // S - h^2, good to about 2^-100 of S (h^2 is within a factor two of the sum, so their
    // difference is exact); S less the square of either midpoint to a neighbour follows exactly
    // enough to decide the rounding unless it lies within 2^-90 S of zero, where it is decided
    // exactly.
    const double aa = A * A, bb = B * B, hh = h * h;
    double sum, sumError;
    TwoSum(aa, bb, sum, sumError);
    const double residual =
        (sum - hh) + (((sumError + std::fma(A, A, -aa)) + std::fma(B, B, -bb)) - std::fma(h, h, -hh));
    const double doubt = hh * 0x1p-90;
    const double aboveUpperMid = residual - h * upSpacing - upSpacing * upSpacing / 4;
    int aboveUpper = aboveUpperMid > doubt ? 1 : aboveUpperMid < -doubt ? -1 : 0;
    if (aboveUpper == 0) aboveUpper = MidpointSign(A, B, h, upSpacing / 2);
    if (aboveUpper > 0 || (aboveUpper == 0 && EvenSignificand(h + upSpacing))) {
      h += upSpacing;
      continue;
    }
    const double aboveLowerMid = residual + h * downSpacing - downSpacing * downSpacing / 4;
    int aboveLower = aboveLowerMid > doubt ? 1 : aboveLowerMid < -doubt ? -1 : 0;
    if (aboveLower == 0) aboveLower = MidpointSign(A, B, h, -downSpacing / 2);
    if (aboveLower < 0 || (aboveLower == 0 && EvenSignificand(h - downSpacing))) {
      h -= downSpacing;
      continue;
    }
    break;
  }
  return h;
}

}  // namespace

double Hypot(double X, double Y) {
  double a = std::fabs(X), b = std::fabs(Y);
  if (std::isinf(a) || std::isinf(b)) return std::numeric_limits<double>::infinity();
  if (std::isnan(a) || std::isnan(b)) return std::numeric_limits<double>::quiet_NaN();
  if (a < b) std::swap(a, b);
  if (b == 0) return a;
  if (a <= 0x1p400 && b >= 0x1p-400) return RoundedRoot(a, b);
  int ea, eb;
  std::frexp(a, &ea);
  std::frexp(b, &eb);
  // b below a 2^-60 part of a changes sqrt(a^2 + b^2) by less than a quarter unit: the answer is a.
  if (ea - eb > 60) return a;
  // Scaled by a power of two to [1, 2): exact, and far from overflow and underflow.
  return std::ldexp(RoundedRoot(std::ldexp(a, 1 - ea), std::ldexp(b, 1 - ea)), ea - 1);
}

std::int32_t RoundCoordinate(double Value) {
  if (!(std::fabs(Value) <= kLargestCoordinate))
    throw EBadProductValue("The scene does not fit the template's coordinates: a corner lies at " +
                           std::to_string(Value));
  return static_cast<std::int32_t>(std::nearbyint(Value));
}

TPlanePoint RoundedPoint(const TPlanePoint& P) {
  return {static_cast<double>(RoundCoordinate(P.X)), static_cast<double>(RoundCoordinate(P.Y))};
}

raster::TPoint TemplatePoint(const TPlanePoint& P) { return {RoundCoordinate(P.X), RoundCoordinate(P.Y)}; }

TPlaneQuad RoundedQuad(const TPlaneQuad& Q) {
  return {RoundedPoint(Q[0]), RoundedPoint(Q[1]), RoundedPoint(Q[2]), RoundedPoint(Q[3])};
}

TPlaneLine OffsetLine(const TPlanePoint& P, const TPlanePoint& Q, const TPlanePoint& N, double Dist) {
  return {{P.X + N.X * Dist, P.Y + N.Y * Dist}, {Q.X - P.X, Q.Y - P.Y}};
}

bool Intersect(const TPlaneLine& L1, const TPlaneLine& L2, TPlanePoint& At) {
  const TPlanePoint &p = L1.Point, &d = L1.Direction, &q = L2.Point, &e = L2.Direction;
  const double den = d.X * e.Y - d.Y * e.X;
  if (std::fabs(den) < 1e-9 * Hypot(d.X, d.Y) * Hypot(e.X, e.Y)) return false;
  const double t = ((q.X - p.X) * e.Y - (q.Y - p.Y) * e.X) / den;
  At = {p.X + t * d.X, p.Y + t * d.Y};
  return true;
}

TPlanePoint QuadCentre(const TPlaneQuad& Quad) {
  return {(((0.0 + Quad[0].X) + Quad[1].X) + Quad[2].X + Quad[3].X) / 4.0,
          (((0.0 + Quad[0].Y) + Quad[1].Y) + Quad[2].Y + Quad[3].Y) / 4.0};
}

TPlanePoint InwardNormal(const TPlanePoint& P, const TPlanePoint& Q, const TPlaneQuad& Quad) {
  TPlanePoint n{P.Y - Q.Y, Q.X - P.X};
  const double length = Hypot(n.X, n.Y);
  n = {n.X / length, n.Y / length};
  const TPlanePoint c = QuadCentre(Quad);
  if ((c.X - P.X) * n.X + (c.Y - P.Y) * n.Y < 0) n = {-n.X, -n.Y};
  return n;
}

double QuadDistance(const TPlanePoint& P, const TPlaneQuad& Quad) {
  bool inside = true;
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const TPlanePoint &a = Quad[i], &b = Quad[(i + 1) % 4];
    const double cross = (b.X - a.X) * (P.Y - a.Y) - (b.Y - a.Y) * (P.X - a.X);
    if (std::fabs(cross) < 1e-9) continue;
    const int sd = cross > 0 ? 1 : -1;
    if (sign != 0 && sd != sign) {
      inside = false;
      break;
    }
    sign = sd;
  }
  if (inside) return 0.0;
  double best = std::numeric_limits<double>::infinity();
  for (int i = 0; i < 4; ++i) {
    const TPlanePoint &a = Quad[i], &b = Quad[(i + 1) % 4];
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double n = dx * dx + dy * dy;
    const double t = n == 0 ? 0.0 : std::max(0.0, std::min(1.0, ((P.X - a.X) * dx + (P.Y - a.Y) * dy) / n));
    best = std::min(best, Hypot(P.X - a.X - t * dx, P.Y - a.Y - t * dy));
  }
  return best;
}

namespace {

std::array<double, 4> Turns(const TPlaneQuad& Q) {
  std::array<double, 4> out;
  for (int i = 0; i < 4; ++i) {
    const TPlanePoint &a = Q[i], &b = Q[(i + 1) % 4], &c = Q[(i + 2) % 4];
    out[i] = (b.X - a.X) * (c.Y - b.Y) - (b.Y - a.Y) * (c.X - b.X);
  }
  return out;
}

}  // namespace

bool ConvexLike(const TPlaneQuad& Quad, const TPlaneQuad& Model) {
  const auto model = Turns(Model);
  const int sign = (((0.0 + model[0]) + model[1]) + model[2]) + model[3] > 0 ? 1 : -1;
  for (double t : Turns(Quad))
    if (!(t * sign > 0)) return false;
  for (double t : Turns(RoundedQuad(Quad)))
    if (!(t * sign > 0)) return false;
  return true;
}

}  // namespace quirlon::core
