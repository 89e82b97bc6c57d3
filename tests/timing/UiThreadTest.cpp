#include "timing/UiThread.h"
#include "timing/rdtsc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// This thread as the UI thread, with no event loop behind it: queued calls run
// from ServeHandOvers, WaitServing and WaitMs alone.
void FreshUiThread()
{
    kv::ResetShutdownForTests();
    kv::InstallUiThreadLoop(nullptr, nullptr);
}

TEST(HandOver, RunsOnTheUiThreadInOrderAndWaits)
{
    FreshUiThread();
    const auto uiId = std::this_thread::get_id();
    std::vector<int> order;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            kv::PostToUi([&order, i] { order.push_back(2 * i); });
            const bool ran = kv::Synchronize([&, i] {
                EXPECT_EQ(std::this_thread::get_id(), uiId);
                order.push_back(2 * i + 1);
            });
            EXPECT_TRUE(ran);
            // The synchronous call has run by the time it returns.
            EXPECT_EQ(order.size(), static_cast<size_t>(2 * i + 2));
        }
        finished = true;
    });
    EXPECT_TRUE(kv::WaitServing([&] { return finished.load(); }, std::chrono::seconds(10)));
    worker.join();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(HandOver, ShutdownReleasesAWaitingWorkerWithoutRunningItsCall)
{
    FreshUiThread();
    std::atomic<bool> ran{false}, returned{false};
    std::thread worker([&] {
        // Nobody serves this one: the UI thread is busy "closing".
        const bool r = kv::Synchronize([&] { ran = true; });
        EXPECT_FALSE(r);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kv::BeginShutdown();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(ran);
    std::thread late([] { EXPECT_FALSE(kv::Synchronize([] {})) << "hand-overs after shut-down return at once"; });
    late.join();
    kv::ResetShutdownForTests();
}

TEST(HandOver, AFailureOnTheUiThreadReachesTheWaitingWorker)
{
    FreshUiThread();
    std::atomic<bool> finished{false};
    std::string caught;
    bool ranAfter = false;
    std::thread worker([&] {
        try {
            kv::Synchronize([] { throw std::runtime_error("journal full"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        // The UI thread goes on serving.
        ranAfter = kv::Synchronize([] {});
        finished = true;
    });
    EXPECT_TRUE(kv::WaitServing([&] { return finished.load(); }, std::chrono::seconds(10)));
    worker.join();
    EXPECT_EQ(caught, "journal full");
    EXPECT_TRUE(ranAfter);
    // A queued call that fails has nobody to tell: it is dropped and the rest run.
    std::atomic<int> after{0};
    kv::PostToUi([] { throw std::runtime_error("nobody waits"); });
    kv::PostToUi([&] { ++after; });
    kv::ServeHandOvers();
    EXPECT_EQ(after.load(), 1);
}

std::atomic<int> g_wakes{0};
std::atomic<int> g_pumps{0};

// An event loop is asked once to serve, however many calls queue meanwhile,
// and again only after it has served; long waits keep its messages flowing.
TEST(HandOver, AnEventLoopIsWokenOncePerBatchAndPumpedDuringLongWaits)
{
    kv::ResetShutdownForTests();
    g_wakes = 0;
    g_pumps = 0;
    kv::InstallUiThreadLoop([] { ++g_wakes; }, [] { ++g_pumps; });
    std::atomic<int> ran{0};
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i)
            kv::PostToUi([&] { ++ran; });
    });
    worker.join();
    EXPECT_EQ(g_wakes.load(), 1);
    EXPECT_EQ(ran.load(), 0) << "queued calls wait for the loop";
    kv::ServeHandOvers();
    EXPECT_EQ(ran.load(), 5);
    kv::PostToUi([&] { ++ran; });
    EXPECT_EQ(g_wakes.load(), 2) << "served, the next call wakes the loop again";
    kv::ServeHandOvers();
    kv::WaitMs(50);
    EXPECT_EQ(g_pumps.load(), 0) << "a short wait leaves the messages be";
    kv::WaitMs(150);
    EXPECT_GT(g_pumps.load(), 0);
    kv::InstallUiThreadLoop(nullptr, nullptr);
    EXPECT_EQ(kv::UiEventPump(), nullptr);
}

TEST(WaitMs, WaitsAtLeastTheTimeAndServesHandOversAfter100ms)
{
    FreshUiThread();
    std::atomic<bool> ran{false};
    std::thread worker([&] { kv::Synchronize([&] { ran = true; }); });
    const auto start = kv::ReadTimeStamp();
    kv::WaitMs(300);
    EXPECT_GE(kv::ElapsedMs(start), 300u);
    EXPECT_TRUE(ran) << "the worker's hand-over ran during the wait";
    worker.join();
}

} // namespace
