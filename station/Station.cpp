#include "station/Station.h"

#include "station/mainunit.h"
#include "windows/HelpUnit.h"
#include "windows/MainJournalUnit.h"
#include "windows/ModemLinkUnit.h"
#include "windows/TechnoJournalUnit.h"

#include <QLocale>

#include <clocale>

namespace kv {

void UseDecimalPoint()
{
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
}

Station::Station()
{
    m_form1 = std::make_unique<TForm1>(m_ctx);
    m_windows.push_back(m_form1.get());

    // ---- TComPortForm (modemsetup/ComPortUnit.h) goes here.
    // ---- TDeviceForm (devices/DeviceUnit.h) goes here: it loads the register and rebuilds the board.
    // ---- TModemForm (modemsetup/ModemUnit.h) goes here: it names the ports from "config.ini".

    m_technoJournalForm = std::make_unique<TTechnoJournalForm>(m_form1.get());
    m_ctx.TechnoJournalForm = m_technoJournalForm.get();
    m_windows.push_back(m_technoJournalForm.get());

    // ---- TPasswordDlg (users/password.h) goes here.
    // ---- TSecurityForm (users/SecurityUnit.h) goes here: it loads the operators.

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
}

Station::~Station()
{
    // The workers use every window through the hand-overs: they end first.
    m_form1->StopWorkers(TForm1::kShutdownWait);
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
    m_technoJournalForm.reset();
    m_ctx.TechnoJournalForm = nullptr;
    m_form1.reset();
}

void Station::Show() { m_form1->show(); }

} // namespace kv
