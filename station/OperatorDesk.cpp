#include "station/OperatorDesk.h"

#include "codec/Number.h"
#include "data/RecordEvent.h"
#include "data/Status.h"
#include "devices/DeviceRegister.h"
#include "modem/DialSchedule.h"
#include "modem/EventTexts.h"
#include "modem/Modem.h"
#include "station/AlarmsWindow.h"
#include "station/JournalSearchWindow.h"
#include "station/StatusBoard.h"
#include "station/mainunit.h"
#include "timing/DateTime.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"
#include "windows/TechnoJournalUnit.h"

#include <QPushButton>

#include <fstream>
#include <sstream>

namespace kv {

using namespace literals;

namespace {

std::string_view KindWord(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::Intrusion: return "Тревога"_cp;
    case AlarmKind::AlarmCall: return "Тревожный вызов"_cp;
    case AlarmKind::Warning: return "Внимание"_cp;
    case AlarmKind::RingRoundFailed:
    case AlarmKind::Silent:
    case AlarmKind::LinkLost: return "Нет связи"_cp;
    case AlarmKind::Stranger: return kStrangerName;
    }
    return "Тревога"_cp;
}

} // namespace

std::string OpenAlarmsList(const std::vector<OpenAlarm>& rows, std::size_t shown)
{
    std::string list;
    for (std::size_t i = 0; i < rows.size() && i < shown; ++i) {
        const OpenAlarm& a = rows[i];
        // A stranger and the modem have no short name: their number says who.
        std::string name(TrimBlanks(a.shortName));
        if (name.empty())
            name = a.kind == AlarmKind::Stranger || a.listName.empty() ? a.tel : a.listName;
        if (!list.empty())
            list += ", ";
        list += name + " (" + std::string(KindWord(a.kind)) + ", " + FixedTimeText(a.openedAt).substr(0, 5) + ")";
    }
    if (rows.size() > shown)
        list += Str(" и ещё "_cp) + std::to_string(rows.size() - shown);
    return list;
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

OperatorDesk::OperatorDesk(StationContext& ctx, TForm1& mainWindow)
    : m_ctx(ctx), m_form(mainWindow), m_desk(*this, RealClock::Instance()), m_contacts(RealClock::Instance()),
      m_alarms(std::make_unique<TAlarmsForm>(m_desk, ctx)),
      m_search(std::make_unique<TJournalSearchForm>(mainWindow.EventsTable, ctx))
{
    m_desk.OnChanged = [this](bool opened) { Changed(opened); };
    // Handled in the list is acknowledged on the board too.
    m_desk.OnAcknowledged = [this](const std::string& shortName) { m_form.StringGrid1->Acknowledge(shortName); };
    m_ctx.MainEventSeen = [this](const std::string& status, const std::string& tel, const std::string& event) {
        m_desk.MainEvent(status, tel, event);
        if (std::string_view(event).substr(0, events::kNewMessage.size()) == events::kNewMessage)
            SignOfLife(tel, ContactKind::Report);
        else if (status == status::kAlarm && event == events::kCallAlarm)
            SignOfLife(tel, ContactKind::Call);
    };
    m_ctx.DialEventSeen = [this](const std::string& status, const std::string& tel, const std::string& event) {
        m_desk.DialEvent(status, tel, event);
        if (status == status::kOnline && event == events::kRingRoundAnswered)
            SignOfLife(tel, ContactKind::RingRound);
    };
    m_ctx.LinkLostSeen = [this] { m_desk.LinkLost(); };
    m_ctx.TileSelected = [this](const std::string& shortName) {
        if (m_ctx.LoggedIn)
            m_desk.AcknowledgeDevice(shortName, m_ctx.Operator);
    };
    m_ctx.OperatorLeaving = [this] { m_desk.LeftOpen(m_ctx.Operator); };
    m_ctx.MonitoringStarted = [this] { m_desk.StartRecord(); };
    m_ctx.JournalsClosing = [this] { m_desk.LeftOpen(m_ctx.Operator); };
    m_ctx.StationClosed = [this] {
        m_timer.stop();
        m_desk.Clear();
        m_desk.EndRecord();
        m_contacts.ForgetSilences();
        m_contacts.Flush();
    };
    m_ctx.ShowAlarms = [this] { m_alarms->ShowCentred(); };
    m_ctx.OpenAlarmsText = [this] { return OpenAlarmsList(m_desk.Rows()); };
    m_ctx.ShowJournalSearch = [this](const std::string& device) { m_search->ShowFor(device); };

    const auto techno = [this](const std::string& text) { Techno(text, kRed); };
    m_contacts.OnSaveFailed = techno;
    m_contacts.Load(kLastContactFile, techno);
    TakeSilentHours();
    m_ctx.BoardRebuilt = [this](const std::vector<DialDevice>& devices) { WatchDevices(devices); };
    m_ctx.LastContactText = [this](const std::string& tel) {
        const std::optional<LastContact> c = m_contacts.Of(tel);
        std::string text = c ? LastContactText(*c) : std::string();
        if (m_contacts.Silent(tel))
            text += (text.empty() ? "" : "; ") + Str("нет связи"_cp);
        if (const std::uint64_t ms = m_contacts.SupervisionMs(tel); ms > 0 && !text.empty())
            text += Str(" (контроль "_cp) + SupervisionText(ms) + ")";
        return text;
    };
    m_form.StringGrid1->DescribeTile = [this](TileFacts& facts) { DescribeTile(facts); };
    // The register was loaded before the desk existed.
    if (m_ctx.RegisterDevices)
        WatchDevices(m_ctx.RegisterDevices());

    // Before anything can start modem 1: its start rewrites the record.
    if (std::ifstream in(AlarmDesk::kRecordFile, std::ios::binary); in) {
        std::ostringstream all;
        all << in.rdbuf();
        m_crashRecord = all.str();
    }

    connect(&m_timer, &QTimer::timeout, this, &OperatorDesk::Tick);
    m_timer.start(1000);
    UpdateButton();
}

OperatorDesk::~OperatorDesk()
{
    m_timer.stop();
    StationContext& c = m_ctx;
    c.MainEventSeen = nullptr;
    c.DialEventSeen = nullptr;
    c.LinkLostSeen = nullptr;
    c.TileSelected = nullptr;
    c.OperatorLeaving = nullptr;
    c.MonitoringStarted = nullptr;
    c.JournalsClosing = nullptr;
    c.StationClosed = nullptr;
    c.ShowAlarms = nullptr;
    c.OpenAlarmsText = nullptr;
    c.ShowJournalSearch = nullptr;
    c.BoardRebuilt = nullptr;
    c.LastContactText = nullptr;
    m_form.StringGrid1->DescribeTile = nullptr;
    m_contacts.Flush();
    c.AlarmsOpen = false;
    c.AlarmsUnacknowledged = false;
    m_desk.OnChanged = nullptr;
    m_desk.OnAcknowledged = nullptr;
}

std::optional<std::string> OperatorDesk::TakeCrashRecord()
{
    std::optional<std::string> record;
    record.swap(m_crashRecord);
    return record;
}

void OperatorDesk::Tick()
{
    if (m_ctx.EscalationSettings) {
        const auto [minutes, numbers] = m_ctx.EscalationSettings();
        m_desk.SetEscalation(minutes, numbers);
    }
    m_desk.Tick();
    TakeSilentHours();
    CheckContacts();
    if (m_alarms->isVisible())
        m_alarms->UpdateWaits();
    UpdateButton();
}

void OperatorDesk::TakeSilentHours()
{
    if (!m_ctx.SilentHoursSetting)
        return;
    std::string text = m_ctx.SilentHoursSetting();
    // Parsed, and a problem told, once per change.
    if (m_silentHoursText && *m_silentHoursText == text)
        return;
    std::string problem;
    m_contacts.SetSilentHours(ParseSilentHours(text, problem));
    if (!problem.empty())
        Techno(problem, kRed);
    m_silentHoursText = std::move(text);
}

void OperatorDesk::SignOfLife(const std::string& tel, ContactKind kind)
{
    const bool wasSilent = m_contacts.Heard(tel, kind);
    // After the journal row's own refresh of the card, which came before this.
    if (m_ctx.LastContactChanged)
        m_ctx.LastContactChanged();
    if (!wasSilent)
        return;
    m_desk.DeviceHeard(tel);
    m_form.StringGrid1->SetSilent(m_contacts.SilentNames());
}

void OperatorDesk::WatchDevices(const std::vector<DialDevice>& devices)
{
    std::vector<ContactWatch::Device> watched;
    watched.reserve(devices.size());
    for (const DialDevice& d : devices)
        watched.push_back({d.simcard, d.simplename, d.dialenable, DialSchedule::IntervalMinutes(d.dialtime)});
    m_contacts.SetDevices(watched);
    m_form.StringGrid1->SetSilent(m_contacts.SilentNames());
}

void OperatorDesk::CheckContacts()
{
    m_contacts.SetRunning(m_ctx.Modem1 && m_ctx.Modem1->Running, m_ctx.Modem2 && m_ctx.Modem2->Running);
    const std::vector<std::string> silent = m_contacts.Check();
    for (const std::string& tel : silent) {
        const std::optional<LastContact> c = m_contacts.Of(tel);
        // Journalled: the stored time format, whatever the desktop's.
        std::string detail = c && c->at != 0 ? Str("последняя связь "_cp) + FixedDateTimeText(c->at) + " (" +
                                                   std::string(ContactWords(c->kind)) + ")"
                                             : Str("с начала наблюдения связи не было"_cp);
        detail += Str(", контроль "_cp) + SupervisionText(m_contacts.SupervisionMs(tel));
        m_desk.DeviceSilent(tel, detail);
    }
    if (!silent.empty()) {
        m_form.StringGrid1->SetSilent(m_contacts.SilentNames());
        // The card on show tells it too.
        if (m_ctx.LastContactChanged)
            m_ctx.LastContactChanged();
    }
    m_contacts.SaveIfDue();
}

void OperatorDesk::DescribeTile(TileFacts& facts)
{
    if (!m_ctx.Register)
        return;
    facts.tel = m_ctx.Register->FindNumberByShortName(facts.shortName, {});
    if (facts.tel.empty())
        return;
    facts.listName = m_ctx.Register->FindListNameByNumber(facts.tel);
    if (m_ctx.LastEventOf && !m_ctx.LastEventOf(facts.tel, facts.eventAt, facts.eventStatus, facts.eventText))
        facts.eventAt = 0;
    if (const std::optional<LastContact> c = m_contacts.Of(facts.tel))
        facts.lastContact = LastContactText(*c);
    facts.supervision = SupervisionText(m_contacts.SupervisionMs(facts.tel));
}

void OperatorDesk::Changed(bool opened)
{
    m_ctx.AlarmsOpen = m_desk.AnyOpen();
    m_ctx.AlarmsUnacknowledged = m_desk.AnyUnacknowledged();
    std::vector<std::string> devices;
    for (const OpenAlarm& a : m_desk.Rows())
        devices.push_back(a.shortName);
    m_form.StringGrid1->SetOpenRows(devices);
    m_alarms->Refresh();
    // Every new alarm brings the list up, also one open but minimised or under
    // another window.
    if (opened)
        m_alarms->PopUp();
    UpdateButton();
}

void OperatorDesk::UpdateButton()
{
    const std::size_t open = m_desk.Rows().size();
    QPushButton* button = m_form.AlarmsButton;
    button->setVisible(m_ctx.LoggedIn || open > 0);
    const QString caption = open > 0 ? ToQ("Тревоги ("_cp) + QString::number(open) + ")" : ToQ("Тревоги"_cp);
    if (button->text() == caption)
        return;
    button->setText(caption);
    button->setStyleSheet(open > 0 ? QStringLiteral("color: rgb(255, 0, 0); font-weight: bold;") : QString());
}

// ---------------------------------------------------------------- the station for the desk

void OperatorDesk::Journal(std::string_view status, const std::string& tel, const std::string& event, double now)
{
    if (!m_ctx.EventsTable)
        return;
    ShortNameLookup lookup;
    if (m_ctx.Register)
        lookup = [&reg = *m_ctx.Register](const std::string& number) { return reg.FindShortNameByNumber(number, {}); };
    try {
        RecordEvent(*m_ctx.EventsTable, status, tel, event, lookup, now);
    } catch (const std::exception& e) {
        Techno(Str("Не удалось записать событие в журнал: "_cp) + e.what(), kRed);
    }
}

void OperatorDesk::Techno(const std::string& text, Rgb colour)
{
    if (m_ctx.TechnoJournalForm)
        m_ctx.TechnoJournalForm->AppendTechnoLine(text, colour);
}

bool OperatorDesk::SendSms(const std::string& number, const std::string& text, const std::string& oneSmsText,
                           std::function<void(bool)> outcome)
{
    return m_ctx.SendUcs2Sms && m_ctx.SendUcs2Sms(number, text, oneSmsText, std::move(outcome));
}

bool OperatorDesk::Modem1Running() { return m_ctx.Modem1 && m_ctx.Modem1->Running; }

std::string OperatorDesk::ShortName(const std::string& tel)
{
    if (!m_ctx.Register)
        return {};
    std::string name = m_ctx.Register->FindShortNameByNumber(tel, {});
    // Eight blanks: a number that is no device's.
    return name.find_first_not_of(' ') == std::string::npos ? std::string() : name;
}

std::string OperatorDesk::ListName(const std::string& tel)
{
    return m_ctx.Register ? m_ctx.Register->FindListNameByNumber(tel) : std::string();
}

} // namespace kv
