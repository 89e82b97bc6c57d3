#include "timing/MMTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Records the moment of every firing.
struct Firings {
    std::mutex mutex;
    std::vector<Clock::time_point> at;

    kv::TMMTimer::TNotifyEvent Handler()
    {
        return [this](kv::TMMTimer*) {
            std::lock_guard lock(mutex);
            at.push_back(Clock::now());
        };
    }
    std::size_t Count()
    {
        std::lock_guard lock(mutex);
        return at.size();
    }
    Clock::time_point First()
    {
        std::lock_guard lock(mutex);
        return at.empty() ? Clock::time_point::max() : at.front();
    }
};

double MsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

TEST(MMTimer, StartsOnlyWhenTheHandlerIsAttachedAndRunsOnItsOwnThread)
{
    kv::TMMTimer timer;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Delay(), 1000u);
    EXPECT_EQ(timer.Resolution(), 100u);
    EXPECT_EQ(timer.Mode(), kv::mmePeriodic);

    timer.SetDelay(20);
    std::this_thread::sleep_for(60ms); // no handler yet: nothing may be armed

    std::atomic<int> count{0};
    std::atomic<bool> onCaller{false};
    kv::TMMTimer* seen = nullptr;
    const auto caller = std::this_thread::get_id();
    timer.SetOnTimer([&](kv::TMMTimer* sender) {
        seen = sender;
        if (std::this_thread::get_id() == caller)
            onCaller = true;
        ++count;
    });
    const auto start = Clock::now();
    while (count == 0 && Clock::now() - start < 2s)
        std::this_thread::sleep_for(5ms);
    timer.SetEnabled(false);
    EXPECT_GE(count.load(), 1);
    EXPECT_FALSE(onCaller.load());
    EXPECT_EQ(seen, &timer);
}

TEST(MMTimer, PeriodicFiresOnItsGridNeverEarly)
{
    Firings firings;
    kv::TMMTimer timer;
    timer.SetDelay(50);
    const auto start = Clock::now();
    timer.SetOnTimer(firings.Handler());
    std::this_thread::sleep_for(300ms);
    timer.SetEnabled(false);
    const double elapsed = MsBetween(start, Clock::now());

    std::lock_guard lock(firings.mutex);
    ASSERT_GE(firings.at.size(), 3u) << "a 50 ms timer fired too seldom in 300 ms";
    EXPECT_LE(firings.at.size(), static_cast<std::size_t>(elapsed / 50.0));
    for (std::size_t k = 0; k < firings.at.size(); ++k)
        EXPECT_GE(MsBetween(start, firings.at[k]), 50.0 * static_cast<double>(k + 1) - 1.0) << "firing " << k;
}

TEST(MMTimer, OneShotFiresOnceAndDisablingStopsPeriodic)
{
    Firings once;
    kv::TMMTimer oneShot;
    oneShot.SetMode(kv::mmeOneShort);
    oneShot.SetDelay(30);
    oneShot.SetOnTimer(once.Handler());

    Firings periodic;
    kv::TMMTimer stopped;
    stopped.SetDelay(20);
    stopped.SetOnTimer(periodic.Handler());
    std::this_thread::sleep_for(70ms);
    stopped.SetEnabled(false);
    const std::size_t atStop = periodic.Count();

    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(once.Count(), 1u);
    EXPECT_GE(atStop, 1u);
    EXPECT_LE(periodic.Count(), atStop + 1) << "at most a firing already under way when disabled";
}

TEST(MMTimer, DelayZeroNeverFires)
{
    Firings firings;
    kv::TMMTimer timer;
    timer.SetDelay(0);
    timer.SetOnTimer(firings.Handler());
    timer.SetEnabled(false);
    timer.SetEnabled(true);
    timer.SetMode(kv::mmeOneShort);

    // Delay 0 also stops a running timer.
    Firings running;
    kv::TMMTimer second;
    second.SetDelay(15);
    second.SetOnTimer(running.Handler());
    std::this_thread::sleep_for(50ms);
    second.SetDelay(0);
    const std::size_t atStop = running.Count();
    std::this_thread::sleep_for(100ms);

    EXPECT_EQ(firings.Count(), 0u);
    EXPECT_LE(running.Count(), atStop + 1);
}

TEST(MMTimer, EqualValueKeepsThePeriodAChangeRestartsIt)
{
    Firings same;
    kv::TMMTimer keep;
    keep.SetDelay(300);
    keep.SetOnTimer(same.Handler());

    Firings changed;
    kv::TMMTimer restart;
    restart.SetDelay(300);
    restart.SetOnTimer(changed.Handler());

    std::this_thread::sleep_for(150ms);
    ASSERT_EQ(same.Count(), 0u);
    ASSERT_EQ(changed.Count(), 0u);
    const auto setAt = Clock::now();
    keep.SetDelay(300);
    keep.SetEnabled(true);
    keep.SetMode(kv::mmePeriodic);
    restart.SetResolution(10);

    const auto giveUp = Clock::now() + 3s;
    while ((same.Count() == 0 || changed.Count() == 0) && Clock::now() < giveUp)
        std::this_thread::sleep_for(5ms);
    keep.SetEnabled(false);
    restart.SetEnabled(false);
    ASSERT_GT(same.Count(), 0u);
    ASSERT_GT(changed.Count(), 0u);
    EXPECT_LT(MsBetween(setAt, same.First()), 300.0) << "setting equal values restarted the period";
    EXPECT_GE(MsBetween(setAt, changed.First()), 299.0) << "a changed property must restart the period";
}

TEST(MMTimer, HandlerMayChangeItsOwnTimer)
{
    std::atomic<int> count{0};
    kv::TMMTimer timer;
    timer.SetDelay(10);
    timer.SetOnTimer([&](kv::TMMTimer* self) {
        ++count;
        self->SetEnabled(false); // would deadlock if the firing held the timer's lock
    });
    std::this_thread::sleep_for(120ms);
    EXPECT_EQ(count.load(), 1);
    EXPECT_FALSE(timer.Enabled());
}

TEST(MMTimer, DestructionWaitsForARunningHandler)
{
    std::atomic<bool> entered{false}, finished{false};
    auto timer = std::make_unique<kv::TMMTimer>();
    timer->SetDelay(5);
    timer->SetOnTimer([&](kv::TMMTimer*) {
        entered = true;
        std::this_thread::sleep_for(80ms);
        finished = true;
    });
    const auto giveUp = Clock::now() + 2s;
    while (!entered && Clock::now() < giveUp)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(entered);
    timer.reset();
    EXPECT_TRUE(finished) << "the handler outlived its timer";
}

TEST(MMTimer, HandlerMayDestroyItsOwnTimer)
{
    std::atomic<bool> done{false};
    auto* timer = new kv::TMMTimer;
    timer->SetDelay(5);
    timer->SetMode(kv::mmeOneShort);
    timer->SetOnTimer([&](kv::TMMTimer* self) {
        delete self;
        done = true;
    });
    const auto giveUp = Clock::now() + 2s;
    while (!done && Clock::now() < giveUp)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(done);
    std::this_thread::sleep_for(20ms); // lets the detached thread leave; the sanitizer build checks it
}

} // namespace
