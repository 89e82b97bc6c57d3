#pragma once
// The network's answer to a balance request (USSD), on either modem: the
// "+CUSD:" line with blanks or none, its text in the coding its dcs names, or a
// refusal put into words for the "Баланс" row.
#include <optional>
#include <string>
#include <string_view>

namespace kv {

struct UssdAnswer {
    enum class Kind {
        Text,    // the operator's text
        Refused, // the network refused or did not answer: `text` says so
        None,    // no text ("+CUSD: 2" alone ends a session; the answer may still come)
    };
    Kind kind = Kind::None;
    std::string text; // station text
};

// A "+CUSD: <n>[,<str>[,<dcs>]]" line.
UssdAnswer ParseUssdAnswer(std::string_view line);

// The "Баланс" row for a request the modem refused ("ERROR", "+CME ERROR: 132").
std::string UssdRefusedByModem(std::string_view errorLine);

// The plain request code of a request line whose code went as UCS2 hex, for a
// modem that takes only the plain one; nothing when the code is plain already.
std::optional<std::string> PlainUssdRequest(std::string_view requestLine);

} // namespace kv
