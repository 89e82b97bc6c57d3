#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/Text.h"
#include "tests/support/ScriptedDialogs.h"
#include "windows/JournalGrid.h"
#include "windows/MainJournalUnit.h"
#include "windows/QtText.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace {

using namespace kv::literals;

struct Journal {
    Journal()
    {
        kv::DefineJournal(table);
    }
    void Add(std::string_view status, std::string_view event)
    {
        kv::RecordEvent(table, std::string(status), "+79111111111", std::string(event),
                        [](const std::string&) { return std::string("Obj"); }, 45000.0 + (++n) / 1440.0);
    }
    kv::MemTable table{"EventsTable"};
    int n = 0;
};

TEST(JournalGrid, RowsTakeTheirStatusColourAndIconAndTurnGreyAfterLogout)
{
    Journal j;
    j.Add(kv::status::kAlarm, "a");
    j.Add(kv::status::kNormal, "b");
    j.Add(kv::status::kOffline, "c");
    bool loggedIn = true;
    kv::TMemTableModel model(j.table, kv::JournalColumns(60, 131, 100, 142, 683));
    kv::TJournalGrid grid(&model, QColor(0, 128, 255), [&] { return loggedIn; });
    // Newest first: "Нет связи", "Норма", "Тревога".
    EXPECT_EQ(grid.RowColour(0), QColor(255, 128, 0));
    EXPECT_EQ(grid.RowIcon(0), 3);
    EXPECT_EQ(grid.RowColour(1), QColor(0, 128, 255));
    EXPECT_EQ(grid.RowIcon(1), -1);
    EXPECT_EQ(grid.RowColour(2), QColor(255, 0, 0));
    EXPECT_EQ(grid.RowIcon(2), 7);
    loggedIn = false;
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(grid.RowColour(r), QColor(219, 219, 219));
    EXPECT_EQ(grid.RowIcon(2), 7) << "the icon stays; only the colour greys";
    EXPECT_FALSE(grid.Icon(7).isNull()) << "journal icons are installed beside the program";

    // An alarm left unhandled is told apart from a handled one at a glance.
    loggedIn = true;
    j.Add(kv::status::kHandling, "d");
    j.Add(kv::status::kUnhandled, "e");
    EXPECT_EQ(grid.RowIcon(0), 13);
    EXPECT_EQ(grid.RowIcon(1), 12);
    EXPECT_NE(grid.RowColour(0), grid.RowColour(1));
    EXPECT_NE(grid.Icon(13).toImage(), grid.Icon(12).toImage());
}

TEST(JournalGrid, IconSitsSixteenPixelsLeftOfTheColumnMiddleRoundedHalfToEven)
{
    EXPECT_EQ(kv::JournalIconPosition(QRect(0, 40, 60, 20)), QPoint(14, 40));  // (0+60)/2-16
    EXPECT_EQ(kv::JournalIconPosition(QRect(0, 0, 61, 20)), QPoint(14, 0));   // 14.5 -> 14
    EXPECT_EQ(kv::JournalIconPosition(QRect(0, 0, 63, 20)), QPoint(16, 0));   // 15.5 -> 16
}

TEST(JournalGrid, TheModelFollowsInsertionsAndClearingWithoutCopying)
{
    Journal j;
    kv::TMemTableModel model(j.table, kv::JournalColumns(60, 131, 100, 142, 683));
    EXPECT_EQ(model.rowCount(), 0);
    j.Add(kv::status::kArmed, "first");
    j.Add(kv::status::kDisarmed, "second");
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.data(model.index(0, 4), Qt::DisplayRole).toString(), QStringLiteral("second"));
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), QString());
    EXPECT_EQ(model.data(model.index(1, 2), Qt::DisplayRole).toString(), QStringLiteral("Obj"));
    EXPECT_TRUE(model.data(model.index(1, 1), Qt::DisplayRole).toString().contains(QStringLiteral(":")));
    EXPECT_EQ(model.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), kv::ToQ("Телефон"_cp));
    j.table.First();
    while (!j.table.IsEmpty())
        j.table.Delete();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST(JournalGrid, ColumnTitlesStandOverTheirColumnsAndScrollWithThem)
{
    Journal j;
    for (int i = 0; i < 3; ++i)
        j.Add(kv::status::kArmed, std::to_string(i));
    kv::TMemTableModel model(j.table, kv::JournalColumns(60, 131, 100, 142, 683));
    kv::TJournalGrid grid(&model, QColor(0, 128, 255), {});
    grid.resize(400, 200);
    grid.show();
    QHeaderView* header = grid.horizontalHeader();
    ASSERT_NE(header, nullptr);
    EXPECT_TRUE(header->isVisible());
    QStringList titles;
    for (int c = 0; c < header->count(); ++c)
        titles << model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(titles, (QStringList{kv::ToQ("Статус"_cp), kv::ToQ("Время события"_cp), kv::ToQ("Объект"_cp),
                                   kv::ToQ("Телефон"_cp), kv::ToQ("Событие"_cp)}));
    // Over the rows, not on them: the first row starts below the titles.
    EXPECT_GT(header->height(), 0);
    EXPECT_LE(header->geometry().bottom(), grid.viewport()->geometry().top());
    EXPECT_EQ(grid.rowAt(0), 0);
    grid.setColumnWidth(4, 300);
    for (int c = 0; c < header->count(); ++c)
        EXPECT_EQ(header->sectionSize(c), grid.columnWidth(c)) << c;
    grid.horizontalScrollBar()->setValue(90);
    EXPECT_EQ(header->offset(), 90);
    EXPECT_EQ(header->sectionViewportPosition(2), grid.columnViewportPosition(2));
}

TEST(DBGrid, AGridWithCaptionedColumnsShowsItsTitles)
{
    Journal j;
    kv::TMemTableModel titled(j.table, kv::JournalColumns(60, 131, 100, 142, 683));
    kv::TMemTableModel bare(j.table, {{"event", QString(), 100}});
    kv::TDBGrid withTitles(&titled);
    kv::TDBGrid without(&bare);
    withTitles.show();
    without.show();
    EXPECT_TRUE(withTitles.horizontalHeader()->isVisible());
    EXPECT_FALSE(without.horizontalHeader()->isVisible());

    // Flags read in Russian; the stored text stays as the table keeps it.
    kv::MemTable cards("DescriptionTable");
    kv::DefineDescriptionTable(cards);
    cards.Append();
    cards.FieldByName("dialenable").SetAsBoolean(true);
    cards.FieldByName("drosvel").SetAsBoolean(false);
    cards.Post();
    const int on = cards.FindField("dialenable"), off = cards.FindField("drosvel");
    EXPECT_EQ(kv::DisplayText(cards, 0, on), kv::ToQ("Да"_cp));
    EXPECT_EQ(kv::DisplayText(cards, 0, off), kv::ToQ("Нет"_cp));
    EXPECT_EQ(cards.FieldByName("dialenable").AsString(), "True");
}

TEST(DBGrid, SelectionAndTheTableCursorFollowEachOther)
{
    Journal j;
    for (int i = 0; i < 5; ++i)
        j.Add(kv::status::kArmed, std::to_string(i));
    kv::TMemTableModel model(j.table, kv::JournalColumns(60, 131, 100, 142, 683));
    kv::TDBGrid grid(&model);
    grid.selectRow(3);
    EXPECT_EQ(j.table.RecNo(), 4);
    j.table.SetRecNo(2);
    EXPECT_EQ(grid.currentIndex().row(), 1);
}

TEST(DBGrid, EditingInPlacePostsAndAReadOnlyTableRefusesWithABox)
{
    kv::test::ScriptedDialogs dialogs;
    kv::MemTable devices("DeviceTable");
    kv::DefineDeviceTable(devices);
    devices.Append();
    devices.FieldByName("device").SetAsString("A");
    devices.Post();
    kv::TMemTableModel model(devices, {{"device", QStringLiteral("Devices"), 100}});
    model.SetEditable(true);
    EXPECT_TRUE(model.setData(model.index(0, 0), QStringLiteral("B"), Qt::EditRole));
    EXPECT_EQ(devices.TextAt(0, 1), "B");
    devices.SetReadOnly(true);
    EXPECT_FALSE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable));
    EXPECT_FALSE(model.setData(model.index(0, 0), QStringLiteral("C"), Qt::EditRole));
    EXPECT_EQ(devices.TextAt(0, 1), "B");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("Cannot modify a read-only dataset"), std::string::npos);
}

TEST(WorkJournal, ShowsTheMainJournalWithItsOwnWidthsAndNoGreyRule)
{
    Journal j;
    j.Add(kv::status::kAlarm, "a");
    QWidget main;
    kv::TMainJournal window(j.table, &main);
    EXPECT_EQ(window.windowTitle(), kv::ToQ("Журнал работы"_cp));
    EXPECT_EQ(window.MainJournalDBGrid->columnWidth(0), 59);
    EXPECT_EQ(window.MainJournalDBGrid->columnWidth(4), 598);
    EXPECT_EQ(window.MainJournalDBGrid->RowColour(0), QColor(255, 0, 0));
    bool closed = false;
    window.FormClose = [&] { closed = true; };
    window.ShowCentred();
    window.close();
    EXPECT_TRUE(closed);
}

} // namespace
