// The main window's journal views and the journal menu.
#include "tests/station/StationFixture.h"
#include "devicecard/DeviceUnit.h"

#include <QTableWidget>

#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TableFormat.h"
#include "station/JournalMenu.h"
#include "windows/JournalGrid.h"
#include "windows/QtText.h"

#include <filesystem>

namespace kv::test {
namespace {

using namespace kv::literals;

class Journals : public StationTest {
protected:
    void SetUp() override
    {
        Create();
        ShowAndSettle();
    }
    MemTable& events() { return form().EventsTable; }
    void Add(std::string_view status, std::string event)
    {
        RecordEvent(events(), status, "+79110000001", event, {}, 45000.0 + (++m_n) / 1440.0);
    }
    std::vector<std::string> Events()
    {
        std::vector<std::string> list;
        for (int r = 0; r < events().RecordCount(); ++r)
            list.push_back(events().TextAt(r, journal::Event));
        return list;
    }
    void Answer(const std::string& file, bool yes)
    {
        dialogs.fileAnswers = {QString::fromStdString(file)};
        dialogs.yesNoAnswers = {yes};
    }
    int m_n = 0;
};

TEST_F(Journals, RowsTakeTheirStatusColourWhileLoggedInAndGreyAfterLogout)
{
    Add(status::kAlarm, "alarm");
    RecordEvent(form().DialEventsTable, status::kOffline, "+79110000002", "no answer", {}, 45000.2);
    LogIn();
    EXPECT_EQ(form().DBGrid2->RowColour(0), QColor(255, 0, 0));
    EXPECT_EQ(form().DBGrid2->RowColour(1), QColor(0, 128, 255)) << "the opening row in the base colour";
    EXPECT_EQ(form().DBGrid3->RowColour(0), QColor(255, 128, 0)) << "from the ring-round journal's own rows";
    EXPECT_TRUE(form().DBGrid2->isEnabled());
    EXPECT_FALSE(form().DBGrid3->isEnabled()) << "never enabled";
    LogIn(false);
    EXPECT_FALSE(form().DBGrid2->isEnabled() || board().isEnabled());
    EXPECT_EQ(form().DBGrid2->RowColour(0), QColor(219, 219, 219));
    EXPECT_EQ(form().DBGrid3->RowColour(0), QColor(219, 219, 219));
}

TEST_F(Journals, ClearAsksOnceAndEmptiesTheJournalButNotWhileARecordIsEdited)
{
    Add(status::kAlarm, "a");
    Add(status::kArmed, "b");
    ctx().Viewer = true;
    form().N6Click();
    form().N4Click();
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>(2, std::string(kViewerRefused))) << "a viewer clears nothing";
    EXPECT_EQ(events().RecordCount(), 3);
    ctx().Viewer = false;
    dialogs.yesNoAnswers = {false};
    form().N6Click();
    EXPECT_EQ(events().RecordCount(), 3) << "answered No";
    EXPECT_EQ(dialogs.questions, std::vector<std::string>{Str("Подтвердите удаление журнала событий"_cp)});

    events().Edit();
    dialogs.yesNoAnswers = {true};
    form().N6Click();
    EXPECT_EQ(dialogs.questions.size(), 1u) << "not even asked while editing";
    events().Cancel();

    form().N6Click();
    EXPECT_EQ(events().RecordCount(), 0);
    EXPECT_EQ(form().DBGrid2->model()->rowCount(), 0);
    Add(status::kDisarmed, "next");
    EXPECT_EQ(Events(), std::vector<std::string>{"next"});
}

TEST_F(Journals, ClearOfALargeJournalIsQuick)
{
    events().SetAfterPost(nullptr); // what is measured is the clear
    events().DisableControls();
    for (int i = 0; i < 200000; ++i) {
        events().Append();
        events().FieldAt(journal::Event).SetAsString("event");
        events().Post();
    }
    events().EnableControls();
    dialogs.yesNoAnswers = {true};
    const auto start = std::chrono::steady_clock::now();
    form().N6Click();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(events().RecordCount(), 0);
}

TEST_F(Journals, SaveAddsTheJournalExtensionAndWritesWhatTheJournalHolds)
{
    Add(status::kAlarm, "saved");
    dialogs.fileAnswers = {QString::fromStdString(dir.File("copy"))};
    form().N3Click();
    EXPECT_EQ(dialogs.fileTitles, std::vector<QString>{ToQ("Укажите имя и путь сохранения"_cp)});
    MemTable loaded;
    TableFormat().Load(loaded, dir.File("copy.jrn"));
    EXPECT_EQ(loaded.RecordCount(), 2);
    EXPECT_EQ(loaded.TextAt(0, journal::Event), "saved");
    form().N3Click(); // cancelled
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Journals, OpenReplacesTheJournalOnlyWhenConfirmedAndTheFileIsAJournal)
{
    MemTable other("EventsTable");
    DefineJournal(other);
    for (const char* e : {"x1", "x2", "x3"})
        RecordEvent(other, status::kArmed, "+1", e, {}, 45000.5);
    TableFormat().Save(other, dir.File("old.jrn"));
    Add(status::kAlarm, "current");
    const std::vector<std::string> before = Events();

    Answer(dir.File("old.jrn"), false);
    form().N4Click();
    EXPECT_EQ(dialogs.questions, std::vector<std::string>{Str("Внимание! Текущий журнал событий будет удален!"_cp)});
    EXPECT_EQ(Events(), before) << "answered No";

    // Garbage, a missing file, and a good table file of another kind.
    WriteFileBytes(dir.File("garbage.jrn"), "TPF0 this is not a table file at all");
    MemTable users("SecurityTable");
    DefineSecurityTable(users);
    TableFormat().Save(users, dir.File("t4.jrn"));
    for (const char* name : {"garbage.jrn", "missing.jrn", "t4.jrn"}) {
        dialogs.messages.clear();
        Answer(dir.File(name), true);
        form().N4Click();
        EXPECT_EQ(Events(), before) << name;
        EXPECT_EQ(events().FieldCount(), journal::FieldCount) << name;
        ASSERT_EQ(dialogs.messages.size(), 1u) << name;
        EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Error);
    }

    Answer(dir.File("old.jrn"), true);
    form().N4Click();
    EXPECT_EQ(Events(), (std::vector<std::string>{"x3", "x2", "x1"}));
    EXPECT_EQ(form().DBGrid2->model()->rowCount(), 3);
    Add(status::kDisarmed, "after");
    EXPECT_EQ(Events().front(), "after") << "new events go in front of the opened journal";
}

TEST_F(Journals, EachPostedEventRefreshesTheCardAndShowsTheNewestRow)
{
    devices.push_back({"Sklad", "+79110000001"});
    InstallRegister();
    RebuildBoard();
    TDeviceForm& card = station->DeviceForm();
    ASSERT_TRUE(card.SelectDeviceByShortName("Sklad"));
    const auto newestOnCard = [&] { return FromQ(card.LastEvents->item(0, 2)->text()); };
    LogIn();
    for (int i = 0; i < 40; ++i) {
        Add(status::kArmed, "e" + std::to_string(i));
        ASSERT_EQ(newestOnCard(), "e" + std::to_string(i)) << "the card's last events follow each row";
    }
    Settle();
    EXPECT_EQ(form().DBGrid2->currentIndex().row(), 0);
    EXPECT_EQ(form().DBGrid2->rowAt(0), 0) << "scrolled to the top";
    card.LastEvents->item(0, 2)->setText({});
    RecordEvent(form().DialEventsTable, status::kOnline, "+79110000001", "dial", {}, 45000.9);
    EXPECT_EQ(newestOnCard(), "") << "the ring-round journal's after-post does nothing";
}

TEST(JournalFileFilter, PipeFilterBecomesQtFilterAndAllFilesMeansAll)
{
    EXPECT_EQ(QtFileFilter("Файл журналов событий(*.jrn)|*.jrn|Все файлы (*.*)|*.*"_cp),
              ToQ("Файл журналов событий (*.jrn);;Все файлы (*)"_cp));
    EXPECT_EQ(QtFileFilter("Text|*.txt;*.log"), QStringLiteral("Text (*.txt *.log)"));
}

} // namespace
} // namespace kv::test
