#include "station/Station.h"

#include "centre/Settings.h"
#include "core/CentreRegister.h"
#include "core/StationCore.h"
#include "data/IniFile.h"
#include "data/Text.h"
#include "devices/DeviceRegister.h"
#include "devicecard/DeviceUnit.h"
#include "modemsetup/ComPortUnit.h"
#include "modemsetup/ModemUnit.h"
#include "station/SoundBanner.h"
#include "station/StationMenu.h"
#include "station/AlarmsWindow.h"
#include "station/JournalSearchWindow.h"
#include "station/OperatorDesk.h"
#include "station/ReportWindow.h"
#include "station/WindowsView.h"
#include "station/mainunit.h"
#include "users/SecurityUnit.h"
#include "users/password.h"
#include "windows/AppPaths.h"
#include "windows/Dialogs.h"
#include "windows/HelpUnit.h"
#include "windows/MainJournalUnit.h"
#include "windows/ModemLinkUnit.h"
#include "windows/TechnoJournalUnit.h"
#include "core/TechnoLog.h"
#include "modem/Modem.h"

#include <QLocale>

#include <clocale>

namespace kv {

using namespace literals;

void UseDecimalPoint()
{
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
}

Station::Station() : m_register(std::make_unique<DeviceRegister>())
{
    m_core = std::make_unique<StationCore>(*m_register, ConfigFile(QStringLiteral("config.ini")).toStdString());
    // Each window is handed only the needs it states.
    IMainStation& mainNeeds = *this;
    IModemStation& modemNeeds = *this;
    IDeviceStation& deviceNeeds = *this;
    IAccessStation& accessNeeds = *this;
    m_form1 = std::make_unique<TForm1>(m_ctx, *m_core, mainNeeds);
    m_view = std::make_unique<TWindowsView>(*m_form1);
    m_core->SetView(m_view.get());
    m_windows.push_back(m_form1.get());
    m_stationMenu = new TStationMenu(*m_form1);

    StationCore& core = *m_core;
    m_comPortForm = std::make_unique<TComPortForm>(core.ComPort1, core.ComPort2, [this] { RefreshPortFields(); });
    m_windows.push_back(m_comPortForm.get());
    // Loads the register and lays the device tiles.
    m_deviceForm = std::make_unique<TDeviceForm>(m_ctx, *m_register, core.EventsTable, deviceNeeds);
    m_view->windows.devices = m_deviceForm.get();
    m_windows.push_back(m_deviceForm.get());
    // Reads "config.ini" and names the ports.
    m_modemForm = std::make_unique<TModemForm>(
        m_ctx, ModemParts{*core.Modem1, *core.Modem2, core.ComPort1, core.ComPort2, core.DialVars}, modemNeeds);
    m_view->windows.modem = m_modemForm.get();
    m_windows.push_back(m_modemForm.get());

    m_technoJournalForm = std::make_unique<TTechnoJournalForm>(m_form1.get());
    // Beside the tables: the record of what the modems said outlives the run.
    m_technoJournalForm->SetLog(std::make_unique<TTechnoLog>("techno.log"));
    m_view->windows.techno = m_technoJournalForm.get();
    m_windows.push_back(m_technoJournalForm.get());

    m_passwordDlg = std::make_unique<TPasswordDlg>(m_ctx, accessNeeds);
    m_windows.push_back(m_passwordDlg.get());
    // Loads the operators.
    m_securityForm = std::make_unique<TSecurityForm>(m_ctx, core.EventsTable, accessNeeds);
    m_windows.push_back(m_securityForm.get());

    m_linkErrorForm = std::make_unique<TLinkErrorForm>();
    m_view->windows.linkError = m_linkErrorForm.get();
    m_windows.push_back(m_linkErrorForm.get());

    m_mainJournal = std::make_unique<TMainJournal>(m_form1->EventsTable, m_form1.get());
    m_mainJournal->FormClose = [this] { m_ctx.Shown(ShownWindow::WorkJournal) = false; };
    m_ctx.Window(ShownWindow::WorkJournal) = {[this] { m_mainJournal->ShowCentred(); },
                                              [this] { m_mainJournal->close(); }};
    m_windows.push_back(m_mainJournal.get());

    m_helpForm = std::make_unique<THelpForm>(m_form1.get());
    m_helpForm->FormClose = [this] { m_ctx.Shown(ShownWindow::Help) = false; };
    m_ctx.Window(ShownWindow::Help) = {[this] { m_helpForm->ShowCentred(); }, [this] { m_helpForm->close(); }};
    m_windows.push_back(m_helpForm.get());

    // After the technological journal, which takes its red line.
    m_soundBanner = std::make_unique<TSoundBanner>(*m_form1, *m_form1->PageControl1, [this](const std::string& text,
                                                                                          Rgb colour) {
        m_technoJournalForm->AppendTechnoLine(text, colour);
    });
    m_soundBanner->Start();
    // Last: it feeds on every window before it.
    m_desk = std::make_unique<OperatorDesk>(m_ctx, *m_form1, core, *m_modemForm, *m_deviceForm);
    m_view->windows.desk = m_desk.get();
    m_windows.push_back(&m_desk->AlarmsForm());
    m_windows.push_back(&m_desk->SearchForm());
    StartCentreRegister();
}

namespace {

std::vector<centre::SharedAccount> ToCentre(const std::vector<StoredAccount>& accounts)
{
    std::vector<centre::SharedAccount> out;
    for (const StoredAccount& a : accounts)
        out.push_back({a.user, a.passwordHash, a.role});
    return out;
}

std::vector<StoredAccount> FromCentre(const std::vector<centre::SharedAccount>& accounts)
{
    std::vector<StoredAccount> out;
    for (const centre::SharedAccount& a : accounts)
        out.push_back({a.name, a.passwordHash, a.role});
    return out;
}

} // namespace

void Station::StartCentreRegister()
{
    // Once the register and the accounts are loaded: they seed an empty centre.
    const IniFile config(ConfigFile(QStringLiteral("config.ini")).toStdString());
    if (!centre::ReadDatabaseSettings(config))
        return;
    CentreRegister::Hooks hooks;
    hooks.busy = [this] { return m_deviceForm->isVisible(); };
    hooks.replaced = [this] { RebuildBoard(); };
    hooks.techno = [this](const std::string& text, Rgb colour) { TechnoLine(text, colour); };
    hooks.refused = [this](const std::string& why) { ShowError(why, m_ctx.MainWindow); };
    hooks.accounts = [this] { return ToCentre(m_securityForm->Accounts()); };
    hooks.accountsBusy = [this] { return m_securityForm->isVisible(); };
    hooks.layAccounts = [this](const std::vector<centre::SharedAccount>& accounts) {
        m_securityForm->ReplaceAccounts(FromCentre(accounts));
    };
    m_centreRegister =
        CentreRegister::Start(config, *m_register, ToCentre(m_securityForm->Accounts()), std::move(hooks));
    if (!m_centreRegister)
        return;
    m_core->RingsHere = [this](const std::string& shortName) { return m_centreRegister->RingsHere(shortName); };
    m_core->ReceiverOf = [this](const std::string& shortName) { return m_centreRegister->ReceiverOf(shortName); };
    m_deviceForm->RegisterSaved = [this] {
        if (const std::string why = m_centreRegister->Saved(m_ctx.AdminAccess); !why.empty())
            ShowError(why, m_deviceForm.get());
    };
    m_securityForm->AccountsSaved = [this] { m_centreRegister->AccountsSaved(); };
    // Laid as a centre's board from now on, before the centre's copy comes.
    RebuildBoard();
}

Station::~Station()
{
    // The workers use every window through the hand-overs: they end first.
    m_form1->StopWorkers(TForm1::kShutdownWait);
    if (m_centreRegister) {
        m_deviceForm->RegisterSaved = nullptr;
        m_securityForm->AccountsSaved = nullptr;
        m_core->RingsHere = nullptr;
        m_core->ReceiverOf = nullptr;
        m_centreRegister.reset();
    }
    m_soundBanner.reset();
    m_view->windows = {};
    m_desk.reset();
    // Closing the program does not run the other windows' close handlers.
    m_helpForm->FormClose = nullptr;
    m_mainJournal->FormClose = nullptr;
    m_ctx.Window(ShownWindow::WorkJournal) = {};
    m_ctx.Window(ShownWindow::Help) = {};
    m_helpForm.reset();
    m_mainJournal.reset();
    m_linkErrorForm.reset();
    m_securityForm.reset();
    m_passwordDlg.reset();
    m_technoJournalForm.reset();
    m_modemForm.reset();
    m_deviceForm.reset();
    m_comPortForm.reset();
    m_core->SetView(nullptr);
    m_view.reset();
    m_form1.reset();
    m_core.reset();
}

void Station::Show() { m_form1->show(); }

// ---------------------------------------------------------------- the windows' needs

void Station::TileSelected(const std::string& shortName)
{
    if (m_desk)
        m_desk->TileSelected(shortName);
}

void Station::ShowAlarms()
{
    if (m_desk)
        m_desk->ShowAlarms();
}

std::string Station::OpenAlarmsText() { return m_desk ? m_desk->OpenAlarmsText() : std::string(); }

void Station::ShowJournalSearch(const std::string& device)
{
    if (m_desk)
        m_desk->ShowJournalSearch(device);
}

bool Station::ShowDeviceCardOf(const std::string& shortName)
{
    if (!m_deviceForm || !m_deviceForm->SelectDeviceByShortName(shortName))
        return false;
    m_deviceForm->FillLastEvents();
    m_deviceForm->ShowDeviceCard();
    return true;
}

void Station::FillLastEvents()
{
    if (m_deviceForm)
        m_deviceForm->FillLastEvents();
}

void Station::RefreshPortFields()
{
    if (m_modemForm)
        m_modemForm->RefreshPortFields();
}

void Station::TechnoLine(const std::string& text, Rgb colour)
{
    if (m_technoJournalForm)
        m_technoJournalForm->AppendTechnoLine(text, colour);
}

bool Station::HasAdministrator() { return m_securityForm && m_securityForm->HasAdministrator(); }

bool Station::IsAdministrator(const std::string& user, const std::string& password)
{
    return m_securityForm && m_securityForm->IsAdministrator(user, password);
}

void Station::StationClosed()
{
    if (m_desk)
        m_desk->StationClosed();
}

bool Station::StartCommThread() { return m_core->StartCommThread(); }

bool Station::StartDialThread() { return m_core->StartDialThread(); }

void Station::RebuildBoard()
{
    if (m_form1)
        m_form1->RebuildBoard();
}

void Station::SetDialStatus(const std::string& text)
{
    if (m_form1)
        m_form1->SetDialStatus(text);
}

void Station::SetCommandButtonsEnabled(bool enabled)
{
    if (m_deviceForm)
        m_deviceForm->SetCommandButtonsEnabled(enabled);
}

void Station::ShowComPortForm()
{
    if (m_comPortForm)
        m_comPortForm->exec();
}

void Station::ShowPasswordDlg()
{
    if (m_passwordDlg)
        m_passwordDlg->ShowCentred();
}

bool Station::SendSms(const std::string& number, const std::string& text, const std::string& commandName)
{
    return m_core->SendSms(number, text, commandName);
}

void Station::QueueModemCommand(const std::string& line) { EnqueueCommand(*m_core->Modem1, line); }

std::string Station::LastContactText(const std::string& number) { return m_core->LastContactText(number); }

void Station::SetLoginControlsEnabled(bool enabled)
{
    if (m_form1)
        m_form1->SetLoginControlsEnabled(enabled);
}

void Station::SetDeviceTablesReadOnly(bool readOnly)
{
    if (m_deviceForm)
        m_deviceForm->SetDeviceTablesReadOnly(readOnly);
}

void Station::OperatorLeaving()
{
    if (m_desk)
        m_desk->OperatorLeaving();
}

void Station::OperatorLeft()
{
    if (m_form1 && Dialogs().AskYesNo(std::string("Смена закончена. Открыть отчёт за смену?"_cp), m_form1.get()))
        ShowShiftReport(m_core->EventsTable, &m_core->DialEventsTable, m_form1.get(),
                        ReportCentreOf(m_core->ConfigFile(), m_core->Modem1 && m_core->Modem1->Running));
}

void Station::ShowTechnoJournal()
{
    if (m_technoJournalForm)
        m_technoJournalForm->ShowCentred();
}

void Station::HideTechnoJournal()
{
    if (m_technoJournalForm)
        m_technoJournalForm->hide();
}

} // namespace kv
