#pragma once
// Sends every row of the station's journals to the centre's events table, in
// order, each once. The files stay first: a row goes only once it is on the
// station's disk, and the database being away costs nothing but a backlog.
//
// Rows come from the journals' logs as they are posted; rows the forwarder
// has not held in memory (those of an earlier run, or more than it keeps
// during a long outage) are read back from the table files with their logs,
// where each row's place gives its number. The logs alone would not do: every
// fold and every start empties them.
//
// The insert is keyed by (station, seq, journal) and skips what is there, and
// the forwarded-up-to mark is written only after the commit, so a crash
// between the two sends a batch again and changes nothing. On each connection
// the forwarder also starts no later than what the database holds, so rows a
// promoted standby never got are sent again.
//
// What the station's own desk did to its alarms while their rows waited here
// (an escalation sent, a handling) goes with the rows: the centre's copy is
// marked escalated, or closed with the "Обработка" row, so that no receiver
// sends it again and no desk finds it open. Kept in a file of its own until
// the database has it.
//
// A row the desk journalled as its copy of a centre close (tagged so in the
// journal) is not sent as a row: the centre's row is marked with its number.
#include "centre/CentreAlarm.h"
#include "centre/Pg.h"
#include "data/DurableJournal.h"
#include "data/IniFile.h"
#include "data/TableFormat.h"
#include "timing/Clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kv::centre {

// One journal as it goes to the database: "main" (t3.bin) or "ring" (t6.bin).
struct ForwardedJournal {
    std::string name;
    std::string fileName;
    DurableJournal* log = nullptr;
};

struct ForwarderOptions {
    std::string connection; // libpq, UTF-8
    std::string station;    // UTF-8
    std::string role = "receiver";
    std::string host; // empty: this host's name
    std::string markFile = "forwarded.ini";
    // The desk's escalations and handlings the database has not yet taken.
    std::string deskFile = "forwarded-desk.txt";
    // The pauses between tries and the heartbeat run on it; null: the real clock.
    IClock* clock = nullptr;
    std::chrono::milliseconds retryFirst{1000};
    std::chrono::milliseconds retryMax{30000};
    std::chrono::milliseconds heartbeatEvery{10000};
    std::size_t batch = 500;
    // Rows held in memory per journal; past that they are read from the files.
    std::size_t queueLimit = 100000;
    // A stop first sends what is ready for this long, then cuts the connection.
    std::chrono::milliseconds stopDrain{2000};
    // Tests: runs after each commit, before the mark is written.
    std::function<void()> afterCommit;
    // At each connection, on the forwarder's thread: the station's closes in
    // the centre whose rows its main journal has not sent as their copies (a
    // stop between a close and its journalling), for the desk to journal.
    std::function<void(std::vector<ClosedRow>)> unmirrored;
};

enum class Link { Connecting, Connected, Unreachable };

struct ForwarderState {
    Link link = Link::Connecting;
    std::string lastError; // station text; the last failure, kept after recovery
    std::uint64_t backlog = 0; // rows on disk not yet in the database
    std::uint64_t failures = 0; // tries that failed, since the start
    std::uint64_t retryAtMs = 0; // the clock's time of the next try while away
};

// An alarm of this station's journals that its desk escalated or handled.
struct DeskOutcome {
    bool handled = false; // else escalated
    std::string journal;  // the alarm's row: "main" or "ring", and its number
    std::uint64_t seq = 0;
    double at = 0;            // station date-time
    std::uint64_t rowSeq = 0; // handled: the "Обработка" row in the main journal
    std::string result, comment, user; // handled; CP1251
};

class Forwarder {
public:
    Forwarder(ForwarderOptions options, std::vector<ForwardedJournal> journals);
    ~Forwarder();
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    // On the thread that posts the journals' rows: the forwarder watches them from here on.
    void Start();
    // The same thread: what is ready is sent within stopDrain, then the
    // thread ends (a statement still in flight is cut off).
    void Stop();

    // Any thread. Whether modem 1 works: the stations' row tells the centre,
    // which lets a receiver with its modem up send the escalations.
    void SetModem1Up(bool up);
    // Any thread. "receiver" or "desk", as the stations' row tells it.
    void SetRole(const std::string& role);
    // Any thread: the desk's deed, kept on disk before this returns.
    void NoteOutcome(DeskOutcome outcome);
    // The clock moved on (a test's virtual clock): a pause looks at it again.
    void ClockMoved() const;
    ForwarderState State() const;
    // Every row of the journal up to this number is in the database.
    std::uint64_t SentUpTo(const std::string& journal) const;
    // Tests and benches: until connected with no backlog; false when the time runs out.
    bool WaitCaughtUp(std::chrono::milliseconds limit) const;

    // The mark file's numbers for the journal; 0 when none.
    static std::uint64_t ReadMark(const std::string& markFile, const std::string& station, const std::string& journal);

    struct Row {
        std::uint64_t seq = 0;
        double time = 0;
        std::string status, tel, event, shortName; // CP1251
    };

private:
    struct Journal {
        ForwardedJournal source;
        std::deque<Row> queue;       // posted, under m_lock
        std::deque<Row> catchUp;     // read from the files, forwarder thread only
        std::uint64_t readUpTo = 0;  // catchUp holds every row of the files up to it
        std::uint64_t sent = 0; // every row up to it is in the database; forwarder thread only
        // The same once the mark tells it too: the backlog others see.
        std::atomic<std::uint64_t> marked{0};
    };

    void Run();
    // Sends what is ready, or waits briefly for rows on their way to disk;
    // false when there was nothing to do.
    bool Round();
    void Connect();
    void Heartbeat();
    // Sends the next batch of one journal; false when it had nothing to send.
    bool ForwardSome(Journal& j);
    void ReadBack(Journal& j, std::uint64_t upTo);
    void Send(Journal& j, const std::vector<Row>& rows);
    // Within Send's transaction: the alarms its rows open.
    void OpenAlarms(const Journal& j, const std::vector<Row>& rows);
    // Every row of the journal up to `seq` is in the database: the mark says so.
    void Advance(Journal& j, std::uint64_t seq);
    void WriteMark();
    void SetState(Link link, const std::string* error);
    // A try failed: why, and when the next one is due after `pause`.
    void Failed(Link link, const std::string& error, std::chrono::milliseconds pause);
    // Waits until the next try is due, the stop or a change of the clock aside.
    void PauseUntilRetry();
    std::uint64_t Ms() const { return m_clock->MonotonicMs(); }
    // The desk's deeds whose rows are in the database by now, or will be
    // with `j` up to `upTo`: their indexes in m_outcomes.
    std::vector<std::size_t> ReadyOutcomes(const Journal* j, std::uint64_t upTo);
    // Within a transaction: the centre's copies of their alarms marked.
    void ApplyOutcomes(const std::vector<std::size_t>& ready);
    // After the commit: those are the database's now.
    void DropOutcomes(const std::vector<std::size_t>& applied);
    void WriteOutcomes(); // under m_lock
    std::uint64_t Backlog() const;

    ForwarderOptions m_options;
    std::vector<std::unique_ptr<Journal>> m_journals;
    TableFormat m_format;
    pg::Connection m_db;

    mutable std::mutex m_lock; // the queues, the state, the stop flag
    mutable std::condition_variable m_wake;
    bool m_stop = false;
    bool m_finished = false;
    std::chrono::steady_clock::time_point m_drainUntil; // set with m_stop
    Link m_link = Link::Connecting;
    std::string m_lastError;
    std::uint64_t m_failures = 0, m_retryAt = 0;
    mutable std::uint64_t m_clockMoves = 0;
    std::uint64_t m_notes = 0;
    std::uint64_t m_nextHeartbeat = 0; // the clock's ms
    IClock* m_clock;
    std::atomic<bool> m_modem1Up{false};
    bool m_modem1Written = false; // in the stations' row; forwarder thread only
    std::string m_role;           // under m_lock
    std::string m_roleWritten;    // forwarder thread only
    std::vector<DeskOutcome> m_outcomes; // under m_lock, as on disk
    std::thread m_thread;
};

// The forwarder "config.ini" asks for, started on the posting thread; none
// (no thread, no file) without a [Database] section.
std::unique_ptr<Forwarder> StartForwarder(const IniFile& config, std::vector<ForwardedJournal> journals,
                                          const std::string& role = "receiver", IClock* clock = nullptr,
                                          std::function<void(std::vector<ClosedRow>)> unmirrored = nullptr);

} // namespace kv::centre
