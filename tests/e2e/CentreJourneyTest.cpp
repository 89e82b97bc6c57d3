// Two korvalen-receiver processes, each with its own simulated modems and
// folder, forwarding to one throw-away PostgreSQL (tests/centre/with-postgres.sh):
// a burst of reports spread over both reaches the centre's events exactly
// once, also when the database stops hard in the middle of it and comes back;
// an alarm nobody handles is escalated by one receiver only, and its handling
// by a desk of a receiver's name is in that receiver's journal once.
#include "centre/AlarmQueue.h"
#include "centre/Pg.h"
#include "data/DurableJournal.h"
#include "data/MemTable.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TableFormat.h"
#include "tests/centre/TestCluster.h"
#include "tests/e2e/StationProcess.h"
#include "tests/support/Cp1251.h"
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kStarted = "Приёмник запущен: модем 1 ";
constexpr const char* kNorthDevice = "+79111111111";
constexpr const char* kSouthDevice = "+79222222222";

// One receiver: its folder, its modems, its process.
struct Receiver {
    Receiver(const std::string& name, const std::string& conninfo, const std::string& escalation)
        : data(dir.path() / "data"), sim(LinkedModems(dir))
    {
        fs::create_directories(data);
        // The centre keeps one register: each receiver's files hold both devices.
        WriteStationTables(data, kNorthDevice, "Оператор", "1234", 0, {{Utf8ToCp1251("Цех"), kSouthDevice}});
        WriteStationConfig(data, sim.Path(1), sim.Path(2));
        std::ofstream ini(data / "config.ini", std::ios::binary | std::ios::app);
        ini << "[Database]\r\nConnection=" << conninfo << "\r\nStation=" << Utf8ToCp1251(name) << "\r\n";
        if (!escalation.empty())
            ini << "[Escalation]\r\nMinutes=0.05\r\nNumbers=" << escalation << "\r\n";
    }
    void Start() { process.Start(ReceiverCommand(data), data, {}, log); }
    std::string Log() const { return ReadFileBytes(log); }
    void Stop()
    {
        process.Signal(SIGTERM);
        EXPECT_EQ(process.WaitExit(20s), 0) << Log();
    }
    int JournalRows() const
    {
        MemTable events;
        TableFormat().Load(events, (data / "t3.bin").string());
        return events.RecordCount();
    }
    // The "Обработка" rows of its main journal, those not yet folded in too.
    int Handlings() const
    {
        MemTable events;
        DurableJournal::ReadWithLog(events, (data / "t3.bin").string(), TableFormat());
        int n = 0;
        for (int i = 0; i < events.RecordCount(); ++i)
            n += events.TextAt(i, journal::Status) == status::kHandling;
        return n;
    }
    int SmsTo(const std::string& number)
    {
        int n = 0;
        for (const std::string& line : sim.Command("outbox 1"))
            n += line.find(" " + number + " ") != std::string::npos;
        return n;
    }

    TempDir dir;
    fs::path data;
    fs::path log = dir.path() / "receiver.log";
    ModemSim sim;
    StationProcess process;
};

class CentreJourney : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(TestServer().empty()) << "run through tests/centre/with-postgres.sh";
        conninfo = FreshTestDatabase("kv_journey_");
    }
    // A count from the centre; -1 while it cannot be reached.
    long long Count(const std::string& sql, const std::vector<pg::Param>& params = {})
    {
        try {
            pg::Connection db(conninfo, 2s);
            db.Connect();
            return db.Exec(sql, params).Integer(0, 0);
        } catch (const pg::Error&) {
            return -1;
        }
    }
    std::unique_ptr<Receiver> Make(const std::string& name, const std::string& escalation = {})
    {
        return std::make_unique<Receiver>(name, conninfo, escalation);
    }

    std::string conninfo;
};

TEST_F(CentreJourney, EveryReportOfTwoReceiversIsInTheCentreOnceAlsoAcrossAHardStopOfTheDatabase)
{
    constexpr int kPerReceiver = 100;
    auto north = Make("Приёмник 1");
    auto south = Make("Приёмник 2");
    north->Start();
    south->Start();
    ASSERT_TRUE(PollUntil([&] { return north->Log().find(kStarted) != std::string::npos; }, 30s)) << north->Log();
    ASSERT_TRUE(PollUntil([&] { return south->Log().find(kStarted) != std::string::npos; }, 30s)) << south->Log();

    const std::string reportCount =
        "SELECT count(*) FROM events WHERE station = $1 AND journal = 'main' AND event LIKE '%отчёт №%'";
    const std::string distinctCount =
        "SELECT count(DISTINCT event) FROM events WHERE station = $1 AND journal = 'main' AND event LIKE '%отчёт №%'";
    for (int i = 1; i <= kPerReceiver; ++i) {
        north->sim.Command("sms 1 +79111111111 Поставлено на охрану, отчёт №" + std::to_string(i));
        south->sim.Command("sms 1 +79222222222 Снято с охраны, отчёт №" + std::to_string(i));
        if (i == kPerReceiver / 2) {
            // Some of the first half are in, the rest wait on the receivers' disks.
            ASSERT_TRUE(PollUntil([&] { return Count(reportCount, {"Приёмник 1"}) > 0; }, 30s));
            ControlServer("stop -m immediate");
        }
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(2s); // the receivers go on journalling without the centre
    ControlServer("start -w -l server.log");
    for (const char* station : {"Приёмник 1", "Приёмник 2"})
        EXPECT_TRUE(PollUntil([&] { return Count(reportCount, {station}) == kPerReceiver; }, 90s))
            << station << ": " << Count(reportCount, {station}) << "\n" << north->Log() << south->Log();
    north->Stop();
    south->Stop();
    for (const auto& [station, receiver] : {std::pair{"Приёмник 1", north.get()}, std::pair{"Приёмник 2", south.get()}}) {
        EXPECT_EQ(Count(reportCount, {station}), kPerReceiver) << station;
        EXPECT_EQ(Count(distinctCount, {station}), kPerReceiver) << station << ": each report once";
        // Every row of the journal, and only those: the close's rows too, sent by the stop.
        EXPECT_EQ(Count("SELECT count(*) FROM events WHERE station = $1 AND journal = 'main'", {station}),
                  receiver->JournalRows())
            << station;
    }
}

TEST_F(CentreJourney, AnAlarmNobodyHandlesIsEscalatedByOneReceiverOnly)
{
    const std::string responder = "+79990000001";
    auto first = Make("Приёмник 1", responder);
    auto second = Make("Приёмник 2", responder);
    first->Start();
    second->Start();
    ASSERT_TRUE(PollUntil([&] { return first->Log().find(kStarted) != std::string::npos; }, 30s)) << first->Log();
    ASSERT_TRUE(PollUntil([&] { return second->Log().find(kStarted) != std::string::npos; }, 30s)) << second->Log();
    ASSERT_TRUE(PollUntil([&] { return Count("SELECT count(*) FROM stations WHERE modem1_up") == 2; }, 30s));

    const std::string alarm = std::string("Вним") + "a" + "ние Т" + "PEB" + "ОГА! Зона 2";
    second->sim.Command("sms 1 +79222222222 " + alarm);
    ASSERT_TRUE(PollUntil([&] { return first->SmsTo(responder) + second->SmsTo(responder) > 0; }, 40s))
        << first->Log() << second->Log();
    std::this_thread::sleep_for(12s); // another claim round of both: nothing more
    EXPECT_EQ(first->SmsTo(responder), 1) << "the first receiver by name with its modem up sends it";
    EXPECT_EQ(second->SmsTo(responder), 0) << "the receiver that took the alarm leaves it to the centre";
    EXPECT_EQ(Count("SELECT count(*) FROM alarms WHERE escalated_at IS NOT NULL"), 1);
    first->Stop();

    // The windows program of the second receiver's name closes the alarm at
    // its desk and is killed before it journals the close: its next start
    // journals it, once, and the centre keeps one "Обработка" row.
    second->process.Kill();
    {
        pg::Connection db(conninfo);
        db.Connect();
        centre::AlarmQueue desk(db, Utf8ToCp1251("Приёмник 2"));
        const long long id = db.Exec("SELECT id FROM alarms").Integer(0, 0);
        const std::string op = Utf8ToCp1251("Оператор");
        ASSERT_TRUE(desk.Take(id, op).taken);
        ASSERT_TRUE(desk.Close(id, op, Utf8ToCp1251("Ложная тревога"), "", Utf8ToCp1251("Обработано: Ложная тревога")));
    }
    const std::string handlings = "SELECT count(*) FROM events WHERE status = 'Обработка'";
    for (int run = 0; run < 2; ++run) {
        const long long before = Count("SELECT extract(epoch FROM now())::bigint");
        second->Start();
        // Connected (its heartbeat, then the look for closes left out), and the copy marked.
        EXPECT_TRUE(PollUntil(
            [&] {
                return Count("SELECT count(*) FROM stations WHERE name = 'Приёмник 2' AND heartbeat >= "
                             "to_timestamp($1::bigint)",
                             {std::to_string(before)}) == 1 &&
                       Count("SELECT count(*) FROM events WHERE main_seq > 0") == 1;
            },
            30s))
            << second->Log();
        std::this_thread::sleep_for(1s); // time enough to journal and send a second copy, were there one
        second->Stop();
        EXPECT_EQ(second->Handlings(), 1) << "run " << run;
        EXPECT_EQ(Count(handlings), 1) << "run " << run;
    }
}

} // namespace
} // namespace kv::test
