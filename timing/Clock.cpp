#include "timing/Clock.h"

#include "timing/DateTime.h"
#include "timing/rdtsc.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace kv {

std::uint64_t RealClock::ReadTimeStamp() { return kv::ReadTimeStamp(); }
std::uint32_t RealClock::ElapsedMs(std::uint64_t start) { return kv::ElapsedMs(start); }
double RealClock::Now() { return LocalNow(); }
void RealClock::SleepMs(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

RealClock& RealClock::Instance()
{
    static RealClock clock;
    return clock;
}

std::uint32_t VirtualClock::ElapsedMs(std::uint64_t start)
{
    return TicksToMs(m_ns.load() - start);
}

double VirtualClock::Now()
{
    return m_start + m_wallOffset.load() + static_cast<double>(m_ns.load()) / 1e9 / 86400.0;
}

} // namespace kv
