#pragma once
// Samplers that look at a source through a transformation: a destination point is mapped back
// into the source and sampled there by the source's resampler.
#include <memory>
#include <string>

#include "raster/ProjectiveTransformation.h"
#include "raster/Sampler.h"

namespace quirlon::raster {

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

}  // namespace quirlon::raster
