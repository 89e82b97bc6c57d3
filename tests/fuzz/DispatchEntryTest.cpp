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

    bool Feed(const std::string& bytes, int looks = 16)
    {
        modem.AppendReceived(bytes);
        return worker.DispatchReceived(looks);
    }

    TestClock clock;
    RecordingHost host;
    FakePort port;
    TModem modem;
    TCommThread worker{modem, port, host, clock, nullptr};
};

TEST_F(DispatchEntry, RecognisedReplyEndsTheWaitAndBareOkDoesNot)
{
    EXPECT_TRUE(Feed("AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n"));
    EXPECT_EQ(worker.ExchangeState(), TCommThread::kReplyHandled);
    EXPECT_EQ(host.Of("signal"), std::vector<std::string>{"21"});
    EXPECT_EQ(modem.RxSnapshot(), "");

    modem.ClearRx();
    EXPECT_FALSE(Feed("ATE1\r\r\nOK\r\n"));
    EXPECT_EQ(worker.ExchangeState(), TCommThread::kReplyIncomplete);
    EXPECT_EQ(modem.RxSnapshot(), "ATE1\r\r\nOK\r\n");
}

TEST_F(DispatchEntry, ReplyInPiecesIsHandledWhenItsFinalResultArrives)
{
    EXPECT_FALSE(Feed("AT+CMGF=1\r\r\n"));
    EXPECT_TRUE(host.Techno().empty());
    EXPECT_TRUE(Feed("OK\r\n"));
    ASSERT_EQ(host.Techno().size(), 1u);
    EXPECT_EQ(host.Techno()[0].text, std::string("Включен текстовый режим"_cp));
}

TEST_F(DispatchEntry, UnsolicitedRingIsCutOutAndTheReplyBehindItStillRead)
{
    EXPECT_TRUE(Feed("\r\nRING\r\nAT+CSQ\r\r\n+CSQ: 15,0\r\n\r\nOK\r\n"));
    EXPECT_EQ(modem.PendingCommands(), std::vector<std::string>{"AT+CLCC\r"});
    EXPECT_EQ(host.Of("signal"), std::vector<std::string>{"15"});

    // Without a final result the wait goes on after the ring row has acted, and
    // another look at the same bytes does nothing more.
    modem.ClearRx();
    EXPECT_FALSE(Feed("\r\nRING\r\n"));
    EXPECT_FALSE(worker.DispatchReceived(16));
    EXPECT_EQ(modem.PendingCount(), 2u);
}

TEST_F(DispatchEntry, FailureLeavesAsFromAPassWithTheRowsCutKept)
{
    modem.AppendReceived("AT+CPMS?\r\r\n+CPMS: \"SM_P\",x,10\r\n\r\nOK\r\n");
    EXPECT_THROW(worker.DispatchReceived(16), EConvertError);
    EXPECT_EQ(modem.RxSnapshot(), "x,10\r\n\r\nOK\r\n");
    EXPECT_EQ(clock.NowMs(), 2000u); // the memory row's sleep went to the worker's clock
}

TEST_F(DispatchEntry, LooksAreBounded)
{
    // Two rings need two looks of the ring row: one look cuts only the first.
    EXPECT_FALSE(Feed("\r\nRING\r\n\r\nRING\r\n", 1));
    EXPECT_EQ(modem.PendingCount(), 1u);
    EXPECT_FALSE(worker.DispatchReceived(1));
    EXPECT_EQ(modem.PendingCount(), 2u);
}

} // namespace
} // namespace kv::test
