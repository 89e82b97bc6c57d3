#include "centre/StopWait.h"

#include <algorithm>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kv::centre {

namespace {

int PollMs(std::chrono::milliseconds limit) { return static_cast<int>(std::clamp<long long>(limit.count(), 0, 60000)); }

} // namespace

struct StopWait::State {
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
};

StopWait::StopWait() : m_state(std::make_unique<State>()) {}

StopWait::~StopWait()
{
    if (m_state->fd >= 0)
        ::close(m_state->fd);
}

void StopWait::Stop()
{
    if (m_state->fd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_state->fd, &one, sizeof one);
    }
}

bool StopWait::Wait(int socket, std::chrono::milliseconds limit)
{
    pollfd fds[2] = {{m_state->fd, POLLIN, 0}, {socket, POLLIN, 0}};
    const int count = socket >= 0 ? 2 : 1;
    if (::poll(fds, static_cast<nfds_t>(count), PollMs(limit)) <= 0)
        return false;
    return count == 2 && fds[1].revents != 0;
}

void WaitReadable(int socket, std::chrono::milliseconds limit)
{
    pollfd fd{socket, POLLIN, 0};
    ::poll(&fd, 1, PollMs(limit));
}

} // namespace kv::centre
