// The alarm desk in the whole station against the modem simulator, in real
// time: an alarm SMS handled from the open-alarms window, the escalation SMS
// sent once per number, and the resume of a station that ended without its close.
#include "tests/e2e/StationE2E.h"

#include "codec/Ucs2.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TextExport.h"
#include "data/TileStates.h"
#include "devicecard/DeviceUnit.h"
#include "modemsetup/ModemUnit.h"
#include "station/AlarmsWindow.h"
#include "station/AutoStart.h"
#include "station/JournalSearchWindow.h"
#include "station/OperatorDesk.h"
#include "tests/support/Cp1251.h"
#include "timing/DateTime.h"
#include "windows/QtText.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <fstream>

namespace kv::test {
namespace {

using namespace kv::literals;
using namespace std::chrono_literals;

const CardEntry kStore{Str("Склад на Заводской, 12"_cp), Str("Склад"_cp), "+79001000001", "60", false};
// The device's alarm phrase, with its four Latin letters (UTF-8, as the simulator takes it).
const std::string kAlarmText = std::string("Вним") + "a" + "ние Т" + "PEB" + "ОГА! Сработал датчик зоны 2";

class DeskE2E : public StationE2E {
protected:
    AlarmDesk& Desk() { return station->Desk().Desk(); }
    TAlarmsForm& Alarms() { return station->Desk().AlarmsForm(); }
    bool RowOpens(std::chrono::milliseconds limit = 60s)
    {
        return Until([&] { return Desk().AnyOpen(); }, limit);
    }
    std::vector<std::string> Outbox() { return sim->Command("outbox 1"); }
    int SentCount(const std::string& line)
    {
        const auto& lines = sim->SentLines(1);
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    bool RecordHas(const std::string& what)
    {
        std::ifstream in(dir.path() / AlarmDesk::kRecordFile, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return text.find(what) != std::string::npos;
    }
};

TEST_F(DeskE2E, AnAlarmSmsIsHandledFromTheWindowAndTheCardsJournalFindsBothRows)
{
    StartSimulator();
    Start();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    ASSERT_NO_FATAL_FAILURE(AddDevice(kStore)); // the card stays open on the store
    ASSERT_NO_FATAL_FAILURE(InitialiseModems());

    sim->Command("sms 1 " + kStore.number + " " + kAlarmText);
    ASSERT_TRUE(RowOpens()) << "no open alarm within 60 s";
    ASSERT_TRUE(Alarms().isVisible()) << "the list comes up by itself";
    ASSERT_EQ(Alarms().AlarmsGrid->rowCount(), 1);
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(0, 2)->text()), kStore.shortName);
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(0, 3)->text()), kStore.listName);
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(0, 4)->text()), Utf8ToCp1251("Новое сообщение:" + kAlarmText));

    Alarms().SelectRow(0);
    Alarms().HandleButtonClick();
    THandlingDialog& dlg = *Alarms().HandlingDlg;
    ASSERT_TRUE(dlg.isVisible());
    dlg.ResultBox->setCurrentIndex(1);
    dlg.CommentEdit->setText(ToQ("Группа 3 на месте, \"дверь\" цела"_cp));
    dlg.OkButtonClick();
    MemTable& journal = form().EventsTable;
    ASSERT_EQ(journal.TextAt(0, journal::Status), status::kHandling);
    EXPECT_EQ(journal.TextAt(0, journal::Tel), kStore.number);
    EXPECT_EQ(journal.TextAt(0, journal::SimpleName), kStore.shortName);
    const std::string event = journal.TextAt(0, journal::Event);
    EXPECT_EQ(event.rfind("Обработано: Выезд группы. Группа 3 на месте, \"дверь\" цела (оператор Администратор, ждала 0:"_cp, 0),
              0u)
        << Cp1251ToUtf8(event);
    EXPECT_FALSE(Desk().AnyOpen());
    EXPECT_FALSE(ctx().AlarmsOpen);

    // "Журнал объекта" on the card: the search filtered to the store.
    TDeviceForm& card = station->DeviceForm();
    ASSERT_TRUE(card.isVisible());
    card.JournalButtonClick();
    TJournalSearchForm& search = station->Desk().SearchForm();
    ASSERT_TRUE(search.isVisible());
    EXPECT_EQ(FromQ(search.DeviceBox->currentText()), kStore.shortName);
    ASSERT_EQ(search.Model().rowCount(), 2);
    EXPECT_EQ(FromQ(search.Model().index(0, 4).data().toString()), event);
    EXPECT_EQ(FromQ(search.Model().index(1, 4).data().toString()), Utf8ToCp1251("Новое сообщение:" + kAlarmText));
    ASSERT_TRUE(Close());

    const auto rows = ReadTableFile("t3.bin");
    const auto handled = RowsWithStatus(rows, "Обработка");
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0].at("simplename"), "Склад");
    EXPECT_EQ(handled[0].at("tel"), kStore.number);
}

TEST_F(DeskE2E, AnAlarmLeftOpenPastTheTimeGoesBySmsOncePerNumberAndEachSendIsJournalled)
{
    StartSimulator();
    {
        // Blanks, an empty entry and a number with a letter, as an operator may leave them.
        std::ofstream ini(program / "config.ini", std::ios::binary | std::ios::app);
        ini << "[Escalation]\r\nMinutes=1\r\nNumbers= +79005550001 ,, +7900555000x, +79005550002\r\n";
    }
    Start();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    ASSERT_NO_FATAL_FAILURE(AddDevice(kStore));
    ToggleDeviceWindow();
    ASSERT_NO_FATAL_FAILURE(OpenTechnoJournal());
    ASSERT_NO_FATAL_FAILURE(InitialiseModems());
    // The desk's minutes pass on a clock of the test's.
    VirtualClock deskClock(LocalNow());
    Desk().SetClock(deskClock);
    ASSERT_TRUE(WaitModem1Ready()) << "modem 1's start-up did not get through within 60 s";
    EXPECT_TRUE(Until([&] { return TechnoHas("Эскалация: пустой номер в списке пропущен"); }, 5s));
    EXPECT_TRUE(TechnoHas("Эскалация: номер \"+7900555000x\" пропущен"));

    sim->Command("sms 1 " + kStore.number + " " + kAlarmText);
    ASSERT_TRUE(RowOpens()) << "no open alarm within 60 s";
    const std::string text = EscalationText(Desk().Rows()[0]);
    const std::string whole = EscalationWholeText(Desk().Rows()[0]);
    EXPECT_LE(text.size(), kSmsLimit);
    EXPECT_GT(whole.size(), kSmsLimit) << "the case of a text sent in parts";
    EXPECT_EQ(text.rfind("Korvalen: тревога Склад "_cp, 0), 0u);
    WaitTicks(3, 5s);
    EXPECT_TRUE(Outbox().empty()) << "not before its minute";

    deskClock.Advance(61000);
    MemTable& journal = form().EventsTable;
    auto deskRows = [&] {
        std::vector<std::string> tels;
        for (int r = 0; r < journal.RecordCount(); ++r)
            if (journal.TextAt(r, journal::Status) == status::kSmsSent &&
                journal.TextAt(r, journal::Event) == Str("Эскалация: "_cp) + text)
                tels.push_back(journal.TextAt(r, journal::Tel));
        return tels;
    };
    ASSERT_TRUE(Until([&] { return deskRows().size() == 2; }, 60s, 100ms)) << "two escalation rows within 60 s";
    EXPECT_EQ(deskRows(), (std::vector<std::string>{"+79005550002", "+79005550001"})) << "newest first, in list order";

    // Later minutes send nothing more.
    deskClock.Advance(600000);
    WaitTicks(6, 10s);
    // The simulator takes PDU mode: each number gets the whole text in two parts.
    EXPECT_EQ(Outbox().size(), 4u);
    const auto texts = sim->Command("texts 1");
    ASSERT_EQ(texts.size(), 2u);
    const std::string utf8 = Cp1251ToUtf8(whole);
    EXPECT_EQ(texts[0], "+79005550001 " + utf8);
    EXPECT_EQ(texts[1], "+79005550002 " + utf8);
    for (const char* number : {"+79005550001", "+79005550002"})
        EXPECT_EQ(SentCount("AT+CMGS=\"" + TextToUcs2Hex(number) + "\"\\r"), 0) << number << ": not its one-SMS form";
    EXPECT_EQ(deskRows().size(), 2u);
    int partsRows = 0;
    for (int r = 0; r < journal.RecordCount(); ++r)
        partsRows += journal.TextAt(r, journal::Event) == Str("Сообщение отправлено (в 2 частях)"_cp);
    EXPECT_EQ(partsRows, 2) << "the modem's row says the text went in parts";
    ASSERT_TRUE(Close());
}

TEST_F(DeskE2E, AlarmSmsFromTenStrangersAreJournalledShownOnceEachAndReachNoResponder)
{
    StartSimulator();
    {
        std::ofstream ini(program / "config.ini", std::ios::binary | std::ios::app);
        ini << "[Escalation]\r\nMinutes=1\r\nNumbers=+79005550001\r\n";
    }
    Start();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    ASSERT_NO_FATAL_FAILURE(AddDevice(kStore));
    ToggleDeviceWindow();
    ASSERT_NO_FATAL_FAILURE(InitialiseModems());
    VirtualClock deskClock(LocalNow());
    Desk().SetClock(deskClock);
    ASSERT_TRUE(WaitModem1Ready()) << "modem 1's start-up did not get through within 60 s";

    // A RING between the first message's header and its body costs no text.
    sim->Command("urcbody 1 RING");
    for (int i = 0; i < 10; ++i)
        sim->Command("sms 1 +7999000000" + std::to_string(i) + " " + kAlarmText);
    sim->Command("sms 1 +79990000003 " + kAlarmText);
    MemTable& journal = form().EventsTable;
    const std::string event = Utf8ToCp1251("Новое сообщение:" + kAlarmText);
    auto received = [&] {
        int n = 0;
        for (int r = 0; r < journal.RecordCount(); ++r)
            n += journal.TextAt(r, journal::Event) == event;
        return n;
    };
    ASSERT_TRUE(Until([&] { return received() == 11; }, 60s, 100ms)) << "eleven rows within 60 s, " << received();
    EXPECT_EQ(FindRow(journal, status::kAttention), -1) << "no message taken as damaged";
    EXPECT_TRUE(Until([&] { return Sent(1, "AT+CLCC\\r"); }, 20s, 100ms)) << "the RING was taken as the call it is";
    ASSERT_EQ(Desk().Rows().size(), 10u) << "one row per number";
    for (const OpenAlarm& a : Desk().Rows()) {
        EXPECT_EQ(a.kind, AlarmKind::Stranger);
        EXPECT_EQ(a.listName, kStrangerName);
    }

    deskClock.Advance(600000);
    ASSERT_TRUE(WaitTicks(4, 10s));
    EXPECT_TRUE(Outbox().empty()) << "nothing forwarded";
    EXPECT_EQ(CountRows(journal, status::kSmsSent), 0);

    ASSERT_TRUE(Desk().Handle(Desk().Rows()[0].id, kHandlingResults[0], {}, ctx().Operator));
    EXPECT_EQ(journal.TextAt(0, journal::Status), status::kHandling);
    EXPECT_EQ(journal.TextAt(0, journal::Tel), "+79990000000");
    EXPECT_EQ(Desk().Rows().size(), 9u);
    ASSERT_TRUE(Close());
}

TEST_F(DeskE2E, AStationEndedWithoutItsCloseResumesMonitoringWithoutALoginAndTheAlarmsStillSound)
{
    StartSimulator();
    Start();
    ASSERT_NO_FATAL_FAILURE(LogInAsNewAdministrator());
    ASSERT_NO_FATAL_FAILURE(AddDevice(kStore));
    ToggleDeviceWindow();
    ASSERT_NO_FATAL_FAILURE(InitialiseModems());
    EXPECT_TRUE(std::filesystem::exists(dir.path() / AlarmDesk::kRecordFile)) << "modem 1 is watched";
    // A crash before the worker's first save must not leave the restart to a warning box.
    EXPECT_TRUE(std::filesystem::exists(dir.path() / kTileStatesFile)) << "tile states written as modem 1 starts";
    sim->Command("sms 1 " + kStore.number + " " + kAlarmText);
    ASSERT_TRUE(RowOpens()) << "no open alarm within 60 s";
    EXPECT_TRUE(RecordHas("intrusion\t"));
    // Deleted from the SIM, so that the next start does not read it again.
    ASSERT_TRUE(Until([&] { return sim->Command("sim 1").empty(); }, 20s, 200ms));

    // The station goes without its close, as in a crash; a report comes meanwhile.
    station.reset();
    sim->Command("sms 1 " + kStore.number + " Поставлено на охрану. Ночь");
    dialogs.messages.clear();
    Start();
    ASSERT_TRUE(ResumeAfterCrash(*station));
    EXPECT_FALSE(ctx().LoggedIn);
    EXPECT_TRUE(form().CommThreadLive() && form().DialThreadLive()) << "both modems started by themselves";
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.Texts().front();
    MemTable& journal = form().EventsTable;
    const int resumed = FindRow(journal, status::kAttention);
    ASSERT_GE(resumed, 0);
    EXPECT_EQ(journal.TextAt(resumed, journal::Event), kResumeEvent);
    ASSERT_EQ(Desk().Rows().size(), 1u) << "the alarm left open is open again";
    EXPECT_EQ(Desk().Rows()[0].shortName, kStore.shortName);
    EXPECT_TRUE(Alarms().isVisible());

    // Locked until a login: the modem window answers with the warning; the
    // open alarm sounds all the same.
    form().PNGButton1Click();
    EXPECT_FALSE(station->ModemForm().isVisible());
    EXPECT_EQ(dialogs.Texts().back(), "Авторизация пользователя не выполнена"_cp);
    const int sounded = sounds.Count(Sound::Alarm);
    ASSERT_TRUE(WaitTicks(3, 5s));
    EXPECT_GE(sounds.Count(Sound::Alarm), sounded + 2);

    const std::string armed = Str("Новое сообщение:Поставлено на охрану. Ночь"_cp);
    ASSERT_TRUE(Until(
        [&] {
            for (int r = 0; r < journal.RecordCount(); ++r)
                if (journal.TextAt(r, journal::Event) == armed)
                    return true;
            return false;
        },
        60s, 100ms))
        << "the report sent meanwhile is not journalled within 60 s";
    ASSERT_TRUE(Close());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / AlarmDesk::kRecordFile)) << "a clean close leaves no record";
    const auto rows = ReadTableFile("t3.bin");
    const auto handled = RowsWithStatus(rows, "Не обработано");
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0].at("event").rfind("Не обработано: Новое сообщение:" + kAlarmText + " (без оператора, ждала ", 0),
              0u)
        << handled[0].at("event");

    // The next start after the clean close waits for an operator as always.
    Start();
    EXPECT_FALSE(ResumeAfterCrash(*station));
    EXPECT_FALSE(form().CommThreadLive());
    EXPECT_FALSE(Desk().AnyOpen());
}

} // namespace
} // namespace kv::test
