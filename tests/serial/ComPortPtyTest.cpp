// TComPort against pseudo-terminals: the test plays the device on the master.
#include "serial/CPort.h"
#include "serial/ComPortPlatform.h"
#include "tests/serial/HeldUpWrite.h"
#include "tests/support/Pty.h"
#include "timing/UiThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <vector>

namespace {

using namespace kv;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Serves the UI hand-overs (smThreadSync handlers) while it waits.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s)
{
    return WaitServing(done, limit);
}

double Ms(const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; }

double CpuMs(int who)
{
    rusage u{};
    getrusage(who, &u);
    return Ms(u.ru_utime) + Ms(u.ru_stime);
}

// CPU time used by every thread but the calling one while it sleeps `span`.
double OtherThreadsCpuMs(std::chrono::milliseconds span)
{
    const double process0 = CpuMs(RUSAGE_SELF);
    const double self0 = CpuMs(RUSAGE_THREAD);
    std::this_thread::sleep_for(span);
    return (CpuMs(RUSAGE_SELF) - process0) - (CpuMs(RUSAGE_THREAD) - self0);
}

termios LineOf(const test::Pty& pty)
{
    termios t{};
    tcgetattr(pty.MasterFd(), &t);
    return t;
}

int ErrorCode(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EComPort& e) {
        return e.Code();
    }
    return 0;
}

// What the receive handlers of the station do: read the count, append.
struct Receiver {
    std::mutex mutex;
    std::string bytes;
    std::vector<int> counts;
    std::atomic<int> calls{0};
    std::thread::id thread;

    TComPort::TRxCharEvent Handler()
    {
        return [this](TComPort* sender, int count) {
            const std::string text = sender->ReadText(count);
            std::lock_guard lock(mutex);
            bytes += text;
            counts.push_back(count);
            thread = std::this_thread::get_id();
            ++calls;
        };
    }
    std::string Bytes()
    {
        std::lock_guard lock(mutex);
        return bytes;
    }
};

class ComPortPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetShutdownForTests();
        ASSERT_TRUE(m_pty.MasterOpen());
        m_port.SetPort(m_pty.SlavePath());
    }

    // What the handlers touch is declared before the port: the port's
    // destructor may still run a handler.
    Receiver m_rx;
    std::atomic<int> m_calls{0};
    std::mutex m_countsMutex;
    std::vector<int> m_counts;
    test::Pty m_pty;
    TComPort m_port;
};

TEST_F(ComPortPty, OpensRawWritesClosesAndReopens)
{
    m_port.SetBaudRate(br115200);
    m_port.Open();
    ASSERT_TRUE(m_port.Connected());
    m_port.Open(); // nothing when open

    const termios t = LineOf(m_pty);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_TRUE(t.c_cflag & CLOCAL) << "a dropped carrier must not hang the port up";
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_iflag & (ICRNL | IXON | IXOFF));
    EXPECT_FALSE(t.c_oflag & OPOST) << "\\n must not become \\r\\n";

    EXPECT_EQ(m_port.WriteText("AT\r\n"), 4);
    EXPECT_EQ(m_pty.Read(4), "AT\r\n");

    m_port.Close();
    EXPECT_FALSE(m_port.Connected());
    m_port.Close(); // nothing when closed
    m_port.Open();
    EXPECT_EQ(m_port.WriteText("ATE0\r"), 5);
    EXPECT_EQ(m_pty.Read(5), "ATE0\r");
}

TEST_F(ComPortPty, OpenFailsWithCode1AndStaysClosed)
{
    TComPort missing;
    missing.SetPort("/dev/korvalen-no-such-port");
    try {
        missing.Open();
        FAIL() << "a missing device opened";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(e.SystemError(), ENOENT);
        EXPECT_STREQ(e.what(), "COM Port Error: Unable to open com port on /dev/korvalen-no-such-port");
    }
    EXPECT_FALSE(missing.Connected());

    TComPort notATerminal;
    notATerminal.SetPort("/dev/null");
    EXPECT_EQ(ErrorCode([&] { notATerminal.Open(); }), 1);
    EXPECT_FALSE(notATerminal.Connected());

    // Exclusive: a second port on the same device fails while the first holds
    // it, even though this test runs as root.
    m_port.Open();
    TComPort second;
    second.SetPort(m_pty.SlavePath());
    EXPECT_EQ(ErrorCode([&] { second.Open(); }), 1);
    EXPECT_FALSE(second.Connected());
    m_port.Close();
    second.Open();
    EXPECT_TRUE(second.Connected());
    EXPECT_EQ(ErrorCode([&] { m_port.Open(); }), 1);
}

TEST_F(ComPortPty, LineSettingsApplyAtOnceOrAtTheEndOfTheBracket)
{
    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told;
    // those settings must not make the port fail.
    m_port.Open();
    m_port.SetDataBits(dbSeven);
    m_port.SetStopBits(sbOne5StopBits);
    EXPECT_TRUE(LineOf(m_pty).c_cflag & CSTOPB);

    m_port.BeginUpdate();
    TComParity odd;
    odd.Bits = prOdd;
    m_port.SetParity(odd);
    m_port.SetStopBits(sbTwoStopBits);
    m_port.SetStopBits(sbOneStopBit);
    TComFlowControl hardware;
    hardware.SetFlowControl(fcHardware);
    m_port.SetFlowControl(hardware);
    m_port.SetBaudRate(br19200);
    termios t = LineOf(m_pty);
    EXPECT_TRUE(t.c_cflag & CSTOPB) << "applied inside the bracket";
    EXPECT_FALSE(t.c_cflag & CRTSCTS) << "applied inside the bracket";
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    m_port.EndUpdate();
    t = LineOf(m_pty);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));

    TComFlowControl software;
    software.SetFlowControl(fcSoftware);
    m_port.SetFlowControl(software);
    t = LineOf(m_pty);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 17);
    EXPECT_EQ(t.c_cc[VSTOP], 19);

    // Rates outside the standard list are set exactly where the driver takes
    // them (Linux does for pseudo-terminals).
    m_port.SetBaudRate(br14400);
    EXPECT_EQ(comport::CurrentSpeed(m_pty.MasterFd()), 14400);
    m_port.SetBaudRate(brCustom);
    m_port.SetCustomBaudRate(250000);
    EXPECT_EQ(comport::CurrentSpeed(m_pty.MasterFd()), 250000);
    m_port.SetBaudRate(br115200);
    EXPECT_EQ(comport::CurrentSpeed(m_pty.MasterFd()), 115200);
}

TEST_F(ComPortPty, RxCharOnTheUiThreadGetsTheCountAndReadsExactlyThoseBytes)
{
    m_port.SetOnRxChar(m_rx.Handler());
    m_port.Open();
    ASSERT_TRUE(m_pty.Write("hello"));
    ASSERT_TRUE(WaitFor([&] { return m_rx.Bytes().size() >= 5; }));
    ASSERT_TRUE(m_pty.Write("\r\nOK\r\n"));
    ASSERT_TRUE(WaitFor([&] { return m_rx.Bytes().size() >= 11; }));
    std::this_thread::sleep_for(30ms);
    WaitFor([] { return false; }, 20ms);

    std::lock_guard lock(m_rx.mutex);
    EXPECT_EQ(m_rx.bytes, "hello\r\nOK\r\n");
    EXPECT_EQ(m_rx.thread, std::this_thread::get_id()) << "smThreadSync delivers on the UI thread";
    int sum = 0;
    for (int c : m_rx.counts) {
        EXPECT_GT(c, 0) << "a count of 0 never calls the handler";
        sum += c;
    }
    EXPECT_EQ(sum, 11);
    EXPECT_EQ(m_rx.counts.front(), 5);
}

TEST_F(ComPortPty, SmNoneDeliversOnTheEventThreadAndDiscardNullDropsZeroBytes)
{
    m_port.SetSyncMethod(smNone);
    m_port.SetDiscardNull(true);
    m_port.SetOnRxChar(m_rx.Handler());
    m_port.Open();
    ASSERT_TRUE(m_pty.Write(std::string("A\0B\0\0C", 6)));
    ASSERT_TRUE(m_pty.Write("D"));
    ASSERT_TRUE(WaitFor([&] { return m_rx.Bytes().size() >= 4; }));
    EXPECT_EQ(m_rx.Bytes(), "ABCD");
    {
        std::lock_guard lock(m_rx.mutex);
        EXPECT_NE(m_rx.thread, std::this_thread::get_id());
    }

    // With the setting off the zero bytes come through.
    m_port.SetDiscardNull(false);
    ASSERT_TRUE(m_pty.Write(std::string("\0E", 2)));
    ASSERT_TRUE(WaitFor([&] { return m_rx.Bytes().size() >= 6; }));
    EXPECT_EQ(m_rx.Bytes(), std::string("ABCD\0E", 6));
}

TEST_F(ComPortPty, SyncMethodCannotChangeWhileOpen)
{
    m_port.Open();
    try {
        m_port.SetSyncMethod(smNone);
        FAIL() << "changed while connected";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 14);
        EXPECT_EQ(e.SystemError(), -1);
        EXPECT_STREQ(e.what(), "COM Port Error: Cannot set property while connected");
    }
    EXPECT_EQ(m_port.SyncMethod(), smThreadSync);
    m_port.SetSyncMethod(smThreadSync); // the same value is no change
    m_port.Close();
    m_port.SetSyncMethod(smNone);
    EXPECT_EQ(m_port.SyncMethod(), smNone);
}

TEST_F(ComPortPty, BlockedWriteEndsAtItsTimeOut)
{
    m_port.Open();
    test::HoldUpTheLine(m_port); // nobody reads the master
    test::ExpectAHeldUpWriteEndsAtItsTimeOut(m_port);

    // The station's own setting: 1000 ms + 100 ms a byte.
    m_port.SetTimeouts(TComTimeouts{});
    const auto start = Clock::now();
    EXPECT_LT(m_port.WriteText("AT+CMGS=\"+7912345\"\r"), 20);
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_GE(elapsed, 2790.0);
    EXPECT_LE(elapsed, 3500.0);
}

TEST_F(ComPortPty, CloseAbortsAWriteBlockedOnAnotherThread)
{
    m_port.Open();
    test::HoldUpTheLine(m_port);
    test::ExpectCloseEndsAHeldUpWrite(m_port, 100ms);
}

TEST_F(ComPortPty, VanishedDeviceStopsTheEventThreadAndFailsWrites)
{
    m_port.SetSyncMethod(smNone);
    m_port.SetOnRxChar(m_rx.Handler());
    m_port.Open();
    ASSERT_TRUE(m_pty.Write("RING\r\n"));
    ASSERT_TRUE(WaitFor([&] { return m_rx.Bytes().size() >= 6; }));

    m_pty.CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return m_port.DeviceLost(); }));
    const double cpu = OtherThreadsCpuMs(300ms);
    std::printf("[ info ] event thread after the device vanished: %.1f ms CPU in 300 ms\n", cpu);
    EXPECT_LT(cpu, 30.0) << "the event thread spins on a vanished device";

    try {
        m_port.WriteText("AT\r");
        FAIL() << "a write to a vanished device succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 2);
        EXPECT_NE(e.SystemError(), -1);
    }
    EXPECT_TRUE(m_port.Connected());
    m_port.Close();
    EXPECT_FALSE(m_port.Connected());
    EXPECT_FALSE(m_port.DeviceLost());
    // The device node is gone with its master: reopening fails cleanly.
    EXPECT_EQ(ErrorCode([&] { m_port.Open(); }), 1);
    EXPECT_FALSE(m_port.Connected());
}

TEST_F(ComPortPty, UnreadBytesNeitherSpinNorGetLost)
{
    // No handler: the bytes stay for a later ReadText and the thread idles.
    m_port.SetSyncMethod(smNone);
    m_port.Open();
    ASSERT_TRUE(m_pty.Write("+CMTI: \"SM\",3\r\n"));
    std::this_thread::sleep_for(50ms);
    const double idle = OtherThreadsCpuMs(300ms);
    std::printf("[ info ] event thread with unread bytes and no handler: %.1f ms CPU in 300 ms\n", idle);
    EXPECT_LT(idle, 30.0);
    EXPECT_EQ(m_port.ReadText(100), "+CMTI: \"SM\",3\r\n");
    m_port.Close();

    // A handler that reads nothing is called again only when more bytes come,
    // then with the whole count.
    m_port.SetOnRxChar([this](TComPort*, int count) {
        std::lock_guard lock(m_countsMutex);
        m_counts.push_back(count);
    });
    m_port.Open();
    ASSERT_TRUE(m_pty.Write("abc"));
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard lock(m_countsMutex);
        return !m_counts.empty();
    }));
    const double stalled = OtherThreadsCpuMs(300ms);
    std::printf("[ info ] event thread with a handler that reads nothing: %.1f ms CPU in 300 ms\n", stalled);
    EXPECT_LT(stalled, 30.0);
    {
        std::lock_guard lock(m_countsMutex);
        EXPECT_EQ(m_counts, std::vector<int>{3});
    }
    ASSERT_TRUE(m_pty.Write("de"));
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard lock(m_countsMutex);
        return m_counts.size() >= 2;
    }));
    std::lock_guard lock(m_countsMutex);
    EXPECT_EQ(m_counts.back(), 5);
}

TEST_F(ComPortPty, CloseOnTheUiThreadWhileTheEventThreadWaitsForIt)
{
    m_port.SetOnRxChar(m_rx.Handler());
    m_port.Open();
    ASSERT_TRUE(m_pty.Write("+CSQ: 17,0\r\n"));
    // Not serving: the event thread is now blocked in the hand-over.
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(m_rx.calls.load(), 0);
    const auto start = Clock::now();
    m_port.Close();
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_FALSE(m_port.Connected());
    WaitFor([] { return false; }, 30ms);
    const int callsAfterClose = m_rx.calls.load();
    EXPECT_LE(callsAfterClose, 1);

    m_port.Open();
    ASSERT_TRUE(m_pty.Write("OK\r\n"));
    EXPECT_TRUE(WaitFor([&] { return m_rx.Bytes().find("OK\r\n") != std::string::npos; }));
}

TEST_F(ComPortPty, AWorkerReopensThePortWhileBytesFlow)
{
    m_port.SetOnRxChar(m_rx.Handler());
    m_port.Open();
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) {
            try {
                m_port.Close();
                m_port.Open();
                m_port.WriteText("AT\r");
            } catch (const EComPort&) {
                ++failures;
            }
        }
        done = true;
    });
    std::thread device([&] {
        for (int i = 0; i < 40 && !done; ++i) {
            m_pty.Write("OK\r\n", 100ms);
            std::this_thread::sleep_for(2ms);
        }
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 20s));
    worker.join();
    device.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(m_port.Connected());
}

TEST_F(ComPortPty, CloseFromInsideTheHandlerAndOpenAgainAfterwards)
{
    m_port.SetOnRxChar([this](TComPort* sender, int count) {
        ++m_calls;
        sender->ReadText(count);
        sender->Close();
        EXPECT_FALSE(sender->Connected());
        EXPECT_EQ(ErrorCode([&] { sender->Open(); }), 1) << "the old descriptor is still held here";
    });
    m_port.Open();
    ASSERT_TRUE(m_pty.Write("NO CARRIER\r\n"));
    ASSERT_TRUE(WaitFor([&] { return m_calls.load() == 1; }));
    EXPECT_FALSE(m_port.Connected());

    m_port.SetOnRxChar(nullptr);
    m_port.Open();
    ASSERT_TRUE(m_port.Connected());
    EXPECT_EQ(m_port.WriteText("ATH\r"), 4);
    EXPECT_EQ(m_pty.Read(4), "ATH\r");
}

TEST_F(ComPortPty, ChangingThePortOfAnOpenPortMovesItThere)
{
    test::Pty other;
    ASSERT_TRUE(other.MasterOpen());
    m_port.SetOnBeforeClose([this](TComPort*) { ++m_calls; });
    m_port.Open();

    m_port.SetPort(m_pty.SlavePath());
    EXPECT_EQ(m_calls.load(), 0) << "the same name reopened the port";

    m_port.SetPort(other.SlavePath());
    EXPECT_EQ(m_calls.load(), 1);
    ASSERT_TRUE(m_port.Connected());
    EXPECT_EQ(m_port.WriteText("AT\r"), 3);
    EXPECT_EQ(other.Read(3), "AT\r");

    TComPort first;
    first.SetPort(m_pty.SlavePath());
    EXPECT_NO_THROW(first.Open()) << "the old device was not released";

    // Inside a bracket the move waits for its end.
    m_port.BeginUpdate();
    m_port.SetPort(m_pty.SlavePath());
    m_port.SetBaudRate(br57600);
    EXPECT_EQ(m_calls.load(), 1);
    first.Close();
    m_port.EndUpdate();
    EXPECT_EQ(m_calls.load(), 2);
    const termios t = LineOf(m_pty);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
}

TEST_F(ComPortPty, NoEventsMeansNoHandlerCalls)
{
    m_port.SetEvents(TComEvents{});
    m_port.SetSyncMethod(smNone);
    m_port.SetOnRxChar(m_rx.Handler());
    m_port.Open();
    ASSERT_TRUE(m_pty.Write("xyz"));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_rx.calls.load(), 0);
    EXPECT_EQ(m_port.ReadText(10), "xyz");
}

} // namespace
