#include "timing/MMTimer.h"

#include "timing/TimerPeriod.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace kv {

namespace detail {

using SteadyClock = std::chrono::steady_clock;

struct MMTimerState {
    std::mutex mutex;
    std::condition_variable wake;

    bool enabled = true;
    std::uint32_t delay = 1000;
    std::uint32_t resolution = 100;
    TMMEventMode mode = mmePeriodic;
    TMMTimer::TNotifyEvent handler;
    TMMTimer* owner = nullptr;

    // The armed event; every re-arm bumps the generation so that a wait that
    // began before the change never fires on the old schedule.
    bool armed = false;
    std::uint64_t generation = 0;
    SteadyClock::time_point deadline;
    SteadyClock::duration period{};
    bool periodic = false;

    // The system timer period this timer holds while armed; 0 when none.
    std::uint32_t periodHeld = 0;
    std::uint32_t finest = 1;
    std::uint32_t coarsest = 1000000;

    bool stop = false;
    std::thread thread;
    bool threadStarted = false;
};

namespace {

// Called with the state's lock held. An armed timer holds the period its
// resolution asks for, within what the system offers.
void HoldPeriod(MMTimerState& s, bool armed)
{
    const std::uint32_t wanted = armed ? std::clamp<std::uint32_t>(s.resolution, s.finest, s.coarsest) : 0;
    if (wanted == s.periodHeld)
        return;
    if (s.periodHeld != 0)
        timerperiod::End(s.periodHeld);
    if (wanted != 0)
        timerperiod::Begin(wanted);
    s.periodHeld = wanted;
}

void RunTimerThread(const std::shared_ptr<MMTimerState>& s)
{
    std::unique_lock lock(s->mutex);
    while (!s->stop) {
        if (!s->armed) {
            s->wake.wait(lock);
            continue;
        }
        const std::uint64_t generation = s->generation;
        const auto deadline = s->deadline;
        s->wake.wait_until(lock, deadline);
        if (s->stop || !s->armed || s->generation != generation)
            continue;
        const auto now = SteadyClock::now();
        if (now < deadline)
            continue; // woken early (spurious): wait for the rest
        if (s->periodic) {
            // Next tick on the original grid; ticks missed while a handler
            // overran are skipped instead of fired in a burst.
            s->deadline += s->period;
            if (s->deadline <= now) {
                const auto behind = now - s->deadline;
                s->deadline += s->period * (behind / s->period + 1);
            }
        } else {
            s->armed = false;
            HoldPeriod(*s, false);
        }
        TMMTimer::TNotifyEvent handler = s->handler;
        TMMTimer* sender = s->owner;
        lock.unlock();
        // No lock is held here: the handler may set the timer's own properties.
        if (handler) {
            try {
                handler(sender);
            } catch (...) {
                // Nobody on this thread could report it; the timer keeps running.
            }
        }
        lock.lock();
    }
}

// Called with the state's lock held.
void Rearm(const std::shared_ptr<MMTimerState>& s)
{
    s->armed = false;
    ++s->generation;
    if (s->delay != 0 && s->enabled && s->handler && !s->stop) {
        if (!s->threadStarted) {
            try {
                s->thread = std::thread(RunTimerThread, s);
            } catch (const std::system_error&) {
                throw EMMTimerError("Can't start multimedia timer");
            }
            s->threadStarted = true;
        }
        s->period = std::chrono::milliseconds(s->delay);
        s->periodic = s->mode == mmePeriodic;
        s->deadline = SteadyClock::now() + s->period;
        s->armed = true;
    }
    HoldPeriod(*s, s->armed);
    s->wake.notify_all();
}

} // namespace

} // namespace detail

TMMTimer::TMMTimer() : m_state(std::make_shared<detail::MMTimerState>())
{
    if (!timerperiod::Range(m_state->finest, m_state->coarsest))
        throw EMMTimerError("Can't get DevCaps for MMTimer");
    m_state->owner = this;
}

TMMTimer::~TMMTimer()
{
    std::thread thread;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->enabled = false;
        m_state->stop = true;
        m_state->armed = false;
        ++m_state->generation;
        detail::HoldPeriod(*m_state, false);
        m_state->owner = nullptr;
        m_state->wake.notify_all();
        thread = std::move(m_state->thread);
    }
    if (!thread.joinable())
        return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach(); // destroyed by its own handler: the thread ends on return
    else
        thread.join();
}

bool TMMTimer::Enabled() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->enabled;
}

void TMMTimer::SetEnabled(bool value)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->enabled == value)
        return;
    m_state->enabled = value;
    detail::Rearm(m_state);
}

std::uint32_t TMMTimer::Delay() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->delay;
}

void TMMTimer::SetDelay(std::uint32_t ms)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->delay == ms)
        return;
    m_state->delay = ms;
    detail::Rearm(m_state);
}

std::uint32_t TMMTimer::Resolution() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->resolution;
}

void TMMTimer::SetResolution(std::uint32_t ms)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->resolution == ms)
        return;
    m_state->resolution = ms;
    detail::Rearm(m_state);
}

TMMEventMode TMMTimer::Mode() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->mode;
}

void TMMTimer::SetMode(TMMEventMode mode)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->mode == mode)
        return;
    m_state->mode = mode;
    detail::Rearm(m_state);
}

TMMTimer::TNotifyEvent TMMTimer::OnTimer() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->handler;
}

void TMMTimer::SetOnTimer(TNotifyEvent handler)
{
    TNotifyEvent old;
    {
        std::lock_guard lock(m_state->mutex);
        old = std::move(m_state->handler);
        m_state->handler = std::move(handler);
        detail::Rearm(m_state);
    }
    // The old handler's captures are released outside the lock.
}

} // namespace kv
