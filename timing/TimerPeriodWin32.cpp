#include "timing/TimerPeriod.h"

#include <windows.h>
#include <mmsystem.h>

namespace kv::timerperiod {

bool Range(std::uint32_t& finest, std::uint32_t& coarsest)
{
    TIMECAPS caps{};
    if (timeGetDevCaps(&caps, sizeof caps) != MMSYSERR_NOERROR)
        return false;
    finest = caps.wPeriodMin;
    coarsest = caps.wPeriodMax;
    return true;
}

void Begin(std::uint32_t ms) { timeBeginPeriod(ms); }
void End(std::uint32_t ms) { timeEndPeriod(ms); }

} // namespace kv::timerperiod
