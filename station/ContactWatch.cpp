#include "station/ContactWatch.h"

#include "data/AtomicFile.h"
#include "data/Text.h"
#include "timing/DateTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace kv {

namespace {

constexpr std::string_view kSection = "[LastContact]";
constexpr std::string_view kSilentFlag = "silent";

const char* KindToken(ContactKind kind)
{
    switch (kind) {
    case ContactKind::Report: return "report";
    case ContactKind::Call: return "call";
    case ContactKind::RingRound: return "ring";
    }
    return "report";
}

std::optional<ContactKind> KindOfToken(std::string_view token)
{
    for (ContactKind k : {ContactKind::Report, ContactKind::Call, ContactKind::RingRound})
        if (token == KindToken(k))
            return k;
    return std::nullopt;
}

// An INI key holds no line break, "=", ";" or section brackets, and its blanks
// would be trimmed away.
bool NeedsEscape(unsigned char c) { return c <= ' ' || c == '=' || c == ';' || c == '%' || c == '[' || c == ']' || c == 0x7F; }

std::string EscapeKey(std::string_view key)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : key) {
        const auto c = static_cast<unsigned char>(ch);
        if (NeedsEscape(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> UnescapeKey(std::string_view key)
{
    std::string out;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key[i] != '%') {
            if (NeedsEscape(static_cast<unsigned char>(key[i])))
                return std::nullopt;
            out += key[i];
            continue;
        }
        if (i + 2 >= key.size())
            return std::nullopt;
        const int hi = HexDigit(key[i + 1]);
        const int lo = HexDigit(key[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

// "dd.mm.yyyy hh:mm:ss", as every stored text of the station.
std::optional<double> ParseFixedDateTime(std::string_view s)
{
    if (s.size() != 19 || s[2] != '.' || s[5] != '.' || s[10] != ' ' || s[13] != ':' || s[16] != ':')
        return std::nullopt;
    const auto number = [&](std::size_t at, std::size_t n) -> int {
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9')
                return -1;
            v = v * 10 + (s[i] - '0');
        }
        return v;
    };
    DateTimeParts p;
    p.day = number(0, 2);
    p.month = number(3, 2);
    p.year = number(6, 4);
    p.hour = number(11, 2);
    p.minute = number(14, 2);
    p.second = number(17, 2);
    if (p.day < 1 || p.day > 31 || p.month < 1 || p.month > 12 || p.year < 1900 || p.hour < 0 || p.hour > 23 ||
        p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59)
        return std::nullopt;
    const double value = EncodeDateTime(p);
    // A day the month does not have ("31.02") comes back as another date.
    const DateTimeParts back = DecodeDateTime(value);
    if (back.day != p.day || back.month != p.month || back.year != p.year)
        return std::nullopt;
    return value;
}

std::vector<std::string_view> Fields(std::string_view s, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = s.find(separator);
        parts.push_back(s.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        s.remove_prefix(at + 1);
    }
}

} // namespace

std::string_view ContactWords(ContactKind kind)
{
    switch (kind) {
    case ContactKind::Report: return "сообщение"_cp;
    case ContactKind::Call: return "вызов"_cp;
    case ContactKind::RingRound: return "обзвон"_cp;
    }
    return {};
}

std::string LastContactText(const LastContact& contact)
{
    if (contact.at == 0)
        return {};
    return FormatDateTime(contact.at) + ", " + std::string(ContactWords(contact.kind));
}

std::string SupervisionText(std::uint64_t ms)
{
    if (ms == 0)
        return Str("выключен"_cp);
    const std::uint64_t minutes = (ms + 59999) / 60000;
    const std::uint64_t hours = minutes / 60;
    std::string text;
    if (hours > 0)
        text = std::to_string(hours) + Str(" ч"_cp);
    if (minutes % 60 != 0)
        text += (text.empty() ? "" : " ") + std::to_string(minutes % 60) + Str(" мин"_cp);
    return text;
}

std::string LastContactsText(const LastContacts& contacts)
{
    std::string out = std::string(kSection) + "\r\n";
    for (const auto& [tel, c] : contacts) {
        if (tel.empty())
            continue;
        out += EscapeKey(tel) + "=";
        if (c.at != 0)
            out += FixedDateTimeText(c.at) + ";" + KindToken(c.kind);
        else
            out += ";";
        if (c.silent)
            out += ";" + std::string(kSilentFlag);
        out += "\r\n";
    }
    return out;
}

ParsedContacts ParseLastContacts(std::string_view text)
{
    ParsedContacts parsed;
    bool inSection = false;
    for (std::string_view line : Fields(text, '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = TrimBlanks(line);
        if (line.empty())
            continue;
        if (line.front() == '[') {
            inSection = line == kSection;
            parsed.ours = parsed.ours || inSection;
            if (!inSection)
                ++parsed.damaged;
            continue;
        }
        if (!inSection) {
            ++parsed.damaged;
            continue;
        }
        const std::size_t eq = line.find('=');
        const std::optional<std::string> tel =
            eq == std::string_view::npos ? std::nullopt : UnescapeKey(TrimBlanks(line.substr(0, eq)));
        if (!tel || tel->empty()) {
            ++parsed.damaged;
            continue;
        }
        const std::vector<std::string_view> f = Fields(TrimBlanks(line.substr(eq + 1)), ';');
        LastContact c;
        bool good = f.size() == 2 || (f.size() == 3 && f[2] == kSilentFlag);
        if (good && !(f[0].empty() && f[1].empty())) {
            const std::optional<double> at = ParseFixedDateTime(f[0]);
            const std::optional<ContactKind> kind = KindOfToken(f[1]);
            good = at && kind;
            if (good) {
                c.at = *at;
                c.kind = *kind;
            }
        }
        c.silent = f.size() == 3;
        // A device never heard is only worth a line when it went silent.
        if (good && c.at == 0 && !c.silent)
            good = false;
        if (!good) {
            ++parsed.damaged;
            continue;
        }
        parsed.contacts[*tel] = c;
    }
    return parsed;
}

// ---------------------------------------------------------------- the watch

ContactWatch::ContactWatch(IClock& clock) : m_clock(&clock), m_clockStart(clock.MonotonicMs()) {}

std::uint64_t ContactWatch::NowMs() const { return m_clockBase + (m_clock->MonotonicMs() - m_clockStart); }

void ContactWatch::SetClock(IClock& clock)
{
    m_clockBase = NowMs();
    m_clock = &clock;
    m_clockStart = clock.MonotonicMs();
}

std::uint64_t ContactWatch::Rule(const Device& d) const
{
    double ms = 0;
    if (d.ringRound && m_ringRoundRunning && d.intervalMinutes > 0)
        ms = 2 * d.intervalMinutes * 60000.0;
    else if (m_reportsRunning && m_silentHours > 0)
        ms = m_silentHours * 3600000.0;
    if (ms <= 0)
        return 0;
    // An interval of a year or more is a slip: the year holds.
    return std::clamp<std::uint64_t>(static_cast<std::uint64_t>(std::llround(std::min(ms, 366.0 * 86400000))),
                                     kMinSupervisionMs, 366ull * 86400000);
}

void ContactWatch::ApplyRules()
{
    const std::uint64_t now = NowMs();
    for (const Device& d : m_devices) {
        Watch& w = m_watch[d.tel];
        const std::uint64_t rule = Rule(d);
        if (w.supervisionMs != rule || !w.ruled) {
            w.ruled = true;
            w.supervisionMs = rule;
            w.sinceMs = now;
        }
    }
}

void ContactWatch::SetDevices(const std::vector<Device>& devices)
{
    std::vector<Device> kept;
    std::set<std::string> seen;
    for (const Device& d : devices)
        if (!TrimBlanks(d.tel).empty() && seen.insert(d.tel).second)
            kept.push_back(d);
    m_devices = std::move(kept);
    for (auto it = m_watch.begin(); it != m_watch.end();)
        it = seen.count(it->first) ? std::next(it) : m_watch.erase(it);
    ApplyRules();
}

void ContactWatch::SetRunning(bool reports, bool ringRound)
{
    if (reports == m_reportsRunning && ringRound == m_ringRoundRunning)
        return;
    m_reportsRunning = reports;
    m_ringRoundRunning = ringRound;
    ApplyRules();
}

void ContactWatch::SetSilentHours(double hours)
{
    // Beyond a year is a slip, and would overflow the milliseconds.
    if (!(hours > 0) || hours > 366.0 * 24)
        hours = 0;
    if (hours == m_silentHours)
        return;
    m_silentHours = hours;
    ApplyRules();
}

bool ContactWatch::Heard(const std::string& tel, ContactKind kind)
{
    const auto w = m_watch.find(tel);
    if (w == m_watch.end())
        return false;
    w->second.heardMs = NowMs();
    LastContact& c = m_contacts[tel];
    const bool wasSilent = c.silent;
    c = {m_clock->Now(), kind, false};
    m_dirty = true;
    return wasSilent;
}

std::vector<std::string> ContactWatch::Check()
{
    std::vector<std::string> silent;
    const std::uint64_t now = NowMs();
    for (const Device& d : m_devices) {
        const Watch& w = m_watch[d.tel];
        if (w.supervisionMs == 0)
            continue;
        const auto c = m_contacts.find(d.tel);
        if (c != m_contacts.end() && c->second.silent)
            continue;
        const std::uint64_t since = std::max(w.sinceMs, w.heardMs.value_or(0));
        if (now < since || now - since < w.supervisionMs)
            continue;
        m_contacts[d.tel].silent = true;
        m_dirty = true;
        silent.push_back(d.tel);
    }
    return silent;
}

std::optional<LastContact> ContactWatch::Of(const std::string& tel) const
{
    const auto c = m_contacts.find(tel);
    if (c == m_contacts.end())
        return std::nullopt;
    return c->second;
}

bool ContactWatch::Silent(const std::string& tel) const
{
    const auto c = m_contacts.find(tel);
    return c != m_contacts.end() && c->second.silent;
}

std::vector<std::string> ContactWatch::SilentNames() const
{
    std::vector<std::string> names;
    for (const Device& d : m_devices)
        if (Silent(d.tel))
            names.push_back(d.shortName);
    return names;
}

std::uint64_t ContactWatch::SupervisionMs(const std::string& tel) const
{
    const auto w = m_watch.find(tel);
    return w == m_watch.end() ? 0 : w->second.supervisionMs;
}

// ---------------------------------------------------------------- the file

void ContactWatch::Load(const std::string& fileName, const std::function<void(const std::string&)>& problem)
{
    m_fileName = fileName;
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return;
    std::ostringstream all;
    all << in.rdbuf();
    in.close();
    const ParsedContacts parsed = ParseLastContacts(all.str());
    if (parsed.ours)
        m_contacts = parsed.contacts;
    if (parsed.ours && parsed.damaged == 0)
        return;
    KeepAside(fileName, ".damaged");
    // What could be read is written back whole at the next save.
    m_dirty = true;
    if (problem)
        problem(Str("Файл последней связи "_cp) + fileName +
                (parsed.ours ? Str(" повреждён: строк не прочитано "_cp) + std::to_string(parsed.damaged)
                             : Str(" повреждён и не прочитан"_cp)) +
                Str("; он отложен как "_cp) + fileName + ".damaged");
}

void ContactWatch::ForgetSilences()
{
    for (auto it = m_contacts.begin(); it != m_contacts.end();) {
        if (!it->second.silent) {
            ++it;
            continue;
        }
        m_dirty = true;
        it->second.silent = false;
        // A device never heard is kept only for its silence.
        it = it->second.at == 0 ? m_contacts.erase(it) : std::next(it);
    }
}

void ContactWatch::SaveIfDue()
{
    if (!m_dirty || m_fileName.empty())
        return;
    if (m_savedMs && NowMs() - *m_savedMs < kSaveEveryMs)
        return;
    Flush();
}

bool ContactWatch::Flush()
{
    if (!m_dirty || m_fileName.empty())
        return true;
    m_savedMs = NowMs();
    const std::string text = LastContactsText(m_contacts);
    AtomicFileWriter file(m_fileName);
    const bool saved = file.Open() && file.Write(text.data(), text.size()) && file.Commit();
    if (saved) {
        m_dirty = false;
        m_saveFailed = false;
        return true;
    }
    if (!m_saveFailed && OnSaveFailed)
        OnSaveFailed(Str("Не удалось записать файл последней связи "_cp) + m_fileName);
    m_saveFailed = true;
    return false;
}

} // namespace kv
