#include "core/AlarmDesk.h"

#include "codec/Number.h"
#include "data/AtomicFile.h"
#include "data/Status.h"
#include "modem/EventTexts.h"
#include "timing/DateTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace kv {

using namespace literals;

namespace {

constexpr std::string_view kSmsPrefix = events::kNewMessage;
constexpr std::string_view kModem1 = events::kModem1Tel;
constexpr std::size_t kEventWidth = 200;
constexpr std::string_view kRecordHead = "Korvalen open alarms 1";
constexpr std::string_view kAckLine = "ack";
constexpr std::string_view kRowLine = "row"; // the row's journal and number
// A centre alarm whose escalation this desk has begun and not finished: the
// centre leaves it to this desk, so a crash must not drop it.
constexpr std::string_view kCentreLine = "centre";
constexpr std::string_view kSilentBack = "; связь восстановлена в "_cp;
constexpr std::string_view kRepeats = "; ещё неудачных: "_cp;

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::string Cut(std::string_view s, std::size_t width) { return std::string(s.substr(0, width)); }

std::string HoursMinutes(double dateTime)
{
    const DateTimeParts p = DecodeDateTime(dateTime);
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", p.hour, p.minute);
    return text;
}

// Milliseconds from one station date-time to a later one; 0 for none or nonsense.
std::uint64_t MsSince(double from, double to)
{
    const double ms = (to - from) * 86400000.0;
    return ms > 0 && ms < 1e15 ? static_cast<std::uint64_t>(std::llround(ms)) : 0;
}

// The name an SMS or a journal row uses for an alarm: its device, else its number.
std::string AlarmName(const OpenAlarm& alarm)
{
    const std::string_view name = TrimBlanks(alarm.shortName);
    return std::string(name.empty() ? std::string_view(alarm.tel) : name);
}

std::string OperatorPart(std::string_view user, std::uint64_t waitedSeconds)
{
    const std::string who = user.empty() ? Str("без оператора"_cp) : Str("оператор "_cp) + std::string(user);
    return " (" + who + Str(", ждала "_cp) + WaitText(waitedSeconds) + ")";
}

// ---- the record file: one row per line, fields between tabs ----

const char* KindName(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::Intrusion: return "intrusion";
    case AlarmKind::AlarmCall: return "call";
    case AlarmKind::Warning: return "warning";
    case AlarmKind::RingRoundFailed: return "ringround";
    case AlarmKind::LinkLost: return "link";
    // Older stations skip a line of a kind they do not know.
    case AlarmKind::Stranger: return "stranger";
    case AlarmKind::Silent: return "silent";
    }
    return "intrusion";
}

std::optional<AlarmKind> KindOf(std::string_view name)
{
    for (AlarmKind k : {AlarmKind::Intrusion, AlarmKind::AlarmCall, AlarmKind::Warning, AlarmKind::RingRoundFailed,
                        AlarmKind::LinkLost, AlarmKind::Stranger, AlarmKind::Silent})
        if (name == KindName(k))
            return k;
    return std::nullopt;
}

std::string Escape(std::string_view s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::string Unescape(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out.push_back(s[i]);
            continue;
        }
        switch (s[++i]) {
        case 't': out.push_back('\t'); break;
        case 'r': out.push_back('\r'); break;
        case 'n': out.push_back('\n'); break;
        default: out.push_back(s[i]);
        }
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------- texts

EscalationSettings ParseEscalation(std::string_view minutes, std::string_view numbers,
                                   std::vector<std::string>& problems)
{
    EscalationSettings settings;
    const std::string time(TrimBlanks(minutes));
    if (!time.empty()) {
        const std::optional<double> value = TextToFloat(time);
        // Beyond a year is a slip, and would overflow the wait in milliseconds.
        constexpr double kYearMinutes = 366.0 * 24 * 60;
        if (!value || *value < 0)
            problems.push_back(Str("Эскалация выключена: время \""_cp) + time +
                               Str("\" не является числом минут (Minutes в config.ini)"_cp));
        else if (*value > kYearMinutes)
            problems.push_back(Str("Эскалация выключена: время \""_cp) + time +
                               Str("\" больше года (Minutes в config.ini)"_cp));
        else
            settings.minutes = *value;
    }
    const std::vector<std::string_view> entries = SplitFields(numbers, ',');
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string number;
        for (char c : entries[i])
            if (c != ' ' && c != '\t')
                number.push_back(c);
        if (number.empty()) {
            // A lone empty text is no list at all; an empty entry inside one is a slip.
            if (entries.size() > 1)
                problems.push_back(Str("Эскалация: пустой номер в списке пропущен (Numbers в config.ini)"_cp));
            continue;
        }
        const std::size_t digits = number.size() - (number[0] == '+' ? 1 : 0);
        const bool valid = digits >= 3 && digits <= 20 &&
                           std::all_of(number.begin() + (number[0] == '+' ? 1 : 0), number.end(),
                                       [](char c) { return c >= '0' && c <= '9'; });
        if (!valid) {
            problems.push_back(Str("Эскалация: номер \""_cp) + std::string(TrimBlanks(entries[i])) +
                               Str("\" пропущен: допустимы только цифры и \"+\" в начале"_cp));
            continue;
        }
        if (std::find(settings.numbers.begin(), settings.numbers.end(), number) == settings.numbers.end())
            settings.numbers.push_back(number);
    }
    if (settings.minutes > 0 && settings.numbers.empty())
        problems.push_back(Str("Эскалация выключена: нет ни одного номера (Numbers в config.ini)"_cp));
    return settings;
}

std::string WaitText(std::uint64_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
    return text;
}

std::string CleanComment(std::string_view comment)
{
    std::string out;
    for (char c : comment)
        out.push_back(c == '\r' || c == '\n' || c == '\t' ? ' ' : c);
    return std::string(TrimBlanks(Cut(out, kCommentLimit)));
}

std::string HandledEvent(std::string_view result, std::string_view comment, std::string_view user,
                         std::uint64_t waitedSeconds)
{
    const std::string head = Str("Обработано: "_cp) + std::string(result) + ".";
    const std::string tail = OperatorPart(user, waitedSeconds);
    const std::string note = CleanComment(comment);
    if (note.empty())
        return Cut(head + tail, kEventWidth);
    const std::size_t room = kEventWidth > head.size() + 1 + tail.size() ? kEventWidth - head.size() - 1 - tail.size() : 0;
    return Cut(head + " " + std::string(TrimBlanks(Cut(note, room))) + tail, kEventWidth);
}

std::string UnhandledEvent(std::string_view what, std::string_view user, std::uint64_t waitedSeconds)
{
    const std::string head = Str("Не обработано: "_cp);
    const std::string tail = OperatorPart(user, waitedSeconds);
    const std::size_t room = kEventWidth > head.size() + tail.size() ? kEventWidth - head.size() - tail.size() : 0;
    return Cut(head + Cut(what, room) + tail, kEventWidth);
}

std::string ClockStepText(const ClockStepDetector::Step& step)
{
    const bool sameDay = std::floor(step.before) == std::floor(step.after);
    const auto text = [sameDay](double t) { return sameDay ? FixedTimeText(t) : FixedDateTimeText(t); };
    return Str("Системное время изменено: было "_cp) + text(step.before) + Str(", стало "_cp) + text(step.after);
}

namespace {

bool IsLetter(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b >= 0xC0 || b == 0xA8 || b == 0xB8;
}

// The station's own alarm texts said in fewer words, for an SMS that cannot
// hold them whole: cut after a word, "Дозвон завершен не успешно" would say
// the opposite.
std::string_view ShortWhat(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::AlarmCall: return "Тревожный вызов"_cp;
    case AlarmKind::RingRoundFailed: return "Дозвон не удался"_cp;
    case AlarmKind::LinkLost: return "Потеряна связь"_cp;
    case AlarmKind::Silent: return kSilentEvent;
    default: return {};
    }
}

// At most `room` characters of the text: whole words and "…", or nothing.
std::string FitWords(std::string_view text, std::size_t room)
{
    text = TrimBlanks(text);
    if (text.size() <= room)
        return std::string(text);
    const std::string_view ellipsis = "…"_cp;
    if (room <= ellipsis.size())
        return {};
    // The whole words before the last blank that leaves room for the ellipsis.
    std::string_view kept = text.substr(0, room - ellipsis.size() + 1);
    const std::size_t blank = kept.find_last_of(" \t");
    if (blank == std::string_view::npos)
        return {};
    kept = TrimBlanks(kept.substr(0, blank));
    // Nor does it end on a preposition or a particle ("связь с…", "питание не…"):
    // a word of one or two letters means little without the next.
    for (;;) {
        const std::size_t last = kept.find_last_of(" \t");
        if (last == std::string_view::npos || kept.size() - last > 3 ||
            !std::all_of(kept.begin() + static_cast<std::ptrdiff_t>(last) + 1, kept.end(), IsLetter))
            break;
        kept = TrimBlanks(kept.substr(0, last));
    }
    while (!kept.empty() && (kept.back() == ',' || kept.back() == ';' || kept.back() == ':' || kept.back() == '-'))
        kept = TrimBlanks(kept.substr(0, kept.size() - 1));
    return kept.empty() ? std::string() : std::string(kept) + std::string(ellipsis);
}

} // namespace

std::string EscalationText(const OpenAlarm& alarm)
{
    std::string what = alarm.what;
    if (StartsWith(what, kSmsPrefix))
        what.erase(0, kSmsPrefix.size());
    std::string name = AlarmName(alarm);
    const std::string head = Str("Korvalen: тревога "_cp);
    const std::string time = " " + HoursMinutes(alarm.openedAt);
    const std::string tail = Str(" не обработана"_cp);
    const std::size_t fixed = head.size() + time.size() + tail.size();
    constexpr std::size_t kBrackets = 3; // " (" and ")"
    // A name too long to fit by itself is cut to leave <what> a word.
    constexpr std::size_t kWhatAtLeast = 10;
    if (fixed + name.size() > kSmsLimit)
        name = std::string(TrimBlanks(Cut(name, kSmsLimit - fixed - kBrackets - kWhatAtLeast)));
    const std::size_t used = fixed + name.size() + kBrackets;
    const std::size_t room = used < kSmsLimit ? kSmsLimit - used : 0;
    if (TrimBlanks(what).size() > room && !ShortWhat(alarm.kind).empty())
        what = ShortWhat(alarm.kind);
    const std::string said = FitWords(what, room);
    return head + name + time + (said.empty() ? std::string() : " (" + said + ")") + tail;
}

std::string EscalationWholeText(const OpenAlarm& alarm)
{
    std::string_view what = alarm.what;
    if (StartsWith(what, kSmsPrefix))
        what.remove_prefix(kSmsPrefix.size());
    what = TrimBlanks(what);
    return Str("Korvalen: тревога "_cp) + AlarmName(alarm) + " " + HoursMinutes(alarm.openedAt) +
           (what.empty() ? std::string() : " (" + std::string(what) + ")") + Str(" не обработана"_cp);
}

// ---------------------------------------------------------------- the desk

AlarmDesk::AlarmDesk(IDeskStation& station, IClock& clock)
    : m_station(station), m_clock(&clock), m_clockStart(clock.ReadTimeStamp()), m_clockStep(clock),
      m_self(std::make_shared<AlarmDesk*>(this))
{
}

AlarmDesk::~AlarmDesk() { *m_self = nullptr; }

std::uint64_t AlarmDesk::DeskMs() const
{
    const std::uint32_t elapsed = m_clock->ElapsedMs(m_clockStart);
    // Re-based long before the 32-bit milliseconds could wrap.
    if (elapsed > 0x40000000u) {
        m_clockBase += elapsed;
        m_clockStart = m_clock->ReadTimeStamp();
        return m_clockBase;
    }
    return m_clockBase + elapsed;
}

void AlarmDesk::SetClock(IClock& clock)
{
    m_clockBase = DeskMs();
    m_clock = &clock;
    m_clockStart = clock.ReadTimeStamp();
    m_clockStep.Reset(clock);
}

std::uint64_t AlarmDesk::WaitedSeconds(const OpenAlarm& alarm) const
{
    return (DeskMs() - alarm.openedMs + alarm.waitedBeforeMs) / 1000;
}

const OpenAlarm* AlarmDesk::Find(std::uint64_t id) const
{
    for (const OpenAlarm& a : m_rows)
        if (a.id == id)
            return &a;
    return nullptr;
}

OpenAlarm& AlarmDesk::Open(AlarmKind kind, const std::string& tel, const std::string& what, std::string shortName)
{
    OpenAlarm alarm;
    alarm.id = m_nextId++;
    alarm.kind = kind;
    alarm.priority = m_priorities.Of(kind);
    alarm.openedAt = m_clock->Now();
    alarm.openedMs = DeskMs();
    alarm.tel = tel;
    alarm.what = what;
    alarm.shortName = std::move(shortName);
    alarm.listName = kind == AlarmKind::Stranger ? std::string(kStrangerName) : m_station.ListName(tel);
    // Its row was journalled just before: a ring-round failure's in the ring journal.
    const bool ring = kind == AlarmKind::RingRoundFailed;
    alarm.journal = ring ? "ring" : "main";
    alarm.seq = m_station.LastRowSeq(ring);
    m_rows.push_back(std::move(alarm));
    return m_rows.back();
}

void AlarmDesk::Changed(bool opened)
{
    if (m_recording)
        StartRecord();
    if (OnChanged)
        OnChanged(opened);
}

void AlarmDesk::Reported(AlarmKind kind, const std::string& tel, const std::string& what, const std::string& shortName)
{
    if (kind == AlarmKind::Stranger) {
        const bool shown = std::any_of(m_rows.begin(), m_rows.end(), [&](const OpenAlarm& a) {
            return a.kind == AlarmKind::Stranger && a.tel == tel;
        });
        if (shown)
            return;
        Open(AlarmKind::Stranger, tel, what, {});
    } else {
        Open(kind, tel, what, shortName);
    }
    Changed(true);
}

void AlarmDesk::LinkRestored()
{
    if (!m_linkDown)
        return;
    m_linkDown = false;
    // The row stays for the operator: alarms may have gone unheard meanwhile.
    // Its text is journalled if left open, so the time is in the fixed format.
    const std::string back = Str("; связь восстановлена в "_cp) + FixedTimeText(m_clock->Now());
    for (OpenAlarm& a : m_rows)
        if (a.kind == AlarmKind::LinkLost && a.what == kLinkLostEvent)
            a.what += back;
    Changed(false);
}

void AlarmDesk::RingRoundFailed(const std::string& tel, const std::string& what)
{
    const auto open = std::find_if(m_rows.begin(), m_rows.end(), [&](const OpenAlarm& a) {
        return (a.kind == AlarmKind::RingRoundFailed || a.kind == AlarmKind::Silent) && a.tel == tel;
    });
    if (open == m_rows.end()) {
        Open(AlarmKind::RingRoundFailed, tel, what, m_station.ShortName(tel));
        Changed(true);
        return;
    }
    // "<what>; ещё неудачных: N, последний hh:mm:ss": the count read back from
    // the text, so that a row put back after a restart counts on.
    std::string& text = open->what;
    int repeats = 0;
    if (const std::size_t at = text.find(kRepeats); at != std::string::npos) {
        const std::size_t from = at + kRepeats.size();
        const std::size_t comma = text.find(',', from);
        const std::string_view count = std::string_view(text).substr(from, comma == std::string::npos ? 0 : comma - from);
        repeats = static_cast<int>(std::clamp<std::int64_t>(TextToInt(count).value_or(0), 0, 1000000));
        text.erase(at);
    }
    text = Cut(text, kEventWidth - kRepeats.size() - 40) + std::string(kRepeats) + std::to_string(repeats + 1) +
           Str(", последний "_cp) + FixedTimeText(m_clock->Now());
    Changed(false);
}

void AlarmDesk::LinkLost()
{
    if (m_linkDown)
        return;
    m_linkDown = true;
    m_station.Journal(status::kOffline, std::string(kModem1), std::string(kLinkLostEvent), m_clock->Now());
    Open(AlarmKind::LinkLost, std::string(kModem1), std::string(kLinkLostEvent), {}); // a modem is no device
    Changed(true);
}

bool AlarmDesk::DeviceSilent(const std::string& tel, const std::string& detail)
{
    const auto open = std::find_if(m_rows.begin(), m_rows.end(), [&](const OpenAlarm& a) {
        return a.kind == AlarmKind::Silent && a.tel == tel;
    });
    if (open != m_rows.end()) {
        // Silent again before anyone handled the row: it no longer says the link came back.
        if (const std::size_t back = open->what.find(kSilentBack); back != std::string::npos) {
            open->what.erase(back);
            Changed(false);
        }
        return false;
    }
    const std::string what = Cut(std::string(kSilentEvent) + (detail.empty() ? std::string() : "; " + detail), kEventWidth);
    m_station.Journal(status::kOffline, tel, what, m_clock->Now());
    Open(AlarmKind::Silent, tel, what, m_station.ShortName(tel));
    Changed(true);
    return true;
}

void AlarmDesk::DeviceHeard(const std::string& tel)
{
    bool changed = false;
    for (OpenAlarm& a : m_rows) {
        if (a.kind != AlarmKind::Silent || a.tel != tel || a.what.find(kSilentBack) != std::string::npos)
            continue;
        // Its text is journalled if left open, so the time is in the fixed format.
        a.what = Cut(a.what + std::string(kSilentBack) + FixedTimeText(m_clock->Now()), kEventWidth);
        changed = true;
    }
    if (changed)
        Changed(false);
}

bool AlarmDesk::Handle(std::uint64_t id, std::string_view result, std::string_view comment, const std::string& user)
{
    const auto it = std::find_if(m_rows.begin(), m_rows.end(), [id](const OpenAlarm& a) { return a.id == id; });
    // A centre row is closed through the centre's queue.
    if (it == m_rows.end() || it->centreId != 0)
        return false;
    const std::string event = HandledEvent(result, comment, user, WaitedSeconds(*it));
    const OpenAlarm handled = std::move(*it);
    m_rows.erase(it);
    const double now = m_clock->Now();
    m_station.Journal(status::kHandling, handled.tel, event, now);
    m_station.Handled(handled, m_station.LastRowSeq(false), result, CleanComment(comment), user, now);
    const std::string shortName = handled.shortName;
    Changed(false);
    Calmed({shortName});
    return true;
}

std::vector<std::uint64_t> AlarmDesk::RowsOfDevice(const std::string& shortName) const
{
    std::vector<std::uint64_t> ids;
    if (TrimBlanks(shortName).empty())
        return ids;
    for (const OpenAlarm& a : m_rows)
        if (a.shortName == shortName)
            ids.push_back(a.id);
    return ids;
}

int AlarmDesk::AcknowledgeDevice(const std::string& shortName, const std::string& user)
{
    int acked = 0;
    const double now = m_clock->Now();
    for (std::uint64_t id : RowsOfDevice(shortName)) {
        const auto it = std::find_if(m_rows.begin(), m_rows.end(), [id](const OpenAlarm& a) { return a.id == id; });
        if (it->acked)
            continue;
        it->acked = true;
        it->ackedBy = user;
        it->ackedAt = now;
        m_station.Journal(status::kHandling, it->tel, HandledEvent(kResultFromBoard, {}, user, WaitedSeconds(*it)), now);
        ++acked;
    }
    if (acked > 0) {
        Changed(false);
        if (OnAcknowledged)
            OnAcknowledged(shortName);
    }
    return acked;
}

int AlarmDesk::HandleDevice(const std::string& shortName, std::string_view result, std::string_view comment,
                            const std::string& user)
{
    int handled = 0;
    for (std::uint64_t id : RowsOfDevice(shortName))
        handled += Handle(id, result, comment, user) ? 1 : 0;
    return handled;
}

bool AlarmDesk::AnyUnacknowledged() const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [](const OpenAlarm& a) { return !a.acked; });
}

std::vector<const OpenAlarm*> AlarmDesk::Queue() const
{
    std::vector<const OpenAlarm*> queue;
    for (const OpenAlarm& a : m_rows)
        queue.push_back(&a);
    std::stable_sort(queue.begin(), queue.end(),
                     [](const OpenAlarm* x, const OpenAlarm* y) { return x->priority < y->priority; });
    return queue;
}

void AlarmDesk::SetPriorities(const AlarmPriorities& priorities)
{
    m_priorities = priorities;
    bool changed = false;
    for (OpenAlarm& a : m_rows) {
        const int p = m_priorities.Of(a.kind);
        changed = changed || p != a.priority;
        a.priority = p;
    }
    if (changed)
        Changed(false);
}

int AlarmDesk::SoundingPriority() const
{
    int most = 0;
    for (const OpenAlarm& a : m_rows)
        if (!a.acked && (most == 0 || a.priority < most))
            most = a.priority;
    return most;
}

std::string AckText(const OpenAlarm& alarm)
{
    if (!alarm.takenBy.empty())
        return Str("Принята оператором "_cp) + alarm.takenBy;
    if (!alarm.acked)
        return {};
    return Str("принята "_cp) + alarm.ackedBy + " " + HoursMinutes(alarm.ackedAt);
}

void AlarmDesk::LeftOpen(const std::string& user)
{
    for (const OpenAlarm& a : m_rows)
        if (a.centreId == 0) // the centre's stay in its queue for any desk
            m_station.Journal(status::kUnhandled, a.tel, UnhandledEvent(a.what, user, WaitedSeconds(a)), m_clock->Now());
}

void AlarmDesk::Clear()
{
    m_claimed.clear();
    if (m_rows.empty())
        return;
    m_rows.clear();
    m_sending.reset();
    Changed(false);
}

// ---------------------------------------------------------------- escalation

void AlarmDesk::SetEscalation(const std::string& minutesText, const std::string& numbersText)
{
    if (m_settingsRead && minutesText == m_minutesText && numbersText == m_numbersText)
        return;
    m_settingsRead = true;
    m_minutesText = minutesText;
    m_numbersText = numbersText;
    std::vector<std::string> problems;
    m_escalation = ParseEscalation(minutesText, numbersText, problems);
    for (const std::string& line : problems)
        m_station.Techno(line, kRed);
}

void AlarmDesk::Tick()
{
    if (const auto step = m_clockStep.Check())
        m_station.Techno(ClockStepText(*step), kNavy);
    if (m_sending && DeskMs() - m_sending->sinceMs > kSendGiveUpMs)
        SendOutcome(m_sending->serial, false);
    Escalate();
}

void AlarmDesk::Escalate()
{
    if (m_escalation.minutes <= 0 || m_escalation.numbers.empty() || m_sending)
        return;
    const std::uint64_t limitMs = static_cast<std::uint64_t>(m_escalation.minutes * 60000.0);
    const std::uint64_t now = DeskMs();
    for (OpenAlarm& a : m_rows) {
        // Acknowledged: someone is on it, the responders are not called.
        // The centre's rows are escalated by one receiver for every desk,
        // but for those whose escalation this desk had begun.
        if (a.kind == AlarmKind::Stranger || a.acked || (a.centreId != 0 && a.escalatedTo.empty()) ||
            WaitedSeconds(a) * 1000 < limitMs)
            continue;
        // Once its row is in the centre, the centre's chosen receiver sends it,
        // unless this desk had begun: the centre was told so, and leaves it.
        if (a.seq != 0 && a.escalatedTo.empty() && m_station.InCentre(a.journal, a.seq))
            continue;
        if (EscalateRow(a, now))
            return;
    }
    // The centre's, claimed by this receiver: their time is up already.
    for (OpenAlarm& a : m_claimed)
        if (EscalateRow(a, now))
            return;
}

bool AlarmDesk::EscalateRow(OpenAlarm& a, std::uint64_t now)
{
    std::string number;
    for (const std::string& n : m_escalation.numbers) {
        const bool reached = std::find(a.escalatedTo.begin(), a.escalatedTo.end(), n) != a.escalatedTo.end();
        const OpenAlarm::Tries& t = a.tries[n];
        if (reached || t.failed >= kEscalationTries || now < t.retryAfterMs)
            continue;
        if (SentLastHour(n, now) >= kSmsPerHour) {
            // Held, not dropped: it goes once the hour has room again.
            if (std::find(a.heldTold.begin(), a.heldTold.end(), n) == a.heldTold.end()) {
                a.heldTold.push_back(n);
                m_station.Journal(status::kAttention, n,
                                  Str("Эскалация задержана: превышен предел "_cp) + std::to_string(kSmsPerHour) +
                                      Str(" SMS в час на номер "_cp) + n + Str(". Тревога "_cp) + AlarmName(a) +
                                      " " + HoursMinutes(a.openedAt),
                                  m_clock->Now());
            }
            continue;
        }
        number = n;
        break;
    }
    if (number.empty())
        return false;
    const bool running = m_station.Modem1Running();
    if (!running || m_linkDown) {
        if (!a.delayTold) {
            a.delayTold = true;
            const std::string why = running ? Str("GSM-модем №1 не отвечает"_cp) : Str("GSM-модем №1 не запущен"_cp);
            m_station.Journal(status::kSmsFailed, std::string(kModem1),
                              Str("Эскалация отложена: "_cp) + why + Str(". Тревога "_cp) + AlarmName(a) + " " +
                                  HoursMinutes(a.openedAt),
                              m_clock->Now());
        }
        return false;
    }
    a.delayTold = false;
    const std::string text = EscalationText(a);
    std::weak_ptr<AlarmDesk*> self = m_self;
    const std::uint64_t serial = ++m_sendSerial;
    // The whole text where the modem can send it in parts; the one-SMS form otherwise.
    const bool queued = m_station.SendSms(number, EscalationWholeText(a), text, [self, serial](bool sent) {
        if (const auto desk = self.lock(); desk && *desk)
            (*desk)->SendOutcome(serial, sent);
    });
    // Not queued: another send is under way; the next tick tries again.
    if (queued) {
        m_sending = Sending{serial, a.id, number, text, now};
        m_sentAt[number].push_back(now);
    }
    return true;
}

std::size_t AlarmDesk::SentLastHour(const std::string& number, std::uint64_t now)
{
    const auto it = m_sentAt.find(number);
    if (it == m_sentAt.end())
        return 0;
    std::deque<std::uint64_t>& times = it->second;
    while (!times.empty() && now - times.front() >= kHourMs)
        times.pop_front();
    return times.size();
}

void AlarmDesk::SendOutcome(std::uint64_t serial, bool sent)
{
    if (!m_sending || m_sending->serial != serial)
        return;
    const Sending done = *m_sending;
    m_sending.reset();
    // A refused SMS never left: it does not count against the number's hour.
    // One given up without an answer may have, and keeps counting.
    if (!sent && DeskMs() - done.sinceMs <= kSendGiveUpMs) {
        std::deque<std::uint64_t>& times = m_sentAt[done.number];
        if (const auto at = std::find(times.begin(), times.end(), done.sinceMs); at != times.end())
            times.erase(at);
    }
    const std::string& number = done.number;
    const std::string& text = done.text;
    if (sent)
        m_station.Journal(status::kSmsSent, number, Str("Эскалация: "_cp) + text, m_clock->Now());
    else
        m_station.Journal(status::kSmsFailed, number, Str("Эскалация не отправлена: "_cp) + text, m_clock->Now());
    // The row may have been handled meanwhile; the outcome is on record either way.
    for (std::vector<OpenAlarm>* rows : {&m_rows, &m_claimed})
        for (OpenAlarm& a : *rows) {
            if (a.id != done.id)
                continue;
            if (sent) {
                // The centre learns of this desk's own rows; a claimed one is marked there already.
                if (a.escalatedTo.empty() && rows == &m_rows && a.centreId == 0)
                    m_station.Escalated(a, m_clock->Now());
                a.escalatedTo.push_back(number);
            } else {
                OpenAlarm::Tries& t = a.tries[number];
                ++t.failed;
                t.retryAfterMs = DeskMs() + kRetryMs;
            }
        }
    // A claimed alarm is done with once every number was reached or given up.
    std::erase_if(m_claimed, [this](const OpenAlarm& a) { return EscalationDone(a); });
    Changed(false);
}

// ---------------------------------------------------------------- the centre

void AlarmDesk::SetCentreAlarms(const std::vector<centre::CentreAlarm>& alarms, const std::string& thisStation)
{
    bool changed = false, opened = false;
    std::vector<std::string> calmed; // devices whose rows left
    std::vector<OpenAlarm> kept;
    kept.reserve(m_rows.size() + alarms.size());
    std::map<long long, const centre::CentreAlarm*> byId;
    for (const centre::CentreAlarm& c : alarms)
        if (c.state != "closed")
            byId[c.id] = &c;
    // The rows shown before: a centre row still there keeps its id, its wait
    // and its acknowledgement; one gone was closed at some desk.
    // Copies: the rows stay as they are when nothing changed.
    std::map<long long, OpenAlarm> before;
    for (const OpenAlarm& a : m_rows) {
        if (a.centreId == 0) {
            kept.push_back(a);
        } else if (byId.count(a.centreId) != 0) {
            before.emplace(a.centreId, a);
        } else {
            calmed.push_back(a.shortName);
            changed = true;
        }
    }
    for (const auto& [id, c] : byId) {
        OpenAlarm row;
        if (auto it = before.find(id); it != before.end()) {
            row = std::move(it->second);
            changed = changed || row.takenBy != c->takenBy;
        } else {
            row = FromCentre(*c);
            row.listName = row.kind == AlarmKind::Stranger ? std::string(kStrangerName) : m_station.ListName(c->tel);
            if (row.listName.empty())
                row.listName = c->station;
            // This station's own row: the centre's copy stands in for it.
            const auto local = c->station != thisStation
                                   ? kept.end()
                                   : std::find_if(kept.begin(), kept.end(), [&](const OpenAlarm& a) {
                                         return a.seq != 0 && a.seq == row.seq && a.journal == row.journal;
                                     });
            if (local != kept.end()) {
                row.id = local->id;
                row.openedMs = local->openedMs;
                row.waitedBeforeMs = local->waitedBeforeMs;
                row.listName = local->listName;
                row.acked = local->acked;
                row.ackedBy = local->ackedBy;
                row.ackedAt = local->ackedAt;
                // An escalation begun here goes on from here: the centre was told.
                row.escalatedTo = local->escalatedTo;
                row.tries = local->tries;
                row.heldTold = local->heldTold;
                kept.erase(local);
            } else {
                opened = true;
            }
            changed = true;
        }
        row.takenBy = c->state == "taken" ? c->takenBy : std::string();
        kept.push_back(std::move(row));
    }
    if (!changed)
        return;
    std::stable_sort(kept.begin(), kept.end(), [](const OpenAlarm& x, const OpenAlarm& y) { return x.openedAt < y.openedAt; });
    m_rows = std::move(kept);
    Changed(opened);
    Calmed(calmed);
}

OpenAlarm AlarmDesk::FromCentre(const centre::CentreAlarm& c)
{
    OpenAlarm a;
    a.id = m_nextId++;
    a.kind = AlarmKindOfKey(c.kind).value_or(AlarmKind::Intrusion);
    a.priority = m_priorities.Of(a.kind);
    a.openedAt = c.openedAt;
    a.openedMs = DeskMs();
    a.waitedBeforeMs = MsSince(a.openedAt, m_clock->Now());
    a.tel = c.tel;
    a.shortName = c.shortName;
    a.what = c.event;
    a.journal = c.journal;
    a.seq = static_cast<std::uint64_t>(std::max(0LL, c.seq));
    a.centreId = c.id;
    a.station = c.station;
    return a;
}

void AlarmDesk::EscalateClaimed(const std::vector<centre::CentreAlarm>& claimed)
{
    for (const centre::CentreAlarm& c : claimed) {
        m_claimed.push_back(FromCentre(c));
    }
    // The centre leaves them to this desk now: a crash must not lose them.
    if (m_recording && !claimed.empty())
        StartRecord();
    Escalate();
}

void AlarmDesk::CentreRowClosed(long long centreId, const centre::ClosedRow* row)
{
    // Whether or not the feed has taken the row away already.
    if (row)
        m_station.CentreHandled(*row);
    const auto it = std::find_if(m_rows.begin(), m_rows.end(), [&](const OpenAlarm& a) { return a.centreId == centreId; });
    if (it == m_rows.end())
        return;
    const std::string shortName = it->shortName;
    m_rows.erase(it);
    Changed(false);
    Calmed({shortName});
}

void AlarmDesk::Calmed(std::vector<std::string> devices)
{
    std::sort(devices.begin(), devices.end());
    devices.erase(std::unique(devices.begin(), devices.end()), devices.end());
    // A newer alarm of the device nobody has acknowledged keeps its tile blinking.
    for (const std::string& shortName : devices) {
        if (TrimBlanks(shortName).empty())
            continue;
        const bool waits = std::any_of(m_rows.begin(), m_rows.end(),
                                       [&](const OpenAlarm& a) { return a.shortName == shortName && !a.acked; });
        if (!waits && OnAcknowledged)
            OnAcknowledged(shortName);
    }
}

// ---------------------------------------------------------------- the record

bool AlarmDesk::EscalationDone(const OpenAlarm& a) const
{
    return std::all_of(m_escalation.numbers.begin(), m_escalation.numbers.end(), [&](const std::string& n) {
        const auto t = a.tries.find(n);
        return std::find(a.escalatedTo.begin(), a.escalatedTo.end(), n) != a.escalatedTo.end() ||
               (t != a.tries.end() && t->second.failed >= kEscalationTries);
    });
}

std::string AlarmDesk::RecordText() const
{
    const auto fields = [](const OpenAlarm& a) {
        char time[32];
        std::snprintf(time, sizeof time, "%.9f", a.openedAt);
        std::string reached;
        for (const std::string& n : a.escalatedTo)
            reached += (reached.empty() ? "" : ",") + n;
        return std::string(KindName(a.kind)) + "\t" + time + "\t" + Escape(a.tel) + "\t" + Escape(a.shortName) + "\t" +
               Escape(a.listName) + "\t" + Escape(a.what) + "\t" + Escape(reached);
    };
    std::string out = std::string(kRecordHead) + "\n";
    // Lines an older station does not know, and skips.
    const auto centreLine = [&](const OpenAlarm& a) {
        out += std::string(kCentreLine) + "\t" + fields(a) + "\t" + std::to_string(a.centreId) + "\t" +
               Escape(a.station) + "\t" + a.journal + "\t" + std::to_string(a.seq) + "\n";
    };
    for (const OpenAlarm& a : m_claimed)
        centreLine(a);
    for (const OpenAlarm& a : m_rows) {
        // The centre keeps its own rows, but for an escalation begun here.
        if (a.centreId != 0) {
            if (!a.escalatedTo.empty() && !EscalationDone(a))
                centreLine(a);
            continue;
        }
        out += fields(a) + "\n";
        if (a.seq != 0)
            out += std::string(kRowLine) + "\t" + a.journal + "\t" + std::to_string(a.seq) + "\n";
        // A line of its own after its row: an older station skips it and keeps the row.
        if (a.acked) {
            char time[32];
            std::snprintf(time, sizeof time, "%.9f", a.ackedAt);
            out += std::string(kAckLine) + "\t" + Escape(a.ackedBy) + "\t" + time + "\n";
        }
    }
    return out;
}

void AlarmDesk::StartRecord()
{
    const bool first = !m_recording;
    m_recording = true;
    const std::string text = RecordText();
    AtomicFileWriter file(kRecordFile);
    if (!(file.Open() && file.Write(text.data(), text.size()) && file.Commit()) && first)
        m_station.Techno(Str("Не удалось записать файл "_cp) + kRecordFile +
                             Str(": после сбоя станция не возобновит наблюдение сама"_cp),
                         kRed);
}

void AlarmDesk::EndRecord()
{
    m_recording = false;
    std::remove(kRecordFile);
    SyncFolderOf(kRecordFile);
}

int AlarmDesk::Resume(std::string_view record)
{
    m_station.Journal(status::kAttention, Str("GSM-модем"_cp), std::string(kResumeEvent), m_clock->Now());
    return Restore(record);
}

OpenAlarm AlarmDesk::RecordedRow(AlarmKind kind, double openedAt, const std::vector<std::string_view>& f, double now)
{
    OpenAlarm a;
    a.id = m_nextId++;
    a.kind = kind;
    a.priority = m_priorities.Of(kind);
    a.openedAt = openedAt;
    a.openedMs = DeskMs();
    a.waitedBeforeMs = MsSince(openedAt, now);
    a.tel = Cut(Unescape(f[0]), 50);
    a.shortName = Cut(Unescape(f[1]), 100);
    a.listName = Cut(Unescape(f[2]), 150);
    a.what = Cut(Unescape(f[3]), kEventWidth);
    for (std::string_view n : SplitFields(f[4], ','))
        if (!n.empty())
            a.escalatedTo.push_back(Unescape(n));
    return a;
}

int AlarmDesk::Restore(std::string_view record)
{
    const std::vector<std::string_view> lines = SplitFields(record, '\n');
    if (lines.empty() || lines[0] != kRecordHead)
        return 0;
    int restored = 0;
    const double now = m_clock->Now();
    bool rowBefore = false; // the line before was a row put back: an acknowledgement belongs to it
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string_view> f = SplitFields(lines[i], '\t');
        const bool afterRow = std::exchange(rowBefore, false);
        if (f.size() == 3 && f[0] == kRowLine) {
            const std::optional<double> seq = TextToFloat(f[2]);
            if (afterRow && seq && *seq > 0 && *seq < 1e15 && (f[1] == "main" || f[1] == "ring")) {
                m_rows.back().journal = std::string(f[1]);
                m_rows.back().seq = static_cast<std::uint64_t>(*seq);
            }
            rowBefore = afterRow; // an acknowledgement may follow
            continue;
        }
        if (f.size() == 12 && f[0] == kCentreLine) {
            // Escalated on from here, not shown: the desks' queue shows it.
            const std::optional<AlarmKind> kind = KindOf(f[1]);
            const std::optional<double> time = TextToFloat(f[2]), id = TextToFloat(f[8]), seq = TextToFloat(f[11]);
            if (!kind || !time || !id || *id < 1 || *id > 1e15 || !seq || *seq < 0 || *seq > 1e15 ||
                (f[10] != "main" && f[10] != "ring"))
                continue;
            OpenAlarm a = RecordedRow(*kind, *time, {f.begin() + 3, f.begin() + 8}, now);
            a.centreId = static_cast<long long>(*id);
            a.station = Cut(Unescape(f[9]), 100);
            a.journal = std::string(f[10]);
            a.seq = static_cast<std::uint64_t>(*seq);
            if (std::none_of(m_claimed.begin(), m_claimed.end(), [&](const OpenAlarm& c) { return c.centreId == a.centreId; }))
                m_claimed.push_back(std::move(a));
            continue;
        }
        if (f.size() == 3 && f[0] == kAckLine) {
            const std::optional<double> at = TextToFloat(f[2]);
            if (afterRow && at) {
                OpenAlarm& a = m_rows.back();
                a.acked = true;
                a.ackedBy = Cut(Unescape(f[1]), 100);
                a.ackedAt = *at;
            }
            continue;
        }
        if (f.size() != 7)
            continue;
        const std::optional<AlarmKind> kind = KindOf(f[0]);
        const std::optional<double> time = TextToFloat(f[1]);
        if (!kind || !time)
            continue;
        m_rows.push_back(RecordedRow(*kind, *time, {f.begin() + 2, f.begin() + 7}, now));
        ++restored;
        rowBefore = true;
    }
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [](const OpenAlarm& x, const OpenAlarm& y) { return x.openedAt < y.openedAt; });
    if (restored > 0)
        Changed(true);
    return restored;
}

} // namespace kv
