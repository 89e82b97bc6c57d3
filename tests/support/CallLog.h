#pragma once
// One ordered record of what a worker did to the outside world (port writes and
// host calls alike), each entry stamped with the virtual time it happened at.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kv::test {

class TestClock;

struct LogEntry {
    std::uint64_t ms = 0;
    std::string text; // "<kind> <payload>", payload in code page 1251 bytes
};

class CallLog {
public:
    explicit CallLog(const TestClock* clock = nullptr) : m_clock(clock) {}
    void Add(std::string text);
    std::vector<LogEntry> Entries() const;
    std::vector<std::string> Texts() const;
    std::vector<std::string> Kind(std::string_view kind) const; // payloads of one kind
    std::size_t Count(std::string_view text) const;
    void Clear();

private:
    const TestClock* m_clock;
    mutable std::mutex m_lock;
    std::vector<LogEntry> m_entries;
};

} // namespace kv::test
