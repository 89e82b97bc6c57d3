#include "timing/rdtsc.h"

#include "timing/UiThread.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace kv {

std::uint64_t ReadTimeStamp()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

std::uint32_t TicksToMs(std::uint64_t ticks)
{
    const double ms = std::nearbyint(static_cast<double>(ticks) / 1e6); // FE_TONEAREST: halves to even
    // A stamp older than 49 days reads as long ago, never as just now (and the
    // conversion of a larger value would be undefined).
    constexpr double kMax = 4294967295.0;
    return ms >= kMax ? 0xFFFFFFFFu : static_cast<std::uint32_t>(ms);
}

std::uint32_t ElapsedMs(std::uint64_t start) { return TicksToMs(ReadTimeStamp() - start); }

void WaitMs(std::uint32_t ms)
{
    const std::uint64_t start = ReadTimeStamp();
    for (;;) {
        const std::uint32_t elapsed = ElapsedMs(start);
        if (elapsed > ms)
            return;
        if (elapsed > 100) {
            if (const UiLoopHook pump = UiEventPump())
                pump();
            ServeHandOvers();
        }
        const std::uint32_t left = ms - elapsed + 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(left < 5 ? left : 5));
    }
}

} // namespace kv
