#include "timing/EventLoop.h"

#include "timing/UiThread.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace kv {

namespace {

// The loop that serves the hand-overs: the hooks are plain functions.
std::atomic<EventLoop*> g_uiLoop{nullptr};
std::atomic<std::thread::id> g_uiLoopThread{};

void WakeLoop()
{
    // Called under the hand-over lock, which the loop's destructor takes
    // before it goes: the loop is alive here.
    if (EventLoop* loop = g_uiLoop.load())
        loop->Post(&ServeHandOvers);
}

void PumpLoop()
{
    EventLoop* loop = g_uiLoop.load();
    if (loop && std::this_thread::get_id() == g_uiLoopThread.load())
        loop->RunOnce(std::chrono::milliseconds(0));
}

} // namespace

EventLoop::EventLoop(IClock& clock) : m_clock(clock) {}

EventLoop::~EventLoop()
{
    if (m_installed && g_uiLoop.load() == this) {
        InstallUiThreadLoop(nullptr, nullptr);
        g_uiLoop = nullptr;
    }
}

void EventLoop::InstallAsUiThread()
{
    m_installed = true;
    g_uiLoopThread = std::this_thread::get_id();
    g_uiLoop = this;
    InstallUiThreadLoop(&WakeLoop, &PumpLoop);
}

void EventLoop::Post(std::function<void()> fn)
{
    {
        std::lock_guard lock(m_mutex);
        m_posted.push_back(std::move(fn));
    }
    m_cv.notify_one();
}

EventLoop::TimerId EventLoop::AddTimer(std::uint32_t ms, std::uint32_t interval, std::function<void()> fn)
{
    // On the loop's own thread, so the loop is not asleep: the next pass sees it.
    std::lock_guard lock(m_mutex);
    const TimerId id = m_nextId++;
    m_timers[id] = Timer{NowMs() + ms, interval, std::make_shared<std::function<void()>>(std::move(fn))};
    return id;
}

EventLoop::TimerId EventLoop::Every(std::uint32_t ms, std::function<void()> fn)
{
    ms = std::max<std::uint32_t>(ms, 1);
    return AddTimer(ms, ms, std::move(fn));
}

EventLoop::TimerId EventLoop::After(std::uint32_t ms, std::function<void()> fn)
{
    return AddTimer(ms, 0, std::move(fn));
}

void EventLoop::Cancel(TimerId id)
{
    std::lock_guard lock(m_mutex);
    m_timers.erase(id);
}

std::map<EventLoop::TimerId, EventLoop::Timer>::iterator EventLoop::NextTimer()
{
    // Ties go to the older timer (the smaller id), as the map is ordered by id.
    return std::min_element(m_timers.begin(), m_timers.end(),
                            [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
}

void EventLoop::Quit(int code)
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_code = code;
    }
    m_cv.notify_all();
}

int EventLoop::Run()
{
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_quit) {
                m_quit = false;
                return m_code;
            }
        }
        RunOnce(std::chrono::hours(24));
    }
}

int EventLoop::RunOnce(std::chrono::milliseconds wait)
{
    std::size_t posted = 0;
    {
        std::unique_lock lock(m_mutex);
        if (!m_quit && m_posted.empty() && wait.count() > 0) {
            const auto next = NextTimer();
            const std::uint64_t now = NowMs();
            if (next == m_timers.end() || next->second.due > now) {
                if (next != m_timers.end())
                    wait = std::min<std::chrono::milliseconds>(wait, std::chrono::milliseconds(next->second.due - now));
                m_cv.wait_for(lock, wait, [this] { return m_quit || !m_posted.empty(); });
            }
        }
        posted = m_posted.size();
    }
    int ran = 0;
    // One at a time from the shared queue: a callback that pumps this loop
    // (WaitMs) runs the later ones in their order, not before earlier ones.
    for (std::size_t i = 0; i < posted; ++i) {
        std::function<void()> fn;
        {
            std::lock_guard lock(m_mutex);
            if (m_posted.empty())
                break;
            fn = std::move(m_posted.front());
            m_posted.pop_front();
        }
        fn();
        ++ran;
    }
    const std::uint64_t now = NowMs();
    for (;;) {
        std::shared_ptr<std::function<void()>> fn;
        {
            std::lock_guard lock(m_mutex);
            const auto next = NextTimer();
            if (next == m_timers.end() || next->second.due > now)
                break;
            fn = next->second.fn;
            // Re-armed before it runs, so a nested pass does not run it again;
            // after a stall it fires once, not once per interval missed.
            if (next->second.interval == 0)
                m_timers.erase(next);
            else if ((next->second.due += next->second.interval) <= now)
                next->second.due = now + next->second.interval;
        }
        (*fn)();
        ++ran;
    }
    return ran;
}

} // namespace kv
