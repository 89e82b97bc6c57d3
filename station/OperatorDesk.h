#pragma once
// The alarm desk's windows: the open alarms, the journal search, the "Тревоги"
// button, the board's corners and silent marks and the tiles' tooltips, fed
// by the core's desk and contacts; the tile clicks and the logout reach the
// desk from here. Its one-second tick runs the core's second and renews the waits.
#include "centre/AlarmQueueWorker.h"
#include "centre/DeskFeed.h"
#include "centre/LinkWatch.h"
#include "core/AlarmDesk.h"

#include <QObject>
#include <QTimer>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kv {

struct StationContext;
struct TileFacts;
class StationCore;
class TForm1;
class TAlarmsForm;
class TCentreEventsForm;
class TJournalSearchForm;
class IDeviceWindow;
class IModemWindow;

// The open rows named for the operator, oldest first: "Склад (Тревога, 12:03),
// Офис (Внимание, 12:05)", the first `shown` of them and how many more.
std::string OpenAlarmsList(const std::vector<OpenAlarm>& rows, std::size_t shown = 5);

class OperatorDesk final : public QObject {
    Q_OBJECT
public:
    // Created once the other windows exist; they outlive the desk. The
    // escalation and supervision settings are the modem window's, the last
    // events and the last contact on show the device window's.
    OperatorDesk(StationContext& ctx, TForm1& mainWindow, StationCore& core, IModemWindow& modemWindow,
                 IDeviceWindow& deviceWindow);
    ~OperatorDesk() override;

    AlarmDesk& Desk();
    StationCore& Core() { return m_core; }
    TAlarmsForm& AlarmsForm() { return *m_alarms; }
    TJournalSearchForm& SearchForm() { return *m_search; }

    // The second's work, also for tests that drive the desk's clock.
    void Tick();
    // The core's desk changed; `opened`: a new alarm came.
    void Changed(bool opened);
    // A device was heard or went silent: the board's marks and the card.
    void ContactsChanged();
    // A board tile was selected: a logged-in operator acknowledges its alarms.
    void TileSelected(const std::string& shortName);
    // The operator logs out: before the logout row.
    void OperatorLeaving();
    void ShowAlarms();
    // The open alarms named for a question; empty when none.
    std::string OpenAlarmsText();
    void ShowJournalSearch(const std::string& device);
    // The main window's close went through: the second's work ends.
    void StationClosed() { m_timer.stop(); }

    // With a [Database] section: the centre's feed and the window of its
    // events (the journal menu opens it); both null without one.
    centre::DeskFeed* Feed() { return m_feed.get(); }
    TCentreEventsForm* CentreEventsForm() { return m_centreEvents.get(); }
    // What the feed brought: every row into the window, the rows of the other
    // stations onto the board (this station's own came through its core), the
    // centre's queue to the desk.
    void ShowCentreUpdate(const centre::FeedUpdate& update);

private:
    void UpdateButton();
    void DescribeTile(TileFacts& facts);
    void StartFeed();
    void ShowCentreLink();

    StationContext& m_ctx;
    TForm1& m_form;
    StationCore& m_core;
    IModemWindow& m_modemWindow;
    IDeviceWindow& m_deviceWindow;
    centre::LinkWatch m_centreLink;
    std::unique_ptr<TAlarmsForm> m_alarms;
    // With a centre: its queue, through which the window takes and closes its rows.
    std::unique_ptr<centre::AlarmQueueWorker> m_centreQueue;
    std::unique_ptr<TJournalSearchForm> m_search;
    std::unique_ptr<TCentreEventsForm> m_centreEvents;
    std::string m_station; // this station's name in the centre (code page 1251)
    // Each device's newest main-journal row taken by another station: its tile's tooltip.
    std::map<std::string, centre::FeedEvent> m_remoteLast;
    // Last: stopped first, before what its updates reach.
    std::unique_ptr<centre::DeskFeed> m_feed;
    QTimer m_timer;
    // Read on the UI thread only: what the feed's wakes find there.
    std::shared_ptr<OperatorDesk*> m_self = std::make_shared<OperatorDesk*>(this);
};

} // namespace kv
