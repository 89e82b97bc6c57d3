// The whole station against the modem simulator, in real time: the operator's
// steps through the windows' own handlers, the modems on pseudo-terminals, the
// files on disk read back with the journal tool after the real close.
#include "tests/e2e/StationE2E.h"

#include "data/Schemas.h"
#include "devices/DeviceRegister.h"
#include "data/TileStates.h"
#include "devicecard/DataControls.h"
#include "devicecard/DeviceUnit.h"
#include "modem/Modem.h"
#include "modemsetup/ModemUnit.h"
#include "tests/support/Cp1251.h"
#include "tests/support/TempDir.h"
#include "users/SecurityUnit.h"
#include "windows/Controls.h"
#include "windows/JournalGrid.h"
#include "windows/ModemLinkUnit.h"
#include "windows/QtText.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <set>

namespace kv::test {
namespace {

using namespace kv::literals;
using namespace std::chrono_literals;

const CardEntry kStore{Str("Склад на Заводской, 12"_cp), Str("Склад"_cp), "+79001000001", "15", true};

bool Exists(const std::filesystem::path& p) { return std::filesystem::exists(p); }

// ------------------------------------------------------------------ first and second start

TEST_F(StationE2E, FirstStartCreatesEveryFileAndTheNextStartRestoresAll)
{
    Start();
    // Each missing file is told once, in creation order: the main window's
    // journals and tile states, the register, the accounts (no "t4.bin" at all,
    // hence "no information" rather than "empty list").
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{Str("Список событий пуст!"_cp),
                                                         Str("Список событий обзвона пуст!\r\nНовый журнал обзвона создан!"_cp),
                                                         Str("Список состояния объектов пуст."_cp),
                                                         Str("Не найдена база устройств!"_cp),
                                                         Str("Нет информации о пользователях!"_cp)}));
    for (MemTable* journal : {&form().EventsTable, &form().DialEventsTable}) {
        ASSERT_EQ(journal->RecordCount(), 1);
        EXPECT_EQ(journal->TextAt(0, journal::Event), "Создание журнала"_cp);
    }
    EXPECT_TRUE(ctx().AdminAccess) << "without accounts anyone may create the first";
    dialogs.messages.clear();

    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::Event), "Пользователь: Администратор вошел в систему"_cp);
    ASSERT_NO_FATAL_FAILURE(AddDevice(kStore));
    ToggleDeviceWindow(); // its close saves the register and refills the board
    EXPECT_FALSE(station->DeviceForm().isVisible());
    EXPECT_EQ(board().TileText(0, 0), kStore.shortName);
    EXPECT_TRUE(form().Schedule.At(0, 0).enabled);
    EXPECT_DOUBLE_EQ(form().Schedule.At(0, 0).intervalMinutes, 15);
    // The modem window writes what it shows each time it closes.
    form().PNGButton1Click();
    form().PNGButton1Click();
    EXPECT_TRUE(dialogs.messages.empty()) << "no error on the way";
    ASSERT_TRUE(Close());

    for (const char* table : {"t1.bin", "t2.bin", "t3.bin", "t4.bin", "t6.bin"})
        EXPECT_TRUE(Exists(dir.path() / table)) << table;
    for (const char* ini : {"config.ini", "user.ini"}) {
        EXPECT_TRUE(Exists(program / ini)) << ini << " belongs beside the program";
        EXPECT_FALSE(Exists(dir.path() / ini)) << ini << " must not land in the working folder";
    }
    ExpectToolReads({"t1.bin", "t2.bin", "t3.bin", "t4.bin", "t6.bin"});

    const auto accounts = ReadTableFile("t4.bin");
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].at("user"), "Администратор");
    EXPECT_EQ(accounts[0].at("password").rfind("$argon2id$", 0), 0u) << "a hash, never the password";
    const auto list = ReadTableFile("t2.bin");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].at("device"), "Склад на Заводской, 12");
    const auto cards = ReadTableFile("t1.bin");
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0].at("k1"), list[0].at("k1")) << "the card belongs to its device";
    EXPECT_EQ(cards[0].at("simplename"), "Склад");
    EXPECT_EQ(cards[0].at("simcard"), "+79001000001");
    EXPECT_EQ(cards[0].at("dialtime"), "15");
    EXPECT_EQ(cards[0].at("dialenable"), "true");
    const auto events = ReadTableFile("t3.bin");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].at("Status"), "Логин");
    EXPECT_EQ(events[0].at("tel"), "GSM-модем");
    EXPECT_EQ(events[0].at("event"), "Пользователь: Администратор вошел в систему");
    EXPECT_EQ(events[0].at("simplename"), "") << "a login row names no device";
    EXPECT_EQ(events[1].at("event"), "Создание журнала");
    const auto dial = ReadTableFile("t6.bin");
    ASSERT_EQ(dial.size(), 1u);
    EXPECT_EQ(dial[0].at("event"), "Создание журнала");
    const std::string config = ReadFileBytes(program / "config.ini");
    for (const char* line : {"CPort=Com1", "CPortBaudRate=9600", "CPort=Com2"})
        EXPECT_NE(config.find(line), std::string::npos) << line << " in\n" << config;
    EXPECT_NE(ReadFileBytes(program / "user.ini").find("LastLoginUser=" + Str("Администратор"_cp)), std::string::npos);

    // The next start: everything is back. Only the tile states are missing
    // still, since they are written by modem 1's worker, which never ran.
    dialogs.messages.clear();
    Start();
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{Str("Список состояния объектов пуст."_cp)});
    EXPECT_FALSE(ctx().AdminAccess) << "accounts exist: only the administrator's login opens the tab";
    EXPECT_EQ(FromQ(station->SecurityForm().UserEdit->text()), "Администратор"_cp) << "the last user is offered";
    EXPECT_EQ(board().TileText(0, 0), kStore.shortName);
    EXPECT_EQ(station->Register().FindNumberByShortName(kStore.shortName, ""), kStore.number);
    ASSERT_EQ(form().EventsTable.RecordCount(), 2);
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::Status), "Логин"_cp);
    EXPECT_TRUE(station->DeviceForm().DeviceTable.ReadOnly()) << "nobody logged in yet";

    ASSERT_NO_FATAL_FAILURE(LogInAs(Str("Администратор"_cp), "4711"));
    EXPECT_TRUE(ctx().AdminAccess);
    EXPECT_FALSE(station->DeviceForm().DeviceTable.ReadOnly());
    ASSERT_TRUE(Close());
    const auto again = ReadTableFile("t3.bin");
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(RowsWithStatus(again, "Логин").size(), 2u);
    EXPECT_EQ(again[2].at("event"), "Создание журнала");
}

// ------------------------------------------------------------------ windows open at the close

TEST_F(StationE2E, WindowsLeftOpenAtTheCloseKeepWhatTheyHold)
{
    Start();
    dialogs.messages.clear();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    ASSERT_NO_FATAL_FAILURE(AddDevice(kStore)); // the device window stays open
    ASSERT_NO_FATAL_FAILURE(CreateAccount(Str("Оператор"_cp), "1")); // so does the access window
    form().PNGButton1Click();
    Type(station->ModemForm().Edit3, "57600", true);
    ASSERT_TRUE(station->DeviceForm().isVisible() && station->SecurityForm().isVisible() &&
                station->ModemForm().isVisible());
    ASSERT_TRUE(Close());

    const auto cards = ReadTableFile("t1.bin");
    ASSERT_EQ(cards.size(), 1u) << "the register was lost";
    EXPECT_EQ(cards[0].at("simplename"), "Склад");
    EXPECT_EQ(ReadTableFile("t2.bin").size(), 1u);
    EXPECT_EQ(ReadTableFile("t4.bin").size(), 2u) << "the new account was lost";
    EXPECT_NE(ReadFileBytes(program / "config.ini").find("CPortBaudRate=57600"), std::string::npos);

    dialogs.messages.clear();
    Start();
    for (const std::string& text : dialogs.Texts())
        EXPECT_NE(text, "Не найдена база устройств!"_cp);
    EXPECT_EQ(board().TileText(0, 0), kStore.shortName);
}

// ------------------------------------------------------------------ the journal menu

TEST_F(StationE2E, JournalSavedClearedAndOpenedBackThroughTheMenu)
{
    Start();
    dialogs.messages.clear(); // those of a first start
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    MemTable& journal = form().EventsTable;
    ASSERT_EQ(journal.RecordCount(), 2);
    const std::string newest = journal.TextAt(0, journal::Event);

    dialogs.fileAnswers.push_back(QStringLiteral("saved")); // typed without extension
    form().N3Click();
    ASSERT_TRUE(Exists(dir.path() / "saved.jrn")) << "the default extension is added";
    EXPECT_EQ(journal.RecordCount(), 2) << "saving leaves the journal as it is";

    dialogs.yesNoAnswers.push_back(true);
    form().N6Click();
    EXPECT_EQ(dialogs.questions.back(), "Подтвердите удаление журнала событий"_cp);
    EXPECT_EQ(journal.RecordCount(), 0);
    EXPECT_EQ(form().DBGrid2->model()->rowCount(), 0);
    // The cleared journal is on disk at once: a crash now cannot bring the rows back.
    EXPECT_EQ(RunJournalTool({"check", "t3.bin"}).output, "OK 0\n");

    dialogs.fileAnswers.push_back(QStringLiteral("saved.jrn"));
    dialogs.yesNoAnswers.push_back(true);
    form().N4Click();
    EXPECT_EQ(dialogs.questions.back(), "Внимание! Текущий журнал событий будет удален!"_cp);
    ASSERT_EQ(journal.RecordCount(), 2);
    EXPECT_EQ(journal.TextAt(0, journal::Event), newest);
    EXPECT_EQ(form().DBGrid2->model()->rowCount(), 2);
    EXPECT_TRUE(dialogs.messages.empty());

    // The opened journal is the main journal now: new rows go in front of it.
    form().PNGButton3Click();
    station->SecurityForm().RbButton1Click(); // log out
    EXPECT_FALSE(ctx().LoggedIn);
    ASSERT_TRUE(Close());

    ExpectToolReads({"saved.jrn", "t3.bin"});
    EXPECT_EQ(RunJournalTool({"check", "saved.jrn"}).output, "OK 2\n");
    const auto saved = ReadTableFile("saved.jrn");
    const auto events = ReadTableFile("t3.bin");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].at("event"), "Пользователь: Администратор вышел из системы");
    EXPECT_EQ(std::vector<CsvRow>(events.begin() + 1, events.end()), saved)
        << "the rows opened back are the rows saved, time stamps included";
}

// ------------------------------------------------------------------ one SMS, end to end

TEST_F(StationE2E, LoginInitialiseAndOneSmsReachTheJournalAndTheBoard)
{
    StartSimulator();
    Start();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    ASSERT_NO_FATAL_FAILURE(AddDevice({Str("Офис на Ленина, 5"_cp), Str("Офис"_cp), "+79001000002"}));
    ToggleDeviceWindow();
    ASSERT_NO_FATAL_FAILURE(InitialiseModems());

    sim->Command("sms 1 +79001000002 Снято с охраны. Офис");
    MemTable& journal = form().EventsTable;
    ASSERT_TRUE(Until([&] { return FindRow(journal, "Снято с охраны"_cp) >= 0; }, 60s))
        << "no disarmed row within 60 s";
    const int row = FindRow(journal, "Снято с охраны"_cp);
    EXPECT_EQ(row, 0) << "the newest row";
    const QAbstractItemModel& grid = *form().DBGrid2->model();
    auto cell = [&](int column) { return FromQ(grid.index(row, column).data().toString()); };
    EXPECT_EQ(cell(2), "Офис"_cp);
    EXPECT_EQ(cell(3), "+79001000002");
    EXPECT_EQ(cell(4), "Новое сообщение:Снято с охраны. Офис"_cp);
    EXPECT_EQ(form().DBGrid2->RowColour(row), QColor(96, 191, 0));
    EXPECT_EQ(form().DBGrid2->RowIcon(row), 5) << "the open green padlock";
    EXPECT_EQ(Guard(0, 0), 1);
    EXPECT_TRUE(Until([&] { return Same(TileBackground(0, 0), 164, 255, 164); }, 5s)) << "the tile is not light green";
    EXPECT_TRUE(Until([&] { return sounds.Count(Sound::Off) >= 1; }, 5s));
    // The worker keeps the tile states on disk at its signal polls.
    EXPECT_TRUE(Until(
        [&] {
            const std::string states = ReadFileBytes(dir.path() / "t5.bin");
            return states.size() == 1800 && states[static_cast<std::size_t>(TileStates::Index(0, 0))] == 1;
        },
        30s, 200ms))
        << "t5.bin does not hold the disarmed tile";
    ASSERT_TRUE(Close());
    EXPECT_NE(ReadFileBytes(program / "config.ini").find("CPort=" + sim->Path(1)), std::string::npos)
        << "the modem window's close wrote back the ports it used";

    const auto events = ReadTableFile("t3.bin");
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].at("Status"), "Снято с охраны");
    EXPECT_EQ(events[0].at("tel"), "+79001000002");
    EXPECT_EQ(events[0].at("event"), "Новое сообщение:Снято с охраны. Офис");
    EXPECT_EQ(events[0].at("simplename"), "Офис");

    // A start within a quarter of an hour finds the tile as it was.
    dialogs.messages.clear();
    Start();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Guard(0, 0), 1);
    EXPECT_TRUE(Same(TileBackground(0, 0), 164, 255, 164));
}

// ------------------------------------------------------------------ armed, then alarm

TEST_F(StationE2E, ArmedThenAlarmBlinksAndSoundsUntilTheTileIsSelectedThenStaysLit)
{
    StartSimulator();
    Start();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    ASSERT_NO_FATAL_FAILURE(AddDevice(kStore));
    ToggleDeviceWindow();
    ASSERT_NO_FATAL_FAILURE(OpenTechnoJournal());
    ASSERT_NO_FATAL_FAILURE(InitialiseModems());
    MemTable& journal = form().EventsTable;

    sim->Command("sms 1 +79001000001 Поставлено на охрану. Объект в норме");
    ASSERT_TRUE(Until([&] { return FindRow(journal, "На охране"_cp) >= 0; }, 60s)) << "no armed row within 60 s";
    EXPECT_EQ(journal.TextAt(0, journal::Tel), "+79001000001");
    EXPECT_EQ(journal.TextAt(0, journal::Event), "Новое сообщение:Поставлено на охрану. Объект в норме"_cp);
    EXPECT_EQ(journal.TextAt(0, journal::SimpleName), kStore.shortName);
    EXPECT_EQ(Guard(0, 0), 2);
    EXPECT_EQ(AlarmMark(0, 0), 0);
    EXPECT_TRUE(Until([&] { return Same(TileBackground(0, 0), 255, 255, 0); }, 5s)) << "the armed tile is not yellow";
    EXPECT_TRUE(Until([&] { return sounds.Count(Sound::On) >= 1; }, 5s));
    EXPECT_TRUE(TechnoHas("Есть принятое сообщение."));
    EXPECT_TRUE(TechnoHas("Сообщение:Поставлено на охрану. Объект в норме"));
    EXPECT_TRUE(TechnoHas("Выбрана кодировка UNICODE")) << "the start-up's own lines are there too";
    EXPECT_EQ(sounds.Count(Sound::Alarm), 0);

    // The device's alarm phrase, with its four Latin letters.
    const std::string alarm = std::string("Вним") + "a" + "ние Т" + "PEB" + "ОГА! Сработал датчик зоны 2";
    sim->Command("sms 1 +79001000001 " + alarm);
    ASSERT_TRUE(Until([&] { return FindRow(journal, "Тревога"_cp) >= 0; }, 60s)) << "no alarm row within 60 s";
    EXPECT_EQ(journal.TextAt(0, journal::Event), Str("Новое сообщение:"_cp) + Utf8ToCp1251(alarm));
    EXPECT_EQ(Guard(0, 0), 3);
    EXPECT_EQ(AlarmMark(0, 0), 3);
    EXPECT_TRUE(TechnoHas(alarm));

    // The real 500 ms tick: the tile alternates, and the alarm restarts each time.
    std::set<QRgb> seen;
    EXPECT_TRUE(Until(
        [&] {
            seen.insert(TileBackground(0, 0).rgb());
            return seen.count(QColor(244, 117, 142).rgb()) && seen.count(QColor(255, 255, 255).rgb());
        },
        5s, 50ms))
        << "the alarm tile does not blink";
    const int sounded = sounds.Count(Sound::Alarm);
    EXPECT_TRUE(Until([&] { return sounds.Count(Sound::Alarm) >= sounded + 3; }, 5s)) << "the alarm is not restarted";

    // The operator clicks the tile.
    const QPoint at = board().CellRect(0, 0).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, board().mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&board(), &press);
    EXPECT_EQ(AlarmMark(0, 0), 0);
    EXPECT_EQ(Guard(0, 0), 3) << "the alarm state stays until the next armed or disarmed message";
    // A tick that read the mark just before the click may still have its sound
    // on the way; the ticks begun after it have sounded nothing.
    ASSERT_TRUE(WaitTicks(2, 5s)) << "the board tick stopped";
    const int afterAck = sounds.Count(Sound::Alarm);
    ASSERT_TRUE(WaitTicks(4, 8s)) << "the board tick stopped";
    EXPECT_EQ(sounds.Count(Sound::Alarm), afterAck) << "the acknowledged alarm still sounds";
    // Three ticks of 500 ms: an acknowledged alarm stays lit without blinking.
    std::set<QRgb> still;
    EXPECT_FALSE(Until(
        [&] {
            still.insert(TileBackground(0, 0).rgb());
            return still.size() >= 2;
        },
        1500ms, 50ms))
        << "an acknowledged alarm tile blinks";
    EXPECT_EQ(still, std::set<QRgb>{QColor(244, 117, 142).rgb()});

    // A right-click on the tile opens the device's card with its newest events.
    const QPoint right = board().CellRect(0, 0).center();
    QMouseEvent rightPress(QEvent::MouseButtonPress, right, board().mapToGlobal(right), Qt::RightButton,
                           Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(&board(), &rightPress);
    TDeviceForm& card = station->DeviceForm();
    ASSERT_TRUE(card.isVisible()) << "the card did not open";
    EXPECT_EQ(FromQ(card.DBEdit4->text()), kStore.shortName);
    // The click handled the alarm on record, under the device's number.
    const std::string handled = Str("Обработано: Принята с табло. (оператор Администратор, ждала 0:"_cp);
    EXPECT_EQ(FromQ(card.LastEvents->item(0, 2)->text()).rfind(handled, 0), 0u);
    EXPECT_EQ(FromQ(card.LastEvents->item(1, 2)->text()), Str("Новое сообщение:"_cp) + Utf8ToCp1251(alarm));
    EXPECT_EQ(FromQ(card.LastEvents->item(2, 2)->text()), "Новое сообщение:Поставлено на охрану. Объект в норме"_cp);
    EXPECT_TRUE(card.LastEvents->item(3, 2)->text().isEmpty());
    ASSERT_TRUE(Close());

    // Acknowledged is not handled: the close leaves the row on record as such.
    const auto events = ReadTableFile("t3.bin");
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0].at("Status"), "Не обработано");
    EXPECT_EQ(events[0].at("tel"), "+79001000001");
    EXPECT_EQ(events[1].at("Status"), "Обработка");
    EXPECT_EQ(events[1].at("tel"), "+79001000001");
    EXPECT_EQ(events[1].at("simplename"), "Склад");
    EXPECT_EQ(events[2].at("Status"), "Тревога");
    EXPECT_EQ(events[2].at("event"), "Новое сообщение:" + alarm);
    EXPECT_EQ(events[2].at("simplename"), "Склад");
    EXPECT_EQ(events[3].at("Status"), "На охране");
}

// ------------------------------------------------------------------ a command from the card

TEST_F(StationE2E, CardCommandAndBalanceRequestsReachTheModemsAndTheirAnswersAreRecorded)
{
    StartSimulator();
    Start();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    ASSERT_NO_FATAL_FAILURE(AddDevice(kStore)); // the card stays open on this device
    ASSERT_NO_FATAL_FAILURE(InitialiseModems());
    ASSERT_TRUE(WaitModem1Ready()) << "modem 1's start-up did not get through within 60 s";
    TDeviceForm& card = station->DeviceForm();
    ASSERT_TRUE(card.isVisible());
    ASSERT_TRUE(card.InfoButton->isEnabled());

    card.InfoButtonClick();
    // Four exchanges, each with the worker's pauses, lie between the click and its confirmation.
    EXPECT_EQ(FromQ(card.StatusEdit->text()), "Ожидание..."_cp);
    EXPECT_FALSE(card.InfoButton->isEnabled() || card.OnAlarmButton->isEnabled() || card.OffAlarmButton->isEnabled() ||
                 card.TempButton->isEnabled());
    EXPECT_TRUE(card.Rele1ButtonON->isEnabled()) << "the relay buttons are never disabled";

    MemTable& journal = form().EventsTable;
    ASSERT_TRUE(Until([&] { return FindRow(journal, "Сообщение отправлено"_cp) >= 0; }, 60s))
        << "no confirmation within 60 s";
    // On record with the device's number and short name and the command's name.
    EXPECT_EQ(journal.TextAt(0, journal::Tel), kStore.number);
    EXPECT_EQ(journal.TextAt(0, journal::SimpleName), kStore.shortName);
    EXPECT_EQ(journal.TextAt(0, journal::Event), "Команда отправлена: Запрос состояния"_cp);
    // The status and the buttons follow the row in the worker's order.
    EXPECT_TRUE(Until([&] { return FromQ(card.StatusEdit->text()) == "Сообщение отправлено"_cp; }, 5s));
    EXPECT_TRUE(Until([&] { return card.InfoButton->isEnabled(); }, 5s));
    EXPECT_TRUE(card.OnAlarmButton->isEnabled() && card.OffAlarmButton->isEnabled() && card.TempButton->isEnabled());

    // As the simulator lists them: CR and Ctrl-Z escaped, quotes as they are.
    const std::vector<std::string> command = {"AT+CSCS=\"IRA\"\\r",           "AT+CSMP=17,173,0,0\\r",
                                              "AT+CMGS=\"+79001000001\"\\r", "*8411#_info#\\x1a",
                                              "AT+CSCS=\"UCS2\"\\r",          "AT+CSMP=17,167,0,25\\r"};
    ASSERT_TRUE(Until(
        [&] {
            const auto& lines = sim->SentLines(1);
            auto from = std::find(lines.begin(), lines.end(), command[0]);
            return std::search(from, lines.end(), command.begin() + 4, command.end()) != lines.end();
        },
        20s, 100ms))
        << "the character set is not switched back to UCS2";
    const auto& lines = sim->SentLines(1);
    auto at = std::find(lines.begin(), lines.end(), command[0]);
    for (const std::string& line : command) {
        at = std::find(at, lines.end(), line);
        ASSERT_NE(at, lines.end()) << line << " missing or out of order";
    }
    const auto send = std::find(lines.begin(), lines.end(), command[2]);
    ASSERT_NE(send + 1, lines.end());
    EXPECT_EQ(*(send + 1), command[3]) << "nothing may come between the send command and its text";
    const auto outbox = sim->Command("outbox 1");
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_NE(outbox[0].find(" IRA +79001000001 *8411#_info#"), std::string::npos) << outbox[0];

    // The balance of each modem's SIM, asked from the modem window.
    form().PNGButton1Click();
    TModemForm& modems = station->ModemForm();
    modems.RbButton2Click();
    ASSERT_TRUE(Until([&] { return FindRow(journal, "Баланс"_cp) >= 0; }, 30s)) << "no balance of modem 1 within 30 s";
    EXPECT_EQ(journal.TextAt(0, journal::Event), "Баланс: 150.00 р."_cp);
    EXPECT_EQ(FromQ(modems.BalanceInfo->toPlainText()), "Баланс: 150.00 р."_cp);
    modems.PNGButton4Click();
    MemTable& dial = form().DialEventsTable;
    ASSERT_TRUE(Until([&] { return FindRow(dial, "Баланс"_cp) >= 0; }, 30s)) << "no balance of modem 2 within 30 s";
    EXPECT_EQ(dial.TextAt(0, journal::Tel), "GSM-модем №2"_cp);
    EXPECT_EQ(dial.TextAt(0, journal::Event), "Баланс: 150.00 р."_cp);
    EXPECT_TRUE(Until([&] { return FromQ(modems.BalanceInfo->toPlainText()) == "Модем 2(обзвон):Баланс: 150.00 р."_cp; },
                      5s));
    ASSERT_TRUE(Close());

    const auto events = ReadTableFile("t3.bin");
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].at("Status"), "Баланс");
    EXPECT_EQ(events[1].at("Status"), "Сообщение отправлено");
    EXPECT_EQ(events[1].at("tel"), kStore.number);
    EXPECT_EQ(events[1].at("event"), "Команда отправлена: Запрос состояния");
    const auto dialRows = ReadTableFile("t6.bin");
    ASSERT_FALSE(dialRows.empty());
    EXPECT_EQ(dialRows[0].at("event"), "Баланс: 150.00 р.");
}

// ------------------------------------------------------------------ an alarm call

TEST_F(StationE2E, AlarmCallIsJournalledAnsweredAndHungUp)
{
    StartSimulator();
    Start();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    ASSERT_NO_FATAL_FAILURE(AddDevice(kStore));
    ToggleDeviceWindow();
    ASSERT_NO_FATAL_FAILURE(InitialiseModems());

    sim->Command("ring 1 +79001000001");
    MemTable& journal = form().EventsTable;
    ASSERT_TRUE(Until([&] { return FindRow(journal, "Тревога"_cp) >= 0; }, 60s)) << "no alarm row within 60 s";
    const int row = FindRow(journal, "Тревога"_cp);
    EXPECT_EQ(journal.TextAt(row, journal::Tel), "+79001000001");
    EXPECT_EQ(journal.TextAt(row, journal::Event), "\"ТРЕВОГА\" - входящий вызов с телефона"_cp);
    EXPECT_EQ(journal.TextAt(row, journal::SimpleName), kStore.shortName);
    // The caller's tile goes to alarm right after the row.
    EXPECT_TRUE(Until([&] { return Guard(0, 0) == 3 && AlarmMark(0, 0) == 3; }, 5s));
    EXPECT_TRUE(Until([&] { return sounds.Count(Sound::Alarm) >= 2; }, 5s)) << "the board does not sound the alarm";

    ASSERT_TRUE(Until([&] { return Sent(1, "ATH\\r"); }, 30s, 100ms)) << "the call is not hung up";
    const auto& lines = sim->SentLines(1);
    const auto clcc = std::find(lines.begin(), lines.end(), "AT+CLCC\\r");
    const auto answer = std::find(clcc, lines.end(), "ATA\\r");
    EXPECT_NE(clcc, lines.end());
    ASSERT_NE(answer, lines.end()) << "the call is not answered after it was listed";
    EXPECT_NE(std::find(answer, lines.end(), "ATH\\r"), lines.end()) << "hung up before it was answered";
    ASSERT_TRUE(Close());

    const auto events = ReadTableFile("t3.bin");
    const auto alarms = RowsWithStatus(events, "Тревога");
    ASSERT_FALSE(alarms.empty());
    EXPECT_EQ(alarms.back().at("tel"), "+79001000001");
    EXPECT_EQ(alarms.back().at("event"), "\"ТРЕВОГА\" - входящий вызов с телефона");
}

// ------------------------------------------------------------------ modem 1 silent and back

TEST_F(StationE2E, SilentModemIsReportedAndItsReturnRecordedOnce)
{
    StartSimulator();
    Start();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    ASSERT_NO_FATAL_FAILURE(AddDevice(kStore));
    ToggleDeviceWindow();
    ASSERT_NO_FATAL_FAILURE(OpenTechnoJournal());
    ASSERT_NO_FATAL_FAILURE(InitialiseModems());

    sim->Command("silent 1 on");
    ASSERT_TRUE(Until([&] { return TechnoHas("Ошибка обмена по таймауту..."); }, 60s)) << "no time-out within 60 s";
    EXPECT_TRUE(Until([&] { return station->LinkErrorForm().isVisible(); }, 5s)) << "the link-lost alert";
    EXPECT_TRUE(Until([&] { return sounds.Count(Sound::Alarm) >= 1; }, 5s));
    EXPECT_TRUE(Until([&] { return form().Modem1->LinkLost.load(); }, 5s));

    sim->Command("silent 1 off");
    const std::string restored = Str("Соединение с GSM-модулем восстановлено"_cp);
    auto restores = [&] {
        int n = 0;
        for (int r = 0; r < form().EventsTable.RecordCount(); ++r)
            n += form().EventsTable.TextAt(r, journal::Event) == restored;
        return n;
    };
    ASSERT_TRUE(Until([&] { return restores() >= 1; }, 60s)) << "no restore row within 60 s";
    EXPECT_FALSE(form().Modem1->LinkLost);
    EXPECT_TRUE(form().ComPort1.Connected()) << "the port is open again";
    // Two more memory polls answered: the link is up and nothing is restored again.
    auto polls = [&] {
        const auto& lines = sim->SentLines(1);
        return std::count(lines.begin(), lines.end(), "AT+CPMS?\\r");
    };
    const auto before = polls();
    ASSERT_TRUE(Until([&] { return polls() >= before + 2; }, 30s, 100ms)) << "the polls did not go on";
    EXPECT_EQ(restores(), 1);

    // Silent again (a modem unplugged), and the operator closes the station while
    // an exchange waits for its answer: the close does not sit out the wait, and
    // the exit raises no link-lost alarm.
    sim->Command("silent 1 on");
    // Within a few seconds the worker has sent a poll into the silence, unless it
    // still waits for the answer to one sent just before: either way it waits.
    const std::size_t sentBefore = sim->SentLines(1).size();
    Until([&] { return sim->SentLines(1).size() > sentBefore; }, 4s, 50ms);
    auto timeouts = [&] {
        const std::string text = TechnoText();
        std::size_t n = 0;
        for (std::size_t at = text.find("Ошибка обмена по таймауту"); at != std::string::npos;
             at = text.find("Ошибка обмена по таймауту", at + 1))
            ++n;
        return n;
    };
    const std::size_t timeoutsBefore = timeouts();
    const int alarmsBefore = sounds.Count(Sound::Alarm);
    const auto closing = std::chrono::steady_clock::now();
    ASSERT_TRUE(form().close());
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 3s) << "the silent modem held the close";
    EXPECT_EQ(timeouts(), timeoutsBefore);
    EXPECT_EQ(sounds.Count(Sound::Alarm), alarmsBefore);
    station.reset();

    const auto events = ReadTableFile("t3.bin");
    int onDisk = 0;
    for (const CsvRow& row : events)
        onDisk += row.at("event") == "Соединение с GSM-модулем восстановлено";
    EXPECT_EQ(onDisk, 1);
}

// ------------------------------------------------------------------ the ring-round

TEST_F(StationE2E, RingRoundJournalsTheAnsweringAndTheSilentDevice)
{
    StartSimulator();
    sim->Command("dial 2 busy 2 +79001000001");
    sim->Command("dial 2 never +79001000006");
    Start();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    // The answering device first with an interval longer than a call (25 s), so
    // that its own next call does not keep the silent one waiting; the silent
    // one with a short interval, so that it is called first.
    ASSERT_NO_FATAL_FAILURE(AddDevice({Str("Склад на Заводской, 12"_cp), Str("Склад"_cp), "+79001000001", "0.5", true}));
    ASSERT_NO_FATAL_FAILURE(AddDevice({Str("Дача в Сосновке"_cp), Str("Дача"_cp), "+79001000006", "0.05", true}));
    ToggleDeviceWindow();
    ASSERT_NO_FATAL_FAILURE(OpenTechnoJournal());
    ASSERT_NO_FATAL_FAILURE(InitialiseModems());
    form().Button1Click(); // the ring-round already runs: its schedule starts again from now
    EXPECT_EQ(FromQ(form().DialStatus->text()), "Статус дозвона: ожидание"_cp);

    ASSERT_TRUE(Until([&] { return FromQ(form().DialNumber->text()) == "Дозвон: +79001000006"_cp; }, 30s))
        << "the silent device is not called";
    EXPECT_EQ(FromQ(form().DialStatus->text()), "Статус дозвона: идет дозвон"_cp);
    // A failure becomes final only after seven failed calls a minute apart; the
    // modem window's setting makes the first one final, set well before its verdict.
    form().DialVars.failuresToReport = 1;

    MemTable& dial = form().DialEventsTable;
    ASSERT_TRUE(Until([&] { return FindRow(dial, "Нет связи"_cp) >= 0; }, 60s)) << "no failure row within 60 s";
    EXPECT_EQ(FromQ(form().DialStatus->text()), "Статус дозвона: дозвон завершен не успешно"_cp);
    EXPECT_EQ(dial.TextAt(0, journal::Tel), "+79001000006");
    EXPECT_EQ(dial.TextAt(0, journal::Event), "Дозвон завершен не успешно"_cp);
    EXPECT_EQ(dial.TextAt(0, journal::SimpleName), "Дача"_cp);
    // The journal line, the sound and the tile's mark follow the row.
    EXPECT_TRUE(Until([&] { return Info(0, 1) == 9; }, 5s)) << "the silent device's tile";
    EXPECT_EQ(Info(0, 0), 0);
    EXPECT_TRUE(Until([&] { return sounds.Count(Sound::Alarm) >= 1; }, 5s));
    EXPECT_TRUE(TechnoHas("Дозвон завершен НЕ УДАЧНО. Телефон:+79001000006. Попытка: 1"));

    ASSERT_TRUE(Until([&] { return FindRow(dial, "На связи"_cp) >= 0; }, 60s)) << "no success row within 60 s";
    EXPECT_EQ(FromQ(form().DialStatus->text()), "Статус дозвона: дозвон завершен успешно"_cp);
    EXPECT_EQ(dial.TextAt(0, journal::Tel), "+79001000001");
    EXPECT_EQ(dial.TextAt(0, journal::SimpleName), "Склад"_cp);
    // Failures are counted per device: the silent one's count is not this one's.
    EXPECT_TRUE(Until([&] { return TechnoHas("Дозвон завершен УСПЕШНО. Телефон:+79001000001. Попытка: 1"); }, 5s));
    EXPECT_TRUE(Sent(2, "ATD+79001000006;\\r"));
    EXPECT_TRUE(Sent(2, "ATH\\r")) << "the silent call is hung up";
    EXPECT_TRUE(Sent(2, "ATD+79001000001;\\r"));
    EXPECT_EQ(CountRows(form().EventsTable, "Нет связи"_cp), 0) << "the ring-round has a journal of its own";

    form().Button2Click();
    EXPECT_TRUE(Until([&] { return !form().DialThreadLive(); }, 10s)) << "the ring-round did not stop";
    EXPECT_EQ(FromQ(form().DialStatus->text()), "Статус дозвона: ожидание"_cp);
    EXPECT_TRUE(form().CommThreadLive()) << "modem 1 goes on";
    ASSERT_TRUE(Close());

    ExpectToolReads({"t6.bin"});
    const auto rows = ReadTableFile("t6.bin");
    // The silent device was due before the answering one once or twice (its
    // interval is shorter than a call): each of its calls failed finally.
    ASSERT_GE(rows.size(), 3u);
    ASSERT_LE(rows.size(), 4u);
    EXPECT_EQ(rows[0].at("Status"), "На связи");
    EXPECT_EQ(rows[0].at("tel"), "+79001000001");
    EXPECT_EQ(rows[0].at("event"), "Дозвон завершен успешно");
    EXPECT_EQ(rows[0].at("simplename"), "Склад");
    for (std::size_t i = 1; i + 1 < rows.size(); ++i) {
        EXPECT_EQ(rows[i].at("Status"), "Нет связи");
        EXPECT_EQ(rows[i].at("tel"), "+79001000006");
        EXPECT_EQ(rows[i].at("event"), "Дозвон завершен не успешно");
        EXPECT_EQ(rows[i].at("simplename"), "Дача");
    }
    EXPECT_EQ(rows.back().at("event"), "Создание журнала");
}

} // namespace
} // namespace kv::test
