#include "centre/Settings.h"

#include <windows.h>

namespace kv::centre {

std::string HostName()
{
    // The NetBIOS name in the ANSI code page (1251 on a Russian system), made UTF-8 as a station name is.
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size) || size == 0)
        return "localhost";
    wchar_t wide[MAX_COMPUTERNAME_LENGTH + 1] = {};
    const int n = ::MultiByteToWideChar(CP_ACP, 0, name, static_cast<int>(size), wide, MAX_COMPUTERNAME_LENGTH + 1);
    char utf8[4 * (MAX_COMPUTERNAME_LENGTH + 1)] = {};
    const int m = n > 0 ? ::WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8, nullptr, nullptr) : 0;
    return m > 0 ? std::string(utf8, static_cast<std::size_t>(m)) : std::string("localhost");
}

} // namespace kv::centre
