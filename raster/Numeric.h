#pragma once
// Floating-point rules of the system: expressions in extended precision (long double), stores
// rounded to float where a value is "stored as a 32-bit float", conversions to integers round to
// nearest with ties to even, and division by zero / invalid operations raise instead of producing
// infinities or NaNs.
#include <cfenv>
#include <cmath>
#include <cstdint>

#include "raster/Errors.h"

namespace quirlon {

using Extended = long double;

// Round to nearest, ties to even (the default rounding mode); raises on NaN or out-of-range.
inline std::int64_t RoundInt64(Extended v) {
  if (std::isnan(v)) throw EInvalidOp(kFloatInvalidOp);
  if (!(v >= -9223372036854775808.0L && v < 9223372036854775808.0L)) throw EInvalidOp(kFloatInvalidOp);
  return std::llrint(v);
}

// Round to nearest, ties to even, into int32; raises when the result does not fit.
inline std::int32_t Round(Extended v) {
  const std::int64_t r = RoundInt64(v);
  if (r < INT32_MIN || r > INT32_MAX) throw EInvalidOp(kFloatInvalidOp);
  return static_cast<std::int32_t>(r);
}

// Truncation towards zero, floor and ceiling with the same range checks.
inline std::int32_t Trunc(Extended v) { return Round(std::trunc(v)); }
inline std::int32_t Floor(Extended v) { return Round(std::floor(v)); }
inline std::int32_t Ceil(Extended v) { return Round(std::ceil(v)); }

// Division that raises "Floating point division by zero" instead of yielding an infinity.
inline Extended Divide(Extended a, Extended b) {
  if (b == 0.0L) {
    if (a == 0.0L || std::isnan(a)) throw EInvalidOp(kFloatInvalidOp);
    throw EZeroDivide(kFloatDivByZero);
  }
  const Extended r = a / b;
  if (std::isinf(r)) throw EOverflow(kFloatOverflow);
  return r;
}

// A store into a 32-bit float variable: rounds, and raises when the value overflows float.
inline float StoreSingle(Extended v) {
  if (std::isnan(v)) throw EInvalidOp(kFloatInvalidOp);
  const float f = static_cast<float>(v);
  if (std::isinf(f) && !std::isinf(v)) throw EOverflow(kFloatOverflow);
  return f;
}

}  // namespace quirlon
