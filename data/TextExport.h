#pragma once
// Station text as it leaves the station for other programs: UTF-8, and CSV
// fields as spreadsheet programs read them.
#include <string>
#include <string_view>

namespace kv {

// Code page 1251 to UTF-8; the one byte without a character (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view text);

// One CSV field of UTF-8 text, safe to open in a spreadsheet:
// - a text a spreadsheet would run as a formula or take as a number (first
//   character `=`, `+`, `-`, `@`, TAB or CR), or one that starts with the
//   apostrophe itself, gets a leading apostrophe, the spreadsheets' mark of
//   a text cell, which they do not show;
// - other control bytes (below 0x20 but TAB, CR, LF; and DEL) become their
//   visible Unicode pictures (BEL U+2407, ESC U+241B): a terminal or a cell
//   never acts on them, and the operator still sees that one was there;
// - quoted when it holds the separator, a quote or a line break, each quote
//   doubled.
// `plainValue`: a number, date or flag the program formatted itself, written
// as it stands so that a spreadsheet still counts with it.
std::string CsvField(std::string_view text, char separator, bool plainValue = false);

} // namespace kv
