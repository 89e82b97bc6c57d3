#include "modem/DialSchedule.h"

#include "codec/Number.h"

#include <algorithm>

namespace kv {

namespace {
constexpr double kMinutesPerDay = 1440.0;
}

double DialSchedule::IntervalMinutes(const std::string& dialtime)
{
    return TextToFloat(dialtime).value_or(kDefaultIntervalMinutes);
}

void DialSchedule::Rebuild(const std::vector<DialDevice>& devices, int columns, int rows, double now)
{
    std::lock_guard lock(m_lock);
    m_layout.columns = std::clamp(columns, 0, kMaxColumns);
    m_layout.rows = std::clamp(rows, 0, kMaxRows);
    for (std::string& text : m_layout.texts)
        text.clear();
    for (Entry& entry : m_entries)
        entry.enabled = false;
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
        entry.intervalMinutes = IntervalMinutes(device.dialtime);
        entry.nextDue = now + entry.intervalMinutes / kMinutesPerDay;
        if (++row == m_layout.rows) {
            row = 0;
            ++column;
        }
    }
}

std::optional<DialSchedule::Tile> DialSchedule::TakeDue(double now)
{
    std::lock_guard lock(m_lock);
    for (int row = 0; row < m_layout.rows; ++row) {
        for (int column = 0; column < m_layout.columns; ++column) {
            Entry& entry = m_entries[Index(column, row)];
            if (!entry.enabled || entry.nextDue > now)
                continue;
            entry.nextDue += entry.intervalMinutes / kMinutesPerDay;
            return Tile{column, row, m_layout.texts[Index(column, row)]};
        }
    }
    return std::nullopt;
}

void DialSchedule::Retry(int column, int row)
{
    if (!Valid(column, row))
        return;
    std::lock_guard lock(m_lock);
    Entry& entry = m_entries[Index(column, row)];
    entry.nextDue += 1.0 / kMinutesPerDay - entry.intervalMinutes / kMinutesPerDay;
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
