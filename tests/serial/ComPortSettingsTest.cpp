// The component's settings, names and error texts, without a device.
#include "serial/CPort.h"
#include "serial/ComPortPlatform.h"
#include "serial/PortAdvice.h"
#include "data/Text.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN // no SetPort macro of the printer spooler
#include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace kv;
using namespace kv::literals;

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
    struct Case {
        const char* name;
        const char* posix;
        const char* windows;
    };
    static const Case kCases[] = {
        {"COM1", "/dev/ttyS0", "\\\\.\\COM1"},
        {"com12", "/dev/ttyS11", "\\\\.\\com12"},
        {"Com3", "/dev/ttyS2", "\\\\.\\Com3"},
        {"/dev/pts/7", "/dev/pts/7", "\\\\.\\/dev/pts/7"},
        {"ttyUSB0", "/dev/ttyUSB0", "\\\\.\\ttyUSB0"},
        {"COM0", "/dev/COM0", "\\\\.\\COM0"},
        {"COMX", "/dev/COMX", "\\\\.\\COMX"},
        {"COM", "/dev/COM", "\\\\.\\COM"},
        {"\\\\.\\CNCA0", "/dev/\\\\.\\CNCA0", "\\\\.\\CNCA0"},
    };
    for (const Case& c : kCases) {
#ifdef _WIN32
        EXPECT_EQ(comport::DevicePath(c.name), c.windows) << c.name;
#else
        EXPECT_EQ(comport::DevicePath(c.name), c.posix) << c.name;
#endif
    }
}

TEST(ComPortNames, PortListsSortByStemThenNumberAndDropDoubles)
{
    struct Case {
        std::vector<std::string> given;
        std::vector<std::string> sorted;
    };
    const Case kCases[] = {
        {{"COM10", "COM2", "COM1", "COM3"}, {"COM1", "COM2", "COM3", "COM10"}},
        {{"COM12", "COM5", "COM5", "COM1"}, {"COM1", "COM5", "COM12"}},
        {{"/dev/ttyUSB1", "/dev/ttyS10", "/dev/ttyACM0", "/dev/ttyS9", "/dev/ttyUSB0"},
         {"/dev/ttyACM0", "/dev/ttyS9", "/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyUSB1"}},
        {{"COM007", "COM7", "COM", "COM10"}, {"COM", "COM007", "COM7", "COM10"}},
        {{"CNCB0", "COM2", "CNCA0"}, {"CNCA0", "CNCB0", "COM2"}},
        {{}, {}},
    };
    for (const Case& c : kCases) {
        std::vector<std::string> names = c.given;
        comport::SortPortNames(names);
        EXPECT_EQ(names, c.sorted) << ::testing::PrintToString(c.given);
    }
}

TEST(ComPortNames, ThePortListIsSortedAndReadable)
{
    std::vector<std::string> ports{"stale"};
    EXPECT_EQ(comport::ListPorts(ports), 0);
    std::vector<std::string> sorted = ports;
    comport::SortPortNames(sorted);
    EXPECT_EQ(ports, sorted);
    EXPECT_EQ(std::count(ports.begin(), ports.end(), "stale"), 0);
}

TEST(ComPortAdvice, RefusedOpensAreToldInThePlatformsTerms)
{
#ifdef _WIN32
    const std::string shown = "COM7";
    const int missing = 2; // ERROR_FILE_NOT_FOUND
    const int busy = 5;    // ERROR_ACCESS_DENIED: Windows' answer for a port in use
#else
    const std::string shown = "/dev/ttyS6";
    const int missing = ENOENT;
    const int busy = EBUSY;
#endif
    EXPECT_EQ(PortAdvice(missing, "com7"),
              std::string("Порт "_cp) + shown +
                  std::string(" не найден: проверьте, подключён ли модем и верно ли указан порт."_cp));
    EXPECT_EQ(PortAdvice(busy, "com7"),
              std::string("Порт "_cp) + shown + std::string(" занят другой программой. Закройте её и повторите."_cp));
    EXPECT_EQ(PortAdvice(std::make_exception_ptr(EComPort(ComError::OpenFailed, missing, "com7")), "com7"),
              PortAdvice(missing, "com7"));
    EXPECT_EQ(PortAdvice(std::make_exception_ptr(EComPort(ComError::SetStateFailed, busy, "com7")), "com7"), "")
        << "only a refused open has advice";
    EXPECT_EQ(PortAdvice(0, "com7"), "");
}

TEST(ComPortNames, UnusualRatesFallBackToTheNearestStandardOne)
{
    EXPECT_EQ(comport::NearestStandardSpeed(115200), 115200);
    EXPECT_EQ(comport::NearestStandardSpeed(56000), 57600);
    EXPECT_EQ(comport::NearestStandardSpeed(14400), 9600) << "a tie goes to the lower rate";
    EXPECT_EQ(comport::NearestStandardSpeed(128000), 115200);
    EXPECT_EQ(comport::NearestStandardSpeed(256000), 230400);
}

#ifdef _WIN32
TEST(ComPortWin32, LineSettingsFillTheDeviceControlBlock)
{
    struct Expected {
        DWORD baud;
        BYTE byteSize, parity, stopBits;
        DWORD fParity, fErrorChar, fOutxCtsFlow, fOutxDsrFlow, fDtrControl, fRtsControl, fOutX, fInX;
    };
    struct Case {
        const char* what;
        std::function<void(comport::LineSettings&)> set;
        Expected dcb;
    };
    const Case kCases[] = {
        {"defaults", [](comport::LineSettings&) {},
         {9600, 8, NOPARITY, ONESTOPBIT, 0, 0, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0, 0}},
        {"hardware flow", [](comport::LineSettings& l) { l.flow.SetFlowControl(fcHardware); },
         {9600, 8, NOPARITY, ONESTOPBIT, 0, 0, 1, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE, 0, 0}},
        {"software flow, DTR on", [](comport::LineSettings& l) {
             l.flow.SetFlowControl(fcSoftware);
             l.flow.ControlDTR = dtrEnable;
         },
         {9600, 8, NOPARITY, ONESTOPBIT, 0, 0, 0, 0, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, 1, 1}},
        {"CTS flow alone, DSR flow, RTS toggled", [](comport::LineSettings& l) {
             l.flow.OutCTSFlow = true;
             l.flow.OutDSRFlow = true;
             l.flow.ControlRTS = rtsToggle;
             l.flow.ControlDTR = dtrHandshake;
         },
         {9600, 8, NOPARITY, ONESTOPBIT, 0, 0, 1, 1, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_TOGGLE, 0, 0}},
        {"even parity checked and replaced, 7 bits, 2 stop bits", [](comport::LineSettings& l) {
             l.baud = 56000;
             l.dataBits = dbSeven;
             l.stopBits = sbTwoStopBits;
             l.parity = {prEven, true, true, '?'};
         },
         {56000, 7, EVENPARITY, TWOSTOPBITS, 1, 1, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0, 0}},
        {"mark parity unchecked, 1.5 stop bits with 8 bits are 2", [](comport::LineSettings& l) {
             l.parity = {prMark, false, true, '?'};
             l.stopBits = sbOne5StopBits;
         },
         {9600, 8, MARKPARITY, TWOSTOPBITS, 0, 0, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0, 0}},
        {"1.5 stop bits with 5 bits, a check without parity", [](comport::LineSettings& l) {
             l.dataBits = dbFive;
             l.stopBits = sbOne5StopBits;
             l.parity.Check = true;
         },
         {9600, 5, NOPARITY, ONE5STOPBITS, 0, 0, 0, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, 0, 0}},
    };
    for (const Case& c : kCases) {
        comport::LineSettings line;
        c.set(line);
        DCB dcb{};
        dcb.fNull = TRUE;
        dcb.fAbortOnError = TRUE;
        comport::FillDcb(dcb, line);
        const Expected& e = c.dcb;
        SCOPED_TRACE(c.what);
        EXPECT_EQ(dcb.BaudRate, e.baud);
        EXPECT_EQ(dcb.ByteSize, e.byteSize);
        EXPECT_EQ(dcb.Parity, e.parity);
        EXPECT_EQ(dcb.StopBits, e.stopBits);
        EXPECT_EQ(dcb.fParity, e.fParity);
        EXPECT_EQ(dcb.fErrorChar, e.fErrorChar);
        EXPECT_EQ(dcb.fOutxCtsFlow, e.fOutxCtsFlow);
        EXPECT_EQ(dcb.fOutxDsrFlow, e.fOutxDsrFlow);
        EXPECT_EQ(dcb.fDtrControl, e.fDtrControl);
        EXPECT_EQ(dcb.fRtsControl, e.fRtsControl);
        EXPECT_EQ(dcb.fOutX, e.fOutX);
        EXPECT_EQ(dcb.fInX, e.fInX);
        EXPECT_EQ(dcb.fBinary, 1u);
        EXPECT_EQ(dcb.fNull, 0u) << "zero bytes are the component's to drop";
        EXPECT_EQ(dcb.fAbortOnError, 0u);
        EXPECT_EQ(static_cast<unsigned char>(dcb.XonChar), 17);
        EXPECT_EQ(static_cast<unsigned char>(dcb.XoffChar), 19);
    }
}
#endif

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
