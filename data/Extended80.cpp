#include "data/Extended80.h"

#include <bit>
#include <cstring>
#include <limits>

namespace kv {

namespace {

constexpr int kExtendedBias = 16383;
constexpr int kDoubleBias = 1023;

// value >> shift, rounded to nearest with ties to even; shift may exceed 63.
std::uint64_t ShiftRightRounded(std::uint64_t value, int shift)
{
    if (shift <= 0)
        return value;
    if (shift > 64)
        return 0;
    const std::uint64_t kept = shift == 64 ? 0 : value >> shift;
    const std::uint64_t rest = shift == 64 ? value : value & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (kept & 1)))
        return kept + 1;
    return kept;
}

} // namespace

Extended80 DoubleToExtended(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint16_t sign = static_cast<std::uint16_t>(bits >> 63);
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);

    std::uint64_t mantissa = 0;
    int biased = 0;
    if (exponent == 0x7FF) {
        biased = 0x7FFF;
        mantissa = (std::uint64_t{1} << 63) | (fraction << 11);
    } else if (exponent == 0) {
        if (fraction != 0) {
            // A double subnormal is an ordinary normal number in the wider format.
            const int lz = std::countl_zero(fraction);
            mantissa = fraction << lz;
            biased = kExtendedBias + (63 - lz) - 1074;
        }
    } else {
        mantissa = (std::uint64_t{1} << 63) | (fraction << 11);
        biased = exponent - kDoubleBias + kExtendedBias;
    }

    Extended80 out{};
    for (int i = 0; i < 8; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(mantissa >> (8 * i));
    const std::uint16_t top = static_cast<std::uint16_t>((sign << 15) | biased);
    out[8] = static_cast<std::uint8_t>(top);
    out[9] = static_cast<std::uint8_t>(top >> 8);
    return out;
}

double ExtendedToDouble(const std::uint8_t* bytes)
{
    std::uint64_t mantissa = 0;
    for (int i = 0; i < 8; ++i)
        mantissa |= std::uint64_t{bytes[i]} << (8 * i);
    const std::uint16_t top = static_cast<std::uint16_t>(bytes[8] | (bytes[9] << 8));
    const bool negative = top & 0x8000;
    const int biased = top & 0x7FFF;
    const std::uint64_t signBit = negative ? std::uint64_t{1} << 63 : 0;

    auto make = [signBit](std::uint64_t bits) {
        bits |= signBit;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    };

    if (biased == 0x7FFF) {
        if ((mantissa << 1) == 0)
            return make(std::uint64_t{0x7FF} << 52);
        // Keep the payload's top bits and make sure the result stays a NaN.
        return make((std::uint64_t{0x7FF} << 52) | (std::uint64_t{1} << 51) | ((mantissa << 1) >> 12));
    }
    if (mantissa == 0)
        return make(0);

    // value = mantissa * 2^(e - 63); normalise so the top bit is set.
    int e = (biased == 0 ? 1 : biased) - kExtendedBias;
    const int lz = std::countl_zero(mantissa);
    mantissa <<= lz;
    e -= lz;

    if (e > kDoubleBias)
        return make(std::uint64_t{0x7FF} << 52);
    if (e >= 1 - kDoubleBias) {
        std::uint64_t m = ShiftRightRounded(mantissa, 11); // 53 bits, maybe 54 after rounding
        if (m >> 53) {
            m >>= 1;
            ++e;
            if (e > kDoubleBias)
                return make(std::uint64_t{0x7FF} << 52);
        }
        const std::uint64_t exponent = static_cast<std::uint64_t>(e + kDoubleBias);
        return make((exponent << 52) | (m & ((std::uint64_t{1} << 52) - 1)));
    }
    // Subnormal result: count in units of 2^-1074. Rounding up may reach the
    // smallest normal, whose bit pattern follows on naturally.
    const int shift = 63 - (e + 1074);
    return make(ShiftRightRounded(mantissa, shift));
}

} // namespace kv
