#pragma once
// The modem's UCS2 hex text (four hex digits per character) to and from station
// text (code page 1251 bytes). Every character of the code page maps to its
// own Unicode character both ways; a character outside it goes through the
// fixed arithmetic older stations use, so it still comes out as one byte.
#include "data/Text.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace kv {

// A text that is not what a conversion expects (not hexadecimal, not a number).
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decodes hex groups of four digits; a short last group of two or three digits
// is read as it stands, a lone last digit is ignored. Any character of a group
// that is not a hex digit throws EConvertError: never a partial result.
std::string Ucs2HexToText(std::string_view hex);

// Four upper-case hex digits per input byte. Never fails.
std::string TextToUcs2Hex(std::string_view text);


// Whole groups of four hex digits, each a printable character of Basic Latin,
// Latin-1, Cyrillic or common punctuation: how a modem under the UCS2 set
// writes a text. Plain digits and words are rarely that by chance.
bool IsPrintableUcs2Hex(std::string_view hex);

// One byte of code page 1251 as its Unicode character. 0x98, which has none,
// gives the character the fixed arithmetic brings back to 0x98.
char16_t Cp1251ToUnicode(unsigned char b);

// The code page's byte for a Unicode character, or -1 when it has none.
int UnicodeToCp1251(char16_t c);

} // namespace kv
