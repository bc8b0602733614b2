#include "core/Camera.h"

#include <cmath>

#include "core/ProductError.h"

namespace quirlon::core {

TCamera::TCamera(const TCameraSetup& Setup) : fSetup(Setup) {
  const double y = Radians(Setup.Yaw), p = Radians(Setup.Pitch);
  fForward = {std::sin(y), 0.0, std::cos(y)};
  fRight = {std::cos(y), 0.0, -std::sin(y)};
  const TVec3 back{-std::sin(y) * std::cos(p), std::sin(p), -std::cos(y) * std::cos(p)};
  fPosition = Add(Setup.Target, Scale(back, Setup.Distance));
}

TPlanePoint TCamera::Project(const TVec3& P, double FrameWidth) const {
  const TVec3 d = Sub(P, fPosition);
  const double zc = Dot(d, fForward);
  if (!(zc > 1e-9))
    throw EBadProductValue("A product reaches behind the camera: a camera distance of " +
                           std::to_string(fSetup.Distance) + " mm is too short");
  const double f = fSetup.Focal / 36.0 * FrameWidth;
  return {f * Dot(d, fRight) / zc, -f * Dot(d, fUp) / zc};
}

bool TCamera::Sees(const TVec3& Normal, const TVec3& Corner) const {
  return Dot(Normal, Sub(fPosition, Corner)) > 1e-9;
}

}  // namespace quirlon::core
