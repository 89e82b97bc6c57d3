#include "timing/UiThread.h"
#include "timing/rdtsc.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(HandOver, RunsOnTheUiThreadInOrderAndWaits)
{
    kv::ResetShutdownForTests();
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
    kv::ResetShutdownForTests();
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
    kv::ResetShutdownForTests();
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

TEST(HandOver, QueuedCallsRunFromTheEventLoop)
{
    kv::ResetShutdownForTests();
    std::atomic<int> count{0};
    std::thread worker([&] {
        for (int i = 0; i < 10; ++i)
            kv::PostToUi([&] { ++count; });
    });
    worker.join();
    const auto start = std::chrono::steady_clock::now();
    while (count < 10 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(count.load(), 10);
}

TEST(WaitMs, WaitsAtLeastTheTimeAndServesHandOversAfter100ms)
{
    kv::ResetShutdownForTests();
    std::atomic<bool> ran{false};
    std::thread worker([&] { kv::Synchronize([&] { ran = true; }); });
    const auto start = kv::ReadTimeStamp();
    kv::WaitMs(300);
    EXPECT_GE(kv::ElapsedMs(start), 300u);
    EXPECT_TRUE(ran) << "the worker's hand-over ran during the wait";
    worker.join();
}

} // namespace
