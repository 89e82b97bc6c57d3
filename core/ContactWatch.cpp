#include "core/ContactWatch.h"

#include "codec/Number.h"
#include "data/AtomicFile.h"
#include "data/Text.h"
#include "timing/DateTime.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

namespace kv {

using namespace literals;

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
    const std::string text = all.str();
    const ParsedContacts parsed = ParseLastContacts(text);
    if (parsed.ours)
        m_contacts = parsed.contacts;
    if (parsed.ours && parsed.damaged == 0)
        return;
    // An empty file holds nothing to keep.
    if (!text.empty())
        KeepAside(fileName, ".damaged");
    // What could be read is written back whole at the next save.
    m_dirty = true;
    if (problem)
        problem(Str("Файл последней связи "_cp) + fileName +
                (parsed.ours ? Str(" повреждён: строк не прочитано "_cp) + std::to_string(parsed.damaged)
                             : Str(" повреждён и не прочитан"_cp)) +
                (text.empty() ? std::string() : Str("; он отложен как "_cp) + fileName + ".damaged"));
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

double ParseSilentHours(const std::string& text, std::string& problem)
{
    const std::string hours(TrimBlanks(text));
    if (hours.empty())
        return 0;
    const std::optional<double> value = TextToFloat(hours);
    // Beyond a year is a slip, and would overflow the wait in milliseconds.
    const std::string where = Str(" (КОНТРОЛЬ СВЯЗИ в окне модема, SilentHours в config.ini)"_cp);
    if (!value || *value < 0) {
        problem = Str("Контроль связи по времени выключен: \""_cp) + hours + Str("\" не является числом часов"_cp) + where;
        return 0;
    }
    if (*value > 366.0 * 24) {
        problem = Str("Контроль связи по времени выключен: \""_cp) + hours + Str("\" больше года"_cp) + where;
        return 0;
    }
    return *value;
}

} // namespace kv
