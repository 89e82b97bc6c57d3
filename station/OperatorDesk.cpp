#include "station/OperatorDesk.h"

#include "core/StationCore.h"

#include "centre/Settings.h"
#include "centre/Utf8.h"
#include "data/TileStates.h"
#include "station/CentreEventsWindow.h"

#include "codec/Number.h"
#include "data/IniFile.h"
#include "devicecard/DeviceWindow.h"
#include "devices/DeviceRegister.h"
#include "modemsetup/ModemWindow.h"
#include "station/AlarmsWindow.h"
#include "station/JournalBanner.h"
#include "station/JournalSearchWindow.h"
#include "station/StatusBoard.h"
#include "station/mainunit.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"

#include <QMenu>
#include <QPushButton>


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

OperatorDesk::OperatorDesk(StationContext& ctx, TForm1& mainWindow, StationCore& core, IModemWindow& modemWindow,
                           IDeviceWindow& deviceWindow)
    : m_ctx(ctx), m_form(mainWindow), m_core(core), m_modemWindow(modemWindow), m_deviceWindow(deviceWindow),
      m_alarms(std::make_unique<TAlarmsForm>(core.Desk(), core.Register(), ctx)),
      m_search(std::make_unique<TJournalSearchForm>(core.EventsTable, core.Register(), ctx))
{
    m_form.StringGrid1->DescribeTile = [this](TileFacts& facts) { DescribeTile(facts); };
    if (const auto centre = centre::ReadDatabaseSettings(IniFile(core.ConfigFile()))) {
        m_centreQueue = std::make_unique<centre::AlarmQueueWorker>(centre->connection, Cp1251FromUtf8(centre->station),
                                                                   [](std::function<void()> fn) { PostToUi(std::move(fn)); });
        m_alarms->SetCentre(m_centreQueue.get());
    }
    m_core.LoadContacts();
    ContactsChanged();

    StartFeed();

    connect(&m_timer, &QTimer::timeout, this, &OperatorDesk::Tick);
    m_timer.start(1000);
    UpdateButton();
}

OperatorDesk::~OperatorDesk()
{
    m_feed.reset();
    m_timer.stop();
    m_alarms->SetCentre(nullptr);
    m_centreQueue.reset();
    m_form.StringGrid1->DescribeTile = nullptr;
    m_ctx.AlarmsOpen = false;
    m_ctx.SoundingPriority = 0;
    m_ctx.BoardFedByCentre = false;
}

AlarmDesk& OperatorDesk::Desk() { return m_core.Desk(); }

void OperatorDesk::TileSelected(const std::string& shortName)
{
    // A viewer's click only looks.
    if (m_ctx.LoggedIn && !m_ctx.Viewer)
        Desk().AcknowledgeDevice(shortName, m_ctx.Operator);
}

void OperatorDesk::OperatorLeaving() { Desk().LeftOpen(m_ctx.Operator); }

void OperatorDesk::ShowAlarms() { m_alarms->ShowCentred(); }

std::string OperatorDesk::OpenAlarmsText() { return OpenAlarmsList(Desk().Rows()); }

void OperatorDesk::ShowJournalSearch(const std::string& device) { m_search->ShowFor(device); }

void OperatorDesk::Tick()
{
    // The modem window's fields, as last read or typed.
    const auto [minutes, numbers] = m_modemWindow.EscalationSettings();
    m_core.SetEscalationTexts(minutes, numbers);
    m_core.SetSilentHoursText(m_modemWindow.SilentHoursSetting());
    m_core.Tick();
    ShowCentreLink();
    if (m_alarms->isVisible())
        m_alarms->UpdateWaits();
    UpdateButton();
}

void OperatorDesk::ShowCentreLink()
{
    const centre::Forwarder* centre = m_core.Centre();
    if (!centre)
        return;
    const centre::ForwarderState state = centre->State();
    m_modemWindow.SetCentreText(centre::StateText(state));
    m_centreLink.Poll(state, [this](const std::string& text, Rgb colour) { m_core.WriteTechno(text, colour); });
    const centre::Link feed = m_feed ? m_feed->State() : centre::Link::Connecting;
    m_form.JournalBanner->SetExtra(centre::DeskBannerText(state, feed));
}

void OperatorDesk::StartFeed()
{
    const IniFile config(m_core.ConfigFile());
    const std::optional<centre::DatabaseSettings> settings = centre::ReadDatabaseSettings(config);
    if (!settings)
        return;
    m_station = Cp1251FromUtf8(settings->station);
    m_ctx.BoardFedByCentre = true;
    m_centreEvents = std::make_unique<TCentreEventsForm>(&m_form);
    // Beside the journal's own items.
    QMenu& menu = *m_form.PopupMenu2;
    auto* item = new QAction(ToQ("События центра"_cp), &menu);
    item->setObjectName(QStringLiteral("CentreEventsItem"));
    const QList<QAction*> items = menu.actions();
    const qsizetype after = items.indexOf(m_form.N7);
    if (after >= 0 && after + 1 < items.size())
        menu.insertAction(items[after + 1], item);
    else
        menu.addAction(item);
    connect(item, &QAction::triggered, this, [this] { m_centreEvents->ShowCentred(); });
    // Handed over as the workers' rows are (a queue the race checker sees);
    // a wake that comes as the desk goes finds it gone.
    m_feed = centre::StartDeskFeed(config, [self = m_self] {
        PostToUi([self] {
            if (OperatorDesk* desk = *self; desk && desk->m_feed)
                desk->ShowCentreUpdate(desk->m_feed->Take());
        });
    });
}

void OperatorDesk::ShowCentreUpdate(const centre::FeedUpdate& update)
{
    if (m_centreEvents)
        m_centreEvents->Append(update.events);
    // A desk's first read brings rows of hours ago: like tile states kept in a
    // file, those older than a quarter of an hour would only raise stale alarms.
    const double now = LocalNow();
    for (const centre::FeedEvent& e : update.events) {
        if (e.station == m_station)
            continue;
        if (now - e.time <= kTileStatesMaxAgeDays)
            m_core.Board.ShowRow(e.shortName, e.journal, e.status, e.event);
        if (e.journal == "main" && !TrimBlanks(e.shortName).empty()) {
            const auto [it, added] = m_remoteLast.try_emplace(e.shortName, e);
            if (!added && e.time >= it->second.time)
                it->second = e;
        }
    }
    if (update.alarmsChanged)
        Desk().SetCentreAlarms(update.alarms, m_station);
}

void OperatorDesk::ContactsChanged()
{
    m_form.StringGrid1->SetSilent(m_core.Contacts().SilentNames());
    // The card on show tells it too.
    m_deviceWindow.LastContactChanged();
}

void OperatorDesk::DescribeTile(TileFacts& facts)
{
    const DeviceRegister& reg = m_core.Register();
    facts.tel = reg.FindNumberByShortName(facts.shortName, {});
    if (facts.tel.empty())
        return;
    facts.listName = reg.FindListNameByNumber(facts.tel);
    if (!m_deviceWindow.LastEventOf(facts.tel, facts.eventAt, facts.eventStatus, facts.eventText))
        facts.eventAt = 0;
    // A newer report another receiver took, with its receiver's name.
    if (const auto it = m_remoteLast.find(facts.shortName); it != m_remoteLast.end() && it->second.time > facts.eventAt) {
        facts.eventAt = it->second.time;
        facts.eventStatus = it->second.status;
        facts.eventText = it->second.event + " (" + it->second.station + ")";
    }
    if (const std::optional<LastContact> c = m_core.Contacts().Of(facts.tel))
        facts.lastContact = LastContactText(*c);
    facts.supervision = SupervisionText(m_core.Contacts().SupervisionMs(facts.tel));
}

void OperatorDesk::Changed(bool opened)
{
    const AlarmDesk& desk = Desk();
    m_ctx.AlarmsOpen = desk.AnyOpen();
    m_ctx.SoundingPriority = desk.SoundingPriority();
    std::vector<std::string> devices;
    for (const OpenAlarm& a : desk.Rows())
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
    const std::size_t open = Desk().Rows().size();
    QPushButton* button = m_form.AlarmsButton;
    button->setVisible(m_ctx.LoggedIn || open > 0);
    const QString caption = open > 0 ? ToQ("Тревоги ("_cp) + QString::number(open) + ")" : ToQ("Тревоги"_cp);
    if (button->text() == caption)
        return;
    button->setText(caption);
    button->setStyleSheet(open > 0 ? QStringLiteral("color: rgb(255, 0, 0); font-weight: bold;") : QString());
}

} // namespace kv
