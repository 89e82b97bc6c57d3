#pragma once
// A periodic or one-shot timer whose handler runs on the timer's own thread,
// never on the UI thread. Handlers that touch windows hand that work over
// (PostToUi / Synchronize).
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace kv {

namespace detail {
struct MMTimerState;
}

class EMMTimerError : public std::runtime_error {
public:
    explicit EMMTimerError(const std::string& message) : std::runtime_error(message) {}
};

enum TMMEventMode { mmeOneShort, mmePeriodic };

class TMMTimer {
public:
    using TNotifyEvent = std::function<void(TMMTimer* sender)>;

    // Defaults: Delay 1000, Resolution 100, mmePeriodic, Enabled; nothing runs
    // until OnTimer is attached. Throws EMMTimerError when the system has no
    // usable monotonic clock.
    TMMTimer();
    // Stops the timer and waits for a running handler to end, unless called
    // from inside that handler.
    ~TMMTimer();
    TMMTimer(const TMMTimer&) = delete;
    TMMTimer& operator=(const TMMTimer&) = delete;

    // Each setter ignores an equal value; any change restarts the period from
    // now. Setting OnTimer always restarts. Delay 0 stops the timer.
    bool Enabled() const;
    void SetEnabled(bool value);
    std::uint32_t Delay() const;
    void SetDelay(std::uint32_t ms);
    std::uint32_t Resolution() const;
    void SetResolution(std::uint32_t ms);
    TMMEventMode Mode() const;
    void SetMode(TMMEventMode mode);
    TNotifyEvent OnTimer() const;
    void SetOnTimer(TNotifyEvent handler);

private:
    // Shared with the timer thread, so a timer destroyed from inside its own
    // handler leaves the thread something valid to return to.
    std::shared_ptr<detail::MMTimerState> m_state;
};

} // namespace kv
