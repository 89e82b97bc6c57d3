#pragma once
// The place of one modem worker: at most one runs at a time, because the
// worker's modem state, receive buffer, port and (for the ring-round) schedule
// are single.
//
// The thread is ours rather than the worker's own: a worker that has just found
// Running clear is about to end, and a start in that moment would otherwise see
// it "still running", refuse, and leave no worker at all. Here the thread
// decides to end under the slot's lock, so a start either finds it live (and the
// loop goes on, because Running is set again) or finds it gone (and starts anew).
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kv {

class WorkerSlot {
public:
    WorkerSlot() = default;
    // Joins the thread: clear Running and let hand-overs through first.
    ~WorkerSlot();
    WorkerSlot(const WorkerSlot&) = delete;
    WorkerSlot& operator=(const WorkerSlot&) = delete;

    // `make` creates the worker and returns its loop, which runs passes while
    // `running` (the modem's Running flag) is set and returns when it finds it
    // clear. The loop is run again as long as the flag is found set afterwards.
    // False, and nothing created, while a worker is live. UI thread.
    struct Worker {
        std::shared_ptr<void> object;
        std::function<void()> loop;
    };
    bool Start(std::atomic<bool>& running, const std::function<Worker()>& make);

    // A worker is in its loop or has not yet decided to leave it.
    bool Live() const;
    // Waits for the thread to return and destroys the worker.
    void Join();

private:
    std::atomic<bool>* m_running = nullptr;
    mutable std::mutex m_lock;
    bool m_live = false;
    Worker m_worker;
    std::thread m_thread;
};

} // namespace kv
