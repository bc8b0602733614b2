#pragma once
// Mapping a source bitmap onto an arbitrary quadrilateral of a destination bitmap.
//
// TTransformation holds a source rectangle and maps points between source and destination space;
// TProjectiveTransformation sends the four corners of SourceRect to four arbitrary points through a
// forward and a reverse 3x3 matrix (32-bit floats, with 16.16 copies for the per-pixel path).
// TTransformer and TNearestTransformer turn a destination pixel into a sample of the source's
// resampler; TRegularRasterizer visits the destination pixels and combines each sample by the
// source's draw mode. Transform ties the pieces together.
//
// Arithmetic is fixed to the bit: long double evaluation, every stored value rounded to float,
// float-to-integer conversions half to even. A zero-width or zero-height SourceRect raises
// EZeroDivide ("Floating point division by zero") when the matrices are computed.
#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>

#include "raster/Bitmap32.h"
#include "raster/Sampler.h"

namespace quirlon::raster {

using TSinglePoint = TFloatPoint;

// m[i][j]: i selects the input coordinate (x, y, 1), j the output (x', y', w); a point maps to
// (x'/w, y'/w) with x' = m[0][0]x + m[1][0]y + m[2][0] and so on.
using TSingleMatrix = std::array<std::array<float, 3>, 3>;
using TFixedMatrix16 = std::array<std::array<TFixed16, 3>, 3>;

inline constexpr TSingleMatrix kIdentityMatrix = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

// Bits 16..47 of the signed 64-bit product (rounds toward minus infinity).
inline constexpr TFixed16 FixedMultiply(TFixed16 a, TFixed16 b) {
  return static_cast<TFixed16>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(
      (static_cast<std::int64_t>(a) * static_cast<std::int64_t>(b)) >> 16)));
}

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
      const float q = UnitOver(z);
      sx = MulRoundSingle(sx, q);
      sy = MulRoundSingle(sy, q);
    }
    OutX = sx;
    OutY = sy;
    return true;
  }
  static bool MapFloat(const TSingleMatrix& M, float X, float Y, float& OutX, float& OutY);

  // 65536 / Z divided in extended precision and stored as float (Z != 0). The quotient is taken in
  // double, which rounds to the same float unless it lands exactly half-way between two floats; only
  // then is the slower extended division needed to round as it would.
  static float UnitOver(TFixed16 Z) {
    const double qd = 65536.0 / static_cast<double>(Z);
    if ((std::bit_cast<std::uint64_t>(qd) & 0x1FFFFFFFu) == 0x10000000u)
      return static_cast<float>(65536.0L / static_cast<long double>(Z));
    return static_cast<float>(qd);
  }

  // v x q evaluated exactly, rounded half to even, low 32 bits kept. Done in integers: a float has
  // a 24-bit mantissa, so the product of an int32 and that mantissa fits 64 bits exactly.
  // q must be a finite normal float with magnitude below 2^31.
  static std::int32_t MulRoundSingle(std::int32_t v, float q);

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

// Direct entry points into a sampler's three sample operations, resolved once when a chain is set
// up so that the per-pixel path needs no virtual dispatch for the classes it knows.
struct TSamplerEntries {
  TColor32 (*SampleInt)(TCustomSampler&, std::int32_t, std::int32_t) = nullptr;
  TColor32 (*SampleFixed)(TCustomSampler&, TFixed16, TFixed16) = nullptr;
  TColor32 (*SampleFloat)(TCustomSampler&, float, float) = nullptr;
};
TSamplerEntries ResolveSamplerEntries(const TCustomSampler& Sampler);

// The reverse-mapping entry points of a transformation, resolved the same way.
struct TReverseMapEntries {
  bool (*MapInt)(TTransformation&, std::int32_t, std::int32_t, std::int32_t&, std::int32_t&) = nullptr;
  bool (*MapFixed)(TTransformation&, TFixed16, TFixed16, TFixed16&, TFixed16&) = nullptr;
  bool (*MapFloat)(TTransformation&, float, float, float&, float&) = nullptr;
};
TReverseMapEntries ResolveReverseMapEntries(const TTransformation& Transformation);

// A sampler that forwards to another one. The nested sampler is not owned and must outlive this
// object. Without one, BeginSampling, EndSampling, HasSampleBounds and SampleBounds throw
// ENestedException("Nested sampler is nil").
class TNestedSampler : public TCustomSampler {
public:
  TNestedSampler() = default;
  explicit TNestedSampler(TCustomSampler* ASampler) { SetSampler(ASampler); }
  std::string ClassName() const override { return "TNestedSampler"; }

  TCustomSampler* Sampler() const { return fSampler; }
  void SetSampler(TCustomSampler* Value);

  void BeginSampling() override;
  void EndSampling() override;
  bool HasSampleBounds() const override;
  TRect SampleBounds() const override;

protected:
  TCustomSampler& Nested() const;  // throws when there is none
  TCustomSampler* fSampler = nullptr;
  TSamplerEntries fEntries;
};

// Samples the nested resampler through the reverse mapping of a transformation (not owned; it must
// outlive the transformer). A destination point without a source image samples as the source
// bitmap's OuterColor (0 when the nested sampler is not bound to a bitmap).
class TTransformer : public TNestedSampler {
public:
  TTransformer(TCustomSampler& ASampler, TTransformation& ATransformation);
  std::string ClassName() const override { return "TTransformer"; }

  TTransformation& Transformation() const { return *fTransformation; }
  void SetTransformation(TTransformation& Value);

  TColor32 SampleInt(std::int32_t X, std::int32_t Y) override;
  TColor32 SampleFixed(TFixed16 X, TFixed16 Y) override;
  TColor32 SampleFloat(float X, float Y) override;
  void BeginSampling() override;
  bool HasSampleBounds() const override;
  TRect SampleBounds() const override;

protected:
  TTransformation* fTransformation = nullptr;
  TReverseMapEntries fMap;
  TColor32 fOuterColor = 0;  // read from the source bitmap at BeginSampling
};

// Works in whole source pixels: the mapped point is rounded before the nested point sample.
class TNearestTransformer : public TTransformer {
public:
  using TTransformer::TTransformer;
  std::string ClassName() const override { return "TNearestTransformer"; }

  TColor32 SampleInt(std::int32_t X, std::int32_t Y) override;
  TColor32 SampleFixed(TFixed16 X, TFixed16 Y) override;
  TColor32 SampleFloat(float X, float Y) override;
};

// Creates the transformer class a resampler asks for (TBitmap32Resampler::TransformerType; any
// other sampler gets a TTransformer).
std::unique_ptr<TTransformer> CreateTransformer(TCustomSampler& Sampler, TTransformation& Transformation);

struct TCombineParams {
  std::uint32_t MasterAlpha = 255;
  TDrawMode DrawMode = dmOpaque;
  TCombineMode CombineMode = cmBlend;
  TPixelCombineEvent CombineCallback;
  TColor32 TransparentColor = 0xFF000000u;
};

// Visits destination pixels and stores samples of Sampler (not owned) into them.
class TRasterizer : public TThreadPersistent {
public:
  TRasterizer();
  std::string ClassName() const override { return "TRasterizer"; }

  TCustomSampler* Sampler() const { return fSampler; }
  void SetSampler(TCustomSampler* Value);
  const TCombineParams& CombineParams() const { return fParams; }

  // Reads MasterAlpha, DrawMode, CombineMode, OnPixelCombine and OuterColor (as the transparent
  // colour) from Src; dmCustom without a callback becomes dmOpaque.
  void Assign(const TBitmap32& Src);

  // Fills DstRect of Dst (limited to Dst's bounds and the sampler's bounds) with combined samples.
  // Dst's update counter is restored and EndSampling called also when an error passes.
  void Render(TBitmap32& Dst, const TRect& DstRect, const TBitmap32& Src);

  virtual void RenderRows(TBitmap32& Dst, const TRect& Area) = 0;

  // Stores sample C into destination pixel P by the current parameters.
  void CombinePixel(TColor32& P, TColor32 C) { fCombine(*this, P, C); }
  // The pixel blend of the combine mode, chosen with CombinePixel (dmBlend only).
  using TBlendPixelEntry = void (*)(TColor32 F, TColor32& B, std::uint32_t M);
  TBlendPixelEntry BlendPixelEntry() const { return fBlendPixel; }

protected:
  void ChooseCombine();

  TCustomSampler* fSampler = nullptr;
  TSamplerEntries fSamplerEntries;
  TCombineParams fParams;
  void (*fCombine)(TRasterizer&, TColor32&, TColor32) = nullptr;
  TBlendPixelEntry fBlendPixel = nullptr;
};

// Row by row, left to right. UpdateRowCount > 0 reports the rows done to Dst every that many rows;
// the rows left over are reported once at the end.
class TRegularRasterizer : public TRasterizer {
public:
  std::string ClassName() const override { return "TRegularRasterizer"; }
  std::int32_t UpdateRowCount() const { return fUpdateRowCount; }
  void SetUpdateRowCount(std::int32_t Value) { fUpdateRowCount = Value; }

  void RenderRows(TBitmap32& Dst, const TRect& Area) override;

private:
  std::int32_t fUpdateRowCount = 0;
};

using TRasterizerClass = std::unique_ptr<TRasterizer> (*)();
template <class R>
std::unique_ptr<TRasterizer> MakeRasterizer() {
  return std::make_unique<R>();
}
// The rasterizer that the short forms of Transform create.
inline constexpr TRasterizerClass TransformRasterizerClass = &MakeRasterizer<TRegularRasterizer>;

// Draws Src into Dst through Transformation: only pixels inside the transformed bounding box, Dst's
// clip rectangle and DstClip are visited, each combined by Src's DrawMode, CombineMode and
// MasterAlpha. The forms without a rasterizer create (and free) a TransformRasterizerClass one; the
// forms without DstClip use Dst's bounds.
void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation);
void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation, const TRect& DstClip);
void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation, TRasterizer& Rasterizer);
void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation, const TRect& DstClip,
               TRasterizer& Rasterizer);

}  // namespace quirlon::raster
