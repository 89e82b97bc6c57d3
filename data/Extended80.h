#pragma once
// The 10-byte extended-precision real of the table files: a 64-bit mantissa
// with an explicit leading bit, then a 15-bit exponent biased by 16383 and the
// sign, little-endian. Converted exactly to and from double (rounding to
// nearest, ties to even, where the double has fewer bits).
#include <array>
#include <cstdint>

namespace kv {

using Extended80 = std::array<std::uint8_t, 10>;

Extended80 DoubleToExtended(double value);
double ExtendedToDouble(const std::uint8_t* bytes);
inline double ExtendedToDouble(const Extended80& e) { return ExtendedToDouble(e.data()); }

} // namespace kv
