// The device register: lookups, adding, deleting, editing, saving and the
// read-only rule, and loading and saving its files.
#include "tests/devices/DeviceStation.h"

#include "data/TableFormat.h"
#include "modem/DialSchedule.h"
#include "windows/DBGrid.h"

#include <QApplication>
#include <QPushButton>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace kv::literals;
using kv::test::DeviceStation;
using kv::test::Type;

const std::string kNoMatch = "        ";

std::string S(std::string_view cp) { return std::string(cp); }

std::string Boxes(const kv::test::ScriptedDialogs& d)
{
    std::string all;
    for (const auto& t : d.Texts())
        all += "[" + t + "]";
    return all;
}

TEST(RegisterLookups, ByNumberTakesTheFirstDeviceAndTellsAnEmptyFromANonMatchingRegister)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    EXPECT_EQ(form.FindShortNameByNumber("+79001112233", ""), "") << "an empty register keeps the caller's text";
    EXPECT_EQ(form.FindShortNameByNumber("+79001112233", "keep"), "keep");
    EXPECT_EQ(form.FindNumberByShortName("A", "keep"), "keep");

    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    st.AddDevice("Офис"_cp.data(), "B", "+79001112233");
    st.AddDevice("Дача"_cp.data(), "C", "+79005556677");
    EXPECT_EQ(form.FindShortNameByNumber("+79001112233", ""), "A");
    EXPECT_EQ(form.FindShortNameByNumber("+79005556677", ""), "C");
    EXPECT_EQ(form.FindShortNameByNumber("+79009999999", ""), kNoMatch);
    EXPECT_EQ(form.FindShortNameByNumber("+79001112233 ", ""), kNoMatch) << "no trimming";
    EXPECT_EQ(form.FindShortNameByNumber("", ""), kNoMatch);

    EXPECT_EQ(form.FindNumberByShortName("B", ""), "+79001112233");
    EXPECT_EQ(form.FindNumberByShortName("c", "keep"), "keep") << "case-sensitive, no eight blanks";
    EXPECT_EQ(st.ctx.FindShortNameByNumber("+79005556677", ""), "C") << "offered to the station";
    EXPECT_EQ(st.ctx.FindNumberByShortName("C", ""), "+79005556677");
}

TEST(RegisterLookups, ADeviceWithoutDescriptionMatchesTheEmptyNameAndNumber)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    st.AddBareDevice("Новый"_cp.data());
    st.AddDevice("Офис"_cp.data(), "", "+79004445566");
    EXPECT_EQ(form.FindShortNameByNumber("", "x"), "");
    EXPECT_EQ(form.FindNumberByShortName("", "x"), "");
    EXPECT_TRUE(form.SelectDeviceByShortName(""));
    EXPECT_EQ(st.CurrentDevice(), S("Новый"_cp));
}

TEST(RegisterLookups, LeaveTheCurrentDeviceAndAnUnsavedCardAsTheyWere)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    st.AddDevice("Офис"_cp.data(), "B", "+79004445566");
    st.AddDevice("Дача"_cp.data(), "C", "+79007778899");
    form.DeviceTable.SetRecNo(2);
    Type(form.DBEdit5, "0");
    ASSERT_EQ(form.DescriptionTable.State(), kv::DataSetState::Edit);

    EXPECT_EQ(form.FindShortNameByNumber("+79007778899", ""), "C");
    EXPECT_EQ(form.FindShortNameByNumber("+790044455660", ""), kNoMatch) << "an unsaved number is no register entry";
    EXPECT_EQ(form.FindNumberByShortName("A", ""), "+79001112233");
    EXPECT_EQ(form.RegisterDevices().size(), 3u);

    EXPECT_EQ(form.DeviceTable.RecNo(), 2);
    EXPECT_EQ(form.DescriptionTable.State(), kv::DataSetState::Edit);
    EXPECT_EQ(form.DBEdit5->text(), QStringLiteral("+790044455660"));
    EXPECT_FALSE(form.RbButton2->isHidden());
}

TEST(RegisterLookups, SelectByShortNameMakesTheFirstMatchCurrentOrLeavesTheLastDevice)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    EXPECT_FALSE(form.SelectDeviceByShortName("A")) << "an empty register";
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    st.AddDevice("Офис"_cp.data(), "B", "+79004445566");
    st.AddDevice("Офис 2"_cp.data(), "B", "+79004445500");
    st.AddDevice("Дача"_cp.data(), "C", "+79007778899");

    form.DeviceTable.First();
    EXPECT_TRUE(st.ctx.SelectDeviceByShortName("B"));
    EXPECT_EQ(st.CurrentDevice(), S("Офис"_cp));
    EXPECT_EQ(form.DBEdit5->text(), QStringLiteral("+79004445566")) << "the card follows";

    form.DeviceTable.First();
    EXPECT_FALSE(form.SelectDeviceByShortName("Z"));
    EXPECT_EQ(st.CurrentDevice(), S("Дача"_cp));
}

TEST(RegisterLookups, TheRegisterInOrderForTheBoardAndTheRingRound)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233", false, "1.5", true);
    st.AddBareDevice("Новый"_cp.data());
    st.AddDevice("Офис"_cp.data(), "B", "+79004445566", false, "30", false);
    const std::vector<kv::DialDevice> devices = st.ctx.RegisterDevices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].simplename, "A");
    EXPECT_TRUE(devices[0].dialenable);
    EXPECT_EQ(devices[0].dialtime, "1.5");
    EXPECT_EQ(devices[1].simplename, "");
    EXPECT_FALSE(devices[1].dialenable);
    EXPECT_EQ(devices[2].simplename, "B");
    EXPECT_FALSE(devices[2].dialenable);
    EXPECT_EQ(devices[2].dialtime, "30");
    (void)form;
}

TEST(RegisterChanges, AddAsksForTheNameAndAddsNothingWhenCancelledOrEmpty)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    st.dialogs.inputAnswers = {std::nullopt, std::string(), S("Склад №2"_cp)};
    form.N1Click();
    form.N1Click();
    EXPECT_TRUE(form.DeviceTable.IsEmpty());
    form.N1Click();
    ASSERT_EQ(st.dialogs.inputs.size(), 3u);
    EXPECT_EQ(st.dialogs.inputs[0], S("Новое устройство |Введите название"_cp));
    ASSERT_EQ(form.DeviceTable.RecordCount(), 1);
    EXPECT_EQ(st.CurrentDevice(), S("Склад №2"_cp));
    EXPECT_TRUE(form.DescriptionTable.IsEmpty()) << "the card's row comes with its first change";
    EXPECT_TRUE(st.dialogs.messages.empty()) << Boxes(st.dialogs);
}

TEST(RegisterChanges, DeleteRemovesTheDeviceAndItsCardAndAlwaysRebuildsTheBoard)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    const int before = st.rebuilds;
    form.N2Click();
    EXPECT_EQ(st.rebuilds, before + 1) << "an empty register still rebuilds";
    EXPECT_TRUE(st.dialogs.messages.empty()) << Boxes(st.dialogs);

    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    st.AddDevice("Офис"_cp.data(), "B", "+79004445566");
    st.AddDevice("Дача"_cp.data(), "C", "+79007778899");
    form.DeviceTable.SetRecNo(2);
    form.N2Click();
    EXPECT_EQ(st.rebuilds, before + 2);
    EXPECT_EQ(form.DeviceTable.RecordCount(), 2);
    EXPECT_EQ(form.DescriptionTable.TotalRecordCount(), 2u);
    EXPECT_EQ(st.CurrentDevice(), S("Дача"_cp)) << "the following device";
    EXPECT_EQ(form.FindNumberByShortName("B", "none"), "none");

    form.N2Click();
    EXPECT_EQ(st.CurrentDevice(), S("Склад"_cp)) << "the new last device";
    EXPECT_TRUE(st.dialogs.messages.empty()) << Boxes(st.dialogs);
}

TEST(RegisterChanges, DeletingADeviceWhoseCardWasJustStartedLeavesNoStrayRow)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    st.AddBareDevice("Новый"_cp.data());
    Type(form.DBEdit1, "x");
    ASSERT_EQ(form.DescriptionTable.State(), kv::DataSetState::Insert);
    form.N2Click();
    EXPECT_EQ(form.DeviceTable.RecordCount(), 1);
    EXPECT_EQ(form.DescriptionTable.TotalRecordCount(), 1u);
    EXPECT_EQ(form.DBEdit5->text(), QStringLiteral("+79001112233"));
    EXPECT_TRUE(form.RbButton2->isHidden());
}

TEST(RegisterReadOnly, WithoutTheAdministratorEveryChangeIsRefused)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    ASSERT_TRUE(form.DeviceTable.ReadOnly());
    ASSERT_TRUE(form.DescriptionTable.ReadOnly());

    st.dialogs.inputAnswers = {S("Офис"_cp)};
    form.N1Click();
    form.N2Click();
    ASSERT_EQ(st.dialogs.messages.size(), 2u);
    for (const auto& m : st.dialogs.messages) {
        EXPECT_EQ(m.kind, kv::MsgKind::Error);
        EXPECT_NE(m.text.find("Cannot modify a read-only dataset"), std::string::npos) << m.text;
    }
    EXPECT_EQ(st.dialogs.messages[0].text, "DeviceTable: Cannot modify a read-only dataset");
    EXPECT_EQ(form.DeviceTable.RecordCount(), 1);
    EXPECT_EQ(form.DescriptionTable.TotalRecordCount(), 1u);

    Type(form.DBEdit1, "x");
    form.DBCheckBox2->click();
    EXPECT_EQ(form.DBEdit1->text(), kv::ToQ("Склад"_cp));
    EXPECT_FALSE(form.DBCheckBox2->isChecked());
    EXPECT_EQ(st.dialogs.messages.size(), 2u) << "the card's fields simply do not change";
    EXPECT_EQ(form.DescriptionTable.State(), kv::DataSetState::Browse);
    EXPECT_TRUE(form.RbButton2->isHidden());

    const QModelIndex firstRow = form.DataSource1->index(0, 0);
    EXPECT_FALSE(form.DataSource1->flags(firstRow).testFlag(Qt::ItemIsEditable));

    st.ctx.SetDeviceTablesReadOnly(false);
    EXPECT_TRUE(form.DataSource1->flags(firstRow).testFlag(Qt::ItemIsEditable)) << "the list is edited in place";
    EXPECT_TRUE(form.DataSource1->setData(firstRow, kv::ToQ("Склад 1"_cp), Qt::EditRole));
    EXPECT_EQ(st.CurrentDevice(), S("Склад 1"_cp));
    Type(form.DBEdit1, "x");
    EXPECT_EQ(form.DescriptionTable.State(), kv::DataSetState::Edit);
    EXPECT_FALSE(form.RbButton2->isHidden());
    form.RbButton2Click();
    EXPECT_EQ(form.DescriptionTable.FieldByName("name").AsString(), S("Складx"_cp));
    EXPECT_EQ(st.dialogs.messages.size(), 2u);

    // A change left open when another user logs in is dropped, not handed over.
    Type(form.DBEdit1, "y");
    st.ctx.SetDeviceTablesReadOnly(true);
    EXPECT_EQ(form.DescriptionTable.State(), kv::DataSetState::Browse);
    EXPECT_EQ(form.DBEdit1->text(), kv::ToQ("Складx"_cp));
    EXPECT_TRUE(form.RbButton2->isHidden());
}

TEST(RegisterEditing, TheFirstChangeOfANewDeviceStartsItsCardWithTheDevicesKey)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    st.AddBareDevice("Новый"_cp.data());
    const std::int32_t key = form.DeviceTable.FieldByName("k1").AsInteger();
    EXPECT_TRUE(form.DBEdit4->text().isEmpty());
    EXPECT_TRUE(form.RbButton2->isHidden());

    Type(form.DBEdit4, "N");
    EXPECT_EQ(form.DescriptionTable.State(), kv::DataSetState::Insert);
    EXPECT_FALSE(form.RbButton2->isHidden());
    Type(form.DBEdit5, "+7900");
    form.DBCheckBox1->click();
    Type(form.DBEdit6, "15");
    const int before = st.rebuilds;
    form.RbButton2Click();
    EXPECT_EQ(st.rebuilds, before + 1);
    EXPECT_TRUE(form.RbButton2->isHidden());
    ASSERT_EQ(form.DescriptionTable.RecordCount(), 1);
    EXPECT_EQ(form.DescriptionTable.FieldByName("k1").AsInteger(), key);
    EXPECT_EQ(form.FindShortNameByNumber("+7900", ""), "N");
    const auto devices = form.RegisterDevices();
    EXPECT_TRUE(devices[1].dialenable);
    EXPECT_EQ(devices[1].dialtime, "15");
}

TEST(RegisterEditing, AnIntervalThatIsNoNumberIsSavedAsSixty)
{
    const std::pair<std::string, std::string> cases[] = {
        {"abc", "60"}, {"", "60"}, {"1,5", "60"}, {"1.5", "1.5"}, {"90", "90"}};
    for (const auto& [typed, stored] : cases) {
        DeviceStation st;
        kv::TDeviceForm& form = st.Open();
        form.SetDeviceTablesReadOnly(false);
        st.AddDevice("Склад"_cp.data(), "A", "+79001112233", false, "45");
        kv::test::ClearByKeys(form.DBEdit6);
        Type(form.DBEdit6, typed);
        form.RbButton2Click();
        EXPECT_EQ(form.DescriptionTable.FieldByName("dialtime").AsString(), stored) << typed;
        EXPECT_EQ(form.DBEdit6->text(), QString::fromStdString(stored)) << typed;
        EXPECT_EQ(form.DescriptionTable.State(), kv::DataSetState::Browse);
    }
}

TEST(RegisterEditing, FieldsAreCutToTheirWidthsAndTheMemoKeepsItsLineBreaks)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    Type(form.DBEdit3, std::string(25, 'd'));
    form.DBMemo1->setPlainText(QStringLiteral("line 1\nline 2"));
    form.RbButton2Click();
    EXPECT_EQ(form.DescriptionTable.FieldByName("description").AsString(), std::string(20, 'd'));
    EXPECT_EQ(form.DBEdit3->text().size(), 20);
    EXPECT_EQ(form.DescriptionTable.FieldByName("devicedescription").AsString(), "line 1\r\nline 2");
    EXPECT_EQ(form.DBMemo1->toPlainText(), QStringLiteral("line 1\nline 2"));
}

TEST(RegisterEditing, LeavingADeviceSavesItsCardChangeOnThatDevice)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233", false, "60");
    st.AddDevice("Офис"_cp.data(), "B", "+79004445566");
    st.AddBareDevice("Новый"_cp.data());
    form.DeviceTable.First();
    Type(form.DBEdit4, "1");
    kv::test::ClearByKeys(form.DBEdit6);
    Type(form.DBEdit6, "x");
    form.DeviceTable.Next();
    EXPECT_EQ(form.DBEdit4->text(), QStringLiteral("B")) << "the next device shows its own card";
    EXPECT_TRUE(form.RbButton2->isHidden());
    EXPECT_EQ(form.FindNumberByShortName("A1", ""), "+79001112233");
    EXPECT_EQ(form.RegisterDevices()[0].dialtime, "60");

    // A card started on a device without one stays with that device.
    form.DeviceTable.Last();
    Type(form.DBEdit4, "N");
    form.DeviceTable.First();
    EXPECT_EQ(form.DBEdit4->text(), QStringLiteral("A1"));
    EXPECT_EQ(form.RegisterDevices()[2].simplename, "N");
    EXPECT_EQ(form.DescriptionTable.TotalRecordCount(), 3u);

    const int before = st.rebuilds;
    QApplication::processEvents();
    EXPECT_GT(st.rebuilds, before) << "the board shows the saved short names";
}

TEST(RegisterFiles, CloseSavesBothFilesEvenUnchangedAndKeepsTheCurrentDevice)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    st.AddDevice("Офис"_cp.data(), "B", "+79004445566", true, "1.5", true);
    st.AddDevice("Дача"_cp.data(), "C", "+79007778899");
    form.DeviceTable.SetRecNo(2);

    EXPECT_EQ(form.windowTitle(), kv::ToQ("Каталог устройств охраны"_cp));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    st.mainWindow.setGeometry(100, 80, 1200, 800);
    st.ctx.Window(kv::ShownWindow::Devices).show();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(st.ctx.Shown(kv::ShownWindow::Devices));
    // Centred up to the window frame, which is only known once the window is up.
    EXPECT_LE((form.frameGeometry().center() - st.mainWindow.frameGeometry().center()).manhattanLength(), 8);
    st.ctx.Window(kv::ShownWindow::Devices).close();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(st.ctx.Shown(kv::ShownWindow::Devices));
    EXPECT_EQ(st.CurrentDevice(), S("Офис"_cp));
    EXPECT_TRUE(st.dialogs.messages.empty()) << Boxes(st.dialogs);
    ASSERT_TRUE(std::filesystem::exists("t1.bin"));
    ASSERT_TRUE(std::filesystem::exists("t2.bin"));

    // A second close rewrites them although nothing changed.
    std::filesystem::remove("t1.bin");
    std::filesystem::remove("t2.bin");
    st.ctx.ShowDeviceCard();
    EXPECT_FALSE(st.ctx.Shown(kv::ShownWindow::Devices)) << "the board's card leaves the toggle alone";
    form.close();
    EXPECT_TRUE(std::filesystem::exists("t1.bin"));
    EXPECT_TRUE(std::filesystem::exists("t2.bin"));

    DeviceStation again;
    std::filesystem::copy_file(st.dir.File("t1.bin"), again.dir.File("t1.bin"));
    std::filesystem::copy_file(st.dir.File("t2.bin"), again.dir.File("t2.bin"));
    kv::TDeviceForm& reloaded = again.Open();
    EXPECT_TRUE(again.dialogs.messages.empty()) << Boxes(again.dialogs);
    EXPECT_EQ(again.rebuilds, 1);
    EXPECT_TRUE(reloaded.DeviceTable.ReadOnly());
    const auto devices = reloaded.RegisterDevices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[1].simplename, "B");
    EXPECT_EQ(devices[1].dialtime, "1.5");
    EXPECT_TRUE(devices[1].dialenable);
    EXPECT_EQ(reloaded.FindShortNameByNumber("+79007778899", ""), "C");
    reloaded.DeviceTable.SetRecNo(2);
    EXPECT_TRUE(reloaded.DBCheckBox2->isChecked());

    // New devices continue the keys of the loaded ones.
    reloaded.SetDeviceTablesReadOnly(false);
    again.dialogs.inputAnswers = {S("Гараж"_cp)};
    reloaded.N1Click();
    EXPECT_EQ(reloaded.DeviceTable.FieldByName("k1").AsInteger(), 3);
    EXPECT_TRUE(reloaded.DBEdit4->text().isEmpty()) << "no other device's card";
}

TEST(RegisterFiles, ASaveFailureIsToldAndTheWindowStillCloses)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    st.AddDevice("Склад"_cp.data(), "A", "+79001112233");
    std::filesystem::remove("t2.bin");
    std::filesystem::create_directory("t2.bin");
    st.ctx.Window(kv::ShownWindow::Devices).show();
    form.close();
    EXPECT_EQ(st.dialogs.Texts(), std::vector<std::string>{S("Ошибка сохранения базы устройств"_cp)});
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(st.ctx.Shown(kv::ShownWindow::Devices));
    EXPECT_EQ(form.DeviceTable.RecordCount(), 1);
}

TEST(RegisterFiles, ALoadFailureIsToldOnceAndKeepsTheFilesThatWereNotRead)
{
    {
        DeviceStation st;
        kv::TDeviceForm& form = st.OpenAsFound();
        EXPECT_EQ(st.dialogs.Texts(), std::vector<std::string>{S("Не найдена база устройств!"_cp)});
        EXPECT_EQ(st.rebuilds, 0) << "the board waits for the next rebuild";
        EXPECT_TRUE(form.DeviceTable.IsEmpty());
    }
    {
        DeviceStation st;
        kv::test::WriteFileBytes("t1.bin", "TPF0 garbage");
        kv::test::WriteFileBytes("t2.bin", "not read either");
        kv::TDeviceForm& form = st.Open();
        EXPECT_EQ(st.dialogs.Texts(), std::vector<std::string>{S("Не найдена база устройств!"_cp)});
        EXPECT_EQ(kv::test::ReadFileBytes("t1.bin.damaged"), "TPF0 garbage");
        EXPECT_EQ(kv::test::ReadFileBytes("t2.bin.unloaded"), "not read either");
        // The register still works and saves.
        form.SetDeviceTablesReadOnly(false);
        st.dialogs.inputAnswers = {S("Склад"_cp)};
        form.N1Click();
        Type(form.DBEdit4, "A");
        form.RbButton2Click();
        form.show();
        form.close();
        EXPECT_EQ(st.dialogs.messages.size(), 1u) << Boxes(st.dialogs);
        kv::MemTable check;
        kv::TableFormat().Load(check, "t1.bin");
        EXPECT_EQ(check.RecordCount(), 1);
    }
    {
        // A table file of another table is no register.
        DeviceStation st;
        kv::MemTable journal;
        kv::DefineJournal(journal);
        kv::TableFormat().Save(journal, "t1.bin");
        kv::TDeviceForm& form = st.Open();
        EXPECT_EQ(st.dialogs.Texts(), std::vector<std::string>{S("Не найдена база устройств!"_cp)});
        EXPECT_GE(form.DescriptionTable.FindField("simcard"), 0);
    }
}

} // namespace
