#pragma once
// The shift report: what the journals say about a period, per object and in
// all. Everything is derived from the rows the station writes: the main
// journal (alarms, their "Обработка" rows, escalations) and the ring-round
// journal (each call's outcome). Nothing is kept beside them, so a report can
// be made for any past period, by the station or by the journal tool alone.
//
// No Qt: the window, the PDF and the command line draw from these figures.
// Names and texts are code page 1251 bytes, as in the journals.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class MemTable;

// A period of station date-times, both ends inclusive.
struct ReportPeriod {
    double from = 0;
    double to = 0;
};

// The shift `now` falls in: 08:00-20:00 or 20:00-08:00 of the next day, the
// two twelve-hour shifts guarded sites are usually manned by. A night shift's
// report after midnight still starts the evening before.
ReportPeriod CurrentShift(double now);

// "dd.mm.yyyy", "dd.mm.yyyy hh:mm[:ss]", "yyyy-mm-dd", "yyyy-mm-ddThh:mm[:ss]"
// (or a blank instead of "T"). A date alone is the start of that day, or its
// last second when `endOfDay`. Nothing for anything else, an impossible date
// ("31.02.2026") included.
std::optional<double> ParseReportDate(std::string_view text, bool endOfDay);

// Why a period cannot be reported, in the operator's words (code page 1251);
// empty when it can. `now`: the station's date-time.
std::string PeriodProblem(const ReportPeriod& period, double now);

// The alarms the report tells apart: as the alarm desk opens them.
enum class ReportKind { Intrusion, Warning, AlarmCall, RingRoundFailed, Silent, LinkLost, Stranger, Count };
inline constexpr std::size_t kReportKinds = static_cast<std::size_t>(ReportKind::Count);
std::string_view ReportKindName(ReportKind kind); // code page 1251

// The results an operator chooses, and one for a row whose result is unreadable.
inline constexpr std::size_t kReportResults = 5;
std::string_view ReportResultName(std::size_t result); // code page 1251
inline constexpr std::size_t kFalseAlarmResult = 0;

// Handling waits in bins: under 1, 1-5, 5-15, 15-60 minutes, an hour or more.
inline constexpr std::size_t kWaitBins = 5;
std::string_view WaitBinName(std::size_t bin); // code page 1251

// One "Обработка" row read back.
struct Handling {
    double at = 0;          // when it was handled
    std::string object;     // short name, else the number
    std::optional<ReportKind> kind; // unknown when its alarm is older than the journal looked at
    std::size_t result = 0; // index into the results
    std::string user;       // empty: no operator logged in
    std::optional<std::uint64_t> waitSeconds; // unknown when the row was cut
};

struct ObjectFigures {
    std::array<int, kReportKinds> alarms{};
    std::array<int, kReportResults> handled{};
    int acknowledged = 0; // "Принята с табло"
    int leftOpen = 0;     // "Не обработано" rows (a logout, the station's end)
    int escalationsSent = 0;
    int escalationsFailed = 0; // refused, postponed or held back
    int ringCalls = 0;
    int ringAnswered = 0;
    std::uint64_t longestWait = 0; // seconds
    int TotalAlarms() const;
    int TotalHandled() const;
};

// Names as a person sorts them: "Объект 2" before "Объект 10".
struct NaturalOrder {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct ReportFigures {
    ReportPeriod period;
    std::string objectFilter; // empty: every object
    std::size_t rowsRead = 0; // rows of both journals within the period
    ObjectFigures all;
    std::map<std::string, ObjectFigures, NaturalOrder> objects; // by name (cp1251)
    std::map<std::string, int> byOperator;         // handled per operator; "" for none
    std::vector<Handling> longestWaits;            // the longest first, at most kLongestShown
    std::array<int, kWaitBins> waitBins{};
    std::vector<std::string> silentObjects;        // reported silent or failing the ring-round
    // Alarms over the period by kind, in bins of binDays (an hour, a day or a week).
    double binDays = 1.0 / 24;
    std::vector<std::array<int, kReportKinds>> timeline;
    std::vector<Handling> handlings; // every handling within the period, oldest first

    static constexpr std::size_t kLongestShown = 10;
    double FalseAlarmShare() const; // of handled rows with an operator's result; 0 when none
};

// The rows ComputeReport reads for `period`: from a few days before it, as the
// alarms handled within it may have come earlier.
ReportPeriod ReportReadSpan(const ReportPeriod& period);

// The figures for the period, `object` (a short name or a number; empty for
// all) alone if given. `dial` may be null: no ring-round figures then. The
// journals are read as the station keeps them: newest row first.
ReportFigures ComputeReport(const MemTable& main, const MemTable* dial, const ReportPeriod& period,
                            std::string_view object = {});

// The figures as lines of text (code page 1251), for a window or a terminal.
std::vector<std::string> ReportSummaryLines(const ReportFigures& figures);

// The figures as a spreadsheet file: UTF-8, ";" between fields, a section per
// table (objects, operators, waits, every handling).
void WriteReportCsv(const ReportFigures& figures, std::ostream& out);

// "12 ч 05 мин", "3 мин 07 с": a wait for a person to read.
std::string WaitWords(std::uint64_t seconds);

} // namespace kv
