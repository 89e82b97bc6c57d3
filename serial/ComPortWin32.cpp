// TComPort's platform layer on the Win32 communications functions: the device
// opened overlapped and unshared, reads that return what has arrived, writes
// bounded by the component's time-out, and comm events waited for together
// with the wake event.
#include "serial/ComPortPlatform.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>

namespace kv::comport {

namespace {

constexpr int kStandardRates[] = {50,     75,     110,    134,    150,    200,     300,     600,
                                  1200,   1800,   2400,   4800,   9600,   19200,   38400,   57600,
                                  115200, 230400, 460800, 500000, 576000, 921600,  1000000, 1152000,
                                  1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

// Not EV_TXEMPTY: every write would wake the event thread for nothing.
constexpr DWORD kAllEvents = EV_RXCHAR | EV_RXFLAG | EV_RX80FULL | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;
constexpr DWORD kDataEvents = EV_RXCHAR | EV_RXFLAG | EV_RX80FULL;
// A comm wait that came back empty or aborted (Wine's on a pseudo-terminal)
// is not retried sooner than this.
constexpr DWORD kEmptyEventBackOffMs = 50;

struct Port {
    HANDLE device = INVALID_HANDLE_VALUE;
    // One holder per port among the programs of this session: Wine, unlike
    // Windows, opens a device that is not shared a second time.
    HANDLE guard = nullptr;
    std::string key; // "\\.\COM5": the guard's and the holder list's name
    HANDLE readEvent = nullptr;
    HANDLE writeEvent = nullptr;
    HANDLE waitEvent = nullptr;
    // The event thread's comm wait, which may stay pending between two waits.
    OVERLAPPED waitOverlapped{};
    DWORD waitMask = 0;
    bool waitPending = false;
};

Port* Of(PortHandle port) { return reinterpret_cast<Port*>(port); }

std::mutex g_heldMutex;
std::set<std::string> g_held;

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return {};
    // Port names are plain ASCII; other bytes are the station's code page.
    const int n = MultiByteToWideChar(1251, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(1251, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// Drivers without modem lines (a USB adapter without them, Wine on a
// pseudo-terminal) refuse the question.
bool NoModemLines(DWORD error)
{
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION;
}

int Error() { return static_cast<int>(GetLastError()); }

// Waits for an overlapped request: true when done, with its count.
bool Finish(HANDLE device, OVERLAPPED& o, DWORD& count, int& error)
{
    if (GetOverlappedResult(device, &o, &count, TRUE))
        return true;
    error = Error();
    return false;
}

void CloseIfOpen(HANDLE& h)
{
    if (h != nullptr && h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = nullptr;
}

void Release(Port* p)
{
    if (p->waitPending) {
        CancelIoEx(p->device, &p->waitOverlapped);
        DWORD ignored = 0;
        GetOverlappedResult(p->device, &p->waitOverlapped, &ignored, TRUE);
    }
    CloseIfOpen(p->device);
    CloseIfOpen(p->guard);
    CloseIfOpen(p->readEvent);
    CloseIfOpen(p->writeEvent);
    CloseIfOpen(p->waitEvent);
    if (!p->key.empty()) {
        std::lock_guard lock(g_heldMutex);
        g_held.erase(p->key);
    }
    delete p;
}

// Starts the comm wait unless one is pending; false with the error when the
// driver takes none.
bool StartWait(Port* p, int& error)
{
    if (p->waitPending)
        return true;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ResetEvent(p->waitEvent);
        p->waitOverlapped = OVERLAPPED{};
        p->waitOverlapped.hEvent = p->waitEvent;
        p->waitMask = 0;
        if (WaitCommEvent(p->device, &p->waitMask, &p->waitOverlapped)) {
            SetEvent(p->waitEvent); // came at once: the wait below sees it
            p->waitPending = true;
            return true;
        }
        const DWORD e = GetLastError();
        if (e == ERROR_IO_PENDING) {
            p->waitPending = true;
            return true;
        }
        // A device without line or error events (Wine on a pseudo-terminal)
        // still tells of arriving bytes.
        if (e != ERROR_NOT_SUPPORTED || attempt > 0 || !SetCommMask(p->device, EV_RXCHAR)) {
            error = static_cast<int>(e);
            return false;
        }
    }
    return false;
}

} // namespace

std::string Narrow(const wchar_t* text, std::size_t length)
{
    const int n = WideCharToMultiByte(1251, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(1251, 0, text, static_cast<int>(length), narrow.data(), n, nullptr, nullptr);
    return narrow;
}

bool DeviceGone(int error)
{
    switch (error) {
    case ERROR_IO_DEVICE:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_OPERATION_ABORTED:
    case ERROR_ACCESS_DENIED: // what an unplugged USB adapter's open handle answers
        return true;
    default:
        return false;
    }
}

std::string DevicePath(const std::string& port)
{
    if (port.rfind("\\\\", 0) == 0)
        return port;
    return "\\\\.\\" + port;
}

int ListPorts(std::vector<std::string>& ports)
{
    ports.clear();
    HKEY key = nullptr;
    const LSTATUS open = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key);
    if (open == ERROR_FILE_NOT_FOUND)
        return 0; // no serial port at all
    if (open != ERROR_SUCCESS)
        return static_cast<int>(open);
    int error = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LSTATUS r = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                        &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r == ERROR_MORE_DATA)
            continue; // no port name is that long
        if (r != ERROR_SUCCESS) {
            error = static_cast<int>(r);
            break;
        }
        if (type != REG_SZ)
            continue;
        std::size_t length = dataBytes / sizeof(wchar_t);
        while (length > 0 && data[length - 1] == L'\0')
            --length;
        if (length > 0)
            ports.push_back(Narrow(data, length));
    }
    RegCloseKey(key);
    SortPortNames(ports);
    return error;
}

bool OpenInThisProcess(const std::string& path)
{
    std::lock_guard lock(g_heldMutex);
    return g_held.count(Upper(path)) != 0;
}

PortHandle OpenExclusive(const std::string& path, int& error)
{
    auto* p = new Port;
    auto fail = [&](int e) {
        error = e;
        Release(p);
        return kNoPort;
    };
    p->device = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    if (p->device == INVALID_HANDLE_VALUE)
        return fail(Error());
    // Anything but a communications device (a file, a printer) fails here.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(p->device, &dcb))
        return fail(Error());

    const std::string key = Upper(path);
    std::wstring guardName = L"Local\\KorvalenPort-";
    for (char c : key)
        guardName += c == '\\' ? L'_' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    p->guard = CreateEventW(nullptr, TRUE, FALSE, guardName.c_str());
    if (p->guard == nullptr)
        return fail(Error());
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return fail(ERROR_ACCESS_DENIED); // as Windows answers for a port in use
    {
        std::lock_guard lock(g_heldMutex);
        g_held.insert(key);
    }
    p->key = key;

    for (HANDLE* event : {&p->readEvent, &p->writeEvent, &p->waitEvent}) {
        *event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (*event == nullptr)
            return fail(Error());
    }
    // Reads return at once with what has arrived; writes have no limit of the
    // driver's, WriteBounded keeps the component's.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(p->device, &timeouts))
        return fail(Error());
    if (!SetCommMask(p->device, kAllEvents))
        return fail(Error());
    return reinterpret_cast<PortHandle>(p);
}

void CloseDevice(PortHandle port)
{
    if (port == kNoPort)
        return;
    Release(Of(port));
}

int NearestStandardSpeed(int bitsPerSecond)
{
    int best = kStandardRates[0];
    for (int rate : kStandardRates) {
        if (std::abs(rate - bitsPerSecond) < std::abs(best - bitsPerSecond))
            best = rate;
    }
    return best;
}

int ApplyBuffers(PortHandle port, int inputSize, int outputSize)
{
    return SetupComm(Of(port)->device, static_cast<DWORD>(std::max(inputSize, 16)),
                     static_cast<DWORD>(std::max(outputSize, 16)))
               ? 0
               : Error();
}

void FillDcb(DCB& dcb, const LineSettings& line)
{
    dcb.BaudRate = static_cast<DWORD>(line.baud > 0 ? line.baud : 9600);
    dcb.fBinary = TRUE;
    static constexpr BYTE kParities[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    dcb.Parity = kParities[std::clamp<int>(line.parity.Bits, prNone, prSpace)];
    // Without a check, bad bytes pass as received; with one they are replaced.
    dcb.fParity = line.parity.Check && line.parity.Bits != prNone;
    dcb.fErrorChar = dcb.fParity && line.parity.Replace;
    dcb.ErrorChar = static_cast<char>(line.parity.ReplaceChar);
    dcb.ByteSize = static_cast<BYTE>(5 + std::clamp<int>(line.dataBits, dbFive, dbEight));
    // 1.5 stop bits exist only with 5 data bits; elsewhere the UART makes 2.
    if (line.stopBits == sbOneStopBit)
        dcb.StopBits = ONESTOPBIT;
    else if (line.stopBits == sbOne5StopBits && line.dataBits == dbFive)
        dcb.StopBits = ONE5STOPBITS;
    else
        dcb.StopBits = TWOSTOPBITS;

    const TComFlowControl& flow = line.flow;
    dcb.fOutxCtsFlow = flow.OutCTSFlow || flow.ControlRTS == rtsHandshake;
    dcb.fOutxDsrFlow = flow.OutDSRFlow;
    static constexpr DWORD kDtr[] = {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE};
    static constexpr DWORD kRts[] = {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE,
                                     RTS_CONTROL_TOGGLE};
    dcb.fDtrControl = kDtr[std::clamp<int>(flow.ControlDTR, dtrDisable, dtrHandshake)];
    dcb.fRtsControl = kRts[std::clamp<int>(flow.ControlRTS, rtsDisable, rtsToggle)];
    dcb.fDsrSensitivity = flow.DSRSensitivity;
    dcb.fTXContinueOnXoff = flow.TxContinueOnXoff;
    dcb.fOutX = flow.XonXoffOut;
    dcb.fInX = flow.XonXoffIn;
    dcb.XonChar = static_cast<char>(flow.XonChar);
    dcb.XoffChar = static_cast<char>(flow.XoffChar);
    // The component drops zero bytes itself (DiscardNull), after counting them.
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
}

int ApplyLine(PortHandle port, const LineSettings& line)
{
    HANDLE device = Of(port)->device;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(device, &dcb))
        return Error();
    FillDcb(dcb, line);
    if (SetCommState(device, &dcb))
        return 0;
    const int error = Error();
    // Rates such as 14400 or 56000 are set exactly where the driver takes
    // them; where it refuses, the nearest standard rate stays.
    const int standard = NearestStandardSpeed(line.baud);
    if (standard == line.baud)
        return error;
    dcb.BaudRate = static_cast<DWORD>(standard);
    return SetCommState(device, &dcb) ? 0 : Error();
}

int CurrentSpeed(PortHandle port)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(Of(port)->device, &dcb))
        return -1;
    return static_cast<int>(dcb.BaudRate);
}

int ReadModemLines(PortHandle port, unsigned& lines)
{
    lines = 0;
    DWORD status = 0;
    if (!GetCommModemStatus(Of(port)->device, &status)) {
        const DWORD e = GetLastError();
        return NoModemLines(e) ? 0 : static_cast<int>(e);
    }
    if (status & MS_CTS_ON)
        lines |= LineCTS;
    if (status & MS_DSR_ON)
        lines |= LineDSR;
    if (status & MS_RING_ON)
        lines |= LineRing;
    if (status & MS_RLSD_ON)
        lines |= LineRLSD;
    return 0;
}

int BytesWaiting(PortHandle port, int& count)
{
    count = 0;
    DWORD errors = 0;
    COMSTAT stat{};
    // Also clears a line error (framing, overrun), which would stop reading.
    if (!ClearCommError(Of(port)->device, &errors, &stat))
        return Error();
    count = static_cast<int>(std::min<DWORD>(stat.cbInQue, INT_MAX));
    return 0;
}

long ReadBytes(PortHandle port, char* buffer, std::size_t n, int& error)
{
    Port* p = Of(port);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    OVERLAPPED o{};
    o.hEvent = p->readEvent;
    ResetEvent(p->readEvent);
    DWORD got = 0;
    if (ReadFile(p->device, buffer, wanted, &got, &o))
        return static_cast<long>(got);
    if (GetLastError() != ERROR_IO_PENDING) {
        error = Error();
        return -1;
    }
    // The time-outs make the driver answer at once with what it has.
    if (!Finish(p->device, o, got, error))
        return -1;
    return static_cast<long>(got);
}

WriteResult WriteBounded(PortHandle port, const char* data, std::size_t n, int timeoutMs,
                         const std::atomic<bool>& abort)
{
    using Clock = std::chrono::steady_clock;
    Port* p = Of(port);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    WriteResult result;
    while (result.written < n && !abort.load()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - result.written, 1u << 30));
        OVERLAPPED o{};
        o.hEvent = p->writeEvent;
        ResetEvent(p->writeEvent);
        DWORD put = 0;
        if (!WriteFile(p->device, data + result.written, chunk, &put, &o)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                result.error = Error();
                break;
            }
            // The line is blocked (flow control, full queue): wait in slices
            // so that Close can abort the write, then take what went out.
            bool done = false;
            while (!done) {
                DWORD slice = 100;
                if (timeoutMs > 0) {
                    const auto left =
                        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                    if (left <= 0)
                        break;
                    slice = static_cast<DWORD>(std::min<long long>(left, slice));
                }
                if (abort.load())
                    break;
                done = WaitForSingleObject(p->writeEvent, slice) == WAIT_OBJECT_0;
            }
            if (!done)
                CancelIoEx(p->device, &o);
            int error = 0;
            if (!Finish(p->device, o, put, error) && error != ERROR_OPERATION_ABORTED) {
                result.error = error;
                break;
            }
            result.written += put;
            if (!done)
                break;
            continue;
        }
        result.written += put;
        if (put == 0)
            break; // a driver that took nothing and said nothing: no spinning
    }
    return result;
}

int Purge(PortHandle port, bool input, bool output)
{
    DWORD flags = 0;
    if (input)
        flags |= PURGE_RXCLEAR;
    if (output)
        flags |= PURGE_TXCLEAR | PURGE_TXABORT; // a blocked write ends at once
    if (flags == 0)
        return 0;
    return PurgeComm(Of(port)->device, flags) ? 0 : Error();
}

WakePipe::WakePipe()
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        m_error = Error();
        return;
    }
    m_read = reinterpret_cast<std::intptr_t>(event);
}

WakePipe::~WakePipe()
{
    if (m_read >= 0)
        CloseHandle(reinterpret_cast<HANDLE>(m_read));
}

void WakePipe::Signal() { SetEvent(reinterpret_cast<HANDLE>(m_read)); }

void WakePipe::Drain() { ResetEvent(reinterpret_cast<HANDLE>(m_read)); }

namespace {

// Bytes already in the driver's queue, or the device gone; nothing when the
// queue is empty.
std::optional<PortWait> WaitingNow(PortHandle port, int& error)
{
    int count = 0;
    if (const int e = BytesWaiting(port, count)) {
        error = e;
        return PortWait::Lost;
    }
    if (count > 0)
        return PortWait::Readable;
    return std::nullopt;
}

// A comm wait that came back empty or failed: the device is gone when it no
// longer answers, else the wait is not retried at once.
PortWait AfterIdleWait(PortHandle port, HANDLE wakeEvent, int& error)
{
    if (const std::optional<PortWait> now = WaitingNow(port, error))
        return *now;
    return WaitForSingleObject(wakeEvent, kEmptyEventBackOffMs) == WAIT_OBJECT_0 ? PortWait::Wake : PortWait::Timeout;
}

} // namespace

PortWait WaitForPort(PortHandle port, bool wantData, const WakePipe& wake, int timeoutMs, int& error)
{
    const HANDLE wakeEvent = reinterpret_cast<HANDLE>(wake.ReadEnd());
    Port* p = port == kNoPort ? nullptr : Of(port);
    if (p && wantData) {
        // A driver without comm events is asked for its count instead.
        int ignored = 0;
        if (!StartWait(p, ignored))
            return AfterIdleWait(port, wakeEvent, error);
        // A comm event tells of bytes that arrive after it was asked for:
        // those already waiting are news of their own.
        if (const std::optional<PortWait> now = WaitingNow(port, error))
            return *now;
    }
    // Without wanting data only the end of a pending wait counts (a device
    // that went away ends it).
    const HANDLE handles[2] = {wakeEvent, p ? p->waitEvent : nullptr};
    const DWORD count = p && p->waitPending ? 2 : 1;
    const DWORD r = WaitForMultipleObjects(count, handles, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (r == WAIT_TIMEOUT)
        return PortWait::Timeout;
    if (r == WAIT_OBJECT_0)
        return PortWait::Wake;
    if (r != WAIT_OBJECT_0 + 1) {
        error = Error();
        return PortWait::Failed;
    }
    p->waitPending = false;
    DWORD ignored = 0;
    // Wine ends a wait on a pseudo-terminal every few milliseconds, aborted or
    // with no event; Windows does so when the mask changes.
    if (!GetOverlappedResult(p->device, &p->waitOverlapped, &ignored, FALSE) || p->waitMask == 0)
        return AfterIdleWait(port, wakeEvent, error);
    // A line event (CTS, a ring, a line error) only has the thread look again.
    return wantData && (p->waitMask & kDataEvents) != 0 ? PortWait::Readable : PortWait::Timeout;
}

} // namespace kv::comport
