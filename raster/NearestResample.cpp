#include "raster/Resamplers.h"

namespace quirlon::raster {

void TNearestResampler::Resample(TBitmap32& Dst, const TRect& DstRect, const TRect& DstClip, const TBitmap32& Src,
                                 const TRect& SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallback) {
  NearestStretch(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallback);
}

}  // namespace quirlon::raster
