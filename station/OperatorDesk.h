#pragma once
// The alarm desk in the station: the desk's logic fed by the workers' live
// events, the tile clicks, the logins and the close; its journal rows, SMS and
// technological-journal lines through the station; its two windows, and the
// one-second tick that renews the waits and escalates.
#include "core/AlarmDesk.h"
#include "core/ContactWatch.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

struct DialDevice;
struct StationContext;
struct TileFacts;
class TForm1;
class TAlarmsForm;
class TJournalSearchForm;

// The open rows named for the operator, oldest first: "Склад (Тревога, 12:03),
// Офис (Внимание, 12:05)", the first `shown` of them and how many more.
std::string OpenAlarmsList(const std::vector<OpenAlarm>& rows, std::size_t shown = 5);
// "[Supervision] SilentHours" of "config.ini" (the modem window's field):
// hours without a sign of life after which a device the ring-round does not
// call is silent; 0 (missing, empty) is off. What is no number of hours is
// off too, and told in `problem`.
double ParseSilentHours(const std::string& text, std::string& problem);

class OperatorDesk final : public QObject, private IDeskStation {
    Q_OBJECT
public:
    // Created once the other windows exist; registers its hooks in `ctx`.
    OperatorDesk(StationContext& ctx, TForm1& mainWindow);
    ~OperatorDesk() override;

    AlarmDesk& Desk() { return m_desk; }
    // The devices' last contacts and the supervision of their silence.
    ContactWatch& Contacts() { return m_contacts; }
    TAlarmsForm& AlarmsForm() { return *m_alarms; }
    TJournalSearchForm& SearchForm() { return *m_search; }

    // The record of the last run when it ended without its close, read as the
    // desk was made (before any start of modem 1 could rewrite it); given once.
    std::optional<std::string> TakeCrashRecord();
    // The second's work, also for tests that drive the desk's clock.
    void Tick();

private:
    void Journal(std::string_view status, const std::string& tel, const std::string& event, double now) override;
    void Techno(const std::string& text, Rgb colour) override;
    bool SendSms(const std::string& number, const std::string& text, const std::string& oneSmsText,
                 std::function<void(bool sent)> outcome) override;
    bool Modem1Running() override;
    std::string ShortName(const std::string& tel) override;
    std::string ListName(const std::string& tel) override;

    void Changed(bool opened);
    void UpdateButton();
    // A live event that proves its device alive.
    void SignOfLife(const std::string& tel, ContactKind kind);
    void WatchDevices(const std::vector<DialDevice>& devices);
    void CheckContacts();
    // "[Supervision] SilentHours" as the modem window holds it.
    void TakeSilentHours();
    void DescribeTile(TileFacts& facts);

    StationContext& m_ctx;
    TForm1& m_form;
    AlarmDesk m_desk;
    ContactWatch m_contacts;
    std::unique_ptr<TAlarmsForm> m_alarms;
    std::unique_ptr<TJournalSearchForm> m_search;
    QTimer m_timer;
    std::optional<std::string> m_crashRecord;
    std::optional<std::string> m_silentHoursText;
};

} // namespace kv
