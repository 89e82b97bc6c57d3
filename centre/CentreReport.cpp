#include "centre/CentreReport.h"

#include "centre/Utf8.h"
#include "data/MemTable.h"
#include "data/Schemas.h"
#include "timing/DateTime.h"

#include <stdexcept>
#include <string>

namespace kv::centre {

void ReadCentreJournals(pg::Connection& db, const ReportPeriod& period, MemTable& main, MemTable& ring,
                        std::size_t maxRows)
{
    const ReportPeriod span = ReportReadSpan(period);
    // By the time index, backwards: the journals' own order, ties kept in the
    // order the database took them. One row past the limit tells it was hit.
    const pg::Result r =
        db.Exec("SELECT journal, extract(epoch FROM event_time)::text, status, tel, event, short_name FROM events"
                " WHERE event_time >= to_timestamp($1::double precision)"
                " AND event_time <= to_timestamp($2::double precision)"
                " ORDER BY event_time DESC, id DESC LIMIT $3::bigint",
                {EpochText(span.from), EpochText(span.to), std::to_string(maxRows + 1)});
    if (static_cast<std::size_t>(r.Rows()) > maxRows)
        throw std::runtime_error("за период в базе данных больше " + std::to_string(maxRows) +
                                 " событий: выберите период короче");
    DefineJournal(main);
    DefineJournal(ring);
    // The journal's columns in order: time, then the four texts as the query gives them.
    const int fields[] = {main.FindField("EventTime"), main.FindField("Status"), main.FindField("tel"),
                          main.FindField("event"), main.FindField("simplename")};
    for (int i = 0; i < r.Rows(); ++i) {
        MemTable& table = r.Text(i, 0) == "ring" ? ring : main;
        table.Append();
        table.FieldAt(fields[0]).SetAsDateTime(LocalDateTimeOf(r.Real(i, 1)));
        for (int f = 1; f < 5; ++f)
            table.FieldAt(fields[f]).SetAsString(Cp1251FromUtf8(r.Text(i, f + 1)));
        table.Post();
    }
    main.First();
    ring.First();
}

} // namespace kv::centre
