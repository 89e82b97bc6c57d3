// The centre against a real PostgreSQL: tests/centre/with-postgres.sh starts a
// throw-away cluster and names it in KV_TEST_PG (and how to stop and start it
// in KV_TEST_PG_CTL). Each test has a database of its own.
#include "centre/DeskFeed.h"
#include "centre/Forwarder.h"
#include "centre/Pg.h"
#include "centre/Schema.h"
#include "centre/Utf8.h"
#include "core/BoardState.h"
#include "core/StationCore.h"
#include "devices/DeviceRegister.h"
#include "data/DurableJournal.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "modem/Report.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <memory>
#include <cstdlib>
#include <future>
#include <thread>
#include <tuple>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using namespace kv::literals;
namespace pg = kv::pg;
using kv::centre::Forwarder;
using kv::centre::Link;

std::string Server()
{
    const char* server = std::getenv("KV_TEST_PG");
    return server ? server : "";
}

void Control(const std::string& args)
{
    const char* ctl = std::getenv("KV_TEST_PG_CTL");
    ASSERT_NE(ctl, nullptr);
    ASSERT_EQ(std::system((std::string(ctl) + " " + args).c_str()), 0) << args;
}

class Database : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Server().empty()) << "run through tests/centre/with-postgres.sh";
        std::string name = "kv_";
        for (char c : std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        name.resize(std::min<std::size_t>(name.size(), 63)); // the server's limit
        pg::Connection admin(Server() + " dbname=postgres");
        admin.Connect();
        // A name is no parameter: the server quotes it.
        admin.ExecScript(admin.Exec("SELECT format('DROP DATABASE IF EXISTS %I', $1::text)", {name}).Text(0, 0));
        admin.ExecScript(admin.Exec("SELECT format('CREATE DATABASE %I', $1::text)", {name}).Text(0, 0));
        m_conninfo = Server() + " dbname=" + name;
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
    db->Exec("INSERT INTO events (station, seq, journal, event_time, event) VALUES ('S', 1, 'main', now(), 'early')");
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.events.size() == 7u; }));
    late->Exec("COMMIT");
    // And a notice of someone else's making, which changes nothing.
    db->Exec("SELECT pg_notify('korvalen_events', 'no rows of ours')");
    ASSERT_TRUE(desk.TakeUntil([&] { return desk.events.size() == 8u; }));
    desk.TakeUntil([] { return false; }, 400ms);
    EXPECT_EQ(desk.events.size(), 8u);
    EXPECT_EQ(desk.events[6].event + " " + desk.events[7].event, "early late");
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
        }
        EXPECT_EQ((std::vector<int>{tiles.GuardStates[0], tiles.InfoStates[0], tiles.AlarmMarks[0]}),
                  (std::vector<int>{step.guard, step.info, step.mark}))
            << report.event;
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
}

} // namespace
