#include "codec/Number.h"

#include "data/Text.h"

#include <charconv>
#include <cmath>

namespace kv {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

std::optional<std::int64_t> TextToInt(std::string_view text)
{
    std::string_view s = TrimBlanks(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || !IsDigit(s.front()))
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<double> TextToFloat(std::string_view text)
{
    std::string_view s = TrimBlanks(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    // from_chars would also take "inf" and "nan"; a number starts with a digit or a point.
    if (s.empty() || !(IsDigit(s.front()) || (s.front() == '.' && s.size() > 1 && IsDigit(s[1]))))
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

} // namespace kv
