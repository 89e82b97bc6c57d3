#pragma once
// Modem 1's worker on virtual time: a fake modem on a fake port, a recording
// host, one ordered log of both.
#include "data/Text.h"
#include "modem/CommThread.h"
#include "modem/Modem.h"
#include "tests/support/CallLog.h"
#include "tests/support/FakePort.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TestClock.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kv::test {

using namespace kv::literals;

inline std::string S(std::string_view s) { return std::string(s); }

// Replies of a modem with echo on.
inline std::string SignalReply(const std::string& level = "21,0")
{
    return "AT+CSQ\r\r\n+CSQ: " + level + "\r\n\r\nOK\r\n";
}
inline std::string MemoryReply(int count)
{
    const std::string n = std::to_string(count);
    return "AT+CPMS?\r\r\n+CPMS: \"SM_P\"," + n + ",10,\"SM_P\"," + n + ",10,\"SM_P\"," + n + ",10\r\n\r\nOK\r\n";
}
inline std::string EchoOk(const std::string& line) { return line + "\r\nOK\r\n"; }
inline std::string ReadReplyText(int index, const std::string& status, const std::string& numberHex,
                                 const std::string& bodyHex)
{
    return "AT+CMGR=" + std::to_string(index) + "\r\r\n+CMGR: \"" + status + "\",\"" + numberHex
           + "\",\"\",\"24/05/01,10:00:00+12\"\r\n" + bodyHex + "\r\n\r\nOK\r\n";
}
inline const std::string kCallerHex = "002B00370039003100310031003100310031003100310031"; // +79111111111

class Modem1Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        modem.Running = true;
        port.DeliverTo([this](const std::string& bytes) { modem.AppendReceived(bytes); });
        // A modem without PDU mode unless a test says otherwise: read in text mode.
        port.Otherwise("AT+CMGF=0\r", "AT+CMGF=0\r\r\nERROR\r\n");
        port.Otherwise("AT+CSDH=1\r", "AT+CSDH=1\r\r\nOK\r\n");
        worker = std::make_unique<TCommThread>(modem, port, host, clock, [this] {
            ++saves;
            return saveResult;
        });
    }

    // Passes until virtual time reaches `ms`.
    void RunUntil(std::uint64_t ms)
    {
        while (clock.NowMs() < ms)
            worker->Pass();
    }
    void AnswerPolls(int messages = 0)
    {
        port.Always("AT+CSQ\r", SignalReply());
        port.Always("AT+CPMS?\r", MemoryReply(messages));
    }
    std::vector<std::string> Sent() const { return port.Writes(); }
    std::size_t SentCount(const std::string& line) const
    {
        std::size_t n = 0;
        for (const std::string& w : port.Writes())
            n += w == line;
        return n;
    }
    std::vector<std::string> TechnoTexts(Rgb colour) const
    {
        std::vector<std::string> out;
        for (const TechnoLine& line : host.Techno())
            if (line.colour == colour)
                out.push_back(line.text);
        return out;
    }
    // Virtual time of the first log entry equal to `text`; -1 when none.
    long long TimeOf(const std::string& text) const
    {
        for (const LogEntry& e : log.Entries())
            if (e.text == text)
                return static_cast<long long>(e.ms);
        return -1;
    }
    // The entries appear in this order (others may stand between them).
    ::testing::AssertionResult InOrder(const std::vector<std::string>& expected) const
    {
        const std::vector<std::string> all = log.Texts();
        std::size_t at = 0;
        for (const std::string& want : expected) {
            while (at < all.size() && all[at] != want)
                ++at;
            if (at == all.size()) {
                std::string dump;
                for (const std::string& t : all)
                    dump += "  " + t + "\n";
                return ::testing::AssertionFailure() << "missing, or out of order: " << want << "\nlog:\n" << dump;
            }
            ++at;
        }
        return ::testing::AssertionSuccess();
    }

    TestClock clock;
    CallLog log{&clock};
    FakePort port{&clock, &log};
    RecordingHost host{&log};
    TModem modem;
    int saves = 0;
    TileSaveResult saveResult = TileSaveResult::Saved;
    std::unique_ptr<TCommThread> worker;
};

} // namespace kv::test
