#pragma once
// Sampler base classes and the resampler bound to one bitmap. A TBitmap32Resampler reads its
// bitmap; the bitmap owns it. The point sample of TNearestResampler is what every warp reads.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"

namespace quirlon::raster {

enum TPixelAccessMode : std::uint8_t { pamUnsafe, pamSafe, pamWrap, pamTransparentEdge };

// Which transformer class Transform builds for a resampler.
enum TTransformerType : std::uint8_t { ttTransformer, ttNearestTransformer };

class TCustomSampler : public TNotifiablePersistent {
public:
  std::string ClassName() const override { return "TCustomSampler"; }
  // The defaults call one another: a subclass overrides SampleFixed or SampleFloat.
  virtual TColor32 SampleInt(std::int32_t X, std::int32_t Y);
  virtual TColor32 SampleFixed(TFixed16 X, TFixed16 Y);
  virtual TColor32 SampleFloat(float X, float Y);
  virtual void BeginSampling() {}
  virtual void EndSampling() {}
  virtual bool HasSampleBounds() const { return false; }
  virtual TRect SampleBounds() const;
};

class TCustomResampler : public TCustomSampler {
public:
  std::string ClassName() const override { return "TCustomResampler"; }
  virtual float SampleWidth() const = 0;
  // Draws SrcRect of Src into DstRect of Dst, limited to the clipped, non-empty DstClip, combining
  // each written pixel by CombineOp.
  virtual void Resample(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                        const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) = 0;
  // Copies the published settings of Source (same class or a base of it).
  virtual void AssignSettings(const TCustomResampler& Source) { (void)Source; }
};

class TBitmap32Resampler : public TCustomResampler {
public:
  // Binds to Bitmap; MakeResampler installs it as the bitmap's resampler.
  explicit TBitmap32Resampler(TBitmap32& Bitmap);
  std::string ClassName() const override { return "TBitmap32Resampler"; }

  TBitmap32& Bitmap() const { return *fBitmap; }
  TTransformerType TransformerType() const { return fTransformerType; }
  TPixelAccessMode PixelAccessMode() const { return fPixelAccessMode; }
  void SetPixelAccessMode(TPixelAccessMode Value);

  void Changed() override;  // also notifies the bitmap
  void BeginSampling() override;
  bool HasSampleBounds() const override { return true; }
  TRect SampleBounds() const override;
  void AssignSettings(const TCustomResampler& Source) override;
  // The bitmap's clip rectangle as copied at BeginSampling: where pamSafe sampling reads pixels.
  const TRect& SamplingClipRect() const { return fClipRect; }

protected:
  TBitmap32* fBitmap;
  TRect fClipRect{};  // the bitmap's clip rectangle, copied at BeginSampling
  TTransformerType fTransformerType = ttTransformer;
  TPixelAccessMode fPixelAccessMode = pamSafe;
};

class TNearestResampler : public TBitmap32Resampler {
public:
  explicit TNearestResampler(TBitmap32& Bitmap);
  std::string ClassName() const override { return "TNearestResampler"; }

  float SampleWidth() const override { return 1.0f; }
  void Resample(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) override;

  TColor32 SampleInt(std::int32_t X, std::int32_t Y) override { return PointSample(X, Y); }
  TColor32 SampleFixed(TFixed16 X, TFixed16 Y) override;   // FixedRoundHalfDown on both
  TColor32 SampleFloat(float X, float Y) override;         // rounded half to even
  void BeginSampling() override;                            // picks PointSample by access mode

  // The pixel by PixelAccessMode; valid between BeginSampling and EndSampling.
  TColor32 PointSample(std::int32_t X, std::int32_t Y) const;

private:
  TColor32 (TNearestResampler::*fPointSample)(std::int32_t, std::int32_t) const = nullptr;
  TColor32 PointUnsafe(std::int32_t X, std::int32_t Y) const;
  TColor32 PointSafe(std::int32_t X, std::int32_t Y) const;
  TColor32 PointWrap(std::int32_t X, std::int32_t Y) const;
  TColor32 PointTransparentEdge(std::int32_t X, std::int32_t Y) const;
};

// The resampler class registry: classes in registration order (TNearestResampler, TLinearResampler,
// TDraftResampler, TKernelResampler), looked up by exact class name, first match. Create returns a
// new resampler bound to Bitmap; the caller installs it (TBitmap32::SetResampler).
struct TResamplerClass {
  std::string Name;
  std::unique_ptr<TCustomResampler> (*Create)(TBitmap32& Bitmap);
};
const std::vector<TResamplerClass>& ResamplerRegistry();
const TResamplerClass* FindResamplerClass(const std::string& Name);  // nullptr when unknown

// Creates a resampler of class R for Bitmap and makes it the bitmap's resampler.
template <class R, class... Args>
R& MakeResampler(TBitmap32& Bitmap, Args&&... args) {
  auto owned = std::make_unique<R>(Bitmap, std::forward<Args>(args)...);
  R& ref = *owned;
  Bitmap.AdoptResampler(std::move(owned));
  return ref;
}

}  // namespace quirlon::raster
