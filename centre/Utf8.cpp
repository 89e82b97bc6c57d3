#include "centre/Utf8.h"

#include "codec/Ucs2.h"

namespace kv {

namespace {

constexpr char32_t kNulStandIn = 0x2400;

void PutUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

std::string Utf8FromCp1251(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        PutUtf8(out, b == 0 ? kNulStandIn : static_cast<char32_t>(Cp1251ToUnicode(b)));
    }
    return out;
}

std::string Cp1251FromUtf8(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        bool ok = len != 0 && i + len <= utf8.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto cc = static_cast<unsigned char>(utf8[i + k]);
            ok = (cc & 0xC0) == 0x80;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            // Not from PostgreSQL, which checks its UTF-8; one byte at a time.
            out.push_back('?');
            ++i;
            continue;
        }
        i += len;
        if (cp == kNulStandIn) {
            out.push_back('\0');
            continue;
        }
        const int b = cp <= 0xFFFF ? UnicodeToCp1251(static_cast<char16_t>(cp)) : -1;
        out.push_back(b < 0 ? '?' : static_cast<char>(b));
    }
    return out;
}

} // namespace kv
