#include "core/WorkerSlot.h"

namespace kv {

WorkerSlot::~WorkerSlot() { Join(); }

bool WorkerSlot::Live() const
{
    std::lock_guard lock(m_lock);
    return m_live;
}

void WorkerSlot::Join()
{
    if (m_thread.joinable())
        m_thread.join();
    m_worker = {};
}

bool WorkerSlot::Start(std::atomic<bool>& running, const std::function<Worker()>& make)
{
    std::lock_guard lock(m_lock);
    if (m_live)
        return false;
    if (m_thread.joinable())
        m_thread.join(); // it has decided to end; only its return is left
    {
        // A worker's destructor clears Running, which the caller has just set
        // for the new one.
        const bool wasRunning = running.load();
        m_worker = {};
        running = wasRunning;
    }
    m_worker = make();
    m_running = &running;
    m_live = true;
    m_thread = std::thread([this, loop = m_worker.loop] {
        for (;;) {
            try {
                loop();
            } catch (...) {
                // The workers catch their own failures; this only keeps the
                // process alive should one slip through.
            }
            std::lock_guard lock(m_lock);
            if (!*m_running) {
                m_live = false;
                return;
            }
        }
    });
    return true;
}

} // namespace kv
