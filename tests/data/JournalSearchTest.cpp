// The journal search's filters, alone and together, on a journal whose rows
// differ in one thing each; the CSV export read back as a spreadsheet would.
#include "data/JournalSearch.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/Text.h"
#include "tests/support/Cp1251.h"
#include "tests/support/Csv.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"

#include <gtest/gtest.h>

namespace {

using namespace kv::literals;
using kv::MemTable;
namespace j = kv::journal;

constexpr double kDay = 46000.0;

// Oldest first, as they are recorded; each row's event text names it.
struct Row {
    std::string_view status;
    std::string_view tel;
    std::string_view name;
    std::string_view event;
    double time;
};
const Row kRows[] = {
    {kv::status::kArmed, "+79001000001", "Склад"_cp, "a armed Поставлено на охрану"_cp, kDay + 0.10},
    {kv::status::kAlarm, "+79001000001", "Склад"_cp, "b alarm Внимaние ТPEBОГА зона 2"_cp, kDay + 0.20},
    {kv::status::kAlarm, "+79001000002", "Офис"_cp, "c call \"ТРЕВОГА\" - входящий вызов"_cp, kDay + 0.30},
    {kv::status::kHandling, "+79001000002", "Офис"_cp, "d handled Обработано: Ложная тревога."_cp, kDay + 0.40},
    {kv::status::kNormal, "+79001000003", "        ", "e fire Внимание Пожар!"_cp, kDay + 1.10},
    {kv::status::kLogin, "GSM-модем"_cp, "", "f login Пользователь: Ёлкин вошел"_cp, kDay + 1.20},
};

struct Journal {
    Journal()
    {
        kv::DefineJournal(table);
        for (const Row& r : kRows)
            kv::RecordEvent(table, r.status, r.tel, r.event, [&r](const std::string&) { return std::string(r.name); },
                            r.time);
    }
    // The first letters of the events found, newest first.
    std::string Found(const kv::JournalFilter& filter) const
    {
        std::string letters;
        for (kv::RecordHandle h : kv::SearchJournal(table, filter))
            letters.push_back(table.TextView(h, j::Event)[0]);
        return letters;
    }
    MemTable table{"EventsTable"};
};

kv::JournalFilter Filter(std::vector<std::string> devices, std::vector<std::string> statuses,
                         std::optional<double> from, std::optional<double> to, std::string text)
{
    return {std::move(devices), std::move(statuses), from, to, std::move(text)};
}

struct SearchCase {
    const char* name;
    kv::JournalFilter filter;
    const char* found;
};

class Search : public ::testing::TestWithParam<SearchCase> {};

TEST_P(Search, FindsExactlyTheRowsThatMatchEveryPartNewestFirst)
{
    const Journal journal;
    EXPECT_EQ(journal.Found(GetParam().filter), GetParam().found);
}

const std::string kStore = kv::Str("Склад"_cp);
const std::string kAlarm = kv::Str(kv::status::kAlarm);
const std::string kHandling = kv::Str(kv::status::kHandling);

INSTANTIATE_TEST_SUITE_P(
    Filters, Search,
    ::testing::Values(
        SearchCase{"nothing_set", {}, "fedcba"},
        SearchCase{"device_by_short_name", Filter({kStore}, {}, {}, {}, {}), "ba"},
        SearchCase{"device_by_number", Filter({"+79001000002"}, {}, {}, {}, {}), "dc"},
        SearchCase{"device_name_or_number", Filter({kStore, "+79001000003"}, {}, {}, {}, {}), "eba"},
        SearchCase{"device_name_is_not_trimmed", Filter({kv::Str("Склад "_cp)}, {}, {}, {}, {}), ""},
        SearchCase{"several_statuses", Filter({}, {kAlarm, kHandling}, {}, {}, {}), "dcb"},
        SearchCase{"status_exact_bytes", Filter({}, {kv::Str("тревога"_cp)}, {}, {}, {}), ""},
        SearchCase{"from_inclusive", Filter({}, {}, kDay + 0.30, {}, {}), "fedc"},
        SearchCase{"to_inclusive", Filter({}, {}, {}, kDay + 0.30, {}), "cba"},
        SearchCase{"range", Filter({}, {}, kDay + 0.15, kDay + 1.15, {}), "edcb"},
        SearchCase{"range_empty", Filter({}, {}, kDay + 0.5, kDay + 0.6, {}), ""},
        SearchCase{"text_any_case", Filter({}, {}, {}, {}, kv::Str("ПОЖАР"_cp)), "e"},
        SearchCase{"text_finds_the_latin_letters_of_the_devices",
                   Filter({}, {}, {}, {}, kv::Str("тревога"_cp)), "dcb"},
        SearchCase{"text_yo_as_ye", Filter({}, {}, {}, {}, kv::Str("елкин"_cp)), "f"},
        SearchCase{"text_quote", Filter({}, {}, {}, {}, "\"" + kv::Str("ТРЕВОГА"_cp) + "\""), "c"},
        SearchCase{"text_longer_than_any_event", Filter({}, {}, {}, {}, std::string(300, 'x')), ""},
        SearchCase{"device_and_status", Filter({kStore}, {kAlarm}, {}, {}, {}), "b"},
        SearchCase{"status_and_range", Filter({}, {kAlarm}, kDay + 0.25, {}, {}), "c"},
        SearchCase{"all_four", Filter({"+79001000002"}, {kAlarm, kHandling}, kDay, kDay + 0.35,
                                      kv::Str("вызов"_cp)),
                   "c"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JournalSearch, AJournalWithoutSomeColumnsMatchesWhatItHas)
{
    MemTable foreign("EventsTable");
    kv::FieldDef event;
    event.name = "event";
    event.size = 200;
    foreign.SetFields({event});
    foreign.Append();
    foreign.FieldAt(0).SetAsString("Пожар"_cp);
    foreign.Post();
    EXPECT_EQ(kv::SearchJournal(foreign, Filter({}, {}, {}, {}, kv::Str("пожар"_cp))).size(), 1u);
    EXPECT_TRUE(kv::SearchJournal(foreign, Filter({kStore}, {}, {}, {}, {})).empty());
    EXPECT_TRUE(kv::SearchJournal(foreign, Filter({}, {}, kDay, {}, {})).empty()) << "no time: outside any range";
}

// ------------------------------------------------------------------ CSV

TEST(JournalCsv, ReadsBackAsTheSameRowsWithTheirDatesAsShown)
{
    kv::test::TempDir dir;
    Journal journal;
    // What a spreadsheet finds hard: the separator, quotes, a line break kept
    // by the journal (a lone CR and a lone LF), a leading blank.
    kv::RecordEvent(journal.table, kv::status::kHandling, "+79001000001",
                    "Обработано: Другое. \"Ключ\"; ложный\rвызов\nснова  (оператор Ёжиков, ждала 1:05)"_cp,
                    [](const std::string&) { return std::string(" Склад;2"_cp); }, kDay + 2.5);
    const auto rows = kv::SearchJournal(journal.table, {});
    ASSERT_TRUE(kv::ExportJournalCsv(journal.table, rows, "found.csv"));
    const std::string bytes = kv::test::ReadFileBytes("found.csv");
    ASSERT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF") << "a byte-order mark, so spreadsheets read UTF-8";

    const auto csv = kv::test::ReadCsvRecords(bytes.substr(3), ';');
    ASSERT_EQ(csv.size(), rows.size() + 1);
    EXPECT_EQ(csv[0], (std::vector<std::string>{"Время события", "Статус", "Объект", "Телефон", "Событие"}));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        SCOPED_TRACE(r);
        const MemTable& t = journal.table;
        const std::vector<std::string> expected = {
            kv::FormatDateTime(t.DateTime(rows[r], j::EventTime)), std::string(t.TextView(rows[r], j::Status)),
            std::string(t.TextView(rows[r], j::SimpleName)), std::string(t.TextView(rows[r], j::Tel)),
            std::string(t.TextView(rows[r], j::Event))};
        ASSERT_EQ(csv[r + 1].size(), expected.size());
        for (std::size_t f = 0; f < expected.size(); ++f)
            EXPECT_EQ(kv::test::Utf8ToCp1251(csv[r + 1][f]), expected[f]) << "field " << f;
    }
    EXPECT_EQ(csv[1][0], "11.12.2025 12:00:00") << "the newest row first, its date as the journals show it";
}

TEST(JournalCsv, AFileThatCannotBeWrittenIsReportedAndLeavesNothing)
{
    kv::test::TempDir dir;
    const Journal journal;
    EXPECT_FALSE(kv::ExportJournalCsv(journal.table, kv::SearchJournal(journal.table, {}), "no-such-folder/x.csv"));
    EXPECT_TRUE(kv::ExportJournalCsv(journal.table, {}, "empty.csv"));
    EXPECT_EQ(kv::test::ReadFileBytes("empty.csv"),
              std::string("\xEF\xBB\xBF") + "Время события;Статус;Объект;Телефон;Событие\r\n");
}

} // namespace
