#pragma once
// The text of a USSD answer as a modem under the UCS2 character set gives it,
// read by its data coding scheme (3GPP TS 23.038): UCS2 hex (72, 17, and some
// modems for 15 too), GSM 7-bit packed into hex, or plain text.
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// Station text. A text that is not valid for its coding is given back as it
// came, never dropped.
std::string DecodeUssdText(std::string_view text, std::optional<int> dcs);

} // namespace kv
