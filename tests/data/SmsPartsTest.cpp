// The parts store of long messages: what survives a restart, what a damaged
// file still gives, and how a part is told apart from a duplicate or a late one.
#include "data/SmsParts.h"
#include "data/Text.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace kv::test {
namespace {

using namespace kv::literals;

const SmsSetId kAlarm{"+79111111111", 300, 3};
const SmsSetId kBattery{std::string("Склад ул. Лесная"_cp), 42, 2}; // a name with blanks and Cyrillic

SmsPart Part(unsigned n, std::string text, double at = 45000.5)
{
    return {n, "24/05/01,10:00:0" + std::to_string(n) + "+12", std::move(text), at};
}

std::size_t PartsIn(const SmsPartStore& store)
{
    std::size_t n = 0;
    for (const auto& [id, parts] : store.Waiting())
        n += parts.size();
    return n;
}

TEST(SmsParts, PartsAndJournalledSetsSurviveARestart)
{
    TempDir dir;
    const std::string file = dir.File(kSmsPartsFile);
    {
        SmsPartStore store(file);
        store.Load();
        EXPECT_EQ(store.Add(kAlarm, Part(3, "C")), SmsPartStore::Added::New);
        EXPECT_EQ(store.Add(kAlarm, Part(1, "A")), SmsPartStore::Added::New);
        EXPECT_EQ(store.Add(kBattery, Part(1, std::string("разряжен "_cp))), SmsPartStore::Added::New);
        EXPECT_EQ(store.Add(kBattery, Part(2, "")), SmsPartStore::Added::New); // an empty part is a part
        EXPECT_TRUE(store.Saved());
        EXPECT_TRUE(store.Complete(kBattery));
        EXPECT_TRUE(store.MarkJournalled(kBattery, 45000.6));
    }
    SmsPartStore again(file);
    again.Load();
    EXPECT_FALSE(again.Damaged());
    ASSERT_EQ(again.Waiting().size(), 1u);
    const auto& alarm = again.Waiting().at(kAlarm);
    ASSERT_EQ(alarm.size(), 2u);
    EXPECT_EQ(alarm.at(1).text, "A");
    EXPECT_EQ(alarm.at(3).timestamp, "24/05/01,10:00:03+12");
    EXPECT_FALSE(again.Complete(kAlarm));
    // The same part again, then a copy of a journalled part, then one its row lacked.
    EXPECT_EQ(again.Add(kAlarm, Part(3, "C")), SmsPartStore::Added::Duplicate);
    EXPECT_EQ(again.Add(kBattery, Part(2, "")), SmsPartStore::Added::Duplicate);
    EXPECT_EQ(again.Add(SmsSetId{kBattery.sender, 42, 3}, Part(3, "x")), SmsPartStore::Added::New)
        << "another total is another set";
    EXPECT_EQ(again.Add(kAlarm, Part(2, "B")), SmsPartStore::Added::New);
    EXPECT_TRUE(again.Complete(kAlarm));
    EXPECT_EQ(JoinParts(again.Waiting().at(kAlarm), 3), "ABC");
}

TEST(SmsParts, AJournalledSetTellsLatePartsFromCopiesForADay)
{
    SmsPartStore store; // in memory
    ASSERT_EQ(store.Add(kAlarm, Part(1, "A")), SmsPartStore::Added::New);
    ASSERT_EQ(store.Add(kAlarm, Part(3, "C")), SmsPartStore::Added::New);
    ASSERT_TRUE(store.MarkJournalled(kAlarm, 45000.0));
    EXPECT_TRUE(store.Waiting().empty());
    EXPECT_EQ(store.Add(kAlarm, Part(2, "B")), SmsPartStore::Added::SetJournalled);
    EXPECT_EQ(store.Add(kAlarm, Part(3, "C")), SmsPartStore::Added::Duplicate);
    store.Expire(45000.9);
    EXPECT_EQ(store.Add(kAlarm, Part(1, "A")), SmsPartStore::Added::Duplicate) << "still within the day";
    store.Expire(45001.1);
    EXPECT_EQ(store.Add(kAlarm, Part(1, "A")), SmsPartStore::Added::New) << "a reused reference starts anew";
}

TEST(SmsParts, AReusedReferenceFromAnotherSendingIsAnotherMessage)
{
    SmsPartStore store;
    SmsPart later = Part(1, "new");
    later.timestamp = "24/05/01,12:00:01+12"; // two hours after the waiting part 2
    ASSERT_EQ(store.Add(kAlarm, Part(2, "B")), SmsPartStore::Added::New);
    EXPECT_EQ(store.Add(kAlarm, later), SmsPartStore::Added::OtherSend);
    EXPECT_EQ(store.Waiting().at(kAlarm).size(), 1u) << "not kept with the other message's part";
    ASSERT_TRUE(store.MarkJournalled(kAlarm, 45000.5));
    EXPECT_EQ(store.Add(kAlarm, later), SmsPartStore::Added::New) << "the journalled set's name is free again";
    EXPECT_EQ(store.Add(kAlarm, Part(3, "late")), SmsPartStore::Added::OtherSend)
        << "nor is a part of the old sending taken into the new set";
}

TEST(SmsParts, SendingsAnHourApartAtMostAreOne)
{
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"24/05/01,10:00:00+12", "24/05/01,10:59:59+12", true},
        {"24/05/01,10:00:00+12", "24/05/01,11:00:01+12", false},
        {"24/05/01,23:30:00+12", "24/05/02,00:10:00+12", true},  // over midnight
        {"24/02/29,10:00:00+12", "24/03/01,10:00:00+12", false}, // a leap day between
        {"24/05/01,10:00:00+12", "24/05/01,08:30:00+08", true},  // half an hour apart: zones 3 h and 2 h
        {"24/05/01,10:00:00+12", "24/05/01,10:00:00-12", false}, // six hours apart
        {"24/05/01,10:00:00+12", "", true},                      // unknown: kept together
        {"garbage", "24/05/01,10:00:00+12", true},
        {"24/13/01,10:00:00+12", "24/05/01,10:00:00+12", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameSending(c.a, c.b), c.same) << c.a << " / " << c.b;
        EXPECT_EQ(SameSending(c.b, c.a), c.same) << c.b << " / " << c.a;
    }
}

struct DamageCase {
    const char* name;
    std::function<std::string(const std::string&)> damage;
    std::size_t partsLeft;
};

class SmsPartsDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(SmsPartsDamage, WhatIsWholeIsKeptAndTheFileSetAside)
{
    TempDir dir;
    const std::string file = dir.File(kSmsPartsFile);
    {
        SmsPartStore store(file);
        store.Add(kAlarm, Part(1, "first"));
        store.Add(kAlarm, Part(2, "second"));
        store.Add(kBattery, Part(1, "third"));
        ASSERT_TRUE(store.Saved());
    }
    const std::string bytes = ReadFileBytes(file);
    WriteFileBytes(file, GetParam().damage(bytes));
    SmsPartStore store(file);
    store.Load();
    EXPECT_TRUE(store.Damaged());
    EXPECT_EQ(PartsIn(store), GetParam().partsLeft);
    EXPECT_EQ(ReadFileBytes(file + ".damaged"), GetParam().damage(bytes)) << "the operator's file is kept";
    // The next change writes a whole file again.
    store.Add(kAlarm, Part(3, "x"));
    SmsPartStore after(file);
    after.Load();
    EXPECT_FALSE(after.Damaged());
    EXPECT_EQ(PartsIn(after), GetParam().partsLeft + 1);
}

std::string FlipByteOfLine(const std::string& bytes, int line)
{
    std::size_t at = 0;
    for (int i = 0; i < line; ++i)
        at = bytes.find('\n', at) + 1;
    std::string out = bytes;
    out[at + 4] ^= 0x01;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Files, SmsPartsDamage,
    ::testing::Values(
        DamageCase{"OneLineChanged", [](const std::string& b) { return FlipByteOfLine(b, 2); }, 2},
        DamageCase{"TornAtTheEnd", [](const std::string& b) { return b.substr(0, b.size() - 7); }, 2},
        DamageCase{"GarbageAppended", [](const std::string& b) { return b + "P 00 zz\n\x01\x02"; }, 3},
        DamageCase{"NotThisFile", [](const std::string& b) { return "t5" + b; }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SmsParts, AStoreThatCannotBeWrittenKeepsNothingNew)
{
    TempDir dir;
    SmsPartStore store(dir.File("missing-folder/" + std::string(kSmsPartsFile)));
    EXPECT_EQ(store.Add(kAlarm, Part(1, "A")), SmsPartStore::Added::New);
    EXPECT_FALSE(store.Saved());
    EXPECT_TRUE(store.Waiting().empty()) << "the part stays in the SIM, to be read again";
    EXPECT_EQ(store.Add(kAlarm, Part(1, "A")), SmsPartStore::Added::New) << "not taken for a copy";
}

TEST(SmsParts, IncompleteTextsNameThePartsTheyHave)
{
    std::map<unsigned, SmsPart> parts{{3, Part(3, "C")}, {1, Part(1, "A")}};
    EXPECT_EQ(JoinParts(parts, 3), "AC" + std::string(" (неполное сообщение: части 1, 3 из 3)"_cp));
    EXPECT_EQ(IncompleteNote({2}, 3), std::string(" (неполное сообщение: части 2 из 3)"_cp));
    parts.emplace(2, Part(2, "B"));
    EXPECT_EQ(JoinParts(parts, 3), "ABC");
    // The same parts give the same tag; another first part's time another.
    const std::string tag = SmsPartStore::TagOf(kAlarm, parts);
    EXPECT_EQ(tag, SmsPartStore::TagOf(kAlarm, parts));
    parts.at(1).timestamp = "24/06/01,10:00:00+12";
    EXPECT_NE(tag, SmsPartStore::TagOf(kAlarm, parts));
    EXPECT_NE(tag, SmsPartStore::TagOf(SmsSetId{kAlarm.sender, 300, 4}, parts));
}

} // namespace
} // namespace kv::test
