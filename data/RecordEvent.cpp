#include "data/RecordEvent.h"

#include "data/AtomicFile.h"

#include "data/MemTable.h"
#include "data/RecordStore.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"

#include <cstdio>
#include <optional>

namespace kv {

namespace {

constexpr const char* kJournalFieldNames[journal::FieldCount] = {"EventTime", "Status", "tel", "event",
                                                                  "simplename"};

// A journal opened from a foreign file may miss a column or hold it in another
// type; the event is still written with what fits.
void SetText(MemTable& table, int field, std::string_view text)
{
    if (field < 0)
        return;
    try {
        table.FieldAt(field).SetAsString(text);
    } catch (const EDatabaseError&) {
    }
}

void WriteRow(MemTable& journal, double now, std::string_view status, std::string_view tel, std::string_view event,
              const std::optional<std::string>& simpleName)
{
    int index[journal::FieldCount];
    for (int f = 0; f < journal::FieldCount; ++f)
        index[f] = journal.FindField(kJournalFieldNames[f]);

    journal.First();
    journal.Insert();
    try {
        if (index[journal::EventTime] >= 0)
            journal.FieldAt(index[journal::EventTime]).SetAsDateTime(now);
        SetText(journal, index[journal::Status], status);
        SetText(journal, index[journal::Tel], tel);
        SetText(journal, index[journal::Event], event);
        if (simpleName)
            SetText(journal, index[journal::SimpleName], *simpleName);
        journal.Post();
    } catch (...) {
        journal.Cancel();
        throw;
    }
}

bool HasJournalColumns(const MemTable& table)
{
    for (int f = 0; f < journal::FieldCount; ++f) {
        const int i = table.FindField(kJournalFieldNames[f]);
        if (i < 0)
            return false;
        const detail::Storage st = detail::StorageOf(table.Fields()[static_cast<std::size_t>(i)].type);
        if (st != (f == journal::EventTime ? detail::Storage::Float64 : detail::Storage::Text))
            return false;
    }
    return true;
}

} // namespace

std::string JoinLineBreaks(std::string_view text)
{
    // Replacing a pair by a blank can never form a new pair, so one pass from
    // the left gives what repeating the replacement would.
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out.push_back(' ');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void RecordEvent(MemTable& journal, std::string_view status, std::string_view tel, std::string_view event,
                 const ShortNameLookup& lookup, double now)
{
    // The lookup runs before the insert so that a failing one leaves no
    // half-made record behind.
    std::string simpleName = lookup ? lookup(std::string(tel)) : std::string();
    WriteRow(journal, now, status, tel, JoinLineBreaks(event), std::move(simpleName));
}

bool JournalHoldsEvent(const MemTable& journal, std::string_view tel, std::string_view event, double since)
{
    const int timeField = journal.FindField(kJournalFieldNames[journal::EventTime]);
    const int telField = journal.FindField(kJournalFieldNames[journal::Tel]);
    const int eventField = journal.FindField(kJournalFieldNames[journal::Event]);
    if (timeField < 0 || telField < 0 || eventField < 0)
        return false;
    // Stored as RecordEvent stores them: line breaks joined, cut to the field's width.
    auto stored = [&](int field, std::string_view text) {
        const int width = journal.Fields()[static_cast<std::size_t>(field)].size;
        return width > 0 && text.size() > static_cast<std::size_t>(width) ? text.substr(0, width) : text;
    };
    const std::string joined = JoinLineBreaks(event);
    const std::string_view wantTel = stored(telField, tel);
    const std::string_view wantEvent = stored(eventField, joined);
    for (std::size_t i = 0; i < journal.TotalRecordCount(); ++i) {
        const RecordHandle row = journal.RecordAt(i);
        if (journal.DateTime(row, timeField) < since)
            break;
        if (journal.TextView(row, telField) == wantTel && journal.TextView(row, eventField) == wantEvent)
            return true;
    }
    return false;
}

bool OpenJournal(MemTable& journal, const std::string& fileName, const TableFormat& format,
                 std::string_view failureMessage, const JournalNotify& notify, double now)
{
    try {
        format.Load(journal, fileName);
        journal.First();
        return true;
    } catch (const std::exception&) {
    }
    KeepAside(fileName);
    if (notify)
        notify(std::string(failureMessage));
    if (!HasJournalColumns(journal))
        DefineJournal(journal);
    WriteRow(journal, now, {}, {}, kJournalCreated, std::string());
    return false;
}

} // namespace kv
