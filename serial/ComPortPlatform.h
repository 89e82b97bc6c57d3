#pragma once
// The operating system's side of TComPort. Everything that touches a device
// descriptor lives behind these functions (ComPortPosix.cpp); errors come back
// as errno values, 0 meaning success.
#include "serial/CPort.h"

#include <atomic>
#include <cstddef>
#include <string>

namespace kv::comport {

// "/dev/x" stays as it is; "COMn" in any letter case is /dev/ttyS<n-1>; any
// other name is looked up in /dev.
std::string DevicePath(const std::string& port);

// Opens read-write, non-blocking, as no controlling terminal, exclusively:
// another open of the same device fails while this one holds it (root too).
// Returns the descriptor, or -1 with the reason in error.
int OpenExclusive(const std::string& path, int& error);
void CloseDevice(int fd);

struct LineSettings {
    int baud = 9600;
    TDataBits dataBits = dbEight;
    TStopBits stopBits = sbOneStopBit;
    TComParity parity;
    TComFlowControl flow;
};
// Raw mode from the settings. Returns errno of the failed step.
int ApplyLine(int fd, const LineSettings& line);

// The standard rate closest to bitsPerSecond (the lower one on a tie).
int NearestStandardSpeed(int bitsPerSecond);
// The output speed the device is set to, in bits per second; -1 on failure.
int CurrentSpeed(int fd);

enum ModemLine : unsigned { LineCTS = 1, LineDSR = 2, LineRing = 4, LineRLSD = 8 };
// A device without modem lines (a pseudo-terminal) reports none.
int ReadModemLines(int fd, unsigned& lines);

int BytesWaiting(int fd, int& count);
// What has arrived, up to n bytes, without waiting. -1 on failure.
long ReadBytes(int fd, char* buffer, std::size_t n, int& error);

struct WriteResult {
    std::size_t written = 0;
    int error = 0;
};
// Writes until all is out, timeoutMs has passed (0: no limit) or abort is set.
WriteResult WriteBounded(int fd, const char* data, std::size_t n, int timeoutMs, const std::atomic<bool>& abort);

int Purge(int fd, bool input, bool output);

// Lets another thread wake the event thread out of its wait.
class WakePipe {
public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;
    bool Valid() const { return m_read >= 0; }
    int Error() const { return m_error; }
    int ReadFd() const { return m_read; }
    void Signal();
    void Drain();

private:
    int m_read = -1;
    int m_write = -1;
    int m_error = 0;
};

enum class PortWait { Wake, Readable, Lost, Timeout, Failed };
// Waits for the wake pipe and, when portFd >= 0, for the port to hang up or
// (with wantData) to have bytes. timeoutMs < 0 waits without limit.
PortWait WaitForPort(int portFd, bool wantData, int wakeFd, int timeoutMs, int& error);

} // namespace kv::comport
