#include "tests/e2e/StationE2E.h"

#include "tests/support/Cp1251.h"

#include "data/Schemas.h"
#include "data/TileStates.h"
#include "devicecard/DataControls.h"
#include "devicecard/DeviceUnit.h"
#include "modemsetup/ModemUnit.h"
#include "tests/support/Cp1251.h"
#include "users/SecurityUnit.h"
#include "users/password.h"
#include "windows/Controls.h"
#include "windows/JournalGrid.h"
#include "windows/QtText.h"
#include "windows/TechnoJournalUnit.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace kv::test {

using namespace kv::literals;
using namespace std::chrono_literals;

namespace {

std::filesystem::path NewProgramFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "korvalen-program-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed for the program folder");
    return pattern;
}

std::string Joined(const std::vector<std::string>& texts)
{
    std::string all;
    for (const std::string& t : texts)
        all += "[" + Cp1251ToUtf8(t) + "] ";
    return all;
}

} // namespace

StationE2E::StationE2E() : StationTest(NewProgramFolder()), program(ProgramDir().toStdString()) {}

StationE2E::~StationE2E()
{
    ReportOnFailure();
    // The workers and the ports go before the simulator that plays the modems.
    station.reset();
    sim.reset();
    std::error_code ec;
    std::filesystem::remove_all(program, ec);
}

void StationE2E::StartSimulator()
{
    sim = std::make_unique<ModemSim>();
    // As an installer or the operator would leave it: both modems at full speed.
    std::ofstream ini(program / "config.ini", std::ios::binary | std::ios::trunc);
    ini << "[MainDevice]\r\nPhoneNumber=*100#\r\nCPort=" << sim->Path(1) << "\r\nCPortBaudRate=115200\r\n"
        << "[SecondDevice]\r\nPhoneNumber=\r\nCPort=" << sim->Path(2) << "\r\nCPortBaudRate=115200\r\n";
}

void StationE2E::Start()
{
    ResetShutdownForTests();
    station = std::make_unique<Station>();
    station->Show();
    Settle();
}

bool StationE2E::Close()
{
    ReportOnFailure();
    if (!form().close())
        return false;
    station.reset();
    return true;
}

void StationE2E::ReportOnFailure() const
{
    // A failure on a loaded machine is read from the log afterwards: what the
    // modems said and what the journal holds tell a slow station from a wrong one.
    if (!station || !::testing::Test::HasFailure())
        return;
    if (station->TechnoJournalForm().WriteTechnoJournal->isChecked())
        std::fprintf(stderr, "----- technological journal\n%s\n", TechnoText().c_str());
    const MemTable& events = station->Form1().EventsTable;
    std::fprintf(stderr, "----- main journal, newest first\n");
    for (int r = 0; r < events.RecordCount(); ++r)
        std::fprintf(stderr, "%s | %s | %s\n", Cp1251ToUtf8(events.TextAt(r, journal::Status)).c_str(),
                     Cp1251ToUtf8(events.TextAt(r, journal::Tel)).c_str(), Cp1251ToUtf8(events.TextAt(r, journal::Event)).c_str());
    std::fprintf(stderr, "-----\n");
}

bool StationE2E::Until(const std::function<bool()>& done, std::chrono::milliseconds limit,
                       std::chrono::milliseconds period)
{
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + limit;
    auto nextCheck = start;
    for (;;) {
        QApplication::processEvents();
        ServeHandOvers();
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextCheck || now >= deadline) {
            if (done())
                return true;
            if (now >= deadline)
                return false;
            nextCheck = now + period;
        }
        std::this_thread::sleep_for(5ms);
    }
}

bool StationE2E::WaitTicks(int ticks, std::chrono::milliseconds limit)
{
    bool last = board().BlinkPhase();
    int seen = 0;
    return Until(
        [&] {
            const bool phase = board().BlinkPhase();
            if (phase != last) {
                ++seen;
                last = phase;
            }
            return seen >= ticks;
        },
        limit);
}

void StationE2E::Type(QWidget* field, const std::string& cp1251, bool clearFirst)
{
    if (clearFirst) {
        QKeyEvent selectAll(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
        QKeyEvent erase(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(field, &selectAll);
        QApplication::sendEvent(field, &erase);
    }
    for (QChar ch : ToQ(cp1251)) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(field, &press);
    }
}

void StationE2E::CreateAccount(const std::string& user, const std::string& password)
{
    if (!ctx().Shown(ShownWindow::Access))
        form().PNGButton3Click();
    TSecurityForm& access = station->SecurityForm();
    ASSERT_TRUE(access.isVisible());
    access.PageControl1->setCurrentIndex(1);
    ASSERT_EQ(access.PageControl1->currentIndex(), 1) << "the administrator tab did not open";
    Type(access.Edit1, user, true);
    Type(access.Edit2, password, true);
    ASSERT_TRUE(access.RbButton2->isEnabled());
    access.RbButton2Click();
    EXPECT_TRUE(access.Edit1->text().isEmpty());
    access.PageControl1->setCurrentIndex(0);
}

void StationE2E::LogInAs(const std::string& user, const std::string& password)
{
    if (!ctx().Shown(ShownWindow::Access))
        form().PNGButton3Click();
    TSecurityForm& access = station->SecurityForm();
    ASSERT_TRUE(access.isVisible());
    ASSERT_EQ(access.PageControl1->currentIndex(), 0);
    Type(access.UserEdit, user, true);
    Type(access.PasswordEdit, password, true);
    ASSERT_TRUE(access.RbButton1->isEnabled());
    access.RbButton1Click();
    ASSERT_TRUE(ctx().LoggedIn) << "messages: " << Joined(dialogs.Texts());
    EXPECT_FALSE(access.isVisible()) << "a login closes the access window";
    EXPECT_TRUE(board().isEnabled() && form().DBGrid2->isEnabled());
}

void StationE2E::LogInAsNewAdministrator()
{
    ASSERT_NO_FATAL_FAILURE(CreateAccount(Str("Администратор"_cp), "4711"));
    ASSERT_NO_FATAL_FAILURE(LogInAs(Str("Администратор"_cp), "4711"));
    ASSERT_TRUE(ctx().AdminAccess);
}

void StationE2E::ToggleDeviceWindow() { form().PNGButton2Click(); }

void StationE2E::AddDevice(const CardEntry& card)
{
    if (!ctx().Shown(ShownWindow::Devices))
        ToggleDeviceWindow();
    TDeviceForm& devices = station->DeviceForm();
    ASSERT_TRUE(devices.isVisible());
    const int before = devices.DeviceTable.RecordCount();
    dialogs.inputAnswers.push_back(card.listName);
    devices.N1Click();
    ASSERT_EQ(devices.DeviceTable.RecordCount(), before + 1) << "messages: " << Joined(dialogs.Texts());
    Type(devices.DBEdit1, card.listName);
    Type(devices.DBEdit4, card.shortName);
    Type(devices.DBEdit5, card.number);
    Type(devices.DBEdit6, card.interval, true);
    if (devices.DBCheckBox1->isChecked() != card.ringRound)
        devices.DBCheckBox1->click();
    ASSERT_TRUE(devices.RbButton2->isVisible()) << "the card's change did not show the save button";
    devices.RbButton2Click();
    EXPECT_FALSE(devices.RbButton2->isVisible());
}

void StationE2E::OpenTechnoJournal()
{
    TModemForm& modems = station->ModemForm();
    const bool wasShown = ctx().Shown(ShownWindow::Modem);
    if (!wasShown)
        form().PNGButton1Click();
    ASSERT_TRUE(modems.isVisible());
    modems.RbButton4Click();
    TPasswordDlg& password = station->PasswordDlg();
    ASSERT_TRUE(password.isVisible()) << "messages: " << Joined(dialogs.Texts());
    // The administrator's first opening sets the password, later ones ask for it.
    Type(password.Password, "techno 4711");
    if (password.Setting())
        Type(password.Password2, "techno 4711");
    password.OKBtnClick();
    TTechnoJournalForm& techno = station->TechnoJournalForm();
    ASSERT_TRUE(techno.isVisible()) << "messages: " << Joined(dialogs.Texts());
    if (!techno.WriteTechnoJournal->isChecked())
        techno.WriteTechnoJournal->click();
    ASSERT_TRUE(techno.WriteTechnoJournal->isChecked());
    if (!wasShown)
        form().PNGButton1Click();
}

void StationE2E::InitialiseModems()
{
    ASSERT_TRUE(sim) << "no simulator";
    if (!ctx().Shown(ShownWindow::Modem))
        form().PNGButton1Click();
    TModemForm& modems = station->ModemForm();
    ASSERT_TRUE(modems.isVisible());
    EXPECT_EQ(FromQ(modems.Edit1->text()), sim->Path(1));
    EXPECT_EQ(FromQ(modems.Edit6->text()), sim->Path(2));
    EXPECT_EQ(FromQ(modems.Edit3->text()), "115200");
    const std::size_t messagesBefore = dialogs.messages.size();
    modems.RbButton7Click();
    ASSERT_EQ(dialogs.messages.size(), messagesBefore) << "messages: " << Joined(dialogs.Texts());
    EXPECT_FALSE(modems.PNGButton7->isEnabled());
    EXPECT_TRUE(modems.PNGButton3->isEnabled() && modems.PNGButton2->isEnabled() && modems.PNGButton4->isEnabled());
    EXPECT_TRUE(form().CommThreadLive());
    EXPECT_TRUE(form().DialThreadLive());
    EXPECT_EQ(FromQ(form().DialStatus->text()), "Статус дозвона: ожидание"_cp);
    form().PNGButton1Click();
    EXPECT_FALSE(modems.isVisible());
    EXPECT_TRUE(form().ComPort1.Connected() && form().ComPort2.Connected())
        << "closing the modem window with the same ports keeps them open";
}

bool StationE2E::WaitModem1Ready(std::chrono::milliseconds limit)
{
    // The polls queue behind the start-up commands and one command is out at a
    // time, so the first signal poll sent means the start-up is through.
    return Until([&] { return Sent(1, "AT+CSQ\\r"); }, limit, 100ms);
}

std::string StationE2E::TechnoText() const
{
    return station->TechnoJournalForm().Otchet->toPlainText().toStdString();
}

bool StationE2E::TechnoHas(const std::string& utf8) const { return TechnoText().find(utf8) != std::string::npos; }

int StationE2E::FindRow(const MemTable& journal, std::string_view status)
{
    for (int r = 0; r < journal.RecordCount(); ++r)
        if (journal.TextAt(r, journal::Status) == status)
            return r;
    return -1;
}

int StationE2E::CountRows(const MemTable& journal, std::string_view status)
{
    int n = 0;
    for (int r = 0; r < journal.RecordCount(); ++r)
        n += journal.TextAt(r, journal::Status) == status;
    return n;
}

bool StationE2E::Sent(int modem, const std::string& line)
{
    const auto& lines = sim->SentLines(modem);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::uint8_t StationE2E::Guard(int column, int row) const
{
    return station->Form1().Tiles.GuardStates[static_cast<std::size_t>(TileStates::Index(column, row))];
}

std::uint8_t StationE2E::Info(int column, int row) const
{
    return station->Form1().Tiles.InfoStates[static_cast<std::size_t>(TileStates::Index(column, row))];
}

std::uint8_t StationE2E::AlarmMark(int column, int row) const
{
    return station->Form1().Tiles.AlarmMarks[static_cast<std::size_t>(TileStates::Index(column, row))];
}

void StationE2E::ExpectToolReads(const std::vector<std::string>& files)
{
    for (const std::string& file : files) {
        const ToolRun run = RunJournalTool({"check", file});
        EXPECT_EQ(run.exitCode, 0) << file << ": " << run.output;
        EXPECT_EQ(run.output.rfind("OK ", 0), 0u) << file << ": " << run.output;
    }
}

std::vector<CsvRow> RowsWithStatus(const std::vector<CsvRow>& rows, const std::string& utf8Status)
{
    std::vector<CsvRow> out;
    for (const CsvRow& row : rows)
        if (row.count("Status") && row.at("Status") == utf8Status)
            out.push_back(row);
    return out;
}

} // namespace kv::test
