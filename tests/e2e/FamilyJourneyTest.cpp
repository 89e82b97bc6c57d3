// The whole station in-process against every modem family of the simulator,
// in real time: reports stored while the station was off, a burst of twenty
// among unsolicited codes while it runs, an alarm call, the ring-round's calls
// and the balance of both modems. Every report is journalled once with its
// status, number and short name, none is taken for a damaged message, and none
// leaves the SIM before its row is written (each new row looks at the SIM while
// the worker waits for it). The same journey against the receiver process.
// One CTest case per family and program, side by side.
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "modemsetup/ModemUnit.h"
#include "tests/e2e/LiveStation.h"
#include "tests/e2e/StationProcess.h"
#include "tests/support/Cp1251.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <set>

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using namespace kv::literals;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A report as the device sends it (UTF-8) and the row it must give.
struct Expected {
    std::string text;
    std::string status; // CP1251
    std::string number;
    std::string shortName; // CP1251
};

bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        ServeFor(20ms);
    }
    return true;
}

// The texts of the messages the simulator's SIM (and the modem's own memory) holds.
std::set<std::string> StoredTexts(ModemSim& sim)
{
    std::set<std::string> texts;
    for (std::string line : sim.Command("sim 1")) {
        if (line.rfind("ME ", 0) == 0)
            line.erase(0, 3);
        // "<index> <REC UNREAD|REC READ> <number> <text>"
        const std::size_t status = line.find(' ');
        const std::size_t number = line.find(' ', line.find("REC ", status) + 4 + 1);
        const std::size_t text = number == std::string::npos ? number : line.find(' ', number + 1);
        if (text != std::string::npos)
            texts.insert(line.substr(text + 1));
    }
    return texts;
}

// Each new report row looks at the SIM while the worker waits in its hand-over:
// the message must still be there, or it was deleted before it was journalled.
class SimAtEachRow final : public IRecordListener {
public:
    SimAtEachRow(MemTable& journal, ModemSim& sim) : m_journal(journal), m_sim(sim) { m_journal.AddRecordListener(this); }
    ~SimAtEachRow() override { m_journal.RemoveRecordListener(this); }
    void RecordAdded(RecordHandle record, std::size_t) override
    {
        const std::string event(m_journal.TextView(record, journal::Event));
        const std::string prefix(Str("Новое сообщение:"_cp));
        if (event.rfind(prefix, 0) != 0)
            return;
        const std::string text = Cp1251ToUtf8(event.substr(prefix.size()));
        if (!StoredTexts(m_sim).count(text))
            deletedFirst.push_back(text);
    }
    void RecordChanged(RecordHandle) override {}
    void RecordRemoving(RecordHandle, std::size_t) override {}
    void RecordsCleared() override {}

    std::vector<std::string> deletedFirst;

private:
    MemTable& m_journal;
    ModemSim& m_sim;
};

// The devices that report in the journeys, after "Склад".
std::vector<Reporter> JourneyReporters()
{
    return {{Str("Гараж"_cp), "+79120000001"}, {Str("Дача"_cp), "+79120000002"}, {Str("Котельная"_cp), "+79120000003"}};
}

// Report `n` of a journey, sent to modem 1: the devices and markers in turn
// (the alarm's marker with its Latin letters, as the devices write it).
Expected SendReport(ModemSim& sim, int n)
{
    std::vector<Reporter> all = {{Str("Склад"_cp), kReporterNumber}};
    for (const Reporter& r : JourneyReporters())
        all.push_back(r);
    const std::pair<const char*, std::string_view> kinds[] = {
        {"Поставлено на охрану", status::kArmed}, {"Снято с охраны", status::kDisarmed},
        {"Внимaние ТPEBОГА", status::kAlarm}};
    const Reporter& who = all[static_cast<std::size_t>(n) % all.size()];
    const auto& [marker, status] = kinds[static_cast<std::size_t>(n) % 3];
    Expected e{std::string(marker) + " " + std::to_string(n), std::string(status), who.number, who.shortName};
    sim.Command("sms 1 " + who.number + " " + e.text);
    return e;
}

// The family's harmless unsolicited codes, some in the middle of a burst.
constexpr const char* kBurstCodes[] = {"+CREG: 1", "Call Ready", "+CIEV: 1,3", "+CTZV: +12,0", "^RSSI: 14"};

class FamilyJourney : public ::testing::TestWithParam<const char*> {};

TEST_P(FamilyJourney, ReportsCallAndBalanceAreJournalledOnceAndRight)
{
    TempDir dir;
    ModemSimOptions options;
    options.linkDir = (dir.path() / "links").string();
    options.family = GetParam();
    ModemSim sim(options);
    const std::vector<Reporter> reporters = JourneyReporters();
    std::vector<Expected> expected;
    auto report = [&](int n) { expected.push_back(SendReport(sim, n)); };

    // Stored while the station is off.
    for (int n = 0; n < 3; ++n)
        report(n);
    LiveStation live(dir.path(), sim, reporters);
    ASSERT_TRUE(live.Started()) << live.TechnoTail(40);
    // The family's harmless unsolicited codes at random moments on both modems,
    // and more of them in the middle of the burst: none may spoil a reply.
    sim.Command("noise 1 on");
    sim.Command("noise 2 on");
    MemTable& events = live.form().EventsTable;
    SimAtEachRow watch(events, sim);

    auto rowsOf = [&](const Expected& e) {
        const std::string event = Utf8ToCp1251("Новое сообщение:" + e.text);
        std::vector<JournalRow> rows;
        for (const JournalRow& row : NewestRows(events, events.RecordCount()))
            if (row.event == event)
                rows.push_back(row);
        return rows;
    };
    auto allJournalled = [&] {
        for (const Expected& e : expected)
            if (rowsOf(e).empty())
                return false;
        return true;
    };
    EXPECT_TRUE(Until(allJournalled, 20s)) << "reports stored while the station was off" << live.TechnoTail(60);

    // A burst of twenty while it runs (more than some SIMs hold: the rest waits at the network).
    for (int n = 3; n < 23; ++n) {
        report(n);
        if (n % 4 == 0)
            sim.Command(std::string("urc 1 ") + kBurstCodes[(n / 4) % std::size(kBurstCodes)]);
    }
    const auto burst = Clock::now();
    EXPECT_TRUE(Until(allJournalled, 60s)) << "a burst of twenty" << live.TechnoTail(60);
    const auto burstTime = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - burst);

    auto journalled = [&](const JournalRow& row) {
        return [&events, row] {
            const std::vector<JournalRow> rows = NewestRows(events, events.RecordCount());
            return std::find(rows.begin(), rows.end(), row) != rows.end();
        };
    };

    // An alarm call from a device.
    sim.Command(std::string("ring 1 ") + "+79120000002");
    EXPECT_TRUE(Until(journalled({Str(status::kAlarm), "+79120000002",
                                  Str("\"ТРЕВОГА\" - входящий вызов с телефона"_cp), Str("Дача"_cp)}),
                      20s))
        << live.TechnoTail(40);
    // The tile is set right after the row.
    EXPECT_TRUE(Until([&] { return live.Guard(Str("Дача"_cp)) == 3; }, 2s)) << "the caller's tile in alarm";

    // The balance through modem 1.
    live.station().ModemForm().RbButton2Click();
    EXPECT_TRUE(Until(journalled({Str(status::kBalance), Str("GSM-модем №1"_cp), Str("Баланс: 150.00 р."_cp), "        "}),
                      35s))
        << live.TechnoTail(40);

    // The ring-round on modem 2, among that modem's noise: "Офис" rejects every
    // call, so none may be judged failed; then modem 2's balance.
    MemTable& dial = live.form().DialEventsTable;
    auto dialJournalled = [&dial](std::string_view status, std::string tel, std::string_view event) {
        return [&dial, status, tel, event] {
            for (const JournalRow& row : NewestRows(dial, dial.RecordCount()))
                if (row.status == status && row.tel == tel && row.event == event)
                    return true;
            return false;
        };
    };
    sim.Command("dial 2 busy 1 " + std::string(kRingedNumber));
    live.RingRound(true);
    EXPECT_TRUE(Until(dialJournalled(status::kOnline, kRingedNumber, "Дозвон завершен успешно"_cp), 20s))
        << live.TechnoTail(40);
    live.RingRound(false);
    live.station().ModemForm().PNGButton4Click();
    EXPECT_TRUE(Until(dialJournalled(status::kBalance, Str("GSM-модем №2"_cp), "Баланс: 150.00 р."_cp), 35s))
        << live.TechnoTail(40);
    for (const JournalRow& row : NewestRows(dial, dial.RecordCount()))
        EXPECT_TRUE(row.tel != kRingedNumber || row.status == status::kOnline) << Describe(NewestRows(dial, 20));

    // Each report once, right; nothing taken for damaged; the SIM emptied.
    for (const Expected& e : expected) {
        const std::vector<JournalRow> rows = rowsOf(e);
        ASSERT_EQ(rows.size(), 1u) << e.text << Describe(rows);
        EXPECT_EQ(rows[0].status, e.status) << e.text;
        EXPECT_EQ(rows[0].tel, e.number) << e.text;
        EXPECT_EQ(rows[0].simplename, e.shortName) << e.text;
    }
    for (const JournalRow& row : NewestRows(events, events.RecordCount()))
        EXPECT_NE(row.event, Str("Ошибка в SMS-сообщении:"_cp)) << Describe(NewestRows(events, 60));
    EXPECT_TRUE(watch.deletedFirst.empty()) << "deleted before its row: " << watch.deletedFirst.front();
    EXPECT_TRUE(Until([&] { return StoredTexts(sim).empty() && sim.Command("network 1").empty(); }, 15s))
        << "left in the SIM";
    std::cout << "[ figures  ] " << GetParam() << ": a burst of twenty journalled in " << burstTime.count() << " ms\n";
}

// The same journey against korvalen-receiver as a process of its own, with
// nobody at a desk: reports stored before it starts and a burst among the
// family's unsolicited codes, an alarm call, and the ring-round it starts by
// itself on modem 2. After SIGTERM "t3.bin" holds each report and the call
// once, right, and "t6.bin" the ring-round's call; both modems' balance, which
// the receiver asks by itself at its start, is journalled too.
class ReceiverJourney : public ::testing::TestWithParam<const char*> {};

TEST_P(ReceiverJourney, ReportsCallAndRingRoundAreJournalledOnceAndRight)
{
    TempDir dir;
    ModemSimOptions options;
    options.linkDir = (dir.path() / "links").string();
    options.family = GetParam();
    ModemSim sim(options);
    const fs::path data = dir.path() / "data", log = dir.path() / "receiver.log";
    fs::create_directories(data);
    std::vector<StationDevice> devices;
    for (const Reporter& r : JourneyReporters())
        devices.push_back({r.shortName, r.number, false});
    // Called 3 s after the start, and every 3 s after each call.
    devices.push_back({Str("Офис"_cp), kRingedNumber, true, "0.05"});
    WriteStationTables(data, kReporterNumber, "Оператор", "1234", 0, devices);
    WriteStationConfig(data, sim.Path(1), sim.Path(2));
    auto logged = [&log](const std::string& text) {
        return [&log, text] { return ReadFileBytes(log).find(text) != std::string::npos; };
    };
    auto simEmpty = [&sim] { return StoredTexts(sim).empty() && sim.Command("network 1").empty(); };

    std::vector<Expected> expected;
    for (int n = 0; n < 3; ++n)
        expected.push_back(SendReport(sim, n));
    sim.Command("dial 2 busy 1 " + std::string(kRingedNumber));
    StationProcess receiver;
    receiver.Start(ReceiverCommand(data), data, {}, log);
    ASSERT_TRUE(Until(logged("Приёмник запущен: "), 20s)) << ReadFileBytes(log);
    sim.Command("noise 1 on");
    sim.Command("noise 2 on");
    EXPECT_TRUE(Until(simEmpty, 20s)) << "reports stored before the start" << ReadFileBytes(log);

    for (int n = 3; n < 23; ++n) {
        expected.push_back(SendReport(sim, n));
        if (n % 4 == 0)
            sim.Command(std::string("urc 1 ") + kBurstCodes[(n / 4) % std::size(kBurstCodes)]);
    }
    const auto burst = Clock::now();
    EXPECT_TRUE(Until(simEmpty, 60s)) << "a burst of twenty" << ReadFileBytes(log);
    const auto burstTime = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - burst);

    // The call's row is handed over before it is answered.
    sim.Command(std::string("ring 1 ") + "+79120000002");
    EXPECT_TRUE(sim.WaitForSent(1, "ATA\\r", 20s)) << ReadFileBytes(log);
    EXPECT_TRUE(Until(logged(std::string("Дозвон завершен УСПЕШНО. Телефон:") + kRingedNumber), 30s))
        << "the ring-round" << ReadFileBytes(log);
    const auto balanceRow = [&data](const char* table) {
        return [&data, table] {
            const ToolResult csv = RunBuildTool("korvalen-jrn", {"csv", (data / table).string()});
            return csv.output.find("Баланс: 150.00 р.") != std::string::npos;
        };
    };
    EXPECT_TRUE(Until(balanceRow("t3.bin"), 35s)) << "modem 1's balance" << ReadFileBytes(log);
    EXPECT_TRUE(Until(balanceRow("t6.bin"), 35s)) << "modem 2's balance" << ReadFileBytes(log);

    receiver.Signal(SIGTERM);
    ASSERT_EQ(receiver.WaitExit(15s), 0) << ReadFileBytes(log);

    MemTable events, dial;
    ASSERT_NO_THROW(TableFormat().Load(events, (data / "t3.bin").string()));
    ASSERT_NO_THROW(TableFormat().Load(dial, (data / "t6.bin").string()));
    const std::vector<JournalRow> rows = NewestRows(events, events.RecordCount());
    for (const Expected& e : expected) {
        std::vector<JournalRow> of;
        for (const JournalRow& row : rows)
            if (row.event == Utf8ToCp1251("Новое сообщение:" + e.text))
                of.push_back(row);
        ASSERT_EQ(of.size(), 1u) << e.text << Describe(rows);
        EXPECT_EQ(of[0].status, e.status) << e.text;
        EXPECT_EQ(of[0].tel, e.number) << e.text;
        EXPECT_EQ(of[0].simplename, e.shortName) << e.text;
    }
    const JournalRow call{Str(status::kAlarm), "+79120000002", Str("\"ТРЕВОГА\" - входящий вызов с телефона"_cp),
                          Str("Дача"_cp)};
    EXPECT_EQ(std::count(rows.begin(), rows.end(), call), 1) << Describe(rows);
    for (const JournalRow& row : rows)
        EXPECT_NE(row.event, Str("Ошибка в SMS-сообщении:"_cp)) << Describe(rows);
    const JournalRow balance1{Str(status::kBalance), Str("GSM-модем №1"_cp), Str("Баланс: 150.00 р."_cp), "        "};
    EXPECT_EQ(std::count(rows.begin(), rows.end(), balance1), 1) << Describe(rows);
    int answered = 0;
    for (const JournalRow& row : NewestRows(dial, dial.RecordCount())) {
        EXPECT_TRUE(row.tel != kRingedNumber || row.status == status::kOnline) << Describe(NewestRows(dial, 20));
        answered += row.tel == kRingedNumber && row.event == "Дозвон завершен успешно"_cp;
    }
    EXPECT_GE(answered, 1) << Describe(NewestRows(dial, 20));
    std::cout << "[ figures  ] receiver, " << GetParam() << ": a burst of twenty journalled in " << burstTime.count()
              << " ms\n";
}

// Long reports as the devices send them, in parts: a battery warning whose
// marker spans two parts, an alarm in three parts (16-bit reference) stored
// 3, 1, 2, a report whose first part comes twice, and one whose middle part
// never comes. Each is journalled once, as one row; the incomplete one after
// the wait, with the note; and the SIM is empty at the end.
class LongReports : public ::testing::TestWithParam<const char*> {};

TEST_P(LongReports, AreJoinedAndJournalledOnce)
{
    TempDir dir;
    ModemSimOptions options;
    options.linkDir = (dir.path() / "links").string();
    options.family = GetParam();
    ModemSim sim(options);
    const std::vector<Reporter> reporters = {{Str("Гараж"_cp), "+79120000001"}, {Str("Дача"_cp), "+79120000002"},
                                             {Str("Котельная"_cp), "+79120000003"}};
    LiveStation live(dir.path(), sim, reporters);
    ASSERT_TRUE(live.Started()) << live.TechnoTail(40);
    MemTable& events = live.form().EventsTable;
    auto rowsOf = [&](const std::string& textUtf8) {
        const std::string event = Utf8ToCp1251("Новое сообщение:" + textUtf8);
        std::vector<JournalRow> rows;
        for (const JournalRow& row : NewestRows(events, events.RecordCount()))
            if (row.event == event)
                rows.push_back(row);
        return rows;
    };

    const std::string battery = "Котельная, ул. Садовая 12, щит 3. Внимание, аккумулятор разряжен, "
                                "напряжение на АКБ ниже 10 вольт. Проверьте зарядное устройство.";
    const std::string alarm = "Гараж-бокс 117, ГСК Северный, секция 4, въезд со стороны реки. Внимание, "
                              "сработал датчик движения в зоне 2 (ворота), затем в зоне 3 (смотровая яма), "
                              "охрана уведомлена.";
    const std::string twice = "Дача, СНТ Рассвет, участок 48: Поставлено на охрану, все датчики в норме, "
                              "напряжение сети 228 В, температура в доме плюс 6 градусов.";
    const std::string gapped = "Склад №2: Снято с охраны оператором. Связь устойчивая, уровень сигнала "
                               "хороший, напряжение питания 12,6 В, температура 18 градусов, датчики 1-8 "
                               "в норме, очередной отчет через сутки.";
    sim.Command("longsms 1 +79120000003 coding=ucs2 " + battery);
    sim.Command("longsms 1 +79120000001 bits=16 coding=ucs2 order=3,1,2 " + alarm);
    sim.Command("longsms 1 +79120000002 coding=ucs2 order=1,1,2 " + twice);
    const auto gappedSent = Clock::now();
    sim.Command(std::string("longsms 1 ") + kReporterNumber + " coding=ucs2 order=1,3 " + gapped);

    const std::pair<const std::string*, std::string_view> whole[] = {
        {&battery, status::kInfoSms}, {&alarm, status::kAlarm}, {&twice, status::kArmed}};
    for (const auto& [text, status] : whole) {
        ASSERT_TRUE(Until([&] { return !rowsOf(*text).empty(); }, 20s)) << *text << live.TechnoTail(60);
        EXPECT_EQ(rowsOf(*text).front().status, status) << *text;
    }
    EXPECT_TRUE(Until([&] { return live.Guard(Str("Гараж"_cp)) == 3; }, 2s)) << "the alarm's tile";
    EXPECT_EQ(live.Info(Str("Котельная"_cp)), 6) << "the battery warning on its tile";

    // The incomplete one: not before the wait, then with what it has.
    const std::string note = "(неполное сообщение: части 1, 3 из 3)";
    auto gappedRow = [&]() -> std::optional<JournalRow> {
        for (const JournalRow& row : NewestRows(events, events.RecordCount()))
            if (row.tel == kReporterNumber && row.event.find(Utf8ToCp1251(note)) != std::string::npos)
                return row;
        return std::nullopt;
    };
    ASSERT_TRUE(Until([&] { return gappedRow().has_value(); }, 25s)) << live.TechnoTail(60);
    EXPECT_GE(Clock::now() - gappedSent, 10s) << "journalled before the wait was over";
    EXPECT_EQ(gappedRow()->status, Str(status::kDisarmed)) << "classified by the parts it has";
    EXPECT_EQ(gappedRow()->event.rfind(Utf8ToCp1251("Новое сообщение:Склад №2: Снято с охраны"), 0), 0u);

    ServeFor(1s);
    for (const auto& [text, status] : whole)
        EXPECT_EQ(rowsOf(*text).size(), 1u) << *text << Describe(rowsOf(*text));
    int rowsOfGapped = 0;
    for (const JournalRow& row : NewestRows(events, events.RecordCount())) {
        EXPECT_NE(row.event, Str("Ошибка в SMS-сообщении:"_cp)) << Describe(NewestRows(events, 30));
        rowsOfGapped += row.tel == kReporterNumber && row.event.rfind(Utf8ToCp1251("Новое сообщение:"), 0) == 0;
    }
    EXPECT_EQ(rowsOfGapped, 1) << Describe(NewestRows(events, 30));
    EXPECT_TRUE(Until([&] { return StoredTexts(sim).empty() && sim.Command("network 1").empty(); }, 10s))
        << "left in the SIM";
}

const char* const kFamilies[] = {"sim800", "huawei", "siemens", "quectel", "wavecom", "cinterion", "telit", "lte"};
INSTANTIATE_TEST_SUITE_P(EveryFamily, FamilyJourney, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param); });
INSTANTIATE_TEST_SUITE_P(EveryFamily, ReceiverJourney, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param); });
// The lte family drops the header in text mode: only the PDU links its parts.
INSTANTIATE_TEST_SUITE_P(EveryFamily, LongReports, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
} // namespace kv::test
