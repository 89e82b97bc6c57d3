#include "receiver/Process.h"

#include <csignal>
#include <initializer_list>

#include <pthread.h>
#include <sys/stat.h>

namespace kv {

namespace {

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, s);
    return set;
}

} // namespace

void PrepareReceiverProcess()
{
    ::umask(077);
    const sigset_t stop = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
}

void ReleaseStopSignals()
{
    const sigset_t stop = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
}

} // namespace kv
