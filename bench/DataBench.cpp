// Station data on a journal of a million events (about 100 MB on disk):
// load, save, RecordEvent into it, and the memory the loaded journal takes.
// Run a Release build:  data_bench [--benchmark_filter=...]
#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TableFormat.h"
#include "data/Text.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

using namespace kv::literals;

namespace {

constexpr int kRecords = 1000000;

// Kilobytes of a line of /proc/self/status ("VmRSS", "VmHWM").
long StatusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':')
            return std::atol(line.c_str() + n + 1);
    return -1;
}

void FillJournal(kv::MemTable& t, int count)
{
    kv::DefineJournal(t);
    const std::string_view statuses[] = {kv::status::kAlarm,    kv::status::kArmed,  kv::status::kDisarmed,
                                         kv::status::kInfoSms,  kv::status::kOnline, kv::status::kTemperature,
                                         kv::status::kForeignKey, kv::status::kBalance};
    const std::string_view events[] = {
        "Внимание ТРЕВОГА Зона "_cp, "Поставлено на охрану пользователем "_cp, "Снято с охраны пользователем "_cp,
        "Сетевое питание отключено, система питается от АКБ "_cp, "Дозвон завершен успешно "_cp,
        "Температура в помещении "_cp};
    const kv::ShortNameLookup lookup = [](const std::string& tel) { return std::string("Объект "_cp) + tel.substr(9); };
    std::string event, tel;
    for (int i = 0; i < count; ++i) {
        tel = "+7900" + std::to_string(1000000 + i % 5000);
        event = std::string(events[i % 6]) + std::to_string(i % 97) + " / " + std::to_string(i);
        kv::RecordEvent(t, statuses[i % 8], tel, event, lookup, 40000.0 + i / 1440.0);
    }
}

struct Journal {
    std::string dir;
    std::string file;
    std::uint64_t size = 0;

    Journal()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "korvalen-bench-XXXXXX").string();
        dir = mkdtemp(pattern.data());
        file = dir + "/t3.bin";
        kv::MemTable t;
        FillJournal(t, kRecords);
        kv::TableFormat().Save(t, file);
        size = std::filesystem::file_size(file);
    }
    ~Journal() { std::filesystem::remove_all(dir); }
};

Journal& TheJournal()
{
    static Journal j;
    return j;
}

void BM_LoadJournal(benchmark::State& state)
{
    const Journal& j = TheJournal();
    kv::TableFormat format;
    for (auto _ : state) {
        auto t = std::make_unique<kv::MemTable>();
        format.Load(*t, j.file);
        benchmark::DoNotOptimize(t->RecordCount());
        state.PauseTiming();
        t.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(j.size) * state.iterations());
    state.counters["records"] = kRecords;
}
BENCHMARK(BM_LoadJournal)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

std::unique_ptr<kv::MemTable> LoadedJournal()
{
    auto t = std::make_unique<kv::MemTable>();
    kv::TableFormat().Load(*t, TheJournal().file);
    return t;
}

// Everything a save does: write through the buffer, fsync, rename.
void BM_SaveJournal(benchmark::State& state)
{
    const Journal& j = TheJournal();
    const auto t = LoadedJournal();
    kv::TableFormat format;
    const std::string target = j.dir + "/saved.bin";
    for (auto _ : state)
        format.Save(*t, target);
    state.SetBytesProcessed(static_cast<std::int64_t>(j.size) * state.iterations());
}
BENCHMARK(BM_SaveJournal)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// The same bytes produced in memory: the writer alone, without the disk.
void BM_SaveJournalToMemory(benchmark::State& state)
{
    const auto t = LoadedJournal();
    kv::TableFormat format;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string out = format.SaveToBytes(*t);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}
BENCHMARK(BM_SaveJournalToMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_RecordEventIntoLoadedJournal(benchmark::State& state)
{
    const auto t = LoadedJournal();
    const kv::ShortNameLookup lookup = [](const std::string&) { return std::string("Склад 1"_cp); };
    const std::string event(kv::Str("Внимание ТРЕВОГА Зона 3\r\nДатчик 2"_cp));
    double now = 45000;
    for (auto _ : state) {
        kv::RecordEvent(*t, kv::status::kAlarm, "+79001234567", event, lookup, now);
        now += 1e-6;
    }
    state.counters["journal_rows"] = t->RecordCount();
}
BENCHMARK(BM_RecordEventIntoLoadedJournal)->Unit(benchmark::kMicrosecond)->MinTime(2);

// Memory of a freshly loaded journal, measured in a process of its own so that
// nothing else this program did counts.
void BM_LoadedJournalMemory(benchmark::State& state)
{
    const Journal& j = TheJournal();
    const std::string command = std::filesystem::read_symlink("/proc/self/exe").string() + " --measure-load " + j.file;
    long before = 0, rss = 0, peak = 0;
    for (auto _ : state) {
        FILE* p = popen(command.c_str(), "r");
        if (!p || std::fscanf(p, "%ld %ld %ld", &before, &rss, &peak) != 3) {
            state.SkipWithError("the measuring process failed");
            if (p)
                pclose(p);
            return;
        }
        pclose(p);
    }
    const double fileKb = static_cast<double>(j.size) / 1024.0;
    state.counters["file_MB"] = static_cast<double>(j.size) / 1e6;
    state.counters["rss_MB"] = static_cast<double>(rss - before) * 1024.0 / 1e6;
    state.counters["peak_MB"] = static_cast<double>(peak - before) * 1024.0 / 1e6;
    state.counters["rss_per_file"] = static_cast<double>(rss - before) / fileKb;
    state.counters["peak_per_file"] = static_cast<double>(peak - before) / fileKb;
}
BENCHMARK(BM_LoadedJournalMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

int MeasureLoad(const char* file)
{
    const long before = StatusKb("VmRSS");
    kv::MemTable t;
    kv::TableFormat().Load(t, file);
    std::printf("%ld %ld %ld\n", before, StatusKb("VmRSS"), StatusKb("VmHWM"));
    return t.RecordCount() == kRecords ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--measure-load") == 0)
        return MeasureLoad(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
