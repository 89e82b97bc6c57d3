#pragma once
// An event loop without a window framework, for the receiver: work posted from
// any thread and timers, all run on the thread that runs the loop. It sleeps
// until the next timer is due or something is posted; it never spins.
#include "timing/Clock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace kv {

class EventLoop {
public:
    using TimerId = std::uint64_t;

    // Timers fall due by the clock's monotonic milliseconds: with a virtual
    // clock a test advances it and calls RunOnce, and nothing waits.
    explicit EventLoop(IClock& clock = RealClock::Instance());
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Any thread: fn runs on the loop's thread, after everything posted before.
    void Post(std::function<void()> fn);

    // The loop's thread: fn every `ms` (at least 1), or once after `ms`.
    TimerId Every(std::uint32_t ms, std::function<void()> fn);
    TimerId After(std::uint32_t ms, std::function<void()> fn);
    // Also from the timer's own callback; an unknown id is ignored.
    void Cancel(TimerId id);

    // Runs until Quit and returns its code; returns at once when Quit came first.
    int Run();
    // Any thread, also before Run or from a callback.
    void Quit(int code = 0);
    // One pass: what was posted before it and the timers due, after waiting at
    // most `wait` for either when nothing is ready. Returns how many callbacks ran.
    int RunOnce(std::chrono::milliseconds wait);

    // The calling thread becomes the UI thread, and the workers' hand-overs are
    // served by this loop (and during WaitMs); undone when the loop is destroyed.
    void InstallAsUiThread();

private:
    struct Timer {
        std::uint64_t due = 0;
        std::uint32_t interval = 0; // 0: once
        std::shared_ptr<std::function<void()>> fn;
    };
    TimerId AddTimer(std::uint32_t ms, std::uint32_t interval, std::function<void()> fn);
    // Under the lock: the earliest due timer, or m_timers.end().
    std::map<TimerId, Timer>::iterator NextTimer();
    std::uint64_t NowMs() { return m_clock.MonotonicMs(); }

    IClock& m_clock;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_posted;
    std::map<TimerId, Timer> m_timers;
    TimerId m_nextId = 1;
    bool m_quit = false;
    int m_code = 0;
    bool m_installed = false;
};

} // namespace kv
