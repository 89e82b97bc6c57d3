#include "centre/Forwarder.h"

#include "centre/Schema.h"
#include "centre/Settings.h"
#include "centre/Utf8.h"
#include "codec/Number.h"
#include "data/AtomicFile.h"
#include "data/IniFile.h"
#include "data/MemTable.h"
#include "data/Text.h"
#include "modem/AlarmRows.h"
#include "timing/DateTime.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace kv::centre {

namespace {

constexpr const char* kMarkSection = "Forwarded";
constexpr const char* kMarkStation = "Station";
// Taken by a receiver about to open an alarm that depends on the open ones.
constexpr const char* kOpenAlarmsLock = "7741776385064461679";

Forwarder::Row RowOf(std::uint64_t seq, const MemTable& table, RecordHandle record)
{
    const auto text = [&](std::string_view name) {
        const int f = table.FindField(name);
        return f < 0 || table.IsNull(record, f) ? std::string() : std::string(table.TextView(record, f));
    };
    Forwarder::Row row;
    row.seq = seq;
    const int time = table.FindField("EventTime");
    row.time = time < 0 || table.IsNull(record, time) ? 0 : table.Float(record, time);
    row.status = text("Status");
    row.tel = text("tel");
    row.event = text("event");
    row.shortName = text("simplename");
    return row;
}

// The desk's deeds on disk: a line each, fields apart by tabs.
constexpr std::string_view kEscalatedLine = "escalated";
constexpr std::string_view kHandledLine = "handled";

std::string Field(std::string text)
{
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

std::vector<DeskOutcome> ReadOutcomes(const std::string& file)
{
    std::vector<DeskOutcome> out;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    // A damaged line is passed over: at worst a centre copy stays as it was.
    while (std::getline(in, line)) {
        const std::vector<std::string_view> f = SplitFields(line, '\t');
        const bool handled = f.size() == 8 && f[0] == kHandledLine;
        if (!handled && !(f.size() == 4 && f[0] == kEscalatedLine))
            continue;
        const std::optional<double> seq = TextToFloat(f[2]), at = TextToFloat(f[3]);
        const std::optional<double> rowSeq = handled ? TextToFloat(f[4]) : std::optional<double>(0);
        if ((f[1] != "main" && f[1] != "ring") || !seq || *seq < 1 || *seq > 1e15 || !at || !rowSeq ||
            *rowSeq < 0 || *rowSeq > 1e15)
            continue;
        DeskOutcome o;
        o.handled = handled;
        o.journal = std::string(f[1]);
        o.seq = static_cast<std::uint64_t>(*seq);
        o.at = *at;
        if (handled) {
            o.rowSeq = static_cast<std::uint64_t>(*rowSeq);
            o.result = std::string(f[5]);
            o.comment = std::string(f[6]);
            o.user = std::string(f[7]);
        }
        out.push_back(std::move(o));
    }
    return out;
}

} // namespace

Forwarder::Forwarder(ForwarderOptions options, std::vector<ForwardedJournal> journals)
    : m_options(std::move(options)), m_db(m_options.connection),
      m_clock(m_options.clock ? m_options.clock : &RealClock::Instance()), m_role(m_options.role)
{
    if (m_options.host.empty())
        m_options.host = HostName();
    m_outcomes = ReadOutcomes(m_options.deskFile);
    for (ForwardedJournal& source : journals) {
        auto j = std::make_unique<Journal>();
        j->sent = j->marked = ReadMark(m_options.markFile, m_options.station, source.name);
        j->source = std::move(source);
        m_journals.push_back(std::move(j));
    }
}

Forwarder::~Forwarder() { Stop(); }

void Forwarder::Start()
{
    if (m_thread.joinable())
        return;
    for (auto& jp : m_journals) {
        Journal* j = jp.get();
        j->source.log->SetRowObserver([this, j](std::uint64_t seq, const MemTable& table, RecordHandle record) {
            std::lock_guard lock(m_lock);
            // Past the limit the rows wait in the files; the gap sends the
            // forwarder there.
            if (j->queue.size() < m_options.queueLimit)
                j->queue.push_back(RowOf(seq, table, record));
            m_wake.notify_all();
        });
    }
    m_thread = std::thread([this] { Run(); });
}

void Forwarder::Stop()
{
    for (auto& j : m_journals)
        j->source.log->SetRowObserver(nullptr);
    {
        std::unique_lock lock(m_lock);
        m_stop = true;
        m_drainUntil = std::chrono::steady_clock::now() + m_options.stopDrain;
        m_wake.notify_all();
        // Nothing waits for a connection still being made.
        if (m_thread.joinable() && m_link == Link::Connected)
            m_wake.wait_for(lock, m_options.stopDrain, [&] { return m_finished; });
    }
    // Still busy: a statement the server holds back is cut off.
    m_db.Abort();
    if (m_thread.joinable())
        m_thread.join();
}

void Forwarder::SetModem1Up(bool up)
{
    {
        std::lock_guard lock(m_lock);
        if (m_modem1Up == up)
            return; // told each second, changed seldom
        m_modem1Up = up;
    }
    m_wake.notify_all();
}

void Forwarder::SetRole(const std::string& role)
{
    {
        std::lock_guard lock(m_lock);
        if (m_role == role)
            return;
        m_role = role;
    }
    m_wake.notify_all();
}

void Forwarder::NoteOutcome(DeskOutcome outcome)
{
    if (outcome.seq == 0 || (outcome.journal != "main" && outcome.journal != "ring"))
        return; // a row of no known number: nothing to tell the centre
    {
        std::lock_guard lock(m_lock);
        m_outcomes.push_back(std::move(outcome));
        WriteOutcomes();
        ++m_notes;
    }
    m_wake.notify_all();
}

void Forwarder::WriteOutcomes()
{
    if (m_outcomes.empty()) {
        std::remove(m_options.deskFile.c_str());
        return;
    }
    std::string text;
    for (const DeskOutcome& o : m_outcomes) {
        char at[32];
        std::snprintf(at, sizeof at, "%.9f", o.at);
        text += std::string(o.handled ? kHandledLine : kEscalatedLine) + "\t" + o.journal + "\t" +
                std::to_string(o.seq) + "\t" + at;
        if (o.handled)
            text += "\t" + std::to_string(o.rowSeq) + "\t" + Field(o.result) + "\t" + Field(o.comment) + "\t" +
                    Field(o.user);
        text += "\n";
    }
    AtomicFileWriter out(m_options.deskFile);
    if (!out.Open() || !out.Write(text.data(), text.size()) || !out.Commit())
        m_lastError = Str("Не записан файл "_cp) + m_options.deskFile;
}

void Forwarder::ClockMoved() const
{
    {
        std::lock_guard lock(m_lock);
        ++m_clockMoves;
    }
    m_wake.notify_all();
}

ForwarderState Forwarder::State() const
{
    ForwarderState s;
    {
        std::lock_guard lock(m_lock);
        s.link = m_link;
        s.lastError = m_lastError;
        s.failures = m_failures;
        s.retryAtMs = m_link == Link::Connected ? 0 : m_retryAt;
    }
    s.backlog = Backlog();
    return s;
}

std::uint64_t Forwarder::SentUpTo(const std::string& journal) const
{
    for (const auto& j : m_journals)
        if (j->source.name == journal)
            return j->marked;
    return 0;
}

std::uint64_t Forwarder::Backlog() const
{
    std::uint64_t backlog = 0;
    for (const auto& j : m_journals) {
        const std::uint64_t durable = j->source.log->DurableSeq();
        const std::uint64_t sent = j->marked;
        backlog += durable > sent ? durable - sent : 0;
    }
    return backlog;
}

bool Forwarder::WaitCaughtUp(std::chrono::milliseconds limit) const
{
    const auto until = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(m_lock);
    for (;;) {
        const bool connected = m_link == Link::Connected;
        lock.unlock();
        if (connected && Backlog() == 0)
            return true;
        if (std::chrono::steady_clock::now() >= until)
            return false;
        lock.lock();
        m_wake.wait_for(lock, std::chrono::milliseconds(10));
    }
}

std::uint64_t Forwarder::ReadMark(const std::string& markFile, const std::string& station, const std::string& journal)
{
    const IniFile ini(markFile);
    // A mark of another name (the station renamed) says nothing of this one.
    if (ini.ReadString(kMarkSection, kMarkStation, {}) != Cp1251FromUtf8(station))
        return 0;
    const std::string text = ini.ReadString(kMarkSection, journal, "0");
    try {
        return std::stoull(text);
    } catch (const std::exception&) {
        return 0;
    }
}

void Forwarder::WriteMark()
{
    std::string text = std::string("[") + kMarkSection + "]\r\n" + kMarkStation + "=" +
                       Cp1251FromUtf8(m_options.station) + "\r\n";
    for (const auto& j : m_journals)
        text += j->source.name + "=" + std::to_string(j->sent) + "\r\n";
    AtomicFileWriter out(m_options.markFile);
    // A mark not written only means a batch sent again after a restart.
    if (!out.Open() || !out.Write(text.data(), text.size()) || !out.Commit()) {
        std::lock_guard lock(m_lock);
        m_lastError = Str("Не записан файл "_cp) + m_options.markFile;
    }
}

void Forwarder::Advance(Journal& j, std::uint64_t seq)
{
    j.sent = seq;
    WriteMark();
    j.marked = seq;
}

void Forwarder::SetState(Link link, const std::string* error)
{
    {
        std::lock_guard lock(m_lock);
        m_link = link;
        // libpq's second line ("This probably means...") is for developers.
        if (error)
            m_lastError = Cp1251FromUtf8(error->substr(0, error->find('\n')));
    }
    m_wake.notify_all();
}

void Forwarder::Failed(Link link, const std::string& error, std::chrono::milliseconds pause)
{
    {
        std::lock_guard lock(m_lock);
        m_link = link;
        m_lastError = Cp1251FromUtf8(error.substr(0, error.find('\n')));
        ++m_failures;
        m_retryAt = Ms() + static_cast<std::uint64_t>(pause.count());
    }
    m_wake.notify_all();
}

void Forwarder::PauseUntilRetry()
{
    std::unique_lock lock(m_lock);
    while (!m_stop) {
        const std::uint64_t now = Ms();
        if (now >= m_retryAt)
            return;
        const std::uint64_t moves = m_clockMoves;
        m_wake.wait_for(lock, std::chrono::milliseconds(m_retryAt - now),
                        [&] { return m_stop || m_clockMoves != moves; });
    }
}

void Forwarder::Connect()
{
    m_db.Connect();
    Migrate(m_db);
    // Two stations of one name would each take the other's rows for its own
    // already sent. A name whose heartbeat has stopped for three beats is free.
    const pg::Result other = m_db.Exec("SELECT host FROM stations WHERE name = $1 AND host <> $2 "
                                       "AND heartbeat > now() - interval '30 seconds'",
                                       {m_options.station, m_options.host});
    if (other.Rows() > 0) {
        const std::string text = Utf8FromCp1251("Станция с именем "_cp) + m_options.station +
                                 Utf8FromCp1251(" уже работает на "_cp) + other.Text(0, 0);
        m_db.Disconnect();
        throw pg::Error(text, {});
    }
    Heartbeat();
    for (auto& j : m_journals) {
        // A copy of a desk row counts as sent where the desk row is marked with it.
        const long long inDatabase =
            m_db.Exec("SELECT greatest((SELECT coalesce(max(seq), 0) FROM events WHERE station = $1 AND journal = $2),"
                      " (SELECT coalesce(max(main_seq), 0) FROM events WHERE station = $1 AND journal = 'desk'"
                      "  AND $2 = 'main'))",
                      {m_options.station, j->source.name})
                .Integer(0, 0);
        // Never past what the database holds: a standby promoted without the
        // last commits gets them again.
        const auto held = static_cast<std::uint64_t>(std::max(0LL, inDatabase));
        j->sent = std::min<std::uint64_t>(j->sent, held);
        j->marked = j->sent;
        // Tables restored from an older copy: their next rows take numbers the
        // database has, and are kept out as sent. Told, not mended.
        if (const std::uint64_t durable = j->source.log->DurableSeq(); held > durable) {
            std::lock_guard lock(m_lock);
            m_lastError = Str("В базе данных больше строк журнала "_cp) + j->source.name + Str(", чем в файлах: "_cp) +
                          std::to_string(held) + " > " + std::to_string(durable);
        }
        j->catchUp.clear();
        j->readUpTo = 0;
    }
    const auto main = std::find_if(m_journals.begin(), m_journals.end(),
                                   [](const auto& j) { return j->source.name == "main"; });
    if (m_options.unmirrored && main != m_journals.end()) {
        const pg::Result r = m_db.Exec("SELECT seq, extract(epoch FROM event_time), tel, event FROM events "
                                       "WHERE station = $1 AND journal = 'desk' AND main_seq IS NULL ORDER BY seq",
                                       {m_options.station});
        std::vector<ClosedRow> rows;
        // A copy the journal holds, not yet sent, is no row left out. Asked
        // here, before this connection sends anything: only a send forgets a tag.
        for (int i = 0; i < r.Rows(); ++i)
            if ((*main)->source.log->StateOf(DeskRowTag(r.Integer(i, 0))) == DurableJournal::TagState::Unknown)
                rows.push_back({r.Integer(i, 0), LocalDateTimeOf(r.Real(i, 1)), Cp1251FromUtf8(r.Text(i, 2)),
                                Cp1251FromUtf8(r.Text(i, 3))});
        if (!rows.empty())
            m_options.unmirrored(std::move(rows));
    }
}

void Forwarder::Heartbeat()
{
    const bool up = m_modem1Up;
    std::string role;
    {
        std::lock_guard lock(m_lock);
        role = m_role;
    }
    m_db.Exec("INSERT INTO stations (name, role, host, modem1_up) VALUES ($1, $2, $3, $4) "
              "ON CONFLICT (name) DO UPDATE SET role = EXCLUDED.role, host = EXCLUDED.host, heartbeat = now(), "
              "modem1_up = EXCLUDED.modem1_up",
              {m_options.station, role, m_options.host, up ? "true" : "false"});
    m_modem1Written = up;
    m_roleWritten = role;
    m_nextHeartbeat = Ms() + static_cast<std::uint64_t>(m_options.heartbeatEvery.count());
}

void Forwarder::ReadBack(Journal& j, std::uint64_t upTo)
{
    MemTable table("Forwarded");
    std::vector<std::uint64_t> seqs;
    DurableJournal::ReadWithLog(table, j.source.fileName, m_format, seqs);
    const std::uint64_t sent = j.sent;
    std::vector<Row> rows;
    const std::size_t count = std::min<std::size_t>(seqs.size(), table.TotalRecordCount());
    // Newest first: down to the first row already sent.
    for (std::size_t i = 0; i < count && seqs[i] > sent; ++i)
        if (seqs[i] <= upTo)
            rows.push_back(RowOf(seqs[i], table, table.RecordAt(i)));
    j.catchUp.assign(rows.rbegin(), rows.rend());
    j.readUpTo = upTo;
}

bool Forwarder::ForwardSome(Journal& j)
{
    const std::uint64_t durable = j.source.log->DurableSeq();
    std::uint64_t next = j.sent + 1;
    if (durable < next)
        return false;
    while (!j.catchUp.empty() && j.catchUp.front().seq < next)
        j.catchUp.pop_front();

    std::vector<Row> rows;
    const auto take = [&](std::deque<Row>& from) {
        for (const Row& r : from) {
            if (r.seq < next)
                continue;
            if (r.seq != next || r.seq > durable || rows.size() >= m_options.batch)
                break;
            rows.push_back(r);
            ++next;
        }
    };
    if (next > j.readUpTo) {
        std::lock_guard lock(m_lock);
        while (!j.queue.empty() && j.queue.front().seq < next)
            j.queue.pop_front();
        take(j.queue);
    }
    if (rows.empty()) {
        if (next > j.readUpTo)
            ReadBack(j, durable);
        // Numbers the files do not hold (rows a clear took away) are passed over.
        const std::uint64_t found = j.catchUp.empty() ? j.readUpTo + 1 : j.catchUp.front().seq;
        const bool passedOver = found > next;
        if (passedOver) {
            Advance(j, found - 1);
            next = found;
        }
        take(j.catchUp);
        if (rows.empty())
            return passedOver;
    }
    Send(j, rows);
    return true;
}

void Forwarder::Send(Journal& j, const std::vector<Row>& all)
{
    // The desk's copies of its centre closes, by their rows' numbers here.
    std::vector<std::pair<const Row*, long long>> copies;
    std::vector<Row> rows;
    if (j.source.name == "main") {
        const std::map<std::uint64_t, std::string> tagged = j.source.log->TaggedRows(kDeskRowTag);
        for (const Row& r : all) {
            const auto it = tagged.find(r.seq);
            long long deskSeq = 0;
            if (it != tagged.end())
                if (const std::optional<double> n = TextToFloat(std::string_view(it->second).substr(kDeskRowTag.size()));
                    n && *n >= 1 && *n < 1e15)
                    deskSeq = static_cast<long long>(*n);
            if (deskSeq != 0)
                copies.emplace_back(&r, deskSeq);
            else
                rows.push_back(r);
        }
    } else {
        rows = all;
    }
    // Placeholders only in the text; every value goes as a parameter.
    std::string sql = "VALUES ";
    std::vector<pg::Param> params{m_options.station, j.source.name};
    params.reserve(2 + rows.size() * 6);
    int n = 2;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        sql += i ? ",(" : "(";
        sql += "$1, $2, $" + std::to_string(n + 1) + "::bigint, to_timestamp($" + std::to_string(n + 2) +
               "::double precision)";
        for (int k = 3; k <= 6; ++k)
            sql += ", $" + std::to_string(n + k);
        sql += ")";
        n += 6;
        params.push_back(std::to_string(r.seq));
        params.push_back(EpochText(r.time));
        params.push_back(Utf8FromCp1251(r.status));
        params.push_back(Utf8FromCp1251(r.tel));
        params.push_back(Utf8FromCp1251(r.event));
        params.push_back(Utf8FromCp1251(r.shortName));
    }
    const std::string columns = "(station, journal, seq, event_time, status, tel, event, short_name)";
    // A row the centre has as a desk's copy already (its tag gone, the batch
    // sent again) is not sent as a row of its own: matched by its number.
    if (j.source.name == "main")
        sql = "INSERT INTO events " + columns + " SELECT * FROM (" + sql + ") v " + columns +
              " WHERE NOT EXISTS (SELECT FROM events d WHERE d.station = v.station AND d.journal = 'desk'"
              " AND d.main_seq = v.seq)";
    else
        sql = "INSERT INTO events " + columns + " " + sql;
    sql += " ON CONFLICT (station, seq, journal) DO NOTHING";
    // The rows and their alarms commit together: a batch sent again after a
    // crash finds both there, and nothing is opened twice.
    const std::vector<std::size_t> ready = ReadyOutcomes(&j, all.back().seq);
    m_db.Transaction([&] {
        if (!rows.empty())
            m_db.Exec(sql, params);
        for (const auto& [r, deskSeq] : copies) {
            const bool marked =
                m_db.Exec("UPDATE events SET main_seq = $3::bigint WHERE station = $1 AND journal = 'desk' "
                          "AND seq = $2::bigint",
                          {m_options.station, std::to_string(deskSeq), std::to_string(r->seq)})
                    .Affected() > 0;
            // The centre lost its row (a database started anew): the copy stands in.
            if (!marked)
                m_db.Exec("INSERT INTO events (station, journal, seq, event_time, status, tel, event, short_name) "
                          "VALUES ($1, 'main', $2::bigint, to_timestamp($3::double precision), $4, $5, $6, $7) "
                          "ON CONFLICT (station, seq, journal) DO NOTHING",
                          {m_options.station, std::to_string(r->seq), EpochText(r->time), Utf8FromCp1251(r->status),
                           Utf8FromCp1251(r->tel), Utf8FromCp1251(r->event), Utf8FromCp1251(r->shortName)});
        }
        OpenAlarms(j, rows);
        ApplyOutcomes(ready);
    });
    if (m_options.afterCommit)
        m_options.afterCommit();
    DropOutcomes(ready);
    Advance(j, all.back().seq);
    // Only past the mark: a batch sent again after a stop still knows its copies.
    for (const auto& [r, deskSeq] : copies)
        j.source.log->ForgetTag(DeskRowTag(deskSeq));
}

std::vector<std::size_t> Forwarder::ReadyOutcomes(const Journal* j, std::uint64_t upTo)
{
    const auto inDatabase = [&](const std::string& journal, std::uint64_t seq) {
        for (const auto& other : m_journals)
            if (other->source.name == journal)
                return seq <= (other.get() == j ? std::max(upTo, other->sent) : other->sent);
        return true; // not forwarded here: nothing to wait for
    };
    std::vector<std::size_t> ready;
    std::lock_guard lock(m_lock);
    for (std::size_t i = 0; i < m_outcomes.size(); ++i) {
        const DeskOutcome& o = m_outcomes[i];
        // A handling goes with its "Обработка" row, and with the alarm's row
        // when that comes later (a ring-round failure's, sent after the main journal).
        if (inDatabase(o.journal, o.seq) && (!o.handled || inDatabase("main", o.rowSeq)))
            ready.push_back(i);
    }
    return ready;
}

void Forwarder::ApplyOutcomes(const std::vector<std::size_t>& ready)
{
    std::vector<DeskOutcome> outcomes;
    {
        std::lock_guard lock(m_lock);
        for (std::size_t i : ready)
            outcomes.push_back(m_outcomes[i]);
    }
    for (const DeskOutcome& o : outcomes) {
        if (!o.handled) {
            // Sent here: the centre's chosen receiver leaves it.
            m_db.Exec("UPDATE alarms SET escalated_at = coalesce(escalated_at, to_timestamp($4::double precision)) "
                      "WHERE station = $1 AND journal = $2 AND seq = $3::bigint",
                      {m_options.station, o.journal, std::to_string(o.seq), EpochText(o.at)});
            continue;
        }
        // Another desk's close stands: it was made where the alarm was seen first.
        m_db.Exec("UPDATE alarms SET state = 'closed', closed_by = $4, closed_at = to_timestamp($5::double precision), "
                  "result = $6, comment = $7, lease_until = NULL "
                  "WHERE station = $1 AND journal = $2 AND seq = $3::bigint AND state <> 'closed'",
                  {m_options.station, o.journal, std::to_string(o.seq), Utf8FromCp1251(o.user), EpochText(o.at),
                   Utf8FromCp1251(o.result), Utf8FromCp1251(o.comment)});
    }
}

void Forwarder::DropOutcomes(const std::vector<std::size_t>& applied)
{
    if (applied.empty())
        return;
    std::lock_guard lock(m_lock);
    // Only appended to meanwhile: the indexes still hold.
    for (auto i = applied.rbegin(); i != applied.rend(); ++i)
        m_outcomes.erase(m_outcomes.begin() + static_cast<std::ptrdiff_t>(*i));
    WriteOutcomes();
}

void Forwarder::OpenAlarms(const Journal& j, const std::vector<Row>& rows)
{
    const bool ring = j.source.name == "ring";
    bool locked = false;
    for (const Row& r : rows) {
        const std::optional<AlarmKind> kind = AlarmOfRow(ring, r.status, r.tel, r.event, r.shortName);
        if (!kind)
            continue;
        // A stranger's number is one alarm until handled, a device's silence
        // one while open (whichever station saw it), and a device's failed
        // call adds none to its open failure or silence, as at the desk.
        std::string already;
        if (*kind == AlarmKind::Stranger)
            already = "kind = 'Stranger'";
        else if (*kind == AlarmKind::Silent)
            already = "kind = 'Silent'";
        // A silence journalled after the failure, sent first since the main
        // journal goes first in a catch-up, is no reason to leave it out.
        else if (*kind == AlarmKind::RingRoundFailed)
            already = "kind IN ('RingRoundFailed', 'Silent') AND opened_at <= to_timestamp($8::double precision)";
        if (!already.empty() && !locked) {
            // Receivers opening such alarms take turns, so that two of them
            // do not both find a number free.
            m_db.Exec("SELECT pg_advisory_xact_lock($1::bigint)", {kOpenAlarmsLock});
            locked = true;
        }
        std::string sql = "INSERT INTO alarms (station, journal, seq, short_name, tel, kind, event, opened_at) "
                          "SELECT $1, $2, $3::bigint, $4, $5, $6, $7, to_timestamp($8::double precision)";
        if (!already.empty())
            sql += " WHERE NOT EXISTS (SELECT FROM alarms WHERE tel = $5 AND state <> 'closed' AND " + already + ")";
        sql += " ON CONFLICT (station, journal, seq) DO NOTHING";
        m_db.Exec(sql, {m_options.station, j.source.name, std::to_string(r.seq), Utf8FromCp1251(r.shortName),
                        Utf8FromCp1251(r.tel), std::string(AlarmKindKey(*kind)), Utf8FromCp1251(r.event),
                        EpochText(r.time)});
    }
}

bool Forwarder::Round()
{
    bool sent = false;
    for (auto& j : m_journals)
        sent = ForwardSome(*j) || sent;
    if (sent)
        return true;
    // The desk's deed on rows sent before it was noted.
    if (const std::vector<std::size_t> ready = ReadyOutcomes(nullptr, 0); !ready.empty()) {
        m_db.Transaction([&] { ApplyOutcomes(ready); });
        DropOutcomes(ready);
        return true;
    }
    // Rows posted but not yet on disk: their sync is a few milliseconds away.
    bool waited = false;
    for (auto& j : m_journals) {
        std::uint64_t posted = 0;
        {
            std::lock_guard lock(m_lock);
            posted = j->queue.empty() ? 0 : j->queue.back().seq;
        }
        const std::uint64_t durable = j->source.log->DurableSeq();
        if (posted > durable) {
            j->source.log->WaitDurable(durable + 1, std::chrono::milliseconds(200));
            waited = true;
        }
    }
    return waited;
}

void Forwarder::Run()
{
    auto backoff = m_options.retryFirst;
    const auto failed = [&](Link link, const std::string& what) {
        Failed(link, what, backoff);
        PauseUntilRetry();
        backoff = std::min(backoff * 2, m_options.retryMax);
    };
    for (;;) {
        bool stopping = false;
        {
            std::lock_guard lock(m_lock);
            stopping = m_stop;
        }
        try {
            if (stopping) {
                // The close's last rows (alarms left open) go too, if the
                // database is there and quick about it.
                while (m_db.Connected() && std::chrono::steady_clock::now() < m_drainUntil && Round()) {
                }
                break;
            }
            if (!m_db.Connected()) {
                Connect();
                SetState(Link::Connected, nullptr);
                backoff = m_options.retryFirst;
            }
            bool roleChanged = false;
            {
                std::lock_guard lock(m_lock);
                roleChanged = m_role != m_roleWritten;
            }
            if (Ms() >= m_nextHeartbeat || m_modem1Up != m_modem1Written || roleChanged)
                Heartbeat();
            if (Round())
                continue;
            // A replaced journal gives rows without a post: looked for each second.
            std::unique_lock lock(m_lock);
            const std::uint64_t now = Ms();
            const auto wait = std::chrono::milliseconds(std::min<std::uint64_t>(
                m_nextHeartbeat > now ? m_nextHeartbeat - now : 0, 1000));
            const std::uint64_t moves = m_clockMoves, notes = m_notes;
            m_wake.wait_for(lock, wait, [&] {
                if (m_stop || m_modem1Up != m_modem1Written || m_role != m_roleWritten || m_clockMoves != moves ||
                    m_notes != notes)
                    return true;
                for (const auto& j : m_journals)
                    if (!j->queue.empty() && j->queue.back().seq > j->sent)
                        return true;
                return false;
            });
        } catch (const pg::Error& e) {
            m_db.Disconnect();
            const std::string what = e.what();
            if (stopping) {
                SetState(Link::Unreachable, &what);
                break;
            }
            failed(Link::Unreachable, what);
        } catch (const std::exception& e) {
            // The files could not be read back: tried again after a pause.
            if (stopping)
                break;
            failed(m_db.Connected() ? Link::Connected : Link::Unreachable, e.what());
        }
    }
    m_db.Disconnect();
    {
        std::lock_guard lock(m_lock);
        m_finished = true;
    }
    m_wake.notify_all();
}

std::unique_ptr<Forwarder> StartForwarder(const IniFile& config, std::vector<ForwardedJournal> journals,
                                          const std::string& role, IClock* clock,
                                          std::function<void(std::vector<ClosedRow>)> unmirrored)
{
    const std::optional<DatabaseSettings> settings = ReadDatabaseSettings(config);
    if (!settings)
        return nullptr;
    ForwarderOptions options;
    options.connection = settings->connection;
    options.station = settings->station;
    options.role = role;
    options.clock = clock;
    options.unmirrored = std::move(unmirrored);
    auto forwarder = std::make_unique<Forwarder>(std::move(options), std::move(journals));
    forwarder->Start();
    return forwarder;
}

} // namespace kv::centre
