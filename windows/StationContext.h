#pragma once
// What the station's windows share: the login flags, the objects the main
// window owns, the windows themselves, and the operations of one window that
// others call. Created once by the start-up, filled as each window is created
// (in the start-up order), and handed to every window.
#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QWidget;

namespace kv {

class MemTable;
class TableFormat;
class TComPort;
class TModem;
class DialSchedule;
struct DialState;
struct TileStates;
class TTechnoJournalForm;
class TLinkErrorForm;
class THelpForm;
class TMainJournal;
class DeviceRegister;

// The main window's five toggle buttons, one WindowShown flag each.
enum class ShownWindow { Modem, Devices, Access, WorkJournal, Help, Count };

struct StationContext {
    // Login (UI thread only).
    bool LoggedIn = false;
    bool AdminAccess = false;
    bool WindowShown[static_cast<int>(ShownWindow::Count)] = {};
    bool& Shown(ShownWindow w) { return WindowShown[static_cast<int>(w)]; }

    // Each toggled window registers how it is shown and closed; closing by any
    // way runs the window's own close handler, which clears its flag.
    struct WindowOps {
        std::function<void()> show;
        std::function<void()> close;
    };
    WindowOps Windows[static_cast<int>(ShownWindow::Count)];
    WindowOps& Window(ShownWindow w) { return Windows[static_cast<int>(w)]; }

    // Owned by the main window.
    QWidget* MainWindow = nullptr;
    TModem* Modem1 = nullptr;
    TModem* Modem2 = nullptr;
    TComPort* ComPort1 = nullptr;
    TComPort* ComPort2 = nullptr;
    MemTable* EventsTable = nullptr;
    MemTable* DialEventsTable = nullptr;
    TileStates* Tiles = nullptr;
    DialSchedule* Schedule = nullptr;
    DialState* DialVars = nullptr;
    // Owned by the station; its lookups answer on any thread.
    DeviceRegister* Register = nullptr;

    // Windows of the lower layers.
    TTechnoJournalForm* TechnoJournalForm = nullptr;
    TLinkErrorForm* LinkErrorForm = nullptr;
    THelpForm* HelpForm = nullptr;
    TMainJournal* MainJournal = nullptr;

    // Operations offered by the windows that own them. Empty until that
    // window exists; callers test before calling where the order allows that.
    // Main window:
    std::function<void()> RebuildBoard;
    std::function<void(bool)> SetLoginControlsEnabled; // StringGrid1 and DBGrid2
    std::function<void(const std::string&)> SetDialStatus;
    // A device command by SMS, queued whole (the plain character set around its
    // text), journalled by its name; false, nothing queued, when modem 1 cannot
    // take it now.
    std::function<bool(const std::string& number, const std::string& text, const std::string& commandName)> SendSms;
    // One SMS through modem 1 whose number and text travel as UCS2 hex (Cyrillic
    // arrives). `outcome` runs on the UI thread: true when the modem confirmed
    // it (all its parts, for a long text). `oneSmsText`: its form within one SMS,
    // sent instead when the modem cannot send long texts. False, nothing sent,
    // when modem 1 cannot take it now.
    std::function<bool(const std::string& number, const std::string& text, const std::string& oneSmsText,
                       std::function<void(bool sent)> outcome)>
        SendUcs2Sms;
    std::function<bool()> StartCommThread; // false when one is already running
    std::function<bool()> StartDialThread; // false when one is already running
    // Device window:
    std::function<void(bool)> SetCommandButtonsEnabled;
    std::function<void(const std::string& number, const std::string& text)> SetStatusEdit;
    std::function<void()> FillLastEvents;
    std::function<void(bool readOnly)> SetDeviceTablesReadOnly;
    std::function<bool(const std::string& shortName)> SelectDeviceByShortName;
    std::function<void()> ShowDeviceCard;
    // The newest main-journal row of that number: false when it has none.
    std::function<bool(const std::string& number, double& at, std::string& status, std::string& event)> LastEventOf;
    // Modem window:
    std::function<void(const std::string&)> SetLinkText;       // Edit5
    std::function<void(const std::string&)> SetSignalText1;    // Edit4
    std::function<void(const std::string&)> SetSignalText2;    // Edit8
    std::function<void(const std::string&)> AddBalanceLine;    // BalanceInfo
    std::function<std::string()> BalanceNumber;                // BalanceNumber
    std::function<void()> RefreshPortFields;
    // The [Escalation] texts of "config.ini" as last read or saved: Minutes, Numbers.
    std::function<std::pair<std::string, std::string>()> EscalationSettings;
    // "[Supervision] SilentHours" as last read or saved.
    std::function<std::string()> SilentHoursSetting;
    // Port selection window (modal):
    std::function<void()> ShowComPortForm;
    // Password dialog:
    std::function<void()> ShowPasswordDlg;
    // Access window: whether the administrator has an account, and whether
    // this name and password are the administrator's.
    std::function<bool()> HasAdministrator;
    std::function<bool(const std::string& user, const std::string& password)> IsAdministrator;

    // The operator's alarm desk.
    std::string Operator; // the logged-in user's name; empty while nobody is
    // Some alarm is still unhandled. Any thread.
    std::atomic<bool> AlarmsOpen{false};
    // Some of them nobody has acknowledged yet: the board tick sounds it. Any thread.
    std::atomic<bool> AlarmsUnacknowledged{false};
    // A board tile was selected (acknowledged).
    std::function<void(const std::string& shortName)> TileSelected;
    // The operator logs out: before the logout row.
    std::function<void()> OperatorLeaving;
    // The main window's close went through.
    std::function<void()> StationClosed;
    std::function<void()> ShowAlarms;
    // The open alarms named for a question ("Склад (Тревога, 12:03), ..."); empty when none.
    std::function<std::string()> OpenAlarmsText;
    // The journal search, its device filter set ("" for none).
    std::function<void(const std::string& device)> ShowJournalSearch;
    // "Последняя связь" of the device with that number, as the card shows it.
    std::function<std::string(const std::string& number)> LastContactText;
    // A device was heard or went silent: the card on show tells it anew (device window).
    std::function<void()> LastContactChanged;
};

} // namespace kv
