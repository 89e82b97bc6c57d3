#include "timing/LocalTime.h"

namespace kv {

bool ToLocalTime(std::time_t seconds, std::tm& out) { return localtime_s(&out, &seconds) == 0; }

} // namespace kv
