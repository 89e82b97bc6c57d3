#include "modem/WorkerThread.h"

namespace kv {

void WorkerThread::Start(std::function<void()> body)
{
    if (m_started)
        return;
    m_started = true;
    m_thread = std::thread([this, body = std::move(body)] {
        body();
        {
            std::lock_guard lock(m_lock);
            m_finished = true;
        }
        m_done.notify_all();
    });
}

bool WorkerThread::Wait(std::chrono::milliseconds limit)
{
    if (!m_started)
        return true;
    {
        std::unique_lock lock(m_lock);
        if (!m_done.wait_for(lock, limit, [this] { return m_finished.load(); }))
            return false;
    }
    Join();
    return true;
}

void WorkerThread::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace kv
