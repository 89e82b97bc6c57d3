#include "tests/support/CallLog.h"

#include "tests/support/TestClock.h"

namespace kv::test {

void CallLog::Add(std::string text)
{
    std::lock_guard lock(m_lock);
    m_entries.push_back({m_clock ? m_clock->NowMs() : 0, std::move(text)});
}

std::vector<LogEntry> CallLog::Entries() const
{
    std::lock_guard lock(m_lock);
    return m_entries;
}

std::vector<std::string> CallLog::Texts() const
{
    std::lock_guard lock(m_lock);
    std::vector<std::string> out;
    for (const LogEntry& e : m_entries)
        out.push_back(e.text);
    return out;
}

std::vector<std::string> CallLog::Kind(std::string_view kind) const
{
    std::lock_guard lock(m_lock);
    std::vector<std::string> out;
    const std::string prefix = std::string(kind) + " ";
    for (const LogEntry& e : m_entries) {
        if (e.text.starts_with(prefix))
            out.push_back(e.text.substr(prefix.size()));
        else if (e.text == kind)
            out.emplace_back();
    }
    return out;
}

std::size_t CallLog::Count(std::string_view text) const
{
    std::lock_guard lock(m_lock);
    std::size_t n = 0;
    for (const LogEntry& e : m_entries)
        n += e.text == text;
    return n;
}

void CallLog::Clear()
{
    std::lock_guard lock(m_lock);
    m_entries.clear();
}

} // namespace kv::test
