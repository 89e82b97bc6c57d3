#pragma once
// A desk's live view of the centre: the journal rows of every station and the
// alarms not yet closed, read from the database on its notices, again on each
// (re)connection and every half minute, so that a notice lost (or a change
// made without one) is found all the same. One thread with its own connection;
// the UI thread takes what came with Take().
//
// Rows are followed by each station's own numbers, not by the table's ids: two
// stations committing at once may make their ids visible out of order, while
// one station's numbers only grow. Each row is given once, also across a
// reconnection. A notice names the station, journal and number it is about,
// so those rows are read by their key; a sweep reads by the table's ids, near
// the newest. Neither costs more as the table grows.
#include "centre/CentreAlarm.h"
#include "centre/Forwarder.h"
#include "centre/Pg.h"
#include "centre/StopWait.h"
#include "data/IniFile.h"

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kv::centre {

struct DeskFeedOptions {
    std::string connection; // libpq, UTF-8
    std::chrono::milliseconds retryFirst{1000};
    std::chrono::milliseconds retryMax{30000};
    // The whole picture is read again this often, notices or not.
    std::chrono::milliseconds rereadEvery{30000};
    // Rows given at most at once: the newest of each journal on a first read,
    // and what waits for Take.
    std::size_t keep = 1000;
};

// One journal row of some station. Texts are station text (code page 1251).
struct FeedEvent {
    long long id = 0;
    std::string station, journal; // journal: "main", "ring" or "desk" (a desk's own rows)
    long long seq = 0;
    double time = 0; // station date-time of the row
    std::string status, tel, event, shortName;
};

struct FeedUpdate {
    // New since the last Take, oldest first.
    std::vector<FeedEvent> events;
    // Every alarm not closed, oldest first, when it changed since the last Take.
    bool alarmsChanged = false;
    std::vector<CentreAlarm> alarms;
    Link link = Link::Connecting;
    std::string lastError; // station text; kept after recovery
};

class DeskFeed {
public:
    // `wake`: called on the feed's thread when Take() has news; the first
    // call after a Take only, so the UI thread's queue is not flooded.
    DeskFeed(DeskFeedOptions options, std::function<void()> wake);
    ~DeskFeed();
    DeskFeed(const DeskFeed&) = delete;
    DeskFeed& operator=(const DeskFeed&) = delete;

    void Start();
    // Returns within the connection's time-out at worst: a statement in
    // flight is cut off.
    void Stop();

    // Any thread.
    FeedUpdate Take();
    Link State(std::string* lastError = nullptr) const;

private:
    void Run();
    void Connect();
    // The rows above the newest seen (and a margin below it), and on the
    // first read the newest of all.
    void SweepEvents();
    // The rows the notices tell of; false when a notice could not be read.
    bool NoticedEvents(const std::vector<std::string>& payloads);
    // The rows not given yet go to Take.
    void Deliver(const pg::Result& rows);
    std::string CursorsJson() const;
    void ReadAlarms();
    void SetLink(Link link, const std::string* error);
    void Wake(std::unique_lock<std::mutex>& lock);
    // Waits for the database's socket, the stop or the time; true when the socket is ready.
    bool WaitFor(int socket, std::chrono::steady_clock::time_point until);
    bool Stopping() const;

    DeskFeedOptions m_options;
    std::function<void()> m_wake;
    pg::Connection m_db;
    StopWait m_stopWait;

    // How far below the newest row seen a sweep looks for rows committed late.
    static constexpr long long kSweepMargin = 10000;

    // Feed thread only: how far each station's journal (UTF-8 names) has been read.
    std::map<std::pair<std::string, std::string>, long long> m_readUpTo;
    long long m_maxId = 0;   // the newest row given
    long long m_floorId = 0; // a journal met later: its rows up to here were history at the first read
    bool m_firstRead = true;
    std::vector<CentreAlarm> m_alarmsSeen;

    mutable std::mutex m_lock;
    bool m_stop = false;
    bool m_woken = false;
    std::deque<FeedEvent> m_events;
    bool m_alarmsChanged = false;
    std::vector<CentreAlarm> m_alarms;
    Link m_link = Link::Connecting;
    std::string m_lastError;
    std::thread m_thread;
};

// The feed "config.ini" asks for, started; none without a [Database] section.
std::unique_ptr<DeskFeed> StartDeskFeed(const IniFile& config, std::function<void()> wake);

} // namespace kv::centre
