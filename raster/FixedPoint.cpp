#include "raster/FixedPoint.h"

namespace quirlon::raster {

std::int32_t MulRoundSingle(std::int32_t v, float q) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(q);
  const int exponent = static_cast<int>((bits >> 23) & 0xFF);
  std::int64_t mant = bits & 0x7FFFFF;
  if (exponent != 0) mant |= 0x800000;
  if (bits >> 31) mant = -mant;
  // q = mant x 2^-shift
  const int shift = (exponent != 0 ? 150 : 149) - exponent;
  const std::int64_t p = static_cast<std::int64_t>(v) * mant;  // |p| < 2^55
  if (shift <= 0)
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(p) << -shift));
  if (shift > 57) return 0;  // |v x q| < 1/4
  std::int64_t r = p >> shift;  // floor
  const std::uint64_t rem = static_cast<std::uint64_t>(p - static_cast<std::int64_t>(static_cast<std::uint64_t>(r) << shift));
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  if (rem > half || (rem == half && (r & 1))) ++r;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(r)));
}

}  // namespace quirlon::raster
