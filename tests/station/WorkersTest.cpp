// The hand-overs of the modem workers, the receive path, the one-worker rule,
// the ring-round controls and the close.
#include "tests/station/StationFixture.h"

#include "data/Schemas.h"
#include "devicecard/DeviceWindow.h"
#include "modemsetup/ModemWindow.h"
#include "modem/Modem.h"
#include "tests/support/Pty.h"
#include "tests/support/TestClock.h"
#include "timing/DateTime.h"
#include "windows/ModemLinkUnit.h"
#include "windows/QtText.h"
#include "station/WindowsView.h"
#include "windows/TechnoJournalUnit.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>

#include <filesystem>
#include <functional>
#include <future>
#include <mutex>

namespace kv::test {
namespace {

using namespace kv::literals;
using namespace std::chrono_literals;

// The modem window and the device card as the core's view reaches them: each
// call is noted, in order, by whoever the test wants.
class RecordingWindows final : public IModemWindow, public IDeviceWindow {
public:
    explicit RecordingWindows(std::function<void(std::string)> note) : m_note(std::move(note)) {}
    void SetLinkText(const std::string& t) override { m_note("link " + t); }
    void SetSignalText(int modem, const std::string& t) override { m_note("level" + std::to_string(modem) + " " + t); }
    void AddBalanceLine(const std::string& t) override { m_note("balance " + t); }
    void SetCentreText(const std::string&) override {}
    std::string BalanceEnquiry() override { return {}; }
    void RefreshPortFields() override {}
    std::pair<std::string, std::string> EscalationSettings() override { return {"0", ""}; }
    std::string SilentHoursSetting() override { return "0"; }
    void SetCommandButtonsEnabled(bool on) override { m_note(on ? "buttons on" : "buttons off"); }
    void SetStatusEdit(const std::string& n, const std::string& t) override { m_note("status " + n + " " + t); }
    void FillLastEvents() override {}
    void LastContactChanged() override {}
    void SetDeviceTablesReadOnly(bool) override {}
    bool SelectDeviceByShortName(const std::string&) override { return false; }
    void ShowDeviceCard() override {}
    bool LastEventOf(const std::string&, double&, std::string&, std::string&) override { return false; }

private:
    std::function<void(std::string)> m_note;
};

class Workers : public StationTest {
protected:
    void SetUp() override
    {
        Create();
        InstallRegister();
        ShowAndSettle();
        form().WorkerClock = &clock;
    }
    // The workers use the clock: they end before it goes.
    void TearDown() override { station.reset(); }
    // Runs `body` on a thread of its own while the UI thread serves its hand-overs.
    template <class F>
    void OnWorker(F body)
    {
        std::atomic<bool> done{false};
        std::thread t([&] {
            body(form().Host());
            done = true;
        });
        const bool finished = WaitFor([&] { return done.load(); }, 10s);
        t.join();
        ASSERT_TRUE(finished);
    }
    TestClock clock;
};

TEST_F(Workers, HandOversRunOnTheUiThreadInTheOrderCalled)
{
    devices.push_back({"Sklad", "+7911"});
    SyncRegister();
    const std::thread::id ui = std::this_thread::get_id();
    std::vector<std::string> seen;
    std::mutex lock;
    auto note = [&](std::string what) {
        std::lock_guard g(lock);
        seen.push_back((std::this_thread::get_id() == ui ? "" : "OFF UI THREAD ") + what);
    };
    // The modem window and the card, as the core's view reaches them.
    RecordingWindows windows(note);
    station->View().windows.modem = &windows;
    station->View().windows.devices = &windows;
    station->TechnoJournalForm().WriteTechnoJournal->setChecked(true);

    std::string shortName, number;
    OnWorker([&](IModemHost& host) {
        host.WriteEvent(Str("Тревога"_cp), "+7911", "one");
        host.SetLinkText("on");
        host.WriteEvent(Str("На охране"_cp), "+7000", "two");
        host.ShowSignalLevel(21);
        host.ShowSignalLevel2(99);
        host.WriteDialEvent(Str("На связи"_cp), "+7911", "dial");
        host.SetStatusEdit("+7911", "sent");
        host.AddBalanceLine("10 rub");
        host.SetCommandButtonsEnabled(false);
        host.SetDialStatus(Str("Статус дозвона: идет дозвон"_cp));
        host.SetDialNumber(Str("Дозвон: +7911"_cp));
        host.WriteTechno("GSM", kGreen);
        shortName = host.FindShortNameByNumber("+7911", "");
        number = host.FindNumberByShortName("Sklad", "none");
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"link on", "level1 21.0", "level2 99.0", "status +7911 sent",
                                              "balance 10 rub", "buttons off"}));
    EXPECT_EQ(shortName, "Sklad");
    EXPECT_EQ(number, "+7911");
    MemTable& events = form().EventsTable;
    ASSERT_EQ(events.RecordCount(), 3);
    EXPECT_EQ(events.TextAt(0, journal::Event), "two");
    EXPECT_EQ(events.TextAt(0, journal::SimpleName), "        ") << "a number no device has";
    EXPECT_EQ(events.TextAt(1, journal::SimpleName), "Sklad");
    EXPECT_EQ(form().DialEventsTable.TextAt(0, journal::Event), "dial");
    EXPECT_EQ(form().DialStatus->text(), ToQ("Статус дозвона: идет дозвон"_cp));
    EXPECT_EQ(form().DialNumber->text(), ToQ("Дозвон: +7911"_cp));
    EXPECT_FALSE(form().Image1->pixmap().isNull());
    EXPECT_EQ(station->TechnoJournalForm().Otchet->document()->blockCount(), 1);
}

TEST_F(Workers, RegisterLookupsAnswerWhileTheUiThreadIsBusy)
{
    devices.push_back({"Sklad", "+7911"});
    devices.push_back({"Ofis", "+7922"});
    SyncRegister();
    // The UI thread serves no hand-over until both answers are in or time is up.
    auto lookups = std::async(std::launch::async, [&] {
        return form().Host().FindShortNameByNumber("+7922", "") + "|" +
               form().Host().FindNumberByShortName("Sklad", "");
    });
    const bool answered = lookups.wait_for(5s) == std::future_status::ready;
    if (!answered)
        WaitFor([&] { return lookups.wait_for(0s) == std::future_status::ready; });
    EXPECT_TRUE(answered);
    EXPECT_EQ(lookups.get(), "Ofis|+7911");
}

TEST_F(Workers, MissingWindowsAreSkippedAndLookupsKeepTheCallersValue)
{
    station->View().windows = {};
    std::string name, number, balance = "x";
    OnWorker([&](IModemHost& host) {
        host.SetLinkText("on");
        host.AddBalanceLine("b");
        host.ShowSignalLevel(-1);
        host.WriteEvent(Str("Баланс"_cp), "GSM", "10");
        name = host.FindShortNameByNumber("+1", "initial");
        number = host.FindNumberByShortName("A", "kept");
        balance = host.BalanceNumber();
    });
    EXPECT_EQ(name, "initial");
    EXPECT_EQ(number, "kept");
    EXPECT_EQ(balance, "");
    EXPECT_TRUE(form().Image1->pixmap().isNull()) << "a level below 0 clears the picture";
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::SimpleName), "") << "no register: empty short name";
}

// A message's row: written on the UI thread, waited for on the worker's until
// its log entry is on disk; known by its tag afterwards (a restart recovers it
// from the log); a journal failure reaches the worker instead of being swallowed.
TEST_F(Workers, AReportIsOneHandOverAndItsRowIsWaitedForOffTheUiThreadAndAFailedOneReported)
{
    devices.push_back({"Sklad", "+7911"});
    InstallRegister();
    RebuildBoard();
    JournalWrite written{};
    JournalState before{}, after{}, forgotten{};
    std::uint64_t handOvers = 0;
    bool failed = false;
    Report report;
    report.tel = "+7911";
    report.shortName = "Sklad";
    report.guard = kGuardAlarm;
    report.info = kInfoWarning;
    report.status = Str("Тревога"_cp);
    report.event = Str("Новое сообщение:Внимание ТРЕВОГА"_cp);
    report.techno = {{Str("Есть принятое сообщение."_cp), kGreen}, {"SMlen=3", kGreen}};
    OnWorker([&](IModemHost& host) {
        before = host.JournalStateOf("1:abc");
        const std::uint64_t start = HandOversWaited();
        written = host.HandOver(report, "1:abc");
        handOvers = HandOversWaited() - start;
        after = host.JournalStateOf("1:abc");
        host.ForgetJournalTag("1:abc");
        forgotten = host.JournalStateOf("1:abc");
    });
    EXPECT_EQ(written, JournalWrite::Durable);
    EXPECT_EQ(handOvers, 1u) << "lines, tiles, row, desk and card in one hand-over";
    // The row, the tile and the desk's alarm all came of it.
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::Event), report.event);
    EXPECT_EQ(form().Tiles.GuardStates[0], kGuardAlarm);
    ASSERT_EQ(station->Core().Desk().Rows().size(), 1u);
    EXPECT_EQ(station->Core().Desk().Rows()[0].kind, AlarmKind::Intrusion);
    EXPECT_EQ(before, JournalState::Unknown);
    EXPECT_EQ(after, JournalState::Durable);
    EXPECT_EQ(forgotten, JournalState::Unknown);
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::Tel), "+7911");

    form().EventsTable.SetAfterPost([](MemTable&) { throw std::runtime_error("journal window failed"); });
    OnWorker([&](IModemHost& host) {
        try {
            Report other;
            other.tel = "+7922";
            other.status = Str("Норма"_cp);
            other.event = "x";
            host.HandOver(other, "2:def");
        } catch (const std::runtime_error&) {
            failed = true;
        }
    });
    EXPECT_TRUE(failed) << "the hand-over's failure reached the worker";
    form().EventsTable.SetAfterPost([this](MemTable&) { form().MainRowPosted(); });
}

TEST_F(Workers, LinkLostAndWarningsReachTheOperator)
{
    std::vector<bool> buttons;
    RecordingWindows windows([&](const std::string& what) {
        if (what.rfind("buttons ", 0) == 0)
            buttons.push_back(what == "buttons on");
    });
    station->View().windows.devices = &windows;
    OnWorker([&](IModemHost& host) {
        host.ShowLinkLost();
        host.ShowWarning(Str("Не удалось сохранить состояния объектов "_cp));
    });
    Settle();
    EXPECT_EQ(buttons, std::vector<bool>{true});
    EXPECT_EQ(sounds.Count(Sound::Alarm), 1);
    EXPECT_TRUE(station->LinkErrorForm().isVisible());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Warning);
    station->LinkErrorForm().hide();
}

TEST_F(Workers, ReceivedBytesOfBothPortsJoinTheirModemsBuffersInArrivalOrder)
{
    Pty one, two;
    ASSERT_TRUE(one.MasterOpen() && two.MasterOpen());
    form().ComPort1.SetPort(one.SlavePath());
    form().ComPort2.SetPort(two.SlavePath());
    form().ComPort1.Open();
    form().ComPort2.Open();
    ASSERT_TRUE(one.Write("AT+CSQ\r\r\n"));
    ASSERT_TRUE(WaitFor([&] { return form().Modem1->RxContains("AT+CSQ\r\r\n"); }));
    ASSERT_TRUE(one.Write(std::string("+CSQ: 21,0\0\r\n", 13)));
    ASSERT_TRUE(two.Write("BU"));
    ASSERT_TRUE(WaitFor([&] { return form().Modem2->RxContains("BU"); }));
    ASSERT_TRUE(two.Write("SY\r\n"));
    EXPECT_TRUE(WaitFor([&] { return form().Modem2->RxSnapshot() == "BUSY\r\n"; }));
    EXPECT_TRUE(WaitFor([&] { return form().Modem1->RxSnapshot() == "AT+CSQ\r\r\n+CSQ: 21,0\r\n"; }))
        << "modem 1's port drops zero bytes";
    form().ComPort1.Close();
}

TEST_F(Workers, OnlyOneWorkerPerModemAndAFinishedOneIsReplaced)
{
    form().Modem2->Running = true;
    EXPECT_TRUE(form().StartDialThread());
    EXPECT_FALSE(form().StartDialThread()) << "a start while one runs leaves it running";
    form().Button2Click();
    ASSERT_TRUE(WaitFor([&] { return !form().DialThreadLive(); }));
    Settle();
    EXPECT_EQ(form().DialStatus->text(), ToQ("Статус дозвона: ожидание"_cp)) << "set by the ending worker";

    form().DialStatus->setText("x");
    form().Button1Click();
    EXPECT_EQ(form().DialStatus->text(), ToQ("Статус дозвона: ожидание"_cp));
    EXPECT_TRUE(form().Modem2->Running) << "the replaced worker's end did not clear the new run flag";
    EXPECT_TRUE(form().DialThreadLive());
    // Stopped and started again before the worker noticed: the one worker goes on.
    form().Modem2->Running = false;
    form().Modem2->Running = true;
    EXPECT_FALSE(form().StartDialThread());
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(form().DialThreadLive());

    form().Modem1->Running = true;
    EXPECT_TRUE(form().StartCommThread());
    EXPECT_FALSE(form().StartCommThread());
    EXPECT_TRUE(form().StopWorkers(10s));
    EXPECT_FALSE(form().CommThreadLive() || form().DialThreadLive());
}

TEST_F(Workers, StartingTheRingRoundRestartsEveryDevicesInterval)
{
    devices.push_back({"Sklad", "+1", true, "2"});
    RebuildBoard();
    clock.Advance(90 * 1000);
    const auto pressed = static_cast<std::int64_t>(clock.MonotonicMs());
    form().Button1Click();
    // The worker now running moves the virtual time on; the entry counts from the press at least.
    EXPECT_GE(form().Schedule.At(0, 0).nextDueMs, pressed + 2 * 60000);
    EXPECT_TRUE(form().Schedule.At(0, 0).enabled);
    EXPECT_FALSE(form().Schedule.At(0, 1).enabled);
}

TEST_F(Workers, EachScheduleWindowShowsTheBoardsDueTimes)
{
    devices.push_back({"Sklad", "+1", true, "30"});
    devices.push_back({"Garage", "+2", false, "30"});
    devices.push_back({"Dacha", "+3", true, "1"});
    RebuildBoard();
    form().Button3Click();
    form().Button3Click();
    const auto windows = form().findChildren<QWidget*>(QStringLiteral("ScheduleForm"));
    ASSERT_EQ(windows.size(), 2);
    QWidget* window = windows[0];
    EXPECT_TRUE(window->isWindow() && window->isVisible() && !window->isModal());
    EXPECT_EQ(window->size(), QSize(1000, 700));
    auto* grid = window->findChild<QTableWidget*>();
    ASSERT_NE(grid, nullptr);
    ASSERT_EQ(grid->columnCount() * 100 + grid->rowCount(), 403) << "one row a device";
    EXPECT_EQ(FromQ(grid->horizontalHeaderItem(0)->text()), "Объект"_cp);
    const auto cell = [grid](int r, int c) { return FromQ(grid->item(r, c)->text()); };
    EXPECT_EQ(cell(0, 0) + " " + cell(1, 0) + " " + cell(2, 0), "Sklad Garage Dacha");
    EXPECT_EQ(cell(0, 1), FormatDateTime(form().Schedule.At(0, 0).DueDateTime(clock.Now(), clock.MonotonicMs())));
    EXPECT_EQ(cell(1, 1), "не обзванивается"_cp);
    EXPECT_EQ(cell(0, 2) + cell(0, 3), "Еще не вызывался"_cp);
    auto* load = window->findChild<QLabel*>(QStringLiteral("LoadLabel"));
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(FromQ(load->text()), "Обзвон успевает: нужно 62 вызовов в час, сделано 0 за последний час"_cp);
    EXPECT_TRUE(load->styleSheet().isEmpty());
    for (QWidget* w : windows)
        w->close();

    // Dacha's call, judged, then the round stalls for more than its interval.
    const auto call = form().Schedule.TakeDue(clock.MonotonicMs() + 60000);
    ASSERT_TRUE(call.has_value());
    form().Schedule.Failed(*call, 7, clock.Now());
    clock.Advance(4 * 60000);
    form().Button3Click();
    QList<QWidget*> late = form().findChildren<QWidget*>(QStringLiteral("ScheduleForm"));
    late.removeIf([](QWidget* w) { return !w->isVisible(); }); // the closed ones go at the next event loop
    ASSERT_EQ(late.size(), 1);
    grid = late[0]->findChild<QTableWidget*>();
    EXPECT_EQ(FromQ(grid->item(2, 3)->text()), "Нет ответа"_cp);
    EXPECT_FALSE(grid->item(2, 2)->text().isEmpty());
    load = late[0]->findChild<QLabel*>(QStringLiteral("LoadLabel"));
    EXPECT_EQ(FromQ(load->text()), "Обзвон не успевает: нужно 62 вызовов в час, сделано 1 за последний час"_cp);
    EXPECT_NE(load->styleSheet().indexOf(QStringLiteral("200, 0, 0")), -1) << "in red";
    late[0]->close();
}

TEST_F(Workers, CloseWithAWorkerBlockedInAHandOverEndsWithinTheBound)
{
    // Modem 1's port is not open: on virtual time the worker's first exchange
    // times out at once, and it waits for the UI thread to take the line.
    form().Modem1->Running = true;
    ASSERT_TRUE(form().StartCommThread());
    form().Modem2->Running = true;
    ASSERT_TRUE(form().StartDialThread());
    std::this_thread::sleep_for(100ms); // the UI thread serves nothing meanwhile

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(form().close());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(form().CommThreadLive() || form().DialThreadLive());
    EXPECT_TRUE(std::filesystem::exists("t3.bin") && std::filesystem::exists("t6.bin"));
    EXPECT_TRUE(ShutdownBegun());
}

TEST_F(Workers, AJournalThatCannotBeSavedIsReportedAndTheOperatorChooses)
{
    std::filesystem::remove("t3.bin"); // written by the start-up
    std::filesystem::create_directory("t3.bin"); // nothing can be renamed over a folder
    dialogs.yesNoAnswers = {false};
    EXPECT_FALSE(form().close());
    EXPECT_TRUE(form().isVisible());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Error);
    EXPECT_NE(dialogs.messages[0].text.find("t3.bin"), std::string::npos);
    EXPECT_EQ(dialogs.questions.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists("t6.bin")) << "the other journal is saved all the same";
    EXPECT_FALSE(ShutdownBegun());

    bool ended = false;
    QObject::connect(&form(), &TForm1::Closed, [&] { ended = true; });
    dialogs.yesNoAnswers = {true};
    EXPECT_TRUE(form().close()) << "closing anyway";
    EXPECT_TRUE(ended);
}

} // namespace
} // namespace kv::test
