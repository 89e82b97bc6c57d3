#pragma once
// The C library's local time, thread-safe on every platform
// (LocalTimePosix.cpp, LocalTimeWin32.cpp).
#include <ctime>

namespace kv {

bool ToLocalTime(std::time_t seconds, std::tm& out);

} // namespace kv
