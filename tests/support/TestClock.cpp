#include "tests/support/TestClock.h"

namespace kv::test {

void TestClock::Advance(std::uint64_t ms)
{
    const std::uint64_t target = m_clock.NowMs() + ms;
    for (;;) {
        std::function<void()> action;
        std::uint64_t at = 0;
        {
            std::lock_guard lock(m_lock);
            if (m_actions.empty() || m_actions.begin()->first > target)
                break;
            at = m_actions.begin()->first;
            action = std::move(m_actions.begin()->second);
            m_actions.erase(m_actions.begin());
        }
        if (at > m_clock.NowMs())
            m_clock.Advance(at - m_clock.NowMs());
        action();
    }
    if (target > m_clock.NowMs())
        m_clock.Advance(target - m_clock.NowMs());
}

void TestClock::At(std::uint64_t atMs, std::function<void()> action)
{
    std::lock_guard lock(m_lock);
    m_actions.emplace(atMs, std::move(action));
}

std::size_t TestClock::PendingActions() const
{
    std::lock_guard lock(m_lock);
    return m_actions.size();
}

} // namespace kv::test
