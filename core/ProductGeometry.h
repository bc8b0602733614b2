#pragma once
// The arithmetic the product model computes with: points in 3-D (millimetres; x to the right, y up,
// z away from the viewer, the floor at y = 0) and in the template's plane (x to the right, y down).
// Every operation is spelled out in the order it is evaluated, in double precision, so that a scene
// gives the same integer corners wherever it is built.
#include <array>
#include <cstdint>

#include "raster/Color.h"

namespace quirlon::core {

struct TVec3 {
  double X = 0, Y = 0, Z = 0;
  friend bool operator==(const TVec3&, const TVec3&) = default;
};

inline TVec3 Add(const TVec3& A, const TVec3& B) { return {A.X + B.X, A.Y + B.Y, A.Z + B.Z}; }
inline TVec3 Sub(const TVec3& A, const TVec3& B) { return {A.X - B.X, A.Y - B.Y, A.Z - B.Z}; }
inline TVec3 Scale(const TVec3& A, double S) { return {A.X * S, A.Y * S, A.Z * S}; }
inline double Dot(const TVec3& A, const TVec3& B) { return A.X * B.X + A.Y * B.Y + A.Z * B.Z; }
inline TVec3 Cross(const TVec3& A, const TVec3& B) {
  return {A.Y * B.Z - A.Z * B.Y, A.Z * B.X - A.X * B.Z, A.X * B.Y - A.Y * B.X};
}
// A scaled by the reciprocal of its length (not divided by it).
TVec3 Normalized(const TVec3& A);
// The mirror image below the floor.
inline TVec3 MirrorFloor(const TVec3& P) { return {P.X, -P.Y, P.Z}; }
// Equal within a micrometre on every axis: corners of neighbouring faces that coincide.
bool SamePoint(const TVec3& A, const TVec3& B);

// Degrees to radians: the degree times the double nearest pi / 180.
double Radians(double Degrees);
// P turned by Degrees about the vertical axis through Origin (positive turns the front towards the
// viewer's left).
TVec3 TurnAbout(const TVec3& P, const TVec3& Origin, double Degrees);

struct TPlanePoint {
  double X = 0, Y = 0;
  friend bool operator==(const TPlanePoint&, const TPlanePoint&) = default;
};
using TPlaneQuad = std::array<TPlanePoint, 4>;

// sqrt(X^2 + Y^2), correctly rounded (the nearest double, ties to even), free of overflow.
double Hypot(double X, double Y);
// Round half to even, as a template corner holds it. Throws EBadProductValue when the value does
// not fit a template coordinate (beyond +-1e9 or not a number).
std::int32_t RoundCoordinate(double Value);
TPlanePoint RoundedPoint(const TPlanePoint& P);
raster::TPoint TemplatePoint(const TPlanePoint& P);
TPlaneQuad RoundedQuad(const TPlaneQuad& Q);

// A line through a point in a direction.
struct TPlaneLine {
  TPlanePoint Point;
  TPlanePoint Direction;
};
// The line through P and Q moved by Dist along the unit normal N.
TPlaneLine OffsetLine(const TPlanePoint& P, const TPlanePoint& Q, const TPlanePoint& N, double Dist);
// Where two lines cross; false when they are (nearly) parallel.
bool Intersect(const TPlaneLine& L1, const TPlaneLine& L2, TPlanePoint& At);
// Unit normal of the edge P-Q pointing into Quad (towards the mean of its corners).
TPlanePoint InwardNormal(const TPlanePoint& P, const TPlanePoint& Q, const TPlaneQuad& Quad);
// 0 inside the convex quadrilateral (either winding), else the distance to its outline.
double QuadDistance(const TPlanePoint& P, const TPlaneQuad& Quad);
// True when Quad is convex and turns the same way as Model, both as given and with the integer
// corners a template holds.
bool ConvexLike(const TPlaneQuad& Quad, const TPlaneQuad& Model);
// The mean of the four corners, summed in corner order.
TPlanePoint QuadCentre(const TPlaneQuad& Quad);

}  // namespace quirlon::core
