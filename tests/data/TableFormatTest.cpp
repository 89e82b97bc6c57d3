#include "data/AtomicFile.h"
#include "data/Extended80.h"
#include "data/MemTable.h"
#include "data/ObjectCards.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <random>
#include <set>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

using namespace kv::literals;

// Largest single allocation while a test watches, to prove that lengths in a
// hostile file are checked before memory is taken for them.
namespace {
bool g_watchAllocations = false;
std::size_t g_largestAllocation = 0;
} // namespace

void* operator new(std::size_t n)
{
    if (g_watchAllocations && n > g_largestAllocation)
        g_largestAllocation = n;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using kv::ETableFileError;
using kv::FieldDef;
using kv::FieldType;
using kv::MemTable;
using kv::TableFormat;

// File bytes written out by hand, item by item.
struct Bytes {
    std::string b;
    Bytes& Raw(std::initializer_list<int> v)
    {
        for (int x : v)
            b.push_back(static_cast<char>(x));
        return *this;
    }
    Bytes& Str(std::string_view s)
    {
        b.push_back(0x06);
        b.push_back(static_cast<char>(s.size()));
        b += s;
        return *this;
    }
    Bytes& Int(int v)
    {
        if (v >= -128 && v <= 127)
            return Raw({0x02, v & 0xFF});
        if (v >= -32768 && v <= 32767)
            return Raw({0x03, v & 0xFF, (v >> 8) & 0xFF});
        return Raw({0x04, v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, (v >> 24) & 0xFF});
    }
    Bytes& Bool(bool v) { return Raw({v ? 0x09 : 0x08}); }
    Bytes& Real(double v)
    {
        const kv::Extended80 e = kv::DoubleToExtended(v);
        b.push_back(0x05);
        b.append(reinterpret_cast<const char*>(e.data()), e.size());
        return *this;
    }
    // One field definition with the items a file of `format` has.
    Bytes& Def(int format, std::string_view name, std::string_view type, int size, int width)
    {
        Str(name).Str(type).Int(size).Str(name).Str("").Int(width).Bool(false).Bool(false);
        if (format >= 250)
            Str("Data");
        if (format >= 251)
            Str("");
        return *this;
    }
};

FieldDef F(const char* name, FieldType type, int size = 0)
{
    FieldDef d;
    d.name = name;
    d.type = type;
    d.size = size;
    return d;
}

std::string LoadError(MemTable& t, std::string_view bytes)
{
    try {
        TableFormat().LoadFromBytes(t, bytes);
    } catch (const ETableFileError& e) {
        return e.what();
    }
    return "loaded";
}

void AddEvent(MemTable& t, double time, std::string_view status, std::string_view tel, std::string_view event)
{
    t.First();
    t.Insert();
    t.FieldByName("EventTime").SetAsDateTime(time);
    t.FieldByName("Status").SetAsString(status);
    t.FieldByName("tel").SetAsString(tel);
    t.FieldByName("event").SetAsString(event);
    t.Post();
}

std::vector<std::string> AllText(const MemTable& t)
{
    std::vector<std::string> out;
    for (std::size_t r = 0; r < t.TotalRecordCount(); ++r)
        for (int f = 0; f < t.FieldCount(); ++f)
            out.push_back(t.IsNull(t.RecordAt(r), f) ? "<null>" : t.Text(t.RecordAt(r), f));
    return out;
}

TEST(TableFile, JournalIsWrittenByteForByte)
{
    MemTable t;
    kv::DefineJournal(t);
    AddEvent(t, 40179.5, "Тревога"_cp, "", "x");

    Bytes want;
    want.Raw({0x54, 0x50, 0x46, 0x30, 0x03, 0xFB, 0x00, 0x01});
    want.Raw({0x06, 0x09}).b += "EventTime";
    want.Raw({0x06, 0x08}).b += "DateTime";
    want.Raw({0x02, 0x00, 0x06, 0x09}).b += "EventTime";
    want.Raw({0x06, 0x00, 0x02, 0x0E, 0x08, 0x08, 0x06, 0x04}).b += "Data";
    want.Raw({0x06, 0x00});
    want.Raw({0x06, 0x06}).b += "Status";
    want.Raw({0x06, 0x06}).b += "String";
    want.Raw({0x03, 0xC8, 0x00, 0x06, 0x06}).b += "Status";
    want.Raw({0x06, 0x00, 0x02, 0x1E, 0x08, 0x08, 0x06, 0x04}).b += "Data";
    want.Raw({0x06, 0x00});
    want.Def(251, "tel", "String", 50, 29).Def(251, "event", "String", 200, 77);
    want.Def(251, "simplename", "String", 50, 50);
    want.Raw({0x00, 0x01, 0x00, 0x01});
    want.Raw({0x01, 0x02, 0x00, 0x08, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0xF3, 0x9C, 0x0E, 0x40});
    want.Raw({0x08}).Str("Тревога"_cp).Raw({0x08, 0x06, 0x00}).Raw({0x08}).Str("x").Raw({0x09, 0x00, 0x00});
    EXPECT_EQ(TableFormat().SaveToBytes(t), want.b);

    MemTable empty;
    kv::DefineJournal(empty);
    const std::string emptyBytes = TableFormat().SaveToBytes(empty);
    EXPECT_EQ(emptyBytes.substr(emptyBytes.size() - 5), std::string("\x00\x01\x00\x01\x00", 5))
        << "an empty table ends with empty index and record lists";
}

TEST(TableFile, EveryFieldKindSurvivesARoundTrip)
{
    MemTable t;
    t.SetFields({F("s", FieldType::String, 30), F("si", FieldType::SmallInt), F("i", FieldType::Integer),
                 F("w", FieldType::Word), F("b", FieldType::Boolean), F("f", FieldType::Float),
                 F("c", FieldType::Currency), F("bcd", FieldType::BCD), F("d", FieldType::Date),
                 F("t", FieldType::Time), F("dt", FieldType::DateTime), F("by", FieldType::Bytes, 8),
                 F("vb", FieldType::VarBytes, 8), F("ai", FieldType::AutoInc), F("bl", FieldType::Blob),
                 F("m", FieldType::Memo, 300), F("g", FieldType::Graphic), F("fm", FieldType::FmtMemo),
                 F("po", FieldType::ParadoxOle), F("do", FieldType::DBaseOle), F("tb", FieldType::TypedBinary),
                 F("fc", FieldType::FixedChar, 4), F("li", FieldType::LargeInt), F("adt", FieldType::ADT),
                 F("arr", FieldType::Array)});
    std::vector<FieldDef> defs = t.Fields();
    defs[0].displayLabel = "Подпись"_cp;
    defs[1].displayWidth = 3;
    defs[2].required = true;
    defs[3].readOnly = true;
    defs[4].editMask = "!9";
    defs[5].defaultExpression = "1.5";
    defs[6].kind = kv::FieldKind::InternalCalc;
    t.SetFields(defs);

    t.Append();
    t.FieldByName("s").SetAsString("текст"_cp);
    t.FieldByName("si").SetAsInteger(-300);
    t.FieldByName("i").SetAsInteger(std::numeric_limits<std::int32_t>::min());
    t.FieldByName("w").SetAsInteger(65535);
    t.FieldByName("b").SetAsBoolean(true);
    t.FieldByName("f").SetAsFloat(-1.0 / 3.0);
    t.FieldByName("c").SetAsFloat(12.34567);
    t.FieldByName("bcd").SetAsFloat(0.5);
    t.FieldByName("d").SetAsDateTime(40179);
    t.FieldByName("t").SetAsDateTime(0.25);
    t.FieldByName("dt").SetAsDateTime(45000.123456789);
    t.FieldByName("by").SetAsString(std::string("\x00\x01\xFF", 3));
    t.FieldByName("bl").SetAsString(std::string(70000, '\x07'));
    t.FieldByName("m").SetAsString(std::string(256, 'm'));
    t.FieldByName("fc").SetAsString("abcdef");
    t.FieldByName("li").SetAsFloat(9007199254740993.0);
    t.Post();
    t.Append(); // every value null
    t.Post();
    t.Append();
    t.FieldByName("b").SetAsBoolean(false);
    t.FieldByName("s").SetAsString("");
    t.Post();

    const std::string bytes = TableFormat().SaveToBytes(t);
    MemTable back;
    TableFormat().LoadFromBytes(back, bytes);
    ASSERT_EQ(back.FieldCount(), t.FieldCount());
    for (int f = 0; f < t.FieldCount(); ++f) {
        const FieldDef& a = t.Fields()[static_cast<std::size_t>(f)];
        const FieldDef& b = back.Fields()[static_cast<std::size_t>(f)];
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.type, b.type) << a.name;
        EXPECT_EQ(a.size, b.size) << a.name;
        EXPECT_EQ(a.DisplayName(), b.DisplayName()) << a.name;
        EXPECT_EQ(a.EffectiveDisplayWidth(), b.EffectiveDisplayWidth()) << a.name;
        EXPECT_EQ(a.required, b.required) << a.name;
        EXPECT_EQ(a.readOnly, b.readOnly) << a.name;
        EXPECT_EQ(a.editMask, b.editMask) << a.name;
        EXPECT_EQ(a.kind, b.kind) << a.name;
        EXPECT_EQ(a.defaultExpression, b.defaultExpression) << a.name;
    }
    EXPECT_EQ(AllText(back), AllText(t));
    EXPECT_EQ(back.Float(back.RecordAt(0), 5), -1.0 / 3.0) << "reals keep every bit of the double";
    EXPECT_EQ(back.Float(back.RecordAt(0), 6), 12.3457) << "currency keeps four decimals";
    EXPECT_EQ(back.Float(back.RecordAt(0), 10), 45000.123456789);
    EXPECT_EQ(back.Text(back.RecordAt(0), 21), "abcd");
    EXPECT_EQ(back.TextView(back.RecordAt(0), 11), std::string("\x00\x01\xFF", 3)) << "binary values keep zeros";
    EXPECT_EQ(TableFormat().SaveToBytes(back), bytes) << "a loaded table is written back unchanged";
}

TEST(TableFile, TextsUpTo255BytesTakeTheShortTag)
{
    MemTable t;
    t.SetFields({F("m", FieldType::Memo, 300)});
    for (std::size_t n : {255u, 256u}) {
        t.Append();
        t.FieldByName("m").SetAsString(std::string(n, 'a'));
        t.Post();
    }
    const std::string bytes = TableFormat().SaveToBytes(t);
    const std::string shortForm = std::string("\x08\x06\xFF", 3) + std::string(255, 'a') + '\0';
    const std::string longForm = std::string("\x08\x0C\x00\x01\x00\x00", 6) + std::string(256, 'a') + '\0';
    EXPECT_NE(bytes.find(shortForm), std::string::npos);
    EXPECT_NE(bytes.find(longForm), std::string::npos);
}

TEST(TableFile, OlderFormatsLoad)
{
    // The same two accounts in each format; parts of the layout appear by number.
    for (int format : {100, 200, 230, 249, 250, 251}) {
        SCOPED_TRACE(format);
        Bytes f;
        f.b = "TPF0";
        if (format != 100)
            f.Int(format);
        f.Raw({0x01}).Def(format, "k", "AutoInc", 0, 10).Def(format, "user", "String", 100, 100).Raw({0x00});
        if (format >= 200)
            f.Raw({0x01, 0x00});
        f.Raw({0x01});
        for (int k : {7, 3}) {
            if (format >= 230)
                f.Raw({0x01}).Int(0);
            if (format >= 249)
                f.Bool(false);
            f.Int(k);
            if (format >= 249)
                f.Bool(k == 3);
            if (format < 249 || k != 3)
                f.Str("user" + std::to_string(k));
            if (format >= 230)
                f.Raw({0x00});
        }
        f.Raw({0x00});

        MemTable t("SecurityTable");
        TableFormat().LoadFromBytes(t, f.b);
        ASSERT_EQ(t.FieldCount(), 2);
        EXPECT_EQ(t.Fields()[1].type, FieldType::String);
        EXPECT_EQ(t.Fields()[1].kind, kv::FieldKind::Data);
        ASSERT_EQ(t.RecordCount(), 2);
        EXPECT_EQ(t.TextAt(0, 1), "user7");
        EXPECT_EQ(t.IsNullAt(1, 1), format >= 249);
        EXPECT_EQ(t.NextAutoIncValue(), 8);
    }
}

TEST(TableFile, LoadReplacesColumnsWithTheFilesAndContinuesKeys)
{
    // A journal written with an extra column and without `simplename`.
    MemTable other;
    other.SetFields({F("EventTime", FieldType::DateTime), F("Status", FieldType::String, 200),
                     F("extra", FieldType::Integer)});
    other.Append();
    other.FieldByName("extra").SetAsInteger(5);
    other.FieldByName("EventTime").SetAsDateTime(0); // 1899-12-30 00:00 reads back as null
    other.Post();
    MemTable journal;
    kv::DefineJournal(journal);
    AddEvent(journal, 45000, "a", "b", "c");
    TableFormat().LoadFromBytes(journal, TableFormat().SaveToBytes(other));
    EXPECT_EQ(journal.FindField("simplename"), -1);
    EXPECT_EQ(journal.FindField("extra"), 2);
    ASSERT_EQ(journal.RecordCount(), 1);
    EXPECT_EQ(journal.IntegerAt(0, 2), 5);
    EXPECT_TRUE(journal.IsNullAt(0, 0));

    MemTable devices;
    kv::DefineDeviceTable(devices);
    EXPECT_EQ(devices.NextAutoIncValue(), 0);
    Bytes f;
    f.b = "TPF0";
    f.Int(251).Raw({0x01}).Def(251, "k1", "AutoInc", 0, 10).Raw({0x00, 0x01, 0x00, 0x01});
    for (int k : {5, 41, 3})
        f.Raw({0x01}).Int(0).Bool(false).Int(k).Raw({0x00});
    f.Raw({0x00});
    TableFormat().LoadFromBytes(devices, f.b);
    EXPECT_EQ(devices.NextAutoIncValue(), 42);
    devices.Append();
    devices.Post();
    EXPECT_EQ(devices.IntegerAt(3, 0), 42);

    // An empty definition list keeps the table's own columns.
    Bytes g;
    g.b = "TPF0";
    g.Int(251).Raw({0x01, 0x00, 0x01, 0x00, 0x01, 0x01}).Int(0).Bool(false).Int(9).Raw({0x00, 0x00});
    TableFormat().LoadFromBytes(devices, g.b);
    ASSERT_EQ(devices.RecordCount(), 1);
    EXPECT_EQ(devices.IntegerAt(0, 0), 9);
}

TEST(TableFile, EachFailureHasItsMessage)
{
    kv::test::TempDir dir;
    MemTable t;
    EXPECT_EQ(LoadError(t, ""), "Stream read error");
    EXPECT_EQ(LoadError(t, "TPF"), "Stream read error");
    EXPECT_EQ(LoadError(t, "TPF1\x01\x00"), "Invalid stream format");
    EXPECT_EQ(LoadError(t, std::string("TPF0\x05", 5)), "Invalid property value") << "format number not an integer";
    EXPECT_EQ(LoadError(t, std::string("TPF0\x03\xFB\x00\x02", 8)), "Invalid property value");

    Bytes unknown;
    unknown.b = "TPF0";
    unknown.Int(251).Raw({0x01}).Def(251, "w", "WideString", 10, 10).Raw({0x00});
    EXPECT_EQ(LoadError(t, unknown.b), "Unknown field type (WideString)");
    Bytes made;
    made.b = "TPF0";
    made.Int(251).Raw({0x01}).Def(251, "w", "Nonsense", 10, 10).Raw({0x00});
    EXPECT_EQ(LoadError(t, made.b), "Unknown field type (Nonsense)");

    MemTable bare;
    EXPECT_EQ(LoadError(bare, std::string("TPF0\x03\xFB\x00\x01\x00\x01\x00\x01\x00", 13)),
              "Couldnt determine field count for load.");

    auto fileError = [](auto&& f) -> std::string {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no error";
    };
    TableFormat format;
    EXPECT_EQ(fileError([&] { format.Load(t, "missing.bin"); }), "Cannot open file missing.bin");
    std::filesystem::create_directory("folder.bin");
    EXPECT_EQ(fileError([&] { format.Load(t, "folder.bin"); }), "Cannot open file folder.bin");
    EXPECT_EQ(fileError([&] { format.Save(t, "no/such/dir/t3.bin"); }), "Cannot create file no/such/dir/t3.bin");
    EXPECT_EQ(fileError([&] { format.Save(t, "folder.bin"); }), "Cannot create file folder.bin");
    EXPECT_EQ(fileError([&] { t.LoadFromFile("t3.bin"); }), "No format specified.");
    EXPECT_EQ(fileError([&] { t.SaveToFile("t3.bin"); }), "No format specified.");
}

std::string EndlessDefinitions()
{
    Bytes f;
    f.b = "TPF0";
    f.Int(251).Raw({0x01});
    for (int i = 0; i < 200; ++i)
        f.Def(251, "f" + std::to_string(i), "Integer", 0, 10);
    return f.b;
}

TEST(TableFile, HostileFilesEndInAMessageWithoutLargeAllocations)
{
    MemTable t;
    kv::DefineJournal(t);
    const std::string header = TableFormat().SaveToBytes(t).substr(0, TableFormat().SaveToBytes(t).size() - 1);

    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
    };
    const std::string record = std::string("\x01\x02\x00\x09\x09\x09\x09\x09", 8);
    const Case cases[] = {
        {"4 GB text length", header + std::string("\x01\x02\x00\x09\x08\x0C\xFF\xFF\xFF\xFF", 10) + "abc",
         "Stream read error"},
        {"2 GB name length", std::string("TPF0\x03\xFB\x00\x01\x0C\xFF\xFF\xFF\x7F", 13), "Stream read error"},
        {"255-byte text cut short", header + std::string("\x01\x02\x00\x09\x08\x06\xFF", 7) + "abc",
         "Stream read error"},
        {"list that never ends", header + record + std::string("\x00", 1) + record + "\x00", "Stream read error"},
        {"more values than fields", header + record + std::string("\x08\x06\x00\x00\x00", 5),
         "Invalid property value"},
        {"a real cut short", header + std::string("\x01\x02\x00\x08\x05\x00\x00", 7), "Stream read error"},
        {"text where a date is due", header + std::string("\x01\x02\x00\x08\x06\x00", 6), "Invalid property value"},
        {"definition list never ends", EndlessDefinitions(), "Stream read error"},
    };
    for (const Case& c : cases) {
        MemTable target;
        g_largestAllocation = 0;
        g_watchAllocations = true;
        const std::string error = LoadError(target, c.bytes);
        g_watchAllocations = false;
        EXPECT_EQ(error, c.message) << c.what;
        // Lengths are checked before memory is taken for them; what grows with
        // the items really present stays in proportion to the file.
        EXPECT_LE(g_largestAllocation, std::max<std::size_t>(16 * c.bytes.size(), TableFormat::kMinBufferSize))
            << c.what;
    }
}

// A file whose fields hold no values (calculated ones) and records of four
// bytes each: `calculated` date fields, `records` records, one Integer data
// field when `withData` (null in every record).
std::string CalculatedFieldsFile(int calculated, int records, bool withData)
{
    Bytes f;
    f.b = "TPF0";
    f.Int(251).Raw({0x01});
    if (withData)
        f.Def(251, "k", "Integer", 0, 10);
    for (int i = 0; i < calculated; ++i)
        f.Str("c" + std::to_string(i)).Str("DateTime").Int(0).Str("").Str("").Int(18).Bool(false).Bool(false)
            .Str("Calculated").Str("");
    f.Raw({0x00, 0x01, 0x00, 0x01});
    for (int r = 0; r < records; ++r) {
        f.Raw({0x01, 0x02, 0x00});
        if (withData)
            f.Bool(true);
        f.Raw({0x00});
    }
    f.Raw({0x00});
    return f.b;
}

TEST(TableFile, FieldsWithoutValuesCannotMakeRecordsOutgrowTheFile)
{
    // 2000 fields of 16000 bytes per record, from four bytes each: refused at the
    // first record instead of taking 160 MB for a file of 110 KB.
    MemTable t;
    EXPECT_EQ(LoadError(t, CalculatedFieldsFile(2000, 10000, true)), "Invalid property value");
    EXPECT_EQ(t.FieldCount(), 2001);
    EXPECT_EQ(t.TotalRecordCount(), 0u);

    // A few such fields beside data fields cost little and still load.
    MemTable few;
    ASSERT_EQ(LoadError(few, CalculatedFieldsFile(3, 50, true)), "loaded");
    EXPECT_EQ(few.TotalRecordCount(), 50u);
    MemTable none;
    ASSERT_EQ(LoadError(none, CalculatedFieldsFile(3, 50, false)), "loaded");
    EXPECT_EQ(none.TotalRecordCount(), 50u);
}

TEST(TableFile, EveryPrefixOfAJournalFailsCleanlyKeepingTheRecordsRead)
{
    MemTable t;
    kv::DefineJournal(t);
    for (int i = 0; i < 12; ++i)
        AddEvent(t, 45000 + i, "Норма"_cp, "+7900" + std::to_string(i), std::string(static_cast<std::size_t>(i * 25), 'e'));
    const std::string bytes = TableFormat().SaveToBytes(t);
    const std::vector<std::string> full = AllText(t);

    for (std::size_t n = 0; n < bytes.size(); ++n) {
        MemTable part;
        ASSERT_EQ(LoadError(part, std::string_view(bytes).substr(0, n)), "Stream read error") << n;
        const std::vector<std::string> got = AllText(part);
        ASSERT_LE(got.size(), full.size());
        ASSERT_TRUE(std::equal(got.begin(), got.end(), full.begin())) << n;
    }
    MemTable whole;
    TableFormat().LoadFromBytes(whole, bytes);
    EXPECT_EQ(AllText(whole), full);
}

TEST(TableFile, DamagedBytesNeverCrashTheLoader)
{
    MemTable t;
    kv::DefineDescriptionTable(t);
    for (int i = 0; i < 10; ++i) {
        t.Append();
        t.FieldByName("k1").SetAsInteger(i * 1000);
        t.FieldByName("simcard").SetAsString("+7" + std::to_string(i));
        t.FieldByName("devicedescription").SetAsString(std::string(static_cast<std::size_t>(i * 60), 'x'));
        t.FieldByName("dialenable").SetAsBoolean(i % 2);
        t.Post();
    }
    const std::string bytes = TableFormat().SaveToBytes(t);
    std::mt19937 random(12345);
    const std::set<std::string> messages = {"loaded", "Stream read error", "Invalid property value",
                                            "Invalid stream format", "Couldnt determine field count for load."};
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = bytes;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i)
            damaged[random() % damaged.size()] = static_cast<char>(random());
        MemTable target;
        const std::string error = LoadError(target, damaged);
        if (!messages.count(error)) {
            ASSERT_EQ(error.rfind("Unknown field type (", 0), 0u) << error;
        }
        // Whatever was loaded can be walked and written again.
        for (target.First(); !target.Eof(); target.Next())
            for (int f = 0; f < target.FieldCount(); ++f)
                (void)target.FieldAt(f).AsString();
        (void)TableFormat().SaveToBytes(target);
    }
}

TEST(TableFile, FilesRoundTripAcrossBufferBoundaries)
{
    kv::test::TempDir dir;
    MemTable t;
    kv::DefineJournal(t);
    for (int i = 0; i < 400; ++i)
        AddEvent(t, 45000 + i / 7.0, "Тревога"_cp, "+79001234567", std::string(150, static_cast<char>('a' + i % 26)));
    TableFormat format;
    format.SetBufferSize(100); // raised to the minimum
    EXPECT_EQ(format.BufferSize(), 16384u);
    format.Save(t, "t3.bin");
    const std::string bytes = kv::test::ReadFileBytes("t3.bin");
    ASSERT_GT(bytes.size(), 3 * 16384u);
    EXPECT_EQ(bytes, format.SaveToBytes(t));

    MemTable back;
    format.Load(back, "t3.bin");
    EXPECT_EQ(AllText(back), AllText(t));

    for (std::size_t n : {16383u, 16384u, 16385u, 32768u, 40000u}) {
        kv::test::WriteFileBytes("cut.bin", bytes.substr(0, n));
        MemTable part;
        try {
            format.Load(part, "cut.bin");
            ADD_FAILURE() << "a cut file loaded";
        } catch (const ETableFileError& e) {
            EXPECT_STREQ(e.what(), "Stream read error");
        }
        EXPECT_GT(part.RecordCount(), 0);
    }
}

// A file's bytes are the table's however the system treats text: line feeds,
// carriage returns and ^Z inside texts and numbers, and a save over an
// existing file replaces it whole.
TEST(TableFile, SavesOverAnExistingFileAreTheTablesBytesExactly)
{
    kv::test::TempDir dir;
    const std::string texts[] = {"a\nb", "\r\n", "\x1A\x1Az", "\n\n\n\x1A", ""};
    MemTable t;
    kv::DefineJournal(t);
    std::string previous;
    for (const std::string& text : texts) {
        SCOPED_TRACE(::testing::PrintToString(text));
        AddEvent(t, 45000 + 10.0 / 86400.0, text, "\x1A", text + "\n");
        TableFormat().Save(t, "t3.bin");
        const std::string bytes = kv::test::ReadFileBytes("t3.bin");
        EXPECT_EQ(bytes, TableFormat().SaveToBytes(t));
        EXPECT_NE(bytes, previous) << "the save replaced the file";
        previous = bytes;
        MemTable back;
        TableFormat().Load(back, "t3.bin");
        EXPECT_EQ(back.RecordCount(), t.RecordCount());
        bool found = false;
        for (back.First(); !back.Eof(); back.Next())
            found = found || back.FieldByName("Status").AsString() == text;
        EXPECT_TRUE(found);
    }
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"t3.bin"}) << "no temporary file is left behind";
}

// Folder names split on either separator, so a path written on Windows means
// the same folder here, and one written here the same there.
TEST(AtomicFile, FolderOfSplitsOnEitherSeparator)
{
    const std::pair<const char*, const char*> cases[] = {
        {"t1.bin", "."},
        {"data/t1.bin", "data"},
        {"data\\t1.bin", "data"},
        {"/var/lib/korvalen/t1.bin", "/var/lib/korvalen"},
        {"C:\\Korvalen\\Base\\t1.bin", "C:\\Korvalen\\Base"},
        {"C:\\Korvalen/Base\\t1.bin", "C:\\Korvalen/Base"},
        {"C:\\t1.bin", "C:\\"},
        {"C:/t1.bin", "C:/"},
        {"/t1.bin", "/"},
        {"\\t1.bin", "\\"},
        {"\\\\server\\share\\t1.bin", "\\\\server\\share"},
        {"data/", "data"},
    };
    for (const auto& [path, folder] : cases)
        EXPECT_EQ(kv::FolderOf(path), folder) << path;
}

#ifndef _WIN32
TEST(TableFile, FailedSaveKeepsTheOldFile)
{
    kv::test::TempDir dir;
    MemTable small;
    kv::DefineJournal(small);
    AddEvent(small, 45000, "a", "b", "c");
    TableFormat format;
    format.Save(small, "t3.bin");
    const std::string before = kv::test::ReadFileBytes("t3.bin");

    MemTable big;
    kv::DefineJournal(big);
    for (int i = 0; i < 500; ++i)
        AddEvent(big, 45000, "a", "b", std::string(200, 'x'));

    // A file size limit makes the writes fail part way, as a full disk would.
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = old;
    limit.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    std::string error;
    try {
        format.Save(big, "t3.bin");
    } catch (const ETableFileError& e) {
        error = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(error, "Stream write error");
    EXPECT_EQ(kv::test::ReadFileBytes("t3.bin"), before);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"t3.bin"}) << "no temporary file is left behind";
}

TEST(TableFile, SaveThroughALinkReplacesTheLinkedFile)
{
    kv::test::TempDir dir;
    std::filesystem::create_directory("real");
    kv::test::WriteFileBytes("real/t4.bin", "old");
    std::filesystem::create_symlink("real/t4.bin", "t4.bin");
    MemTable t;
    kv::DefineSecurityTable(t);
    TableFormat().Save(t, "t4.bin");
    EXPECT_TRUE(std::filesystem::is_symlink("t4.bin"));
    EXPECT_EQ(kv::test::ReadFileBytes("real/t4.bin"), TableFormat().SaveToBytes(t));
}
#endif

TEST(TableFile, MasterDetailSaveWritesEveryDevicesRows)
{
    MemTable devices;
    MemTable descriptions;
    kv::DefineDeviceTable(devices);
    kv::DefineDescriptionTable(descriptions);
    descriptions.SetMaster(&devices, "k1", "k1");
    for (int i = 0; i < 3; ++i) {
        devices.Append();
        devices.Post();
        descriptions.Append();
        descriptions.Post();
    }
    MemTable back;
    TableFormat().LoadFromBytes(back, TableFormat().SaveToBytes(descriptions));
    EXPECT_EQ(back.RecordCount(), 3);

    TableFormat current;
    current.SetOptions(kv::kAllTableFormatOptions & ~kv::sfSaveIgnoreMasterDetail);
    TableFormat().LoadFromBytes(back, current.SaveToBytes(descriptions));
    EXPECT_EQ(back.RecordCount(), 1);
}

TEST(Extended80, MatchesTheX87BitPatternBothWays)
{
    // The worked example and a few exact values.
    const kv::Extended80 e = kv::DoubleToExtended(40179.5);
    EXPECT_EQ(e, (kv::Extended80{0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0xF3, 0x9C, 0x0E, 0x40}));
    EXPECT_EQ(kv::ExtendedToDouble(e), 40179.5);
    EXPECT_EQ(kv::DoubleToExtended(0.0), kv::Extended80{});
    EXPECT_EQ(kv::DoubleToExtended(-1.0), (kv::Extended80{0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xBF}));

#if defined(__x86_64__) || defined(__i386__)
    std::mt19937_64 random(2024);
    auto viaLongDouble = [](double d) {
        const long double ld = d;
        kv::Extended80 out{};
        std::memcpy(out.data(), &ld, out.size());
        return out;
    };
    std::vector<double> values = {std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(), -0.0, 1e-310, 45000.999999};
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isnan(d))
            values.push_back(d);
    }
    for (double d : values) {
        ASSERT_EQ(kv::DoubleToExtended(d), viaLongDouble(d)) << d;
        const double back = kv::ExtendedToDouble(kv::DoubleToExtended(d));
        ASSERT_EQ(std::memcmp(&back, &d, sizeof d), 0) << d;
    }
    // Extended values that a double cannot hold exactly round as the FPU does,
    // including into and out of the double's subnormal range.
    for (int i = 0; i < 200000; ++i) {
        kv::Extended80 x{};
        const std::uint64_t mantissa = random() | (std::uint64_t{1} << 63);
        const int exponent = 16383 - 1100 + static_cast<int>(random() % 2200);
        std::memcpy(x.data(), &mantissa, 8);
        const std::uint16_t top = static_cast<std::uint16_t>(exponent | ((random() & 1) << 15));
        std::memcpy(x.data() + 8, &top, 2);
        long double ld;
        std::memset(&ld, 0, sizeof ld);
        std::memcpy(&ld, x.data(), x.size());
        const double want = static_cast<double>(ld);
        const double got = kv::ExtendedToDouble(x);
        ASSERT_EQ(std::memcmp(&want, &got, sizeof got), 0) << i;
    }
    kv::Extended80 nan{0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F};
    EXPECT_TRUE(std::isnan(kv::ExtendedToDouble(nan)));
#endif
}

// The object cards beside the register: kept in the station's own table
// format, read back as written, cut rather than refused, and a damaged file
// set aside without taking the other's data with it.
TEST(ObjectCards, KeepInstructionsAndContactsPerNumberAndSurviveBadFiles)
{
    kv::test::TempDir dir;
    kv::ObjectCards cards;
    std::string problem;
    EXPECT_TRUE(cards.Load(problem)) << "no files yet: empty, not damaged";
    EXPECT_TRUE(cards.Of("+79001").Empty());

    const std::string longText(kv::ObjectCards::kInstructionsLimit + 500, 'x');
    const kv::ObjectCard store{std::string("Позвонить владельцу.\r\nПри пожаре: 01."_cp),
                               {{std::string("Иванов И."_cp), std::string("владелец"_cp), "+79001112233", ""},
                                {std::string("Петров"_cp), std::string("ключи"_cp), "", std::string("без телефона"_cp)},
                                {"", "", "", ""}}};
    cards.Set("+79001", store);
    cards.Set("+79002", {longText, {}});
    cards.Set("", store); // no number, no card
    std::string error;
    ASSERT_TRUE(cards.Save(error)) << error;

    kv::ObjectCards again;
    ASSERT_TRUE(again.Load(problem)) << problem;
    kv::ObjectCard expected = store;
    expected.contacts.pop_back(); // the empty contact is no contact
    EXPECT_EQ(again.Of("+79001"), expected);
    EXPECT_EQ(again.Of("+79002").instructions.size(), kv::ObjectCards::kInstructionsLimit) << "cut, not refused";
    EXPECT_TRUE(again.Of("").Empty());
    again.Set("+79001", {});
    EXPECT_TRUE(again.Of("+79001").Empty()) << "an empty card removes the object's rows";
    EXPECT_EQ(again.Of("+79002").instructions.size(), kv::ObjectCards::kInstructionsLimit);

    // The files are tables of the station's format, as any reader of it sees them.
    kv::MemTable contacts;
    kv::TableFormat().Load(contacts, kv::ObjectCards::kContactsFile);
    EXPECT_EQ(contacts.RecordCount(), 2);
    EXPECT_EQ(contacts.TextAt(1, contacts.FindField("note")), std::string("без телефона"_cp));

    // A damaged contacts file is set aside; the instructions still read.
    kv::test::WriteFileBytes(kv::ObjectCards::kContactsFile, "not a table");
    kv::ObjectCards damaged;
    problem.clear();
    EXPECT_FALSE(damaged.Load(problem));
    EXPECT_NE(problem.find(kv::ObjectCards::kContactsFile), std::string::npos) << problem;
    EXPECT_TRUE(std::filesystem::exists(std::string(kv::ObjectCards::kContactsFile) + ".damaged"));
    EXPECT_EQ(damaged.Of("+79001").instructions, store.instructions);
    EXPECT_TRUE(damaged.Of("+79001").contacts.empty());
}

} // namespace

