#include "timing/Clock.h"
#include "timing/ClockStep.h"
#include "timing/DateTime.h"
#include "timing/rdtsc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

TEST(DateTime, KnownValuesEncodeAndDecode)
{
    EXPECT_DOUBLE_EQ(kv::EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
    EXPECT_DOUBLE_EQ(kv::EncodeDateTime({2010, 1, 1, 12, 0, 0, 0}), 40179.5);
    EXPECT_DOUBLE_EQ(kv::EncodeDateTime({1900, 1, 1, 0, 0, 0, 0}), 2.0);
    const kv::DateTimeParts p = kv::DecodeDateTime(40179.75);
    EXPECT_EQ(p.year, 2010);
    EXPECT_EQ(p.month, 1);
    EXPECT_EQ(p.day, 1);
    EXPECT_EQ(p.hour, 18);
    EXPECT_EQ(p.minute, 0);
    EXPECT_EQ(kv::FormatDateTime(kv::EncodeDateTime({2026, 12, 7, 14, 5, 9, 0})), "07.12.2026 14:05:09");
    EXPECT_EQ(kv::FormatTime(kv::EncodeDateTime({2026, 12, 7, 14, 5, 9, 0})), "14:05:09");
}

TEST(DateTime, RoundTripsEverySecondOfADayAndLeapDays)
{
    for (int s = 0; s < 86400; s += 7) {
        kv::DateTimeParts in{2024, 2, 29, s / 3600, s / 60 % 60, s % 60, 0};
        const kv::DateTimeParts out = kv::DecodeDateTime(kv::EncodeDateTime(in));
        ASSERT_EQ(out.day, 29);
        ASSERT_EQ(out.month, 2);
        ASSERT_EQ(out.hour * 3600 + out.minute * 60 + out.second, s);
    }
}

TEST(DateTime, GarbageValuesDecodeWithoutCrashing)
{
    for (double v : {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        (void)kv::FormatDateTime(v);
}

// Seconds since 1970 of a UTC date-time.
std::time_t UtcSeconds(const kv::DateTimeParts& p)
{
    return static_cast<std::time_t>(std::llround((kv::EncodeDateTime(p) - 25569.0) * 86400.0));
}

// Sets TZ for one test and puts the old one back.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        Set(zone);
    }
    ~TimeZone() { Set(m_old ? m_old->c_str() : nullptr); }

private:
    static void Set(const char* zone)
    {
#ifdef _WIN32
        _putenv_s("TZ", zone ? zone : "");
        _tzset();
#else
        if (zone)
            setenv("TZ", zone, 1);
        else
            unsetenv("TZ");
        tzset();
#endif
    }
    std::optional<std::string> m_old;
};

// The system clock's moments as the station's local date-times: days and
// milliseconds carried over midnight, the years and months of the calendar.
TEST(DateTime, SystemMomentsBecomeLocalDateTimes)
{
    TimeZone zone("UTC0");
    struct Case {
        kv::DateTimeParts utc;
        int msec;
        const char* local;
    };
    const Case cases[] = {
        {{1970, 1, 1, 0, 0, 0, 0}, 0, "01.01.1970 00:00:00"},
        {{2026, 12, 7, 23, 59, 59, 0}, 999, "07.12.2026 23:59:59"},
        {{2026, 12, 8, 0, 0, 0, 0}, 0, "08.12.2026 00:00:00"},
        {{2024, 2, 29, 12, 0, 0, 0}, 500, "29.02.2024 12:00:00"},
        {{2026, 12, 31, 23, 59, 59, 0}, 0, "31.12.2026 23:59:59"},
        {{2027, 1, 1, 0, 0, 0, 0}, 1, "01.01.2027 00:00:00"},
    };
    for (const Case& c : cases) {
        const double local = kv::LocalDateTimeOf(UtcSeconds(c.utc), c.msec);
        EXPECT_EQ(kv::FixedDateTimeText(local), c.local);
        EXPECT_EQ(kv::DecodeDateTime(local).msec, c.msec) << c.local;
        kv::DateTimeParts withMs = c.utc;
        withMs.msec = c.msec;
        EXPECT_DOUBLE_EQ(local, kv::EncodeDateTime(withMs)) << c.local;
    }
    EXPECT_DOUBLE_EQ(kv::LocalDateTimeOf(0, 0), 25569.0) << "1970 is day 25569 after the 1899 epoch";
    // Decoding near midnight rounds to the millisecond and carries the day.
    const kv::DateTimeParts carried = kv::DecodeDateTime(46000.0 - 0.4 / 86400000.0);
    EXPECT_EQ(kv::FixedDateTimeText(46000.0 - 0.4 / 86400000.0), "09.12.2025 00:00:00");
    EXPECT_EQ(carried.msec, 0);
    // Before the epoch the fraction still counts the time of day.
    EXPECT_EQ(kv::FixedDateTimeText(-1.25), "29.12.1899 06:00:00");
    EXPECT_DOUBLE_EQ(kv::EncodeDateTime({1899, 12, 29, 6, 0, 0, 0}), -1.25);
}

#ifndef _WIN32
// Across daylight saving time the wall clock jumps, the moments do not (the C
// library of Windows knows only the rules of a zone name, not TZ's own).
TEST(DateTime, LocalDateTimesFollowDaylightSavingEdges)
{
    TimeZone zone("EET-2EEST,M3.5.0/3,M10.5.0/4");
    const std::pair<kv::DateTimeParts, const char*> cases[] = {
        {{2026, 3, 29, 0, 59, 59, 0}, "29.03.2026 02:59:59"},
        {{2026, 3, 29, 1, 0, 0, 0}, "29.03.2026 04:00:00"},
        {{2026, 10, 25, 0, 59, 59, 0}, "25.10.2026 03:59:59"},
        {{2026, 10, 25, 1, 0, 0, 0}, "25.10.2026 03:00:00"},
        {{2026, 12, 31, 22, 0, 0, 0}, "01.01.2027 00:00:00"},
    };
    for (const auto& [utc, local] : cases)
        EXPECT_EQ(kv::FixedDateTimeText(kv::LocalDateTimeOf(UtcSeconds(utc), 0)), local);
}
#endif

TEST(Timing, ElapsedRoundsHalvesToEven)
{
    EXPECT_EQ(kv::TicksToMs(2500000000ULL), 2500u); // 2.5 s
    EXPECT_EQ(kv::TicksToMs(500000ULL), 0u);        // 0.5 ms -> 0
    EXPECT_EQ(kv::TicksToMs(1500000ULL), 2u);       // 1.5 ms -> 2
    EXPECT_EQ(kv::TicksToMs(1499999ULL), 1u);
    // Past 32 bits of milliseconds a time-out stays expired.
    EXPECT_EQ(kv::TicksToMs(4294967294ULL * 1000000ULL), 4294967294u);
    EXPECT_EQ(kv::TicksToMs(50ULL * 86400 * 1000000000ULL), 0xFFFFFFFFu);
    EXPECT_EQ(kv::TicksToMs(~0ULL), 0xFFFFFFFFu);
}

TEST(Timing, VirtualClockMovesOnlyWhenSleptOn)
{
    kv::VirtualClock clock(40179.5);
    const auto start = clock.ReadTimeStamp();
    EXPECT_EQ(clock.ElapsedMs(start), 0u);
    clock.SleepMs(2500);
    EXPECT_EQ(clock.ElapsedMs(start), 2500u);
    EXPECT_NEAR(clock.Now(), 40179.5 + 2.5 / 86400.0, 1e-9);
    clock.StepWall(-3600);
    EXPECT_NEAR(clock.Now(), 40179.5 + (2.5 - 3600) / 86400.0, 1e-9);
    EXPECT_EQ(clock.ElapsedMs(start), 2500u) << "a wall-clock step leaves the stamps";
    EXPECT_EQ(clock.MonotonicMs(), 2500u);
}

// Checked once a second; a step is a difference between the wall clock's and
// the monotonic clock's time since the last check.
TEST(Timing, AWallClockStepOfMoreThanAMinuteIsToldOnceEitherWay)
{
    struct Case {
        double stepSeconds;
        std::uint64_t checkAfterMs; // monotonic time between the step and the check
        bool told;
    };
    const Case cases[] = {
        {-120, 1000, true}, {120, 1000, true},  {-3600, 1000, true}, {86400, 1000, true},
        {-30, 1000, false}, {30, 1000, false},  {59, 1000, false},
        // Time that passed on both clocks (a late check) is no step.
        {0, 600000, false}, {-120, 600000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stepSeconds);
        kv::VirtualClock clock(46000.5);
        kv::ClockStepDetector detector(clock);
        clock.Advance(1000);
        EXPECT_FALSE(detector.Check().has_value());
        const double before = clock.Now();
        clock.StepWall(c.stepSeconds);
        clock.Advance(c.checkAfterMs);
        const auto step = detector.Check();
        ASSERT_EQ(step.has_value(), c.told);
        if (step) {
            EXPECT_NEAR(step->before, before + c.checkAfterMs / 86400000.0, 1e-9);
            EXPECT_NEAR(step->after, before + (c.stepSeconds + c.checkAfterMs / 1000.0) / 86400.0, 1e-9);
        }
        clock.Advance(1000);
        EXPECT_FALSE(detector.Check().has_value()) << "told once";
    }
    // Small drifts that add up are no step: each check counts from the last.
    kv::VirtualClock clock(46000.5);
    kv::ClockStepDetector detector(clock);
    for (int i = 0; i < 10; ++i) {
        clock.StepWall(-20);
        clock.Advance(1000);
        EXPECT_FALSE(detector.Check().has_value());
    }
}

} // namespace
