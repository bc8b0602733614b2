#include "raster/Errors.h"
#include "raster/Sampler.h"

namespace quirlon::raster {

void TNearestResampler::Resample(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                                 const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) {
  (void)Dst, (void)DstRect, (void)DstClip, (void)Src, (void)SrcRect, (void)CombineOp, (void)CombineCallback;
  throw EBitmapException("Stretching is not available");
}

}  // namespace quirlon::raster
