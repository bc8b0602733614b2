#pragma once
// An independent long double reference for projective warps: the homography of four corners solved
// as a linear system, its exact inverse, and the interval of source pixels that a 16.16 reverse
// matrix may legitimately pick for a destination pixel.
#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace quirlon::testsupport {

using LD = long double;

// The homography taking the unit square's corners (0,0), (1,0), (1,1), (0,1) to four points,
// solved as an 8x8 linear system (Gaussian elimination with partial pivoting). Row-vector form:
// (u, v, 1) x H = (x', y', w).
using Mat3 = std::array<std::array<LD, 3>, 3>;

inline Mat3 SolveHomography(const LD (&X)[4], const LD (&Y)[4]) {
  const LD U[4] = {0, 1, 1, 0}, V[4] = {0, 0, 1, 1};
  // Unknowns a..h: x = (a u + b v + c) / (g u + h v + 1), y = (d u + e v + f) / (g u + h v + 1).
  LD A[8][9] = {};
  for (int i = 0; i < 4; ++i) {
    LD* r1 = A[2 * i];
    LD* r2 = A[2 * i + 1];
    r1[0] = U[i]; r1[1] = V[i]; r1[2] = 1; r1[6] = -U[i] * X[i]; r1[7] = -V[i] * X[i]; r1[8] = X[i];
    r2[3] = U[i]; r2[4] = V[i]; r2[5] = 1; r2[6] = -U[i] * Y[i]; r2[7] = -V[i] * Y[i]; r2[8] = Y[i];
  }
  for (int c = 0; c < 8; ++c) {
    int p = c;
    for (int r = c + 1; r < 8; ++r)
      if (std::fabs(A[r][c]) > std::fabs(A[p][c])) p = r;
    for (int k = 0; k < 9; ++k) std::swap(A[c][k], A[p][k]);
    for (int r = 0; r < 8; ++r) {
      if (r == c) continue;
      const LD f = A[r][c] / A[c][c];
      for (int k = c; k < 9; ++k) A[r][k] -= f * A[c][k];
    }
  }
  LD s[8];
  for (int i = 0; i < 8; ++i) s[i] = A[i][8] / A[i][i];
  Mat3 H;
  H[0] = {s[0], s[3], s[6]};
  H[1] = {s[1], s[4], s[7]};
  H[2] = {s[2], s[5], 1};
  return H;
}

inline Mat3 Inverse(const Mat3& m) {
  Mat3 r;
  const LD det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                 m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  r[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) / det;
  r[0][1] = -(m[0][1] * m[2][2] - m[0][2] * m[2][1]) / det;
  r[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
  r[1][0] = -(m[1][0] * m[2][2] - m[1][2] * m[2][0]) / det;
  r[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
  r[1][2] = -(m[0][0] * m[1][2] - m[0][2] * m[1][0]) / det;
  r[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) / det;
  r[2][1] = -(m[0][0] * m[2][1] - m[0][1] * m[2][0]) / det;
  r[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
  return r;
}

// The source pixel index for a mapped coordinate: nearest, an exact half going down.
inline int HalfDown(LD v) { return static_cast<int>(std::ceil(v - 0.5L)); }

struct TQuadReference {
  Mat3 Reverse;  // destination (x, y, 1) -> source (u, v, w), scaled like the program's matrix
  // The interval of source pixels that the 16.16 reverse matrix can reach at (I, J).
  // uExact, vExact: the exactly rounded source pixel.
  bool Predict(int I, int J, int& uLo, int& uHi, int& vLo, int& vHi, int* uExact = nullptr, int* vExact = nullptr) const {
    const LD x = I, y = J;
    const LD nx = Reverse[0][0] * x + Reverse[1][0] * y + Reverse[2][0];
    const LD ny = Reverse[0][1] * x + Reverse[1][1] * y + Reverse[2][1];
    const LD z = Reverse[0][2] * x + Reverse[1][2] * y + Reverse[2][2];
    // Each 16.16 element is off by at most half a step plus the float chain's relative error
    // (whole-pixel inputs make the 16.16 products exact); the final division and rounding add a
    // few steps more.
    auto err = [&](int col) {
      LD e = 0;
      const LD in[3] = {std::fabs(x), std::fabs(y), 1};
      for (int i = 0; i < 3; ++i) e += (0.5L / 65536 + std::fabs(Reverse[i][col]) * 2e-6L) * in[i];
      return e;
    };
    const LD ez = err(2);
    if (std::fabs(z) <= 2 * ez) return false;
    const LD u = nx / z, v = ny / z;
    const LD du = (err(0) + std::fabs(u) * ez) / (std::fabs(z) - ez) + std::fabs(u) * 2e-7L + 2.0L / 65536;
    const LD dv = (err(1) + std::fabs(v) * ez) / (std::fabs(z) - ez) + std::fabs(v) * 2e-7L + 2.0L / 65536;
    if (uExact) *uExact = HalfDown(u);
    if (vExact) *vExact = HalfDown(v);
    uLo = HalfDown(u - du);
    uHi = HalfDown(u + du);
    vLo = HalfDown(v - dv);
    vHi = HalfDown(v + dv);
    return true;
  }
};

inline TQuadReference MakeQuadReference(const float (&X)[4], const float (&Y)[4], int srcW, int srcH) {
  const LD x[4] = {X[0], X[1], X[2], X[3]}, y[4] = {Y[0], Y[1], Y[2], Y[3]};
  Mat3 h = SolveHomography(x, y);
  // Source pixels -> unit square first.
  for (int j = 0; j < 3; ++j) {
    h[0][j] /= srcW;
    h[1][j] /= srcH;
  }
  return TQuadReference{Inverse(h)};
}

// Random convex quadrilaterals (corners clockwise on screen) inside a canvas.
struct TRandomQuad {
  int X[4], Y[4];
};

inline TRandomQuad RandomConvexQuad(std::mt19937& rng, int canvas) {
  std::uniform_real_distribution<double> angleJitter(-0.45, 0.45), radius(0.25, 0.48);
  for (;;) {
    TRandomQuad q;
    const double cx = canvas * 0.5, cy = canvas * 0.5;
    for (int i = 0; i < 4; ++i) {
      const double a = (-0.75 + i * 0.5 + angleJitter(rng) * 0.5) * std::numbers::pi;  // A top-left, then clockwise
      const double r = radius(rng) * canvas;
      q.X[i] = static_cast<int>(std::lround(cx + r * std::cos(a)));
      q.Y[i] = static_cast<int>(std::lround(cy + r * std::sin(a)));
    }
    bool convex = true;
    for (int i = 0; i < 4; ++i) {
      const int a = i, b = (i + 1) % 4, c = (i + 2) % 4;
      const long cross = static_cast<long>(q.X[b] - q.X[a]) * (q.Y[c] - q.Y[b]) -
                         static_cast<long>(q.Y[b] - q.Y[a]) * (q.X[c] - q.X[b]);
      if (cross <= 0) convex = false;
    }
    if (convex) return q;
  }
}

}  // namespace quirlon::testsupport
