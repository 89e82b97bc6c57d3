#include "tools/modemsim/Ucs2Hex.h"

#include "data/Text.h"

#include <cstdint>

namespace kv::modemsim {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Decodes one UTF-8 sequence at `pos`; returns its length in bytes (at least 1),
// the code point in `cp` (U+FFFD for anything malformed).
size_t DecodeOne(std::string_view s, size_t pos, char32_t& cp)
{
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2; value = b0 & 0x1F; minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3; value = b0 & 0x0F; minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4; value = b0 & 0x07; minimum = 0x10000;
    } else {
        cp = kReplacement;
        return 1;
    }
    if (pos + length > s.size()) {
        cp = kReplacement;
        return 1;
    }
    for (size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80) {
            cp = kReplacement;
            return 1;
        }
        value = (value << 6) | (b & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        cp = kReplacement;
        return 1;
    }
    cp = value;
    return length;
}

void AppendUnit(std::string& out, std::uint16_t unit)
{
    for (int shift = 12; shift >= 0; shift -= 4)
        out.push_back(kHexDigits[(unit >> shift) & 0xF]);
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendEscaped(std::string& out, unsigned char b)
{
    switch (b) {
    case '\r': out += "\\r"; return;
    case '\n': out += "\\n"; return;
    case '\t': out += "\\t"; return;
    case '\\': out += "\\\\"; return;
    default: break;
    }
    if (b >= 0x20 && b < 0x7F) {
        out.push_back(static_cast<char>(b));
        return;
    }
    out += "\\x";
    constexpr char kLower[] = "0123456789abcdef";
    out.push_back(kLower[b >> 4]);
    out.push_back(kLower[b & 0xF]);
}

} // namespace

std::string Utf8ToUcs2Hex(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size() * 4);
    for (size_t pos = 0; pos < utf8.size();) {
        char32_t cp = 0;
        pos += DecodeOne(utf8, pos, cp);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            AppendUnit(out, static_cast<std::uint16_t>(0xD800 + (v >> 10)));
            AppendUnit(out, static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            AppendUnit(out, static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

std::optional<std::string> Ucs2HexToUtf8(std::string_view hex)
{
    if (hex.size() % 4 != 0)
        return std::nullopt;
    std::string out;
    char32_t pendingHigh = 0;
    for (size_t pos = 0; pos < hex.size(); pos += 4) {
        char32_t unit = 0;
        for (size_t i = 0; i < 4; ++i) {
            const int v = HexDigitValue(hex[pos + i]);
            if (v < 0)
                return std::nullopt;
            unit = (unit << 4) | static_cast<char32_t>(v);
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (pendingHigh)
                AppendUtf8(out, kReplacement);
            pendingHigh = unit;
            continue;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (pendingHigh)
                AppendUtf8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00));
            else
                AppendUtf8(out, kReplacement);
            pendingHigh = 0;
            continue;
        }
        if (pendingHigh) {
            AppendUtf8(out, kReplacement);
            pendingHigh = 0;
        }
        AppendUtf8(out, unit);
    }
    if (pendingHigh)
        AppendUtf8(out, kReplacement);
    return out;
}

std::string Utf8ToIra(std::string_view utf8)
{
    std::string out;
    for (size_t pos = 0; pos < utf8.size();) {
        char32_t cp = 0;
        pos += DecodeOne(utf8, pos, cp);
        out.push_back(cp < 0x80 ? static_cast<char>(cp) : '?');
    }
    return out;
}

std::string EscapeBytes(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes)
        AppendEscaped(out, static_cast<unsigned char>(c));
    return out;
}

std::string EscapeText(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[pos]);
        if (b < 0x80) {
            AppendEscaped(out, b);
            ++pos;
            continue;
        }
        char32_t cp = 0;
        const size_t length = DecodeOne(utf8, pos, cp);
        if (cp == kReplacement && length == 1) {
            AppendEscaped(out, b);
        } else {
            out.append(utf8.substr(pos, length));
        }
        pos += length;
    }
    return out;
}

std::string UnescapeText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c != '\\' || pos + 1 >= text.size()) {
            out.push_back(c);
            continue;
        }
        const char next = text[pos + 1];
        switch (next) {
        case 'r': out.push_back('\r'); ++pos; continue;
        case 'n': out.push_back('\n'); ++pos; continue;
        case 't': out.push_back('\t'); ++pos; continue;
        case '\\': out.push_back('\\'); ++pos; continue;
        case 'x':
            if (pos + 3 < text.size() && HexDigitValue(text[pos + 2]) >= 0 && HexDigitValue(text[pos + 3]) >= 0) {
                out.push_back(static_cast<char>(HexDigitValue(text[pos + 2]) * 16 + HexDigitValue(text[pos + 3])));
                pos += 3;
                continue;
            }
            break;
        default:
            break;
        }
        out.push_back(c);
    }
    return out;
}

} // namespace kv::modemsim
