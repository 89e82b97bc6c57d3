#pragma once
// The thread under a modem worker: started once, ended by its owner's stop
// request, always joined before the worker's members go (no detached thread
// outlives what it uses).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kv {

class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread() { Join(); }

    // Runs body on a new thread; nothing when already started.
    void Start(std::function<void()> body);
    // Waits at most `limit` for the body to return; joins the thread when it has.
    bool Wait(std::chrono::milliseconds limit);
    bool Finished() const { return m_finished.load(); }
    bool Started() const { return m_started; }
    void Join();

private:
    std::thread m_thread;
    bool m_started = false;
    std::atomic<bool> m_finished{false};
    std::mutex m_lock;
    std::condition_variable m_done;
};

} // namespace kv
