#include "devices/TelEventIndex.h"

namespace kv {

TelEventIndex::TelEventIndex(MemTable& journal) : m_journal(journal)
{
    m_journal.AddRecordListener(this);
    Rebuild();
}

TelEventIndex::~TelEventIndex() { m_journal.RemoveRecordListener(this); }

int TelEventIndex::TelField()
{
    if (m_telField == kUnresolved) {
        const int f = m_journal.FindField("tel");
        // A journal file of another make may hold the column as something else.
        m_telField = f >= 0 && m_journal.Fields()[static_cast<std::size_t>(f)].type == FieldType::String ? f : -1;
    }
    return m_telField;
}

std::string TelEventIndex::TelOf(RecordHandle record)
{
    const int f = TelField();
    return f < 0 ? std::string() : std::string(m_journal.TextView(record, f));
}

void TelEventIndex::Rebuild()
{
    m_byTel.clear();
    m_telField = kUnresolved;
    m_stale = false;
    if (TelField() < 0)
        return;
    const std::size_t n = m_journal.TotalRecordCount();
    for (std::size_t i = 0; i < n; ++i) {
        const RecordHandle r = m_journal.RecordAt(i);
        m_byTel[TelOf(r)].push_back(r);
    }
}

void TelEventIndex::RecordAdded(RecordHandle record, std::size_t position)
{
    if (m_stale || TelField() < 0)
        return;
    auto& rows = m_byTel[TelOf(record)];
    if (position == 0)
        rows.push_front(record); // a new event: the journal's newest row
    else if (position + 1 == m_journal.TotalRecordCount())
        rows.push_back(record);  // loading appends, oldest last
    else
        m_stale = true;
}

void TelEventIndex::RecordChanged(RecordHandle)
{
    m_stale = true;
}

void TelEventIndex::RecordRemoving(RecordHandle record, std::size_t)
{
    if (m_stale || TelField() < 0)
        return;
    const auto it = m_byTel.find(TelOf(record));
    if (it == m_byTel.end()) {
        m_stale = true;
        return;
    }
    auto& rows = it->second;
    // Clearing the journal deletes from the cursor on: the row is then the
    // first or the last of its number.
    if (!rows.empty() && rows.front() == record)
        rows.pop_front();
    else if (!rows.empty() && rows.back() == record)
        rows.pop_back();
    else
        m_stale = true;
    if (!m_stale && rows.empty())
        m_byTel.erase(it);
}

void TelEventIndex::RecordsCleared()
{
    m_byTel.clear();
    m_telField = kUnresolved; // a load may bring other fields
    m_stale = false;
}

std::vector<RecordHandle> TelEventIndex::Newest(std::string_view tel, std::size_t count)
{
    if (m_stale)
        Rebuild();
    std::vector<RecordHandle> out;
    const auto it = m_byTel.find(tel);
    if (it == m_byTel.end())
        return out;
    const auto& rows = it->second;
    for (std::size_t i = 0; i < rows.size() && i < count; ++i)
        out.push_back(rows[i]);
    return out;
}

} // namespace kv
