// The station as a program of its own with a failing disk played under it (a
// preloaded shim on its regular files): a write of the journal's log that comes
// up short, syncs that fail for a while, a full disk with nobody at the desk.
// Whatever the disk did, once it works again every report is journalled
// exactly once, the reports held meanwhile leave the SIM, and new ones are read.
#include "data/MemTable.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "tests/e2e/StationProcess.h"
#include "tests/support/Cp1251.h"
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <thread>

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kSender = "+79111111111";

class DiskFaults : public ::testing::Test {
protected:
    DiskFaults() : program(dir.path() / "station"), sim(LinkedModems(dir))
    {
        InstallStation(program);
        WriteStationTables(program, kSender, "Оператор", "1234", 100);
        WriteStationConfig(program, sim.Path(1), sim.Path(2));
        Faults("ok");
    }
    ~DiskFaults() override
    {
        if (station.Started())
            station.Kill();
    }

    void Faults(const std::string& text) { std::ofstream(control, std::ios::trunc) << text; }

    void Start()
    {
        std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
        station.Start(program,
                      {"KORVALEN_AUTOSTART=Оператор:1234",
                       "LD_PRELOAD=" + (BuildBinDir() / "kv_disk_fault_shim.so").string(),
                       "KV_DISK_FAULTS=" + control.string(), "KV_CLOCK_OFFSET=" + std::to_string(clockOffset),
                       // The shim comes before the sanitizer's runtime in a sanitized build.
                       "ASAN_OPTIONS=" + asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0"},
                      dir.path() / "station.log");
        const std::size_t before = sim.SentLines(1).size();
        ASSERT_TRUE(WaitUntil(40s, [&] {
            const auto& sent = sim.SentLines(1);
            for (std::size_t i = before; i < sent.size(); ++i)
                if (sent[i] == "AT\\r")
                    return true;
            return false;
        })) << "modem 1 never set up; see " << dir.path() / "station.log";
    }

    static bool WaitUntil(std::chrono::milliseconds limit, const std::function<bool()>& done)
    {
        for (const auto start = Clock::now(); Clock::now() - start < limit;) {
            if (done())
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return done();
    }

    void Send(const std::string& text) { sim.Command("sms 1 " + std::string(kSender) + " " + text); }

    // The texts in the SIM; `read`: only those the station has read.
    std::set<std::string> InSim(bool read = false)
    {
        std::set<std::string> texts;
        for (const std::string& line : sim.Command("sim 1")) {
            // "<index> <REC UNREAD|REC READ> <number> <text>"
            const std::size_t status = line.find(' ');
            if (status == std::string::npos)
                continue;
            const bool isRead = line.compare(status + 1, 9, "REC READ ") == 0;
            const std::size_t number = line.find(' ', status + (isRead ? 9 : 11)) + 1;
            const std::size_t end = line.find(' ', number);
            if (number != 0 && end != std::string::npos && (isRead || !read))
                texts.insert(line.substr(end + 1));
        }
        return texts;
    }

    bool Gone(const std::vector<std::string>& texts, std::chrono::milliseconds limit)
    {
        return WaitUntil(limit, [&] {
            const std::set<std::string> left = InSim();
            for (const std::string& t : texts)
                if (left.count(t))
                    return false;
            return sim.Command("network 1").empty();
        });
    }

    // Whether the technological journal's file (UTF-8) holds a line with `text`.
    bool TechnoHas(const std::string& text)
    {
        std::ifstream in(program / "techno.log");
        for (std::string line; std::getline(in, line);)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    void CloseCleanly()
    {
        station.Signal(SIGTERM);
        EXPECT_EQ(station.WaitExit(20s), 0) << "see " << dir.path() / "station.log";
    }

    // How often each report is in "t3.bin".
    void ExpectJournalledOnce(const std::vector<std::string>& texts)
    {
        MemTable events;
        ASSERT_NO_THROW(TableFormat().Load(events, (program / "t3.bin").string()));
        for (const std::string& t : texts) {
            const std::string event = Utf8ToCp1251("Новое сообщение:" + t);
            int n = 0;
            for (int r = 0; r < events.RecordCount(); ++r)
                n += events.TextAt(r, journal::Event) == event ? 1 : 0;
            EXPECT_EQ(n, 1) << t;
        }
    }

    TempDir dir;
    fs::path program;
    ModemSim sim;
    fs::path control = dir.path() / "disk-faults";
    long long clockOffset = 0; // seconds the station's wall clock is moved
    StationProcess station;
};

TEST_F(DiskFaults, AShortLogWriteThenAKillLosesNoLaterReport)
{
    Start();
    ASSERT_FALSE(HasFatalFailure());
    Send("Поставлено на охрану A1");
    ASSERT_TRUE(Gone({"Поставлено на охрану A1"}, 20s));
    Faults("room 40"); // A2's entry goes in part, then the disk is full
    Send("Снято с охраны A2");
    ASSERT_TRUE(WaitUntil(15s, [&] { return InSim(true).count("Снято с охраны A2") > 0; }));
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(InSim().count("Снято с охраны A2")) << "its row is not on disk: it stays in the SIM";
    Faults("ok");
    Send("Внимание Пожар! A3");
    Send("Поставлено на охрану A4");
    ASSERT_TRUE(Gone({"Снято с охраны A2", "Внимание Пожар! A3", "Поставлено на охрану A4"}, 25s));
    EXPECT_TRUE(TechnoHas("red Ошибка записи журнала: нет места на диске"));
    EXPECT_TRUE(WaitUntil(2s, [&] { return TechnoHas("green Запись журнала восстановлена"); }));
    EXPECT_EQ(station.Kill(), 128 + SIGKILL);

    Start();
    ASSERT_FALSE(HasFatalFailure());
    CloseCleanly();
    ExpectJournalledOnce({"Поставлено на охрану A1", "Снято с охраны A2", "Внимание Пожар! A3", "Поставлено на охрану A4"});
}

TEST_F(DiskFaults, SyncsFailingForAWhileHoldTheReportsThenReleaseThem)
{
    Start();
    ASSERT_FALSE(HasFatalFailure());
    Faults("eio");
    Send("Поставлено на охрану B1");
    Send("Снято с охраны B2");
    ASSERT_TRUE(WaitUntil(15s, [&] { return InSim(true).size() == 2; }));
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(InSim().size(), 2u) << "held in the SIM while their rows are not on disk";
    Faults("ok");
    const auto recovered = Clock::now();
    ASSERT_TRUE(Gone({"Поставлено на охрану B1", "Снято с охраны B2"}, 25s)) << "held reports never released";
    std::cout << "[ figures  ] held reports out of the SIM "
              << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - recovered).count()
              << " ms after the disk recovered\n";
    Send("Поставлено на охрану B3");
    ASSERT_TRUE(Gone({"Поставлено на охрану B3"}, 20s)) << "no new report read after the disk came back";
    EXPECT_TRUE(TechnoHas("red Ошибка записи журнала: ошибка ввода-вывода"));
    EXPECT_TRUE(TechnoHas("green Запись журнала восстановлена"));
    CloseCleanly();
    ExpectJournalledOnce({"Поставлено на охрану B1", "Снято с охраны B2", "Поставлено на охрану B3"});
}

TEST_F(DiskFaults, AFullDiskWithNobodyAtTheDeskStopsNothingOnceSpaceReturns)
{
    Start();
    ASSERT_FALSE(HasFatalFailure());
    Faults("full");
    Send("Поставлено на охрану C1");
    // Long enough for the tile states' save to fail too (every 5 s).
    std::this_thread::sleep_for(7s);
    EXPECT_TRUE(InSim().count("Поставлено на охрану C1"));
    Faults("ok");
    Send("Снято с охраны C2");
    ASSERT_TRUE(Gone({"Поставлено на охрану C1", "Снято с охраны C2"}, 25s)) << "reception stopped at the full disk";
    // The red lines went while nothing could be written; the green ones say it ended.
    EXPECT_TRUE(WaitUntil(2s, [&] { return TechnoHas("green Запись журнала восстановлена"); }));
    EXPECT_TRUE(TechnoHas("green Состояния объектов снова сохраняются"));
    CloseCleanly();
    ExpectJournalledOnce({"Поставлено на охрану C1", "Снято с охраны C2"});
}

TEST_F(DiskFaults, AReportKilledAtItsDeleteIsJournalledOnceWithTheClockAnHourBack)
{
    Start();
    ASSERT_FALSE(HasFatalFailure());
    Faults("killdelete"); // its row is on disk before the delete goes out
    Send("Внимание ТРЕВОГА D1");
    ASSERT_EQ(station.WaitExit(20s), 128 + SIGKILL) << "the delete never went out";
    EXPECT_TRUE(InSim().count("Внимание ТРЕВОГА D1"));
    Faults("ok");
    clockOffset = -3600;
    Start();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(Gone({"Внимание ТРЕВОГА D1"}, 20s));
    CloseCleanly();
    ExpectJournalledOnce({"Внимание ТРЕВОГА D1"});

    // The restart's own rows, newer than the report's, carry times an hour older.
    MemTable events;
    ASSERT_NO_THROW(TableFormat().Load(events, (program / "t3.bin").string()));
    const std::string event = Utf8ToCp1251("Новое сообщение:Внимание ТРЕВОГА D1");
    int report = 0;
    while (report < events.RecordCount() && events.TextAt(report, journal::Event) != event)
        ++report;
    ASSERT_GT(report, 0);
    EXPECT_LT(events.DateTimeAt(0, journal::EventTime), events.DateTimeAt(report, journal::EventTime) - 0.9 / 24)
        << "the clock was not set back";
}

} // namespace
} // namespace kv::test
