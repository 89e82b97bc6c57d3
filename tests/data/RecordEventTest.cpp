#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kv::literals;

namespace {

using kv::MemTable;
namespace j = kv::journal;

TEST(RecordEvent, JoinsCrLfPairsOnlyAndPutsTheNewestFirst)
{
    MemTable t("EventsTable");
    kv::DefineJournal(t);
    std::vector<std::string> asked;
    const kv::ShortNameLookup lookup = [&](const std::string& tel) {
        asked.push_back(tel);
        return std::string("Склад"_cp);
    };
    kv::RecordEvent(t, kv::status::kAlarm, "+79001112233", "one\r\ntwo\r\nthree", lookup, 45000.25);
    kv::RecordEvent(t, kv::status::kNormal, "+79004445566", "one\rtwo\nthree\r\r\n\n", lookup, 45000.5);

    ASSERT_EQ(t.RecordCount(), 2);
    EXPECT_EQ(t.TextAt(0, j::Event), "one\rtwo\nthree\r \n") << "the later event is record 1";
    EXPECT_EQ(t.TextAt(1, j::Event), "one two three");
    EXPECT_DOUBLE_EQ(t.DateTimeAt(0, j::EventTime), 45000.5);
    EXPECT_EQ(t.TextAt(1, j::Status), std::string(kv::status::kAlarm));
    EXPECT_EQ(t.TextAt(1, j::SimpleName), std::string("Склад"_cp));
    EXPECT_EQ(asked, (std::vector<std::string>{"+79001112233", "+79004445566"}));
    EXPECT_EQ(t.RecNo(), 1);
}

TEST(RecordEvent, CutsEachTextToItsWidthAndWithoutLookupLeavesSimplenameEmpty)
{
    MemTable t;
    kv::DefineJournal(t);
    kv::RecordEvent(t, std::string(201, 's'), std::string(60, 't'), std::string(300, 'e'),
                    [](const std::string&) { return std::string(80, 'n'); }, 45000);
    EXPECT_EQ(t.TextAt(0, j::Status), std::string(200, 's'));
    EXPECT_EQ(t.TextAt(0, j::Tel), std::string(50, 't'));
    EXPECT_EQ(t.TextAt(0, j::Event), std::string(200, 'e'));
    EXPECT_EQ(t.TextAt(0, j::SimpleName), std::string(50, 'n'));
    EXPECT_EQ(kv::FindStatus(t.TextAt(0, j::Status)), nullptr);

    kv::RecordEvent(t, kv::status::kOnline, "GSM-модем №1"_cp, "x", nullptr, 45001);
    EXPECT_FALSE(t.IsNullAt(0, j::SimpleName));
    EXPECT_EQ(t.TextAt(0, j::SimpleName), "");
}

TEST(RecordEvent, AJournalWithOtherColumnsStillTakesEvents)
{
    MemTable t;
    kv::FieldDef status;
    status.name = "Status";
    status.type = kv::FieldType::Integer;
    kv::FieldDef event;
    event.name = "event";
    event.type = kv::FieldType::Memo;
    t.SetFields({status, event});
    kv::RecordEvent(t, kv::status::kAlarm, "+7", "text", nullptr, 45000);
    ASSERT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(t.TextAt(0, 1), "text");
    EXPECT_TRUE(t.IsNullAt(0, 0)) << "a text that does not fit the column's type is left out";
    EXPECT_EQ(t.State(), kv::DataSetState::Browse);
}

TEST(OpenJournal, MissingFileStartsANewJournalWithTheCallersMessage)
{
    kv::test::TempDir dir;
    MemTable t("EventsTable");
    kv::DefineJournal(t);
    std::vector<std::string> told;
    const bool loaded = kv::OpenJournal(t, "t3.bin", kv::TableFormat(), kv::kMainJournalEmpty,
                                        [&](const std::string& m) { told.push_back(m); }, 45000.75);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(told, std::vector<std::string>{std::string(kv::kMainJournalEmpty)});
    ASSERT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(t.TextAt(0, j::Event), std::string(kv::kJournalCreated));
    EXPECT_DOUBLE_EQ(t.DateTimeAt(0, j::EventTime), 45000.75);
    for (int f : {j::Status, j::Tel, j::SimpleName}) {
        EXPECT_FALSE(t.IsNullAt(0, f)) << f;
        EXPECT_EQ(t.TextAt(0, f), "") << f;
    }
    EXPECT_FALSE(std::filesystem::exists("t3.bin.damaged"));
}

TEST(OpenJournal, LoadsAndStandsOnTheNewestRecord)
{
    kv::test::TempDir dir;
    MemTable t;
    kv::DefineJournal(t);
    for (int i = 0; i < 3; ++i)
        kv::RecordEvent(t, kv::status::kBalance, "+7", "e" + std::to_string(i), nullptr, 45000 + i);
    kv::TableFormat().Save(t, "t6.bin");

    MemTable back("DialEventsTable");
    kv::DefineJournal(back);
    int told = 0;
    EXPECT_TRUE(kv::OpenJournal(back, "t6.bin", kv::TableFormat(), kv::kDialJournalEmpty,
                                [&](const std::string&) { ++told; }, 46000));
    EXPECT_EQ(told, 0);
    EXPECT_EQ(back.RecordCount(), 3);
    EXPECT_EQ(back.FieldByName("event").AsString(), "e2");
}

TEST(OpenJournal, ADamagedFileIsKeptAsideAndWhatWasReadStays)
{
    kv::test::TempDir dir;
    MemTable t;
    kv::DefineJournal(t);
    for (int i = 0; i < 5; ++i)
        kv::RecordEvent(t, kv::status::kAlarm, "+7", "e" + std::to_string(i), nullptr, 45000 + i);
    const std::string bytes = kv::TableFormat().SaveToBytes(t);
    kv::test::WriteFileBytes("t3.bin", bytes.substr(0, bytes.size() - 30));
    kv::test::WriteFileBytes("t3.bin.damaged", "an older one");

    MemTable back;
    kv::DefineJournal(back);
    EXPECT_FALSE(kv::OpenJournal(back, "t3.bin", kv::TableFormat(), kv::kMainJournalEmpty, nullptr, 46000));
    EXPECT_FALSE(std::filesystem::exists("t3.bin"));
    EXPECT_EQ(kv::test::ReadFileBytes("t3.bin.damaged"), "an older one");
    EXPECT_EQ(kv::test::ReadFileBytes("t3.bin.damaged2"), bytes.substr(0, bytes.size() - 30));
    ASSERT_EQ(back.RecordCount(), 5) << "four records read before the damage, then the new first row";
    EXPECT_EQ(back.TextAt(0, j::Event), std::string(kv::kJournalCreated));
    EXPECT_EQ(back.TextAt(1, j::Event), "e4");

    // A file that is no table at all leaves the journal with its own columns.
    kv::test::WriteFileBytes("t6.bin", "garbage");
    MemTable dial;
    dial.SetFields({});
    EXPECT_FALSE(kv::OpenJournal(dial, "t6.bin", kv::TableFormat(), kv::kDialJournalEmpty, nullptr, 46000));
    EXPECT_EQ(dial.FieldCount(), j::FieldCount);
    EXPECT_EQ(dial.RecordCount(), 1);
}

TEST(StatusVocabulary, IconsAndColoursByExactText)
{
    EXPECT_EQ(kv::StatusIcon(kv::status::kAlarm), 7);
    EXPECT_EQ(kv::StatusRowColour(kv::status::kAlarm), kv::RowColour::Of({255, 0, 0}));
    EXPECT_EQ(kv::StatusIcon(kv::status::kForeignKey), 0);
    EXPECT_EQ(kv::StatusIcon(kv::status::kSmsFailed), 4);
    EXPECT_TRUE(kv::StatusRowColour(kv::status::kSmsFailed).isBase);
    EXPECT_EQ(kv::StatusRowColour(kv::status::kDisarmed), kv::RowColour::Of({96, 191, 0}));
    EXPECT_EQ(kv::StatusIcon(kv::status::kNormal), -1);
    EXPECT_EQ(kv::StatusIcon(""), -1);
    EXPECT_TRUE(kv::StatusRowColour("").isBase);
    EXPECT_EQ(kv::StatusIcon(std::string(kv::status::kAlarm) + " "), -1) << "no trimming";
    EXPECT_EQ(kv::StatusIcon("тревога"_cp), -1) << "case-sensitive";
    EXPECT_EQ(std::string(kv::status::kAlarm), std::string("\xD2\xF0\xE5\xE2\xEE\xE3\xE0"));

    EXPECT_EQ(kv::StatusIcon(kv::status::kHandling), 12);
    EXPECT_EQ(kv::StatusRowColour(kv::status::kHandling), kv::RowColour::Of({0, 140, 140}));
    EXPECT_EQ(kv::StatusIcon(kv::status::kUnhandled), 13);
    EXPECT_EQ(kv::StatusRowColour(kv::status::kUnhandled), kv::RowColour::Of({192, 0, 96}));

    // Fourteen icons, each used once.
    std::vector<int> icons;
    for (const kv::StatusEntry& e : kv::StatusVocabulary())
        if (e.icon >= 0)
            icons.push_back(e.icon);
    std::sort(icons.begin(), icons.end());
    EXPECT_EQ(icons, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
}

TEST(Schemas, JournalAndRegisterFilesCarryTheirHeaders)
{
    MemTable device;
    kv::DefineDeviceTable(device);
    const std::string bytes = kv::TableFormat().SaveToBytes(device);
    const std::string expected = std::string("\x06\x06" "device" "\x06\x06" "String" "\x03\x96\x00\x06\x0A", 21) +
                                 std::string("Устройства"_cp) + std::string("\x06\x00\x03\x96\x00", 5);
    EXPECT_NE(bytes.find(expected), std::string::npos);

    MemTable description;
    kv::DefineDescriptionTable(description);
    EXPECT_EQ(description.FieldByName("devicedescription").Def().type, kv::FieldType::Memo);
    EXPECT_EQ(description.FieldByName("devicedescription").Def().EffectiveDisplayWidth(), 10);
    EXPECT_EQ(description.FieldAt(kv::description::Drosvel).Name(), "drosvel");
    MemTable security;
    kv::DefineSecurityTable(security);
    EXPECT_EQ(security.FieldAt(kv::security::Password).Def().size, 100);
}

} // namespace
