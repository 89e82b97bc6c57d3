#pragma once
// Notices when the wall clock is set (by the operator, the network or a time
// service): between two checks the wall clock moved by more, or less, than the
// monotonic clock. Waits run on the monotonic clock and go on regardless; the
// step is only told, so the journal's times can be read right. The wall clock
// is local time: a change of summer time or of the time zone is told as well.
#include "timing/Clock.h"

#include <cstdint>
#include <optional>

namespace kv {

class ClockStepDetector {
public:
    // Drift and a late check stay well under this.
    static constexpr double kLimitSeconds = 60;

    struct Step {
        double before = 0; // where the wall clock would be had nobody set it
        double after = 0;  // where it is
    };

    explicit ClockStepDetector(IClock& clock) { Reset(clock); }
    // Starts afresh on `clock`: no step is seen across a change of clock.
    void Reset(IClock& clock);
    // Every second or so. A step is told once; the next check counts from it.
    std::optional<Step> Check();

private:
    IClock* m_clock = nullptr;
    double m_wall = 0;
    std::uint64_t m_monoMs = 0;
};

} // namespace kv
