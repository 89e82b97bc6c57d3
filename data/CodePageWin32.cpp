#include "data/CodePage.h"

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kv {

bool Cp1251CharToUtf8(unsigned char byte, std::string& utf8)
{
    const char in = static_cast<char>(byte);
    wchar_t wide[2];
    const int n = MultiByteToWideChar(1251, MB_ERR_INVALID_CHARS, &in, 1, wide, 2);
    // Windows hands the one unassigned byte (0x98) through as the C1 control
    // of the same number; iconv refuses it, and so does the station.
    if (n != 1 || (wide[0] >= 0x80 && wide[0] < 0xA0))
        return false;
    char buffer[8];
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide, 1, buffer, sizeof buffer, nullptr, nullptr);
    if (m <= 0)
        return false;
    utf8.assign(buffer, static_cast<std::size_t>(m));
    return true;
}

} // namespace kv
