// The workers on their own threads in real time: started, answered, stopped.
// Each test is bounded to a few seconds.
#include "data/Text.h"
#include "modem/CommThread.h"
#include "modem/DialThread.h"
#include "tests/support/FakePort.h"
#include "tests/support/RecordingHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kv::test {
namespace {

using namespace kv::literals;
using Clock = std::chrono::steady_clock;

std::string S(std::string_view s) { return std::string(s); }

template <class Pred>
bool WaitUntil(Pred done, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(ThreadedCommThread, PollsInRealTimeAndStopsWithinAPass)
{
    TModem modem;
    FakePort port;
    RecordingHost host;
    port.DeliverTo([&](const std::string& bytes) { modem.AppendReceived(bytes); });
    port.Always("AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 17,0\r\n\r\nOK\r\n");
    port.Always("AT+CPMS?\r", "AT+CPMS?\r\r\n+CPMS: \"SM_P\",0,10\r\n\r\nOK\r\n");
    std::atomic<int> saves{0};
    modem.Running = true;
    TCommThread worker(modem, port, host, RealClock::Instance(), [&] {
        ++saves;
        return TileSaveResult::Saved;
    });
    worker.Start();
    ASSERT_TRUE(WaitUntil([&] { return !host.Of("signal").empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(host.Of("signal").front(), "17");
    EXPECT_EQ(saves, 1);

    const auto stop = Clock::now();
    worker.RequestStop();
    EXPECT_TRUE(worker.Wait(std::chrono::milliseconds(1500)));
    EXPECT_LT(Clock::now() - stop, std::chrono::milliseconds(1500));
    EXPECT_TRUE(worker.Finished());
    EXPECT_FALSE(modem.Running);
}

TEST(ThreadedCommThread, ReplyAppendedByAnotherThreadWakesTheWait)
{
    TModem modem;
    FakePort port; // no script: the reply comes from the "receive handler" thread below
    RecordingHost host;
    modem.Running = true;
    EnqueueCommand(modem, "AT\r");
    TCommThread worker(modem, port, host, RealClock::Instance(), {});
    std::atomic<bool> quit{false};
    Clock::time_point answeredAt{};
    std::thread receiver([&] {
        while (!quit && port.Writes().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (quit)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        answeredAt = Clock::now();
        modem.AppendReceived("AT\r\r\nOK\r\n");
    });
    worker.Start();
    const bool handled = WaitUntil([&] { return !host.Events().empty(); }, std::chrono::seconds(5));
    const auto handledAt = Clock::now();
    quit = true;
    receiver.join();
    ASSERT_TRUE(handled);
    EXPECT_LT(handledAt - answeredAt, std::chrono::milliseconds(200)) << "the wait must not sit out its ten seconds";
    EXPECT_EQ(host.Events()[0].event, S("Соединение с GSM-модулем установлено"_cp));
    worker.RequestStop();
    EXPECT_TRUE(worker.Wait(std::chrono::milliseconds(1500)));
}

TEST(ThreadedCommThread, StopDuringTheWaitForASilentModemEndsAtOnceWithoutALinkAlarm)
{
    TModem modem;
    FakePort port; // answers nothing
    RecordingHost host;
    modem.Running = true;
    EnqueueCommand(modem, "AT+CMGF=1\r");
    TCommThread worker(modem, port, host, RealClock::Instance(), {});
    worker.Start();
    ASSERT_TRUE(WaitUntil([&] { return !port.Writes().empty(); }, std::chrono::seconds(5)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const auto stop = Clock::now();
    worker.RequestStop();
    EXPECT_TRUE(worker.Wait(std::chrono::milliseconds(1500)));
    EXPECT_LT(Clock::now() - stop, std::chrono::milliseconds(1500)) << "the ten-second wait held the stop";
    EXPECT_FALSE(modem.LinkLost);
    EXPECT_TRUE(host.Of("linklost").empty());
    EXPECT_TRUE(host.Of("techno").empty()) << "no time-out line for an answer nobody waits for any more";
}

TEST(ThreadedCommThread, DestroyingARunningWorkerStopsAndJoinsIt)
{
    TModem modem;
    FakePort port;
    RecordingHost host;
    modem.Running = true;
    {
        TCommThread worker(modem, port, host, RealClock::Instance(), {});
        worker.Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(modem.Running);
}

TEST(ThreadedDialThread, StartThenStopReturnsToWaiting)
{
    TModem modem;
    FakePort port;
    RecordingHost host;
    DialSchedule schedule;
    DialState state;
    modem.Running = true;
    TDialThread worker(modem, port, host, RealClock::Instance(), schedule, state);
    worker.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    worker.RequestStop();
    EXPECT_TRUE(worker.Wait(std::chrono::milliseconds(1500)));
    EXPECT_EQ(host.Of("dialstatus"), std::vector<std::string>{S("Статус дозвона: ожидание"_cp)});
}

} // namespace
} // namespace kv::test
