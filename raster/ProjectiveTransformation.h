#pragma once
// The projective transformation: a source rectangle mapped onto four arbitrary points through a
// forward and a reverse 3x3 matrix (32-bit floats, with 16.16 copies for the per-pixel path).
//
// Arithmetic is fixed to the bit: long double evaluation, every stored value rounded to float,
// float-to-integer conversions half to even. A zero-width or zero-height SourceRect raises
// EZeroDivide ("Floating point division by zero") when the matrices are computed.
#include <array>
#include <cstdint>
#include <string>

#include "raster/Bitmap32.h"
#include "raster/FixedPoint.h"

namespace quirlon::raster {

using TSinglePoint = TFloatPoint;

// m[i][j]: i selects the input coordinate (x, y, 1), j the output (x', y', w); a point maps to
// (x'/w, y'/w) with x' = m[0][0]x + m[1][0]y + m[2][0] and so on.
using TSingleMatrix = std::array<std::array<float, 3>, 3>;
using TFixedMatrix16 = std::array<std::array<TFixed16, 3>, 3>;

inline constexpr TSingleMatrix kIdentityMatrix = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

// C applies B first, then A; every element summed in long double and stored as float.
TSingleMatrix MultiplyMatrix(const TSingleMatrix& A, const TSingleMatrix& B);
// Replaces M by its inverse; a determinant below 1e-5 in magnitude turns M into the identity, so a
// degenerate quadrilateral still maps every point somewhere.
void InvertMatrix(TSingleMatrix& M);

// An abstract coordinate mapping from SourceRect into destination space. The matrices (or whatever
// a subclass keeps) are computed lazily: any setter marks them stale; the point forms and the
// transformers' BeginSampling bring them up to date, the scalar forms use them as they are.
//
// The scalar mapping forms return false when the point has no image (it lies on the vanishing line
// of a projective mapping); the outputs are then left alone.
class TTransformation : public TNotifiablePersistent {
public:
  std::string ClassName() const override { return "TTransformation"; }

  TSingleRect SourceRect() const { return fSrcRect; }
  void SetSourceRect(const TSingleRect& Value);
  bool MatricesValid() const { return fMatricesValid; }

  void Changed() override;  // marks the matrices stale, then notifies

  virtual void UpdateMatrices() {}
  virtual bool MapToSourceInt(std::int32_t DstX, std::int32_t DstY, std::int32_t& SrcX, std::int32_t& SrcY);
  virtual bool MapToSourceFixed(TFixed16 DstX, TFixed16 DstY, TFixed16& SrcX, TFixed16& SrcY);
  // Base: throws ETransformNotImplemented.
  virtual bool MapToSource(float DstX, float DstY, float& SrcX, float& SrcY);
  virtual bool MapToDestInt(std::int32_t SrcX, std::int32_t SrcY, std::int32_t& DstX, std::int32_t& DstY);
  virtual bool MapToDestFixed(TFixed16 SrcX, TFixed16 SrcY, TFixed16& DstX, TFixed16& DstY);
  // Base: throws ETransformNotImplemented.
  virtual bool MapToDest(float SrcX, float SrcY, float& DstX, float& DstY);
  virtual bool BoundsKnown() const { return true; }
  virtual TRect MappedBounds(const TSingleRect& ARect);

  // Point forms: bring the matrices up to date first. A point without image maps to (0, 0).
  virtual TPoint MapToSource(const TPoint& P);
  virtual TFixedPoint MapToSource(const TFixedPoint& P);
  virtual TSinglePoint MapToSource(const TSinglePoint& P);
  virtual TPoint MapToDest(const TPoint& P);
  virtual TFixedPoint MapToDest(const TFixedPoint& P);
  virtual TSinglePoint MapToDest(const TSinglePoint& P);

  TRect GetTransformedBounds() { return MappedBounds(fSrcRect); }

protected:
  TSingleRect fSrcRect{};
  bool fMatricesValid = false;
};

// Maps (Left, Top) of SourceRect to (X0, Y0), (Right, Top) to (X1, Y1), (Right, Bottom) to (X2, Y2)
// and (Left, Bottom) to (X3, Y3).
class TProjectiveTransformation : public TTransformation {
public:
  std::string ClassName() const override { return "TProjectiveTransformation"; }

  float X0() const { return fX0; }
  float Y0() const { return fY0; }
  float X1() const { return fX1; }
  float Y1() const { return fY1; }
  float X2() const { return fX2; }
  float Y2() const { return fY2; }
  float X3() const { return fX3; }
  float Y3() const { return fY3; }
  void SetX0(float Value) { SetCoord(fX0, Value); }
  void SetY0(float Value) { SetCoord(fY0, Value); }
  void SetX1(float Value) { SetCoord(fX1, Value); }
  void SetY1(float Value) { SetCoord(fY1, Value); }
  void SetX2(float Value) { SetCoord(fX2, Value); }
  void SetY2(float Value) { SetCoord(fY2, Value); }
  void SetX3(float Value) { SetCoord(fX3, Value); }
  void SetY3(float Value) { SetCoord(fY3, Value); }

  const TSingleMatrix& ForwardMatrix() const { return fForwardMatrix; }
  const TSingleMatrix& ReverseMatrix() const { return fReverseMatrix; }
  const TFixedMatrix16& ForwardFixed() const { return fForwardFixed; }
  const TFixedMatrix16& ReverseFixed() const { return fReverseFixed; }

  using TTransformation::MapToDest;
  using TTransformation::MapToSource;

  void UpdateMatrices() override;
  bool MapToSourceFixed(TFixed16 DstX, TFixed16 DstY, TFixed16& SrcX, TFixed16& SrcY) override {
    return MapFixed(fReverseFixed, DstX, DstY, SrcX, SrcY);
  }
  bool MapToSource(float DstX, float DstY, float& SrcX, float& SrcY) override {
    return MapFloat(fReverseMatrix, DstX, DstY, SrcX, SrcY);
  }
  bool MapToDestFixed(TFixed16 SrcX, TFixed16 SrcY, TFixed16& DstX, TFixed16& DstY) override {
    return MapFixed(fForwardFixed, SrcX, SrcY, DstX, DstY);
  }
  bool MapToDest(float SrcX, float SrcY, float& DstX, float& DstY) override {
    return MapFloat(fForwardMatrix, SrcX, SrcY, DstX, DstY);
  }
  // The bounding box of the four corners, grown by half a pixel and rounded half to even; the
  // argument is ignored.
  TRect MappedBounds(const TSingleRect& ARect) override;

  // The per-pixel path: 16.16 sums with wrap-around, one division only when the denominator is not
  // exactly 1.0. Returns false when the denominator is 0.
  static bool MapFixed(const TFixedMatrix16& R, TFixed16 X, TFixed16 Y, TFixed16& OutX, TFixed16& OutY) {
    const auto add = [](TFixed16 a, TFixed16 b) {
      return static_cast<TFixed16>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
    };
    const TFixed16 z = add(add(FixedMultiply(R[0][2], X), FixedMultiply(R[1][2], Y)), R[2][2]);
    if (z == 0) return false;
    TFixed16 sx = add(add(FixedMultiply(R[0][0], X), FixedMultiply(R[1][0], Y)), R[2][0]);
    TFixed16 sy = add(add(FixedMultiply(R[0][1], X), FixedMultiply(R[1][1], Y)), R[2][1]);
    if (z != kFixedOne) {
      const float q = FixedUnitOver(z);
      sx = MulRoundSingle(sx, q);
      sy = MulRoundSingle(sy, q);
    }
    OutX = sx;
    OutY = sy;
    return true;
  }
  static bool MapFloat(const TSingleMatrix& M, float X, float Y, float& OutX, float& OutY);

private:
  void SetCoord(float& Field, float Value) {
    Field = Value;
    Changed();
  }

  float fX0 = 0, fY0 = 0, fX1 = 0, fY1 = 0, fX2 = 0, fY2 = 0, fX3 = 0, fY3 = 0;
  TSingleMatrix fForwardMatrix{};
  TSingleMatrix fReverseMatrix{};
  TFixedMatrix16 fForwardFixed{};
  TFixedMatrix16 fReverseFixed{};
};

}  // namespace quirlon::raster
