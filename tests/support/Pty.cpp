#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace kv::test {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

Pty::Pty()
{
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        ADD_FAILURE() << "posix_openpt: " << errno;
        return;
    }
    char name[128];
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
        ADD_FAILURE() << "pseudo-terminal set-up: " << errno;
        ::close(fd);
        return;
    }
    // The master's termios are the slave's: raw here means the port under
    // test starts from a clean line even before it sets its own.
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    m_master = fd;
    m_slavePath = name;
}

Pty::~Pty() { CloseMaster(); }

void Pty::CloseMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool Pty::Write(std::string_view bytes, std::chrono::milliseconds deadline)
{
    const auto end = Clock::now() + deadline;
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (m_master < 0)
            return false;
        const ssize_t put = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const int left = MsLeft(end);
        if (left == 0)
            return false;
        pollfd p{m_master, POLLOUT, 0};
        ::poll(&p, 1, left < 20 ? left : 20);
    }
    return true;
}

std::string Pty::Read(std::size_t count, std::chrono::milliseconds deadline)
{
    const auto end = Clock::now() + deadline;
    std::string got;
    char buffer[4096];
    while (got.size() < count && m_master >= 0) {
        const std::size_t want = std::min(sizeof buffer, count - got.size());
        const ssize_t n = ::read(m_master, buffer, want);
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
            break;
        // EIO: no slave is open yet; wait for one like for data.
        const int left = MsLeft(end);
        if (left == 0)
            break;
        pollfd p{m_master, POLLIN, 0};
        ::poll(&p, 1, left < 20 ? left : 20);
    }
    return got;
}

std::string Pty::ReadAll(std::chrono::milliseconds quiet, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    std::string got;
    char buffer[4096];
    auto quietEnd = Clock::now() + quiet;
    while (m_master >= 0 && Clock::now() < end) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
            quietEnd = Clock::now() + quiet;
            continue;
        }
        const int left = std::min(MsLeft(end), MsLeft(quietEnd));
        if (left == 0)
            break;
        pollfd p{m_master, POLLIN, 0};
        ::poll(&p, 1, left);
    }
    return got;
}

} // namespace kv::test
