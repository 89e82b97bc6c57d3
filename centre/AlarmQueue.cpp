#include "centre/AlarmQueue.h"

#include "centre/Utf8.h"
#include "data/Status.h"
#include "timing/DateTime.h"

namespace kv::centre {

namespace {

// Every query of alarms for the desks names these columns in this order.
constexpr const char* kAlarmColumns =
    "id, station, journal, seq, short_name, tel, kind, event, extract(epoch FROM opened_at), state, "
    "coalesce(taken_by, ''), coalesce(extract(epoch FROM lease_until), 0), escalated_at IS NOT NULL";

std::vector<CentreAlarm> AlarmsOf(const pg::Result& r)
{
    std::vector<CentreAlarm> out;
    out.reserve(static_cast<std::size_t>(r.Rows()));
    for (int i = 0; i < r.Rows(); ++i) {
        CentreAlarm a;
        a.id = r.Integer(i, 0);
        a.station = Cp1251FromUtf8(r.Text(i, 1));
        a.journal = r.Text(i, 2);
        a.seq = r.Integer(i, 3);
        a.shortName = Cp1251FromUtf8(r.Text(i, 4));
        a.tel = Cp1251FromUtf8(r.Text(i, 5));
        a.kind = r.Text(i, 6);
        a.event = Cp1251FromUtf8(r.Text(i, 7));
        a.openedAt = LocalDateTimeOf(r.Real(i, 8));
        a.state = r.Text(i, 9);
        a.takenBy = Cp1251FromUtf8(r.Text(i, 10));
        a.leaseUntil = r.Real(i, 11);
        a.escalated = r.Text(i, 12) == "t";
        out.push_back(std::move(a));
    }
    return out;
}

std::string Seconds(std::chrono::seconds s) { return std::to_string(s.count()); }

} // namespace

AlarmQueue::AlarmQueue(pg::Connection& db, std::string desk) : m_db(db), m_desk(Utf8FromCp1251(desk)) {}

TakeResult AlarmQueue::Take(long long id, const std::string& op, std::chrono::seconds lease)
{
    const std::string who = Utf8FromCp1251(op);
    const pg::Result r = m_db.Exec(
        "UPDATE alarms SET state = 'taken', taken_by = $2, lease_until = now() + make_interval(secs => $3::bigint) "
        "WHERE id = $1::bigint AND (state = 'open' OR (state = 'taken' AND (lease_until < now() OR taken_by = $2))) "
        "RETURNING id",
        {std::to_string(id), who, Seconds(lease)});
    if (r.Rows() > 0)
        return {true, {}};
    const pg::Result holder =
        m_db.Exec("SELECT coalesce(taken_by, '') FROM alarms WHERE id = $1::bigint AND state = 'taken'",
                  {std::to_string(id)});
    return {false, holder.Rows() > 0 ? Cp1251FromUtf8(holder.Text(0, 0)) : std::string()};
}

bool AlarmQueue::Renew(long long id, const std::string& op, std::chrono::seconds lease)
{
    return m_db
               .Exec("UPDATE alarms SET lease_until = now() + make_interval(secs => $3::bigint) "
                     "WHERE id = $1::bigint AND state = 'taken' AND taken_by = $2",
                     {std::to_string(id), Utf8FromCp1251(op), Seconds(lease)})
               .Affected() > 0;
}

void AlarmQueue::Release(long long id, const std::string& op)
{
    m_db.Exec("UPDATE alarms SET state = 'open', taken_by = NULL, lease_until = NULL "
              "WHERE id = $1::bigint AND state = 'taken' AND taken_by = $2",
              {std::to_string(id), Utf8FromCp1251(op)});
}

bool AlarmQueue::Close(long long id, const std::string& op, const std::string& result, const std::string& comment,
                       const std::string& handledEvent, ClosedRow* row)
{
    bool closed = false;
    m_db.Transaction([&] {
        const pg::Result alarm = m_db.Exec(
            "UPDATE alarms SET state = 'closed', closed_by = $2, closed_at = now(), result = $3, comment = $4, "
            "lease_until = NULL WHERE id = $1::bigint AND state = 'taken' AND taken_by = $2 RETURNING tel, short_name",
            {std::to_string(id), Utf8FromCp1251(op), Utf8FromCp1251(result), Utf8FromCp1251(comment)});
        if (alarm.Rows() == 0)
            return;
        // The counter's row is locked until the commit: two queues of one
        // desk never give the same number.
        const std::string seq =
            m_db.Exec("INSERT INTO desk_seq (station, seq) VALUES ($1, 1) "
                      "ON CONFLICT (station) DO UPDATE SET seq = desk_seq.seq + 1 RETURNING seq",
                      {m_desk})
                .Text(0, 0);
        const pg::Result written =
            m_db.Exec("INSERT INTO events (station, journal, seq, event_time, status, tel, event, short_name) "
                      "VALUES ($1, 'desk', $2::bigint, now(), $3, $4, $5, $6) RETURNING extract(epoch FROM event_time)",
                      {m_desk, seq, Utf8FromCp1251(status::kHandling), alarm.Text(0, 0), Utf8FromCp1251(handledEvent),
                       alarm.Text(0, 1)});
        if (row) {
            row->deskSeq = std::stoll(seq);
            row->at = LocalDateTimeOf(written.Real(0, 0));
            row->tel = Cp1251FromUtf8(alarm.Text(0, 0));
            row->event = handledEvent;
        }
        closed = true;
    });
    return closed;
}

std::vector<CentreAlarm> WaitingAlarms(pg::Connection& db)
{
    // The same columns; journal, tel and event through the row's JSON, which
    // a database of an older step answers without them.
    return AlarmsOf(db.Exec(
        "SELECT id, station, coalesce(to_jsonb(a)->>'journal', 'main'), seq, short_name,"
        " coalesce(to_jsonb(a)->>'tel', ''), kind, coalesce(to_jsonb(a)->>'event', ''),"
        " extract(epoch FROM opened_at), state, coalesce(taken_by, ''),"
        " coalesce(extract(epoch FROM lease_until), 0), escalated_at IS NOT NULL"
        " FROM alarms a WHERE state <> 'closed' ORDER BY opened_at, id"));
}

std::vector<CentreAlarm> AlarmQueue::Waiting() { return WaitingAlarms(m_db); }

std::vector<CentreAlarm> AlarmQueue::ClaimEscalations(const std::string& receiver, std::chrono::seconds after,
                                                      int limit)
{
    // Locked rows are another claim's, made in the same instant: skipped, not waited for.
    return AlarmsOf(m_db.Exec(
        std::string("WITH claimed AS (UPDATE alarms SET escalated_at = now() WHERE id IN ("
                    " SELECT id FROM alarms WHERE state <> 'closed' AND escalated_at IS NULL AND kind <> 'Stranger'"
                    " AND opened_at < now() - make_interval(secs => $2::bigint)"
                    " AND $1 = (SELECT name FROM stations WHERE role = 'receiver' AND modem1_up"
                    "           AND heartbeat > now() - interval '30 seconds' ORDER BY name LIMIT 1)"
                    " ORDER BY opened_at, id LIMIT $3::integer FOR UPDATE SKIP LOCKED) RETURNING *) SELECT ") +
            kAlarmColumns + " FROM claimed ORDER BY opened_at, id",
        {Utf8FromCp1251(receiver), Seconds(after), std::to_string(limit)}));
}

bool CanWrite(pg::Connection& db)
{
    return db.Exec("SELECT has_table_privilege('alarms', 'UPDATE')").Text(0, 0) == "t";
}

} // namespace kv::centre
