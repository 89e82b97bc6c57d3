// The centre on a primary and its hot standby: tests/centre/with-standby.sh
// starts both (synchronous streaming replication) and names them in
// KV_TEST_PG (the pair, writable one first), KV_TEST_PG_PRIMARY,
// KV_TEST_PG_STANDBY, and how to lose the primary and promote the standby in
// KV_TEST_PG_FAILOVER.
#include "centre/AlarmQueueWorker.h"
#include "centre/Forwarder.h"
#include "centre/Pg.h"
#include "centre/Utf8.h"
#include "data/DurableJournal.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "tests/e2e/StationProcess.h"
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using namespace kv::literals;
namespace pg = kv::pg;
using Clock = std::chrono::steady_clock;

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

long long MsSince(Clock::time_point from)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count();
}

// Holds the forwarder after a commit and before its mark, while the test looks.
class Gate {
public:
    void Pass()
    {
        std::unique_lock lock(m_lock);
        if (!m_closed)
            return;
        m_parked = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return !m_closed; });
        m_parked = false;
    }
    void Close()
    {
        std::lock_guard lock(m_lock);
        m_closed = true;
    }
    bool WaitParked(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, limit, [&] { return m_parked; });
    }
    void Open()
    {
        std::lock_guard lock(m_lock);
        m_closed = false;
        m_changed.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_closed = false;
    bool m_parked = false;
};

// The receiver's main journal in the test's folder, as its core keeps it.
struct ReceiverFiles {
    ReceiverFiles()
    {
        kv::DefineJournal(main);
        kv::DefineJournal(ring);
        mainLog.Open("empty", nullptr, 45000.0);
        ringLog.Open("empty", nullptr, 45000.0);
    }
    // Every fifth row a device's alarm, which opens one at the centre.
    void Post(int n)
    {
        const bool alarm = n % 5 == 0;
        const std::string tel = "+7900100" + std::to_string(1000 + n);
        kv::RecordEvent(main, alarm ? kv::status::kAlarm : kv::status::kArmed, tel,
                        kv::Str("Новое сообщение:"_cp) + "r" + std::to_string(n),
                        [n](const std::string&) { return kv::Str("Объект "_cp) + std::to_string(n); },
                        kv::LocalNow());
        mainLog.SyncNow();
    }
    std::vector<kv::centre::ForwardedJournal> Journals() { return {{"main", "t3.bin", &mainLog}, {"ring", "t6.bin", &ringLog}}; }

    kv::TableFormat format;
    kv::MemTable main{"EventsTable"}, ring{"DialEventsTable"};
    kv::DurableJournal mainLog{main, "t3.bin", format}, ringLog{ring, "t6.bin", format};
};

// A query on a connection of its own; nullopt while the server cannot answer.
std::optional<pg::Result> TryQuery(const std::string& conninfo, const std::string& sql)
{
    try {
        pg::Connection c(conninfo, 2s);
        c.Connect();
        return c.Exec(sql);
    } catch (const pg::Error&) {
        return std::nullopt;
    }
}

// A pair is promoted once: each test that promotes runs on a pair of its own.
bool StandbyStillStandsBy()
{
    const auto r = TryQuery(Env("KV_TEST_PG_STANDBY") + " dbname=postgres", "SELECT pg_is_in_recovery()");
    return r && r->Text(0, 0) == "t";
}

// A key's value in a "key=value ..." string without quotes.
std::string Field(const std::string& conninfo, const std::string& key)
{
    const std::size_t at = conninfo.find(key + "=");
    if (at == std::string::npos)
        return {};
    const std::size_t from = at + key.size() + 1;
    return conninfo.substr(from, conninfo.find(' ', from) - from);
}

TEST(Standby, AServerThatNeverAnswersCostsItsTimeOutOnceNotAtEveryConnection)
{
    const std::string pair = Env("KV_TEST_PG");
    ASSERT_FALSE(pair.empty()) << "run through tests/centre/with-standby.sh";
    // A machine gone silent: the handshake is the system's, no answer follows.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 8), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string conninfo = "host=127.0.0.1," + Field(pair, "host") + " port=" +
                                 std::to_string(ntohs(address.sin_port)) + "," + Field(pair, "port") +
                                 " user=postgres dbname=postgres connect_timeout=2 target_session_attrs=read-write";
    pg::Connection db(conninfo);
    auto started = Clock::now();
    db.Connect();
    EXPECT_GE(MsSince(started), 1500) << "the silent server was tried first";
    EXPECT_EQ(db.Exec("SELECT pg_is_in_recovery()").Text(0, 0), "f");
    for (int again = 0; again < 2; ++again) {
        db.Disconnect();
        started = Clock::now();
        db.Connect();
        EXPECT_LT(MsSince(started), 1000) << "straight to the server that answered";
    }
    ::close(silent);
}

TEST(Standby, AReceiverAndADeskGoOnWithThePromotedStandbyAndLoseNoCommittedRow)
{
    const std::string pair = Env("KV_TEST_PG"), standby = Env("KV_TEST_PG_STANDBY"),
                      failover = Env("KV_TEST_PG_FAILOVER");
    ASSERT_FALSE(pair.empty() || standby.empty() || failover.empty()) << "run through tests/centre/with-standby.sh";
    ASSERT_TRUE(StandbyStillStandsBy()) << "promoted already: one promoting test a pair (--gtest_filter)";
    {
        pg::Connection admin(pair + " dbname=postgres");
        admin.Connect();
        admin.ExecScript("CREATE DATABASE kv_standby");
        // A commit waits for the standby's disk: what a station was told is
        // committed is there when the standby takes over.
        EXPECT_EQ(admin.Exec("SELECT coalesce(string_agg(sync_state, ','), 'none') FROM pg_stat_replication").Text(0, 0),
                  "sync");
    }
    const std::string conninfo = pair + " dbname=kv_standby";
    const std::string onStandby = standby + " dbname=kv_standby";

    kv::test::TempDir dir;
    ReceiverFiles files;
    Gate gate;
    kv::centre::ForwarderOptions options;
    options.connection = conninfo;
    options.station = "Приёмник 1";
    options.retryFirst = 20ms;
    options.retryMax = 200ms;
    options.batch = 5;
    options.afterCommit = [&gate] { gate.Pass(); };
    kv::centre::Forwarder forwarder(options, files.Journals());
    forwarder.Start();

    // The first third, then the rest once the gate is closed: rows still come
    // for the forwarder to commit and be held at, however slow the machine.
    constexpr int kRows = 150;
    std::atomic<int> posted{0};
    std::atomic<bool> gateClosed{false};
    std::thread receiver([&] {
        for (int n = 1; n <= kRows; ++n) {
            if (n == kRows / 3 + 1)
                for (const auto until = Clock::now() + 30s; !gateClosed && Clock::now() < until;)
                    std::this_thread::sleep_for(5ms);
            files.Post(n);
            posted = n;
            std::this_thread::sleep_for(8ms);
        }
    });

    // The desk takes and closes every alarm it finds, going on after failures.
    kv::centre::AlarmQueueWorker desk(conninfo, kv::Str("Пульт 1"_cp), [](std::function<void()> answer) { answer(); });
    const std::string op = kv::Str("Иванов"_cp);
    std::mutex deskLock;
    std::vector<Clock::time_point> deskAnswered; // each call that went through
    std::vector<long long> closedByDesk;
    std::atomic<int> deskFailures{0};
    std::atomic<bool> deskStop{false};
    std::thread deskThread([&] {
        while (!deskStop) {
            const auto open = TryQuery(conninfo, "SELECT id FROM alarms WHERE state <> 'closed' ORDER BY id");
            if (!open || open->Rows() == 0) {
                std::this_thread::sleep_for(20ms);
                continue;
            }
            for (int i = 0; i < open->Rows() && !deskStop; ++i) {
                const long long id = open->Integer(i, 0);
                std::promise<std::string> took;
                desk.Take(id, op, [&](bool taken, const std::string&, const std::string& error) {
                    took.set_value(!error.empty() ? "error" : taken ? "taken" : "lost");
                });
                const std::string t = took.get_future().get();
                if (t == "error") {
                    ++deskFailures;
                    std::this_thread::sleep_for(20ms);
                    break;
                }
                if (t != "taken")
                    continue;
                std::promise<std::string> closing;
                desk.Close(id, op, kv::Str("Ложная тревога"_cp), "", kv::Str("Обработано: Ложная тревога"_cp),
                           [&](bool done, const std::string& error, const kv::centre::ClosedRow&) {
                               closing.set_value(!error.empty() ? "error" : done ? "closed" : "refused");
                           });
                const std::string c = closing.get_future().get();
                std::lock_guard lock(deskLock);
                if (c == "closed") {
                    closedByDesk.push_back(id);
                    deskAnswered.push_back(Clock::now());
                } else if (c == "error") {
                    ++deskFailures;
                }
            }
        }
    });
    struct Join {
        std::thread& receiver;
        std::thread& desk;
        std::atomic<bool>& stop;
        std::atomic<bool>& gateClosed;
        Gate& gate;
        ~Join()
        {
            stop = true;
            gateClosed = true; // a test ended early does not keep the receiver waiting
            gate.Open();
            if (receiver.joinable())
                receiver.join();
            if (desk.joinable())
                desk.join();
        }
    } join{receiver, deskThread, deskStop, gateClosed, gate};

    // A third of the way in, the forwarder is held with a batch committed but
    // not marked, and the primary goes as in a crash.
    auto until = Clock::now() + 20s;
    while (posted < kRows / 3 && Clock::now() < until)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(forwarder.WaitCaughtUp(10s));
    until = Clock::now() + 10s;
    while (Clock::now() < until) {
        std::unique_lock lock(deskLock);
        if (!closedByDesk.empty())
            break;
        lock.unlock();
        std::this_thread::sleep_for(5ms);
    }
    gate.Close();
    gateClosed = true;
    ASSERT_TRUE(gate.WaitParked(10s));
    const std::string closedSql = "SELECT string_agg(id || ' ' || closed_by, ',' ORDER BY id) FROM alarms "
                                  "WHERE state = 'closed'";
    const auto before = TryQuery(conninfo, "SELECT (SELECT max(seq) FROM events WHERE journal = 'main'), (" +
                                               closedSql + "), (SELECT string_agg(id::text, ',') FROM alarms "
                                               "WHERE state = 'closed'), (SELECT count(*) FROM events WHERE journal = 'desk')");
    ASSERT_TRUE(before);
    const long long committed = before->Integer(0, 0);
    const std::string closedBefore = before->Text(0, 1), closedIds = before->Text(0, 2);
    const long long deskRowsBefore = before->Integer(0, 3);
    ASSERT_GT(committed, 0);
    ASSERT_FALSE(closedBefore.empty());
    const auto lost = Clock::now();
    ASSERT_EQ(std::system(failover.c_str()), 0);
    const auto promoted = Clock::now();
    std::cout << "failover (stop and promote): " << std::chrono::duration_cast<std::chrono::milliseconds>(promoted - lost).count()
              << " ms\n";

    // On the promoted standby itself, before the held forwarder could send anything again.
    const auto after = TryQuery(onStandby, "SELECT pg_is_in_recovery(), (SELECT count(*) FROM events WHERE journal = "
                                           "'main' AND seq <= " + std::to_string(committed) + "), (" + closedSql +
                                               " AND id IN (" + closedIds + ")), (SELECT count(*) FROM events "
                                               "WHERE journal = 'desk')");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->Text(0, 0), "f") << "promoted";
    EXPECT_EQ(after->Integer(0, 1), committed) << "every committed row of the receiver";
    EXPECT_EQ(after->Text(0, 2), closedBefore) << "every alarm a desk closed, closed by the same operator";
    EXPECT_GE(after->Integer(0, 3), deskRowsBefore);
    gate.Open();

    // Both find the new primary by themselves and go on.
    receiver.join();
    const long long lastPosted = MsSince(promoted);
    ASSERT_TRUE(forwarder.WaitCaughtUp(20s));
    const long long forwarderBack = MsSince(promoted);
    until = Clock::now() + 20s;
    bool allClosed = false;
    while (!allClosed && Clock::now() < until) {
        const auto open = TryQuery(conninfo, "SELECT count(*) FROM alarms WHERE state <> 'closed'");
        allClosed = open && open->Integer(0, 0) == 0;
        if (!allClosed)
            std::this_thread::sleep_for(20ms);
    }
    deskStop = true;
    deskThread.join();
    EXPECT_TRUE(allClosed);
    long long deskBack = -1;
    {
        std::lock_guard lock(deskLock);
        for (const Clock::time_point at : deskAnswered)
            if (at > promoted) {
                deskBack = std::chrono::duration_cast<std::chrono::milliseconds>(at - promoted).count();
                break;
            }
    }
    std::cout << "after the promotion: the receiver posted its last row at " << lastPosted
              << " ms, the forwarder had sent it at " << forwarderBack << " ms; the desk closed an alarm after " << deskBack << " ms (" << deskFailures
              << " calls failed meanwhile)\n";
    EXPECT_GE(deskBack, 0) << "the desk went on";
    EXPECT_LT(deskBack, 10000);
    EXPECT_LT(forwarderBack, 10000);

    // Every row once, in order; every alarm once, closed once with one desk row.
    pg::Connection db(conninfo);
    db.Connect();
    const pg::Result events = db.Exec("SELECT seq, event FROM events WHERE journal = 'main' ORDER BY id");
    ASSERT_EQ(events.Rows(), kRows);
    for (int i = 0; i < kRows; ++i) {
        EXPECT_EQ(events.Integer(i, 0), i + 1);
        EXPECT_EQ(events.Text(i, 1), "Новое сообщение:r" + std::to_string(i + 1));
    }
    const pg::Result alarms = db.Exec("SELECT count(*), count(DISTINCT seq), min(seq), max(seq), "
                                      "count(*) FILTER (WHERE state = 'closed') FROM alarms");
    EXPECT_EQ(alarms.Text(0, 0) + " " + alarms.Text(0, 1) + " " + alarms.Text(0, 2) + " " + alarms.Text(0, 3) + " " +
                  alarms.Text(0, 4),
              "30 30 5 150 30");
    const pg::Result handled = db.Exec("SELECT count(*), count(DISTINCT e.tel) FROM events e JOIN alarms a "
                                       "ON a.tel = e.tel WHERE e.journal = 'desk' AND e.status = 'Обработка'");
    EXPECT_EQ(handled.Text(0, 0) + " " + handled.Text(0, 1), "30 30");
    std::lock_guard lock(deskLock);
    std::map<long long, int> times;
    for (long long id : closedByDesk)
        ++times[id];
    for (const auto& [id, n] : times)
        EXPECT_EQ(n, 1) << "alarm " << id << " closed twice";
}

// The receiver program itself, with its default pauses between attempts.
TEST(Standby, TheReceiverProgramGoesOnWithThePromotedStandbyWithoutARestart)
{
    const std::string pair = Env("KV_TEST_PG"), failover = Env("KV_TEST_PG_FAILOVER");
    ASSERT_FALSE(pair.empty() || failover.empty()) << "run through tests/centre/with-standby.sh";
    ASSERT_TRUE(StandbyStillStandsBy()) << "promoted already: one promoting test a pair (--gtest_filter)";
    {
        pg::Connection admin(pair + " dbname=postgres");
        admin.Connect();
        admin.ExecScript("CREATE DATABASE kv_receiver");
    }
    const std::string conninfo = pair + " dbname=kv_receiver";
    kv::test::TempDir dir;
    const std::filesystem::path data = dir.path() / "data";
    std::filesystem::create_directories(data);
    kv::test::ModemSim sim(kv::test::LinkedModems(dir));
    const std::string sender = "+79111111111";
    kv::test::WriteStationTables(data, sender, "Оператор", "1234", 0);
    kv::test::WriteStationConfig(data, sim.Path(1), sim.Path(2));
    kv::test::WriteFileBytes(data / "config.ini", kv::test::ReadFileBytes(data / "config.ini") +
                                                      "\r\n[Database]\r\nConnection=" + conninfo +
                                                      "\r\nStation=R1\r\n");
    kv::test::StationProcess receiver;
    const std::filesystem::path log = dir.path() / "receiver.log";
    receiver.Start(kv::test::ReceiverCommand(data), data, {}, log);

    // Alarms from the receiver's one device, counted where the desks see them.
    const auto report = [&](int zone) {
        sim.Command("sms 1 " + sender + " Внимание, сработал датчик движения. Зона " + std::to_string(zone));
    };
    const auto atCentre = [&](long long alarms) {
        return kv::test::PollUntil(
            [&] {
                const auto r = TryQuery(conninfo, "SELECT count(*) FROM alarms WHERE station = 'R1'");
                return r && r->Integer(0, 0) == alarms;
            },
            20s, 20ms);
    };
    for (int zone = 1; zone <= 3; ++zone)
        report(zone);
    ASSERT_TRUE(atCentre(3)) << kv::test::ReadFileBytes(log);

    ASSERT_EQ(std::system(failover.c_str()), 0);
    const auto promoted = Clock::now();
    for (int zone = 4; zone <= 6; ++zone)
        report(zone);
    ASSERT_TRUE(atCentre(6)) << kv::test::ReadFileBytes(log);
    const long long back = MsSince(promoted);
    std::cout << "the receiver program's alarms reached the promoted standby " << back << " ms after the promotion\n";
    EXPECT_LT(back, 10000);
    EXPECT_EQ(receiver.WaitExit(0ms), -1) << "still the same process";

    receiver.Signal(SIGTERM);
    ASSERT_EQ(receiver.WaitExit(15s), 0) << kv::test::ReadFileBytes(log);
    pg::Connection db(conninfo);
    db.Connect();
    // Each row once, numbered without a gap, each report's alarm once (the
    // SIM gives a burst's messages in any order).
    const pg::Result rows = db.Exec("SELECT count(*), count(DISTINCT seq), max(seq), "
                                    "count(*) FILTER (WHERE event LIKE 'Новое сообщение:%Зона _') FROM events "
                                    "WHERE station = 'R1' AND journal = 'main'");
    EXPECT_EQ(rows.Integer(0, 0), rows.Integer(0, 1));
    EXPECT_EQ(rows.Integer(0, 0), rows.Integer(0, 2));
    EXPECT_EQ(rows.Integer(0, 3), 6);
    const pg::Result alarms = db.Exec("SELECT string_agg(right(event, 6), ',' ORDER BY right(event, 6)) FROM alarms");
    EXPECT_EQ(alarms.Text(0, 0), "Зона 1,Зона 2,Зона 3,Зона 4,Зона 5,Зона 6");
}

} // namespace
