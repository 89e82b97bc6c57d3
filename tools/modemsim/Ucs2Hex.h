#pragma once
// The simulator's own text conversions between UTF-8 (its control channel) and the
// modem's UCS2 hex. Written from Unicode rather than from the station's code page
// tables, so that what the station decodes is checked against an independent encoder.
#include <optional>
#include <string>
#include <string_view>

namespace kv::modemsim {

// UTF-8 to four upper-case hex digits per UTF-16 unit; characters beyond the BMP
// become surrogate pairs, malformed UTF-8 becomes U+FFFD.
std::string Utf8ToUcs2Hex(std::string_view utf8);

// Hex groups of four digits (either case) to UTF-8; nothing when the text is not
// whole groups of hex digits. Unpaired surrogates come out as U+FFFD.
std::optional<std::string> Ucs2HexToUtf8(std::string_view hex);

// The plain (IRA) form of a UTF-8 text: ASCII kept, every other character '?'.
std::string Utf8ToIra(std::string_view utf8);

// Bytes as one printable ASCII line: \r \n \t \\ and \xNN for every other byte
// outside 0x20..0x7E.
std::string EscapeBytes(std::string_view bytes);

// The same escapes, but UTF-8 sequences above ASCII pass through unchanged.
std::string EscapeText(std::string_view utf8);

// Reverses the escapes \r \n \t \\ and \xNN of a control-channel argument.
std::string UnescapeText(std::string_view text);

} // namespace kv::modemsim
