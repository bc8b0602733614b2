#pragma once
// The cover composition's warp, masks and effect routines.
#include "core/QuadWarp.h"
