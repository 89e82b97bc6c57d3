#pragma once
// Station text as it leaves the station for other programs: UTF-8, and CSV
// fields as spreadsheet programs read them.
#include <string>
#include <string_view>

namespace kv {

// Code page 1251 to UTF-8; the one byte without a character (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view text);

// One CSV field: quoted when it holds the separator, a quote or a line break,
// with each quote doubled; as it stands otherwise.
std::string CsvField(std::string_view text, char separator);

} // namespace kv
