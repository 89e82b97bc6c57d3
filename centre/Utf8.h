#pragma once
// Station text (code page 1251 bytes) to and from the database's UTF-8. Every
// one of the 256 bytes comes back as it went:
// - 0x98, which the code page leaves undefined, is U+03E8, the character the
//   modem codec already gives it, so an SMS and its row agree;
// - 0x00, which a PostgreSQL text cannot hold, is U+2400 (the symbol for NUL).
// A character of the database that the code page lacks becomes '?'.
#include <string>
#include <string_view>

namespace kv {

std::string Utf8FromCp1251(std::string_view text);
std::string Cp1251FromUtf8(std::string_view utf8);

} // namespace kv
