// Start-up, the main window's buttons, and the close.
#include "tests/station/StationFixture.h"

#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/TileStates.h"
#include "serial/CPort.h"
#include "station/StationHost.h"
#include "windows/Controls.h"
#include "windows/HelpUnit.h"
#include "windows/JournalGrid.h"
#include "windows/MainJournalUnit.h"
#include "windows/QtText.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

#include <filesystem>

namespace kv::test {
namespace {

using namespace kv::literals;

std::string EventAt(MemTable& t, int row) { return t.TextAt(row, journal::Event); }

TEST_F(StationTest, FirstStartTellsOfEachMissingFileAndOpensFreshJournals)
{
    station = std::make_unique<Station>();
    form().MMTimer1.SetEnabled(false);
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Information);
    EXPECT_EQ(dialogs.messages[0].text, "Список событий пуст!"_cp);
    EXPECT_EQ(dialogs.messages[1].kind, MsgKind::Information);
    EXPECT_EQ(dialogs.messages[1].text, "Список событий обзвона пуст!\r\nНовый журнал обзвона создан!"_cp);
    EXPECT_EQ(dialogs.messages[2].kind, MsgKind::Warning);
    EXPECT_EQ(dialogs.messages[2].text, "Список состояния объектов пуст."_cp);

    for (MemTable* journal : {&form().EventsTable, &form().DialEventsTable}) {
        ASSERT_EQ(journal->RecordCount(), 1);
        EXPECT_EQ(EventAt(*journal, 0), "Создание журнала"_cp);
        EXPECT_EQ(journal->TextAt(0, journal::Status), "");
    }
    // The grids show the journals they belong to.
    EXPECT_EQ(form().DBGrid2->model()->rowCount(), 1);
    EXPECT_EQ(form().DBGrid3->model()->rowCount(), 1);
}

TEST_F(StationTest, WindowsAreCreatedInOrderAndOnlyTheMainWindowShows)
{
    Create();
    std::vector<QString> names;
    for (QWidget* w : station->Windows())
        names.push_back(w->objectName());
    EXPECT_EQ(names, (std::vector<QString>{"Form1", "TechnoJournalForm", "ModemLinkForm", "MainJournal", "HelpForm"}));

    station->Show();
    Settle();
    for (QWidget* w : station->Windows())
        EXPECT_EQ(w->isVisible(), w == &form()) << w->objectName().toStdString();
    EXPECT_EQ(form().windowTitle(), QStringLiteral("Korvalen   -  ver.2.1.5"));
    EXPECT_EQ(form().size(), QSize(850, 600));

    // What the other windows find in the context once the main window exists.
    EXPECT_EQ(ctx().MainWindow, &form());
    EXPECT_EQ(ctx().Modem1, form().Modem1.get());
    EXPECT_NE(ctx().Modem1, ctx().Modem2);
    EXPECT_EQ(ctx().EventsTable, &form().EventsTable);
    EXPECT_EQ(ctx().TechnoJournalForm, &station->TechnoJournalForm());
    EXPECT_EQ(ctx().LinkErrorForm, &station->LinkErrorForm());
    EXPECT_TRUE(ctx().RebuildBoard && ctx().SetLoginControlsEnabled && ctx().SetDialStatus && ctx().SendSms &&
                ctx().StartCommThread && ctx().StartDialThread);
    EXPECT_FALSE(ctx().LoggedIn);
    EXPECT_FALSE(form().StringGrid1->isEnabled());
    EXPECT_FALSE(form().DBGrid2->isEnabled());
    EXPECT_FALSE(form().DBGrid3->isEnabled());
}

TEST_F(StationTest, PortsCarryTheStationsLineSettings)
{
    Create();
    TComPort& p1 = form().ComPort1;
    EXPECT_EQ(p1.Port(), "COM1");
    EXPECT_EQ(p1.BaudRate(), br115200);
    EXPECT_EQ(p1.DataBits(), dbEight);
    EXPECT_EQ(p1.StopBits(), sbOneStopBit);
    EXPECT_EQ(p1.Parity().Bits, prNone);
    EXPECT_EQ(p1.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(p1.FlowControl().ControlDTR, dtrDisable);
    EXPECT_EQ(p1.FlowControl().ControlRTS, rtsDisable);
    EXPECT_TRUE(p1.DiscardNull());
    EXPECT_EQ(p1.Buffer(), (TComBuffer{4096, 4096}));
    EXPECT_EQ(p1.Events(), TComEvents({evRxChar}));
    TComPort& p2 = form().ComPort2;
    EXPECT_EQ(p2.Port(), "COM2");
    EXPECT_EQ(p2.BaudRate(), br115200);
    EXPECT_EQ(p2.Buffer(), (TComBuffer{1024, 1024}));
    EXPECT_EQ(p2.Events(), TComEvents::All());
    EXPECT_FALSE(p1.Connected() || p2.Connected()) << "no port is opened at start-up";
}

TEST_F(StationTest, SavedJournalsAndFreshTileStatesComeBackWithoutAMessage)
{
    Create();
    ShowAndSettle();
    RecordEvent(form().EventsTable, "Тревога"_cp, "+79110000001", "first", {}, 45000.1);
    RecordEvent(form().DialEventsTable, "На связи"_cp, "+79110000002", "dial", {}, 45000.1);
    ASSERT_TRUE(form().close());
    station.reset();
    ResetShutdownForTests();

    TileStates tiles;
    tiles.GuardStates[TileStates::Index(1, 2)] = 2;
    ASSERT_EQ(SaveTileStates(tiles, "t5.bin"), TileSave::Saved);

    station = std::make_unique<Station>();
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().text;
    EXPECT_EQ(form().EventsTable.RecordCount(), 2);
    EXPECT_EQ(EventAt(form().EventsTable, 0), "first");
    EXPECT_EQ(EventAt(form().DialEventsTable, 0), "dial");
    EXPECT_EQ(form().Tiles.GuardStates[TileStates::Index(1, 2)], 2);
}

TEST_F(StationTest, ButtonsThatNeedALoginWarnAndOpenNothing)
{
    Create();
    ShowAndSettle();
    int modemShown = 0, devicesShown = 0, accessShown = 0;
    ctx().Window(ShownWindow::Modem) = {[&] { ++modemShown; }, [] {}};
    ctx().Window(ShownWindow::Devices) = {[&] { ++devicesShown; }, [] {}};
    ctx().Window(ShownWindow::Access) = {[&] { ++accessShown; }, [] {}};

    form().PNGButton1Click();
    form().PNGButton2Click();
    form().PNGButton4Click();
    ASSERT_EQ(dialogs.messages.size(), 3u);
    for (const auto& m : dialogs.messages) {
        EXPECT_EQ(m.kind, MsgKind::Warning);
        EXPECT_EQ(m.text, "Авторизация пользователя не выполнена"_cp);
    }
    EXPECT_EQ(modemShown + devicesShown, 0);
    EXPECT_FALSE(station->MainJournal().isVisible());

    // Access and help need nobody.
    form().PNGButton3Click();
    form().PNGButton5Click();
    EXPECT_EQ(accessShown, 1);
    EXPECT_TRUE(station->HelpForm().isVisible());
    EXPECT_EQ(dialogs.messages.size(), 3u);

    std::vector<QString> opened;
    form().OpenUrl = [&](const QString& url) { opened.push_back(url); };
    form().PNGButton6Click();
    EXPECT_EQ(opened, std::vector<QString>{QString::fromLatin1(THelpForm::kMakerUrl)});
}

TEST_F(StationTest, ToggleButtonsShowAndCloseAndFollowAWindowClosedByItself)
{
    Create();
    ShowAndSettle();
    LogIn();
    TMainJournal& work = station->MainJournal();
    form().PNGButton4Click();
    EXPECT_TRUE(work.isVisible());
    EXPECT_TRUE(ctx().Shown(ShownWindow::WorkJournal));
    form().PNGButton4Click();
    EXPECT_FALSE(work.isVisible());
    EXPECT_FALSE(ctx().Shown(ShownWindow::WorkJournal));

    // Closed by its own close box: the next press shows it again.
    form().PNGButton5Click();
    station->HelpForm().close();
    EXPECT_FALSE(ctx().Shown(ShownWindow::Help));
    form().PNGButton5Click();
    EXPECT_TRUE(station->HelpForm().isVisible());

    // The modem window is told to refresh its port fields when it is shown, not when it closes.
    int refreshed = 0;
    ctx().Window(ShownWindow::Modem) = {[] {}, [] {}};
    ctx().RefreshPortFields = [&] { ++refreshed; };
    form().PNGButton1Click();
    form().PNGButton1Click();
    EXPECT_EQ(refreshed, 1);
}

TEST_F(StationTest, ClosingTheDeviceWindowRefillsTheBoard)
{
    Create();
    InstallRegister();
    LogIn();
    ctx().Window(ShownWindow::Devices) = {[] {}, [] {}};
    form().PNGButton2Click();
    AddDevices({"Sklad", "Ofis"});
    EXPECT_EQ(board().TileText(0, 0), "") << "nothing refills the board while the window is open";
    form().PNGButton2Click();
    EXPECT_EQ(board().TileText(0, 0), "Sklad");
    EXPECT_EQ(board().TileText(0, 1), "Ofis");
}

TEST_F(StationTest, ControlsCarryTheirNamesAndTexts)
{
    Create();
    auto text = [&](const char* name) {
        if (auto* b = form().findChild<QPushButton*>(name))
            return b->text();
        if (auto* l = form().findChild<QLabel*>(name))
            return l->text();
        return QString();
    };
    EXPECT_EQ(text("Button3"), ToQ("Журнал обзвона"_cp));
    EXPECT_EQ(text("Button1"), ToQ("Запуск обзвона"_cp));
    EXPECT_EQ(text("Button2"), ToQ("Останов обзвона"_cp));
    EXPECT_EQ(text("DialNumber"), ToQ("Дозвон на номер:"_cp));
    EXPECT_EQ(text("DialStatus"), ToQ("Статус дозвона: не активен"_cp));
    EXPECT_EQ(text("Label1"), ToQ("Модем 1"_cp));
    EXPECT_EQ(text("Label2"), ToQ("Модем 2"_cp));
    EXPECT_FALSE(form().Button4->isVisibleTo(&form()));
    EXPECT_EQ(form().GroupBox1->title(), ToQ("Обзвон"_cp));
    EXPECT_EQ(form().PageControl1->tabText(0), ToQ("Основной протокол"_cp));
    EXPECT_EQ(form().PageControl1->tabText(1), ToQ("Протокол обзвона"_cp));
    for (const char* name : {"PNGButton1", "PNGButton2", "PNGButton3", "PNGButton4", "PNGButton5", "PNGButton6",
                             "StringGrid1", "DBGrid2", "DBGrid3", "AbClock1", "Image1", "Image3"}) {
        const QWidget* w = form().findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->accessibleDescription(), QString::fromLatin1(name));
        EXPECT_FALSE(w->accessibleName().isEmpty()) << name;
    }
    EXPECT_FALSE(form().Image1->pixmap().isNull()) << "the modem-off picture until a level comes";
}

TEST_F(StationTest, NothingIsClippedOrOverlapsAtTheDesignSize)
{
    Create();
    ShowAndSettle();
    const QRect client = form().rect();
    std::vector<QWidget*> parts{form().PNGButton6, form().PNGButton1, form().PNGButton2, form().PNGButton3,
                                form().PNGButton4, form().PNGButton5, form().StringGrid1, form().GroupBox1,
                                form().DialNumber, form().DialStatus, form().PageControl1, form().Panel1};
    for (QWidget* a : parts) {
        EXPECT_TRUE(client.contains(a->geometry())) << a->objectName().toStdString();
        for (QWidget* b : parts)
            if (a != b)
                EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                    << a->objectName().toStdString() << " / " << b->objectName().toStdString();
    }
    for (QLabel* label : {form().DialNumber, form().DialStatus, form().Label1, form().Label2}) {
        const QString longest = label == form().DialStatus ? ToQ("Статус дозвона: дозвон завершен не успешно"_cp)
                                                           : label->text();
        EXPECT_LE(label->fontMetrics().horizontalAdvance(longest), label->width()) << label->text().toStdString();
    }
    for (QPushButton* b : {form().Button1, form().Button2, form().Button3})
        EXPECT_LT(b->fontMetrics().horizontalAdvance(b->text()), b->width() - 8);
    if (const char* shots = std::getenv("KORVALEN_SHOT_DIR"))
        form().grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/main-window.png"));
}

TEST_F(StationTest, DecimalPointWhateverTheEnvironment)
{
    EXPECT_EQ(FormatSignalLevel(21), "21.0");
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 2.5);
    EXPECT_STREQ(text, "2.5");
    EXPECT_EQ(QLocale().decimalPoint(), QStringLiteral("."));
}

} // namespace
} // namespace kv::test
