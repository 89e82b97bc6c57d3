// The workers' answers to a modem that floods, vanishes or is cut off by the
// close, on virtual time: the same faults the real-time tests inject through
// the simulator, here pinned down step by step.
#include "data/Text.h"
#include "modem/CommThread.h"
#include "modem/Commands.h"
#include "modem/DialThread.h"
#include "modem/Modem.h"
#include "tests/modem/Modem1Fixture.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TestClock.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>

namespace kv::test {
namespace {

using namespace kv::literals;

// A port whose device can go away (and come back): while gone it stays
// "connected" but every write fails, as a pulled USB modem does.
class VanishingPort final : public ISerialIo {
public:
    explicit VanishingPort(TModem& modem) : m_modem(modem) {}

    int WriteText(const std::string& text) override
    {
        if (!m_open || m_lost)
            throw std::runtime_error("write to a port without its device");
        writes.push_back(text);
        if (answer) {
            if (const std::string reply = answer(text); !reply.empty())
                m_modem.AppendReceived(reply);
        } else if (const auto it = replies.find(text); it != replies.end())
            m_modem.AppendReceived(it->second);
        return static_cast<int>(text.size());
    }
    void Open() override
    {
        ++opens;
        if (m_open)
            return;
        if (!deviceThere)
            throw std::runtime_error("no such device");
        m_open = true;
        m_lost = false;
    }
    void Close() override
    {
        ++closes;
        m_open = false;
        m_lost = false;
    }
    bool Connected() const override { return m_open; }
    bool DeviceLost() const override { return m_lost; }

    void Unplug()
    {
        m_lost = true;
        deviceThere = false;
    }

    bool deviceThere = true;
    int opens = 0;
    int closes = 0;
    std::vector<std::string> writes;
    std::map<std::string, std::string> replies;
    // When set, answers every line instead of `replies`.
    std::function<std::string(const std::string&)> answer;

private:
    TModem& m_modem;
    bool m_open = true;
    bool m_lost = false;
};

TEST(ReceiveBuffer, AFloodKeepsOnlyTheNewestBytesAndTheReplyBehindIt)
{
    TModem modem;
    const std::string reply = "AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n";
    modem.AppendReceived(std::string(TModem::kRxLimit - 10, 'x'));
    modem.AppendReceived(std::string(100, 'y'));
    modem.AppendReceived(reply);
    std::string held = modem.RxSnapshot();
    ASSERT_EQ(held.size(), TModem::kRxLimit);
    EXPECT_EQ(held.substr(held.size() - reply.size()), reply);
    EXPECT_EQ(held.substr(held.size() - reply.size() - 100, 100), std::string(100, 'y'));

    // One chunk larger than the limit on its own.
    modem.AppendReceived(std::string(3 * TModem::kRxLimit, 'z') + reply);
    held = modem.RxSnapshot();
    EXPECT_EQ(held.size(), TModem::kRxLimit);
    EXPECT_EQ(held.substr(held.size() - reply.size()), reply);

    // While the worker looks at its copy, more arrives: what it hands back
    // goes in front, and the whole is held to the limit again.
    modem.ClearRx();
    TModem::RxTicket ticket{};
    std::string taken = modem.TakeRx(ticket);
    modem.AppendReceived("early ");
    taken = std::string(TModem::kRxLimit, 'w');
    modem.AppendReceived(reply);
    modem.ReturnRx(std::move(taken), ticket);
    held = modem.RxSnapshot();
    EXPECT_EQ(held.size(), TModem::kRxLimit);
    EXPECT_EQ(held.substr(held.size() - reply.size() - 6), "early " + reply);
}

class VanishedModem1 : public ::testing::Test {
protected:
    VanishedModem1()
    {
        modem.Running = true;
        port.replies["AT+CSQ\r"] = "AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n";
        port.replies["AT+CPMS?\r"] = MemoryReply(0);
        for (std::string_view line : {kCmdTextMode, kCmdCharsetUcs2, kCmdTextParams})
            port.replies[std::string(line)] = std::string(line) + "\r\nOK\r\n";
        // A modem without new-message indications.
        for (const char* line : {"AT+CNMI=?\r", "AT+CNMI=2,1,0,0,0\r", "AT+CNMI=1,1,0,0,0\r"})
            port.replies[line] = "\r\nERROR\r\n";
    }
    void RunFor(std::uint64_t ms)
    {
        const std::uint64_t end = clock.NowMs() + ms;
        while (clock.NowMs() < end)
            worker.Pass();
    }
    int Count(const std::string& text)
    {
        int n = 0;
        for (const TechnoLine& line : host.Techno())
            n += line.text == text;
        return n;
    }

    TestClock clock;
    TModem modem;
    VanishingPort port{modem};
    RecordingHost host;
    TCommThread worker{modem, port, host, clock, [] { return TileSaveResult::Saved; }};
};

TEST_F(VanishedModem1, ItsPortIsOpenedAgainAtEachTimeOutUntilTheDeviceIsBackThenTheLinkIsRestored)
{
    RunFor(6000);
    ASSERT_EQ(host.Events().size(), 0u);
    const int opensBefore = port.opens;

    port.Unplug();
    RunFor(25000);
    const int timeouts = Count(Str("Ошибка обмена по таймауту..."_cp));
    EXPECT_GE(timeouts, 2);
    EXPECT_EQ(port.opens - opensBefore, timeouts) << "one attempt to open the port per time-out";
    EXPECT_FALSE(port.Connected());
    EXPECT_TRUE(modem.LinkLost);

    port.deviceThere = true;
    RunFor(30000);
    EXPECT_TRUE(port.Connected());
    EXPECT_FALSE(modem.LinkLost);
    ASSERT_EQ(host.Events().size(), 1u) << "the restore, once";
    EXPECT_EQ(host.Events()[0].event, Str("Соединение с GSM-модулем восстановлено"_cp));
    // The restore set the text mode of the modem that came back.
    std::size_t restore = 0;
    for (std::size_t i = 0; i < port.writes.size(); ++i)
        if (port.writes[i] == std::string(kCmdTextMode))
            restore = i;
    ASSERT_GT(restore, 0u);
    EXPECT_EQ(port.writes[restore + 1], std::string(kCmdCharsetUcs2));
}

TEST_F(VanishedModem1, AModemThatIsSilentButThereKeepsItsPortUntilItAnswers)
{
    port.replies.clear();
    RunFor(40000);
    EXPECT_GE(Count(Str("Ошибка обмена по таймауту..."_cp)), 3);
    EXPECT_EQ(port.opens, 0);
    EXPECT_EQ(port.closes, 0);
}

TEST_F(VanishedModem1, ACloseDoesNotSitOutTheWaitOfASilentModem)
{
    port.replies.clear();
    EnqueueCommand(modem, std::string(kCmdEchoOn));
    clock.At(3000, [this] { modem.Running = false; });
    worker.Pass();
    EXPECT_LT(clock.NowMs(), 3100u) << "the exchange waited on after the stop";
    EXPECT_EQ(Count(Str("Ошибка обмена по таймауту..."_cp)), 0) << "the station broke it off, not the modem";
    EXPECT_EQ(host.Of("linklost").size(), 0u);
    EXPECT_EQ(modem.RxSnapshot(), "");
}

// A modem that restarted while silent answers again in PDU mode, with a
// message waiting: the text mode must be set again before the message is read.
TEST_F(VanishedModem1, AModemBackFromARestartHasItsTextModeSetBeforeTheWaitingMessageIsRead)
{
    bool silent = false, textMode = true, stored = false;
    port.answer = [&](const std::string& line) -> std::string {
        if (silent)
            return {};
        const std::string echo = line + "\r\n";
        if (line == "AT+CMGF=1\r")
            textMode = true;
        if (line == "AT+CPMS?\r")
            return MemoryReply(stored ? 1 : 0);
        if (line == "AT+CMGR=1\r") {
            if (!stored)
                return echo + "OK\r\n";
            if (!textMode) // the same message as a PDU
                return echo + "+CMGR: 0,,40\r\n07919701000000F0040B919711111111F100084250101000002118041F043E04410442\r\n\r\nOK\r\n";
            return echo + "+CMGR: \"REC UNREAD\",\"002B00370039003100310031003100310031003100310031\",,\"24/05/01,10:00:00+12\"\r\n"
                   "041F043E0441044204300432043B0435043D043E0020043D04300020043E044504400430043D0443\r\n\r\nOK\r\n";
        }
        if (line.rfind("AT+CMGD=", 0) == 0)
            stored = false;
        if (line.rfind("AT+CMGL=", 0) == 0)
            return echo + "ERROR\r\n"; // it cannot list: it is read index by index
        return echo + "OK\r\n";
    };
    RunFor(6000);
    silent = true;
    RunFor(15000);
    ASSERT_TRUE(modem.LinkLost);
    silent = false;
    textMode = false;
    stored = true;
    RunFor(30000);
    std::vector<EventRow> events = host.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event, Str("Соединение с GSM-модулем восстановлено"_cp));
    EXPECT_EQ(events[1].status, Str("На охране"_cp)) << events[1].event;
    EXPECT_EQ(events[1].tel, "+79111111111");
}

TEST(VanishedModem2, TheRingRoundOpensItsPortAgainAfterFailedWritesAndSetsTheModemUpAgain)
{
    TestClock clock;
    TModem modem;
    VanishingPort port(modem);
    RecordingHost host;
    DialSchedule schedule;
    DialState state;
    modem.Running = true;
    TDialThread worker(modem, port, host, clock, schedule, state);
    port.Unplug();
    const std::uint64_t start = clock.NowMs();
    while (clock.NowMs() < start + 20000)
        worker.Pass();
    // A poll every five seconds fails, and each failure tries the port again.
    EXPECT_GE(port.opens, 3);
    EXPECT_LE(port.opens, 10) << "tried again at most every two seconds";
    EXPECT_TRUE(port.writes.empty());

    port.deviceThere = true;
    while (clock.NowMs() < start + 30000 && !port.Connected())
        worker.Pass();
    ASSERT_TRUE(port.Connected());
    ASSERT_GE(port.writes.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(port.writes.begin(), port.writes.begin() + 4),
              (std::vector<std::string>{std::string(kCmdEchoOn), std::string(kCmdTextMode),
                                        std::string(kCmdCharsetUcs2), std::string(kCmdTextParams)}));
    while (clock.NowMs() < start + 40000)
        worker.Pass();
    std::size_t polls = 0;
    for (const std::string& w : port.writes)
        polls += w == std::string(kCmdSignalPoll);
    EXPECT_GE(polls, 1u) << "the worker polls again";
}

} // namespace
} // namespace kv::test
