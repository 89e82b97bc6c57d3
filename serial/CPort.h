#pragma once
// The serial port component: one port, its line settings, opening and closing,
// writing and reading bytes, and an event thread that reports arriving bytes
// through OnRxChar. It knows nothing of modems or AT commands.
#include "serial/SerialIo.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kv {

enum TBaudRate {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
constexpr int kBaudRateCount = 16;

enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
// The setup dialog's names for the usual combinations of the flow-control flags.
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };

class TComEvents {
public:
    constexpr TComEvents() = default;
    constexpr TComEvents(std::initializer_list<TComEvent> events)
    {
        for (TComEvent e : events)
            m_bits = static_cast<std::uint16_t>(m_bits | Bit(e));
    }
    static constexpr TComEvents All()
    {
        TComEvents all;
        all.m_bits = (1u << 10) - 1;
        return all;
    }
    constexpr bool Contains(TComEvent e) const { return (m_bits & Bit(e)) != 0; }
    constexpr bool Empty() const { return m_bits == 0; }
    constexpr void Include(TComEvent e) { m_bits = static_cast<std::uint16_t>(m_bits | Bit(e)); }
    constexpr void Exclude(TComEvent e) { m_bits = static_cast<std::uint16_t>(m_bits & ~Bit(e)); }
    constexpr bool operator==(const TComEvents&) const = default;

private:
    static constexpr std::uint16_t Bit(TComEvent e) { return static_cast<std::uint16_t>(1u << e); }
    std::uint16_t m_bits = 0;
};

// Case-insensitive; a name that matches none of the 16 gives br9600.
TBaudRate BaudRateFromName(const std::string& name);
std::string BaudRateName(TBaudRate rate);
// Bits per second; brCustom gives customRate.
int BaudRateValue(TBaudRate rate, int customRate);

struct TComParity {
    TParityBits Bits = prNone;
    bool Check = false;
    bool Replace = false;
    std::uint8_t ReplaceChar = 0;
    bool operator==(const TComParity&) const = default;
};

struct TComFlowControl {
    bool OutCTSFlow = false;
    bool OutDSRFlow = false;
    TDTRFlowControl ControlDTR = dtrDisable;
    TRTSFlowControl ControlRTS = rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    bool DSRSensitivity = false;
    bool TxContinueOnXoff = false;
    std::uint8_t XonChar = 17;
    std::uint8_t XoffChar = 19;

    // Hardware: RTS handshake with CTS output flow; Software: XON/XOFF both ways;
    // None: all four off; Custom: anything else.
    TFlowControl FlowControl() const;
    // Hardware, Software and None switch all four off, then set their own;
    // Custom changes nothing.
    void SetFlowControl(TFlowControl kind);
    bool operator==(const TComFlowControl&) const = default;
};

struct TComBuffer {
    int InputSize = 1024;
    int OutputSize = 1024;
    bool operator==(const TComBuffer&) const = default;
};

// Milliseconds. ReadInterval -1 with both read totals 0: a read returns at once
// with what has arrived. A write may take WriteTotalConstant plus
// WriteTotalMultiplier per byte; both 0 means no limit.
struct TComTimeouts {
    int ReadInterval = -1;
    int ReadTotalMultiplier = 0;
    int ReadTotalConstant = 0;
    int WriteTotalMultiplier = 100;
    int WriteTotalConstant = 1000;
    bool operator==(const TComTimeouts&) const = default;
};

// Error codes of the component.
namespace ComError {
enum : int {
    OpenFailed = 1, WriteFailed, ReadFailed, InvalidAsync, PurgeFailed, AsyncCheck,
    SetStateFailed, TimeoutsFailed, SetupFailed, ClearErrorFailed, ModemStatusFailed,
    EscapeFailed, TransmitFailed, PropertyWhileConnected, EnumPortsFailed, StoreFailed,
    LoadFailed, LinkFailed, LedStateFailed, ThreadCreated, WaitFailed, HasLink, RegistryError
};
}

class EComPort : public std::exception {
public:
    // With a system error number: "COM Port Error: <text> on <port>".
    EComPort(int code, int systemError, const std::string& port);
    // Without one: "COM Port Error: <text>".
    explicit EComPort(int code);

    int Code() const { return m_code; }
    // The operating system's error number, -1 when there is none.
    int SystemError() const { return m_systemError; }
    const char* what() const noexcept override { return m_message.c_str(); }

    static std::string ErrorText(int code);

private:
    int m_code;
    int m_systemError;
    std::string m_message;
};

class TComThread;

class TComPort : public ISerialIo {
public:
    using TRxCharEvent = std::function<void(TComPort* sender, int count)>;
    using TNotifyEvent = std::function<void(TComPort* sender)>;

    TComPort();
    // Closes the port. Never destroy a port from inside its own OnRxChar.
    ~TComPort() override;
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    // Nothing when already open. Throws EComPort code 1 when the device is
    // missing or held by anyone else; the port then stays closed.
    void Open() override;
    // Nothing when already closed. Safe on the UI thread while the event thread
    // waits for it, from a worker thread, and from inside OnRxChar.
    void Close() override;
    bool Connected() const override { return m_connected.load(); }
    void SetConnected(bool value) { value ? Open() : Close(); }

    // Returns the number of bytes written, fewer when the write time-out ran
    // out. Throws EComPort code 2 on a closed or vanished port.
    int WriteText(const std::string& text) override;
    // At most count bytes that have arrived, at once; empty when none. Never
    // throws: a failed read is counted (ReadFailures, LastReadError).
    std::string ReadText(int count);
    int ReadFailures() const { return m_readFailures.load(); }
    int LastReadError() const { return m_lastReadError.load(); }
    // The device went away while open (unplugged, hung up). Close clears it.
    bool DeviceLost() const override { return m_lost.load(); }

    std::string Port() const;
    // Another name on an open port closes it and opens the new one.
    void SetPort(const std::string& name);
    TBaudRate BaudRate() const;
    void SetBaudRate(TBaudRate rate);
    int CustomBaudRate() const;
    void SetCustomBaudRate(int bitsPerSecond);
    TDataBits DataBits() const;
    void SetDataBits(TDataBits bits);
    TStopBits StopBits() const;
    void SetStopBits(TStopBits bits);
    TComParity Parity() const;
    void SetParity(const TComParity& parity);
    TComFlowControl FlowControl() const;
    void SetFlowControl(const TComFlowControl& flow);
    // Received zero bytes are dropped before ReadText returns them.
    bool DiscardNull() const;
    void SetDiscardNull(bool value);
    // Which events the event thread reports; empty: no event thread at all.
    TComEvents Events() const;
    void SetEvents(TComEvents events);
    std::uint8_t EventChar() const;
    void SetEventChar(std::uint8_t ch);
    // Odd sizes are lowered by one.
    TComBuffer Buffer() const;
    void SetBuffer(const TComBuffer& buffer);
    TComTimeouts Timeouts() const;
    void SetTimeouts(const TComTimeouts& timeouts);
    TSyncMethod SyncMethod() const;
    // Throws EComPort code 14 while the port is open.
    void SetSyncMethod(TSyncMethod method);

    // smThreadSync and smWindowSync: on the UI thread, the event thread waiting
    // for it to return; smNone: on the event thread. The handler reads the
    // bytes itself; a handler that reads nothing is called again only when
    // more bytes arrive.
    void SetOnRxChar(TRxCharEvent handler);
    void SetOnBeforeClose(TNotifyEvent handler);

    // Settings changed inside the bracket are applied once, at its end.
    void BeginUpdate();
    void EndUpdate();

private:
    friend class TComThread;

    void ApplyAllLocked();  // buffer sizes, line settings, time-outs; m_mutex held
    void ApplyLineLocked(); // m_mutex held
    void SettingChangedLocked();
    void ReapRetiredThread(bool forOpen);
    void DispatchRxChar(int count);
    void MarkLost(int error);

    mutable std::mutex m_mutex; // settings and open/closed state; never held while waiting
    std::mutex m_readMutex;     // a read against Close
    std::mutex m_writeMutex;    // one write at a time, and a write against Close
    mutable std::mutex m_handlerMutex;

    std::string m_port = "COM1";
    TBaudRate m_baudRate = br9600;
    int m_customBaudRate = 9600;
    TDataBits m_dataBits = dbEight;
    TStopBits m_stopBits = sbOneStopBit;
    TComParity m_parity;
    TComFlowControl m_flowControl;
    bool m_discardNull = false;
    TComEvents m_events = TComEvents::All();
    std::uint8_t m_eventChar = 0;
    TComBuffer m_buffer;
    TComTimeouts m_timeouts;
    TSyncMethod m_syncMethod = smThreadSync;
    TRxCharEvent m_onRxChar;
    TNotifyEvent m_onBeforeClose;

    int m_updateCount = 0;
    bool m_reopenPending = false;

    std::atomic<std::intptr_t> m_fd{-1}; // comport::PortHandle
    std::atomic<bool> m_connected{false};
    bool m_closing = false;
    std::thread::id m_closingThread;
    std::atomic<bool> m_lost{false};
    std::atomic<int> m_lostError{0};
    std::atomic<bool> m_abortWrite{false};
    std::atomic<std::uint64_t> m_bytesConsumed{0};
    std::atomic<int> m_readFailures{0};
    std::atomic<int> m_lastReadError{0};
    std::atomic<std::thread::id> m_handlerThread{};

    std::unique_ptr<TComThread> m_thread;
    // An event thread told to stop from inside its own OnRxChar; it closes the
    // device itself once the handler has returned, and is joined later.
    std::unique_ptr<TComThread> m_retired;
};

} // namespace kv
