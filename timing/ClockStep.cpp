#include "timing/ClockStep.h"

#include <cmath>

namespace kv {

namespace {
constexpr double kMsPerDay = 86400000.0;
}

void ClockStepDetector::Reset(IClock& clock)
{
    m_clock = &clock;
    m_wall = clock.Now();
    m_monoMs = clock.MonotonicMs();
}

std::optional<ClockStepDetector::Step> ClockStepDetector::Check()
{
    const double wall = m_clock->Now();
    const std::uint64_t monoMs = m_clock->MonotonicMs();
    const double expected = m_wall + static_cast<double>(monoMs - m_monoMs) / kMsPerDay;
    m_wall = wall;
    m_monoMs = monoMs;
    // NaN (a broken clock) compares false: nothing told.
    if (std::fabs(wall - expected) * 86400.0 > kLimitSeconds)
        return Step{expected, wall};
    return std::nullopt;
}

} // namespace kv
