#include "core/Signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv {

namespace {

int g_pipe[2] = {-1, -1};

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void CloseOnSignals(std::function<void()> close)
{
    if (g_pipe[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
            return;
        ::fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
    }
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [close = std::move(close)] {
        char bytes[16];
        (void)!::read(g_pipe[0], bytes, sizeof bytes);
        close();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &action, nullptr);
}

} // namespace kv
