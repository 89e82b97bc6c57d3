#include "timing/UiThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace kv {

namespace {

struct Task {
    std::function<void()> fn;
    bool waited = false;
    bool done = false;
    std::exception_ptr failure;
};

struct HandOverState {
    std::mutex mutex;
    std::condition_variable doneCv;
    std::deque<std::shared_ptr<Task>> queue;
    bool wakePending = false;
    std::atomic<bool> installed{false};
    std::thread::id uiThread;
    std::atomic<UiLoopHook> wake{nullptr};
    std::atomic<UiLoopHook> pump{nullptr};
    std::atomic<bool> shutdown{false};
};

HandOverState& State()
{
    static HandOverState* state = new HandOverState; // outlives static destruction on purpose
    return *state;
}

void Wake(HandOverState& s)
{
    // Called with s.mutex held: one queued wake-up drains everything waiting.
    const UiLoopHook wake = s.wake.load();
    if (s.wakePending || !wake)
        return;
    s.wakePending = true;
    wake();
}

} // namespace

void InstallUiThreadLoop(UiLoopHook wake, UiLoopHook pumpEvents)
{
    HandOverState& s = State();
    std::lock_guard lock(s.mutex);
    s.uiThread = std::this_thread::get_id();
    s.wake = wake;
    s.pump = pumpEvents;
    s.installed = true;
}

UiLoopHook UiEventPump() { return State().pump.load(); }

bool IsUiThread()
{
    HandOverState& s = State();
    return !s.installed || std::this_thread::get_id() == s.uiThread;
}

namespace {
thread_local std::uint64_t t_handOversWaited = 0;
} // namespace

std::uint64_t HandOversWaited() { return t_handOversWaited; }

bool Synchronize(const std::function<void()>& fn)
{
    HandOverState& s = State();
    if (IsUiThread()) {
        fn();
        return true;
    }
    ++t_handOversWaited;
    auto task = std::make_shared<Task>();
    task->fn = fn;
    task->waited = true;
    std::unique_lock lock(s.mutex);
    if (s.shutdown)
        return false;
    s.queue.push_back(task);
    Wake(s);
    s.doneCv.wait(lock, [&] { return task->done || s.shutdown.load(); });
    // Taken out under the lock: the UI thread keeps no reference to the
    // exception, so it is released here, on the thread that catches it.
    std::exception_ptr failure = std::move(task->failure);
    const bool done = task->done;
    lock.unlock();
    if (failure)
        std::rethrow_exception(std::move(failure));
    return done;
}

void PostToUi(std::function<void()> fn)
{
    HandOverState& s = State();
    auto task = std::make_shared<Task>();
    task->fn = std::move(fn);
    std::lock_guard lock(s.mutex);
    if (s.shutdown)
        return;
    s.queue.push_back(std::move(task));
    if (s.installed)
        Wake(s);
}

void ServeHandOvers()
{
    HandOverState& s = State();
    for (;;) {
        std::shared_ptr<Task> task;
        {
            std::lock_guard lock(s.mutex);
            s.wakePending = false;
            if (s.queue.empty() || s.shutdown)
                return;
            task = std::move(s.queue.front());
            s.queue.pop_front();
        }
        std::exception_ptr failure;
        try {
            task->fn();
        } catch (...) {
            // A failing hand-over must not take the UI thread down; the worker
            // that waits for it gets the failure and takes its failure path.
            failure = std::current_exception();
        }
        {
            std::lock_guard lock(s.mutex);
            task->done = true;
            if (task->waited)
                task->failure = std::move(failure);
        }
        s.doneCv.notify_all();
    }
}

bool WaitServing(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        ServeHandOvers();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void BeginShutdown()
{
    HandOverState& s = State();
    {
        std::lock_guard lock(s.mutex);
        s.shutdown = true;
        s.queue.clear();
    }
    s.doneCv.notify_all();
}

bool ShutdownBegun() { return State().shutdown.load(); }

void ResetShutdownForTests()
{
    HandOverState& s = State();
    std::lock_guard lock(s.mutex);
    s.shutdown = false;
    s.queue.clear();
    s.wakePending = false;
}

} // namespace kv
