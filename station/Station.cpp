#include "station/Station.h"

#include "core/StationCore.h"
#include "devices/DeviceRegister.h"
#include "devicecard/DeviceUnit.h"
#include "modemsetup/ComPortUnit.h"
#include "modemsetup/ModemUnit.h"
#include "station/SoundBanner.h"
#include "station/StationMenu.h"
#include "station/AlarmsWindow.h"
#include "station/JournalSearchWindow.h"
#include "station/OperatorDesk.h"
#include "station/WindowsView.h"
#include "station/mainunit.h"
#include "users/SecurityUnit.h"
#include "users/password.h"
#include "windows/AppPaths.h"
#include "windows/HelpUnit.h"
#include "windows/MainJournalUnit.h"
#include "windows/ModemLinkUnit.h"
#include "windows/TechnoJournalUnit.h"
#include "core/TechnoLog.h"

#include <QLocale>

#include <clocale>

namespace kv {

void UseDecimalPoint()
{
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
}

Station::Station() : m_register(std::make_unique<DeviceRegister>())
{
    m_ctx.Register = m_register.get();
    m_core = std::make_unique<StationCore>(*m_register, ConfigFile(QStringLiteral("config.ini")).toStdString());
    m_form1 = std::make_unique<TForm1>(m_ctx, *m_core);
    m_view = std::make_unique<TWindowsView>(m_ctx, *m_form1);
    m_core->SetView(m_view.get());
    m_windows.push_back(m_form1.get());
    m_stationMenu = new TStationMenu(*m_form1);

    m_comPortForm = std::make_unique<TComPortForm>(m_ctx);
    m_windows.push_back(m_comPortForm.get());
    // Loads the register and lays the device tiles.
    m_deviceForm = std::make_unique<TDeviceForm>(m_ctx, *m_register);
    m_windows.push_back(m_deviceForm.get());
    // Reads "config.ini" and names the ports.
    m_modemForm = std::make_unique<TModemForm>(m_ctx);
    m_windows.push_back(m_modemForm.get());

    m_technoJournalForm = std::make_unique<TTechnoJournalForm>(m_form1.get());
    // Beside the tables: the record of what the modems said outlives the run.
    m_technoJournalForm->SetLog(std::make_unique<TTechnoLog>("techno.log"));
    m_ctx.TechnoJournalForm = m_technoJournalForm.get();
    m_windows.push_back(m_technoJournalForm.get());

    m_passwordDlg = std::make_unique<TPasswordDlg>(m_ctx);
    m_windows.push_back(m_passwordDlg.get());
    // Loads the operators.
    m_securityForm = std::make_unique<TSecurityForm>(m_ctx);
    m_windows.push_back(m_securityForm.get());

    m_linkErrorForm = std::make_unique<TLinkErrorForm>();
    m_ctx.LinkErrorForm = m_linkErrorForm.get();
    m_windows.push_back(m_linkErrorForm.get());

    m_mainJournal = std::make_unique<TMainJournal>(m_form1->EventsTable, m_form1.get());
    m_ctx.MainJournal = m_mainJournal.get();
    m_mainJournal->FormClose = [this] { m_ctx.Shown(ShownWindow::WorkJournal) = false; };
    m_ctx.Window(ShownWindow::WorkJournal) = {[this] { m_mainJournal->ShowCentred(); },
                                              [this] { m_mainJournal->close(); }};
    m_windows.push_back(m_mainJournal.get());

    m_helpForm = std::make_unique<THelpForm>(m_form1.get());
    m_ctx.HelpForm = m_helpForm.get();
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
    m_desk = std::make_unique<OperatorDesk>(m_ctx, *m_form1, *m_core);
    m_view->SetDesk(m_desk.get());
    m_windows.push_back(&m_desk->AlarmsForm());
    m_windows.push_back(&m_desk->SearchForm());
}

Station::~Station()
{
    // The workers use every window through the hand-overs: they end first.
    m_form1->StopWorkers(TForm1::kShutdownWait);
    m_soundBanner.reset();
    m_view->SetDesk(nullptr);
    m_desk.reset();
    // Closing the program does not run the other windows' close handlers.
    m_helpForm->FormClose = nullptr;
    m_mainJournal->FormClose = nullptr;
    m_ctx.Window(ShownWindow::WorkJournal) = {};
    m_ctx.Window(ShownWindow::Help) = {};
    m_helpForm.reset();
    m_ctx.HelpForm = nullptr;
    m_mainJournal.reset();
    m_ctx.MainJournal = nullptr;
    m_linkErrorForm.reset();
    m_ctx.LinkErrorForm = nullptr;
    m_securityForm.reset();
    m_passwordDlg.reset();
    m_technoJournalForm.reset();
    m_ctx.TechnoJournalForm = nullptr;
    m_modemForm.reset();
    m_deviceForm.reset();
    m_comPortForm.reset();
    m_core->SetView(nullptr);
    m_view.reset();
    m_form1.reset();
    m_core.reset();
    m_ctx.Register = nullptr;
}

void Station::Show() { m_form1->show(); }

} // namespace kv
