#pragma once
// The station's start-up: every window created once, fully, in a fixed order,
// the main window first; only the main window is shown. Destroying the station
// stops the workers and destroys the windows in reverse order, the main window
// (which owns what the others use) last. Tests create and destroy it freely.
//
// It is also what each window asks of the others: every window states its
// needs as an interface of its own, and the station answers each by the
// window that can (a window not yet created, or already gone, answers nothing).
#include "devicecard/DeviceWindow.h"
#include "modemsetup/ModemWindow.h"
#include "station/mainunit.h"
#include "users/AccessWindow.h"
#include "windows/StationContext.h"

#include <memory>
#include <vector>

class QWidget;

namespace kv {

class TComPortForm;
class TDeviceForm;
class DeviceRegister;
class TModemForm;
class TPasswordDlg;
class TSecurityForm;
class TTechnoJournalForm;
class TLinkErrorForm;
class TMainJournal;
class THelpForm;
class TSoundBanner;
class TStationMenu;
class OperatorDesk;
class StationCore;
class CentreRegister;
class TWindowsView;

// "." as decimal separator for the whole process, whatever the regional
// settings. After the application object, which adopts the environment's locale.
void UseDecimalPoint();

class Station final : private IMainStation,
                      private IModemStation,
                      private IDeviceStation,
                      private IAccessStation {
public:
    Station();
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Shows the main window.
    void Show();

    StationContext& Context() { return m_ctx; }
    TForm1& Form1() { return *m_form1; }
    TComPortForm& ComPortForm() { return *m_comPortForm; }
    TDeviceForm& DeviceForm() { return *m_deviceForm; }
    DeviceRegister& Register() { return *m_register; }
    StationCore& Core() { return *m_core; }
    TModemForm& ModemForm() { return *m_modemForm; }
    TPasswordDlg& PasswordDlg() { return *m_passwordDlg; }
    TSecurityForm& SecurityForm() { return *m_securityForm; }
    TTechnoJournalForm& TechnoJournalForm() { return *m_technoJournalForm; }
    TLinkErrorForm& LinkErrorForm() { return *m_linkErrorForm; }
    TMainJournal& MainJournal() { return *m_mainJournal; }
    THelpForm& HelpForm() { return *m_helpForm; }
    // The alarm desk with its windows (the open alarms, the journal search).
    OperatorDesk& Desk() { return *m_desk; }
    // Every window, in the order created.
    const std::vector<QWidget*>& Windows() const { return m_windows; }
    TSoundBanner& SoundBanner() { return *m_soundBanner; }
    TStationMenu& StationMenu() { return *m_stationMenu; }
    // Where the core is shown.
    TWindowsView& View() { return *m_view; }
    CentreRegister* Centre() { return m_centreRegister.get(); }

private:
    void StartCentreRegister();
    // The main window's needs.
    void TileSelected(const std::string& shortName) override;
    void ShowAlarms() override;
    std::string OpenAlarmsText() override;
    void ShowJournalSearch(const std::string& device) override;
    bool ShowDeviceCardOf(const std::string& shortName) override;
    void FillLastEvents() override;
    void RefreshPortFields() override;
    void TechnoLine(const std::string& text, Rgb colour) override;
    bool HasAdministrator() override;
    bool IsAdministrator(const std::string& user, const std::string& password) override;
    void StationClosed() override;
    // The modem window's.
    bool StartCommThread() override;
    bool StartDialThread() override;
    void RebuildBoard() override;
    void SetDialStatus(const std::string& text) override;
    void SetCommandButtonsEnabled(bool enabled) override;
    void ShowComPortForm() override;
    void ShowPasswordDlg() override;
    // The device window's.
    bool SendSms(const std::string& number, const std::string& text, const std::string& commandName) override;
    void QueueModemCommand(const std::string& line) override;
    std::string LastContactText(const std::string& number) override;
    // The access window's and the password dialog's.
    void SetLoginControlsEnabled(bool enabled) override;
    void SetDeviceTablesReadOnly(bool readOnly) override;
    void OperatorLeaving() override;
    void OperatorLeft() override;
    void ShowTechnoJournal() override;
    void HideTechnoJournal() override;

    StationContext m_ctx; // first: every window holds on to it
    std::unique_ptr<DeviceRegister> m_register; // before the windows: the workers look up in it to the end
    std::unique_ptr<StationCore> m_core;        // the workers end with it, after the windows have gone
    std::unique_ptr<TWindowsView> m_view;
    std::unique_ptr<TForm1> m_form1;
    std::unique_ptr<TComPortForm> m_comPortForm;
    std::unique_ptr<TDeviceForm> m_deviceForm;
    std::unique_ptr<TModemForm> m_modemForm;
    std::unique_ptr<TTechnoJournalForm> m_technoJournalForm;
    std::unique_ptr<TPasswordDlg> m_passwordDlg;
    std::unique_ptr<TSecurityForm> m_securityForm;
    std::unique_ptr<TLinkErrorForm> m_linkErrorForm;
    std::unique_ptr<TMainJournal> m_mainJournal;
    std::unique_ptr<THelpForm> m_helpForm;
    std::unique_ptr<OperatorDesk> m_desk;
    std::vector<QWidget*> m_windows;
    std::unique_ptr<TSoundBanner> m_soundBanner;
    // With a centre: its register and accounts; null without [Database].
    std::unique_ptr<CentreRegister> m_centreRegister;
    TStationMenu* m_stationMenu = nullptr; // owned by the main window
};

} // namespace kv
