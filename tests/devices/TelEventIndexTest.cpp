// The journal index by number against a plain walk of the journal, through the
// changes a journal goes through: new events, clearing from any row, edits,
// rows put in the middle and loads.
#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "devices/TelEventIndex.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::vector<kv::RecordHandle> Walk(const kv::MemTable& journal, const std::string& tel, std::size_t count)
{
    std::vector<kv::RecordHandle> out;
    const int f = journal.FindField("tel");
    for (std::size_t i = 0; i < journal.TotalRecordCount() && out.size() < count; ++i)
        if (f >= 0 && journal.Text(journal.RecordAt(i), f) == tel)
            out.push_back(journal.RecordAt(i));
    return out;
}

void ExpectSame(kv::TelEventIndex& index, const kv::MemTable& journal, const std::string& context)
{
    for (const std::string tel : {"", "+1", "+2", "+3", "+4"})
        ASSERT_EQ(index.Newest(tel, 5), Walk(journal, tel, 5)) << context << " tel " << tel;
}

TEST(TelEventIndex, AgreesWithAWalkOfTheJournalThroughEveryKindOfChange)
{
    kv::test::TempDir dir;
    kv::MemTable journal("EventsTable");
    kv::DefineJournal(journal);
    kv::TelEventIndex index(journal);
    std::mt19937 random(7);
    auto tel = [&] { return random() % 5 == 0 ? std::string() : "+" + std::to_string(1 + random() % 4); };
    double now = 45000;
    for (int step = 0; step < 3000; ++step) {
        const unsigned op = random() % 100;
        std::string what;
        if (op < 60 || journal.IsEmpty()) {
            what = "event";
            kv::RecordEvent(journal, "", tel(), "e" + std::to_string(step), nullptr, now += 0.001);
        } else if (op < 80) {
            what = "delete";
            journal.SetRecNo(1 + static_cast<int>(random() % static_cast<unsigned>(journal.RecordCount())));
            journal.Delete();
        } else if (op < 85) {
            what = "edit";
            journal.SetRecNo(1 + static_cast<int>(random() % static_cast<unsigned>(journal.RecordCount())));
            journal.Edit();
            journal.FieldByName("tel").SetAsString(tel());
            journal.Post();
        } else if (op < 90) {
            what = "insert in the middle";
            journal.SetRecNo(1 + static_cast<int>(random() % static_cast<unsigned>(journal.RecordCount())));
            journal.Insert();
            journal.FieldByName("tel").SetAsString(tel());
            journal.Post();
        } else if (op < 93) {
            what = "append";
            journal.Append();
            journal.FieldByName("tel").SetAsString(tel());
            journal.Post();
        } else if (op < 96) {
            what = "save and load";
            kv::TableFormat().Save(journal, "j.jrn");
            kv::TableFormat().Load(journal, "j.jrn");
        } else if (op < 98) {
            what = "clear";
            for (int n = journal.RecordCount(); n > 0; --n)
                journal.Delete();
        } else {
            what = "query only";
        }
        ExpectSame(index, journal, "step " + std::to_string(step) + " after " + what);
    }
}

} // namespace
