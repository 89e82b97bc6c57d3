#include "data/MemTable.h"
#include "data/Schemas.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kv::DataSetState;
using kv::EDatabaseError;
using kv::FieldDef;
using kv::FieldType;
using kv::MemTable;

FieldDef F(const char* name, FieldType type, int size = 0)
{
    FieldDef d;
    d.name = name;
    d.type = type;
    d.size = size;
    return d;
}

// A table of one text column, filled with the given rows in order.
void Fill(MemTable& t, const std::vector<std::string>& rows)
{
    t.SetFields({F("v", FieldType::String, 20)});
    for (const std::string& r : rows) {
        t.Append();
        t.FieldByName("v").SetAsString(r);
        t.Post();
    }
}

std::vector<std::string> Rows(MemTable& t)
{
    std::vector<std::string> out;
    for (int i = 0; i < t.RecordCount(); ++i)
        out.push_back(t.TextAt(i, 0));
    return out;
}

std::string Current(MemTable& t)
{
    return t.FieldByName("v").AsString();
}

template <class F>
std::string ErrorOf(F&& f)
{
    try {
        f();
    } catch (const EDatabaseError& e) {
        return e.what();
    }
    return "no error";
}

TEST(MemTableCursor, WalksFirstToEofAndJumpsByRecordNumber)
{
    MemTable t;
    Fill(t, {"a", "b", "c"});
    std::string walked;
    for (t.First(); !t.Eof(); t.Next())
        walked += Current(t);
    EXPECT_EQ(walked, "abc");
    EXPECT_EQ(t.RecNo(), 3) << "Next past the end stays on the last record";

    t.SetRecNo(2);
    EXPECT_EQ(Current(t), "b");
    EXPECT_FALSE(t.Eof());
    t.SetRecNo(99);
    EXPECT_EQ(t.RecNo(), 3);
    t.SetRecNo(-5);
    EXPECT_EQ(t.RecNo(), 1);
    t.Last();
    EXPECT_EQ(Current(t), "c");
    t.Prior();
    EXPECT_EQ(Current(t), "b");

    MemTable empty;
    empty.SetFields({F("v", FieldType::String, 20)});
    empty.First();
    EXPECT_TRUE(empty.Eof());
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_EQ(empty.RecNo(), 0);
    EXPECT_EQ(Current(empty), "");
}

TEST(MemTableChanges, InsertGoesInFrontOfCurrentAppendAtEnd)
{
    MemTable t;
    Fill(t, {"a", "b"});
    t.SetRecNo(2);
    t.Insert();
    EXPECT_EQ(t.State(), DataSetState::Insert);
    EXPECT_EQ(t.RecNo(), 2);
    t.FieldByName("v").SetAsString("x");
    EXPECT_EQ(Current(t), "x") << "the buffer is read while inserting";
    t.Post();
    EXPECT_EQ(t.State(), DataSetState::Browse);
    EXPECT_EQ(Rows(t), (std::vector<std::string>{"a", "x", "b"}));
    EXPECT_EQ(t.RecNo(), 2);

    t.First();
    t.Insert();
    t.FieldByName("v").SetAsString("first");
    t.Post();
    t.Append();
    t.FieldByName("v").SetAsString("last");
    t.Post();
    EXPECT_EQ(Rows(t), (std::vector<std::string>{"first", "a", "x", "b", "last"}));
    EXPECT_EQ(t.RecNo(), 5);
}

TEST(MemTableChanges, EditCancelAndMovingPostsPendingChanges)
{
    MemTable t;
    Fill(t, {"a", "b"});
    t.First();
    t.Edit();
    t.FieldByName("v").SetAsString("changed");
    t.Cancel();
    EXPECT_EQ(Current(t), "a");

    t.Edit();
    t.FieldByName("v").SetAsString("edited");
    t.Next(); // moving the cursor posts the edit
    EXPECT_EQ(Rows(t), (std::vector<std::string>{"edited", "b"}));
    EXPECT_EQ(Current(t), "b");

    t.Insert();
    t.Cancel();
    EXPECT_EQ(t.RecordCount(), 2);

    t.Post(); // nothing to post in browse state
    EXPECT_EQ(t.RecordCount(), 2);
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("v").SetAsString("x"); }), "Dataset not in edit or insert mode");
}

TEST(MemTableChanges, DeleteLeavesCursorOnFollowingOrNewLastRecord)
{
    MemTable t;
    Fill(t, {"a", "b", "c"});
    t.SetRecNo(2);
    t.Delete();
    EXPECT_EQ(Current(t), "c");
    t.Delete();
    EXPECT_EQ(Current(t), "a");
    EXPECT_EQ(t.RecNo(), 1);
    t.Delete();
    EXPECT_TRUE(t.IsEmpty());
    EXPECT_TRUE(t.Eof());

    // Deleting while inserting only drops the new record.
    Fill(t, {"a"});
    t.Insert();
    t.Delete();
    EXPECT_EQ(Rows(t), std::vector<std::string>{"a"});
}

TEST(MemTableErrors, ReadOnlyAndEmptyTablesRefuseWithTheTableName)
{
    MemTable security("SecurityTable");
    kv::DefineSecurityTable(security);
    const std::string empty = "SecurityTable: Cannot perform this operation on an empty dataset";
    EXPECT_EQ(ErrorOf([&] { security.Delete(); }), empty);
    try {
        security.Delete();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Cannot perform this operation on an empty dataset");
    }

    MemTable devices("DeviceTable");
    kv::DefineDeviceTable(devices);
    devices.Append();
    devices.Post();
    devices.SetReadOnly(true);
    const std::string readOnly = "DeviceTable: Cannot modify a read-only dataset";
    EXPECT_EQ(ErrorOf([&] { devices.Insert(); }), readOnly);
    EXPECT_EQ(ErrorOf([&] { devices.Append(); }), readOnly);
    EXPECT_EQ(ErrorOf([&] { devices.Edit(); }), readOnly);
    EXPECT_EQ(ErrorOf([&] { devices.Delete(); }), readOnly);
    EXPECT_EQ(devices.RecordCount(), 1);
    EXPECT_EQ(devices.State(), DataSetState::Browse);

    devices.SetReadOnly(false);
    devices.Delete();
    EXPECT_TRUE(devices.IsEmpty());
    EXPECT_EQ(ErrorOf([&] { devices.FieldByName("nope"); }), "DeviceTable: Field 'nope' not found");
}

TEST(MemTableFields, StringsCutInBytesAtWidthAndZeroNullsReadEmpty)
{
    MemTable t;
    t.SetFields({F("s", FieldType::String, 5), F("m", FieldType::Memo, 300), F("i", FieldType::Integer),
                 F("d", FieldType::DateTime), F("b", FieldType::Boolean)});
    t.Append();
    t.FieldByName("s").SetAsString("abcdefgh");
    t.FieldByName("m").SetAsString(std::string(1000, 'm') + std::string(1, '\0') + "tail");
    t.Post();
    EXPECT_EQ(t.FieldByName("s").AsString(), "abcde");
    EXPECT_EQ(t.FieldByName("m").AsString().size(), 1005u) << "a memo is not cut";
    for (const char* name : {"i", "d", "b"}) {
        EXPECT_TRUE(t.FieldByName(name).IsNull()) << name;
        EXPECT_EQ(t.FieldByName(name).AsString(), "") << name;
    }
    EXPECT_EQ(t.FieldByName("i").AsInteger(), 0);
    EXPECT_FALSE(t.FieldByName("b").AsBoolean());

    t.Edit();
    t.FieldByName("s").SetAsString(std::string("ab\0cd", 5));
    t.FieldByName("i").SetAsString("-42");
    t.FieldByName("d").SetAsDateTime(40179.5);
    t.FieldByName("b").SetAsBoolean(true);
    t.Post();
    EXPECT_EQ(t.FieldByName("s").AsString(), "ab") << "text ends at a zero byte";
    EXPECT_EQ(t.FieldByName("i").AsInteger(), -42);
    EXPECT_EQ(t.FieldByName("d").AsString(), "01.01.2010 12:00:00");
    EXPECT_DOUBLE_EQ(t.FieldByName("d").AsDateTime(), 40179.5);
    EXPECT_EQ(t.FieldByName("b").AsString(), "True");
    EXPECT_FALSE(t.FieldByName("s").IsNull());

    t.Edit();
    EXPECT_THROW(t.FieldByName("i").SetAsString("12x"), EDatabaseError);
    t.FieldByName("s").SetAsString("");
    t.FieldByName("d").Clear();
    t.Post();
    EXPECT_FALSE(t.FieldByName("s").IsNull()) << "an empty text is a value, not null";
    EXPECT_TRUE(t.FieldByName("d").IsNull());
    EXPECT_EQ(t.FieldByName("i").AsInteger(), -42) << "a refused value leaves the old one";
}

TEST(MemTableFields, AutoIncStartsAtZeroAndNeverReusesKeys)
{
    MemTable t;
    kv::DefineDeviceTable(t);
    for (int i = 0; i < 3; ++i) {
        t.Append();
        t.FieldByName("device").SetAsString("d" + std::to_string(i));
        t.Post();
    }
    EXPECT_EQ(t.IntegerAt(0, kv::device::K1), 0);
    EXPECT_EQ(t.IntegerAt(2, kv::device::K1), 2);
    t.Last();
    t.Delete();
    t.Append();
    t.Post();
    EXPECT_EQ(t.IntegerAt(2, kv::device::K1), 3) << "the largest key ever held plus one";
}

TEST(MemTableBookmarks, ReturnToTheMarkedRecordAfterInsertsAndRefuseDeletedOnes)
{
    MemTable t;
    Fill(t, {"a", "b", "c"});
    t.SetRecNo(2);
    const MemTable::Bookmark mark = t.GetBookmark();
    t.First();
    t.Insert();
    t.FieldByName("v").SetAsString("new");
    t.Post();
    t.Last();
    t.GotoBookmark(mark);
    EXPECT_EQ(Current(t), "b");
    EXPECT_EQ(t.RecNo(), 3);
    EXPECT_TRUE(t.BookmarkValid(mark));

    t.Delete();
    EXPECT_FALSE(t.BookmarkValid(mark));
    EXPECT_EQ(ErrorOf([&] { t.GotoBookmark(mark); }), "Record not found");
    t.FreeBookmark(mark);
    t.GotoBookmark(0); // the bookmark of an empty table goes nowhere
}

TEST(MemTableMasterDetail, DetailShowsTheMastersRowsAndNewRowsTakeItsKey)
{
    MemTable devices("DeviceTable");
    MemTable descriptions("DescriptionTable");
    kv::DefineDeviceTable(devices);
    kv::DefineDescriptionTable(descriptions);
    descriptions.SetMaster(&devices, "k1", "k1");

    for (const char* name : {"A", "B"}) {
        devices.Append();
        devices.FieldByName("device").SetAsString(name);
        devices.Post();
        // The device just posted is current; its card row takes its key.
        descriptions.Append();
        descriptions.FieldByName("simplename").SetAsString(std::string("short ") + name);
        descriptions.Post();
    }
    EXPECT_EQ(descriptions.TotalRecordCount(), 2u);

    devices.First();
    ASSERT_EQ(descriptions.RecordCount(), 1);
    EXPECT_EQ(descriptions.FieldByName("simplename").AsString(), "short A");
    EXPECT_EQ(descriptions.FieldByName("k1").AsInteger(), 0);
    devices.Next();
    ASSERT_EQ(descriptions.RecordCount(), 1);
    EXPECT_EQ(descriptions.FieldByName("simplename").AsString(), "short B");
    EXPECT_EQ(descriptions.FieldByName("k1").AsInteger(), 1);

    // A device without a card row shows nothing; its fields read empty.
    devices.Append();
    devices.FieldByName("device").SetAsString("C");
    devices.Post();
    EXPECT_TRUE(descriptions.IsEmpty());
    EXPECT_EQ(descriptions.FieldByName("simcard").AsString(), "");
    EXPECT_FALSE(descriptions.FieldByName("dialenable").AsBoolean());

    // The first change on the empty card starts its row.
    descriptions.Edit();
    EXPECT_EQ(descriptions.State(), DataSetState::Insert);
    descriptions.FieldByName("simcard").SetAsString("+7900");
    descriptions.Post();
    EXPECT_EQ(descriptions.FieldByName("k1").AsInteger(), 2);
    EXPECT_EQ(descriptions.RecordCount(), 1);

    // Deleting the description of the current device leaves the others alone.
    devices.First();
    descriptions.Delete();
    EXPECT_TRUE(descriptions.IsEmpty());
    EXPECT_EQ(descriptions.TotalRecordCount(), 2u);
    devices.Next();
    EXPECT_EQ(descriptions.FieldByName("simplename").AsString(), "short B");
}

TEST(MemTableMasterDetail, DestroyingEitherSideUnlinks)
{
    auto devices = std::make_unique<MemTable>();
    MemTable descriptions;
    kv::DefineDeviceTable(*devices);
    kv::DefineDescriptionTable(descriptions);
    descriptions.SetMaster(devices.get(), "k1", "k1");
    descriptions.Append();
    descriptions.Post();
    devices.reset();
    EXPECT_EQ(descriptions.Master(), nullptr);
    EXPECT_EQ(descriptions.RecordCount(), 1) << "without a master every row shows";

    MemTable master;
    kv::DefineDeviceTable(master);
    {
        MemTable detail;
        kv::DefineDescriptionTable(detail);
        detail.SetMaster(&master, "k1", "k1");
    }
    master.Append();
    master.Post(); // would reach the destroyed detail if it were still linked
    EXPECT_EQ(master.RecordCount(), 1);
}

struct Callbacks : kv::IRecordListener, kv::ITableObserver {
    std::vector<std::string> log;
    MemTable* table = nullptr;

    void RecordAdded(kv::RecordHandle h, std::size_t pos) override
    {
        log.push_back("added " + std::string(table->TextView(h, 0)) + " at " + std::to_string(pos));
    }
    void RecordChanged(kv::RecordHandle h) override { log.push_back("changed " + table->Text(h, 0)); }
    void RecordRemoving(kv::RecordHandle h, std::size_t pos) override
    {
        log.push_back("removing " + table->Text(h, 0) + " at " + std::to_string(pos));
    }
    void RecordsCleared() override { log.push_back("cleared"); }

    void RowsAboutToBeInserted(int first, int count) override
    {
        log.push_back("grid before insert " + std::to_string(first) + " rows " + std::to_string(table->RecordCount()));
    }
    void RowsInserted(int first, int count) override
    {
        log.push_back("grid inserted " + std::to_string(first) + " rows " + std::to_string(table->RecordCount()));
    }
    void RowsAboutToBeRemoved(int first, int) override { log.push_back("grid before remove " + std::to_string(first)); }
    void RowsRemoved(int first, int) override { log.push_back("grid removed " + std::to_string(first)); }
    void RowChanged(int row) override { log.push_back("grid changed " + std::to_string(row)); }
    void AboutToReset() override { log.push_back("grid before reset"); }
    void Reset() override { log.push_back("grid reset"); }
    void CursorMoved(int) override {}
};

TEST(MemTableNotifications, HandlersAndObserversSeeEachChangeInOrder)
{
    MemTable t;
    Fill(t, {"a"});
    Callbacks c;
    c.table = &t;
    t.AddRecordListener(&c);
    t.AddObserver(&c);
    std::vector<std::string> handlers;
    t.SetAfterInsert([&](MemTable&) { handlers.push_back("insert"); });
    t.SetAfterEdit([&](MemTable&) { handlers.push_back("edit"); });
    t.SetAfterPost([&](MemTable& table) {
        // The record just posted is current and readable.
        handlers.push_back("post " + table.FieldByName("v").AsString());
        EXPECT_EQ(table.Text(table.CurrentHandle(), 0), table.FieldByName("v").AsString());
    });

    t.First();
    t.Insert();
    t.FieldByName("v").SetAsString("b");
    t.Post();
    t.Edit();
    t.FieldByName("v").SetAsString("bb");
    t.Post();
    t.Last();
    t.Delete();
    EXPECT_EQ(handlers, (std::vector<std::string>{"insert", "post b", "edit", "post bb"}));
    EXPECT_EQ(c.log, (std::vector<std::string>{"grid before insert 0 rows 1", "added b at 0", "grid inserted 0 rows 2",
                                               "changed bb", "grid changed 0", "removing a at 1",
                                               "grid before remove 1", "grid removed 1"}));

    // Walking or emptying with controls disabled: indexes still hear every
    // record, grids get one reset at the end.
    c.log.clear();
    t.DisableControls();
    t.DisableControls();
    t.Append();
    t.FieldByName("v").SetAsString("c");
    t.Post();
    t.EnableControls();
    EXPECT_EQ(c.log, std::vector<std::string>{"added c at 1"});
    t.First();
    t.Delete();
    t.Delete();
    t.EnableControls();
    EXPECT_EQ(c.log, (std::vector<std::string>{"added c at 1", "removing bb at 0", "removing c at 0",
                                               "grid before reset", "grid reset"}));
    c.log.clear();
    t.DisableControls();
    t.EnableControls();
    EXPECT_TRUE(c.log.empty()) << "nothing happened, nothing to reset";
    t.RemoveObserver(&c);
    t.RemoveRecordListener(&c);
}

TEST(MemTableHandles, StayValidThroughInsertsAndGrowingEdits)
{
    MemTable t;
    t.SetFields({F("v", FieldType::Memo, 300), F("n", FieldType::Integer)});
    t.Append();
    t.FieldByName("v").SetAsString("short");
    t.FieldByName("n").SetAsInteger(7);
    t.Post();
    const kv::RecordHandle h = t.CurrentHandle();
    for (int i = 0; i < 100; ++i) {
        t.First();
        t.Insert();
        t.Post();
    }
    t.Last();
    t.Edit();
    t.FieldByName("v").SetAsString(std::string(5000, 'x'));
    t.Post();
    EXPECT_EQ(t.CurrentHandle(), h);
    EXPECT_EQ(t.TextView(h, 0).size(), 5000u);
    EXPECT_EQ(t.Integer(h, 1), 7);
    t.Edit();
    t.FieldByName("v").SetAsString("small again");
    t.Post();
    EXPECT_EQ(t.Text(h, 0), "small again");
    EXPECT_EQ(t.HandleAt(100), h);
    EXPECT_FALSE(t.HandleAt(101));
    EXPECT_TRUE(t.IsNull(t.HandleAt(101), 0)) << "grids may ask past the end";
}

TEST(MemTableJournal, InsertInFrontStaysFastForALargeJournal)
{
    MemTable t;
    kv::DefineJournal(t);
    // A quadratic insert would take minutes here.
    for (int i = 0; i < 200000; ++i) {
        t.First();
        t.Insert();
        t.FieldAt(kv::journal::Tel).SetAsInteger(i);
        t.Post();
    }
    EXPECT_EQ(t.TextAt(0, kv::journal::Tel), "199999");
    EXPECT_EQ(t.TextAt(199999, kv::journal::Tel), "0");
}

} // namespace

namespace {

// An observer that reads the current record whenever it hears of a change.
struct CurrentReader final : kv::ITableObserver {
    explicit CurrentReader(kv::MemTable& t) : table(t) {}
    void Read()
    {
        if (!table.IsEmpty())
            seen.push_back(table.FieldAt(0).AsString());
    }
    void RowsAboutToBeInserted(int, int) override {}
    void RowsInserted(int, int) override { Read(); }
    void RowsAboutToBeRemoved(int, int) override {}
    void RowsRemoved(int, int) override { Read(); }
    void RowChanged(int) override { Read(); }
    void AboutToReset() override {}
    void Reset() override { Read(); }
    void CursorMoved(int) override {}
    kv::MemTable& table;
    std::vector<std::string> seen;
};

TEST(MemTableObservers, AfterDeletingTheLastRowTheCursorIsValidWhenObserversHear)
{
    kv::MemTable t("T");
    t.SetFields({kv::FieldDef{"s", kv::FieldType::String, 10}});
    for (const char* v : {"a", "b", "c"}) {
        t.Append();
        t.FieldAt(0).SetAsString(v);
        t.Post();
    }
    CurrentReader reader(t);
    t.AddObserver(&reader);
    t.Last();
    t.Delete(); // "c" goes; the observer reads "b"
    t.Delete(); // "b" goes; the observer reads "a"
    t.RemoveObserver(&reader);
    EXPECT_EQ(reader.seen, (std::vector<std::string>{"b", "a"}));
}

} // namespace
