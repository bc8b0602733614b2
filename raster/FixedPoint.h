#pragma once
// 16.16 fixed-point arithmetic of the warp, fixed to the bit: products keep bits 16..47 of the
// 64-bit product, quotients and rounded products follow the extended-precision rules.
#include <bit>
#include <cstdint>

#include "raster/Color.h"

namespace quirlon::raster {

// Bits 16..47 of the signed 64-bit product (rounds toward minus infinity).
inline constexpr TFixed16 FixedMultiply(TFixed16 a, TFixed16 b) {
  return static_cast<TFixed16>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(
      (static_cast<std::int64_t>(a) * static_cast<std::int64_t>(b)) >> 16)));
}

// 65536 / Z divided in extended precision and stored as float (Z != 0). The quotient is taken in
// double, which rounds to the same float unless it lands exactly half-way between two floats; only
// then is the slower extended division needed to round as it would.
inline float FixedUnitOver(TFixed16 Z) {
  const double qd = 65536.0 / static_cast<double>(Z);
  if ((std::bit_cast<std::uint64_t>(qd) & 0x1FFFFFFFu) == 0x10000000u)
    return static_cast<float>(65536.0L / static_cast<long double>(Z));
  return static_cast<float>(qd);
}

// v x q evaluated exactly, rounded half to even, low 32 bits kept. Done in integers: a float has
// a 24-bit mantissa, so the product of an int32 and that mantissa fits 64 bits exactly.
// q must be a finite normal float with magnitude below 2^31.
std::int32_t MulRoundSingle(std::int32_t v, float q);

}  // namespace quirlon::raster
