#pragma once
// The camera of a product scene: it looks at Target from Distance millimetres, turned by Yaw about
// the vertical axis (positive: the camera moves to the viewer's left, so the product's left side
// shows) and raised by Pitch degrees. Its image plane stays upright, as with a shift lens: pitch
// shows the top of a product, but vertical edges stay vertical and parallel. Focal is in
// millimetres of a 36 mm wide frame.
#include "core/ProductGeometry.h"

namespace quirlon::core {

struct TCameraSetup {
  double Yaw = 0;       // degrees
  double Pitch = 0;     // degrees
  double Distance = 0;  // millimetres from Target
  double Focal = 50;    // millimetres of a 36 mm frame
  TVec3 Target;
  friend bool operator==(const TCameraSetup&, const TCameraSetup&) = default;
};

class TCamera {
 public:
  explicit TCamera(const TCameraSetup& Setup);

  const TCameraSetup& Setup() const { return fSetup; }
  const TVec3& Position() const { return fPosition; }
  const TVec3& Forward() const { return fForward; }  // the horizontal viewing direction
  const TVec3& Right() const { return fRight; }

  // P in image coordinates (y down) relative to the frame's centre, in pixels of a frame
  // FrameWidth wide. Throws EBadProductValue for a point at or behind the camera.
  TPlanePoint Project(const TVec3& P, double FrameWidth) const;
  // True when a flat face with this unit normal through Corner turns its front towards the camera.
  bool Sees(const TVec3& Normal, const TVec3& Corner) const;

 private:
  TCameraSetup fSetup;
  TVec3 fForward, fRight, fUp{0.0, 1.0, 0.0}, fPosition;
};

}  // namespace quirlon::core
