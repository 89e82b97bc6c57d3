#pragma once
// Time stamps for the modem dialogue. A monotonic clock stands in for the
// processor's cycle counter: a stamp is nanoseconds of std::chrono::steady_clock.
#include <cstdint>

namespace kv {

std::uint64_t ReadTimeStamp();
// Milliseconds between two stamps, rounded to nearest with halves to even;
// 2^32 - 1 for anything longer (49.7 days).
std::uint32_t TicksToMs(std::uint64_t ticks);
// Milliseconds elapsed since `start`.
std::uint32_t ElapsedMs(std::uint64_t start);
// Waits at least `ms` on the UI thread. After the first 100 ms it keeps serving
// window messages (and the workers' hand-overs) so the station stays responsive;
// it sleeps in short slices instead of spinning.
void WaitMs(std::uint32_t ms);

} // namespace kv
