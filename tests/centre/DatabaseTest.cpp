// The centre against a real PostgreSQL: tests/centre/with-postgres.sh starts a
// throw-away cluster and names it in KV_TEST_PG (and how to stop and start it
// in KV_TEST_PG_CTL). Each test has a database of its own.
#include "centre/AlarmQueue.h"
#include "centre/AlarmQueueWorker.h"
#include "centre/CentreReport.h"
#include "centre/DeskFeed.h"
#include "centre/Forwarder.h"
#include "centre/LinkWatch.h"
#include "centre/Pg.h"
#include "centre/Schema.h"
#include "centre/SharedRegister.h"
#include "core/CentreRegister.h"
#include "centre/Utf8.h"
#include "tests/centre/TestCluster.h"
#include "tests/report/ShiftJournal.h"
#include "core/BoardState.h"
#include "core/StationCore.h"
#include "receiver/Receiver.h"
#include "report/ShiftReport.h"
#include "timing/UiThread.h"
#include "devices/DeviceRegister.h"
#include "data/DurableJournal.h"
#include "data/RecordEvent.h"
#include "data/Status.h"
#include "data/Schemas.h"
#include "modem/Modem.h"
#include "modem/Report.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"
#include "tools/jrn/JournalText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <filesystem>
#include <memory>
#include <cstdlib>
#include <future>
#include <set>
#include <thread>
#include <tuple>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using namespace kv::literals;
namespace pg = kv::pg;
using kv::centre::Forwarder;
using kv::centre::Link;

std::string Server() { return kv::test::TestServer(); }
void Control(const std::string& args) { kv::test::ControlServer(args); }

class Database : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Server().empty()) << "run through tests/centre/with-postgres.sh";
        m_conninfo = kv::test::FreshTestDatabase("kv_");
    }
    const std::string& Conninfo() const { return m_conninfo; }
    std::unique_ptr<pg::Connection> Open() const
    {
        auto c = std::make_unique<pg::Connection>(m_conninfo);
        c->Connect();
        return c;
    }

private:
    std::string m_conninfo;
};

TEST_F(Database, TwoStationsStartingTogetherCreateTheSchemaOnceAndAgainChangesNothing)
{
    std::atomic<int> applied{0};
    std::vector<std::thread> stations;
    for (int i = 0; i < 2; ++i)
        stations.emplace_back([&] {
            pg::Connection db(Conninfo());
            db.Connect();
            applied += kv::centre::Migrate(db);
        });
    for (auto& t : stations)
        t.join();
    EXPECT_EQ(applied, kv::centre::LatestSchemaVersion());
    auto db = Open();
    EXPECT_EQ(kv::centre::Migrate(*db), 0);
    EXPECT_EQ(db->Exec("SELECT count(*) FROM schema_migrations").Integer(0, 0), kv::centre::LatestSchemaVersion());
    EXPECT_EQ(db->Exec("SELECT count(*) FROM pg_tables WHERE schemaname = 'public' AND tablename IN "
                      "('stations', 'devices', 'operators', 'events', 'alarms')")
                  .Integer(0, 0),
              5);
}

TEST_F(Database, EveryCp1251ByteComesBackFromTheDatabaseAsItWent)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    db->Exec("INSERT INTO events (station, seq, journal, event_time, event) VALUES ('s', 1, 'main', now(), $1)",
            {kv::Utf8FromCp1251(all)});
    const pg::Result r = db->Exec("SELECT event, length(event) FROM events");
    EXPECT_EQ(kv::Cp1251FromUtf8(r.Text(0, 0)), all);
    EXPECT_EQ(r.Integer(0, 1), 256); // one character a byte
}

// A receiver's two journals in the test's folder, as the core keeps them.
struct StationFiles {
    // `prefix`: before the file names, for two stations in one folder.
    explicit StationFiles(const std::string& prefix = {})
        : mainFile(prefix + "t3.bin"), ringFile(prefix + "t6.bin"), mainLog{main, mainFile, format},
          ringLog{ring, ringFile, format}
    {
        kv::DefineJournal(main);
        kv::DefineJournal(ring);
        mainLog.Open("empty", nullptr, 45000.0);
        ringLog.Open("empty", nullptr, 45000.0);
    }
    void Post(bool toMain, const std::string& text)
    {
        kv::RecordEvent(toMain ? main : ring, "S", "+79001112233", text, nullptr, 46000.0 + (++n) / 86400.0);
    }
    // A row as a worker writes it; `shortName` empty for a number of no device.
    void Post(bool toMain, std::string_view status, const std::string& tel, const std::string& text,
              const std::string& shortName)
    {
        kv::RecordEvent(toMain ? main : ring, status, tel, text, [&](const std::string&) { return shortName; },
                        kv::LocalNow() - 0.01 + (++n) / 86400000.0);
    }
    void Sync()
    {
        mainLog.SyncNow();
        ringLog.SyncNow();
    }
    std::vector<kv::centre::ForwardedJournal> Journals() { return {{"main", mainFile, &mainLog}, {"ring", ringFile, &ringLog}}; }

    std::string mainFile, ringFile;
    kv::TableFormat format;
    kv::MemTable main{"EventsTable"}, ring{"DialEventsTable"};
    kv::DurableJournal mainLog, ringLog;
    int n = 0;
};

kv::centre::ForwarderOptions Options(const std::string& conninfo)
{
    kv::centre::ForwarderOptions o;
    o.connection = conninfo;
    o.station = "Приёмник 1";
    o.retryFirst = 20ms;
    o.retryMax = 200ms;
    return o;
}

// Each journal's rows in the order the database took them: "main 1 m1".
std::vector<std::string> Forwarded(pg::Connection& db)
{
    std::vector<std::string> out;
    const pg::Result r = db.Exec("SELECT journal, seq, event FROM events WHERE station = 'Приёмник 1' ORDER BY id");
    for (int i = 0; i < r.Rows(); ++i)
        out.push_back(r.Text(i, 0) + " " + r.Text(i, 1) + " " + r.Text(i, 2));
    return out;
}

// Each row of the query's answer as its `columns` joined by "|".
std::vector<std::string> Lines(pg::Connection& db, int columns, const std::string& sql)
{
    std::vector<std::string> out;
    const pg::Result r = db.Exec(sql);
    for (int i = 0; i < r.Rows(); ++i) {
        std::string line;
        for (int c = 0; c < columns; ++c)
            line += (c ? "|" : "") + r.Text(i, c);
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> Expected(int mainRows, int ringRows)
{
    std::vector<std::string> out;
    for (int i = 1; i <= mainRows; ++i)
        out.push_back("main " + std::to_string(i) + " m" + std::to_string(i));
    for (int i = 1; i <= ringRows; ++i)
        out.push_back("ring " + std::to_string(i) + " r" + std::to_string(i));
    return out;
}

// Each journal in its own order; the two may interleave.
std::vector<std::string> ByJournal(std::vector<std::string> rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) {
        return a.substr(0, 4) < b.substr(0, 4);
    });
    return rows;
}

TEST_F(Database, BothJournalsArriveInOrderOnceAlsoAcrossAnOutageLongerThanTheForwarderHolds)
{
    kv::test::TempDir dir;
    StationFiles files;
    auto options = Options(Conninfo());
    options.queueLimit = 10; // the outage's rows are read back from the files
    options.heartbeatEvery = 50ms;
    Forwarder forwarder(options, files.Journals());
    forwarder.Start();
    int m = 0, r = 0;
    for (; m < 20; ++m)
        files.Post(true, "m" + std::to_string(m + 1));
    for (; r < 5; ++r)
        files.Post(false, "r" + std::to_string(r + 1));
    files.Sync();
    ASSERT_TRUE(forwarder.WaitCaughtUp(10s));
    auto db = Open();
    const pg::Result station = db->Exec("SELECT role, host <> '', heartbeat FROM stations WHERE name = 'Приёмник 1'");
    EXPECT_EQ(station.Text(0, 0) + " " + station.Text(0, 1), "receiver t");
    // Renewed with nothing to send too.
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(db->Exec("SELECT heartbeat > $1::timestamptz FROM stations", {station.Text(0, 2)}).Text(0, 0), "t");
    db->Disconnect();

    Control("stop -m immediate");
    for (; m < 50; ++m)
        files.Post(true, "m" + std::to_string(m + 1));
    for (; r < 10; ++r)
        files.Post(false, "r" + std::to_string(r + 1));
    files.Sync();
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (forwarder.State().link != Link::Unreachable && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    const kv::centre::ForwarderState away = forwarder.State();
    EXPECT_EQ(away.link, Link::Unreachable);
    EXPECT_FALSE(away.lastError.empty());
    EXPECT_EQ(away.backlog, 35u);
    // The station goes on meanwhile: its files have every row.
    EXPECT_EQ(files.main.RecordCount(), 51);

    Control("start -w -l server.log");
    ASSERT_TRUE(forwarder.WaitCaughtUp(15s));
    db->Connect();
    EXPECT_EQ(ByJournal(Forwarded(*db)), Expected(50, 10));
    EXPECT_EQ(Forwarder::ReadMark("forwarded.ini", "Приёмник 1", "main"), 50u);
    EXPECT_EQ(Forwarder::ReadMark("forwarded.ini", "Приёмник 1", "ring"), 10u);
}

TEST_F(Database, AReceiverOfflineForAnHourOnItsClockCatchesUpOnceAndASecondCatchUpSendsNothing)
{
    kv::test::TempDir dir;
    // The hour ends about now, so that the rows' times are the hour's.
    kv::VirtualClock clock(kv::LocalNow() - 1.0 / 24);
    auto options = Options(Conninfo());
    options.clock = &clock;
    options.retryFirst = 1s;
    options.retryMax = 30s;
    options.queueLimit = 100; // most of the hour comes back from the files
    auto files = std::make_unique<StationFiles>();
    auto forwarder = std::make_unique<Forwarder>(options, files->Journals());
    forwarder->Start();
    const std::string sms = kv::Str("Новое сообщение:"_cp);
    const std::string store = "+79001000001", office = "+79001000002";
    int mainRows = 0, ringRows = 0;
    const auto post = [&](bool toMain, std::string_view status, const std::string& tel, const std::string& text) {
        const std::string name = tel == store ? kv::Str("Склад"_cp) : kv::Str("Офис"_cp);
        kv::RecordEvent(toMain ? files->main : files->ring, status, tel, text,
                        [&](const std::string&) { return name; }, clock.Now());
        ++(toMain ? mainRows : ringRows);
    };
    kv::centre::LinkWatch watch;
    std::vector<std::string> techno;
    const auto poll = [&] {
        watch.Poll(forwarder->State(), [&](const std::string& text, kv::Rgb) { techno.push_back(text); });
    };
    post(true, kv::status::kArmed, store, sms + kv::Str("Поставлено на охрану"_cp));
    files->Sync();
    ASSERT_TRUE(forwarder->WaitCaughtUp(10s));
    poll();

    Control("stop -m immediate");
    const auto failures = [&] { return forwarder->State().failures; };
    // Each try of the hour made at its time: the clock stops there until it has failed.
    std::vector<std::uint64_t> pauses;
    const auto runTo = [&](std::uint64_t until) {
        for (;;) {
            const kv::centre::ForwarderState s = forwarder->State();
            ASSERT_EQ(s.link, Link::Unreachable);
            const std::uint64_t next = std::min(s.retryAtMs, until);
            clock.Advance(next - clock.NowMs());
            forwarder->ClockMoved();
            if (next == until && s.retryAtMs > until)
                return;
            const auto limit = std::chrono::steady_clock::now() + 5s;
            while (failures() == s.failures && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(1ms);
            ASSERT_GT(failures(), s.failures) << "no try at " << next;
            pauses.push_back(forwarder->State().retryAtMs - clock.NowMs());
            poll();
        }
    };
    post(true, kv::status::kDisarmed, store, sms + kv::Str("Снято с охраны"_cp));
    files->Sync();
    const auto lost = std::chrono::steady_clock::now() + 10s;
    while (forwarder->State().link != Link::Unreachable && std::chrono::steady_clock::now() < lost)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(forwarder->State().link, Link::Unreachable);
    pauses.push_back(forwarder->State().retryAtMs - clock.NowMs());
    poll();

    // A report every 20 s, an alarm every ten minutes, a ring-round call every
    // five, which fails at the office every quarter of an hour.
    const std::uint64_t start = clock.NowMs();
    int alarms = 0;
    for (std::uint64_t s = 20; s <= 3600; s += 20) {
        ASSERT_NO_FATAL_FAILURE(runTo(start + s * 1000));
        if (s % 600 == 0) {
            post(true, kv::status::kAlarm, store, sms + kv::Str("Внимание, сработал датчик движения"_cp));
            ++alarms;
        } else {
            post(true, kv::status::kArmed, store, sms + kv::Str("Поставлено на охрану, отчёт "_cp) + std::to_string(s));
        }
        if (s % 900 == 0)
            post(false, kv::status::kOffline, office, kv::Str("Дозвон завершен не успешно"_cp));
        else if (s % 300 == 0)
            post(false, kv::status::kNormal, store, kv::Str("Дозвон успешен"_cp));
        files->Sync();
    }
    // Growing pauses up to half a minute, on the station's clock: some 120 tries in the hour.
    ASSERT_GE(pauses.size(), 6u);
    EXPECT_EQ(std::vector<std::uint64_t>(pauses.begin(), pauses.begin() + 6),
              (std::vector<std::uint64_t>{1000, 2000, 4000, 8000, 16000, 30000}));
    EXPECT_EQ(std::count(pauses.begin() + 6, pauses.end(), 30000u), static_cast<long>(pauses.size()) - 6);
    EXPECT_GE(pauses.size(), 120u);
    EXPECT_EQ(forwarder->State().backlog, static_cast<std::uint64_t>(mainRows + ringRows - 1));
    EXPECT_EQ(techno.size(), 2u) << "one line for the loss, none for each try";

    Control("start -w -l server.log");
    clock.Advance(forwarder->State().retryAtMs - clock.NowMs());
    forwarder->ClockMoved();
    ASSERT_TRUE(forwarder->WaitCaughtUp(15s));
    poll();
    ASSERT_EQ(techno.size(), 3u);
    EXPECT_EQ(techno[2], kv::Str("Связь с базой данных центра восстановлена, к отправке событий: 0"_cp));
    auto db = Open();
    const auto counts = [&] {
        const pg::Result r = db->Exec(
            "SELECT (SELECT count(*) || ' ' || count(DISTINCT seq) || ' ' || max(seq) FROM events WHERE journal = 'main'), "
            "(SELECT count(*) || ' ' || count(DISTINCT seq) || ' ' || max(seq) FROM events WHERE journal = 'ring'), "
            "(SELECT string_agg(kind || ' ' || n, ', ' ORDER BY kind) FROM "
            "  (SELECT kind, count(*) AS n FROM alarms GROUP BY kind) k), "
            "(SELECT round(extract(epoch FROM max(event_time) - min(event_time)) / 60) FROM events)");
        return r.Text(0, 0) + " | " + r.Text(0, 1) + " | " + r.Text(0, 2) + " | " + r.Text(0, 3) + " min";
    };
    const std::string m = std::to_string(mainRows), rr = std::to_string(ringRows);
    // One failed call opens one alarm while it is open; the others add none.
    const std::string expected = m + " " + m + " " + m + " | " + rr + " " + rr + " " + rr + " | Intrusion " +
                                 std::to_string(alarms) + ", RingRoundFailed 1 | 60 min";
    EXPECT_EQ(counts(), expected);
    EXPECT_EQ(Forwarder::ReadMark("forwarded.ini", "Приёмник 1", "main"), static_cast<std::uint64_t>(mainRows));
    EXPECT_EQ(Forwarder::ReadMark("forwarded.ini", "Приёмник 1", "ring"), static_cast<std::uint64_t>(ringRows));

    // The receiver restarted: a second catch-up from the same files.
    const std::string idsDrawn = db->Exec("SELECT last_value FROM events_id_seq").Text(0, 0);
    forwarder.reset();
    files.reset();
    db->Exec("LISTEN korvalen_events");
    db->Exec("LISTEN korvalen_alarms");
    files = std::make_unique<StationFiles>();
    forwarder = std::make_unique<Forwarder>(options, files->Journals());
    forwarder->Start();
    ASSERT_TRUE(forwarder->WaitCaughtUp(10s));
    forwarder.reset();
    EXPECT_EQ(counts(), expected);
    EXPECT_TRUE(db->Notifications().empty()) << "nothing inserted, no alarm touched";
    // Not even sent: a row sent again would have drawn a number of the table's sequence.
    EXPECT_EQ(db->Exec("SELECT last_value FROM events_id_seq").Text(0, 0), idsDrawn);
}

TEST_F(Database, AReceiverKilledBetweenTheCommitAndItsMarkSendsTheBatchAgainAndNothingTwice)
{
    kv::test::TempDir dir;
    {
        StationFiles files;
        for (int i = 1; i <= 25; ++i)
            files.Post(true, "m" + std::to_string(i));
        files.Sync();
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        StationFiles files;
        auto options = Options(Conninfo());
        options.batch = 10;
        options.afterCommit = [] { ::raise(SIGKILL); };
        Forwarder forwarder(options, files.Journals());
        forwarder.Start();
        std::this_thread::sleep_for(10s);
        ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    auto db = Open();
    EXPECT_EQ(Forwarded(*db), Expected(10, 0)); // committed
    EXPECT_EQ(Forwarder::ReadMark("forwarded.ini", "Приёмник 1", "main"), 0u); // not marked

    db->Exec("LISTEN korvalen_events");
    StationFiles files;
    Forwarder forwarder(Options(Conninfo()), files.Journals());
    forwarder.Start();
    ASSERT_TRUE(forwarder.WaitCaughtUp(10s));
    EXPECT_EQ(Forwarded(*db), Expected(25, 0));
    EXPECT_EQ(Forwarder::ReadMark("forwarded.ini", "Приёмник 1", "main"), 25u);
    // A desk listening hears of the new rows, and of nothing for the batch sent again.
    std::vector<std::string> heard;
    for (const auto& [channel, payload] : db->Notifications())
        heard.push_back(channel + " " + payload);
    EXPECT_EQ(heard, (std::vector<std::string>{
                         R"(korvalen_events {"station" : "Приёмник 1", "journal" : "main", "seq" : 25})"}));

    // The station's tables put back from an older copy: told, since its next rows would be kept out.
    forwarder.Stop();
    kv::test::TempDir older;
    StationFiles restored;
    Forwarder again(Options(Conninfo()), restored.Journals());
    again.Start();
    ASSERT_TRUE(again.WaitCaughtUp(10s));
    EXPECT_EQ(again.State().lastError, kv::Str("В базе данных больше строк журнала main, чем в файлах: 25 > 0"_cp));
}

TEST_F(Database, AJournalReplacedFromTheMenuGoesOnWithItsRowsAsNewOnes)
{
    kv::test::TempDir dir;
    StationFiles files;
    Forwarder forwarder(Options(Conninfo()), files.Journals());
    forwarder.Start();
    files.Post(true, "m1");
    files.Post(true, "m2");
    files.Sync();
    ASSERT_TRUE(forwarder.WaitCaughtUp(10s));
    // A journal opened from a file: its rows were never posted, and are read back.
    files.mainLog.Replace([&] {
        files.main.First();
        while (!files.main.IsEmpty())
            files.main.Delete();
        files.Post(true, "x");
        files.Post(true, "y");
    });
    files.Post(true, "m3");
    files.Sync();
    ASSERT_TRUE(forwarder.WaitCaughtUp(10s));
    // The close's last rows are sent before the stop.
    files.Post(true, "m4");
    files.Sync();
    forwarder.Stop();
    auto db = Open();
    EXPECT_EQ(Forwarded(*db),
              (std::vector<std::string>{"main 1 m1", "main 2 m2", "main 3 x", "main 4 y", "main 5 m3", "main 6 m4"}));
}

TEST_F(Database, AStationOfANameAlreadyAtWorkElsewhereSendsNothing)
{
    kv::test::TempDir dir;
    StationFiles files;
    files.Post(true, "m1");
    files.Sync();
    auto first = Options(Conninfo());
    first.host = "pc1";
    Forwarder working(first, files.Journals());
    working.Start();
    ASSERT_TRUE(working.WaitCaughtUp(10s));
    working.Stop();

    auto second = Options(Conninfo());
    second.host = "pc2";
    second.markFile = "second.ini";
    Forwarder namesake(second, files.Journals());
    namesake.Start();
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (namesake.State().link != Link::Unreachable && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    const kv::centre::ForwarderState refused = namesake.State();
    EXPECT_EQ(refused.link, Link::Unreachable);
    EXPECT_EQ(refused.lastError, kv::Str("Станция с именем Приёмник 1 уже работает на pc1"_cp));
    EXPECT_EQ(refused.backlog, 1u);
}

TEST_F(Database, AStopDoesNotWaitOnAStatementTheDatabaseHoldsBack)
{
    kv::test::TempDir dir;
    StationFiles files;
    files.Post(true, "m1");
    files.Sync();
    auto db = Open();
    kv::centre::Migrate(*db);
    db->Exec("BEGIN");
    db->Exec("LOCK TABLE events IN ACCESS EXCLUSIVE MODE");
    auto options = Options(Conninfo());
    options.stopDrain = 100ms;
    auto forwarder = std::make_unique<Forwarder>(options, files.Journals());
    forwarder->Start();
    auto watch = Open();
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (watch->Exec("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'").Integer(0, 0) == 0 &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    // Released in any case, so that a stop that waits fails rather than hangs.
    std::promise<void> stopped;
    std::thread release([&, done = stopped.get_future()] {
        done.wait_for(3s);
        db->Exec("ROLLBACK");
    });
    const auto stopping = std::chrono::steady_clock::now();
    forwarder.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 1s);
    stopped.set_value();
    release.join();
    EXPECT_EQ(Forwarder::ReadMark("forwarded.ini", "Приёмник 1", "main"), 0u);

    // Nor on a server that takes the connection and never answers it.
    const std::string silent = dir.File("silent");
    std::filesystem::create_directory(silent);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = silent + "/.s.PGSQL.5432";
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    options.connection = "host=" + silent + " port=5432 dbname=x connect_timeout=5";
    forwarder = std::make_unique<Forwarder>(options, files.Journals());
    forwarder->Start();
    std::this_thread::sleep_for(200ms); // connecting
    const auto stoppingAgain = std::chrono::steady_clock::now();
    forwarder.reset();
    const auto took = std::chrono::steady_clock::now() - stoppingAgain;
    EXPECT_LT(took, 1s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";

    // Such a server first in a list of hosts costs its time-out, then the next one is tried.
    const std::string server = Server().substr(Server().find("host=") + 5);
    pg::Connection both(Conninfo() + " host=" + silent + "," + server.substr(0, server.find(' ')) +
                        " port=5432,5432 connect_timeout=2");
    const auto connecting = std::chrono::steady_clock::now();
    ASSERT_NO_THROW(both.Connect());
    EXPECT_GE(std::chrono::steady_clock::now() - connecting, 2s);
    EXPECT_EQ(both.Exec("SELECT current_database()").Text(0, 0), Open()->Exec("SELECT current_database()").Text(0, 0));
    ::close(listener);
}

// ---------------------------------------------------------------- a desk's feed

kv::centre::DeskFeedOptions FeedOptions(const std::string& conninfo)
{
    kv::centre::DeskFeedOptions o;
    o.connection = conninfo;
    o.retryFirst = 20ms;
    o.retryMax = 200ms;
    return o;
}

// Takes from the feed until `enough` holds of what came, or the time runs out.
struct FeedReader {
    explicit FeedReader(kv::centre::DeskFeedOptions options)
        : feed(std::move(options), [this] { ++wakes; })
    {
        feed.Start();
    }
    template <class Enough>
    bool TakeUntil(Enough enough, std::chrono::milliseconds limit = 10s)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            kv::centre::FeedUpdate u = feed.Take();
            for (kv::centre::FeedEvent& e : u.events)
                events.push_back(std::move(e));
            if (u.alarmsChanged) {
                alarms = u.alarms;
                ++alarmChanges;
            }
            if (enough())
                return true;
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::sleep_for(5ms);
        }
    }
    bool WaitLink(Link link, std::chrono::milliseconds limit = 10s)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (feed.State() != link && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(5ms);
        return feed.State() == link;
    }
    // "station journal seq event" of every row taken, each journal in its order of arrival.
    std::vector<std::string> ByJournal() const
    {
        std::vector<kv::centre::FeedEvent> sorted = events;
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
            return std::tie(a.station, a.journal) < std::tie(b.station, b.journal);
        });
        std::vector<std::string> out;
        for (const kv::centre::FeedEvent& e : sorted)
            out.push_back(e.station + " " + e.journal + " " + std::to_string(e.seq) + " " + e.event);
        return out;
    }

    std::atomic<int> wakes{0};
    std::vector<kv::centre::FeedEvent> events;
    std::vector<kv::centre::CentreAlarm> alarms;
    int alarmChanges = 0;
    kv::centre::DeskFeed feed;
};

TEST_F(Database, ADeskSeesEveryRowOfTwoStationsOnceInOrderAlsoAfterTheDatabaseWasStoppedAndStarted)
{
    kv::test::TempDir dir;
    StationFiles a("a_"), b("b_");
    auto optionsA = Options(Conninfo());
    optionsA.markFile = "a.ini";
    auto optionsB = Options(Conninfo());
    optionsB.station = "B";
    optionsB.markFile = "b.ini";
    Forwarder forwarderA(optionsA, a.Journals()), forwarderB(optionsB, b.Journals());
    forwarderA.Start();
    forwarderB.Start();
    ASSERT_TRUE(forwarderA.WaitCaughtUp(10s) && forwarderB.WaitCaughtUp(10s));
    FeedReader desk(FeedOptions(Conninfo()));
    ASSERT_TRUE(desk.WaitLink(Link::Connected));

    int mainA = 0, ringA = 0, mainB = 0;
    const auto post = [&](int more) {
        for (int i = 0; i < more; ++i) {
            a.Post(true, "a" + std::to_string(++mainA));
            b.Post(true, "b" + std::to_string(++mainB));
            if (i % 3 == 0)
                a.Post(false, "r" + std::to_string(++ringA));
        }
        a.Sync();
        b.Sync();
    };
    const auto expected = [&] {
        std::vector<std::string> out;
        const std::string stationA = kv::Str("Приёмник 1"_cp);
        for (int i = 1; i <= mainB; ++i)
            out.push_back("B main " + std::to_string(i) + " b" + std::to_string(i));
        for (int i = 1; i <= mainA; ++i)
            out.push_back(stationA + " main " + std::to_string(i) + " a" + std::to_string(i));
        for (int i = 1; i <= ringA; ++i)
            out.push_back(stationA + " ring " + std::to_string(i) + " r" + std::to_string(i));
        return out;
    };
    post(12);
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.events.size() >= 28u; })) << desk.events.size();
    EXPECT_EQ(desk.ByJournal(), expected());
    EXPECT_GT(desk.wakes, 0);
    // The station's date-time comes back as the journal has it, to the millisecond
    // (B posts main rows only, its n-th at 46000 + n seconds).
    for (const kv::centre::FeedEvent& e : desk.events) {
        EXPECT_EQ(e.status + " " + e.tel, "S +79001112233");
        if (e.station == "B") {
            EXPECT_NEAR(e.time, 46000.0 + static_cast<double>(e.seq) / 86400.0, 0.002 / 86400) << e.seq;
        }
    }

    Control("stop -m immediate");
    ASSERT_TRUE(desk.WaitLink(Link::Unreachable));
    std::string why;
    desk.feed.State(&why);
    EXPECT_FALSE(why.empty());
    post(9);
    Control("start -w -l server.log");
    ASSERT_TRUE(forwarderA.WaitCaughtUp(15s) && forwarderB.WaitCaughtUp(15s));
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.events.size() >= 49u; }, 15s)) << desk.events.size();
    EXPECT_EQ(desk.feed.State(&why), Link::Connected) << why;
    // A while longer: nothing comes twice.
    desk.TakeUntil([] { return false; }, 300ms);
    EXPECT_EQ(desk.ByJournal(), expected());
}

TEST_F(Database, ADeskFindsAChangeMadeWithoutANoticeAtItsNextReadAndListsTheAlarmsNotClosed)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    // Rows of a station that was there before the desk: the newest of each journal come first.
    db->Exec("INSERT INTO stations (name, role) VALUES ('R', 'receiver')");
    db->Exec("INSERT INTO events (station, seq, journal, event_time, event) "
             "SELECT 'R', n, 'main', now(), 'old ' || n FROM generate_series(1, 8) AS n");
    auto options = FeedOptions(Conninfo());
    options.keep = 5;
    options.rereadEvery = 300ms;
    FeedReader desk(options);
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.events.size() >= 5u; }));
    EXPECT_EQ(desk.ByJournal(), (std::vector<std::string>{"R main 4 old 4", "R main 5 old 5", "R main 6 old 6",
                                                          "R main 7 old 7", "R main 8 old 8"}));
    EXPECT_EQ(desk.alarmChanges, 0) << "no alarm yet: nothing changed";

    // Triggers off for this session: no notice goes out.
    auto quiet = Open();
    quiet->Exec("SET session_replication_role = replica");
    quiet->Exec("INSERT INTO stations (name, role) VALUES ('Пульт', 'receiver')");
    quiet->Exec("INSERT INTO events (station, seq, journal, event_time, status, short_name, event) VALUES "
                "('Пульт', 1, 'ring', now(), 'Нет связи', 'Склад', 'Дозвон завершен не успешно')");
    quiet->Exec("INSERT INTO alarms (station, seq, short_name, kind, opened_at, state) VALUES "
                "('Пульт', 7, 'Склад', 'Intrusion', to_timestamp(1765000000.5), 'open'),"
                "('Пульт', 8, 'Офис', 'Fire', now(), 'closed')");
    const auto changed = std::chrono::steady_clock::now();
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.events.size() >= 6u && desk.alarmChanges > 0; }));
    EXPECT_LT(std::chrono::steady_clock::now() - changed, 2s);
    const kv::centre::FeedEvent& row = desk.events.back();
    EXPECT_EQ(row.station + "|" + row.journal + "|" + row.status + "|" + row.shortName + "|" + row.event,
              kv::Str("Пульт|ring|Нет связи|Склад|Дозвон завершен не успешно"_cp));
    ASSERT_EQ(desk.alarms.size(), 1u);
    const kv::centre::CentreAlarm& alarm = desk.alarms[0];
    EXPECT_EQ(alarm.station + "|" + alarm.shortName + "|" + alarm.kind + "|" + alarm.state,
              kv::Str("Пульт|Склад|Intrusion|open"_cp));
    EXPECT_EQ(alarm.seq, 7);
    EXPECT_EQ(alarm.journal, "main") << "a database without the column: the main journal's";
    EXPECT_FALSE(alarm.escalated);
    EXPECT_EQ(alarm.leaseUntil, 0);
    std::tm tm{};
    const std::time_t opened = 1765000000;
    localtime_r(&opened, &tm);
    EXPECT_NEAR(alarm.openedAt,
                kv::EncodeDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 500}),
                0.0005 / 86400);

    // Re-read twice over with nothing changed: the alarms are not given again.
    desk.TakeUntil([] { return false; }, 700ms);
    EXPECT_EQ(desk.alarmChanges, 1);
    EXPECT_EQ(desk.events.size(), 6u);

    // Taken at another desk, with its notice: here at once.
    db->Exec("UPDATE alarms SET state = 'taken', taken_by = 'Иванов', lease_until = to_timestamp(1765000120) "
             "WHERE seq = 7");
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.alarmChanges == 2; }));
    ASSERT_EQ(desk.alarms.size(), 1u);
    EXPECT_EQ(desk.alarms[0].state + " " + desk.alarms[0].takenBy, kv::Str("taken Иванов"_cp));
    EXPECT_EQ(desk.alarms[0].leaseUntil, 1765000120.0);
    db->Exec("UPDATE alarms SET state = 'closed' WHERE seq = 7");
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.alarmChanges == 3; }));
    EXPECT_TRUE(desk.alarms.empty());

    // A row whose number in the table is older than one already read, committed after it.
    auto late = Open();
    late->Exec("BEGIN");
    late->Exec("INSERT INTO events (station, seq, journal, event_time, event) VALUES ('R', 9, 'main', now(), 'late')");
    // A desk's own row (its handling of an alarm) comes as any other.
    db->Exec("INSERT INTO events (station, seq, journal, event_time, event) VALUES ('S', 1, 'desk', now(), 'early')");
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.events.size() == 7u; }));
    late->Exec("COMMIT");
    // And a notice of someone else's making, which changes nothing.
    db->Exec("SELECT pg_notify('korvalen_events', 'no rows of ours')");
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.events.size() == 8u; }));
    desk.TakeUntil([] { return false; }, 400ms);
    EXPECT_EQ(desk.events.size(), 8u);
    EXPECT_EQ(desk.events[6].journal + " " + desk.events[6].event + ", " + desk.events[7].event, "desk early, late");
    EXPECT_EQ(desk.feed.State(), Link::Connected);
}

TEST_F(Database, ADeskStopsAtOnceAlsoWhileItsDatabaseHoldsAStatementBack)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    FeedReader desk(FeedOptions(Conninfo()));
    ASSERT_TRUE(desk.WaitLink(Link::Connected));
    db->Exec("BEGIN");
    db->Exec("LOCK TABLE alarms IN ACCESS EXCLUSIVE MODE");
    // The alarms' read waits on the lock now.
    auto other = Open();
    other->Exec("SELECT pg_notify('korvalen_alarms', '1')");
    auto watch = Open();
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (watch->Exec("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'").Integer(0, 0) == 0 &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(watch->Exec("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'").Integer(0, 0), 1);
    // Released in any case, so that a stop that waits fails rather than hangs.
    std::promise<void> stopped;
    std::thread release([&, done = stopped.get_future()] {
        done.wait_for(3s);
        db->Exec("ROLLBACK");
    });
    const auto stopping = std::chrono::steady_clock::now();
    desk.feed.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 1s);
    stopped.set_value();
    release.join();
}

TEST_F(Database, ADeskThatMayOnlyReadSeesTheRowsAndTheAlarms)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    db->ExecScript("DO $$ BEGIN CREATE ROLE kv_reader LOGIN; EXCEPTION WHEN duplicate_object THEN NULL; END $$");
    db->ExecScript("GRANT SELECT ON ALL TABLES IN SCHEMA public TO kv_reader");
    db->Exec("INSERT INTO stations (name, role) VALUES ('R', 'receiver')");
    db->Exec("INSERT INTO events (station, seq, journal, event_time, event) VALUES ('R', 1, 'main', now(), 'e1')");
    db->Exec("INSERT INTO alarms (station, seq, kind, opened_at) VALUES ('R', 1, 'Fire', now())");
    FeedReader desk(FeedOptions(Conninfo() + " user=kv_reader"));
    ASSERT_TRUE(desk.TakeUntil([&] { return !desk.events.empty() && !desk.alarms.empty(); }))
        << static_cast<int>(desk.feed.State());
    EXPECT_EQ(desk.ByJournal(), std::vector<std::string>{"R main 1 e1"});
    EXPECT_EQ(desk.alarms[0].kind, "Fire");
    // Live too: its LISTEN needs no right.
    db->Exec("INSERT INTO events (station, seq, journal, event_time, event) VALUES ('R', 2, 'main', now(), 'e2')");
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.events.size() == 2u; }));
}

TEST_F(Database, AReportOneReceiverJournalledLightsItsTileOnAnotherDesksBoard)
{
    kv::test::TempDir dir;
    StationFiles files;
    Forwarder forwarder(Options(Conninfo()), files.Journals());
    forwarder.Start();
    kv::TileStates tiles;
    kv::BoardState board(tiles);
    kv::DialSchedule::Layout layout;
    layout.columns = layout.rows = 1;
    layout.texts[0] = kv::Str("Склад"_cp);
    board.SetLayout(layout);
    // A company past one board: the device on the second receiver's page.
    kv::TileStates pagedTiles;
    kv::BoardState paged(pagedTiles);
    std::vector<kv::DialDevice> company(950);
    for (std::size_t i = 0; i < company.size(); ++i)
        company[i].simplename = "D" + std::to_string(i);
    company.back().simplename = kv::Str("Склад"_cp);
    paged.SetPages(kv::LayBoardPages(
        company, [](const std::string& name) { return name == kv::Str("Склад"_cp) ? "R2" : "R1"; }, 30, 30));
    FeedReader desk(FeedOptions(Conninfo()));
    ASSERT_TRUE(desk.WaitLink(Link::Connected));

    struct Step {
        std::string text; // the SMS as the device sent it
        int guard, info, mark;
    };
    // The alarm phrase has Latin letters inside its Cyrillic words: they must come back as they went.
    const Step steps[] = {
        {kv::Str("Вним"_cp) + "a" + kv::Str("ние Т"_cp) + "PEB" + kv::Str("ОГА"_cp), 3, 0, 3},
        {kv::Str("Поставлено на охрану"_cp), 2, 0, 3},
        {kv::Str("Внимание Пожар!"_cp), 2, 9, 3},
    };
    std::size_t shown = 0;
    for (const Step& step : steps) {
        const kv::Report report = kv::SmsReport("+79001112233", kv::Str("Склад"_cp), step.text);
        kv::RecordEvent(files.main, report.status, report.tel, report.event,
                        [](const std::string&) { return kv::Str("Склад"_cp); }, kv::LocalNow());
        files.Sync();
        ASSERT_TRUE(desk.TakeUntil([&] { return desk.events.size() > shown; }));
        for (; shown < desk.events.size(); ++shown) {
            const kv::centre::FeedEvent& e = desk.events[shown];
            board.ShowRow(e.shortName, e.journal, e.status, e.event);
            paged.ShowRow(e.shortName, e.journal, e.status, e.event);
        }
        EXPECT_EQ((std::vector<int>{tiles.GuardStates[0], tiles.InfoStates[0], tiles.AlarmMarks[0]}),
                  (std::vector<int>{step.guard, step.info, step.mark}))
            << report.event;
        const kv::BoardState::Page& second = paged.Pages()->back();
        ASSERT_EQ(second.layout.Text(0, 0), kv::Str("Склад"_cp));
        EXPECT_EQ((std::vector<int>{second.tiles->GuardStates[0], second.tiles->InfoStates[0],
                                    second.tiles->AlarmMarks[0]}),
                  (std::vector<int>{step.guard, step.info, step.mark}))
            << "on the second receiver's page: " << report.event;
    }
}

TEST_F(Database, TheStationsCoreForwardsItsJournalsWhenTheConfigNamesADatabase)
{
    kv::test::TempDir dir;
    kv::test::WriteFileBytes(dir.File("config.ini"),
                             "[Database]\r\nConnection=" + Conninfo() + "\r\nStation=\xCF\xF3\xEB\xFC\xF2\r\n");
    kv::DeviceRegister reg;
    kv::StationCore core(reg, "config.ini");
    core.Open([](const std::string&) {}, [](const std::string&) {});
    ASSERT_NE(core.Centre(), nullptr);
    kv::RecordEvent(core.EventsTable, "S", "+79001112233", kv::Str("Поставлено на охрану"_cp), nullptr,
                    kv::LocalNow());
    kv::RecordEvent(core.DialEventsTable, "S", "+79001112233", kv::Str("Дозвон успешен"_cp), nullptr, kv::LocalNow());
    core.EventsLog->SyncNow();
    core.DialEventsLog->SyncNow();
    ASSERT_TRUE(core.Centre()->WaitCaughtUp(10s));
    auto db = Open();
    const pg::Result r = db->Exec("SELECT journal, event, abs(extract(epoch FROM now() - event_time)) < 60 FROM events "
                                  "WHERE station = 'Пульт' ORDER BY journal");
    ASSERT_EQ(r.Rows(), 2);
    EXPECT_EQ(r.Text(0, 0) + " " + r.Text(0, 1) + " " + r.Text(0, 2), "main Поставлено на охрану t");
    EXPECT_EQ(r.Text(1, 0) + " " + r.Text(1, 1) + " " + r.Text(1, 2), "ring Дозвон успешен t");

    // Whether modem 1 works goes to the station's row with the next second's
    // tick, and with it the role: a desk until a modem of its own runs, and
    // a receiver from then on, also while its modem is away.
    const auto modemUp = [&](bool running, const std::string& role) {
        core.Modem1->Running = running;
        core.Tick();
        const auto until = std::chrono::steady_clock::now() + 3s;
        const std::string wanted = (running ? "t " : "f ") + role;
        std::string row;
        while ((row = db->Exec("SELECT left(modem1_up::text, 1) || ' ' || role FROM stations WHERE name = 'Пульт'").Text(0, 0)) !=
                   wanted &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(10ms);
        return row;
    };
    EXPECT_EQ(modemUp(false, "desk"), "f desk");
    EXPECT_EQ(modemUp(true, "receiver"), "t receiver");
    EXPECT_EQ(modemUp(false, "receiver"), "f receiver");
}


// ------------------------------------------------------------------ the alarm queue

// `count` alarms of one receiver opened `age` ago, each of its own number.
void AddAlarms(pg::Connection& db, int count, const std::string& kind = "Intrusion",
               const std::string& age = "10 minutes")
{
    db.Exec("INSERT INTO alarms (station, seq, kind, tel, short_name, event, opened_at) "
            "SELECT 'Приёмник 1', m + g, $2, '+7900' || (m + g), 'Объект ' || (m + g), 'Тревога', "
            "now() - $3::interval FROM generate_series(1, $1::integer) g, "
            "(SELECT coalesce(max(seq), 0) AS m FROM alarms) last",
            {std::to_string(count), kind, age});
}

std::vector<long long> Ids(pg::Connection& db, const std::string& where = "true")
{
    std::vector<long long> ids;
    const pg::Result r = db.Exec("SELECT id FROM alarms WHERE " + where + " ORDER BY id");
    for (int i = 0; i < r.Rows(); ++i)
        ids.push_back(r.Integer(i, 0));
    return ids;
}

TEST_F(Database, TwoDesksRacingForEveryAlarmTakeEachOnceAndCloseEachOnce)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    AddAlarms(*db, 100);
    const std::vector<long long> alarms = Ids(*db);
    const std::string ops[] = {kv::Str("Иванов"_cp), kv::Str("Петров"_cp)};
    std::vector<long long> won[2];
    std::vector<std::string> lostTo[2];
    std::atomic<int> ready{0}, closeRefused{0};
    std::string failures[2];
    std::vector<std::thread> desks;
    for (int d = 0; d < 2; ++d)
        desks.emplace_back([&, d] {
            try {
                pg::Connection c(Conninfo());
                c.Connect();
                // Two queues of one desk: its rows' numbers must not collide either.
                kv::centre::AlarmQueue queue(c, kv::Str("Пульт"_cp));
                ++ready;
                while (ready < 2)
                    std::this_thread::yield();
                for (long long id : alarms) {
                    const kv::centre::TakeResult r = queue.Take(id, ops[d]);
                    if (!r.taken) {
                        lostTo[d].push_back(r.holder);
                        continue;
                    }
                    won[d].push_back(id);
                    if (!queue.Close(id, ops[d], kv::Str("Ложная тревога"_cp), "",
                                     kv::Str("Обработано: Ложная тревога"_cp)))
                        ++closeRefused;
                }
            } catch (const std::exception& e) {
                failures[d] = e.what();
            }
        });
    for (auto& t : desks)
        t.join();
    ASSERT_EQ(failures[0] + failures[1], "");
    EXPECT_EQ(won[0].size() + won[1].size(), 100u);
    std::set<long long> all(won[0].begin(), won[0].end());
    all.insert(won[1].begin(), won[1].end());
    EXPECT_EQ(all.size(), 100u) << "no alarm taken by both";
    EXPECT_EQ(closeRefused, 0);
    for (int d = 0; d < 2; ++d)
        for (const std::string& holder : lostTo[d])
            EXPECT_TRUE(holder.empty() || holder == ops[1 - d]) << holder;
    const pg::Result closed = db->Exec("SELECT id, closed_by, result FROM alarms WHERE state = 'closed' ORDER BY id");
    ASSERT_EQ(closed.Rows(), 100);
    for (int i = 0; i < closed.Rows(); ++i) {
        const long long id = closed.Integer(i, 0);
        const int winner = std::count(won[0].begin(), won[0].end(), id) ? 0 : 1;
        EXPECT_EQ(kv::Cp1251FromUtf8(closed.Text(i, 1)), ops[winner]) << id;
        EXPECT_EQ(closed.Text(i, 2), "Ложная тревога");
    }
    // One "Обработка" row per alarm, with its number and name, numbered 1..100 for the desk.
    const pg::Result rows = db->Exec(
        "SELECT count(*), count(DISTINCT e.tel), min(e.seq), max(e.seq), "
        "count(*) FILTER (WHERE e.short_name = a.short_name AND e.event = 'Обработано: Ложная тревога') "
        "FROM events e JOIN alarms a ON a.tel = e.tel "
        "WHERE e.station = 'Пульт' AND e.journal = 'desk' AND e.status = 'Обработка'");
    EXPECT_EQ(rows.Text(0, 0) + " " + rows.Text(0, 1) + " " + rows.Text(0, 2) + " " + rows.Text(0, 3) + " " +
                  rows.Text(0, 4),
              "100 100 1 100 100");
    EXPECT_EQ(db->Exec("SELECT count(*) FROM events").Integer(0, 0), 100);
}

TEST_F(Database, AnAlarmHeldByADeskThatDiedReturnsToTheQueueOnceItsLeaseRunsOut)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    AddAlarms(*db, 2);
    const std::vector<long long> ids = Ids(*db);
    const long long held = ids[0], released = ids[1];
    const std::string ivanov = kv::Str("Иванов"_cp), petrov = kv::Str("Петров"_cp);
    {
        auto dying = Open();
        kv::centre::AlarmQueue first(*dying, kv::Str("Пульт 1"_cp));
        ASSERT_TRUE(first.Take(held, ivanov).taken);
        EXPECT_TRUE(first.Take(held, ivanov).taken) << "its own operator opens it again";
        EXPECT_TRUE(first.Renew(held, ivanov));
        ASSERT_TRUE(first.Take(released, ivanov).taken);
        first.Release(released, ivanov);
        dying->Disconnect(); // the desk dies holding one
    }
    auto c = Open();
    kv::centre::AlarmQueue second(*c, kv::Str("Пульт 2"_cp));
    const kv::centre::TakeResult lost = second.Take(held, petrov);
    EXPECT_FALSE(lost.taken);
    EXPECT_EQ(lost.holder, ivanov);
    EXPECT_FALSE(second.Renew(held, petrov));
    second.Release(held, petrov); // not its own: changes nothing
    EXPECT_TRUE(second.Take(released, petrov).taken) << "a released alarm is free at once";
    const std::vector<kv::centre::CentreAlarm> waiting = second.Waiting();
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(waiting[0].id, held);
    EXPECT_EQ(waiting[0].state, "taken");
    EXPECT_EQ(waiting[0].takenBy, ivanov);
    EXPECT_EQ(waiting[0].shortName, kv::Str("Объект 1"_cp));
    EXPECT_EQ(waiting[0].journal, "main");
    EXPECT_NEAR(waiting[0].leaseUntil, static_cast<double>(std::time(nullptr) + 120), 10);
    EXPECT_NEAR(waiting[0].openedAt, kv::LocalNow() - 10.0 / 1440, 1.0 / 1440);
    EXPECT_EQ(waiting[1].takenBy, petrov);

    // The lease runs out.
    db->Exec("UPDATE alarms SET lease_until = now() - interval '1 second' WHERE id = $1::bigint",
             {std::to_string(held)});
    EXPECT_TRUE(second.Take(held, petrov).taken);
    // The desk back: the alarm is no longer its own, and its close writes nothing.
    auto back = Open();
    kv::centre::AlarmQueue again(*back, kv::Str("Пульт 1"_cp));
    EXPECT_FALSE(again.Renew(held, ivanov));
    EXPECT_FALSE(again.Close(held, ivanov, kv::Str("Другое"_cp), "", kv::Str("Обработано: Другое"_cp)));
    EXPECT_EQ(again.Take(held, ivanov).holder, petrov);
    EXPECT_EQ(db->Exec("SELECT count(*) FROM events").Integer(0, 0), 0);

    ASSERT_TRUE(second.Close(held, petrov, kv::Str("Выезд группы"_cp), kv::Str("Разбито окно"_cp),
                             kv::Str("Обработано: Выезд группы. Разбито окно"_cp)));
    const pg::Result alarm = db->Exec("SELECT state, closed_by, result, comment, closed_at IS NOT NULL, lease_until "
                                      "FROM alarms WHERE id = $1::bigint",
                                      {std::to_string(held)});
    EXPECT_EQ(alarm.Text(0, 0) + "|" + alarm.Text(0, 1) + "|" + alarm.Text(0, 2) + "|" + alarm.Text(0, 3) + "|" +
                  alarm.Text(0, 4) + "|" + alarm.Text(0, 5),
              "closed|Петров|Выезд группы|Разбито окно|t|");
    const pg::Result row = db->Exec("SELECT station, journal, seq, status, tel, short_name, event FROM events");
    ASSERT_EQ(row.Rows(), 1);
    EXPECT_EQ(row.Text(0, 0) + "|" + row.Text(0, 1) + "|" + row.Text(0, 2) + "|" + row.Text(0, 3) + "|" +
                  row.Text(0, 4) + "|" + row.Text(0, 5) + "|" + row.Text(0, 6),
              "Пульт 2|desk|1|Обработка|+79001|Объект 1|Обработано: Выезд группы. Разбито окно");
    const kv::centre::TakeResult gone = second.Take(held, petrov);
    EXPECT_FALSE(gone.taken);
    EXPECT_EQ(gone.holder, "") << "closed: nobody holds it";
    EXPECT_EQ(second.Waiting().size(), 1u);
}

TEST_F(Database, TheForwarderOpensEachAlarmOfItsRowsOnceAlsoWhenKilledBeforeItsMark)
{
    kv::test::TempDir dir;
    const std::string sms = kv::Str("Новое сообщение:"_cp);
    const std::string ringFailed = kv::Str("Дозвон завершен не успешно"_cp);
    const std::string store = "+79001000001", office = "+79001000002", stranger = "+79990000000";
    const std::string garage = "+79001000003";
    const std::string storeName = kv::Str("Склад"_cp), officeName = kv::Str("Офис"_cp);
    {
        StationFiles files;
        // Failed before it was found silent: both, as at the desk, though the silence is sent first.
        files.Post(false, kv::status::kOffline, garage, ringFailed, kv::Str("Гараж"_cp));
        files.Post(true, kv::status::kOffline, garage, kv::Str("Нет связи с объектом"_cp), kv::Str("Гараж"_cp));
        files.Post(true, kv::status::kAlarm, store, sms + kv::Str("Внимание, сработал датчик движения"_cp), storeName);
        files.Post(false, kv::status::kOffline, store, ringFailed, storeName);
        files.Post(true, kv::status::kNormal, stranger, sms + kv::Str("Привет"_cp), "");
        files.Post(true, kv::status::kAlarm, stranger, sms + kv::Str("Внимание, сработал датчик движения"_cp), "");
        files.Post(true, kv::status::kOffline, office, kv::Str("Нет связи с объектом; контроль 2 ч"_cp), officeName);
        files.Post(false, kv::status::kOffline, office, ringFailed, officeName);
        files.Post(false, kv::status::kOffline, store, ringFailed, storeName);
        files.Post(true, kv::status::kArmed, office, sms + kv::Str("Поставлено на охрану"_cp), officeName);
        files.Sync();
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        StationFiles files;
        auto options = Options(Conninfo());
        options.afterCommit = [] { ::raise(SIGKILL); };
        Forwarder forwarder(options, files.Journals());
        forwarder.Start();
        std::this_thread::sleep_for(10s);
        ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    auto db = Open();
    const auto alarms = [&] {
        return Lines(*db, 8, "SELECT journal, seq, kind, tel, short_name, event, state, "
                             "abs(extract(epoch FROM now() - opened_at)) < 3600 FROM alarms ORDER BY id");
    };
    const std::vector<std::string> mainAlarms = {
        "main|1|Silent|+79001000003|Гараж|Нет связи с объектом|open|t",
        "main|2|Intrusion|+79001000001|Склад|Новое сообщение:Внимание, сработал датчик движения|open|t",
        "main|3|Stranger|+79990000000||Новое сообщение:Привет|open|t",
        "main|5|Silent|+79001000002|Офис|Нет связи с объектом; контроль 2 ч|open|t",
    };
    EXPECT_EQ(alarms(), mainAlarms) << "committed with the main journal's rows";

    StationFiles files;
    Forwarder forwarder(Options(Conninfo()), files.Journals());
    forwarder.Start();
    ASSERT_TRUE(forwarder.WaitCaughtUp(10s));
    std::vector<std::string> expected = mainAlarms;
    // The ring journal's first row shares its number with the main one's.
    expected.push_back("ring|1|RingRoundFailed|+79001000003|Гараж|Дозвон завершен не успешно|open|t");
    expected.push_back("ring|2|RingRoundFailed|+79001000001|Склад|Дозвон завершен не успешно|open|t");
    EXPECT_EQ(alarms(), expected);

    // Handled, the stranger's number opens a new alarm with its next SMS.
    kv::centre::AlarmQueue desk(*db, kv::Str("Пульт"_cp));
    const long long strangerAlarm = Ids(*db, "kind = 'Stranger'").at(0);
    ASSERT_TRUE(desk.Take(strangerAlarm, kv::Str("Иванов"_cp)).taken);
    ASSERT_TRUE(desk.Close(strangerAlarm, kv::Str("Иванов"_cp), kv::Str("Другое"_cp), "", kv::Str("Обработано"_cp)));
    files.Post(true, kv::status::kNormal, stranger, sms + kv::Str("Ещё раз"_cp), "");
    files.Sync();
    ASSERT_TRUE(forwarder.WaitCaughtUp(10s));
    expected[2] = "main|3|Stranger|+79990000000||Новое сообщение:Привет|closed|t";
    expected.push_back("main|7|Stranger|+79990000000||Новое сообщение:Ещё раз|open|t");
    EXPECT_EQ(alarms(), expected);

    // Modem 1's state reaches the stations' row at once, not at the next heartbeat.
    const auto modemUp = [&](bool up) {
        forwarder.SetModem1Up(up);
        const auto until = std::chrono::steady_clock::now() + 3s;
        while (db->Exec("SELECT modem1_up FROM stations WHERE name = 'Приёмник 1'").Text(0, 0) != (up ? "t" : "f")) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    };
    EXPECT_TRUE(modemUp(true));
    EXPECT_TRUE(modemUp(false));
}

TEST_F(Database, AViewerReadsEverythingAndEveryChangeOfTheQueueIsRefused)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    AddAlarms(*db, 1);
    const long long id = Ids(*db).at(0);
    db->ExecScript("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'kv_duty') THEN "
                   "CREATE ROLE kv_duty LOGIN IN ROLE korvalen_viewer; END IF; END $$");
    // A table of a later step is readable too.
    db->ExecScript("CREATE TABLE later_step (x integer); INSERT INTO later_step VALUES (7)");
    pg::Connection viewer(Conninfo() + " user=kv_duty");
    viewer.Connect();
    EXPECT_FALSE(kv::centre::CanWrite(viewer));
    EXPECT_TRUE(kv::centre::CanWrite(*db));
    kv::centre::AlarmQueue queue(viewer, kv::Str("Пульт дежурного"_cp));
    ASSERT_EQ(queue.Waiting().size(), 1u);
    EXPECT_EQ(viewer.Exec("SELECT (SELECT count(*) FROM stations) + (SELECT count(*) FROM events) + "
                          "(SELECT x FROM later_step)")
                  .Integer(0, 0),
              7);
    const auto refused = [](auto&& change) {
        try {
            change();
        } catch (const pg::Error& e) {
            return e.SqlState();
        }
        return std::string("allowed");
    };
    const std::string op = kv::Str("Сидоров"_cp);
    EXPECT_EQ(refused([&] { queue.Take(id, op); }), "42501");
    EXPECT_EQ(refused([&] { queue.Close(id, op, "", "", ""); }), "42501");
    EXPECT_EQ(refused([&] { queue.Renew(id, op); }), "42501");
    EXPECT_EQ(refused([&] { queue.ClaimEscalations(op, 0s); }), "42501");
    EXPECT_EQ(refused([&] { viewer.Exec("DELETE FROM events"); }), "42501");
    EXPECT_EQ(queue.Waiting().at(0).state, "open") << "the connection goes on after a refusal";
}

// A day shift as a centre journals it: the alarms on one receiver, the
// ring-round on another, the handling on a desk. The report of all stations
// read back from the database is the report of the one journal that saw it all.
TEST_F(Database, TheCentresShiftReportCountsEveryStationsRowsOnceAsOneJournalWould)
{
    const kv::test::ShiftJournal shift;
    const kv::ReportPeriod dayShift{kv::test::ShiftJournal::At(8, 0), kv::test::ShiftJournal::At(19, 59, 59)};
    auto db = Open();
    kv::centre::Migrate(*db);
    std::map<std::string, long long> seqs;
    const auto insert = [&](const std::string& station, const std::string& journal, double at, const kv::MemTable& t,
                            kv::RecordHandle row) {
        db->Exec("INSERT INTO events (station, journal, seq, event_time, status, tel, event, short_name) VALUES "
                 "($1, $2, $3::bigint, to_timestamp($4::double precision), $5, $6, $7, $8)",
                 {station, journal, std::to_string(++seqs[station + journal]), kv::EpochText(at),
                  kv::Utf8FromCp1251(t.Text(row, kv::journal::Status)), kv::Utf8FromCp1251(t.Text(row, kv::journal::Tel)),
                  kv::Utf8FromCp1251(t.Text(row, kv::journal::Event)),
                  kv::Utf8FromCp1251(t.Text(row, kv::journal::SimpleName))});
    };
    // Oldest first, as the stations forward them.
    for (const auto& [table, ring] : {std::pair{&shift.main, false}, std::pair{&shift.dial, true}})
        for (std::size_t i = table->TotalRecordCount(); i-- > 0;) {
            const kv::RecordHandle row = table->RecordAt(i);
            const double at = table->DateTime(row, kv::journal::EventTime);
            if (ring)
                insert("Приёмник 2", "ring", at, *table, row);
            else if (table->Text(row, kv::journal::Status) == kv::status::kHandling)
                insert("Пульт 1", "desk", at, *table, row);
            else
                insert("Приёмник 1", "main", at, *table, row);
        }
    // A year before: not even read.
    insert("Приёмник 1", "main", dayShift.from - 365, shift.main, shift.main.RecordAt(0));

    db->ExecScript("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'kv_duty') THEN "
                   "CREATE ROLE kv_duty LOGIN IN ROLE korvalen_viewer; END IF; END $$");
    pg::Connection viewer(Conninfo() + " user=kv_duty");
    viewer.Connect();
    kv::MemTable main("EventsTable"), ring("DialEventsTable");
    kv::centre::ReadCentreJournals(viewer, dayShift, main, ring);

    // Row for row the journals' own, newest first, texts byte for byte.
    const kv::ReportPeriod span = kv::ReportReadSpan(dayShift);
    for (const auto& [read, own] : {std::pair{&main, &shift.main}, std::pair{&ring, &shift.dial}}) {
        std::vector<std::string> expected, got;
        const auto line = [](const kv::MemTable& t, kv::RecordHandle r) {
            std::string l = kv::FixedDateTimeText(t.DateTime(r, kv::journal::EventTime));
            for (const int f : {kv::journal::Status, kv::journal::Tel, kv::journal::Event, kv::journal::SimpleName})
                l += "|" + t.Text(r, f);
            return l;
        };
        for (std::size_t i = 0; i < own->TotalRecordCount(); ++i)
            if (const double t = own->DateTime(own->RecordAt(i), kv::journal::EventTime); t >= span.from && t <= span.to)
                expected.push_back(line(*own, own->RecordAt(i)));
        for (std::size_t i = 0; i < read->TotalRecordCount(); ++i)
            got.push_back(line(*read, read->RecordAt(i)));
        EXPECT_EQ(got, expected) << read->Name();
    }

    const kv::ReportFigures all = kv::ComputeReport(main, &ring, dayShift);
    const kv::ReportFigures one = kv::ComputeReport(shift.main, &shift.dial, dayShift);
    EXPECT_EQ(all.all.alarms, one.all.alarms);
    EXPECT_EQ(all.all.TotalAlarms(), 7);
    EXPECT_EQ(all.all.handled, one.all.handled);
    EXPECT_EQ(all.all.ringCalls, one.all.ringCalls);
    EXPECT_EQ(all.byOperator, one.byOperator);
    EXPECT_EQ(all.waitBins, one.waitBins);
    EXPECT_EQ(all.rowsRead, one.rowsRead);
    ASSERT_EQ(all.objects.size(), one.objects.size());
    for (const auto& [name, o] : one.objects) {
        SCOPED_TRACE(kv::Utf8FromCp1251(name));
        ASSERT_TRUE(all.objects.count(name));
        const kv::ObjectFigures& a = all.objects.at(name);
        EXPECT_EQ(a.alarms, o.alarms);
        EXPECT_EQ(a.handled, o.handled);
        EXPECT_EQ(a.ringCalls, o.ringCalls);
        EXPECT_EQ(a.ringAnswered, o.ringAnswered);
        EXPECT_EQ(a.longestWait, o.longestWait) << "the desk's handling matched to the receiver's alarm";
    }
    ASSERT_EQ(all.handlings.size(), one.handlings.size());
    for (const kv::Handling& h : all.handlings)
        EXPECT_TRUE(h.kind.has_value()) << kv::Utf8FromCp1251(h.object);

    // A period too long for the memory of a desk is refused, not read.
    EXPECT_THROW(kv::centre::ReadCentreJournals(viewer, dayShift, main, ring, 5), std::runtime_error);

    // The journal tool makes the same report from the database.
    const std::string duty = Conninfo() + " user=kv_duty";
    const char* argv[] = {"korvalen-jrn", "report", "--from", "02.03.2026 08:00", "--to", "02.03.2026 19:59:59",
                          "--database", duty.c_str()};
    std::ostringstream out, err;
    EXPECT_EQ(kv::jrn::Run(8, argv, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("Тревог всего: 7"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("  Склад: тревог 2, обработано 2, ложных 1, обзвон 1/1\n"), std::string::npos) << out.str();
}

TEST_F(Database, AMigrationByARoleThatMayNotCreateRolesGoesOnWithoutTheViewers)
{
    // As on a managed server: the station's role owns its database and nothing more.
    pg::Connection admin(Server() + " dbname=postgres");
    admin.Connect();
    admin.ExecScript("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'kv_plain') THEN "
                     "CREATE ROLE kv_plain LOGIN; END IF; END $$");
    const std::string name = Open()->Exec("SELECT current_database()").Text(0, 0);
    admin.ExecScript(admin.Exec("SELECT format('ALTER DATABASE %I OWNER TO kv_plain', $1::text)", {name}).Text(0, 0));
    // The viewers' role is the cluster's: kept aside meanwhile, as if none had been made.
    const bool existed =
        admin.Exec("SELECT count(*) FROM pg_roles WHERE rolname = 'korvalen_viewer'").Integer(0, 0) > 0;
    if (existed)
        admin.ExecScript("ALTER ROLE korvalen_viewer RENAME TO korvalen_viewer_aside");
    struct Back {
        pg::Connection& admin;
        bool existed;
        ~Back()
        {
            try {
                if (existed)
                    admin.ExecScript("ALTER ROLE korvalen_viewer_aside RENAME TO korvalen_viewer");
            } catch (const pg::Error&) {
            }
        }
    } back{admin, existed};
    pg::Connection plain(Conninfo() + " user=kv_plain");
    plain.Connect();
    EXPECT_EQ(kv::centre::Migrate(plain), kv::centre::LatestSchemaVersion());
    EXPECT_EQ(admin.Exec("SELECT count(*) FROM pg_roles WHERE rolname = 'korvalen_viewer'").Integer(0, 0), 0);
    EXPECT_TRUE(kv::centre::CanWrite(plain));

    // The administrator makes the role: the next start grants it.
    if (!existed)
        admin.ExecScript("CREATE ROLE korvalen_viewer_aside NOLOGIN");
    back.existed = false;
    admin.ExecScript("ALTER ROLE korvalen_viewer_aside RENAME TO korvalen_viewer");
    const auto viewerReads = [&] {
        return plain.Exec("SELECT has_table_privilege('korvalen_viewer', 'alarms', 'SELECT')").Text(0, 0);
    };
    EXPECT_EQ(viewerReads(), "f");
    EXPECT_EQ(kv::centre::Migrate(plain), 0);
    EXPECT_EQ(viewerReads(), "t");
}

TEST_F(Database, EscalationsAreClaimedOnceByTheFirstReceiverWithItsModemUp)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    // A desk and a receiver gone quiet come first by name, and are passed over.
    db->Exec("INSERT INTO stations (name, role, modem1_up, heartbeat) VALUES "
             "('Desk', 'desk', true, now()), ('Приёмник 0', 'receiver', true, now() - interval '1 minute'), "
             "('Приёмник 1', 'receiver', true, now()), ('Приёмник 2', 'receiver', true, now()), "
             "('Приёмник 3', 'receiver', false, now())");
    AddAlarms(*db, 30);
    AddAlarms(*db, 1, "Intrusion", "1 minute"); // not yet due
    AddAlarms(*db, 1, "Stranger");              // never escalated
    AddAlarms(*db, 1);
    db->Exec("UPDATE alarms SET state = 'closed' WHERE id = (SELECT max(id) FROM alarms)");
    const std::vector<long long> due = Ids(*db, "seq <= 30");

    // Receiver 1 twice (an escalation round overlapping the next), receiver 2 beside it.
    const std::string receivers[] = {kv::Str("Приёмник 1"_cp), kv::Str("Приёмник 1"_cp), kv::Str("Приёмник 2"_cp)};
    std::vector<long long> claimed[3];
    std::string failures[3];
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            try {
                pg::Connection c(Conninfo());
                c.Connect();
                kv::centre::AlarmQueue queue(c, receivers[t]);
                ++ready;
                while (ready < 3)
                    std::this_thread::yield();
                for (int round = 0; round < 8; ++round)
                    for (const kv::centre::CentreAlarm& a : queue.ClaimEscalations(receivers[t], 300s, 3))
                        claimed[t].push_back(a.id);
            } catch (const std::exception& e) {
                failures[t] = e.what();
            }
        });
    for (auto& t : threads)
        t.join();
    ASSERT_EQ(failures[0] + failures[1] + failures[2], "");
    EXPECT_TRUE(claimed[2].empty()) << "receiver 2 is not the chosen one";
    std::vector<long long> all = claimed[0];
    all.insert(all.end(), claimed[1].begin(), claimed[1].end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, due) << "each due alarm once";
    kv::centre::AlarmQueue queue(*db, kv::Str("Пульт"_cp));
    EXPECT_EQ(queue.ClaimEscalations(kv::Str("Приёмник 1"_cp), 300s).size(), 0u);
    int escalated = 0;
    for (const kv::centre::CentreAlarm& a : queue.Waiting())
        escalated += a.escalated;
    EXPECT_EQ(escalated, 30);

    // Receiver 1's modem down: receiver 2 takes over, with what is due since.
    db->Exec("UPDATE stations SET modem1_up = false WHERE name = 'Приёмник 1'");
    AddAlarms(*db, 2);
    EXPECT_EQ(queue.ClaimEscalations(kv::Str("Приёмник 1"_cp), 300s).size(), 0u);
    const std::vector<kv::centre::CentreAlarm> takenOver = queue.ClaimEscalations(kv::Str("Приёмник 2"_cp), 300s);
    ASSERT_EQ(takenOver.size(), 2u);
    EXPECT_LT(takenOver[0].id, takenOver[1].id) << "oldest first";
    EXPECT_TRUE(takenOver[0].escalated);
    EXPECT_EQ(takenOver[0].station, kv::Str("Приёмник 1"_cp));
}

TEST_F(Database, ADesksWindowsTakeAndCloseThroughAWorkerAndAreAnsweredOnTheirOwnThread)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    AddAlarms(*db, 1);
    const long long id = Ids(*db).at(0);
    // The answers queue up as for a UI thread, and run on this one.
    std::mutex lock;
    std::condition_variable posted;
    std::deque<std::function<void()>> answers;
    const auto post = [&](std::function<void()> answer) {
        std::lock_guard hold(lock);
        answers.push_back(std::move(answer));
        posted.notify_all();
    };
    const auto serve = [&] {
        std::unique_lock hold(lock);
        if (!posted.wait_for(hold, 10s, [&] { return !answers.empty(); }))
            return false;
        auto answer = std::move(answers.front());
        answers.pop_front();
        hold.unlock();
        answer();
        return true;
    };
    const std::thread::id ui = std::this_thread::get_id();
    std::vector<std::string> told;
    const auto took = [&](bool taken, const std::string& holder, const std::string& error) {
        told.push_back((taken ? "taken" : "lost to " + holder) + (error.empty() ? "" : ", error"));
        EXPECT_EQ(std::this_thread::get_id(), ui);
    };
    kv::centre::ClosedRow written;
    const auto closed = [&](bool done, const std::string& error, const kv::centre::ClosedRow& row) {
        told.push_back((done ? "closed" : "not closed") + (error.empty() ? std::string() : ", error"));
        EXPECT_EQ(std::this_thread::get_id(), ui);
        EXPECT_EQ(done, row.deskSeq != 0) << "only a close tells the row it wrote";
        if (done)
            written = row;
    };
    const std::string ivanov = kv::Str("Иванов"_cp), petrov = kv::Str("Петров"_cp);
    kv::centre::AlarmQueueWorker first(Conninfo(), kv::Str("Пульт 1"_cp), post);
    kv::centre::AlarmQueueWorker second(Conninfo(), kv::Str("Пульт 2"_cp), post);
    first.Take(id, ivanov, took);
    ASSERT_TRUE(serve());
    second.Take(id, petrov, took);
    ASSERT_TRUE(serve());
    first.Release(id, ivanov);
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (db->Exec("SELECT state FROM alarms").Text(0, 0) != "open" && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(5ms);
    second.Take(id, petrov, took);
    ASSERT_TRUE(serve());
    second.Renew(id, petrov);
    second.Close(id, petrov, kv::Str("Другое"_cp), "", kv::Str("Обработано: Другое"_cp), closed);
    ASSERT_TRUE(serve());
    second.Close(id, petrov, kv::Str("Другое"_cp), "", kv::Str("Обработано: Другое"_cp), closed);
    ASSERT_TRUE(serve());
    EXPECT_EQ(told.size(), 5u);
    EXPECT_EQ(told[0], "taken");
    EXPECT_EQ(told[1], kv::Str("lost to Иванов"_cp));
    EXPECT_EQ(told[2], "taken");
    EXPECT_EQ(told[3], "closed");
    EXPECT_EQ(told[4], "not closed");
    EXPECT_EQ(db->Exec("SELECT count(*) FROM events WHERE station = 'Пульт 2' AND journal = 'desk'").Integer(0, 0), 1);
    // The row as the desk journals its copy: the centre's number, time, number and text.
    const pg::Result row = db->Exec("SELECT seq, extract(epoch FROM event_time), tel, event FROM events "
                                    "WHERE station = 'Пульт 2' AND journal = 'desk'");
    EXPECT_EQ(written.deskSeq, row.Integer(0, 0));
    EXPECT_NEAR(written.at, kv::LocalDateTimeOf(row.Real(0, 1)), 1e-8);
    EXPECT_NEAR(written.at, kv::LocalNow(), 60.0 / 86400);
    EXPECT_EQ(written.tel, row.Text(0, 2));
    EXPECT_EQ(written.event, kv::Str("Обработано: Другое"_cp));

    // The server restarted (or a standby promoted) between two calls: the
    // next one goes through on a new connection, not failing first.
    Control("stop -m immediate");
    Control("start -w -l server.log");
    db->Connect();
    AddAlarms(*db, 1);
    first.Take(Ids(*db).back(), ivanov, took);
    ASSERT_TRUE(serve());
    EXPECT_EQ(told.back(), "taken");

    // No database: answered at once with why.
    kv::centre::AlarmQueueWorker away("host=/nonexistent port=5432 dbname=none", kv::Str("Пульт 3"_cp), post);
    away.Take(id, ivanov, took);
    ASSERT_TRUE(serve());
    away.Close(id, ivanov, "", "", "", closed);
    ASSERT_TRUE(serve());
    EXPECT_EQ(told.at(6), "lost to , error");
    EXPECT_EQ(told.at(7), "not closed, error");
}

// ------------------------------------------------------------------ the register

// Posted calls queue up as for a UI thread and run on the test's.
struct UiQueue {
    std::mutex lock;
    std::condition_variable posted;
    std::deque<std::function<void()>> calls;
    kv::centre::RegisterSync::Post Post()
    {
        return [this](std::function<void()> call) {
            std::lock_guard hold(lock);
            calls.push_back(std::move(call));
            posted.notify_all();
        };
    }
    void Drain()
    {
        std::unique_lock hold(lock);
        while (!calls.empty()) {
            auto call = std::move(calls.front());
            calls.pop_front();
            hold.unlock();
            call();
            hold.lock();
        }
    }
    // Serves calls until `done` holds or the time is up.
    bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            std::unique_lock hold(lock);
            if (!posted.wait_until(hold, until, [&] { return !calls.empty(); }))
                return done();
            auto call = std::move(calls.front());
            calls.pop_front();
            hold.unlock();
            call();
        }
        return true;
    }
};

kv::DeviceEntry Device(const std::string& shortName, const std::string& tel, const std::string& list = "")
{
    kv::DeviceEntry d;
    d.listName = list.empty() ? shortName : list;
    d.shortName = shortName;
    d.number = tel;
    d.dialTime = "60";
    return d;
}

std::vector<kv::DeviceEntry> FileEntries()
{
    kv::DeviceRegister files;
    files.Load();
    return files.Entries();
}

const std::string kHash = "$argon2id$v=19$m=65536,t=2,p=1$c2FsdHNhbHRzYWx0$aGFzaGhhc2hoYXNoaGFzaGhhc2hoYXNoaGFzaA";

TEST_F(Database, ObjectCardsSeedAnEmptyCentreAndAnAdministratorsSaveReachesAnotherStationsFiles)
{
    kv::test::TempDir dir;
    kv::ObjectCard card{kv::Str("Ключи у соседа.\r\nВызвать группу"_cp),
                        {{kv::Str("Петров"_cp), kv::Str("хозяин"_cp), "+79001112233", ""},
                         {kv::Str("Охрана ТЦ"_cp), "", "", kv::Str("без телефона"_cp)}}};
    {
        kv::DeviceRegister own; // station B's files before the centre
        own.Replace({Device("Obj", "+7901")});
        own.Objects.Set("+7901", card);
        std::string error;
        ASSERT_TRUE(own.Objects.Save(error)) << error;
    }
    UiQueue ui;
    kv::DeviceRegister reg;
    ASSERT_TRUE(reg.Load());
    kv::CentreRegister b(Conninfo(), "B", reg, std::nullopt, {}, ui.Post());
    ASSERT_TRUE(ui.ServeUntil([&] { return b.Sync().Connected(); }));
    auto db = Open();
    EXPECT_EQ(db->Exec("SELECT count(*) FROM object_contacts WHERE tel = '+7901'").Integer(0, 0), 2) << "B seeded";

    // Another station's administrator saves: B's files follow, contacts in their order.
    card.contacts[1].phone = "+79004445566";
    std::map<std::string, kv::ObjectCard> saved = {{"+7901", card}, {"+7902", {kv::Str("Пожарный пост"_cp), {}}}};
    kv::centre::RegisterSync a(Conninfo(), "A", {}, [](std::function<void()>) {}, {}, 50ms);
    a.PushObjects(saved);
    ASSERT_TRUE(ui.ServeUntil([&] {
        kv::DeviceRegister files;
        std::string problem;
        return files.Objects.Load(problem) && files.Objects.All() == saved;
    }, 5s));
    EXPECT_EQ(reg.Objects.Of("+7901"), card) << "and what the alarm window reads";

    // B's administrator removes one: the centre and the other station follow.
    reg.Objects.Set("+7902", {});
    std::string error;
    ASSERT_TRUE(reg.Objects.Save(error)) << error;
    EXPECT_EQ(b.Saved(true), "");
    ASSERT_TRUE(b.Sync().WaitSettled(5s));
    EXPECT_EQ(db->Exec("SELECT string_agg(tel, ',') FROM object_cards").Text(0, 0), "+7901");
    const auto pulled = kv::centre::Pull(*db);
    ASSERT_TRUE(pulled.objects.has_value());
    EXPECT_EQ(*pulled.objects, (std::map<std::string, kv::ObjectCard>{{"+7901", card}}));
}

TEST_F(Database, ARegisterSavedAtOneStationReachesAnothersFilesWithinSecondsAndSoDoesADeletion)
{
    kv::test::TempDir dir;
    {
        kv::DeviceRegister own;
        own.Replace({Device("Old", "+7999")}); // station B's files before the centre
    }
    UiQueue ui;
    kv::DeviceRegister reg;
    ASSERT_TRUE(reg.Load());
    int replaced = 0;
    std::vector<std::string> techno;
    kv::CentreRegister::Hooks hooks;
    hooks.replaced = [&] { ++replaced; };
    hooks.techno = [&](const std::string& text, kv::Rgb) { techno.push_back(text); };
    auto b = std::make_unique<kv::CentreRegister>(Conninfo(), "B", reg, std::nullopt, hooks, ui.Post());
    ASSERT_TRUE(ui.ServeUntil([&] { return b->Sync().Connected(); }));
    auto db = Open();
    EXPECT_EQ(db->Exec("SELECT string_agg(short_name, ',') FROM devices").Text(0, 0), "Old") << "B seeded";

    // Station A's administrator saves the register.
    kv::centre::RegisterSync a(Conninfo(), "A", {}, [](std::function<void()>) {}, {}, 50ms);
    const std::vector<kv::DeviceEntry> saved = {Device("A1", "+7901", kv::Str("Склад"_cp)), Device("A2", "+7902")};
    const auto start = std::chrono::steady_clock::now();
    a.PushDevices(saved);
    ASSERT_TRUE(ui.ServeUntil([&] { return FileEntries() == saved; }, 5s));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 3s);
    std::printf("register change reached another station's files in %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_EQ(reg.FindShortNameByNumber("+7902", ""), "A2") << "the lookups too";
    EXPECT_EQ(replaced, 1);
    ASSERT_FALSE(techno.empty());

    a.PushDevices({saved[1]});
    ASSERT_TRUE(ui.ServeUntil([&] { return FileEntries().size() == 1; }, 5s));
    EXPECT_EQ(FileEntries().at(0).shortName, "A2");
    EXPECT_EQ(db->Exec("SELECT count(*) FROM devices").Integer(0, 0), 1);

    b.reset();

    // B's administrator edits meanwhile: the database's copy waits for the
    // save; a save that changes nothing lays it, a change wins over it.
    bool editing = true;
    hooks.busy = [&] { return editing; };
    kv::CentreRegister busy(Conninfo(), "B2", reg, std::nullopt, hooks, ui.Post());
    const auto changeAt = [&](kv::CentreRegister& station, const std::vector<kv::DeviceEntry>& devices) {
        a.PushDevices(devices);
        ASSERT_TRUE(a.WaitSettled(5s));
        station.Sync().PullNow();
        ASSERT_TRUE(station.Sync().WaitSettled(5s));
        ui.Drain();
    };
    changeAt(busy, {saved[0]});
    EXPECT_EQ(FileEntries(), std::vector<kv::DeviceEntry>{saved[1]}) << "waits while the register is edited";
    editing = false;
    EXPECT_EQ(busy.Saved(true), "");
    EXPECT_EQ(FileEntries(), std::vector<kv::DeviceEntry>{saved[0]});

    editing = true;
    changeAt(busy, {saved[1]});
    reg.Replace({Device("Mine", "+7903")}); // the administrator's edit, saved to the files
    editing = false;
    EXPECT_EQ(busy.Saved(true), "");
    ASSERT_TRUE(busy.Sync().WaitSettled(5s));
    EXPECT_EQ(db->Exec("SELECT string_agg(short_name, ',') FROM devices").Text(0, 0), "Mine");
    EXPECT_EQ(FileEntries().at(0).shortName, "Mine");
    // Two devices of one name cannot be told apart in the centre: refused, said why.
    reg.Replace({Device("X", "+7904"), Device("X", "+7905")});
    EXPECT_NE(busy.Saved(true).find("X"), std::string::npos);
    reg.Replace({Device("Y", "+7906")});
    EXPECT_EQ(busy.Saved(false), "");
    ASSERT_TRUE(busy.Sync().WaitSettled(5s));
    EXPECT_EQ(db->Exec("SELECT string_agg(short_name, ',') FROM devices").Text(0, 0), "Mine")
        << "only an administrator's save goes";
}

TEST_F(Database, EveryFieldOfADeviceRoundTripsWithEveryCp1251Byte)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    kv::DeviceEntry full{all, all + "1", all + "2", all + "3", all + "4", all + "5", all + "6", all + "7", true, true};
    kv::DeviceEntry other{"\"q\"\\", "", "", "", "{}", "", "", "", false, true};
    kv::centre::PushDevices(*db, {other, full}, kv::Str("Пульт"_cp));
    const kv::centre::SharedRegister pulled = kv::centre::Pull(*db);
    ASSERT_TRUE(pulled.devices.has_value());
    EXPECT_EQ(*pulled.devices, (std::vector<kv::DeviceEntry>{other, full})) << "in the register's order";
    EXPECT_FALSE(pulled.accounts.has_value()) << "nobody saved the accounts";
    EXPECT_EQ(db->Exec("SELECT changed_by FROM register_state").Text(0, 0), "Пульт");

    // A save that changes one device touches that row only.
    db->Exec("UPDATE devices SET changed_at = now() - interval '1 hour'");
    other.dialEnable = true;
    kv::centre::PushDevices(*db, {other, full}, "s");
    EXPECT_EQ(db->Exec("SELECT count(*) FROM devices WHERE changed_at > now() - interval '1 minute'").Integer(0, 0), 1);
    EXPECT_THROW(kv::centre::PushDevices(*db, {other, other}, "s"), std::invalid_argument);
    EXPECT_EQ(kv::centre::Pull(*db).devices->size(), 2u) << "a refused save changes nothing";

    // A full board's register in one save, and read back.
    std::vector<kv::DeviceEntry> board;
    for (int i = 0; i < 900; ++i)
        board.push_back(Device(kv::Str("Объект "_cp) + std::to_string(i), "+7900" + std::to_string(1000000 + i)));
    const auto start = std::chrono::steady_clock::now();
    kv::centre::PushDevices(*db, board, "s");
    const auto back = kv::centre::Pull(*db);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(back.devices, board);
    EXPECT_LT(took, 5s);
    std::printf("900 devices saved and read back in %lld ms\n", static_cast<long long>(took.count()));
}

TEST_F(Database, AFirstStationSeedsAnEmptyDatabaseAndASecondStationsFilesGiveWay)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    using kv::centre::SharedAccount;
    const std::vector<kv::DeviceEntry> first = {Device("A", "+7901"), Device("B", "+7902")};
    const std::vector<kv::DeviceEntry> second = {Device("C", "+7903")};
    auto pulled = kv::centre::SeedOrPull(*db, {}, {}, "empty");
    EXPECT_FALSE(pulled.devices || pulled.accounts) << "a station with nothing seeds nothing";
    pulled = kv::centre::SeedOrPull(*db, first, {{kv::Str("Администратор"_cp), kHash, "admin"}}, "one");
    EXPECT_EQ(pulled.devices, first);
    ASSERT_TRUE(pulled.accounts.has_value());
    EXPECT_EQ(pulled.accounts->size(), 1u);
    pulled = kv::centre::SeedOrPull(*db, second, {{"other", kHash, "operator"}}, "two");
    EXPECT_EQ(pulled.devices, first) << "the database wins";
    EXPECT_EQ(pulled.accounts->at(0).name, kv::Str("Администратор"_cp));

    // An empty register saved by an administrator is the centre's register too.
    kv::centre::PushDevices(*db, {}, "one");
    EXPECT_EQ(kv::centre::SeedOrPull(*db, second, {}, "three").devices, std::vector<kv::DeviceEntry>{});

    // A second station's own files give way to the database's at its start.
    kv::centre::PushDevices(*db, first, "one");
    kv::test::TempDir dir;
    kv::DeviceRegister reg;
    reg.Replace(second);
    UiQueue ui;
    int replaced = 0;
    kv::CentreRegister::Hooks hooks;
    hooks.replaced = [&] { ++replaced; };
    std::vector<std::string> techno;
    hooks.techno = [&](const std::string& text, kv::Rgb) { techno.push_back(text); };
    kv::CentreRegister station(Conninfo(), "two", reg, std::nullopt, hooks, ui.Post());
    ASSERT_TRUE(ui.ServeUntil([&] { return FileEntries() == first; }));
    EXPECT_EQ(replaced, 1);
    // Its own is kept beside, and the operator told where.
    std::filesystem::rename("t1.bin.own", "t1.bin");
    std::filesystem::rename("t2.bin.own", "t2.bin");
    EXPECT_EQ(FileEntries(), second);
    ASSERT_EQ(techno.size(), 2u);
    EXPECT_NE(techno[0].find("t1.bin.own"), std::string::npos);
}

TEST_F(Database, AnAccountSavedAtOneDeskReachesAnotherAndAnOpenAccessWindowKeepsItsOwnChange)
{
    using kv::centre::SharedAccount;
    using Accounts = std::vector<SharedAccount>;
    const auto names = [](Accounts accounts) {
        std::set<std::string> out;
        for (const SharedAccount& a : accounts)
            out.insert(a.name + ":" + a.role);
        return out;
    };
    kv::test::TempDir dir;
    kv::DeviceRegister reg;
    reg.Load();
    UiQueue ui;
    const std::string admin = kv::Str("Администратор"_cp);
    Accounts first = {{admin, kHash, "admin"}};
    Accounts second = {{"other", kHash, "operator"}};
    kv::CentreRegister::Hooks hooksA;
    hooksA.accounts = [&] { return first; };
    hooksA.layAccounts = [&](const Accounts& laid) { first = laid; };
    kv::CentreRegister a(Conninfo(), "A", reg, first, hooksA, ui.Post());
    ASSERT_TRUE(ui.ServeUntil([&] { return a.Sync().Connected(); }));
    bool editing = false;
    int laidAtB = 0;
    kv::CentreRegister::Hooks hooksB;
    hooksB.accounts = [&] { return second; };
    hooksB.accountsBusy = [&] { return editing; };
    hooksB.layAccounts = [&](const Accounts& laid) {
        second = laid;
        ++laidAtB;
    };
    kv::CentreRegister b(Conninfo(), "B", reg, second, hooksB, ui.Post());
    ASSERT_TRUE(ui.ServeUntil([&] { return names(second) == names(first); })) << "B's own give way";

    first.push_back({"duty", kHash, "viewer"});
    a.AccountsSaved();
    ASSERT_TRUE(ui.ServeUntil([&] { return names(second) == names(first); }, 5s));
    EXPECT_EQ(laidAtB, 2);
    const int before = laidAtB;
    b.AccountsSaved();
    ASSERT_TRUE(b.Sync().WaitSettled(5s));
    ui.Drain();
    EXPECT_EQ(laidAtB, before) << "a close that changed nothing pushes nothing and lays nothing";

    // B's administrator has the access window open: A's deletion waits, and
    // B's save, made on what B had, wins.
    editing = true;
    first.pop_back();
    a.AccountsSaved();
    ASSERT_TRUE(a.Sync().WaitSettled(5s));
    b.Sync().PullNow();
    ASSERT_TRUE(b.Sync().WaitSettled(5s));
    ui.Drain();
    EXPECT_EQ(second.size(), 2u) << "waits while the window is open";
    second.push_back({"petrov", kHash, "operator"});
    editing = false;
    b.AccountsSaved();
    ASSERT_TRUE(b.Sync().WaitSettled(5s));
    auto db = Open();
    EXPECT_EQ(db->Exec("SELECT string_agg(name || ':' || role, ',' ORDER BY name COLLATE \"C\") FROM operators")
                  .Text(0, 0),
              "duty:viewer,petrov:operator,Администратор:admin");
}

TEST_F(Database, AccountsGoAsHashesOnlyAndAViewerChangesNothingOfTheRegister)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    using kv::centre::SharedAccount;
    const std::string admin = kv::Str("Администратор"_cp), ivanov = kv::Str("Иванов"_cp);
    kv::centre::PushAccounts(*db,
                             {{admin, kHash, "admin"},
                              {ivanov, kHash + "x", "viewer"},
                              {ivanov, kHash, "admin"},
                              {"plain", "secret", "operator"},
                              {"odd", kHash, "boss"}},
                             "s");
    const auto accounts = *kv::centre::Pull(*db).accounts;
    ASSERT_EQ(accounts.size(), 3u) << "a password in clear never leaves the station; a name counts once";
    EXPECT_EQ(accounts[0], (SharedAccount{"odd", kHash, "operator"})) << "an unknown role is an operator's";
    EXPECT_EQ(accounts[1], (SharedAccount{admin, kHash, "admin"}));
    EXPECT_EQ(accounts[2], (SharedAccount{ivanov, kHash + "x", "viewer"}));
    EXPECT_EQ(db->Exec("SELECT count(*) FROM operators WHERE password_hash NOT LIKE '$argon2id$%'").Integer(0, 0), 0);
    kv::centre::PushAccounts(*db, {{admin, kHash, "admin"}}, "s");
    EXPECT_EQ(kv::centre::Pull(*db).accounts->size(), 1u) << "a deleted account goes";

    db->ExecScript("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'kv_duty') THEN "
                   "CREATE ROLE kv_duty LOGIN IN ROLE korvalen_viewer; END IF; END $$");
    kv::centre::Migrate(*db); // grants the viewers the register's new table
    pg::Connection viewer(Conninfo() + " user=kv_duty");
    viewer.Connect();
    try {
        kv::centre::PushDevices(viewer, {Device("V", "+7900")}, "duty");
        ADD_FAILURE() << "a viewer saved the register";
    } catch (const pg::Error& e) {
        EXPECT_EQ(e.SqlState(), "42501");
    }
    const auto seen = kv::centre::SeedOrPull(viewer, {Device("V", "+7900")}, {}, "duty");
    EXPECT_FALSE(seen.devices.has_value()) << "a viewer's desk seeds nothing";
    EXPECT_EQ(seen.accounts->size(), 1u) << "and reads what there is";
}

TEST_F(Database, ASaveMadeWhileTheDatabaseIsAwayGoesOnItsReturn)
{
    auto db = Open();
    kv::centre::Migrate(*db);
    kv::centre::PushDevices(*db, {Device("A", "+7901")}, "s");
    db.reset();
    std::vector<std::string> refused;
    kv::centre::RegisterSync::Callbacks callbacks;
    UiQueue ui;
    callbacks.refused = [&](const std::string& why) { refused.push_back(why); };
    kv::centre::RegisterSync sync(Conninfo(), "s", {}, ui.Post(), callbacks, 50ms);
    ASSERT_TRUE(sync.WaitSettled(10s));
    Control("stop -m immediate");
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (sync.Connected() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(sync.Connected());
    sync.PushDevices({Device("B", "+7902")});
    Control("start -w -l server.log");
    ASSERT_TRUE(sync.WaitSettled(20s));
    db = Open();
    EXPECT_EQ(db->Exec("SELECT string_agg(short_name, ',') FROM devices").Text(0, 0), "B");
    sync.PushDevices({Device("C", "+7903"), Device("C", "+7904")});
    ASSERT_TRUE(sync.WaitSettled(10s));
    ui.ServeUntil([&] { return !refused.empty(); });
    EXPECT_EQ(refused.size(), 1u) << "a register the database cannot take is told";
}

TEST_F(Database, WhatTheDeskDidWhileTheDatabaseWasAwayGoesWithItsRowsSoNothingIsSentOrLeftOpenTwice)
{
    kv::test::TempDir dir;
    kv::test::WriteFileBytes(dir.File("config.ini"),
                             "[Database]\r\nConnection=" + Conninfo() + "\r\nStation=" + kv::Str("Приёмник 1"_cp) + "\r\n");
    kv::VirtualClock clock(kv::LocalNow());
    const std::string ivanov = kv::Str("Иванов"_cp), petrov = kv::Str("Петров"_cp), responder = "+79990000001";
    const auto start = [&](kv::DeviceRegister& reg) {
        reg.Replace({Device(kv::Str("Склад"_cp), "+79001000001"), Device(kv::Str("Офис"_cp), "+79001000002"),
                     Device(kv::Str("Гараж"_cp), "+79001000003")});
        auto core = std::make_unique<kv::StationCore>(reg, "config.ini");
        core->WorkerClock = &clock;
        core->Open([](const std::string&) {}, [](const std::string&) {});
        core->Desk().SetClock(clock);
        core->Modem1->Running = true;
        return core;
    };
    const auto intrusion = [&](kv::StationCore& core, const std::string& tel, const std::string& name) {
        core.HandOver(kv::SmsReport(tel, name, kv::Str("Внимание, сработал датчик движения"_cp)), tel);
        return core.Desk().Rows().back().id;
    };

    Control("stop -m immediate");
    {
        kv::DeviceRegister reg;
        auto core = start(reg);
        core->SetEscalationTexts("1", responder);
        const std::uint64_t store = intrusion(*core, "+79001000001", kv::Str("Склад"_cp));
        const std::uint64_t office = intrusion(*core, "+79001000002", kv::Str("Офис"_cp));
        ASSERT_TRUE(core->Desk().Handle(office, kv::kHandlingResults[1], kv::Str("Группа 3 на месте"_cp), ivanov));
        for (int s = 0; s < 61; ++s) {
            clock.Advance(1000);
            core->Tick();
        }
        std::optional<kv::TModem::SmsSend> sms = core->Modem1->TakeSend();
        ASSERT_TRUE(sms.has_value()) << "escalated here: the centre cannot be asked";
        EXPECT_EQ(sms->number, responder);
        sms->outcome(true);
        ASSERT_EQ(core->Desk().Find(store)->escalatedTo, std::vector<std::string>{responder});
        core->EventsLog->SyncNow();
    } // and the receiver restarted before the database came back
    Control("start -w -l server.log");
    kv::DeviceRegister reg;
    auto core = start(reg);
    core->Tick();
    ASSERT_TRUE(core->Centre()->WaitCaughtUp(15s));
    auto db = Open();
    const auto alarms = [&] {
        return Lines(*db, 7, "SELECT tel, state, escalated_at IS NOT NULL, coalesce(closed_by, ''), coalesce(result, ''), "
                             "coalesce(comment, ''), coalesce(closed_at = (SELECT event_time FROM events e "
                             "  WHERE e.journal = 'main' AND e.status = 'Обработка' AND e.tel = a.tel), false) "
                             "FROM alarms a ORDER BY id");
    };
    // Closed at the time of its "Обработка" row, by its operator, with its result and comment.
    EXPECT_EQ(alarms(), (std::vector<std::string>{"+79001000001|open|t||||f",
                                                  "+79001000002|closed|f|Иванов|Выезд группы|Группа 3 на месте|t"}));

    // The chosen receiver claims what is due: not the alarm escalated here.
    AddAlarms(*db, 1);
    const auto chosen = [&] {
        return db->Exec("SELECT role || ' ' || left(modem1_up::text, 1) FROM stations WHERE name = 'Приёмник 1'").Text(0, 0);
    };
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (chosen() != "receiver t" && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    kv::centre::AlarmQueue queue(*db, kv::Str("Пульт"_cp));
    std::vector<std::string> claimed;
    for (const kv::centre::CentreAlarm& a : queue.ClaimEscalations(kv::Str("Приёмник 1"_cp), 0s))
        claimed.push_back(a.shortName);
    EXPECT_EQ(claimed, std::vector<std::string>{kv::Str("Объект 3"_cp)});

    // Closed at another desk first: this desk's later handling leaves that close as it is.
    const std::uint64_t garage = intrusion(*core, "+79001000003", kv::Str("Гараж"_cp));
    ASSERT_TRUE(core->Centre()->WaitCaughtUp(10s));
    const long long centreId = Ids(*db, "tel = '+79001000003'").at(0);
    kv::centre::AlarmQueue other(*db, kv::Str("Пульт 2"_cp));
    ASSERT_TRUE(other.Take(centreId, petrov).taken);
    ASSERT_TRUE(other.Close(centreId, petrov, kv::Str("Ложная тревога"_cp), "", kv::Str("Обработано: Ложная тревога"_cp)));
    ASSERT_TRUE(core->Desk().Handle(garage, kv::kHandlingResults[3], "", ivanov));
    core->EventsLog->SyncNow();
    ASSERT_TRUE(core->Centre()->WaitCaughtUp(10s));
    EXPECT_EQ(alarms().back(), "+79001000003|closed|f|Петров|Ложная тревога||f");
    EXPECT_FALSE(std::filesystem::exists("forwarded-desk.txt")) << "nothing left for the centre to learn";
}

// A desk's handling of another receiver's alarm: one "Обработка" row in the
// desk's own journal and one in the centre, wherever the desk stops on the way,
// and the desk's shift report counts it.
TEST_F(Database, ADesksCloseOfACentreAlarmIsOneRowInItsJournalAndOneInTheCentreWhereverItStops)
{
    enum class Stop { Nowhere, BeforeJournal, DatabaseAwayBeforeForward, MarkLostAfterForward };
    const std::string ivanov = kv::Str("Иванов"_cp), petrov = kv::Str("Петров"_cp);
    const std::string handled = kv::HandledEvent(kv::kHandlingResults[1], kv::Str("Группа 3"_cp), ivanov, 5);
    const auto handlings = [](const kv::StationCore& core) {
        std::vector<int> rows;
        for (int i = 0; i < core.EventsTable.RecordCount(); ++i)
            if (core.EventsTable.TextAt(i, kv::journal::Status) == kv::status::kHandling)
                rows.push_back(i);
        return rows;
    };
    for (const Stop stop : {Stop::Nowhere, Stop::BeforeJournal, Stop::DatabaseAwayBeforeForward, Stop::MarkLostAfterForward}) {
        SCOPED_TRACE("stop " + std::to_string(static_cast<int>(stop)));
        kv::test::TempDir dir;
        const std::string conninfo = kv::test::FreshTestDatabase("kv" + std::to_string(static_cast<int>(stop)) + "_");
        kv::test::WriteFileBytes(dir.File("config.ini"),
                                 "[Database]\r\nConnection=" + conninfo + "\r\nStation=" + kv::Str("Пульт 1"_cp) + "\r\n");
        pg::Connection db(conninfo);
        db.Connect();
        kv::centre::Migrate(db);
        const long long id =
            db.Exec("INSERT INTO alarms (station, seq, kind, tel, short_name, event, opened_at) VALUES "
                    "('Приёмник 1', 7, 'Intrusion', '+79001000001', 'Склад', 'Тревога', now()) RETURNING id")
                .Integer(0, 0);
        const auto start = [&](kv::DeviceRegister& reg) {
            reg.Replace({Device(kv::Str("Склад"_cp), "+79001000001")});
            auto core = std::make_unique<kv::StationCore>(reg, "config.ini");
            core->Open([](const std::string&) {}, [](const std::string&) {});
            return core;
        };
        kv::centre::ClosedRow row;
        {
            kv::DeviceRegister reg;
            auto core = start(reg);
            ASSERT_TRUE(core->Centre()->WaitCaughtUp(10s));
            kv::centre::AlarmQueue queue(db, kv::Str("Пульт 1"_cp)), other(db, kv::Str("Пульт 2"_cp));
            ASSERT_TRUE(queue.Take(id, ivanov).taken);
            // Another desk's close of an alarm it does not hold writes nothing, here or there.
            EXPECT_FALSE(other.Close(id, petrov, kv::Str("Ложная тревога"_cp), "", "x", &row));
            EXPECT_EQ(row.deskSeq, 0);
            ASSERT_TRUE(queue.Close(id, ivanov, std::string(kv::kHandlingResults[1]), kv::Str("Группа 3"_cp), handled, &row));
            if (stop == Stop::DatabaseAwayBeforeForward)
                Control("stop -m immediate");
            if (stop != Stop::BeforeJournal)
                core->Desk().CentreRowClosed(id, &row);
            core->EventsLog->SyncNow();
            if (stop == Stop::Nowhere || stop == Stop::MarkLostAfterForward) {
                ASSERT_TRUE(core->Centre()->WaitCaughtUp(10s));
            }
        }
        if (stop == Stop::DatabaseAwayBeforeForward) {
            Control("start -w -l server.log");
            db.Connect();
        }
        if (stop == Stop::MarkLostAfterForward)
            std::filesystem::remove("forwarded.ini"); // as if killed before its mark: every row goes again
        // Started twice more: the second start finds nothing left to do.
        for (int run = 0; run < 2; ++run) {
            SCOPED_TRACE("run " + std::to_string(run));
            kv::DeviceRegister reg;
            auto core = start(reg);
            const auto until = std::chrono::steady_clock::now() + 10s;
            while (handlings(*core).empty() && std::chrono::steady_clock::now() < until) {
                kv::ServeHandOvers();
                std::this_thread::sleep_for(5ms);
            }
            core->EventsLog->SyncNow();
            ASSERT_TRUE(core->Centre()->WaitCaughtUp(10s));
            kv::ServeHandOvers();
            const std::vector<int> local = handlings(*core);
            ASSERT_EQ(local.size(), 1u) << "one handling in the desk's own journal";
            EXPECT_EQ(core->EventsTable.TextAt(local[0], kv::journal::Event), handled);
            EXPECT_EQ(core->EventsTable.TextAt(local[0], kv::journal::SimpleName), kv::Str("Склад"_cp));
            EXPECT_DOUBLE_EQ(core->EventsTable.Float(core->EventsTable.HandleAt(local[0]), kv::journal::EventTime),
                             row.at);
            EXPECT_EQ(Lines(db, 4, "SELECT station, journal, main_seq IS NOT NULL AND main_seq > 0, event FROM events "
                                   "WHERE status = 'Обработка'"),
                      std::vector<std::string>{"Пульт 1|desk|t|" + kv::Utf8FromCp1251(handled)})
                << "one in the centre: the desk's row, marked with its copy's number";
            const kv::ReportFigures report =
                kv::ComputeReport(core->EventsTable, nullptr, {row.at - 1.0 / 24, row.at + 1.0 / 24});
            EXPECT_EQ(report.all.TotalHandled(), 1);
            EXPECT_EQ(report.byOperator.count(ivanov) ? report.byOperator.at(ivanov) : 0, 1);
        }
    }
}

TEST_F(Database, AReceiversTilesComeBackByDeviceAfterARestartAndAFileStationWritesNoPagesFile)
{
    kv::test::TempDir dir;
    std::vector<kv::DeviceEntry> devices;
    for (int i = 1; i <= 1000; ++i)
        devices.push_back(Device("D" + std::to_string(i), "+7900" + std::to_string(1000 + i)));
    {
        kv::DeviceRegister own;
        own.Replace(devices);
    }
    const auto serveUntil = [](const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < until) {
            kv::ServeHandOvers();
            std::this_thread::sleep_for(5ms);
        }
        return done();
    };
    const auto stateOf = [](kv::Receiver& receiver, const std::string& name) {
        const kv::BoardState::PagesPtr pages = receiver.Core().Board.Pages();
        for (const kv::BoardState::Page& page : *pages)
            for (std::size_t i = 0; i < page.layout.texts.size(); ++i)
                if (page.layout.texts[i] == name)
                    return page.tiles->GuardStates[i] * 10 + page.tiles->InfoStates[i];
        return -1;
    };
    {
        std::ostringstream err;
        kv::Receiver plain("config.ini", err);
        EXPECT_EQ(plain.Core().Board.Pages()->size(), 1u) << "no centre: one board, as ever";
    }
    EXPECT_FALSE(std::filesystem::exists(kv::kTilePagesFile));

    kv::test::WriteFileBytes("config.ini", "[Database]\r\nConnection=" + Conninfo() + "\r\nStation=R1\r\n");
    {
        std::ostringstream err;
        kv::Receiver receiver("config.ini", err);
        ASSERT_EQ(receiver.Core().Board.Pages()->size(), 2u);
        receiver.Core().Board.SetGuardState("D1000", 2);
        receiver.Core().Board.SetInfoState("D1000", 4);
        receiver.Core().Board.SetGuardState("D2", 1);
        // The centre took the register as it was.
        auto db = Open();
        ASSERT_TRUE(serveUntil([&] {
            try {
                return db->Exec("SELECT count(*) FROM devices").Text(0, 0) == "1000";
            } catch (const pg::Error&) {
                return false;
            }
        }));
    }
    ASSERT_EQ(std::filesystem::file_size(kv::kTileStatesFile), 1800u);
    std::ostringstream err;
    kv::Receiver again("config.ini", err);
    EXPECT_EQ(stateOf(again, "D1000"), 24) << "past the first board";
    EXPECT_EQ(stateOf(again, "D2"), 10);
    EXPECT_EQ(stateOf(again, "D999"), 0);
}

TEST_F(Database, AReceiverTakesTheCentresRegisterAndLeavesToAnotherTheDevicesGivenToIt)
{
    kv::test::TempDir dir;
    {
        kv::DeviceRegister own;
        own.Replace({Device("Old", "+7999")});
    }
    kv::test::WriteFileBytes("config.ini", "[Database]\r\nConnection=" + Conninfo() + "\r\nStation=R1\r\n");
    std::ostringstream err;
    kv::Receiver receiver("config.ini", err);
    const kv::DeviceRegister& reg = receiver.Core().Register();
    // No UI thread here: the hand-overs queue until this thread serves them.
    const auto serveUntil = [&](const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < until) {
            kv::ServeHandOvers();
            std::this_thread::sleep_for(5ms);
        }
        return done();
    };
    auto db = Open();
    ASSERT_TRUE(serveUntil([&] {
        try {
            return db->Exec("SELECT string_agg(short_name, ',') FROM devices").Text(0, 0) == "Old";
        } catch (const pg::Error&) {
            return false; // the schema is still being made
        }
    })) << "the receiver's files seeded the centre";
    std::vector<kv::DeviceEntry> devices = {Device("New", "+7901"), Device("Old", "+7999")};
    for (kv::DeviceEntry& d : devices)
        d.dialEnable = true;
    kv::centre::PushDevices(*db, devices, "A");
    ASSERT_TRUE(serveUntil([&] { return reg.FindShortNameByNumber("+7901", "") == "New"; }));
    kv::DialSchedule& schedule = receiver.Core().Schedule;
    EXPECT_EQ(schedule.Text(0, 0) + "," + schedule.Text(0, 1), "New,Old") << "the board and the ring-round follow";
    EXPECT_TRUE(schedule.At(0, 0).enabled && schedule.At(0, 1).enabled);
    EXPECT_EQ(FileEntries(), devices);

    // A device given to another receiver is rung there only; given back, here again.
    db->Exec("INSERT INTO stations (name, role) VALUES ('R2', 'receiver')");
    db->Exec("UPDATE devices SET receiver = 'R2' WHERE short_name = 'New'");
    db->Exec("UPDATE devices SET receiver = 'R1' WHERE short_name = 'Old'");
    ASSERT_TRUE(serveUntil([&] { return schedule.Text(0, 0) == "Old"; }));
    EXPECT_TRUE(schedule.At(0, 0).enabled) << "its own one stays";
    EXPECT_EQ(schedule.Text(0, 1), "") << "the other's is not rung here";
    EXPECT_EQ(receiver.Core().Board.TileText(0, 0), "New") << "the tile stays on the board";
    db->Exec("UPDATE devices SET receiver = NULL");
    ASSERT_TRUE(serveUntil([&] { return schedule.Text(0, 0) == "New" && schedule.At(0, 0).enabled; }));

    // A company past one board: this receiver's share is rung wherever the
    // register has it, and every device keeps a tile.
    devices.clear();
    for (int i = 1; i <= 1000; ++i) {
        devices.push_back(Device("D" + std::to_string(i), "+7900" + std::to_string(1000 + i)));
        devices.back().dialEnable = true;
    }
    kv::centre::PushDevices(*db, devices, "A");
    db->Exec("UPDATE devices SET receiver = CASE WHEN short_name IN ('D5', 'D990', 'D1000') THEN 'R1' ELSE 'R2' END");
    ASSERT_TRUE(serveUntil([&] { return schedule.Text(0, 2) == "D1000"; }));
    EXPECT_EQ(schedule.Text(0, 0) + "," + schedule.Text(0, 1) + "," + schedule.Text(0, 3), "D5,D990,");
    EXPECT_TRUE(schedule.At(0, 1).enabled && schedule.At(0, 2).enabled);
    const kv::BoardState::PagesPtr pages = receiver.Core().Board.Pages();
    ASSERT_EQ(pages->size(), 2u);
    EXPECT_EQ((*pages)[1].layout.Text(3, 9), "D1000");
}

} // namespace
