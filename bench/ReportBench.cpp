// The shift report over a year: a main journal of a million events and a
// ring-round journal of 200,000 calls, 500 devices. The figures alone, a
// shift's, and the whole way of korvalen-jrn report: both files read from
// disk, then the figures.
// Run a Release build:  report_bench [--benchmark_filter=...]
#include "core/AlarmDesk.h"
#include "data/DurableJournal.h"
#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "modem/EventTexts.h"
#include "report/ShiftReport.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace kv::literals;

namespace {

constexpr int kRecords = 1000000;
constexpr int kCalls = 200000;
constexpr int kDevices = 500;
constexpr double kFirstDay = 46000.0;

std::string Number(int device) { return "+7900" + std::to_string(1000000 + device); }
std::string ShortName(int device) { return std::string("Объект "_cp) + std::to_string(device); }

int DeviceOf(int i) { return static_cast<int>(((static_cast<std::uint64_t>(i) * 2654435761u) >> 11) % kDevices); }

// What the devices, the desk and the station write, roughly as often.
kv::MemTable& MainJournal()
{
    static kv::MemTable t("EventsTable");
    if (t.FieldCount() > 0)
        return t;
    kv::DefineJournal(t);
    const std::string marker = std::string("Вним"_cp) + "a" + kv::Str("ние Т"_cp) + "PEB" + kv::Str("ОГА"_cp);
    struct Kind {
        std::string_view status;
        std::string event;
    };
    const Kind kinds[] = {
        {kv::status::kArmed, kv::Str("Новое сообщение:Поставлено на охрану пользователем 3"_cp)},
        {kv::status::kDisarmed, kv::Str("Новое сообщение:Снято с охраны пользователем 1"_cp)},
        {kv::status::kInfoSms, kv::Str("Новое сообщение:Сетевое питание отключено, система питается от АКБ"_cp)},
        {kv::status::kTemperature, kv::Str("Новое сообщение:Температура в помещении +21"_cp)},
        {kv::status::kAlarm, kv::Str("Новое сообщение:"_cp) + marker + kv::Str(" зона 2"_cp)},
        {kv::status::kHandling, kv::HandledEvent(kv::kHandlingResults[0], "", kv::Str("Иванов"_cp), 95)},
        {kv::status::kHandling, kv::HandledEvent(kv::kResultFromBoard, "", kv::Str("Петров"_cp), 20)},
        {kv::status::kAttention, kv::Str("Новое сообщение:Внимание Пожар! Датчик 1"_cp)},
        {kv::status::kSmsSent, kv::Str("Эскалация: Korvalen: тревога Объект 7 12:00 (Внимание) не обработана"_cp)},
        {kv::status::kAlarm, std::string(kv::events::kCallAlarm)},
    };
    const int weights[] = {30, 30, 10, 10, 6, 6, 3, 2, 1, 2}; // of 100
    int device = 0;
    const kv::ShortNameLookup lookup = [&device](const std::string&) { return ShortName(device); };
    for (int i = 0; i < kRecords; ++i) {
        int pick = static_cast<int>((i * 37LL) % 100), k = 0;
        while (pick >= weights[k])
            pick -= weights[k++];
        device = DeviceOf(i);
        kv::RecordEvent(t, kinds[k].status, Number(device), kinds[k].event, lookup, kFirstDay + 365.0 * i / kRecords);
    }
    return t;
}

kv::MemTable& DialJournal()
{
    static kv::MemTable t("DialEventsTable");
    if (t.FieldCount() > 0)
        return t;
    kv::DefineJournal(t);
    int device = 0;
    const kv::ShortNameLookup lookup = [&device](const std::string&) { return ShortName(device); };
    const std::string answered(kv::events::kRingRoundAnswered), failed(kv::events::kRingRoundFailed);
    const std::string noAnswer = kv::Str("Нет ответа, попытка 1 из 7"_cp);
    for (int i = 0; i < kCalls; ++i) {
        device = DeviceOf(i);
        const int pick = i % 20;
        const bool ok = pick < 17;
        kv::RecordEvent(t, ok ? kv::status::kOnline : kv::status::kOffline, Number(device),
                        ok ? answered : pick < 19 ? noAnswer : failed, lookup, kFirstDay + 365.0 * i / kCalls);
    }
    return t;
}

void Counters(benchmark::State& state, const kv::ReportFigures& f)
{
    state.counters["alarms"] = f.all.TotalAlarms();
    state.counters["handled"] = f.all.TotalHandled();
    state.counters["ring_calls"] = f.all.ringCalls;
    state.counters["rows_read"] = static_cast<double>(f.rowsRead);
}

void BM_Year(benchmark::State& state)
{
    const kv::MemTable& main = MainJournal();
    const kv::MemTable& dial = DialJournal();
    kv::ReportFigures f;
    for (auto _ : state) {
        f = kv::ComputeReport(main, &dial, {kFirstDay, kFirstDay + 365});
        benchmark::DoNotOptimize(f.all.alarms);
    }
    Counters(state, f);
}
BENCHMARK(BM_Year)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

void BM_YearOneObject(benchmark::State& state)
{
    const kv::MemTable& main = MainJournal();
    const kv::MemTable& dial = DialJournal();
    kv::ReportFigures f;
    for (auto _ : state) {
        f = kv::ComputeReport(main, &dial, {kFirstDay, kFirstDay + 365}, ShortName(17));
        benchmark::DoNotOptimize(f.all.alarms);
    }
    Counters(state, f);
}
BENCHMARK(BM_YearOneObject)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

// The last shift of the year: the journal's older rows are only passed over.
void BM_LastShift(benchmark::State& state)
{
    const kv::MemTable& main = MainJournal();
    const kv::MemTable& dial = DialJournal();
    kv::ReportFigures f;
    for (auto _ : state) {
        f = kv::ComputeReport(main, &dial, kv::CurrentShift(kFirstDay + 364.9));
        benchmark::DoNotOptimize(f.all.alarms);
    }
    Counters(state, f);
}
BENCHMARK(BM_LastShift)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1);

// korvalen-jrn report's way: t3.bin and t6.bin read from disk, then the figures.
void BM_FilesToYearReport(benchmark::State& state)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "korvalen-bench-XXXXXX").string();
    const std::string dir = mkdtemp(pattern.data());
    kv::TableFormat().Save(MainJournal(), dir + "/t3.bin");
    kv::TableFormat().Save(DialJournal(), dir + "/t6.bin");
    kv::ReportFigures f;
    for (auto _ : state) {
        kv::MemTable main("EventsTable"), dial("DialEventsTable");
        kv::DurableJournal::ReadWithLog(main, dir + "/t3.bin", kv::TableFormat());
        kv::DurableJournal::ReadWithLog(dial, dir + "/t6.bin", kv::TableFormat());
        f = kv::ComputeReport(main, &dial, {kFirstDay, kFirstDay + 365});
        benchmark::DoNotOptimize(f.all.alarms);
    }
    Counters(state, f);
    state.counters["t3_MB"] = static_cast<double>(std::filesystem::file_size(dir + "/t3.bin")) / 1e6;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FilesToYearReport)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// The files alone, to tell the reading from the figures.
void BM_ReadJournalFiles(benchmark::State& state)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "korvalen-bench-XXXXXX").string();
    const std::string dir = mkdtemp(pattern.data());
    kv::TableFormat().Save(MainJournal(), dir + "/t3.bin");
    kv::TableFormat().Save(DialJournal(), dir + "/t6.bin");
    for (auto _ : state) {
        kv::MemTable main("EventsTable"), dial("DialEventsTable");
        kv::DurableJournal::ReadWithLog(main, dir + "/t3.bin", kv::TableFormat());
        kv::DurableJournal::ReadWithLog(dial, dir + "/t6.bin", kv::TableFormat());
        benchmark::DoNotOptimize(main.TotalRecordCount());
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ReadJournalFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

} // namespace

BENCHMARK_MAIN();
