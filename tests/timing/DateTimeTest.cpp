#include "timing/Clock.h"
#include "timing/ClockStep.h"
#include "timing/DateTime.h"
#include "timing/rdtsc.h"

#include <gtest/gtest.h>

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

// The windows follow the desktop's locale; files never do.
TEST(DateTime, WindowsShowTheLocalesShortDateAndLongTimeWithoutTheZone)
{
    struct Case {
        const char* locale;
        const char* dateTime;
        const char* time;
    };
    const Case cases[] = {
        {"ru_RU", "07.12.2026 14:05:09", "14:05:09"},
        {"en_US", "12/7/26 2:05:09 PM", "2:05:09 PM"},
        {"de_DE", "07.12.26 14:05:09", "14:05:09"},
        {"C", "07.12.2026 14:05:09", "14:05:09"},
        {"", "07.12.2026 14:05:09", "14:05:09"},
    };
    const double value = kv::EncodeDateTime({2026, 12, 7, 14, 5, 9, 0});
    for (const Case& c : cases) {
        kv::SetDateTimeFormatsOf(c.locale);
        EXPECT_EQ(kv::FormatDateTime(value), c.dateTime) << c.locale;
        EXPECT_EQ(kv::FormatTime(value), c.time) << c.locale;
        EXPECT_EQ(kv::FixedDateTimeText(value), "07.12.2026 14:05:09") << c.locale;
        EXPECT_EQ(kv::FixedTimeText(value), "14:05:09") << c.locale;
    }
    kv::SetDateTimeFormatsOf("");
}

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
