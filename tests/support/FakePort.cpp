#include "tests/support/FakePort.h"

#include "tests/support/CallLog.h"
#include "tests/support/TestClock.h"

#include <stdexcept>

namespace kv::test {

void FakePort::DeliverTo(Sink sink)
{
    std::lock_guard lock(m_lock);
    m_sink = std::move(sink);
}

void FakePort::On(std::string pattern, std::string reply, std::uint32_t delayMs)
{
    On(std::move(pattern), std::vector<Piece>{{delayMs, std::move(reply)}});
}

void FakePort::On(std::string pattern, std::vector<Piece> pieces)
{
    std::lock_guard lock(m_lock);
    m_rules.push_back({std::move(pattern), std::move(pieces), false});
}

void FakePort::Always(std::string pattern, std::string reply, std::uint32_t delayMs)
{
    Always(std::move(pattern), std::vector<Piece>{{delayMs, std::move(reply)}});
}

void FakePort::Always(std::string pattern, std::vector<Piece> pieces)
{
    std::lock_guard lock(m_lock);
    m_rules.push_back({std::move(pattern), std::move(pieces), true});
}

void FakePort::Otherwise(std::string pattern, std::string reply)
{
    std::lock_guard lock(m_lock);
    m_defaults.push_back({std::move(pattern), {{0, std::move(reply)}}, true});
}

void FakePort::Inject(std::uint64_t atMs, std::string bytes)
{
    if (!m_clock) {
        Send(bytes);
        return;
    }
    m_clock->At(atMs, [this, bytes = std::move(bytes)] { Send(bytes); });
}

void FakePort::Send(const std::string& bytes)
{
    Sink sink;
    {
        std::lock_guard lock(m_lock);
        sink = m_sink;
    }
    if (sink)
        sink(bytes);
}

void FakePort::FailWrites(bool fail)
{
    std::lock_guard lock(m_lock);
    m_failWrites = fail;
}

void FakePort::FailOpen(bool fail)
{
    std::lock_guard lock(m_lock);
    m_failOpen = fail;
}

std::vector<std::string> FakePort::Writes() const
{
    std::lock_guard lock(m_lock);
    return m_writes;
}

int FakePort::Opens() const
{
    std::lock_guard lock(m_lock);
    return m_opens;
}

int FakePort::Closes() const
{
    std::lock_guard lock(m_lock);
    return m_closes;
}

int FakePort::FailedWrites() const
{
    std::lock_guard lock(m_lock);
    return m_failedWrites;
}

bool FakePort::Matches(const std::string& pattern, const std::string& line)
{
    if (!pattern.empty() && pattern.back() == '*')
        return line.starts_with(std::string_view(pattern).substr(0, pattern.size() - 1));
    return pattern == line;
}

int FakePort::WriteText(const std::string& text)
{
    std::vector<Piece> answer;
    {
        std::lock_guard lock(m_lock);
        if (m_failWrites || !m_open) {
            ++m_failedWrites;
            throw std::runtime_error("write to the fake port failed");
        }
        m_writes.push_back(text);
        bool matched = false;
        for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
            if (!Matches(it->pattern, text))
                continue;
            answer = it->pieces;
            matched = true;
            if (!it->repeat)
                m_rules.erase(it);
            break;
        }
        for (auto it = m_defaults.begin(); !matched && it != m_defaults.end(); ++it) {
            if (Matches(it->pattern, text)) {
                answer = it->pieces;
                matched = true;
            }
        }
    }
    if (m_log)
        m_log->Add("sent " + text);
    Schedule(answer);
    return static_cast<int>(text.size());
}

void FakePort::Schedule(const std::vector<Piece>& pieces)
{
    for (const Piece& piece : pieces) {
        if (piece.bytes.empty())
            continue; // an empty answer is silence
        if (!m_clock || piece.delayMs == 0)
            Send(piece.bytes);
        else
            m_clock->At(m_clock->NowMs() + piece.delayMs, [this, bytes = piece.bytes] { Send(bytes); });
    }
}

void FakePort::Open()
{
    {
        std::lock_guard lock(m_lock);
        if (m_failOpen)
            throw std::runtime_error("the fake port cannot be opened");
        m_open = true;
        ++m_opens;
    }
    if (m_log)
        m_log->Add("open");
}

void FakePort::Close()
{
    {
        std::lock_guard lock(m_lock);
        m_open = false;
        ++m_closes;
    }
    if (m_log)
        m_log->Add("close");
}

bool FakePort::Connected() const
{
    std::lock_guard lock(m_lock);
    return m_open;
}

} // namespace kv::test
