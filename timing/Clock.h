#pragma once
// Time as the modem workers see it. Workers take an IClock from their creator so
// that tests can drive their passes with a virtual clock instead of waiting.
#include <atomic>
#include <cstdint>
#include <mutex>

namespace kv {

class IClock {
public:
    virtual ~IClock() = default;
    // Monotonic time stamp; only differences are meaningful.
    virtual std::uint64_t ReadTimeStamp() = 0;
    // Milliseconds since `start` (a ReadTimeStamp value), rounded to nearest, halves to even.
    virtual std::uint32_t ElapsedMs(std::uint64_t start) = 0;
    // Whole milliseconds of the monotonic clock: for due times and deadlines that
    // must not move when the wall clock is set (stamps are nanoseconds).
    std::uint64_t MonotonicMs() { return ReadTimeStamp() / 1000000ULL; }
    // Local date-time: days since 1899-12-30, fraction = time of day.
    virtual double Now() = 0;
    virtual void SleepMs(std::uint32_t ms) = 0;
};

// Steady clock for stamps, the system's local time for Now(), real sleeps.
class RealClock final : public IClock {
public:
    std::uint64_t ReadTimeStamp() override;
    std::uint32_t ElapsedMs(std::uint64_t start) override;
    double Now() override;
    void SleepMs(std::uint32_t ms) override;
    static RealClock& Instance();
};

// Time that moves only when someone sleeps on it or advances it: a test drives a
// worker pass by pass and every time-out happens at once.
class VirtualClock final : public IClock {
public:
    explicit VirtualClock(double startDateTime = 45000.5) : m_start(startDateTime) {}
    std::uint64_t ReadTimeStamp() override { return m_ns.load(); }
    std::uint32_t ElapsedMs(std::uint64_t start) override;
    double Now() override;
    void SleepMs(std::uint32_t ms) override { Advance(ms); }
    void Advance(std::uint64_t ms) { m_ns += ms * 1000000ULL; }
    std::uint64_t NowMs() const { return m_ns.load() / 1000000ULL; }
    // Sets the wall clock (Now) by `seconds`, as an operator or the network
    // does; the monotonic stamps do not move.
    void StepWall(double seconds) { m_wallOffset = m_wallOffset.load() + seconds / 86400.0; }

private:
    double m_start;
    std::atomic<std::uint64_t> m_ns{0};
    std::atomic<double> m_wallOffset{0};
};

} // namespace kv
