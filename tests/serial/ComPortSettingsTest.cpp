// The component's settings, names and error texts, without a device.
#include "serial/CPort.h"
#include "serial/ComPortPlatform.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using namespace kv;

TEST(ComPortSettings, DefaultsOfANewPort)
{
    TComPort port;
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Parity(), TComParity{});
    EXPECT_EQ(port.Parity().Bits, prNone);
    const TComFlowControl flow = port.FlowControl();
    EXPECT_EQ(flow.FlowControl(), fcNone);
    EXPECT_EQ(flow.ControlDTR, dtrDisable);
    EXPECT_EQ(flow.XonChar, 17);
    EXPECT_EQ(flow.XoffChar, 19);
    EXPECT_FALSE(port.DiscardNull());
    EXPECT_EQ(port.Events(), TComEvents::All());
    EXPECT_TRUE(port.Events().Contains(evRx80Full));
    EXPECT_EQ(port.Buffer().InputSize, 1024);
    EXPECT_EQ(port.Buffer().OutputSize, 1024);
    const TComTimeouts t = port.Timeouts();
    EXPECT_EQ(t.ReadInterval, -1);
    EXPECT_EQ(t.ReadTotalMultiplier, 0);
    EXPECT_EQ(t.ReadTotalConstant, 0);
    EXPECT_EQ(t.WriteTotalMultiplier, 100);
    EXPECT_EQ(t.WriteTotalConstant, 1000);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_FALSE(port.Connected());
}

TEST(ComPortSettings, BaudRateNamesRoundTripIgnoreCaseAndFallBackTo9600)
{
    for (int i = 0; i < kBaudRateCount; ++i) {
        const auto rate = static_cast<TBaudRate>(i);
        EXPECT_EQ(BaudRateFromName(BaudRateName(rate)), rate) << BaudRateName(rate);
    }
    EXPECT_EQ(BaudRateName(br115200), "115200");
    EXPECT_EQ(BaudRateName(brCustom), "Custom");
    EXPECT_EQ(BaudRateFromName("115200"), br115200);
    EXPECT_EQ(BaudRateFromName("custom"), brCustom);
    EXPECT_EQ(BaudRateFromName("CUSTOM"), brCustom);
    EXPECT_EQ(BaudRateFromName("9200"), br9600);
    EXPECT_EQ(BaudRateFromName(""), br9600);
    EXPECT_EQ(BaudRateFromName("115200 "), br9600) << "no trimming";
    EXPECT_EQ(BaudRateFromName("1152000"), br9600) << "no prefix match";

    EXPECT_EQ(BaudRateValue(br56000, 1), 56000);
    EXPECT_EQ(BaudRateValue(brCustom, 250000), 250000);
}

TEST(ComPortSettings, OddBufferSizesAreLoweredByOne)
{
    TComPort port;
    port.SetBuffer({4097, 2049});
    EXPECT_EQ(port.Buffer().InputSize, 4096);
    EXPECT_EQ(port.Buffer().OutputSize, 2048);
    port.SetBuffer({4096, 1024});
    EXPECT_EQ(port.Buffer().InputSize, 4096);
    EXPECT_EQ(port.Buffer().OutputSize, 1024);
}

TEST(ComPortSettings, FlowControlCompositeNames)
{
    TComFlowControl flow;
    flow.SetFlowControl(fcSoftware);
    EXPECT_TRUE(flow.XonXoffIn && flow.XonXoffOut);
    EXPECT_EQ(flow.FlowControl(), fcSoftware);

    // Hardware first clears what Software set.
    flow.SetFlowControl(fcHardware);
    EXPECT_EQ(flow.ControlRTS, rtsHandshake);
    EXPECT_TRUE(flow.OutCTSFlow);
    EXPECT_FALSE(flow.XonXoffIn || flow.XonXoffOut);
    EXPECT_EQ(flow.FlowControl(), fcHardware);

    // Custom leaves a mixture as it is.
    flow.XonXoffOut = true;
    EXPECT_EQ(flow.FlowControl(), fcCustom);
    const TComFlowControl before = flow;
    flow.SetFlowControl(fcCustom);
    EXPECT_EQ(flow, before);

    flow.SetFlowControl(fcNone);
    EXPECT_EQ(flow.FlowControl(), fcNone);
    EXPECT_EQ(flow.ControlRTS, rtsDisable);

    TComFlowControl enabledRts;
    enabledRts.ControlRTS = rtsEnable;
    EXPECT_EQ(enabledRts.FlowControl(), fcCustom) << "None means RTS disabled";
}

TEST(ComPortErrors, MessagesCarryThePortOnlyWithASystemError)
{
    const EComPort open(ComError::OpenFailed, ENOENT, "COM7");
    EXPECT_STREQ(open.what(), "COM Port Error: Unable to open com port on COM7");
    EXPECT_EQ(open.Code(), 1);
    EXPECT_EQ(open.SystemError(), ENOENT);

    const EComPort connected(ComError::PropertyWhileConnected);
    EXPECT_STREQ(connected.what(), "COM Port Error: Cannot set property while connected");
    EXPECT_EQ(connected.Code(), 14);
    EXPECT_EQ(connected.SystemError(), -1);

    EXPECT_STREQ(EComPort(23, 5, "registry read").what(), "COM Port Error: Registry error on registry read");
    EXPECT_EQ(EComPort::ErrorText(2), "WriteFile function failed");
    EXPECT_EQ(EComPort::ErrorText(5), "PurgeComm function failed");
    EXPECT_EQ(EComPort::ErrorText(11), "GetCommModemStatus function failed");
    EXPECT_EQ(EComPort::ErrorText(22), "A component is linked to OnRxBuf event");
    EXPECT_EQ(EComPort::ErrorText(0), "Unknown Error #0");
    EXPECT_EQ(EComPort::ErrorText(24), "Unknown Error #24");
    EXPECT_STREQ(EComPort(-3).what(), "COM Port Error: Unknown Error #-3");
}

TEST(ComPortNames, DevicePaths)
{
    EXPECT_EQ(comport::DevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(comport::DevicePath("com12"), "/dev/ttyS11");
    EXPECT_EQ(comport::DevicePath("Com3"), "/dev/ttyS2");
    EXPECT_EQ(comport::DevicePath("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(comport::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(comport::DevicePath("COM0"), "/dev/COM0");
    EXPECT_EQ(comport::DevicePath("COMX"), "/dev/COMX");
    EXPECT_EQ(comport::DevicePath("COM"), "/dev/COM");
}

TEST(ComPortNames, UnusualRatesFallBackToTheNearestStandardOne)
{
    EXPECT_EQ(comport::NearestStandardSpeed(115200), 115200);
    EXPECT_EQ(comport::NearestStandardSpeed(56000), 57600);
    EXPECT_EQ(comport::NearestStandardSpeed(14400), 9600) << "a tie goes to the lower rate";
    EXPECT_EQ(comport::NearestStandardSpeed(128000), 115200);
    EXPECT_EQ(comport::NearestStandardSpeed(256000), 230400);
}

TEST(ComPortSettings, ClosedPortRefusesWritesAndReadsNothing)
{
    TComPort port;
    EXPECT_EQ(port.WriteText(""), 0);
    try {
        port.WriteText("AT\r");
        FAIL() << "writing to a closed port must fail";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 2);
    }
    EXPECT_EQ(port.ReadText(10), "");
    EXPECT_EQ(port.ReadFailures(), 1);
    port.Close(); // nothing when closed
    EXPECT_FALSE(port.Connected());
}

} // namespace
