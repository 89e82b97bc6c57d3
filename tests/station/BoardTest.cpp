// The status board: size from the window, colours, blinking, sounds,
// acknowledgement, the right-click, and states coming from other threads.
#include "tests/station/StationFixture.h"

#include "data/Status.h"
#include "data/TileStates.h"
#include "station/AlarmDesk.h"
#include "station/OperatorDesk.h"
#include "windows/JournalGrid.h"

#include <QMouseEvent>
#include <QTabWidget>

#include <algorithm>
#include <atomic>
#include <cmath>

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
    form().RebuildBoard();
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

    form().Host().WriteEvent(Str(status::kAlarm), "+7911Sklad", kAlarmSms);
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
    form().RebuildBoard();
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
    form().RebuildBoard();
    EXPECT_EQ(board().TileText(0, 1), "C");
    EXPECT_EQ(Guard(0, 0), 0);
    EXPECT_EQ(TileBackground(0, 1), kYellow) << "the colour stays on its old tile";
}

TEST_F(Board, RightClickOpensTheCardOfTheTilesDevice)
{
    Place({"Sklad", "Ofis"});
    std::vector<std::string> calls;
    bool found = true;
    ctx().SelectDeviceByShortName = [&](const std::string& name) {
        calls.push_back("select " + name);
        return found;
    };
    ctx().FillLastEvents = [&] { calls.push_back("fill"); };
    ctx().ShowDeviceCard = [&] { calls.push_back("card"); };
    Press(Qt::RightButton, 0, 1);
    EXPECT_TRUE(calls.empty()) << "before login";
    LogIn();
    Press(Qt::RightButton, 0, 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"select Ofis", "fill", "card"}));
    calls.clear();
    found = false;
    Press(Qt::RightButton, 2, 3);
    EXPECT_EQ(calls, std::vector<std::string>{"select "});
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
        form().RebuildBoard();
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

} // namespace
} // namespace kv::test
