#include "modem/DialSchedule.h"

#include "codec/Number.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace kv {

namespace {
constexpr double kMsPerDay = 86400000.0;
constexpr std::int64_t kMsPerMinute = 60000;
constexpr std::int64_t kMsPerHour = 3600000;
// A register's interval of any size stays a sane count of milliseconds (about
// 19 years); a negative one calls at every pass, as 0 does, without running the
// due time down towards an overflow.
constexpr double kMaxIntervalMs = 6e11;
} // namespace

double DialSchedule::Entry::DueDateTime(double wallNow, std::uint64_t monotonicNowMs) const
{
    if (!placed)
        return 0;
    return wallNow + static_cast<double>(nextDueMs - static_cast<std::int64_t>(monotonicNowMs)) / kMsPerDay;
}

std::int64_t DialSchedule::MinutesToMs(double minutes)
{
    const double ms = minutes * static_cast<double>(kMsPerMinute);
    if (std::isnan(ms))
        return 0;
    return std::llround(std::clamp(ms, 0.0, kMaxIntervalMs));
}

double DialSchedule::IntervalMinutes(const std::string& dialtime)
{
    return TextToFloat(dialtime).value_or(kDefaultIntervalMinutes);
}

void DialSchedule::Rebuild(const std::vector<DialDevice>& devices, int columns, int rows, std::uint64_t nowMs)
{
    std::lock_guard lock(m_lock);
    ++m_board;
    // A device's failed calls outlive a rebuild (a register edit, the ring-round
    // started again), or a dead device would never be reported on a busy board.
    std::unordered_map<std::string, int> failures;
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].failures > 0 && !m_layout.texts[i].empty())
            failures.emplace(m_layout.texts[i], m_entries[i].failures);
    m_layout.columns = std::clamp(columns, 0, kMaxColumns);
    m_layout.rows = std::clamp(rows, 0, kMaxRows);
    for (std::string& text : m_layout.texts)
        text.clear();
    for (Entry& entry : m_entries) {
        entry.enabled = false;
        entry.failures = 0;
    }
    if (m_layout.rows == 0)
        return;
    int column = 0;
    int row = 0;
    for (const DialDevice& device : devices) {
        if (column >= kMaxColumns)
            break;
        const std::size_t i = Index(column, row);
        m_layout.texts[i] = device.simplename;
        Entry& entry = m_entries[i];
        entry.enabled = device.dialenable;
        entry.placed = true;
        entry.intervalMinutes = IntervalMinutes(device.dialtime);
        entry.nextDueMs = static_cast<std::int64_t>(nowMs) + MinutesToMs(entry.intervalMinutes);
        if (const auto kept = failures.find(device.simplename); kept != failures.end())
            entry.failures = kept->second;
        if (++row == m_layout.rows) {
            row = 0;
            ++column;
        }
    }
}

std::optional<DialSchedule::Tile> DialSchedule::TakeDue(std::uint64_t nowMs)
{
    const auto now = static_cast<std::int64_t>(nowMs);
    std::lock_guard lock(m_lock);
    std::optional<std::size_t> best;
    for (int row = 0; row < m_layout.rows; ++row) {
        for (int column = 0; column < m_layout.columns; ++column) {
            const std::size_t i = Index(column, row);
            const Entry& entry = m_entries[i];
            if (!entry.enabled || entry.nextDueMs > now)
                continue;
            if (!best || entry.nextDueMs < m_entries[*best].nextDueMs)
                best = i;
        }
    }
    if (!best)
        return std::nullopt;
    Entry& entry = m_entries[*best];
    const std::int64_t due = entry.nextDueMs;
    const std::int64_t interval = MinutesToMs(entry.intervalMinutes);
    while (!m_calls.empty() && m_calls.front() <= now - kMsPerHour)
        m_calls.pop_front();
    m_calls.push_back(now);
    if (interval > 0 && now - due > interval)
        m_lastLateMs = now;
    entry.nextDueMs += interval;
    if (entry.nextDueMs <= now)
        entry.nextDueMs = interval > 0 ? entry.nextDueMs + ((now - entry.nextDueMs) / interval + 1) * interval : now;
    return Tile{static_cast<int>(*best / kMaxRows), static_cast<int>(*best % kMaxRows), m_layout.texts[*best],
                entry.failures, m_board, due};
}

DialSchedule::Entry* DialSchedule::Holding(const Tile& tile)
{
    if (Valid(tile.column, tile.row) && m_layout.texts[Index(tile.column, tile.row)] == tile.text)
        return &m_entries[Index(tile.column, tile.row)];
    // A rebuild during the call may have moved the device to another tile.
    if (tile.text.empty())
        return nullptr;
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        if (m_layout.texts[i] == tile.text)
            return &m_entries[i];
    return nullptr;
}

int DialSchedule::Failed(const Tile& tile, int failuresToReport, double wallNow)
{
    const int report = std::max(failuresToReport, 1);
    std::lock_guard lock(m_lock);
    Entry* entry = Holding(tile);
    const int failures = std::min((entry ? entry->failures : tile.failures) + 1, report);
    if (!entry)
        return failures;
    entry->failures = std::min(failures, report - 1);
    entry->outcome = failures < report ? DialOutcome::NoAnswer : DialOutcome::Failed;
    entry->outcomeDateTime = wallNow;
    if (failures < report && tile.board == m_board)
        entry->nextDueMs = tile.dueMs + std::min(kMsPerMinute, MinutesToMs(entry->intervalMinutes));
    return failures;
}

void DialSchedule::Succeeded(const Tile& tile, double wallNow)
{
    std::lock_guard lock(m_lock);
    if (Entry* entry = Holding(tile)) {
        entry->failures = 0;
        entry->outcome = DialOutcome::Online;
        entry->outcomeDateTime = wallNow;
    }
}

DialSchedule::Load DialSchedule::RoundLoad(std::uint64_t nowMs) const
{
    const auto now = static_cast<std::int64_t>(nowMs);
    std::lock_guard lock(m_lock);
    Load load;
    for (int column = 0; column < m_layout.columns; ++column) {
        for (int row = 0; row < m_layout.rows; ++row) {
            const Entry& entry = m_entries[Index(column, row)];
            const std::int64_t interval = MinutesToMs(entry.intervalMinutes);
            // An interval of 0 asks for every call the modem can make: no rate to keep.
            if (!entry.enabled || interval <= 0)
                continue;
            load.neededPerHour += static_cast<double>(kMsPerHour) / static_cast<double>(interval);
            if (now - entry.nextDueMs > interval)
                load.behind = true;
        }
    }
    load.doneLastHour = static_cast<int>(
        std::count_if(m_calls.begin(), m_calls.end(), [now](std::int64_t at) { return at > now - kMsPerHour; }));
    if (m_lastLateMs && now - *m_lastLateMs < kMsPerHour)
        load.behind = true;
    return load;
}

void DialSchedule::Retry(int column, int row)
{
    if (!Valid(column, row))
        return;
    std::lock_guard lock(m_lock);
    Entry& entry = m_entries[Index(column, row)];
    entry.nextDueMs += kMsPerMinute - MinutesToMs(entry.intervalMinutes);
}

DialSchedule::Entry DialSchedule::At(int column, int row) const
{
    if (!Valid(column, row))
        return {};
    std::lock_guard lock(m_lock);
    return m_entries[Index(column, row)];
}

std::string DialSchedule::Text(int column, int row) const
{
    if (!Valid(column, row))
        return {};
    std::lock_guard lock(m_lock);
    return m_layout.texts[Index(column, row)];
}

int DialSchedule::Columns() const
{
    std::lock_guard lock(m_lock);
    return m_layout.columns;
}

int DialSchedule::Rows() const
{
    std::lock_guard lock(m_lock);
    return m_layout.rows;
}

DialSchedule::Layout DialSchedule::Snapshot() const
{
    std::lock_guard lock(m_lock);
    return m_layout;
}

} // namespace kv
