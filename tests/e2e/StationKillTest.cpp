// The station as a separate program against the modem simulator, killed with
// SIGKILL at seeded random moments while SMS keep arriving (also while it is
// down), and restarted on the same folder each time. What a crash may cost is
// bounded: every event recorded more than a second before the kill is in
// "t3.bin" once the next start has folded its log, newest first, and no table
// file is ever left damaged; no report is journalled twice, also when a kill
// fell between its row and its delete. At the end SIGTERM closes it like its
// close box, promptly and with exit code 0, and "t3.bin" then holds every
// report exactly once.
#include "data/MemTable.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "data/TileStates.h"
#include "tests/e2e/StationProcess.h"
#include "tests/support/Cp1251.h"
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <tuple>

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using namespace kv::literals;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kSender = "+79111111111";
constexpr const char* kOperator = "Оператор"; // UTF-8, as the environment carries it
constexpr const char* kPassword = "1234";
// Old rows the journal starts with, so that the start-up's load and fold take a
// moment a kill can fall into.
constexpr int kOldRows = 30000;
// A new message at most every period, a few waiting at a time.
constexpr std::size_t kMaxWaiting = 4;
constexpr auto kSmsPeriod = 600ms;
// Reports go on arriving while the station is down.
constexpr auto kDownTime = 1500ms;
constexpr auto kLookPeriod = 100ms;
constexpr auto kSyncGrace = 1s;

const char* const kTableFiles[] = {"t1.bin", "t2.bin", "t3.bin", "t4.bin", "t6.bin"};

// The station installed in a folder of its own with its tables, and the
// simulator, its modems at stable link paths, named in its "config.ini".
struct InstalledStation {
    InstalledStation() : program(dir.path() / "station"), sim(LinkedModems(dir))
    {
        InstallStation(program);
        WriteStationTables(program, kSender, kOperator, kPassword, kOldRows);
        WriteStationConfig(program, sim.Path(1), sim.Path(2));
    }
    TempDir dir;
    fs::path program;
    ModemSim sim;
};

struct Message {
    std::string text;    // UTF-8, as the simulator takes it
    std::string event;   // the journal's "event" text, CP1251
    std::set<int> runsThatRead; // runs in which the SIM showed it read, or deleted it
    std::optional<Clock::time_point> deleted; // when it was first seen gone from the SIM
};

struct StationRun {
    Clock::time_point spawned;
    std::optional<Clock::time_point> initialised; // "AT\r" seen: logged in, start-up fold done
    std::optional<Clock::time_point> ended;
};

class KillHarness {
public:
    // `logsIn`: each run logs an operator in (the windows program); the
    // receiver never does.
    KillHarness(ModemSim& sim, fs::path programDir, bool logsIn)
        : m_sim(sim), m_dir(std::move(programDir)), m_logsIn(logsIn)
    {
    }

    // SIM listing and sent lines, as often as the test looks.
    void Look(int run)
    {
        std::set<int> present;
        for (const std::string& line : m_sim.Command("sim 1")) {
            // "<index> <REC UNREAD|REC READ> <number> <text>"
            const std::size_t status = line.find(' ');
            if (status == std::string::npos)
                continue;
            const bool read = line.compare(status + 1, 9, "REC READ ") == 0;
            const std::size_t number = line.find(' ', status + (read ? 9 : 11)) + 1;
            const std::size_t numberEnd = line.find(' ', number);
            if (number == 0 || numberEnd == std::string::npos)
                continue;
            const auto it = m_byText.find(line.substr(numberEnd + 1));
            if (it == m_byText.end())
                continue;
            present.insert(it->second);
            if (read)
                m_messages[static_cast<std::size_t>(it->second)].runsThatRead.insert(run);
        }
        const auto now = Clock::now();
        for (std::size_t i = 0; i < m_messages.size(); ++i) {
            Message& m = m_messages[i];
            if (!m.deleted && m_stored.count(static_cast<int>(i)) && !present.count(static_cast<int>(i))) {
                m.deleted = now;
                m.runsThatRead.insert(run);
            }
        }
        m_waiting = present.size();

        const auto& sent = m_sim.SentLines(1);
        for (; m_sentSeen < sent.size(); ++m_sentSeen) {
            m_sentAt.emplace_back(now, sent[m_sentSeen]);
            if (sent[m_sentSeen] == "AT\\r" && !m_runs.back().initialised)
                m_runs.back().initialised = now;
        }
    }

    // Nothing stored or waiting at the network is left unread.
    bool AllRead()
    {
        for (std::size_t i = 0; i < m_messages.size(); ++i)
            if (!m_messages[i].deleted)
                return false;
        return m_sim.Command("network 1").empty();
    }

    // One more message when the last is a period old and few are waiting.
    void MaybeSend()
    {
        const auto now = Clock::now();
        if (now - m_lastSent < kSmsPeriod || m_waiting >= kMaxWaiting)
            return;
        m_lastSent = now;
        const int n = static_cast<int>(m_messages.size());
        Message m;
        m.text = std::string(n % 2 ? "Снято с охраны" : "Поставлено на охрану") + " " + std::to_string(n);
        m.event = Utf8ToCp1251("Новое сообщение:" + m.text);
        // Stored, or waiting at the network for room: either way the station must read it.
        const ModemSim::Result stored = m_sim.TryCommand("sms 1 " + std::string(kSender) + " " + m.text);
        m_byText[m.text] = n;
        m_messages.push_back(std::move(m));
        if (stored.ok) {
            m_stored.insert(n);
            ++m_waiting;
        }
    }

    StationRun& StartRun()
    {
        m_runs.push_back({Clock::now(), {}, {}});
        return m_runs.back();
    }
    std::vector<StationRun>& Runs() { return m_runs; }
    // Read by one run and left on the SIM for the next by its kill.
    std::size_t ReadAgain() const
    {
        std::size_t n = 0;
        for (const Message& m : m_messages)
            n += m.runsThatRead.size() > 1 ? 1 : 0;
        return n;
    }
    std::size_t Deleted() const
    {
        std::size_t n = 0;
        for (const Message& m : m_messages)
            n += m.deleted ? 1 : 0;
        return n;
    }

    // "t3.bin" as it stands: every event the runs so far must have kept is
    // there, none twice, newest first, the old rows untouched. `finalClose`:
    // the last run ended by a clean close, so it keeps everything to its end.
    void CheckJournal(const std::string& when, bool finalClose)
    {
        SCOPED_TRACE(when);
        MemTable events;
        ASSERT_NO_THROW(TableFormat().Load(events, (m_dir / "t3.bin").string()));
        const int count = events.RecordCount();

        std::map<std::string, int> perEvent;
        std::set<std::tuple<double, std::string, std::string, std::string, std::string>> rows;
        int logins = 0, old = 0, firstOld = -1;
        double previous = 1e300;
        for (int r = 0; r < count; ++r) {
            const double time = events.DateTimeAt(r, journal::EventTime);
            const std::string status = events.TextAt(r, journal::Status);
            const std::string event = events.TextAt(r, journal::Event);
            EXPECT_LE(time, previous) << "row " << r << " is newer than the row above it";
            previous = time;
            const bool fresh = rows.emplace(time, status, events.TextAt(r, journal::Tel), event,
                                            events.TextAt(r, journal::SimpleName))
                                   .second;
            EXPECT_TRUE(fresh) << "row " << r << " is there twice: " << Cp1251ToUtf8(event);
            ++perEvent[event];
            if (status == "Логин"_cp)
                ++logins;
            if (event.rfind("old ", 0) == 0) {
                if (firstOld < 0)
                    firstOld = r;
                ++old;
            }
        }
        EXPECT_EQ(old, kOldRows);
        EXPECT_EQ(firstOld, count - kOldRows) << "the old rows stay below every new one";
        if (count >= 1 && old == kOldRows) {
            EXPECT_EQ(events.TextAt(count - 1, journal::Event), "old 0");
            EXPECT_EQ(events.TextAt(firstOld, journal::Event), "old " + std::to_string(kOldRows - 1));
        }

        // Only runs that have ended count: a running one logs, it has not folded yet.
        int keptLogins = 0, endedRuns = 0;
        for (const StationRun& run : m_runs) {
            if (!run.ended)
                continue;
            ++endedRuns;
            const bool closedCleanly = finalClose && &run == &m_runs.back();
            if (run.initialised && (closedCleanly || *run.initialised + kSyncGrace <= *run.ended))
                ++keptLogins;
        }
        if (m_logsIn) {
            EXPECT_GE(logins, keptLogins) << "a login recorded well before its run ended is lost";
            EXPECT_LE(logins, endedRuns);
        } else {
            EXPECT_EQ(logins, 0) << "nobody logs in to the receiver";
        }

        for (const Message& m : m_messages) {
            const int rowsOf = perEvent.count(m.event) ? perEvent[m.event] : 0;
            const StationRun* deletedIn = nullptr;
            for (const StationRun& run : m_runs)
                if (m.deleted && *m.deleted >= run.spawned && (!run.ended || *m.deleted <= *run.ended))
                    deletedIn = &run;
            // Its row was written before the delete went out; the delete was
            // seen a second or more before the kill, so the row was synced.
            const bool mustBeKept =
                deletedIn && deletedIn->ended && (finalClose || *m.deleted + kSyncGrace <= *deletedIn->ended);
            if (mustBeKept) {
                EXPECT_GE(rowsOf, 1) << "lost: " << m.text << Describe(events);
            }
            // A run killed between a message's row and its delete leaves it on
            // the SIM; the next run finds the row and only deletes it.
            EXPECT_LE(rowsOf, 1) << "journalled twice: " << m.text << Describe(events);
            if (finalClose && m.deleted) {
                EXPECT_EQ(rowsOf, 1) << "not journalled: " << m.text << Describe(events);
            }
        }
    }

    std::string Describe() const
    {
        MemTable events;
        try {
            TableFormat().Load(events, (m_dir / "t3.bin").string());
        } catch (const std::exception&) {
        }
        return Describe(events);
    }

private:
    std::string Describe(const MemTable& events) const
    {
        const auto origin = m_runs.front().spawned;
        auto ms = [&](Clock::time_point t) {
            return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(t - origin).count());
        };
        std::string out = "\nruns (ms from the first start):";
        for (const StationRun& run : m_runs)
            out += "\n  spawned " + ms(run.spawned) + (run.initialised ? " initialised " + ms(*run.initialised) : "")
                   + (run.ended ? " ended " + ms(*run.ended) : "");
        out += "\nmessages:";
        for (const Message& m : m_messages) {
            out += "\n  " + m.text + (m.deleted ? " deleted " + ms(*m.deleted) : "") + " read in";
            for (int r : m.runsThatRead)
                out += " " + std::to_string(r);
        }
        out += "\nsent to modem 1:";
        for (const auto& [at, line] : m_sentAt)
            out += "\n  " + ms(at) + " " + line;
        out += "\nnew rows:";
        for (int r = 0; r < events.RecordCount() - kOldRows && r < events.RecordCount(); ++r)
            out += "\n  " + FormatDateTime(events.DateTimeAt(r, journal::EventTime)) + " "
                   + Cp1251ToUtf8(events.TextAt(r, journal::Status)) + " " + Cp1251ToUtf8(events.TextAt(r, journal::Event));
        return out;
    }

    ModemSim& m_sim;
    fs::path m_dir;
    bool m_logsIn;
    std::vector<Message> m_messages;
    std::map<std::string, int> m_byText;
    std::set<int> m_stored;
    std::size_t m_waiting = 0;
    std::size_t m_sentSeen = 0;
    std::vector<std::pair<Clock::time_point, std::string>> m_sentAt;
    Clock::time_point m_lastSent{};
    std::vector<StationRun> m_runs;
};

void CheckTableFiles(const fs::path& dir, const std::string& when)
{
    for (const char* file : kTableFiles) {
        const ToolResult check = RunBuildTool("korvalen-jrn", {"check", (dir / file).string()});
        EXPECT_EQ(check.status, 0) << file << " " << when << ": " << check.output;
        EXPECT_EQ(check.output.rfind("OK ", 0), 0u) << file << " " << when << ": " << check.output;
    }
    std::ifstream tiles(dir / kTileStatesFile, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<long>(tiles.tellg()), 2 * TileStates::kTiles) << "t5.bin " << when;
}

// The program killed, its seed for the kill moments, and the window of the
// late kills (after its first messages are read).
struct KillWalk {
    bool receiver;
    std::uint32_t seed;
    int lateFromMs, lateToMs;
};
void PrintTo(const KillWalk& walk, std::ostream* out)
{
    *out << (walk.receiver ? "korvalen-receiver" : "korvalen") << " seed " << walk.seed;
}

// Walks with kill moments of their own, so that CTest runs them side by side.
class StationKilled : public ::testing::TestWithParam<KillWalk> {};

TEST_P(StationKilled, AtRandomMomentsKeepsEveryEventOnceAndASignalClosesItCleanly)
{
    const KillWalk walk = GetParam();
    const auto testStart = Clock::now();
    const auto testLimit = 230s;
    InstalledStation installed;
    ASSERT_FALSE(HasFatalFailure());
    TempDir& dir = installed.dir;
    const fs::path& program = installed.program;
    ModemSim& sim = installed.sim;

    KillHarness harness(sim, program, !walk.receiver);
    StationProcess station;
    // The windows program logs in by its start-up aid; the receiver starts its
    // modems by itself, on the same folder.
    const std::vector<std::string> env = {std::string("KORVALEN_AUTOSTART=") + kOperator + ":" + kPassword};
    const fs::path log = dir.path() / "station.log";
    auto start = [&] {
        if (walk.receiver)
            station.Start(ReceiverCommand(program), program, {}, log);
        else
            station.Start(program, env, log);
    };

    // Late kills fall while messages are read, journalled and deleted; early
    // ones into the start-up, where the journal is loaded, replayed and folded.
    std::mt19937 random(walk.seed);
    // A start reads its first messages a few seconds in, once logged in (the
    // windows program) and the modem set up.
    std::uniform_int_distribution<int> late(walk.lateFromMs, walk.lateToMs), early(50, 2000);
    constexpr int kKills = 5;
    for (int k = 0; k < kKills; ++k) {
        SCOPED_TRACE("run " + std::to_string(k));
        const bool isLate = k % 3 != 1;
        const auto killAfter = std::chrono::milliseconds(isLate ? late(random) : early(random));
        start();
        StationRun& run = harness.StartRun();
        bool checked = k == 0;
        while (Clock::now() - run.spawned < killAfter) {
            harness.Look(k);
            harness.MaybeSend();
            if (!checked && run.initialised) {
                // The start-up has folded what the killed run logged.
                harness.CheckJournal("after the restart of run " + std::to_string(k), false);
                checked = true;
            }
            ASSERT_LT(Clock::now() - testStart, testLimit);
            std::this_thread::sleep_for(kLookPeriod);
        }
        EXPECT_EQ(station.Kill(), 128 + SIGKILL) << "the station ended before its kill; see " << log;
        run.ended = Clock::now();
        harness.Look(k); // what the killed run read and left on the SIM
        CheckTableFiles(program, "after kill " + std::to_string(k));
        if (HasFailure())
            return;
        for (const auto down = Clock::now(); Clock::now() - down < kDownTime;) {
            harness.MaybeSend();
            std::this_thread::sleep_for(kLookPeriod);
        }
    }

    // The last run reads a few more messages, then everything still waiting,
    // then SIGTERM.
    start();
    StationRun& last = harness.StartRun();
    const std::size_t deletedBefore = harness.Deleted();
    bool checked = false;
    while (!checked || harness.Deleted() < deletedBefore + 2) {
        harness.Look(kKills);
        harness.MaybeSend();
        if (!checked && last.initialised) {
            harness.CheckJournal("after the last restart", false);
            checked = true;
        }
        ASSERT_LT(Clock::now() - testStart, testLimit) << "the last run read too few messages";
        std::this_thread::sleep_for(kLookPeriod);
    }
    do {
        harness.Look(kKills);
        ASSERT_LT(Clock::now() - testStart, testLimit) << "reports left unread" << harness.Describe();
        std::this_thread::sleep_for(kLookPeriod);
    } while (!harness.AllRead());
    // Its last delete is seen; its row was synced before it went out.
    std::this_thread::sleep_for(kSyncGrace);
    const auto signalled = Clock::now();
    station.Signal(SIGTERM);
    const int status = station.WaitExit(15s);
    const auto closeTime = Clock::now() - signalled;
    last.ended = signalled;
    EXPECT_EQ(status, 0) << "SIGTERM must close the station as its close box does; see " << log;
    if (status < 0)
        station.Kill();
    std::cout << "[ figures  ] SIGTERM to exit: "
              << std::chrono::duration_cast<std::chrono::milliseconds>(closeTime).count() << " ms; "
              << harness.Deleted() << " messages journalled and deleted over " << kKills + 1 << " runs, "
              << harness.ReadAgain() << " of them read by a run and read again by the next\n";
    harness.Look(kKills);
    harness.CheckJournal("after SIGTERM", true);
    CheckTableFiles(program, "after SIGTERM");
    EXPECT_GE(harness.Deleted(), 3u) << "too few messages went through to prove much" << harness.Describe();
}

// One walk of the receiver is enough: the walks of the windows program cover
// the same core, and the suite's time is spent with care.
INSTANTIATE_TEST_SUITE_P(Seeds, StationKilled,
                         ::testing::Values(KillWalk{false, 20240611u, 5000, 14000}, KillWalk{false, 20261207u, 5000, 14000},
                                           KillWalk{true, 20261210u, 2000, 9000}),
                         [](const auto& info) {
                             return std::string(info.param.receiver ? "receiver_" : "station_")
                                    + std::to_string(info.param.seed);
                         });

// Killed while it watched modem 1 with an alarm open, the station is started
// again with nobody to log in: it initialises the modems itself, journals the
// resume, reads the report sent while it was down, and keeps the alarm open
// (journalled as unhandled by the clean close). Then the start-up aid: after the
// clean close it logs in and starts the modems with no resume row; killed with
// another alarm open and started by it again, it resumes with that alarm. The
// password it carries is gone from the station's environment block.
TEST(StationResumed, AfterSigkillTheNextStartMonitorsWithoutALogin)
{
    const auto testStart = Clock::now();
    InstalledStation installed;
    ASSERT_FALSE(HasFatalFailure());
    TempDir& dir = installed.dir;
    const fs::path& program = installed.program;
    ModemSim& sim = installed.sim;
    const fs::path log = dir.path() / "station.log";
    const fs::path record = program / "korvalen.running";
    auto simEmpty = [&] { return sim.Command("sim 1").empty(); };
    const std::string alarm = std::string("Вним") + "a" + "ние Т" + "PEB" + "ОГА! Зона 1";

    const std::string login = std::string(kOperator) + ":" + kPassword;
    const std::vector<std::string> autoStart = {std::string("KORVALEN_AUTOSTART=") + login};
    StationProcess station;
    station.Start(program, autoStart, log);
    ASSERT_TRUE(sim.WaitForSent(1, "AT+CSQ\\r", 60s)) << "modem 1's start-up; see " << log;
    EXPECT_TRUE(fs::exists(record)) << "the record of a watched run";
    const std::string environ = ReadFileBytes("/proc/" + std::to_string(station.Pid()) + "/environ");
    EXPECT_NE(environ.find("QT_QPA_PLATFORM="), std::string::npos) << "the block was read";
    EXPECT_EQ(environ.find(login), std::string::npos) << "the password stays in /proc/<pid>/environ";
    sim.Command(std::string("sms 1 ") + kSender + " " + alarm);
    ASSERT_TRUE(PollUntil(simEmpty, 60s)) << "the alarm is not read; see " << log;
    ASSERT_TRUE(PollUntil([&] { return ReadFileBytes(record).find("intrusion\t") != std::string::npos; }, 10s));
    std::this_thread::sleep_for(kSyncGrace + 500ms); // the journal's log is synced
    ASSERT_EQ(station.Kill(), 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(record)) << "a kill leaves it";

    const std::string armed = "Поставлено на охрану. Пока станция лежала";
    sim.Command(std::string("sms 1 ") + kSender + " " + armed);
    station.Start(program, {}, log);
    ASSERT_TRUE(PollUntil(simEmpty, 60s)) << "the report sent meanwhile is not read without a login; see " << log;
    std::this_thread::sleep_for(kSyncGrace + 500ms);
    station.Signal(SIGTERM);
    ASSERT_EQ(station.WaitExit(15s), 0) << "see " << log;
    EXPECT_FALSE(fs::exists(record)) << "the clean close removes it";
    EXPECT_LT(Clock::now() - testStart, 150s);

    MemTable events;
    ASSERT_NO_THROW(TableFormat().Load(events, (program / "t3.bin").string()));
    int logins = 0, resumed = -1, read = -1, unhandled = -1, resumeRows = 0;
    for (int r = 0; r < events.RecordCount(); ++r) {
        const std::string event = events.TextAt(r, journal::Event);
        logins += events.TextAt(r, journal::Status) == "Логин"_cp;
        if (event == "Возобновление работы после сбоя"_cp) {
            resumed = r;
            ++resumeRows;
        }
        if (event == Utf8ToCp1251("Новое сообщение:" + armed))
            read = r;
        if (event.rfind(Utf8ToCp1251("Не обработано: Новое сообщение:" + alarm + " (без оператора, ждала "), 0) == 0)
            unhandled = r;
    }
    EXPECT_EQ(logins, 1) << "only the first run logged in";
    ASSERT_GE(resumed, 0) << "no resume row";
    EXPECT_EQ(resumeRows, 1) << "the first start, logged in by the aid, is no resume";
    ASSERT_GE(read, 0) << "the report sent meanwhile is not journalled";
    EXPECT_LT(read, resumed) << "read after the resume";
    EXPECT_GE(unhandled, 0) << "the alarm open at the kill was not open again";
    EXPECT_EQ(events.TextAt(resumed, journal::Status), "Внимание"_cp);

    // The aid after the clean close: a login and the modems, no resume.
    const int rowsBefore = events.RecordCount();
    station.Start(program, autoStart, log);
    ASSERT_TRUE(PollUntil([&] { return fs::exists(record); }, 60s)) << "modem 1 not started; see " << log;
    const std::string second = std::string("Вним") + "a" + "ние Т" + "PEB" + "ОГА! Зона 2";
    sim.Command(std::string("sms 1 ") + kSender + " " + second);
    ASSERT_TRUE(PollUntil(simEmpty, 60s)) << "the second alarm is not read; see " << log;
    ASSERT_TRUE(PollUntil([&] { return ReadFileBytes(record).find("intrusion\t") != std::string::npos; }, 10s));
    std::this_thread::sleep_for(kSyncGrace + 500ms);
    ASSERT_EQ(station.Kill(), 128 + SIGKILL);

    // Killed, then started by the aid again: the resume keeps the alarm.
    station.Start(program, autoStart, log);
    sim.Command(std::string("sms 1 ") + kSender + " " + armed);
    ASSERT_TRUE(PollUntil(simEmpty, 60s)) << "modem 1 not started; see " << log;
    ASSERT_TRUE(PollUntil([&] { return ReadFileBytes(record).find("intrusion\t") != std::string::npos; }, 10s))
        << "the alarm open at the kill is not on record again; see " << log;
    std::this_thread::sleep_for(kSyncGrace + 500ms);
    station.Signal(SIGTERM);
    ASSERT_EQ(station.WaitExit(15s), 0) << "see " << log;
    EXPECT_LT(Clock::now() - testStart, 200s);

    ASSERT_NO_THROW(TableFormat().Load(events, (program / "t3.bin").string()));
    const int added = events.RecordCount() - rowsBefore;
    std::vector<int> resumes;
    int secondLeftOpen = -1, firstLeftOpen = 0;
    logins = 0;
    for (int r = 0; r < added; ++r) {
        const std::string event = events.TextAt(r, journal::Event);
        logins += events.TextAt(r, journal::Status) == "Логин"_cp;
        if (event == "Возобновление работы после сбоя"_cp)
            resumes.push_back(r);
        if (event.rfind(Utf8ToCp1251("Не обработано: Новое сообщение:" + second + " ("), 0) == 0)
            secondLeftOpen = r;
        firstLeftOpen += event.rfind(Utf8ToCp1251("Не обработано: Новое сообщение:" + alarm + " ("), 0) == 0;
    }
    EXPECT_EQ(logins, 2) << "each start of the aid logged in";
    ASSERT_EQ(resumes.size(), 1u) << "a resume after the kill only, none after the clean close";
    EXPECT_GE(secondLeftOpen, 0) << "the alarm open at the second kill was not open again";
    EXPECT_LT(secondLeftOpen, resumes[0]);
    EXPECT_EQ(firstLeftOpen, 0) << "the alarm left open at the clean close is not brought back";
}

// A long report's first part is read (kept on disk, its slot freed); the
// station is killed before the second comes. The next start joins the
// second with the first: one row, of the whole text, classified by the
// marker the two parts share.
TEST(StationKilledBetweenParts, TheNextStartJoinsTheSetOnce)
{
    InstalledStation installed;
    ASSERT_FALSE(HasFatalFailure());
    const fs::path& program = installed.program;
    ModemSim& sim = installed.sim;
    const fs::path log = installed.dir.path() / "station.log";
    auto simEmpty = [&] { return sim.Command("sim 1").empty(); };
    const std::string first = "Склад №2, ворота 1, рампа 3: Поставлено на ох";
    const std::string second = "рану оператором смены, все датчики в норме.";

    StationProcess station;
    station.Start(program, {std::string("KORVALEN_AUTOSTART=") + kOperator + ":" + kPassword}, log);
    ASSERT_TRUE(sim.WaitForSent(1, "AT+CSQ\\r", 60s)) << "modem 1's start-up; see " << log;
    sim.Command(std::string("part 1 ") + kSender + " coding=ucs2 77 2 1 " + first);
    ASSERT_TRUE(PollUntil(simEmpty, 60s)) << "the first part is not read; see " << log;
    ASSERT_EQ(station.Kill(), 128 + SIGKILL);

    sim.Command(std::string("part 1 ") + kSender + " coding=ucs2 77 2 2 " + second);
    station.Start(program, {}, log);
    ASSERT_TRUE(PollUntil(simEmpty, 60s)) << "the second part is not read; see " << log;
    std::this_thread::sleep_for(kSyncGrace + 500ms);
    station.Signal(SIGTERM);
    ASSERT_EQ(station.WaitExit(15s), 0) << "see " << log;

    MemTable events;
    ASSERT_NO_THROW(TableFormat().Load(events, (program / "t3.bin").string()));
    int whole = 0, alone = 0;
    for (int r = 0; r < events.RecordCount() - kOldRows; ++r) {
        const std::string event = events.TextAt(r, journal::Event);
        if (event == Utf8ToCp1251("Новое сообщение:" + first + second)) {
            ++whole;
            EXPECT_EQ(events.TextAt(r, journal::Status), "На охране"_cp);
        }
        alone += event.find(Utf8ToCp1251("неполное")) != std::string::npos;
    }
    EXPECT_EQ(whole, 1) << "the set, joined across the restart";
    EXPECT_EQ(alone, 0) << "no part journalled on its own";
}

} // namespace
} // namespace kv::test
