#include "report/ShiftReport.h"

#include "core/AlarmDesk.h"
#include "data/MemTable.h"
#include "data/Status.h"
#include "data/Text.h"
#include "data/TextExport.h"
#include "modem/AlarmRows.h"
#include "modem/EventTexts.h"
#include "timing/DateTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace kv {

using namespace literals;

namespace {

constexpr double kSecond = 1.0 / 86400;
// A handling early in the period may close an alarm from before it: the rows
// this much older are read for their alarms, not counted.
constexpr double kLookBackDays = 2;

constexpr std::string_view kHandledPrefix = "Обработано: "_cp;
constexpr std::string_view kWaitedPart = ", ждала "_cp;
constexpr std::string_view kOperatorPart = " (оператор "_cp;
constexpr std::string_view kNoOperatorPart = " (без оператора"_cp;
constexpr std::string_view kEscalationSent = "Эскалация: "_cp;
constexpr std::string_view kEscalationRefused = "Эскалация не отправлена: "_cp;
constexpr std::string_view kEscalationHead = "Korvalen: тревога "_cp;
constexpr std::string_view kNoAnswer = "Нет ответа, попытка "_cp;

constexpr std::string_view kKindNames[kReportKinds] = {
    "Проникновение"_cp,     "Пожар, вскрытие"_cp,  "Тревожный вызов"_cp,        "Дозвон не удался"_cp,
    "Нет связи с объектом"_cp, "Потеря GSM-модема"_cp, "Неизвестный отправитель"_cp,
};
constexpr std::string_view kResultNames[kReportResults] = {
    kHandlingResults[0], kHandlingResults[1], kHandlingResults[2], kHandlingResults[3], "Не указан"_cp,
};
constexpr std::string_view kWaitBinNames[kWaitBins] = {"до 1 мин"_cp, "1-5 мин"_cp, "5-15 мин"_cp,
                                                       "15-60 мин"_cp, "от 1 ч"_cp};

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

ReportKind ReportKindOf(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::Intrusion: return ReportKind::Intrusion;
    case AlarmKind::AlarmCall: return ReportKind::AlarmCall;
    case AlarmKind::Warning: return ReportKind::Warning;
    case AlarmKind::RingRoundFailed: return ReportKind::RingRoundFailed;
    case AlarmKind::LinkLost: return ReportKind::LinkLost;
    case AlarmKind::Stranger: return ReportKind::Stranger;
    case AlarmKind::Silent: return ReportKind::Silent;
    }
    return ReportKind::Intrusion;
}

std::size_t WaitBin(std::uint64_t seconds)
{
    if (seconds < 60)
        return 0;
    if (seconds < 300)
        return 1;
    if (seconds < 900)
        return 2;
    if (seconds < 3600)
        return 3;
    return 4;
}

// "m:ss" as WaitText writes it.
std::optional<std::uint64_t> ParseWait(std::string_view text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 12 || text.size() != colon + 3)
        return std::nullopt;
    std::uint64_t minutes = 0;
    for (char c : text.substr(0, colon)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        minutes = minutes * 10 + static_cast<std::uint64_t>(c - '0');
    }
    const char a = text[colon + 1], b = text[colon + 2];
    if (a < '0' || a > '5' || b < '0' || b > '9')
        return std::nullopt;
    return minutes * 60 + static_cast<std::uint64_t>((a - '0') * 10 + (b - '0'));
}

struct HandledText {
    bool fromBoard = false;
    std::size_t result = kReportResults - 1;
    std::string user;
    std::optional<std::uint64_t> wait;
};

// "Обработано: <result>. <comment> (оператор <user>, ждала <m:ss>)", read from
// both ends: the comment between may hold anything. A row cut at its width
// keeps its result and loses the rest.
HandledText ReadHandled(std::string_view event)
{
    HandledText h;
    const std::string_view body = event.substr(kHandledPrefix.size());
    if (StartsWith(body, kResultFromBoard) && StartsWith(body.substr(kResultFromBoard.size()), "."))
        h.fromBoard = true;
    for (std::size_t i = 0; i < std::size(kHandlingResults); ++i)
        if (StartsWith(body, kHandlingResults[i]) && StartsWith(body.substr(kHandlingResults[i].size()), "."))
            h.result = i;
    if (event.empty() || event.back() != ')')
        return h;
    const std::size_t waited = event.rfind(kWaitedPart);
    if (waited == std::string_view::npos)
        return h;
    h.wait = ParseWait(event.substr(waited + kWaitedPart.size(), event.size() - 1 - waited - kWaitedPart.size()));
    const std::string_view head = event.substr(0, waited);
    if (const std::size_t op = head.rfind(kOperatorPart); op != std::string_view::npos)
        h.user = std::string(head.substr(op + kOperatorPart.size()));
    return h;
}

struct OpenRow {
    ReportKind kind;
    double openedAt;
};

class Reader {
public:
    Reader(ReportFigures& out, const ReportPeriod& period, std::string_view object)
        : m_out(out), m_period(period), m_filter(object)
    {
        // A period of no length, or of none a bar chart can hold, gets one bar.
        double span = period.to - period.from;
        if (!(span > kSecond) || !(span < 1e6))
            span = kSecond;
        m_out.binDays = span <= 2.0 ? 1.0 / 24 : span <= 92.0 ? 1.0 : 7.0;
        const auto bins = static_cast<std::size_t>(std::ceil(span / m_out.binDays - 1e-9));
        m_out.timeline.assign(std::clamp<std::size_t>(bins, 1, 10000), {});
    }

    void Main(double t, std::string_view status, std::string_view tel, std::string_view event, std::string_view name);
    void Dial(double t, std::string_view tel, std::string_view event, std::string_view name);
    void Finish();

private:
    // The row counts when it is within the period and of the object asked for.
    ObjectFigures* Counted(double t, std::string_view tel, std::string_view name);
    std::string ObjectName(std::string_view tel, std::string_view name) const
    {
        const std::string_view trimmed = TrimBlanks(name);
        return std::string(trimmed.empty() ? tel : trimmed);
    }
    void Opened(ReportKind kind, double t, std::string_view tel, std::string_view name);
    bool AnyOpen(std::string_view tel, std::initializer_list<ReportKind> kinds) const;
    void Handled(double t, std::string_view tel, std::string_view event, std::string_view name);
    void Escalation(double t, std::string_view text, bool sent);

    ReportFigures& m_out;
    ReportPeriod m_period;
    std::string m_filter;
    // The alarm desk's open rows as the journal tells them, by number.
    std::unordered_map<std::string, std::vector<OpenRow>> m_open;
    std::unordered_map<std::string, std::string> m_nameOfTel;
};

ObjectFigures* Reader::Counted(double t, std::string_view tel, std::string_view name)
{
    if (t < m_period.from || t > m_period.to)
        return nullptr;
    const std::string object = ObjectName(tel, name);
    if (!m_filter.empty() && object != m_filter && tel != m_filter)
        return nullptr;
    return &m_out.objects[object];
}

bool Reader::AnyOpen(std::string_view tel, std::initializer_list<ReportKind> kinds) const
{
    const auto it = m_open.find(std::string(tel));
    if (it == m_open.end())
        return false;
    return std::any_of(it->second.begin(), it->second.end(), [&](const OpenRow& r) {
        return std::find(kinds.begin(), kinds.end(), r.kind) != kinds.end();
    });
}

void Reader::Opened(ReportKind kind, double t, std::string_view tel, std::string_view name)
{
    const std::string key(tel);
    m_open[key].push_back({kind, t});
    m_nameOfTel[key] = ObjectName(tel, name);
    ObjectFigures* o = Counted(t, tel, name);
    if (!o)
        return;
    const auto k = static_cast<std::size_t>(kind);
    ++o->alarms[k];
    ++m_out.all.alarms[k];
    // A hair over: an alarm on the hour belongs to the hour it starts.
    const auto bin = static_cast<std::size_t>((t - m_period.from) / m_out.binDays + 1e-7);
    ++m_out.timeline[std::min(bin, m_out.timeline.size() - 1)][k];
}

void Reader::Handled(double t, std::string_view tel, std::string_view event, std::string_view name)
{
    const HandledText h = ReadHandled(event);
    ObjectFigures* o = Counted(t, tel, name);
    if (h.fromBoard) {
        if (o) {
            ++o->acknowledged;
            ++m_out.all.acknowledged;
        }
        return;
    }
    // Its alarm: the open row of the number that came when the wait says,
    // else (a clock set meanwhile) the oldest one.
    std::optional<ReportKind> kind;
    if (const auto it = m_open.find(std::string(tel)); it != m_open.end() && !it->second.empty()) {
        std::vector<OpenRow>& rows = it->second;
        std::size_t best = 0;
        if (h.wait) {
            const double opened = t - static_cast<double>(*h.wait) * kSecond;
            double bestGap = 1e300;
            for (std::size_t i = 0; i < rows.size(); ++i)
                if (const double gap = std::fabs(rows[i].openedAt - opened); gap < bestGap) {
                    bestGap = gap;
                    best = i;
                }
            if (bestGap > 120 * kSecond)
                best = 0;
        }
        kind = rows[best].kind;
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(best));
    }
    if (!o)
        return;
    ++o->handled[h.result];
    ++m_out.all.handled[h.result];
    ++m_out.byOperator[h.user];
    if (h.wait) {
        o->longestWait = std::max(o->longestWait, *h.wait);
        m_out.all.longestWait = std::max(m_out.all.longestWait, *h.wait);
        ++m_out.waitBins[WaitBin(*h.wait)];
    }
    m_out.handlings.push_back({t, ObjectName(tel, name), kind, h.result, h.user, h.wait});
}

void Reader::Escalation(double t, std::string_view text, bool sent)
{
    if (t < m_period.from || t > m_period.to)
        return;
    // The SMS names its alarm's device (short name or number) after its head:
    // the longest name of an open alarm that fits is the one.
    std::string object, objectTel;
    if (StartsWith(text, kEscalationHead)) {
        const std::string_view rest = text.substr(kEscalationHead.size());
        for (const auto& [tel, name] : m_nameOfTel)
            if (name.size() > object.size() && StartsWith(rest, name) && rest.substr(name.size(), 1) == " ") {
                object = name;
                objectTel = tel;
            }
    }
    if (!m_filter.empty() && (object.empty() || (object != m_filter && objectTel != m_filter)))
        return;
    int& total = sent ? m_out.all.escalationsSent : m_out.all.escalationsFailed;
    ++total;
    if (!object.empty()) {
        ObjectFigures& o = m_out.objects[object];
        ++(sent ? o.escalationsSent : o.escalationsFailed);
    }
}

void Reader::Main(double t, std::string_view status, std::string_view tel, std::string_view event,
                  std::string_view name)
{
    if (status == status::kHandling) {
        if (StartsWith(event, kHandledPrefix))
            Handled(t, tel, event, name);
        return;
    }
    if (status == status::kUnhandled) {
        if (ObjectFigures* o = Counted(t, tel, name)) {
            ++o->leftOpen;
            ++m_out.all.leftOpen;
        }
        return;
    }
    if (const std::optional<AlarmKind> kind = AlarmOfRow(false, status, tel, event, name)) {
        // One row per stranger's number until handled, whatever it sends.
        if (*kind != AlarmKind::Stranger || !AnyOpen(tel, {ReportKind::Stranger}))
            Opened(ReportKindOf(*kind), t, tel, name);
        return;
    }
    if (status == status::kSmsSent && StartsWith(event, kEscalationSent)) {
        Escalation(t, event.substr(kEscalationSent.size()), true);
    } else if (status == status::kSmsFailed && StartsWith(event, kEscalationRefused)) {
        Escalation(t, event.substr(kEscalationRefused.size()), false);
    }
}

void Reader::Dial(double t, std::string_view tel, std::string_view event, std::string_view name)
{
    const bool answered = event == events::kRingRoundAnswered;
    const bool final = event == events::kRingRoundFailed;
    if (!answered && !final && !StartsWith(event, kNoAnswer))
        return;
    if (AlarmOfRow(true, {}, tel, event, name) && !AnyOpen(tel, {ReportKind::RingRoundFailed, ReportKind::Silent}))
        Opened(ReportKind::RingRoundFailed, t, tel, name);
    if (ObjectFigures* o = Counted(t, tel, name)) {
        ++o->ringCalls;
        ++m_out.all.ringCalls;
        if (answered) {
            ++o->ringAnswered;
            ++m_out.all.ringAnswered;
        }
    }
}

void Reader::Finish()
{
    std::vector<Handling> waits;
    for (const Handling& h : m_out.handlings)
        if (h.waitSeconds)
            waits.push_back(h);
    const std::size_t shown = std::min(waits.size(), ReportFigures::kLongestShown);
    std::partial_sort(waits.begin(), waits.begin() + static_cast<std::ptrdiff_t>(shown), waits.end(),
                      [](const Handling& a, const Handling& b) { return *a.waitSeconds > *b.waitSeconds; });
    waits.resize(shown);
    m_out.longestWaits = std::move(waits);
    for (const auto& [name, o] : m_out.objects)
        if (o.alarms[static_cast<std::size_t>(ReportKind::Silent)] +
                o.alarms[static_cast<std::size_t>(ReportKind::RingRoundFailed)] >
            0)
            m_out.silentObjects.push_back(name);
}

// A journal's rows within [from, to], oldest first as the station wrote them
// (table order reversed, not sorted by time: a clock set back keeps its order).
struct RowRef {
    double t;
    RecordHandle row;
};

std::vector<RowRef> RowsWithin(const MemTable& journal, double from, double to)
{
    std::vector<RowRef> rows;
    const int time = journal.FindField("EventTime");
    if (time < 0)
        return rows;
    for (std::size_t i = journal.TotalRecordCount(); i-- > 0;) {
        const RecordHandle r = journal.RecordAt(i);
        const double t = journal.DateTime(r, time);
        if (t >= from && t <= to)
            rows.push_back({t, r});
    }
    return rows;
}

std::string_view TextOf(const MemTable& journal, RecordHandle r, int field)
{
    return field < 0 ? std::string_view() : journal.TextView(r, field);
}

std::string Number(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Percent(int part, int whole)
{
    return whole > 0 ? Number(100.0 * part / whole, 1) + "%" : std::string("-");
}

} // namespace

// ---------------------------------------------------------------- periods

ReportPeriod CurrentShift(double now)
{
    const double day = std::floor(now);
    const double hours = (now - day) * 24;
    double start = day + 8.0 / 24;
    if (hours >= 20)
        start = day + 20.0 / 24;
    else if (hours < 8)
        start = day - 4.0 / 24;
    return {start, start + 0.5 - kSecond};
}

std::optional<double> ParseReportDate(std::string_view text, bool endOfDay)
{
    text = TrimBlanks(text);
    std::vector<int> numbers;
    std::vector<char> separators;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        int value = 0, digits = 0;
        // No part of a date has more than four digits: a longer run is refused
        // before it could overflow.
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
            if (digits == 4)
                return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        numbers.push_back(value);
        if (i < text.size())
            separators.push_back(text[i++]);
    }
    if (numbers.size() < 3 || numbers.size() > 6 || separators.size() != numbers.size() - 1)
        return std::nullopt;
    DateTimeParts p;
    const bool iso = separators[0] == '-' && separators[1] == '-';
    if (iso) {
        p.year = numbers[0], p.month = numbers[1], p.day = numbers[2];
    } else if (separators[0] == '.' && separators[1] == '.') {
        p.day = numbers[0], p.month = numbers[1], p.year = numbers[2];
    } else {
        return std::nullopt;
    }
    if (numbers.size() > 3) {
        if (numbers.size() < 5 || (separators[2] != ' ' && !(iso && separators[2] == 'T')) || separators[3] != ':' ||
            (numbers.size() == 6 && separators[4] != ':'))
            return std::nullopt;
        p.hour = numbers[3], p.minute = numbers[4], p.second = numbers.size() == 6 ? numbers[5] : 0;
    } else if (endOfDay) {
        p.hour = 23, p.minute = 59, p.second = 59;
    }
    if (p.year < 1900 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 || p.day > 31 || p.hour > 23 ||
        p.minute > 59 || p.second > 59)
        return std::nullopt;
    const double value = EncodeDateTime(p);
    const DateTimeParts back = DecodeDateTime(value);
    if (back.day != p.day || back.month != p.month) // 31.02 and the like
        return std::nullopt;
    return value;
}

std::string PeriodProblem(const ReportPeriod& period, double now)
{
    if (!std::isfinite(period.from) || !std::isfinite(period.to))
        return Str("Неверный период"_cp);
    if (period.from > now)
        return Str("Период в будущем: он начинается "_cp) + FixedDateTimeText(period.from) +
               Str(", а сейчас "_cp) + FixedDateTimeText(now);
    if (period.from > period.to)
        return Str("Период пуст: начало "_cp) + FixedDateTimeText(period.from) + Str(" позже конца "_cp) +
               FixedDateTimeText(period.to);
    return {};
}

std::string_view ReportKindName(ReportKind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }
std::string_view ReportResultName(std::size_t result) { return kResultNames[std::min(result, kReportResults - 1)]; }
std::string_view WaitBinName(std::size_t bin) { return kWaitBinNames[std::min(bin, kWaitBins - 1)]; }

bool NaturalOrder::operator()(const std::string& a, const std::string& b) const
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            // Numbers by value: the shorter run without its leading zeros is the smaller.
            std::size_t i0 = i, j0 = j;
            while (i0 < a.size() && a[i0] == '0')
                ++i0;
            while (j0 < b.size() && b[j0] == '0')
                ++j0;
            std::size_t ie = i0, je = j0;
            while (ie < a.size() && digit(a[ie]))
                ++ie;
            while (je < b.size() && digit(b[je]))
                ++je;
            if (ie - i0 != je - j0)
                return ie - i0 < je - j0;
            if (const int c = a.compare(i0, ie - i0, b, j0, je - j0); c != 0)
                return c < 0;
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b; // "01" and "1" apart, in a fixed order
}

int ObjectFigures::TotalAlarms() const
{
    int n = 0;
    for (int a : alarms)
        n += a;
    return n;
}

int ObjectFigures::TotalHandled() const
{
    int n = 0;
    for (int h : handled)
        n += h;
    return n;
}

double ReportFigures::FalseAlarmShare() const
{
    const int chosen = all.TotalHandled() - all.handled[kReportResults - 1];
    return chosen > 0 ? static_cast<double>(all.handled[kFalseAlarmResult]) / chosen : 0.0;
}

// ---------------------------------------------------------------- figures

ReportPeriod ReportReadSpan(const ReportPeriod& period) { return {period.from - kLookBackDays, period.to}; }

ReportFigures ComputeReport(const MemTable& main, const MemTable* dial, const ReportPeriod& period,
                            std::string_view object)
{
    ReportFigures out;
    out.period = period;
    out.objectFilter = std::string(TrimBlanks(object));
    Reader reader(out, period, out.objectFilter);

    const double readFrom = ReportReadSpan(period).from;
    const std::vector<RowRef> mainRows = RowsWithin(main, readFrom, period.to);
    const std::vector<RowRef> dialRows = dial ? RowsWithin(*dial, readFrom, period.to) : std::vector<RowRef>();
    const int mStatus = main.FindField("Status"), mTel = main.FindField("tel"), mEvent = main.FindField("event"),
              mName = main.FindField("simplename");
    const int dTel = dial ? dial->FindField("tel") : -1, dEvent = dial ? dial->FindField("event") : -1,
              dName = dial ? dial->FindField("simplename") : -1;

    // The two journals in step, by time: a ring-round failure opens no row
    // while the device's silence is open, and the other way round.
    std::size_t m = 0, d = 0;
    while (m < mainRows.size() || d < dialRows.size()) {
        const bool takeMain = d >= dialRows.size() || (m < mainRows.size() && mainRows[m].t <= dialRows[d].t);
        const RowRef& r = takeMain ? mainRows[m++] : dialRows[d++];
        if (r.t >= period.from)
            ++out.rowsRead;
        if (takeMain)
            reader.Main(r.t, TextOf(main, r.row, mStatus), TextOf(main, r.row, mTel), TextOf(main, r.row, mEvent),
                        TextOf(main, r.row, mName));
        else
            reader.Dial(r.t, TextOf(*dial, r.row, dTel), TextOf(*dial, r.row, dEvent), TextOf(*dial, r.row, dName));
    }
    reader.Finish();
    return out;
}

// ---------------------------------------------------------------- texts

std::string WaitWords(std::uint64_t seconds)
{
    const auto two = [](std::uint64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    if (seconds >= 3600)
        return std::to_string(seconds / 3600) + Str(" ч "_cp) + two(seconds / 60 % 60) + Str(" мин"_cp);
    return std::to_string(seconds / 60) + Str(" мин "_cp) + two(seconds % 60) + Str(" с"_cp);
}

std::vector<std::string> ReportSummaryLines(const ReportFigures& f)
{
    std::vector<std::string> lines;
    lines.push_back(Str("Отчёт за период "_cp) + FixedDateTimeText(f.period.from) + " - " +
                    FixedDateTimeText(f.period.to));
    lines.push_back(f.objectFilter.empty() ? Str("Объекты: все"_cp) : Str("Объект: "_cp) + f.objectFilter);
    if (f.rowsRead == 0)
        lines.push_back(Str("За период в журналах нет событий"_cp));
    lines.push_back(Str("Тревог всего: "_cp) + std::to_string(f.all.TotalAlarms()));
    for (std::size_t k = 0; k < kReportKinds; ++k)
        if (f.all.alarms[k] > 0)
            lines.push_back("  " + Str(kKindNames[k]) + ": " + std::to_string(f.all.alarms[k]));
    lines.push_back(Str("Обработано: "_cp) + std::to_string(f.all.TotalHandled()) + Str(", принято с табло: "_cp) +
                    std::to_string(f.all.acknowledged) + Str(", оставлено без обработки: "_cp) +
                    std::to_string(f.all.leftOpen));
    for (std::size_t r = 0; r < kReportResults; ++r)
        if (f.all.handled[r] > 0)
            lines.push_back("  " + Str(kResultNames[r]) + ": " + std::to_string(f.all.handled[r]));
    lines.push_back(Str("Доля ложных тревог: "_cp) + Number(100.0 * f.FalseAlarmShare(), 1) + "%");
    lines.push_back(Str("Самое долгое ожидание: "_cp) + WaitWords(f.all.longestWait));
    lines.push_back(Str("Эскалаций отправлено: "_cp) + std::to_string(f.all.escalationsSent) +
                    Str(", не отправлено: "_cp) + std::to_string(f.all.escalationsFailed));
    lines.push_back(Str("Обзвон: ответили "_cp) + std::to_string(f.all.ringAnswered) + Str(" из "_cp) +
                    std::to_string(f.all.ringCalls) + Str(" вызовов ("_cp) +
                    Percent(f.all.ringAnswered, f.all.ringCalls) + ")");
    // A year of a large station names hundreds: the first, and how many more.
    constexpr std::size_t kSilentNamed = 10;
    std::string silent;
    for (std::size_t i = 0; i < f.silentObjects.size() && i < kSilentNamed; ++i)
        silent += (silent.empty() ? "" : ", ") + f.silentObjects[i];
    if (f.silentObjects.size() > kSilentNamed)
        silent += Str(" и ещё "_cp) + std::to_string(f.silentObjects.size() - kSilentNamed);
    lines.push_back(Str("Объекты без связи: "_cp) + (silent.empty() ? Str("нет"_cp) : silent));
    if (!f.objects.empty())
        lines.push_back(Str("По объектам:"_cp));
    for (const auto& [name, o] : f.objects) {
        std::string line = "  " + name + Str(": тревог "_cp) + std::to_string(o.TotalAlarms()) +
                           Str(", обработано "_cp) + std::to_string(o.TotalHandled()) + Str(", ложных "_cp) +
                           std::to_string(o.handled[kFalseAlarmResult]);
        if (o.ringCalls > 0)
            line += Str(", обзвон "_cp) + std::to_string(o.ringAnswered) + "/" + std::to_string(o.ringCalls);
        lines.push_back(std::move(line));
    }
    return lines;
}

void WriteReportCsv(const ReportFigures& f, std::ostream& out)
{
    const auto cell = [](std::string_view cp1251) { return CsvField(Cp1251ToUtf8(cp1251), ';'); };
    const auto row = [&](std::initializer_list<std::string> cells) {
        bool first = true;
        for (const std::string& c : cells) {
            out << (first ? "" : ";") << c;
            first = false;
        }
        out << "\r\n";
    };
    const auto n = [](std::int64_t v) { return std::to_string(v); };
    out << "\xEF\xBB\xBF"; // a spreadsheet reads UTF-8 by this mark
    row({cell("Период"_cp), cell(FixedDateTimeText(f.period.from)), cell(FixedDateTimeText(f.period.to))});
    row({cell("Объект"_cp), cell(f.objectFilter.empty() ? "все"_cp : std::string_view(f.objectFilter))});
    out << "\r\n";

    std::vector<std::string> head = {cell("Объект"_cp)};
    for (std::string_view k : kKindNames)
        head.push_back(cell(k));
    for (std::string_view r : kResultNames)
        head.push_back(cell(r));
    for (std::string_view h : {"Принято с табло"_cp, "Без обработки"_cp, "Эскалаций отправлено"_cp,
                               "Эскалаций не отправлено"_cp, "Вызовов обзвона"_cp, "Ответили"_cp,
                               "Доступность, %"_cp, "Самое долгое ожидание, с"_cp})
        head.push_back(cell(h));
    const auto objectRow = [&](std::string_view name, const ObjectFigures& o) {
        std::string line = cell(name);
        for (int a : o.alarms)
            line += ";" + n(a);
        for (int h : o.handled)
            line += ";" + n(h);
        line += ";" + n(o.acknowledged) + ";" + n(o.leftOpen) + ";" + n(o.escalationsSent) + ";" +
                n(o.escalationsFailed) + ";" + n(o.ringCalls) + ";" + n(o.ringAnswered) + ";" +
                (o.ringCalls > 0 ? Number(100.0 * o.ringAnswered / o.ringCalls, 1) : std::string()) + ";" +
                n(static_cast<std::int64_t>(o.longestWait));
        out << line << "\r\n";
    };
    std::string headLine;
    for (const std::string& h : head)
        headLine += (headLine.empty() ? "" : ";") + h;
    out << headLine << "\r\n";
    for (const auto& [name, o] : f.objects)
        objectRow(name, o);
    objectRow("Всего"_cp, f.all);
    out << "\r\n";

    row({cell("Оператор"_cp), cell("Обработано"_cp)});
    for (const auto& [user, count] : f.byOperator)
        row({cell(user.empty() ? "без оператора"_cp : std::string_view(user)), n(count)});
    out << "\r\n";
    row({cell("Ожидание"_cp), cell("Тревог"_cp)});
    for (std::size_t b = 0; b < kWaitBins; ++b)
        row({cell(kWaitBinNames[b]), n(f.waitBins[b])});
    out << "\r\n";
    row({cell("Обработана"_cp), cell("Объект"_cp), cell("Тревога"_cp), cell("Результат"_cp), cell("Оператор"_cp),
         cell("Ожидание, с"_cp)});
    for (const Handling& h : f.handlings)
        row({cell(FixedDateTimeText(h.at)), cell(h.object), cell(h.kind ? ReportKindName(*h.kind) : "?"),
             cell(ReportResultName(h.result)), cell(h.user),
             h.waitSeconds ? n(static_cast<std::int64_t>(*h.waitSeconds)) : std::string()});
}

} // namespace kv
