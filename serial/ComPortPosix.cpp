// TComPort's platform layer on POSIX termios.
#include "serial/ComPortPlatform.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kv::comport {

namespace {

struct StandardSpeed {
    int rate;
    speed_t code;
};

constexpr StandardSpeed kSpeeds[] = {
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
    {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

const StandardSpeed& Nearest(int rate)
{
    const StandardSpeed* best = &kSpeeds[0];
    for (const StandardSpeed& s : kSpeeds) {
        if (std::abs(s.rate - rate) < std::abs(best->rate - rate))
            best = &s;
    }
    return *best;
}

#ifdef __linux__
// The kernel's termios2 (arbitrary speeds). Its header cannot be included
// together with <termios.h>, so the stable kernel layout is repeated here.
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
constexpr unsigned long kGetTermios2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kSetTermios2 = _IOW('T', 0x2B, KernelTermios2);
constexpr tcflag_t kOtherSpeed = 0010000; // BOTHER
constexpr int kInputSpeedShift = 16;     // IBSHIFT
#endif

// Pseudo-terminals and some adapters have no modem lines.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

void SetLine(int fd, int line, bool on, int& error)
{
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) != 0 && !NoModemLines(errno) && error == 0)
        error = errno;
}

} // namespace

bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

std::string DevicePath(const std::string& port)
{
    if (!port.empty() && port.front() == '/')
        return port;
    if (port.size() > 3 && std::toupper(static_cast<unsigned char>(port[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(port[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(port[2])) == 'M') {
        bool digits = port.size() <= 6;
        for (std::size_t i = 3; i < port.size() && digits; ++i)
            digits = std::isdigit(static_cast<unsigned char>(port[i])) != 0;
        if (digits) {
            const int n = std::atoi(port.c_str() + 3);
            if (n >= 1)
                return "/dev/ttyS" + std::to_string(n - 1);
        }
    }
    return "/dev/" + port;
}

PortHandle OpenExclusive(const std::string& path, int& error)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    auto fail = [&](int e) {
        error = e;
        ::close(fd);
        return -1;
    };
    if (!isatty(fd))
        return fail(ENOTTY);
    // TIOCEXCL alone does not stop root; the lock does, and also any other
    // program that honours it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    if (ioctl(fd, TIOCEXCL) != 0)
        return fail(errno);
    return fd;
}

void CloseDevice(PortHandle port)
{
    if (port < 0)
        return;
    const int fd = static_cast<int>(port);
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    ::close(fd);
}

int ListPorts(std::vector<std::string>& ports)
{
    ports.clear();
    DIR* dir = ::opendir("/sys/class/tty");
    if (!dir)
        return errno;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        const std::string sys = "/sys/class/tty/" + name;
        // Only ttys with a device behind them; the legacy UART slots report
        // type 0 when no chip answers there.
        if (name.front() == '.' || ::access((sys + "/device").c_str(), F_OK) != 0)
            continue;
        if (name.rfind("ttyS", 0) == 0) {
            std::ifstream type(sys + "/type");
            int kind = 0;
            if (!(type >> kind) || kind == 0)
                continue;
        }
        ports.push_back("/dev/" + name);
    }
    ::closedir(dir);
    SortPortNames(ports);
    return 0;
}

int ApplyBuffers(PortHandle, int, int) { return 0; }

int NearestStandardSpeed(int bitsPerSecond) { return Nearest(bitsPerSecond).rate; }

int ApplyLine(PortHandle port, const LineSettings& line)
{
    const int fd = static_cast<int>(port);
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return errno;

    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    // The modem's carrier must not hang the port up: CLOCAL.
    t.c_cflag |= CLOCAL | CREAD;

    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[line.dataBits];
    // 1.5 stop bits exist only with 5 data bits, where the UART makes them of CSTOPB.
    if (line.stopBits != sbOneStopBit)
        t.c_cflag |= CSTOPB;
    switch (line.parity.Bits) {
    case prNone: break;
    case prOdd: t.c_cflag |= PARENB | PARODD; break;
    case prEven: t.c_cflag |= PARENB; break;
    case prMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case prSpace: t.c_cflag |= PARENB | CMSPAR; break;
    }
    // Without a check, bad bytes pass as received; with one they read as 0.
    if (line.parity.Check && line.parity.Bits != prNone)
        t.c_iflag |= INPCK;

    if (line.flow.OutCTSFlow || line.flow.ControlRTS == rtsHandshake)
        t.c_cflag |= CRTSCTS;
    if (line.flow.XonXoffOut)
        t.c_iflag |= IXON;
    if (line.flow.XonXoffIn)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = line.flow.XonChar;
    t.c_cc[VSTOP] = line.flow.XoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    const StandardSpeed& speed = Nearest(line.baud);
    cfsetispeed(&t, speed.code);
    cfsetospeed(&t, speed.code);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        // The C library reports EINVAL when the driver kept its own character
        // size or parity, as a pseudo-terminal always does; everything else
        // has been set then, and the port stays usable.
        const int error = errno;
        constexpr tcflag_t kCharacterFrame = CSIZE | PARENB | PARODD | CMSPAR;
        termios now{};
        if (error != EINVAL || tcgetattr(fd, &now) != 0 ||
            (now.c_cflag & ~kCharacterFrame) != (t.c_cflag & ~kCharacterFrame))
            return error;
    }

#ifdef __linux__
    if (speed.rate != line.baud && line.baud > 0) {
        // Rates such as 14400 or 56000 are set exactly where the driver takes
        // them; where it refuses, the nearest standard rate above stays.
        KernelTermios2 t2{};
        if (ioctl(fd, kGetTermios2, &t2) == 0) {
            t2.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << kInputSpeedShift));
            t2.c_cflag |= kOtherSpeed | (kOtherSpeed << kInputSpeedShift);
            t2.c_ispeed = static_cast<speed_t>(line.baud);
            t2.c_ospeed = static_cast<speed_t>(line.baud);
            ioctl(fd, kSetTermios2, &t2);
        }
    }
#endif

    // DTR and RTS held as set; handshake leaves RTS to the driver (CRTSCTS).
    // There is no DTR/DSR handshake or RTS toggling here: those raise the line.
    int error = 0;
    SetLine(fd, TIOCM_DTR, line.flow.ControlDTR != dtrDisable, error);
    if (line.flow.ControlRTS != rtsHandshake)
        SetLine(fd, TIOCM_RTS, line.flow.ControlRTS != rtsDisable, error);
    return error;
}

int CurrentSpeed(PortHandle port)
{
    const int fd = static_cast<int>(port);
#ifdef __linux__
    KernelTermios2 t2{};
    if (ioctl(fd, kGetTermios2, &t2) == 0)
        return static_cast<int>(t2.c_ospeed);
#endif
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return -1;
    const speed_t code = cfgetospeed(&t);
    for (const StandardSpeed& s : kSpeeds) {
        if (s.code == code)
            return s.rate;
    }
    return -1;
}

int ReadModemLines(PortHandle port, unsigned& lines)
{
    const int fd = static_cast<int>(port);
    lines = 0;
    int status = 0;
    if (ioctl(fd, TIOCMGET, &status) != 0)
        return NoModemLines(errno) ? 0 : errno;
    if (status & TIOCM_CTS)
        lines |= LineCTS;
    if (status & TIOCM_DSR)
        lines |= LineDSR;
    if (status & TIOCM_RNG)
        lines |= LineRing;
    if (status & TIOCM_CAR)
        lines |= LineRLSD;
    return 0;
}

int BytesWaiting(PortHandle port, int& count)
{
    const int fd = static_cast<int>(port);
    count = 0;
    return ioctl(fd, FIONREAD, &count) == 0 ? 0 : errno;
}

long ReadBytes(PortHandle port, char* buffer, std::size_t n, int& error)
{
    const int fd = static_cast<int>(port);
    for (;;) {
        const ssize_t got = ::read(fd, buffer, n);
        if (got >= 0)
            return static_cast<long>(got);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        error = errno;
        return -1;
    }
}

WriteResult WriteBounded(PortHandle port, const char* data, std::size_t n, int timeoutMs, const std::atomic<bool>& abort)
{
    const int fd = static_cast<int>(port);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    WriteResult result;
    while (result.written < n) {
        if (abort.load())
            break;
        const ssize_t put = ::write(fd, data + result.written, n - result.written);
        if (put > 0) {
            result.written += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            result.error = errno;
            break;
        }
        // The line is blocked (flow control, full buffer): wait in slices so
        // that Close can abort the write.
        int slice = 100;
        if (timeoutMs > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            if (left < slice)
                slice = static_cast<int>(left);
        }
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, slice);
        if (r < 0 && errno != EINTR) {
            result.error = errno;
            break;
        }
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLOUT)) {
            result.error = EIO;
            break;
        }
    }
    return result;
}

int Purge(PortHandle port, bool input, bool output)
{
    const int fd = static_cast<int>(port);
    if (!input && !output)
        return 0;
    const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    return tcflush(fd, which) == 0 ? 0 : errno;
}

WakePipe::WakePipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_error = errno;
        return;
    }
    m_read = fds[0];
    m_write = fds[1];
}

WakePipe::~WakePipe()
{
    if (m_read >= 0)
        ::close(static_cast<int>(m_read));
    if (m_write >= 0)
        ::close(static_cast<int>(m_write));
}

void WakePipe::Signal()
{
    const char b = 1;
    [[maybe_unused]] const ssize_t r = ::write(static_cast<int>(m_write), &b, 1); // a full pipe is woken already
}

void WakePipe::Drain()
{
    char buffer[64];
    while (::read(static_cast<int>(m_read), buffer, sizeof buffer) > 0) {
    }
}

PortWait WaitForPort(PortHandle port, bool wantData, const WakePipe& wake, int timeoutMs, int& error)
{
    pollfd fds[2] = {{static_cast<int>(wake.ReadEnd()), POLLIN, 0},
                     {static_cast<int>(port), static_cast<short>(wantData ? POLLIN : 0), 0}};
    const nfds_t count = port >= 0 ? 2 : 1;
    const int r = ::poll(fds, count, timeoutMs);
    if (r < 0) {
        if (errno == EINTR)
            return PortWait::Timeout;
        error = errno;
        return PortWait::Failed;
    }
    if (r == 0)
        return PortWait::Timeout;
    if (fds[0].revents != 0)
        return PortWait::Wake;
    if (count == 2) {
        // A hang-up (pulled USB adapter, closed pseudo-terminal master) is
        // reported even when no data is wanted.
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            error = EIO;
            return PortWait::Lost;
        }
        if (fds[1].revents & POLLIN)
            return PortWait::Readable;
    }
    return PortWait::Timeout;
}

} // namespace kv::comport
