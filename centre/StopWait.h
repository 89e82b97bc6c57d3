#pragma once
// A worker's wait on the database's socket (LISTEN), a stop from another
// thread or the time, whichever comes first. StopWaitPosix.cpp polls the
// socket beside an eventfd; StopWaitWin32.cpp, built without libpq, has no
// socket to watch and waits for the stop or the time.
#include <chrono>
#include <memory>

namespace kv::centre {

class StopWait {
public:
    StopWait();
    ~StopWait();
    StopWait(const StopWait&) = delete;
    StopWait& operator=(const StopWait&) = delete;

    // Any thread; every wait from now on returns at once.
    void Stop();
    // `socket` -1: none. True when the socket has something to read.
    bool Wait(int socket, std::chrono::milliseconds limit);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Waits up to `limit` for the socket to have something to read.
void WaitReadable(int socket, std::chrono::milliseconds limit);

} // namespace kv::centre
