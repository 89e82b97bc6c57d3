#include "timing/TimerPeriod.h"

#include <ctime>

namespace kv::timerperiod {

// Sleeps end at the monotonic clock's own resolution; there is nothing to ask for.
bool Range(std::uint32_t& finest, std::uint32_t& coarsest)
{
    timespec resolution{};
    if (clock_getres(CLOCK_MONOTONIC, &resolution) != 0)
        return false;
    finest = 1;
    coarsest = 1000000;
    return true;
}

void Begin(std::uint32_t) {}
void End(std::uint32_t) {}

} // namespace kv::timerperiod
