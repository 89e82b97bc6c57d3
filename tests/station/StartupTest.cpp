// Start-up, the main window's buttons and its layout.
#include "tests/station/StationFixture.h"

#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TileStates.h"
#include "windows/Controls.h"
#include "windows/HelpUnit.h"
#include "windows/JournalGrid.h"
#include "windows/MainJournalUnit.h"
#include "modemsetup/ModemUnit.h"
#include "station/JournalBanner.h"
#include "windows/TechnoJournalUnit.h"
#include "station/CentreEventsWindow.h"
#include "station/OperatorDesk.h"
#include "station/SoundBanner.h"
#include "station/StationMenu.h"
#include "windows/DesktopEntry.h"
#include "windows/QtText.h"
#include "windows/SoundPlayer.h"
#include "timing/DateTime.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QMenu>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>

#include <sstream>

namespace kv::test {
namespace {

using namespace kv::literals;

std::string AlarmSmsText() { return Str("Новое сообщение:Вним"_cp) + "a" + Str("ние Т"_cp) + "PEB" + Str("ОГА"_cp); }

TEST_F(StationTest, FirstStartTellsOfEachMissingFileAndOpensFreshJournals)
{
    Create(true);
    // The main window's three, then the register's and the operators' in creation order.
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{Str("Список событий пуст!"_cp),
                                                         Str("Список событий обзвона пуст!\r\nНовый журнал обзвона создан!"_cp),
                                                         Str("Список состояния объектов пуст."_cp),
                                                         Str("Не найдена база устройств!"_cp),
                                                         Str("Нет информации о пользователях!"_cp)}));
    ASSERT_EQ(dialogs.messages.size(), 5u);
    EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Information);
    EXPECT_EQ(dialogs.messages[1].kind, MsgKind::Information);
    EXPECT_EQ(dialogs.messages[2].kind, MsgKind::Warning);
    for (MemTable* journal : {&form().EventsTable, &form().DialEventsTable}) {
        ASSERT_EQ(journal->RecordCount(), 1);
        EXPECT_EQ(journal->TextAt(0, journal::Event), "Создание журнала"_cp);
    }
    EXPECT_EQ(form().DBGrid3->model()->rowCount(), 1) << "each grid shows its own journal";
}

TEST_F(StationTest, WindowsAreCreatedInOrderAndOnlyTheMainWindowShows)
{
    Create();
    ShowAndSettle();
    std::vector<QString> names;
    for (QWidget* w : station->Windows()) {
        names.push_back(w->objectName());
        EXPECT_EQ(w->isVisible(), w == &form()) << w->objectName().toStdString();
    }
    EXPECT_EQ(names, (std::vector<QString>{"Form1", "ComPortForm", "DeviceForm", "ModemForm", "TechnoJournalForm",
                                           "PasswordDlg", "SecurityForm", "ModemLinkForm", "MainJournal", "HelpForm",
                                           "AlarmsForm", "JournalSearchForm"}));
    EXPECT_EQ(form().windowTitle(), QStringLiteral("Korvalen   -  ver.2.1.5"));
    EXPECT_NE(form().Modem1.get(), form().Modem2.get());
    EXPECT_EQ(ctx().MainWindow, &form()) << "the other windows centre on the main window";
    EXPECT_FALSE(form().ComPort1.Connected() || form().ComPort2.Connected()) << "no port opens at start-up";
    EXPECT_FALSE(board().isEnabled() || form().DBGrid2->isEnabled() || form().DBGrid3->isEnabled());
}

TEST_F(StationTest, ACentreOutOfReachIsShownInTheModemWindowAndAsABannerWhileTheStationGoesOn)
{
    // A database whose server is not there: the journals stay on disk meanwhile.
    WriteFileBytes(dir.File("config.ini"), "[Database]\r\nConnection=host=" + dir.File("no-server") +
                                               " dbname=kv connect_timeout=2\r\nStation=desk1\r\n");
    Create();
    ShowAndSettle();
    QLabel& banner = *form().JournalBanner->Banner();
    EXPECT_TRUE(WaitFor([&] {
        station->Desk().Tick();
        form().JournalBanner->Poll();
        return !banner.isHidden();
    }));
    EXPECT_EQ(FromQ(banner.text()).rfind(Str("Нет связи с базой центра, события на диске: "_cp), 0), 0u)
        << FromQ(banner.text());
    EXPECT_EQ(FromQ(station->ModemForm().Edit15->text()).rfind(Str("нет связи: "_cp), 0), 0u)
        << FromQ(station->ModemForm().Edit15->text());
    // The log file is UTF-8.
    EXPECT_NE(ReadFileBytes("techno.log").find("Нет связи с базой данных центра: "), std::string::npos)
        << "and the technological journal says why";
}

TEST_F(StationTest, ADeskShowsTheCentresRowsInItsWindowAndTheOtherStationsRowsOnItsBoard)
{
    Create();
    EXPECT_EQ(station->Desk().CentreEventsForm(), nullptr) << "no window without a centre";
    EXPECT_EQ(form().PopupMenu2->findChild<QAction*>(QStringLiteral("CentreEventsItem")), nullptr);
    station.reset();
    ResetShutdownForTests();

    WriteFileBytes(dir.File("config.ini"), "[Database]\r\nConnection=host=" + dir.File("no-server") +
                                               " dbname=kv connect_timeout=2\r\nStation=" + Str("Пульт 1"_cp) + "\r\n");
    Create();
    InstallRegister();
    ShowAndSettle();
    Place({"Sklad", "Ofis", "Garazh"});
    OperatorDesk& desk = station->Desk();
    TCentreEventsForm* window = desk.CentreEventsForm();
    ASSERT_NE(window, nullptr);
    // Its item follows the journal search in the journal's menu.
    const QList<QAction*> items = form().PopupMenu2->actions();
    const qsizetype search = items.indexOf(form().N7);
    ASSERT_GE(search, 0);
    ASSERT_LT(search + 1, items.size());
    EXPECT_EQ(items[search + 1]->objectName(), QStringLiteral("CentreEventsItem"));
    EXPECT_EQ(FromQ(items[search + 1]->text()), Str("События центра"_cp));
    items[search + 1]->trigger();
    Settle();
    EXPECT_TRUE(window->isVisible());

    const std::string sms(events::kNewMessage);
    const double now = LocalNow();
    centre::FeedUpdate update;
    update.events = {
        // A row older than a quarter of an hour is stale for the board.
        {1, Str("Приёмник 2"_cp), "main", 1, now - 0.02, std::string(status::kAlarm), "+7911Sklad", AlarmSmsText(),
         "Sklad"},
        // This station's own row came through its core: the board is not told again.
        {2, Str("Пульт 1"_cp), "main", 1, now, std::string(status::kAlarm), "+7911Sklad", AlarmSmsText(), "Sklad"},
        {3, Str("Приёмник 2"_cp), "main", 2, now, std::string(status::kArmed), "+7911Ofis",
         sms + Str("Поставлено на охрану"_cp), "Ofis"},
    };
    desk.ShowCentreUpdate(update);
    Settle();
    EXPECT_EQ(form().Tiles.GuardStates[TileStates::Index(0, 0)] + form().Tiles.AlarmMarks[TileStates::Index(0, 0)], 0);
    EXPECT_EQ(form().Tiles.GuardStates[TileStates::Index(0, 1)], 2);
    // The tile's tooltip tells the report and the receiver that took it.
    EXPECT_NE(board().TooltipText(0, 1).find(Str("Поставлено на охрану (Приёмник 2)"_cp)), std::string::npos)
        << board().TooltipText(0, 1);
    // Without a modem of its own, the desk's board sounds another station's alarm.
    ASSERT_FALSE(form().Modem1->Running);
    form().CheckStatusDevices();
    EXPECT_EQ(sounds.Count(Sound::Alarm), 0);
    update.events = {{4, Str("Приёмник 2"_cp), "main", 3, now, std::string(status::kAlarm), "+7911Garazh",
                      AlarmSmsText(), "Garazh"}};
    desk.ShowCentreUpdate(update);
    form().CheckStatusDevices();
    EXPECT_EQ(sounds.Count(Sound::Alarm), 1);

    // The queue's alarm goes to the desk's list.
    update = {};
    update.alarmsChanged = true;
    centre::CentreAlarm& alarm = update.alarms.emplace_back();
    alarm.id = 7;
    alarm.station = Str("Приёмник 2"_cp);
    alarm.seq = 2;
    alarm.shortName = "Ofis";
    alarm.tel = "+7911Ofis";
    alarm.kind = "Intrusion";
    alarm.state = "open";
    alarm.openedAt = now;
    desk.ShowCentreUpdate(update);
    ASSERT_EQ(desk.Desk().Rows().size(), 1u);
    EXPECT_EQ(desk.Desk().Rows()[0].centreId, 7);
    EXPECT_EQ(desk.Desk().Rows()[0].shortName, "Ofis");

    const QAbstractItemModel& grid = *window->CentreEventsGrid->model();
    ASSERT_EQ(grid.rowCount(), 4);
    std::vector<std::string> titles;
    for (int c = 0; c < grid.columnCount(); ++c)
        titles.push_back(FromQ(grid.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString()));
    EXPECT_EQ(titles, (std::vector<std::string>{Str("Станция"_cp), Str("Дата/время"_cp), Str("Статус"_cp),
                                                Str("Телефон"_cp), Str("Событие"_cp), Str("Объект"_cp)}));
    const auto text = [&](int row, int column) { return FromQ(grid.index(row, column).data().toString()); };
    EXPECT_EQ(text(2, 0) + "|" + text(2, 1) + "|" + text(2, 2) + "|" + text(2, 3) + "|" + text(2, 5),
              Str("Приёмник 2|"_cp) + FormatDateTime(now) + Str("|На охране|+7911Ofis|Ofis"_cp));
    // In the status's colour and with its icon, as the main journal draws it.
    const RowColour alarmColour = StatusRowColour(status::kAlarm);
    ASSERT_FALSE(alarmColour.isBase);
    EXPECT_EQ(grid.index(3, 4).data(Qt::ForegroundRole).value<QColor>(), QColor(alarmColour.rgb.r, alarmColour.rgb.g, alarmColour.rgb.b));
    EXPECT_FALSE(grid.index(3, 2).data(Qt::DecorationRole).value<QPixmap>().isNull());
    EXPECT_FALSE(grid.index(3, 4).data(Qt::DecorationRole).isValid());

    // The newest at the bottom, the last thousand kept.
    std::vector<centre::FeedEvent> more;
    for (int i = 1; i <= 1005; ++i)
        more.push_back({2 + i, "R", "ring", i, 46001.0, std::string(status::kOnline), "+7", "ring " + std::to_string(i), ""});
    window->Append(more);
    ASSERT_EQ(grid.rowCount(), 1000);
    EXPECT_EQ(text(0, 4), "ring 6");
    EXPECT_EQ(text(999, 4), "ring 1005");
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

    Create(true);
    for (const std::string& text : dialogs.Texts())
        for (std::string_view mine : {"Список событий пуст!"_cp, "Список состояния объектов пуст."_cp})
            EXPECT_NE(text.substr(0, mine.size()), mine);
    EXPECT_EQ(form().EventsTable.RecordCount(), 2);
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::Event), "first");
    EXPECT_EQ(form().DialEventsTable.TextAt(0, journal::Event), "dial");
    EXPECT_EQ(form().Tiles.GuardStates[TileStates::Index(1, 2)], 2);
}

TEST_F(StationTest, ButtonsThatNeedALoginWarnAndOpenNothing)
{
    Create();
    ShowAndSettle();
    int shown = 0, accessShown = 0;
    ctx().Window(ShownWindow::Modem) = {[&] { ++shown; }, [] {}};
    ctx().Window(ShownWindow::Devices) = {[&] { ++shown; }, [] {}};
    ctx().Window(ShownWindow::Access) = {[&] { ++accessShown; }, [] {}};
    form().PNGButton1Click();
    form().PNGButton2Click();
    form().PNGButton4Click();
    ASSERT_EQ(dialogs.messages.size(), 3u);
    for (const auto& m : dialogs.messages) {
        EXPECT_EQ(m.kind, MsgKind::Warning);
        EXPECT_EQ(m.text, "Авторизация пользователя не выполнена"_cp);
    }
    EXPECT_EQ(shown, 0);
    EXPECT_FALSE(station->MainJournal().isVisible());

    form().PNGButton3Click();
    form().PNGButton5Click();
    std::vector<QString> opened;
    form().OpenUrl = [&](const QString& url) { opened.push_back(url); };
    form().PNGButton6Click();
    EXPECT_EQ(accessShown, 1);
    EXPECT_TRUE(station->HelpForm().isVisible());
    EXPECT_EQ(opened, std::vector<QString>{QString::fromLatin1(THelpForm::kMakerUrl)});
    EXPECT_EQ(dialogs.messages.size(), 3u);
}

TEST_F(StationTest, ToggleButtonsShowCloseAndFollowAWindowClosedByItself)
{
    Create();
    InstallRegister();
    ShowAndSettle();
    LogIn();
    form().PNGButton4Click();
    EXPECT_TRUE(station->MainJournal().isVisible());
    form().PNGButton4Click();
    EXPECT_FALSE(station->MainJournal().isVisible());
    EXPECT_FALSE(ctx().Shown(ShownWindow::WorkJournal));

    form().PNGButton5Click();
    station->HelpForm().close(); // its own close box
    EXPECT_FALSE(ctx().Shown(ShownWindow::Help));
    form().PNGButton5Click();
    EXPECT_TRUE(station->HelpForm().isVisible());

    ctx().Window(ShownWindow::Modem) = {[] {}, [] {}};
    form().ComPort1.SetPort("COM9");
    form().PNGButton1Click();
    form().ComPort1.SetPort("COM8");
    form().PNGButton1Click();
    EXPECT_EQ(station->ModemForm().Edit1->text(), QStringLiteral("COM9"))
        << "the port fields are refreshed when the modem window shows, not when it closes";

    // Closing the device window refills the board from the register.
    ctx().Window(ShownWindow::Devices) = {[] {}, [] {}};
    form().PNGButton2Click();
    devices.push_back({"Sklad", "+1"});
    SyncRegister();
    EXPECT_EQ(board().TileText(0, 0), "");
    form().PNGButton2Click();
    EXPECT_EQ(board().TileText(0, 0), "Sklad");
}

TEST_F(StationTest, NothingIsClippedOrOverlapsAtTheDesignSize)
{
    Create();
    ShowAndSettle();
    EXPECT_EQ(form().size(), QSize(850, 600));
    std::vector<QWidget*> parts{form().PNGButton6, form().PNGButton1, form().PNGButton2, form().PNGButton3,
                                form().PNGButton4, form().PNGButton5, form().StringGrid1, form().GroupBox1,
                                form().DialNumber, form().DialStatus, form().PageControl1, form().Panel1};
    for (QWidget* a : parts) {
        EXPECT_TRUE(form().rect().contains(a->geometry())) << a->objectName().toStdString();
        for (QWidget* b : parts)
            EXPECT_TRUE(a == b || !a->geometry().intersects(b->geometry()))
                << a->objectName().toStdString() << " / " << b->objectName().toStdString();
    }
    const QString longest = ToQ("Статус дозвона: дозвон завершен не успешно"_cp);
    EXPECT_LE(form().DialStatus->fontMetrics().horizontalAdvance(longest), form().DialStatus->width());
    for (QLabel* label : {form().DialNumber, form().Label1, form().Label2})
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    for (QPushButton* b : {form().Button1, form().Button2, form().Button3})
        EXPECT_LT(b->fontMetrics().horizontalAdvance(b->text()), b->width() - 8);
    EXPECT_FALSE(form().Button4->isVisibleTo(&form()));
    if (const char* shots = std::getenv("KORVALEN_SHOT_DIR"))
        form().grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/main-window.png"));
}

std::vector<std::string> TechnoLogLines()
{
    std::vector<std::string> lines;
    std::istringstream in(ReadFileBytes("techno.log"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(24)); // after the date-time
    return lines;
}

TEST_F(StationTest, NoSoundShowsARedBannerAndAJournalLineUntilSoundWorksAgain)
{
    sounds.failing = true;
    Create();
    ShowAndSettle();
    QLabel* banner = station->SoundBanner().Banner();
    ASSERT_TRUE(banner->isVisibleTo(&form())) << "no sound output at start";
    EXPECT_EQ(FromQ(banner->text()), Str("Нет звука: тревоги не будут слышны"_cp));
    EXPECT_TRUE(form().rect().contains(banner->geometry()));
    const QRect tabs = form().PageControl1->tabBar()->geometry().translated(form().PageControl1->pos());
    EXPECT_FALSE(banner->geometry().intersects(tabs)) << "the tabs stay readable";
    EXPECT_EQ(banner->grab().toImage().pixelColor(2, 2), QColor(220, 0, 0));

    // Every failed playback while silent: no further line.
    PlayStationSound(Sound::Alarm);
    PlayStationSound(Sound::Alarm);
    EXPECT_TRUE(banner->isVisibleTo(&form()));
    sounds.failing = false;
    PlayStationSound(Sound::Alarm);
    EXPECT_FALSE(banner->isVisibleTo(&form())) << "the banner goes when sound works again";
    sounds.failing = true;
    PlayStationSound(Sound::On);
    EXPECT_TRUE(banner->isVisibleTo(&form())) << "a failed playback brings it back";
    form().showMaximized();
    ShowAndSettle();
    EXPECT_TRUE(form().rect().contains(banner->geometry())) << "it follows the window";
    EXPECT_FALSE(banner->geometry().intersects(form().PageControl1->tabBar()->geometry().translated(form().PageControl1->pos())));

    EXPECT_EQ(TechnoLogLines(), (std::vector<std::string>{
                                    std::string("red Нет звука: тревоги не будут слышны (нет устройства вывода звука)"),
                                    std::string("green Звук снова работает: тревоги слышны."),
                                    std::string("red Нет звука: тревоги не будут слышны (ошибка воспроизведения on.wav)")}));

    // A journal failure at the same time: the two banners share the row, neither covers the other.
    DurableJournal::Health failing{false, Str("нет места на диске"_cp), 1};
    form().JournalBanner->Watch(Str("журнала"_cp), [&] { return failing; });
    form().JournalBanner->Poll();
    QLabel* journal = form().JournalBanner->Banner();
    ASSERT_TRUE(journal->isVisibleTo(&form()));
    EXPECT_FALSE(journal->geometry().intersects(banner->geometry()));
    const int shared = banner->width();
    EXPECT_GT(shared, 100) << "the sound banner keeps half the row";
    failing.ok = true;
    form().JournalBanner->Poll();
    EXPECT_FALSE(journal->isVisibleTo(&form()));
    EXPECT_GT(banner->width(), shared + 100) << "and has the whole row back";
}

TEST_F(StationTest, AJournalThatCannotBeWrittenShowsARedBannerAndALinePerFailurePeriod)
{
    Create();
    ShowAndSettle();
    form().JournalBanner->Poll();
    EXPECT_FALSE(form().JournalBanner->Banner()->isVisibleTo(&form())) << "both journals write";

    DurableJournal::Health main, dial;
    std::vector<std::string> lines;
    TJournalBanner banner(form(), *form().PageControl1, [&](const std::string& text, Rgb colour) {
        lines.push_back(std::string(colour == kRed ? "red " : colour == kGreen ? "green " : "? ") + text);
    });
    banner.Watch(Str("журнала"_cp), [&] { return main; });
    banner.Watch(Str("журнала обзвона"_cp), [&] { return dial; });
    const std::string mainFailed = Str("Ошибка записи журнала: нет места на диске"_cp);
    const std::string dialFailed = Str("Ошибка записи журнала обзвона: ошибка ввода-вывода"_cp);
    const std::string mainBack = "green " + Str("Запись журнала восстановлена"_cp);
    const std::string dialBack = "green " + Str("Запись журнала обзвона восстановлена"_cp);

    main = {false, Str("нет места на диске"_cp), 1};
    banner.Poll();
    banner.Poll();
    ASSERT_TRUE(banner.Banner()->isVisibleTo(&form()));
    EXPECT_EQ(FromQ(banner.Banner()->text()), mainFailed);
    const QRect tabs = form().PageControl1->tabBar()->geometry().translated(form().PageControl1->pos());
    EXPECT_FALSE(banner.Banner()->geometry().intersects(tabs)) << "the tabs stay readable";
    EXPECT_TRUE(form().rect().contains(banner.Banner()->geometry()));
    EXPECT_EQ(lines, std::vector<std::string>{"red " + mainFailed}) << "one line for the whole period";

    dial = {false, Str("ошибка ввода-вывода"_cp), 1};
    main.ok = true;
    banner.Poll();
    EXPECT_EQ(FromQ(banner.Banner()->text()), dialFailed);
    // A period that began and ended between two looks is told all the same.
    dial = {true, Str("ошибка ввода-вывода"_cp), 2};
    banner.Poll();
    EXPECT_FALSE(banner.Banner()->isVisibleTo(&form()));
    EXPECT_EQ(lines, (std::vector<std::string>{"red " + mainFailed, mainBack, "red " + dialFailed, "red " + dialFailed,
                                               dialBack}));
}

TEST_F(StationTest, TheAutostartItemWritesAndRemovesTheUsersAutostartEntry)
{
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir.path() / "cfg").string()));
    Create();
    ShowAndSettle();
    TStationMenu& menu = station->StationMenu();
    EXPECT_EQ(FromQ(menu.AutostartItem->text()), Str("Запускать при входе в систему"_cp));
    EXPECT_TRUE(menu.AutostartItem->isCheckable());
    EXPECT_TRUE(form().PopupMenu2->actions().contains(menu.AutostartItem)) << "also in the journal's menu";
    EXPECT_TRUE(menu.OpensAt(form().Panel1->geometry().center()));
    EXPECT_TRUE(menu.OpensAt(form().DialStatus->geometry().center()));
    EXPECT_FALSE(menu.OpensAt(board().geometry().center())) << "the board's right click opens the card";
    EXPECT_FALSE(menu.OpensAt(form().PageControl1->geometry().center())) << "the journal has its own menu";

    const std::filesystem::path entry = dir.path() / "cfg/autostart/korvalen.desktop";
    menu.AutostartItem->setChecked(true);
    EXPECT_EQ(ReadFileBytes(entry),
              AutostartEntryText(QCoreApplication::applicationFilePath(), QDir::currentPath()).toStdString());
    EXPECT_TRUE(AutostartEnabled());
    menu.AutostartItem->setChecked(false);
    EXPECT_FALSE(std::filesystem::exists(entry));

    // A place that cannot be written: the operator is told and the tick goes.
    std::filesystem::create_directories(entry);
    dialogs.messages.clear();
    menu.AutostartItem->setChecked(false);
    menu.AutostartItem->setChecked(true);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("korvalen.desktop"), std::string::npos);
    EXPECT_FALSE(menu.AutostartItem->isChecked());
    qunsetenv("XDG_CONFIG_HOME");
}

TEST_F(StationTest, AStationWithSoundShowsNoBanner)
{
    Create();
    ShowAndSettle();
    EXPECT_FALSE(station->SoundBanner().Banner()->isVisibleTo(&form()));
    PlayStationSound(Sound::Alarm);
    EXPECT_FALSE(station->SoundBanner().Banner()->isVisibleTo(&form()));
    EXPECT_TRUE(TechnoLogLines().empty());
}

} // namespace
} // namespace kv::test
