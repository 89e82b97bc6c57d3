// The same conversions through the Windows code page functions, for the
// encodings the tests name; refuses what iconv refuses.
#include "tests/support/Cp1251.h"

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <stdexcept>

namespace kv::test {

namespace {

std::wstring Decode(std::string_view text, const char* from)
{
    std::wstring wide;
    if (std::strcmp(from, "UTF-16LE") == 0 || std::strcmp(from, "UCS-2BE") == 0) {
        if (text.size() % 2)
            throw std::runtime_error("odd byte count for " + std::string(from));
        const bool big = from[0] == 'U' && from[1] == 'C';
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const auto a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(text[i + 1]);
            wide.push_back(static_cast<wchar_t>(big ? a << 8 | b : b << 8 | a));
        }
        return wide;
    }
    UINT page = 0;
    if (std::strcmp(from, "UTF-8") == 0)
        page = CP_UTF8;
    else if (std::strcmp(from, "CP1251") == 0)
        page = 1251;
    else
        throw std::runtime_error(std::string("cannot convert from ") + from);
    if (text.empty())
        return wide;
    const int n = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        throw std::runtime_error(std::string("invalid ") + from);
    wide.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(), n);
    // 0x98 has no character in code page 1251; Windows passes it as U+0098.
    if (page == 1251)
        for (wchar_t c : wide)
            if (c >= 0x80 && c < 0xA0)
                throw std::runtime_error("invalid CP1251");
    return wide;
}

std::string Encode(const std::wstring& wide, const char* to)
{
    std::string out;
    if (std::strcmp(to, "UTF-16LE") == 0 || std::strcmp(to, "UCS-2BE") == 0) {
        const bool big = to[0] == 'U' && to[1] == 'C';
        for (wchar_t c : wide) {
            const char hi = static_cast<char>(c >> 8 & 0xFF), lo = static_cast<char>(c & 0xFF);
            out.push_back(big ? hi : lo);
            out.push_back(big ? lo : hi);
        }
        return out;
    }
    if (wide.empty())
        return out;
    const bool utf8 = std::strcmp(to, "UTF-8") == 0;
    if (!utf8 && std::strcmp(to, "CP1251") != 0)
        throw std::runtime_error(std::string("cannot convert to ") + to);
    const UINT page = utf8 ? CP_UTF8 : 1251;
    BOOL lost = FALSE;
    const int n = WideCharToMultiByte(page, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, utf8 ? nullptr : &lost);
    if (n <= 0 || lost)
        throw std::runtime_error(std::string("no place in ") + to);
    out.resize(static_cast<std::size_t>(n));
    WideCharToMultiByte(page, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
    if (!utf8)
        for (wchar_t c : wide)
            if (c >= 0x80 && c < 0xA0)
                throw std::runtime_error("no place in CP1251");
    return out;
}

} // namespace

std::string Iconv(std::string_view text, const char* from, const char* to) { return Encode(Decode(text, from), to); }

std::string Utf8ToCp1251(std::string_view utf8) { return Iconv(utf8, "UTF-8", "CP1251"); }
std::string Cp1251ToUtf8(std::string_view cp1251) { return Iconv(cp1251, "CP1251", "UTF-8"); }

} // namespace kv::test
