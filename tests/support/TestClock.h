#pragma once
// Virtual time for worker tests. Wraps kv::VirtualClock and adds a timeline:
// actions scheduled at virtual moments (a modem's answer, an unsolicited RING)
// run exactly when a sleeping worker's time passes them. Time never moves on its
// own, so a ten-second time-out takes no real time at all.
#include "timing/Clock.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace kv::test {

class TestClock final : public IClock {
public:
    explicit TestClock(double startDateTime = 45000.5) : m_clock(startDateTime) {}

    std::uint64_t ReadTimeStamp() override { return m_clock.ReadTimeStamp(); }
    std::uint32_t ElapsedMs(std::uint64_t start) override { return m_clock.ElapsedMs(start); }
    double Now() override { return m_clock.Now(); }
    void SleepMs(std::uint32_t ms) override { Advance(ms); }

    // Moves time forward, running every action due on the way at its own moment,
    // in time order (actions at the same moment in the order they were scheduled).
    void Advance(std::uint64_t ms);
    // Runs `action` when virtual time reaches `atMs` (at the next Advance when already past).
    void At(std::uint64_t atMs, std::function<void()> action);
    std::uint64_t NowMs() const { return m_clock.NowMs(); }
    void StepWall(double seconds) { m_clock.StepWall(seconds); }
    std::size_t PendingActions() const;

private:
    VirtualClock m_clock;
    mutable std::mutex m_lock;
    std::multimap<std::uint64_t, std::function<void()>> m_actions;
};

} // namespace kv::test
