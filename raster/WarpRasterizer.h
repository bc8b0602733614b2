#pragma once
// Drawing a source bitmap onto a quadrilateral of a destination bitmap.
//
// WarpNearest is the warp the renderer uses: nearest sampling through a projective mapping, rows
// stepped in 16.16 sums and shared between two threads. Transform is the general form over any
// transformation and any sampler: a rasterizer visits the destination pixels and combines each
// sample by the source's draw mode. For a source with its default nearest resampler the two give
// the same pixels.
#include <cstdint>
#include <memory>
#include <string>

#include <optional>

#include "raster/Blend.h"
#include "raster/ProjectiveTransformation.h"
#include "raster/TransformSamplers.h"

namespace quirlon::raster {

struct TCombineParams {
  std::uint32_t MasterAlpha = 255;
  TDrawMode DrawMode = dmOpaque;
  TCombineMode CombineMode = cmBlend;
  TPixelCombineEvent CombineCallback;
  TColor32 TransparentColor = 0xFF000000u;
};

// Visits destination pixels and stores samples of Sampler (not owned) into them.
class TRasterizer : public TNotifiablePersistent {
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

  // Stores sample C into destination pixel P by the current parameters (BlendPixel's weight when
  // blending).
  void CombinePixel(TColor32& P, TColor32 C) const { fCombiner->Put(&C, &P, 1); }

protected:
  void ChooseCombine();

  TCustomSampler* fSampler = nullptr;
  TSamplerEntries fSamplerEntries;
  TCombineParams fParams;
  std::optional<TRowCombiner> fCombiner;  // over fParams
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

// The renderer's warp: Src through Mapping onto Dst, nearest sampling (a mapped point rounds to the
// pixel whose centre is nearest, halves down; a point outside Src's clip rectangle, or without an
// image, samples as Src's OuterColor), each pixel combined by Src's DrawMode, CombineMode and
// MasterAlpha with BlendPixel's weight. Only pixels inside the mapping's bounds, Dst's clip
// rectangle and DstClip are visited; rows are shared between two threads. Reports the visited area
// to Dst and returns it (empty when nothing is visited). The same pixels as Transform for a source
// with its default resampler.
TRect WarpNearest(TBitmap32& Dst, const TBitmap32& Src, TProjectiveTransformation& Mapping, const TRect& DstClip);

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
