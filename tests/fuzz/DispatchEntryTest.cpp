// The dispatch entry the reply fuzzer drives: it must behave as the exchange's
// wait does, or the fuzzer would explore something the worker never runs.
#include "codec/Ucs2.h"
#include "data/Text.h"
#include "modem/CommThread.h"
#include "modem/Modem.h"
#include "tests/support/FakePort.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TestClock.h"

#include <gtest/gtest.h>

namespace kv::test {
namespace {

using namespace kv::literals;

class DispatchEntry : public ::testing::Test {
protected:
    DispatchEntry() { modem.Running = true; }

    bool Feed(const std::string& bytes)
    {
        modem.AppendReceived(bytes);
        return worker.DispatchReceived();
    }

    TestClock clock;
    RecordingHost host;
    FakePort port;
    TModem modem;
    TCommThread worker{modem, port, host, clock, nullptr};
};

TEST_F(DispatchEntry, AReplyEndsAtItsFinalResultWhateverItsCommand)
{
    worker.BeginReplyFor("AT+CSQ\r");
    EXPECT_TRUE(Feed("AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n"));
    EXPECT_EQ(worker.ExchangeState(), TCommThread::kReplyHandled);
    EXPECT_EQ(host.Of("signal"), std::vector<std::string>{"21"});
    EXPECT_EQ(modem.RxSnapshot(), "");

    // A bare OK is the whole reply of a command that has nothing to say.
    worker.BeginReplyFor("ATE1\r");
    EXPECT_TRUE(Feed("ATE1\r\r\nOK\r\n"));
    EXPECT_EQ(worker.ExchangeState(), TCommThread::kReplyHandled);
}

TEST_F(DispatchEntry, ReplyInPiecesIsHandledWhenItsFinalResultArrives)
{
    worker.BeginReplyFor("AT+CMGF=1\r");
    EXPECT_FALSE(Feed("AT+CMGF=1\r\r\n"));
    EXPECT_EQ(worker.ExchangeState(), TCommThread::kReplyIncomplete);
    EXPECT_TRUE(host.Techno().empty());
    EXPECT_TRUE(Feed("OK\r\n"));
    ASSERT_EQ(host.Techno().size(), 1u);
    EXPECT_EQ(host.Techno()[0].text, std::string("Включен текстовый режим"_cp));
}

TEST_F(DispatchEntry, UnsolicitedRingIsReadOutAndTheReplyBehindItStillRead)
{
    worker.BeginReplyFor("AT+CSQ\r");
    EXPECT_TRUE(Feed("\r\nRING\r\nAT+CSQ\r\r\n+CSQ: 15,0\r\n\r\nOK\r\n"));
    EXPECT_EQ(modem.PendingCommands(), std::vector<std::string>{"AT+CLCC\r"});
    EXPECT_EQ(host.Of("signal"), std::vector<std::string>{"15"});

    // Between replies: the ring of the same call lists nothing more, and another
    // look at the same bytes does nothing.
    EXPECT_FALSE(Feed("\r\nRING\r\n"));
    EXPECT_FALSE(worker.DispatchReceived());
    EXPECT_EQ(modem.PendingCount(), 1u);
}

TEST_F(DispatchEntry, AFailingHandlerIsToldAndTheLinesAreNotReadAgain)
{
    worker.BeginReplyFor("AT+CPMS?\r");
    EXPECT_TRUE(Feed("AT+CPMS?\r\r\n+CPMS: \"SM_P\",x,10\r\n\r\nOK\r\n"));
    EXPECT_EQ(host.Techno().back().text, std::string("Ошибка E001 - обработка данных модема..."_cp));
    EXPECT_EQ(modem.RxSnapshot(), "");
    EXPECT_EQ(clock.NowMs(), 0u) << "no sleep inside the dispatch";
}

} // namespace
} // namespace kv::test
