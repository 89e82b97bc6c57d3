#pragma once
// The signal icon shown for a level read from "+CSQ:". Both workers and the
// station's level displays share these bands.
#include <string_view>

namespace kv {

// Path relative to the executable's folder; empty below 0 (the picture is cleared).
// 99, "not detectable", falls in the top band like any level above 23.
std::string_view SignalIconFile(double level);

} // namespace kv
