// The journal search on a journal of a million events spread over a year:
// every combination of its four filters (device, statuses, time range, text),
// as the search window runs it, and the CSV export of 100,000 rows.
// Run a Release build:  search_bench [--benchmark_filter=...]
#include "data/JournalSearch.h"
#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/Text.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>

using namespace kv::literals;

namespace {

constexpr int kRecords = 1000000;
constexpr int kDevices = 500;
constexpr double kFirstDay = 45700.0;

std::string Number(int device) { return "+7900" + std::to_string(1000000 + device); }
std::string ShortName(int device) { return std::string("Объект "_cp) + std::to_string(device); }

// What the devices and the station write, roughly as often as they write it.
const kv::MemTable& TheJournal()
{
    static kv::MemTable t("EventsTable");
    if (t.FieldCount() > 0)
        return t;
    kv::DefineJournal(t);
    const std::string_view marker{"\xC2\xED\xE8\xEC\x61\xED\xE8\xE5\x20\xD2\x50\x45\x42\xCE\xC3\xC0", 16};
    struct Kind {
        std::string_view status;
        std::string event;
    };
    const Kind kinds[] = {
        {kv::status::kArmed, kv::Str("Новое сообщение:Поставлено на охрану пользователем "_cp)},
        {kv::status::kDisarmed, kv::Str("Новое сообщение:Снято с охраны пользователем "_cp)},
        {kv::status::kInfoSms, kv::Str("Новое сообщение:Сетевое питание отключено, система питается от АКБ "_cp)},
        {kv::status::kTemperature, kv::Str("Новое сообщение:Температура в помещении +"_cp)},
        {kv::status::kOnline, kv::Str("Соединение с GSM-модулем установлено "_cp)},
        {kv::status::kAlarm, kv::Str("Новое сообщение:"_cp) + std::string(marker) + kv::Str(" Сработал датчик зоны "_cp)},
        {kv::status::kHandling, kv::Str("Обработано: Ложная тревога. Проверено с объекта (оператор Иванов, ждала 1:"_cp)},
        {kv::status::kNormal, kv::Str("Новое сообщение:Внимание Пожар! Датчик "_cp)},
    };
    const int weights[] = {30, 30, 10, 10, 5, 6, 6, 3}; // of 100
    int device = 0;
    const kv::ShortNameLookup lookup = [&device](const std::string&) { return ShortName(device); };
    for (int i = 0; i < kRecords; ++i) {
        int pick = static_cast<int>((i * 37LL) % 100), k = 0;
        while (pick >= weights[k])
            pick -= weights[k++];
        // Devices in no step with the kinds, so each reports a bit of everything.
        device = static_cast<int>(((static_cast<std::uint64_t>(i) * 2654435761u) >> 11) % kDevices);
        kv::RecordEvent(t, kinds[k].status, Number(device), kinds[k].event + std::to_string(i % 97), lookup,
                        kFirstDay + 365.0 * i / kRecords);
    }
    return t;
}

// Bit 0 device, bit 1 statuses, bit 2 the last thirty days, bit 3 a text.
kv::JournalFilter Filter(int parts)
{
    kv::JournalFilter f;
    if (parts & 1)
        f.devices = {ShortName(17), Number(17)};
    if (parts & 2)
        f.statuses = {kv::Str(kv::status::kAlarm), kv::Str(kv::status::kHandling)};
    if (parts & 4) {
        f.from = kFirstDay + 335;
        f.to = kFirstDay + 365;
    }
    if (parts & 8)
        f.text = kv::Str("пожар"_cp);
    return f;
}

std::string Label(int parts)
{
    std::string s;
    for (const char* part : {"device", "status", "range", "text"}) {
        if (parts & 1)
            s += s.empty() ? part : std::string("+") + part;
        parts >>= 1;
    }
    return s.empty() ? "none" : s;
}

// What the window does on "Найти": the search and the rows into its list.
void BM_Search(benchmark::State& state)
{
    const kv::MemTable& journal = TheJournal();
    const kv::JournalFilter filter = Filter(static_cast<int>(state.range(0)));
    std::size_t found = 0;
    for (auto _ : state) {
        const std::vector<kv::RecordHandle> rows = kv::SearchJournal(journal, filter);
        std::deque<kv::RecordHandle> shown(rows.begin(), rows.end());
        found = shown.size();
        benchmark::DoNotOptimize(shown.size());
    }
    state.SetLabel(Label(static_cast<int>(state.range(0))));
    state.counters["found"] = static_cast<double>(found);
    state.counters["journal_rows"] = kRecords;
}
BENCHMARK(BM_Search)->DenseRange(0, 15)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1);

// 100,000 rows to a file: UTF-8, quoting, dates, and the file synced to disk.
void BM_Export(benchmark::State& state)
{
    const kv::MemTable& journal = TheJournal();
    std::vector<kv::RecordHandle> rows;
    for (std::size_t i = 0; i < 100000; ++i)
        rows.push_back(journal.RecordAt(i * 10));
    std::string pattern = (std::filesystem::temp_directory_path() / "korvalen-bench-XXXXXX").string();
    const std::string dir = mkdtemp(pattern.data());
    const std::string file = dir + "/found.csv";
    for (auto _ : state)
        if (!kv::ExportJournalCsv(journal, rows, file))
            state.SkipWithError("the export failed");
    state.counters["rows"] = static_cast<double>(rows.size());
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

} // namespace

BENCHMARK_MAIN();
