// The status board: size from the window, colours, blinking, sounds,
// acknowledgement, the right-click, and states coming from other threads.
#include "tests/station/StationFixture.h"
#include "modemsetup/ModemUnit.h"
#include "devicecard/DataControls.h"
#include "devicecard/DeviceUnit.h"

#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TileStates.h"
#include "core/AlarmDesk.h"
#include "core/ContactWatch.h"
#include "station/OperatorDesk.h"
#include "timing/DateTime.h"
#include "windows/BoardLegend.h"
#include "windows/Controls.h"
#include "windows/HelpUnit.h"
#include "windows/JournalGrid.h"
#include "windows/QtText.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolTip>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

namespace kv::test {
namespace {

const QColor kWhite(255, 255, 255);
const QColor kYellow(255, 255, 0);
const QColor kLightGreen(164, 255, 164);
const QColor kAlarmRed(244, 117, 142);
const std::string kAlarmSms = Str("Новое сообщение:Вним"_cp) + "a" + Str("ние Т"_cp) + "PEB" + Str("ОГА"_cp);

using namespace kv::literals;

class Board : public StationTest {
protected:
    void SetUp() override
    {
        Create();
        InstallRegister();
        ShowAndSettle();
    }
    void Resize(int w, int h)
    {
        form().setMinimumSize(0, 0);
        form().resize(w, h);
        Settle();
    }
    void Press(Qt::MouseButton button, int column, int row)
    {
        const QPointF at = board().CellRect(column, row).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, board().mapToGlobal(at), button, button, Qt::NoModifier);
        QApplication::sendEvent(&board(), &press);
        Settle();
    }
    void Tick()
    {
        form().CheckStatusDevices();
        Settle();
    }
    void TickTo(bool phase)
    {
        if (board().BlinkPhase() != phase)
            Tick();
    }
    std::uint8_t Guard(int c, int r) { return form().Tiles.GuardStates[TileStates::Index(c, r)]; }
    std::uint8_t Info(int c, int r) { return form().Tiles.InfoStates[TileStates::Index(c, r)]; }
    std::uint8_t Mark(int c, int r) { return form().Tiles.AlarmMarks[TileStates::Index(c, r)]; }
    // Inside the notification picture (disc or triangle) at the tile's top-left corner.
    QColor IconPixel(int c, int r) { return TilePixel(c, r, 10, 24); }

    VirtualClock clock{46000.5};
};

TEST_F(Board, TileCountsFollowTheWindowByWholeTilesWithinOneToThirty)
{
    EXPECT_EQ(board().ColCount(), 5);
    EXPECT_EQ(board().RowCount(), 7);
    EXPECT_EQ(board().size(), QSize(713, 241));
    EXPECT_TRUE(board().rect().contains(board().CellRect(4, 6)));

    form().setWindowState(Qt::WindowMaximized);
    Settle();
    EXPECT_EQ(board().ColCount(), std::clamp(static_cast<int>(std::nearbyint((form().width() - 137) / 142.6)), 1, 30));
    form().setWindowState(Qt::WindowNoState);
    Settle();
    EXPECT_EQ(form().size(), QSize(850, 600));
    EXPECT_EQ(board().ColCount(), 5);

    Resize(1280, 1000);
    EXPECT_EQ(board().ColCount(), 8);  // 8.02
    EXPECT_EQ(board().RowCount(), 19); // 18.6
    EXPECT_EQ(board().size(), QSize(1141, 654));
    // The journal columns fit their grids, "Телефон" deducted as well.
    for (TJournalGrid* grid : {form().DBGrid2, form().DBGrid3}) {
        form().PageControl1->setCurrentWidget(grid->parentWidget());
        Settle();
        EXPECT_EQ(grid->columnWidth(4), grid->width() - 60 - 131 - 100 - 142 - 25);
        EXPECT_LE(grid->columnViewportPosition(4) + grid->columnWidth(4), grid->viewport()->width());
    }
    Resize(120, 200);
    EXPECT_EQ(board().ColCount() * 100 + board().RowCount(), 101);
    Resize(9000, 3000);
    EXPECT_EQ(board().ColCount() * 100 + board().RowCount(), 3030);
}

TEST_F(Board, DevicesFillTheColumnsTopDownAndTheThirtySixthHasNoTile)
{
    for (int i = 1; i <= 36; ++i)
        devices.push_back({"D" + std::to_string(i), "+7" + std::to_string(i)});
    RebuildBoard();
    EXPECT_EQ(board().TileText(0, 6), "D7");
    EXPECT_EQ(board().TileText(1, 0), "D8");
    EXPECT_EQ(board().TileText(4, 6), "D35");
    form().SetGuardState("D36", 2);
    for (int i = 0; i < TileStates::kTiles; ++i)
        EXPECT_EQ(form().Tiles.GuardStates[i], 0);
}

TEST_F(Board, ArmedIsYellowThenDisarmedIsLightGreen)
{
    Place({"Sklad", "Ofis"});
    EXPECT_EQ(TileBackground(0, 0), kWhite);
    form().SetGuardState("Sklad", 2);
    Settle();
    EXPECT_EQ(TileBackground(0, 0), kYellow);
    EXPECT_EQ(TileBackground(0, 1), kWhite);
    form().SetGuardState("Sklad", 1);
    Settle();
    EXPECT_EQ(TileBackground(0, 0), kLightGreen);
}

TEST_F(Board, AnAlarmBlinksAndSoundsEveryTickOnlyWhileModemOneRuns)
{
    Place({"Sklad"});
    form().SetGuardState("Sklad", 3);
    const bool phase = board().BlinkPhase();
    Tick();
    Tick();
    Tick();
    EXPECT_NE(board().BlinkPhase(), phase);
    EXPECT_EQ(sounds.Count(Sound::Alarm), 0) << "modem 1 is not running";

    form().Modem1->Running = true;
    std::vector<QColor> seen;
    for (int tick = 1; tick <= 3; ++tick) {
        Tick();
        EXPECT_EQ(sounds.Count(Sound::Alarm), tick);
        seen.push_back(TileBackground(0, 0));
    }
    EXPECT_EQ(seen[0], seen[2]);
    EXPECT_TRUE((seen[0] == kAlarmRed && seen[1] == kWhite) || (seen[0] == kWhite && seen[1] == kAlarmRed));
}

TEST_F(Board, SelectingATileSilencesItsAlarmAndClearsItsIconButNotBeforeLogin)
{
    Place({"Sklad", "Ofis"});
    form().Modem1->Running = true;
    form().SetGuardState("Sklad", 3);
    form().SetInfoState("Sklad", 4);
    Press(Qt::LeftButton, 0, 0);
    EXPECT_EQ(Mark(0, 0), 3) << "the board takes no clicks before login";

    LogIn();
    TickTo(true);
    EXPECT_NE(IconPixel(0, 0), TileBackground(0, 0));
    EXPECT_GT(sounds.Count(Sound::SmsInfo), 0);
    Press(Qt::LeftButton, 0, 0);
    EXPECT_EQ(Mark(0, 0) + Info(0, 0), 0);
    EXPECT_EQ(Guard(0, 0), 3) << "the alarm state stays until an armed or disarmed message";
    const int alarms = sounds.Count(Sound::Alarm);
    const int infos = sounds.Count(Sound::SmsInfo);
    Tick();
    TickTo(true);
    EXPECT_EQ(sounds.Count(Sound::Alarm), alarms);
    EXPECT_EQ(sounds.Count(Sound::SmsInfo), infos);
    EXPECT_EQ(IconPixel(0, 0), TileBackground(0, 0));

    // A new alarm on the tile already selected: clicking it again acknowledges.
    form().SetGuardState("Sklad", 3);
    Press(Qt::LeftButton, 0, 0);
    EXPECT_EQ(Mark(0, 0), 0);
    // The keyboard acknowledges the tile it moves onto.
    form().SetInfoState("Ofis", 7);
    board().setFocus();
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(&board(), &down);
    EXPECT_EQ(Info(0, 1), 0);
}

TEST_F(Board, AnAcknowledgedAlarmStaysLitWithoutBlinkOrSoundUntilArmedOrDisarmed)
{
    Place({"Sklad", "Ofis"});
    LogIn();
    form().Modem1->Running = true;
    form().SetGuardState("Sklad", 3);
    form().SetGuardState("Ofis", 3);
    Press(Qt::LeftButton, 0, 0);
    std::vector<QColor> sklad, ofis;
    for (int tick = 1; tick <= 4; ++tick) {
        Tick();
        EXPECT_EQ(sounds.Count(Sound::Alarm), tick) << "the office's alarm is nobody's yet";
        sklad.push_back(TileBackground(0, 0));
        ofis.push_back(TileBackground(0, 1));
    }
    EXPECT_EQ(std::count(sklad.begin(), sklad.end(), kAlarmRed), 4) << "acknowledged: steady";
    EXPECT_EQ(std::count(ofis.begin(), ofis.end(), kAlarmRed), 2) << "unacknowledged: blinking";
    EXPECT_NE(ofis[0], ofis[1]);

    // Handled in "Тревоги": acknowledged on the board as well.
    board().Acknowledge("Ofis");
    const int alarms = sounds.Count(Sound::Alarm);
    for (int tick = 0; tick < 3; ++tick) {
        Tick();
        EXPECT_EQ(TileBackground(0, 1), kAlarmRed);
    }
    EXPECT_EQ(sounds.Count(Sound::Alarm), alarms);
    EXPECT_EQ(Guard(0, 0), 3);

    form().SetGuardState("Sklad", 1);
    form().SetGuardState("Ofis", 3); // a new alarm blinks again
    Settle();
    EXPECT_EQ(TileBackground(0, 0), kLightGreen);
    Tick();
    const QColor first = TileBackground(0, 1);
    Tick();
    EXPECT_NE(TileBackground(0, 1), first);
}

TEST_F(Board, AnOpenRowOfTheDeskMarksItsTileWhateverItsGuardState)
{
    Place({"Sklad", "Ofis"});
    station->Desk().Desk().SetClock(clock);
    LogIn();
    const auto corner = [&](int row) { return TilePixel(0, row, TStatusBoard::kTileWidth - 2, 1); };
    const QColor red(220, 0, 0);
    form().SetGuardState("Sklad", 2);
    form().SetGuardState("Ofis", 2);
    Settle();
    EXPECT_EQ(corner(0), kYellow);

    Sms("+7911Sklad", kAlarmSms);
    form().SetGuardState("Sklad", 3);
    Settle();
    EXPECT_EQ(corner(0), red);
    Press(Qt::LeftButton, 0, 0); // acknowledged, still open
    form().SetGuardState("Sklad", 2); // armed again after the alarm
    Settle();
    EXPECT_EQ(TileBackground(0, 0), kYellow);
    EXPECT_EQ(corner(0), red) << "the open row shows under the armed state";
    EXPECT_EQ(corner(1), kYellow) << "no row, no mark";
    EXPECT_NE(TilePixel(0, 0, TStatusBoard::kTileWidth - 14, 1), red) << "a corner, not a band";

    ASSERT_TRUE(station->Desk().Desk().Handle(station->Desk().Desk().Rows()[0].id, kHandlingResults[0], {}, "A"));
    Settle();
    EXPECT_EQ(corner(0), kYellow);
}

TEST_F(Board, FireShowsItsIconSilentlyAndUnknownCodesDrawAsNothingReceived)
{
    Place({"Sklad", "Ofis"});
    form().Modem1->Running = true;
    form().SetInfoState("Sklad", 9);
    form().Tiles.GuardStates[1] = 77; // only a damaged file could give these
    form().Tiles.InfoStates[1] = 200;
    TickTo(false);
    EXPECT_EQ(IconPixel(0, 0), kWhite);
    TickTo(true);
    EXPECT_GT(IconPixel(0, 0).red(), 200) << "the yellow triangle";
    EXPECT_EQ(sounds.Count(Sound::SmsInfo), 0);
    EXPECT_EQ(TileBackground(0, 1), kWhite);
    EXPECT_EQ(IconPixel(0, 1), kWhite);
}

// A fire reported by SMS raises the alarm mark too: the tile blinks in the
// alarm colours and sounds until acknowledged, its guard state untouched; the
// ring-round's failure, the same information code, stays silent.
TEST_F(Board, AFireMarkBlinksAndSoundsUntilAcknowledged)
{
    Place({"Sklad", "Ofis"});
    LogIn();
    form().Modem1->Running = true;
    form().SetGuardState("Sklad", 2);
    form().SetInfoState("Sklad", 9);
    board().SetAlarmMark("Sklad");
    form().SetInfoState("Ofis", 9);
    std::vector<QColor> seen;
    for (int tick = 1; tick <= 2; ++tick) {
        Tick();
        EXPECT_EQ(sounds.Count(Sound::Alarm), tick) << "one column sounds";
        seen.push_back(TileBackground(0, 0));
    }
    EXPECT_TRUE((seen[0] == kAlarmRed && seen[1] == kWhite) || (seen[0] == kWhite && seen[1] == kAlarmRed));
    EXPECT_EQ(Guard(0, 0), 2);
    Press(Qt::LeftButton, 0, 0);
    const int alarms = sounds.Count(Sound::Alarm);
    Tick();
    Tick();
    EXPECT_EQ(sounds.Count(Sound::Alarm), alarms);
    EXPECT_EQ(TileBackground(0, 0), QColor(255, 255, 0)) << "armed, as it was";
    // An intrusion's mark is not taken over by a warning's.
    form().SetGuardState("Sklad", 3);
    board().SetAlarmMark("Sklad");
    EXPECT_EQ(Mark(0, 0), 3);
}

TEST_F(Board, ARowOfAnotherStationSetsItsTileAsTheReportItselfDidHere)
{
    Place({"Sklad", "Ofis"});
    const std::string sms(events::kNewMessage);
    struct Case {
        const char* journal;
        std::string_view status;
        std::string event;
        int guard, info, mark;
        bool report; // an SMS that a local report of the same text must match
    };
    const Case cases[] = {
        {"main", status::kArmed, sms + Str("Поставлено на охрану"_cp), 2, 0, 0, true},
        {"main", status::kDisarmed, sms + Str("Снято с охраны"_cp), 1, 0, 0, true},
        {"main", status::kAlarm, kAlarmSms, 3, 0, 3, true},
        {"main", status::kAlarm, std::string(events::kCallAlarm), 3, 0, 3, false},
        {"main", status::kInfoSms, sms + Str("Сетевое питание отключено, система питается от АКБ"_cp), 0, 4, 0, true},
        {"main", status::kAttention, sms + Str("Внимание Пожар!"_cp), 0, 9, 9, true},
        {"main", status::kTemperature, sms + Str("Температура +5"_cp), 0, 8, 0, true},
        // A command, a handling row, a status without a report: the tile stays.
        {"main", status::kSmsSent, Str("Команда отправлена: Поставить на охрану"_cp), 0, 0, 0, false},
        {"main", status::kHandling, Str("Внимание Пожар! Ложная тревога"_cp), 0, 0, 0, false},
        {"ring", status::kOffline, std::string(events::kRingRoundFailed), 0, 9, 0, false},
        {"ring", status::kOffline, Str("Нет ответа, попытка 1 из 3"_cp), 0, 0, 0, false},
        {"ring", status::kArmed, sms + Str("Поставлено на охрану"_cp), 0, 0, 0, false},
        {"desk", status::kAlarm, kAlarmSms, 0, 0, 0, false},
    };
    const auto reset = [&](int row) {
        const auto i = static_cast<std::size_t>(TileStates::Index(0, row));
        form().Tiles.GuardStates[i] = 0;
        form().Tiles.InfoStates[i] = 0;
        form().Tiles.AlarmMarks[i] = 0;
    };
    for (const Case& c : cases) {
        reset(0);
        form().Core.Board.ShowRow("Sklad", c.journal, c.status, c.event);
        EXPECT_EQ((std::vector<int>{Guard(0, 0), Info(0, 0), Mark(0, 0)}), (std::vector<int>{c.guard, c.info, c.mark}))
            << c.journal << " " << c.event;
        EXPECT_EQ(Guard(0, 1) + Info(0, 1) + Mark(0, 1), 0) << "another device's tile";
        if (!c.report)
            continue;
        reset(1);
        Sms("+7911Ofis", c.event);
        EXPECT_EQ((std::vector<int>{Guard(0, 1), Info(0, 1), Mark(0, 1)}), (std::vector<int>{c.guard, c.info, c.mark}))
            << "the report here: " << c.event;
        reset(1);
    }
}

TEST_F(Board, CodeTwoThirtyEightChangesNothingAndPaintsNothing)
{
    Place({"Sklad"});
    form().SetGuardState("Sklad", 2);
    Settle();
    const int paints = board().PaintCount();
    form().SetGuardState("Sklad", 238);
    form().SetInfoState("Sklad", 238);
    Settle();
    EXPECT_EQ(board().PaintCount(), paints);
    EXPECT_EQ(Guard(0, 0) * 10 + Info(0, 0), 20);
    form().SetInfoState("Sklad", 5);
    Settle();
    EXPECT_GT(board().PaintCount(), paints);
}

TEST_F(Board, EveryTileOfASharedShortNameChangesAndAnEmptyNameNone)
{
    devices = {{"Dacha", "+1"}, {"Garazh", "+2"}, {"Dacha", "+3"}, {"", "+4"}};
    RebuildBoard();
    form().SetGuardState("Dacha", 3);
    EXPECT_EQ(Guard(0, 0), 3);
    EXPECT_EQ(Guard(0, 2), 3);
    EXPECT_EQ(Mark(0, 2), 3);
    EXPECT_EQ(Guard(0, 1), 0);
    form().SetGuardState("", 2);
    EXPECT_EQ(Guard(0, 3) + Guard(1, 0), 0);
}

TEST_F(Board, StatesStayOnTheirTilesWhenTheRegisterShrinks)
{
    Place({"A", "B", "C"});
    form().SetGuardState("B", 2);
    devices.erase(devices.begin());
    RebuildBoard();
    EXPECT_EQ(board().TileText(0, 1), "C");
    EXPECT_EQ(Guard(0, 0), 0);
    EXPECT_EQ(TileBackground(0, 1), kYellow) << "the colour stays on its old tile";
}

TEST_F(Board, RightClickOpensTheCardOfTheTilesDevice)
{
    Place({"Sklad", "Ofis"});
    TDeviceForm& card = station->DeviceForm();
    Press(Qt::RightButton, 0, 1);
    EXPECT_FALSE(card.isVisible()) << "before login";
    LogIn();
    Press(Qt::RightButton, 0, 1);
    EXPECT_TRUE(card.isVisible());
    EXPECT_EQ(FromQ(card.DBEdit5->text()), "+7911Ofis") << "the card of the tile's device";
    EXPECT_FALSE(ctx().Shown(ShownWindow::Devices)) << "the card leaves the window's toggle alone";
    card.hide();
    Press(Qt::RightButton, 2, 3);
    EXPECT_FALSE(card.isVisible()) << "a tile without a device opens no card";
}

TEST_F(Board, StatesFromAWorkerThreadReachTheBoardWhileItIsRebuilt)
{
    Place({"Sklad", "Ofis"});
    const int paints = board().PaintCount();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) {
            form().SetGuardState("Ofis", i % 2 ? 2 : 1);
            form().SetInfoState("Sklad", 6);
        }
        form().SetGuardState("Ofis", 2);
        done = true;
    });
    for (int i = 0; i < 20; ++i)
        RebuildBoard();
    const bool finished = WaitFor([&] { return done.load(); });
    worker.join();
    ASSERT_TRUE(finished);
    Settle();
    EXPECT_EQ(Info(0, 0), 6);
    EXPECT_GT(board().PaintCount(), paints);
    EXPECT_EQ(TileBackground(0, 1), kYellow);
}

TEST_F(Board, TheTimerTicksTheBoardOnItsOwnThread)
{
    Place({"Sklad"});
    form().SetGuardState("Sklad", 3);
    form().Modem1->Running = true;
    form().MMTimer1.SetDelay(20);
    form().MMTimer1.SetEnabled(true);
    EXPECT_TRUE(WaitFor([&] { return sounds.Count(Sound::Alarm) >= 2; }));
    form().MMTimer1.SetEnabled(false);
}

// ------------------------------------------------------------------ a centre's board in pages

// Where a device is on a board in pages: page, guard, info, mark; page -1 when nowhere.
std::vector<int> StateOf(const BoardState& board, const std::string& name)
{
    const BoardState::PagesPtr pages = board.Pages();
    for (std::size_t p = 0; p < pages->size(); ++p) {
        const BoardState::Page& page = (*pages)[p];
        for (std::size_t i = 0; i < page.layout.texts.size(); ++i)
            if (page.layout.texts[i] == name)
                return {static_cast<int>(p), page.tiles->GuardStates[i], page.tiles->InfoStates[i],
                        page.tiles->AlarmMarks[i]};
    }
    return {-1};
}

std::vector<DialDevice> Named(const char* prefix, int from, int to)
{
    std::vector<DialDevice> out;
    for (int i = from; i <= to; ++i)
        out.push_back({prefix + std::to_string(i), true, "60", "+7" + std::to_string(i)});
    return out;
}

TEST(BoardPages, DevicesGroupByReceiverInPagesOfOneBoardsSize)
{
    using Receivers = std::map<std::string, std::string>;
    const std::string none(kNoReceiverPage);
    struct Case {
        const char* what;
        std::vector<DialDevice> devices;
        Receivers receivers; // unnamed: no receiver
        bool centre;         // false: no grouping at all
        int columns, rows;
        std::vector<std::string> captions;
        std::vector<std::string> firstOnPage;
    };
    auto concat = [](std::vector<DialDevice> a, const std::vector<DialDevice>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        {"one board's worth, no receivers", Named("A", 1, 4), {}, true, 2, 2, {none}, {"A1"}},
        {"one more than a board", Named("A", 1, 5), {}, true, 2, 2, {none + " 1", none + " 2"}, {"A1", "A5"}},
        {"no register", {}, {}, true, 30, 30, {none}, {""}},
        {"receivers by name, the unassigned last, register order within",
         concat(Named("A", 1, 3), Named("B", 1, 5)),
         {{"A1", "R2"}, {"B1", "R1"}, {"B2", "R1"}, {"B3", "R2"}, {"B4", "R1"}},
         true, 2, 1, {"R1 1", "R1 2", "R2", none + " 1", none + " 2"}, {"B1", "B4", "A1", "A2", "B5"}},
        {"3 000 over four receivers on full boards", Named("D", 1, 3000),
         [] {
             Receivers r;
             for (int i = 1; i <= 3000; ++i)
                 r["D" + std::to_string(i)] = "R" + std::to_string((i - 1) / 750 + 1);
             return r;
         }(),
         true, 30, 30, {"R1", "R2", "R3", "R4"}, {"D1", "D751", "D1501", "D2251"}},
        {"a receiver past 900", Named("D", 1, 1000), {}, false, 30, 30, {none + " 1", none + " 2"}, {"D1", "D901"}},
    };
    for (const Case& c : cases) {
        const auto receiverOf = [&c](const std::string& name) {
            const auto it = c.receivers.find(name);
            return it == c.receivers.end() ? std::string() : it->second;
        };
        const std::vector<BoardPageLayout> pages =
            LayBoardPages(c.devices, c.centre ? std::function<std::string(const std::string&)>(receiverOf) : nullptr,
                          c.columns, c.rows);
        std::vector<std::string> captions, first;
        std::size_t tiles = 0;
        for (const BoardPageLayout& page : pages) {
            captions.push_back(page.caption);
            first.push_back(page.layout.Text(0, 0));
            EXPECT_EQ(page.layout.columns * 100 + page.layout.rows, c.columns * 100 + c.rows) << c.what;
            tiles += static_cast<std::size_t>(
                std::count_if(page.layout.texts.begin(), page.layout.texts.end(), [](const auto& t) { return !t.empty(); }));
        }
        EXPECT_EQ(captions, c.captions) << c.what;
        EXPECT_EQ(first, c.firstOnPage) << c.what;
        EXPECT_EQ(tiles, c.devices.size()) << c.what << ": every device on one tile";
    }
    // Down each column, then the next, as one board.
    const auto pages = LayBoardPages(Named("D", 1, 1000), nullptr, 30, 30);
    EXPECT_EQ(pages[0].layout.Text(1, 0), "D31");
    EXPECT_EQ(pages[0].layout.Text(29, 29), "D900");
    EXPECT_EQ(pages[1].layout.Text(3, 9), "D1000");
}

TEST(BoardPages, StatesFollowTheirDevicesToOtherPagesAndComeBackAfterARestart)
{
    TempDir dir;
    const std::vector<DialDevice> devices = Named("D", 1, 2000);
    const auto receiverOf = [](const std::string& name) { return std::stoi(name.substr(1)) <= 1000 ? "R1" : "R2"; };
    const auto wide = LayBoardPages(devices, receiverOf, 30, 30);
    const auto narrow = LayBoardPages(devices, receiverOf, 10, 10);
    ASSERT_EQ(wide.size(), 4u);
    ASSERT_EQ(narrow.size(), 20u);
    struct Expect {
        const char* name;
        std::vector<int> wide, narrow; // page, guard, info, mark
    };
    const Expect expected[] = {
        {"D3", {0, 1, 0, 0}, {0, 1, 0, 0}},
        {"D950", {1, 0, 6, 0}, {9, 0, 6, 0}},
        {"D1500", {2, 2, 0, 0}, {14, 2, 0, 0}},
        {"D1999", {3, 3, 9, 3}, {19, 3, 9, 3}},
        {"D2000", {3, 0, 0, 0}, {19, 0, 0, 0}},
    };
    {
        TileStates tiles;
        BoardState board(tiles);
        board.SetPages(wide);
        // A row another receiver took reaches the tile on whichever page it is.
        board.ShowRow("D1500", "main", status::kArmed, Str("Новое сообщение:Поставлено на охрану"_cp));
        board.SetGuardState("D3", 1);
        board.SetInfoState("D950", 6);
        board.ShowRow("D1999", "main", status::kAlarm, kAlarmSms);
        board.SetInfoState("D1999", 9);
        for (const Expect& e : expected)
            EXPECT_EQ(StateOf(board, e.name), e.wide) << e.name;
        EXPECT_EQ(BoardState::SoundingTiles((*board.Pages())[3]), 1);
        board.SetPages(narrow);
        for (const Expect& e : expected)
            EXPECT_EQ(StateOf(board, e.name), e.narrow) << e.name << " laid again";
        board.Acknowledge("D1999");
        EXPECT_EQ(BoardState::SoundingTiles((*board.Pages())[19]), 0);
        board.ShowRow("D1999", "main", status::kAlarm, kAlarmSms);
        ASSERT_EQ(SaveTileStates(tiles, kTileStatesFile), TileSave::Saved);
        ASSERT_EQ(board.SavePages(kTilePagesFile), TileSave::Saved);
    }
    EXPECT_EQ(std::filesystem::file_size(kTileStatesFile), 1800u) << "t5.bin as the original board wrote it";
    TileStates tiles;
    BoardState board(tiles);
    ASSERT_EQ(RestoreTileStates(tiles, kTileStatesFile, LocalNow(), nullptr), TileRestore::Restored);
    board.RestorePages(kTilePagesFile, LocalNow());
    // The station lays one board before the centre's pages, in register order:
    // t5.bin's positions are not those devices', the states kept by name are.
    DialSchedule::Layout first;
    first.columns = first.rows = 30;
    for (int i = 0; i < 900; ++i)
        first.texts[static_cast<std::size_t>(i)] = devices[static_cast<std::size_t>(899 - i)].simplename;
    board.SetLayout(first);
    EXPECT_EQ(StateOf(board, "D3"), (std::vector<int>{0, 1, 0, 0}));
    board.SetPages(narrow);
    for (const Expect& e : expected) {
        std::vector<int> afterRestart = e.narrow;
        afterRestart[3] = 0; // an alarm mark is not kept, as on t5.bin's tiles
        EXPECT_EQ(StateOf(board, e.name), afterRestart) << e.name << " after the restart";
    }
}

TEST_F(Board, ACentresReceiversShowInPagesAndAnAlarmOnAPageNotOnShowIsSeenAndHeard)
{
    for (const auto& d : Named("D", 1, 40))
        devices.push_back({d.simplename, d.simcard, true});
    for (const auto& d : Named("E", 1, 3))
        devices.push_back({d.simplename, d.simcard, true});
    devices.push_back({"F1", "+7F1", true});
    std::map<std::string, std::string> receivers;
    for (int i = 1; i <= 40; ++i)
        receivers["D" + std::to_string(i)] = Str("Приёмник 1"_cp);
    for (int i = 1; i <= 3; ++i)
        receivers["E" + std::to_string(i)] = Str("Приёмник 2"_cp);
    // This desk is "Приёмник 1".
    form().Core.RingsHere = [&](const std::string& name) { return name[0] != 'E'; };
    form().Core.ReceiverOf = [&](const std::string& name) {
        const auto it = receivers.find(name);
        return it == receivers.end() ? std::string() : it->second;
    };
    RebuildBoard();
    Settle();
    QTabBar& tabs = *form().BoardPages;
    const auto captions = [&] {
        std::vector<std::string> out;
        for (int i = 0; i < tabs.count(); ++i)
            out.push_back(FromQ(tabs.tabText(i)));
        return out;
    };
    // The tabs take a row of tiles: 5 x 6 a page.
    EXPECT_EQ(board().ColCount() * 10 + board().RowCount(), 56);
    EXPECT_TRUE(tabs.isVisible());
    EXPECT_GE(board().geometry().top(), tabs.geometry().bottom());
    EXPECT_EQ(captions(), (std::vector<std::string>{Str("Приёмник 1 1"_cp), Str("Приёмник 1 2"_cp),
                                                    Str("Приёмник 2"_cp), Str("Без приёмника"_cp)}));
    EXPECT_EQ(board().TileText(0, 0), "D1");

    // The ring-round is this desk's share only, D31 and on included.
    std::set<std::string> rung;
    for (int c = 0; c < form().Schedule.Columns(); ++c)
        for (int r = 0; r < form().Schedule.Rows(); ++r)
            if (!form().Schedule.Text(c, r).empty() && form().Schedule.At(c, r).enabled)
                rung.insert(form().Schedule.Text(c, r));
    EXPECT_EQ(rung.size(), 41u);
    EXPECT_TRUE(rung.count("D40") && rung.count("F1") && !rung.count("E1"));

    // Another receiver's report of a device on a page not on show.
    form().Core.Board.ShowRow("D35", "main", status::kAlarm, kAlarmSms);
    form().Core.Board.ShowRow("E2", "main", status::kArmed, Str("Новое сообщение:Поставлено на охрану"_cp));
    Settle();
    EXPECT_EQ(captions()[1], Str("Приёмник 1 2 (тревог: 1)"_cp));
    EXPECT_EQ(tabs.tabTextColor(1), QColor(200, 0, 0));
    EXPECT_EQ(captions()[2], Str("Приёмник 2"_cp)) << "armed is no alarm";
    form().Modem1->Running = true;
    sounds.played.clear();
    Tick();
    EXPECT_EQ(sounds.Count(Sound::Alarm), 1) << "heard though its page is not on show";
    const bool lit = !tabs.tabIcon(1).isNull() && tabs.tabIcon(1).pixmap(12, 12).toImage().pixelColor(6, 6).red() > 150;
    Tick();
    const bool litNext = tabs.tabIcon(1).pixmap(12, 12).toImage().pixelColor(6, 6).red() > 150;
    EXPECT_NE(lit, litNext) << "the tab's mark blinks with the board";
    form().Modem1->Running = false;

    // Beside the tabs, however many there are to scroll through.
    QPushButton& alarmPage = *form().AlarmPageButton;
    EXPECT_TRUE(alarmPage.isVisible());
    EXPECT_EQ(FromQ(alarmPage.text()), Str("Тревога: Приёмник 1 2"_cp));
    EXPECT_LE(tabs.geometry().right(), alarmPage.geometry().left());
    alarmPage.click();
    Settle();
    EXPECT_EQ(board().CurrentPage(), 1);
    EXPECT_FALSE(alarmPage.isVisible()) << "its page is on show";
    EXPECT_EQ(board().TileText(0, 4), "D35");
    LogIn();
    Press(Qt::LeftButton, 0, 4);
    EXPECT_EQ(captions()[1], Str("Приёмник 1 2"_cp)) << "acknowledged on its tile";
    // A notification on a page not on show: on its tab, and heard.
    form().Core.Board.ShowRow("F1", "main", status::kInfoSms,
                              Str("Новое сообщение:Сетевое питание отключено, система питается от АКБ"_cp));
    Settle();
    EXPECT_EQ(captions()[3], Str("Без приёмника (уведомлений: 1)"_cp));
    EXPECT_EQ(tabs.tabTextColor(3), tabs.tabTextColor(0)) << "no alarm";
    form().Modem1->Running = true;
    sounds.played.clear();
    Tick();
    Tick();
    EXPECT_EQ(sounds.Count(Sound::SmsInfo), 1) << "in the phase its icon would show";
    form().Modem1->Running = false;
    QKeyEvent nextPage(QEvent::KeyPress, Qt::Key_PageDown, Qt::ControlModifier);
    QApplication::sendEvent(&board(), &nextPage);
    Settle();
    EXPECT_EQ(board().CurrentPage() * 10 + tabs.currentIndex(), 22) << "the keyboard turns the page, the tab follows";
    EXPECT_EQ(TileBackground(0, 1), kYellow) << "E2, armed by the other receiver's report";

    // One receiver's devices on one board: no tabs, the rows back.
    receivers.clear();
    devices.resize(20);
    RebuildBoard();
    Settle();
    EXPECT_FALSE(tabs.isVisible());
    EXPECT_EQ(board().PageCount(), 1);
    EXPECT_EQ(board().ColCount() * 10 + board().RowCount(), 57);
    EXPECT_EQ(board().geometry().top(), 76);
    form().Core.RingsHere = nullptr;
    form().Core.ReceiverOf = nullptr;
}

// ------------------------------------------------------------------ last contact and silence

class Supervision : public Board {
protected:
    void SetUp() override
    {
        Board::SetUp();
        devices = {{"Sklad", "+7911Sklad", true, "1"}, {"Ofis", "+7911Ofis", false, "1"}};
        RebuildBoard();
        station->Desk().Desk().SetClock(clock);
        station->Core().Contacts().SetClock(clock);
        form().Modem1->Running = true;
        form().Modem2->Running = true;
        // The watch starts with the modems seen running.
        station->Desk().Tick();
        Settle();
    }
    // Seconds on the virtual clock, the desk ticking each as its timer would.
    void Run(int seconds)
    {
        for (int s = 0; s < seconds; ++s) {
            clock.Advance(1000);
            station->Desk().Tick();
        }
        Settle();
    }
    int SilentRows()
    {
        const auto& rows = station->Desk().Desk().Rows();
        return static_cast<int>(
            std::count_if(rows.begin(), rows.end(), [](const kv::OpenAlarm& a) { return a.kind == AlarmKind::Silent; }));
    }
    // Journal rows "Нет связи с объектом…" of that number.
    int SilentJournalRows(const std::string& tel)
    {
        int n = 0;
        for (std::size_t i = 0; i < form().EventsTable.TotalRecordCount(); ++i) {
            const RecordHandle r = form().EventsTable.RecordAt(i);
            n += form().EventsTable.Text(r, journal::Tel) == tel &&
                 form().EventsTable.Text(r, journal::Event).rfind(kSilentEvent, 0) == 0 &&
                 form().EventsTable.Text(r, journal::Status) == status::kOffline;
        }
        return n;
    }
    // In the bar below the tile's text, where a dash is drawn.
    QColor BarPixel(int column, int row) { return TilePixel(column, row, 38, TStatusBoard::kTileHeight - 3); }
    void Report(const std::string& tel, const std::string& text)
    {
        Sms(tel, text);
        Settle();
    }
};

TEST_F(Supervision, ASilentDeviceOpensOneRowAfterItsSupervisionTimeNoneBeforeAndAReportEndsIt)
{
    Run(299);
    EXPECT_EQ(SilentRows(), 0) << "a one-minute interval: not before the five minutes every device gets";
    EXPECT_EQ(BarPixel(0, 0), kWhite);
    Run(1);
    ASSERT_EQ(SilentRows(), 1);
    EXPECT_EQ(SilentJournalRows("+7911Sklad"), 1);
    EXPECT_TRUE(board().IsSilent("Sklad"));
    EXPECT_EQ(BarPixel(0, 0), QColor(60, 60, 60));
    EXPECT_EQ(TileBackground(0, 0), kWhite) << "the tile's own colour stays readable";
    EXPECT_EQ(ctx().SoundingPriority, 4) << "it sounds as a fault";
    Run(600);
    EXPECT_EQ(SilentJournalRows("+7911Sklad"), 1) << "one row, not one per check";
    EXPECT_EQ(SilentJournalRows("+7911Ofis"), 0) << "no ring-round and no set time: not supervised";
    EXPECT_EQ(BarPixel(0, 1), kWhite);

    Report("+7911Sklad", Str("Поставлено на охрану"_cp));
    EXPECT_FALSE(board().IsSilent("Sklad"));
    EXPECT_EQ(BarPixel(0, 0), TileBackground(0, 0)) << "the bar is gone; the report armed the tile";
    ASSERT_EQ(SilentRows(), 1) << "the row waits for the operator";
    EXPECT_NE(station->Desk().Desk().Rows()[0].what.find(Str("связь восстановлена"_cp)), std::string::npos);
    ASSERT_TRUE(station->Desk().Desk().Handle(station->Desk().Desk().Rows()[0].id, kHandlingResults[2], {}, "A"));

    Run(299);
    EXPECT_EQ(SilentJournalRows("+7911Sklad"), 1) << "a report starts the time again";
    // An answered ring-round call is a sign of life as well.
    form().Host().WriteDialEvent(Str(status::kOnline), "+7911Sklad", Str("Дозвон завершен успешно"_cp),
                                 RingOutcome::Answered);
    Run(299);
    EXPECT_EQ(SilentJournalRows("+7911Sklad"), 1);
    Run(1);
    EXPECT_EQ(SilentJournalRows("+7911Sklad"), 2) << "heard, then silent again: a new row";
    EXPECT_EQ(SilentRows(), 1);
}

TEST_F(Supervision, ADeviceTheRingRoundDoesNotCallIsSupervisedByTheModemWindowsHours)
{
    // Typed in the modem window, taken at its close.
    const auto setHours = [this](const char* hours) {
        TModemForm& modem = station->ModemForm();
        modem.show();
        modem.Edit13->setText(QString::fromLatin1(hours));
        modem.close();
    };
    setHours("x");
    Run(2);
    const auto told = [] {
        const std::string log = ReadFileBytes("techno.log");
        int n = 0;
        for (std::size_t at = log.find("SilentHours"); at != std::string::npos; at = log.find("SilentHours", at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(told(), 1) << "what is no number of hours is told once, not every second";
    setHours("0.1"); // six minutes, from the tick that takes it
    Run(360);
    EXPECT_EQ(SilentJournalRows("+7911Ofis"), 0);
    Run(1);
    EXPECT_EQ(SilentJournalRows("+7911Ofis"), 1);
    EXPECT_EQ(told(), 1);
    EXPECT_NE(board().TooltipText(0, 1).find(Str("Контроль связи: 6 мин"_cp)), std::string::npos);
}

TEST_F(Supervision, ATilesTooltipNamesDeviceStateLastEventAndLastContact)
{
    // The card on show is told at once.
    TDeviceForm& card = station->DeviceForm();
    ASSERT_TRUE(card.SelectDeviceByShortName("Sklad"));
    EXPECT_EQ(FromQ(card.LastContact->text()), Str("нет сведений"_cp));
    form().SetGuardState("Sklad", 2);
    form().SetInfoState("Sklad", 4);
    Report("+7911Sklad", Str("Сетевое питание отключено"_cp));
    EXPECT_EQ(FromQ(card.LastContact->text()), FormatDateTime(clock.Now()) + Str(", сообщение (контроль 5 мин)"_cp));
    clock.Advance(60000);
    form().Host().WriteDialEvent(Str(status::kOnline), "+7911Ofis", Str("Дозвон завершен успешно"_cp),
                                 RingOutcome::Answered);
    const std::string heard = FormatDateTime(clock.Now());

    const std::string sklad = board().TooltipText(0, 0);
    for (const std::string& line :
         {std::string("Sklad, +7911Sklad"), Str("Состояние: на охране; сеть отключена"_cp),
          Str(": Новое сообщение:Сетевое питание отключено"_cp),
          Str("Последняя связь: "_cp) + FormatDateTime(clock.Now() - 60.0 / 86400) + Str(", сообщение"_cp),
          Str("Контроль связи: 5 мин"_cp)})
        EXPECT_NE(sklad.find(line), std::string::npos) << line << "\n in \n" << sklad;
    EXPECT_EQ(sklad.find(Str("Нет связи"_cp)), std::string::npos);

    const std::string ofis = board().TooltipText(0, 1);
    for (const std::string& line :
         {Str("Состояние: нет сведений"_cp), Str("Последнее событие: нет"_cp),
          Str("Последняя связь: "_cp) + heard + Str(", обзвон"_cp), Str("Контроль связи: выключен"_cp)})
        EXPECT_NE(ofis.find(line), std::string::npos) << line << "\n in \n" << ofis;
    EXPECT_EQ(board().TooltipText(2, 3), "") << "no device, no tooltip";

    Run(300);
    LogIn();
    EXPECT_NE(board().TooltipText(0, 0).find(Str("Нет связи с объектом дольше контрольного времени"_cp)),
              std::string::npos);
    EXPECT_NE(board().TooltipText(0, 0).find(Str("Тревога ждёт обработки"_cp)), std::string::npos);

    // The tooltip the toolkit asks for is the tile's under the pointer.
    const QPoint at = board().CellRect(0, 1).center();
    QHelpEvent help(QEvent::ToolTip, at, board().mapToGlobal(at));
    QApplication::sendEvent(&board(), &help);
    EXPECT_TRUE(QToolTip::text().contains(ToQ(Str("обзвон"_cp)))) << QToolTip::text().toStdString();
    QToolTip::hideText();
}

TEST_F(Supervision, TheLastContactSurvivesARestartAndADamagedFileStartsEmptyWithATechnoLine)
{
    Report("+7911Sklad", Str("Поставлено на охрану"_cp));
    const std::optional<LastContact> before = station->Core().Contacts().Of("+7911Sklad");
    ASSERT_TRUE(before);
    Run(300);
    ASSERT_TRUE(station->Core().Contacts().Silent("+7911Sklad"));
    form().close();
    station.reset();

    Create();
    InstallRegister();
    RebuildBoard();
    const std::optional<LastContact> after = station->Core().Contacts().Of("+7911Sklad");
    ASSERT_TRUE(after) << "kept across the restart";
    EXPECT_EQ(FixedDateTimeText(after->at), FixedDateTimeText(before->at));
    EXPECT_EQ(after->kind, ContactKind::Report);
    EXPECT_FALSE(after->silent) << "the clean close journalled its row as unhandled: the next run watches afresh";
    EXPECT_FALSE(board().IsSilent("Sklad"));
    station.reset();

    WriteFileBytes(kLastContactFile, std::string("\x01\x02[LastContact\0\xff\n=\n", 17));
    Create();
    InstallRegister();
    RebuildBoard();
    EXPECT_FALSE(station->Core().Contacts().Of("+7911Sklad"));
    EXPECT_TRUE(std::filesystem::exists(std::string(kLastContactFile) + ".damaged"));
    // The technological journal's file is UTF-8.
    EXPECT_NE(ReadFileBytes("techno.log").find("red Файл последней связи lastcontact.ini повреждён"), std::string::npos);
    Report("+7911Sklad", "x");
    EXPECT_TRUE(station->Core().Contacts().Of("+7911Sklad")) << "and goes on keeping them";
}

TEST(TileTooltip, TellsTheStateInWordsAcknowledgedOrNot)
{
    const struct {
        std::uint8_t guard, info, mark;
        std::vector<std::string> holds, lacks;
    } cases[] = {
        {0, 0, 0, {Str("Состояние: нет сведений"_cp), Str("Последнее событие: нет"_cp), Str("Последняя связь: не было"_cp)},
         {Str("Тревога"_cp)}},
        {2, 8, 0, {Str("Состояние: на охране; температурный режим"_cp)}, {Str("Тревога"_cp)}},
        {3, 0, 3, {Str("Состояние: тревога"_cp), Str("Тревога не принята"_cp)}, {Str("Тревога принята"_cp)}},
        {3, 0, 0, {Str("Тревога принята"_cp)}, {Str("не принята"_cp)}},
        {1, 9, 9, {Str("Состояние: снят с охраны; вскрытие корпуса, пожар или неудачный дозвон"_cp),
                   Str("Тревога не принята"_cp)}, {}},
        {77, 200, 0, {Str("Состояние: нет сведений\n"_cp)}, {Str("Тревога"_cp)}},
    };
    for (const auto& c : cases) {
        TileFacts facts;
        facts.shortName = "Sklad";
        facts.listName = Str("Склад на Заводской, 12"_cp);
        facts.tel = "+79001000001";
        facts.guard = c.guard;
        facts.info = c.info;
        facts.mark = c.mark;
        const std::string text = TileTooltipText(facts);
        EXPECT_EQ(text.rfind(Str("Склад на Заводской, 12 (Sklad), +79001000001\n"_cp), 0), 0u) << text;
        for (const std::string& h : c.holds)
            EXPECT_NE(text.find(h), std::string::npos) << h << " in " << text;
        for (const std::string& l : c.lacks)
            EXPECT_EQ(text.find(l), std::string::npos) << l << " in " << text;
    }
}

TEST(SilentHoursSetting, HoursOrOffAndWhatIsNoNumberIsToldAndOff)
{
    const struct {
        const char* text;
        double hours;
        bool told;
    } cases[] = {{"", 0, false},     {"  ", 0, false},   {"0", 0, false},     {"24", 24, false}, {" 1.5 ", 1.5, false},
                 {"1,5", 0, true},   {"abc", 0, true},   {"-2", 0, true},     {"9000", 0, true}, {"nan", 0, true}};
    for (const auto& c : cases) {
        std::string problem;
        EXPECT_DOUBLE_EQ(ParseSilentHours(c.text, problem), c.hours) << c.text;
        EXPECT_EQ(!problem.empty(), c.told) << c.text;
        if (c.told) {
            EXPECT_NE(problem.find("SilentHours"), std::string::npos) << problem;
        }
    }
}

// The legend is painted by the tiles' own painter: every background, icon and
// mark the board can show is on it, each beside a text that fits its line.
TEST_F(Board, TheHelpWindowsLegendShowsEveryColourIconAndMarkOfTheBoard)
{
    THelpForm& help = station->HelpForm();
    help.ShowCentred();
    help.LegendLink->clicked();
    Settle();
    ASSERT_TRUE(help.LegendForm->isVisible());
    EXPECT_EQ(help.LegendForm->windowTitle(), ToQ("Обозначения на табло"_cp));
    const QImage picture = help.Legend->grab().toImage();
    const std::span<const LegendEntry> entries = BoardLegend();
    std::set<QRgb> backgrounds;
    std::set<int> icons;
    int corners = 0, bars = 0;
    const QFontMetrics metrics(help.Legend->font());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TileLook& look = entries[i].look;
        const QRect tile = help.Legend->TileRect(static_cast<int>(i));
        const auto at = [&](int x, int y) { return picture.pixelColor(tile.left() + x, tile.top() + y); };
        backgrounds.insert(at(3, TStatusBoard::kTileHeight - 3).rgb());
        if (look.blinkPhase && BoardIconFor(look.info) >= 0) {
            icons.insert(BoardIconFor(look.info));
            EXPECT_NE(at(10, 24), kWhite) << "icon of line " << i;
        }
        if (look.openRow && at(TStatusBoard::kTileWidth - 2, 1) == QColor(220, 0, 0))
            ++corners;
        if (look.silent && at(38, TStatusBoard::kTileHeight - 3) == QColor(60, 60, 60))
            ++bars;
        const QRect text = metrics.boundingRect(QRect(0, 0, TBoardLegend::kTextWidth, 1000), Qt::TextWordWrap,
                                                ToQ(entries[i].meaning));
        EXPECT_LE(text.height(), TStatusBoard::kTileHeight) << "line " << i << " overflows its row";
    }
    for (std::uint8_t guard = 0; guard <= 3; ++guard)
        for (bool phase : {false, true})
            EXPECT_EQ(backgrounds.count(TileColoursFor(guard, phase).background.rgb()), 1u)
                << "guard " << int(guard) << (phase ? " blinking off" : "");
    for (int info = 0; info < 256; ++info) {
        if (BoardIconFor(static_cast<std::uint8_t>(info)) >= 0) {
            EXPECT_EQ(icons.count(BoardIconFor(static_cast<std::uint8_t>(info))), 1u) << "information code " << info;
        }
    }
    EXPECT_EQ(corners, 1);
    EXPECT_EQ(bars, 1);
    help.close();
    Settle();
    EXPECT_FALSE(help.LegendForm->isVisible()) << "the page goes with its help window";
}

} // namespace
} // namespace kv::test
