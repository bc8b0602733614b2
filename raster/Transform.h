#pragma once
// Mapping a source bitmap onto an arbitrary quadrilateral of a destination bitmap: the fixed-point
// arithmetic, the projective transformation, the samplers that look through it, and the warp.
#include "raster/FixedPoint.h"
#include "raster/ProjectiveTransformation.h"
#include "raster/TransformSamplers.h"
#include "raster/WarpRasterizer.h"
