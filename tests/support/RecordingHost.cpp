#include "tests/support/RecordingHost.h"

#include <cstdio>
#include <stdexcept>

namespace kv::test {

namespace {

std::string Number(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

const char* SoundName(Sound s)
{
    switch (s) {
    case Sound::Alarm: return "Alarm";
    case Sound::On: return "On";
    case Sound::Off: return "Off";
    case Sound::SmsInfo: return "SmsInfo";
    case Sound::Urgent: return "Urgent";
    case Sound::Trouble: return "Trouble";
    }
    return "?";
}

} // namespace

void RecordingHost::AddDevice(std::string number, std::string shortName)
{
    std::lock_guard lock(m_lock);
    m_devices.emplace_back(std::move(number), std::move(shortName));
}

void RecordingHost::SetBalanceNumberText(std::string text)
{
    std::lock_guard lock(m_lock);
    m_balanceNumber = std::move(text);
}

void RecordingHost::FailNext(std::string kind)
{
    std::lock_guard lock(m_lock);
    m_failNext.insert(std::move(kind));
}

std::vector<TechnoLine> RecordingHost::Techno() const
{
    std::lock_guard lock(m_lock);
    return m_techno;
}

std::vector<EventRow> RecordingHost::Events() const
{
    std::lock_guard lock(m_lock);
    return m_events;
}

std::vector<EventRow> RecordingHost::DialEvents() const
{
    std::lock_guard lock(m_lock);
    return m_dialEvents;
}

std::string RecordingHost::ColourName(Rgb c)
{
    if (c == kRed)
        return "red";
    if (c == kGreen)
        return "green";
    if (c == kBlue)
        return "blue";
    if (c == kNavy)
        return "navy";
    if (c == kOrange)
        return "orange";
    return "rgb(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

void RecordingHost::Record(const std::string& kind, const std::string& payload, bool hasPayload)
{
    {
        std::lock_guard lock(m_lock);
        const auto it = m_failNext.find(kind);
        if (it != m_failNext.end()) {
            m_failNext.erase(it);
            throw std::runtime_error("recording host: " + kind + " failed on request");
        }
    }
    m_log->Add(hasPayload ? kind + " " + payload : kind);
}

void RecordingHost::SetJournalWrite(std::optional<JournalWrite> result)
{
    std::lock_guard lock(m_lock);
    m_journalWrite = result;
}

void RecordingHost::SettlePending()
{
    std::lock_guard lock(m_lock);
    for (auto& [tag, state] : m_tags)
        if (state == JournalState::Pending)
            state = JournalState::Durable;
}

void RecordingHost::WriteEvent(const std::string& status, const std::string& tel, const std::string& event)
{
    Record("event", status + " | " + tel + " | " + event);
    std::lock_guard lock(m_lock);
    m_events.push_back({status, tel, event});
}

JournalWrite RecordingHost::HandOver(const Report& report, const std::string& tag)
{
    {
        std::lock_guard lock(m_lock);
        m_reports.push_back(report);
    }
    auto part = [](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const std::exception&) {
        }
    };
    for (const auto& line : report.techno)
        part([&] { WriteTechno(line.first, line.second); });
    part([&] { Record("guard", report.shortName + " " + std::to_string(report.guard)); });
    part([&] { Record("info", report.shortName + " " + std::to_string(report.info)); });
    if (report.info == kInfoWarning)
        part([&] { Record("alarmmark", report.shortName); });
    const std::string& status = report.status;
    const std::string& tel = report.tel;
    const std::string& event = report.event;
    if (report.source == Report::Source::Call) {
        WriteEvent(status, tel, event);
        return JournalWrite::Written;
    }
    std::optional<JournalWrite> result;
    {
        std::lock_guard lock(m_lock);
        result = m_journalWrite;
    }
    if (!result) {
        // The row never reached the journal.
        Record("eventfailed", status + " | " + tel + " | " + event);
        throw std::runtime_error("recording host: the journal failed on request");
    }
    WriteEvent(status, tel, event);
    if (*result == JournalWrite::Durable)
        Record("synced", "", false);
    std::lock_guard lock(m_lock);
    if (!tag.empty())
        m_tags[tag] = *result == JournalWrite::Durable ? JournalState::Durable : JournalState::Pending;
    return *result;
}

JournalState RecordingHost::JournalStateOf(const std::string& tag)
{
    std::lock_guard lock(m_lock);
    const auto it = m_tags.find(tag);
    return it == m_tags.end() ? JournalState::Unknown : it->second;
}

void RecordingHost::ForgetJournalTag(const std::string& tag)
{
    std::lock_guard lock(m_lock);
    m_tags.erase(tag);
}

void RecordingHost::WriteDialEvent(const std::string& status, const std::string& tel, const std::string& event,
                                   RingOutcome outcome)
{
    Record("dialevent", status + " | " + tel + " | " + event);
    {
        std::lock_guard lock(m_lock);
        m_dialEvents.push_back({status, tel, event});
    }
    if (outcome == RingOutcome::Failed)
        Record("info", FindShortNameByNumber(tel, std::string()) + " " + std::to_string(kInfoWarning));
}

std::vector<Report> RecordingHost::Reports() const
{
    std::lock_guard lock(m_lock);
    return m_reports;
}

void RecordingHost::WriteTechno(const std::string& text, Rgb colour)
{
    Record("techno", ColourName(colour) + " " + text);
    std::lock_guard lock(m_lock);
    m_techno.push_back({text, colour});
}

void RecordingHost::ShowSignalLevel(double level) { Record("signal", Number(level)); }
void RecordingHost::ShowSignalLevel2(double level) { Record("signal2", Number(level)); }

std::string RecordingHost::FindShortNameByNumber(const std::string& number, const std::string& initial)
{
    Record("findname", number);
    std::lock_guard lock(m_lock);
    if (m_devices.empty())
        return initial;
    for (const auto& [num, name] : m_devices)
        if (num == number)
            return name;
    return "        ";
}

std::string RecordingHost::FindNumberByShortName(const std::string& shortName, const std::string& initial)
{
    Record("findnumber", shortName);
    std::lock_guard lock(m_lock);
    for (const auto& [num, name] : m_devices)
        if (name == shortName)
            return num;
    return initial;
}

void RecordingHost::SetCommandButtonsEnabled(bool enabled) { Record("buttons", enabled ? "on" : "off"); }
void RecordingHost::SetStatusEdit(const std::string& number, const std::string& text)
{
    Record("statusedit", number.empty() ? text : number + " | " + text);
}
void RecordingHost::SetLinkText(const std::string& text) { Record("linktext", text); }
void RecordingHost::AddBalanceLine(const std::string& text) { Record("balance", text); }

std::string RecordingHost::BalanceNumber()
{
    Record("balancenumber", "", false);
    std::lock_guard lock(m_lock);
    return m_balanceNumber;
}

void RecordingHost::SetDialStatus(const std::string& text) { Record("dialstatus", text); }
void RecordingHost::SetDialNumber(const std::string& text) { Record("dialnumber", text); }
void RecordingHost::ShowLinkLost() { Record("linklost", "", false); }
void RecordingHost::LinkRestored() { Record("linkrestored", "", false); }
void RecordingHost::ShowWarning(const std::string& text) { Record("warning", text); }
void RecordingHost::PlaySound(Sound sound) { Record("sound", SoundName(sound)); }

} // namespace kv::test
