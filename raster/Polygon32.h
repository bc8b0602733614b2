#pragma once
// TPolygon32: contours of 16.16 fixed-point vertices filled into a TBitmap32 with one colour,
// either hard-edged or anti-aliased by sub-scanline coverage; plus the derived outline and grown
// polygons used for the soft edge band of warped layers.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Color.h"

namespace quirlon::raster {

using TArrayOfFixedPoint = std::vector<TFixedPoint>;
using TArrayOfArrayOfFixedPoint = std::vector<TArrayOfFixedPoint>;

enum TFillRule : std::uint8_t { frEvenOdd, frNonZero };

// Sub-lines (and sub-columns) per pixel: 32, 16, 8, 4, 2.
enum TSubsampleMode : std::uint8_t { ss32x, ss16x, ss8x, ss4x, ss2x };

// Maps one vertex before filling (a transformation's forward point mapping). Empty: no mapping.
using TFixedPointMapping = std::function<TFixedPoint(const TFixedPoint&)>;

// Receives one stretch of a filled row: Count colours for the pixels X .. X + Count - 1 of row Y,
// each carrying that pixel's coverage (0..255) as its alpha. The stretch lies inside the bitmap's
// clip rectangle; pixels outside the shape come with alpha 0.
using TFillLineEvent =
    std::function<void(std::int32_t X, std::int32_t Y, std::int32_t Count, const TColor32* Colors)>;

class TPolygon32 : public TNotifiablePersistent {
public:
  // One empty contour, closed contours, ss8x, hard-edged, even-odd.
  TPolygon32();
  ~TPolygon32() override;
  TPolygon32(const TPolygon32&) = delete;
  TPolygon32& operator=(const TPolygon32&) = delete;
  std::string ClassName() const override { return "TPolygon32"; }

  // Copies Smooth, SubsampleMode, ClosedContours and FillRule.
  virtual void CopySettingsTo(TPolygon32& Dst) const;
  // Settings plus deep copies of the contours and of the normal cache.
  void Assign(const TPolygon32& Source);

  // Appends P to the last contour (starting one if there is none); empties the normal cache.
  void AddPoint(const TFixedPoint& P);
  // Appends an empty contour; empties the normal cache.
  void StartContour();
  // Removes every contour and normal, then starts one empty contour.
  void ClearContours();

  const TArrayOfArrayOfFixedPoint& Contours() const { return fContours; }
  // Replaces all contours; empties the normal cache.
  void SetContours(TArrayOfArrayOfFixedPoint Value);
  // One unit normal (16.16) per vertex, parallel to Contours; empty while stale.
  const TArrayOfArrayOfFixedPoint& EdgeNormals() const { return fEdgeNormals; }
  // Builds EdgeNormals when it is empty. A clockwise contour on screen (y down) gets outward normals.
  void ComputeNormals();

  bool Smooth() const { return fSmooth; }
  void SetSmooth(bool Value) { fSmooth = Value; }
  bool ClosedContours() const { return fClosedContours; }
  void SetClosedContours(bool Value) { fClosedContours = Value; }
  TFillRule FillRule() const { return fFillRule; }
  void SetFillRule(TFillRule Value) { fFillRule = Value; }
  TSubsampleMode SubsampleMode() const { return fSubsampleMode; }
  void SetSubsampleMode(TSubsampleMode Value) { fSubsampleMode = Value; }

  // A new polygon with this one's settings: each contour of 2+ points as itself and reversed
  // (closed: two contours; open: one contour there and back). Shorter contours are dropped.
  std::unique_ptr<TPolygon32> MakeOutline();
  // A new polygon whose vertices are pushed by Delta (16.16) along the edge normals, with a mitre
  // point at corners unless they turn back so far that a bevel (two points) is used instead.
  // Sharpness is clamped into 0..0.99; the mitre limit is round((1 - Sharpness) x Delta).
  // Delta 0 copies every contour unchanged. Raises only on a NaN Sharpness.
  std::unique_ptr<TPolygon32> GrowAlongNormals(TFixed16 Delta, float Sharpness);

  // Fills all contours (always closed for filling) with Color into Bitmap, limited to its clip
  // rectangle, by FillRule. Brackets the work in BeginUpdate / EndUpdate and calls Changed
  // afterwards. Contours of fewer than 3 points add nothing.
  // Smooth: sub-scanline coverage at SubsampleMode (full coverage is alpha 251 at ss32x, 255 at the
  // other levels), blended row by row with BlendRowMaster of the bitmap's CombineMode and
  // M = Color's alpha; the topmost and bottommost sub-line of a contour stay empty.
  // Hard-edged: vertices round to whole pixels ((v + 32767) >> 16); a pixel is filled when its
  // centre lies inside (crossings at row centres in 1/256 pixel, floored; a span [xa, xb) fills the
  // pixels whose centres lie in it), so shapes sharing an edge neither overlap nor leave a gap.
  // Opaque colours are stored, translucent ones blended with BlendRow of the bitmap's CombineMode.
  void FillInto(TBitmap32& Bitmap, TColor32 Color, const TFixedPointMapping& Transformation = {}) const;
  // The same coverage handed row by row to Filler instead of blended with a colour (colours carry
  // RGB 0). Bitmap supplies the clip rectangle and receives the notifications only.
  void FillInto(TBitmap32& Bitmap, const TFillLineEvent& Filler, const TFixedPointMapping& Transformation = {}) const;

private:
  void Fill(TBitmap32& Bitmap, TColor32 Color, const TFillLineEvent* Filler,
            const TFixedPointMapping& Transformation) const;

  TArrayOfArrayOfFixedPoint fContours;
  TArrayOfArrayOfFixedPoint fEdgeNormals;
  bool fSmooth = false;
  bool fClosedContours = true;
  TFillRule fFillRule = frEvenOdd;
  TSubsampleMode fSubsampleMode = ss8x;
};

}  // namespace quirlon::raster
