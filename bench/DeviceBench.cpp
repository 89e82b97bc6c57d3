// The device card's list of last events on a main journal of a million rows:
// a new event (RecordEvent, whose after-post refills the list, as on the main
// window) must cost well under a millisecond, however old the journal.
// Run a Release build:  devices_bench [--benchmark_filter=...]
#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/Text.h"
#include "devicecard/DeviceUnit.h"
#include "devices/TelEventIndex.h"
#include "windows/Dialogs.h"
#include "windows/StationContext.h"

#include <QApplication>
#include <QTableWidget>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <string>

using namespace kv::literals;

namespace {

constexpr int kRecords = 1000000;
constexpr int kNumbers = 5000;
constexpr int kDevices = 50;

// Heap bytes in use (the freed memory of the journal's making would hide the growth in RSS).
std::size_t HeapInUse() { return mallinfo2().uordblks; }

// The register files are not there: the load message is answered by nobody.
class QuietDialogs final : public kv::IDialogs {
public:
    void Message(kv::MsgKind, const std::string&, QWidget*) override {}
    bool AskYesNo(const std::string&, QWidget*) override { return false; }
    std::optional<std::string> InputQuery(const std::string&, const std::string&, const std::string&,
                                          QWidget*) override
    {
        return std::nullopt;
    }
    QString SaveFileName(const QString&, const QString&, const QString&, QWidget*) override { return {}; }
    QString OpenFileName(const QString&, const QString&, QWidget*) override { return {}; }
};

std::string Number(int i) { return "+7900" + std::to_string(1000000 + i % kNumbers); }

// The device window's station: commands go nowhere, the rest is not asked for.
struct Station : kv::IDeviceStation {
    QuietDialogs dialogs;
    kv::MemTable events{"EventsTable"};
    kv::StationContext ctx;
    kv::DeviceRegister reg;
    std::unique_ptr<kv::TDeviceForm> form;
    kv::ShortNameLookup lookup;
    double now = 40000.0;

    Station()
    {
        kv::SetDialogs(&dialogs);
        kv::DefineJournal(events);
        form = std::make_unique<kv::TDeviceForm>(ctx, reg, events, *this);
        lookup = [this](const std::string& tel) { return reg.FindShortNameByNumber(tel, {}); };

        form->SetDeviceTablesReadOnly(false);
        for (int d = 0; d < kDevices; ++d) {
            form->DeviceTable.Append();
            form->DeviceTable.FieldByName("device").SetAsString("Device " + std::to_string(d));
            form->DeviceTable.Post();
            form->DescriptionTable.Append();
            form->DescriptionTable.FieldByName("simplename").SetAsString("D" + std::to_string(d));
            form->DescriptionTable.FieldByName("simcard").SetAsString(Number(d * 97));
            form->DescriptionTable.Post();
        }
        form->DeviceTable.First();

        const std::string_view texts[] = {"Поставлено на охрану пользователем "_cp, "Снято с охраны пользователем "_cp,
                                          "Температура в помещении "_cp};
        for (int i = 0; i < kRecords; ++i)
            kv::RecordEvent(events, kv::status::kArmed, Number(i), std::string(texts[i % 3]) + std::to_string(i),
                            lookup, now += 1e-5);
        // As the main window's after-post does.
        events.SetAfterPost([this](kv::MemTable&) { form->FillLastEvents(); });
    }
    ~Station() { kv::SetDialogs(nullptr); }

    void RebuildBoard() override {}
    bool SendSms(const std::string&, const std::string&, const std::string&) override { return false; }
    void QueueModemCommand(const std::string&) override {}
    std::string LastContactText(const std::string&) override { return {}; }
    void ShowJournalSearch(const std::string&) override {}
};

Station& TheStation()
{
    static Station s;
    return s;
}

// A new event of the number the card shows: the journal row, the register
// lookup for its short name, and the card's list refilled.
void BM_RecordEventWithLastEvents(benchmark::State& state)
{
    Station& s = TheStation();
    const std::string tel = Number(0);
    const std::string event(kv::Str("Внимание ТРЕВОГА Зона 3"_cp));
    for (auto _ : state)
        kv::RecordEvent(s.events, kv::status::kAlarm, tel, event, s.lookup, s.now += 1e-6);
    state.counters["journal_rows"] = s.events.RecordCount();
    if (s.form->LastEvents->item(0, 2)->text().isEmpty())
        state.SkipWithError("the card's list stayed empty");
}
BENCHMARK(BM_RecordEventWithLastEvents)->Unit(benchmark::kMicrosecond)->MinTime(2);

// An event of a number the card does not show still refills the card's list.
void BM_RecordOtherEventWithLastEvents(benchmark::State& state)
{
    Station& s = TheStation();
    const std::string event(kv::Str("Снято с охраны пользователем 2"_cp));
    int i = 1;
    for (auto _ : state)
        kv::RecordEvent(s.events, kv::status::kDisarmed, Number(i++), event, s.lookup, s.now += 1e-6);
}
BENCHMARK(BM_RecordOtherEventWithLastEvents)->Unit(benchmark::kMicrosecond)->MinTime(2);

void BM_FillLastEvents(benchmark::State& state)
{
    Station& s = TheStation();
    for (auto _ : state)
        s.form->FillLastEvents();
}
BENCHMARK(BM_FillLastEvents)->Unit(benchmark::kMicrosecond)->MinTime(2);

// What opening a journal costs the index: building it over a million rows, and its memory.
void BM_BuildIndexOverJournal(benchmark::State& state)
{
    Station& s = TheStation();
    std::size_t grown = 0;
    for (auto _ : state) {
        const std::size_t before = HeapInUse();
        auto index = std::make_unique<kv::TelEventIndex>(s.events);
        grown = HeapInUse() - before;
        benchmark::DoNotOptimize(index->Newest(Number(0), 5));
        state.PauseTiming();
        index.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = static_cast<double>(s.events.TotalRecordCount());
    state.counters["heap_MB"] = static_cast<double>(grown) / 1e6;
}
BENCHMARK(BM_BuildIndexOverJournal)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
