#include "centre/StopWait.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kv::centre {

struct StopWait::State {
    std::mutex mutex;
    std::condition_variable cv;
    bool stopped = false;
};

StopWait::StopWait() : m_state(std::make_unique<State>()) {}

StopWait::~StopWait() = default;

void StopWait::Stop()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopped = true;
    }
    m_state->cv.notify_all();
}

bool StopWait::Wait(int, std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_state->mutex);
    m_state->cv.wait_for(lock, limit, [this] { return m_state->stopped; });
    return false;
}

void WaitReadable(int, std::chrono::milliseconds limit) { std::this_thread::sleep_for(limit); }

} // namespace kv::centre
