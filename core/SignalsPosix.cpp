#include "core/Signals.h"

#include "core/SignalsClose.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kv {

namespace {

int g_pipe[2] = {-1, -1};
std::mutex g_mutex; // the pipe's creation

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}

// A handler may do almost nothing; this thread turns its byte into a call on
// the UI thread, whichever loop serves that (Qt's or the receiver's own).
void WatchSignals()
{
    char bytes[16];
    for (;;) {
        const ssize_t n = ::read(g_pipe[0], bytes, sizeof bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        signals::PostClose();
    }
}

} // namespace

void CloseOnSignals(std::function<void()> close)
{
    signals::KeepClose(std::move(close));
    {
        std::lock_guard lock(g_mutex);
        if (g_pipe[0] < 0) {
            if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
                return;
            ::fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
            // Blocked in read for the life of the process; it touches only the
            // pipe and the hand-over queue, which outlive static destruction.
            std::thread(WatchSignals).detach();
        }
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &action, nullptr);
}

} // namespace kv
