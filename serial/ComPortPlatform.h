#pragma once
// The operating system's side of TComPort. Everything that touches a device
// lives behind these functions, termios in ComPortPosix.cpp and the Win32
// communications functions in ComPortWin32.cpp; errors come back as the
// system's own codes (errno, GetLastError), 0 meaning success.
#include "serial/CPort.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
struct _DCB; // <windows.h>
#endif

namespace kv::comport {

// An open device: the descriptor on POSIX, the port's own state on Windows.
using PortHandle = std::intptr_t;
inline constexpr PortHandle kNoPort = -1;

// The codes the component raises itself.
#ifdef _WIN32
inline constexpr int kErrorBusy = 170;     // ERROR_BUSY
inline constexpr int kErrorNotOpen = 6;    // ERROR_INVALID_HANDLE
inline constexpr int kErrorIo = 1117;      // ERROR_IO_DEVICE
#else
inline constexpr int kErrorBusy = EBUSY;
inline constexpr int kErrorNotOpen = EBADF;
inline constexpr int kErrorIo = EIO;
#endif
// Whether the error means the device went away (unplugged, hung up) rather
// than one request failing.
bool DeviceGone(int error);

// POSIX: "/dev/x" stays as it is; "COMn" in any letter case is
// /dev/ttyS<n-1>; any other name is looked up in /dev.
// Windows: "\\.\x" stays; any other name, "COMn" too, becomes "\\.\NAME".
std::string DevicePath(const std::string& port);

// The serial ports this machine has: /dev names of devices with a driver on
// POSIX, the COM names of HARDWARE\DEVICEMAP\SERIALCOMM on Windows; in
// SortPortNames order. Returns the error of a listing that failed.
int ListPorts(std::vector<std::string>& ports);
// By name, a trailing number in numeric order: COM2 before COM10.
void SortPortNames(std::vector<std::string>& names);

// Opens read-write, non-blocking, as no controlling terminal, exclusively:
// another open of the same device fails while this one holds it (root too).
// Returns the handle, or kNoPort with the reason in error.
PortHandle OpenExclusive(const std::string& path, int& error);
void CloseDevice(PortHandle port);
#ifdef _WIN32
// Whether a TComPort of this process holds the device (Windows does not tell
// who holds a port).
bool OpenInThisProcess(const std::string& path);
// A system text (UTF-16) in the station's code page.
std::string Narrow(const wchar_t* text, std::size_t length);
#endif

struct LineSettings {
    int baud = 9600;
    TDataBits dataBits = dbEight;
    TStopBits stopBits = sbOneStopBit;
    TComParity parity;
    TComFlowControl flow;
};
// Raw mode from the settings. Returns the error of the failed step.
int ApplyLine(PortHandle port, const LineSettings& line);
#ifdef _WIN32
// The device control block's fields for the settings; the rest stays as the
// driver gave it.
void FillDcb(::_DCB& dcb, const LineSettings& line);
#endif
// The driver's queue sizes (nothing to set on POSIX, where they are fixed).
int ApplyBuffers(PortHandle port, int inputSize, int outputSize);

// The standard rate closest to bitsPerSecond (the lower one on a tie).
int NearestStandardSpeed(int bitsPerSecond);
// The output speed the device is set to, in bits per second; -1 on failure.
int CurrentSpeed(PortHandle port);

enum ModemLine : unsigned { LineCTS = 1, LineDSR = 2, LineRing = 4, LineRLSD = 8 };
// A device without modem lines (a pseudo-terminal) reports none.
int ReadModemLines(PortHandle port, unsigned& lines);

int BytesWaiting(PortHandle port, int& count);
// What has arrived, up to n bytes, without waiting. -1 on failure.
long ReadBytes(PortHandle port, char* buffer, std::size_t n, int& error);

struct WriteResult {
    std::size_t written = 0;
    int error = 0;
};
// Writes until all is out, timeoutMs has passed (0: no limit) or abort is set.
WriteResult WriteBounded(PortHandle port, const char* data, std::size_t n, int timeoutMs, const std::atomic<bool>& abort);

int Purge(PortHandle port, bool input, bool output);

// Lets another thread wake the event thread out of its wait: a pipe on
// POSIX, an event object on Windows.
class WakePipe {
public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;
    bool Valid() const { return m_read >= 0; }
    int Error() const { return m_error; }
    std::intptr_t ReadEnd() const { return m_read; }
    void Signal();
    void Drain();

private:
    std::intptr_t m_read = -1;
    std::intptr_t m_write = -1;
    int m_error = 0;
};

enum class PortWait { Wake, Readable, Lost, Timeout, Failed };
// Waits for the wake pipe and, when port is not kNoPort, for the port to hang
// up or (with wantData) to have bytes. timeoutMs < 0 waits without limit.
// Readable may come with no bytes waiting after all (a line event).
PortWait WaitForPort(PortHandle port, bool wantData, const WakePipe& wake, int timeoutMs, int& error);

} // namespace kv::comport
