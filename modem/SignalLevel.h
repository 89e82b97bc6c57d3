#pragma once
// A modem's signal level: read from the reply to "AT+CSQ", and the icon shown
// for it. Both workers and the station's level displays share these.
#include "modem/ReplyDispatch.h"

#include <optional>
#include <string_view>

namespace kv {

// The rssi of the reply's "+CSQ: <rssi>,<ber>" line; nothing when the line is
// missing, has one field only, or its level is no number.
std::optional<double> SignalLevelOf(const ModemReply& reply);

// Path relative to the executable's folder; empty below 0 (the picture is cleared).
// 99, "not detectable", falls in the top band like any level above 23.
std::string_view SignalIconFile(double level);

} // namespace kv
