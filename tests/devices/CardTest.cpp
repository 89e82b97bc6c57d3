// The device card: its commands as queued on modem 1, the relay buttons, and
// the device's five newest events with their colours.
#include "tests/devices/DeviceStation.h"

#include "codec/Classify.h"
#include "devicecard/ObjectPage.h"
#include "timing/DateTime.h"
#include "windows/Controls.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace {

using namespace kv::literals;
using kv::test::Type;
using Lines = std::vector<std::string>;

std::string S(std::string_view cp) { return std::string(cp); }

const std::string kNumber = "+79111111111";

struct CardStation : kv::test::DeviceStation {
    CardStation()
    {
        Open();
        AddDevice(S("Склад"_cp), "A", kNumber);
        AddDevice(S("Дача"_cp), "D", "+79222222222", true);
        form->DeviceTable.First();
    }
    int CommandGroupEnabled() const
    {
        int n = 0;
        for (kv::TPNGButton* b : {form->InfoButton, form->OnAlarmButton, form->OffAlarmButton, form->TempButton})
            n += b->isEnabled();
        return n;
    }
    bool RelaysUsable() const
    {
        for (QWidget* w : std::initializer_list<QWidget*>{form->Rele1ButtonON, form->Rele1ButtonOff, form->Rele2ButtonON,
                                                          form->Rele2ButtonOff, form->Label3, form->Label4})
            if (!w->isEnabled() || w->isHidden())
                return false;
        return true;
    }
    std::string Cell(int row, int col) const { return kv::FromQ(form->LastEvents->item(row, col)->text()); }
};

// One unit on modem 1's queue, with no pause on the UI thread: the worker
// sends the text at the modem's prompt.
Lines SmsLines(const std::string& number, const std::string& text)
{
    return {"AT+CSCS=\"IRA\"\r", "AT+CSMP=17,173,0,0\r", "AT+CMGS=\"" + number + "\"\r", text + "\x1A",
            "AT+CSCS=\"UCS2\"\r", "AT+CSMP=17,167,0,25\r"};
}

TEST(CardCommands, EachSmsCommandIsOneUnitWithTheCharacterSetAroundItsText)
{
    const std::tuple<void (kv::TDeviceForm::*)(), std::string, std::string_view> cases[] = {
        {&kv::TDeviceForm::InfoButtonClick, "*8411#_info#", "Запрос состояния"_cp},
        {&kv::TDeviceForm::OnAlarmButtonClick, "*8411#_on#", "Поставить на охрану"_cp},
        {&kv::TDeviceForm::OffAlarmButtonClick, "*8411#_off#", "Снять с охраны"_cp},
        {&kv::TDeviceForm::TempButtonClick, "*8411#_temp#", "Запрос температуры"_cp},
        {&kv::TDeviceForm::Rele1ButtonONClick, "*8411#_set_1=1#", "Включить реле 1"_cp},
        {&kv::TDeviceForm::Rele1ButtonOffClick, "*8411#_set_1=0#", "Выключить реле 1"_cp},
        {&kv::TDeviceForm::Rele2ButtonONClick, "*8411#_set_2=1#", "Включить реле 2"_cp},
        {&kv::TDeviceForm::Rele2ButtonOffClick, "*8411#_set_2=0#", "Выключить реле 2"_cp},
    };
    for (const auto& [click, text, name] : cases) {
        CardStation st;
        EXPECT_EQ(st.CommandGroupEnabled(), 4);
        (st.form.get()->*click)();
        EXPECT_EQ(st.Timeline(), SmsLines(kNumber, text)) << text;
        EXPECT_EQ(st.sentSms, (std::vector<std::pair<std::string, std::string>>{{kNumber, text}}));
        EXPECT_EQ(st.commandNames, std::vector<std::string>{S(name)}) << "the journal names the command";
        const auto send = st.modem1.TakeSend();
        ASSERT_TRUE(send) << text;
        EXPECT_EQ(send->commandName, S(name)) << "the name travels with the send to its confirmation";
        EXPECT_TRUE(send->deviceCommand);
        EXPECT_EQ(st.form->StatusEdit->text(), kv::ToQ("Ожидание..."_cp));
        EXPECT_EQ(st.CommandGroupEnabled(), 0) << text;
        EXPECT_TRUE(st.RelaysUsable()) << "a relay command can go while an SMS command is under way";
    }
}

TEST(CardCommands, ASecondCommandWaitsBehindTheFirstAndOneThatCannotBeQueuedSaysSo)
{
    CardStation st;
    st.form->InfoButton->click();
    st.form->Rele1ButtonON->click();
    Lines both = SmsLines(kNumber, "*8411#_info#");
    const Lines relay = SmsLines(kNumber, "*8411#_set_1=1#");
    both.insert(both.end(), relay.begin(), relay.end());
    EXPECT_EQ(st.Timeline(), both);

    // A ring with no room for the unit queues none of it.
    while (st.modem1.PutCommand("AT\r")) {
    }
    const std::size_t queued = st.modem1.PendingCount();
    st.form->Rele2ButtonON->click();
    EXPECT_EQ(st.modem1.PendingCount(), queued);
    EXPECT_EQ(st.form->StatusEdit->text(), kv::ToQ("Неудачная отправка СМС"_cp));
    EXPECT_EQ(st.CommandGroupEnabled(), 4);
}

TEST(CardCommands, AViewersCommandsAreRefusedWithTheReasonAndSendNothing)
{
    CardStation st;
    st.ctx.Viewer = true;
    st.form->InfoButton->click();
    ASSERT_TRUE(st.form->SelectDeviceByShortName("D"));
    st.form->OnAlarmButton->click(); // the call of a sensor without relays
    EXPECT_TRUE(st.sentSms.empty());
    EXPECT_TRUE(st.Timeline().empty());
    EXPECT_EQ(st.dialogs.Texts(), (std::vector<std::string>(2, std::string(kv::kViewerRefused))));
    EXPECT_EQ(st.CommandGroupEnabled(), 4) << "nothing waits for an answer";
    st.ctx.Viewer = false;
    st.form->OnAlarmButton->click();
    EXPECT_EQ(st.Timeline(), Lines{"ATD+79222222222;\r"});
}

// The card is switched between devices while commands run: each result is
// shown on the card of the device it was for, and only there.
TEST(CardCommands, TheStatusBoxShowsTheResultOfItsOwnDeviceOnly)
{
    CardStation st;
    const std::string other = "+79222222222";
    kv::TDeviceForm& form = *st.form;
    auto shown = [&] { return kv::FromQ(form.StatusEdit->text()); };
    form.InfoButton->click();
    EXPECT_EQ(shown(), S("Ожидание..."_cp));

    ASSERT_TRUE(form.SelectDeviceByShortName("D"));
    EXPECT_EQ(shown(), "") << "device D has had no command";
    st.form->SetStatusEdit(kNumber, S("Сообщение отправлено"_cp));
    EXPECT_EQ(shown(), "") << "A's confirmation does not land on D's card";
    st.form->SetStatusEdit(other, S("Неудачная отправка СМС"_cp));
    EXPECT_EQ(shown(), S("Неудачная отправка СМС"_cp));

    ASSERT_TRUE(form.SelectDeviceByShortName("A"));
    EXPECT_EQ(shown(), S("Сообщение отправлено"_cp)) << "A's own result, kept while D was shown";
    ASSERT_TRUE(form.SelectDeviceByShortName("D"));
    EXPECT_EQ(shown(), S("Неудачная отправка СМС"_cp));
    // A confirmation that names no device is for the card on show.
    st.form->SetStatusEdit({}, S("Сообщение отправлено"_cp));
    EXPECT_EQ(shown(), S("Сообщение отправлено"_cp));
}

TEST(CardCommands, TheNumberIsWhatTheCardShowsUnsavedChangeIncluded)
{
    CardStation st;
    st.form->SetDeviceTablesReadOnly(false);
    Type(st.form->DBEdit5, "9");
    st.form->TempButton->click();
    EXPECT_EQ(st.Timeline(), SmsLines(kNumber + "9", "*8411#_temp#"));
    EXPECT_EQ(st.form->FindShortNameByNumber(kNumber, ""), "A") << "the register itself is unchanged";
}

TEST(CardCommands, ADrosvelSensorIsArmedAndDisarmedByTheSameCallWithoutRelays)
{
    CardStation st;
    kv::TDeviceForm& form = *st.form;
    ASSERT_TRUE(form.SelectDeviceByShortName("D"));
    EXPECT_TRUE(form.DBCheckBox2->isChecked());
    for (QWidget* w : std::initializer_list<QWidget*>{form.Rele1ButtonON, form.Rele1ButtonOff, form.Rele2ButtonON,
                                                      form.Rele2ButtonOff, form.Label3, form.Label4})
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();

    form.OnAlarmButton->click();
    EXPECT_EQ(st.CommandGroupEnabled(), 0);
    st.form->SetCommandButtonsEnabled(true);
    form.OffAlarmButton->click();
    EXPECT_EQ(st.Timeline(), (Lines{"ATD+79222222222;\r", "ATD+79222222222;\r"}));
    EXPECT_TRUE(st.sentSms.empty());
    EXPECT_TRUE(form.StatusEdit->text().isEmpty());

    // The relays follow the current device and the box itself.
    form.DeviceTable.First();
    EXPECT_TRUE(st.RelaysUsable());
    form.SetDeviceTablesReadOnly(false);
    form.DBCheckBox2->click();
    EXPECT_TRUE(form.Rele1ButtonON->isHidden());
    form.DBCheckBox2->click();
    EXPECT_TRUE(st.RelaysUsable());
}

TEST(CardLastEvents, TheFiveNewestOfTheCardsNumberNewestFirst)
{
    CardStation st;
    for (int i = 1; i <= 7; ++i) {
        st.Event(kNumber, "event " + std::to_string(i));
        st.Event("+79222222222", "other " + std::to_string(i));
    }
    st.Event(kNumber + " ", "not this number");
    st.form->FillLastEvents();
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(st.Cell(r, 0), std::to_string(r + 1));
        EXPECT_EQ(st.Cell(r, 2), "event " + std::to_string(7 - r));
    }
    const kv::RecordHandle newest = st.events.RecordAt(2);
    EXPECT_EQ(st.Cell(0, 1), kv::FormatDateTime(st.events.DateTime(newest, kv::journal::EventTime)));
    EXPECT_EQ(st.events.RecNo(), 1) << "the journal's cursor is not walked";

    ASSERT_TRUE(st.form->SelectDeviceByShortName("D"));
    EXPECT_EQ(st.Cell(0, 2), "other 7") << "the list follows the card";
    st.AddDevice(S("Пусто"_cp), "E", "+79333333333");
    st.form->DBGrid1CellClick();
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(st.Cell(r, c), "") << r << "," << c;
}

TEST(CardLastEvents, TheCardTellsTheLastContactOfItsOwnDevice)
{
    CardStation st;
    std::vector<std::string> asked;
    st.lastContact = [&](const std::string& number) {
        asked.push_back(number);
        return number == kNumber ? S("09.12.2026 12:00:00, обзвон"_cp) : std::string();
    };
    st.form->FillLastEvents();
    EXPECT_EQ(kv::FromQ(st.form->LastContact->text()), S("09.12.2026 12:00:00, обзвон"_cp));
    ASSERT_TRUE(st.form->SelectDeviceByShortName("D"));
    EXPECT_EQ(kv::FromQ(st.form->LastContact->text()), S("нет сведений"_cp)) << "follows the card";
    EXPECT_EQ(asked.back(), "+79222222222");
    st.lastContact = [&](const std::string&) { return S("09.12.2026 12:05:00, сообщение"_cp); };
    st.form->LastContactChanged();
    EXPECT_EQ(kv::FromQ(st.form->LastContact->text()), S("09.12.2026 12:05:00, сообщение"_cp)) << "told anew";

    // The newest journal row of a number, for the board's tooltips.
    double at = 0;
    std::string status, event;
    EXPECT_FALSE(st.form->LastEventOf(kNumber, at, status, event));
    st.Event(kNumber, "first");
    st.Event("+79222222222", "other");
    st.Event(kNumber, "second");
    ASSERT_TRUE(st.form->LastEventOf(kNumber, at, status, event));
    EXPECT_EQ(event, "second");
    EXPECT_DOUBLE_EQ(at, st.clock);
    EXPECT_FALSE(st.form->LastEventOf("", at, status, event));
}

TEST(CardLastEvents, FollowTheJournalThroughClearingAndLoading)
{
    CardStation st;
    for (int i = 1; i <= 6; ++i)
        st.Event(i % 2 ? kNumber : "+79222222222", "event " + std::to_string(i));
    kv::TableFormat().Save(st.events, "journal.jrn");

    st.events.SetRecNo(3); // clearing deletes the current row as often as there are rows
    for (int n = st.events.RecordCount(); n > 0; --n)
        st.events.Delete();
    st.form->FillLastEvents();
    EXPECT_EQ(st.Cell(0, 2), "");
    st.Event(kNumber, "after clearing");
    st.form->FillLastEvents();
    EXPECT_EQ(st.Cell(0, 2), "after clearing");
    EXPECT_EQ(st.Cell(1, 2), "");

    kv::TableFormat().Load(st.events, "journal.jrn");
    st.Event(kNumber, "after loading");
    st.form->FillLastEvents();
    EXPECT_EQ(st.Cell(0, 2), "after loading");
    EXPECT_EQ(st.Cell(1, 2), "event 5");
    EXPECT_EQ(st.Cell(3, 2), "event 1");
}

TEST(CardLastEvents, RowColoursFollowTheEventTextLaterRulesWinning)
{
    const std::string alarm(kv::kAlarmMarker);
    const std::pair<std::string, kv::Rgb> cases[] = {
        {"Norma", {0, 0, 0}},
        {S("Неверный номер IButton! 0012"_cp), {0, 128, 255}},
        {S("Сетевое питание системы восстановлено"_cp), {145, 92, 216}},
        {alarm + S(" Зона 2"_cp), {255, 0, 0}},
        {S("Внимание ТРЕВОГА"_cp), {0, 0, 0}}, // the device's marker has Latin letters in it
        {S("\"ТРЕВОГА\" - входящий вызов с телефона +7911"_cp), {255, 0, 0}},
        {S("Поставлено на охрану"_cp), {174, 174, 0}},
        {S("Нет связи. Снято с охраны"_cp), {255, 128, 0}},
        {alarm + S(" Снято с охраны"_cp), {96, 191, 0}},
        {S("Нет связи. Датчик температуры не подключен"_cp), {128, 128, 128}},
    };
    for (const auto& [text, colour] : cases)
        EXPECT_EQ(kv::LastEventColour(text), colour) << kv::ToQ(text).toStdString();
}

TEST(CardLastEvents, AllThreeCellsOfARowAreDrawnInItsColour)
{
    CardStation st;
    st.Event(kNumber, S("Снято с охраны, Нет связи"_cp));
    st.Event(kNumber, "Norma");
    st.form->FillLastEvents();
    const QImage image = st.form->LastEvents->grab().toImage();
    // Text is drawn smoothed, so its ink lies between white and the colour:
    // orange ink keeps full red and has less blue than green; black ink is grey.
    auto inkOf = [&](int row, int col) {
        const int frame = st.form->LastEvents->frameWidth();
        const QRect cell = st.form->LastEvents->visualItemRect(st.form->LastEvents->item(row, col))
                               .adjusted(0, 0, -2, -2)
                               .translated(frame, frame);
        std::vector<QColor> ink;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                if (image.pixelColor(x, y) != QColor(Qt::white))
                    ink.push_back(image.pixelColor(x, y));
        return ink;
    };
    for (int col = 0; col < 3; ++col) {
        const std::vector<QColor> orange = inkOf(1, col), black = inkOf(0, col);
        ASSERT_GT(orange.size(), 10u) << col;
        ASSERT_GT(black.size(), 10u) << col;
        for (const QColor& c : orange)
            ASSERT_TRUE(c.red() == 255 && c.blue() < c.green()) << col << ": " << c.name().toStdString();
        for (const QColor& c : black)
            ASSERT_TRUE(c.red() == c.green() && c.green() == c.blue()) << col << ": " << c.name().toStdString();
    }
}

TEST(CardObject, TheAdministratorWritesWhatToDoAndWhomToCallAndItIsKeptBesideTheRegister)
{
    CardStation st;
    kv::TObjectPage& page = *st.form->ObjectPage;
    EXPECT_EQ(page.Tel(), kNumber) << "the card's device";
    EXPECT_TRUE(page.Instructions->isReadOnly() && !page.AddContact->isEnabled()) << "an operator reads it only";
    page.AddContactClick();
    EXPECT_EQ(page.Contacts->rowCount(), 0);

    st.form->SetDeviceTablesReadOnly(false);
    page.Instructions->setPlainText(kv::ToQ("Позвонить владельцу.\nЕсли не отвечает, выслать группу."_cp));
    page.AddContactClick();
    page.Contacts->item(0, kv::TObjectPage::kName)->setText(kv::ToQ("Иванов"_cp));
    page.Contacts->item(0, kv::TObjectPage::kPhone)->setText("+79001112233");
    page.AddContactClick(); // left empty: no contact
    ASSERT_TRUE(st.form->SelectDeviceByShortName("D"));
    EXPECT_EQ(page.Tel(), "+79222222222");
    EXPECT_TRUE(page.Instructions->toPlainText().isEmpty()) << "the other device has no card";
    ASSERT_TRUE(st.form->SelectDeviceByShortName("A"));
    EXPECT_EQ(page.Instructions->toPlainText(), kv::ToQ("Позвонить владельцу.\nЕсли не отвечает, выслать группу."_cp))
        << "kept when the card moved on";
    ASSERT_EQ(page.Contacts->rowCount(), 1);

    // The device's number changes: its card follows once the change is saved.
    const std::string renumbered = "+79333333333";
    Type(st.form->DBEdit5, renumbered, true);
    EXPECT_EQ(page.Tel(), kNumber) << "not through every half-typed number";
    st.form->RbButton2Click();
    EXPECT_EQ(page.Tel(), renumbered);
    ASSERT_EQ(page.Contacts->rowCount(), 1);

    st.form->show();
    st.form->close(); // saves the register and the cards
    kv::ObjectCards kept;
    std::string problem;
    ASSERT_TRUE(kept.Load(problem)) << problem;
    EXPECT_TRUE(kept.Of(kNumber).Empty()) << "nothing left under the old number";
    const kv::ObjectCard card = kept.Of(renumbered);
    EXPECT_EQ(card.instructions, S("Позвонить владельцу.\r\nЕсли не отвечает, выслать группу."_cp));
    ASSERT_EQ(card.contacts.size(), 1u);
    EXPECT_EQ(card.contacts[0].name + " " + card.contacts[0].phone, S("Иванов"_cp) + " +79001112233");
    EXPECT_TRUE(kept.Of("+79222222222").Empty());
}

} // namespace

