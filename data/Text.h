#pragma once
// Station text is a std::string of code page 1251 bytes. Russian literals are
// written in UTF-8 in the source and turned into those bytes at compile time:
//     "Тревога"_cp   ->  std::string_view of D2 F0 E5 E2 EE E3 E0
// Only the characters the station's own texts use are accepted (ASCII, the
// Russian alphabet with Ё/ё, №, «», °); anything else fails to compile.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

namespace text_detail {

template <std::size_t N>
struct Utf8Literal {
    char bytes[N]{};
    consteval Utf8Literal(const char (&s)[N])
    {
        for (std::size_t i = 0; i < N; ++i)
            bytes[i] = s[i];
    }
};

template <std::size_t N>
struct Cp1251Buffer {
    char bytes[N]{};
    std::size_t size = 0;
};

consteval unsigned char CodePointToCp1251(char32_t cp)
{
    if (cp < 0x80)
        return static_cast<unsigned char>(cp);
    if (cp >= 0x0410 && cp <= 0x044F)
        return static_cast<unsigned char>(cp - 0x0350);
    switch (cp) {
    case 0x0401: return 0xA8; // Ё
    case 0x0451: return 0xB8; // ё
    case 0x2116: return 0xB9; // №
    case 0x2026: return 0x85; // …
    case 0x00AB: return 0xAB; // «
    case 0x00BB: return 0xBB; // »
    case 0x00B0: return 0xB0; // °
    default: throw "character has no code page 1251 byte in the station's literal set";
    }
}

template <Utf8Literal L>
consteval auto ConvertLiteral()
{
    Cp1251Buffer<sizeof(L.bytes)> out;
    const std::size_t n = sizeof(L.bytes) - 1; // without the terminating zero
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(L.bytes[i]);
        char32_t cp = 0;
        std::size_t len = 0;
        if (c < 0x80) { cp = c; len = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; }
        else throw "invalid UTF-8 in a station literal";
        if (i + len > n)
            throw "truncated UTF-8 in a station literal";
        for (std::size_t k = 1; k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(L.bytes[i + k]);
            if ((cc & 0xC0) != 0x80)
                throw "invalid UTF-8 in a station literal";
            cp = (cp << 6) | (cc & 0x3F);
        }
        out.bytes[out.size++] = static_cast<char>(CodePointToCp1251(cp));
        i += len;
    }
    return out;
}

template <Utf8Literal L>
inline constexpr auto kConverted = ConvertLiteral<L>();

} // namespace text_detail

inline namespace literals {
template <text_detail::Utf8Literal L>
consteval std::string_view operator""_cp()
{
    return std::string_view(text_detail::kConverted<L>.bytes, text_detail::kConverted<L>.size);
}
} // namespace literals

// Station text built from a literal, for places that want an owning string.
inline std::string Str(std::string_view s) { return std::string(s); }

// The text without the blanks and tabs around it.
inline std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// The same, line breaks around it also gone (a modem's lines).
inline std::string_view TrimBlanksAndBreaks(std::string_view s)
{
    constexpr auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

// 0 to 15 for a hex digit of either case, -1 for anything else.
inline int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The pieces between separators, empty ones kept: "a,,b" gives three.
inline std::vector<std::string_view> SplitFields(std::string_view s, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = s.find(separator);
        parts.push_back(s.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        s.remove_prefix(at + 1);
    }
}

} // namespace kv
