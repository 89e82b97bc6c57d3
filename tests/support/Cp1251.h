#pragma once
// Conversions between UTF-8 and code page 1251 through the C library's iconv:
// an independent reference for the station's own tables, and the way transcript
// files (UTF-8) become station bytes.
#include <string>
#include <string_view>

namespace kv::test {

// Converts between any two iconv encodings; throws std::runtime_error when a
// character has no place in the target.
std::string Iconv(std::string_view text, const char* from, const char* to);
std::string Utf8ToCp1251(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view cp1251);

} // namespace kv::test
