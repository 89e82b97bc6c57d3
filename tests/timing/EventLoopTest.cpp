// The receiver's own event loop: posted work, timers, waking and stopping.
#include "timing/EventLoop.h"
#include "timing/UiThread.h"
#include "timing/rdtsc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(EventLoop, RunsPostedWorkOnItsThreadInTheOrderPosted)
{
    kv::EventLoop loop;
    const auto loopThread = std::this_thread::get_id();
    std::vector<std::string> order;
    std::thread a([&] {
        for (int i = 0; i < 100; ++i)
            loop.Post([&, i] {
                EXPECT_EQ(std::this_thread::get_id(), loopThread);
                order.push_back("a" + std::to_string(i));
            });
    });
    std::thread b([&] {
        for (int i = 0; i < 100; ++i)
            loop.Post([&, i] { order.push_back("b" + std::to_string(i)); });
    });
    a.join();
    b.join();
    // What a callback posts waits for the next pass.
    loop.Post([&] { loop.Post([&] { order.push_back("later"); }); });
    EXPECT_EQ(loop.RunOnce(0ms), 201);
    ASSERT_EQ(order.size(), 200u);
    int nextA = 0, nextB = 0;
    for (const std::string& s : order)
        EXPECT_EQ(s, (s[0] == 'a' ? "a" + std::to_string(nextA++) : "b" + std::to_string(nextB++)));
    EXPECT_EQ(loop.RunOnce(0ms), 1);
    EXPECT_EQ(order.back(), "later");
    EXPECT_EQ(loop.RunOnce(0ms), 0);
}

TEST(EventLoop, TimersFallDueByItsClock)
{
    kv::VirtualClock clock;
    kv::EventLoop loop(clock);
    std::vector<std::string> fired;
    const auto every = loop.Every(1000, [&] { fired.push_back("tick"); });
    loop.After(2500, [&] { fired.push_back("once"); });
    int cancelled = 0;
    kv::EventLoop::TimerId self = 0;
    self = loop.Every(700, [&] {
        if (++cancelled == 2)
            loop.Cancel(self);
    });
    const auto zero = loop.Every(0, [&] { fired.push_back("zero"); });
    loop.Cancel(loop.After(10, [&] { fired.push_back("cancelled"); }));
    loop.Cancel(12345);

    EXPECT_EQ(loop.RunOnce(0ms), 0);
    clock.Advance(1);
    EXPECT_EQ(loop.RunOnce(0ms), 1) << "a 0 ms timer fires as a 1 ms one, once a pass";
    fired.clear();
    loop.Cancel(zero);
    clock.Advance(998);
    EXPECT_EQ(loop.RunOnce(0ms), 1) << "the 700 ms timer";
    EXPECT_TRUE(fired.empty());
    clock.Advance(1);
    loop.RunOnce(0ms);
    EXPECT_EQ(fired, std::vector<std::string>{"tick"});
    clock.Advance(1500);
    loop.RunOnce(0ms);
    EXPECT_EQ(fired, (std::vector<std::string>{"tick", "tick", "once"})) << "earlier due first";
    EXPECT_EQ(cancelled, 2) << "cancelled from its own callback";

    // A stall fires a periodic timer once, then on at its interval from now.
    clock.Advance(10000);
    fired.clear();
    loop.RunOnce(0ms);
    EXPECT_EQ(fired, std::vector<std::string>{"tick"});
    clock.Advance(999);
    loop.RunOnce(0ms);
    EXPECT_EQ(fired.size(), 1u);
    clock.Advance(1);
    loop.RunOnce(0ms);
    EXPECT_EQ(fired.size(), 2u);
    loop.Cancel(every);
    clock.Advance(5000);
    EXPECT_EQ(loop.RunOnce(0ms), 0);
}

// Asleep between timers, not spinning: every pass it makes has something to
// run. A post wakes it at once, and Quit from another thread ends Run.
TEST(EventLoop, SleepsUntilTheNextTimerOrAPostAndQuitsFromAnotherThread)
{
    kv::EventLoop loop;
    int ticks = 0;
    loop.Every(40, [&] { ++ticks; });
    const auto start = std::chrono::steady_clock::now();
    bool posted = false;
    std::thread other([&] {
        std::this_thread::sleep_for(300ms);
        loop.Post([&] { posted = true; });
    });
    int idlePasses = 0;
    while (!posted)
        idlePasses += loop.RunOnce(std::chrono::hours(1)) == 0;
    other.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 290ms);
    EXPECT_GE(ticks, 4);
    EXPECT_LE(ticks, 9);
    // A timer's wait may end a tick early where the system's timer is coarse.
    EXPECT_LE(idlePasses, 3) << "the loop spins";

    std::thread quitter([&] {
        std::this_thread::sleep_for(20ms);
        loop.Quit(7);
    });
    EXPECT_EQ(loop.Run(), 7);
    quitter.join();

    // A Quit that comes first ends the next Run at once, and only that one.
    loop.Quit(3);
    EXPECT_EQ(loop.Run(), 3);
    loop.After(30, [&] { loop.Quit(4); });
    EXPECT_EQ(loop.Run(), 4);
}

// Installed as the UI thread, it serves the workers' hand-overs; a long wait
// inside a callback keeps the later work flowing, still in order.
TEST(EventLoop, ServesHandOversAndKeepsOrderWhenACallbackWaits)
{
    kv::ResetShutdownForTests();
    std::vector<std::string> order;
    {
        kv::EventLoop loop;
        loop.InstallAsUiThread();
        std::thread worker([&] {
            const bool ran = kv::Synchronize([&] { order.push_back("sync"); });
            EXPECT_TRUE(ran);
            kv::PostToUi([&] { loop.Quit(); });
        });
        EXPECT_EQ(loop.Run(), 0);
        worker.join();
        EXPECT_EQ(order, std::vector<std::string>{"sync"});

        order.clear();
        loop.Post([&] {
            order.push_back("wait");
            kv::WaitMs(150);
            order.push_back("waited");
        });
        loop.Post([&] { order.push_back("next"); });
        loop.Post([&] { order.push_back("last"); });
        loop.RunOnce(0ms);
        EXPECT_EQ(order, (std::vector<std::string>{"wait", "next", "last", "waited"}));
    }
    // Gone, the loop no longer hears the hand-overs.
    EXPECT_EQ(kv::UiEventPump(), nullptr);
    kv::InstallUiThreadLoop(nullptr, nullptr);
}

} // namespace
