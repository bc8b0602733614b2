#include "raster/TransformSamplers.h"

#include <typeinfo>

#include "raster/Errors.h"
#include "raster/Numeric.h"

namespace quirlon::raster {

// ---------------------------------------------------------------------------------------------
// Entry points

namespace {

// Qualified calls: no virtual dispatch once the exact class is known.
template <class S>
TSamplerEntries DirectSamplerEntries() {
  return TSamplerEntries{
      [](TCustomSampler& s, std::int32_t x, std::int32_t y) { return static_cast<S&>(s).S::SampleInt(x, y); },
      [](TCustomSampler& s, TFixed16 x, TFixed16 y) { return static_cast<S&>(s).S::SampleFixed(x, y); },
      [](TCustomSampler& s, float x, float y) { return static_cast<S&>(s).S::SampleFloat(x, y); }};
}

}  // namespace

TSamplerEntries ResolveSamplerEntries(const TCustomSampler& Sampler) {
  const std::type_info& type = typeid(Sampler);
  if (type == typeid(TNearestResampler)) return DirectSamplerEntries<TNearestResampler>();
  if (type == typeid(TNearestTransformer)) return DirectSamplerEntries<TNearestTransformer>();
  if (type == typeid(TTransformer)) return DirectSamplerEntries<TTransformer>();
  // Any other class: through its virtual table.
  return TSamplerEntries{
      [](TCustomSampler& s, std::int32_t x, std::int32_t y) { return s.SampleInt(x, y); },
      [](TCustomSampler& s, TFixed16 x, TFixed16 y) { return s.SampleFixed(x, y); },
      [](TCustomSampler& s, float x, float y) { return s.SampleFloat(x, y); }};
}

TReverseMapEntries ResolveReverseMapEntries(const TTransformation& Transformation) {
  if (typeid(Transformation) == typeid(TProjectiveTransformation)) {
    // The integer form is the base one over MapToSourceFixed, written out.
    return TReverseMapEntries{
        [](TTransformation& t, std::int32_t x, std::int32_t y, std::int32_t& sx, std::int32_t& sy) {
          TFixed16 fx, fy;
          if (!TProjectiveTransformation::MapFixed(static_cast<TProjectiveTransformation&>(t).ReverseFixed(),
                                                   FixedFromInt(x), FixedFromInt(y), fx, fy))
            return false;
          sx = FixedRoundHalfDown(fx);
          sy = FixedRoundHalfDown(fy);
          return true;
        },
        [](TTransformation& t, TFixed16 x, TFixed16 y, TFixed16& sx, TFixed16& sy) {
          return TProjectiveTransformation::MapFixed(static_cast<TProjectiveTransformation&>(t).ReverseFixed(), x, y,
                                                     sx, sy);
        },
        [](TTransformation& t, float x, float y, float& sx, float& sy) {
          return TProjectiveTransformation::MapFloat(static_cast<TProjectiveTransformation&>(t).ReverseMatrix(), x, y,
                                                     sx, sy);
        }};
  }
  return TReverseMapEntries{
      [](TTransformation& t, std::int32_t x, std::int32_t y, std::int32_t& sx, std::int32_t& sy) {
        return t.MapToSourceInt(x, y, sx, sy);
      },
      [](TTransformation& t, TFixed16 x, TFixed16 y, TFixed16& sx, TFixed16& sy) {
        return t.MapToSourceFixed(x, y, sx, sy);
      },
      [](TTransformation& t, float x, float y, float& sx, float& sy) { return t.MapToSource(x, y, sx, sy); }};
}

// ---------------------------------------------------------------------------------------------
// Nested samplers and transformers

void TNestedSampler::SetSampler(TCustomSampler* Value) {
  fSampler = Value;
  fEntries = Value ? ResolveSamplerEntries(*Value) : TSamplerEntries{};
}

TCustomSampler& TNestedSampler::Nested() const {
  if (!fSampler) throw ENestedException("Nested sampler is nil");
  return *fSampler;
}

void TNestedSampler::BeginSampling() { Nested().BeginSampling(); }
void TNestedSampler::EndSampling() { Nested().EndSampling(); }
bool TNestedSampler::HasSampleBounds() const { return Nested().HasSampleBounds(); }
TRect TNestedSampler::SampleBounds() const { return Nested().SampleBounds(); }

TTransformer::TTransformer(TCustomSampler& ASampler, TTransformation& ATransformation) {
  SetTransformation(ATransformation);
  SetSampler(&ASampler);
}

void TTransformer::SetTransformation(TTransformation& Value) {
  fTransformation = &Value;
  fMap = ResolveReverseMapEntries(Value);
}

TColor32 TTransformer::SampleInt(std::int32_t X, std::int32_t Y) {
  TFixed16 u, v;
  if (!fMap.MapFixed(*fTransformation, FixedFromInt(X), FixedFromInt(Y), u, v)) return fOuterColor;
  return fEntries.SampleFixed(*fSampler, u, v);
}

TColor32 TTransformer::SampleFixed(TFixed16 X, TFixed16 Y) {
  TFixed16 u, v;
  if (!fMap.MapFixed(*fTransformation, X, Y, u, v)) return fOuterColor;
  return fEntries.SampleFixed(*fSampler, u, v);
}

TColor32 TTransformer::SampleFloat(float X, float Y) {
  float u, v;
  if (!fMap.MapFloat(*fTransformation, X, Y, u, v)) return fOuterColor;
  return fEntries.SampleFloat(*fSampler, u, v);
}

void TTransformer::BeginSampling() {
  TCustomSampler& nested = Nested();
  nested.BeginSampling();
  const auto* bound = dynamic_cast<const TBitmap32Resampler*>(&nested);
  fOuterColor = bound ? bound->Bitmap().OuterColor() : 0;
  if (!fTransformation->MatricesValid()) fTransformation->UpdateMatrices();
}

bool TTransformer::HasSampleBounds() const { return fTransformation->BoundsKnown() && Nested().HasSampleBounds(); }

TRect TTransformer::SampleBounds() const {
  return fTransformation->MappedBounds(ToSingleRect(Nested().SampleBounds()));
}

TColor32 TNearestTransformer::SampleInt(std::int32_t X, std::int32_t Y) {
  std::int32_t u, v;
  if (!fMap.MapInt(*fTransformation, X, Y, u, v)) return fOuterColor;
  return fEntries.SampleInt(*fSampler, u, v);
}

TColor32 TNearestTransformer::SampleFixed(TFixed16 X, TFixed16 Y) {
  TFixed16 u, v;
  if (!fMap.MapFixed(*fTransformation, X, Y, u, v)) return fOuterColor;
  return fEntries.SampleInt(*fSampler, u >> 16, v >> 16);
}

TColor32 TNearestTransformer::SampleFloat(float X, float Y) {
  float u, v;
  if (!fMap.MapFloat(*fTransformation, X, Y, u, v)) return fOuterColor;
  return fEntries.SampleInt(*fSampler, Round(u), Round(v));
}

std::unique_ptr<TTransformer> CreateTransformer(TCustomSampler& Sampler, TTransformation& Transformation) {
  const auto* bound = dynamic_cast<const TBitmap32Resampler*>(&Sampler);
  if (bound && bound->TransformerType() == ttNearestTransformer)
    return std::make_unique<TNearestTransformer>(Sampler, Transformation);
  return std::make_unique<TTransformer>(Sampler, Transformation);
}

}  // namespace quirlon::raster
