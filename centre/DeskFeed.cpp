#include "centre/DeskFeed.h"

#include "centre/AlarmQueue.h"

#include "centre/Schema.h"
#include "centre/Settings.h"
#include "centre/Utf8.h"
#include "timing/DateTime.h"

#include <algorithm>
#include <cstdio>

namespace kv::centre {

namespace {

std::string JsonText(const std::string& utf8)
{
    std::string out = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool SameAlarm(const CentreAlarm& a, const CentreAlarm& b)
{
    return a.id == b.id && a.station == b.station && a.journal == b.journal && a.seq == b.seq && a.shortName == b.shortName && a.tel == b.tel &&
           a.kind == b.kind && a.event == b.event && a.openedAt == b.openedAt && a.state == b.state &&
           a.takenBy == b.takenBy && a.leaseUntil == b.leaseUntil && a.escalated == b.escalated;
}

} // namespace

DeskFeed::DeskFeed(DeskFeedOptions options, std::function<void()> wake)
    : m_options(std::move(options)), m_wake(std::move(wake)), m_db(m_options.connection)
{
}

DeskFeed::~DeskFeed() { Stop(); }

void DeskFeed::Start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
}

void DeskFeed::Stop()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_stopWait.Stop();
    m_db.Abort();
    if (m_thread.joinable())
        m_thread.join();
}

bool DeskFeed::Stopping() const
{
    std::lock_guard lock(m_lock);
    return m_stop;
}

FeedUpdate DeskFeed::Take()
{
    FeedUpdate update;
    std::lock_guard lock(m_lock);
    update.events.assign(std::make_move_iterator(m_events.begin()), std::make_move_iterator(m_events.end()));
    m_events.clear();
    update.alarmsChanged = m_alarmsChanged;
    if (m_alarmsChanged)
        update.alarms = m_alarms;
    m_alarmsChanged = false;
    update.link = m_link;
    update.lastError = m_lastError;
    m_woken = false;
    return update;
}

Link DeskFeed::State(std::string* lastError) const
{
    std::lock_guard lock(m_lock);
    if (lastError)
        *lastError = m_lastError;
    return m_link;
}

void DeskFeed::Wake(std::unique_lock<std::mutex>& lock)
{
    if (m_woken)
        return;
    m_woken = true;
    lock.unlock();
    if (m_wake)
        m_wake();
}

void DeskFeed::SetLink(Link link, const std::string* error)
{
    std::unique_lock lock(m_lock);
    const bool changed = m_link != link;
    m_link = link;
    // libpq's second line ("This probably means...") is for developers.
    if (error)
        m_lastError = Cp1251FromUtf8(error->substr(0, error->find('\n')));
    if (changed)
        Wake(lock);
}

bool DeskFeed::WaitFor(int socket, std::chrono::steady_clock::time_point until)
{
    return m_stopWait.Wait(socket, std::chrono::duration_cast<std::chrono::milliseconds>(
                                       until - std::chrono::steady_clock::now()));
}

void DeskFeed::Connect()
{
    m_db.Connect();
    // The schema is the receivers' to upgrade: a duty manager's desk may only
    // read. Only a database still empty is given its tables by a desk.
    if (m_db.Exec("SELECT to_regclass('events') IS NULL").Text(0, 0) == "t")
        Migrate(m_db);
    // Listening before reading, so that nothing committed in between is missed.
    m_db.Exec("LISTEN korvalen_events");
    m_db.Exec("LISTEN korvalen_alarms");
}

namespace {

// The columns every read of rows gives, in FeedEvent's order.
constexpr const char* kEventColumns = "e.id, e.station, e.journal, e.seq, extract(epoch FROM e.event_time)::text,"
                                      " e.status, e.tel, e.event, e.short_name";

} // namespace

std::string DeskFeed::CursorsJson() const
{
    std::string known = "[";
    for (const auto& [key, seq] : m_readUpTo) {
        if (known.size() > 1)
            known += ',';
        known += "{\"station\":" + JsonText(key.first) + ",\"journal\":" + JsonText(key.second) +
                 ",\"seq\":" + std::to_string(seq) + "}";
    }
    return known + "]";
}

void DeskFeed::SweepEvents()
{
    if (m_firstRead) {
        // The newest rows of all; anything older is history, not news.
        const pg::Result r = m_db.Exec(std::string("SELECT ") + kEventColumns +
                                           " FROM (SELECT * FROM events ORDER BY id DESC LIMIT $1::bigint) e ORDER BY e.id",
                                       {std::to_string(m_options.keep)});
        m_floorId = static_cast<std::size_t>(r.Rows()) == m_options.keep ? r.Integer(0, 0) : 0;
        m_firstRead = false;
        Deliver(r);
        return;
    }
    // A database put back from an older copy numbers its rows anew.
    const long long top = m_db.Exec("SELECT coalesce(max(id), 0) FROM events").Integer(0, 0);
    m_maxId = std::min(m_maxId, top);
    m_floorId = std::min(m_floorId, top);
    // The rows above the newest seen, and a margin below it for those whose
    // commit came after a later one's: by the table's key, however long the table.
    const pg::Result r = m_db.Exec(
        std::string("WITH k AS (SELECT * FROM jsonb_to_recordset($1::jsonb) AS k(station text, journal text, seq bigint))"
                    " SELECT ") +
            kEventColumns +
            " FROM (SELECT * FROM events WHERE id > $2::bigint ORDER BY id DESC LIMIT $3::bigint) e"
            " LEFT JOIN k ON k.station = e.station AND k.journal = e.journal"
            " WHERE CASE WHEN k.seq IS NULL THEN e.id > $4::bigint ELSE e.seq > k.seq END ORDER BY e.id",
        {CursorsJson(), std::to_string(std::max(0LL, m_maxId - kSweepMargin)),
         std::to_string(static_cast<std::size_t>(kSweepMargin) + m_options.keep), std::to_string(m_floorId)});
    Deliver(r);
}

bool DeskFeed::NoticedEvents(const std::vector<std::string>& payloads)
{
    if (payloads.empty())
        return true;
    std::string notices = "[";
    for (const std::string& p : payloads)
        notices += (notices.size() > 1 ? "," : "") + p;
    notices += "]";
    // Each notice names a station's journal and its newest number: the rows
    // between the one read and that, by the row's own key.
    const std::string sql =
        std::string("WITH n AS (SELECT x->>'station' AS station, x->>'journal' AS journal, max((x->>'seq')::bigint) AS seq"
                    "   FROM jsonb_array_elements($1::jsonb) AS x GROUP BY 1, 2),"
                    " k AS (SELECT * FROM jsonb_to_recordset($2::jsonb) AS k(station text, journal text, seq bigint))"
                    " SELECT ") +
        kEventColumns +
        " FROM n LEFT JOIN k ON k.station = n.station AND k.journal = n.journal"
        " CROSS JOIN LATERAL (SELECT * FROM events e WHERE e.station = n.station AND e.journal = n.journal"
        "   AND e.seq > coalesce(k.seq, greatest(n.seq - $3::bigint, 0)) AND e.seq <= n.seq"
        "   AND (k.seq IS NOT NULL OR e.id > $4::bigint)) e"
        " WHERE coalesce(k.seq, -1) < n.seq ORDER BY e.id";
    try {
        Deliver(m_db.Exec(sql, {notices, CursorsJson(), std::to_string(m_options.keep), std::to_string(m_floorId)}));
    } catch (const pg::Error& e) {
        // A notice of someone else's making: the sweep stands in for it.
        if (e.SqlState().rfind("22", 0) != 0)
            throw;
        return false;
    }
    return true;
}

void DeskFeed::Deliver(const pg::Result& r)
{
    if (r.Rows() == 0)
        return;
    std::vector<FeedEvent> rows;
    rows.reserve(static_cast<std::size_t>(r.Rows()));
    for (int i = 0; i < r.Rows(); ++i) {
        FeedEvent e;
        e.id = r.Integer(i, 0);
        e.journal = r.Text(i, 2);
        e.seq = r.Integer(i, 3);
        // Read twice (a sweep and a notice at once): given once.
        long long& upTo = m_readUpTo[{r.Text(i, 1), e.journal}];
        if (upTo >= e.seq)
            continue;
        upTo = e.seq;
        m_maxId = std::max(m_maxId, e.id);
        e.station = Cp1251FromUtf8(r.Text(i, 1));
        e.time = LocalDateTimeOf(r.Real(i, 4));
        e.status = Cp1251FromUtf8(r.Text(i, 5));
        e.tel = Cp1251FromUtf8(r.Text(i, 6));
        e.event = Cp1251FromUtf8(r.Text(i, 7));
        e.shortName = Cp1251FromUtf8(r.Text(i, 8));
        rows.push_back(std::move(e));
    }
    if (rows.empty())
        return;
    std::unique_lock lock(m_lock);
    for (FeedEvent& e : rows)
        m_events.push_back(std::move(e));
    // Past that the UI thread has fallen behind: the oldest go.
    while (m_events.size() > m_options.keep)
        m_events.pop_front();
    Wake(lock);
}

void DeskFeed::ReadAlarms()
{
    std::vector<CentreAlarm> alarms = WaitingAlarms(m_db);
    if (alarms.size() == m_alarmsSeen.size() && std::equal(alarms.begin(), alarms.end(), m_alarmsSeen.begin(), SameAlarm))
        return;
    m_alarmsSeen = alarms;
    std::unique_lock lock(m_lock);
    m_alarms = std::move(alarms);
    m_alarmsChanged = true;
    Wake(lock);
}

void DeskFeed::Run()
{
    auto backoff = m_options.retryFirst;
    auto nextRead = std::chrono::steady_clock::now();
    while (!Stopping()) {
        try {
            if (!m_db.Connected()) {
                Connect();
                if (Stopping())
                    break;
                // Told before the rows it brings, so none comes while the link still reads as lost.
                SetLink(Link::Connected, nullptr);
                SweepEvents();
                ReadAlarms();
                backoff = m_options.retryFirst;
                nextRead = std::chrono::steady_clock::now() + m_options.rereadEvery;
            }
            // Notices that came during the last statement wait in libpq, not on the socket.
            auto notices = m_db.Notifications();
            if (notices.empty() && m_db.Connected() && WaitFor(m_db.Socket(), nextRead))
                notices = m_db.Notifications();
            if (Stopping())
                break;
            // The server went away: what woke us was the connection's end.
            if (!m_db.Connected())
                throw pg::Error("server closed the connection", {});
            std::vector<std::string> events;
            bool alarms = false;
            for (auto& [channel, payload] : notices) {
                if (channel == "korvalen_events")
                    events.push_back(std::move(payload));
                alarms = alarms || channel == "korvalen_alarms";
            }
            bool sweep = !NoticedEvents(events);
            if (std::chrono::steady_clock::now() >= nextRead) {
                sweep = alarms = true;
                nextRead = std::chrono::steady_clock::now() + m_options.rereadEvery;
            }
            if (sweep)
                SweepEvents();
            if (alarms)
                ReadAlarms();
        } catch (const std::exception& e) {
            m_db.Disconnect();
            if (Stopping())
                break;
            const std::string what = e.what();
            SetLink(Link::Unreachable, &what);
            WaitFor(-1, std::chrono::steady_clock::now() + backoff);
            backoff = std::min(backoff * 2, m_options.retryMax);
        }
    }
    m_db.Disconnect();
}

std::unique_ptr<DeskFeed> StartDeskFeed(const IniFile& config, std::function<void()> wake)
{
    const std::optional<DatabaseSettings> settings = ReadDatabaseSettings(config);
    if (!settings)
        return nullptr;
    DeskFeedOptions options;
    options.connection = settings->connection;
    auto feed = std::make_unique<DeskFeed>(std::move(options), std::move(wake));
    feed->Start();
    return feed;
}

} // namespace kv::centre
