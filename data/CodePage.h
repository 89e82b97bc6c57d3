#pragma once
// Code page 1251 through the system's own converter (CodePagePosix.cpp: iconv;
// CodePageWin32.cpp: the Windows code page functions).
#include <string>

namespace kv {

// The UTF-8 of one byte of code page 1251; false for a byte without a character.
bool Cp1251CharToUtf8(unsigned char byte, std::string& utf8);

} // namespace kv
