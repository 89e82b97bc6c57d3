// Preloaded into a station process (LD_PRELOAD) to play a failing disk on its
// regular files, as the file named by KV_DISK_FAULTS says at the moment:
//   ok         nothing
//   room N     the journal logs ("*.log.*") take N more bytes, then ENOSPC:
//              a write that comes up short, as on a disk filling up
//   full       every write to a regular file fails with ENOSPC
//   eio        every fsync/fdatasync of a regular file fails with EIO
//   killdelete the process is killed (SIGKILL) as it writes "AT+CMGD" to a port
// Pipes, sockets and terminals are otherwise left alone. KV_CLOCK_OFFSET
// (seconds) moves the wall clock the process reads.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Mode { Ok, Room, Full, Eio, KillAtDelete };

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
std::string g_control;
long long g_room = 0;
Mode g_mode = Mode::Ok;
timespec g_lastRead{};

template <class Fn>
Fn Next(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// Re-read at most every 20 ms; a new text starts a new fault (a fresh room).
Mode Current(long long** room)
{
    const char* path = std::getenv("KV_DISK_FAULTS");
    if (!path)
        return Mode::Ok;
    pthread_mutex_lock(&g_lock);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ms = (now.tv_sec - g_lastRead.tv_sec) * 1000LL + (now.tv_nsec - g_lastRead.tv_nsec) / 1000000;
    if (ms >= 20) {
        g_lastRead = now;
        char buffer[64] = {};
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
            ::close(fd);
            const std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (text != g_control) {
                g_control = text;
                g_mode = text.rfind("room ", 0) == 0 ? Mode::Room
                         : text.rfind("full", 0) == 0 ? Mode::Full
                         : text.rfind("eio", 0) == 0  ? Mode::Eio
                         : text.rfind("killdelete", 0) == 0 ? Mode::KillAtDelete
                                                      : Mode::Ok;
                g_room = g_mode == Mode::Room ? std::atoll(text.c_str() + 5) : 0;
            }
        }
    }
    const Mode mode = g_mode;
    *room = &g_room;
    pthread_mutex_unlock(&g_lock);
    return mode;
}

bool IsRegular(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool IsLog(int fd)
{
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return false;
    target[n] = '\0';
    return std::strstr(target, ".log.") != nullptr;
}

bool SyncFails(int fd)
{
    long long* room = nullptr;
    if (Current(&room) != Mode::Eio || !IsRegular(fd))
        return false;
    errno = EIO;
    return true;
}

} // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size)
{
    static const auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
    long long* room = nullptr;
    const Mode mode = Current(&room);
    if (mode == Mode::KillAtDelete && size >= 7 && std::memcmp(data, "AT+CMGD", 7) == 0)
        ::kill(::getpid(), SIGKILL);
    if ((mode == Mode::Full || mode == Mode::Room) && IsRegular(fd)) {
        if (mode == Mode::Full) {
            errno = ENOSPC;
            return -1;
        }
        if (IsLog(fd)) {
            pthread_mutex_lock(&g_lock);
            const long long left = *room;
            const size_t n = left <= 0 ? 0 : static_cast<size_t>(std::min<long long>(left, static_cast<long long>(size)));
            *room -= static_cast<long long>(n);
            pthread_mutex_unlock(&g_lock);
            if (n == 0) {
                errno = ENOSPC;
                return -1;
            }
            return real(fd, data, n);
        }
    }
    return real(fd, data, size);
}

extern "C" int fdatasync(int fd)
{
    static const auto real = Next<int (*)(int)>("fdatasync");
    return SyncFails(fd) ? -1 : real(fd);
}

extern "C" int fsync(int fd)
{
    static const auto real = Next<int (*)(int)>("fsync");
    return SyncFails(fd) ? -1 : real(fd);
}

namespace {
long long ClockOffset()
{
    static const long long offset = std::getenv("KV_CLOCK_OFFSET") ? std::atoll(std::getenv("KV_CLOCK_OFFSET")) : 0;
    return offset;
}
} // namespace

// The C library declares these pointers non-null, but callers have passed null
// (gettimeofday(NULL, ...)); the shim must not fault where the real call does not.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnonnull-compare"
extern "C" int clock_gettime(clockid_t clock, struct timespec* tp)
{
    static const auto real = Next<int (*)(clockid_t, struct timespec*)>("clock_gettime");
    const int result = real(clock, tp);
    if (result == 0 && tp && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE))
        tp->tv_sec += ClockOffset();
    return result;
}

extern "C" int gettimeofday(struct timeval* tv, void* tz)
{
    static const auto real = Next<int (*)(struct timeval*, void*)>("gettimeofday");
    const int result = real(tv, tz);
    if (result == 0 && tv)
        tv->tv_sec += ClockOffset();
    return result;
}
#pragma GCC diagnostic pop

extern "C" time_t time(time_t* out)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (out)
        *out = now.tv_sec;
    return now.tv_sec;
}
