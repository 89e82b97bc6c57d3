#pragma once
// Search over a journal (EventsTable or a "*.jrn" file opened into one) and
// the export of what was found as a CSV file for spreadsheet programs.
// A journal of a million rows is searched in one pass over its records, with
// the cheap tests first; nothing is indexed or copied but the handles found.
#include "data/MemTable.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Every part left empty matches every row.
struct JournalFilter {
    // Short names or numbers: a row matches when its simplename or its tel is one of them.
    std::vector<std::string> devices;
    // Status texts, byte for byte.
    std::vector<std::string> statuses;
    // EventTime within [from, to], both inclusive.
    std::optional<double> from;
    std::optional<double> to;
    // Contained in the event text; letter case, "ё" and the Latin letters the
    // devices write inside Russian words ("ТPEBОГА") do not matter.
    std::string text;
};

// Station text folded for the text search: lower case, "ё" as "е", and Latin
// letters that look like Russian ones as those.
std::string FoldForSearch(std::string_view text);

class JournalMatcher {
public:
    JournalMatcher(const MemTable& journal, JournalFilter filter);
    bool operator()(RecordHandle row) const;

private:
    bool TextIn(std::string_view event) const;

    const MemTable& m_journal;
    JournalFilter m_filter;
    int m_time, m_status, m_tel, m_event, m_name;
    std::string m_needle;            // folded
    std::size_t m_skip[256] = {};    // Horspool shifts of the folded needle
};

// The matching records in table order: newest first in a journal.
std::vector<RecordHandle> SearchJournal(const MemTable& journal, const JournalFilter& filter);

// The rows as CSV: UTF-8 with a byte-order mark, ";" between fields, CR LF
// after each row, a header row first; dates as the journals show them.
std::string JournalCsv(const MemTable& journal, const std::vector<RecordHandle>& rows);
// Writes JournalCsv to a file, replacing it whole: a failed export leaves no
// half file. False when the file could not be written.
bool ExportJournalCsv(const MemTable& journal, const std::vector<RecordHandle>& rows, const std::string& fileName);

} // namespace kv
