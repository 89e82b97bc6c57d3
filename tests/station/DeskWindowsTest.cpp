// The alarm desk inside the station: live events through the workers' host,
// the open-alarms window and its handling dialog, the tile click, the logout
// and the close, the board's sound, and the journal search window.
#include "tests/station/StationFixture.h"

#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "devices/DeviceRegister.h"
#include "data/Status.h"
#include "station/AlarmsWindow.h"
#include "station/JournalSearchWindow.h"
#include "station/OperatorDesk.h"
#include "timing/DateTime.h"
#include "users/SecurityUnit.h"
#include "windows/QtText.h"
#include "windows/TechnoJournalUnit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QApplication>
#include <QClipboard>
#include <QWindow>

#include <functional>

namespace kv::test {
namespace {

using namespace kv::literals;

const std::string kMarker = std::string("Вним"_cp) + "a" + Str("ние Т"_cp) + "PEB" + Str("ОГА"_cp);
const std::string kAlarmSms = Str("Новое сообщение:"_cp) + kMarker;

class DeskStation : public StationTest {
protected:
    void SetUp() override
    {
        Create();
        InstallRegister();
        devices.push_back({"Sklad", "+7911Sklad", false, "60", Str("Склад, ул. Заводская"_cp)});
        Place({"Ofis"});
        ShowAndSettle();
        Desk().Desk().SetClock(clock);
    }
    OperatorDesk& Desk() { return station->Desk(); }
    TAlarmsForm& Alarms() { return Desk().AlarmsForm(); }
    void Alarm(const std::string& tel) { Sms(tel, kAlarmSms); }
    // Through the access window, as an operator does.
    void RealLogin()
    {
        TSecurityForm& access = station->SecurityForm();
        access.Edit1->setText(ToQ("Иванов"_cp));
        access.Edit2->setText("pw");
        access.RbButton2Click();
        access.UserEdit->setText(ToQ("Иванов"_cp));
        access.PasswordEdit->setText("pw");
        access.RbButton1Click();
        ASSERT_TRUE(ctx().LoggedIn);
    }
    std::string Event(int row) { return form().EventsTable.TextAt(row, journal::Event); }
    std::string Status(int row) { return form().EventsTable.TextAt(row, journal::Status); }

    VirtualClock clock{46000.5};
};

TEST_F(DeskStation, AFireComesFirstInItsOwnColourAndSoundsAboveTheIntrusion)
{
    Alarm("+7911Sklad");
    Sms("+7911Ofis", Str("Новое сообщение:Внимание Пожар!"_cp));
    Settle();
    QTableWidget& grid = *Alarms().AlarmsGrid;
    ASSERT_EQ(grid.rowCount(), 2);
    EXPECT_EQ(FromQ(grid.item(0, 0)->text()) + " " + FromQ(grid.item(0, 2)->text()), "1 Ofis") << "the newer, but fire";
    EXPECT_EQ(FromQ(grid.item(1, 0)->text()) + " " + FromQ(grid.item(1, 2)->text()), "2 Sklad");
    EXPECT_EQ(grid.item(0, 4)->background().color(), QColor(200, 0, 0));
    EXPECT_EQ(grid.item(0, 4)->foreground().color(), QColor(255, 255, 255));
    EXPECT_EQ(grid.item(1, 4)->foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(ctx().SoundingPriority, 1);

    // The board tick plays the most urgent row's sound, once per tick.
    const struct {
        const char* tile;
        Sound sound;
    } acks[] = {{nullptr, Sound::Urgent}, {"Ofis", Sound::Alarm}, {"Sklad", Sound::Alarm}};
    for (const auto& a : acks) {
        if (a.tile)
            Desk().Desk().AcknowledgeDevice(a.tile, "A");
        sounds.played.clear();
        form().CheckStatusDevices();
        Settle();
        const bool quiet = a.tile && std::string(a.tile) == "Sklad";
        EXPECT_EQ(sounds.played.size(), quiet ? 0u : 1u) << (a.tile ? a.tile : "");
        EXPECT_EQ(sounds.Count(a.sound), quiet ? 0 : 1) << (a.tile ? a.tile : "");
    }
}

TEST_F(DeskStation, TheSelectedAlarmsObjectCardTellsWhatToDoAndAPhoneIsCopiedWithOneClick)
{
    station->Register().Objects.Set(
        "+7911Sklad", {Str("Позвонить владельцу.\r\nНе отвечает: выслать группу."_cp),
                       {{Str("Иванов"_cp), Str("владелец"_cp), "+79001112233", Str("после 22:00 не звонить"_cp)},
                        {Str("Сосед"_cp), Str("ключи"_cp), "", ""}}});
    Sms("+79990000000", kAlarmSms);
    Alarm("+7911Sklad");
    Settle();
    TAlarmsForm& w = Alarms();
    const auto select = [&](const std::string& tel) {
        const auto rows = Desk().Desk().Queue();
        for (int r = 0; r < static_cast<int>(rows.size()); ++r)
            if (rows[static_cast<std::size_t>(r)]->tel == tel)
                w.SelectRow(r);
    };
    select("+7911Sklad");
    EXPECT_EQ(FromQ(w.ObjectTitle->text()), "Sklad, " + Str("Склад, ул. Заводская\nадрес не указан"_cp));
    EXPECT_EQ(FromQ(w.ObjectInstructions->toPlainText()), Str("Позвонить владельцу.\nНе отвечает: выслать группу."_cp));
    ASSERT_EQ(w.ObjectContacts->rowCount(), 2);
    EXPECT_EQ(FromQ(w.ObjectContacts->item(0, 1)->toolTip()), Str("после 22:00 не звонить"_cp));
    EXPECT_EQ(FromQ(w.ObjectContacts->item(1, 2)->text()), Str("нет телефона"_cp));
    QApplication::clipboard()->setText("before");
    w.ContactClicked(1, 2);
    EXPECT_EQ(QApplication::clipboard()->text(), "before") << "no phone, nothing copied";
    w.ContactClicked(0, 0);
    EXPECT_EQ(QApplication::clipboard()->text(), "+79001112233") << "a click anywhere on the contact copies its phone";
    EXPECT_NE(FromQ(w.CopyHint->text()).find("+79001112233"), std::string::npos);

    select("+79990000000");
    EXPECT_EQ(FromQ(w.ObjectTitle->text()), Str("Не объект охраны"_cp));
    EXPECT_EQ(w.ObjectContacts->rowCount(), 0);
}

// The centre's queue as a desk's window uses it: each call recorded, answered
// when the test says.
struct RecordingQueue final : centre::IAlarmHandling {
    void Take(long long id, const std::string& op, TakeDone done) override
    {
        calls.push_back("take " + std::to_string(id) + " " + op);
        take = std::move(done);
    }
    void Renew(long long id, const std::string& op) override { calls.push_back("renew " + std::to_string(id) + " " + op); }
    void Release(long long id, const std::string& op) override
    {
        calls.push_back("release " + std::to_string(id) + " " + op);
    }
    void Close(long long id, const std::string& op, const std::string& result, const std::string&,
               const std::string& handledEvent, CloseDone done) override
    {
        calls.push_back("close " + std::to_string(id) + " " + op + " " + result);
        event = handledEvent;
        close = std::move(done);
    }
    std::vector<std::string> calls;
    TakeDone take;
    CloseDone close;
    std::string event;
};

TEST_F(DeskStation, ACentreAlarmIsTakenBeforeItsDialogHeldWhileOpenAndClosedThroughTheQueue)
{
    RecordingQueue queue;
    Alarms().SetCentre(&queue);
    centre::CentreAlarm far;
    far.id = 31;
    far.station = Str("Приёмник 2"_cp);
    far.seq = 5;
    far.shortName = "Ofis";
    far.tel = "+7911Ofis";
    far.kind = "Intrusion";
    far.event = kAlarmSms;
    far.openedAt = 46000.5;
    far.state = "open";
    Desk().Desk().SetCentreAlarms({far}, Str("Пульт 1"_cp));
    Settle();
    EXPECT_TRUE(Alarms().isVisible()) << "another receiver's alarm comes up here too";
    ASSERT_EQ(Alarms().AlarmsGrid->rowCount(), 1);
    ASSERT_NO_FATAL_FAILURE(RealLogin());
    Alarms().SelectRow(0);
    const std::string op = Str("Иванов"_cp);

    // Another desk was first.
    Alarms().HandleButtonClick();
    ASSERT_EQ(queue.calls, std::vector<std::string>{"take 31 " + op});
    Desk().Tick();
    EXPECT_FALSE(Alarms().HandleButton->isEnabled()) << "one take at a time";
    queue.take(false, Str("Петров"_cp), "");
    EXPECT_EQ(dialogs.Texts().back(), "Принята оператором Петров"_cp);
    EXPECT_FALSE(Alarms().HandlingDlg->isVisible());
    // The database away: said so, nothing held.
    Alarms().HandleButtonClick();
    queue.take(false, "", Str("нет связи"_cp));
    EXPECT_EQ(dialogs.Texts().back(), "Тревога не принята: нет связи"_cp);

    // Taken: the dialog, the lease renewed while it is open, back to the queue on cancel.
    queue.calls.clear();
    Alarms().HandleButtonClick();
    queue.take(true, op, "");
    THandlingDialog& dlg = *Alarms().HandlingDlg;
    ASSERT_TRUE(dlg.isVisible());
    EXPECT_TRUE(dlg.WholeDeviceBox->isHidden());
    EXPECT_EQ(Alarms().Holding(), 31);
    dlg.CancelButton->click();
    EXPECT_EQ(Alarms().Holding(), 0);
    EXPECT_EQ(queue.calls, (std::vector<std::string>{"take 31 " + op, "release 31 " + op}));

    // Taken again and closed: the result and the handling row go to the queue, the row leaves.
    const auto takeAndClose = [&] {
        queue.calls.clear();
        Alarms().HandleButtonClick();
        queue.take(true, op, "");
        ASSERT_TRUE(dlg.isVisible());
        dlg.ResultBox->setCurrentIndex(0);
        dlg.OkButtonClick();
        ASSERT_EQ(queue.calls.size(), 2u);
    };
    ASSERT_NO_FATAL_FAILURE(takeAndClose());
    EXPECT_EQ(queue.calls[1], "close 31 " + op + " " + std::string(kHandlingResults[0]));
    EXPECT_EQ(queue.event.rfind(Str("Обработано: "_cp) + std::string(kHandlingResults[0]), 0), 0u) << queue.event;
    EXPECT_EQ(Desk().Desk().Rows().size(), 1u) << "until the queue says it is closed";
    const int rowsBefore = form().EventsTable.RecordCount();
    // Lost meanwhile (the lease ran out, another desk closed it): nothing journalled here.
    queue.close(false, "", {});
    EXPECT_EQ(dialogs.Texts().back().rfind("Эта тревога уже не ваша"_cp, 0), 0u) << dialogs.Texts().back();
    EXPECT_EQ(form().EventsTable.RecordCount(), rowsBefore);
    EXPECT_EQ(Desk().Desk().Rows().size(), 1u);

    ASSERT_NO_FATAL_FAILURE(takeAndClose());
    // Closed: the centre's row goes into this journal too, as the centre has it.
    const centre::ClosedRow written{12, 46000.75, "+7911Ofis", queue.event};
    queue.close(true, "", written);
    EXPECT_TRUE(Desk().Desk().Rows().empty());
    ASSERT_EQ(form().EventsTable.RecordCount(), rowsBefore + 1);
    EXPECT_EQ(Status(0), status::kHandling);
    EXPECT_EQ(Event(0), queue.event);
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::Tel), "+7911Ofis");
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::SimpleName), "Ofis");
    EXPECT_DOUBLE_EQ(form().EventsTable.Float(form().EventsTable.HandleAt(0), journal::EventTime), 46000.75);
    // Told again (a connection finds the centre's row not yet sent as this copy): still once.
    Desk().Desk().CentreRowClosed(31, &written);
    EXPECT_EQ(form().EventsTable.RecordCount(), rowsBefore + 1);
    Alarms().SetCentre(nullptr);
}

TEST_F(DeskStation, ALiveAlarmBringsTheListUpAndSoundsUntilAnOperatorHandlesIt)
{
    // Rows written otherwise (a replayed or opened journal, a login) are no alarms.
    RecordEvent(form().EventsTable, status::kAlarm, "+7911Sklad", kAlarmSms, {}, 46000);
    EXPECT_FALSE(Desk().Desk().AnyOpen());
    EXPECT_FALSE(form().AlarmsButton->isVisible()) << "nobody logged in, nothing open";

    Alarm("+7911Sklad");
    Settle();
    ASSERT_EQ(Desk().Desk().Rows().size(), 1u);
    EXPECT_TRUE(Alarms().isVisible()) << "the list comes up by itself";
    ASSERT_EQ(Alarms().AlarmsGrid->rowCount(), 1);
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(0, 2)->text()), "Sklad");
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(0, 3)->text()), "Склад, ул. Заводская"_cp);
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(0, 4)->text()), kAlarmSms);
    EXPECT_EQ(Alarms().AlarmsGrid->item(0, 4)->foreground().color(), QColor(255, 0, 0));
    EXPECT_TRUE(form().AlarmsButton->isVisible()) << "an open alarm shows its button to anyone";
    EXPECT_EQ(FromQ(form().AlarmsButton->text()), "Тревоги (1)"_cp);

    // With modem 1 stopped and nobody logged in the tick still sounds it.
    sounds.played.clear();
    form().CheckStatusDevices();
    form().CheckStatusDevices();
    Settle();
    EXPECT_EQ(sounds.Count(Sound::Alarm), 2);

    Desk().Tick();
    EXPECT_TRUE(Alarms().LoginHint->isVisible());
    EXPECT_FALSE(Alarms().HandleButton->isEnabled());
    Alarms().HandleButtonClick();
    EXPECT_EQ(dialogs.Texts().back(), "Авторизация пользователя не выполнена"_cp);
    EXPECT_FALSE(Alarms().HandlingDlg->isVisible());

    ASSERT_NO_FATAL_FAILURE(RealLogin());
    // A duty manager's desk looks and is told so.
    station->Context().Viewer = true;
    Alarms().SelectRow(0);
    Alarms().HandleButtonClick();
    EXPECT_EQ(dialogs.Texts().back(), kViewerRefused);
    EXPECT_FALSE(Alarms().HandlingDlg->isVisible());
    station->Context().Viewer = false;
    station->TechnoJournalForm().WriteTechnoJournal->setChecked(true);
    clock.StepWall(-3600);
    clock.Advance(65000);
    Alarms().SelectRow(0);
    Desk().Tick();
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(0, 5)->text()), "1:05") << "the wait, renewed each second";
    EXPECT_TRUE(station->TechnoJournalForm().Otchet->toPlainText().contains(
        ToQ("Системное время изменено: было 12:01:05, стало 11:01:05"_cp)))
        << "the clock set back an hour is told, the wait goes on";
    EXPECT_TRUE(Alarms().HandleButton->isEnabled());
    Alarms().HandleButtonClick();
    THandlingDialog& dlg = *Alarms().HandlingDlg;
    ASSERT_TRUE(dlg.isVisible());
    dlg.ResultBox->setCurrentIndex(3);
    EXPECT_FALSE(dlg.OkButton->isEnabled()) << "\"Другое\" needs a comment";
    dlg.CommentEdit->setText(ToQ("сосед \"Петров\"; дверь закрыта "_cp) + QString(500, 'x'));
    EXPECT_EQ(dlg.CommentEdit->text().size(), 100);
    ASSERT_TRUE(dlg.OkButton->isEnabled());
    dlg.OkButtonClick();
    Settle();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(Status(0), status::kHandling);
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::Tel), "+7911Sklad");
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::SimpleName), "Sklad");
    const std::string comment = FromQ(ToQ("сосед \"Петров\"; дверь закрыта "_cp) + QString(500, 'x')).substr(0, 100);
    EXPECT_EQ(Event(0), Str("Обработано: Другое. "_cp) + comment + Str(" (оператор Иванов, ждала 1:05)"_cp));
    EXPECT_FALSE(Desk().Desk().AnyOpen());
    EXPECT_EQ(Alarms().AlarmsGrid->rowCount(), 0);
    sounds.played.clear();
    form().CheckStatusDevices();
    Settle();
    EXPECT_EQ(sounds.Count(Sound::Alarm), 0) << "handled: silent";

    // A number of no device: its own row, named by the number, handled the same way.
    Alarm("+79990000000");
    Alarm("+79990000000");
    Settle();
    ASSERT_EQ(Alarms().AlarmsGrid->rowCount(), 1);
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(0, 2)->text()), "+79990000000");
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(0, 3)->text()), "Неизвестный отправитель"_cp);
    EXPECT_EQ(Alarms().AlarmsGrid->item(0, 4)->foreground().color(), QColor(110, 110, 110)) << "the least urgent";
    Alarms().SelectRow(0);
    Alarms().HandleButtonClick();
    ASSERT_TRUE(dlg.isVisible());
    // No result is chosen for the operator: OK and Enter record nothing.
    EXPECT_EQ(dlg.ResultBox->currentIndex(), -1);
    EXPECT_FALSE(dlg.OkButton->isEnabled());
    EXPECT_FALSE(dlg.WholeDeviceBox->isVisible()) << "one row: nothing to choose";
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &enter);
    dlg.OkButtonClick();
    Settle();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(Desk().Desk().AnyOpen());
    // The wait runs while the dialog is open.
    const QString waited = dlg.AlarmText->text();
    EXPECT_TRUE(waited.endsWith(QStringLiteral("0:00"))) << FromQ(waited);
    clock.Advance(7000);
    {
        // The dialog's own one-second timer, on the real clock.
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (dlg.AlarmText->text() != waited)
                loop.quit();
        });
        poll.start(20);
        QTimer::singleShot(1100, &loop, &QEventLoop::quit);
        loop.exec();
    }
    EXPECT_TRUE(dlg.AlarmText->text().endsWith(QStringLiteral("0:07"))) << FromQ(dlg.AlarmText->text());
    dlg.ResultBox->setCurrentIndex(0);
    ASSERT_TRUE(dlg.OkButton->isEnabled());
    dlg.OkButtonClick();
    Settle();
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::Tel), "+79990000000");
    EXPECT_EQ(Event(0), "Обработано: Ложная тревога. (оператор Иванов, ждала 0:07)"_cp);
    EXPECT_FALSE(Desk().Desk().AnyOpen());
}

TEST_F(DeskStation, ATileTakesItsDeviceAndALogoutAndTheCloseLeaveTheRestOnRecord)
{
    ASSERT_NO_FATAL_FAILURE(RealLogin());
    Alarm("+7911Sklad");
    Alarm("+7911Ofis");
    form().Host().ShowLinkLost();
    form().Host().ShowLinkLost();
    Settle();
    ASSERT_EQ(Desk().Desk().Rows().size(), 3u) << "one row for the loss, however many time-outs";
    EXPECT_EQ(Status(0), status::kOffline);
    EXPECT_EQ(Event(0), "Потеряна связь с GSM-модулем"_cp);

    const QPointF at = board().CellRect(0, 0).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, board().mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&board(), &press);
    EXPECT_EQ(Event(0), "Обработано: Принята с табло. (оператор Иванов, ждала 0:00)"_cp);
    ASSERT_EQ(Desk().Desk().Rows().size(), 3u) << "acknowledged, not closed";
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(0, 6)->text()), "принята Иванов 12:00"_cp);
    EXPECT_EQ(FromQ(Alarms().AlarmsGrid->item(1, 6)->text()), "");
    ctx().LoggedIn = false;
    sounds.played.clear();
    Desk().Desk().AcknowledgeDevice("Ofis", "A");
    form().CheckStatusDevices();
    Settle();
    EXPECT_EQ(sounds.Count(Sound::Trouble), 1) << "the modem's row is still nobody's, and sounds as a fault";
    ctx().LoggedIn = true;

    // Several rows of a device: handled one by one unless the operator chooses all.
    THandlingDialog& dlg = *Alarms().HandlingDlg;
    auto handleFirstSklad = [&](bool all) {
        Alarm("+7911Sklad");
        Settle();
        const auto rows = Desk().Desk().Queue(); // as the list shows them
        Alarms().SelectRow(static_cast<int>(std::find_if(rows.begin(), rows.end(), [](const OpenAlarm* a) {
                                                 return a->shortName == "Sklad";
                                             }) - rows.begin()));
        Alarms().HandleButtonClick();
        ASSERT_TRUE(dlg.isVisible());
        EXPECT_TRUE(dlg.WholeDeviceBox->isVisible());
        EXPECT_FALSE(dlg.WholeDeviceBox->isChecked());
        EXPECT_EQ(FromQ(dlg.WholeDeviceBox->text()), "все тревоги объекта (2)"_cp);
        EXPECT_TRUE(FromQ(dlg.AlarmText->text()).find("принята Иванов 12:00"_cp) != std::string::npos);
        dlg.ResultBox->setCurrentIndex(2);
        dlg.WholeDeviceBox->setChecked(all);
        dlg.OkButtonClick();
        Settle();
    };
    handleFirstSklad(false);
    ASSERT_EQ(Desk().Desk().Rows().size(), 3u) << "one row of the two";
    EXPECT_EQ(Desk().Desk().Rows()[2].shortName, "Sklad");
    Desk().Desk().AcknowledgeDevice("Sklad", Str("Иванов"_cp));
    handleFirstSklad(true);
    ASSERT_EQ(Desk().Desk().Rows().size(), 2u) << "both rows of the device";
    EXPECT_EQ(Desk().Desk().Rows()[0].shortName, "Ofis");
    EXPECT_EQ(Status(0), status::kHandling);
    EXPECT_EQ(Event(0).rfind("Обработано: Проверено"_cp, 0), 0u) << Event(0);

    // The logout names what it leaves open; "no" keeps the operator.
    const int rowsBefore = form().EventsTable.RecordCount();
    station->SecurityForm().RbButton1Click();
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0].rfind("Открытые тревоги: Ofis (Тревога, "_cp, 0), 0u) << dialogs.questions[0];
    EXPECT_NE(dialogs.questions[0].find("), GSM-модем №1 (Нет связи, "_cp), std::string::npos) << dialogs.questions[0];
    EXPECT_TRUE(ctx().LoggedIn);
    EXPECT_EQ(form().EventsTable.RecordCount(), rowsBefore) << "nothing journalled";
    dialogs.yesNoAnswers = {true};
    station->SecurityForm().RbButton1Click(); // logout
    EXPECT_FALSE(ctx().LoggedIn);
    EXPECT_EQ(Status(0), status::kLogin);
    EXPECT_EQ(Event(0), "Пользователь: Иванов вышел из системы"_cp);
    for (int r : {1, 2}) {
        EXPECT_EQ(Status(r), status::kUnhandled);
        EXPECT_EQ(Event(r).rfind("Не обработано: "_cp, 0), 0u) << Event(r);
        EXPECT_NE(Event(r).find("(оператор Иванов, ждала 0:00)"_cp), std::string::npos) << Event(r);
    }
    EXPECT_EQ(Desk().Desk().Rows().size(), 2u) << "left for the next operator";
    Desk().Tick();
    EXPECT_TRUE(form().AlarmsButton->isVisible());

    const int before = form().EventsTable.RecordCount();
    dialogs.questions.clear();
    ASSERT_TRUE(form().close()) << "as a signal closes it: no question";
    EXPECT_TRUE(dialogs.questions.empty() && dialogs.credentialQuestions.empty());
    EXPECT_EQ(form().EventsTable.RecordCount(), before + 2);
    EXPECT_NE(Event(0).find("(без оператора, ждала 0:00)"_cp), std::string::npos) << Event(0);
    EXPECT_FALSE(ctx().AlarmsOpen);
}

TEST_F(DeskStation, EveryNewAlarmBringsTheListUpWhateverBecameOfItMeanwhile)
{
    ASSERT_NO_FATAL_FAILURE(RealLogin());
    form().activateWindow();
    Settle();
    // Closed with its button, with its close box, minimised: each new row shows it again.
    const std::vector<std::function<void()>> putAway = {
        [this] { Alarms().CloseButton->click(); },
        [this] { Alarms().close(); },
        [this] { Alarms().showMinimized(); },
    };
    for (std::size_t i = 0; i < putAway.size(); ++i) {
        Alarm(i % 2 ? "+7911Sklad" : "+7911Ofis");
        Settle();
        EXPECT_TRUE(Alarms().isVisible() && !Alarms().isMinimized()) << "alarm " << i + 1;
        EXPECT_EQ(Alarms().AlarmsGrid->rowCount(), static_cast<int>(i) + 1);
        putAway[i]();
        Settle();
        ASSERT_TRUE(!Alarms().isVisible() || Alarms().isMinimized());
    }
    form().activateWindow();
    Settle();
    ASSERT_EQ(QApplication::activeWindow(), &form());
    Alarm("+7911Sklad");
    Settle();
    EXPECT_TRUE(Alarms().isVisible() && !Alarms().isMinimized()) << "restored from the taskbar";
    EXPECT_EQ(QApplication::activeWindow(), &form()) << "the keyboard stays with the operator";
}

TEST_F(DeskStation, TheCloseBoxAsksAndAnUnattendedStationEndsOnlyWithTheAdministratorsPassword)
{
    bool ended = false;
    QObject::connect(&form(), &TForm1::Closed, [&] { ended = true; });
    // As the window system closes it (the close box, Alt+F4): an event to its
    // platform window, which the widget takes as a spontaneous close.
    auto closeBox = [this] {
        QCloseEvent request;
        QCoreApplication::sendEvent(form().windowHandle(), &request);
        Settle();
    };
    const std::string question = Str("Завершить работу станции? Наблюдение прекратится."_cp);

    // No accounts yet: nobody could give the password, the plain question it is.
    closeBox();
    ASSERT_EQ(dialogs.questions, std::vector<std::string>{question});
    EXPECT_TRUE(dialogs.credentialQuestions.empty());
    EXPECT_TRUE(form().isVisible() && !ended);

    TSecurityForm& access = station->SecurityForm();
    access.Edit1->setText(ToQ("Администратор"_cp));
    access.Edit2->setText("admin");
    access.RbButton2Click();
    ASSERT_NO_FATAL_FAILURE(RealLogin());
    dialogs.questions.clear();
    closeBox();
    EXPECT_EQ(dialogs.questions, std::vector<std::string>{question}) << "logged in, nothing open";
    EXPECT_TRUE(dialogs.credentialQuestions.empty());
    EXPECT_TRUE(form().isVisible() && !ended);

    Alarm("+7911Sklad");
    Settle();
    closeBox();
    ASSERT_EQ(dialogs.credentialQuestions.size(), 1u) << "an open alarm asks for the password";
    EXPECT_NE(dialogs.credentialQuestions[0].find("Открытые тревоги: Sklad (Тревога, "_cp), std::string::npos)
        << dialogs.credentialQuestions[0];
    EXPECT_TRUE(form().isVisible() && !ended) << "cancelled";

    dialogs.yesNoAnswers = {true};
    access.RbButton1Click(); // logout
    ASSERT_FALSE(ctx().LoggedIn);
    dialogs.credentialAnswers = {std::pair(Str("Администратор"_cp), Str("wrong")),
                                 std::pair(Str("Иванов"_cp), Str("pw")),
                                 std::pair(Str("Администратор"_cp), Str("admin"))};
    dialogs.messages.clear();
    closeBox();
    closeBox();
    EXPECT_TRUE(form().isVisible() && !ended) << "a wrong password, an operator's password";
    ASSERT_EQ(dialogs.credentialQuestions.size(), 3u);
    EXPECT_EQ(dialogs.credentialQuestions[1].rfind("Никто не вошёл в систему."_cp, 0), 0u)
        << dialogs.credentialQuestions[1];
    EXPECT_NE(dialogs.credentialQuestions[1].find(Str("|") + Str("Администратор"_cp)), std::string::npos)
        << "the name offered";
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, "Неверное имя администратора или пароль. Станция продолжает работу."_cp);
    closeBox();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(form().isVisible());
}

TEST_F(DeskStation, ASignalUnderTheCloseBoxsQuestionEndsTheStationAllTheSame)
{
    TSecurityForm& access = station->SecurityForm();
    access.Edit1->setText(ToQ("Администратор"_cp));
    access.Edit2->setText("admin");
    access.RbButton2Click();
    bool ended = false;
    QObject::connect(&form(), &TForm1::Closed, [&] { ended = true; });
    dialogs.whileAsking = [this] { form().CloseForSystem(); };
    QCloseEvent request;
    QCoreApplication::sendEvent(form().windowHandle(), &request);
    Settle();
    EXPECT_EQ(dialogs.credentialQuestions.size(), 1u);
    EXPECT_TRUE(ended) << "the question, left unanswered, does not hold the shutdown";
    EXPECT_TRUE(std::filesystem::exists("t3.bin"));
}

TEST_F(DeskStation, TheSearchFiltersCountsFollowsTheJournalAndExports)
{
    const ShortNameLookup lookup = [this](const std::string& tel) { return station->Register().FindShortNameByNumber(tel, {}); };
    for (int i = 0; i < 40; ++i)
        RecordEvent(form().EventsTable, i % 4 ? status::kArmed : status::kAlarm, i % 2 ? "+7911Sklad" : "+7911Ofis",
                    "event " + std::to_string(i), lookup, 46000 + i / 1440.0);
    LogIn();
    form().N7Click();
    TJournalSearchForm& search = Desk().SearchForm();
    ASSERT_TRUE(search.isVisible());
    EXPECT_EQ(search.Model().rowCount(), 41) << "every row at first, the journal's first row too";
    EXPECT_EQ(FromQ(search.CountLabel->text()), "Найдено событий: 41"_cp);

    search.DeviceBox->setEditText("Ofis");
    for (int i = 0; i < search.StatusList->count(); ++i)
        if (FromQ(search.StatusList->item(i)->text()) == status::kAlarm)
            search.StatusList->item(i)->setCheckState(Qt::Checked);
    search.FindButtonClick();
    ASSERT_EQ(search.Model().rowCount(), 10); // i = 0, 4, ... 36
    const QModelIndex first = search.Model().index(0, 4);
    EXPECT_EQ(FromQ(first.data().toString()), "event 36");
    EXPECT_EQ(first.data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    EXPECT_FALSE(search.Model().index(0, 0).data(Qt::DecorationRole).value<QPixmap>().isNull());
    EXPECT_EQ(FromQ(search.Model().index(0, 1).data().toString()), FormatDateTime(46000 + 36 / 1440.0));

    // A new event that matches comes in on top; one that does not stays out.
    form().Host().WriteEvent(Str(status::kAlarm), "+7911Ofis", "live one");
    form().Host().WriteEvent(Str(status::kAlarm), "+7911Sklad", "live two");
    ASSERT_EQ(search.Model().rowCount(), 11);
    EXPECT_EQ(FromQ(search.Model().index(0, 4).data().toString()), "live one");

    dialogs.fileAnswers.push_back(QString::fromStdString(dir.File("found")));
    search.ExportButtonClick();
    const std::string csv = ReadFileBytes(dir.File("found.csv"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 12) << "a header and the eleven rows";
    EXPECT_NE(csv.find("live one"), std::string::npos);
    EXPECT_EQ(dialogs.Texts().back().rfind("Записано событий: 11"_cp, 0), 0u);

    // Cleared: nothing found stays on show, and nothing can be exported.
    dialogs.yesNoAnswers.push_back(true);
    form().N6Click();
    EXPECT_EQ(search.Model().rowCount(), 0);
    EXPECT_TRUE(search.Model().Stale());
    EXPECT_FALSE(search.ExportButton->isEnabled());
    EXPECT_EQ(FromQ(search.CountLabel->text()), "Журнал изменился: нажмите \"Найти\""_cp);
    form().Host().WriteEvent(Str(status::kAlarm), "+7911Ofis", "after the clear");
    search.ResetButtonClick();
    EXPECT_EQ(search.Model().rowCount(), 1);
    EXPECT_FALSE(search.Model().Stale());
    search.close();
    form().Host().WriteEvent(Str(status::kAlarm), "+7911Ofis", "window closed");
    EXPECT_EQ(search.Model().rowCount(), 0) << "a closed window keeps and follows no rows";
}

} // namespace
} // namespace kv::test
