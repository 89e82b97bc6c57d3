// TComPort talking to the modem simulator through a real port: on Windows the
// COM port that Wine maps onto the simulator's pseudo-terminal (the Windows
// lane names it in KORVALEN_LINK_PORT and the simulator's control input in
// KORVALEN_LINK_CONTROL), on Linux the pseudo-terminal itself.
#include "codec/SmsPdu.h"
#include "data/Text.h"
#include "serial/CPort.h"
#include "serial/ComPortPlatform.h"
#include "serial/PortAdvice.h"
#include "serial/PortDiagnosis.h"
#include "tests/serial/HeldUpWrite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN // no SetPort macro of the printer spooler
#include <windows.h>
#else
#include "tests/support/ModemSim.h"
#include <sys/resource.h>
#endif

namespace {

using namespace kv;
using namespace kv::literals;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Modem 1 answers the exchanges, modem 2 is unplugged and plugged in again.
class Simulator {
public:
#ifdef _WIN32
    Simulator()
    {
        const char* ports = std::getenv("KORVALEN_LINK_PORTS");
        const char* control = std::getenv("KORVALEN_LINK_CONTROL");
        std::string list = ports ? ports : "";
        for (std::size_t at = 0; at < list.size();) {
            const std::size_t comma = std::min(list.find(',', at), list.size());
            m_ports.push_back(list.substr(at, comma - at));
            at = comma + 1;
        }
        m_control = control ? control : "";
    }
    bool Ready() const { return m_ports.size() >= 2 && !m_control.empty(); }
    std::string Port(int modem) const { return m_ports[static_cast<std::size_t>(modem - 1)]; }
    // The control input is a named pipe the lane keeps open: each line is a
    // command, its answer goes to the lane's log.
    void Command(const std::string& line)
    {
        std::ofstream out(m_control, std::ios::binary | std::ios::app);
        out << line << '\n';
        ASSERT_TRUE(out.flush()) << "cannot write to " << m_control;
    }
    // The lane links the COM port to the modem's link, which follows it.
    std::string Plug(int modem)
    {
        Command("plug " + std::to_string(modem));
        return Port(modem);
    }

private:
    std::vector<std::string> m_ports;
    std::string m_control;
#else
    Simulator() : m_sim(Options()), m_paths{m_sim.Path(1), m_sim.Path(2)} {}
    bool Ready() const { return true; }
    std::string Port(int modem) const { return m_paths[static_cast<std::size_t>(modem - 1)]; }
    void Command(const std::string& line) { m_sim.Command(line); }
    // A modem plugged in again has a new pseudo-terminal.
    std::string Plug(int modem)
    {
        const std::vector<std::string> lines = m_sim.Command("plug " + std::to_string(modem));
        if (!lines.empty())
            m_paths[static_cast<std::size_t>(modem - 1)] = lines.front();
        return Port(modem);
    }

private:
    static test::ModemSimOptions Options()
    {
        test::ModemSimOptions options;
        options.modems = 2;
        return options;
    }
    test::ModemSim m_sim;
    std::vector<std::string> m_paths;
#endif
};

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s)
{
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// What the station's receive handler does: read the announced count, append.
struct Received {
    std::mutex mutex;
    std::string bytes;

    TComPort::TRxCharEvent Handler()
    {
        return [this](TComPort* sender, int count) {
            const std::string text = sender->ReadText(count);
            std::lock_guard lock(mutex);
            bytes += text;
        };
    }
    // Waits until `end` has come after `from`; returns what came from `from`
    // to the end of `end`, or empty when it did not come in time.
    std::string WaitFor(std::size_t from, const std::string& end, std::chrono::milliseconds limit = 5s)
    {
        const auto deadline = Clock::now() + limit;
        for (;;) {
            {
                std::lock_guard lock(mutex);
                const std::size_t at = bytes.find(end, from);
                if (at != std::string::npos)
                    return bytes.substr(from, at + end.size() - from);
            }
            if (Clock::now() > deadline)
                return {};
            std::this_thread::sleep_for(5ms);
        }
    }
    std::size_t Size()
    {
        std::lock_guard lock(mutex);
        return bytes.size();
    }
};

// CPU time of the whole process: the test's own thread only sleeps meanwhile.
double ProcessCpuMs()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10000.0;
#else
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
#endif
}

double IdleCpuMs(std::chrono::milliseconds span)
{
    const double before = ProcessCpuMs();
    std::this_thread::sleep_for(span);
    return ProcessCpuMs() - before;
}

// Closes the port before the test's own variables go, which its handler may use.
struct ClosedAtEnd {
    TComPort& port;
    ~ClosedAtEnd() { port.Close(); }
};

std::string Exchange(TComPort& port, Received& rx, const std::string& command)
{
    const std::size_t from = rx.Size();
    EXPECT_EQ(port.WriteText(command), static_cast<int>(command.size()));
    return rx.WaitFor(from, "OK\r\n");
}

class ComPortLink : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_sim = std::make_unique<Simulator>(); }
    static void TearDownTestSuite() { s_sim.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(s_sim->Ready()) << "KORVALEN_LINK_PORTS and KORVALEN_LINK_CONTROL name the linked ports";
        m_port.SetPort(s_sim->Port(1));
        m_port.SetBaudRate(br115200);
        m_port.SetOnRxChar(m_rx.Handler());
    }

    static std::unique_ptr<Simulator> s_sim;
    Received m_rx; // before the port: its destructor may still run the handler
    TComPort m_port;
};

std::unique_ptr<Simulator> ComPortLink::s_sim;

TEST_F(ComPortLink, TheModemAnswersAnnouncesAnSmsAndHandsItOverWhole)
{
    m_port.Open(); // a pseudo-terminal has no modem lines: no failure for that
    ASSERT_TRUE(m_port.Connected());
    EXPECT_NE(Exchange(m_port, m_rx, "AT\r"), "");
    ASSERT_NE(Exchange(m_port, m_rx, "AT+CNMI=2,1,0,0,0\r"), "");

    const std::size_t from = m_rx.Size();
    s_sim->Command("sms 1 +79001234567 Внимание ТРЕВОГА, сработал датчик");
    const std::string head = m_rx.WaitFor(from, "+CMTI: ");
    const std::string announced = head + m_rx.WaitFor(from + head.size(), "\r\n");
    std::smatch index;
    ASSERT_TRUE(std::regex_search(announced, index, std::regex("\\+CMTI: \"[A-Z_]+\",([0-9]+)"))) << announced;

    const std::string listed = Exchange(m_port, m_rx, "AT+CMGR=" + index[1].str() + "\r");
    std::smatch pdu;
    ASSERT_TRUE(std::regex_search(listed, pdu, std::regex("\\+CMGR: [^\r]*\r\n([0-9A-F]+)\r\n"))) << listed;
    std::string why;
    const auto deliver = sms::DecodeDeliverPdu(pdu[1].str(), &why);
    ASSERT_TRUE(deliver) << why;
    EXPECT_EQ(deliver->sender, "+79001234567");
    EXPECT_EQ(deliver->data.text, "Внимание ТРЕВОГА, сработал датчик"_cp);
    EXPECT_NE(Exchange(m_port, m_rx, "AT+CMGD=" + index[1].str() + "\r"), "");

    // Closing ends the event thread at once, and the port opens again.
    const auto closing = Clock::now();
    m_port.Close();
    EXPECT_LT(Clock::now() - closing, 1s);
    EXPECT_FALSE(m_port.Connected());
    m_port.Open();
    EXPECT_NE(Exchange(m_port, m_rx, "AT\r"), "");
    m_port.Close();
    EXPECT_EQ(m_port.ReadFailures(), 0);
}

TEST_F(ComPortLink, BytesAHandlerLeavesStayUntilMoreComeAndTheThreadIdles)
{
    std::mutex mutex;
    std::vector<int> counts;
    const ClosedAtEnd closed{m_port};
    m_port.SetOnRxChar([&](TComPort*, int count) {
        std::lock_guard lock(mutex);
        counts.push_back(count);
    });
    m_port.Open();
    const double open = IdleCpuMs(500ms);
    std::printf("[ info ] an open port with nothing coming: %.1f ms CPU in 500 ms\n", open);
    EXPECT_LT(open, 50.0);

    // The echo and the answer may come in several pieces: each call tells
    // the whole count waiting, and only when it has grown.
    const std::string answer = "AT\r\r\nOK\r\n";
    ASSERT_EQ(m_port.WriteText("AT\r"), 3);
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard lock(mutex);
        return !counts.empty() && counts.back() == static_cast<int>(answer.size());
    }));
    const double stalled = IdleCpuMs(500ms);
    std::printf("[ info ] a port whose handler reads nothing: %.1f ms CPU in 500 ms\n", stalled);
    EXPECT_LT(stalled, 50.0);
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()) &&
                    std::adjacent_find(counts.begin(), counts.end()) == counts.end())
            << ::testing::PrintToString(counts);
    }
    EXPECT_EQ(m_port.ReadText(100), answer);
    m_port.Close();
}

TEST_F(ComPortLink, ASecondOpenIsRefusedAndToldAsThisStationsOwn)
{
    m_port.Open();
    TComPort second;
    second.SetPort(s_sim->Port(1));
    std::string advice;
    try {
        second.Open();
        ADD_FAILURE() << "a held port opened twice";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ComError::OpenFailed);
        advice = PortAdvice(std::current_exception(), s_sim->Port(1));
    }
    EXPECT_FALSE(second.Connected());
    EXPECT_EQ(advice, std::string("Порт "_cp) + comport::ShownPortName(s_sim->Port(1)) +
                          std::string(" уже открыт этой станцией: проверьте, не указан ли один порт для обоих модемов."_cp));
    // The refusal did not disturb the holder, and the port is free once it closes.
    EXPECT_NE(Exchange(m_port, m_rx, "AT\r"), "");
    m_port.Close();
    second.Open();
    EXPECT_TRUE(second.Connected());
    second.Close();
}

TEST_F(ComPortLink, AnUnpluggedModemIsNoticedAndItsPortOpensAgainOncePluggedIn)
{
    m_port.SetPort(s_sim->Port(2));
    m_port.Open();
    EXPECT_NE(Exchange(m_port, m_rx, "AT\r"), "");

    s_sim->Command("unplug 2");
    EXPECT_TRUE(WaitUntil([&] { return m_port.DeviceLost(); }));
    try {
        m_port.WriteText("AT\r");
        ADD_FAILURE() << "a write to a vanished modem went through";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ComError::WriteFailed);
    }
    m_port.Close(); // no error for a device that went away
    EXPECT_FALSE(m_port.DeviceLost());

    // What a worker does: try to open again until the modem is back.
    m_port.SetPort(s_sim->Plug(2));
    EXPECT_TRUE(WaitUntil([&] {
        try {
            m_port.Open();
        } catch (const EComPort&) {
        }
        return m_port.Connected();
    }));
    EXPECT_NE(Exchange(m_port, m_rx, "AT\r"), "");
    m_port.Close();
}

TEST_F(ComPortLink, APortMovesToAnotherModemClosesFromItsHandlerAndWorksWithoutAnEventThread)
{
    m_port.Open();
    m_port.SetPort(s_sim->Port(2));
    ASSERT_TRUE(m_port.Connected());
    EXPECT_NE(Exchange(m_port, m_rx, "AT\r"), "");
    TComPort first;
    first.SetPort(s_sim->Port(1));
    EXPECT_NO_THROW(first.Open()) << "the old device was not released";
    first.Close();
    m_port.Close();

    // The handler closes the port it serves; the device is let go once it returns.
    std::atomic<int> calls{0};
    std::atomic<bool> reopenRefused{false};
    const ClosedAtEnd closed{m_port};
    m_port.SetOnRxChar([&](TComPort* sender, int count) {
        sender->ReadText(count);
        sender->Close();
        try {
            sender->Open();
        } catch (const EComPort&) {
            reopenRefused = true;
        }
        ++calls;
    });
    m_port.Open();
    m_port.WriteText("AT\r");
    ASSERT_TRUE(WaitUntil([&] { return calls.load() >= 1; }));
    EXPECT_FALSE(m_port.Connected());
    EXPECT_TRUE(reopenRefused) << "reopened while the handler still held the device";

    // Without events there is no event thread: the bytes wait for ReadText.
    m_port.SetOnRxChar([&](TComPort*, int) { ++calls; });
    m_port.SetEvents({});
    const int before = calls.load();
    m_port.Open();
    m_port.WriteText("AT\r");
    std::string read;
    EXPECT_TRUE(WaitUntil([&] {
        read += m_port.ReadText(64);
        return read.find("OK\r\n") != std::string::npos;
    })) << read;
    EXPECT_EQ(calls.load(), before);
    m_port.Close();
}

TEST_F(ComPortLink, AWriteTheModemHoldsUpEndsAtItsTimeOutOrWhenThePortCloses)
{
    TComFlowControl flow;
    flow.SetFlowControl(fcSoftware);
    m_port.SetFlowControl(flow);
    m_port.Open();
    ASSERT_NE(Exchange(m_port, m_rx, "AT\r"), "");
    s_sim->Command("garbage 1 13"); // XOFF
    std::this_thread::sleep_for(300ms);

    // The held-up bytes fill the line's buffers until a write comes back short.
    ASSERT_TRUE(test::HoldUpTheLine(m_port)) << "the modem's XOFF did not hold the line up";
    test::ExpectAHeldUpWriteEndsAtItsTimeOut(m_port);
    test::ExpectCloseEndsAHeldUpWrite(m_port, 200ms);

    // XON: the line flows again, and the modem answers past the flood.
    s_sim->Command("garbage 1 11");
    m_port.SetTimeouts(TComTimeouts{});
    m_port.Open();
    m_port.WriteText("\r");
    std::this_thread::sleep_for(300ms);
    EXPECT_NE(Exchange(m_port, m_rx, "AT\r"), "");
    m_port.Close();
}

#ifdef _WIN32
TEST_F(ComPortLink, ThePortListNamesTheLinkedPort)
{
    std::vector<std::string> ports;
    ASSERT_EQ(comport::ListPorts(ports), 0);
    EXPECT_NE(std::find(ports.begin(), ports.end(), comport::ShownPortName(s_sim->Port(1))), ports.end())
        << ::testing::PrintToString(ports);
}
#endif

} // namespace
