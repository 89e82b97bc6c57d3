#include "serial/CPort.h"

#include "serial/ComPortPlatform.h"
#include "timing/UiThread.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <system_error>

namespace kv {

namespace {

constexpr const char* kBaudNames[kBaudRateCount] = {
    "Custom", "110", "300", "600", "1200", "2400", "4800", "9600",
    "14400", "19200", "38400", "56000", "57600", "115200", "128000", "256000",
};
constexpr int kBaudValues[kBaudRateCount] = {
    0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000,
};

// How long the event thread sleeps between looks at bytes that a handler left
// unread; it is woken at once by Close.
constexpr int kStalledBackOffMs = 50;

bool EqualNoCase(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

// Waits for pred, serving the hand-overs when on the UI thread: the thread we
// wait for may itself be waiting for the UI thread.
void WaitUntil(const std::function<bool()>& pred)
{
    if (IsUiThread()) {
        while (!WaitServing(pred, std::chrono::seconds(1))) {
        }
        return;
    }
    while (!pred())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

TBaudRate BaudRateFromName(const std::string& name)
{
    for (int i = 0; i < kBaudRateCount; ++i) {
        if (EqualNoCase(name, kBaudNames[i]))
            return static_cast<TBaudRate>(i);
    }
    return br9600;
}

std::string BaudRateName(TBaudRate rate)
{
    if (rate < 0 || rate >= kBaudRateCount)
        return kBaudNames[br9600];
    return kBaudNames[rate];
}

int BaudRateValue(TBaudRate rate, int customRate)
{
    if (rate == brCustom)
        return customRate;
    if (rate < 0 || rate >= kBaudRateCount)
        return 9600;
    return kBaudValues[rate];
}

TFlowControl TComFlowControl::FlowControl() const
{
    if (ControlRTS == rtsHandshake && OutCTSFlow && !XonXoffIn && !XonXoffOut)
        return fcHardware;
    if (ControlRTS == rtsDisable && !OutCTSFlow && XonXoffIn && XonXoffOut)
        return fcSoftware;
    if (ControlRTS == rtsDisable && !OutCTSFlow && !XonXoffIn && !XonXoffOut)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl kind)
{
    if (kind == fcCustom)
        return;
    OutCTSFlow = false;
    ControlRTS = rtsDisable;
    XonXoffIn = false;
    XonXoffOut = false;
    if (kind == fcHardware) {
        ControlRTS = rtsHandshake;
        OutCTSFlow = true;
    } else if (kind == fcSoftware) {
        XonXoffIn = true;
        XonXoffOut = true;
    }
}

std::string EComPort::ErrorText(int code)
{
    static const char* const kTexts[] = {
        "Unable to open com port",
        "WriteFile function failed",
        "ReadFile function failed",
        "Invalid Async parameter",
        "PurgeComm function failed",
        "Unable to get async status",
        "SetCommState function failed",
        "SetCommTimeouts failed",
        "SetupComm function failed",
        "ClearCommError function failed",
        "GetCommModemStatus function failed",
        "EscapeCommFunction function failed",
        "TransmitCommChar function failed",
        "Cannot set property while connected",
        "EnumPorts function failed",
        "Failed to store settings",
        "Failed to load settings",
        "Link (un)registration failed",
        "Cannot change led state if ComPort is selected",
        "Cannot wait for event if event thread is created",
        "WaitForEvent method failed",
        "A component is linked to OnRxBuf event",
        "Registry error",
    };
    constexpr int count = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);
    if (code >= 1 && code <= count)
        return kTexts[code - 1];
    return "Unknown Error #" + std::to_string(code);
}

EComPort::EComPort(int code, int systemError, const std::string& port)
    : m_code(code), m_systemError(systemError),
      m_message("COM Port Error: " + ErrorText(code) + " on " + port)
{
}

EComPort::EComPort(int code) : m_code(code), m_systemError(-1), m_message("COM Port Error: " + ErrorText(code)) {}

// The event thread: waits on the port and a wake-up pipe, never spinning, and
// hands the count of waiting bytes to the port's OnRxChar.
class TComThread {
public:
    TComThread(TComPort& port, comport::PortHandle fd, const std::string& portName) : m_port(port), m_fd(fd)
    {
        if (!m_wake.Valid())
            throw EComPort(ComError::OpenFailed, m_wake.Error(), portName);
        try {
            m_thread = std::thread([this] { Run(); });
        } catch (const std::system_error& e) {
            throw EComPort(ComError::OpenFailed, e.code().value(), portName);
        }
    }

    ~TComThread()
    {
        if (m_thread.joinable()) {
            RequestStop(false);
            m_thread.join();
        }
    }

    // closeDevice: the thread closes the port's descriptor itself on its way
    // out (Close from inside OnRxChar, which the thread is still waiting for).
    void RequestStop(bool closeDevice)
    {
        m_closeDeviceOnExit = closeDevice;
        m_stop = true;
        m_wake.Signal();
    }

    bool Finished() const { return m_finished.load(); }

    void Join()
    {
        WaitUntil([this] { return m_finished.load(); });
        m_thread.join();
    }

private:
    void Run()
    {
        using comport::PortWait;
        bool lost = false;
        // A handler that left the bytes unread is not called again for the
        // same bytes: the thread then only looks now and then whether more
        // have arrived, instead of waking on the same readable port forever.
        bool stalled = false;
        int stalledCount = 0;
        while (!m_stop.load()) {
            int error = 0;
            const PortWait wait = comport::WaitForPort(lost ? comport::kNoPort : m_fd, !stalled, m_wake,
                                                       stalled ? kStalledBackOffMs : -1, error);
            if (m_stop.load())
                break;
            if (wait == PortWait::Wake) {
                m_wake.Drain();
                continue;
            }
            if (wait == PortWait::Failed) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kStalledBackOffMs));
                continue;
            }
            if (lost)
                continue;
            if (wait == PortWait::Lost) {
                // The device is gone: from now on only the stop signal counts.
                lost = true;
                m_port.MarkLost(error);
                continue;
            }
            int count = 0;
            if (const int e = comport::BytesWaiting(m_fd, count)) {
                lost = true;
                m_port.MarkLost(e);
                continue;
            }
            if (count <= 0) {
                stalled = wait == PortWait::Readable; // readable yet empty: do not spin on it
                stalledCount = 0;
                continue;
            }
            if (stalled && count <= stalledCount) {
                stalledCount = count;
                continue;
            }
            const std::uint64_t before = m_port.m_bytesConsumed.load();
            m_port.DispatchRxChar(count);
            if (m_stop.load())
                break;
            stalled = m_port.m_bytesConsumed.load() == before;
            stalledCount = count;
        }
        if (m_closeDeviceOnExit)
            comport::CloseDevice(m_fd);
        m_finished = true;
    }

    TComPort& m_port;
    const comport::PortHandle m_fd;
    comport::WakePipe m_wake;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_closeDeviceOnExit{false};
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

TComPort::TComPort() = default;

TComPort::~TComPort()
{
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; the device is closed either way.
    }
    // A port must not be destroyed from inside its own OnRxChar: its event
    // thread is still waiting for that handler here.
    if (m_retired)
        m_retired->Join();
}

void TComPort::Open()
{
    const auto self = std::this_thread::get_id();
    WaitUntil([&] {
        std::lock_guard lock(m_mutex);
        return !m_closing || m_closingThread == self;
    });
    ReapRetiredThread(true);

    std::unique_lock lock(m_mutex);
    if (m_connected)
        return;
    if (m_closing) // reopened from a handler that runs while this port closes
        throw EComPort(ComError::OpenFailed, comport::kErrorBusy, m_port);
    int error = 0;
    const comport::PortHandle fd = comport::OpenExclusive(comport::DevicePath(m_port), error);
    if (fd == comport::kNoPort)
        throw EComPort(ComError::OpenFailed, error, m_port);
    m_fd = fd;
    m_lost = false;
    m_lostError = 0;
    m_abortWrite = false;
    m_connected = true;
    try {
        ApplyAllLocked();
        if (!m_events.Empty())
            m_thread = std::make_unique<TComThread>(*this, fd, m_port);
        unsigned lines = 0;
        if (const int e = comport::ReadModemLines(fd, lines))
            throw EComPort(ComError::ModemStatusFailed, e, m_port);
    } catch (...) {
        std::unique_ptr<TComThread> thread = std::move(m_thread);
        m_closing = true;
        m_closingThread = self;
        lock.unlock();
        if (thread) {
            thread->RequestStop(false);
            thread->Join();
        }
        {
            std::scoped_lock io(m_readMutex, m_writeMutex);
            comport::CloseDevice(fd);
            m_fd = -1;
        }
        lock.lock();
        m_connected = false;
        m_closing = false;
        throw;
    }
}

void TComPort::Close()
{
    const auto self = std::this_thread::get_id();
    {
        std::lock_guard lock(m_mutex);
        if (m_closing && m_closingThread == self)
            return; // from a handler served while this very Close waits
    }
    WaitUntil([&] {
        std::lock_guard lock(m_mutex);
        return !m_closing;
    });
    ReapRetiredThread(false);

    std::unique_ptr<TComThread> thread;
    {
        std::lock_guard lock(m_mutex);
        if (!m_connected || m_closing)
            return;
        m_closing = true;
        m_closingThread = self;
        thread = std::move(m_thread);
    }

    TNotifyEvent beforeClose;
    {
        std::lock_guard lock(m_handlerMutex);
        beforeClose = m_onBeforeClose;
    }
    if (beforeClose) {
        try {
            beforeClose(this);
        } catch (...) {
            // The port closes all the same.
        }
    }

    const comport::PortHandle fd = m_fd.load();
    const int purgeError = m_lost ? 0 : comport::Purge(fd, true, true);
    m_abortWrite = true;
    bool deferred = false;
    if (thread) {
        deferred = m_handlerThread.load() == self;
        thread->RequestStop(deferred);
        if (!deferred)
            thread->Join();
    }
    {
        std::scoped_lock io(m_readMutex, m_writeMutex);
        if (!deferred)
            comport::CloseDevice(fd);
        m_fd = -1;
    }
    {
        std::lock_guard lock(m_mutex);
        if (deferred)
            m_retired = std::move(thread);
        m_connected = false;
        m_closing = false;
        m_lost = false;
        m_abortWrite = false;
    }
    // A device that went away meanwhile (its event thread had not yet seen the
    // hang-up) cannot be purged; it is closed all the same and that is no error.
    if (purgeError != 0 && !comport::DeviceGone(purgeError))
        throw EComPort(ComError::PurgeFailed, purgeError, Port());
}

void TComPort::ReapRetiredThread(bool forOpen)
{
    std::unique_ptr<TComThread> retired;
    {
        std::lock_guard lock(m_mutex);
        if (!m_retired)
            return;
        if (m_handlerThread.load() == std::this_thread::get_id() && !m_retired->Finished()) {
            // Still inside the handler that closed the port: the old
            // descriptor stays open until it returns.
            if (forOpen)
                throw EComPort(ComError::OpenFailed, comport::kErrorBusy, m_port);
            return;
        }
        retired = std::move(m_retired);
    }
    retired->Join();
}

int TComPort::WriteText(const std::string& text)
{
    if (text.empty())
        return 0;
    std::lock_guard write(m_writeMutex);
    TComTimeouts timeouts;
    std::string port;
    {
        std::lock_guard lock(m_mutex);
        timeouts = m_timeouts;
        port = m_port;
    }
    const comport::PortHandle fd = m_fd.load();
    if (fd == comport::kNoPort || !m_connected)
        throw EComPort(ComError::WriteFailed, comport::kErrorNotOpen, port);
    if (m_lost)
        throw EComPort(ComError::WriteFailed, m_lostError.load() != 0 ? m_lostError.load() : comport::kErrorIo, port);

    long long limit = static_cast<long long>(timeouts.WriteTotalConstant) +
                      static_cast<long long>(timeouts.WriteTotalMultiplier) * static_cast<long long>(text.size());
    limit = std::clamp(limit, 0LL, static_cast<long long>(INT_MAX));
    const comport::WriteResult result =
        comport::WriteBounded(fd, text.data(), text.size(), static_cast<int>(limit), m_abortWrite);
    if (result.error != 0) {
        if (comport::DeviceGone(result.error))
            MarkLost(result.error);
        throw EComPort(ComError::WriteFailed, result.error, port);
    }
    return static_cast<int>(result.written);
}

std::string TComPort::ReadText(int count)
{
    if (count <= 0)
        return {};
    bool discardNull;
    {
        std::lock_guard lock(m_mutex);
        discardNull = m_discardNull;
    }
    std::lock_guard read(m_readMutex);
    const comport::PortHandle fd = m_fd.load();
    if (fd == comport::kNoPort) {
        ++m_readFailures;
        m_lastReadError = comport::kErrorNotOpen;
        return {};
    }
    std::string text(static_cast<std::size_t>(count), '\0');
    int error = 0;
    const long got = comport::ReadBytes(fd, text.data(), text.size(), error);
    if (got < 0) {
        ++m_readFailures;
        m_lastReadError = error;
        return {};
    }
    text.resize(static_cast<std::size_t>(got));
    m_bytesConsumed += static_cast<std::uint64_t>(got);
    if (discardNull)
        text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    return text;
}

void TComPort::DispatchRxChar(int count)
{
    TRxCharEvent handler;
    {
        std::lock_guard lock(m_handlerMutex);
        handler = m_onRxChar;
    }
    TSyncMethod sync;
    {
        std::lock_guard lock(m_mutex);
        if (!m_events.Contains(evRxChar))
            return;
        sync = m_syncMethod;
    }
    if (!handler)
        return;
    const std::function<void()> call = [&] {
        const auto previous = m_handlerThread.exchange(std::this_thread::get_id());
        try {
            handler(this, count);
        } catch (...) {
            // A failing receive handler must not end the event thread.
        }
        m_handlerThread = previous;
    };
    // Without a window of our own, smWindowSync hands over like smThreadSync.
    if (sync == smNone)
        call();
    else
        Synchronize(call);
}

void TComPort::MarkLost(int error)
{
    m_lostError = error;
    m_lost = true;
}

void TComPort::ApplyAllLocked()
{
    // The write time-outs bound WriteText itself, so the driver gets none.
    if (const int e = comport::ApplyBuffers(m_fd.load(), m_buffer.InputSize, m_buffer.OutputSize))
        throw EComPort(ComError::SetupFailed, e, m_port);
    ApplyLineLocked();
}

void TComPort::ApplyLineLocked()
{
    comport::LineSettings line;
    line.baud = BaudRateValue(m_baudRate, m_customBaudRate);
    line.dataBits = m_dataBits;
    line.stopBits = m_stopBits;
    line.parity = m_parity;
    line.flow = m_flowControl;
    if (const int e = comport::ApplyLine(m_fd.load(), line))
        throw EComPort(ComError::SetStateFailed, e, m_port);
}

void TComPort::SettingChangedLocked()
{
    if (m_connected && !m_closing && m_updateCount == 0)
        ApplyLineLocked();
}

std::string TComPort::Port() const
{
    std::lock_guard lock(m_mutex);
    return m_port;
}

void TComPort::SetPort(const std::string& name)
{
    bool reopen = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_port == name)
            return;
        m_port = name;
        if (m_connected && !m_closing) {
            if (m_updateCount > 0)
                m_reopenPending = true;
            else
                reopen = true;
        }
    }
    if (reopen) {
        Close();
        Open();
    }
}

TBaudRate TComPort::BaudRate() const
{
    std::lock_guard lock(m_mutex);
    return m_baudRate;
}

void TComPort::SetBaudRate(TBaudRate rate)
{
    std::lock_guard lock(m_mutex);
    if (m_baudRate == rate)
        return;
    m_baudRate = rate;
    SettingChangedLocked();
}

int TComPort::CustomBaudRate() const
{
    std::lock_guard lock(m_mutex);
    return m_customBaudRate;
}

void TComPort::SetCustomBaudRate(int bitsPerSecond)
{
    std::lock_guard lock(m_mutex);
    if (m_customBaudRate == bitsPerSecond)
        return;
    m_customBaudRate = bitsPerSecond;
    if (m_baudRate == brCustom)
        SettingChangedLocked();
}

TDataBits TComPort::DataBits() const
{
    std::lock_guard lock(m_mutex);
    return m_dataBits;
}

void TComPort::SetDataBits(TDataBits bits)
{
    std::lock_guard lock(m_mutex);
    if (m_dataBits == bits)
        return;
    m_dataBits = bits;
    SettingChangedLocked();
}

TStopBits TComPort::StopBits() const
{
    std::lock_guard lock(m_mutex);
    return m_stopBits;
}

void TComPort::SetStopBits(TStopBits bits)
{
    std::lock_guard lock(m_mutex);
    if (m_stopBits == bits)
        return;
    m_stopBits = bits;
    SettingChangedLocked();
}

TComParity TComPort::Parity() const
{
    std::lock_guard lock(m_mutex);
    return m_parity;
}

void TComPort::SetParity(const TComParity& parity)
{
    std::lock_guard lock(m_mutex);
    if (m_parity == parity)
        return;
    m_parity = parity;
    SettingChangedLocked();
}

TComFlowControl TComPort::FlowControl() const
{
    std::lock_guard lock(m_mutex);
    return m_flowControl;
}

void TComPort::SetFlowControl(const TComFlowControl& flow)
{
    std::lock_guard lock(m_mutex);
    if (m_flowControl == flow)
        return;
    m_flowControl = flow;
    SettingChangedLocked();
}

bool TComPort::DiscardNull() const
{
    std::lock_guard lock(m_mutex);
    return m_discardNull;
}

void TComPort::SetDiscardNull(bool value)
{
    std::lock_guard lock(m_mutex);
    m_discardNull = value;
}

TComEvents TComPort::Events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

void TComPort::SetEvents(TComEvents events)
{
    // Whether an event thread exists is decided when the port opens.
    std::lock_guard lock(m_mutex);
    m_events = events;
}

std::uint8_t TComPort::EventChar() const
{
    std::lock_guard lock(m_mutex);
    return m_eventChar;
}

void TComPort::SetEventChar(std::uint8_t ch)
{
    std::lock_guard lock(m_mutex);
    m_eventChar = ch;
}

TComBuffer TComPort::Buffer() const
{
    std::lock_guard lock(m_mutex);
    return m_buffer;
}

void TComPort::SetBuffer(const TComBuffer& buffer)
{
    std::lock_guard lock(m_mutex);
    m_buffer.InputSize = buffer.InputSize - (buffer.InputSize % 2 != 0 ? 1 : 0);
    m_buffer.OutputSize = buffer.OutputSize - (buffer.OutputSize % 2 != 0 ? 1 : 0);
}

TComTimeouts TComPort::Timeouts() const
{
    std::lock_guard lock(m_mutex);
    return m_timeouts;
}

void TComPort::SetTimeouts(const TComTimeouts& timeouts)
{
    std::lock_guard lock(m_mutex);
    m_timeouts = timeouts;
}

TSyncMethod TComPort::SyncMethod() const
{
    std::lock_guard lock(m_mutex);
    return m_syncMethod;
}

void TComPort::SetSyncMethod(TSyncMethod method)
{
    std::lock_guard lock(m_mutex);
    if (m_syncMethod == method)
        return;
    if (m_connected)
        throw EComPort(ComError::PropertyWhileConnected);
    m_syncMethod = method;
}

void TComPort::SetOnRxChar(TRxCharEvent handler)
{
    std::lock_guard lock(m_handlerMutex);
    m_onRxChar = std::move(handler);
}

void TComPort::SetOnBeforeClose(TNotifyEvent handler)
{
    std::lock_guard lock(m_handlerMutex);
    m_onBeforeClose = std::move(handler);
}

void TComPort::BeginUpdate()
{
    std::lock_guard lock(m_mutex);
    ++m_updateCount;
}

void TComPort::EndUpdate()
{
    bool reopen = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_updateCount == 0 || --m_updateCount > 0)
            return;
        reopen = m_reopenPending && m_connected;
        m_reopenPending = false;
        if (!reopen && m_connected && !m_closing)
            ApplyAllLocked();
    }
    if (reopen) {
        // The new device opens with every setting of the bracket at once.
        Close();
        Open();
    }
}

} // namespace kv
