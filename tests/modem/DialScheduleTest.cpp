#include "modem/DialSchedule.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

// Monotonic milliseconds.
constexpr std::uint64_t kNow = 3600000;
constexpr std::uint64_t kMinute = 60000;

std::vector<DialDevice> Devices(int n, const std::string& dialtime = "1")
{
    std::vector<DialDevice> out;
    for (int i = 0; i < n; ++i)
        out.push_back({"D" + std::to_string(i), true, dialtime});
    return out;
}

TEST(DialSchedule, PlacesDevicesDownEachColumnThenTheNext)
{
    DialSchedule schedule;
    schedule.Rebuild(Devices(36), 5, 7, kNow);
    EXPECT_EQ(schedule.Columns(), 5);
    EXPECT_EQ(schedule.Rows(), 7);
    EXPECT_EQ(schedule.Text(0, 0), "D0");
    EXPECT_EQ(schedule.Text(0, 6), "D6");
    EXPECT_EQ(schedule.Text(1, 0), "D7");
    EXPECT_EQ(schedule.Text(4, 6), "D34");
    // The 36th device has no visible tile but is placed all the same.
    EXPECT_EQ(schedule.Text(5, 0), "D35");
    EXPECT_TRUE(schedule.At(5, 0).enabled);
    const DialSchedule::Layout layout = schedule.Snapshot();
    EXPECT_EQ(layout.Text(1, 3), "D10");
    EXPECT_EQ(layout.Text(5, 1), "");
}

TEST(DialSchedule, NeverPlacesBeyondTheLastTile)
{
    DialSchedule schedule;
    schedule.Rebuild(Devices(1000), 30, 30, kNow);
    EXPECT_EQ(schedule.Text(29, 29), "D899");
    schedule.Rebuild(Devices(1000), 3, 2, kNow);
    EXPECT_EQ(schedule.Text(29, 1), "D59");
    EXPECT_EQ(schedule.Text(29, 2), "");
    // A board with no rows holds nothing; sizes are kept to the 30 x 30 arrays.
    schedule.Rebuild(Devices(3), 5, 0, kNow);
    EXPECT_EQ(schedule.Text(0, 0), "");
    schedule.Rebuild(Devices(3), 99, 99, kNow);
    EXPECT_EQ(schedule.Columns(), 30);
    EXPECT_EQ(schedule.Rows(), 30);
    EXPECT_EQ(schedule.Text(-1, 0), "");
    EXPECT_FALSE(schedule.At(30, 0).enabled);
}

TEST(DialSchedule, IntervalsFromTheRegisterText)
{
    EXPECT_EQ(DialSchedule::IntervalMinutes("1.5"), 1.5);
    EXPECT_EQ(DialSchedule::IntervalMinutes("0"), 0);
    for (const char* bad : {"1,5", "", "abc", "10 min"})
        EXPECT_EQ(DialSchedule::IntervalMinutes(bad), 60) << bad;

    DialSchedule schedule;
    schedule.Rebuild({{"A", true, "1.5"}, {"B", false, "x"}}, 5, 7, kNow);
    EXPECT_EQ(schedule.At(0, 0).nextDueMs, kNow + 90000);
    EXPECT_EQ(schedule.At(0, 1).intervalMinutes, 60);
    EXPECT_FALSE(schedule.At(0, 1).enabled);
    // Intervals no clock reaches stay a sane count of milliseconds; a negative one is 0.
    schedule.Rebuild({{"A", true, "1e300"}, {"B", true, "-1e300"}, {"C", true, "-5"}}, 5, 7, kNow);
    EXPECT_EQ(schedule.At(0, 0).nextDueMs, static_cast<std::int64_t>(kNow) + 600000000000);
    EXPECT_EQ(schedule.At(0, 1).nextDueMs, static_cast<std::int64_t>(kNow));
    EXPECT_EQ(schedule.At(0, 2).nextDueMs, static_cast<std::int64_t>(kNow));
    for (int pass = 0; pass < 4; ++pass)
        EXPECT_TRUE(schedule.TakeDue(kNow).has_value()) << "due at every pass";
}

// The window shows a due time as the wall clock will read then, however the
// wall clock was set since the entry was made.
TEST(DialSchedule, DueTimesShowOnTheWallClockOfNow)
{
    DialSchedule schedule;
    schedule.Rebuild({{"A", true, "2"}}, 5, 7, kNow);
    const double wall = 46000.25;
    EXPECT_DOUBLE_EQ(schedule.At(0, 0).DueDateTime(wall, kNow), wall + 2.0 / 1440);
    EXPECT_DOUBLE_EQ(schedule.At(0, 0).DueDateTime(wall - 1.0 / 24, kNow + kMinute), wall - 1.0 / 24 + 1.0 / 1440);
    EXPECT_DOUBLE_EQ(schedule.At(0, 0).DueDateTime(wall, kNow + 3 * kMinute), wall - 1.0 / 1440) << "overdue";
    EXPECT_EQ(schedule.At(0, 1).DueDateTime(wall, kNow), 0) << "a tile that never held a device";
}

TEST(DialSchedule, RebuildDisablesEveryTileFirstAndRestartsEveryInterval)
{
    DialSchedule schedule;
    schedule.Rebuild(Devices(3), 5, 7, kNow);
    schedule.Rebuild(Devices(1), 5, 7, kNow + 10 * kMinute);
    EXPECT_TRUE(schedule.At(0, 0).enabled);
    EXPECT_EQ(schedule.At(0, 0).nextDueMs, kNow + 11 * kMinute);
    EXPECT_FALSE(schedule.At(0, 1).enabled);
    EXPECT_FALSE(schedule.At(0, 2).enabled);
    EXPECT_EQ(schedule.Text(0, 1), "");
}

TEST(DialSchedule, TakesTheMostOverdueTileTiesRowByRowAndOwesNoMissedCalls)
{
    DialSchedule schedule;
    // (0,0) disabled, (0,1) enabled, (1,0) enabled: equally due, row 0 comes first.
    schedule.Rebuild({{"A", false, "1"}, {"B", true, "1"}, {"C", true, "1"}}, 2, 2, kNow);
    EXPECT_FALSE(schedule.TakeDue(kNow + kMinute / 2).has_value());
    const auto first = schedule.TakeDue(kNow + kMinute + 10);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->text, "C");
    EXPECT_EQ(first->column, 1);
    EXPECT_EQ(first->row, 0);
    EXPECT_EQ(first->dueMs, kNow + kMinute);
    EXPECT_EQ(schedule.At(1, 0).nextDueMs, kNow + 2 * kMinute) << "from its due time, not from now";
    const auto second = schedule.TakeDue(kNow + kMinute + 20);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->text, "B");
    EXPECT_FALSE(schedule.TakeDue(kNow + kMinute + 30).has_value());

    // Late by several intervals: called once, then on its own beat after now.
    const auto late = schedule.TakeDue(kNow + 5 * kMinute + 500);
    ASSERT_TRUE(late.has_value());
    EXPECT_EQ(late->text, "C");
    EXPECT_EQ(schedule.At(1, 0).nextDueMs, kNow + 6 * kMinute);
    // Due longest ago goes first, though C is scanned first.
    schedule.Rebuild({{"A", false, "1"}, {"B", true, "1"}, {"C", true, "2"}}, 2, 2, kNow);
    std::string order;
    while (const auto tile = schedule.TakeDue(kNow + 3 * kMinute))
        order += tile->text;
    EXPECT_EQ(order, "BC");

    schedule.Retry(1, 0);
    EXPECT_EQ(schedule.At(1, 0).nextDueMs, kNow + 3 * kMinute);
}

// Each device's failed calls, counted apart from every other device's.
TEST(DialSchedule, FailuresAreCountedPerDeviceAndRetriedUntilFinal)
{
    DialSchedule schedule;
    schedule.Rebuild({{"A", true, "5"}, {"B", true, "5"}}, 5, 7, kNow);
    const std::uint64_t due = kNow + 5 * kMinute;
    const auto take = [&](const std::string& expected, std::uint64_t at) {
        auto tile = schedule.TakeDue(at);
        EXPECT_TRUE(tile.has_value() && tile->text == expected) << expected;
        return tile.value_or(DialSchedule::Tile{});
    };
    const DialSchedule::Tile a1 = take("A", due); // ties go in board order
    EXPECT_EQ(a1.failures, 0);
    EXPECT_EQ(schedule.Failed(a1, 3), 1);
    EXPECT_EQ(schedule.At(0, 0).nextDueMs, due + kMinute) << "a minute after its last due time";
    schedule.Succeeded(take("B", due));
    const DialSchedule::Tile a2 = take("A", due + kMinute);
    EXPECT_EQ(a2.failures, 1);
    EXPECT_EQ(schedule.Failed(a2, 3), 2);
    EXPECT_EQ(schedule.At(0, 0).nextDueMs, due + 2 * kMinute);
    EXPECT_EQ(schedule.Failed(take("A", due + 2 * kMinute + 1), 3), 3);
    EXPECT_EQ(schedule.At(0, 0).nextDueMs, due + 7 * kMinute) << "final: the regular interval again";
    EXPECT_EQ(schedule.At(0, 0).failures, 2) << "the next failure is final at once";
    EXPECT_EQ(schedule.At(0, 1).failures, 0);

    // The count follows the device through a rebuild, even for a call taken before it.
    schedule.Succeeded(take("B", due + 5 * kMinute));
    const std::optional<DialSchedule::Tile> a = take("A", due + 7 * kMinute);
    schedule.Rebuild({{"B", true, "5"}, {"X", true, "5"}, {"A", true, "5"}}, 5, 7, kNow + 20 * kMinute);
    EXPECT_EQ(schedule.At(0, 2).failures, 2);
    EXPECT_EQ(schedule.Failed(*a, 7), 3);
    EXPECT_EQ(schedule.At(0, 2).failures, 3);
    EXPECT_EQ(schedule.At(0, 2).nextDueMs, kNow + 25 * kMinute) << "the rebuild's due time stands";
    EXPECT_EQ(schedule.At(0, 1).failures, 0);
    schedule.Succeeded(*a);
    EXPECT_EQ(schedule.At(0, 2).failures, 0);
    // A device gone from the register counts nothing; a setting below one reports at once.
    schedule.Rebuild({{"B", true, "5"}}, 5, 7, kNow);
    EXPECT_EQ(schedule.Failed(*a, 0), 1);
    EXPECT_EQ(schedule.At(0, 0).failures, 0);
}

// The board's ask in calls an hour against the calls of the last hour, and
// whether a call came (or waits) more than its interval late.
TEST(DialSchedule, RoundLoadTellsWhenTheRoundFallsBehind)
{
    DialSchedule schedule;
    // 60 + 2 + 1 an hour; a disabled tile, an interval of 0 and a tile off the board ask nothing.
    schedule.Rebuild({{"A", true, "1"}, {"B", true, "30"}, {"C", false, "1"}, {"D", true, "0"}, {"E", true, "60"},
                      {"F", true, "1"}},
                     1, 5, kNow);
    DialSchedule::Load load = schedule.RoundLoad(kNow);
    EXPECT_DOUBLE_EQ(load.neededPerHour, 63);
    EXPECT_EQ(load.doneLastHour, 0);
    EXPECT_FALSE(load.behind);
    ASSERT_EQ(schedule.TakeDue(kNow)->text, "D");
    EXPECT_FALSE(schedule.RoundLoad(kNow + kMinute).behind) << "an interval of 0 is never late";

    schedule.Rebuild({{"A", true, "1"}, {"B", true, "30"}, {"C", false, "1"}, {"E", true, "60"}, {"F", true, "1"}}, 1,
                     4, kNow);
    ASSERT_EQ(schedule.TakeDue(kNow + kMinute + 500)->text, "A");
    load = schedule.RoundLoad(kNow + kMinute + 1000);
    EXPECT_DOUBLE_EQ(load.neededPerHour, 63);
    EXPECT_EQ(load.doneLastHour, 2) << "the calls outlive a rebuild";
    EXPECT_FALSE(load.behind) << "late, but by less than its interval";
    EXPECT_TRUE(schedule.RoundLoad(kNow + 3 * kMinute + 1).behind) << "A waits more than its interval";
    ASSERT_EQ(schedule.TakeDue(kNow + 3 * kMinute + 2)->text, "A");
    EXPECT_EQ(schedule.At(0, 0).nextDueMs, kNow + 4 * kMinute);
    EXPECT_TRUE(schedule.RoundLoad(kNow + 3 * kMinute + 3).behind) << "the call just taken came too late";
    // The late call is told for an hour.
    schedule.Rebuild({{"E", true, "60"}}, 1, 4, kNow + 62 * kMinute);
    EXPECT_TRUE(schedule.RoundLoad(kNow + 63 * kMinute - 10).behind);
    load = schedule.RoundLoad(kNow + 63 * kMinute + 3);
    EXPECT_FALSE(load.behind);
    EXPECT_EQ(load.doneLastHour, 0);
    EXPECT_DOUBLE_EQ(load.neededPerHour, 1);
}

TEST(DialSchedule, TilesOutsideTheBoardAreNotCalled)
{
    DialSchedule schedule;
    schedule.Rebuild(Devices(3), 1, 2, kNow);
    EXPECT_EQ(schedule.Text(1, 0), "D2");
    int calls = 0;
    while (const auto tile = schedule.TakeDue(kNow + 10 * kMinute + kMinute / 2)) {
        EXPECT_EQ(tile->column, 0);
        if (++calls > 100)
            break;
    }
    EXPECT_EQ(calls, 2) << "once each: calls missed are not owed";
}

} // namespace
} // namespace kv
