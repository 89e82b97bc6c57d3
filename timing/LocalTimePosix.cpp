#include "timing/LocalTime.h"

namespace kv {

bool ToLocalTime(std::time_t seconds, std::tm& out) { return localtime_r(&seconds, &out) != nullptr; }

} // namespace kv
