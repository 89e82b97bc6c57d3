// The device register: lookups, adding, deleting, editing and the read-only
// rule, and its files.
#include "tests/devices/DeviceStation.h"

#include "modem/DialSchedule.h"
#include "windows/DBGrid.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace kv::literals;
using kv::test::DeviceStation;
using kv::test::Type;
using Texts = std::vector<std::string>;

std::string S(std::string_view cp) { return std::string(cp); }

// A device written into the register's tables as the card writes it; no card
// when `shortName` is null.
void Add(kv::DeviceRegister& reg, const std::string& listName, const char* shortName = nullptr,
         const std::string& number = {})
{
    reg.SetReadOnly(false);
    reg.DeviceTable.Append();
    reg.DeviceTable.FieldByName("device").SetAsString(listName);
    reg.DeviceTable.Post();
    if (shortName) {
        reg.DescriptionTable.Append();
        reg.DescriptionTable.FieldByName("simplename").SetAsString(shortName);
        reg.DescriptionTable.FieldByName("simcard").SetAsString(number);
        reg.DescriptionTable.Post();
    }
}

const std::string kBlanks(8, ' ');

TEST(RegisterLookups, FirstMatchInRegisterOrderAndWhatANonMatchGives)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    EXPECT_EQ(form.FindShortNameByNumber("+7900", "keep"), "keep") << "an empty register keeps the caller's text";
    EXPECT_FALSE(form.SelectDeviceByShortName("A"));

    st.AddDevice(S("Склад"_cp), "A", "+7900");
    st.AddDevice(S("Новый"_cp));
    st.AddDevice(S("Офис"_cp), "B", "+7900");
    st.AddDevice(S("Офис 2"_cp), "B", "+7911");
    st.AddDevice(S("Дача"_cp), "C", "+7922");
    EXPECT_EQ(st.reg.FindShortNameByNumber("+7900", ""), "A");
    EXPECT_EQ(form.FindShortNameByNumber("+7922", ""), "C");
    EXPECT_EQ(form.FindShortNameByNumber("+7933", ""), "        ");
    EXPECT_EQ(form.FindShortNameByNumber("+7900 ", ""), "        ") << "no trimming";
    EXPECT_EQ(form.FindShortNameByNumber("", "x"), "") << "a device without a card has the empty number";
    EXPECT_EQ(st.reg.FindNumberByShortName("B", ""), "+7900");
    EXPECT_EQ(form.FindNumberByShortName("c", "keep"), "keep") << "case-sensitive, no eight blanks";
    EXPECT_EQ(form.FindNumberByShortName("", "x"), "");

    form.DeviceTable.First();
    EXPECT_TRUE(st.form->SelectDeviceByShortName("B"));
    EXPECT_EQ(st.CurrentDevice(), S("Офис"_cp));
    EXPECT_EQ(form.DBEdit5->text(), QStringLiteral("+7900")) << "the card follows";
    EXPECT_TRUE(form.SelectDeviceByShortName(""));
    EXPECT_EQ(st.CurrentDevice(), S("Новый"_cp));
    form.DeviceTable.First();
    EXPECT_FALSE(form.SelectDeviceByShortName("Z"));
    EXPECT_EQ(st.CurrentDevice(), S("Дача"_cp)) << "the last device is left current";

    const std::vector<kv::DialDevice> devices = st.reg.Devices();
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ(devices[1].simplename, "");
    EXPECT_EQ(devices[4].simplename, "C");
}

TEST(RegisterLookups, NumbersAreComparedByteForByteWithoutAWindow)
{
    kv::DeviceRegister reg;
    Add(reg, S("Склад"_cp), "A", "+79001234567");
    Add(reg, S("Офис"_cp), "B", "89001234567");
    Add(reg, S("Гараж"_cp), "C", "+7 900 123");
    Add(reg, S("Дача"_cp), "D", "+7900\r");
    Add(reg, S("Баня"_cp), "E", "+79001234567");
    Add(reg, S("Киоск"_cp), S("Киоск"_cp).c_str(), S("Нет номера"_cp));
    Add(reg, S("Новый"_cp));

    struct Case {
        std::string number, shortName, listName;
    };
    const Case cases[] = {
        {"+79001234567", "A", S("Склад"_cp)}, // the first of two devices with one number
        {"89001234567", "B", S("Офис"_cp)},   // the national form is another number
        {"79001234567", kBlanks, ""},
        {"+7 900 123", "C", S("Гараж"_cp)},
        {"+7900123", kBlanks, ""},
        {"+7900\r", "D", S("Дача"_cp)},
        {"+7900", kBlanks, ""},
        {"+79001234567 ", kBlanks, ""},
        {S("Нет номера"_cp), S("Киоск"_cp), S("Киоск"_cp)},
        {"", "", S("Новый"_cp)}, // the device without a card
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reg.FindShortNameByNumber(c.number, "initial"), c.shortName) << c.number;
        EXPECT_EQ(reg.FindListNameByNumber(c.number), c.listName) << c.number;
    }
    const std::pair<std::string, std::string> byName[] = {
        {"A", "+79001234567"}, {"E", "+79001234567"}, {"a", "keep"}, {" A", "keep"}, {"", ""}, {"Z", "keep"}};
    for (const auto& [name, number] : byName)
        EXPECT_EQ(reg.FindNumberByShortName(name, "keep"), number) << name;
    EXPECT_EQ(reg.PositionOfShortName("E"), 4u);
    EXPECT_EQ(reg.PositionOfShortName("e"), std::nullopt);
    const std::vector<kv::DialDevice> devices = reg.Devices();
    ASSERT_EQ(devices.size(), 7u);
    EXPECT_EQ(devices[1].simcard, "89001234567");
    EXPECT_EQ(devices[6].simcard, "");
}

TEST(RegisterLookups, FollowEveryPostedChangeAndDeletion)
{
    kv::DeviceRegister reg;
    EXPECT_EQ(reg.FindShortNameByNumber("+7900", "keep"), "keep");
    EXPECT_EQ(reg.FindListNameByNumber(""), "");
    Add(reg, S("Склад"_cp), "A", "+7900");
    Add(reg, S("Офис"_cp), "B", "+7911");
    EXPECT_EQ(reg.FindShortNameByNumber("+7911", ""), "B");

    reg.DescriptionTable.Edit();
    reg.DescriptionTable.FieldByName("simcard").SetAsString("+7922");
    EXPECT_EQ(reg.FindShortNameByNumber("+7911", ""), "B") << "not before it is posted";
    reg.DescriptionTable.Post();
    EXPECT_EQ(reg.FindShortNameByNumber("+7911", ""), kBlanks);
    EXPECT_EQ(reg.FindShortNameByNumber("+7922", ""), "B");

    reg.DeviceTable.Edit();
    reg.DeviceTable.FieldByName("device").SetAsString(S("Офис 2"_cp));
    reg.DeviceTable.Post();
    EXPECT_EQ(reg.FindListNameByNumber("+7922"), S("Офис 2"_cp));

    reg.DescriptionTable.Delete();
    EXPECT_EQ(reg.FindShortNameByNumber("+7922", ""), kBlanks) << "the deleted card is gone at once";
    EXPECT_EQ(reg.FindShortNameByNumber("", ""), "") << "its device has no card now";
    reg.DeviceTable.Delete();
    EXPECT_EQ(reg.Devices().size(), 1u);
    EXPECT_EQ(reg.FindShortNameByNumber("", ""), kBlanks);
    reg.DeviceTable.First();
    reg.DescriptionTable.Delete();
    reg.DeviceTable.Delete();
    EXPECT_EQ(reg.FindShortNameByNumber("+7900", "keep"), "keep") << "empty again";
}

TEST(RegisterLookups, AnswerOtherThreadsWhileTheTableIsEdited)
{
    kv::DeviceRegister reg;
    Add(reg, S("Склад"_cp), "A", "+7900");
    Add(reg, S("Офис"_cp), "B1", "+7911");
    std::atomic<bool> editing{true};
    std::atomic<int> wrong{0}, lookups{0};
    auto lookup = [&] {
        while (editing) {
            if (reg.FindShortNameByNumber("+7900", "") != "A" || reg.FindNumberByShortName("A", "") != "+7900")
                ++wrong;
            const std::string b = reg.FindShortNameByNumber("+7911", "");
            if (b != "B1" && b != "B2" && b != kBlanks)
                ++wrong;
            const std::size_t n = reg.Devices().size();
            if (n < 2 || n > 3)
                ++wrong;
            ++lookups;
        }
    };
    std::thread first(lookup), second(lookup);
    for (int i = 0; i < 300; ++i) {
        reg.DeviceTable.Last();
        reg.DescriptionTable.Edit();
        reg.DescriptionTable.FieldByName("simplename").SetAsString(i % 2 ? "B1" : "B2");
        reg.DescriptionTable.Post();
        Add(reg, "tmp", "T", "+7933");
        reg.DescriptionTable.Delete();
        reg.DeviceTable.Delete();
    }
    while (lookups < 100)
        std::this_thread::yield();
    editing = false;
    first.join();
    second.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(reg.FindShortNameByNumber("+7911", ""), "B1");
}

TEST(RegisterLookups, LeaveTheCurrentDeviceAndAnUnsavedCardAsTheyWere)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    st.AddDevice(S("Склад"_cp), "A", "+7900");
    st.AddDevice(S("Офис"_cp), "B", "+7911");
    st.AddDevice(S("Дача"_cp), "C", "+7922");
    form.DeviceTable.SetRecNo(2);
    Type(form.DBEdit5, "0");

    EXPECT_EQ(form.FindShortNameByNumber("+7922", ""), "C");
    EXPECT_EQ(form.FindShortNameByNumber("+79110", ""), "        ") << "an unsaved number is no register entry";
    EXPECT_EQ(form.FindNumberByShortName("A", ""), "+7900");
    EXPECT_EQ(form.RegisterDevices().size(), 3u);
    EXPECT_EQ(form.DeviceTable.RecNo(), 2);
    EXPECT_EQ(form.DescriptionTable.State(), kv::DataSetState::Edit);
    EXPECT_EQ(form.DBEdit5->text(), QStringLiteral("+79110"));
    EXPECT_FALSE(form.RbButton2->isHidden());
}

TEST(RegisterChanges, AddAndDelete)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    st.dialogs.inputAnswers = {std::nullopt, std::string(), S("Склад №2"_cp)};
    form.N1Click();
    form.N1Click();
    EXPECT_TRUE(form.DeviceTable.IsEmpty()) << "cancelled or empty";
    form.N1Click();
    EXPECT_EQ(st.dialogs.inputs, Texts(3, S("Новое устройство |Введите название"_cp)));
    EXPECT_EQ(st.CurrentDevice(), S("Склад №2"_cp));
    EXPECT_TRUE(form.DescriptionTable.IsEmpty()) << "the card's row comes with its first change";

    form.N2Click();
    const int rebuilds = st.rebuilds;
    form.N2Click();
    EXPECT_EQ(st.rebuilds, rebuilds + 1) << "an empty register still rebuilds the board";

    st.AddDevice(S("Склад"_cp), "A", "+7900");
    st.AddDevice(S("Офис"_cp), "B", "+7911");
    st.AddDevice(S("Дача"_cp), "C", "+7922");
    st.AddDevice(S("Новый"_cp));
    Type(form.DBEdit1, "x"); // a card started, not saved
    form.N2Click();
    EXPECT_EQ(form.DescriptionTable.TotalRecordCount(), 3u) << "the started card leaves no stray row";
    EXPECT_EQ(st.CurrentDevice(), S("Дача"_cp)) << "the new last device";
    form.DeviceTable.SetRecNo(2);
    form.N2Click();
    EXPECT_EQ(st.CurrentDevice(), S("Дача"_cp)) << "the following device";
    EXPECT_EQ(form.DescriptionTable.TotalRecordCount(), 2u);
    EXPECT_EQ(form.FindNumberByShortName("B", "none"), "none");
    EXPECT_TRUE(form.RbButton2->isHidden());
    EXPECT_TRUE(st.dialogs.messages.empty());
}

TEST(RegisterReadOnly, WithoutTheAdministratorEveryChangeIsRefused)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    st.AddDevice(S("Склад"_cp), "A", "+7900");
    st.dialogs.inputAnswers = {S("Офис"_cp)};
    form.N1Click();
    form.N2Click();
    Type(form.DBEdit1, "x");
    form.DBCheckBox2->click();
    const QModelIndex firstRow = form.DataSource1->index(0, 0);
    EXPECT_FALSE(form.DataSource1->flags(firstRow).testFlag(Qt::ItemIsEditable));
    ASSERT_EQ(st.dialogs.messages.size(), 2u) << "the card's fields simply do not change";
    EXPECT_EQ(st.dialogs.messages[0].text, "DeviceTable: Cannot modify a read-only dataset");
    EXPECT_EQ(st.dialogs.messages[0].kind, kv::MsgKind::Error);
    EXPECT_NE(st.dialogs.messages[1].text.find("Cannot modify a read-only dataset"), std::string::npos);
    EXPECT_EQ(form.DeviceTable.RecordCount(), 1);
    EXPECT_EQ(form.DBEdit1->text(), kv::ToQ("Склад"_cp));
    EXPECT_FALSE(form.DBCheckBox2->isChecked());
    EXPECT_TRUE(form.RbButton2->isHidden());

    st.form->SetDeviceTablesReadOnly(false);
    EXPECT_TRUE(form.DataSource1->setData(firstRow, kv::ToQ("Склад 1"_cp), Qt::EditRole)) << "edited in place";
    Type(form.DBEdit1, "x");
    EXPECT_FALSE(form.RbButton2->isHidden());
    form.RbButton2Click();
    EXPECT_EQ(form.DescriptionTable.FieldByName("name").AsString(), S("Складx"_cp));
    EXPECT_EQ(st.CurrentDevice(), S("Склад 1"_cp));

    // A change left open when another user logs in is dropped, not handed over.
    Type(form.DBEdit1, "y");
    st.form->SetDeviceTablesReadOnly(true);
    EXPECT_EQ(form.DBEdit1->text(), kv::ToQ("Складx"_cp));
    EXPECT_TRUE(form.RbButton2->isHidden());
    EXPECT_EQ(st.dialogs.messages.size(), 2u);
}

TEST(RegisterEditing, TheFirstChangeStartsTheCardWithTheDevicesKeyAndSaveRebuildsTheBoard)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    st.AddDevice(S("Склад"_cp), "A", "+7900");
    st.AddDevice(S("Новый"_cp));
    const std::int32_t key = form.DeviceTable.FieldByName("k1").AsInteger();
    EXPECT_TRUE(form.RbButton2->isHidden());
    Type(form.DBEdit4, "N");
    EXPECT_FALSE(form.RbButton2->isHidden());
    Type(form.DBEdit5, "+7955");
    form.DBCheckBox1->click();
    Type(form.DBEdit6, "15");
    form.DBMemo1->setPlainText(QStringLiteral("line 1\nline 2"));
    const int rebuilds = st.rebuilds;
    form.RbButton2Click();
    EXPECT_EQ(st.rebuilds, rebuilds + 1);
    EXPECT_TRUE(form.RbButton2->isHidden());
    EXPECT_EQ(form.DescriptionTable.FieldByName("k1").AsInteger(), key);
    EXPECT_EQ(form.FindShortNameByNumber("+7955", ""), "N");
    EXPECT_TRUE(form.RegisterDevices()[1].dialenable);
    EXPECT_EQ(form.DescriptionTable.FieldByName("devicedescription").AsString(), "line 1\r\nline 2")
        << "the register's files keep CR LF";
}

TEST(RegisterEditing, AnIntervalThatIsNoNumberIsSavedAsSixty)
{
    for (const auto& [typed, stored] : {std::pair{"abc", "60"}, {"", "60"}, {"1,5", "60"}, {"1.5", "1.5"}}) {
        DeviceStation st;
        kv::TDeviceForm& form = st.Open();
        form.SetDeviceTablesReadOnly(false);
        st.AddDevice(S("Склад"_cp), "A", "+7900", false, "45");
        Type(form.DBEdit6, typed, true);
        form.RbButton2Click();
        EXPECT_EQ(form.DescriptionTable.FieldByName("dialtime").AsString(), stored) << typed;
        EXPECT_EQ(form.DBEdit6->text(), QString::fromLatin1(stored)) << typed;
    }
}

TEST(RegisterEditing, LeavingADeviceSavesItsCardOnThatDevice)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    form.SetDeviceTablesReadOnly(false);
    st.AddDevice(S("Склад"_cp), "A", "+7900");
    st.AddDevice(S("Офис"_cp), "B", "+7911");
    st.AddDevice(S("Новый"_cp));
    form.DeviceTable.First();
    Type(form.DBEdit4, "1");
    Type(form.DBEdit6, "x", true);
    form.DeviceTable.Next();
    EXPECT_EQ(form.DBEdit4->text(), QStringLiteral("B")) << "the next device shows its own card";
    EXPECT_TRUE(form.RbButton2->isHidden());
    EXPECT_EQ(form.FindNumberByShortName("A1", ""), "+7900");
    EXPECT_EQ(form.RegisterDevices()[0].dialtime, "60");

    form.DeviceTable.Last();
    Type(form.DBEdit4, "N");
    form.DeviceTable.First();
    EXPECT_EQ(form.DBEdit4->text(), QStringLiteral("A1"));
    EXPECT_EQ(form.RegisterDevices()[2].simplename, "N") << "a card started on a device stays with it";
    const int rebuilds = st.rebuilds;
    QApplication::processEvents();
    EXPECT_GT(st.rebuilds, rebuilds);
}

TEST(RegisterFiles, EveryCloseSavesBothFilesAndKeepsTheCurrentDevice)
{
    DeviceStation st;
    kv::TDeviceForm& form = st.Open();
    EXPECT_EQ(form.windowTitle(), kv::ToQ("Каталог устройств охраны"_cp));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    st.AddDevice(S("Склад"_cp), "A", "+7900");
    st.AddDevice(S("Офис"_cp), "B", "+7911", true, "1.5", true);
    form.DeviceTable.First();
    std::filesystem::remove("t1.bin");
    std::filesystem::remove("t2.bin");

    st.mainWindow.setGeometry(100, 80, 1200, 800);
    st.ctx.Window(kv::ShownWindow::Devices).show();
    EXPECT_TRUE(st.ctx.Shown(kv::ShownWindow::Devices));
    // Centred up to the window frame, which is only known once the window is up.
    EXPECT_LE((form.frameGeometry().center() - st.mainWindow.frameGeometry().center()).manhattanLength(), 8);
    st.ctx.Window(kv::ShownWindow::Devices).close();
    EXPECT_FALSE(st.ctx.Shown(kv::ShownWindow::Devices));
    EXPECT_EQ(st.CurrentDevice(), S("Склад"_cp));
    EXPECT_TRUE(std::filesystem::exists("t1.bin") && std::filesystem::exists("t2.bin"));

    std::filesystem::remove("t1.bin");
    std::filesystem::remove("t2.bin");
    st.form->ShowDeviceCard();
    EXPECT_FALSE(st.ctx.Shown(kv::ShownWindow::Devices)) << "the board's card leaves the toggle alone";
    form.close();
    EXPECT_TRUE(std::filesystem::exists("t1.bin") && std::filesystem::exists("t2.bin"));
    std::filesystem::remove("t2.bin");
    st.ctx.Shown(kv::ShownWindow::Devices) = true;
    st.ctx.Window(kv::ShownWindow::Devices).close(); // the toggle, after the window hid by itself
    EXPECT_TRUE(std::filesystem::exists("t2.bin"));
    EXPECT_FALSE(st.ctx.Shown(kv::ShownWindow::Devices));
    EXPECT_TRUE(st.dialogs.messages.empty());

    DeviceStation again;
    std::filesystem::copy_file(st.dir.File("t1.bin"), "t1.bin");
    std::filesystem::copy_file(st.dir.File("t2.bin"), "t2.bin");
    kv::TDeviceForm& reloaded = again.Open();
    EXPECT_TRUE(again.dialogs.messages.empty());
    EXPECT_EQ(again.rebuilds, 1);
    const auto devices = reloaded.RegisterDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[1].simplename, "B");
    EXPECT_EQ(devices[1].dialtime, "1.5");
    EXPECT_TRUE(devices[1].dialenable);
    reloaded.SetDeviceTablesReadOnly(false);
    again.dialogs.inputAnswers = {S("Гараж"_cp)};
    reloaded.N1Click();
    EXPECT_EQ(reloaded.DeviceTable.FieldByName("k1").AsInteger(), 2) << "keys go on from the loaded ones";
    EXPECT_TRUE(reloaded.DBEdit4->text().isEmpty()) << "and find no other device's card";
}

TEST(RegisterFiles, SaveAndLoadFailures)
{
    {
        DeviceStation st;
        kv::TDeviceForm& form = st.Open();
        std::filesystem::remove("t2.bin");
        std::filesystem::create_directory("t2.bin");
        st.ctx.Window(kv::ShownWindow::Devices).show();
        form.close();
        EXPECT_EQ(st.dialogs.Texts(), Texts{S("Ошибка сохранения базы устройств"_cp)});
        EXPECT_FALSE(form.isVisible());
        EXPECT_FALSE(st.ctx.Shown(kv::ShownWindow::Devices));
    }
    {
        DeviceStation st;
        st.OpenAsFound();
        EXPECT_EQ(st.dialogs.Texts(), Texts{S("Не найдена база устройств!"_cp)});
        EXPECT_EQ(st.rebuilds, 0) << "the board waits for the next rebuild";
    }
    {
        // Files that were not read are kept from the next save.
        DeviceStation st;
        kv::test::WriteFileBytes("t1.bin", "TPF0 garbage");
        kv::test::WriteFileBytes("t2.bin", "not read either");
        kv::TDeviceForm& form = st.Open();
        EXPECT_EQ(st.dialogs.Texts(), Texts{S("Не найдена база устройств!"_cp)});
        EXPECT_EQ(kv::test::ReadFileBytes("t1.bin.damaged"), "TPF0 garbage");
        EXPECT_EQ(kv::test::ReadFileBytes("t2.bin.unloaded"), "not read either");
        st.AddDevice(S("Склад"_cp), "A", "+7900");
        form.show();
        form.close();
        kv::MemTable check;
        kv::TableFormat().Load(check, "t1.bin");
        EXPECT_EQ(check.RecordCount(), 1) << "the register still works and saves";
    }
    {
        DeviceStation st;
        kv::MemTable journal;
        kv::DefineJournal(journal);
        kv::TableFormat().Save(journal, "t1.bin");
        kv::TDeviceForm& form = st.Open();
        EXPECT_EQ(st.dialogs.Texts(), Texts{S("Не найдена база устройств!"_cp)}) << "another table's file";
        EXPECT_GE(form.DescriptionTable.FindField("simcard"), 0);
    }
}

TEST(RegisterFiles, AnotherStationsRegisterReplacesTablesAndFilesFieldForField)
{
    kv::test::TempDir dir;
    kv::DeviceRegister reg;
    reg.Load();
    Add(reg, S("Без карточки"_cp));
    Add(reg, S("Склад"_cp), "A", "+7900");
    reg.SetReadOnly(true);
    const std::vector<kv::DeviceEntry> before = reg.Entries();
    ASSERT_EQ(before.size(), 2u);
    kv::DeviceEntry bare;
    bare.listName = S("Без карточки"_cp);
    EXPECT_EQ(before[0], bare) << "a device without a card has empty texts";
    EXPECT_EQ(before[1].shortName, "A");

    // Every byte but NUL, spread over the fields within their sizes.
    std::string bytes;
    for (int b = 1; b < 256; ++b)
        bytes.push_back(static_cast<char>(b));
    kv::DeviceEntry full{bytes.substr(0, 150), bytes.substr(150, 100), bytes.substr(100, 100), bytes.substr(200, 20),
                         bytes.substr(220, 35), "+79001112233", bytes.substr(0, 255), "1.5", true, true};
    kv::DeviceEntry plain{S("Офис"_cp), "", "", "", "B", "+7911", "", "60", false, false};
    const std::vector<kv::DeviceEntry> next = {plain, full};
    reg.Replace(next);
    EXPECT_EQ(reg.Entries(), next);
    EXPECT_TRUE(reg.DeviceTable.ReadOnly()) << "the read-only state stays";
    EXPECT_EQ(reg.FindShortNameByNumber("+79001112233", ""), full.shortName) << "the lookups follow";
    EXPECT_EQ(reg.FindShortNameByNumber("+7900", ""), kBlanks) << "the device left is gone";
    ASSERT_EQ(reg.Devices().size(), 2u);
    EXPECT_TRUE(reg.Devices()[1].dialenable);

    kv::DeviceRegister fromFiles;
    ASSERT_TRUE(fromFiles.Load());
    EXPECT_EQ(fromFiles.Entries(), next) << "the files hold the same";

    reg.Replace({});
    EXPECT_TRUE(reg.Entries().empty());

    // A file that cannot be written leaves tables and files as they were.
    reg.Replace(next);
    std::filesystem::remove(kv::kDescriptionFile);
    std::filesystem::create_directory(kv::kDescriptionFile);
    EXPECT_ANY_THROW(reg.Replace({plain}));
    EXPECT_EQ(reg.Entries(), next);
}

} // namespace
