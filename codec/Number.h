#pragma once
// Numbers in modem replies and register fields, read the way the station has
// always read them: "." as the decimal separator, surrounding blanks allowed,
// anything else makes the text not a number.
#include <cstdint>
#include <optional>
#include <string_view>

namespace kv {

// Decimal integer with an optional sign.
std::optional<std::int64_t> TextToInt(std::string_view text);
// Decimal number with an optional sign, fraction and exponent; no "inf", "nan"
// and no comma.
std::optional<double> TextToFloat(std::string_view text);

} // namespace kv
