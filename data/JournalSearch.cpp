#include "data/JournalSearch.h"

#include "data/AtomicFile.h"
#include "data/Text.h"
#include "data/TextExport.h"
#include "timing/DateTime.h"

#include <algorithm>
#include <array>

namespace kv {

using namespace literals;

namespace {

// Latin letters the devices mix into Russian words, by the Russian lower-case
// letter each looks like (the Latin one is lowered first).
constexpr std::pair<char, unsigned char> kLookAlikes[] = {
    {'a', 0xE0}, {'b', 0xE2}, {'c', 0xF1}, {'e', 0xE5}, {'h', 0xED}, {'k', 0xEA},
    {'m', 0xEC}, {'o', 0xEE}, {'p', 0xF0}, {'t', 0xF2}, {'x', 0xF5}, {'y', 0xF3},
};

constexpr std::array<unsigned char, 256> BuildFold()
{
    std::array<unsigned char, 256> f{};
    for (int c = 0; c < 256; ++c)
        f[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c);
    for (int c = 'A'; c <= 'Z'; ++c)
        f[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c + 32);
    for (int c = 0xC0; c <= 0xDF; ++c)
        f[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c + 32);
    f[0xA8] = 0xE5; // Ё
    f[0xB8] = 0xE5; // ё
    for (const auto& [latin, russian] : kLookAlikes) {
        f[static_cast<unsigned char>(latin)] = russian;
        f[static_cast<unsigned char>(latin - 32)] = russian;
    }
    return f;
}

constexpr std::array<unsigned char, 256> kFold = BuildFold();

unsigned char Fold(char c) { return kFold[static_cast<unsigned char>(c)]; }

bool OneOf(std::string_view value, const std::vector<std::string>& set)
{
    return std::find(set.begin(), set.end(), value) != set.end();
}

constexpr std::string_view kCsvHeader[] = {"Время события"_cp, "Статус"_cp, "Объект"_cp, "Телефон"_cp,
                                           "Событие"_cp};

} // namespace

std::string FoldForSearch(std::string_view text)
{
    std::string out(text.size(), '\0');
    std::transform(text.begin(), text.end(), out.begin(), [](char c) { return static_cast<char>(Fold(c)); });
    return out;
}

JournalMatcher::JournalMatcher(const MemTable& journal, JournalFilter filter)
    : m_journal(journal),
      m_filter(std::move(filter)),
      m_time(journal.FindField("EventTime")),
      m_status(journal.FindField("Status")),
      m_tel(journal.FindField("tel")),
      m_event(journal.FindField("event")),
      m_name(journal.FindField("simplename")),
      m_needle(FoldForSearch(m_filter.text))
{
    const std::size_t n = m_needle.size();
    std::fill(std::begin(m_skip), std::end(m_skip), n);
    for (std::size_t j = 0; j + 1 < n; ++j)
        m_skip[static_cast<unsigned char>(m_needle[j])] = n - 1 - j;
}

bool JournalMatcher::TextIn(std::string_view event) const
{
    const std::size_t n = m_needle.size();
    if (n == 0)
        return true;
    if (event.size() < n)
        return false;
    const auto last = static_cast<unsigned char>(m_needle[n - 1]);
    for (std::size_t i = 0; i + n <= event.size();) {
        const unsigned char c = Fold(event[i + n - 1]);
        if (c == last) {
            std::size_t j = 0;
            while (j + 1 < n && Fold(event[i + j]) == static_cast<unsigned char>(m_needle[j]))
                ++j;
            if (j + 1 == n)
                return true;
        }
        i += m_skip[c];
    }
    return false;
}

bool JournalMatcher::operator()(RecordHandle row) const
{
    // A journal opened from a foreign file may miss a column: its value is empty.
    auto text = [&](int field) { return field >= 0 ? m_journal.TextView(row, field) : std::string_view(); };
    if (m_filter.from || m_filter.to) {
        if (m_time < 0 || m_journal.IsNull(row, m_time))
            return false;
        const double t = m_journal.DateTime(row, m_time);
        if ((m_filter.from && t < *m_filter.from) || (m_filter.to && t > *m_filter.to))
            return false;
    }
    if (!m_filter.statuses.empty() && !OneOf(text(m_status), m_filter.statuses))
        return false;
    if (!m_filter.devices.empty() && !OneOf(text(m_name), m_filter.devices) && !OneOf(text(m_tel), m_filter.devices))
        return false;
    return TextIn(text(m_event));
}

std::vector<RecordHandle> SearchJournal(const MemTable& journal, const JournalFilter& filter)
{
    const JournalMatcher matches(journal, filter);
    std::vector<RecordHandle> found;
    const std::size_t n = journal.TotalRecordCount();
    for (std::size_t i = 0; i < n; ++i) {
        const RecordHandle row = journal.RecordAt(i);
        if (matches(row))
            found.push_back(row);
    }
    return found;
}

std::string JournalCsv(const MemTable& journal, const std::vector<RecordHandle>& rows)
{
    const int fields[] = {journal.FindField("EventTime"), journal.FindField("Status"), journal.FindField("simplename"),
                          journal.FindField("tel"), journal.FindField("event")};
    std::string out = "\xEF\xBB\xBF";
    out.reserve(rows.size() * 120 + 64);
    auto row = [&out](auto&& value) {
        for (std::size_t f = 0; f < std::size(kCsvHeader); ++f) {
            if (f)
                out.push_back(';');
            out += CsvField(Cp1251ToUtf8(value(f)), ';', f == 0);
        }
        out += "\r\n";
    };
    row([](std::size_t f) { return std::string(kCsvHeader[f]); });
    for (const RecordHandle r : rows) {
        row([&](std::size_t f) -> std::string {
            const int field = fields[f];
            if (field < 0 || journal.IsNull(r, field))
                return {};
            if (f == 0)
                return FormatDateTime(journal.DateTime(r, field));
            return std::string(journal.TextView(r, field));
        });
    }
    return out;
}

bool ExportJournalCsv(const MemTable& journal, const std::vector<RecordHandle>& rows, const std::string& fileName)
{
    const std::string bytes = JournalCsv(journal, rows);
    AtomicFileWriter file(fileName);
    return file.Open() && file.Write(bytes.data(), bytes.size()) && file.Commit();
}

} // namespace kv
