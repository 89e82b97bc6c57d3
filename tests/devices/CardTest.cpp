// The device card: its commands as queued on modem 1, the relay buttons, and
// the device's five newest events with their colours.
#include "tests/devices/DeviceStation.h"

#include "codec/Classify.h"
#include "data/TableFormat.h"
#include "timing/DateTime.h"
#include "windows/Controls.h"

#include <QImage>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace kv::literals;
using kv::test::DeviceStation;
using kv::test::Type;
using Lines = std::vector<std::string>;

std::string S(std::string_view cp) { return std::string(cp); }

const std::string kNumber = "+79111111111";

std::string Cell(kv::TDeviceForm& form, int row, int col)
{
    return kv::FromQ(form.LastEvents->item(row, col)->text());
}

struct CardStation : DeviceStation {
    CardStation()
    {
        Open();
        AddDevice("Склад"_cp.data(), "A", kNumber);
        AddDevice("Дача"_cp.data(), "D", "+79222222222", true);
        form->DeviceTable.First();
    }
    bool CommandGroupEnabled() const
    {
        return form->InfoButton->isEnabled() && form->OnAlarmButton->isEnabled() &&
               form->OffAlarmButton->isEnabled() && form->TempButton->isEnabled();
    }
    bool CommandGroupDisabled() const
    {
        return !form->InfoButton->isEnabled() && !form->OnAlarmButton->isEnabled() &&
               !form->OffAlarmButton->isEnabled() && !form->TempButton->isEnabled();
    }
    bool RelaysUsable() const
    {
        for (kv::TPNGButton* b : {form->Rele1ButtonON, form->Rele1ButtonOff, form->Rele2ButtonON, form->Rele2ButtonOff})
            if (!b->isEnabled() || b->isHidden())
                return false;
        return !form->Label3->isHidden() && !form->Label4->isHidden();
    }
};

Lines SmsLines(const std::string& number, const std::string& text, bool pauseAfterSend)
{
    Lines l = {"<1000 ms>", "AT+CSCS=\"IRA\"\r", "AT+CSMP=17,173,0,0\r", "AT+CMGS=\"" + number + "\"\r", "<1000 ms>",
               text + "\x1A"};
    if (pauseAfterSend)
        l.push_back("<1000 ms>");
    l.push_back("AT+CSCS=\"UCS2\"\r");
    l.push_back("AT+CSMP=17,167,0,25\r");
    return l;
}

TEST(CardCommands, AnSmsCommandSwitchesTheCharacterSetAroundTheSendWithItsPauses)
{
    CardStation st;
    kv::TDeviceForm& form = *st.form;
    EXPECT_TRUE(st.CommandGroupEnabled());
    EXPECT_TRUE(form.StatusEdit->text().isEmpty());
    form.InfoButton->click();
    EXPECT_EQ(st.Timeline(), SmsLines(kNumber, "*8411#_info#", true));
    EXPECT_EQ(form.StatusEdit->text(), kv::ToQ("Ожидание..."_cp));
    EXPECT_TRUE(st.CommandGroupDisabled());
    EXPECT_TRUE(st.RelaysUsable()) << "a relay command can go while an SMS command is under way";
    EXPECT_TRUE(st.modem1.SmsSending);

    // The modem worker's confirmation comes back through the station.
    st.ctx.SetCommandButtonsEnabled(true);
    st.ctx.SetStatusEdit(S("Сообщение отправлено"_cp));
    EXPECT_TRUE(st.CommandGroupEnabled());
    EXPECT_EQ(form.StatusEdit->text(), kv::ToQ("Сообщение отправлено"_cp));
}

TEST(CardCommands, ARelayCommandQueuesTheUcs2LinesRightAfterTheText)
{
    CardStation st;
    st.form->Rele2ButtonOff->click();
    EXPECT_EQ(st.Timeline(), SmsLines(kNumber, "*8411#_set_2=0#", false));
    EXPECT_TRUE(st.CommandGroupDisabled());
    EXPECT_TRUE(st.RelaysUsable());
}

TEST(CardCommands, EachButtonSendsItsText)
{
    const std::pair<std::function<void(kv::TDeviceForm&)>, std::pair<std::string, bool>> cases[] = {
        {[](kv::TDeviceForm& f) { f.InfoButtonClick(); }, {"*8411#_info#", true}},
        {[](kv::TDeviceForm& f) { f.OnAlarmButtonClick(); }, {"*8411#_on#", true}},
        {[](kv::TDeviceForm& f) { f.OffAlarmButtonClick(); }, {"*8411#_off#", true}},
        {[](kv::TDeviceForm& f) { f.TempButtonClick(); }, {"*8411#_temp#", true}},
        {[](kv::TDeviceForm& f) { f.Rele1ButtonONClick(); }, {"*8411#_set_1=1#", false}},
        {[](kv::TDeviceForm& f) { f.Rele1ButtonOffClick(); }, {"*8411#_set_1=0#", false}},
        {[](kv::TDeviceForm& f) { f.Rele2ButtonONClick(); }, {"*8411#_set_2=1#", false}},
        {[](kv::TDeviceForm& f) { f.Rele2ButtonOffClick(); }, {"*8411#_set_2=0#", false}},
    };
    CardStation st;
    for (const auto& [click, expected] : cases) {
        st.ForgetQueue();
        st.modem1.SmsSending = false;
        click(*st.form);
        EXPECT_EQ(st.Timeline(), SmsLines(kNumber, expected.first, expected.second)) << expected.first;
        ASSERT_EQ(st.sentSms.size(), 1u);
        EXPECT_EQ(st.sentSms[0], std::make_pair(kNumber, expected.first));
    }
}

TEST(CardCommands, TheNumberIsWhatTheCardShowsUnsavedEditIncluded)
{
    CardStation st;
    st.form->SetDeviceTablesReadOnly(false);
    Type(st.form->DBEdit5, "9");
    st.form->TempButtonClick();
    EXPECT_EQ(st.Timeline(), SmsLines(kNumber + "9", "*8411#_temp#", true));
    EXPECT_EQ(st.form->FindShortNameByNumber(kNumber, ""), "A") << "the register itself is unchanged";
}

TEST(CardCommands, ADrosvelSensorIsArmedAndDisarmedByTheSameCallWithoutRelays)
{
    CardStation st;
    kv::TDeviceForm& form = *st.form;
    EXPECT_TRUE(st.RelaysUsable());
    ASSERT_TRUE(form.SelectDeviceByShortName("D"));
    EXPECT_TRUE(form.DBCheckBox2->isChecked());
    for (QWidget* w : std::initializer_list<QWidget*>{form.Rele1ButtonON, form.Rele1ButtonOff, form.Rele2ButtonON,
                                                      form.Rele2ButtonOff, form.Label3, form.Label4})
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();

    form.OnAlarmButtonClick();
    EXPECT_EQ(st.Timeline(), Lines{"ATD+79222222222;\r"});
    EXPECT_TRUE(st.CommandGroupDisabled());
    EXPECT_TRUE(form.StatusEdit->text().isEmpty());
    st.ctx.SetCommandButtonsEnabled(true);
    form.OffAlarmButtonClick();
    EXPECT_EQ(st.Timeline(), (Lines{"ATD+79222222222;\r", "ATD+79222222222;\r"}));
    EXPECT_TRUE(st.sentSms.empty());

    // Information and temperature still go by SMS.
    form.InfoButtonClick();
    EXPECT_EQ(st.sentSms.size(), 1u);

    // The relays follow the current device and the box itself.
    form.DeviceTable.First();
    EXPECT_TRUE(st.RelaysUsable());
    form.SetDeviceTablesReadOnly(false);
    form.DBCheckBox2->click();
    EXPECT_TRUE(form.Rele1ButtonON->isHidden());
    form.DBCheckBox2->click();
    EXPECT_FALSE(form.Rele1ButtonON->isHidden());
}

TEST(CardLastEvents, ShowsTheFiveNewestOfTheCardsNumberNewestFirst)
{
    CardStation st;
    kv::TDeviceForm& form = *st.form;
    for (int i = 1; i <= 7; ++i) {
        st.Event(kNumber, "event " + std::to_string(i), S("Норма"_cp));
        st.Event("+79222222222", "other " + std::to_string(i));
    }
    st.Event(kNumber + " ", "not this number");
    st.ctx.FillLastEvents();
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(Cell(form, r, 0), std::to_string(r + 1));
        EXPECT_EQ(Cell(form, r, 2), "event " + std::to_string(7 - r));
    }
    const kv::RecordHandle newest = st.events.RecordAt(2);
    ASSERT_EQ(st.events.Text(newest, kv::journal::Event), "event 7");
    EXPECT_EQ(Cell(form, 0, 1), kv::FormatDateTime(st.events.DateTime(newest, kv::journal::EventTime)));
    EXPECT_EQ(Cell(form, 0, 1).size(), std::string("dd.MM.yyyy hh:mm:ss").size());
    EXPECT_EQ(st.events.RecNo(), 1) << "the journal's cursor is not walked";

    ASSERT_TRUE(form.SelectDeviceByShortName("D"));
    EXPECT_EQ(Cell(form, 0, 2), "other 7") << "the list follows the card";
    EXPECT_EQ(Cell(form, 4, 2), "other 3");

    st.AddDevice("Пусто"_cp.data(), "E", "+79333333333");
    form.DBGrid1CellClick();
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(Cell(form, r, c), "") << r << "," << c;
}

TEST(CardLastEvents, FollowsTheJournalThroughClearingAndLoading)
{
    CardStation st;
    kv::TDeviceForm& form = *st.form;
    for (int i = 1; i <= 6; ++i)
        st.Event(i % 2 ? kNumber : "+79222222222", "event " + std::to_string(i));
    kv::TableFormat format;
    format.Save(st.events, "journal.jrn");

    // Clearing deletes the current row as many times as there are rows.
    st.events.SetRecNo(3);
    for (int n = st.events.RecordCount(); n > 0; --n)
        st.events.Delete();
    form.FillLastEvents();
    EXPECT_EQ(Cell(form, 0, 2), "");
    st.Event(kNumber, "after clearing");
    form.FillLastEvents();
    EXPECT_EQ(Cell(form, 0, 2), "after clearing");
    EXPECT_EQ(Cell(form, 1, 2), "");

    format.Load(st.events, "journal.jrn");
    form.FillLastEvents();
    EXPECT_EQ(Cell(form, 0, 2), "event 5");
    EXPECT_EQ(Cell(form, 2, 2), "event 1");
    EXPECT_EQ(Cell(form, 3, 2), "");
    st.Event(kNumber, "after loading");
    form.FillLastEvents();
    EXPECT_EQ(Cell(form, 0, 2), "after loading");
    EXPECT_EQ(Cell(form, 1, 2), "event 5");
}

TEST(CardLastEvents, RowColoursFollowTheEventTextLaterRulesWinning)
{
    const std::string alarm(kv::kAlarmMarker);
    const std::pair<std::string, kv::Rgb> cases[] = {
        {"Норма", {0, 0, 0}},
        {S("Неверный номер IButton! 0012"_cp), {0, 128, 255}},
        {S("Сетевое питание отключено, система питается от АКБ"_cp), {145, 92, 216}},
        {S("Сетевое питание системы восстановлено"_cp), {145, 92, 216}},
        {alarm + S(" Зона 2"_cp), {255, 0, 0}},
        {S("Внимание ТРЕВОГА"_cp), {0, 0, 0}}, // the device's marker has Latin letters in it
        {S("\"ТРЕВОГА\" - входящий вызов с телефона +79111111111"_cp), {255, 0, 0}},
        {S("Снято с охраны"_cp), {96, 191, 0}},
        {S("Поставлено на охрану"_cp), {174, 174, 0}},
        {S("Снято с охраны. Нет связи"_cp), {255, 128, 0}},
        {S("Нет связи. Снято с охраны"_cp), {255, 128, 0}},
        {alarm + S(" Снято с охраны"_cp), {96, 191, 0}},
        {S("Нет связи. Температура +5"_cp), {128, 128, 128}},
        {S("Датчик температуры не подключен"_cp), {128, 128, 128}},
    };
    for (const auto& [text, colour] : cases) {
        const kv::Rgb got = kv::LastEventColour(text);
        EXPECT_EQ(got, colour) << kv::ToQ(text).toStdString() << " gives " << int(got.r) << "," << int(got.g) << ","
                               << int(got.b);
    }
}

TEST(CardLastEvents, AllThreeCellsOfARowAreDrawnInItsColour)
{
    CardStation st;
    kv::TDeviceForm& form = *st.form;
    st.Event(kNumber, S("Снято с охраны, Нет связи"_cp));
    st.Event(kNumber, "Norma");
    form.FillLastEvents();
    const QImage image = form.LastEvents->grab().toImage();
    // Text is drawn smoothed, so its ink lies between white and the colour:
    // orange ink keeps full red and has less blue than green, black ink is grey.
    auto inkOf = [&](int row, int col) {
        const int frame = form.LastEvents->frameWidth();
        const QRect cell = form.LastEvents->visualItemRect(form.LastEvents->item(row, col))
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
        const std::vector<QColor> orange = inkOf(1, col);
        ASSERT_GT(orange.size(), 10u) << col;
        for (const QColor& c : orange)
            ASSERT_TRUE(c.red() == 255 && c.blue() < c.green()) << col << ": " << c.name().toStdString();
        const std::vector<QColor> black = inkOf(0, col);
        ASSERT_GT(black.size(), 10u) << col;
        for (const QColor& c : black)
            ASSERT_TRUE(c.red() == c.green() && c.green() == c.blue()) << col << ": " << c.name().toStdString();
    }
}

} // namespace
