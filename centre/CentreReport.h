#pragma once
// The shift report of a whole centre: every station's journal rows of a period
// read back from the database into tables shaped as a station's own journals,
// so that the report is made from them as from a station's files. The
// receivers' alarms and ring-rounds and the desks' handling of them each come
// once, whichever station journalled them. Reads only: a viewer may make it.
#include "centre/Pg.h"
#include "report/ShiftReport.h"

#include <cstddef>

namespace kv {
class MemTable;
}

namespace kv::centre {

// More rows than a report of a sensible period holds: the read stops there
// rather than fill the memory of a desk.
inline constexpr std::size_t kCentreReportMaxRows = 500000;

// Fills `main` (main and desk rows) and `ring` (ring-round rows), both made
// anew as journals, with the rows the report of `period` reads, newest first
// as the station keeps its journals. Texts become station text. Throws
// pg::Error, or std::runtime_error (UTF-8) past `maxRows`.
void ReadCentreJournals(pg::Connection& db, const ReportPeriod& period, MemTable& main, MemTable& ring,
                        std::size_t maxRows = kCentreReportMaxRows);

} // namespace kv::centre
