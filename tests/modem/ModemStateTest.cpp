// The command ring, the receive buffer and the pieces around them.
#include "modem/Modem.h"
#include "modem/SignalLevel.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(EnqueueCommand, PollsAreRefusedWhileASendOrABalanceRequestRuns)
{
    for (const bool sending : {true, false}) {
        TModem modem;
        (sending ? modem.SmsSending : modem.UssdPending) = true;
        EXPECT_FALSE(EnqueueCommand(modem, "AT+CSQ\r"));
        EXPECT_FALSE(EnqueueCommand(modem, "AT+CPMS?\r"));
        // Whole-line comparison: anything else goes through.
        EXPECT_TRUE(EnqueueCommand(modem, "AT+CSQ"));
        EXPECT_TRUE(EnqueueCommand(modem, "AT+CSQ\r\r"));
        EXPECT_TRUE(EnqueueCommand(modem, "AT+CMGR=1\r"));
        EXPECT_EQ(modem.PendingCommands(), (std::vector<std::string>{"AT+CSQ", "AT+CSQ\r\r", "AT+CMGR=1\r"}));
    }
    TModem idle;
    EXPECT_TRUE(EnqueueCommand(idle, "AT+CSQ\r"));
    EXPECT_TRUE(EnqueueCommand(idle, "AT+CPMS?\r"));
}

TEST(EnqueueCommand, FullRingRefusesInsteadOfLosingTheQueue)
{
    TModem modem;
    for (int i = 0; i < 255; ++i)
        ASSERT_TRUE(EnqueueCommand(modem, "AT+CMGR=" + std::to_string(i) + "\r")) << i;
    EXPECT_FALSE(EnqueueCommand(modem, "ATH\r"));
    EXPECT_EQ(modem.PendingCount(), 255u);
    EXPECT_FALSE(modem.QueueEmpty());
    EXPECT_EQ(modem.TakeCommand(), "AT+CMGR=0\r");
    EXPECT_TRUE(EnqueueCommand(modem, "ATH\r")) << "one slot is free again";
    EXPECT_FALSE(EnqueueCommand(modem, "ATA\r"));
    for (int i = 1; i < 255; ++i)
        ASSERT_EQ(modem.TakeCommand(), "AT+CMGR=" + std::to_string(i) + "\r");
    EXPECT_EQ(modem.TakeCommand(), "ATH\r");
    EXPECT_TRUE(modem.QueueEmpty());
    EXPECT_EQ(modem.TakeCommand(), std::nullopt);
}

TEST(EnqueueCommand, RingWrapsAroundInOrder)
{
    TModem modem;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 200; ++i)
            ASSERT_TRUE(EnqueueCommand(modem, std::to_string(round * 1000 + i)));
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(modem.TakeCommand(), std::to_string(round * 1000 + i));
    }
    EXPECT_EQ(modem.QueueIn(), modem.QueueOut());
    EXPECT_EQ(modem.QueueIn(), 600 % 256);
}

TEST(ReceiveBuffer, AppendsInArrivalOrderAndFlagsData)
{
    TModem modem;
    EXPECT_FALSE(modem.TakeDataReceived());
    modem.AppendReceived("AT+C");
    modem.AppendReceived("SQ\r");
    EXPECT_EQ(modem.RxSnapshot(), "AT+CSQ\r");
    EXPECT_TRUE(modem.TakeDataReceived());
    EXPECT_FALSE(modem.TakeDataReceived());
    modem.ClearRx();
    EXPECT_EQ(modem.RxSnapshot(), "");
}

TEST(ReceiveBuffer, LeaseKeepsBytesThatArriveMeanwhileBehindWhatIsLeft)
{
    TModem modem;
    modem.AppendReceived("\r\nRING\r\nAT+CSQ");
    {
        RxLease lease(modem);
        EXPECT_EQ(lease.Buffer(), "\r\nRING\r\nAT+CSQ");
        EXPECT_EQ(modem.RxSnapshot(), "") << "taken out while the worker looks at it";
        modem.AppendReceived("\r\r\n+CSQ: 5,0");
        lease.Buffer().erase(0, 8);
    }
    EXPECT_EQ(modem.RxSnapshot(), "AT+CSQ\r\r\n+CSQ: 5,0");
}

TEST(ReceiveBuffer, ClearDuringALeaseWins)
{
    TModem modem;
    modem.AppendReceived("old");
    {
        RxLease lease(modem);
        modem.ClearRx();
        modem.AppendReceived("new");
    }
    EXPECT_EQ(modem.RxSnapshot(), "new");
}

TEST(SignalIconFile, BandsOfTheLevel)
{
    EXPECT_EQ(SignalIconFile(0), "ICO/Signal3/blocks-nm-signal-00.png");
    EXPECT_EQ(SignalIconFile(0.5), "ICO/Signal3/blocks-gnome-netstatus-0-24.png");
    EXPECT_EQ(SignalIconFile(7), "ICO/Signal3/blocks-gnome-netstatus-0-24.png");
    EXPECT_EQ(SignalIconFile(7.5), "ICO/Signal3/blocks-gnome-netstatus-25-49.png");
    EXPECT_EQ(SignalIconFile(8), "ICO/Signal3/blocks-gnome-netstatus-25-49.png");
    EXPECT_EQ(SignalIconFile(15), "ICO/Signal3/blocks-gnome-netstatus-25-49.png");
    EXPECT_EQ(SignalIconFile(21), "ICO/Signal3/blocks-gnome-netstatus-50-74.png");
    EXPECT_EQ(SignalIconFile(23), "ICO/Signal3/blocks-gnome-netstatus-50-74.png");
    EXPECT_EQ(SignalIconFile(24), "ICO/Signal3/blocks-gnome-netstatus-75-100.png");
    EXPECT_EQ(SignalIconFile(99), "ICO/Signal3/blocks-gnome-netstatus-75-100.png");
    EXPECT_TRUE(SignalIconFile(-1).empty());
    EXPECT_TRUE(SignalIconFile(-0.1).empty());
}

} // namespace
} // namespace kv
