#include "station/StationHost.h"

#include "data/RecordEvent.h"
#include "devices/DeviceRegister.h"
#include "modem/SignalLevel.h"
#include "station/StatusBoard.h"
#include "station/mainunit.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"
#include "windows/AppPaths.h"
#include "windows/Dialogs.h"
#include "windows/ModemLinkUnit.h"
#include "windows/QtText.h"
#include "windows/SoundPlayer.h"
#include "windows/StationContext.h"
#include "windows/TechnoJournalUnit.h"

#include <QLabel>

#include <chrono>
#include <cstdio>

namespace kv {

namespace {

// A control of a window that may not exist yet is reached through the
// context; unset, the call does nothing.
template <class Fn, class... Args>
void CallOnUi(const Fn& fn, const Args&... args)
{
    Synchronize([&] {
        if (fn)
            fn(args...);
    });
}

QPixmap SignalPicture(double level)
{
    const std::string_view file = SignalIconFile(level);
    if (file.empty())
        return {};
    return QPixmap(ProgramFile(QString::fromLatin1(file.data(), static_cast<qsizetype>(file.size()))));
}

ShortNameLookup RegisterLookup(StationContext& ctx)
{
    if (!ctx.Register)
        return {};
    return [&reg = *ctx.Register](const std::string& tel) { return reg.FindShortNameByNumber(tel, std::string()); };
}

void Record(StationContext& ctx, MemTable* journal, const std::string& status, const std::string& tel,
            const std::string& event)
{
    if (journal)
        RecordEvent(*journal, status, tel, event, RegisterLookup(ctx), LocalNow());
}

} // namespace

std::string FormatSignalLevel(double level)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", level);
    std::string s(text);
    // Whatever the C library's numeric locale: the station writes a point.
    for (char& c : s)
        if (c == ',')
            c = '.';
    return s;
}

void StationHost::WriteEvent(const std::string& status, const std::string& tel, const std::string& event)
{
    Synchronize([&] {
        Record(m_ctx, m_ctx.EventsTable, status, tel, event);
        if (m_ctx.MainEventSeen)
            m_ctx.MainEventSeen(status, tel, event);
    });
}

JournalWrite StationHost::WriteDurableEvent(const std::string& status, const std::string& tel,
                                            const std::string& event, const std::string& tag)
{
    // A sync is a few milliseconds; this bounds a disk that has stopped
    // answering. A failing one ends the wait at its next failure.
    constexpr std::chrono::seconds kSyncLimit{10};
    DurableJournal* log = nullptr;
    std::uint64_t seq = 0;
    // Posted as WriteEvent posts every row of the workers, with the tag on its entry.
    const bool ran = Synchronize([&] {
        const auto post = [&] {
            Record(m_ctx, m_ctx.EventsTable, status, tel, event);
            if (m_ctx.MainEventSeen)
                m_ctx.MainEventSeen(status, tel, event);
        };
        log = m_form.EventsLog.get();
        if (log)
            seq = log->PostTagged(tag, post);
        else
            post();
    });
    if (!ran || !log || seq == 0)
        return JournalWrite::Written;
    // Waited for here, on the worker's thread: the UI thread goes on meanwhile.
    return log->WaitDurable(seq, kSyncLimit) ? JournalWrite::Durable : JournalWrite::Written;
}

JournalState StationHost::JournalStateOf(const std::string& tag)
{
    JournalState state = JournalState::Unknown;
    Synchronize([&] {
        if (!m_form.EventsLog)
            return;
        switch (m_form.EventsLog->StateOf(tag)) {
        case DurableJournal::TagState::Durable: state = JournalState::Durable; break;
        case DurableJournal::TagState::Pending: state = JournalState::Pending; break;
        case DurableJournal::TagState::Unknown: break;
        }
    });
    return state;
}

void StationHost::ForgetJournalTag(const std::string& tag)
{
    Synchronize([&] {
        if (m_form.EventsLog)
            m_form.EventsLog->ForgetTag(tag);
    });
}

void StationHost::WriteDialEvent(const std::string& status, const std::string& tel, const std::string& event)
{
    Synchronize([&] {
        Record(m_ctx, m_ctx.DialEventsTable, status, tel, event);
        if (m_ctx.DialEventSeen)
            m_ctx.DialEventSeen(status, tel, event);
    });
}

void StationHost::WriteTechno(const std::string& text, Rgb colour)
{
    Synchronize([&] {
        if (m_ctx.TechnoJournalForm)
            m_ctx.TechnoJournalForm->AppendTechnoLine(text, colour);
    });
}

void StationHost::ShowSignalLevel(double level)
{
    Synchronize([&] {
        if (m_ctx.SetSignalText1)
            m_ctx.SetSignalText1(FormatSignalLevel(level));
        m_form.Image1->setPixmap(SignalPicture(level));
    });
}

void StationHost::ShowSignalLevel2(double level)
{
    Synchronize([&] {
        if (m_ctx.SetSignalText2)
            m_ctx.SetSignalText2(FormatSignalLevel(level));
        m_form.Image3->setPixmap(SignalPicture(level));
    });
}

// On the worker's own thread: the register publishes what it looks up in.
std::string StationHost::FindShortNameByNumber(const std::string& number, const std::string& initial)
{
    return m_ctx.Register ? m_ctx.Register->FindShortNameByNumber(number, initial) : initial;
}

std::string StationHost::FindNumberByShortName(const std::string& shortName, const std::string& initial)
{
    return m_ctx.Register ? m_ctx.Register->FindNumberByShortName(shortName, initial) : initial;
}

void StationHost::SetGuardState(const std::string& shortName, std::uint8_t code) { m_form.SetGuardState(shortName, code); }

void StationHost::SetInfoState(const std::string& shortName, std::uint8_t code) { m_form.SetInfoState(shortName, code); }

void StationHost::SetAlarmMark(const std::string& shortName) { m_form.StringGrid1->SetAlarmMark(shortName); }

void StationHost::SetCommandButtonsEnabled(bool enabled)
{
    CallOnUi(m_ctx.SetCommandButtonsEnabled, enabled);
}

void StationHost::SetStatusEdit(const std::string& number, const std::string& text)
{
    CallOnUi(m_ctx.SetStatusEdit, number, text);
}

void StationHost::SetLinkText(const std::string& text)
{
    CallOnUi(m_ctx.SetLinkText, text);
}

void StationHost::AddBalanceLine(const std::string& text)
{
    CallOnUi(m_ctx.AddBalanceLine, text);
}

std::string StationHost::BalanceNumber()
{
    std::string number;
    Synchronize([&] {
        if (m_ctx.BalanceNumber)
            number = m_ctx.BalanceNumber();
    });
    return number;
}

void StationHost::SetDialStatus(const std::string& text)
{
    Synchronize([&] { m_form.DialStatus->setText(ToQ(text)); });
}

void StationHost::SetDialNumber(const std::string& text)
{
    Synchronize([&] { m_form.DialNumber->setText(ToQ(text)); });
}

void StationHost::ShowLinkLost()
{
    Synchronize([&] {
        // A device command under way will get no confirmation now.
        if (m_ctx.SetCommandButtonsEnabled)
            m_ctx.SetCommandButtonsEnabled(true);
        PlayStationSound(Sound::Alarm);
        if (m_ctx.LinkErrorForm)
            m_ctx.LinkErrorForm->ShowAlert();
        if (m_ctx.LinkLostSeen)
            m_ctx.LinkLostSeen();
    });
}

void StationHost::ShowWarning(const std::string& text)
{
    Synchronize([&] { kv::ShowWarning(text, m_form.isVisible() ? &m_form : nullptr); });
}

void StationHost::PlaySound(Sound sound) { PlayStationSound(sound); }

} // namespace kv
